// model/text.cpp — the text rules shared by the QC and SMD readers, and their errors.
//
// Index
//   1. Trimming, replacing, splitting, names
//   2. Numbers (ParseNumber, ParseInteger, ToLong)
//   3. Errors and the line reader
#include "model/model_local.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>

namespace model {

// ---------------------------------------------------------------------------------------------
// 1. Trimming, replacing, splitting, names
// ---------------------------------------------------------------------------------------------

std::string_view TrimSpaces(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement) {
    std::string current(text);
    if (pattern.empty()) return current;
    const size_t n = text.size(); // the scan bound is the original length
    for (size_t i = 0; i < n; ++i) {
        if (i + pattern.size() <= current.size() &&
            current.compare(i, pattern.size(), pattern) == 0) {
            current.replace(i, pattern.size(), replacement);
        }
    }
    return current;
}

std::string ReplaceFirst(std::string_view text, char character, std::string_view replacement) {
    std::string result(text);
    const size_t at = result.find(character);
    if (at != std::string::npos) result.replace(at, 1, replacement);
    return result;
}

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    size_t start = line.find_first_not_of(" \t");
    while (start != std::string_view::npos) {
        const size_t end = line.find_first_of(" \t", start);
        fields.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        start = end == std::string_view::npos ? end : line.find_first_not_of(" \t", end);
    }
}

std::string NormaliseName(std::string_view name) {
    return ReplaceAll(ReplaceAll(name, " ", "_"), "-", "D");
}

std::optional<std::string_view> QuotedName(std::string_view line) {
    const size_t first = line.find('"');
    if (first == std::string_view::npos) return std::nullopt;
    const size_t second = line.find('"', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    return TrimSpaces(line.substr(first + 1, second - first - 1));
}

// ---------------------------------------------------------------------------------------------
// 2. Numbers
// ---------------------------------------------------------------------------------------------

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Rewrites a number written with `mark` as its decimal mark into the "C" form that from_chars
// reads ("-12.5e3"); false when the text is not a plain decimal number.
bool ToPlainNumber(std::string_view s, std::string_view mark, std::string& out) {
    out.clear();
    size_t pos = 0;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        if (s[pos] == '-') out.push_back('-');
        ++pos;
    }
    size_t digits = 0;
    while (pos < s.size() && IsDigit(s[pos])) {
        out.push_back(s[pos++]);
        ++digits;
    }
    if (s.substr(pos).starts_with(mark)) {
        out.push_back('.');
        pos += mark.size();
        while (pos < s.size() && IsDigit(s[pos])) {
            out.push_back(s[pos++]);
            ++digits;
        }
    }
    if (digits == 0) return false;
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        out.push_back('e');
        ++pos;
        if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) out.push_back(s[pos++]);
        size_t expDigits = 0;
        while (pos < s.size() && IsDigit(s[pos])) {
            out.push_back(s[pos++]);
            ++expDigits;
        }
        if (expDigits == 0) return false;
    }
    return pos == s.size();
}

template <class T> std::optional<T> ParseAs(std::string_view field, std::string_view sep) {
    const std::string_view mark = sep.empty() ? std::string_view(".") : sep;
    const std::string replaced = ReplaceFirst(field, '.', mark);
    std::string plain;
    if (!ToPlainNumber(replaced, mark, plain)) return std::nullopt;
    T value{};
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<double> ParseNumber(std::string_view field, std::string_view decimalSeparator) {
    return ParseAs<double>(field, decimalSeparator);
}

std::optional<float> ParseNumberSingle(std::string_view field, std::string_view decimalSeparator) {
    return ParseAs<float>(field, decimalSeparator);
}

std::optional<int32_t> ParseInteger(std::string_view field) {
    size_t pos = 0;
    if (!field.empty() && field[0] == '+') pos = 1; // from_chars takes "-" but not "+"
    if (pos < field.size() && field[pos] == '-' && pos == 1) return std::nullopt;
    if (pos >= field.size()) return std::nullopt;
    int32_t value = 0;
    const char* first = field.data() + pos;
    const char* last = field.data() + field.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return std::nullopt;
    return value;
}

int32_t ToLong(std::string_view value, std::string_view decimalSeparator) {
    size_t first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos) return 0;
    const size_t last = value.find_last_not_of(" \t");
    const std::optional<double> number =
        ParseNumber(value.substr(first, last - first + 1), decimalSeparator);
    if (!number) return 0;
    // Round half to even, independent of the floating-point environment.
    const double floor = std::floor(*number);
    const double fraction = *number - floor;
    double rounded = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded += 1.0;
    if (rounded < double(std::numeric_limits<int32_t>::min()) ||
        rounded > double(std::numeric_limits<int32_t>::max())) {
        return 0;
    }
    return int32_t(rounded);
}

