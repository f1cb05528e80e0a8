// platform/session/wire.cpp — encoding and bounded decoding of session and discovery datagrams.
#include "platform/session/wire.h"
#include "platform/session/codec.h"

#include <algorithm>

namespace session::wire {
namespace {

using codec::ByteReader;
using codec::ByteWriter;

// ---- Names and ids ----------------------------------------------------------------------------

// A name: a 16-bit byte count and the bytes, cut to kMaxNameBytes when written.
void PutName(ByteWriter& w, const std::string& s) {
    const size_t n = std::min(s.size(), kMaxNameBytes);
    w.U16(static_cast<uint16_t>(n));
    w.Bytes({reinterpret_cast<const uint8_t*>(s.data()), n});
}
// A name longer than kMaxNameBytes or than the datagram fails the reader.
std::string GetName(ByteReader& r) {
    const uint16_t n = r.U16();
    if (!r.Ok() || n > kMaxNameBytes || n > r.Remaining()) return r.Fail(), std::string();
    const auto b = r.Bytes(n);
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}
Guid GetGuid(ByteReader& r) {
    Guid g;
    r.FixedBytes(g.bytes);
    return g;
}

// ---- Shared pieces ----------------------------------------------------------------------------

void PutPlayer(ByteWriter& w, const PlayerInfo& p) {
    w.U32(p.id);
    PutName(w, p.friendly);
    PutName(w, p.formal);
}
PlayerInfo GetPlayer(ByteReader& r) {
    PlayerInfo p;
    p.id = r.U32();
    p.friendly = GetName(r);
    p.formal = GetName(r);
    if (p.id == 0) r.Fail(); // player ids are never 0
    return p;
}
void PutOptPlayer(ByteWriter& w, const std::optional<PlayerInfo>& p) {
    w.U8(p ? 1 : 0);
    if (p) PutPlayer(w, *p);
}
std::optional<PlayerInfo> GetOptPlayer(ByteReader& r) {
    const uint8_t has = r.U8();
    if (has > 1) r.Fail();
    if (has != 1 || !r.Ok()) return std::nullopt;
    return GetPlayer(r);
}
// A member's player byte: bit 0 a player follows, bit 1 the entry is a stand-in (which always
// has its player).
constexpr uint8_t kHasPlayer = 1;
constexpr uint8_t kStandIn = 2;

void PutMember(ByteWriter& w, const MemberInfo& m) {
    w.U32(m.seq);
    w.U32(m.ip);
    w.U16(m.port);
    w.Bytes(m.verifier);
    const bool standIn = m.standIn && m.player;
    w.U8(static_cast<uint8_t>((m.player ? kHasPlayer : 0) | (standIn ? kStandIn : 0)));
    if (m.player) PutPlayer(w, *m.player);
}
MemberInfo GetMember(ByteReader& r) {
    MemberInfo m;
    m.seq = r.U32();
    m.ip = r.U32();
    m.port = r.U16();
    r.FixedBytes(m.verifier);
    const uint8_t flags = r.U8();
    if (flags != 0 && flags != kHasPlayer && flags != (kHasPlayer | kStandIn)) r.Fail();
    if (!r.Ok()) return m;
    m.standIn = (flags & kStandIn) != 0;
    if (flags & kHasPlayer) m.player = GetPlayer(r);
    return m;
}
void PutRoster(ByteWriter& w, const Roster& ro) {
    w.U32(ro.hostSeq);
    w.U32(ro.nextSeq);
    w.U32(ro.nextId);
    const size_t n = std::min(ro.members.size(), kMaxMembers);
    w.U8(static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i)
        PutMember(w, ro.members[i]);
}
Roster GetRoster(ByteReader& r) {
    Roster ro;
    ro.hostSeq = r.U32();
    ro.nextSeq = r.U32();
    ro.nextId = r.U32();
    const uint8_t n = r.U8();
    if (n > kMaxMembers) return r.Fail(), ro;
    for (uint8_t i = 0; i < n && r.Ok(); ++i) {
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

bool HasMagic(ByteReader& r, const uint8_t (&magic)[4]) {
    for (uint8_t m : magic)
        if (r.U8() != m) return false;
    return r.Ok();
}

} // namespace

// ---- Session datagrams ------------------------------------------------------------------------

void Encode(const Packet& p, std::vector<uint8_t>& out) {
    out.clear();
    ByteWriter w(out);
    w.U8(static_cast<uint8_t>(p.index() + 1));
    std::visit(
        [&w](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, JoinRequest>) {
                w.Bytes(v.application.bytes);
                PutName(w, v.password);
            } else if constexpr (std::is_same_v<T, JoinAccept>) {
                w.U32(v.yourSeq);
                w.Bytes(v.secret);
                w.U64(v.instance);
                w.U8(v.maxPlayers);
                w.U32(v.flags);
                PutName(w, v.name);
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
                PutName(w, v.friendly);
                PutName(w, v.formal);
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
    codec::StoreU32(out + 1, from);
    codec::StoreU32(out + 5, to);
}

std::optional<Packet> Decode(std::span<const uint8_t> datagram) {
    if (datagram.empty() || datagram.size() > kDataHeaderBytes + Message::kMaxBytes)
        return std::nullopt;
    ByteReader r(datagram);
    Packet p;
    switch (static_cast<Kind>(r.U8())) {
    case Kind::JoinRequest: {
        JoinRequest v;
        v.application = GetGuid(r);
        v.password = GetName(r);
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
        v.name = GetName(r);
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
        v.friendly = GetName(r);
        v.formal = GetName(r);
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
    if (!r.Ok() || !r.AtEnd()) return std::nullopt;
    return p;
}

// ---- Discovery datagrams ----------------------------------------------------------------------

void EncodeEnumRequest(const EnumRequest& q, std::vector<uint8_t>& out) {
    out.clear();
    ByteWriter w(out);
    w.Bytes(kRequestMagic);
    w.Bytes(q.application.bytes);
    w.U32(q.nonce);
    w.ZerosUpTo(q.size);
}

void EncodeEnumReply(const EnumReply& a, std::vector<uint8_t>& out) {
    out.clear();
    ByteWriter w(out);
    w.Bytes(kReplyMagic);
    w.U32(a.nonce);
    w.Bytes(a.application.bytes);
    w.U64(a.instance);
    w.U16(a.sessionPort);
    w.U8(a.maxPlayers);
    w.U8(a.currentPlayers);
    w.U8(a.flags);
    PutName(w, a.name);
}

std::optional<EnumRequest> DecodeEnumRequest(std::span<const uint8_t> datagram) {
    if (datagram.size() > kMaxDiscoveryBytes) return std::nullopt;
    ByteReader r(datagram);
    if (!HasMagic(r, kRequestMagic)) return std::nullopt;
    EnumRequest q;
    q.application = GetGuid(r);
    q.nonce = r.U32();
    r.ZeroPadding();
    if (!r.Ok()) return std::nullopt;
    q.size = static_cast<uint16_t>(r.Size());
    return q;
}

std::optional<EnumReply> DecodeEnumReply(std::span<const uint8_t> datagram) {
    if (datagram.size() > kMaxDiscoveryBytes) return std::nullopt;
    ByteReader r(datagram);
    if (!HasMagic(r, kReplyMagic)) return std::nullopt;
    EnumReply a;
    a.nonce = r.U32();
    a.application = GetGuid(r);
    a.instance = r.U64();
    a.sessionPort = r.U16();
    a.maxPlayers = r.U8();
    a.currentPlayers = r.U8();
    a.flags = r.U8();
    a.name = GetName(r);
    if (!r.Ok() || !r.AtEnd() || a.sessionPort == 0 || a.maxPlayers < 1 ||
        a.maxPlayers > kMaxPlayersLimit || a.currentPlayers > a.maxPlayers)
        return std::nullopt;
    return a;
}

} // namespace session::wire
