// The web client against a local scripted server: the exact requests it sends, how it reads
// the replies, and that a failed exchange leaves every value as it was.
#include "web/web.h"

#include "app/wiring.h"
#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/registry/registry.h"
#include "platform/window/window.h"

#include "tests/support/self_extracting_zip.h"
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

// One request as the server received it.
struct Seen {
    std::string target;                             // path and query, exactly as sent
    std::multimap<std::string, std::string> params; // decoded by the server
};

// A cpp-httplib server on 127.0.0.1 that answers each path with a scripted reply and records
// every request. The web client is pointed at it for the test's scope.
class ScriptedServer {
public:
    ScriptedServer() {
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_.load()));
            std::lock_guard lock(mutex_);
            seen_.push_back({req.target, {req.params.begin(), req.params.end()}});
            const auto reply = replies_.find(req.path);
            if (reply == replies_.end()) {
                res.status = 404;
                return;
            }
            res.status = reply->second.first;
            res.set_content(reply->second.second, "text/xml");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(1ms);
        net::WebServerName = Host();
    }
    ~ScriptedServer() {
        server_.stop();
        thread_.join();
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

    void Reply(const std::string& script, std::string body, int status = 200) {
        ReplyAt("/script/" + script, std::move(body), status);
    }
    void ReplyAt(const std::string& path, std::string body, int status = 200) {
        std::lock_guard lock(mutex_);
        replies_[path] = {status, std::move(body)};
    }
    // Every reply is held back this long (set before the first request).
    void Delay(std::chrono::milliseconds delay) { delayMs_ = int(delay.count()); }
    std::vector<Seen> Requests() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    std::vector<std::string> Targets() {
        std::vector<std::string> targets;
        for (const Seen& s : Requests())
            targets.push_back(s.target);
        return targets;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::map<std::string, std::pair<int, std::string>> replies_;
    std::vector<Seen> seen_;
    std::atomic<int> delayMs_{0};
};

constexpr const char* kAccountReply =
    "<JOUEUR><CLE>7</CLE><VER>1.0.0</VER><URL>http://dl/</URL><KILLER>12</KILLER>"
    "<KILLED>3</KILLED><SNIPPER>2</SNIPPER><SNIPPED>1</SNIPPED></JOUEUR>";

// Every test starts from the same account and empty web state, with its own settings folder.
class Web : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::filesystem::path(::testing::TempDir()) /
                ("web-home-" + std::to_string(::getpid()));
        std::filesystem::remove_all(home_);
        std::filesystem::create_directories(home_);
        ::setenv("TARNHOLD_HOME", home_.c_str(), 1);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1); // the beep of the version check
        core::ProgramName = "Tarnhold";
        core::SoftKey = 1;
        core::VersionText = "1.0.0";
        core::LocalIndex = -1;
        core::AccountNumber = 5;
        core::AccountName = "Joe";
        core::Login = "joe";
        core::Password = "se cret";
        core::Email = "joe@example.org";
        core::TotalKills = core::TotalDeaths = core::TotalSniperKills = 0;
        core::TotalSnipedDeaths = 0;
        core::WeaponPower = 1;
        web::ServerKey = 0;
        web::ServerList.clear();
        web::ServerLines.clear();
        web::MapList.clear();
        web::ServerVersion.clear();
        web::DownloadUrl.clear();
        core::ProgramDirectory = (home_ / "install").string();
        std::filesystem::create_directories(home_ / "install");
    }
    void TearDown() override { std::filesystem::remove_all(home_); }

    std::filesystem::path home_;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Padded(std::string line, const std::string& ip) {
    line.resize(web::kServerLineWidth, ' ');
    return line + ip;
}

} // namespace

