// tarnhold-server as operators expose it: real server processes on loopback, clients from
// several 127.x addresses. Slow and header-heavy clients, per-address limits, the files folder,
// the exclusive port, accounts and games, what needs an account's password or the operator key,
// and two servers sharing one PostgreSQL database.
#include <gtest/gtest.h>

#include "tests/e2e/server/server_client.h"
#include "tests/support/postgres.h"

#include <atomic>
#include <set>

using namespace servertest;

namespace {

const std::string kAccountQuery = "/script/nouveaujoueur.php3?LENOM=Al&LEMAIL=a%40b.c&LESOFT=1"
                                  "&LEVERSION=1.0.0";

std::string Register(int port, const std::string& login, const std::string& password,
                     int number = 0) {
    return Get(port, kAccountQuery + "&LENUM=" + std::to_string(number) + "&LELOG=" + login +
                         "&LEPWD=" + password)
        .body;
}

std::string Publish(int port, const std::string& source, const std::string& comment) {
    return Element(
        Get(port,
            "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1.0.0&LECOMMENT=" + comment,
            source)
            .body,
        "SERVEUR");
}

std::string ListedGames(int port) {
    return Get(port, "/script/get_server.php3?LESOFT=1").body;
}

// The account's totals as its refresh reports them: "KILLER KILLED SNIPPER SNIPPED".
std::string Totals(int port, const std::string& number, const std::string& login,
                   const std::string& password) {
    const std::string reply = Register(port, login, password, std::stoi(number));
    return Element(reply, "KILLER") + " " + Element(reply, "KILLED") + " " +
           Element(reply, "SNIPPER") + " " + Element(reply, "SNIPPED");
}

} // namespace

// 16 clients that send a header line every second and 8 that send 3 MB of headers: a normal
// request still answers at once, the server stays small, and the slow ones are cut off when
// their head is overdue.
TEST(ServerLimits, SlowAndHeaderBombClientsNeitherStallNorBloatTheServer) {
    const auto dir = FreshDir("server-limits");
    ServerProcess server(
        dir, {"--port", "0", "--db", (dir / "web.db").string(), "--header-timeout", "4"});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();

    std::vector<int> slow;
    for (int i = 0; i < 16; ++i) {
        const int fd = ConnectFrom("127.0.0.2", port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, "GET / HTTP/1.1\r\nHost: x\r\n"));
        slow.push_back(fd);
    }
    std::atomic<bool> stop{false};
    std::thread dribble([&] {
        for (int line = 0; line < 8 && !stop; ++line) {
            std::this_thread::sleep_for(1s);
            for (const int fd : slow)
                SendAll(fd, "X-Slow-" + std::to_string(line) + ": a\r\n");
        }
    });
    std::atomic<int> bombReplies200{0};
    std::vector<std::thread> bombs;
    for (int i = 0; i < 8; ++i) {
        bombs.emplace_back([&, i] {
            const int fd = ConnectFrom("127.0.0.3", port);
            if (fd < 0) return;
            std::string head = "GET / HTTP/1.1\r\nHost: x\r\n";
            const std::string line =
                "X-Bomb-" + std::to_string(i) + ": " + std::string(1000, 'b') + "\r\n";
            bool open = SendAll(fd, head);
            for (size_t sent = 0; open && sent < 3'000'000; sent += line.size())
                open = SendAll(fd, line);
            if (open) SendAll(fd, "\r\n");
            if (ReadUntilClosed(fd, 5s).rfind("HTTP/1.1 200", 0) == 0) ++bombReplies200;
            ::close(fd);
        });
    }

    // Normal requests meanwhile, for longer than the slow clients' deadline.
    std::chrono::microseconds worst{0};
    size_t largest = 0;
    const auto until = std::chrono::steady_clock::now() + 6s;
    int answered = 0;
    while (std::chrono::steady_clock::now() < until) {
        const Reply r = Get(port, "/script/get_map.php3", "127.0.0.1", 5s);
        EXPECT_EQ(r.status, 200);
        answered += r.status == 200;
        worst = std::max(worst, r.took);
        largest = std::max(largest, server.ResidentBytes());
        std::this_thread::sleep_for(100ms);
    }
    for (std::thread& t : bombs)
        t.join();
    EXPECT_GT(answered, 20);
    EXPECT_LT(worst, std::chrono::seconds(1)) << "a normal request waited behind the slow clients";
    EXPECT_LT(largest, size_t(200) << 20) << "resident memory under attack";
    EXPECT_EQ(bombReplies200, 0);

    // The head deadline has passed for every slow client: their connections are closed.
    int cut = 0;
    for (const int fd : slow) {
        bool closed = false;
        ReadUntilClosed(fd, 3s, &closed);
        cut += closed;
        ::close(fd);
    }
    stop = true;
    dribble.join();
    EXPECT_EQ(cut, 16);
    EXPECT_TRUE(server.Running()) << server.Logs();
}

