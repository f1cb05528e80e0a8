// server/store.cpp — the SQLite tables and statements behind the web scripts.
//
// Index
//   1. Statements and password hashes
//   2. Schema
//   3. Accounts and reports
//   4. Games
//   5. Messages
#include "server/store.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <array>
#include <ctime>

namespace server {

namespace {

// =============================================================================================
// 1. Statements and password hashes
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

    // Advances to the next row; false when done.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
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

constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr int kHashIterations = 100'000;

// PBKDF2-HMAC-SHA256 of the password with the salt.
std::vector<unsigned char> HashPassword(std::string_view password,
                                        const std::vector<unsigned char>& salt) {
    std::vector<unsigned char> hash(kHashBytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt.data(), int(salt.size()),
                          kHashIterations, EVP_sha256(), kHashBytes, hash.data()) != 1)
        throw StoreError("password hashing failed");
    return hash;
}

std::vector<unsigned char> NewSalt() {
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), kSaltBytes) != 1) throw StoreError("no random salt");
    return salt;
}

bool SameBytes(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

int64_t Now() {
    return int64_t(std::time(nullptr));
}

std::string DateText(int64_t seconds) {
    const std::time_t t = std::time_t(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M", &utc);
    return text.data();
}

constexpr std::string_view kGuest = "GUEST";

Account ReadAccount(const Statement& row) {
    return {row.Int(0), row.Text(1), row.Text(2), row.Text(3),
            row.Int(4), row.Int(5),  row.Int(6),  row.Int(7)};
}

constexpr std::string_view kAccountColumns =
    "id, name, login, email, kills, deaths, sniper_kills, sniped_deaths";

} // namespace

// =============================================================================================
// 2. Schema
// =============================================================================================

Store::Store(const std::filesystem::path& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        const std::string error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError("cannot open " + path.string() + ": " + error);
    }
    sqlite3_busy_timeout(db_, 5000);
    Exec(db_, "PRAGMA journal_mode=WAL");
    Exec(db_, "CREATE TABLE IF NOT EXISTS accounts ("
              " id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, login TEXT NOT NULL,"
              " email TEXT NOT NULL, salt BLOB NOT NULL, hash BLOB NOT NULL,"
              " kills INTEGER NOT NULL DEFAULT 0, deaths INTEGER NOT NULL DEFAULT 0,"
              " sniper_kills INTEGER NOT NULL DEFAULT 0, sniped_deaths INTEGER NOT NULL DEFAULT 0,"
              " created INTEGER NOT NULL)");
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
              " kills INTEGER NOT NULL, deaths INTEGER NOT NULL, sniper_kills INTEGER NOT NULL,"
              " sniped_deaths INTEGER NOT NULL, comment TEXT NOT NULL, reported INTEGER NOT NULL)");
}

Store::~Store() {
    sqlite3_close(db_);
}

// =============================================================================================
// 3. Accounts and reports
// =============================================================================================

int64_t Store::CreateAccount(const AccountForm& form) {
    const std::vector<unsigned char> salt = NewSalt();
    const std::vector<unsigned char> hash = HashPassword(form.password, salt);
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO accounts (name, login, email, salt, hash, created)"
                   " VALUES (?, ?, ?, ?, ?, ?)")
        .Bind(1, form.name)
        .Bind(2, form.login)
        .Bind(3, form.email)
        .BindBlob(4, salt)
        .BindBlob(5, hash)
        .Bind(6, Now())
        .Run();
    return sqlite3_last_insert_rowid(db_);
}

std::optional<Account> Store::UpdateAccount(int64_t id, const AccountForm& form) {
    std::vector<unsigned char> salt, hash;
    std::string login;
    {
        std::lock_guard lock(mutex_);
        Statement row(db_, "SELECT login, salt, hash FROM accounts WHERE id = ?");
        row.Bind(1, id);
        if (!row.Step()) return std::nullopt;
        login = row.Text(0);
        salt = row.Blob(1);
        hash = row.Blob(2);
    }
    // The hash is computed outside the lock: it is the slow part.
    const bool loginMatches = login.size() == form.login.size() &&
                              CRYPTO_memcmp(login.data(), form.login.data(), login.size()) == 0;
    if (!SameBytes(HashPassword(form.password, salt), hash) || !loginMatches) return std::nullopt;
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE accounts SET name = ?, email = ? WHERE id = ?")
        .Bind(1, form.name)
        .Bind(2, form.email)
        .Bind(3, id)
        .Run();
    Statement row(db_, "SELECT " + std::string(kAccountColumns) + " FROM accounts WHERE id = ?");
    row.Bind(1, id);
    if (!row.Step()) return std::nullopt;
    return ReadAccount(row);
}

