// The store's behaviour, the same suite on both back ends: SQLite in a temporary file and a
// real PostgreSQL server started for the test on loopback. Two Store objects on one database
// stand for two server processes.
#include <gtest/gtest.h>

#include "server/site.h"
#include "server/store.h"
#include "tests/support/postgres.h"

#include <sqlite3.h>

#include <atomic>
#include <set>
#include <thread>

namespace {

using server::AccountForm;
using server::Registration;

// One database of the back end under test, and a way to open more stores on it.
class Database {
public:
    explicit Database(const std::string& backend) {
        if (backend == "postgresql") {
            postgres_ = std::make_unique<testsupport::TestPostgres>();
            address_ = postgres_->Uri();
        } else {
            dir_ = std::filesystem::path(::testing::TempDir()) /
                   ("store-" + std::to_string(::getpid()) + "-" + std::to_string(count_++));
            std::filesystem::remove_all(dir_);
            std::filesystem::create_directories(dir_);
            address_ = (dir_ / "web.db").string();
        }
    }
    ~Database() {
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    bool Ok() const { return !postgres_ || postgres_->Ok(); }
    std::string Error() const { return postgres_ ? postgres_->Error() : ""; }
    std::unique_ptr<server::Store> Open() const { return server::OpenStore(address_, 2); }
    const std::string& Address() const { return address_; }

private:
    static inline int count_ = 0;
    std::unique_ptr<testsupport::TestPostgres> postgres_;
    std::filesystem::path dir_;
    std::string address_;
};

class StoreSuite : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        db_ = std::make_unique<Database>(GetParam());
        ASSERT_TRUE(db_->Ok()) << db_->Error();
        store_ = db_->Open();
    }
    std::unique_ptr<Database> db_;
    std::unique_ptr<server::Store> store_;
};

AccountForm Form(std::string name, std::string login, std::string password) {
    return AccountForm{std::move(name), std::move(login), std::move(password), "e@example.org"};
}

} // namespace

TEST_P(StoreSuite, ALoginBelongsToOneAccountAcrossServers) {
    const auto other = db_->Open(); // a second server process on the same database

    const server::RegisterResult first = store_->RegisterAccount(Form("Alice", "alice", "pw1"));
    ASSERT_EQ(first.outcome, Registration::Created);
    ASSERT_TRUE(first.account);
    const int64_t alice = first.account->id;
    EXPECT_EQ(alice, 1) << "the first account is the publisher's";

    // Another password on either server: refused. The same password: the same account, renamed.
    EXPECT_EQ(other->RegisterAccount(Form("Mallory", "alice", "guess")).outcome,
              Registration::LoginTaken);
    EXPECT_EQ(store_->RegisterAccount(Form("Mallory", "alice", "")).outcome,
              Registration::LoginTaken);
    const server::RegisterResult again = other->RegisterAccount(Form("Alice A.", "alice", "pw1"));
    ASSERT_EQ(again.outcome, Registration::Existing);
    EXPECT_EQ(again.account->id, alice);
    EXPECT_EQ(store_->FindAccount(alice)->name, "Alice A.");
    // Logins are compared exactly; an empty login always makes a new account.
    EXPECT_EQ(store_->RegisterAccount(Form("A", "Alice", "x")).outcome, Registration::Created);
    const auto blank1 = store_->RegisterAccount(Form("GIGN", "", ""));
    const auto blank2 = other->RegisterAccount(Form("GIGN", "", ""));
    ASSERT_EQ(blank1.outcome, Registration::Created);
    ASSERT_EQ(blank2.outcome, Registration::Created);
    EXPECT_NE(blank1.account->id, blank2.account->id);

    // Updates need number, login and password together.
    EXPECT_TRUE(store_->UpdateAccount(alice, Form("Al", "alice", "pw1")));
    EXPECT_FALSE(store_->UpdateAccount(alice, Form("Al", "alice", "pw2")));
    EXPECT_FALSE(store_->UpdateAccount(alice, Form("Al", "Alice", "pw1")));
    EXPECT_FALSE(store_->UpdateAccount(alice + 100, Form("Al", "alice", "pw1")));
    EXPECT_TRUE(blank2.account && store_->UpdateAccount(blank2.account->id, Form("T", "", "")));

    // A password changed on one server is the only one either server accepts afterwards, even
    // right after both checked the old one.
    ASSERT_TRUE(other->UpdateAccount(alice, Form("Al", "alice", "pw1")));
    EXPECT_FALSE(store_->ChangePassword(alice, "wrong", "pw2"));
    ASSERT_TRUE(store_->ChangePassword(alice, "pw1", "pw2"));
    EXPECT_FALSE(other->UpdateAccount(alice, Form("Al", "alice", "pw1")));
    EXPECT_FALSE(store_->UpdateAccount(alice, Form("Al", "alice", "pw1")));
    EXPECT_FALSE(other->ChangePassword(alice, "pw1", "pw3"));
    EXPECT_TRUE(other->UpdateAccount(alice, Form("Al", "alice", "pw2")));
    EXPECT_EQ(other->RegisterAccount(Form("Al", "alice", "pw1")).outcome, Registration::LoginTaken);
    EXPECT_EQ(other->RegisterAccount(Form("Al", "alice", "pw2")).account->id, alice);
}

