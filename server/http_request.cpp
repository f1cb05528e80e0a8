// server/http_request.cpp — requests and replies of the HTTP front as the handlers see them,
// the strict decoding of request targets, and the masked form of a target in the access log.
//
// Index
//   1. Requests and replies
//   2. Decoding and the access-log form
#include "server/http_local.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace server {

// =============================================================================================
// 1. Requests and replies
// =============================================================================================

size_t Request::Count(std::string_view key) const {
    return size_t(std::count_if(query.begin(), query.end(),
                                [key](const auto& pair) { return pair.first == key; }));
}

std::string Request::Value(std::string_view key) const {
    for (const auto& [k, v] : query)
        if (k == key) return v;
    return {};
}

Response::Response(Response&& other) noexcept {
    *this = std::move(other);
}

Response& Response::operator=(Response&& other) noexcept {
    if (this == &other) return *this;
    if (fileFd >= 0) ::close(fileFd);
    status = other.status;
    contentType = std::move(other.contentType);
    body = std::move(other.body);
    fileFd = std::exchange(other.fileFd, -1);
    fileSize = other.fileSize;
    headers = std::move(other.headers);
    return *this;
}

Response::~Response() {
    if (fileFd >= 0) ::close(fileFd);
}

Response Response::Text(int status, std::string body) {
    Response r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

// =============================================================================================
// 2. Decoding and the access-log form
// =============================================================================================

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %-decodes `raw` into `out`; '+' becomes a space when `plusIsSpace`. False on a bad escape.
bool PercentDecode(std::string_view raw, bool plusIsSpace, std::string& out) {
    out.clear();
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '%') {
            if (i + 2 >= raw.size()) return false;
            const int high = HexDigit(raw[i + 1]), low = HexDigit(raw[i + 2]);
            if (high < 0 || low < 0) return false;
            out += char(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}

bool IsDecimal(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    return !text.empty() && text.size() <= 20 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

bool DecodePath(std::string_view raw, std::string& out) {
    if (!PercentDecode(raw, false, out)) return false;
    return std::none_of(out.begin(), out.end(),
                        [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

bool DecodeQuery(std::string_view raw, std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    bool ok = true;
    while (!raw.empty()) {
        const size_t amp = raw.find('&');
        const std::string_view pair = raw.substr(0, amp);
        raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        std::string key, value;
        ok = PercentDecode(pair.substr(0, eq), true, key) && ok;
        if (eq != std::string_view::npos)
            ok = PercentDecode(pair.substr(eq + 1), true, value) && ok;
        out.emplace_back(std::move(key), std::move(value));
    }
    return ok;
}

std::string AccessLogTarget(std::string_view target) {
    const size_t mark = target.find('?');
    std::string out;
    for (const char c : target.substr(0, mark)) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte) || byte >= 0x80 || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    if (mark == std::string_view::npos) return out;
    out += '?';
    std::string_view query = target.substr(mark + 1);
    bool first = true;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const size_t eq = pair.find('=');
        std::string key;
        if (!PercentDecode(pair.substr(0, eq), true, key)) key = "?";
        // Keys are the scripts' own upper-case words; anything else is shown by its length.
        const bool plainKey =
            !key.empty() && key.size() <= 32 && std::all_of(key.begin(), key.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_';
            });
        if (!first) out += '&';
        first = false;
        out += plainKey ? key : "[" + std::to_string(key.size()) + " bytes]";
        if (eq == std::string_view::npos) continue;
        std::string value;
        const bool decoded = PercentDecode(pair.substr(eq + 1), true, value);
        out += '=';
        if (key == "LEPWD" || key == "LEOLDPWD")
            out += "***";
        else if (decoded && IsDecimal(value))
            out += value;
        else
            out += "[" + std::to_string(value.size()) + " bytes]";
    }
    return out;
}

} // namespace server