// One address cannot hold more than its share of connections, nor send requests faster than
// its rate: it is told 429 with Retry-After, other addresses are not affected, and it recovers.
TEST(ServerLimits, PerAddressConnectionsAndRatesAreCapped) {
    const auto dir = FreshDir("server-rates");
    ServerProcess server(dir, {"--port", "0", "--db", (dir / "web.db").string(), "--rate", "2",
                               "--burst", "4", "--connections-per-address", "8"});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();

    std::vector<int> held;
    int refused = 0;
    for (int i = 0; i < 12; ++i) {
        const int fd = ConnectFrom("127.0.0.4", port);
        ASSERT_GE(fd, 0);
        bool closed = false;
        ReadUntilClosed(fd, 300ms, &closed);
        refused += closed;
        held.push_back(fd);
    }
    EXPECT_EQ(refused, 4) << "connections past 8 from one address are closed at once";
    EXPECT_EQ(Get(port, "/script/get_map.php3", "127.0.0.5").status, 200);
    for (const int fd : held)
        ::close(fd);

    std::vector<int> statuses;
    for (int i = 0; i < 10; ++i)
        statuses.push_back(Get(port, "/script/get_map.php3", "127.0.0.6").status);
    EXPECT_EQ(std::count(statuses.begin(), statuses.begin() + 4, 200), 4);
    EXPECT_GE(std::count(statuses.begin(), statuses.end(), 429), 5);
    const Reply limited = Get(port, "/script/get_map.php3", "127.0.0.6");
    EXPECT_EQ(limited.status, 429);
    EXPECT_FALSE(limited.Header("Retry-After").empty()) << limited.head;
    EXPECT_TRUE(Contains(limited.body, "Too many requests"));
    EXPECT_EQ(Get(port, "/script/get_map.php3", "127.0.0.7").status, 200);
    std::this_thread::sleep_for(1600ms);
    EXPECT_EQ(Get(port, "/script/get_map.php3", "127.0.0.6").status, 200) << "it recovers";
    EXPECT_TRUE(Contains(server.Output(), "127.0.0.6 \"GET /script/get_map.php3\" 429"));
}

// Only regular files inside --files are served: no link is followed, NUL and control bytes
// are refused, and nothing outside the folder is reached.
TEST(ServerFiles, LinksNulBytesAndEscapesAreRefused) {
    const auto dir = FreshDir("server-files");
    const auto files = dir / "files";
    std::filesystem::create_directories(files / "map");
    std::ofstream(files / "release.exe") << "release";
    std::ofstream(files / "map" / "desert.exe") << "desert";
    std::ofstream(dir / "secret.txt") << "secret";
    std::filesystem::create_symlink("/etc", files / "etc");
    std::filesystem::create_symlink(dir / "secret.txt", files / "map" / "linked.exe");
    ServerProcess server(
        dir, {"--port", "0", "--db", (dir / "web.db").string(), "--files", files.string()});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();

    EXPECT_EQ(Get(port, "/tarnhold/map/desert.exe").body, "desert");
    EXPECT_EQ(Get(port, "/tarnhold/release.exe").body, "release");
    EXPECT_EQ(Get(port, "/tarnhold/etc/passwd").status, 404);
    EXPECT_EQ(Get(port, "/tarnhold/map/linked.exe").status, 404);
    EXPECT_EQ(Get(port, "/tarnhold/../secret.txt").status, 404);
    EXPECT_EQ(Get(port, "/tarnhold/%2e%2e/secret.txt").status, 404);
    EXPECT_EQ(Get(port, "/tarnhold/release.exe%00.txt").status, 400);
    EXPECT_EQ(Get(port, "/tarnhold/release.exe%0d%0aX:%20y").status, 400);
    EXPECT_TRUE(Contains(Get(port, "/script/get_map.php3").body, "<MAPS><MAP>desert</MAP></MAPS>"));
}

