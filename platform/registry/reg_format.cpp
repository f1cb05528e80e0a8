// platform/registry/reg_format.cpp — reading and writing the .reg export text.
//
// Index
//   1. Names and settings
//   2. Parsing: header, sections, value lines, value data
//   3. Formatting
#include "platform/registry/registry_local.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <unordered_map>

namespace registry {

// ---------------------------------------------------------------------------------------------
// 1. Names and settings
// ---------------------------------------------------------------------------------------------

namespace {

constexpr std::array<std::pair<RootKey, std::string_view>, 5> kRootNames = {{
    {RootKey::ClassesRoot, "HKEY_CLASSES_ROOT"},
    {RootKey::CurrentUser, "HKEY_CURRENT_USER"},
    {RootKey::LocalMachine, "HKEY_LOCAL_MACHINE"},
    {RootKey::Users, "HKEY_USERS"},
    {RootKey::CurrentConfig, "HKEY_CURRENT_CONFIG"},
}};

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string_view RootKeyName(RootKey root) {
    for (const auto& [key, name] : kRootNames)
        if (key == root) return name;
    return "HKEY_LOCAL_MACHINE";
}

Setting Setting::FromText(std::string text) {
    Setting setting;
    setting.value_ = std::move(text);
    return setting;
}

Setting Setting::FromNumber(std::int32_t number) {
    Setting setting;
    setting.value_ = number;
    return setting;
}

const std::string& Setting::Text() const {
    static const std::string kNone;
    const std::string* text = std::get_if<std::string>(&value_);
    return text ? *text : kNone;
}

std::int32_t Setting::Number() const {
    const std::int32_t* number = std::get_if<std::int32_t>(&value_);
    return number ? *number : 0;
}

std::string Setting::ToText() const {
    if (IsNumber()) return std::to_string(Number());
    return Text();
}

namespace local {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

RegKey* FindKey(RegDocument& document, RootKey root, std::string_view path) {
    for (RegKey& key : document.keys)
        if (key.root == root && SameName(key.path, path)) return &key;
    return nullptr;
}

RegValue* FindValue(RegKey& key, std::string_view name) {
    for (RegValue& value : key.values)
        if (SameName(value.name, name)) return &value;
    return nullptr;
}

std::optional<std::string> NormaliseKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    char previous = '\0';
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
        if (c == '\\' && previous == '\\') return std::nullopt;
        previous = c;
    }
    return std::string(path);
}

} // namespace local

// ---------------------------------------------------------------------------------------------
// 2. Parsing
// ---------------------------------------------------------------------------------------------

namespace {

// Reads a quoted string starting at text[pos] == '"'; `\\` and `\"` are escapes, any other
// backslash is kept as written. On success `pos` is just past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view text, size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    std::string out;
    const size_t close = text.find('"', pos + 1);
    if (close != std::string_view::npos) out.reserve(close - pos); // enough without escapes
    for (size_t i = pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out.push_back(text[++i]);
            continue;
        }
        out.push_back(c);
    }
    return std::nullopt;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Parses the data after '=' into `value`; returns a reason on failure.
std::optional<std::string> ParseData(std::string_view data, RegValue& value) {
    if (!data.empty() && data.front() == '"') {
        size_t pos = 0;
        std::optional<std::string> text = ReadQuoted(data, pos);
        if (!text) return "unterminated text";
        if (!TrimBlanks(data.substr(pos)).empty()) return "text followed by other characters";
        value.kind = RegValue::Kind::Text;
        value.text = std::move(*text);
        return std::nullopt;
    }
    if (local::SameName(data.substr(0, 6), "dword:")) {
        std::string_view digits = data.substr(6);
        if (digits.empty()) return std::string("dword without a number");
        for (char c : digits)
            if (!IsHexDigit(c)) return std::string(data) + " is not a hexadecimal number";
        while (digits.size() > 1 && digits.front() == '0')
            digits.remove_prefix(1);
        if (digits.size() > 8)
            return std::string(data) + " does not fit in 32 bits (at most dword:ffffffff)";
        std::uint32_t number = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
        value.kind = RegValue::Kind::Number;
        value.number = number;
        return std::nullopt;
    }
    if (local::SameName(data.substr(0, 3), "hex")) {
        value.kind = RegValue::Kind::Other;
        value.text = std::string(data);
        return std::nullopt;
    }
    if (data == "-") return "value deletions are not supported";
    return "unknown value data";
}

