// platform/session/message.cpp — Message fields, Guid text form and error texts.
#include "platform/session/codec.h"
#include "platform/session/session.h"

#include <cstdio>

namespace session {

// ---------------------------------------------------------------------------------------------
// Message
// ---------------------------------------------------------------------------------------------

namespace {

// Reads one field of `body` at byte `pos` with `read` and moves pos past it; throws when the body
// ends first, leaving pos where it was.
template <class Read> auto ReadField(const std::vector<uint8_t>& body, size_t& pos, Read read) {
    codec::ByteReader r(body, pos);
    const auto v = read(r);
    if (!r.Ok()) throw MessageReadError("message field read past the end of the body");
    pos = r.Position();
    return v;
}

} // namespace

bool Message::Fits(size_t n) {
    if (!valid_ || body_.size() + n > kMaxBytes) valid_ = false;
    return valid_;
}

void Message::WriteLong(int32_t v) {
    if (Fits(4)) codec::ByteWriter(body_).U32(static_cast<uint32_t>(v));
}

void Message::WriteDouble(double v) {
    if (Fits(8)) codec::ByteWriter(body_).F64(v);
}

void Message::WriteByte(uint8_t v) {
    if (Fits(1)) codec::ByteWriter(body_).U8(v);
}

void Message::WriteString(std::string_view s) {
    if (s.size() > kMaxStringBytes) s = s.substr(0, kMaxStringBytes);
    if (!Fits(4 + s.size())) return;
    codec::ByteWriter w(body_);
    w.U32(static_cast<uint32_t>(s.size()));
    w.Bytes({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
}

int32_t Message::ReadLong() {
    return static_cast<int32_t>(
        ReadField(body_, read_, [](codec::ByteReader& r) { return r.U32(); }));
}

double Message::ReadDouble() {
    return ReadField(body_, read_, [](codec::ByteReader& r) { return r.F64(); });
}

uint8_t Message::ReadByte() {
    return ReadField(body_, read_, [](codec::ByteReader& r) { return r.U8(); });
}

// A string is read whole or not at all: on a bad length the read position stays at its count.
std::string Message::ReadString() {
    codec::ByteReader r(body_, read_);
    const int32_t n = static_cast<int32_t>(r.U32());
    if (!r.Ok()) throw MessageReadError("message field read past the end of the body");
    if (n < 0 || static_cast<size_t>(n) > kMaxStringBytes || static_cast<size_t>(n) > r.Remaining())
        throw MessageReadError("message string has a bad length");
    const auto bytes = r.Bytes(static_cast<size_t>(n));
    read_ = r.Position();
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
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