TEST_P(StoreSuite, GamesHaveRandomKeysAndLeaveOnlyFromTheirAddress) {
    const auto other = db_->Open();
    const int64_t host = store_->RegisterAccount(Form("Host <1>", "host", "pw")).account->id;
    std::set<int64_t> keys;
    for (int i = 0; i < 20; ++i) {
        const int64_t key =
            store_->PublishGame(1, host, "1.0.0", "game " + std::to_string(i), "127.0.0.1");
        EXPECT_GE(key, 1);
        EXPECT_LE(key, 2147483647);
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 20u);
    // Sequential keys would span 19; random ones over 2^31 almost never fall that close.
    EXPECT_GT(*keys.rbegin() - *keys.begin(), 1000);

    const int64_t guest = other->PublishGame(1, 0, "1.0.1", "it's \"quoted\"'); --", "10.0.0.7");
    other->PublishGame(2, host, "1.0.0", "another program", "127.0.0.1");
    std::vector<server::Game> games = other->ListGames(1, 3600);
    ASSERT_EQ(games.size(), 21u);
    const auto found = std::find_if(games.begin(), games.end(),
                                    [guest](const server::Game& g) { return g.key == guest; });
    ASSERT_NE(found, games.end());
    EXPECT_EQ(found->name, "GUEST");
    EXPECT_EQ(found->comment, "it's \"quoted\"'); --");
    EXPECT_EQ(found->ip, "10.0.0.7");
    EXPECT_EQ(std::count_if(games.begin(), games.end(),
                            [](const server::Game& g) { return g.name == "Host <1>"; }),
              20);

    // A guest game leaves only from the address that published it; an account's game only
    // for that account, from wherever it asks.
    EXPECT_FALSE(store_->RemoveGame(guest, "127.0.0.1", 0));
    EXPECT_FALSE(store_->RemoveGame(guest, "127.0.0.1", host));
    EXPECT_EQ(store_->ListGames(1, 3600).size(), 21u);
    EXPECT_TRUE(store_->RemoveGame(guest, "10.0.0.7", 0));
    EXPECT_FALSE(other->RemoveGame(guest, "10.0.0.7", 0));
    // One of the host's games (the list is oldest first, games of one second in key order).
    const int64_t hosted = std::find_if(games.begin(), games.end(), [](const server::Game& g) {
                               return g.name == "Host <1>";
                           })->key;
    EXPECT_FALSE(store_->RemoveGame(hosted, "127.0.0.1", 0)) << "its address is not its account";
    EXPECT_FALSE(store_->RemoveGame(hosted, "127.0.0.1", host + 1));
    EXPECT_TRUE(other->RemoveGame(hosted, "192.0.2.1", host));
    EXPECT_EQ(store_->ListGames(1, 3600).size(), 19u);
    // Games past their lifetime leave the list for good.
    EXPECT_TRUE(store_->ListGames(1, -1).empty());
    EXPECT_TRUE(other->ListGames(1, 3600).empty());
    EXPECT_EQ(other->ListGames(2, 3600).size(), 0u) << "the expiry is the same for every program";
}

