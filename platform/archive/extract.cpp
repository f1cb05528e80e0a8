// platform/archive/extract.cpp — zip extraction with libarchive: check every entry, then write.
//
// Index
//   1. Entry names and link targets
//   2. Reading: open a (self-extracting) zip, plan the extraction
//   3. Writing the planned entries
#include "platform/archive/archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <sys/stat.h>

namespace archives {

// ---------------------------------------------------------------------------------------------
// 1. Entry names and link targets
// ---------------------------------------------------------------------------------------------

namespace {

// Splits `name` on '/' and '\' into its non-empty parts other than ".".
std::vector<std::string_view> PathParts(std::string_view name) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

bool LooksAbsolute(std::string_view name) {
    if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return true;
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// A symbolic link at `entryPath` pointing to `target` stays inside the folder when the target
// is relative and, read from the link's own folder, never climbs above the folder.
bool LinkStaysInside(std::string_view entryPath, std::string_view target) {
    if (target.empty() || LooksAbsolute(target)) return false;
    long depth = static_cast<long>(PathParts(entryPath).size()) - 1; // the link's folder
    for (const std::string_view part : PathParts(target)) {
        depth += part == ".." ? -1 : 1;
        if (depth < 0) return false;
    }
    return true;
}

} // namespace

std::string SafeEntryPath(std::string_view name) {
    if (LooksAbsolute(name)) return "";
    std::string path;
    for (const std::string_view part : PathParts(name)) {
        if (part == "..") return "";
        if (!path.empty()) path += '/';
        path += part;
    }
    return path;
}

// ---------------------------------------------------------------------------------------------
// 2. Reading
// ---------------------------------------------------------------------------------------------

namespace {

struct ReaderDeleter {
    void operator()(struct archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(struct archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<struct archive, ReaderDeleter>;
using Writer = std::unique_ptr<struct archive, WriterDeleter>;

std::string LibError(struct archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

// Opens `file` with the seekable zip reader, which finds the zip data behind a stub.
Reader OpenZip(const std::filesystem::path& file, std::string& error) {
    Reader reader(archive_read_new());
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), file.c_str(), 64 * 1024) != ARCHIVE_OK) {
        error = "cannot read \"" + file.string() + "\" as a zip archive: " + LibError(reader.get());
        return nullptr;
    }
    return reader;
}

// The name libarchive gives an entry, as raw bytes.
std::string EntryName(struct archive_entry* entry) {
    if (const char* name = archive_entry_pathname(entry)) return name;
    if (const char* name = archive_entry_pathname_utf8(entry)) return name;
    return "";
}

// One entry to write, decided before anything is written.
struct PlannedEntry {
    std::string path; // safe relative path
    bool directory = false;
};

struct Plan {
    std::vector<PlannedEntry> entries;
    std::uint64_t totalBytes = 0;
};

// Checks one entry; returns "" when it is safe, else why it is refused.
std::string CheckEntry(struct archive_entry* entry, const std::string& path) {
    const mode_t type = archive_entry_filetype(entry);
    if (path.empty()) return "its path is absolute or leaves the folder";
    if (const char* hardlink = archive_entry_hardlink(entry))
        if (SafeEntryPath(hardlink).empty()) return "it is a hard link out of the folder";
    if (type == AE_IFLNK) {
        const char* target = archive_entry_symlink(entry);
        if (!target || !LinkStaysInside(path, target))
            return "it is a symbolic link out of the folder";
        return "";
    }
    if (type != AE_IFREG && type != AE_IFDIR) return "it is not a file or a folder";
    return "";
}

// Reads every header, checks it and lists what will be written.
bool PlanExtraction(const std::filesystem::path& file, const ExtractOptions& options, Plan& plan,
                    std::string& error) {
    Reader reader = OpenZip(file, error);
    if (!reader) return false;
    struct archive_entry* entry = nullptr;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) return true;
        if (status < ARCHIVE_WARN) {
            error = "cannot read the entry list of \"" + file.string() +
                    "\": " + LibError(reader.get());
            return false;
        }
        const std::string name = EntryName(entry);
        const std::string path = SafeEntryPath(name);
        if (const std::string why = CheckEntry(entry, path); !why.empty()) {
            error = "refused archive entry \"" + name + "\": " + why;
            return false;
        }
        if (plan.entries.size() >= options.maxEntries) {
            error = "\"" + file.string() + "\" has more than " +
                    std::to_string(options.maxEntries) + " entries";
            return false;
        }
        const bool directory = archive_entry_filetype(entry) == AE_IFDIR;
        plan.entries.push_back({path, directory});
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
            plan.totalBytes += static_cast<std::uint64_t>(archive_entry_size(entry));
    }
}

// ---------------------------------------------------------------------------------------------
// 3. Writing
// ---------------------------------------------------------------------------------------------

constexpr int kDiskFlags = ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT;

// Copies the current entry's data to the disk writer, counting bytes against the limit.
bool CopyData(struct archive* reader, struct archive* writer, const ExtractOptions& options,
              Progress& progress, std::string& why) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    std::uint64_t sinceReport = 0;
    for (;;) {
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return true;
        if (status < ARCHIVE_WARN) {
            why = LibError(reader);
            return false;
        }
        progress.bytesDone += size;
        if (progress.bytesDone > options.maxTotalBytes) {
            why = "the archive unpacks to more than " + std::to_string(options.maxTotalBytes) +
                  " bytes";
            return false;
        }
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN) {
            why = LibError(writer);
            return false;
        }
        sinceReport += size;
        if (options.progress && sinceReport >= 1024 * 1024) {
            sinceReport = 0;
            options.progress(progress);
        }
    }
}

} // namespace