// The port is bound exclusively: a second server on it says so and exits non-zero, and the
// first goes on serving. --help explains every option.
TEST(ServerStart, ASecondServerOnAUsedPortFails) {
    const auto dir = FreshDir("server-port");
    ServerProcess first(dir, {"--port", "0", "--db", (dir / "one.db").string()});
    ASSERT_GT(first.Port(), 0) << first.Logs();
    ServerProcess second(
        dir, {"--port", std::to_string(first.Port()), "--db", (dir / "two.db").string()});
    EXPECT_EQ(second.WaitExit(10s), 1);
    EXPECT_TRUE(Contains(second.Errors(), "port " + std::to_string(first.Port()) +
                                              " on 127.0.0.1 is already in use"))
        << second.Logs();
    EXPECT_EQ(Get(first.Port(), "/script/get_map.php3").status, 200);

    ServerProcess help(dir, {"--help"});
    EXPECT_EQ(help.WaitExit(10s), 0);
    for (const char* option : {"--bind",
                               "--port",
                               "--db",
                               "--db-connections",
                               "--files",
                               "--version",
                               "--url",
                               "--game-lifetime",
                               "--trusted-proxy",
                               "--rate",
                               "--burst",
                               "--connections-per-address",
                               "--connections",
                               "--header-timeout",
                               "--idle-timeout",
                               "--header-bytes",
                               "--max-headers",
                               "--backlog",
                               "--io-threads",
                               "--workers",
                               "--slow-workers",
                               "--queue",
                               "--operator-key-file",
                               "--operator-key"})
        EXPECT_TRUE(Contains(help.Output(), std::string("\n  ") + option + " "))
            << option << " is not explained";
    ServerProcess bad(dir, {"--rate", "fast"});
    EXPECT_EQ(bad.WaitExit(10s), 2);
}

// A login is registered once; a game is withdrawn only from the address that published it;
// the access log never holds the password.
TEST(ServerAccounts, LoginsAreUniqueAndGamesLeaveOnlyFromTheirAddress) {
    const auto dir = FreshDir("server-accounts");
    ServerProcess server(dir, {"--port", "0", "--db", (dir / "web.db").string()});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();

    EXPECT_EQ(Element(Register(port, "alice", "s3cret-pw"), "CLE"), "1");
    EXPECT_TRUE(Contains(Register(port, "alice", "another-pw"), "<JOUEUR>NO</JOUEUR>"));
    EXPECT_EQ(Element(Register(port, "alice", "s3cret-pw"), "CLE"), "1") << "the same account";
    EXPECT_EQ(Element(Register(port, "bob", "pw"), "CLE"), "2");
    EXPECT_TRUE(Contains(Register(port, "alice", "another-pw", 1), "<JOUEUR>NO</JOUEUR>"));

    const std::string key = Publish(port, "127.0.0.1", "mine");
    ASSERT_FALSE(key.empty());
    EXPECT_GT(std::stoll(key), 0);
    EXPECT_LE(std::stoll(key), 2147483647);
    EXPECT_NE(key, Publish(port, "127.0.0.1", "second"));
    EXPECT_TRUE(Contains(
        Get(port, "/script/delete_server.php3?CLE_SERVEUR=" + key, "127.0.0.9").body, ">NO<"));
    EXPECT_TRUE(Contains(ListedGames(port), "<CLE_SERVEUR>" + key + "</CLE_SERVEUR>"));
    EXPECT_TRUE(Contains(Get(port, "/script/delete_server.php3?CLE_SERVEUR=" + key).body, ">OK<"));
    EXPECT_FALSE(Contains(ListedGames(port), "<CLE_SERVEUR>" + key + "</CLE_SERVEUR>"));

    const std::string log = server.Output();
    EXPECT_FALSE(Contains(log, "s3cret")) << log;
    EXPECT_TRUE(Contains(log, "LEPWD=***"));
    EXPECT_TRUE(
        Contains(log, "127.0.0.9 \"GET /script/delete_server.php3?CLE_SERVEUR=" + key + "\" 200"));
}