TEST_F(Web, EveryOperationSendsItsQueryInOrderWithValuesEncoded) {
    ScriptedServer server;
    server.Reply("set_server.php3", "<R>42</R>");
    server.Reply("delete_server.php3", "<R>OK</R>");
    server.Reply("quitte_server.php3", "<R>OK</R>");
    server.Reply("nouveaujoueur.php3", kAccountReply);
    server.Reply("nouveaumess.php3", "<R>OK</R>");
    server.Reply("get_server.php3", "<SERVEURS/>");
    server.Reply("getmess.php3", "<MESSAGES/>");
    server.Reply("get_map.php3", "<MAPS/>");

    EXPECT_TRUE(web::devenir_server("my game"));
    EXPECT_TRUE(web::DeleteServer());
    EXPECT_TRUE(web::SendMatchReport(3, 2, 1, 0, "gg"));
    EXPECT_TRUE(web::EnvoiMessage("hi all", 1));
    EXPECT_TRUE(web::InfoJoueur()); // the account number becomes 7
    EXPECT_TRUE(web::server_en_cours());
    EXPECT_EQ(web::RecupMessage(0), "");
    core::AccountNumber = 1; // the publisher reads private messages as type 2
    web::RecupMessage(1);
    EXPECT_TRUE(web::Get_Map());

    // What acts for the account carries its password.
    const std::vector<std::string> expected = {
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=5&LAVERSION=1.0.0&LECOMMENT=my%20game"
        "&LEPWD=se%20cret",
        "/script/delete_server.php3?CLE_SERVEUR=42&CLE_JOUEUR=5&LEPWD=se%20cret",
        "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=5&KILLER=3&KILLED=2&SNIPPER=1"
        "&SNIPPED=0&COMMENT=gg&LEPWD=se%20cret",
        "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=5&LETYP=1&LEMESS=hi%20all&LEPWD=se%20cret",
        "/script/nouveaujoueur.php3?LENUM=5&LENOM=Joe&LELOG=joe&LEPWD=se%20cret"
        "&LEMAIL=joe%40example.org&LESOFT=1&LEVERSION=1.0.0&LEOLDPWD=se%20cret",
        "/script/get_server.php3?LESOFT=1",
        "/script/nouveaujoueur.php3?LENUM=7&LENOM=Joe&LELOG=joe&LEPWD=se%20cret"
        "&LEMAIL=joe%40example.org&LESOFT=1&LEVERSION=1.0.0&LEOLDPWD=se%20cret",
        "/script/getmess.php3?LESOFT=1&LETYP=0",
        "/script/getmess.php3?LESOFT=1&LETYP=2",
        "/script/get_map.php3",
    };
    EXPECT_EQ(server.Targets(), expected);
}

TEST_F(Web, HostileTextArrivesIntactAndAddsNoParameter) {
    ScriptedServer server;
    server.Reply("set_server.php3", "<R>9</R>");
    server.Reply("quitte_server.php3", "<R>OK</R>");
    const std::string hostile = "&LESOFT=9 #x";
    core::AccountName = "O'Brien \"<b>\"";
    ASSERT_TRUE(web::devenir_server(hostile));
    ASSERT_TRUE(web::SendMatchReport(1, 1, 0, 0, hostile + "\r\n%41"));

    const std::vector<Seen> seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].params.count("LESOFT"), 1u);
    EXPECT_EQ(seen[0].params.find("LESOFT")->second, "1");
    EXPECT_EQ(seen[0].params.find("LECOMMENT")->second, hostile);
    EXPECT_EQ(seen[0].params.size(), 5u);
    EXPECT_EQ(seen[1].params.find("COMMENT")->second, hostile + "\r\n%41");
    EXPECT_EQ(seen[1].params.count("CLE_SOFT"), 1u);
    EXPECT_EQ(seen[0].target.find('#'), std::string::npos);
}

TEST_F(Web, PublishingKeepsTheKeyOnlyWhenAccepted) {
    ScriptedServer server;
    web::ServerKey = 17;
    server.Reply("set_server.php3", "<REPONSE>NO</REPONSE>");
    EXPECT_FALSE(web::devenir_server(""));
    EXPECT_EQ(web::ServerKey, 17);

    server.Reply("set_server.php3", "<REPONSE>not xml", 200);
    EXPECT_FALSE(web::devenir_server(""));
    EXPECT_EQ(web::ServerKey, 17);

    server.Reply("set_server.php3", "<REPONSE>31</REPONSE>");
    EXPECT_TRUE(web::devenir_server(""));
    EXPECT_EQ(web::ServerKey, 31);
}

