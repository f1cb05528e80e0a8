// Session and discovery datagrams: every kind round-trips, and hostile bytes are refused.
#include "platform/session/wire.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace wire = session::wire;

namespace {

// 16 bytes counting up from `first`: a secret or a verifier that shows where it landed.
std::array<uint8_t, wire::kSecretBytes> Bytes16(uint8_t first) {
    std::array<uint8_t, wire::kSecretBytes> b{};
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(first + i);
    return b;
}

wire::Roster SampleRoster() {
    wire::Roster r;
    r.hostSeq = 0;
    r.nextSeq = 4;
    r.nextId = 45;
    r.members.push_back({0, 0, 4000, {}, wire::PlayerInfo{41, "Ann", "0ter"}});
    r.members.push_back({1, 0x7F000001, 4001, Bytes16(0x10), std::nullopt});
    r.members.push_back({2, 0x7F000001, 4002, Bytes16(0x20), wire::PlayerInfo{43, "Bob", "1gign"}});
    r.members.push_back({3, 0, 0, {}, wire::PlayerInfo{44, "Bot", "0"}, true}); // a stand-in
    return r;
}

std::vector<wire::Packet> EveryKind() {
    const session::Guid g = *session::Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");
    static const std::vector<uint8_t> body = {5, 0, 0, 0, 2, 0, 0, 0, 'h', 'i'};
    return {
        wire::JoinRequest{g, "secret"},
        wire::JoinAccept{2, Bytes16(0xA0), 99, 4, session::kSessionMigrateHost, "Dust",
                         SampleRoster()},
        wire::JoinRefuse{static_cast<uint8_t>(session::Error::SessionFull)},
        wire::Rejoin{Bytes16(0xB0), 2, wire::PlayerInfo{43, "Bob", "1gign"}},
        wire::Rejoin{Bytes16(7), 1, std::nullopt},
        wire::RejoinAccept{SampleRoster(), Bytes16(0xC0)},
        wire::CreatePlayer{"Bob", "1gign"},
        wire::CreatePlayerReply{43},
        wire::DestroyPlayer{43},
        wire::PlayerAdded{2, wire::PlayerInfo{43, "Bob", "1gign"}, 44},
        wire::PlayerRemoved{43},
        wire::MemberAdded{{2, 0x7F000001, 4002, Bytes16(0x20), std::nullopt}, 3},
        wire::MemberRemoved{2},
        wire::Data{41, 0, body},
    };
}

} // namespace

TEST(Wire, EveryKindRoundTripsAndEveryTruncationIsRefused) {
    for (const wire::Packet& p : EveryKind()) {
        std::vector<uint8_t> bytes;
        wire::Encode(p, bytes);
        const auto back = wire::Decode(bytes);
        ASSERT_TRUE(back) << "kind " << p.index();
        EXPECT_EQ(*back, p) << "kind " << p.index();

        // Data carries its body to the end of the datagram, so only cuts into the header fail.
        const size_t minimum =
            std::holds_alternative<wire::Data>(p) ? wire::kDataHeaderBytes : bytes.size();
        for (size_t n = 0; n < minimum; ++n)
            EXPECT_FALSE(wire::Decode(std::span(bytes.data(), n)))
                << "kind " << p.index() << " cut at " << n;
        if (!std::holds_alternative<wire::Data>(p)) {
            bytes.push_back(0);
            EXPECT_FALSE(wire::Decode(bytes)) << "trailing byte after kind " << p.index();
        }
    }
}

TEST(Wire, DataHeaderMatchesTheEncoder) {
    const std::vector<uint8_t> body = {1, 2, 3};
    std::vector<uint8_t> a;
    wire::Encode(wire::Data{0x01020304, 0xA0B0C0D0, body}, a);
    std::vector<uint8_t> b(wire::kDataHeaderBytes);
    wire::EncodeDataHeader(0x01020304, 0xA0B0C0D0, b.data());
    b.insert(b.end(), body.begin(), body.end());
    EXPECT_EQ(a, b);
}

