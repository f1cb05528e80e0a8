// server/store_sqlite.cpp — the store on one SQLite file (WAL journal), one connection under a
// lock.
//
// Index
//   1. Statements
//   2. Schema
//   3. Accounts and reports
//   4. Games
//   5. Messages
//   6. Moving
#include "server/store_backends.h"

#include <sqlite3.h>

namespace server {

namespace {

// =============================================================================================
// 1. Statements
// =============================================================================================

// One prepared statement; values are bound by position (1-based), never spliced into the text.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.data(), int(sql.size()), &stmt_, nullptr) != SQLITE_OK)
            Fail("prepare");
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& Bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int index, const std::vector<unsigned char>& bytes) {
        sqlite3_bind_blob(stmt_, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
        return *this;
    }

    // Advances to the next row; false when done. `constraint` is set (instead of throwing)
    // when the statement broke a unique constraint.
    bool Step(bool* constraint = nullptr) {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_CONSTRAINT && constraint != nullptr) {
            *constraint = true;
            return false;
        }
        if (rc != SQLITE_DONE) Fail("step");
        return false;
    }
    void Run() {
        while (Step()) {
        }
    }

    int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  size_t(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    std::vector<unsigned char> Blob(int column) const {
        const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, column));
        return data ? std::vector<unsigned char>(data, data + sqlite3_column_bytes(stmt_, column))
                    : std::vector<unsigned char>();
    }