TEST_F(Web, ServerListLinesArePaddedToTheIpColumnAndIncompleteGamesAreDropped) {
    ScriptedServer server;
    server.Reply("nouveaujoueur.php3", kAccountReply);
    const std::string longName(120, 'n');
    server.Reply("get_server.php3",
                 "<SERVEURS>"
                 "<CLE_SERVEUR>11</CLE_SERVEUR><CLE_JOUEUR>3</CLE_JOUEUR><NOM>alpha</NOM>"
                 "<VERSION>1.0.0</VERSION><IP>127.0.0.2</IP><COMMENT>first</COMMENT>"
                 "<OTHER>skipped</OTHER>"
                 // No COMMENT: not listed, its fields are overwritten by the next game.
                 "<CLE_SERVEUR>12</CLE_SERVEUR><CLE_JOUEUR>4</CLE_JOUEUR><NOM>ghost</NOM>"
                 "<VERSION>0.9</VERSION><IP>127.0.0.9</IP>"
                 "<CLE_SERVEUR>13</CLE_SERVEUR><CLE_JOUEUR>x</CLE_JOUEUR><NOM>" +
                     longName +
                     "</NOM><VERSION>1.0.1</VERSION><IP>127.0.0.3</IP><COMMENT/>"
                     // A last game without COMMENT leaves no record behind.
                     "<CLE_SERVEUR>14</CLE_SERVEUR><NOM>tail</NOM>"
                     "</SERVEURS>");
    struct CountingList : web::SessionListView {
        void ServerListsCleared() override { ++cleared; }
        int cleared = 0;
    } list;
    web::SetSessionListView(&list);
    ASSERT_TRUE(web::server_en_cours());
    web::SetSessionListView(nullptr);
    EXPECT_EQ(list.cleared, 1);

    ASSERT_EQ(web::ServerLines.size(), 2u);
    EXPECT_EQ(web::ServerLines[0], Padded("SERVER alpha On version 1.0.0", "127.0.0.2"));
    EXPECT_EQ(web::ServerLines[0].size(), 100u + 9u);
    EXPECT_EQ(web::ServerLines[1], ("SERVER " + longName).substr(0, 100) + "127.0.0.3");
    ASSERT_EQ(web::ServerList.size(), 2u);
    const web::ServerRecord& first = web::ServerList[0];
    EXPECT_EQ(first.gameKey, 11);
    EXPECT_EQ(first.playerKey, 3);
    EXPECT_EQ(first.name, "alpha");
    EXPECT_EQ(first.version, "1.0.0");
    EXPECT_EQ(first.ip, "127.0.0.2");
    EXPECT_EQ(first.comment, "first");
    const web::ServerRecord& second = web::ServerList[1];
    EXPECT_EQ(second.gameKey, 13);
    EXPECT_EQ(second.playerKey, 0); // not a number
    EXPECT_EQ(second.name, longName);
    EXPECT_EQ(second.comment, "");
    // The account was refreshed after the list.
    EXPECT_EQ(core::AccountNumber, 7);
}

TEST_F(Web, MessagesAndMapsAreReadInDocumentOrder) {
    ScriptedServer server;
    server.Reply("getmess.php3", "<MESSAGES><CLE>1</CLE><NOM>A</NOM><DATE>D</DATE>"
                                 "<MESSAGE>M</MESSAGE><CLE>2</CLE><NOM>B &amp; C</NOM>"
                                 "<DATE>2026-12-06</DATE><MESSAGE>two\nlines</MESSAGE>"
                                 "</MESSAGES>");
    server.Reply("get_map.php3", "<MAPS><MAP>Desert</MAP><X>no</X><MAP>tower2</MAP></MAPS>");
    web::ServerList.push_back({});
    web::ServerLines.push_back("old");
    EXPECT_EQ(web::RecupMessage(0), "#1 send by A D\r\nM\r\n\r\n"
                                    "#2 send by B & C 2026-12-06\r\ntwo\nlines\r\n\r\n");
    EXPECT_TRUE(web::ServerList.empty());
    EXPECT_TRUE(web::ServerLines.empty());

    ASSERT_TRUE(web::Get_Map());
    EXPECT_EQ(web::MapList, (std::vector<std::string>{"DESERT", "TOWER2"}));
}