TEST(Wire, HostileDatagramsAreRefused) {
    EXPECT_FALSE(wire::Decode({}));
    const uint8_t unknown[] = {0, 1, 2, 3};
    EXPECT_FALSE(wire::Decode(unknown));
    const uint8_t unknown2[] = {200};
    EXPECT_FALSE(wire::Decode(unknown2));

    // A string length pointing past the end.
    const uint8_t longName[] = {uint8_t(wire::Kind::CreatePlayer), 0xFF, 0x00, 'a'};
    EXPECT_FALSE(wire::Decode(longName));

    // A roster announcing more members than allowed, duplicated seqs and a player id 0.
    wire::Roster r = SampleRoster();
    std::vector<uint8_t> bytes;
    wire::Encode(wire::RejoinAccept{r}, bytes);
    std::vector<uint8_t> tooMany = bytes;
    tooMany[13] = uint8_t(wire::kMaxMembers + 1);
    EXPECT_FALSE(wire::Decode(tooMany));
    r.members[2].seq = 1;
    wire::Encode(wire::RejoinAccept{r}, bytes);
    EXPECT_FALSE(wire::Decode(bytes)) << "duplicate member seq";
    r = SampleRoster();
    r.members[2].player->id = 41;
    wire::Encode(wire::RejoinAccept{r}, bytes);
    EXPECT_FALSE(wire::Decode(bytes)) << "duplicate player id";
    wire::Encode(wire::PlayerAdded{2, wire::PlayerInfo{0, "x", "y"}, 1}, bytes);
    EXPECT_FALSE(wire::Decode(bytes)) << "player id 0";
    wire::Encode(wire::Rejoin{Bytes16(1), 1, wire::PlayerInfo{5, "a", "b"}}, bytes);
    bytes[21] = 2; // "has player" flag neither 0 nor 1
    EXPECT_FALSE(wire::Decode(bytes));
    // A member's player byte: a stand-in always has its player; unknown bits are refused.
    wire::Encode(wire::MemberAdded{{5, 0, 0, {}, std::nullopt}, 6}, bytes);
    ASSERT_EQ(bytes[27], 0);
    for (uint8_t flags : {2, 4, 5}) {
        bytes[27] = flags;
        EXPECT_FALSE(wire::Decode(bytes)) << int(flags);
    }

    // Random bytes never crash the decoder; whatever decodes re-encodes to the same bytes.
    std::mt19937 rng(1234);
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> junk(rng() % 64);
        for (auto& b : junk)
            b = uint8_t(rng());
        if (!junk.empty()) junk[0] = uint8_t(1 + rng() % 13);
        if (auto p = wire::Decode(junk)) {
            std::vector<uint8_t> again;
            wire::Encode(*p, again);
            EXPECT_EQ(again, junk);
        }
        wire::DecodeEnumRequest(junk);
        wire::DecodeEnumReply(junk);
    }
}

TEST(Wire, DiscoveryDatagramsRoundTripAndCheckTheirFields) {
    const session::Guid g = *session::Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");
    std::vector<uint8_t> bytes;
    wire::EncodeEnumRequest({g, 77}, bytes);
    EXPECT_EQ(wire::DecodeEnumRequest(bytes), (wire::EnumRequest{g, 77, 24}));
    EXPECT_FALSE(wire::DecodeEnumReply(bytes)) << "a request is not a reply";
    bytes.pop_back();
    EXPECT_FALSE(wire::DecodeEnumRequest(bytes));

    // Requests are padded with zeros to the longest reply, so that a reply is never longer than
    // the request it answers; padding that is not zero is refused.
    wire::EncodeEnumRequest({g, 78, uint16_t(wire::kEnumRequestBytes)}, bytes);
    ASSERT_EQ(bytes.size(), wire::kEnumRequestBytes);
    EXPECT_EQ(wire::DecodeEnumRequest(bytes), (wire::EnumRequest{g, 78, uint16_t(bytes.size())}));
    bytes.back() = 1;
    EXPECT_FALSE(wire::DecodeEnumRequest(bytes));
    std::vector<uint8_t> longest;
    wire::EncodeEnumReply({1, g, 2, 3, 4, 4, 0, std::string(400, 'x')}, longest);
    EXPECT_EQ(longest.size(), wire::kMaxEnumReplyBytes) << "names are cut to kMaxNameBytes";

    wire::EnumReply rep{77, g, 123456789, 40000, 4, 1, 3, "Dust (de_dust)"};
    wire::EncodeEnumReply(rep, bytes);
    EXPECT_EQ(wire::DecodeEnumReply(bytes), rep);
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(wire::DecodeEnumReply(std::span(bytes.data(), n)));

    // Replies with impossible contents are dropped.
    wire::EnumReply bad = rep;
    bad.currentPlayers = 5;
    wire::EncodeEnumReply(bad, bytes);
    EXPECT_FALSE(wire::DecodeEnumReply(bytes));
    bad = rep;
    bad.sessionPort = 0;
    wire::EncodeEnumReply(bad, bytes);
    EXPECT_FALSE(wire::DecodeEnumReply(bytes));
    bad = rep;
    bad.maxPlayers = 0;
    bad.currentPlayers = 0;
    wire::EncodeEnumReply(bad, bytes);
    EXPECT_FALSE(wire::DecodeEnumReply(bytes));
}
