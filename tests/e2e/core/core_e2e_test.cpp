// Whole matches of the real program, headless: 600 frames on every map, then Escape.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

namespace {

using namespace std::chrono_literals;

struct MatchRun {
    int exitCode = -1;
    std::string output;
    std::string registry;
};

MatchRun PlayMatch(const std::string& map, const std::string& script) {
    const auto dir = apptest::FreshDir("core-e2e-" + map);
    std::ofstream(dir / "script.txt") << script;
    apptest::Process game({apptest::GameExecutable().string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                           {"TARNHOLD_MATCH", map}},
                          dir / "out.txt");
    MatchRun run;
    run.exitCode = game.WaitExit(60s);
    run.output = game.Output();
    run.registry = apptest::ReadFile(dir / "home" / "registry.reg");
    return run;
}

class EveryMap : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryMap, ScriptedMatchRuns600FramesThenEscapeSavesTheSettings) {
    const MatchRun run = PlayMatch(GetParam(), "frame 600\nkey down 1\n");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("match ended"), std::string::npos);
    EXPECT_EQ(run.output.find("fatal"), std::string::npos) << run.output;
    // The close wrote the statistics and every setting, as text.
    for (const char* value :
         {"\"Killer\"=\"0\"", "\"Killed\"=\"0\"", "\"Snipper\"=\"0\"", "\"Snipped\"=\"0\"",
          "\"Power\"=\"1\"", "\"Tex\"=\"1\"", "\"Qua\"=\"3\"", "\"Dplay2\"=\"0\"", "\"Id\"=\"0\""})
        EXPECT_NE(run.registry.find(value), std::string::npos) << value << "\n" << run.registry;
}

INSTANTIATE_TEST_SUITE_P(Maps, EveryMap,
                         ::testing::Values("couloirs", "entrepot", "cour", "usine"));

// An installation that lost the heartbeat sound and a blood picture: the match runs, and the
// message line and the log name the missing files.
TEST(Match, MissingPlayerSoundAndBloodPictureAreReportedAndTheMatchGoesOn) {
    namespace fs = std::filesystem;
    const auto dir = apptest::FreshDir("core-e2e-missing");
    const fs::path install = dir / "install", source = TARNHOLD_INSTALL_DIR;
    fs::create_directories(install / "models");
    fs::copy_file(apptest::GameExecutable(), install / "tarnhold");
    for (const char* folder : {"map", "media", "weapons"})
        fs::create_directory_symlink(source / folder, install / folder);
    for (const auto& entry : fs::directory_iterator(source / "models")) {
        const std::string name = entry.path().filename().string();
        if (name != "coeur.wav" && name != "blood003.bmp")
            fs::create_symlink(entry.path(), install / "models" / name);
    }
    std::ofstream(dir / "script.txt") << "frame 120\nkey down 1\n";
    apptest::Process game({(install / "tarnhold").string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                           {"TARNHOLD_MATCH", "cour"}},
                          dir / "out.txt");
    ASSERT_EQ(game.WaitExit(60s), 0) << game.Output();
    const std::string out = game.Output();
    EXPECT_NE(out.find("match ended"), std::string::npos) << out;
    const std::string heart = (install / "models" / "coeur.wav").string();
    const std::string blood = (install / "models" / "blood003.bmp").string();
    EXPECT_NE(out.find("message: Cannot load " + heart + " and 1 more file, see the log"),
              std::string::npos)
        << out;
    // Every missing file has a log line of its own with the reason.
    const auto logged = [&out](const std::string& path) {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("cannot load", 0) == 0 && line.find(path) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(logged(heart)) << out;
    EXPECT_TRUE(logged(blood)) << out;
}

TEST(Match, MissingMapShowsTheUnpackInstructionsAndEnds) {
    const MatchRun run = PlayMatch("nosuchmap", "");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("dezipper le fichier"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("nosuchmap.zip"), std::string::npos);
}

} // namespace
