// server/files.h — the files folder (--files): served under /tarnhold/, its map archives listed.
//
// Only regular files strictly inside the folder are served: no symbolic link is followed at
// any depth, no name starts with a dot, and the path is walked one directory at a time from
// the folder's own descriptor, so nothing outside it can be reached whatever the path says.
#pragma once

#include "server/http_server.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace server {

// The file `relative` ("map/desert.exe", already %-decoded) of `root`, or 404.
Response ServeFile(const std::filesystem::path& root, std::string_view relative);

// The map names offered for download: the regular files map/<name>.exe of `root` whose names
// are in lower case (the client asks for the lower case of the name it lists), sorted.
std::vector<std::string> MapArchives(const std::filesystem::path& root);

} // namespace server
