// platform/session/wire.h — the datagrams of the session service, encoded and decoded.
// Used by the service and by its tests and fuzz target; game code includes session.h only.
//
// Every datagram is untrusted: Decode* never read past the end, bound every length and count,
// and return nullopt for unknown kinds, bad lengths or trailing garbage. Integers are
// little-endian; strings are a 16-bit byte count and the bytes, at most kMaxNameBytes.
//
// Session datagrams (ENet packets) start with a Kind byte. Discovery datagrams (plain UDP) start
// with a 4-byte magic: "THq1" (request) or "THr1" (reply).
#pragma once

#include "platform/session/session.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace session::wire {

constexpr size_t kMaxMembers = kMaxPlayersLimit + 4; // roster entries, joiners included

// A member's rejoin secret. The host that admits a member gives it to that member alone
// (JoinAccept); the member presents it only to the member elected host after a host loss
// (Rejoin), which answers with a fresh one (RejoinAccept), so a secret is good for one rejoin.
// Rosters carry each member's verifier instead: the first bytes of the secret's SHA-256, which
// lets whoever hosts next check a rejoin without being able to make one.
constexpr size_t kSecretBytes = 16;
using Secret = std::array<uint8_t, kSecretBytes>;
using Verifier = std::array<uint8_t, kSecretBytes>; // all zero: this member cannot rejoin

enum class Kind : uint8_t {
    JoinRequest = 1,
    JoinAccept = 2,
    JoinRefuse = 3,
    Rejoin = 4,
    RejoinAccept = 5,
    CreatePlayer = 6,
    CreatePlayerReply = 7,
    DestroyPlayer = 8,
    PlayerAdded = 9,
    PlayerRemoved = 10,
    MemberAdded = 11,
    MemberRemoved = 12,
    Data = 13,
};

struct PlayerInfo {
    uint32_t id = 0;
    std::string friendly;
    std::string formal;
    bool operator==(const PlayerInfo&) const = default;
};

// One machine in the session. seq orders members by join time (the host that created the
// session is 0). ip/port: its ENet address as the host sees it (ip 0 = "the address you reach
// the sender of this roster at"), IPv4 in network byte order. verifier: see Secret.
// A stand-in entry is not a machine: it holds one more player of the host's machine (a
// computer player), always with its player, no address and no verifier, and takes a seq of its
// own so that the roster keeps one player per entry. Only the host creates one; it never
// becomes host, never rejoins, and goes with the host that created it. On the wire it is bit 1
// of the player byte (bit 0: a player follows), which peers that know no stand-ins refuse.
struct MemberInfo {
    uint32_t seq = 0;
    uint32_t ip = 0;
    uint16_t port = 0;
    Verifier verifier{};
    std::optional<PlayerInfo> player;
    bool standIn = false;
    bool operator==(const MemberInfo&) const = default;
};

struct Roster {
    uint32_t hostSeq = 0;
    uint32_t nextSeq = 1;
    uint32_t nextId = 1;
    std::vector<MemberInfo> members;
    bool operator==(const Roster&) const = default;
};