private:
    [[noreturn]] void Fail(const char* what) const {
        throw StoreError(std::string("database ") + what + " failed: " + sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void Exec(sqlite3* db, std::string_view sql) {
    Statement(db, sql).Run();
}

constexpr std::string_view kAccountColumns =
    "id, name, login, email, kills, deaths, sniper_kills, sniped_deaths";

Account ReadAccount(const Statement& row) {
    return {row.Int(0), row.Text(1), row.Text(2), row.Text(3),
            row.Int(4), row.Int(5),  row.Int(6),  row.Int(7)};
}

class SqliteStore final : public Store {
public:
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override { sqlite3_close(db_); }

    std::optional<Account> FindAccount(int64_t id) override;
    std::vector<Account> Ranking(int limit) override;
    bool RemoveGame(int64_t key, std::string_view ip, int64_t provenPlayer) override;
    std::vector<Game> ListGames(int64_t soft, int64_t maxAgeSeconds) override;
    void PostMessage(int64_t soft, int64_t player, int64_t type, std::string_view text) override;
    std::vector<Message> Messages(int64_t soft, int64_t type, std::optional<int64_t> onlyPlayer,
                                  int limit) override;
    std::vector<Message> ReportComments(int limit) override;
    Dump ExportAll() override;
    void ImportAll(const Dump& dump) override;

protected:
    std::optional<Credentials> CredentialsById(int64_t id) override;
    std::optional<Credentials> CredentialsByLogin(std::string_view login) override;
    std::optional<int64_t> InsertAccount(const AccountForm& form,
                                         const std::vector<unsigned char>& salt,
                                         const std::vector<unsigned char>& hash) override;
    std::optional<Account> SetProfile(int64_t id, std::string_view name, std::string_view email,
                                      const std::vector<unsigned char>& hash) override;
    bool SetPassword(int64_t id, const std::vector<unsigned char>& previousHash,
                     const std::vector<unsigned char>& salt,
                     const std::vector<unsigned char>& hash) override;
    std::optional<int64_t> ReportClock(int64_t id) override;
    bool AddReport(int64_t id, const MatchCounters& counters, std::string_view comment,
                   int64_t clock, int64_t next) override;
    bool InsertGame(int64_t key, int64_t soft, int64_t player, std::string_view version,
                    std::string_view comment, std::string_view ip) override;

private:
    std::optional<Account> AccountLocked(int64_t id);
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

// =============================================================================================
// 2. Schema
// =============================================================================================

bool HasColumn(sqlite3* db, std::string_view table, std::string_view column) {
    Statement row(db, "SELECT name FROM pragma_table_info(?)");
    row.Bind(1, table);
    while (row.Step())
        if (row.Text(0) == column) return true;
    return false;
}

SqliteStore::SqliteStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open " + path + ": " + error);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        Exec(db_, "PRAGMA journal_mode=WAL");
        Exec(db_, "CREATE TABLE IF NOT EXISTS accounts ("
                  " id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, login TEXT NOT NULL,"
                  " email TEXT NOT NULL, salt BLOB NOT NULL, hash BLOB NOT NULL,"
                  " kills INTEGER NOT NULL DEFAULT 0, deaths INTEGER NOT NULL DEFAULT 0,"
                  " sniper_kills INTEGER NOT NULL DEFAULT 0,"
                  " sniped_deaths INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL,"
                  " login_shared INTEGER NOT NULL DEFAULT 0,"
                  " report_clock INTEGER NOT NULL DEFAULT 0)");
        if (!HasColumn(db_, "accounts", "login_shared")) {
            // A database from before logins were unique: keep its accounts, mark the sharers.
            Exec(db_, "BEGIN IMMEDIATE");
            Exec(db_, "ALTER TABLE accounts ADD COLUMN login_shared INTEGER NOT NULL DEFAULT 0");
            Exec(db_, kMarkSharedLoginsSql);
            Exec(db_, "COMMIT");
        }
        // A database from before report limits: its accounts start with a full bank.
        if (!HasColumn(db_, "accounts", "report_clock"))
            Exec(db_, "ALTER TABLE accounts ADD COLUMN report_clock INTEGER NOT NULL DEFAULT 0");
        Exec(db_, kLoginIndexSql);
        Exec(db_, "CREATE TABLE IF NOT EXISTS games ("
                  " key INTEGER PRIMARY KEY AUTOINCREMENT, soft INTEGER NOT NULL,"
                  " player INTEGER NOT NULL, version TEXT NOT NULL, comment TEXT NOT NULL,"
                  " ip TEXT NOT NULL, published INTEGER NOT NULL)");
        Exec(db_, "CREATE TABLE IF NOT EXISTS messages ("
                  " id INTEGER PRIMARY KEY AUTOINCREMENT, soft INTEGER NOT NULL,"
                  " player INTEGER NOT NULL, type INTEGER NOT NULL, text TEXT NOT NULL,"
                  " posted INTEGER NOT NULL)");
        Exec(db_, "CREATE TABLE IF NOT EXISTS reports ("
                  " id INTEGER PRIMARY KEY AUTOINCREMENT, player INTEGER NOT NULL,"
                  " kills INTEGER NOT NULL, deaths INTEGER NOT NULL,"
                  " sniper_kills INTEGER NOT NULL, sniped_deaths INTEGER NOT NULL,"
                  " comment TEXT NOT NULL, reported INTEGER NOT NULL)");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

// =============================================================================================
// 3. Accounts and reports
// =============================================================================================

std::optional<Credentials> SqliteStore::CredentialsById(int64_t id) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT id, login, salt, hash FROM accounts WHERE id = ?");
    row.Bind(1, id);
    if (!row.Step()) return std::nullopt;
    return Credentials{row.Int(0), row.Text(1), row.Blob(2), row.Blob(3)};
}

std::optional<Credentials> SqliteStore::CredentialsByLogin(std::string_view login) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT id, login, salt, hash FROM accounts"
                       " WHERE login = ? AND login <> '' AND login_shared = 0");
    row.Bind(1, login);
    if (!row.Step()) return std::nullopt;
    return Credentials{row.Int(0), row.Text(1), row.Blob(2), row.Blob(3)};
}

std::optional<int64_t> SqliteStore::InsertAccount(const AccountForm& form,
                                                  const std::vector<unsigned char>& salt,
                                                  const std::vector<unsigned char>& hash) {
    std::lock_guard lock(mutex_);
    Statement insert(db_, "INSERT INTO accounts (name, login, email, salt, hash, created,"
                          " report_clock) VALUES (?, ?, ?, ?, ?, ?, ?)");
    const int64_t now = Now();
    insert.Bind(1, form.name)
        .Bind(2, form.login)
        .Bind(3, form.email)
        .BindBlob(4, salt)
        .BindBlob(5, hash)
        .Bind(6, now)
        .Bind(7, now - ReportRules::kNewAccountSeconds);
    bool taken = false;
    insert.Step(&taken);
    if (taken) return std::nullopt;
    return sqlite3_last_insert_rowid(db_);
}