ExtractResult ExtractZip(const std::filesystem::path& archiveFile,
                         const std::filesystem::path& folder, const ExtractOptions& options) {
    ExtractResult result;
    Plan plan;
    if (!PlanExtraction(archiveFile, options, plan, result.error)) return result;

    // Write below the folder's real path, so that the symbolic-link guard only judges what
    // lies inside the folder.
    std::error_code fsError;
    std::filesystem::create_directories(folder, fsError);
    const std::filesystem::path root = std::filesystem::canonical(folder, fsError);
    if (fsError) {
        result.error = "cannot create the folder \"" + folder.string() + "\": " + fsError.message();
        return result;
    }

    Reader reader = OpenZip(archiveFile, result.error);
    if (!reader) return result;
    Writer writer(archive_write_disk_new());
    archive_write_disk_set_options(writer.get(), kDiskFlags);

    Progress progress;
    progress.entriesTotal = plan.entries.size();
    progress.bytesTotal = plan.totalBytes;
    if (options.progress) options.progress(progress);
    struct archive_entry* entry = nullptr;
    for (const PlannedEntry& planned : plan.entries) {
        if (archive_read_next_header(reader.get(), &entry) < ARCHIVE_WARN ||
            SafeEntryPath(EntryName(entry)) != planned.path) {
            result.error = "\"" + archiveFile.string() + "\" changed while it was unpacked";
            return result;
        }
        const std::string name = EntryName(entry);
        const std::string target = (root / planned.path).string();
        archive_entry_set_pathname(entry, target.c_str());
        if (const char* hardlink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, (root / SafeEntryPath(hardlink)).c_str());
        if (planned.directory)
            archive_entry_set_perm(entry, 0755);
        else if (archive_entry_filetype(entry) == AE_IFREG)
            archive_entry_set_perm(entry, (archive_entry_perm(entry) & 0100) ? 0755 : 0644);

        std::string why;
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            why = LibError(writer.get());
        else if (!CopyData(reader.get(), writer.get(), options, progress, why)) {
        } else if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            why = LibError(writer.get());
        if (!why.empty()) {
            result.error = "cannot unpack archive entry \"" + name + "\": " + why;
            return result;
        }
        result.entries.push_back(planned.directory ? planned.path + '/' : planned.path);
        ++progress.entriesDone;
        if (options.progress) options.progress(progress);
    }
    if (archive_write_close(writer.get()) < ARCHIVE_WARN) {
        result.error =
            "cannot finish unpacking into \"" + folder.string() + "\": " + LibError(writer.get());
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace archives