// ---------------------------------------------------------------------------------------------
// 3. Errors and the line reader
// ---------------------------------------------------------------------------------------------

ModelError::ModelError(std::string file, int line, const std::string& reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason), file_(std::move(file)),
      line_(line) {}

bool LineReader::Open(const std::string& filePath) {
    path = filePath;
    data.clear();
    pos = 0;
    lineNo = 0;
    std::ifstream file(filePath, std::ios::binary);
    if (!file) return false;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || size_t(size) > kMaxFileBytes) return false;
    file.seekg(0, std::ios::beg);
    data.resize(size_t(size));
    if (size > 0 && !file.read(data.data(), size)) return false;
    return true;
}

void LineReader::OpenText(std::string_view name, std::string_view text) {
    path = std::string(name);
    data = std::string(text);
    pos = 0;
    lineNo = 0;
}

bool LineReader::Next(std::string_view& line) {
    if (pos >= data.size()) return false;
    const size_t end = data.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
        line = std::string_view(data).substr(pos);
        pos = data.size();
    } else {
        line = std::string_view(data).substr(pos, end - pos);
        pos = end + 1;
        if (data[end] == '\r' && pos < data.size() && data[pos] == '\n') ++pos;
    }
    ++lineNo;
    return true;
}

std::string_view LineReader::Require(const char* what) {
    std::string_view line;
    if (!Next(line)) {
        throw ModelError(path, lineNo + 1,
                         std::string("unexpected end of file while reading ") + what);
    }
    return line;
}

void LineReader::Fail(const std::string& reason) const {
    throw ModelError(path, lineNo, reason);
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
    path.append(name);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

namespace {

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text.substr(0, 40))
        out.push_back((c >= 32 && c < 127) ? c : '?');
    if (text.size() > 40) out += "...";
    return out + "\"";
}

} // namespace

float FieldSingle(const LineReader& in, std::string_view field, std::string_view sep,
                  const char* what) {
    const std::optional<float> value = ParseNumberSingle(field, sep);
    if (!value) in.Fail(std::string(what) + " is not a number: " + Quote(field));
    return *value;
}

double FieldDouble(const LineReader& in, std::string_view field, std::string_view sep,
                   const char* what) {
    const std::optional<double> value = ParseNumber(field, sep);
    if (!value) in.Fail(std::string(what) + " is not a number: " + Quote(field));
    return *value;
}

int32_t FieldInteger(const LineReader& in, std::string_view field, const char* what) {
    const std::optional<int32_t> value = ParseInteger(field);
    if (!value) in.Fail(std::string(what) + " is not a 32-bit integer: " + Quote(field));
    return *value;
}

void RequireFields(const LineReader& in, std::string_view line, size_t count,
                   std::vector<std::string_view>& fields) {
    SplitFields(line, fields);
    if (fields.size() != count) {
        in.Fail("expected " + std::to_string(count) + " fields separated by blanks, found " +
                std::to_string(fields.size()) + ": " + Quote(line));
    }
}

void RequireAtLeastFields(const LineReader& in, std::string_view line, size_t count,
                          std::vector<std::string_view>& fields) {
    SplitFields(line, fields);
    if (fields.size() < count) {
        in.Fail("expected at least " + std::to_string(count) +
                " fields separated by blanks, found " + std::to_string(fields.size()) + ": " +
                Quote(line));
    }
}

} // namespace model