struct JoinRequest {
    Guid application;
    std::string password;
    bool operator==(const JoinRequest&) const = default;
};
struct JoinAccept {
    uint32_t yourSeq = 0;
    Secret secret{}; // the joiner's own rejoin secret
    uint64_t instance = 0;
    uint8_t maxPlayers = 0;
    uint32_t flags = 0;
    std::string name;
    Roster roster;
    bool operator==(const JoinAccept&) const = default;
};
struct JoinRefuse {
    uint8_t reason = 0; // an Error value
    bool operator==(const JoinRefuse&) const = default;
};
// A member reconnecting to the member elected host: its seq, proven by its secret.
struct Rejoin {
    Secret secret{};
    uint32_t seq = 0;
    std::optional<PlayerInfo> player;
    bool operator==(const Rejoin&) const = default;
};
struct RejoinAccept {
    Roster roster;
    Secret secret{}; // the member's next rejoin secret
    bool operator==(const RejoinAccept&) const = default;
};
struct CreatePlayer {
    std::string friendly;
    std::string formal;
    bool operator==(const CreatePlayer&) const = default;
};
struct CreatePlayerReply {
    uint32_t id = 0; // 0: refused
    bool operator==(const CreatePlayerReply&) const = default;
};
struct DestroyPlayer {
    uint32_t id = 0;
    bool operator==(const DestroyPlayer&) const = default;
};
struct PlayerAdded {
    uint32_t seq = 0; // owning member
    PlayerInfo player;
    uint32_t nextId = 0;
    bool operator==(const PlayerAdded&) const = default;
};
struct PlayerRemoved {
    uint32_t id = 0;
    bool operator==(const PlayerRemoved&) const = default;
};
struct MemberAdded {
    MemberInfo member;
    uint32_t nextSeq = 0;
    bool operator==(const MemberAdded&) const = default;
};
struct MemberRemoved {
    uint32_t seq = 0;
    bool operator==(const MemberRemoved&) const = default;
};
// An application message; body views the decoded datagram and lives as long as it.
struct Data {
    uint32_t from = 0;
    uint32_t to = 0;
    std::span<const uint8_t> body;
    bool operator==(const Data& o) const {
        return from == o.from && to == o.to &&
               std::equal(body.begin(), body.end(), o.body.begin(), o.body.end());
    }
};

using Packet = std::variant<JoinRequest, JoinAccept, JoinRefuse, Rejoin, RejoinAccept, CreatePlayer,
                            CreatePlayerReply, DestroyPlayer, PlayerAdded, PlayerRemoved,
                            MemberAdded, MemberRemoved, Data>;

// Appends the encoding of p to out (out is cleared first).
void Encode(const Packet& p, std::vector<uint8_t>& out);
// Writes the Data header (kind, from, to) before body bytes; total = kDataHeaderBytes + body.
constexpr size_t kDataHeaderBytes = 9;
void EncodeDataHeader(uint32_t from, uint32_t to, uint8_t* out);
std::optional<Packet> Decode(std::span<const uint8_t> datagram);

// ---- Discovery ----
// A request is padded with zero bytes to `size` (its whole length, at least the unpadded
// 24 bytes; decoding fills it in). A host answers only when its reply is no longer than the
// request, so discovery never multiplies the traffic sent to a forged source address.
struct EnumRequest {
    Guid application;
    uint32_t nonce = 0;
    uint16_t size = 0;
    bool operator==(const EnumRequest&) const = default;
};
struct EnumReply {
    uint32_t nonce = 0;
    Guid application;
    uint64_t instance = 0;
    uint16_t sessionPort = 0; // the host's ENet port
    uint8_t maxPlayers = 0;
    uint8_t currentPlayers = 0;
    uint8_t flags = 0; // bit 0: password protected, bit 1: host migration, kEnumStandInSeat
    std::string name;
    bool operator==(const EnumReply&) const = default;
};
// EnumReply::flags bit 2: every seat is taken but some by stand-ins, so a joiner gets in (it
// takes a stand-in's seat). Enumerators that do not know it see a full session.
constexpr uint8_t kEnumStandInSeat = 4;
constexpr size_t kMaxDiscoveryBytes = 512;
// The longest reply (a session name of kMaxNameBytes): the size every enumerator pads to.
constexpr size_t kMaxEnumReplyBytes = 39 + kMaxNameBytes;
constexpr size_t kEnumRequestBytes = kMaxEnumReplyBytes;
static_assert(kEnumRequestBytes <= kMaxDiscoveryBytes);

void EncodeEnumRequest(const EnumRequest& r, std::vector<uint8_t>& out);
void EncodeEnumReply(const EnumReply& r, std::vector<uint8_t>& out);
std::optional<EnumRequest> DecodeEnumRequest(std::span<const uint8_t> datagram);
std::optional<EnumReply> DecodeEnumReply(std::span<const uint8_t> datagram);

} // namespace session::wire
