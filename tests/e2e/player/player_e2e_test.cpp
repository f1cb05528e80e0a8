// A local player driven through a whole headless match by a script, frame by frame: walking and
// turning with the mouse, firing by key and by button, crouching, cycling the weapons through
// every rank and the views through first person, scope and chase view, then Escape. The match
// must end normally and its close must keep the machine's statistics.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

namespace {

using namespace std::chrono_literals;

// Toggle keys act once per key-ready period (400 ms): each press waits that long first.
std::string Toggle(int code, int times) {
    std::string s;
    for (int i = 0; i < times; ++i)
        s += "sleep 450\nkey press " + std::to_string(code) + "\nwait 2\n";
    return s;
}

class ScriptedPlayer : public ::testing::TestWithParam<const char*> {};

TEST_P(ScriptedPlayer, WalksFiresSwitchesWeaponsAndViewsThenLeavesWithTheTotalsKept) {
    const std::string map = GetParam();
    const auto dir = apptest::FreshDir("player-e2e-" + map);
    std::filesystem::create_directories(dir / "home");
    // Totals from earlier matches: score (15 - 3) + 5 x (1 - 0) = 17 gives weapon power 4 (every
    // weapon).
    std::ofstream(dir / "home" / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft]\r\n\"Id\"=\"0\"\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
        << "\"Killer\"=\"15\"\r\n\"Killed\"=\"3\"\r\n\"Snipper\"=\"1\"\r\n\"Snipped\"=\"0\"\r\n";
    std::string script = "wait 5\n"
                         // Walk forward, turning right with the mouse, then strafe left.
                         "key down 200\nwait 40\nmouse motion 60 0\nwait 20\nkey up 200\n"
                         "key down 203\nwait 20\nkey up 203\n"
                         // Fire by key, then by the left button, crouched.
                         "key down 25\nwait 40\nkey up 25\n"
                         "key down 157\nmouse down left\nwait 40\nmouse up left\nkey up 157\n";
    // Twelve weapon switches come back to the first weapon; the views cycle with the scope
    // rifle (awp, the last weapon) in hand, firing in each view.
    script += Toggle(209, 11);
    script += "key down 25\nwait 10\nkey up 25\n";
    for (int i = 0; i < 3; ++i)
        script += Toggle(211, 1) + "mouse motion 0 -20\nkey down 25\nwait 10\nkey up 25\n";
    script += Toggle(209, 1) + "key down 200\nwait 30\nkey up 200\nwait 5\nkey down 1\n";
    std::ofstream(dir / "script.txt") << script;

    apptest::Process game({apptest::GameExecutable().string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_SEED", "5"},
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                           {"TARNHOLD_MATCH", map}},
                          dir / "out.txt");
    ASSERT_EQ(game.WaitExit(90s), 0) << game.Output();
    const std::string output = game.Output();
    EXPECT_NE(output.find("match ended"), std::string::npos) << output;
    EXPECT_EQ(output.find("fatal"), std::string::npos) << output;
    EXPECT_EQ(output.find("not written"), std::string::npos) << output;
    EXPECT_EQ(output.find("script"), std::string::npos) << "every script line ran\n" << output;
    // Alone on the map nobody is hit: the totals come back unchanged and the power follows them.
    const std::string registry = apptest::ReadFile(dir / "home" / "registry.reg");
    for (const char* value : {"\"Killer\"=\"15\"", "\"Killed\"=\"3\"", "\"Snipper\"=\"1\"",
                              "\"Snipped\"=\"0\"", "\"Power\"=\"4\""})
        EXPECT_NE(registry.find(value), std::string::npos) << value << "\n" << registry;
}

INSTANTIATE_TEST_SUITE_P(Maps, ScriptedPlayer, ::testing::Values("couloirs", "cour"));

} // namespace