TEST_P(StoreSuite, ReportsMakeTheRankingAndMessagesKeepTheirText) {
    const int64_t a = store_->RegisterAccount(Form("Ace", "ace", "1")).account->id;
    const int64_t b = store_->RegisterAccount(Form("Bob", "bob", "2")).account->id;
    const int64_t c = store_->RegisterAccount(Form("Cy", "cy", "3")).account->id;
    store_->RegisterAccount(Form("Idle", "idle", "4"));

    using server::ReportOutcome;
    EXPECT_EQ(store_->ReportMatch(a, {6, 2, 0, 0}, "gg"), ReportOutcome::Added);    // score 4
    EXPECT_EQ(store_->ReportMatch(b, {3, 1, 2, 0}, ""), ReportOutcome::Added);      // score 12
    EXPECT_EQ(store_->ReportMatch(c, {1, 3, 1, 1}, ""), ReportOutcome::Added);      // score -2
    EXPECT_EQ(store_->ReportMatch(a, {1, 0, 0, 0}, "again"), ReportOutcome::Added); // a: 5
    EXPECT_EQ(store_->ReportMatch(999, {5, 0, 0, 0}, "nobody"), ReportOutcome::NoAccount);
    EXPECT_EQ(store_->ExportAll().reports.size(), 4u) << "a report for nobody is not kept";
    const std::vector<server::Message> comments = store_->ReportComments(10);
    ASSERT_EQ(comments.size(), 2u) << "reports without a comment are left out";
    EXPECT_EQ(comments[0].text, "again");
    EXPECT_EQ(comments[0].name, "Ace");
    EXPECT_EQ(comments[1].text, "gg");

    const std::vector<server::Account> ranking = store_->Ranking(10);
    ASSERT_EQ(ranking.size(), 3u) << "accounts that never played are not ranked";
    EXPECT_EQ(ranking[0].name, "Bob");
    EXPECT_EQ(server::WeaponRank(ranking[0]), 3);
    EXPECT_EQ(ranking[1].name, "Ace");
    EXPECT_EQ(ranking[1].kills, 7);
    EXPECT_EQ(ranking[1].deaths, 2);
    EXPECT_EQ(server::WeaponRank(ranking[1]), 2);
    EXPECT_EQ(ranking[2].name, "Cy");
    EXPECT_EQ(server::WeaponRank(ranking[2]), 1);
    EXPECT_EQ(store_->Ranking(1).size(), 1u);

    store_->PostMessage(1, a, 0, "first");
    store_->PostMessage(1, 0, 0, "<script>alert('x')</script>\r\nline two");
    store_->PostMessage(1, b, 1, "to the publisher");
    store_->PostMessage(2, a, 0, "other program");
    const std::vector<server::Message> board = store_->Messages(1, 0, std::nullopt, 10);
    ASSERT_EQ(board.size(), 2u);
    EXPECT_EQ(board[0].text, "<script>alert('x')</script>\r\nline two");
    EXPECT_EQ(board[0].name, "GUEST");
    EXPECT_EQ(board[1].name, "Ace");
    EXPECT_EQ(board[1].date.size(), 16u);
    EXPECT_EQ(store_->Messages(1, 0, std::nullopt, 1).size(), 1u);
    EXPECT_EQ(store_->Messages(1, 1, b, 10).size(), 1u);
    EXPECT_TRUE(store_->Messages(1, 1, a, 10).empty());
}

