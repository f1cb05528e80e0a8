// platform/registry/store.cpp — the registry operations on one file, replaced atomically.
//
// Index
//   1. File access: bounded read, atomic replacement
//   2. Store operations
//   3. The machine's store
#include "platform/registry/registry_local.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
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

// Missing: no such file. Read: `bytes` holds it. Refused: the path is not a regular file or is
// larger than kMaxFileBytes. Unreadable: it cannot be opened or read. `why` says why for the
// last two.
enum class ReadStatus { Missing, Read, Refused, Unreadable };

std::string TooLarge() {
    return "it is larger than " + std::to_string(kMaxFileBytes >> 20) + " MB";
}

// Why the store does not read a file of this kind and size, or nothing.
std::optional<std::string> Refusal(const struct stat& info) {
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) return TooLarge();
    return std::nullopt;
}

// Reads the file whole. The path is looked at before it is opened, and opened without
// blocking, so a FIFO or a device in its place is refused instead of waited on.
ReadStatus ReadWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& why) {
    bytes.clear();
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) return ReadStatus::Missing;
        why = std::strerror(errno);
        return ReadStatus::Unreadable;
    }
    if (std::optional<std::string> reason = Refusal(info)) {
        why = std::move(*reason);
        return ReadStatus::Refused;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        why = std::strerror(error);
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    }
    if (::fstat(fd, &info) != 0) {
        why = std::strerror(errno);
        ::close(fd);
        return ReadStatus::Unreadable;
    }
    if (std::optional<std::string> reason = Refusal(info)) {
        ::close(fd);
        why = std::move(*reason);
        return ReadStatus::Refused;
    }
    bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            why = std::strerror(errno);
            ::close(fd);
            return ReadStatus::Unreadable;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > kMaxFileBytes) { // it grew while being read
            ::close(fd);
            why = TooLarge();
            return ReadStatus::Refused;
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

// Keeps `file` aside under the first free name of "<file>.bad", "<file>.bad.2" ...
// "<file>.bad.99", never replacing an existing file: `bytes` null moves the file itself (any
// kind of file), otherwise `bytes` is written there (flushed to disk first). The name used, or
// nothing when no name was free or the move or write failed.
std::optional<std::filesystem::path> KeepAside(const std::filesystem::path& file,
                                               const std::string* bytes) {
    std::string temporary;
    if (bytes) {
        temporary = file.string() + ".tmp-XXXXXX";
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0) return std::nullopt;
        const bool written = WriteAll(fd, *bytes) && ::fsync(fd) == 0;
        if (::close(fd) != 0 || !written) {
            ::unlink(temporary.c_str());
            return std::nullopt;
        }
    }
    std::optional<std::filesystem::path> kept;
    for (int n = 1; n <= 99 && !kept; ++n) {
        std::filesystem::path candidate = file;
        candidate += n == 1 ? std::string(".bad") : ".bad." + std::to_string(n);
        int result = 0;
        if (bytes) {
            result = ::link(temporary.c_str(), candidate.c_str()); // fails on an existing name
        } else {
            result =
                ::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE);
            if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
                // A file system without no-replace renames: look first.
                std::error_code error;
                if (std::filesystem::exists(std::filesystem::symlink_status(candidate, error)))
                    errno = EEXIST;
                else
                    result = ::rename(file.c_str(), candidate.c_str());
            }
        }
        if (result == 0)
            kept = candidate;
        else if (errno != EEXIST)
            break;
    }
    if (bytes) ::unlink(temporary.c_str());
    return kept;
}

// What a change did to the document.
enum class Change { None, Changed, Refused };

// Loads the file, applies `change` and writes the result back when it changed. A file that
// exists but cannot be read is never replaced. A file with unparsed parts is first saved
// as "<file>.bad".
bool ModifyFile(const std::filesystem::path& file,
                const std::function<Change(RegDocument&)>& change) {
    std::string original, why;
    const ReadStatus status = ReadWholeFile(file, original, why);
    if (status == ReadStatus::Unreadable || status == ReadStatus::Refused) return false;
    RegDocument document = ParseRegText(original);
    const Change result = change(document);
    if (result == Change::Refused) return false;
    if (result == Change::None) return true;
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    if (!document.problems.empty() && !KeepAside(file, &original)) return false;
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
    std::string bytes, why;
    if (ReadWholeFile(file_, bytes, why) != ReadStatus::Read) return {};
    return Snapshot::FromText(bytes).ReadSetting(root, keyPath, name);
}

namespace {

// The value a write stores, or nullopt when the write cannot be stored (a name or text with a
// line break or zero character, a number that does not parse, another type).
std::optional<RegValue> ValueToStore(std::string_view name, std::string_view value,
                                     ValueType type) {
    if (!TextFitsTheFile(name)) return std::nullopt;
    RegValue wanted;
    wanted.name = std::string(name);
    if (type == ValueType::Text) {
        if (!TextFitsTheFile(value)) return std::nullopt;
        wanted.kind = RegValue::Kind::Text;
        wanted.text = std::string(value);
    } else if (type == ValueType::Number) {
        const std::optional<std::uint32_t> number = ParseNumberText(value);
        if (!number) return std::nullopt;
        wanted.kind = RegValue::Kind::Number;
        wanted.number = *number;
    } else {
        return std::nullopt;
    }
    return wanted;
}

// Puts `wanted` into the key root\path of `document`: Refused when the key does not exist.
Change PutValue(RegDocument& document, RootKey root, const std::string& path, RegValue wanted) {
    RegKey* key = local::FindKey(document, root, path);
    // A key with a sub-key in the file exists even without a section of its own (a file may
    // list only "...\\Vesk-Soft\\Tarnhold"); it gets its section on this write.
    if (!key && HasSubKey(document, root, path)) key = &CreateKeyChain(document, root, path);
    if (!key) return Change::Refused;
    RegValue* existing = local::FindValue(*key, wanted.name);
    if (!existing) {
        key->values.push_back(std::move(wanted));
        return Change::Changed;
    }
    wanted.name = existing->name;
    if (*existing == wanted && document.problems.empty()) return Change::None;
    *existing = std::move(wanted);
    return Change::Changed;
}

} // namespace

