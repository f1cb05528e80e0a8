// The game's web client against a real tarnhold-server process on loopback with a fresh
// database: accounts, the game list seen from a second machine, match reports, the message
// board, removal, and hostile requests that must neither crash the server nor reach its SQL.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include "core/game_state.h"
#include "net/net.h"
#include "platform/http/http.h"
#include "web/web.h"

#include <regex>

using namespace std::chrono_literals;

namespace {

std::filesystem::path ServerExecutable() {
    return std::filesystem::path(TARNHOLD_INSTALL_DIR) / "tarnhold-server";
}

// One tarnhold-server on 127.0.0.1 and a free port, with its own database and files folder.
class RunningServer {
public:
    explicit RunningServer(const std::string& name) : dir_(apptest::FreshDir(name)) {
        std::filesystem::create_directories(dir_ / "files" / "map");
        std::ofstream(dir_ / "files" / "map" / "desert.exe") << "archive";
        std::ofstream(dir_ / "files" / "map" / "Upper.exe") << "not fetchable by the client";
        std::ofstream(dir_ / "files" / "map" / "notes.txt") << "not a map";
        process_ = std::make_unique<apptest::Process>(
            std::vector<std::string>{ServerExecutable().string(), "--port", "0", "--db",
                                     (dir_ / "web.db").string(), "--files",
                                     (dir_ / "files").string(), "--version", "2.0.0", "--url",
                                     "http://127.0.0.1/tarnhold/release.exe"},
            std::map<std::string, std::string>{}, dir_ / "server.log");
        if (!process_->WaitOutput("listening on", 10s)) return;
        std::smatch match;
        const std::string output = process_->Output();
        if (std::regex_search(output, match, std::regex("http://(127\\.0\\.0\\.1:[0-9]+)")))
            host_ = match[1];
    }

    const std::string& Host() const { return host_; }
    bool Running() { return process_->Running(); }
    std::string Log() { return process_->Output(); }
    std::string Get(const std::string& pathAndQuery) {
        const http::Response r = http::Get("http://" + host_ + pathAndQuery);
        return r.ok ? std::string(r.body.begin(), r.body.end()) : "failed " + r.error;
    }

private:
    std::filesystem::path dir_;
    std::unique_ptr<apptest::Process> process_;
    std::string host_;
};

// The account state of one machine, swapped in and out of the game state.
struct Machine {
    int32_t accountNumber = 0;
    std::string name, login, password, email;
    int32_t kills = 0, deaths = 0, sniperKills = 0, snipedDeaths = 0;

