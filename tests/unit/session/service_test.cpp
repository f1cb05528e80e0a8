// Sessions between services in one process over loopback: join rules, players, delivery.
#include "platform/session/session.h"
#include "platform/session/wire.h"

#include "tests/support/discovery_port.h"
#include <gtest/gtest.h>

#include <enet/enet.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <thread>

using namespace session;
using namespace std::chrono_literals;

namespace {

const Guid kApp = *Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");
const Guid kOtherApp = *Guid::Parse("{11111111-2222-3333-4444-555555555555}");

// A discovery range of 4 ports that is free now (starts at a port the kernel just gave out).
ServiceConfig FreshConfig() {
    ServiceConfig c;
    c.discoveryPort = testsupport::FreshDiscoveryPort();
    c.discoveryPortCount = 4;
    return c;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

struct Received {
    uint32_t from = 0, to = 0;
    Message body;
};

// Waits for the next message of svc.
std::optional<Received> Next(Service& svc) {
    Received r;
    if (!WaitUntil([&] { return svc.WaitingCount() > 0; })) return std::nullopt;
    svc.Receive(r.from, r.to, r.body);
    return r;
}

SessionDesc HostDesc(const std::string& name) {
    SessionDesc d;
    d.application = kApp;
    d.maxPlayers = 4;
    d.name = name;
    d.flags = kSessionMigrateHost;
    return d;
}

std::vector<SessionDesc> List(const ServiceConfig& c, const Guid& app, uint32_t flags = 0) {
    Service probe(c);
    EXPECT_EQ(probe.Initialize(ProviderKind::Internet, {"127.0.0.1", 0}), Error::Ok);
    SessionDesc filter;
    filter.application = app;
    std::vector<SessionDesc> out;
    EXPECT_EQ(probe.EnumSessions(filter, 300, flags, out), Error::Ok);
    return out;
}

} // namespace

TEST(Session, JoinRulesPlayersAndSystemEvents) {
    const ServiceConfig cfg = FreshConfig();
    Service host(cfg);
    SessionDesc d = HostDesc("Dust (dust)");
    d.password = "pw";
    ASSERT_EQ(host.Open(d, OpenMode::Create), Error::Ok);
    EXPECT_TRUE(host.IsHost());
    uint32_t hostId = 0;
    ASSERT_EQ(host.CreatePlayer("Ann", "0ter", hostId), Error::Ok);
    EXPECT_NE(hostId, 0u);
    uint32_t again = 0;
    EXPECT_EQ(host.CreatePlayer("Ann2", "0", again), Error::PlayerExists);

    // The session is listed once, with 1 of 4 players and the password flag; other GUIDs see
    // nothing.
    auto found = List(cfg, kApp);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "Dust (dust)");
    EXPECT_EQ(found[0].currentPlayers, 1);
    EXPECT_EQ(found[0].maxPlayers, 4);
    EXPECT_TRUE(found[0].passwordProtected);
    EXPECT_TRUE(List(cfg, kOtherApp).empty());

    SessionDesc target = found[0];
    Service wrong(cfg);
    target.password = "nope";
    EXPECT_EQ(wrong.Open(target, OpenMode::Join), Error::WrongPassword);
    EXPECT_FALSE(wrong.IsOpen());
    target.password = "pw";
    target.application = kOtherApp;
    EXPECT_EQ(wrong.Open(target, OpenMode::Join), Error::WrongGuid);
    target.application = kApp;

    // Three more players fill the session; a fifth is refused.
    std::vector<std::unique_ptr<Service>> guests;
    std::vector<uint32_t> ids = {hostId};
    for (int i = 0; i < 3; ++i) {
        guests.push_back(std::make_unique<Service>(cfg));
        ASSERT_EQ(guests.back()->Open(target, OpenMode::Join), Error::Ok) << i;
        EXPECT_FALSE(guests.back()->IsHost());
        uint32_t id = 0;
        ASSERT_EQ(
            guests.back()->CreatePlayer("P" + std::to_string(i), std::to_string(i + 1) + "s", id),
            Error::Ok);
        for (uint32_t other : ids)
            EXPECT_NE(id, other) << "ids are unique";
        ids.push_back(id);
    }
    Service fifth(cfg);
    EXPECT_EQ(fifth.Open(target, OpenMode::Join), Error::SessionFull);
    EXPECT_TRUE(List(cfg, kApp, kEnumAvailable).empty()) << "a full session is not available";

