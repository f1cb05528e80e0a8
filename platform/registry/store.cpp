// platform/registry/store.cpp — the registry operations on one file, replaced atomically.
//
// Index
//   1. File access: bounded read, atomic replacement
//   2. Store operations
//   3. The machine's store
#include "platform/registry/registry_local.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace registry {

// ---------------------------------------------------------------------------------------------
// 1. File access
// ---------------------------------------------------------------------------------------------

namespace {

// A registry file larger than this is not ours; it is treated as unreadable.
constexpr std::uintmax_t kMaxFileBytes = 16u * 1024u * 1024u;

enum class ReadStatus { Missing, Read, Unreadable };

ReadStatus ReadWholeFile(const std::filesystem::path& file, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) {
        ::close(fd);
        return ReadStatus::Unreadable;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return ReadStatus::Unreadable;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > kMaxFileBytes) {
            ::close(fd);
            return ReadStatus::Unreadable;
        }
    }
    ::close(fd);
    return ReadStatus::Read;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

// Replaces `file` with `bytes` so that a crash at any point leaves the old or the new
// content: temporary file in the same directory (owner-only permissions), fsync, rename over
// the file, fsync of the directory so the rename itself is durable.
bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
    std::string temporary = file.string() + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    std::filesystem::path directory = file.parent_path();
    if (directory.empty()) directory = ".";
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

// What a change did to the document.
enum class Change { None, Changed, Refused };

// Loads the file, applies `change` and writes the result back when it changed. A file that
// exists but cannot be read is never replaced. A file with unparsed parts is first saved
// as "<file>.bad".
bool ModifyFile(const std::filesystem::path& file,
                const std::function<Change(RegDocument&)>& change) {
    std::string original;
    const ReadStatus status = ReadWholeFile(file, original);
    if (status == ReadStatus::Unreadable) return false;
    RegDocument document = ParseRegText(original);
    const Change result = change(document);
    if (result == Change::Refused) return false;
    if (result == Change::None) return true;
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    if (!document.problems.empty()) {
        std::filesystem::path backup = file;
        backup += ".bad";
        if (!ReplaceFileAtomically(backup, original)) return false;
    }
    return ReplaceFileAtomically(file, FormatRegText(document));
}

// Creates root\path and every missing key above it; returns the key.
RegKey& CreateKeyChain(RegDocument& document, RootKey root, std::string_view path) {
    std::string spelled; // the path as the store spells it so far
    if (!local::FindKey(document, root, spelled))
        document.keys.push_back(RegKey{root, spelled, {}});
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        std::string next = spelled.empty() ? std::string() : spelled + '\\';
        next.append(path.substr(start, end - start));
        if (RegKey* existing = local::FindKey(document, root, next)) {
            spelled = existing->path;
        } else {
            document.keys.push_back(RegKey{root, next, {}});
            spelled = std::move(next);
        }
        start = end + 1;
    }
    return *local::FindKey(document, root, spelled);
}

// The number a Number write stores: decimal -2147483648..4294967295, as 32 bits.
std::optional<std::uint32_t> ParseNumberText(std::string_view text) {
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
    if (number < INT32_MIN || number > static_cast<std::int64_t>(UINT32_MAX)) return {};
    return static_cast<std::uint32_t>(number);
}

bool TextFitsTheFile(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// 2. Store operations
// ---------------------------------------------------------------------------------------------

// True when some key of the document lies below `path`.
static bool HasSubKey(const RegDocument& document, RootKey root, std::string_view path) {
    for (const RegKey& key : document.keys) {
        if (key.root != root || key.path.size() <= path.size() || key.path[path.size()] != '\\')
            continue;
        if (local::SameName(std::string_view(key.path).substr(0, path.size()), path)) return true;
    }
    return false;
}

bool Store::EnsureKey(RootKey root, std::string_view keyPath) const {
    const std::optional<std::string> path = local::NormaliseKeyPath(keyPath);
    if (!path) return false;
    return ModifyFile(file_, [&](RegDocument& document) {
        if (local::FindKey(document, root, *path)) return Change::None;
        CreateKeyChain(document, root, *path);
        return Change::Changed;
    });
}

Setting Store::ReadSetting(RootKey root, std::string_view keyPath, std::string_view name) const {
    const std::optional<std::string> path = local::NormaliseKeyPath(keyPath);
    if (!path) return {};
    std::string bytes;
    if (ReadWholeFile(file_, bytes) != ReadStatus::Read) return {};
    RegDocument document = ParseRegText(bytes);
    RegKey* key = local::FindKey(document, root, *path);
    if (!key) return {};
    const RegValue* value = local::FindValue(*key, name);
    if (!value) return {};
    switch (value->kind) {
    case RegValue::Kind::Text:
        return Setting::FromText(value->text);
    case RegValue::Kind::Number:
        return Setting::FromNumber(static_cast<std::int32_t>(value->number));
    case RegValue::Kind::Other:
        break;
    }
    return {};
}

bool Store::WriteSetting(RootKey root, std::string_view keyPath, std::string_view name,
                         std::string_view value, ValueType type) const {
    const std::optional<std::string> path = local::NormaliseKeyPath(keyPath);
    if (!path || !TextFitsTheFile(name)) return false;
    RegValue wanted;
    wanted.name = std::string(name);
    if (type == ValueType::Text) {
        if (!TextFitsTheFile(value)) return false;
        wanted.kind = RegValue::Kind::Text;
        wanted.text = std::string(value);
    } else if (type == ValueType::Number) {
        const std::optional<std::uint32_t> number = ParseNumberText(value);
        if (!number) return false;
        wanted.kind = RegValue::Kind::Number;
        wanted.number = *number;
    } else {
        return false;
    }
    return ModifyFile(file_, [&](RegDocument& document) {
        RegKey* key = local::FindKey(document, root, *path);
        // A key with a sub-key in the file exists even without a section of its own (a file
        // may list only "...\\Vesk-Soft\\Tarnhold"); it gets its section on this write.
        if (!key && HasSubKey(document, root, *path)) key = &CreateKeyChain(document, root, *path);
        if (!key) return Change::Refused;
        RegValue* existing = local::FindValue(*key, name);
        if (!existing) {
            key->values.push_back(std::move(wanted));
            return Change::Changed;
        }
        wanted.name = existing->name;
        if (*existing == wanted && document.problems.empty()) return Change::None;
        *existing = std::move(wanted);
        return Change::Changed;
    });
}

RegDocument Store::Load() const {
    std::string bytes;
    if (ReadWholeFile(file_, bytes) != ReadStatus::Read) return {};
    return ParseRegText(bytes);
}

// ---------------------------------------------------------------------------------------------
// 3. The machine's store
// ---------------------------------------------------------------------------------------------

std::filesystem::path RegistryFile() {
    return SettingsDirectory() / "registry.reg";
}

bool EnsureKey(RootKey root, std::string_view keyPath) {
    return Store(RegistryFile()).EnsureKey(root, keyPath);
}

Setting ReadSetting(RootKey root, std::string_view keyPath, std::string_view name) {
    return Store(RegistryFile()).ReadSetting(root, keyPath, name);
}

bool WriteSetting(RootKey root, std::string_view keyPath, std::string_view name,
                  std::string_view value, ValueType type) {
    return Store(RegistryFile()).WriteSetting(root, keyPath, name, value, type);
}

} // namespace registry
