// The lobby windows driven by a script in this process, headless, against real sessions over
// 127.0.0.1: a plain session service in the test stands for the other machine.
#include "app/wiring.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"
#include "ui/lobby.h"
#include "ui/lobby_local.h"
#include "web/web.h"

#include "tests/support/discovery_port.h"
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The other machine: a plain session service and its player.
struct Peer {
    explicit Peer(const session::ServiceConfig& config) : svc(config) {
        EXPECT_EQ(svc.Initialize(session::ProviderKind::Lan, {"127.0.0.1", 0}), session::Error::Ok);
    }
    session::SessionDesc Filter() const {
        session::SessionDesc d;
        d.application = *session::Guid::Parse(net::kApplicationGuid);
        return d;
    }
    void Host(const std::string& sessionName, const std::string& name) {
        session::SessionDesc d = Filter();
        d.name = sessionName;
        d.maxPlayers = net::kMaxPlayers;
        d.flags = session::kSessionMigrateHost;
        ASSERT_EQ(svc.Open(d, session::OpenMode::Create), session::Error::Ok);
        CreatePlayer(name, "1");
    }
    void Join(const std::string& name, const std::string& formal) {
        std::vector<session::SessionDesc> found;
        ASSERT_EQ(svc.EnumSessions(Filter(), 300, 0, found), session::Error::Ok);
        ASSERT_EQ(found.size(), 1u);
        ASSERT_EQ(svc.Open(found[0], session::OpenMode::Join), session::Error::Ok);
        CreatePlayer(name, formal);
    }
    void CreatePlayer(const std::string& name, const std::string& formal) {
        uint32_t got = 0;
        ASSERT_EQ(svc.CreatePlayer(name, formal, got), session::Error::Ok);
        id = int32_t(got);
    }
    void Send(const session::Message& m, bool guaranteed = true) {
        ASSERT_EQ(svc.Send(uint32_t(id), 0, guaranteed, m), session::Error::Ok);
    }
    // The next application message (system events skipped), rewound; empty after `limit`.
    session::Message Next(std::chrono::milliseconds limit = 3000ms) {
        session::Message m;
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            uint32_t from = 0, to = 0;
            if (svc.WaitingCount() > 0 && svc.Receive(from, to, m) && from != 0) return m;
            std::this_thread::sleep_for(5ms);
        }
        return {};
    }

    session::Service svc;
    int32_t id = 0;
};

// The fixture is the match runner: a START counts a match; late joiners get no record.
class Lobby : public ::testing::Test, public net::MatchRunner {
protected:
    int RunMatch() override {
        ++matches;
        return 0;
    }
    const player::World* MatchWorld() const override { return nullptr; }

    void SetUp() override {
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_TRUE(window::Init("lobby", 640, 480));
        install =
            std::filesystem::path(::testing::TempDir()) / ("lobby-" + std::to_string(::getpid()));
        std::filesystem::create_directories(install / "map");
        std::ofstream(install / "map" / "desert.map") << "x";
        core::ProgramDirectory = install.string();
        core::ProgramName = "Tarnhold";
        core::VersionText = "1.0.0";

        config.discoveryPort = testsupport::FreshDiscoveryPort();
        config.discoveryPortCount = 4;
        net::ServiceSettings = config;
        net::LanTarget = "127.0.0.1";
        net::WebServerName.clear();
        net::MatchStatus.reset();
        app::ConnectModules();
        net::SetMatchRunner(this);
    }

    void TearDown() override {
        automation::Stop();
        net::LeaveSession();
        net::SetMatchRunner(nullptr);
        window::Shutdown();
        std::filesystem::remove_all(install);
    }

    // This machine, named `name`, on the LAN provider towards 127.0.0.1.
    void Connect(const std::string& name, const std::string& formal) {
        net::PlayerName = name;
        net::PlayerFormalName = formal;
        ASSERT_TRUE(net::InitDirectPlay());
        std::vector<std::string> entries;
        ASSERT_TRUE(net::ConnectLan(0, entries));
    }

    static void Run(const std::string& script) {
        automation::Start(automation::ParseScript(script, "lobby"));
    }