    // Everyone sees the same players in join order, with their names and the host's id.
    for (Service* s : {&host, guests[0].get(), guests[1].get(), guests[2].get()}) {
        ASSERT_TRUE(WaitUntil([&] { return s->PlayerCount() == 4; }));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(s->PlayerIdByIndex(i + 1), ids[i]);
        EXPECT_EQ(s->PlayerIdByIndex(5), 0u);
        EXPECT_EQ(s->PlayerIdByIndex(0), 0u);
        std::string name, formal;
        EXPECT_TRUE(s->GetFriendlyName(ids[2], name));
        EXPECT_EQ(name, "P1");
        EXPECT_TRUE(s->GetFormalName(ids[2], formal));
        EXPECT_EQ(formal, "2s");
        EXPECT_FALSE(s->GetFriendlyName(12345, name));
        EXPECT_EQ(s->HostPlayerId(), hostId);
    }

    // The host heard of each creation: code 3, player type, id, names.
    for (int i = 1; i <= 3; ++i) {
        auto ev = Next(host);
        ASSERT_TRUE(ev);
        EXPECT_EQ(ev->from, 0u);
        EXPECT_EQ(ev->body.ReadLong(), kSysPlayerCreated);
        EXPECT_EQ(ev->body.ReadLong(), kPlayerTypePlayer);
        EXPECT_EQ(uint32_t(ev->body.ReadLong()), ids[i]);
        EXPECT_EQ(ev->body.ReadString(), "P" + std::to_string(i - 1));
    }
    // The first guest heard of the two later ones only (not of itself, not of earlier players).
    for (int i = 2; i <= 3; ++i) {
        auto ev = Next(*guests[0]);
        ASSERT_TRUE(ev);
        EXPECT_EQ(ev->body.ReadLong(), kSysPlayerCreated);
        ev->body.ReadLong();
        EXPECT_EQ(uint32_t(ev->body.ReadLong()), ids[i]);
    }
    EXPECT_EQ(guests[0]->WaitingCount(), 0u);

    // A player leaving is destroyed for everyone else, and a seat opens again.
    guests[2]->Close();
    for (Service* s : {&host, guests[0].get(), guests[1].get()}) {
        std::optional<Received> ev;
        do
            ev = Next(*s);
        while (ev && ev->body.ReadLong() != kSysPlayerDestroyed);
        ASSERT_TRUE(ev);
        ev->body.ReadLong();
        EXPECT_EQ(uint32_t(ev->body.ReadLong()), ids[3]);
        EXPECT_EQ(ev->body.ReadString(), "P2");
        EXPECT_TRUE(WaitUntil([&] { return s->PlayerCount() == 3; }));
    }
    EXPECT_EQ(fifth.Open(target, OpenMode::Join), Error::Ok);
}

