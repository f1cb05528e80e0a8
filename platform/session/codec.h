// platform/session/codec.h — the little-endian byte codec of the session service.
// Internal to platform/session: Message fields and the service's datagrams are both written and
// read through it, so every integer on the wire has one encoding and one bounded reader.
//
// ByteWriter appends to a vector and never fails; size limits are the caller's (Message refuses
// writes past its kMaxBytes before writing). ByteReader reads an untrusted span and never reads
// past its end: a field that does not fit fails the reader, yields zero (or an empty span) and
// leaves the position where it was; once failed, every further read fails the same way. Callers
// decide what a failure means: Message throws MessageReadError, the datagram decoders drop the
// datagram.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace session::codec {

// Stores v as 4 little-endian bytes at out[0..3].
inline void StoreU32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v) { Le(v, 2); }
    void U32(uint32_t v) { Le(v, 4); }
    void U64(uint64_t v) { Le(v, 8); }
    void F64(double v) { U64(std::bit_cast<uint64_t>(v)); } // IEEE-754 bits
    void Bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    // Pads with zero bytes until the output holds `total` bytes (nothing when it already does).
    void ZerosUpTo(size_t total) {
        if (out_.size() < total) out_.resize(total, 0);
    }

private:
    void Le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t>& out_;
};

class ByteReader {
public:
    // Reads `in` from byte `pos` on (pos beyond the end fails the first read).
    explicit ByteReader(std::span<const uint8_t> in, size_t pos = 0)
        : in_(in), pos_(pos), ok_(pos <= in.size()) {}

    bool Ok() const { return ok_; }
    void Fail() { ok_ = false; }
    size_t Position() const { return pos_; }
    size_t Size() const { return in_.size(); }
    size_t Remaining() const { return ok_ ? in_.size() - pos_ : 0; }
    bool AtEnd() const { return pos_ == in_.size(); }

    uint8_t U8() { return static_cast<uint8_t>(Le(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Le(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Le(4)); }
    uint64_t U64() { return Le(8); }
    double F64() { return std::bit_cast<double>(U64()); }

    // The next n bytes, viewing the input (empty on failure).
    std::span<const uint8_t> Bytes(size_t n) {
        if (!Fits(n)) return {};
        const auto b = in_.subspan(pos_, n);
        pos_ += n;
        return b;
    }
    template <size_t N> void FixedBytes(std::array<uint8_t, N>& out) {
        const auto b = Bytes(N);
        if (ok_) std::copy(b.begin(), b.end(), out.begin());
    }
    // Everything left, viewing the input.
    std::span<const uint8_t> Rest() { return Bytes(Remaining()); }
    // Consumes the rest, which must be zero bytes.
    void ZeroPadding() {
        for (; ok_ && pos_ < in_.size(); ++pos_)
            if (in_[pos_] != 0) Fail();
    }

private:
    bool Fits(size_t n) {
        if (!ok_ || in_.size() - pos_ < n) ok_ = false;
        return ok_;
    }
    uint64_t Le(int n) {
        if (!Fits(static_cast<size_t>(n))) return 0;
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint64_t(in_[pos_ + static_cast<size_t>(i)]) << (8 * i);
        pos_ += static_cast<size_t>(n);
        return v;
    }

    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace session::codec