// Line cursor over the text; yields lines without their end (LF, CR LF) and without trailing
// blanks, and keeps the 1-based number of the line last returned.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool Next(std::string_view& line) {
        if (pos_ > text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = TrimBlanks(text_.substr(pos_, end - pos_));
        pos_ = end + 1;
        ++number_;
        return true;
    }
    int Number() const { return number_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
    int number_ = 0;
};

// ASCII lower case of a name, the key of the parser's indexes.
std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = LowerAscii(c);
    return folded;
}

// The parser's state while it walks the lines. Keys and values are found through hash indexes,
// so a file is read in time linear in its size.
class Parser {
public:
    Parser(RegDocument& document, RegIndex& index) : document_(document), index_(index) {}

    void Problem(int line, std::string_view reason) {
        if (document_.problems.size() < kMaxProblemsListed) {
            // A reason quotes the file; a hostile line is not repeated at length.
            constexpr size_t kMaxReason = 160;
            std::string shown(reason.substr(0, kMaxReason));
            if (reason.size() > kMaxReason) shown += "...";
            document_.problems.push_back("line " + std::to_string(line) + ": " + shown);
        } else {
            ++problemsNotListed_;
        }
    }

    // Closes the problem list with the count of problems not listed one by one.
    void Finish() {
        if (problemsNotListed_ > 0)
            document_.problems.push_back("and " + std::to_string(problemsNotListed_) +
                                         " more lines that do not parse");
    }

    // "[ROOT\path]"
    void Section(int lineNumber, std::string_view line) {
        current_ = -1;
        const size_t close = line.rfind(']');
        if (close != line.size() - 1) return Problem(lineNumber, "section without closing ']'");
        std::string_view inner = line.substr(1, close - 1);
        if (!inner.empty() && inner.front() == '-')
            return Problem(lineNumber, "key deletions are not supported");
        const size_t slash = inner.find('\\');
        const std::string_view rootName = inner.substr(0, slash);
        const std::string_view rest =
            slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
        std::optional<RootKey> root;
        for (const auto& [key, name] : kRootNames)
            if (local::SameName(name, rootName)) root = key;
        if (!root) return Problem(lineNumber, "unknown root key");
        if (!rest.empty() && (rest.front() == '\\' || rest.back() == '\\'))
            return Problem(lineNumber, "malformed key path");
        std::optional<std::string> path = local::NormaliseKeyPath(rest);
        if (!path) return Problem(lineNumber, "malformed key path");
        const auto [known, isNew] = index_.keys.try_emplace(
            std::to_string(static_cast<int>(*root)) + '\\' + Folded(*path), document_.keys.size());
        current_ = static_cast<long>(known->second);
        if (!isNew) return;
        document_.keys.push_back(RegKey{*root, std::move(*path), {}});
        index_.values.emplace_back();
    }