TEST(Session, MessagesToOneAndToAllInOrder) {
    const ServiceConfig cfg = FreshConfig();
    Service a(cfg), b(cfg), c(cfg);
    ASSERT_EQ(a.Open(HostDesc("m"), OpenMode::Create), Error::Ok);
    uint32_t ia, ib, ic;
    ASSERT_EQ(a.CreatePlayer("A", "0", ia), Error::Ok);
    SessionDesc t = List(cfg, kApp).at(0);
    ASSERT_EQ(b.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(b.CreatePlayer("B", "1", ib), Error::Ok);
    ASSERT_EQ(c.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(c.CreatePlayer("C", "1", ic), Error::Ok);
    auto drain = [](Service& s) {
        uint32_t f, to;
        Message m;
        while (s.Receive(f, to, m)) {
        }
    };
    ASSERT_TRUE(WaitUntil([&] { return b.PlayerCount() == 3 && a.WaitingCount() == 2; }));
    drain(a);
    drain(b);

    // Broadcast from a guest: both others get every guaranteed message, in order, addressed to
    // themselves; the sender gets nothing back.
    constexpr int kCount = 300;
    for (int i = 0; i < kCount; ++i) {
        Message m;
        m.WriteLong(100);
        m.WriteLong(i);
        ASSERT_EQ(b.Send(ib, 0, true, m), Error::Ok);
    }
    for (Service* s : {&a, &c}) {
        const uint32_t me = s->LocalPlayerId();
        for (int i = 0; i < kCount; ++i) {
            auto r = Next(*s);
            ASSERT_TRUE(r) << i;
            EXPECT_EQ(r->from, ib);
            EXPECT_EQ(r->to, me);
            EXPECT_EQ(r->body.ReadLong(), 100);
            ASSERT_EQ(r->body.ReadLong(), i);
        }
    }
    // To one player: only that one receives it (here a guest to another guest, via the host).
    Message one;
    one.WriteLong(5);
    one.WriteString("psst");
    ASSERT_EQ(c.Send(ic, ib, false, one), Error::Ok);
    auto r = Next(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, ic);
    EXPECT_EQ(r->to, ib);
    EXPECT_EQ(r->body.ReadLong(), 5);
    EXPECT_EQ(r->body.ReadString(), "psst");
    ASSERT_EQ(a.Send(ia, ic, true, one), Error::Ok);
    ASSERT_TRUE(Next(c));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(a.WaitingCount() + b.WaitingCount() + c.WaitingCount(), 0u);

    // Misuse is refused: a sender that is not local, an unknown receiver, an oversized body.
    EXPECT_EQ(b.Send(ia, 0, true, one), Error::InvalidPlayer);
    EXPECT_EQ(b.Send(ib, 777, true, one), Error::InvalidPlayer);
    Message huge;
    for (int i = 0; i < 10; ++i)
        huge.WriteString(std::string(Message::kMaxStringBytes, 'x'));
    EXPECT_EQ(b.Send(ib, 0, true, huge), Error::MessageTooLarge);

    // The traffic counts every byte of a message's datagram, header and transport included, on
    // both ends.
    const Service::Traffic sender = c.TrafficSoFar(), host = a.TrafficSoFar();
    Message state;
    for (int i = 0; i < 32; ++i)
        state.WriteLong(i);
    ASSERT_EQ(c.Send(ic, ia, false, state), Error::Ok);
    ASSERT_TRUE(Next(a));
    EXPECT_GE(c.TrafficSoFar().sentBytes - sender.sentBytes, 128u + wire::kDataHeaderBytes);
    EXPECT_GE(a.TrafficSoFar().receivedBytes - host.receivedBytes, 128u + wire::kDataHeaderBytes);
}

TEST(Session, HostileDatagramsLeaveTheSessionRunning) {
    const ServiceConfig cfg = FreshConfig();
    Service host(cfg), guest(cfg);
    ASSERT_EQ(host.Open(HostDesc("h"), OpenMode::Create), Error::Ok);
    uint32_t ih, ig;
    ASSERT_EQ(host.CreatePlayer("H", "0", ih), Error::Ok);
    SessionDesc t = List(cfg, kApp).at(0);
    ASSERT_EQ(guest.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(guest.CreatePlayer("G", "0", ig), Error::Ok);

    // Random datagrams to the discovery port and to the session port.
    ENetSocket s = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    std::mt19937 rng(99);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> junk(1 + rng() % 300);
        for (auto& b : junk)
            b = uint8_t(rng());
        if (i % 3 == 0 && junk.size() > 4) { // looks like an enumeration request
            junk[0] = 'T', junk[1] = 'H', junk[2] = 'q', junk[3] = '1';
        }
        ENetAddress to;
        enet_address_set_host(&to, "127.0.0.1");
        to.port = i % 2 ? cfg.discoveryPort : t.hostAddress.port;
        ENetBuffer b{junk.data(), junk.size()};
        enet_socket_send(s, &to, &b, 1);
    }
    enet_socket_destroy(s);

    Message m;
    m.WriteLong(42);
    ASSERT_EQ(guest.Send(ig, ih, true, m), Error::Ok);
    std::optional<Received> r;
    do
        r = Next(host);
    while (r && r->from == 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, ig);
    EXPECT_EQ(r->body.ReadLong(), 42);
    EXPECT_EQ(List(cfg, kApp).size(), 1u) << "still answering enumeration";
    EXPECT_EQ(host.PlayerCount(), 2);
}

TEST(Session, HostLeavingMovesTheHostRoleToTheEarliestJoiner) {
    const ServiceConfig cfg = FreshConfig();
    auto h = std::make_unique<Service>(cfg);
    Service a(cfg), b(cfg);
    ASSERT_EQ(h->Open(HostDesc("mig"), OpenMode::Create), Error::Ok);
    uint32_t ih, ia, ib;
    ASSERT_EQ(h->CreatePlayer("H", "0", ih), Error::Ok);
    SessionDesc t = List(cfg, kApp).at(0);
    ASSERT_EQ(a.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(a.CreatePlayer("A", "0", ia), Error::Ok);
    ASSERT_EQ(b.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(b.CreatePlayer("B", "0", ib), Error::Ok);
    ASSERT_TRUE(WaitUntil([&] { return a.PlayerCount() == 3 && b.PlayerCount() == 3; }));
    uint32_t f, to;
    Message m;
    while (a.Receive(f, to, m)) {
    }
    while (b.Receive(f, to, m)) {
    }

    h.reset(); // clean close

    // A: the old host destroyed, then "became host"; B: only the destroyed event.
    auto ev = Next(a);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->body.ReadLong(), kSysPlayerDestroyed);
    ev->body.ReadLong();
    EXPECT_EQ(uint32_t(ev->body.ReadLong()), ih);
    ev = Next(a);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->from, 0u);
    EXPECT_EQ(ev->body.ReadLong(), kSysBecameHost);
    EXPECT_TRUE(a.IsHost());
    ev = Next(b);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->body.ReadLong(), kSysPlayerDestroyed);
    // B reconnects to A and learns who hosts; guaranteed messages sent by the new host at once
    // (before B is back) still reach B.
    Message hostMsg;
    hostMsg.WriteLong(8);
    hostMsg.WriteLong(int32_t(ia));
    ASSERT_EQ(a.Send(ia, 0, true, hostMsg), Error::Ok);
    ev = Next(b);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->from, ia);
    EXPECT_EQ(ev->body.ReadLong(), 8);
    EXPECT_TRUE(WaitUntil([&] { return b.HostPlayerId() == ia; }));
    EXPECT_FALSE(b.IsHost());
    EXPECT_EQ(b.PlayerCount(), 2);

    // The new host answers enumeration and admits newcomers.
    auto found = List(cfg, kApp);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].instance, t.instance) << "the same session, not a new one";
    Service c(cfg);
    ASSERT_EQ(c.Open(found[0], OpenMode::Join), Error::Ok);
    uint32_t ic;
    ASSERT_EQ(c.CreatePlayer("C", "1", ic), Error::Ok);
    EXPECT_NE(ic, ia);
    EXPECT_NE(ic, ib);
    EXPECT_NE(ic, ih);
    ev = Next(b);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->body.ReadLong(), kSysPlayerCreated);
    ev->body.ReadLong();
    EXPECT_EQ(uint32_t(ev->body.ReadLong()), ic);
}