    // Pumps the window until `done`, at most `limit`.
    static bool PumpUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds limit = 8000ms) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < until) {
            window::Yield();
            std::this_thread::sleep_for(2ms);
        }
        return done();
    }

    std::filesystem::path install;
    session::ServiceConfig config;
    int matches = 0;
};

using Lines = std::vector<std::string>;

TEST_F(Lobby, HostCreatesAGameChatsAndStartsTheMatchForEveryone) {
    Connect("Ann", "01");
    ASSERT_TRUE(ui::OpenSessionList(false));
    const auto list = ui::SessionListWindow();
    EXPECT_TRUE(list->Sessions().empty());
    EXPECT_FALSE(list->JoinEnabled()) << "no session found: JOIN GAME is disabled";

    // The map list holds the map file first. The name field has the focus: the typed name
    // must survive the field's own editing state over the frames before CREATE.
    Run("waitscreen session_list\n"
        "press \"NEW GAME\"\n"
        "waitscreen create_game\n"
        "select Combo1 1\n"
        "type txtGameName \"Night raid\"\n"
        "wait 3\n"
        "press CREATE\n");
    const auto room = ui::WaitingRoomWindow();
    ASSERT_TRUE(PumpUntil([&] { return room->IsOpen(); }));
    EXPECT_FALSE(list->IsOpen());
    EXPECT_EQ(net::SessionName, "Night raid (ENTREPOT)");
    EXPECT_EQ(core::MapName, "entrepot");
    EXPECT_EQ(room->Status(), "1 of 4 players ready...");
    EXPECT_EQ(room->Players(), (Lines{"Ann (TERRORIST)"}));
    EXPECT_TRUE(room->StartEnabled());

    // Another machine joins and is listed; its chat reaches the history.
    Peer bob(config);
    bob.Join("Bob", "13");
    ASSERT_TRUE(PumpUntil([&] { return room->Status() == "2 of 4 players ready..."; }));
    EXPECT_EQ(room->Players(), (Lines{"Ann (TERRORIST)", "Bob (GIGN)"}));
    session::Message chat;
    net::WriteChat(chat, "hi Ann");
    bob.Send(chat, false);
    ASSERT_TRUE(PumpUntil([&] {
        return room->History().find(" Bob write: \r\nhi Ann") != std::string::npos;
    })) << room->History();

    // A blank line is not sent; a padded one is sent trimmed; START goes to everyone and the
    // match runs here, after which the program is to end.
    Run("waitscreen waiting_room\n"
        "type mess \"   \" ENTER\n"
        "type mess \"  gg  \" ENTER\n"
        "wait 2\n"
        "press START\n");
    ASSERT_TRUE(PumpUntil([&] { return matches == 1; }));
    EXPECT_TRUE(window::QuitRequested());
    EXPECT_FALSE(room->IsOpen());
    EXPECT_NE(room->History().find(" Ann write: \r\ngg"), std::string::npos) << room->History();

    session::Message m = bob.Next();
    ASSERT_GE(m.Size(), 4u);
    ASSERT_EQ(m.ReadLong(), net::code::CHAT);
    EXPECT_EQ(m.ReadString(), "gg") << "the blank line was not sent";
    m = bob.Next();
    ASSERT_GE(m.Size(), 4u);
    ASSERT_EQ(m.ReadLong(), net::code::START);
    ASSERT_EQ(m.ReadByte(), 2);
    const int32_t first = m.ReadLong();
    const int32_t second = m.ReadLong();
    EXPECT_EQ(first, core::MyPlayerId);
    EXPECT_EQ(second, bob.id);
    EXPECT_EQ(m.ReadLong(), core::MyPlayerId) << "the host's id";
    EXPECT_EQ(m.ReadString(), "Night raid (ENTREPOT)");
    EXPECT_EQ(m.ReadString(), "entrepot");
    EXPECT_EQ(core::PlayerCount, 2);
}