TEST_F(Web, AccountReplyUpdatesTotalsRankAndSettingsAndAnnouncesANewVersion) {
    ScriptedServer server;
    server.Reply("nouveaujoueur.php3",
                 "<JOUEUR><CLE>7</CLE><VER>2.0.0</VER><URL>http://dl/tarnhold/</URL>"
                 "<KILLER>12</KILLER><KILLED>3</KILLED><SNIPPER>2</SNIPPER>"
                 "<SNIPPED>1</SNIPPED></JOUEUR>");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(web::InfoJoueur());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("New version 2.0.0 at the url:\r\nhttp://dl/tarnhold/"), std::string::npos)
        << log;
    EXPECT_EQ(core::AccountNumber, 7);
    EXPECT_EQ(core::TotalKills, 12);
    EXPECT_EQ(core::TotalDeaths, 3);
    EXPECT_EQ(core::TotalSniperKills, 2);
    EXPECT_EQ(core::TotalSnipedDeaths, 1);
    EXPECT_EQ(core::WeaponPower, 3); // (12 - 3) + 5 * (2 - 1) = 14
    EXPECT_EQ(web::ServerVersion, "2.0.0");
    EXPECT_EQ(web::DownloadUrl, "http://dl/tarnhold/");
    // Saved with the other settings.
    EXPECT_EQ(
        registry::ReadSetting(registry::RootKey::LocalMachine, core::kAccountKey, "Id").ToText(),
        "7");
    EXPECT_EQ(
        registry::ReadSetting(registry::RootKey::LocalMachine, core::kGameKey, "Killer").ToText(),
        "12");

    // Same version, or none reported: no announcement.
    for (const char* reply : {kAccountReply, "<JOUEUR><CLE>7</CLE></JOUEUR>"}) {
        web::ServerVersion.clear();
        server.Reply("nouveaujoueur.php3", reply);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(web::InfoJoueur());
        const std::string quiet = testing::internal::GetCapturedStdout();
        EXPECT_EQ(quiet.find("New version"), std::string::npos) << quiet;
    }
}

TEST_F(Web, TypedAccountFieldsAreKeptOnlyOnceTheServerAcceptsThem) {
    ScriptedServer server;
    const web::AccountFields typed{"joe2", "new pass", "joe@new.org"};
    auto stored = [](const char* name) {
        return registry::ReadSetting(registry::RootKey::LocalMachine, core::kAccountKey, name)
            .ToText();
    };

    // Refused, or no reply: the stored account stays as it was, in memory and on disk.
    server.Reply("nouveaujoueur.php3", "<JOUEUR>NO</JOUEUR>");
    EXPECT_EQ(web::SendAccount(typed), web::AccountAnswer::Refused);
    server.Reply("nouveaujoueur.php3", "<JOUEUR>");
    EXPECT_EQ(web::SendAccount(typed), web::AccountAnswer::Failed);
    EXPECT_FALSE(web::InfoJoueur());
    EXPECT_EQ(core::Login, "joe");
    EXPECT_EQ(core::Password, "se cret");
    EXPECT_EQ(core::Email, "joe@example.org");
    EXPECT_EQ(stored("Password"), "");

    // Accepted: the typed fields are the account's from now on, and saved.
    server.Reply("nouveaujoueur.php3", kAccountReply);
    EXPECT_EQ(web::SendAccount(typed), web::AccountAnswer::Accepted);
    EXPECT_EQ(core::Login, "joe2");
    EXPECT_EQ(core::Password, "new pass");
    EXPECT_EQ(core::Email, "joe@new.org");
    EXPECT_EQ(stored("Password"), "new pass");
    EXPECT_EQ(stored("Login"), "joe2");

    // Each request carried the typed password and the one the server knew until then.
    const std::vector<Seen> seen = server.Requests();
    ASSERT_EQ(seen.size(), 4u);
    for (size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(seen[i].params.find("LEPWD")->second, "new pass");
        EXPECT_EQ(seen[i].params.find("LEOLDPWD")->second, "se cret");
    }

    // No password typed (a fresh installation, or a field left empty): the game sends one it
    // draws, and keeps it once the server takes it.
    core::Password = "";
    ASSERT_EQ(web::SendAccount({"", "", ""}), web::AccountAnswer::Accepted);
    const std::string drawn = core::Password;
    EXPECT_EQ(drawn.size(), 20u);
    EXPECT_TRUE(std::all_of(drawn.begin(), drawn.end(), [](unsigned char c) {
        return std::isalnum(c) != 0;
    })) << drawn;
    EXPECT_EQ(stored("Password"), drawn);
    const Seen last = server.Requests().back();
    EXPECT_EQ(last.params.find("LEPWD")->second, drawn);
    EXPECT_EQ(last.params.find("LEOLDPWD")->second, "");
    ASSERT_EQ(web::SendAccount({"", "", ""}), web::AccountAnswer::Accepted);
    EXPECT_NE(core::Password, drawn) << "drawn afresh, not a fixed word";
}

