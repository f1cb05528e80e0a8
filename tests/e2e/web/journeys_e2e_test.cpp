// Player journeys through the companion web server: real `tarnhold` processes, each with its
// own settings directory and, where it matters, its own installation, driven by scripts the way
// a player goes, against a real tarnhold-server on loopback. The only address any game process
// is given is the web server typed on its main menu.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/support/companion_server.h"
#include "tests/support/discovery_port.h"
#include "tests/support/self_extracting_zip.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The files of the built map `map` (map/<map>.*) packed as the map `as`, the way the server
// offers a map archive.
std::string MapArchive(const std::string& map, const std::string& as) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(TARNHOLD_INSTALL_DIR) / "map")) {
        const fs::path file = entry.path().filename();
        if (entry.is_regular_file() && file.stem() == map)
            files.emplace_back("map/" + as + file.extension().string(),
                               apptest::ReadFile(entry.path()));
    }
    EXPECT_GE(files.size(), 4u) << "the build holds the map " << map;
    return testsupport::SelfExtractingZip(files);
}

class Journey : public ::testing::Test {
protected:
    void SetUp() override {
        dir = apptest::FreshDir("journey");
        port = std::to_string(testsupport::FreshDiscoveryPort());
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir); // kept for a look after a failure
    }

    std::unique_ptr<apptest::Process>
    Launch(const std::string& name, const std::string& script,
           const fs::path& executable = apptest::GameExecutable()) {
        return apptest::LaunchMachine(dir, name, script,
                                      {{"TARNHOLD_SEED", "5"},
                                       {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
                                       {"TARNHOLD_DISCOVERY_PORT", port}},
                                      executable);
    }

    fs::path dir;
    std::string port;
};

TEST_F(Journey, DownloadMapsFromTheMenuWithOnlyTheServerTypedThenPlayTheMap) {
    testsupport::CompanionServer server(dir / "web");
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    std::ofstream(server.Files() / "map" / "desert.exe", std::ios::binary)
        << MapArchive("usine", "desert");
    std::ofstream(server.Files() / "map" / "tower.exe", std::ios::binary)
        << MapArchive("cour", "tower");
    const fs::path install = dir / "install";
    const fs::path game = testsupport::CopyInstallation(install);

    // DOWNLOAD MAP with nothing chosen only asks for a map; CHECK lists DESERT and TOWER.
    auto player = Launch("Cid",
                         "answer * OK\n"
                         "waitscreen mainmenu\n"
                         "press \"WEB SERVER\"\n"
                         "type servertxt " +
                             server.Host() +
                             "\n"
                             "press \"DOWNLOAD MAPS\"\n"
                             "waitscreen map_download\n"
                             "answer * OK\n"
                             "press \"DOWNLOAD MAP\"\n"
                             "press CHECK\n"
                             "select List2 0\n"
                             "press \"DOWNLOAD MAP\"\n"
                             "waitfile " +
                             (install / "map" / "desert.map").string() + "\nwait 10\nquit\n",
                         game);
    EXPECT_EQ(player->WaitExit(60s), 0) << player->Output();
    const std::string out = player->Output();
    EXPECT_EQ(Count(out, "Select a Map to Download please !!"), 1u) << out;
    EXPECT_EQ(Count(server.Log(), "GET /script/get_map.php3 200"), 1u) << server.Log();
    EXPECT_EQ(Count(server.Log(), "GET /tarnhold/map/desert.exe 200"), 1u) << server.Log();
    EXPECT_FALSE(fs::exists(install / "map" / "tower.map"));

    // The map downloaded is a map the game plays.
    std::ofstream(dir / "play.txt") << "frame 300\nkey down 1\n";
    apptest::Process match({game.string()},
                           {{"SDL_VIDEODRIVER", "dummy"},
                            {"TARNHOLD_NO_AUDIO", "1"},
                            {"TARNHOLD_HOME", (dir / "Cid").string()},
                            {"TARNHOLD_SCRIPT", (dir / "play.txt").string()},
                            {"TARNHOLD_MATCH", "desert"}},
                           dir / "play.out");
    EXPECT_EQ(match.WaitExit(60s), 0) << match.Output();
    EXPECT_NE(
        match.Output().find("map desert: built from " + (install / "map" / "desert.map").string()),
        std::string::npos)
        << match.Output();
    EXPECT_NE(match.Output().find("match ended"), std::string::npos) << match.Output();
}

TEST_F(Journey, TheAccountScreensDownloadFetchesTheReleaseFromTheAddressTheServerReported) {
    // The release lies where the server says, not at a path the game could guess.
    const uint16_t webPort = testsupport::FreeTcpPort();
    const std::string reported =
        "http://127.0.0.1:" + std::to_string(webPort) + "/tarnhold/releases/tarnhold-2.0.0.exe";
    testsupport::CompanionServer server(dir / "web", {"--version", "2.0.0", "--url", reported},
                                        webPort);
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    fs::create_directories(server.Files() / "releases");
    std::ofstream(server.Files() / "releases" / "tarnhold-2.0.0.exe", std::ios::binary)
        << testsupport::SelfExtractingZip({{"readme.txt", "Tarnhold 2.0.0\r\n"}});
    const fs::path install = dir / "install";
    const fs::path game = testsupport::CopyInstallation(install);

    // CHECK VERSION registers the account and hears of 2.0.0 (twice); DOWNLOAD fetches it,
    // unpacks it over the installation and ends the program.
    auto player = Launch("Dee",
                         "answer * OK\n"
                         "waitscreen mainmenu\n"
                         "type txtYourName Dee\n"
                         "press \"WEB SERVER\"\n"
                         "type servertxt " +
                             server.Host() +
                             "\n"
                             "press \"SYSTEM SETUP\"\n"
                             "waitscreen account\n"
                             "answer * OK\n"
                             "answer * OK\n"
                             "press \"CHECK VERSION\"\n"
                             "press DOWNLOAD\n",
                         game);
    EXPECT_EQ(player->WaitExit(60s), 0) << player->Output();
    const std::string out = player->Output();
    EXPECT_EQ(Count(out, "New version 2.0.0 at the url:\r\n" + reported), 2u) << out;
    EXPECT_EQ(Count(server.Log(), "GET /tarnhold/releases/tarnhold-2.0.0.exe 200"), 1u)
        << server.Log();
    EXPECT_EQ(apptest::ReadFile(install / "readme.txt"), "Tarnhold 2.0.0\r\n");
    EXPECT_TRUE(fs::exists(install / "release.exe"));
    EXPECT_NE(apptest::ReadFile(fs::path(TARNHOLD_INSTALL_DIR) / "readme.txt"),
              "Tarnhold 2.0.0\r\n");
}

} // namespace
