// platform/archive/archive.h — unpacking zip archives into a folder.
//
// Reads zip files, including self-extracting zips (a program stub in front of the zip data,
// as release ".exe" files are). Archives are untrusted: before anything is written, every
// entry is checked, and one unsafe entry refuses the whole archive with an error naming it:
//   - absolute paths ("/x", "\x", "C:x"), ".." components;
//   - symbolic links that are absolute or point outside the folder, and hard links outside it;
//   - devices, pipes and other special files;
//   - more entries or more bytes than the limits.
// While writing, nothing is written through a symbolic link found on disk. A failure while
// writing (disk full, a data error in the archive) stops the extraction; files already
// written stay in place and the error says which entry failed. Regular files get mode 0644
// (0755 when the archive marks them executable), folders 0755.
// The namespace is `archives`: libarchive's C API owns the global name `archive`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace archives {

// Where an extraction is; reported after each entry and while large entries are written.
struct Progress {
    std::size_t entriesDone = 0;
    std::size_t entriesTotal = 0;
    std::uint64_t bytesDone = 0;  // uncompressed bytes written so far
    std::uint64_t bytesTotal = 0; // uncompressed bytes the archive announces
};

using ProgressCallback = std::function<void(const Progress&)>;

struct ExtractOptions {
    std::size_t maxEntries = 100'000;
    std::uint64_t maxTotalBytes = 4ull * 1024 * 1024 * 1024; // written bytes, all entries
    ProgressCallback progress;                               // may be empty
};

// The outcome of an extraction. On success `entries` lists the paths written, relative to the
// folder, with '/' separators, in archive order (folders end in '/').
struct ExtractResult {
    bool ok = false;
    std::string error; // one line naming the archive entry at fault when there is one
    std::vector<std::string> entries;
};

// Unpacks the zip `archiveFile` into `folder` (created when missing). Existing files of the
// same names are replaced. Never throws for bad archives or file-system failures.
ExtractResult ExtractZip(const std::filesystem::path& archiveFile,
                         const std::filesystem::path& folder, const ExtractOptions& options = {});

// The safe relative form of an archive entry name ('\' read as '/', "." and empty parts
// dropped), or "" when the name is absolute, has a ".." part, or names nothing.
std::string SafeEntryPath(std::string_view name);

} // namespace archives
