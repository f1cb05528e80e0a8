// The real `tarnhold` program headless, driven through the main menu by a script: the splash
// leads to the menu, the inventory and help screens open and close over it, and "LET'S FIGHT"
// in LAN mode stores the choices and reaches the session list.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <fstream>
#include <regex>

namespace {

using namespace std::chrono_literals;
using apptest::Process;

std::map<std::string, std::string> Env(const std::filesystem::path& home,
                                       const std::filesystem::path& script,
                                       const std::string& port) {
    return {{"SDL_VIDEODRIVER", "dummy"},     {"SDL_AUDIODRIVER", "dummy"},
            {"TARNHOLD_HOME", home.string()}, {"TARNHOLD_SCRIPT", script.string()},
            {"TARNHOLD_SEED", "7"},           {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
            {"TARNHOLD_DISCOVERY_PORT", port}};
}

// A discovery port range of its own per test process, away from the other suites'.
std::string PortFor(int offset) {
    return std::to_string(41000 + (::getpid() % 400) * 10 + offset);
}

size_t Position(const std::string& text, const std::string& what) {
    const size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << "missing: " << what;
    return at;
}

TEST(MenuRun, ScreensOpenAndCloseThenLetsFightReachesTheSessionList) {
    const auto dir = apptest::FreshDir("menu-run");
    const auto home = dir / "home";
    const auto script = dir / "run.txt";
    std::ofstream(script) << "answer * OK\n"
                             "waitscreen mainmenu\n"
                             "press \"WEAPON INVENTORY\"\n"
                             "waitscreen inventory\n"
                             "press CLOSE\n"
                             "press KEYBOARD\n"
                             "waitscreen keyboard\n"
                             "check \"SOURIS INVERSEE\" on\n"
                             "press CLOSE\n"
                             "press ABOUT\n"
                             "waitscreen about\n"
                             "press CLOSE\n"
                             "type txtYourName Zed\n"
                             "select cmbtyp 1\n"
                             "select Combo2 4\n"
                             "press BOX\n"
                             "press \"LET'S FIGHT\"\n"
                             "waitscreen session_list\n"
                             "log \"reached the session list\"\n"
                             "quit\n";
    Process game({apptest::GameExecutable().string()}, Env(home, script, PortFor(0)),
                 dir / "game.out");
    ASSERT_EQ(game.WaitExit(60s), 0) << game.Output();
    const std::string out = game.Output();

    // In order: splash, menu with its news, the three screens, the session list.
    const size_t splash = Position(out, "screen open: splash");
    const size_t menu = Position(out, "screen open: mainmenu");
    const size_t news = Position(out, "INVERSION SOURIS DANS KEYBOARD");
    const size_t inventory = Position(out, "screen open: inventory");
    const size_t keyboard = Position(out, "screen open: keyboard");
    const size_t about = Position(out, "screen open: about");
    const size_t sessions = Position(out, "reached the session list");
    EXPECT_LT(splash, menu);
    EXPECT_LT(menu, news);
    EXPECT_LT(news, inventory);
    EXPECT_LT(inventory, keyboard);
    EXPECT_LT(keyboard, about);
    EXPECT_LT(about, sessions);
    EXPECT_NE(out.find("messagebox \"TARNHOLD V1.0.0\""), std::string::npos) << out;
    EXPECT_EQ(out.find("Failed to"), std::string::npos) << out;

    // The registry holds what was chosen.
    const std::string reg = apptest::ReadFile(home / "registry.reg");
    for (const char* value :
         {"\"Name\"=\"Zed\"", "\"Type\"=\"1\"", "\"Qua\"=\"4\"", "\"Tex\"=\"1\"",
          "\"Souris\"=\"1\"", "\"Box\"=\"-1\"", "\"Dplay1\"=\"0\"", "\"Dplay2\"=\"0\""})
        EXPECT_NE(reg.find(value), std::string::npos) << value << "\n" << reg;
}

// Internet mode: the web server typed on the menu gives the game list, the account is made
// there, and the session list opens with the choices stored.
TEST(MenuRun, LetsFightThroughTheWebServerOpensTheSessionList) {
    const auto dir = apptest::FreshDir("menu-web");
    Process server({(apptest::GameExecutable().parent_path() / "tarnhold-server").string(),
                    "--port", "0", "--db", (dir / "web.db").string(), "--files",
                    (dir / "files").string(), "--version", "1.0.0"},
                   {}, dir / "server.out");
    ASSERT_TRUE(server.WaitOutput("listening on", 10s)) << server.Output();
    std::smatch match;
    const std::string listening = server.Output();
    ASSERT_TRUE(std::regex_search(listening, match, std::regex("http://(127\\.0\\.0\\.1:[0-9]+)")));
    const std::string host = match[1];

    const auto home = dir / "home";
    const auto script = dir / "web.txt";
    std::ofstream(script) << "answer * OK\n"
                             "waitscreen mainmenu\n"
                             "type txtYourName Web\n"
                             "press \"WEB SERVER\"\n"
                             "type servertxt "
                          << host
                          << "\n"
                             "press \"LET'S FIGHT\"\n"
                             "waitscreen session_list\n"
                             "log \"reached the session list\"\n"
                             "quit\n";
    Process game({apptest::GameExecutable().string()}, Env(home, script, PortFor(3)),
                 dir / "game.out");
    ASSERT_EQ(game.WaitExit(60s), 0) << game.Output();
    EXPECT_NE(game.Output().find("reached the session list"), std::string::npos) << game.Output();
    const std::string reg = apptest::ReadFile(home / "registry.reg");
    EXPECT_NE(reg.find("\"Dplay2\"=\"1\""), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"Name\"=\"Web\""), std::string::npos) << reg;
    EXPECT_EQ(reg.find("\"Id\"=\"0\""), std::string::npos) << "the server gave an account\n" << reg;
}

// The menu shows what the registry holds (a stored index outside its list keeps the menu's own
// choice) and LET'S FIGHT writes it back, as text.
TEST(MenuRun, StoredSettingsAreShownAndWrittenBack) {
    const auto dir = apptest::FreshDir("menu-stored");
    const auto home = dir / "home";
    std::filesystem::create_directories(home);
    std::ofstream(home / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft]\r\n"
           "\"Name\"=\"Stored\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
           "\"Type\"=\"1\"\r\n"
           "\"Skin\"=\"3\"\r\n"
           "\"Qua\"=dword:00000000\r\n"
           "\"Tex\"=\"4\"\r\n"
           "\"Res\"=\"99\"\r\n"
           "\"Full\"=\"1\"\r\n"
           "\"Power\"=\"4\"\r\n";
    const auto script = dir / "fight.txt";
    std::ofstream(script) << "answer * OK\nwaitscreen mainmenu\npress \"LET'S FIGHT\"\n"
                             "waitscreen session_list\nquit\n";
    Process game({apptest::GameExecutable().string()}, Env(home, script, PortFor(7)),
                 dir / "game.out");
    ASSERT_EQ(game.WaitExit(30s), 0) << game.Output();
    const std::string reg = apptest::ReadFile(home / "registry.reg");
    for (const char* value :
         {"\"Name\"=\"Stored\"", "\"Type\"=\"1\"", "\"Skin\"=\"3\"", "\"Qua\"=\"0\"",
          "\"Tex\"=\"4\"", "\"Res\"=\"0\"", "\"Full\"=\"-1\"", "\"Power\"=\"1\""})
        EXPECT_NE(reg.find(value), std::string::npos) << value << "\n" << reg;
}

// The connection that reaches one host by address asks for it in a box: a text that is no
// address gets the fixed message and the menu stays; a host where nobody answers gives the
// session list, empty, saying so. The next run proposes that address and keeps the connection.
TEST(MenuRun, TheDirectConnectionAsksTheHostsAddressAndTheNextRunProposesIt) {
    const auto dir = apptest::FreshDir("menu-direct");
    const auto home = dir / "home";
    // Connection 1 is the one that asks one host by address (0 searches the local network).
    const auto first = dir / "first.txt";
    std::ofstream(first) << "answer * OK\n"
                            "waitscreen mainmenu\n"
                            "select lstConnections 1\n"
                            "press \"LET'S FIGHT\"\n"
                            "type answer 300.1.2.3 ENTER\n"
                            "answer * OK\n"
                            "wait 5\n"
                            "log \"back on the menu\"\n"
                            "press \"LET'S FIGHT\"\n"
                            "type answer \" 127.0.0.2 \" ENTER\n"
                            "waitscreen session_list\n"
                            "log \"reached the session list\"\n"
                            "quit\n";
    Process one({apptest::GameExecutable().string()}, Env(home, first, PortFor(9)),
                dir / "first.out");
    ASSERT_EQ(one.WaitExit(60s), 0) << one.Output();
    const std::string out = one.Output();
    const size_t refused =
        Position(out, "messagebox \"Tarnhold\": Failed to initialize connection.");
    const size_t menu = Position(out, "back on the menu");
    const size_t empty = Position(out, "session list: No game answers at 127.0.0.2.");
    const size_t list = Position(out, "reached the session list");
    EXPECT_LT(refused, menu);
    EXPECT_LT(menu, empty);
    EXPECT_LT(empty, list);
    EXPECT_EQ(out.find("screen open: session_list"), out.rfind("screen open: session_list"))
        << "the refused address opened nothing\n"
        << out;
    const std::string reg = apptest::ReadFile(home / "registry.reg");
    EXPECT_NE(reg.find("\"HostAddress\"=\"127.0.0.2\""), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"Dplay1\"=\"1\""), std::string::npos) << reg;

