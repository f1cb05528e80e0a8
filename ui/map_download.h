// ui/map_download.h — the "DOWNLOAD MAP" window: the maps the web server offers, the maps
// installed, and the download of one map archive.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

inline constexpr const char* kMapDownloadScreen = "map_download";
inline constexpr const char* kTextSelectMap = "Select a Map to Download please !!";

// Opens the window modally at the next pass of the event pump and returns at once, so a
// screen may call it from its Draw(); the screens under it are disabled until it closes.
void OpenMapDownload();

// The map definition files of the folders `mapDirs` (core::MapFolders: the player's own, then
// the installation's): regular files whose name ends in ".map" (any case), sorted by name
// whatever the case. A name found in several folders (whatever the case) is listed once, as
// the first folder has it, since that is the map the game loads. Missing folders hold none.
std::vector<std::string> MapFileNames(const std::vector<std::filesystem::path>& mapDirs);

// The installed-maps list: each map file's name without its last four characters, in upper
// case ("a.b.map" is "A.B").
std::vector<std::string> InstalledMaps(const std::vector<std::filesystem::path>& mapDirs);

} // namespace ui