TEST_F(Web, AFailedExchangeChangesNothingAndShowsNothing) {
    web::ServerList.push_back({1, 2, "kept", "1.0.0", "127.0.0.5", ""});
    web::ServerLines.push_back("kept line");
    web::ServerKey = 8;
    auto unchanged = [] {
        EXPECT_EQ(core::AccountNumber, 5);
        EXPECT_EQ(core::TotalKills, 0);
        EXPECT_EQ(web::ServerVersion, "");
        EXPECT_EQ(web::ServerKey, 8);
        ASSERT_EQ(web::ServerLines.size(), 1u);
        EXPECT_EQ(web::ServerList[0].name, "kept");
    };
    {
        ScriptedServer server;
        server.Reply("nouveaujoueur.php3", "this is not xml");
        server.Reply("get_server.php3", "<SERVEURS><NOM>x</NOM></SERVEURS>", 500);
        server.Reply("getmess.php3", "");
        testing::internal::CaptureStdout();
        EXPECT_FALSE(web::InfoJoueur());
        EXPECT_FALSE(web::server_en_cours());
        EXPECT_EQ(web::RecupMessage(0), "");
        EXPECT_FALSE(web::Get_Map()); // 404
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.find("messagebox"), std::string::npos) << log;
        EXPECT_EQ(log.find("se%20cret"), std::string::npos) << "no password in the log";
        EXPECT_NE(log.find("nouveaujoueur.php3?..."), std::string::npos) << log;
        // The failed list load did not go on to the account request.
        EXPECT_EQ(server.Requests().size(), 4u);
        unchanged();
    }
    // The server is gone: its port refuses connections.
    EXPECT_FALSE(web::InfoJoueur());
    EXPECT_FALSE(web::devenir_server("x"));
    EXPECT_FALSE(web::DeleteServer());
    unchanged();
}

TEST_F(Web, MatchReportIsSentOnlyInInternetMode) {
    ScriptedServer server;
    server.Reply("quitte_server.php3", "<R>OK</R>");
    net::WebServerName = "";
    web::quitte_server();
    EXPECT_TRUE(server.Requests().empty());

    // Without a window the comment box answers its empty default.
    net::WebServerName = server.Host();
    web::quitte_server();
    EXPECT_EQ(server.Targets(),
              std::vector<std::string>{"/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=5"
                                       "&KILLER=0&KILLED=0&SNIPPER=0&SNIPPED=0&COMMENT="
                                       "&LEPWD=se%20cret"});
}

