// The receiver and the sessions it runs on, against real session services in this process over
// 127.0.0.1: the game's session (net::DPlay) and plain services standing for the other machines.
#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"

#include "tests/support/discovery_port.h"
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

// Another machine: a plain session service with its player.
struct Peer {
    explicit Peer(const session::ServiceConfig& config) : svc(config) {}

    // Finds the one session at 127.0.0.1 and joins it as `name` with formal name `formal`.
    void Join(const std::string& name, const std::string& formal) {
        ASSERT_EQ(svc.Initialize(session::ProviderKind::Lan, {"127.0.0.1", 0}), session::Error::Ok);
        session::SessionDesc filter;
        filter.application = *session::Guid::Parse(net::kApplicationGuid);
        std::vector<session::SessionDesc> found;
        ASSERT_EQ(svc.EnumSessions(filter, 300, 0, found), session::Error::Ok);
        ASSERT_EQ(found.size(), 1u);
        ASSERT_EQ(svc.Open(found[0], session::OpenMode::Join), session::Error::Ok);
        uint32_t got = 0;
        ASSERT_EQ(svc.CreatePlayer(name, formal, got), session::Error::Ok);
        id = int32_t(got);
    }
    void Send(int32_t to, const session::Message& m, bool guaranteed = true) {
        ASSERT_EQ(svc.Send(uint32_t(id), uint32_t(to), guaranteed, m), session::Error::Ok);
    }
    // The next application message with code `wanted` (-1: any), rewound; others are skipped.
    // An empty body when none came within `limit`.
    session::Message Next(int32_t wanted = -1, std::chrono::milliseconds limit = 3000ms) {
        session::Message m;
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            uint32_t from = 0, to = 0;
            if (svc.WaitingCount() > 0 && svc.Receive(from, to, m) && from != 0 && m.Size() >= 4 &&
                (wanted < 0 || m.ReadLong() == wanted)) {
                m.Rewind();
                return m;
            }
            std::this_thread::sleep_for(5ms);
        }
        return {};
    }

    session::Service svc;
    int32_t id = 0;
};

// The game's side: net's session, the match state of the game core and a small world. The
// fixture is the match runner: a START counts a match (status 7), late joiners enter `world`.
class Receiver : public ::testing::Test, public net::MatchRunner {
protected:
    int RunMatch() override {
        ++matches;
        return 7;
    }
    const player::World* MatchWorld() const override { return &world; }

    void SetUp() override {
        config.discoveryPort = testsupport::FreshDiscoveryPort();
        config.discoveryPortCount = 4;
        net::ServiceSettings = config;
        net::LanTarget = "127.0.0.1";
        net::PlayerName = "Ann";
        net::PlayerFormalName = "02";
        net::SessionName = "Ann (COUR)";
        core::MapName = "cour";
        net::MatchStatus.reset();
        net::SetWaitingRoom(nullptr);
        net::SetMatchRunner(this);

        root = scene::Frame::Create();
        world.sceneFrame = scene::Frame::Create(root);
        world.playerRoot = scene::Frame::Create(world.sceneFrame);
        world.network = &net::Sink;
        world.localIndex = 0;
        core::RootFrame = root;
    }

    void TearDown() override {
        net::LeaveSession();
        for (auto& p : core::Players) {
            if (p) p->Destroy();
            p.reset();
        }
        core::RootFrame.reset();
        core::LocalIndex = -1;
        core::InGame = false;
        core::MessageLine.clear();
        net::SetMatchRunner(nullptr);
        net::SetWaitingRoom(nullptr);
        net::HostPlayerId = 0;
    }

    // This machine hosts; `names` join it as other machines (formal name "1" + index).
    void HostWith(std::vector<Peer*> peers, const std::vector<std::string>& names) {
        ASSERT_TRUE(net::InitDirectPlay());
        ASSERT_TRUE(net::CreateGame(""));
        for (size_t i = 0; i < peers.size(); ++i)
            peers[i]->Join(names[i], "1" + std::to_string(i + 3));
        Drain(peers.size());
    }

    // Waits for `n` messages and lets the receiver handle what is there.
    void Drain(size_t n) {
        WaitUntil([&] { return net::DPlay->WaitingCount() >= n; });
        net::ReceiveMessages();
    }