TEST(Session, WithoutHostMigrationTheSessionEndsWithItsHost) {
    const ServiceConfig cfg = FreshConfig();
    auto h = std::make_unique<Service>(cfg);
    Service a(cfg), b(cfg);
    SessionDesc d = HostDesc("fixed");
    d.flags = 0;
    ASSERT_EQ(h->Open(d, OpenMode::Create), Error::Ok);
    uint32_t ih, ia, ib;
    ASSERT_EQ(h->CreatePlayer("H", "0", ih), Error::Ok);
    SessionDesc t = List(cfg, kApp).at(0);
    EXPECT_EQ(t.flags & kSessionMigrateHost, 0u);
    ASSERT_EQ(a.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(a.CreatePlayer("A", "0", ia), Error::Ok);
    ASSERT_EQ(b.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(b.CreatePlayer("B", "0", ib), Error::Ok);
    ASSERT_TRUE(WaitUntil([&] { return a.PlayerCount() == 3; }));
    uint32_t f, to;
    Message m;
    while (a.Receive(f, to, m)) {
    }

    h.reset();
    // A hears that every other player is gone, nobody becomes host, and sending fails.
    std::vector<uint32_t> destroyed;
    while (auto ev = Next(a)) {
        ASSERT_EQ(ev->body.ReadLong(), kSysPlayerDestroyed);
        ev->body.ReadLong();
        destroyed.push_back(uint32_t(ev->body.ReadLong()));
        if (destroyed.size() == 2) break;
    }
    std::sort(destroyed.begin(), destroyed.end());
    std::vector<uint32_t> expected = {ih, ib};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(destroyed, expected);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_FALSE(a.IsHost());
    EXPECT_EQ(a.Send(ia, 0, true, m), Error::NotOpen);
}

TEST(Session, ANewPlayerGetsWhatIsSentToItAsSoonAsOthersHearOfIt) {
    // Machines already in a match answer a newcomer's "player created" at once (the START of a
    // late joiner); the newcomer must get those messages however late its own call returns.
    const ServiceConfig cfg = FreshConfig();
    Service host(cfg), member(cfg);
    ASSERT_EQ(host.Open(HostDesc("late"), OpenMode::Create), Error::Ok);
    uint32_t ih, im;
    ASSERT_EQ(host.CreatePlayer("H", "0", ih), Error::Ok);
    const SessionDesc t = List(cfg, kApp).at(0);
    ASSERT_EQ(member.Open(t, OpenMode::Join), Error::Ok);
    ASSERT_EQ(member.CreatePlayer("M", "0", im), Error::Ok);

    std::atomic<bool> stop{false};
    // Each of the two answers every "player created" with a guaranteed message to the newcomer.
    auto answerer = [&stop](Service& s) {
        Message m;
        uint32_t from, to;
        while (!stop) {
            if (!s.Receive(from, to, m)) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            if (from != 0 || m.ReadLong() != kSysPlayerCreated) continue;
            m.ReadLong();
            const uint32_t id = uint32_t(m.ReadLong());
            Message start;
            start.WriteLong(0);
            start.WriteLong(int32_t(s.LocalPlayerId()));
            s.Send(s.LocalPlayerId(), id, true, start);
        }
    };
    std::thread a(answerer, std::ref(host)), b(answerer, std::ref(member));
    for (int round = 0; round < 12; ++round) {
        Service late(cfg);
        ASSERT_EQ(late.Open(t, OpenMode::Join), Error::Ok);
        uint32_t il;
        ASSERT_EQ(late.CreatePlayer("L", "1", il), Error::Ok);
        std::set<uint32_t> heard;
        while (heard.size() < 2) {
            auto r = Next(late);
            if (!r) break;
            if (r->from != 0 && r->body.ReadLong() == 0) heard.insert(uint32_t(r->body.ReadLong()));
        }
        EXPECT_EQ(heard, (std::set<uint32_t>{ih, im})) << "round " << round;
    }
    stop = true;
    a.join();
    b.join();
}

TEST(Session, LongNamesAreCutAndDiscoveryNeverAnswersWithMoreThanItWasSent) {
    const ServiceConfig cfg = FreshConfig();
    Service host(cfg), guest(cfg);
    SessionDesc d = HostDesc(std::string(300, 's'));
    ASSERT_EQ(host.Open(d, OpenMode::Create), Error::Ok);
    uint32_t ih, ig;
    // "é" is two bytes: 127 of them fill 254 of the 255 bytes, the 128th does not fit whole.
    std::string accents;
    for (int i = 0; i < 150; ++i)
        accents += "\xC3\xA9";
    ASSERT_EQ(host.CreatePlayer(accents, "0", ih), Error::Ok);
    const auto found = List(cfg, kApp);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, std::string(kMaxNameBytes, 's'));
    ASSERT_EQ(guest.Open(found[0], OpenMode::Join), Error::Ok);
    ASSERT_EQ(guest.CreatePlayer(std::string(256, 'g'), std::string(400, '1'), ig), Error::Ok);
    std::string name, formal;
    ASSERT_TRUE(WaitUntil([&] { return host.GetFriendlyName(ig, name); }));
    EXPECT_EQ(name, std::string(kMaxNameBytes, 'g'));
    EXPECT_TRUE(host.GetFormalName(ig, formal));
    EXPECT_EQ(formal, std::string(kMaxNameBytes, '1'));
    EXPECT_TRUE(guest.GetFriendlyName(ih, name));
    EXPECT_EQ(name, accents.substr(0, 254));

    // Asked with a request shorter than the reply would be, the host stays silent; asked with a
    // padded one, it answers with no more bytes than it got.
    ENetSocket s = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    ASSERT_NE(s, ENET_SOCKET_NULL);
    enet_socket_set_option(s, ENET_SOCKOPT_NONBLOCK, 1);
    ENetAddress to;
    enet_address_set_host(&to, "127.0.0.1");
    to.port = cfg.discoveryPort;
    auto ask = [&](size_t size) -> std::optional<size_t> {
        std::vector<uint8_t> request;
        wire::EncodeEnumRequest({kApp, 5, uint16_t(size)}, request);
        ENetBuffer b{request.data(), request.size()};
        enet_socket_send(s, &to, &b, 1);
        uint8_t reply[wire::kMaxDiscoveryBytes];
        const auto until = std::chrono::steady_clock::now() + 400ms;
        while (std::chrono::steady_clock::now() < until) {
            ENetAddress from;
            ENetBuffer rb{reply, sizeof reply};
            const int n = enet_socket_receive(s, &from, &rb, 1);
            if (n > 0) return size_t(n);
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    };
    const size_t replyBytes = 39 + kMaxNameBytes;
    EXPECT_FALSE(ask(24)) << "an unpadded request";
    EXPECT_FALSE(ask(replyBytes - 1));
    const auto answered = ask(wire::kEnumRequestBytes);
    ASSERT_TRUE(answered);
    EXPECT_LE(*answered, wire::kEnumRequestBytes);
    EXPECT_EQ(*answered, replyBytes);
    enet_socket_destroy(s);
}

namespace {

// A system event: its code, the player's id and friendly name.
struct Event {
    int32_t code = 0;
    uint32_t id = 0;
    std::string name;
    bool operator==(const Event&) const = default;
};

std::optional<Event> NextEvent(Service& svc) {
    auto r = Next(svc);
    if (!r || r->from != 0) return std::nullopt;
    Event e;
    e.code = r->body.ReadLong();
    if (e.code == kSysBecameHost) return e;
    r->body.ReadLong();
    e.id = uint32_t(r->body.ReadLong());
    e.name = r->body.ReadString();
    return e;
}

std::vector<uint32_t> Roster(const Service& s) {
    std::vector<uint32_t> ids;
    for (int i = 1; i <= s.PlayerCount(); ++i)
        ids.push_back(s.PlayerIdByIndex(i));
    return ids;
}

Message Numbered(int32_t n) {
    Message m;
    m.WriteLong(n);
    return m;
}

} // namespace

TEST(Session, StandInsAreOrdinaryPlayersOfTheHostForEveryOtherMember) {
    const ServiceConfig cfg = FreshConfig();
    auto host = std::make_unique<Service>(cfg);
    Service joiner(cfg);
    uint32_t id = 0;
    EXPECT_EQ(joiner.CreateStandInPlayer("Bot", "0", id), Error::NotOpen);
    ASSERT_EQ(host->Open(HostDesc("bots"), OpenMode::Create), Error::Ok);
    uint32_t ih, s1, s2, ij;
    ASSERT_EQ(host->CreatePlayer("H", "0", ih), Error::Ok);
    ASSERT_EQ(host->CreateStandInPlayer("Bot1", "b1", s1), Error::Ok);
    EXPECT_TRUE(host->IsStandIn(s1));
    EXPECT_FALSE(host->IsStandIn(ih));
    EXPECT_EQ(host->LocalPlayerId(), ih);

    // The joiner learns the stand-in already there from the roster, a later one from its event.
    ASSERT_EQ(joiner.Open(List(cfg, kApp).at(0), OpenMode::Join), Error::Ok);
    EXPECT_EQ(joiner.CreateStandInPlayer("Bot", "0", id), Error::InvalidPlayer);
    ASSERT_EQ(joiner.CreatePlayer("J", "1", ij), Error::Ok);
    ASSERT_EQ(host->CreateStandInPlayer(std::string(300, 'b'), "b2", s2), Error::Ok);
    for (uint32_t other : {ih, s1, ij})
        EXPECT_NE(s2, other);
    auto ev = NextEvent(joiner);
    ASSERT_TRUE(ev);
    EXPECT_EQ(*ev, (Event{kSysPlayerCreated, s2, std::string(kMaxNameBytes, 'b')}));
    ASSERT_TRUE(NextEvent(*host)); // the joiner's player
    for (Service* s : {host.get(), &joiner}) {
        EXPECT_EQ(Roster(*s), (std::vector<uint32_t>{ih, s1, ij, s2}));
        EXPECT_EQ(s->Description().currentPlayers, 4);
        std::string name;
        EXPECT_TRUE(s->GetFriendlyName(s1, name));
        EXPECT_EQ(name, "Bot1");
        EXPECT_TRUE(s->IsStandIn(s2));
        EXPECT_FALSE(s->IsStandIn(ij));
    }
    EXPECT_EQ(host->CreateStandInPlayer("Bot3", "b3", id), Error::SessionFull);

    // To and from a stand-in: guaranteed messages in order, addressed to the stand-in's id.
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(joiner.Send(ij, s1, true, Numbered(i)), Error::Ok);
    for (int i = 0; i < 50; ++i) {
        auto r = Next(*host);
        ASSERT_TRUE(r) << i;
        EXPECT_EQ(r->from, ij);
        EXPECT_EQ(r->to, s1);
        ASSERT_EQ(r->body.ReadLong(), i);
    }
    ASSERT_EQ(host->Send(s2, ij, true, Numbered(7)), Error::Ok);
    auto r = Next(joiner);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, s2);
    EXPECT_EQ(r->to, ij);
    EXPECT_EQ(r->body.ReadLong(), 7);
    // Between the host's own players the message stays on the host.
    ASSERT_EQ(host->Send(ih, s2, true, Numbered(8)), Error::Ok);
    r = Next(*host);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, ih);
    EXPECT_EQ(r->to, s2);

    // A broadcast reaches each other machine once and never comes back to its own.
    ASSERT_EQ(host->Send(s1, 0, true, Numbered(9)), Error::Ok);
    ASSERT_EQ(host->Send(ih, 0, true, Numbered(10)), Error::Ok);
    ASSERT_EQ(joiner.Send(ij, 0, true, Numbered(11)), Error::Ok);
    r = Next(joiner);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, s1);
    EXPECT_EQ(r->to, ij);
    r = Next(joiner);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, ih);
    r = Next(*host);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->from, ij);
    EXPECT_EQ(r->to, ih);
    EXPECT_EQ(r->body.ReadLong(), 11);

    // A member neither speaks for nor destroys a stand-in.
    EXPECT_EQ(joiner.Send(s1, 0, true, Numbered(12)), Error::InvalidPlayer);
    EXPECT_EQ(joiner.DestroyPlayer(s1), Error::InvalidPlayer);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(host->WaitingCount() + joiner.WaitingCount(), 0u);

    // The host destroys one: the others hear of it, the host's game already knows.
    ASSERT_EQ(host->DestroyPlayer(s2), Error::Ok);
    ev = NextEvent(joiner);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->code, kSysPlayerDestroyed);
    EXPECT_EQ(ev->id, s2);
    EXPECT_FALSE(host->IsStandIn(s2));
    EXPECT_EQ(host->PlayerCount(), 3);

    // The host leaves: its player and its stand-in go, and the joiner hosts alone.
    host.reset();
    std::set<uint32_t> gone;
    while (auto e = NextEvent(joiner)) {
        if (e->code == kSysBecameHost) break;
        EXPECT_EQ(e->code, kSysPlayerDestroyed);
        gone.insert(e->id);
    }
    EXPECT_EQ(gone, (std::set<uint32_t>{ih, s1}));
    EXPECT_TRUE(joiner.IsHost());
    EXPECT_EQ(Roster(joiner), std::vector<uint32_t>{ij});
    EXPECT_FALSE(joiner.IsStandIn(s1));
    EXPECT_EQ(joiner.Description().currentPlayers, 1);
}