std::optional<Account> SqliteStore::AccountLocked(int64_t id) {
    Statement row(db_, "SELECT " + std::string(kAccountColumns) + " FROM accounts WHERE id = ?");
    row.Bind(1, id);
    if (!row.Step()) return std::nullopt;
    return ReadAccount(row);
}

std::optional<Account> SqliteStore::SetProfile(int64_t id, std::string_view name,
                                               std::string_view email,
                                               const std::vector<unsigned char>& hash) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE accounts SET name = ?, email = ? WHERE id = ? AND hash = ?")
        .Bind(1, name)
        .Bind(2, email)
        .Bind(3, id)
        .BindBlob(4, hash)
        .Run();
    if (sqlite3_changes(db_) == 0) return std::nullopt;
    return AccountLocked(id);
}

bool SqliteStore::SetPassword(int64_t id, const std::vector<unsigned char>& previousHash,
                              const std::vector<unsigned char>& salt,
                              const std::vector<unsigned char>& hash) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE accounts SET salt = ?, hash = ? WHERE id = ? AND hash = ?")
        .BindBlob(1, salt)
        .BindBlob(2, hash)
        .Bind(3, id)
        .BindBlob(4, previousHash)
        .Run();
    return sqlite3_changes(db_) > 0;
}

std::optional<Account> SqliteStore::FindAccount(int64_t id) {
    std::lock_guard lock(mutex_);
    return AccountLocked(id);
}

std::vector<Account> SqliteStore::Ranking(int limit) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT " + std::string(kAccountColumns) + " FROM accounts" +
                           kRankingOrderSql + " LIMIT ?");
    row.Bind(1, int64_t(limit));
    std::vector<Account> accounts;
    while (row.Step())
        accounts.push_back(ReadAccount(row));
    return accounts;
}

std::optional<int64_t> SqliteStore::ReportClock(int64_t id) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT report_clock FROM accounts WHERE id = ?");
    row.Bind(1, id);
    if (!row.Step()) return std::nullopt;
    return row.Int(0);
}