    // A record in `slot` with session id `id`, built in the test world.
    player::player& Put(int slot, int32_t id, const std::string& nom, int32_t team) {
        auto p = std::make_unique<player::player>();
        p->indice = slot;
        p->id = id;
        p->nom = nom;
        p->IdModele = team;
        core::Players[size_t(slot)] = std::move(p);
        core::Players[size_t(slot)]->Initplayer(world);
        return *core::Players[size_t(slot)];
    }

    // The match as StartMatch leaves it: the local player in slot 0, the others after it.
    void StartLocalMatch() {
        player::player& me = Put(0, core::MyPlayerId, "Ann", 0);
        me.joueur->SetTraversalOptions(scene::kFlagRendered);
        me.force = 100;
        core::LocalIndex = 0;
        core::PlayerCount = 4;
        core::InGame = true;
    }

    static session::Message State(double x, bool dead, int32_t blood, net::StateStamp stamp = {}) {
        player::player p;
        p.gPlayerpositionx = x;
        p.gPlayerori1z = 1.0;
        p.fps = 6.5;
        p.IdArme = 3;
        p.idson2 = 1;
        p.mort = dead;
        p.Frmsang = scene::Frame::Create();
        p.Frmsang->SetPosition(nullptr, {1.0f, 2.0f, 3.0f});
        p.Frmsang->SetAppData(uint32_t(blood));
        session::Message m;
        net::WriteState(m, p, nullptr, stamp);
        return m;
    }

    static session::Message Truncated(const session::Message& m, size_t bytes) {
        return session::Message(
            std::vector<uint8_t>(m.Body().begin(), m.Body().begin() + ptrdiff_t(bytes)));
    }

    session::ServiceConfig config;
    std::shared_ptr<scene::Frame> root;
    player::World world;
    int matches = 0;
};

} // namespace

