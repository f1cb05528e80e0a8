// Two real `tarnhold` processes on loopback, each with its own settings directory, go the
// player's way through the screens: main menu, LET'S FIGHT, the session list, a new game on one
// machine and REFRESH GAMES then JOIN GAME on the other, chat both ways in the waiting room,
// and the host's START takes both into one match where each announces the other.
#include "tests/support/discovery_port.h"
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "ui/lobby.h"

#include <algorithm>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

class LobbyPath : public ::testing::Test {
protected:
    void SetUp() override {
        dir = apptest::FreshDir("lobby-e2e");
        port = std::to_string(testsupport::FreshDiscoveryPort());
    }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(dir); // kept for a look after a failure
    }

    std::unique_ptr<apptest::Process> Launch(const std::string& name, const std::string& script) {
        return apptest::LaunchMachine(dir, name, script,
                                      {{"TARNHOLD_SEED", "5"},
                                       {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
                                       {"TARNHOLD_DISCOVERY_PORT", port}});
    }
    // A machine that only knows the addresses its player types: no LAN target, no web server.
    std::unique_ptr<apptest::Process> LaunchWithoutLan(const std::string& name,
                                                       const std::string& script) {
        return apptest::LaunchMachine(dir, name, script,
                                      {{"TARNHOLD_SEED", "5"}, {"TARNHOLD_DISCOVERY_PORT", port}});
    }

    // Files the scripts wait for, so the test says when each step may run.
    void Signal(const std::string& file) { std::ofstream(dir / file) << "go\n"; }
    std::string Wait(const std::string& file) { return "waitfile " + (dir / file).string() + "\n"; }

    std::filesystem::path dir;
    std::string port;
};

// The menu's news box, the player's name, then LET'S FIGHT on the LAN connection.
std::string ToTheSessionList(const std::string& name) {
    return "answer * OK\n"
           "waitscreen mainmenu\n"
           "type txtYourName " +
           name +
           "\n"
           "press \"LET'S FIGHT\"\n"
           "waitscreen session_list\n";
}

// The menu's news box, the player's name, the connection that reaches one host by address
// (entry 1 of the connection list), LET'S FIGHT, and the host's address typed in its box.
std::string ToTheSessionListAt(const std::string& name, const std::string& address) {
    return "answer * OK\n"
           "waitscreen mainmenu\n"
           "type txtYourName " +
           name +
           "\n"
           "select lstConnections 1\n"
           "press \"LET'S FIGHT\"\n"
           "type answer " +
           address +
           " ENTER\n"
           "waitscreen session_list\n";
}

// NEW GAME on map entry `map` of the Create Game list, named `game`, up to the waiting room.
std::string NewGame(const std::string& map, const std::string& game) {
    const std::vector<std::string> maps =
        ui::MapChoices({apptest::GameExecutable().parent_path() / "map"});
    const auto entry = std::find(maps.begin(), maps.end(), map) - maps.begin();
    EXPECT_LT(size_t(entry), maps.size()) << map;
    return "press \"NEW GAME\"\n"
           "waitscreen create_game\n"
           "select Combo1 " +
           std::to_string(entry) +
           "\n"
           "type txtGameName \"" +
           game +
           "\"\n"
           "press CREATE\n"
           "waitscreen waiting_room\n";
}

// REFRESH GAMES, then JOIN GAME on the first game listed, up to the waiting room.
constexpr const char* kJoin = "press \"REFRESH GAMES\"\n"
                              "press \"JOIN GAME\"\n"
                              "waitscreen waiting_room\n";

// Escape ends the match.
constexpr const char* kLeave = "key down 1\nwait 2\nkey up 1\n";

// How many times `what` is in `text`.
size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Polls `p`'s output until `what` is in it `times` times; false after `limit`.
bool WaitCount(apptest::Process& p, const std::string& what, size_t times,
               std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (Count(p.Output(), what) >= times) return true;
        std::this_thread::sleep_for(50ms);
    }
    return Count(p.Output(), what) >= times;
}

