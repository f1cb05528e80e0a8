// server/store.h — the companion web server's data on SQLite: accounts with their statistics,
// published games, the message board and the end-of-match reports.
//
// One Store owns one database connection for the server's life. Every operation is one
// parameterised statement set run under the store's lock, so the HTTP worker threads may call
// it concurrently. Values reaching the store are already validated and bounded by the scripts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace server {

// A database that cannot be opened, created or written. what() says which statement failed.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Account {
    int64_t id = 0;
    std::string name;
    std::string login;
    std::string email;
    int64_t kills = 0;
    int64_t deaths = 0;
    int64_t sniperKills = 0;
    int64_t snipedDeaths = 0;
};

struct Game {
    int64_t key = 0;
    int64_t player = 0; // the host's account number (0: none)
    std::string name;   // the host's account name, or "GUEST"
    std::string version;
    std::string ip; // the address the publish request came from
    std::string comment;
};

struct Message {
    int64_t id = 0;
    std::string name; // the sender's account name, or "GUEST"
    std::string date; // "YYYY-MM-DD HH:MM" UTC
    std::string text;
};

// The account's fields as the client sends them.
struct AccountForm {
    std::string name;
    std::string login;
    std::string password;
    std::string email;
};

// The four match counters of one report.
struct MatchCounters {
    int64_t kills = 0;
    int64_t deaths = 0;
    int64_t sniperKills = 0;
    int64_t snipedDeaths = 0;
};

class Store {
public:
    // Opens (creating when missing) the database file and its tables. Throws StoreError.
    explicit Store(const std::filesystem::path& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // A new account with a salted password hash; its number.
    int64_t CreateAccount(const AccountForm& form);
    // The account when `id` exists and `login` and `password` match it; its name and e-mail
    // are then updated from the form. Nothing otherwise.
    std::optional<Account> UpdateAccount(int64_t id, const AccountForm& form);
    std::optional<Account> FindAccount(int64_t id);

    // Adds the counters to the account's totals (when it exists) and keeps the comment.
    // False when the account does not exist (the report is kept all the same).
    bool ReportMatch(int64_t player, const MatchCounters& counters, std::string_view comment);

    // A new game in the list for `soft`; its key.
    int64_t PublishGame(int64_t soft, int64_t player, std::string_view version,
                        std::string_view comment, std::string_view ip);
    // Removes the game `key` when it was published from `ip`; false when there is no such game.
    bool RemoveGame(int64_t key, std::string_view ip);
    // The games of `soft` published less than `maxAgeSeconds` ago, oldest first; older games
    // are deleted on the way.
    std::vector<Game> ListGames(int64_t soft, int64_t maxAgeSeconds);

    // Posts a message of `type` on the board of `soft`.
    void PostMessage(int64_t soft, int64_t player, int64_t type, std::string_view text);
    // The newest `limit` messages of `type` (from `onlyPlayer` when given), newest first.
    std::vector<Message> Messages(int64_t soft, int64_t type, std::optional<int64_t> onlyPlayer,
                                  int limit);

private:
    std::string NameOf(int64_t player);
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

} // namespace server