    // "\"Name\"=data" or "@=data"; `data` may continue over lines ending in '\'.
    void Value(int lineNumber, std::string_view line, LineReader& lines) {
        RegValue value;
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else {
            std::optional<std::string> name = ReadQuoted(line, pos);
            if (!name) return Problem(lineNumber, "unterminated value name");
            value.name = std::move(*name);
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=') return Problem(lineNumber, "missing '='");
        std::string_view data = TrimBlanks(line.substr(pos + 1));
        std::string joined; // binary data continued over several lines
        if (local::SameName(data.substr(0, 3), "hex")) {
            joined = data;
            JoinContinued(joined, lines);
            data = joined;
        }
        if (std::optional<std::string> reason = ParseData(data, value))
            return Problem(lineNumber,
                           (value.name.empty() ? std::string("@") : '"' + value.name + '"') + ": " +
                               *reason);
        if (current_ < 0) return Problem(lineNumber, "value outside a valid key section");
        RegKey& key = document_.keys[static_cast<size_t>(current_)];
        auto& index = index_.values[static_cast<size_t>(current_)];
        const auto [known, isNew] = index.try_emplace(Folded(value.name), key.values.size());
        if (isNew) {
            key.values.push_back(std::move(value));
        } else {
            RegValue& existing = key.values[known->second];
            value.name = existing.name;
            existing = std::move(value);
        }
    }

private:
    // Binary data may end its lines in '\' and continue on the next one.
    // `data` comes trimmed and every line the reader gives is trimmed, so only the end needs
    // trimming as lines are appended (in place: a long value costs its length, once).
    static void JoinContinued(std::string& data, LineReader& lines) {
        std::string_view next;
        for (;;) {
            while (!data.empty() && IsBlank(data.back()))
                data.pop_back();
            if (data.empty() || data.back() != '\\') break;
            data.pop_back();
            if (lines.Next(next)) data.append(next);
        }
    }

    static constexpr size_t kMaxProblemsListed = 100;

    RegDocument& document_;
    long current_ = -1; // index of the key that value lines go to, -1 when none
    RegIndex& index_;
    size_t problemsNotListed_ = 0;
};

// UTF-16 text (after its byte order mark) as UTF-8. Unpaired surrogates and a lone last byte
// become U+FFFD and are counted in `bad`.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, size_t& bad) {
    std::string out;
    out.reserve(bytes.size() / 2 + bytes.size() / 8);
    const auto unit = [&](size_t i) -> std::uint32_t {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (std::uint32_t(b0) << 8 | b1) : (std::uint32_t(b1) << 8 | b0);
    };
    const auto put = [&](std::uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                put(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (c >= 0xD800 && c < 0xE000) {
            ++bad;
            put(0xFFFD);
            continue;
        }
        put(c);
    }
    if (i < bytes.size()) {
        ++bad;
        put(0xFFFD);
    }
    return out;
}

} // namespace

RegDocument ParseRegText(std::string_view text) {
    RegIndex index;
    return ParseRegTextIndexed(text, index);
}

RegDocument ParseRegTextIndexed(std::string_view text, RegIndex& index) {
    index = RegIndex{};
    RegDocument document;
    std::string decoded;
    size_t badUnits = 0;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        decoded = Utf16ToUtf8(text.substr(2), text[0] == '\xFE', badUnits);
        text = decoded;
    }
    Parser parser(document, index);
    if (badUnits > 0)
        parser.Problem(1, std::to_string(badUnits) + " characters are not valid UTF-16");
    LineReader lines(text);
    std::string_view line;
    bool headerSeen = false;
    while (lines.Next(line)) {
        if (line.empty() || line.front() == ';') continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == kHeader5 || line == kHeader4) continue;
            parser.Problem(lines.Number(), "missing header line");
        }
        if (line.front() == '[')
            parser.Section(lines.Number(), line);
        else if (line.front() == '"' || line.front() == '@')
            parser.Value(lines.Number(), line, lines);
        else
            parser.Problem(lines.Number(), "unrecognised line");
    }
    parser.Finish();
    return document;
}

// ---------------------------------------------------------------------------------------------
// 3. Formatting
// ---------------------------------------------------------------------------------------------

namespace {

void AppendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

} // namespace

std::string FormatRegText(const RegDocument& document) {
    std::string out(kHeader5);
    out += "\n\n";
    for (const RegKey& key : document.keys) {
        out += '[';
        out += RootKeyName(key.root);
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\n";
        for (const RegValue& value : key.values) {
            if (value.name.empty())
                out += '@';
            else
                AppendQuoted(out, value.name);
            out += '=';
            switch (value.kind) {
            case RegValue::Kind::Text:
                AppendQuoted(out, value.text);
                break;
            case RegValue::Kind::Number: {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", value.number);
                out += digits;
                break;
            }
            case RegValue::Kind::Other:
                out += value.text;
                break;
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

} // namespace registry