TEST_F(LobbyPath, TwoMachinesMeetInTheLobbyChatAndStartOneMatch) {
    // ENTREPOT comes after the installation's map files in the Create Game list.
    const std::vector<std::string> maps =
        ui::MapChoices({apptest::GameExecutable().parent_path() / "map"});
    const auto entrepot = std::find(maps.begin(), maps.end(), "ENTREPOT") - maps.begin();

    auto ann = Launch("Ann", ToTheSessionList("Ann") +
                                 "press \"NEW GAME\"\n"
                                 "waitscreen create_game\n"
                                 "select Combo1 " +
                                 std::to_string(entrepot) +
                                 "\n"
                                 "type txtGameName \"Ann's game\"\n"
                                 "press CREATE\n"
                                 "waitscreen waiting_room\n" +
                                 Wait("ann-chat") + "type mess \"  hello from Ann  \" ENTER\n" +
                                 Wait("start") + "press START\n" + Wait("quit") + kLeave);
    auto bob = Launch("Bob", ToTheSessionList("Bob") + Wait("hosting") +
                                 "press \"REFRESH GAMES\"\n"
                                 "press \"JOIN GAME\"\n"
                                 "waitscreen waiting_room\n"
                                 "type mess \"hello from Bob\" ENTER\n" +
                                 Wait("quit") + kLeave);

    ASSERT_TRUE(ann->WaitOutput("waiting room: 1 of 4 players ready...", 40s)) << ann->Output();
    Signal("hosting");
    // Both rooms list both players; Bob's line reaches Ann's history.
    ASSERT_TRUE(bob->WaitOutput("waiting room: 2 of 4 players ready...", 40s)) << bob->Output();
    EXPECT_TRUE(ann->WaitOutput("waiting room: 2 of 4 players ready...", 10s)) << ann->Output();
    EXPECT_TRUE(ann->WaitOutput(" Bob write:   hello from Bob", 10s)) << ann->Output();
    // Ann's line goes out trimmed and is in both histories.
    Signal("ann-chat");
    EXPECT_TRUE(bob->WaitOutput(" Ann write:   hello from Ann\n", 10s)) << bob->Output();
    EXPECT_TRUE(ann->WaitOutput(" Ann write:   hello from Ann\n", 10s)) << ann->Output();

    // START: one match on both machines, each announcing the other.
    Signal("start");
    EXPECT_TRUE(ann->WaitOutput("message: The TERRORIST Bob come in Game.", 60s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    EXPECT_TRUE(bob->WaitOutput("message: The TERRORIST Ann come in Game.", 30s)) << bob->Output();
    Signal("quit");
    EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
    // Bob listed the session Ann named, with her map and the player counts.
    EXPECT_NE(bob->Output().find("session list: Ann's game (ENTREPOT) (1/4)"), std::string::npos)
        << bob->Output();
}

// The host leaves the waiting room before START: the earliest joiner becomes host, is told so,
// and its START takes the one who remains into the match on the map of the session they joined.
TEST_F(LobbyPath, TheHostLeavesTheWaitingRoomAndTheNewHostStartsTheSessionsMap) {
    auto ann = Launch("Ann", ToTheSessionList("Ann") + NewGame("COUR", "Ann's game") +
                                 Wait("ann-leaves") + "press CANCEL\n");
    auto bob = Launch("Bob", ToTheSessionList("Bob") + Wait("hosting") + kJoin +
                                 "answer * OK\n" + // "You are now the host."
                                 Wait("start") + "press START\n" + Wait("quit") + kLeave);
    ASSERT_TRUE(ann->WaitOutput("waiting room: 1 of 4 players ready...", 40s)) << ann->Output();
    Signal("hosting");
    ASSERT_TRUE(ann->WaitOutput("waiting room: 2 of 4 players ready...", 40s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    auto carl = Launch("Carl", ToTheSessionList("Carl") + kJoin + Wait("quit") + kLeave);
    ASSERT_TRUE(carl->WaitOutput("waiting room: 3 of 4 players ready...", 40s)) << carl->Output();
    ASSERT_TRUE(WaitCount(*bob, "waiting room: 3 of 4 players ready...", 1, 10s)) << bob->Output();

    Signal("ann-leaves");
    EXPECT_EQ(ann->WaitExit(30s), 0) << ann->Output();
    ASSERT_TRUE(bob->WaitOutput("messagebox \"Tarnhold\": You are now the host.", 30s))
        << bob->Output();
    ASSERT_TRUE(carl->WaitOutput("waiting room: 2 of 4 players ready...", 30s)) << carl->Output();
    EXPECT_EQ(carl->Output().find("You are now the host."), std::string::npos) << "one new host";

    Signal("start");
    for (apptest::Process* p : {bob.get(), carl.get()})
        EXPECT_TRUE(p->WaitOutput("match on map cour\n", 60s)) << p->Output();
    EXPECT_TRUE(bob->WaitOutput("message: The TERRORIST Carl come in Game.", 60s))
        << bob->Output() << "\n---\n"
        << carl->Output();
    EXPECT_TRUE(carl->WaitOutput("message: The TERRORIST Bob come in Game.", 30s))
        << carl->Output();
    Signal("quit");
    EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
    EXPECT_EQ(carl->WaitExit(40s), 0) << carl->Output();
    for (apptest::Process* p : {bob.get(), carl.get()}) {
        EXPECT_EQ(Count(p->Output(), "match on map "), 1u) << p->Output();
        EXPECT_NE(p->Output().find("match ended"), std::string::npos) << p->Output();
    }
}

// Without a web server or a LAN target: each player chooses the connection that reaches one
// host by address and types it; the joiner lists the host's game, joins it, and the host's
// START takes both into the match.
TEST_F(LobbyPath, TwoMachinesPlayOverTheConnectionToOneHostByAddress) {
    auto ann = LaunchWithoutLan("Ann", ToTheSessionListAt("Ann", "127.0.0.1") +
                                           NewGame("USINE", "Ann's game") + Wait("start") +
                                           "press START\n" + Wait("quit") + kLeave);
    auto bob = LaunchWithoutLan("Bob", ToTheSessionListAt("Bob", "127.0.0.1") + Wait("hosting") +
                                           kJoin + Wait("quit") + kLeave);
    ASSERT_TRUE(ann->WaitOutput("waiting room: 1 of 4 players ready...", 40s)) << ann->Output();
    Signal("hosting");
    ASSERT_TRUE(ann->WaitOutput("waiting room: 2 of 4 players ready...", 40s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    EXPECT_NE(bob->Output().find("session list: Ann's game (USINE) (1/4)"), std::string::npos)
        << bob->Output();

    Signal("start");
    for (apptest::Process* p : {ann.get(), bob.get()})
        EXPECT_TRUE(p->WaitOutput("match on map usine\n", 60s)) << p->Output();
    EXPECT_TRUE(ann->WaitOutput("message: The TERRORIST Bob come in Game.", 60s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    EXPECT_TRUE(bob->WaitOutput("message: The TERRORIST Ann come in Game.", 30s)) << bob->Output();
    Signal("quit");
    EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
    for (apptest::Process* p : {ann.get(), bob.get()})
        EXPECT_NE(p->Output().find("inputbox answer: 127.0.0.1\n"), std::string::npos)
            << p->Output();
}

} // namespace

// Create Game with two computer players at the hard level: they are players of the session
// (the host's room and the joiner's list count them), the choice is kept in the settings, and
// START takes them into the match on both machines, simulated on the host.
TEST_F(LobbyPath, TheComputerPlayersChosenOnCreateGameArePlayersOfTheSession) {
    const std::vector<std::string> maps =
        ui::MapChoices({apptest::GameExecutable().parent_path() / "map"});
    const auto entrepot = std::find(maps.begin(), maps.end(), "ENTREPOT") - maps.begin();
    auto ann = Launch("Ann", ToTheSessionList("Ann") +
                                 "press \"NEW GAME\"\n"
                                 "waitscreen create_game\n"
                                 "select Combo1 " +
                                 std::to_string(entrepot) +
                                 "\n"
                                 "type txtGameName \"Ann's game\"\n"
                                 "select create_bots 2\n"
                                 "select create_level 2\n"
                                 "press CREATE\n"
                                 "waitscreen waiting_room\n" +
                                 Wait("start") + "press START\n" + Wait("quit") + kLeave);
    ASSERT_TRUE(ann->WaitOutput("waiting room: 3 of 4 players ready...", 40s)) << ann->Output();
    const std::string registry = apptest::ReadFile(dir / "Ann" / "registry.reg");
    for (const char* value : {"\"BotsPartie\"=\"2\"", "\"NiveauBotsPartie\"=\"2\""})
        EXPECT_NE(registry.find(value), std::string::npos) << value << "\n" << registry;

    auto bob = Launch("Bob", ToTheSessionList("Bob") + kJoin + Wait("quit") + kLeave);
    ASSERT_TRUE(bob->WaitOutput("waiting room: 4 of 4 players ready...", 40s)) << bob->Output();
    EXPECT_NE(bob->Output().find("session list: Ann's game (ENTREPOT) (3/4)"), std::string::npos)
        << bob->Output();
    Signal("start");
    for (const char* bot : {"Bot 1", "Bot 2"}) {
        EXPECT_TRUE(ann->WaitOutput(std::string("computer player ") + bot, 60s)) << ann->Output();
        EXPECT_TRUE(
            bob->WaitOutput(std::string("message: The GIGN ") + bot + " come in Game.", 60s))
            << bob->Output();
    }
    EXPECT_NE(ann->Output().find("level hard, session id"), std::string::npos) << ann->Output();
    Signal("quit");
    EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
}
