// platform/registry/registry.h — the per-machine settings store.
//
// Index
//   1. Settings directory: where this machine's settings, lock and log live.
//   2. Keys, value types and settings.
//   3. The .reg text format: parse and format a whole store.
//   4. Store: EnsureKey, ReadSetting, WriteSetting on one registry file.
//   5. The machine's store: the same operations on <settings directory>/registry.reg.
//
// The settings directory stands for "this machine": two processes with two settings
// directories behave as two machines. The store is one text file in the registry export
// format:
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_LOCAL_MACHINE\Software\Vesk-Soft\Tarnhold]
//     "Login"="someone"
//     "Killer"=dword:0000000c
//
// Key paths and value names compare case-insensitively (ASCII), and keep the spelling they
// were first written with. Text is stored as the bytes given (the game writes UTF-8 or ASCII).
// Nothing here knows about the game.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace registry {

// ---------------------------------------------------------------------------------------------
// 1. Settings directory
// ---------------------------------------------------------------------------------------------

// The settings directory: $TARNHOLD_HOME, else $XDG_CONFIG_HOME/tarnhold, else
// ~/.config/tarnhold. Empty variables count as unset, and a relative $XDG_CONFIG_HOME is
// ignored (it would depend on the working directory). Does not touch the file system.
std::filesystem::path SettingsDirectory();

// SettingsDirectory(), created with its parents when missing. Throws
// std::filesystem::filesystem_error when it cannot be created or exists as a non-directory.
std::filesystem::path EnsureSettingsDirectory();

// The machine's own data directory, for files the game makes for itself (the installation
// directory may be read-only and is shared by every user): $TARNHOLD_HOME/data when
// $TARNHOLD_HOME is set (several machines on one computer stay apart), else
// $XDG_DATA_HOME/tarnhold, else ~/.local/share/tarnhold. Same rules for empty and relative
// variables as SettingsDirectory(). Does not touch the file system.
std::filesystem::path DataDirectory();

// ---------------------------------------------------------------------------------------------
// 2. Keys, value types and settings
// ---------------------------------------------------------------------------------------------

// The predefined root keys; a key path names a key below one of them.
enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// "HKEY_LOCAL_MACHINE" and so on, as written in section headers.
std::string_view RootKeyName(RootKey root);

// The value types the store reads and writes; the numbers are the registry's type codes.
enum class ValueType : int {
    Text = 1,   // a text
    Number = 4, // a 32-bit number
};

// A value read from the store: empty (missing key, missing value, other type), a text or a
// 32-bit number.
class Setting {
public:
    Setting() = default; // empty
    static Setting FromText(std::string text);
    static Setting FromNumber(std::int32_t number);

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    bool IsText() const { return std::holds_alternative<std::string>(value_); }
    bool IsNumber() const { return std::holds_alternative<std::int32_t>(value_); }

    // The text of a text value; "" for the other kinds.
    const std::string& Text() const;
    // The number of a number value; 0 for the other kinds.
    std::int32_t Number() const;
    // What a caller converting to text sees: the text, the number in decimal, or "".
    std::string ToText() const;

    friend bool operator==(const Setting&, const Setting&) = default;

private:
    std::variant<std::monostate, std::string, std::int32_t> value_;
};

// ---------------------------------------------------------------------------------------------
// 3. The .reg text format
// ---------------------------------------------------------------------------------------------

// One named value of a key. Values of other types than text and number ("hex:…", "hex(7):…")
// are kept as their raw text after '=' so that rewriting the file preserves them.
struct RegValue {
    enum class Kind { Text, Number, Other };
    std::string name; // "" is the key's default value, written "@"
    Kind kind = Kind::Text;
    std::string text;         // Kind::Text: the value; Kind::Other: the raw data text
    std::uint32_t number = 0; // Kind::Number
    friend bool operator==(const RegValue&, const RegValue&) = default;
};

// One key: a section of the file. `path` has no leading or trailing backslash and no empty
// component; "" is the root key itself.
struct RegKey {
    RootKey root = RootKey::LocalMachine;
    std::string path;
    std::vector<RegValue> values; // in file order, names unique (case-insensitively)
    friend bool operator==(const RegKey&, const RegKey&) = default;
};

// A whole store. Keys are unique (case-insensitively); sections repeated in a file merge, and
// a value repeated in a key keeps its last data.
struct RegDocument {
    std::vector<RegKey> keys;
    // One entry per part of the text that did not parse ("line 7: …"); empty for a clean file.
    std::vector<std::string> problems;
};

// Parses a .reg text in time linear in its length. Never fails: what does not parse is skipped
// and listed in `problems` (the first 100, then one line counting the rest), everything else is
// kept; a dword needs a 32-bit number. Lines may end in LF or CR LF; a UTF-8 byte order mark is
// skipped, and text that starts with a UTF-16 byte order mark (as the Windows registry editor
// exports) is read as UTF-16, little- or big-endian.
RegDocument ParseRegText(std::string_view text);

