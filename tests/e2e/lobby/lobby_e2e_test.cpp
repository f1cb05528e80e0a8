// Two real `tarnhold` processes on loopback, each with its own settings directory, go the
// player's way through the screens: main menu, LET'S FIGHT, the session list, a new game on one
// machine and REFRESH GAMES then JOIN GAME on the other, chat both ways in the waiting room,
// and the host's START takes both into one match where each announces the other.
#include <gtest/gtest.h>
#include "tests/support/discovery_port.h"

#include "tests/e2e/app/process.h"
#include "ui/lobby.h"


#include <algorithm>
#include <memory>

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

// Escape ends the match.
constexpr const char* kLeave = "key down 1\nwait 2\nkey up 1\n";

TEST_F(LobbyPath, TwoMachinesMeetInTheLobbyChatAndStartOneMatch) {
    // ENTREPOT comes after the installation's map files in the Create Game list.
    const std::vector<std::string> maps =
        ui::MapChoices(apptest::GameExecutable().parent_path() / "map");
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

} // namespace
