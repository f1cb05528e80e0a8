// Player journeys through the companion web server: real `tarnhold` processes, each with its
// own settings directory and, where it matters, its own installation, driven by scripts the way
// a player goes, against a real tarnhold-server on loopback. The only address any game process
// is given is the web server typed on its main menu.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/e2e/server/server_client.h"
#include "tests/support/companion_server.h"
#include "tests/support/discovery_port.h"
#include "tests/support/self_extracting_zip.h"

#include "ui/lobby.h"

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

// Escape ends the match. A joiner who becomes the host as the other leaves publishes the game,
// and a key pressed while that web window is up never reaches the match, as for a player: so
// Escape is pressed again, twice, a second apart (Escape acts only in a match).
constexpr const char* kLeave = "key down 1\nwait 2\nkey up 1\nsleep 1000\n"
                               "key down 1\nwait 2\nkey up 1\nsleep 1000\n"
                               "key down 1\nwait 2\nkey up 1\n";

// The menu's news box, the player's name, then the connection: the web server typed on the
// menu when `server` is given, else the local network.
std::string ToTheSessionList(const std::string& name, const std::string& server) {
    std::string script = "answer * OK\n"
                         "waitscreen mainmenu\n"
                         "type txtYourName " +
                         name + "\n";
    if (!server.empty()) script += "press \"WEB SERVER\"\ntype servertxt " + server + "\n";
    return script + "press \"LET'S FIGHT\"\nwaitscreen session_list\n";
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
    // Files the scripts wait for, so the test says when each step may run.
    void Signal(const std::string& file) { std::ofstream(dir / file) << "go\n"; }
    std::string Wait(const std::string& file) { return "waitfile " + (dir / file).string() + "\n"; }

    // The host's way: NEW GAME on the map COUR, then START and Escape when told.
    std::string HostCour(const std::string& server) {
        const std::vector<std::string> maps =
            ui::MapChoices({fs::path(TARNHOLD_INSTALL_DIR) / "map"});
        const auto cour = std::find(maps.begin(), maps.end(), "COUR") - maps.begin();
        return ToTheSessionList("Ann", server) +
               "press \"NEW GAME\"\n"
               "waitscreen create_game\n"
               "select Combo1 " +
               std::to_string(cour) +
               "\n"
               "type txtGameName \"Ann's game\"\n"
               "press CREATE\n"
               "waitscreen waiting_room\n" +
               Wait("start") + "press START\n" + Wait("quit") + "input * \"good game\"\n" + kLeave;
    }

    fs::path dir;
    std::string port;
};

// The installation of a player who never had the map COUR.
bool NotCour(const fs::path& relative) {
    return relative.parent_path() == "map" && relative.stem() == "cour";
}

// The operator key of the journeys' servers, in the file `file`.
constexpr const char* kOperatorKey = "journey-operator-key";
std::vector<std::string> OperatorKeyFile(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << kOperatorKey << "\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    return {"--operator-key-file", file.string()};
}

// The server's operator page, read with the key.
std::string OperatorPage(const testsupport::CompanionServer& server) {
    const int port = std::stoi(server.Host().substr(server.Host().find(':') + 1));
    return servertest::Get(port, "/operator", "127.0.0.1", 10s,
                           servertest::BasicAuthorization("operator", kOperatorKey))
        .body;
}

// The value `name` of a settings file, as its text ("" when absent).
std::string Setting(const fs::path& home, const std::string& name) {
    const std::string reg = apptest::ReadFile(home / "registry.reg");
    const std::string key = "\"" + name + "\"=\"";
    const size_t at = reg.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return reg.substr(start, reg.find('"', start) - start);
}