// An operator moves a SQLite database into this back end: numbers, passwords, statistics,
// games and messages come along, and new rows continue after the imported ones.
TEST_P(StoreSuite, ASqliteDatabaseMovesInWhole) {
    Database old("sqlite");
    const auto source = old.Open();
    source->RegisterAccount(Form("Gone", "gone", "x"));
    const int64_t kept = source->RegisterAccount(Form("Kept", "kept", "pw")).account->id;
    source->ReportMatch(kept, {4, 1, 1, 0}, "gg");
    const int64_t key = source->PublishGame(1, kept, "1.0.0", "still on", "127.0.0.1");
    source->PostMessage(1, kept, 0, "hello");
    const server::Dump dump = source->ExportAll();
    ASSERT_EQ(dump.accounts.size(), 2u);

    store_->ImportAll(dump);
    EXPECT_TRUE(store_->UpdateAccount(kept, Form("Kept", "kept", "pw")));
    EXPECT_EQ(store_->FindAccount(kept)->kills, 4);
    EXPECT_EQ(store_->RegisterAccount(Form("K", "kept", "nope")).outcome, Registration::LoginTaken);
    EXPECT_EQ(store_->RegisterAccount(Form("New", "new", "pw")).account->id, kept + 1);
    ASSERT_EQ(store_->ListGames(1, 3600).size(), 1u);
    EXPECT_EQ(store_->ListGames(1, 3600)[0].key, key);
    EXPECT_TRUE(store_->RemoveGame(key, "127.0.0.1", kept));
    store_->PostMessage(1, 0, 0, "after");
    const auto board = store_->Messages(1, 0, std::nullopt, 10);
    ASSERT_EQ(board.size(), 2u);
    EXPECT_EQ(board[1].text, "hello");
    EXPECT_EQ(board[1].name, "Kept");
    EXPECT_THROW(store_->ImportAll(dump), server::StoreError) << "only into an empty database";
}

// Only the account's own password proves it; an account without one proves nothing.
TEST_P(StoreSuite, AnAccountIsProvedByItsPasswordOnly) {
    const int64_t ann = store_->RegisterAccount(Form("Ann", "ann", "ann's pw")).account->id;
    const int64_t bob = store_->RegisterAccount(Form("Bob", "bob", "bob's pw")).account->id;
    const int64_t open = store_->RegisterAccount(Form("GIGN", "", "")).account->id;
    const auto other = db_->Open();
    EXPECT_TRUE(store_->ProveAccount(ann, "ann's pw"));
    EXPECT_TRUE(other->ProveAccount(ann, "ann's pw"));
    EXPECT_FALSE(store_->ProveAccount(ann, "bob's pw"));
    EXPECT_FALSE(store_->ProveAccount(ann, "ann's pw "));
    EXPECT_FALSE(store_->ProveAccount(bob + 100, "bob's pw"));
    EXPECT_FALSE(store_->ProveAccount(open, ""));
    // A changed password is the only proof on every server at once.
    ASSERT_TRUE(other->ChangePassword(ann, "ann's pw", "new"));
    EXPECT_FALSE(store_->ProveAccount(ann, "ann's pw"));
    EXPECT_TRUE(store_->ProveAccount(ann, "new"));
}

