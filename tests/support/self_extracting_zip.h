// tests/support/self_extracting_zip.h — a map or release archive as the web server offers it:
// a program stub followed by a zip of the given files, built in memory with libarchive.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// `files`: (path inside the archive, contents).
inline std::string
SelfExtractingZip(const std::vector<std::pair<std::string, std::string>>& files) {
    size_t room = 1 << 16; // headers and directory, beyond the data itself
    for (const auto& file : files)
        room += file.first.size() * 2 + file.second.size();
    std::vector<char> buffer(room);
    size_t used = 0;
    struct archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    archive_write_open_memory(zip, buffer.data(), buffer.size(), &used);
    for (const auto& [name, data] : files) {
        struct archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, la_int64_t(data.size()));
        archive_write_header(zip, entry);
        archive_write_data(zip, data.data(), data.size());
        archive_entry_free(entry);
    }
    archive_write_close(zip);
    archive_write_free(zip);
    return std::string("MZ program stub\n") + std::string(buffer.data(), used);
}

} // namespace testsupport