bool SqliteStore::AddReport(int64_t id, const MatchCounters& c, std::string_view comment,
                            int64_t clock, int64_t next) {
    std::lock_guard lock(mutex_);
    Exec(db_, "BEGIN IMMEDIATE");
    try {
        // Totals stay within the client's 32-bit numbers.
        Statement(db_, "UPDATE accounts SET kills = min(kills + ?, 2147483647),"
                       " deaths = min(deaths + ?, 2147483647),"
                       " sniper_kills = min(sniper_kills + ?, 2147483647),"
                       " sniped_deaths = min(sniped_deaths + ?, 2147483647), report_clock = ?"
                       " WHERE id = ? AND report_clock = ?")
            .Bind(1, c.kills)
            .Bind(2, c.deaths)
            .Bind(3, c.sniperKills)
            .Bind(4, c.snipedDeaths)
            .Bind(5, next)
            .Bind(6, id)
            .Bind(7, clock)
            .Run();
        if (sqlite3_changes(db_) == 0) {
            Exec(db_, "ROLLBACK");
            return false;
        }
        Statement(db_, "INSERT INTO reports (player, kills, deaths, sniper_kills, sniped_deaths,"
                       " comment, reported) VALUES (?, ?, ?, ?, ?, ?, ?)")
            .Bind(1, id)
            .Bind(2, c.kills)
            .Bind(3, c.deaths)
            .Bind(4, c.sniperKills)
            .Bind(5, c.snipedDeaths)
            .Bind(6, comment)
            .Bind(7, Now())
            .Run();
        Exec(db_, "COMMIT");
        return true;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

// =============================================================================================
// 4. Games
// =============================================================================================

bool SqliteStore::InsertGame(int64_t key, int64_t soft, int64_t player, std::string_view version,
                             std::string_view comment, std::string_view ip) {
    std::lock_guard lock(mutex_);
    Statement insert(db_, "INSERT INTO games (key, soft, player, version, comment, ip, published)"
                          " VALUES (?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, key)
        .Bind(2, soft)
        .Bind(3, player)
        .Bind(4, version)
        .Bind(5, comment)
        .Bind(6, ip)
        .Bind(7, Now());
    bool taken = false;
    insert.Step(&taken);
    return !taken;
}

bool SqliteStore::RemoveGame(int64_t key, std::string_view ip, int64_t provenPlayer) {
    std::lock_guard lock(mutex_);
    // A guest game leaves from its address; an account's game for its proven account.
    Statement(db_, "DELETE FROM games WHERE key = ? AND ((player = 0 AND ip = ?) OR"
                   " (player <> 0 AND player = ?))")
        .Bind(1, key)
        .Bind(2, ip)
        .Bind(3, provenPlayer)
        .Run();
    return sqlite3_changes(db_) > 0;
}

std::vector<Game> SqliteStore::ListGames(int64_t soft, int64_t maxAgeSeconds) {
    std::lock_guard lock(mutex_);
    Statement(db_, "DELETE FROM games WHERE published < ?").Bind(1, Now() - maxAgeSeconds).Run();
    Statement row(db_, "SELECT g.key, g.player, coalesce(nullif(a.name, ''), 'GUEST'), g.version,"
                       " g.ip, g.comment, g.published FROM games g"
                       " LEFT JOIN accounts a ON a.id = g.player"
                       " WHERE g.soft = ? ORDER BY g.published, g.key");
    row.Bind(1, soft);
    std::vector<Game> games;
    while (row.Step())
        games.push_back({row.Int(0), row.Int(1), row.Text(2), row.Text(3), row.Text(4), row.Text(5),
                         row.Int(6)});
    return games;
}

// =============================================================================================
// 5. Messages
// =============================================================================================

void SqliteStore::PostMessage(int64_t soft, int64_t player, int64_t type, std::string_view text) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO messages (soft, player, type, text, posted) VALUES (?, ?, ?, ?, ?)")
        .Bind(1, soft)
        .Bind(2, player)
        .Bind(3, type)
        .Bind(4, text)
        .Bind(5, Now())
        .Run();
}

std::vector<Message> SqliteStore::Messages(int64_t soft, int64_t type,
                                           std::optional<int64_t> onlyPlayer, int limit) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT m.id, coalesce(nullif(a.name, ''), 'GUEST'), m.posted, m.text"
                       " FROM messages m LEFT JOIN accounts a ON a.id = m.player"
                       " WHERE m.soft = ? AND m.type = ? AND (? IS NULL OR m.player = ?)"
                       " ORDER BY m.id DESC LIMIT ?");
    row.Bind(1, soft).Bind(2, type);
    if (onlyPlayer) row.Bind(3, *onlyPlayer).Bind(4, *onlyPlayer);
    row.Bind(5, int64_t(limit));
    std::vector<Message> messages;
    while (row.Step())
        messages.push_back({row.Int(0), row.Text(1), DateText(row.Int(2)), row.Text(3)});
    return messages;
}

std::vector<Message> SqliteStore::ReportComments(int limit) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT r.id, coalesce(nullif(a.name, ''), 'GUEST'), r.reported, r.comment"
                       " FROM reports r LEFT JOIN accounts a ON a.id = r.player"
                       " WHERE r.comment <> '' ORDER BY r.id DESC LIMIT ?");
    row.Bind(1, int64_t(limit));
    std::vector<Message> comments;
    while (row.Step())
        comments.push_back({row.Int(0), row.Text(1), DateText(row.Int(2)), row.Text(3)});
    return comments;
}

// =============================================================================================
// 6. Moving
// =============================================================================================