TEST_F(Journey, AJoinerWithoutTheHostsMapDownloadsItWhileLoadingAndPlaysOnIt) {
    testsupport::CompanionServer server(dir / "web", OperatorKeyFile(dir / "operator.key"));
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    const std::string archive = MapArchive("cour", "cour");
    std::ofstream(server.Files() / "map" / "cour.exe", std::ios::binary) << archive;
    const fs::path bobs = dir / "bob-install";
    const fs::path bobsGame = testsupport::CopyInstallation(bobs, NotCour);
    ASSERT_FALSE(fs::exists(bobs / "map" / "cour.map"));
    const fs::path bobsMaps = dir / "Bob" / "data" / "map"; // his own, beside his settings

    auto ann = Launch("Ann", HostCour(server.Host()));
    auto bob = Launch("Bob",
                      ToTheSessionList("Bob", server.Host()) + Wait("hosting") +
                          "press \"REFRESH SERVER\"\n"
                          "select lstserv 0\n"
                          "press \"JOIN GAME\"\n"
                          "waitscreen waiting_room\n" +
                          Wait("quit") + "input * \"good game\"\n" + kLeave,
                      bobsGame);

    ASSERT_TRUE(ann->WaitOutput("waiting room: 1 of 4 players ready...", 40s)) << ann->Output();
    Signal("hosting");
    ASSERT_TRUE(ann->WaitOutput("waiting room: 2 of 4 players ready...", 40s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    Signal("start");

    // Bob's loading finds no COUR, fetches it from the server typed on his menu into his own
    // map folder, builds it from what the archive brought, and plays: Ann sees him come in.
    EXPECT_TRUE(bob->WaitOutput("map cour: built from " + (bobsMaps / "cour.map").string(), 60s))
        << bob->Output();
    EXPECT_TRUE(ann->WaitOutput("message: The TERRORIST Bob come in Game.", 30s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    EXPECT_TRUE(bob->WaitOutput("message: The TERRORIST Ann come in Game.", 30s)) << bob->Output();
    Signal("quit");
    EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();

    const std::string out = bob->Output();
    EXPECT_LT(out.find("map cour: cour.map is missing from " + bobsMaps.string() + " and " +
                       (bobs / "map").string()),
              out.find("web: Download MAP (cour) In PROGRESS..."))
        << out;
    EXPECT_EQ(out.find("dezipper"), std::string::npos) << out;
    EXPECT_EQ(server.Served("/tarnhold/map/cour.exe"), 1u) << server.Log();
    EXPECT_EQ(apptest::ReadFile(bobsMaps / "cour.map"),
              apptest::ReadFile(fs::path(TARNHOLD_INSTALL_DIR) / "map" / "cour.map"));
    EXPECT_FALSE(fs::exists(bobs / "map" / "cour.map")) << "the installation is left as it was";
    // Ann had the map; she fetched nothing.
    EXPECT_EQ(ann->Output().find("Download MAP"), std::string::npos);

    // Neither had typed a password: each game drew one, and with it both match reports were
    // taken (their comments reach the operator) and Ann's game left the list.
    for (const char* player : {"Ann", "Bob"})
        EXPECT_EQ(Setting(dir / player, "Password").size(), 20u) << player;
    EXPECT_EQ(Count(OperatorPage(server), "good game"), 2u) << OperatorPage(server);
    EXPECT_EQ(server.Get("/script/get_server.php3?LESOFT=1").find("CLE_SERVEUR"),
              std::string::npos);
    EXPECT_EQ(server.Log().find(Setting(dir / "Ann", "Password")), std::string::npos);
    EXPECT_EQ(ann->Output().find("refused"), std::string::npos) << ann->Output();
    EXPECT_EQ(bob->Output().find("refused"), std::string::npos) << bob->Output();
}

TEST_F(Journey, AJoinerWhoseDownloadBringsNoMapGetsTheUnpackMessageAndEndsCleanly) {
    testsupport::CompanionServer server(dir / "web");
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    // The server's COUR archive holds another map only.
    std::ofstream(server.Files() / "map" / "cour.exe", std::ios::binary)
        << MapArchive("usine", "usine");
    const fs::path bobs = dir / "bob-install";
    const fs::path bobsGame = testsupport::CopyInstallation(bobs, NotCour);

    auto ann = Launch("Ann", HostCour(server.Host()));
    auto bob = Launch("Bob",
                      ToTheSessionList("Bob", server.Host()) + Wait("hosting") +
                          "press \"REFRESH SERVER\"\n"
                          "select lstserv 0\n"
                          "press \"JOIN GAME\"\n"
                          "waitscreen waiting_room\n",
                      bobsGame);
    ASSERT_TRUE(ann->WaitOutput("waiting room: 1 of 4 players ready...", 40s)) << ann->Output();
    Signal("hosting");
    ASSERT_TRUE(ann->WaitOutput("waiting room: 2 of 4 players ready...", 40s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    Signal("start");

    // The download ran and unpacked, but COUR is still missing: the instructions, naming his
    // own map folder, then the program's fatal end.
    EXPECT_EQ(bob->WaitExit(60s), 3) << bob->Output();
    const std::string out = bob->Output();
    const fs::path bobsMaps = dir / "Bob" / "data" / "map";
    EXPECT_EQ(server.Served("/tarnhold/map/cour.exe"), 1u) << server.Log();
    EXPECT_TRUE(fs::exists(bobsMaps / "usine.map"));
    EXPECT_NE(out.find("dezipper le fichier " + bobsMaps.string() +
                       "/cour.zip\n dans le repertoire " + bobsMaps.string() + "\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(ann->WaitOutput("message: Bob leave the game.", 30s)) << ann->Output();
    Signal("quit");
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
}

TEST_F(Journey, ALanJoinerWithoutTheMapGetsTheUnpackMessageAndEndsCleanly) {
    const fs::path bobs = dir / "bob-install";
    const fs::path bobsGame = testsupport::CopyInstallation(bobs, NotCour);

    auto ann = Launch("Ann", HostCour(""));
    auto bob = Launch("Bob",
                      ToTheSessionList("Bob", "") + Wait("hosting") +
                          "press \"REFRESH GAMES\"\n"
                          "press \"JOIN GAME\"\n"
                          "waitscreen waiting_room\n",
                      bobsGame);
    ASSERT_TRUE(ann->WaitOutput("waiting room: 1 of 4 players ready...", 40s)) << ann->Output();
    Signal("hosting");
    ASSERT_TRUE(ann->WaitOutput("waiting room: 2 of 4 players ready...", 40s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    Signal("start");

    // No web server: no download, the instructions, and the program's fatal end.
    EXPECT_EQ(bob->WaitExit(60s), 3) << bob->Output();
    const std::string out = bob->Output();
    EXPECT_NE(
        out.find("dezipper le fichier " + (dir / "Bob" / "data" / "map").string() + "/cour.zip"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.find("Download MAP"), std::string::npos) << out;
    // Ann plays on and sees Bob go.
    EXPECT_TRUE(ann->WaitOutput("message: Bob leave the game.", 30s)) << ann->Output();
    Signal("quit");
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
}

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
    auto player =
        Launch("Cid",
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
                   (dir / "Cid" / "data" / "map" / "desert.map").string() + "\nwait 10\nquit\n",
               game);
    EXPECT_EQ(player->WaitExit(60s), 0) << player->Output();
    const std::string out = player->Output();
    EXPECT_EQ(Count(out, "Select a Map to Download please !!"), 1u) << out;
    EXPECT_EQ(server.Served("/script/get_map.php3"), 1u) << server.Log();
    EXPECT_EQ(server.Served("/tarnhold/map/desert.exe"), 1u) << server.Log();
    EXPECT_FALSE(fs::exists(dir / "Cid" / "data" / "map" / "tower.map"));
    EXPECT_FALSE(fs::exists(install / "map" / "desert.map")) << "the installation is left alone";

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
    EXPECT_NE(match.Output().find("map desert: built from " +
                                  (dir / "Cid" / "data" / "map" / "desert.map").string()),
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
    // unpacks it into the player's data folder and ends the program.
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
    EXPECT_EQ(server.Served("/tarnhold/releases/tarnhold-2.0.0.exe"), 1u) << server.Log();
    const fs::path data = dir / "Dee" / "data";
    EXPECT_EQ(apptest::ReadFile(data / "readme.txt"), "Tarnhold 2.0.0\r\n");
    EXPECT_TRUE(fs::exists(data / "release.exe"));
    EXPECT_NE(out.find("web: the new release is unpacked in " + data.string()), std::string::npos)
        << out;
    EXPECT_EQ(apptest::ReadFile(install / "readme.txt"),
              apptest::ReadFile(fs::path(TARNHOLD_INSTALL_DIR) / "readme.txt"));
    EXPECT_FALSE(fs::exists(install / "release.exe"));
}

// The account screen reached from the main menu with the web server typed there.
std::string ToTheAccountScreen(const std::string& server) {
    return "answer * OK\n"
           "waitscreen mainmenu\n"
           "press \"WEB SERVER\"\n"
           "type servertxt " +
           server +
           "\n"
           "press \"SYSTEM SETUP\"\n"
           "waitscreen account\n";
}

// The password typed twice, then SEND Informations; CLOSE waits until the reply is handled.
std::string SendWithPassword(const std::string& password) {
    return "type txtpass \"" + password + "\"\ntype txtpass2 \"" + password +
           "\"\npress \"SEND Informations & CHECK NEW VERSION & REFRESH STATISTICS\"\n";
}
constexpr const char* kCloseAndQuit = "press CLOSE\nwaitscreen mainmenu\nquit\n";

// The account number the server gives for `login` and `password` ("" when it refuses them).
std::string AccountOf(const testsupport::CompanionServer& server, const std::string& id,
                      const std::string& login, const std::string& password) {
    const std::string reply =
        server.Get("/script/nouveaujoueur.php3?LENUM=" + id + "&LENOM=x&LELOG=" + login +
                   "&LEPWD=" + http::EncodeQueryValue(password) + "&LEMAIL=&LESOFT=1&LEVERSION=1");
    const size_t at = reply.find("<CLE>");
    return at == std::string::npos ? "" : reply.substr(at + 5, reply.find('<', at + 5) - at - 5);
}

TEST_F(Journey, APasswordChangedOnTheAccountScreenIsTheOneUsedFromThenOn) {
    testsupport::CompanionServer server(dir / "web");
    ASSERT_FALSE(server.Host().empty()) << server.Log();

    // Eve registers, then changes her password, in one visit of the account screen.
    auto first = Launch("Eve", ToTheAccountScreen(server.Host()) +
                                   "type txtlog eve\ntype Txtmail eve@example.org\n" +
                                   SendWithPassword("first secret") +
                                   SendWithPassword("second secret") + kCloseAndQuit);
    ASSERT_EQ(first->WaitExit(60s), 0) << first->Output();
    EXPECT_EQ(first->Output().find("refused"), std::string::npos) << first->Output();
    const fs::path home = dir / "Eve";
    const std::string id = Setting(home, "Id");
    ASSERT_NE(id, "");
    ASSERT_NE(id, "0");
    EXPECT_EQ(Setting(home, "Password"), "second secret");
    EXPECT_EQ(AccountOf(server, id, "eve", "second secret"), id);
    EXPECT_EQ(AccountOf(server, id, "eve", "first secret"), "") << "the old one is gone";

    // A match of hers is reported with her password (one made with the old one is refused);
    // the next start refreshes her account with the stored password and gets its statistics,
    // and reads the message board.
    const std::string report = "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=" + id +
                               "&KILLER=7&KILLED=2&SNIPPER=0&SNIPPED=0&COMMENT=&LEPWD=";
    EXPECT_NE(server.Get(report + "first%20secret").find(">NO<"), std::string::npos);
    EXPECT_NE(server.Get(report + "second%20secret").find(">OK<"), std::string::npos);
    auto second = Launch("Eve", ToTheAccountScreen(server.Host()) +
                                    "press \"SEND Informations & CHECK NEW VERSION & REFRESH "
                                    "STATISTICS\"\npress \"CHECK !\"\n" +
                                    kCloseAndQuit);
    ASSERT_EQ(second->WaitExit(60s), 0) << second->Output();
    EXPECT_EQ(second->Output().find("refused"), std::string::npos) << second->Output();
    EXPECT_EQ(Setting(home, "Killer"), "7");
    EXPECT_EQ(Setting(home, "Killed"), "2");
    EXPECT_EQ(Setting(home, "Password"), "second secret");
    EXPECT_EQ(server.Served("/script/getmess.php3"), 1u) << server.Log();
}

TEST_F(Journey, ARefusedPasswordChangeKeepsTheStoredPasswordAndSaysSo) {
    testsupport::CompanionServer server(dir / "web");
    ASSERT_FALSE(server.Host().empty()) << server.Log();

    // Fay registers on her first machine and sets up her second one the same.
    auto registering = Launch("Fay", ToTheAccountScreen(server.Host()) + "type txtlog fay\n" +
                                         SendWithPassword("one") + kCloseAndQuit);
    ASSERT_EQ(registering->WaitExit(60s), 0) << registering->Output();
    const std::string id = Setting(dir / "Fay", "Id");
    ASSERT_NE(id, "0");
    fs::create_directories(dir / "Fay2");
    fs::copy_file(dir / "Fay" / "registry.reg", dir / "Fay2" / "registry.reg");

    // She changes it on the first machine...
    auto changing =
        Launch("Fay", ToTheAccountScreen(server.Host()) + SendWithPassword("two") + kCloseAndQuit);
    ASSERT_EQ(changing->WaitExit(60s), 0) << changing->Output();
    ASSERT_EQ(Setting(dir / "Fay", "Password"), "two");

    // ... and the second machine, which only knows the old one, cannot change it again.
    auto refused = Launch("Fay2", ToTheAccountScreen(server.Host()) + "answer * OK\n" +
                                      SendWithPassword("three") + kCloseAndQuit);
    ASSERT_EQ(refused->WaitExit(60s), 0) << refused->Output();
    EXPECT_NE(refused->Output().find("messagebox \"Tarnhold\": The server refused your LOGIN "
                                     "Informations"),
              std::string::npos)
        << refused->Output();
    EXPECT_EQ(Setting(dir / "Fay2", "Password"), "one");
    EXPECT_EQ(AccountOf(server, id, "fay", "two"), id);
    EXPECT_EQ(AccountOf(server, id, "fay", "three"), "");
}

} // namespace