// Where the keys and values of a parsed document are, in ASCII lower case: keys by
// "<root code>\\<path>" (the root's number in RootKey), values by name, one map per key.
struct RegIndex {
    std::unordered_map<std::string, size_t> keys;
    std::vector<std::unordered_map<std::string, size_t>> values;
};

// ParseRegText, also giving the index the parser builds on its way.
RegDocument ParseRegTextIndexed(std::string_view text, RegIndex& index);

// The .reg text of a document (header, one section per key, LF line ends). Parsing the result
// gives the same keys back.
std::string FormatRegText(const RegDocument& document);

// ---------------------------------------------------------------------------------------------
// 4. Store
// ---------------------------------------------------------------------------------------------

// Largest registry file read: anything bigger is not a settings file of this game.
inline constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t(16) << 20;

// A whole store read once, for looking up many values: each lookup costs one hash look-up,
// whatever the size of the file.
class Snapshot {
public:
    Snapshot() = default; // an empty store
    // The store held in a .reg text, parsed once.
    static Snapshot FromText(std::string_view text);

    // The value as Store::ReadSetting gives it, from the store as it was read.
    Setting ReadSetting(RootKey root, std::string_view keyPath, std::string_view name) const;
    const RegDocument& Document() const { return document_; }
    // What the player is to be told about the file, or "" when it was read whole: why it was
    // not used or which lines were left out, and where the file as it was is kept.
    const std::string& Notice() const { return notice_; }

private:
    friend class Store;
    RegDocument document_;
    RegIndex index_;
    std::string notice_;
};

// One value to store: as the arguments of Store::WriteSetting.
struct SettingWrite {
    RootKey root = RootKey::LocalMachine;
    std::string keyPath;
    std::string name;
    std::string value;
    ValueType type = ValueType::Text;
};

// The operations on one registry file. Every operation reads the file afresh and, when it
// changes something, replaces it atomically: the new text goes to a temporary file in the same
// directory, is flushed to disk and renamed over the old one, so a crash at any moment leaves
// either the old or the new file. A missing file is an empty store. Reading never blocks: a
// path that is not a regular file (a FIFO, a directory, a device) or a file larger than
// kMaxFileBytes is refused without being read, and like a file that cannot be read it is never
// replaced (writes fail). A file with parts that do not parse is replaced by what parsed plus
// the change, and its old text is first kept aside. Text exported as UTF-16 (with its byte
// order mark) is read, and written back as UTF-8.
//
// "Kept aside" means saved under the first free name of "<file>.bad", "<file>.bad.2" ...
// "<file>.bad.99", never over an existing file, so nothing is lost silently.
class Store {
public:
    explicit Store(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& File() const { return file_; }

    // Creates the key, and every missing key above it, unless it exists. Returns false when
    // the path is malformed (empty component, control character) or the file cannot be
    // read or written.
    bool EnsureKey(RootKey root, std::string_view keyPath) const;

    // The value `name` of the key: a text, a number, or empty for a missing file, key or
    // value, a value of another type, or a file that cannot be read. Never throws.
    Setting ReadSetting(RootKey root, std::string_view keyPath, std::string_view name) const;

    // Stores `value` under `name` in an existing key. Type Text stores the text as given;
    // type Number stores the decimal text `value` as a 32-bit number (-2147483648..4294967295).
    // Returns false, changing nothing, when the key does not exist, the text holds a line
    // break or a zero character (the file format cannot hold them), the number does not
    // parse, the type is not Text or Number, or the file cannot be read or written.
    bool WriteSetting(RootKey root, std::string_view keyPath, std::string_view name,
                      std::string_view value, ValueType type) const;

    // Stores many values with one read and one replacement of the file, as WriteSetting would
    // store each in turn (later writes of the same value win). A write WriteSetting would
    // refuse is left out and the others are stored. Returns, for each write in order, whether
    // it was stored; all false when the file cannot be read or written.
    std::vector<bool> WriteSettings(std::span<const SettingWrite> writes) const;

    // The whole store as parsed now (for tools and tests).
    RegDocument Load() const;

    // Reads the whole store once, for a caller that reads many values (the menu's reading of
    // every setting), and puts a bad file right so that later writes can be kept:
    // - a refused path (not a regular file, or too large) is moved aside and the store starts
    //   empty;
    // - a file with parts that do not parse is copied aside and rewritten with what parsed.
    // The snapshot's Notice() tells the player what happened. Time linear in the file's size.
    Snapshot Open() const;

private:
    std::filesystem::path file_;
};

// ---------------------------------------------------------------------------------------------
// 5. The machine's store
// ---------------------------------------------------------------------------------------------

// SettingsDirectory() / "registry.reg".
std::filesystem::path RegistryFile();

// The Store operations on RegistryFile(); writing creates the settings directory on demand.
Snapshot Open();
bool EnsureKey(RootKey root, std::string_view keyPath);
Setting ReadSetting(RootKey root, std::string_view keyPath, std::string_view name);
bool WriteSetting(RootKey root, std::string_view keyPath, std::string_view name,
                  std::string_view value, ValueType type);
std::vector<bool> WriteSettings(std::span<const SettingWrite> writes);

} // namespace registry