TEST_F(Lobby, JoinerWaitsWithStartDisabledAndStartsOnTheHostsStart) {
    Peer hal(config);
    hal.Host("Hal's game (DESERT)", "Hal");
    Connect("Bob", "13");
    ASSERT_TRUE(ui::OpenSessionList(false));
    const auto list = ui::SessionListWindow();
    EXPECT_EQ(list->Sessions(), (Lines{"Hal's game (DESERT) (1/4)"}));
    EXPECT_TRUE(list->JoinEnabled());

    Run("waitscreen session_list\n"
        "press \"JOIN GAME\"\n");
    const auto room = ui::WaitingRoomWindow();
    ASSERT_TRUE(PumpUntil([&] { return room->IsOpen(); }));
    EXPECT_FALSE(room->StartEnabled());
    EXPECT_EQ(room->Status(), "2 of 4 players ready...");
    EXPECT_EQ(room->Players(), (Lines{"Hal (GIGN)", "Bob (GIGN)"}));

    // The host's START, received by the room's timer, starts the match here.
    session::Message start;
    const int32_t ids[] = {hal.id, core::MyPlayerId};
    net::WriteStart(start, ids, hal.id, "Hal's game (DESERT)", "desert");
    hal.Send(start);
    ASSERT_TRUE(PumpUntil([&] { return matches == 1; }));
    EXPECT_FALSE(room->IsOpen());
    EXPECT_TRUE(window::QuitRequested());
    EXPECT_EQ(core::MapName, "desert");
    EXPECT_EQ(net::HostPlayerId, hal.id);
    EXPECT_EQ(core::PlayerCount, 2);
}

TEST_F(Lobby, TheJoinerBecomesHostWhenTheHostLeavesBeforeStart) {
    auto hal = std::make_unique<Peer>(config);
    hal->Host("Hal's game (DESERT)", "Hal");
    Connect("Bob", "03");
    ASSERT_TRUE(ui::OpenSessionList(false));
    Run("waitscreen session_list\n"
        "press \"JOIN GAME\"\n"
        "answer * OK\n");
    const auto room = ui::WaitingRoomWindow();
    ASSERT_TRUE(PumpUntil([&] { return room->IsOpen(); }));
    ASSERT_FALSE(room->StartEnabled());

    testing::internal::CaptureStdout(); // the log: every message box is written there
    hal.reset();                        // the host's machine goes
    const bool enabled = PumpUntil([&] { return room->StartEnabled(); }, 15000ms);
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(enabled) << "the new host's START is enabled\n" << log;
    EXPECT_TRUE(net::IsHost);
    EXPECT_NE(log.find("messagebox \"Tarnhold\": You are now the host."), std::string::npos) << log;
    ASSERT_TRUE(PumpUntil([&] { return room->Status() == "1 of 4 players ready..."; }));
    EXPECT_EQ(room->Players(), (Lines{"Bob (TERRORIST)"}));
}

TEST_F(Lobby, AWebGameOfAnotherReleaseIsRefusedAndOneOfThisReleaseIsSearched) {
    Peer hal(config);
    hal.Host("Hal's game (DESERT)", "Hal");
    net::PlayerName = "Bob";
    net::PlayerFormalName = "13";
    ASSERT_TRUE(net::InitDirectPlay());
    // What the web's game list gave the menu.
    web::ServerList = {{1, 7, "Old", "0.9.0", "127.0.0.1", ""},
                       {2, 8, "Hal", "1.0.0", "127.0.0.1", "bring friends"}};
    web::ServerLines = {"SERVER Old On version 0.9.0", "SERVER Hal On version 1.0.0"};
    ASSERT_TRUE(ui::OpenSessionList(true));
    const auto list = ui::SessionListWindow();
    EXPECT_EQ(list->Servers(), web::ServerLines);
    EXPECT_TRUE(list->Sessions().empty());

    testing::internal::CaptureStdout();
    Run("waitscreen session_list\n"
        "answer * OK\n"
        "select lstserv 0\n"
        "wait 5\n"
        "select lstserv 1\n");
    const bool found = PumpUntil([&] { return !list->Sessions().empty(); });
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(found) << log;
    // The other release only got the message box; this release's game was searched at its
    // address, and its message is shown.
    EXPECT_NE(log.find("You can't play with this Server you don't have the same Release "
                       "Version:\nServer = 0.9.0 and Your Soft = 1.0.0\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(list->Sessions(), (Lines{"Hal's game (DESERT) (1/4)"}));
    EXPECT_TRUE(list->JoinEnabled());
    EXPECT_EQ(list->Comment(), "bring friends");
}

} // namespace