bool Store::WriteSetting(RootKey root, std::string_view keyPath, std::string_view name,
                         std::string_view value, ValueType type) const {
    const SettingWrite write{root, std::string(keyPath), std::string(name), std::string(value),
                             type};
    return WriteSettings(std::span(&write, 1)).front();
}

std::vector<bool> Store::WriteSettings(std::span<const SettingWrite> writes) const {
    std::vector<bool> stored(writes.size(), false);
    const bool written = ModifyFile(file_, [&](RegDocument& document) {
        Change result = Change::None;
        for (size_t i = 0; i < writes.size(); ++i) {
            const SettingWrite& write = writes[i];
            const std::optional<std::string> path = local::NormaliseKeyPath(write.keyPath);
            std::optional<RegValue> wanted = ValueToStore(write.name, write.value, write.type);
            if (!path || !wanted) continue;
            const Change change = PutValue(document, write.root, *path, std::move(*wanted));
            stored[i] = change != Change::Refused;
            if (change == Change::Changed) result = Change::Changed;
        }
        // Nothing storable: the file stays as it is, whatever state it is in.
        return std::find(stored.begin(), stored.end(), true) == stored.end() ? Change::Refused
                                                                             : result;
    });
    if (!written) stored.assign(writes.size(), false);
    return stored;
}

RegDocument Store::Load() const {
    std::string bytes, why;
    if (ReadWholeFile(file_, bytes, why) != ReadStatus::Read) return {};
    return ParseRegText(bytes);
}

namespace {

// The first problems of a document, one per line, and how many more there are.
std::string ListProblems(const std::vector<std::string>& problems) {
    constexpr size_t kShown = 5;
    std::string list;
    for (size_t i = 0; i < problems.size() && i < kShown; ++i)
        list += "\n  " + problems[i];
    if (problems.size() > kShown)
        list += "\n  (" + std::to_string(problems.size() - kShown) + " more)";
    return list;
}

} // namespace

Snapshot Store::Open() const {
    std::string bytes, why;
    const std::string name = file_.string();
    switch (ReadWholeFile(file_, bytes, why)) {
    case ReadStatus::Missing:
        return {};
    case ReadStatus::Unreadable: {
        Snapshot snapshot;
        snapshot.notice_ = "The settings file " + name + " cannot be read (" + why +
                           "). The settings start from their defaults and are not saved.";
        return snapshot;
    }
    case ReadStatus::Refused: {
        Snapshot snapshot;
        const std::optional<std::filesystem::path> kept = KeepAside(file_, nullptr);
        snapshot.notice_ = "The settings file " + name + " is not used: " + why + ". ";
        snapshot.notice_ +=
            kept ? "It is kept as " + kept->string() + "; the settings start from their defaults."
                 : std::string("It cannot be moved aside; the settings start from their "
                               "defaults and are not saved.");
        return snapshot;
    }
    case ReadStatus::Read:
        break;
    }
    Snapshot snapshot = Snapshot::FromText(bytes);
    const std::vector<std::string>& problems = snapshot.Document().problems;
    if (problems.empty()) return snapshot;
    snapshot.notice_ = "Some settings in " + name +
                       " cannot be read and are left out:" + ListProblems(problems) + "\n";
    const std::optional<std::filesystem::path> kept = KeepAside(file_, &bytes);
    if (!kept) {
        snapshot.notice_ += "The file cannot be copied aside, so it is left as it is.";
        return snapshot;
    }
    snapshot.notice_ += "The file as it was is kept as " + kept->string() + ".";
    RegDocument clean = snapshot.Document();
    clean.problems.clear();
    ReplaceFileAtomically(file_, FormatRegText(clean));
    return snapshot;
}

// ---------------------------------------------------------------------------------------------
// Snapshot
// ---------------------------------------------------------------------------------------------

namespace {

std::string Folded(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
}

} // namespace

Snapshot Snapshot::FromText(std::string_view text) {
    Snapshot snapshot;
    snapshot.document_ = ParseRegTextIndexed(text, snapshot.index_);
    return snapshot;
}

Setting Snapshot::ReadSetting(RootKey root, std::string_view keyPath, std::string_view name) const {
    const std::optional<std::string> path = local::NormaliseKeyPath(keyPath);
    if (!path) return {};
    const auto key =
        index_.keys.find(std::to_string(static_cast<int>(root)) + '\\' + Folded(*path));
    if (key == index_.keys.end()) return {};
    const auto& values = index_.values[key->second];
    const auto found = values.find(Folded(name));
    if (found == values.end()) return {};
    const RegValue& value = document_.keys[key->second].values[found->second];
    switch (value.kind) {
    case RegValue::Kind::Text:
        return Setting::FromText(value.text);
    case RegValue::Kind::Number:
        return Setting::FromNumber(static_cast<std::int32_t>(value.number));
    case RegValue::Kind::Other:
        break;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// 3. The machine's store
// ---------------------------------------------------------------------------------------------

std::filesystem::path RegistryFile() {
    return SettingsDirectory() / "registry.reg";
}

Snapshot Open() {
    return Store(RegistryFile()).Open();
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

std::vector<bool> WriteSettings(std::span<const SettingWrite> writes) {
    return Store(RegistryFile()).WriteSettings(writes);
}

} // namespace registry