TEST(Session, AJoinerTakesTheSeatOfTheNewestStandInUntilMachinesFillTheSession) {
    const ServiceConfig cfg = FreshConfig();
    Service host(cfg);
    ASSERT_EQ(host.Open(HostDesc("seats"), OpenMode::Create), Error::Ok);
    uint32_t ih;
    ASSERT_EQ(host.CreatePlayer("H", "0", ih), Error::Ok);
    std::vector<uint32_t> bots(3);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(host.CreateStandInPlayer("Bot" + std::to_string(i), "0", bots[i]), Error::Ok);

    // Full only because of stand-ins: listed as available, with its real player count.
    auto found = List(cfg, kApp, kEnumAvailable);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].currentPlayers, 4);

    std::vector<std::unique_ptr<Service>> guests;
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        guests.push_back(std::make_unique<Service>(cfg));
        ASSERT_EQ(guests.back()->Open(found[0], OpenMode::Join), Error::Ok) << i;
        uint32_t id;
        ASSERT_EQ(guests.back()->CreatePlayer("G" + std::to_string(i), "1", id), Error::Ok);
        ids.push_back(id);
        // The newest stand-in left, for the host's own game too, before the joiner's player came.
        const uint32_t bot = bots[2 - i];
        EXPECT_EQ(NextEvent(host),
                  (Event{kSysPlayerDestroyed, bot, "Bot" + std::to_string(2 - i)}));
        EXPECT_EQ(NextEvent(host), (Event{kSysPlayerCreated, id, "G" + std::to_string(i)}));
        EXPECT_FALSE(host.IsStandIn(bot));
        EXPECT_EQ(host.PlayerCount(), 4);
        std::string name;
        EXPECT_FALSE(guests.back()->GetFriendlyName(bot, name));
    }
    // The first guest saw the two later stand-ins leave and the later guests come.
    std::vector<Event> seen;
    while (seen.size() < 4)
        if (auto e = NextEvent(*guests[0]))
            seen.push_back(*e);
        else
            break;
    EXPECT_EQ(seen, (std::vector<Event>{{kSysPlayerDestroyed, bots[1], "Bot1"},
                                        {kSysPlayerCreated, ids[1], "G1"},
                                        {kSysPlayerDestroyed, bots[0], "Bot0"},
                                        {kSysPlayerCreated, ids[2], "G2"}}));
    EXPECT_EQ(Roster(*guests[0]), (std::vector<uint32_t>{ih, ids[0], ids[1], ids[2]}));

    // Machines fill it now: no more joiners, however they ask, and no more stand-ins.
    Service fifth(cfg);
    EXPECT_EQ(fifth.Open(found[0], OpenMode::Join), Error::SessionFull);
    EXPECT_TRUE(List(cfg, kApp, kEnumAvailable).empty());
    uint32_t id;
    EXPECT_EQ(host.CreateStandInPlayer("Bot", "0", id), Error::SessionFull);
}