    void Enter() const {
        core::AccountNumber = accountNumber;
        core::AccountName = name;
        core::Login = login;
        core::Password = password;
        core::Email = email;
        core::TotalKills = kills;
        core::TotalDeaths = deaths;
        core::TotalSniperKills = sniperKills;
        core::TotalSnipedDeaths = snipedDeaths;
    }
    void Leave() {
        accountNumber = core::AccountNumber;
        kills = core::TotalKills;
        deaths = core::TotalDeaths;
        sniperKills = core::TotalSniperKills;
        snipedDeaths = core::TotalSnipedDeaths;
    }
};

class WebServer : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = apptest::FreshDir("web-e2e-home");
        ::setenv("TARNHOLD_HOME", home_.c_str(), 1);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        core::ProgramName = "Tarnhold";
        core::SoftKey = 1;
        core::VersionText = "1.0.0";
        core::LocalIndex = -1;
        web::ServerKey = 0;
    }
    std::filesystem::path home_;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(WebServer, AccountsGamesReportsAndMessagesWorkEndToEnd) {
    RunningServer server("web-e2e-round");
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    net::WebServerName = server.Host();

    Machine alice{0, "alice", "alice", "pw & 'one'", "alice@example.org"};
    Machine bob{0, "bob <b>", "bob", "hunter2", "bob@example.org"};

    // Alice registers (the first account, the publisher) and is told of the newer release.
    alice.Enter();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(web::InfoJoueur());
    const std::string announced = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(Contains(announced, "New version 2.0.0 at the url:\r\n"
                                    "http://127.0.0.1/tarnhold/release.exe"))
        << announced;
    EXPECT_EQ(core::AccountNumber, 1);
    const std::string comment = "come & play #1 'now'";
    ASSERT_TRUE(web::devenir_server(comment));
    const int32_t key = web::ServerKey;
    EXPECT_GT(key, 0);
    alice.Leave();

    // Bob's machine lists the game; listing also registers him.
    bob.Enter();
    ASSERT_TRUE(web::server_en_cours());
    EXPECT_EQ(core::AccountNumber, 2);
    ASSERT_EQ(web::ServerLines.size(), 1u);
    std::string line = "SERVER alice On version 1.0.0";
    line.resize(100, ' ');
    EXPECT_EQ(web::ServerLines[0], line + "127.0.0.1");
    ASSERT_EQ(web::ServerList.size(), 1u);
    EXPECT_EQ(web::ServerList[0].gameKey, key);
    EXPECT_EQ(web::ServerList[0].playerKey, 1);
    EXPECT_EQ(web::ServerList[0].comment, comment);
    ASSERT_TRUE(web::EnvoiMessage("hello & <bye>", 0));
    ASSERT_TRUE(web::EnvoiMessage("a private note", 1));
    EXPECT_EQ(web::RecupMessage(1), ""); // the publisher has posted no news
    // A key that is not the game's removes nothing.
    web::ServerKey = key + 100;
    EXPECT_TRUE(web::DeleteServer());
    ASSERT_TRUE(web::server_en_cours());
    EXPECT_EQ(web::ServerLines.size(), 1u);
    bob.Leave();

    // Alice reports two matches; her totals grow on the server.
    alice.Enter();
    ASSERT_TRUE(web::SendMatchReport(3, 1, 1, 0, "good game"));
    ASSERT_TRUE(web::SendMatchReport(2, 2, 0, 1, ""));
    core::TotalKills = 0;
    ASSERT_TRUE(web::InfoJoueur());
    EXPECT_EQ(core::TotalKills, 5);
    EXPECT_EQ(core::TotalDeaths, 3);
    EXPECT_EQ(core::TotalSniperKills, 1);
    EXPECT_EQ(core::TotalSnipedDeaths, 1);

    const std::string board = web::RecupMessage(0);
    EXPECT_TRUE(Contains(board, " send by bob <b> ")) << board;
    EXPECT_TRUE(Contains(board, "\r\nhello & <bye>\r\n\r\n")) << board;
    // Bob's private note is for the server's operator: account 1's game asks for the inbox and
    // gets no message.
    EXPECT_EQ(web::RecupMessage(1), "");

    // A wrong password changes nothing: no account, no report, no post, no withdrawal.
    core::Password = "wrong";
    core::TotalKills = 99;
    EXPECT_EQ(web::SendAccount({core::Login, "wrong", core::Email}), web::AccountAnswer::Refused);
    EXPECT_EQ(core::AccountNumber, 1);
    EXPECT_EQ(core::TotalKills, 99);
    EXPECT_FALSE(web::SendMatchReport(9, 0, 0, 0, "forged"));
    EXPECT_FALSE(web::EnvoiMessage("forged", 0));
    web::ServerKey = key;
    EXPECT_TRUE(web::DeleteServer()) << "the reply came";
    core::Password = alice.password;
    ASSERT_TRUE(web::server_en_cours());
    EXPECT_EQ(web::ServerLines.size(), 1u) << "her game is still listed";
    EXPECT_EQ(core::TotalKills, 5);
    EXPECT_FALSE(Contains(web::RecupMessage(0), "forged"));

    // A new password is taken once the previous one is checked.
    const std::string changed = "pw & 'two'";
    ASSERT_EQ(web::SendAccount({core::Login, changed, core::Email}), web::AccountAnswer::Accepted);
    EXPECT_EQ(core::TotalKills, 5);
    EXPECT_EQ(core::Password, changed);
    ASSERT_TRUE(web::InfoJoueur());
    // A machine that still holds the old password is refused whatever it types, until it is
    // given the current one.
    core::Password = alice.password;
    EXPECT_EQ(web::SendAccount({core::Login, "pw3", core::Email}), web::AccountAnswer::Refused);
    EXPECT_EQ(core::Password, alice.password);
    ASSERT_EQ(web::SendAccount({core::Login, changed, core::Email}), web::AccountAnswer::Accepted);
    EXPECT_EQ(core::Password, changed);
    // The right previous password with another login is no account of hers.
    EXPECT_EQ(web::SendAccount({"mallory", "pw3", core::Email}), web::AccountAnswer::Refused);
    ASSERT_TRUE(web::InfoJoueur());

    // The map archives of the files folder, and the archive itself.
    ASSERT_TRUE(web::Get_Map());
    EXPECT_EQ(web::MapList, std::vector<std::string>{"DESERT"});
    EXPECT_EQ(server.Get("/tarnhold/map/desert.exe"), "archive");

    // Alice withdraws her game; the list is empty for everyone.
    web::ServerKey = key;
    ASSERT_TRUE(web::DeleteServer());
    ASSERT_TRUE(web::server_en_cours());
    EXPECT_TRUE(web::ServerLines.empty());
    EXPECT_TRUE(server.Running());
}

