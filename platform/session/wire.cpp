// platform/session/wire.cpp — encoding and bounded decoding of session and discovery datagrams.
#include "platform/session/wire.h"

#include <algorithm>
#include <cstring>

namespace session::wire {
namespace {

// ---- Writer / Reader ------------------------------------------------------------------------

class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v) { Le(v, 2); }
    void U32(uint32_t v) { Le(v, 4); }
    void U64(uint64_t v) { Le(v, 8); }
    void Str(const std::string& s) {
        const size_t n = std::min(s.size(), kMaxNameBytes);
        U16(static_cast<uint16_t>(n));
        out_.insert(out_.end(), s.begin(), s.begin() + static_cast<ptrdiff_t>(n));
    }
    void Bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
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

// Reads fields from an untrusted span; any failure sets ok() false and yields zero values.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool ok() const { return ok_; }
    bool AtEnd() const { return pos_ == in_.size(); }
    uint8_t U8() { return static_cast<uint8_t>(Le(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Le(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Le(4)); }
    uint64_t U64() { return Le(8); }
    std::string Str() {
        const uint16_t n = U16();
        if (!ok_ || n > kMaxNameBytes || n > in_.size() - pos_) return Fail(), std::string();
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    std::span<const uint8_t> Rest() {
        auto r = in_.subspan(pos_);
        pos_ = in_.size();
        return r;
    }
    Guid GuidField() {
        Guid g;
        FixedBytes(g.bytes);
        return g;
    }
    template <size_t N> void FixedBytes(std::array<uint8_t, N>& out) {
        if (!ok_ || in_.size() - pos_ < N) return Fail();
        std::memcpy(out.data(), in_.data() + pos_, N);
        pos_ += N;
    }
    // Consumes the rest, which must be zero bytes.
    void ZeroPadding() {
        for (; pos_ < in_.size(); ++pos_)
            if (in_[pos_] != 0) Fail();
    }
    size_t Size() const { return in_.size(); }
    void Fail() { ok_ = false; }

private:
    uint64_t Le(int n) {
        if (!ok_ || in_.size() - pos_ < static_cast<size_t>(n)) return Fail(), 0;
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint64_t(in_[pos_ + i]) << (8 * i);
        pos_ += static_cast<size_t>(n);
        return v;
    }
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// ---- Shared pieces ----------------------------------------------------------------------------

void PutPlayer(Writer& w, const PlayerInfo& p) {
    w.U32(p.id);
    w.Str(p.friendly);
    w.Str(p.formal);
}
PlayerInfo GetPlayer(Reader& r) {
    PlayerInfo p;
    p.id = r.U32();
    p.friendly = r.Str();
    p.formal = r.Str();
    if (p.id == 0) r.Fail(); // player ids are never 0
    return p;
}
void PutOptPlayer(Writer& w, const std::optional<PlayerInfo>& p) {
    w.U8(p ? 1 : 0);
    if (p) PutPlayer(w, *p);
}
std::optional<PlayerInfo> GetOptPlayer(Reader& r) {
    const uint8_t has = r.U8();
    if (has > 1) r.Fail();
    if (has != 1 || !r.ok()) return std::nullopt;
    return GetPlayer(r);
}
void PutMember(Writer& w, const MemberInfo& m) {
    w.U32(m.seq);
    w.U32(m.ip);
    w.U16(m.port);
    w.Bytes(m.verifier);
    PutOptPlayer(w, m.player);
}
MemberInfo GetMember(Reader& r) {
    MemberInfo m;
    m.seq = r.U32();
    m.ip = r.U32();
    m.port = r.U16();
    r.FixedBytes(m.verifier);
    m.player = GetOptPlayer(r);
    return m;
}
void PutRoster(Writer& w, const Roster& ro) {
    w.U32(ro.hostSeq);
    w.U32(ro.nextSeq);
    w.U32(ro.nextId);
    const size_t n = std::min(ro.members.size(), kMaxMembers);
    w.U8(static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i)
        PutMember(w, ro.members[i]);
}
Roster GetRoster(Reader& r) {
    Roster ro;
    ro.hostSeq = r.U32();
    ro.nextSeq = r.U32();
    ro.nextId = r.U32();
    const uint8_t n = r.U8();
    if (n > kMaxMembers) return r.Fail(), ro;
    for (uint8_t i = 0; i < n && r.ok(); ++i) {
        MemberInfo m = GetMember(r);
        // Members are unique by seq and players by id; a roster breaking that is refused.
        for (const MemberInfo& o : ro.members)
            if (o.seq == m.seq || (o.player && m.player && o.player->id == m.player->id)) r.Fail();
        ro.members.push_back(std::move(m));
    }
    return ro;
}

constexpr uint8_t kRequestMagic[4] = {'T', 'H', 'q', '1'};
constexpr uint8_t kReplyMagic[4] = {'T', 'H', 'r', '1'};

bool HasMagic(Reader& r, const uint8_t (&magic)[4]) {
    for (uint8_t m : magic)
        if (r.U8() != m) return false;
    return r.ok();
}

} // namespace

// ---- Session datagrams ------------------------------------------------------------------------

void Encode(const Packet& p, std::vector<uint8_t>& out) {
    out.clear();
    Writer w(out);
    w.U8(static_cast<uint8_t>(p.index() + 1));
    std::visit(
        [&w](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, JoinRequest>) {
                w.Bytes(v.application.bytes);
                w.Str(v.password);
            } else if constexpr (std::is_same_v<T, JoinAccept>) {
                w.U32(v.yourSeq);
                w.Bytes(v.secret);
                w.U64(v.instance);
                w.U8(v.maxPlayers);
                w.U32(v.flags);
                w.Str(v.name);
                PutRoster(w, v.roster);
            } else if constexpr (std::is_same_v<T, JoinRefuse>) {
                w.U8(v.reason);
            } else if constexpr (std::is_same_v<T, Rejoin>) {
                w.Bytes(v.secret);
                w.U32(v.seq);
                PutOptPlayer(w, v.player);
            } else if constexpr (std::is_same_v<T, RejoinAccept>) {
                PutRoster(w, v.roster);
                w.Bytes(v.secret);
            } else if constexpr (std::is_same_v<T, CreatePlayer>) {
                w.Str(v.friendly);
                w.Str(v.formal);
            } else if constexpr (std::is_same_v<T, CreatePlayerReply>) {
                w.U32(v.id);
            } else if constexpr (std::is_same_v<T, DestroyPlayer>) {
                w.U32(v.id);
            } else if constexpr (std::is_same_v<T, PlayerAdded>) {
                w.U32(v.seq);
                PutPlayer(w, v.player);
                w.U32(v.nextId);
            } else if constexpr (std::is_same_v<T, PlayerRemoved>) {
                w.U32(v.id);
            } else if constexpr (std::is_same_v<T, MemberAdded>) {
                PutMember(w, v.member);
                w.U32(v.nextSeq);
            } else if constexpr (std::is_same_v<T, MemberRemoved>) {
                w.U32(v.seq);
            } else if constexpr (std::is_same_v<T, Data>) {
                w.U32(v.from);
                w.U32(v.to);
                w.Bytes(v.body);
            }
        },
        p);
}

void EncodeDataHeader(uint32_t from, uint32_t to, uint8_t* out) {
    out[0] = static_cast<uint8_t>(Kind::Data);
    for (int i = 0; i < 4; ++i) {
        out[1 + i] = static_cast<uint8_t>(from >> (8 * i));
        out[5 + i] = static_cast<uint8_t>(to >> (8 * i));
    }
}

std::optional<Packet> Decode(std::span<const uint8_t> datagram) {
    if (datagram.empty() || datagram.size() > kDataHeaderBytes + Message::kMaxBytes)
        return std::nullopt;
    Reader r(datagram);
    Packet p;
    switch (static_cast<Kind>(r.U8())) {
    case Kind::JoinRequest: {
        JoinRequest v;
        v.application = r.GuidField();
        v.password = r.Str();
        p = std::move(v);
        break;
    }
    case Kind::JoinAccept: {
        JoinAccept v;
        v.yourSeq = r.U32();
        r.FixedBytes(v.secret);
        v.instance = r.U64();
        v.maxPlayers = r.U8();
        v.flags = r.U32();
        v.name = r.Str();
        v.roster = GetRoster(r);
        if (v.maxPlayers < 1 || v.maxPlayers > kMaxPlayersLimit) r.Fail();
        p = std::move(v);
        break;
    }
    case Kind::JoinRefuse:
        p = JoinRefuse{r.U8()};
        break;
    case Kind::Rejoin: {
        Rejoin v;
        r.FixedBytes(v.secret);
        v.seq = r.U32();
        v.player = GetOptPlayer(r);
        p = std::move(v);
        break;
    }
    case Kind::RejoinAccept: {
        RejoinAccept v;
        v.roster = GetRoster(r);
        r.FixedBytes(v.secret);
        p = std::move(v);
        break;
    }
    case Kind::CreatePlayer: {
        CreatePlayer v;
        v.friendly = r.Str();
        v.formal = r.Str();
        p = std::move(v);
        break;
    }
    case Kind::CreatePlayerReply:
        p = CreatePlayerReply{r.U32()};
        break;
    case Kind::DestroyPlayer:
        p = DestroyPlayer{r.U32()};
        break;
    case Kind::PlayerAdded: {
        PlayerAdded v;
        v.seq = r.U32();
        v.player = GetPlayer(r);
        v.nextId = r.U32();
        p = std::move(v);
        break;
    }
    case Kind::PlayerRemoved:
        p = PlayerRemoved{r.U32()};
        break;
    case Kind::MemberAdded: {
        MemberAdded v;
        v.member = GetMember(r);
        v.nextSeq = r.U32();
        p = std::move(v);
        break;
    }
    case Kind::MemberRemoved:
        p = MemberRemoved{r.U32()};
        break;
    case Kind::Data: {
        Data v;
        v.from = r.U32();
        v.to = r.U32();
        v.body = r.Rest();
        p = v;
        break;
    }
    default:
        return std::nullopt;
    }
    if (!r.ok() || !r.AtEnd()) return std::nullopt;
    return p;
}

// ---- Discovery datagrams ----------------------------------------------------------------------

void EncodeEnumRequest(const EnumRequest& q, std::vector<uint8_t>& out) {
    out.clear();
    Writer w(out);
    w.Bytes(kRequestMagic);
    w.Bytes(q.application.bytes);
    w.U32(q.nonce);
    w.ZerosUpTo(q.size);
}

void EncodeEnumReply(const EnumReply& a, std::vector<uint8_t>& out) {
    out.clear();
    Writer w(out);
    w.Bytes(kReplyMagic);
    w.U32(a.nonce);
    w.Bytes(a.application.bytes);
    w.U64(a.instance);
    w.U16(a.sessionPort);
    w.U8(a.maxPlayers);
    w.U8(a.currentPlayers);
    w.U8(a.flags);
    w.Str(a.name);
}

std::optional<EnumRequest> DecodeEnumRequest(std::span<const uint8_t> datagram) {
    if (datagram.size() > kMaxDiscoveryBytes) return std::nullopt;
    Reader r(datagram);
    if (!HasMagic(r, kRequestMagic)) return std::nullopt;
    EnumRequest q;
    q.application = r.GuidField();
    q.nonce = r.U32();
    r.ZeroPadding();
    if (!r.ok()) return std::nullopt;
    q.size = static_cast<uint16_t>(r.Size());
    return q;
}

std::optional<EnumReply> DecodeEnumReply(std::span<const uint8_t> datagram) {
    if (datagram.size() > kMaxDiscoveryBytes) return std::nullopt;
    Reader r(datagram);
    if (!HasMagic(r, kReplyMagic)) return std::nullopt;
    EnumReply a;
    a.nonce = r.U32();
    a.application = r.GuidField();
    a.instance = r.U64();
    a.sessionPort = r.U16();
    a.maxPlayers = r.U8();
    a.currentPlayers = r.U8();
    a.flags = r.U8();
    a.name = r.Str();
    if (!r.ok() || !r.AtEnd() || a.sessionPort == 0 || a.maxPlayers < 1 ||
        a.maxPlayers > kMaxPlayersLimit || a.currentPlayers > a.maxPlayers)
        return std::nullopt;
    return a;
}

} // namespace session::wire
