// server/store_postgres.cpp — the store on a PostgreSQL database through libpq: a small pool
// of connections, each used by one thread at a time. Several server processes may share the
// database; every rule that spans requests (unique logins, unused game keys) is enforced by
// the database itself.
//
// Index
//   1. Connections and statements
//   2. Schema
//   3. Accounts and reports
//   4. Games and messages
//   5. Moving
#include "server/store_backends.h"

#include <libpq-fe.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace server {

namespace {

// =============================================================================================
// 1. Connections and statements
// =============================================================================================

using Bytes = std::vector<unsigned char>;

// bytea in PostgreSQL's hex text form ("\x0a1b...").
std::string ByteaText(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text = "\\x";
    for (const unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

Bytes ByteaValue(std::string_view text) {
    Bytes bytes;
    if (text.substr(0, 2) != "\\x") return bytes;
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 0;
    };
    for (size_t i = 2; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(digit(text[i]) * 16 + digit(text[i + 1])));
    return bytes;
}

// Statement parameters, all sent as text.
class Params {
public:
    Params& Add(int64_t value) { return Add(std::to_string(value)); }
    Params& Add(std::string_view text) {
        values_.emplace_back(text);
        return *this;
    }
    Params& AddBytes(const Bytes& bytes) { return Add(ByteaText(bytes)); }
    Params& AddNull() {
        values_.emplace_back();
        nulls_.push_back(values_.size() - 1);
        return *this;
    }
    std::vector<const char*> Pointers() const {
        std::vector<const char*> p;
        for (size_t i = 0; i < values_.size(); ++i) {
            const bool isNull = std::find(nulls_.begin(), nulls_.end(), i) != nulls_.end();
            p.push_back(isNull ? nullptr : values_[i].c_str());
        }
        return p;
    }

private:
    std::vector<std::string> values_;
    std::vector<size_t> nulls_;
};

// The rows of one statement's result.
class Rows {
public:
    explicit Rows(PGresult* result) : result_(result) {}
    ~Rows() { PQclear(result_); }
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
    Rows(Rows&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}

    int Count() const { return PQntuples(result_); }
    int Changed() const { return std::atoi(PQcmdTuples(result_)); }
    std::string Text(int row, int column) const {
        return std::string(PQgetvalue(result_, row, column),
                           size_t(PQgetlength(result_, row, column)));
    }
    int64_t Int(int row, int column) const {
        return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10);
    }
    Bytes Blob(int row, int column) const { return ByteaValue(Text(row, column)); }

private:
    PGresult* result_;
};

constexpr const char* kUniqueViolation = "23505";

// One open connection.
class Connection {
public:
    explicit Connection(const std::string& uri) : conn_(PQconnectdb(uri.c_str())) {
        if (PQstatus(conn_) != CONNECTION_OK) {
            const std::string error = PQerrorMessage(conn_);
            PQfinish(conn_);
            throw StoreError("cannot connect to PostgreSQL: " + Trimmed(error));
        }
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }
    ~Connection() { PQfinish(conn_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs `sql` with `params` ($1, $2...). A unique violation sets `*unique` when given
    // (and returns empty rows); every other failure throws StoreError.
    Rows Run(const char* sql, const Params& params = {}, bool* unique = nullptr) {
        // A connection lost (server restart) is re-established once.
        for (int attempt = 0;; ++attempt) {
            const std::vector<const char*> values = params.Pointers();
            PGresult* result = PQexecParams(conn_, sql, int(values.size()), nullptr, values.data(),
                                            nullptr, nullptr, 0);
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return Rows(result);
            const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            if (unique != nullptr && state != nullptr &&
                std::string_view(state) == kUniqueViolation) {
                *unique = true;
                return Rows(result);
            }
            const std::string error = Trimmed(PQerrorMessage(conn_));
            PQclear(result);
            if (PQstatus(conn_) == CONNECTION_BAD && attempt == 0) {
                PQreset(conn_);
                if (PQstatus(conn_) == CONNECTION_OK) continue;
            }
            throw StoreError("database statement failed: " + error);
        }
    }

private:
    static std::string Trimmed(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text;
    }
    PGconn* conn_;
};

// A fixed pool of connections; Borrow waits for a free one.
class Pool {
public:
    Pool(const std::string& uri, int size) {
        for (int i = 0; i < std::max(size, 1); ++i)
            free_.push_back(std::make_unique<Connection>(uri));
    }

    class Lease {
    public:
        Lease(Pool& pool, std::unique_ptr<Connection> conn) : pool_(pool), conn_(std::move(conn)) {}
        ~Lease() { pool_.Return(std::move(conn_)); }
        Connection* operator->() { return conn_.get(); }

    private:
        Pool& pool_;
        std::unique_ptr<Connection> conn_;
    };

    Lease Borrow() {
        std::unique_lock lock(mutex_);
        available_.wait(lock, [this] { return !free_.empty(); });
        std::unique_ptr<Connection> conn = std::move(free_.back());
        free_.pop_back();
        return Lease(*this, std::move(conn));
    }

private:
    void Return(std::unique_ptr<Connection> conn) {
        {
            std::lock_guard lock(mutex_);
            free_.push_back(std::move(conn));
        }
        available_.notify_one();
    }
    std::mutex mutex_;
    std::condition_variable available_;
    std::vector<std::unique_ptr<Connection>> free_;
};

constexpr const char* kAccountColumns =
    "id, name, login, email, kills, deaths, sniper_kills, sniped_deaths";

Account ReadAccount(const Rows& rows, int row) {
    return {rows.Int(row, 0), rows.Text(row, 1), rows.Text(row, 2), rows.Text(row, 3),
            rows.Int(row, 4), rows.Int(row, 5),  rows.Int(row, 6),  rows.Int(row, 7)};
}

class PostgresStore final : public Store {
public:
    PostgresStore(const std::string& uri, int connections);

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
    std::optional<int64_t> InsertAccount(const AccountForm& form, const Bytes& salt,
                                         const Bytes& hash) override;
    std::optional<Account> SetProfile(int64_t id, std::string_view name, std::string_view email,
                                      const Bytes& hash) override;
    bool SetPassword(int64_t id, const Bytes& previousHash, const Bytes& salt,
                     const Bytes& hash) override;
    std::optional<int64_t> ReportClock(int64_t id) override;
    bool AddReport(int64_t id, const MatchCounters& counters, std::string_view comment,
                   int64_t clock, int64_t next) override;
    bool InsertGame(int64_t key, int64_t soft, int64_t player, std::string_view version,
                    std::string_view comment, std::string_view ip) override;

private:
    std::optional<Credentials> OneCredentials(const char* sql, const Params& params);
    Pool pool_;
};

// =============================================================================================
// 2. Schema
// =============================================================================================

PostgresStore::PostgresStore(const std::string& uri, int connections) : pool_(uri, connections) {
    auto conn = pool_.Borrow();
    // Processes starting together create the tables one after the other.
    conn->Run("SELECT pg_advisory_lock(7406031)");
    try {
        conn->Run("CREATE TABLE IF NOT EXISTS accounts ("
                  " id BIGSERIAL PRIMARY KEY, name TEXT NOT NULL, login TEXT NOT NULL,"
                  " email TEXT NOT NULL, salt BYTEA NOT NULL, hash BYTEA NOT NULL,"
                  " kills BIGINT NOT NULL DEFAULT 0, deaths BIGINT NOT NULL DEFAULT 0,"
                  " sniper_kills BIGINT NOT NULL DEFAULT 0,"
                  " sniped_deaths BIGINT NOT NULL DEFAULT 0, created BIGINT NOT NULL,"
                  " login_shared INTEGER NOT NULL DEFAULT 0,"
                  " report_clock BIGINT NOT NULL DEFAULT 0)");
        // A database from before report limits: its accounts start with a full bank.
        conn->Run("ALTER TABLE accounts ADD COLUMN IF NOT EXISTS report_clock BIGINT NOT NULL"
                  " DEFAULT 0");
        conn->Run(kLoginIndexSql);
        conn->Run("CREATE TABLE IF NOT EXISTS games ("
                  " key BIGINT PRIMARY KEY, soft BIGINT NOT NULL, player BIGINT NOT NULL,"
                  " version TEXT NOT NULL, comment TEXT NOT NULL, ip TEXT NOT NULL,"
                  " published BIGINT NOT NULL)");
        conn->Run("CREATE TABLE IF NOT EXISTS messages ("
                  " id BIGSERIAL PRIMARY KEY, soft BIGINT NOT NULL, player BIGINT NOT NULL,"
                  " type BIGINT NOT NULL, text TEXT NOT NULL, posted BIGINT NOT NULL)");
        conn->Run("CREATE TABLE IF NOT EXISTS reports ("
                  " id BIGSERIAL PRIMARY KEY, player BIGINT NOT NULL, kills BIGINT NOT NULL,"
                  " deaths BIGINT NOT NULL, sniper_kills BIGINT NOT NULL,"
                  " sniped_deaths BIGINT NOT NULL, comment TEXT NOT NULL,"
                  " reported BIGINT NOT NULL)");
    } catch (...) {
        conn->Run("SELECT pg_advisory_unlock(7406031)");
        throw;
    }
    conn->Run("SELECT pg_advisory_unlock(7406031)");
}

// =============================================================================================
// 3. Accounts and reports
// =============================================================================================

std::optional<Credentials> PostgresStore::OneCredentials(const char* sql, const Params& params) {
    const Rows rows = pool_.Borrow()->Run(sql, params);
    if (rows.Count() == 0) return std::nullopt;
    return Credentials{rows.Int(0, 0), rows.Text(0, 1), rows.Blob(0, 2), rows.Blob(0, 3)};
}

std::optional<Credentials> PostgresStore::CredentialsById(int64_t id) {
    return OneCredentials("SELECT id, login, salt, hash FROM accounts WHERE id = $1",
                          Params().Add(id));
}

std::optional<Credentials> PostgresStore::CredentialsByLogin(std::string_view login) {
    return OneCredentials("SELECT id, login, salt, hash FROM accounts"
                          " WHERE login = $1 AND login <> '' AND login_shared = 0",
                          Params().Add(login));
}

std::optional<int64_t> PostgresStore::InsertAccount(const AccountForm& form, const Bytes& salt,
                                                    const Bytes& hash) {
    bool taken = false;
    const int64_t now = Now();
    const Rows rows = pool_.Borrow()->Run(
        "INSERT INTO accounts (name, login, email, salt, hash, created, report_clock)"
        " VALUES ($1, $2, $3, $4, $5, $6, $7) RETURNING id",
        Params()
            .Add(form.name)
            .Add(form.login)
            .Add(form.email)
            .AddBytes(salt)
            .AddBytes(hash)
            .Add(now)
            .Add(now - ReportRules::kNewAccountSeconds),
        &taken);
    if (taken || rows.Count() == 0) return std::nullopt;
    return rows.Int(0, 0);
}

std::optional<Account> PostgresStore::SetProfile(int64_t id, std::string_view name,
                                                 std::string_view email, const Bytes& hash) {
    const Rows rows = pool_.Borrow()->Run(
        ("UPDATE accounts SET name = $1, email = $2 WHERE id = $3 AND hash = $4 RETURNING " +
         std::string(kAccountColumns))
            .c_str(),
        Params().Add(name).Add(email).Add(id).AddBytes(hash));
    if (rows.Count() == 0) return std::nullopt;
    return ReadAccount(rows, 0);
}

bool PostgresStore::SetPassword(int64_t id, const Bytes& previousHash, const Bytes& salt,
                                const Bytes& hash) {
    return pool_.Borrow()
               ->Run("UPDATE accounts SET salt = $1, hash = $2 WHERE id = $3 AND hash = $4",
                     Params().AddBytes(salt).AddBytes(hash).Add(id).AddBytes(previousHash))
               .Changed() > 0;
}

std::optional<Account> PostgresStore::FindAccount(int64_t id) {
    const Rows rows = pool_.Borrow()->Run(
        ("SELECT " + std::string(kAccountColumns) + " FROM accounts WHERE id = $1").c_str(),
        Params().Add(id));
    if (rows.Count() == 0) return std::nullopt;
    return ReadAccount(rows, 0);
}

std::vector<Account> PostgresStore::Ranking(int limit) {
    const Rows rows = pool_.Borrow()->Run(("SELECT " + std::string(kAccountColumns) +
                                           " FROM accounts" + kRankingOrderSql + " LIMIT $1")
                                              .c_str(),
                                          Params().Add(int64_t(limit)));
    std::vector<Account> accounts;
    for (int i = 0; i < rows.Count(); ++i)
        accounts.push_back(ReadAccount(rows, i));
    return accounts;
}

std::optional<int64_t> PostgresStore::ReportClock(int64_t id) {
    const Rows rows =
        pool_.Borrow()->Run("SELECT report_clock FROM accounts WHERE id = $1", Params().Add(id));
    if (rows.Count() == 0) return std::nullopt;
    return rows.Int(0, 0);
}

bool PostgresStore::AddReport(int64_t id, const MatchCounters& c, std::string_view comment,
                              int64_t clock, int64_t next) {
    // One statement: the totals and the report are written together or not at all, and only
    // while the clock is the one the report was checked against.
    const Rows rows = pool_.Borrow()->Run(
        "WITH account AS (UPDATE accounts SET kills = least(kills + $2, 2147483647),"
        " deaths = least(deaths + $3, 2147483647),"
        " sniper_kills = least(sniper_kills + $4, 2147483647),"
        " sniped_deaths = least(sniped_deaths + $5, 2147483647), report_clock = $9"
        " WHERE id = $1 AND report_clock = $8 RETURNING id)"
        " INSERT INTO reports (player, kills, deaths, sniper_kills, sniped_deaths, comment,"
        " reported) SELECT id, $2::bigint, $3::bigint, $4::bigint, $5::bigint, $6::text,"
        " $7::bigint FROM account",
        Params()
            .Add(id)
            .Add(c.kills)
            .Add(c.deaths)
            .Add(c.sniperKills)
            .Add(c.snipedDeaths)
            .Add(comment)
            .Add(Now())
            .Add(clock)
            .Add(next));
    return rows.Changed() > 0;
}

// =============================================================================================
// 4. Games and messages
// =============================================================================================

bool PostgresStore::InsertGame(int64_t key, int64_t soft, int64_t player, std::string_view version,
                               std::string_view comment, std::string_view ip) {
    bool taken = false;
    pool_.Borrow()->Run(
        "INSERT INTO games (key, soft, player, version, comment, ip, published)"
        " VALUES ($1, $2, $3, $4, $5, $6, $7)",
        Params().Add(key).Add(soft).Add(player).Add(version).Add(comment).Add(ip).Add(Now()),
        &taken);
    return !taken;
}

bool PostgresStore::RemoveGame(int64_t key, std::string_view ip, int64_t provenPlayer) {
    // A guest game leaves from its address; an account's game for its proven account.
    return pool_.Borrow()
               ->Run("DELETE FROM games WHERE key = $1 AND ((player = 0 AND ip = $2) OR"
                     " (player <> 0 AND player = $3))",
                     Params().Add(key).Add(ip).Add(provenPlayer))
               .Changed() > 0;
}

std::vector<Game> PostgresStore::ListGames(int64_t soft, int64_t maxAgeSeconds) {
    auto conn = pool_.Borrow();
    conn->Run("DELETE FROM games WHERE published < $1", Params().Add(Now() - maxAgeSeconds));
    const Rows rows =
        conn->Run("SELECT g.key, g.player, coalesce(nullif(a.name, ''), 'GUEST'), g.version, g.ip,"
                  " g.comment, g.published FROM games g LEFT JOIN accounts a ON a.id = g.player"
                  " WHERE g.soft = $1 ORDER BY g.published, g.key",
                  Params().Add(soft));
    std::vector<Game> games;
    for (int i = 0; i < rows.Count(); ++i)
        games.push_back({rows.Int(i, 0), rows.Int(i, 1), rows.Text(i, 2), rows.Text(i, 3),
                         rows.Text(i, 4), rows.Text(i, 5), rows.Int(i, 6)});
    return games;
}

void PostgresStore::PostMessage(int64_t soft, int64_t player, int64_t type, std::string_view text) {
    pool_.Borrow()->Run(
        "INSERT INTO messages (soft, player, type, text, posted) VALUES ($1, $2, $3, $4, $5)",
        Params().Add(soft).Add(player).Add(type).Add(text).Add(Now()));
}

std::vector<Message> PostgresStore::Messages(int64_t soft, int64_t type,
                                             std::optional<int64_t> onlyPlayer, int limit) {
    Params params;
    params.Add(soft).Add(type);
    if (onlyPlayer)
        params.Add(*onlyPlayer);
    else
        params.AddNull();
    params.Add(int64_t(limit));
    const Rows rows = pool_.Borrow()->Run(
        "SELECT m.id, coalesce(nullif(a.name, ''), 'GUEST'), m.posted, m.text"
        " FROM messages m LEFT JOIN accounts a ON a.id = m.player"
        " WHERE m.soft = $1 AND m.type = $2 AND ($3::bigint IS NULL OR m.player = $3)"
        " ORDER BY m.id DESC LIMIT $4",
        params);
    std::vector<Message> messages;
    for (int i = 0; i < rows.Count(); ++i)
        messages.push_back(
            {rows.Int(i, 0), rows.Text(i, 1), DateText(rows.Int(i, 2)), rows.Text(i, 3)});
    return messages;
}

std::vector<Message> PostgresStore::ReportComments(int limit) {
    const Rows rows = pool_.Borrow()->Run(
        "SELECT r.id, coalesce(nullif(a.name, ''), 'GUEST'), r.reported, r.comment"
        " FROM reports r LEFT JOIN accounts a ON a.id = r.player"
        " WHERE r.comment <> '' ORDER BY r.id DESC LIMIT $1",
        Params().Add(int64_t(limit)));
    std::vector<Message> comments;
    for (int i = 0; i < rows.Count(); ++i)
        comments.push_back(
            {rows.Int(i, 0), rows.Text(i, 1), DateText(rows.Int(i, 2)), rows.Text(i, 3)});
    return comments;
}

// =============================================================================================
// 5. Moving
// =============================================================================================

Dump PostgresStore::ExportAll() {
    auto conn = pool_.Borrow();
    conn->Run("BEGIN ISOLATION LEVEL REPEATABLE READ");
    Dump dump;
    try {
        const Rows accounts = conn->Run(("SELECT " + std::string(kAccountColumns) +
                                         ", salt, hash, created, login_shared, report_clock"
                                         " FROM accounts ORDER BY id")
                                            .c_str());
        for (int i = 0; i < accounts.Count(); ++i)
            dump.accounts.push_back({ReadAccount(accounts, i), accounts.Blob(i, 8),
                                     accounts.Blob(i, 9), accounts.Int(i, 10), accounts.Int(i, 11),
                                     accounts.Int(i, 12)});
        const Rows games = conn->Run("SELECT key, player, version, ip, comment, published, soft"
                                     " FROM games ORDER BY key");
        for (int i = 0; i < games.Count(); ++i)
            dump.games.push_back({{games.Int(i, 0), games.Int(i, 1), "", games.Text(i, 2),
                                   games.Text(i, 3), games.Text(i, 4), games.Int(i, 5)},
                                  games.Int(i, 6)});
        const Rows messages =
            conn->Run("SELECT id, soft, player, type, text, posted FROM messages ORDER BY id");
        for (int i = 0; i < messages.Count(); ++i)
            dump.messages.push_back({messages.Int(i, 0), messages.Int(i, 1), messages.Int(i, 2),
                                     messages.Int(i, 3), messages.Text(i, 4), messages.Int(i, 5)});
        const Rows reports =
            conn->Run("SELECT id, player, kills, deaths, sniper_kills,"
                      " sniped_deaths, comment, reported FROM reports ORDER BY id");
        for (int i = 0; i < reports.Count(); ++i)
            dump.reports.push_back(
                {reports.Int(i, 0),
                 reports.Int(i, 1),
                 {reports.Int(i, 2), reports.Int(i, 3), reports.Int(i, 4), reports.Int(i, 5)},
                 reports.Text(i, 6),
                 reports.Int(i, 7)});
    } catch (...) {
        conn->Run("ROLLBACK");
        throw;
    }
    conn->Run("COMMIT");
    return dump;
}

void PostgresStore::ImportAll(const Dump& dump) {
    auto conn = pool_.Borrow();
    conn->Run("BEGIN");
    try {
        conn->Run("LOCK TABLE accounts, games, messages, reports IN EXCLUSIVE MODE");
        const Rows count = conn->Run("SELECT (SELECT count(*) FROM accounts) + (SELECT count(*)"
                                     " FROM games) + (SELECT count(*) FROM messages)");
        if (count.Int(0, 0) > 0) throw StoreError("the target database is not empty");
        for (const Dump::AccountRow& r : dump.accounts) {
            const Account& a = r.account;
            conn->Run("INSERT INTO accounts (id, name, login, email, kills, deaths, sniper_kills,"
                      " sniped_deaths, salt, hash, created, login_shared, report_clock)"
                      " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13)",
                      Params()
                          .Add(a.id)
                          .Add(a.name)
                          .Add(a.login)
                          .Add(a.email)
                          .Add(a.kills)
                          .Add(a.deaths)
                          .Add(a.sniperKills)
                          .Add(a.snipedDeaths)
                          .AddBytes(r.salt)
                          .AddBytes(r.hash)
                          .Add(r.created)
                          .Add(r.loginShared)
                          .Add(r.reportClock));
        }
        for (const Dump::GameRow& r : dump.games) {
            const Game& g = r.game;
            conn->Run("INSERT INTO games (key, soft, player, version, comment, ip, published)"
                      " VALUES ($1, $2, $3, $4, $5, $6, $7)",
                      Params()
                          .Add(g.key)
                          .Add(r.soft)
                          .Add(g.player)
                          .Add(g.version)
                          .Add(g.comment)
                          .Add(g.ip)
                          .Add(g.published));
        }
        for (const Dump::MessageRow& m : dump.messages)
            conn->Run(
                "INSERT INTO messages (id, soft, player, type, text, posted)"
                " VALUES ($1, $2, $3, $4, $5, $6)",
                Params().Add(m.id).Add(m.soft).Add(m.player).Add(m.type).Add(m.text).Add(m.posted));
        for (const Dump::ReportRow& r : dump.reports)
            conn->Run("INSERT INTO reports (id, player, kills, deaths, sniper_kills,"
                      " sniped_deaths, comment, reported) VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                      Params()
                          .Add(r.id)
                          .Add(r.player)
                          .Add(r.counters.kills)
                          .Add(r.counters.deaths)
                          .Add(r.counters.sniperKills)
                          .Add(r.counters.snipedDeaths)
                          .Add(r.comment)
                          .Add(r.reported));
        // New rows continue after the imported numbers.
        for (const char* table : {"accounts", "messages", "reports"})
            conn->Run(("SELECT setval(pg_get_serial_sequence('" + std::string(table) +
                       "', 'id'), coalesce((SELECT max(id) FROM " + table + "), 0) + 1, false)")
                          .c_str());
    } catch (...) {
        conn->Run("ROLLBACK");
        throw;
    }
    conn->Run("COMMIT");
}

} // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& uri, int connections) {
    return std::make_unique<PostgresStore>(uri, connections);
}

} // namespace server
