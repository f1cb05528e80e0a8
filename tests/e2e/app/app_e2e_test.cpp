// The real `tarnhold` program, headless: one instance per settings directory, scripted runs.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <fstream>

namespace {

using namespace std::chrono_literals;
using apptest::Process;

constexpr const char* kRefusal =
    "il reste une instance du programme en mémoire !!,detruisez la avant de relancer";

std::map<std::string, std::string> Env(const std::filesystem::path& home,
                                       const std::filesystem::path& script) {
    return {{"SDL_VIDEODRIVER", "dummy"},
            {"SDL_AUDIODRIVER", "dummy"},
            {"TARNHOLD_HOME", home.string()},
            {"TARNHOLD_SCRIPT", script.string()},
            {"TARNHOLD_SEED", "7"}};
}

std::filesystem::path WriteScript(const std::filesystem::path& dir, const std::string& name,
                                  const std::string& text) {
    const auto path = dir / name;
    std::ofstream(path) << text;
    return path;
}

TEST(SingleInstance, SecondStartIsRefusedWhileTheFirstRunsAndAllowedAfter) {
    const auto dir = apptest::FreshDir("single-instance");
    const auto home = dir / "home";
    const auto release = dir / "release-first";
    const auto firstScript = WriteScript(dir, "first.txt",
                                         "answer * OK\nwaitscreen mainmenu\n"
                                         "waitfile \"" +
                                             release.string() +
                                             "\"\n"
                                             "press QUIT\n");
    Process first({apptest::GameExecutable().string()}, Env(home, firstScript), dir / "first.out");
    ASSERT_TRUE(first.WaitOutput("screen open: mainmenu", 20s)) << first.Output();

    // Same settings directory = same machine: refused, with the message, at once.
    const auto emptyScript = WriteScript(dir, "empty.txt", "# nothing\n");
    Process second({apptest::GameExecutable().string()}, Env(home, emptyScript),
                   dir / "second.out");
    EXPECT_EQ(second.WaitExit(10s), 1);
    const std::string secondOut = second.Output();
    EXPECT_NE(secondOut.find(std::string("messagebox \"Tarnhold\": ") + kRefusal),
              std::string::npos)
        << secondOut;
    EXPECT_EQ(secondOut.find("screen open: splash"), std::string::npos) << secondOut;

    // Another settings directory is another machine: it starts.
    const auto otherScript =
        WriteScript(dir, "other.txt", "answer * OK\nwaitscreen mainmenu\npress QUIT\n");
    Process other({apptest::GameExecutable().string()}, Env(dir / "other-home", otherScript),
                  dir / "other.out");
    EXPECT_EQ(other.WaitExit(20s), 0) << other.Output();

    // The first one never noticed.
    EXPECT_TRUE(first.Running());
    std::ofstream(release) << "go\n";
    EXPECT_EQ(first.WaitExit(20s), 0) << first.Output();
    EXPECT_NE(first.Output().find("pressed \"QUIT\""), std::string::npos);

    // Once the first has ended, the next start on that machine runs normally.
    Process third({apptest::GameExecutable().string()}, Env(home, otherScript), dir / "third.out");
    EXPECT_EQ(third.WaitExit(20s), 0) << third.Output();
    EXPECT_NE(third.Output().find("screen open: mainmenu"), std::string::npos);
    EXPECT_EQ(third.Output().find(kRefusal), std::string::npos);

    // The log and the map directory are where they belong.
    EXPECT_NE(apptest::ReadFile(home / "tarnhold.log").find("Tarnhold 1."), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(apptest::GameExecutable().parent_path() / "map"));
}

TEST(SingleInstance, AKilledInstanceDoesNotBlockTheNextStart) {
    const auto dir = apptest::FreshDir("killed-instance");
    const auto home = dir / "home";
    const auto hang =
        WriteScript(dir, "hang.txt", "answer * OK\nwaitscreen mainmenu\nwaitfile /nonexistent\n");
    {
        Process crashed({apptest::GameExecutable().string()}, Env(home, hang), dir / "a.out");
        ASSERT_TRUE(crashed.WaitOutput("screen open: mainmenu", 20s)) << crashed.Output();
    } // killed with SIGKILL: no clean-up ran, the lock file stays behind
    ASSERT_TRUE(std::filesystem::exists(home / "tarnhold.lock"));
    const auto quit =
        WriteScript(dir, "quit.txt", "answer * OK\nwaitscreen mainmenu\npress QUIT\n");
    Process next({apptest::GameExecutable().string()}, Env(home, quit), dir / "b.out");
    EXPECT_EQ(next.WaitExit(20s), 0) << next.Output();
}

TEST(ScriptedRun, ABadScriptStopsTheProgramNamingTheLine) {
    const auto dir = apptest::FreshDir("bad-script");
    const auto script = WriteScript(dir, "bad.txt", "wait 1\nkey down 200\nfly away\n");
    Process run({apptest::GameExecutable().string()}, Env(dir / "home", script), dir / "run.out");
    EXPECT_EQ(run.WaitExit(10s), 2);
    EXPECT_NE(run.Output().find("bad.txt:3: unknown command 'fly'"), std::string::npos)
        << run.Output();

    auto env = Env(dir / "home", dir / "missing.txt");
    Process missing({apptest::GameExecutable().string()}, env, dir / "missing.out");
    EXPECT_EQ(missing.WaitExit(10s), 2);
    EXPECT_NE(missing.Output().find("cannot read the script file"), std::string::npos);
}

} // namespace