    // The next run: LET'S FIGHT, and OK on the box as it comes.
    const auto second = dir / "second.txt";
    std::ofstream(second) << "answer * OK\n"
                             "waitscreen mainmenu\n"
                             "press \"LET'S FIGHT\"\n"
                             "press OK\n"
                             "waitscreen session_list\n"
                             "quit\n";
    Process two({apptest::GameExecutable().string()}, Env(home, second, PortFor(9)),
                dir / "second.out");
    ASSERT_EQ(two.WaitExit(60s), 0) << two.Output();
    EXPECT_NE(two.Output().find("inputbox answer: 127.0.0.2\n"), std::string::npos) << two.Output();
    EXPECT_NE(two.Output().find("session list: No game answers at 127.0.0.2."), std::string::npos)
        << two.Output();
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir);
}

TEST(MenuRun, QuitEndsTheProgramWithoutWritingSettings) {
    const auto dir = apptest::FreshDir("menu-quit");
    const auto home = dir / "home";
    const auto script = dir / "quit.txt";
    std::ofstream(script) << "answer * OK\nwaitscreen mainmenu\ntype txtYourName Nobody\n"
                             "press QUIT\n";
    Process game({apptest::GameExecutable().string()}, Env(home, script, PortFor(5)),
                 dir / "game.out");
    ASSERT_EQ(game.WaitExit(30s), 0) << game.Output();
    EXPECT_EQ(apptest::ReadFile(home / "registry.reg").find("Nobody"), std::string::npos);
    EXPECT_EQ(game.Output().find("screen open: session_list"), std::string::npos);
}

} // namespace
