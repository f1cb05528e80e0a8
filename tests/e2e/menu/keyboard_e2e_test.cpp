// The KEYBOARD screen of the real `tarnhold` program, headless and driven by a script through its
// own lists: fire moved onto a letter, a key of another action refused, the mouse made faster.
// The choices are saved in the settings and rule the next match: the letter fires and the old
// fire inputs no longer do, and the same mouse motion turns the player twice as far, as the
// script's `dump` of the local player shows.
#include <gtest/gtest.h>

#include "core/game.h"
#include "tests/e2e/app/process.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

namespace {

using namespace std::chrono_literals;

// The local player's facing and shot count from each "state: ..." line of a log.
struct State {
    float dx = 0, dz = 0;
    long long shots = -1;
};

std::vector<State> StatesIn(const std::string& log) {
    std::vector<State> states;
    for (size_t at = log.find("state: "); at != std::string::npos;
         at = log.find("state: ", at + 1)) {
        const std::string line = log.substr(at, log.find('\n', at) - at);
        State s;
        float x, y, z, dy;
        int weapon, bullets;
        char name[64] = {};
        const int read =
            std::sscanf(line.c_str(),
                        "state: position=%f,%f,%f facing=%f,%f,%f weapon=%d:%63s "
                        "bullets=%d shots=%lld",
                        &x, &y, &z, &s.dx, &dy, &s.dz, &weapon, name, &bullets, &s.shots);
        EXPECT_EQ(read, 10) << "unreadable state line: " << line;
        states.push_back(s);
    }
    return states;
}

// The turn between two facings about the vertical, in degrees.
double TurnDegrees(const State& a, const State& b) {
    const double turn = std::atan2(b.dx, b.dz) - std::atan2(a.dx, a.dz);
    return std::abs(std::remainder(turn, 2 * std::numbers::pi)) * 180 / std::numbers::pi;
}

int ChoiceOf(int32_t code) {
    const int index = core::InputChoiceIndex(code);
    EXPECT_GE(index, 0) << code;
    return index;
}

constexpr int32_t kKeyF = 33, kKeyEnd = 207;

// A match on the corridor for the machine `home`: a turn of the mouse, then F, P and the left
// button each held, a dump after each step, then Escape.
std::string PlayMatch(const std::filesystem::path& dir, const std::filesystem::path& home,
                      const std::string& name) {
    std::ofstream(dir / (name + ".txt"))
        << "waitscreen hud\nsleep 1500\ndump\n"
           "mouse motion 40 0\nwait 3\ndump\n"
           "key down 33\nsleep 400\nkey up 33\nwait 2\ndump\n"
           "key down 25\nsleep 400\nkey up 25\nwait 2\ndump\n"
           "mouse down left\nsleep 400\nmouse up left\nwait 2\ndump\n"
           "key down 1\nwait 2\nkey up 1\n";
    apptest::Process game({apptest::GameExecutable().string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_SEED", "5"},
                           {"TARNHOLD_HOME", home.string()},
                           {"TARNHOLD_SCRIPT", (dir / (name + ".txt")).string()},
                           {"TARNHOLD_MATCH", "couloirs"}},
                          dir / (name + ".out"));
    EXPECT_EQ(game.WaitExit(90s), 0) << game.Output();
    EXPECT_NE(game.Output().find("match ended"), std::string::npos) << game.Output();
    return game.Output();
}

TEST(KeyboardRun, AFireKeyChosenOnTheKeyboardScreenIsSavedAndFiresInTheNextMatch) {
    const auto dir = apptest::FreshDir("keyboard-run");
    const auto home = dir / "home";

    // Before: the default controls. F does nothing, P and the left button fire.
    const std::vector<State> before = StatesIn(PlayMatch(dir, home, "before"));
    ASSERT_EQ(before.size(), 5u);
    EXPECT_EQ(before[2].shots, before[1].shots) << "F fires before it is bound";
    EXPECT_GT(before[3].shots, before[2].shots) << "P fires by default";
    EXPECT_GT(before[4].shots, before[3].shots) << "the left button fires by default";
    const double plainTurn = TurnDegrees(before[0], before[1]);
    ASSERT_GT(plainTurn, 0.5);

    // The KEYBOARD screen: AVANCER onto End (BLOCAGE VISEE's) is refused; TIR onto F and the
    // mouse at 200 % are taken; CLOSE saves them.
    const auto sensitivity =
        std::find(core::kSensitivityChoices.begin(), core::kSensitivityChoices.end(), 200) -
        core::kSensitivityChoices.begin();
    std::ofstream(dir / "menu.txt") << "answer * OK\n"
                                       "waitscreen mainmenu\n"
                                       "press KEYBOARD\n"
                                       "waitscreen keyboard\n"
                                       "answer * OK\n"
                                       "select cmbdep0 "
                                    << ChoiceOf(kKeyEnd)
                                    << "\nwait 5\n"
                                       "select cmbdep4 "
                                    << ChoiceOf(kKeyF)
                                    << "\n"
                                       "select sensibilite "
                                    << sensitivity
                                    << "\n"
                                       "press CLOSE\n"
                                       "wait 3\n"
                                       "quit\n";
    apptest::Process menu({apptest::GameExecutable().string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"SDL_AUDIODRIVER", "dummy"},
                           {"TARNHOLD_HOME", home.string()},
                           {"TARNHOLD_SCRIPT", (dir / "menu.txt").string()}},
                          dir / "menu.out");
    ASSERT_EQ(menu.WaitExit(60s), 0) << menu.Output();
    EXPECT_NE(menu.Output().find("TOUCHE FIN is already bound to BLOCAGE VISEE"), std::string::npos)
        << menu.Output();
    const std::string reg = apptest::ReadFile(home / "registry.reg");
    EXPECT_NE(reg.find("\"ToucheTir\"=\"33\""), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"ToucheAvancer\"=\"200\""), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"SensibiliteSouris\"=\"200\""), std::string::npos) << reg;

    // After: F fires; P and the left button no longer do; the same motion turns twice as far.
    const std::string output = PlayMatch(dir, home, "after");
    const std::vector<State> after = StatesIn(output);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_GT(after[2].shots, after[1].shots) << "F does not fire\n" << output;
    EXPECT_EQ(after[3].shots, after[2].shots) << "P still fires\n" << output;
    EXPECT_EQ(after[4].shots, after[3].shots) << "the left button still fires\n" << output;
    EXPECT_NEAR(TurnDegrees(after[0], after[1]) / plainTurn, 2.0, 0.1) << output;
}

} // namespace
