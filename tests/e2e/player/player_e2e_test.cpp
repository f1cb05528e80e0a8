// A local player driven through a whole headless match by a script, frame by frame: walking and
// turning with the mouse, firing by key and by button, crouching, cycling the weapons through
// every rank and the views through first person, scope and chase view, then Escape. Between the
// steps the script's `dump` has the game write its local player's record to the log, and each
// step must show in it: the player moved and turned, shots were fired and bullets spent, the
// weapon and the view changed. The match must end normally and its close keep the statistics.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <cmath>
#include <cstdio>
#include <set>

namespace {

using namespace std::chrono_literals;

// Toggle keys act once per key-ready period (400 ms): each press waits that long first.
std::string Toggle(int code, int times) {
    std::string s;
    for (int i = 0; i < times; ++i)
        s += "sleep 450\nkey press " + std::to_string(code) + "\nwait 2\n";
    return s;
}

// One "state: ..." line of the log: the local player's record when the script asked.
struct State {
    float x = 0, y = 0, z = 0;    // position, scene units
    float dx = 0, dy = 0, dz = 0; // facing
    int weapon = -1;
    std::string weaponName;
    int bullets = -1;
    long long shots = -1;
    std::string view;
    int crouch = -1;
    int health = -1;
};

std::vector<State> StatesIn(const std::string& log) {
    std::vector<State> states;
    for (size_t at = log.find("state: "); at != std::string::npos;
         at = log.find("state: ", at + 1)) {
        const std::string line = log.substr(at, log.find('\n', at) - at);
        State s;
        char name[64] = {}, view[16] = {};
        const int read = std::sscanf(
            line.c_str(),
            "state: position=%f,%f,%f facing=%f,%f,%f weapon=%d:%63s bullets=%d shots=%lld "
            "view=%15s crouch=%d health=%d",
            &s.x, &s.y, &s.z, &s.dx, &s.dy, &s.dz, &s.weapon, name, &s.bullets, &s.shots, view,
            &s.crouch, &s.health);
        EXPECT_EQ(read, 13) << "unreadable state line: " << line;
        s.weaponName = name;
        s.view = view;
        states.push_back(s);
    }
    return states;
}

float Distance(const State& a, const State& b) {
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
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
    // Steps last real time (sleep), not frames: the game advances movement and animations by
    // the time a frame takes, and its frames are short headless. The player spawns reloading.
    std::string script = "waitscreen hud\nsleep 1500\ndump\n"
                         // 1. Walk forward, turning right with the mouse.
                         "key down 200\nsleep 600\nmouse motion 60 0\nsleep 200\nkey up 200\n"
                         "dump\n"
                         // 2. Strafe left, then fire by key.
                         "key down 203\nsleep 200\nkey up 203\n"
                         "key down 25\nsleep 400\nkey up 25\ndump\n"
                         // 3. Crouched, fire by the left button.
                         "key down 157\nsleep 300\nmouse down left\nsleep 400\nmouse up left\n"
                         "dump\nkey up 157\n";
    // 4. Eleven weapon switches bring the scope rifle (awp, the last weapon).
    script += Toggle(209, 11) + "dump\n";
    // 5. The views cycle with the scope rifle in hand, firing in each view.
    for (int i = 0; i < 3; ++i)
        script += Toggle(211, 1) + "dump\nmouse motion 0 -20\nkey down 25\nsleep 300\nkey up 25\n";
    // 6. The twelfth switch comes back to the first weapon; a last walk backwards (a wall may
    // stand ahead by now), then Escape.
    script += Toggle(209, 1) + "dump\nkey down 208\nsleep 400\nkey up 208\nwait 2\ndump\n" +
              "key down 1\n";
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

    const std::vector<State> states = StatesIn(output);
    ASSERT_EQ(states.size(), 10u) << output;
    const State& start = states[0];
    EXPECT_EQ(start.health, 100);
    EXPECT_EQ(start.shots, 0);
    EXPECT_EQ(start.crouch, 0);
    // 1. The walk carried the player away from the spawn point, and the mouse turned it.
    const State& walked = states[1];
    EXPECT_GT(Distance(start, walked), 0.5f) << output;
    EXPECT_LT(start.dx * walked.dx + start.dy * walked.dy + start.dz * walked.dz, 0.999f)
        << "the mouse did not turn the player\n"
        << output;
    // 2. Firing spent bullets of the weapon in hand, one per shot.
    const State& fired = states[2];
    EXPECT_GT(fired.shots, 0) << output;
    EXPECT_EQ(fired.weapon, start.weapon);
    EXPECT_EQ(start.bullets - fired.bullets, fired.shots) << output;
    // 3. Crouched, the button fires too.
    const State& crouched = states[3];
    EXPECT_EQ(crouched.crouch, 1) << output;
    EXPECT_GT(crouched.shots, fired.shots) << output;
    // 4. The weapon changed to the scope rifle.
    const State& rifle = states[4];
    EXPECT_EQ(rifle.weapon, 11) << output;
    EXPECT_EQ(rifle.weaponName, "awp");
    // 5. Each view key changed the view, through all three views.
    std::set<std::string> views;
    std::string previous = rifle.view;
    for (size_t i = 5; i < 8; ++i) {
        EXPECT_NE(states[i].view, previous) << "view key " << i - 4 << " changed nothing";
        previous = states[i].view;
        views.insert(previous);
        EXPECT_EQ(states[i].weapon, 11);
    }
    EXPECT_EQ(views, (std::set<std::string>{"first", "scope", "third"})) << output;
    EXPECT_GT(states[7].shots, rifle.shots) << "no shot in the views\n" << output;
    // 6. Back to the first weapon; the walk backwards moved the player again.
    EXPECT_EQ(states[8].weapon, 0) << output;
    EXPECT_GT(Distance(states[8], states[9]), 0.5f) << output;

    // Alone on the map nobody is hit: the totals come back unchanged and the power follows them.
    const std::string registry = apptest::ReadFile(dir / "home" / "registry.reg");
    for (const char* value : {"\"Killer\"=\"15\"", "\"Killed\"=\"3\"", "\"Snipper\"=\"1\"",
                              "\"Snipped\"=\"0\"", "\"Power\"=\"4\""})
        EXPECT_NE(registry.find(value), std::string::npos) << value << "\n" << registry;
}

INSTANTIATE_TEST_SUITE_P(Maps, ScriptedPlayer, ::testing::Values("couloirs", "cour"));

} // namespace