TEST_F(Web, TheWebWindowIsShownModallyWithTheHourglassWhileARequestRuns) {
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_TRUE(window::Init("web test", 640, 480));
    app::ConnectModules();
    ScriptedServer server;
    server.Delay(300ms);
    server.Reply("nouveaumess.php3", "<R>OK</R>");

    // A timer fires inside the web window's pump, while the request is out.
    int checks = 0;
    bool shownWithHourglass = true;
    window::Timer probe(window::Timers(), 20, window::TimerMode::Repeating, [&] {
        ++checks;
        shownWithHourglass = shownWithHourglass && window::IsScreenOpen("TARNHOLD") &&
                             window::GetPointer() == window::Pointer::Hourglass;
    });
    probe.Enable();
    EXPECT_TRUE(web::EnvoiMessage("hello", 0));
    probe.Disable();

    EXPECT_GT(checks, 2);
    EXPECT_TRUE(shownWithHourglass);
    EXPECT_FALSE(window::IsScreenOpen("TARNHOLD"));
    EXPECT_EQ(window::GetPointer(), window::Pointer::Normal);
    window::Shutdown();
}

TEST_F(Web, MapAndReleaseArchivesAreDownloadedAndUnpackedIntoThePlayersDataFolder) {
    ScriptedServer server;
    // The installation may be read-only: archives go to the machine's own data folder, made
    // when first needed.
    const std::filesystem::path install = core::ProgramDirectory;
    const std::filesystem::path data = home_ / "data";
    ASSERT_FALSE(std::filesystem::exists(data));
    const std::string desert = testsupport::SelfExtractingZip({{"map/desert.map", "MAP DESERT"}});
    server.ReplyAt("/tarnhold/map/desert.exe", desert);

    ASSERT_TRUE(web::GetAnyFile("Desert"));
    EXPECT_EQ(ReadFile(data / "desert.exe"), desert);
    EXPECT_EQ(ReadFile(data / "map" / "desert.map"), "MAP DESERT");
    EXPECT_FALSE(std::filesystem::exists(data / "desert.exe.part"));

    // A failed download keeps the archive already there and says so.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(web::GetAnyFile("Tower"));
    std::ofstream(data / "tower.exe") << "old";
    EXPECT_FALSE(web::GetAnyFile("Tower"));
    // A name that is not a plain file name is refused before any request.
    EXPECT_FALSE(web::GetAnyFile("../../evil"));
    // An archive reaching outside the installation is refused whole.
    server.ReplyAt("/tarnhold/map/escape.exe",
                   testsupport::SelfExtractingZip({{"../escaped.txt", "x"}}));
    EXPECT_FALSE(web::GetAnyFile("Escape"));
    // No release address reported yet: nothing to fetch.
    ASSERT_TRUE(web::DownloadUrl.empty());
    EXPECT_FALSE(web::GetVersion());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadFile(data / "tower.exe"), "old");
    EXPECT_FALSE(std::filesystem::exists(data.parent_path() / "escaped.txt"));
    EXPECT_NE(log.find("Download MAP (Tower) failed:\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Download MAP (../../evil) failed:"), std::string::npos) << log;
    EXPECT_NE(log.find("Download NEW VERSION failed:"), std::string::npos) << log;
    EXPECT_EQ(server.Targets(),
              (std::vector<std::string>{"/tarnhold/map/desert.exe", "/tarnhold/map/tower.exe",
                                        "/tarnhold/map/tower.exe", "/tarnhold/map/escape.exe"}));

    // The release comes from the address the server reported, wherever that is.
    server.Reply("nouveaujoueur.php3", "<JOUEUR><CLE>5</CLE><VER>1.0.0</VER><URL>http://" +
                                           server.Host() +
                                           "/files/v2/tarnhold-2.exe</URL></JOUEUR>");
    ASSERT_TRUE(web::InfoJoueur());
    // The release is unpacked into the data folder, then the program is asked to end.
    server.ReplyAt("/files/v2/tarnhold-2.exe",
                   testsupport::SelfExtractingZip({{"readme.txt", "v2"}}));
    ASSERT_FALSE(window::QuitRequested());
    ASSERT_TRUE(web::GetVersion());
    EXPECT_EQ(ReadFile(data / "readme.txt"), "v2");
    EXPECT_TRUE(window::QuitRequested());
    EXPECT_TRUE(std::filesystem::is_empty(install)) << "nothing is written into the installation";
}
