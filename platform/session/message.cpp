// platform/session/message.cpp — Message fields, Guid text form and error texts.
#include "platform/session/session.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace session {

// ---------------------------------------------------------------------------------------------
// Message
// ---------------------------------------------------------------------------------------------

void Message::Append(const uint8_t* p, size_t n) {
    if (!valid_ || body_.size() + n > kMaxBytes) {
        valid_ = false;
        return;
    }
    body_.insert(body_.end(), p, p + n);
}

void Message::Take(uint8_t* p, size_t n) {
    if (n > Remaining()) throw MessageReadError("message field read past the end of the body");
    std::memcpy(p, body_.data() + read_, n);
    read_ += n;
}

void Message::WriteLong(int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    const uint8_t b[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    Append(b, 4);
}

void Message::WriteDouble(double v) {
    const uint64_t u = std::bit_cast<uint64_t>(v);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = uint8_t(u >> (8 * i));
    Append(b, 8);
}

void Message::WriteByte(uint8_t v) {
    Append(&v, 1);
}

void Message::WriteString(std::string_view s) {
    if (s.size() > kMaxStringBytes) s = s.substr(0, kMaxStringBytes);
    if (!valid_ || body_.size() + 4 + s.size() > kMaxBytes) {
        valid_ = false;
        return;
    }
    WriteLong(static_cast<int32_t>(s.size()));
    Append(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

int32_t Message::ReadLong() {
    uint8_t b[4];
    Take(b, 4);
    return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                uint32_t(b[3]) << 24);
}

double Message::ReadDouble() {
    uint8_t b[8];
    Take(b, 8);
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u |= uint64_t(b[i]) << (8 * i);
    return std::bit_cast<double>(u);
}

uint8_t Message::ReadByte() {
    uint8_t b;
    Take(&b, 1);
    return b;
}

std::string Message::ReadString() {
    const size_t start = read_;
    const int32_t n = ReadLong();
    if (n < 0 || static_cast<size_t>(n) > kMaxStringBytes || static_cast<size_t>(n) > Remaining()) {
        read_ = start;
        throw MessageReadError("message string has a bad length");
    }
    std::string s(reinterpret_cast<const char*>(body_.data() + read_), static_cast<size_t>(n));
    read_ += static_cast<size_t>(n);
    return s;
}

void Message::Clear() {
    body_.clear();
    read_ = 0;
    valid_ = true;
}

// ---------------------------------------------------------------------------------------------
// Guid
// ---------------------------------------------------------------------------------------------

bool Guid::IsNull() const {
    for (uint8_t b : bytes)
        if (b != 0) return false;
    return true;
}

// Bytes are kept in the order the text shows them.
std::string Guid::ToString() const {
    char s[40];
    std::snprintf(
        s, sizeof s, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
        bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
        bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return s;
}

std::optional<Guid> Guid::Parse(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    Guid g;
    size_t out = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[i + k];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            v = v * 16 + d;
        }
        if (i + 1 == 8 || i + 1 == 13 || i + 1 == 18 || i + 1 == 23) return std::nullopt;
        g.bytes[out++] = static_cast<uint8_t>(v);
        i += 2;
    }
    return g;
}

const char* ErrorText(Error e) {
    switch (e) {
    case Error::Ok:
        return "ok";
    case Error::NotInitialized:
        return "the session service is not initialised";
    case Error::InvalidParam:
        return "invalid parameter";
    case Error::AlreadyOpen:
        return "a session is already open";
    case Error::NotOpen:
        return "no session is open";
    case Error::NetworkFailure:
        return "network sockets could not be opened";
    case Error::NoSuchSession:
        return "the session could not be reached";
    case Error::WrongGuid:
        return "the session belongs to another application";
    case Error::WrongPassword:
        return "wrong password";
    case Error::SessionFull:
        return "the session is full";
    case Error::InvalidPlayer:
        return "invalid player";
    case Error::PlayerExists:
        return "the local player already exists";
    case Error::MessageTooLarge:
        return "message too large";
    case Error::Timeout:
        return "the host did not answer in time";
    }
    return "unknown error";
}

} // namespace session