// Behind a load balancer: the client's address is taken from X-Forwarded-For only when the
// request comes from the trusted proxy, and the game list, withdrawals and rates follow it.
TEST(ServerProxy, ForwardedAddressesAreTrustedOnlyFromTheProxy) {
    const auto dir = FreshDir("server-proxy");
    ServerProcess server(dir, {"--port", "0", "--db", (dir / "web.db").string(), "--trusted-proxy",
                               "127.0.0.20", "--rate", "1", "--burst", "3"});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();
    const auto via = [&](const std::string& source, const std::string& forwarded,
                         const std::string& target) {
        return Get(port, target, source, 10s, "X-Forwarded-For: " + forwarded + "\r\n");
    };
    const std::string publish =
        "/script/set_server.php3?LESOFT=1&LEJOUEUR=0&LAVERSION=1&LECOMMENT=x";

    const std::string key = Element(via("127.0.0.20", "192.0.2.7", publish).body, "SERVEUR");
    const std::string spoofed = Element(via("127.0.0.21", "192.0.2.8", publish).body, "SERVEUR");
    const std::string chained =
        Element(via("127.0.0.20", "192.0.2.9, 127.0.0.20", publish).body, "SERVEUR");
    const std::string listed = Get(port, "/script/get_server.php3?LESOFT=1", "127.0.0.22").body;
    EXPECT_TRUE(Contains(listed, "<CLE_SERVEUR>" + key +
                                     "</CLE_SERVEUR><CLE_JOUEUR>0</CLE_JOUEUR>"
                                     "<NOM>GUEST</NOM><VERSION>1</VERSION><IP>192.0.2.7</IP>"))
        << listed;
    EXPECT_TRUE(Contains(listed, "<CLE_SERVEUR>" + spoofed +
                                     "</CLE_SERVEUR><CLE_JOUEUR>0"
                                     "</CLE_JOUEUR><NOM>GUEST</NOM><VERSION>1</VERSION>"
                                     "<IP>127.0.0.21</IP>"))
        << listed;
    EXPECT_TRUE(Contains(listed, "<IP>192.0.2.9</IP>")) << listed;

    const std::string remove = "/script/delete_server.php3?CLE_SERVEUR=" + key;
    EXPECT_TRUE(Contains(via("127.0.0.20", "192.0.2.66", remove).body, ">NO<"));
    EXPECT_TRUE(Contains(via("127.0.0.20", "192.0.2.7", remove).body, ">OK<"));

    // Each forwarded client has its own rate: 192.0.2.7 spends its burst of 3 here.
    via("127.0.0.20", "192.0.2.7", "/site.css");
    EXPECT_EQ(via("127.0.0.20", "192.0.2.7", "/site.css").status, 429);
    EXPECT_EQ(via("127.0.0.20", "192.0.2.10", "/site.css").status, 200);
}

// Two servers on one PostgreSQL database serve one game list and one set of accounts.
TEST(ServerPostgres, TwoServersShareOneGameListAndOneSetOfAccounts) {
    testsupport::TestPostgres postgres;
    ASSERT_TRUE(postgres.Ok()) << postgres.Error();
    const auto dir = FreshDir("server-postgres");
    ServerProcess a(dir, {"--port", "0", "--db", postgres.Uri()});
    ServerProcess b(dir, {"--port", "0", "--db", postgres.Uri()});
    ASSERT_GT(a.Port(), 0) << a.Logs();
    ASSERT_GT(b.Port(), 0) << b.Logs();

    EXPECT_EQ(Element(Register(a.Port(), "carol", "pw"), "CLE"), "1");
    EXPECT_TRUE(Contains(Register(b.Port(), "carol", "other"), "<JOUEUR>NO</JOUEUR>"));
    EXPECT_EQ(Element(Register(b.Port(), "carol", "pw"), "CLE"), "1");
    EXPECT_EQ(Element(Register(b.Port(), "dave", "pw"), "CLE"), "2");

    const std::string key = Publish(a.Port(), "127.0.0.1", "on%20a");
    ASSERT_FALSE(key.empty());
    const std::string listed = ListedGames(b.Port());
    EXPECT_TRUE(Contains(listed, "<CLE_SERVEUR>" + key + "</CLE_SERVEUR>")) << listed;
    EXPECT_TRUE(Contains(listed, "<COMMENT>on a</COMMENT>"));
    EXPECT_TRUE(
        Contains(Get(b.Port(), "/script/delete_server.php3?CLE_SERVEUR=" + key).body, ">OK<"));
    EXPECT_FALSE(Contains(ListedGames(a.Port()), key));
}

