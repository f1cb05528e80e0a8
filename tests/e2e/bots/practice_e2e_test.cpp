// "PRACTICE" from the main menu, as a player does it: the map, two computer players and the
// hard level are chosen, START plays the match with them in it, Escape ends it, and the
// settings keep the choices, so that the next PRACTICE proposes them again and START alone
// plays the same practice.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

namespace {

using namespace std::chrono_literals;

std::string RunMenu(const std::filesystem::path& dir, const std::string& name,
                    const std::string& choices) {
    const auto script = dir / (name + ".txt");
    std::ofstream(script) << "answer * OK\n"
                             "waitscreen mainmenu\n"
                             "type txtYourName Solo\n"
                             "press PRACTICE\n"
                             "waitscreen practice\n" +
                                 choices +
                                 "press START\n"
                                 "waitscreen hud\n"
                                 "wait 20\n"
                                 "dump\n"
                                 "key down 1\n";
    apptest::Process game({apptest::GameExecutable().string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_SEED", "3"},
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", script.string()}},
                          dir / (name + ".out"));
    EXPECT_EQ(game.WaitExit(60s), 0) << game.Output();
    return game.Output();
}

TEST(Practice, PlaysTheChosenMapAgainstTheChosenBotsAndKeepsTheChoices) {
    const auto dir = apptest::FreshDir("practice-e2e");
    // The map list holds the file maps first ("COUR" is the first), then the built-in ones.
    const std::string first = RunMenu(dir, "first",
                                      "select practice_map 0\n"
                                      "select practice_bots 1\n"
                                      "select practice_level 2\n");
    for (const char* line :
         {"practice on cour with 2 computer players, level hard", "match on map cour",
          "computer player Bot 1 in slot 1, team 1, level hard",
          "computer player Bot 2 in slot 2, team 1, level hard", "match ended"})
        EXPECT_NE(first.find(line), std::string::npos) << line << "\n" << first;
    EXPECT_EQ(first.find("Bot 3"), std::string::npos) << first;
    // The match ran with both computer players in it, alive and on the floor.
    const size_t state = first.find("state: ");
    ASSERT_NE(state, std::string::npos) << first;
    const std::string dump = first.substr(state, first.find('\n', state) - state);
    EXPECT_NE(dump.find(" bot1="), std::string::npos) << dump;
    EXPECT_NE(dump.find(" bot2="), std::string::npos) << dump;
    const std::string registry = apptest::ReadFile(dir / "home" / "registry.reg");
    for (const char* value : {"\"Bots\"=\"2\"", "\"NiveauBots\"=\"2\"", "\"CarteBots\"=\"COUR\""})
        EXPECT_NE(registry.find(value), std::string::npos) << value << "\n" << registry;

    // The next time, START alone plays what was chosen last.
    const std::string again = RunMenu(dir, "again", "");
    EXPECT_NE(again.find("practice on cour with 2 computer players, level hard"), std::string::npos)
        << again;
    EXPECT_NE(again.find("match ended"), std::string::npos) << again;
}

} // namespace
