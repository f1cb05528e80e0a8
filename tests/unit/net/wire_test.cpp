// The in-game message layouts, byte for byte, and the texts a death sends.
#include "net/net.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;

void Long(Bytes& b, int32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}

void Double(Bytes& b, double v) {
    uint64_t bits = 0;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i)
        b.push_back(uint8_t(bits >> (8 * i)));
}

void String(Bytes& b, std::string_view s) {
    Long(b, int32_t(s.size()));
    b.insert(b.end(), s.begin(), s.end());
}

} // namespace

TEST(Wire, ShortMessagesAreTheCodeAndTheirFieldsInOrder) {
    session::Message m;
    const std::vector<int32_t> ids = {7, -2, 0x01020304};
    net::WriteStart(m, ids, 7, "Ann's game (COUR)", "cour");
    Bytes start;
    Long(start, 0);
    start.push_back(3);
    for (int32_t id : ids)
        Long(start, id);
    Long(start, 7);
    String(start, "Ann's game (COUR)");
    String(start, "cour");
    EXPECT_EQ(m.Body(), start);

    net::WriteHit(m, {1.5f, -2.25f, 300.0f}, -1);
    Bytes hit;
    Long(hit, 9);
    Double(hit, 1.5);
    Double(hit, -2.25);
    Double(hit, 300.0);
    Long(hit, -1);
    EXPECT_EQ(m.Body(), hit);

    net::WriteKilled(m);
    EXPECT_EQ(m.Body(), (Bytes{10, 0, 0, 0}));

    net::WriteHost(m, 0x0A0B0C0D);
    EXPECT_EQ(m.Body(), (Bytes{8, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}));

    net::WriteChat(m, "gg");
    EXPECT_EQ(m.Body(), (Bytes{5, 0, 0, 0, 2, 0, 0, 0, 'g', 'g'}));
}

TEST(Wire, StateCarriesTwentyTwoFieldsThenTheSendersFrameAndClock) {
    auto root = scene::Frame::Create();
    auto sceneFrame = scene::Frame::Create(root);
    sceneFrame->SetPosition(root.get(), {100.0f, 0.0f, 0.0f});
    player::player p;
    p.gPlayerpositionx = 1.25;
    p.gPlayerpositiony = -2.5;
    p.gPlayerpositionz = 3.75;
    p.gPlayerori1x = 0.0;
    p.gPlayerori1y = 0.0;
    p.gPlayerori1z = 1.0;
    p.pivot = -0.125;
    p.colonne = -15;
    p.Anipos = 4;
    p.AniBuste = -1;
    p.IdArme = 11;
    p.fps = 2.5;
    p.fps2 = 3.5;
    p.idson = 1;
    p.idson2 = 1;
    p.idson3 = 1;
    p.Frmsang = scene::Frame::Create(sceneFrame);
    p.Frmsang->SetPosition(sceneFrame.get(), {1.0f, 2.0f, 3.0f});
    p.Frmsang->SetAppData(4);

    session::Message m;
    net::WriteState(m, p, root.get(), {1234, -7});
    ASSERT_EQ(m.Size(), 136u);
    EXPECT_EQ((Bytes(m.Body().begin(), m.Body().begin() + 12)),
              (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF4, 0x3F}))
        << "code 1, then the position's x as a little-endian double";
    EXPECT_EQ(m.ReadLong(), 1);
    for (double expected : {1.25, -2.5, 3.75, 0.0, 0.0, 1.0, -0.125})
        EXPECT_EQ(m.ReadDouble(), expected);
    for (int32_t expected : {-15, 4, -1, 11})
        EXPECT_EQ(m.ReadLong(), expected);
    EXPECT_EQ(m.ReadLong(), 2) << "2.5 rounds to the even 2";
    EXPECT_EQ(m.ReadLong(), 4) << "3.5 rounds to the even 4";
    EXPECT_EQ(m.ReadLong(), 3) << "alive: rendered and hittable";
    for (int32_t expected : {1, 1, 1})
        EXPECT_EQ(m.ReadLong(), expected);
    // The blood splash relative to the root: the scene frame's offset included.
    for (double expected : {101.0, 2.0, 3.0})
        EXPECT_EQ(m.ReadDouble(), expected);
    EXPECT_EQ(m.ReadLong(), 4);
    EXPECT_EQ(m.ReadPosition(), net::kStateBytesUnstamped) << "what older peers read";
    EXPECT_EQ(m.ReadLong(), 1234) << "frame number";
    EXPECT_EQ(m.ReadLong(), -7) << "sender's clock";
    EXPECT_EQ(m.Remaining(), 0u);

    // A dead player is seen but not hit.
    p.mort = true;
    net::WriteState(m, p, root.get(), {});
    m.ReadLong();
    for (int i = 0; i < 7; ++i)
        m.ReadDouble();
    for (int i = 0; i < 6; ++i)
        m.ReadLong();
    EXPECT_EQ(m.ReadLong(), 1);
}

TEST(Wire, FrameCountsRoundHalvesToEvenAndStayWithinALong) {
    EXPECT_EQ(net::RoundHalfEven(0.5), 0);
    EXPECT_EQ(net::RoundHalfEven(1.5), 2);
    EXPECT_EQ(net::RoundHalfEven(2.5), 2);
    EXPECT_EQ(net::RoundHalfEven(2.51), 3);
    EXPECT_EQ(net::RoundHalfEven(-1.5), -2);
    EXPECT_EQ(net::RoundHalfEven(-2.5), -2);
    EXPECT_EQ(net::RoundHalfEven(1e12), INT_MAX);
    EXPECT_EQ(net::RoundHalfEven(-1e12), INT_MIN);
    EXPECT_EQ(net::RoundHalfEven(std::nan("")), 0);
}

TEST(Wire, TauntsAndHudTexts) {
    EXPECT_EQ(net::Taunt("Bob", 30), "This FUCKING Bob kill ME !!!");
    EXPECT_EQ(net::Taunt("Bob", 0), "This FUCKING Bob kill ME !!!");
    EXPECT_EQ(net::Taunt("Bob", -1), "This FUCKING Bob SNIPPE ME in the HEAD !!!");
    EXPECT_EQ(net::ArrivalText(0, "Ann"), "The TERRORIST Ann come in Game.");
    EXPECT_EQ(net::ArrivalText(1, "Bob"), "The GIGN Bob come in Game.");
    EXPECT_EQ(net::LeaveText("Bob"), "Bob leave the game.");
    session::SessionDesc d;
    d.name = "Tarnhold game (COUR)";
    d.currentPlayers = 1;
    d.maxPlayers = 4;
    EXPECT_EQ(net::SessionEntry(d), "Tarnhold game (COUR) (1/4)");
}