std::optional<Account> Store::FindAccount(int64_t id) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT " + std::string(kAccountColumns) + " FROM accounts WHERE id = ?");
    row.Bind(1, id);
    if (!row.Step()) return std::nullopt;
    return ReadAccount(row);
}

bool Store::ReportMatch(int64_t player, const MatchCounters& c, std::string_view comment) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO reports (player, kills, deaths, sniper_kills, sniped_deaths,"
                   " comment, reported) VALUES (?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, player)
        .Bind(2, c.kills)
        .Bind(3, c.deaths)
        .Bind(4, c.sniperKills)
        .Bind(5, c.snipedDeaths)
        .Bind(6, comment)
        .Bind(7, Now())
        .Run();
    // Totals stay within the client's 32-bit numbers.
    Statement(db_, "UPDATE accounts SET kills = min(kills + ?, 2147483647),"
                   " deaths = min(deaths + ?, 2147483647),"
                   " sniper_kills = min(sniper_kills + ?, 2147483647),"
                   " sniped_deaths = min(sniped_deaths + ?, 2147483647) WHERE id = ?")
        .Bind(1, c.kills)
        .Bind(2, c.deaths)
        .Bind(3, c.sniperKills)
        .Bind(4, c.snipedDeaths)
        .Bind(5, player)
        .Run();
    return sqlite3_changes(db_) > 0;
}

std::string Store::NameOf(int64_t player) {
    Statement row(db_, "SELECT name FROM accounts WHERE id = ?");
    row.Bind(1, player);
    if (row.Step() && !row.Text(0).empty()) return row.Text(0);
    return std::string(kGuest);
}

// =============================================================================================
// 4. Games
// =============================================================================================

int64_t Store::PublishGame(int64_t soft, int64_t player, std::string_view version,
                           std::string_view comment, std::string_view ip) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO games (soft, player, version, comment, ip, published)"
                   " VALUES (?, ?, ?, ?, ?, ?)")
        .Bind(1, soft)
        .Bind(2, player)
        .Bind(3, version)
        .Bind(4, comment)
        .Bind(5, ip)
        .Bind(6, Now())
        .Run();
    return sqlite3_last_insert_rowid(db_);
}

bool Store::RemoveGame(int64_t key, std::string_view ip) {
    std::lock_guard lock(mutex_);
    Statement(db_, "DELETE FROM games WHERE key = ? AND ip = ?").Bind(1, key).Bind(2, ip).Run();
    return sqlite3_changes(db_) > 0;
}

std::vector<Game> Store::ListGames(int64_t soft, int64_t maxAgeSeconds) {
    std::lock_guard lock(mutex_);
    Statement(db_, "DELETE FROM games WHERE published < ?").Bind(1, Now() - maxAgeSeconds).Run();
    Statement row(db_, "SELECT key, player, version, comment, ip FROM games WHERE soft = ?"
                       " ORDER BY key");
    row.Bind(1, soft);
    std::vector<Game> games;
    while (row.Step())
        games.push_back({row.Int(0), row.Int(1), "", row.Text(2), row.Text(4), row.Text(3)});
    for (Game& game : games)
        game.name = NameOf(game.player);
    return games;
}

// =============================================================================================
// 5. Messages
// =============================================================================================

void Store::PostMessage(int64_t soft, int64_t player, int64_t type, std::string_view text) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO messages (soft, player, type, text, posted) VALUES (?, ?, ?, ?, ?)")
        .Bind(1, soft)
        .Bind(2, player)
        .Bind(3, type)
        .Bind(4, text)
        .Bind(5, Now())
        .Run();
}

std::vector<Message> Store::Messages(int64_t soft, int64_t type, std::optional<int64_t> onlyPlayer,
                                     int limit) {
    std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT id, player, posted, text FROM messages WHERE soft = ? AND type = ?"
                       " AND (? IS NULL OR player = ?) ORDER BY id DESC LIMIT ?");
    row.Bind(1, soft).Bind(2, type);
    if (onlyPlayer) {
        row.Bind(3, *onlyPlayer).Bind(4, *onlyPlayer);
    }
    row.Bind(5, int64_t(limit));
    std::vector<std::pair<Message, int64_t>> found;
    while (row.Step())
        found.push_back({{row.Int(0), "", DateText(row.Int(2)), row.Text(3)}, row.Int(1)});
    std::vector<Message> messages;
    for (auto& [message, player] : found) {
        message.name = NameOf(player);
        messages.push_back(std::move(message));
    }
    return messages;
}

} // namespace server