// A report adds only what fits in the play time its account has banked: a new account starts
// with a minute, an account from before the limits with the full hour; a report that does not
// fit adds nothing, and servers reporting for one account at once share one bank.
TEST_P(StoreSuite, ReportsAddOnlyWhatTheBankedPlayTimeAllows) {
    using server::ReportOutcome;
    using server::ReportRules;
    EXPECT_EQ(ReportRules::PlaySeconds({0, 0, 0, 0}), 0);
    EXPECT_EQ(ReportRules::PlaySeconds({7, 2, 0, 0}), 3);  // 7 kills: 3 s at 3 a second
    EXPECT_EQ(ReportRules::PlaySeconds({3, 1, 31, 0}), 4); // 31 head-shot hits
    EXPECT_EQ(ReportRules::PlaySeconds({0, 5, 0, 5}), 5);

    // Accounts moved in from an older database start with the full hour; one of them is near
    // the client's 32-bit maximum.
    Database old("sqlite");
    const auto source = old.Open();
    source->RegisterAccount(Form("Vet", "vet", "pw"));
    source->RegisterAccount(Form("Max", "max", "pw"));
    server::Dump dump = source->ExportAll();
    for (auto& row : dump.accounts)
        row.reportClock = 0;
    dump.accounts[1].account.kills = 2147483000;
    store_->ImportAll(dump);
    EXPECT_EQ(store_->ReportMatch(1, {10000, 3000, 0, 3000}, ""), ReportOutcome::Added);
    EXPECT_EQ(store_->ReportMatch(1, {0, 700, 0, 0}, ""), ReportOutcome::TooMuch);
    EXPECT_EQ(store_->FindAccount(1)->kills, 10000);
    EXPECT_EQ(store_->ReportMatch(2, {1000, 0, 0, 0}, ""), ReportOutcome::Added);
    EXPECT_EQ(store_->FindAccount(2)->kills, 2147483647) << "totals stop at 2^31-1";

    const int64_t fresh = store_->RegisterAccount(Form("New", "new", "pw")).account->id;
    EXPECT_EQ(store_->ReportMatch(fresh, {200, 0, 0, 0}, "too soon"), ReportOutcome::TooMuch);
    EXPECT_EQ(store_->ReportMatch(fresh, {120, 10, 0, 0}, "40 s"), ReportOutcome::Added);
    EXPECT_EQ(store_->ReportMatch(fresh, {0, 40, 0, 0}, "40 s more"), ReportOutcome::TooMuch);
    EXPECT_EQ(store_->ReportMatch(fresh, {0, 0, 0, 0}, "nothing"), ReportOutcome::Added);
    const server::Account after = *store_->FindAccount(fresh);
    EXPECT_EQ(after.kills, 120);
    EXPECT_EQ(after.deaths, 10);

    // Eight reports of 20 s each at once, from two servers: the minute holds three of them.
    const int64_t busy = store_->RegisterAccount(Form("Busy", "busy", "pw")).account->id;
    const auto second = db_->Open();
    std::atomic<int> added{0};
    std::vector<std::thread> reporters;
    for (int i = 0; i < 8; ++i)
        reporters.emplace_back([&, i] {
            server::Store& via = i % 2 ? *second : *store_;
            added += via.ReportMatch(busy, {60, 0, 0, 0}, "") == ReportOutcome::Added;
        });
    for (std::thread& t : reporters)
        t.join();
    EXPECT_EQ(added, 3);
    EXPECT_EQ(store_->FindAccount(busy)->kills, 60 * added);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreSuite, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// A database written before logins were unique keeps every account: the sharers of a login
// still sign in by number, and the login itself stays with the oldest of them.
TEST(StoreSqlite, OlderDatabaseWithSharedLoginsKeepsItsAccounts) {
    const auto dir = std::filesystem::path(::testing::TempDir()) /
                     ("store-legacy-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "old.db").string();
    const std::vector<unsigned char> salt = server::NewSalt();
    const std::vector<unsigned char> hash1 = server::HashPassword("one", salt);
    const std::vector<unsigned char> hash2 = server::HashPassword("two", salt);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE accounts (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " name TEXT NOT NULL, login TEXT NOT NULL, email TEXT NOT NULL,"
                               " salt BLOB NOT NULL, hash BLOB NOT NULL,"
                               " kills INTEGER NOT NULL DEFAULT 0, deaths INTEGER NOT NULL"
                               " DEFAULT 0, sniper_kills INTEGER NOT NULL DEFAULT 0,"
                               " sniped_deaths INTEGER NOT NULL DEFAULT 0,"
                               " created INTEGER NOT NULL)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        for (const auto* hash : {&hash1, &hash2}) {
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(db,
                               "INSERT INTO accounts (name, login, email, salt, hash, created)"
                               " VALUES ('twin', 'twin', '', ?, ?, 0)",
                               -1, &insert, nullptr);
            sqlite3_bind_blob(insert, 1, salt.data(), int(salt.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert, 2, hash->data(), int(hash->size()), SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_finalize(insert);
        }
        sqlite3_close(db);
    }
    const auto store = server::OpenStore(path);
    EXPECT_TRUE(store->UpdateAccount(1, Form("twin", "twin", "one")));
    EXPECT_TRUE(store->UpdateAccount(2, Form("twin", "twin", "two")));
    EXPECT_EQ(store->RegisterAccount(Form("twin", "twin", "one")).account->id, 1);
    EXPECT_EQ(store->RegisterAccount(Form("twin", "twin", "two")).outcome,
              Registration::LoginTaken);
    EXPECT_EQ(store->RegisterAccount(Form("new", "fresh", "x")).outcome, Registration::Created);
    EXPECT_EQ(store->RegisterAccount(Form("new", "fresh", "y")).outcome, Registration::LoginTaken);
    std::filesystem::remove_all(dir);
}