// Nobody acts for an account without its password: forged match reports, posts and
// withdrawals are refused and change nothing; an account without a password proves nothing;
// a report over what one match gives is refused whole; the password never reaches the log.
TEST(ServerProofs, ForgedReportsPostsAndWithdrawalsChangeNothing) {
    const auto dir = FreshDir("server-proofs");
    ServerProcess server(dir, {"--port", "0", "--db", (dir / "web.db").string()});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();
    ASSERT_EQ(Element(Register(port, "alice", "alice-pw"), "CLE"), "1");
    ASSERT_EQ(Element(Register(port, "bob", "bob-pw"), "CLE"), "2");
    ASSERT_EQ(Element(Register(port, "", ""), "CLE"), "3"); // an open account
    const auto report = [&](const std::string& player, const std::string& counters,
                            const std::string& proof) {
        return Element(Get(port, "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=" + player +
                                     counters + "&COMMENT=gg" + proof)
                           .body,
                       "REPONSE");
    };
    const std::string match = "&KILLER=3&KILLED=2&SNIPPER=4&SNIPPED=1";

    // Reports: no password, a wrong one, another account's, an empty one.
    EXPECT_EQ(report("1", match, ""), "NO");
    EXPECT_EQ(report("1", match, "&LEPWD=guess"), "NO");
    EXPECT_EQ(report("1", match, "&LEPWD=bob-pw"), "NO");
    EXPECT_EQ(report("3", match, "&LEPWD="), "NO");
    EXPECT_EQ(report("1", match, "&LEPWD=alice-pw&LEPWD=alice-pw"), "NO");
    // More than one match gives: a counter over 10000, more head-shot deaths than deaths, or
    // more than the minute of play a new account has banked (200 kills take over a minute).
    EXPECT_EQ(report("1", "&KILLER=10001&KILLED=0&SNIPPER=0&SNIPPED=0", "&LEPWD=alice-pw"), "NO");
    EXPECT_EQ(report("1", "&KILLER=1&KILLED=1&SNIPPER=0&SNIPPED=2", "&LEPWD=alice-pw"), "NO");
    EXPECT_EQ(report("1", "&KILLER=200&KILLED=0&SNIPPER=0&SNIPPED=0", "&LEPWD=alice-pw"), "NO");
    EXPECT_EQ(Totals(port, "1", "alice", "alice-pw"), "0 0 0 0") << "nothing was added";
    // Her own match, with her password.
    EXPECT_EQ(report("1", match, "&LEPWD=alice-pw"), "OK");
    EXPECT_EQ(Totals(port, "1", "alice", "alice-pw"), "3 2 4 1");

    // Account updates: her name, e-mail or password change only with her password.
    const std::string update = "/script/nouveaujoueur.php3?LENUM=1&LENOM=Mallory&LELOG=alice"
                               "&LEMAIL=m%40evil.example&LESOFT=1&LEVERSION=1.0.0";
    for (const std::string proof :
         {"&LEPWD=", "&LEPWD=guess", "&LEPWD=bob-pw", "&LEPWD=taken&LEOLDPWD=guess",
          "&LEPWD=taken&LEOLDPWD=", "&LEPWD=taken&LEOLDPWD=bob-pw"})
        EXPECT_EQ(Element(Get(port, update + proof).body, "JOUEUR"), "NO") << proof;
    EXPECT_EQ(Totals(port, "1", "alice", "taken"), "   ") << "her password is unchanged";
    EXPECT_EQ(Totals(port, "1", "alice", "alice-pw"), "3 2 4 1");

    // Posts: as her without her password, nothing; as a guest or with it, posted.
    const auto post = [&](const std::string& player, const std::string& text,
                          const std::string& proof) {
        return Element(Get(port, "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=" + player +
                                     "&LETYP=0&LEMESS=" + text + proof)
                           .body,
                       "REPONSE");
    };
    EXPECT_EQ(post("1", "forged", ""), "NO");
    EXPECT_EQ(post("1", "forged", "&LEPWD=bob-pw"), "NO");
    EXPECT_EQ(post("3", "forged", "&LEPWD="), "NO");
    EXPECT_EQ(post("0", "from%20a%20guest", ""), "OK");
    EXPECT_EQ(post("1", "from%20alice", "&LEPWD=alice-pw"), "OK");
    const std::string board = Get(port, "/script/getmess.php3?LESOFT=1&LETYP=0").body;
    EXPECT_FALSE(Contains(board, "forged")) << board;
    EXPECT_TRUE(Contains(board, "<NOM>GUEST</NOM><DATE>")) << board;
    EXPECT_TRUE(Contains(board, "<NOM>Al</NOM>")) << board;
    EXPECT_FALSE(Contains(board, "Mallory")) << "her name is unchanged";

    // Withdrawals: her game leaves only with her password, from wherever she asks; a game
    // published without a password is a guest's and leaves only from its address.
    const std::string publish = "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1.0.0"
                                "&LECOMMENT=x";
    const std::string hers = Element(Get(port, publish + "&LEPWD=alice-pw").body, "SERVEUR");
    const std::string guest = Element(Get(port, publish).body, "SERVEUR");
    const std::string listed = ListedGames(port);
    EXPECT_TRUE(Contains(listed, "<CLE_SERVEUR>" + hers +
                                     "</CLE_SERVEUR><CLE_JOUEUR>1"
                                     "</CLE_JOUEUR><NOM>Al</NOM>"))
        << listed;
    EXPECT_TRUE(Contains(listed, "<CLE_SERVEUR>" + guest +
                                     "</CLE_SERVEUR><CLE_JOUEUR>0"
                                     "</CLE_JOUEUR><NOM>GUEST</NOM>"))
        << listed;
    const std::string withdraw = "/script/delete_server.php3?CLE_SERVEUR=";
    EXPECT_TRUE(Contains(Get(port, withdraw + hers).body, ">NO<")) << "its address is no proof";
    EXPECT_TRUE(Contains(Get(port, withdraw + hers + "&CLE_JOUEUR=1&LEPWD=bob-pw").body, ">NO<"));
    EXPECT_TRUE(Contains(Get(port, withdraw + hers + "&CLE_JOUEUR=2&LEPWD=bob-pw").body, ">NO<"));
    EXPECT_TRUE(Contains(
        Get(port, withdraw + guest + "&CLE_JOUEUR=1&LEPWD=alice-pw", "127.0.0.8").body, ">NO<"));
    EXPECT_TRUE(Contains(ListedGames(port), "<CLE_SERVEUR>" + hers + "<"));
    EXPECT_TRUE(Contains(ListedGames(port), "<CLE_SERVEUR>" + guest + "<"));
    EXPECT_TRUE(Contains(
        Get(port, withdraw + hers + "&CLE_JOUEUR=1&LEPWD=alice-pw", "127.0.0.8").body, ">OK<"));
    EXPECT_TRUE(Contains(Get(port, withdraw + guest).body, ">OK<"));
    EXPECT_FALSE(Contains(ListedGames(port), "<CLE_SERVEUR>"));

    // A password is never taken away from an account.
    EXPECT_TRUE(
        Contains(Get(port, kAccountQuery + "&LENUM=1&LELOG=alice&LEPWD=&LEOLDPWD=alice-pw").body,
                 "<JOUEUR>NO</JOUEUR>"));
    EXPECT_EQ(Totals(port, "1", "alice", "alice-pw"), "3 2 4 1");

    const std::string log = server.Output();
    EXPECT_FALSE(Contains(log, "alice-pw")) << log;
    EXPECT_FALSE(Contains(log, "bob-pw")) << log;
    EXPECT_TRUE(Contains(log, "&COMMENT=[2 bytes]&LEPWD=***\" 200")) << log;
}