TEST_F(WebServer, HostileRequestsNeitherCrashNorInject) {
    RunningServer server("web-e2e-hostile");
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    net::WebServerName = server.Host();

    // An account whose every field is SQL and markup text round-trips as plain text.
    const std::string sql = "x'); DROP TABLE accounts; --";
    Machine mallory{0, sql + "\"</NOM><NOM>", sql, sql, sql};
    mallory.Enter();
    ASSERT_TRUE(web::InfoJoueur());
    ASSERT_EQ(core::AccountNumber, 1);
    ASSERT_TRUE(web::devenir_server(sql));
    ASSERT_TRUE(web::server_en_cours());
    ASSERT_EQ(web::ServerList.size(), 1u);
    EXPECT_EQ(web::ServerList[0].name, mallory.name);
    EXPECT_EQ(web::ServerList[0].comment, sql);

    // Raw requests the client never sends.
    const std::string tooLong(5000, 'a');
    const std::vector<std::string> refused = {
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1.0.0&LECOMMENT=" + tooLong,
        "/script/set_server.php3?LESOFT=9&LEJOUEUR=1&LAVERSION=1.0.0&LECOMMENT=x",
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1.0.0",
        "/script/set_server.php3?LESOFT=1&LESOFT=2&LEJOUEUR=1&LAVERSION=1&LECOMMENT=x",
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=1%20OR%201%3D1&LAVERSION=1&LECOMMENT=x",
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1&LECOMMENT=%00%01",
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1&LECOMMENT=%C3%28",
        "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=1&KILLER=-5&KILLED=0&SNIPPER=0"
        "&SNIPPED=0&COMMENT=",
        "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=1&KILLER=99999999999999999999"
        "&KILLED=0&SNIPPER=0&SNIPPED=0&COMMENT=",
        "/script/nouveaujoueur.php3?LENUM=1%20OR%201%3D1&LENOM=a&LELOG=b&LEPWD=c&LEMAIL=d"
        "&LESOFT=1&LEVERSION=1",
        "/script/nouveaujoueur.php3?LENUM=1&LENOM=a&LELOG=" + http::EncodeQueryValue(sql) +
            "&LEPWD=" + http::EncodeQueryValue("' OR '1'='1") + "&LEMAIL=d&LESOFT=1&LEVERSION=1",
        "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=1&LETYP=7&LEMESS=x",
        "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=1&LETYP=0&LEMESS=%20%20",
        "/script/delete_server.php3?CLE_SERVEUR=1%20OR%201%3D1",
    };
    for (const std::string& query : refused) {
        const std::string reply = server.Get(query);
        EXPECT_TRUE(Contains(reply, ">NO<")) << query << "\n" << reply;
    }
    // A URL beyond the server's bound is refused at the HTTP level.
    EXPECT_TRUE(
        Contains(server.Get("/script/getmess.php3?LESOFT=1&LETYP=0&X=" + std::string(100'000, 'b')),
                 "failed"));

    // Everything is still there and unchanged.
    ASSERT_TRUE(server.Running()) << server.Log();
    ASSERT_TRUE(web::server_en_cours());
    ASSERT_EQ(web::ServerLines.size(), 1u);
    core::TotalKills = 42;
    ASSERT_TRUE(web::InfoJoueur());
    EXPECT_EQ(core::AccountNumber, 1);
    EXPECT_EQ(core::TotalKills, 0);
    EXPECT_FALSE(Contains(server.Log(), mallory.password)) << "queries are not logged";
}