TEST_F(Receiver, StatesMoveTheSendersAvatarAnnounceItOnceAndIgnoreStrangers) {
    Peer bob(config), carl(config);
    HostWith({&bob, &carl}, {"Bob", "Carl"});
    StartLocalMatch();
    player::player& b = Put(1, bob.id, "Bob", 1);

    // A truncated state, a stranger's state, then Bob's real one: only the last one counts.
    bob.Send(0, Truncated(State(9.0, false, 0), 60));
    carl.Send(0, State(50.0, false, 0));
    bob.Send(0, State(12.5, false, 3));
    Drain(3);
    EXPECT_EQ(b.gPlayerpositionx, 12.5);
    EXPECT_EQ(b.gPlayerori1z, 1.0);
    EXPECT_EQ(b.fps, 6.0) << "sent rounded half to even";
    EXPECT_EQ(b.gPlayerArme, 3);
    EXPECT_EQ(b.idson2, 1);
    EXPECT_EQ(b.joueur->GetTraversalOptions(), uint32_t(scene::kFlagRenderedAndPickable));
    EXPECT_EQ(b.Frmsang->GetPosition(root.get()), glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(b.Frmsang->GetAppData(), 3u);
    EXPECT_EQ(core::MessageLine, "The GIGN Bob come in Game.");

    // A dead body: seen but not hit, and not announced again.
    core::MessageLine.clear();
    bob.Send(0, State(13.0, true, 0));
    Drain(1);
    EXPECT_EQ(b.gPlayerpositionx, 13.0);
    EXPECT_EQ(b.joueur->GetTraversalOptions(), uint32_t(scene::kFlagRendered));
    EXPECT_EQ(core::MessageLine, "");

    // Chat during the match goes to the HUD; HOST moves the host id.
    session::Message m;
    net::WriteChat(m, "hello");
    bob.Send(0, m);
    net::WriteHost(m, bob.id);
    bob.Send(0, m);
    Drain(2);
    EXPECT_EQ(core::MessageLine, "Bob says: hello");
    EXPECT_EQ(net::HostPlayerId, bob.id);
}

TEST_F(Receiver, HitsHurtTheLocalPlayerAndADeathSendsKilledAndTheTauntToTheKiller) {
    Peer bob(config), carl(config);
    HostWith({&bob, &carl}, {"Bob", "Carl"});
    StartLocalMatch();
    Put(1, bob.id, "Bob", 1);
    player::player& me = *core::Players[0];

    session::Message hit;
    net::WriteHit(hit, {4.0f, 5.0f, 6.0f}, 30);
    carl.Send(core::MyPlayerId, hit); // holds no slot: ignored
    bob.Send(core::MyPlayerId, Truncated(hit, 20));
    bob.Send(core::MyPlayerId, hit);
    Drain(3);
    EXPECT_EQ(me.force, 70) << "one whole hit of 30, the stranger's and the cut one dropped";
    EXPECT_EQ(me.Frmsang->GetPosition(world.sceneFrame.get()), glm::vec3(4.0f, 5.0f, 6.0f));

    // A head shot kills; the killer's machine alone gets KILLED, everyone the taunt.
    net::WriteHit(hit, {0.0f, 0.0f, 0.0f}, -1);
    bob.Send(core::MyPlayerId, hit);
    Drain(1);
    EXPECT_TRUE(me.mort);
    EXPECT_EQ(me.snipped, 1);
    session::Message killed = bob.Next(net::code::KILLED);
    EXPECT_EQ(killed.Body(), (std::vector<uint8_t>{10, 0, 0, 0}));
    for (Peer* p : {&bob, &carl}) {
        session::Message chat = p->Next(net::code::CHAT);
        ASSERT_EQ(chat.Size() > 4, true);
        EXPECT_EQ(chat.ReadLong(), net::code::CHAT);
        EXPECT_EQ(chat.ReadString(), "This FUCKING Bob SNIPPE ME in the HEAD !!!");
    }
    EXPECT_EQ(carl.Next(-1, 300ms).Size(), 0u) << "KILLED goes to the killer only";

    // Our own kill comes back as KILLED: one more kill and the weapon power follows.
    session::Message k;
    net::WriteKilled(k);
    bob.Send(core::MyPlayerId, k);
    Drain(1);
    EXPECT_EQ(me.tueur, 1);

    // A HIT from this machine's sink reaches the target slot's machine only.
    net::Sink.SendHit(1, 25, {1.0f, 2.0f, 3.0f});
    net::Sink.SendHit(3, 25, {1.0f, 2.0f, 3.0f}); // empty slot: nothing, never a broadcast
    session::Message got = bob.Next(net::code::HIT);
    net::WriteHit(hit, {1.0f, 2.0f, 3.0f}, 25);
    EXPECT_EQ(got.Body(), hit.Body());
    EXPECT_EQ(carl.Next(-1, 300ms).Size(), 0u);
}

// Between two states the body is drawn on the way from one to the other, one send interval
// behind, while the record keeps the last state received for whoever reads it; a peer that does
// not stamp its states (128 bytes) is still understood.
TEST_F(Receiver, TheBodyIsDrawnBetweenStatesAndTheLastStateReceivedStaysReadable) {
    Peer bob(config), carl(config);
    HostWith({&bob, &carl}, {"Bob", "Carl"});
    StartLocalMatch();
    player::player& b = Put(1, bob.id, "Bob", 1);
    player::player& c = Put(2, carl.id, "Carl", 0);

    // Sent a second apart by Bob's clock: drawn most of the way (the delay is at most 100 ms).
    bob.Send(0, State(12.5, false, 0, {10, 0}));
    bob.Send(0, State(13.0, false, 0, {70, 1000}));
    carl.Send(0, Truncated(State(20.0, false, 0), net::kStateBytesUnstamped));
    Drain(3);
    b.Avance();
    c.Avance();
    const float drawn = b.joueur->GetPosition(world.sceneFrame.get()).x;
    EXPECT_GT(drawn, 12.5f);
    EXPECT_LT(drawn, 13.0f);
    EXPECT_EQ(b.gPlayerpositionx, 13.0) << "the last state received, not the drawn position";
    ASSERT_NE(b.trajet.Latest(), nullptr);
    EXPECT_EQ(b.trajet.Latest()->position.x, 13.0);
    EXPECT_EQ(c.gPlayerpositionx, 20.0);
    EXPECT_EQ(c.joueur->GetPosition(world.sceneFrame.get()).x, 20.0f);
}

// STATE leaves at the set rate however often the record offers it (every frame), but a shot, a
// hit or a death leaves at once, its flag in it, and only the frames between go unsent.
TEST_F(Receiver, StateFollowsItsRateExceptAShotAHitOrADeathGoAtOnce) {
    Peer bob(config);
    HostWith({&bob}, {"Bob"});
    StartLocalMatch();
    core::StateRate = core::kStateRateMin; // ten a second: the frames below fall between two
    net::MatchLink link;
    player::MessageSink& sink = link.Messages(); // as a match starts
    player::player& me = *core::Players[0];
    auto sent = [&] {
        std::vector<int32_t> flags; // idson2 * 10 + idson3 + 100 * dead, per STATE received
        for (session::Message m = bob.Next(net::code::STATE, 300ms); m.Size() > 0;
             m = bob.Next(net::code::STATE, 300ms)) {
            m.ReadLong();
            for (int i = 0; i < 7; ++i)
                m.ReadDouble();
            for (int i = 0; i < 6; ++i)
                m.ReadLong();
            const int32_t visibility = m.ReadLong();
            m.ReadLong();
            const int32_t fired = m.ReadLong(), hit = m.ReadLong();
            flags.push_back(fired * 10 + hit + (visibility == scene::kFlagRendered ? 100 : 0));
        }
        return flags;
    };
    // Many frames within a millisecond or two: one STATE, the first.
    for (int i = 0; i < 20; ++i)
        sink.SendState(me);
    EXPECT_EQ(sent(), (std::vector<int32_t>{0}));
    // A shot and a hit go at once, each flag once; the frames after them wait for the rate.
    auto frame = [&] {
        me.SendState(); // as Avance ends: hands the record over, then clears the flags
    };
    me.idson2 = 1;
    frame();
    frame();
    me.idson3 = 1;
    frame();
    frame();
    me.mort = true;
    frame();
    frame();
    EXPECT_EQ(sent(), (std::vector<int32_t>{10, 1, 100}));
    // A tenth of a second after the first, the next frame is due, and only that one.
    std::this_thread::sleep_for(110ms);
    frame();
    frame();
    EXPECT_EQ(sent(), (std::vector<int32_t>{100}));
    core::StateRate = core::kDefaultStateRate;
}

// The other machine throws away a fifth of the datagrams it receives (the session service's
// loss injection), yet every HIT this machine's sink sends reaches it whole and in order, and so
// does every KILLED: no shot is lost and every kill is counted by its killer.
TEST_F(Receiver, EveryHitAndEveryKilledReachesItsMachineOverALossyLink) {
    session::ServiceConfig lossy = config;
    lossy.testIncomingLoss = 0.2;
    lossy.peerTimeoutMinMs = lossy.peerTimeoutMaxMs = 15000;
    Peer bob(lossy);
    HostWith({&bob}, {"Bob"});
    StartLocalMatch();
    Put(1, bob.id, "Bob", 1);

    constexpr int kShots = 40;
    for (int i = 0; i < kShots; ++i)
        net::Sink.SendHit(1, i, {float(i), 2.0f, 3.0f});
    for (int i = 0; i < kShots; ++i) {
        session::Message got = bob.Next(net::code::HIT, 5000ms);
        session::Message sent;
        net::WriteHit(sent, {float(i), 2.0f, 3.0f}, i);
        ASSERT_EQ(got.Body(), sent.Body()) << "HIT " << i << " of " << kShots;
    }

    constexpr int kKills = 20;
    for (int i = 0; i < kKills; ++i)
        net::Sink.SendKilled(1, 30);
    for (int i = 0; i < kKills; ++i)
        ASSERT_EQ(bob.Next(net::code::KILLED, 5000ms).Body(), (std::vector<uint8_t>{10, 0, 0, 0}))
            << "KILLED " << i << " of " << kKills;
}

// The computer players a host brings are players of its session that the host speaks for: HIT
// and KILLED addressed to one reach its record here, never the host's own player, and its sink
// sends from its id.
TEST_F(Receiver, HitsAndKillsAddressedToAHostedComputerPlayerReachItsRecord) {
    core::MatchBots = 2;
    core::Team = 0;
    Peer bob(config);
    HostWith({&bob}, {"Bob"});
    core::MatchBots = 0;
    ASSERT_EQ(core::SessionBotIds.size(), 2u);
    EXPECT_EQ(net::EnumPlayers().size(), 4u) << "Ann, her two computer players and Bob";
    EXPECT_EQ(bob.svc.PlayerCount(), 4);
    std::string formal;
    ASSERT_TRUE(bob.svc.GetFormalName(uint32_t(core::SessionBotIds[1]), formal));
    EXPECT_EQ(formal.substr(0, 1), "1") << "a tie goes to the team other than the host's";

    StartLocalMatch();
    Put(1, bob.id, "Bob", 0);
    struct Idle : player::Pilot {
        void Decide(const player::player&, player::Controls&) override {}
    } idle;
    player::player& bot = Put(2, core::SessionBotIds[0], "Bot 1", 1);
    bot.pilote = &idle; // simulated here, as the match's CreateBots makes it
    player::player& me = *core::Players[0];
    net::MatchLink link;
    link.Messages(); // as the match starts: the counts begin

    session::Message m;
    net::WriteHit(m, {1.0f, 2.0f, 3.0f}, 30);
    bob.Send(bot.id, m);
    net::WriteKilled(m);
    bob.Send(bot.id, m);
    Drain(2);
    EXPECT_EQ(bot.force, 70);
    EXPECT_EQ(bot.tueur, 1);
    EXPECT_EQ(me.force, 100);
    EXPECT_EQ(me.tueur, 0);
    EXPECT_EQ(link.StateReport(), " hits=0,1 killed=0,1");

    // Its messages leave from its id; no sink speaks for a player of another machine.
    EXPECT_EQ(link.MessagesFrom(bob.id), nullptr);
    player::MessageSink* sink = link.MessagesFrom(bot.id);
    ASSERT_NE(sink, nullptr);
    sink->SendHit(1, 25, {1.0f, 2.0f, 3.0f});
    uint32_t from = 0, to = 0;
    session::Message got;
    ASSERT_TRUE(WaitUntil(
        [&] { return bob.svc.WaitingCount() > 0 && bob.svc.Receive(from, to, got) && from != 0; }));
    EXPECT_EQ(int32_t(from), bot.id);
    EXPECT_EQ(got.ReadLong(), net::code::HIT);
    EXPECT_EQ(link.StateReport(), " hits=1,1 killed=0,1");
    // Its STATE says where its body is.
    core::SceneFrame = world.sceneFrame;
    bot.joueur->SetPosition(world.sceneFrame.get(), {12.0f, 3.0f, -4.0f});
    sink->SendState(bot);
    session::Message state = bob.Next(net::code::STATE);
    core::SceneFrame.reset();
    ASSERT_GT(state.Size(), 28u);
    state.ReadLong();
    EXPECT_EQ(state.ReadDouble(), 12.0);
    EXPECT_EQ(state.ReadDouble(), 3.0);
    EXPECT_EQ(state.ReadDouble(), -4.0);
}

TEST_F(Receiver, LateJoinersTakeTheLowestFreeSlotAndGetStartWhileAFullHouseIgnoresThem) {
    Peer bob(config);
    HostWith({&bob}, {"Bob"});
    StartLocalMatch();
    Put(1, bob.id, "Bob", 1);
    Put(2, 9001, "Gil", 0);
    Put(3, 9002, "Hal", 1);

    // Slots 0..3 all hold avatars: the joiner gets neither a record nor a START.
    Peer dan(config);
    dan.Join("Dan", "05");
    Drain(1);
    for (int j = 0; j < 4; ++j)
        EXPECT_NE(core::Players[size_t(j)]->id, dan.id);
    EXPECT_FALSE(core::Players[4]);
    EXPECT_EQ(dan.Next(-1, 500ms).Size(), 0u);

    // Bob leaves: announced, his avatar goes and his slot is free again.
    bob.svc.Close();
    Drain(1);
    EXPECT_EQ(core::MessageLine, "Bob leave the game.");
    EXPECT_FALSE(core::Players[1]->joueur);

    // The next joiner takes slot 1 with the name and skin the session gives, and gets START.
    Peer eve(config);
    eve.Join("Eve", "05");
    Drain(1);
    player::player& e = *core::Players[1];
    EXPECT_EQ(e.id, eve.id);
    EXPECT_EQ(e.indice, 1);
    EXPECT_EQ(e.nom, "Eve");
    EXPECT_EQ(e.IdModele, 0);
    EXPECT_EQ(e.texture, "TS5.bmp");
    ASSERT_TRUE(e.joueur);
    EXPECT_EQ(e.joueur->GetTraversalOptions(), uint32_t(scene::kFlagNone)) << "until its STATE";
    session::Message start = eve.Next(net::code::START);
    ASSERT_GT(start.Size(), 0u);
    EXPECT_EQ(start.ReadLong(), net::code::START);
    const uint8_t n = start.ReadByte();
    EXPECT_EQ(n, 3) << "host, Dan and Eve";
    std::vector<int32_t> ids;
    for (int i = 0; i < n; ++i)
        ids.push_back(start.ReadLong());
    EXPECT_EQ(ids, (std::vector<int32_t>{core::MyPlayerId, dan.id, eve.id}));
    EXPECT_EQ(start.ReadLong(), core::MyPlayerId);
    EXPECT_EQ(start.ReadString(), "Ann (COUR)");
    EXPECT_EQ(start.ReadString(), "cour");
}

TEST_F(Receiver, JoinerListsTheSessionStartsOnceAndBecomesHostWhenTheHostLeaves) {
    // Another machine hosts; this one lists the session and joins it.
    Peer host(config), carl(config);
    session::SessionDesc desc;
    desc.application = *session::Guid::Parse(net::kApplicationGuid);
    desc.maxPlayers = 4;
    desc.name = "Zed (ENTREPOT)";
    desc.flags = session::kSessionMigrateHost;
    ASSERT_EQ(host.svc.Open(desc, session::OpenMode::Create), session::Error::Ok);
    uint32_t hostId = 0;
    ASSERT_EQ(host.svc.CreatePlayer("Zed", "14", hostId), session::Error::Ok);
    host.id = int32_t(hostId);

    std::vector<std::string> names;
    ASSERT_TRUE(net::ConnectionNames(names));
    ASSERT_FALSE(names.empty());
    std::vector<std::string> entries;
    ASSERT_TRUE(net::ConnectLan(0, entries));
    EXPECT_EQ(entries, (std::vector<std::string>{"Zed (ENTREPOT) (1/4)"}));
    ASSERT_TRUE(net::JoinGame(0));
    EXPECT_FALSE(net::IsHost);
    carl.Join("Carl", "03");

    // In the waiting room chat goes to the room's box, with the time and " write: ".
    struct Room : net::WaitingRoomView {
        bool IsShown() const override { return hidden == 0; }
        void AppendChat(std::string_view t) override { chat.emplace_back(t); }
        void RefreshPlayers() override { ++refreshed; }
        void StopTimer() override { ++stopped; }
        void Hide() override { ++hidden; }
        std::vector<std::string> chat;
        int refreshed = 0, stopped = 0, hidden = 0;
    } room;
    net::SetWaitingRoom(&room);
    session::Message m;
    net::WriteChat(m, "ready?");
    host.Send(0, m);
    ASSERT_TRUE(WaitUntil([&] {
        net::ReceiveMessages();
        return !room.chat.empty();
    }));
    EXPECT_GT(room.refreshed, 0) << "Carl's arrival refreshes the player list";
    ASSERT_EQ(room.chat[0].size(), 32u) << "two line breaks, HH:MM:SS, the name line, the text";
    EXPECT_EQ(room.chat[0].substr(0, 4), "\r\n\r\n");
    EXPECT_EQ(room.chat[0].substr(12), " Zed write: \r\nready?");

    // START: the players, the host, the names, then the match; a second START changes nothing.
    const std::vector<int32_t> ids = {host.id, core::MyPlayerId, carl.id};
    net::WriteStart(m, ids, host.id, "Zed (ENTREPOT)", "entrepot");
    host.Send(0, m);
    ASSERT_TRUE(WaitUntil([&] {
        net::ReceiveMessages();
        return matches > 0;
    }));
    EXPECT_EQ(net::MatchStatus, 7);
    EXPECT_EQ(room.stopped, 1);
    EXPECT_EQ(room.hidden, 1);
    EXPECT_EQ(core::PlayerCount, 3);
    EXPECT_EQ(core::PlayerIds[2], carl.id);
    EXPECT_EQ(core::PlayerNames[0], "Zed");
    EXPECT_EQ(core::PlayerFormalNames[2], "03");
    EXPECT_EQ(net::HostPlayerId, host.id);
    EXPECT_EQ(core::MapName, "entrepot");
    net::MatchStatus.reset();
    net::WriteStart(m, std::vector<int32_t>{carl.id}, carl.id, "other", "usine");
    carl.Send(0, m);
    Drain(1);
    EXPECT_EQ(matches, 1);
    EXPECT_EQ(core::MapName, "entrepot");

    // The host goes: this machine joined first after it, becomes host and tells the others.
    StartLocalMatch();
    host.svc.Close();
    ASSERT_TRUE(WaitUntil(
        [&] {
            net::ReceiveMessages();
            return net::IsHost;
        },
        10000ms));
    EXPECT_EQ(net::HostPlayerId, core::MyPlayerId);
    EXPECT_EQ(core::MessageLine, "You are now the host.");
    session::Message told = carl.Next(net::code::HOST);
    ASSERT_GT(told.Size(), 0u);
    EXPECT_EQ(told.ReadLong(), net::code::HOST);
    EXPECT_EQ(told.ReadLong(), core::MyPlayerId);
}

TEST_F(Receiver, AJoinerWhoBecomesHostBeforeTheMatchStartsItOnTheJoinedSessionsMap) {
    // A machine that only joined has named no session and chosen no map of its own.
    net::SessionName.clear();
    core::MapName.clear();
    Peer host(config), carl(config);
    session::SessionDesc desc;
    desc.application = *session::Guid::Parse(net::kApplicationGuid);
    desc.name = "Zed's (best) game (COUR)";
    desc.flags = session::kSessionMigrateHost;
    ASSERT_EQ(host.svc.Open(desc, session::OpenMode::Create), session::Error::Ok);
    uint32_t hostId = 0;
    ASSERT_EQ(host.svc.CreatePlayer("Zed", "14", hostId), session::Error::Ok);
    ASSERT_TRUE(net::InitDirectPlay());
    std::vector<std::string> entries;
    ASSERT_TRUE(net::ConnectLan(0, entries));
    ASSERT_TRUE(net::JoinGame(0));
    carl.Join("Carl", "03");

    // The host leaves before START; this machine, the earliest joiner, takes over and starts.
    host.svc.Close();
    ASSERT_TRUE(WaitUntil(
        [&] {
            net::ReceiveMessages();
            return net::IsHost;
        },
        10000ms));
    EXPECT_EQ(net::SendStartToAll(), 7);
    EXPECT_EQ(core::MapName, "cour") << "the match here";
    session::Message start = carl.Next(net::code::START);
    ASSERT_GT(start.Size(), 0u);
    start.ReadLong();
    const uint8_t n = start.ReadByte();
    EXPECT_EQ(n, 2);
    for (int i = 0; i < n; ++i)
        start.ReadLong();
    EXPECT_EQ(start.ReadLong(), core::MyPlayerId);
    EXPECT_EQ(start.ReadString(), "Zed's (best) game (COUR)");
    EXPECT_EQ(start.ReadString(), "cour") << "the match on Carl's machine";
}

TEST_F(Receiver, FailuresShowTheirFixedMessagesAndLeaveNoSessionBehind) {
    ASSERT_TRUE(net::InitDirectPlay());
    std::vector<std::string> entries;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(net::ConnectLan(7, entries)) << "no such provider";
    EXPECT_FALSE(net::JoinGame(0)) << "nothing listed";
    // The local player exists once: a second creation fails, and it is not the invalid-player
    // case.
    ASSERT_TRUE(net::CreateGame(""));
    EXPECT_FALSE(net::CreateGame(""));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": Failed to initialize connection."), std::string::npos) << out;
    EXPECT_NE(out.find(": Failed to join game."), std::string::npos) << out;
    EXPECT_NE(out.find(": Failed to create player."), std::string::npos) << out;
    EXPECT_EQ(out.find("INVALIDPLAYER"), std::string::npos) << out;

    // An internet game that cannot be published opens no session and shows nothing.
    net::WebServerName = "games.example";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(net::CreateGame("come in"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout().find("messagebox"), std::string::npos);
    EXPECT_FALSE(net::DPlay && net::DPlay->IsOpen());
    // Leaving a game this machine does not host leaves the web list alone.
    struct Directory : net::GameDirectory {
        bool Publish(std::string_view) override { return false; }
        void Withdraw() override { ++withdrawn; }
        int withdrawn = 0;
    } directory;
    net::SetGameDirectory(&directory);
    net::HostPlayerId = 12345;
    net::LeaveSession();
    EXPECT_EQ(directory.withdrawn, 0);
    EXPECT_FALSE(net::DPlay);
    net::HostPlayerId = core::MyPlayerId;
    net::CloseDirectPlay();
    EXPECT_EQ(directory.withdrawn, 1) << "the host of an internet game withdraws it";
    net::WebServerName.clear();
    net::SetGameDirectory(nullptr);
}
