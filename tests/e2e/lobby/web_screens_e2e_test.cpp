// The web windows in this process, headless and driven by a script, against a real
// tarnhold-server on loopback. "SYSTEM BOARD", with a newer release on the server: a fresh
// installation registers on its first board action, is told of the release twice and offers
// DOWNLOAD; a blank message is not posted, a real one is, and CHECK reads it back. "DOWNLOAD
// MAP": nothing chosen only asks for a choice; CHECK lists the server's maps and the chosen one
// is fetched and unpacked into the installation.
#include "tests/support/self_extracting_zip.h"
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include "app/wiring.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"
#include "ui/account_local.h"
#include "ui/map_download.h"
#include "web/web.h"

#include <functional>
#include <regex>

using namespace std::chrono_literals;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class WebScreens : public ::testing::Test {
protected:
    void SetUp() override {
        dir = apptest::FreshDir("web-screens-e2e");
        std::filesystem::create_directories(dir / "files" / "map");
        server = std::make_unique<apptest::Process>(
            std::vector<std::string>{
                (std::filesystem::path(TARNHOLD_INSTALL_DIR) / "tarnhold-server").string(),
                "--port", "0", "--db", (dir / "web.db").string(), "--files",
                (dir / "files").string(), "--version", "2.0.0", "--url",
                "http://127.0.0.1/tarnhold/release.exe"},
            std::map<std::string, std::string>{}, dir / "server.log");
        ASSERT_TRUE(server->WaitOutput("listening on", 10s)) << server->Output();
        std::smatch match;
        const std::string output = server->Output();
        ASSERT_TRUE(
            std::regex_search(output, match, std::regex("http://(127\\.0\\.0\\.1:[0-9]+)")));
        net::WebServerName = match[1];

        ::setenv("TARNHOLD_HOME", (dir / "home").c_str(), 1);
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_TRUE(window::Init("account", 800, 600));
        app::ConnectModules();
        core::ProgramName = "Tarnhold";
        core::SoftKey = 1;
        core::VersionText = "1.0.0";
        core::AccountNumber = 0;
        core::AccountName = "Ann";
        web::ServerVersion.clear();
        web::DownloadUrl.clear();
    }
    void TearDown() override {
        automation::Stop();
        window::Shutdown();
        if (!HasFailure()) std::filesystem::remove_all(dir);
    }

    static bool PumpUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds limit = 20000ms) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < until)
            window::Yield();
        return done();
    }
    static void Run(const std::string& script) {
        automation::Start(automation::ParseScript(script, "account"));
    }

    std::filesystem::path dir;
    std::unique_ptr<apptest::Process> server;
};

TEST_F(WebScreens, AFreshInstallationRegistersPostsAndReadsTheBoard) {
    auto board = std::make_shared<ui::AccountScreen>();
    window::OpenScreen(board);
    EXPECT_EQ(board->AccountCaption(), "0");
    EXPECT_EQ(board->VersionCaption(), "VERSION on SERVER:?.?.?");
    EXPECT_EQ(board->UrlText(), "Check on the server !!");
    EXPECT_EQ(board->Command2Caption(), "CHECK VERSION");
    EXPECT_EQ(board->BoardCaption(), "CHECK !");
    EXPECT_TRUE(web::ServerVersion.empty()) << "the unknown version is only shown";

    // SEND with a blank text: the account is registered first, the newer release announced
    // by the web client and by the window, and the blank text is not posted.
    Run("select cmbmess0 0\n");
    ASSERT_TRUE(PumpUntil([&] { return board->BoardCaption() == "SEND !"; }));
    board->MessageText() = "   ";
    testing::internal::CaptureStdout();
    Run("type txtlog ann\n"
        "type txtpass \"pw & more\"\n"
        "type Txtmail ann@example.org\n"
        "answer * OK\n"
        "answer * OK\n"
        "press \"SEND !\"\n");
    const bool registered = PumpUntil([&] { return board->Command2Caption() == "DOWNLOAD"; });
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(registered) << log;
    EXPECT_NE(core::AccountNumber, 0);
    EXPECT_EQ(board->AccountCaption(), std::to_string(core::AccountNumber));
    EXPECT_EQ(core::Login, "ann");
    EXPECT_EQ(core::Password, "pw & more");
    EXPECT_EQ(board->VersionCaption(), "VERSION on SERVER:2.0.0");
    EXPECT_EQ(board->UrlText(), "http://127.0.0.1/tarnhold/release.exe");
    EXPECT_EQ(Count(log, "New version 2.0.0 at the url:"), 2u) << log;

    // A real message is posted; CHECK reads the board, which holds it alone.
    board->MessageText() = "meet at the warehouse & bring friends";
    Run("press \"SEND !\"\n"
        "select cmbmess0 1\n"
        "press \"CHECK !\"\n");
    ASSERT_TRUE(
        PumpUntil([&] { return board->MessageText().find("send by") != std::string::npos; }));
    EXPECT_EQ(Count(board->MessageText(), " send by "), 1u) << board->MessageText();
    EXPECT_NE(board->MessageText().find("meet at the warehouse & bring friends\r\n\r\n"),
              std::string::npos)
        << board->MessageText();
}

TEST_F(WebScreens, MapDownloadAsksForAChoiceThenFetchesAndUnpacksTheChosenMap) {
    const std::filesystem::path install = dir / "install";
    std::filesystem::create_directories(install / "map");
    core::ProgramDirectory = install.string();
    std::ofstream(dir / "files" / "map" / "desert.exe", std::ios::binary)
        << testsupport::SelfExtractingZip({{"map/desert.map", "the desert"}});

    // The archive goes to this machine's data folder, never into the installation.
    const std::filesystem::path data = dir / "home" / "data";
    const std::filesystem::path unpacked = data / "map" / "desert.map";
    testing::internal::CaptureStdout();
    Run("waitscreen map_download\n"
        "answer * OK\n"
        "press \"DOWNLOAD MAP\"\n"
        "press CHECK\n"
        "select List2 0\n"
        "press \"DOWNLOAD MAP\"\n"
        "waitfile " +
        unpacked.string() +
        "\n"
        "wait 3\n"
        "quit\n");
    ui::OpenMapDownload();
    const bool quit = PumpUntil([] { return window::QuitRequested(); });
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(quit) << log;
    EXPECT_EQ(Count(log, "Select a Map to Download please !!"), 1u) << log;
    EXPECT_TRUE(std::filesystem::exists(data / "desert.exe"));
    EXPECT_EQ(apptest::ReadFile(unpacked), "the desert");
    EXPECT_TRUE(std::filesystem::is_empty(install / "map"));
    EXPECT_FALSE(std::filesystem::exists(install / "desert.exe"));
}

} // namespace