// The private messages sent to the publisher, and the comments of match reports, are read
// only with the operator key, given in a file: as the password of HTTP Basic authentication,
// on the operator page or through the message script. Nobody reads them without it, not even
// account 1, and a server without a key shows them to nobody.
TEST(ServerOperator, OnlyTheOperatorKeyReadsPrivateMessages) {
    const auto dir = FreshDir("server-operator");
    const std::string key = "k3y-0f-the-0perator/+=";
    {
        std::ofstream(dir / "operator.key") << key << "\n";
        std::filesystem::permissions(dir / "operator.key", std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write);
    }
    ServerProcess server(dir, {"--port", "0", "--db", (dir / "web.db").string(),
                               "--operator-key-file", (dir / "operator.key").string()});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();
    EXPECT_EQ(server.Errors(), "") << "a file readable by its owner only is not warned about";
    ASSERT_EQ(Element(Register(port, "boss", "boss-pw"), "CLE"), "1");
    ASSERT_EQ(Element(Register(port, "bob", "bob-pw"), "CLE"), "2");
    ASSERT_TRUE(Contains(Get(port, "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=2&LETYP=1"
                                   "&LEMESS=%3Cb%3Esecret%3C%2Fb%3E%20bug%20report&LEPWD=bob-pw")
                             .body,
                         ">OK<"));
    ASSERT_TRUE(Contains(Get(port, "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=2&KILLER=0"
                                   "&KILLED=0&SNIPPER=0&SNIPPED=0&COMMENT=the%20map%20lags"
                                   "&LEPWD=bob-pw")
                             .body,
                         ">OK<"));

    const std::string inbox = "/script/getmess.php3?LESOFT=1&LETYP=2";
    const auto read = [&](const std::string& head) {
        return Get(port, inbox, "127.0.0.1", 10s, head).body;
    };
    EXPECT_FALSE(Contains(read(""), "secret"));
    EXPECT_FALSE(Contains(read(BasicAuthorization("op", "wrong-key-of-16-chars")), "secret"));
    EXPECT_FALSE(Contains(read(BasicAuthorization("op", key + "x")), "secret"));
    EXPECT_FALSE(Contains(read("Authorization: Bearer " + key + "\r\n"), "secret"));
    EXPECT_TRUE(Contains(read(""), "<MESSAGES></MESSAGES>"));
    EXPECT_TRUE(Contains(read(BasicAuthorization("op", key)), "<NOM>Al</NOM>"))
        << read(BasicAuthorization("op", key));
    EXPECT_TRUE(Contains(read(BasicAuthorization("", key)), "&lt;b&gt;secret&lt;/b&gt; bug"));
    // Type 1 is the publisher's own news, never the inbox.
    EXPECT_FALSE(Contains(Get(port, "/script/getmess.php3?LESOFT=1&LETYP=1").body, "secret"));

    const Reply asked = Get(port, "/operator");
    EXPECT_EQ(asked.status, 401);
    EXPECT_TRUE(Contains(asked.Header("WWW-Authenticate"), "Basic realm=")) << asked.head;
    EXPECT_EQ(Get(port, "/operator", "127.0.0.1", 10s, BasicAuthorization("op", "nope")).status,
              401);
    const Reply page = Get(port, "/operator", "127.0.0.1", 10s, BasicAuthorization("op", key));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(Contains(page.body, "&lt;b&gt;secret&lt;/b&gt; bug report")) << page.body;
    EXPECT_TRUE(Contains(page.body, "the map lags")) << page.body;
    EXPECT_EQ(page.Header("Cache-Control"), "no-store");
    EXPECT_FALSE(Contains(Get(port, "/").body, "secret"));
    EXPECT_FALSE(Contains(server.Output(), key)) << "the key stays out of the access log";

    // Without a key: nobody reads them.
    ServerProcess keyless(dir, {"--port", "0", "--db", (dir / "web.db").string()});
    ASSERT_GT(keyless.Port(), 0) << keyless.Logs();
    EXPECT_EQ(
        Get(keyless.Port(), "/operator", "127.0.0.1", 10s, BasicAuthorization("op", key)).status,
        403);
    EXPECT_FALSE(Contains(
        Get(keyless.Port(), inbox, "127.0.0.1", 10s, BasicAuthorization("op", "")).body, "secret"));

    // A key too short, an unreadable file: the server does not start.
    ServerProcess shortKey(dir, {"--operator-key", "short"});
    EXPECT_EQ(shortKey.WaitExit(10s), 2);
    ServerProcess noFile(dir, {"--operator-key-file", (dir / "missing.key").string()});
    EXPECT_EQ(noFile.WaitExit(10s), 2);
    EXPECT_TRUE(Contains(noFile.Errors(), "missing.key")) << noFile.Errors();
}