Dump SqliteStore::ExportAll() {
    std::lock_guard lock(mutex_);
    Dump dump;
    Statement accounts(db_, "SELECT " + std::string(kAccountColumns) +
                                ", salt, hash, created, login_shared, report_clock FROM accounts"
                                " ORDER BY id");
    while (accounts.Step())
        dump.accounts.push_back({ReadAccount(accounts), accounts.Blob(8), accounts.Blob(9),
                                 accounts.Int(10), accounts.Int(11), accounts.Int(12)});
    Statement games(db_, "SELECT key, player, version, ip, comment, published, soft FROM games"
                         " ORDER BY key");
    while (games.Step())
        dump.games.push_back({{games.Int(0), games.Int(1), "", games.Text(2), games.Text(3),
                               games.Text(4), games.Int(5)},
                              games.Int(6)});
    Statement messages(db_, "SELECT id, soft, player, type, text, posted FROM messages"
                            " ORDER BY id");
    while (messages.Step())
        dump.messages.push_back({messages.Int(0), messages.Int(1), messages.Int(2), messages.Int(3),
                                 messages.Text(4), messages.Int(5)});
    Statement reports(db_, "SELECT id, player, kills, deaths, sniper_kills, sniped_deaths,"
                           " comment, reported FROM reports ORDER BY id");
    while (reports.Step())
        dump.reports.push_back({reports.Int(0),
                                reports.Int(1),
                                {reports.Int(2), reports.Int(3), reports.Int(4), reports.Int(5)},
                                reports.Text(6),
                                reports.Int(7)});
    return dump;
}

void SqliteStore::ImportAll(const Dump& dump) {
    std::lock_guard lock(mutex_);
    Exec(db_, "BEGIN IMMEDIATE");
    try {
        Statement count(db_, "SELECT (SELECT count(*) FROM accounts) + (SELECT count(*) FROM"
                             " games) + (SELECT count(*) FROM messages)");
        if (count.Step() && count.Int(0) > 0) throw StoreError("the target database is not empty");
        for (const Dump::AccountRow& r : dump.accounts) {
            const Account& a = r.account;
            Statement(db_, "INSERT INTO accounts (id, name, login, email, kills, deaths,"
                           " sniper_kills, sniped_deaths, salt, hash, created, login_shared,"
                           " report_clock) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .Bind(1, a.id)
                .Bind(2, a.name)
                .Bind(3, a.login)
                .Bind(4, a.email)
                .Bind(5, a.kills)
                .Bind(6, a.deaths)
                .Bind(7, a.sniperKills)
                .Bind(8, a.snipedDeaths)
                .BindBlob(9, r.salt)
                .BindBlob(10, r.hash)
                .Bind(11, r.created)
                .Bind(12, r.loginShared)
                .Bind(13, r.reportClock)
                .Run();
        }
        for (const Dump::GameRow& r : dump.games) {
            const Game& g = r.game;
            Statement(db_, "INSERT INTO games (key, soft, player, version, comment, ip, published)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?)")
                .Bind(1, g.key)
                .Bind(2, r.soft)
                .Bind(3, g.player)
                .Bind(4, g.version)
                .Bind(5, g.comment)
                .Bind(6, g.ip)
                .Bind(7, g.published)
                .Run();
        }
        for (const Dump::MessageRow& m : dump.messages)
            Statement(db_, "INSERT INTO messages (id, soft, player, type, text, posted)"
                           " VALUES (?, ?, ?, ?, ?, ?)")
                .Bind(1, m.id)
                .Bind(2, m.soft)
                .Bind(3, m.player)
                .Bind(4, m.type)
                .Bind(5, m.text)
                .Bind(6, m.posted)
                .Run();
        for (const Dump::ReportRow& r : dump.reports)
            Statement(db_, "INSERT INTO reports (id, player, kills, deaths, sniper_kills,"
                           " sniped_deaths, comment, reported) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                .Bind(1, r.id)
                .Bind(2, r.player)
                .Bind(3, r.counters.kills)
                .Bind(4, r.counters.deaths)
                .Bind(5, r.counters.sniperKills)
                .Bind(6, r.counters.snipedDeaths)
                .Bind(7, r.comment)
                .Bind(8, r.reported)
                .Run();
        Exec(db_, "COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path) {
    return std::make_unique<SqliteStore>(path);
}

} // namespace server
