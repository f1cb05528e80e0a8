// server/store.h — the companion web server's data: accounts with their statistics, published
// games, the message board and the end-of-match reports.
//
// One interface, two back ends: SQLite (a file, the embedded default) and PostgreSQL (several
// server processes may share one database). OpenStore picks one from the --db text. Every
// operation is safe to call from several threads at once. Values reaching the store are
// already validated and bounded by the scripts; SQL is always parameterised.
//
// Accounts: passwords are kept as salted PBKDF2 hashes; the account logic (hashing, checking,
// unique logins) lives in this class and the back ends only store rows. A non-empty login
// belongs to one account: the back ends enforce it with a unique index, so two processes
// cannot both register it. (Databases from before that rule may hold old accounts sharing a
// login; they keep working by number, and the login stays with the oldest one.)
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
    int64_t key = 0;    // random, 1..2^31-1 (the client keeps it in a 32-bit signed number)
    int64_t player = 0; // the host's account number (0: none)
    std::string name;   // the host's account name, or "GUEST"
    std::string version;
    std::string ip; // the address the publish request came from
    std::string comment;
    int64_t published = 0; // Unix time
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

// What a match report became (Store::ReportMatch).
enum class ReportOutcome {
    Added,     // the counters are in the account's totals
    NoAccount, // no such account: nothing kept
    TooMuch,   // more than the account can have played since its previous reports: nothing kept
};

// How much a report may add. A report implies a least play time: the quickest cycle of a
// match is a death (the death animation runs about a second, then a click brings the player
// back), so in one second a player dies at most once, kills at most three opponents, and lands
// at most ten head-shot hits (SNIPPER counts hits, not kills). An account banks play time as
// real time passes, up to one hour, and every new account starts with one minute; a report is
// taken only when its least play time fits in the bank, and it spends it.
struct ReportRules {
    static constexpr int64_t kKillsPerSecond = 3;
    static constexpr int64_t kDeathsPerSecond = 1;
    static constexpr int64_t kHeadShotHitsPerSecond = 10;
    static constexpr int64_t kHeadShotDeathsPerSecond = 1;
    static constexpr int64_t kBankSeconds = 3600;     // play time banked at most
    static constexpr int64_t kNewAccountSeconds = 60; // what a new account starts with

    // The least play time, in seconds, in which one match gives `counters`.
    static int64_t PlaySeconds(const MatchCounters& counters);
};

// The outcome of a registration (account number 0).
enum class Registration {
    Created,    // a new account
    Existing,   // the login and password are those of an existing account: that account
    LoginTaken, // the login belongs to another account (wrong password): refused
};

struct RegisterResult {
    Registration outcome = Registration::LoginTaken;
    std::optional<Account> account; // set unless LoginTaken
};

// Salt and hash of an account's password as stored.
struct Credentials {
    int64_t id = 0;
    std::string login;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
};

// Every row of a store, to move a database from one back end to another.
struct Dump {
    struct AccountRow {
        Account account;
        std::vector<unsigned char> salt, hash;
        int64_t created = 0;
        int64_t loginShared = 0;
        int64_t reportClock = 0;
    };
    struct GameRow {
        Game game;
        int64_t soft = 0;
    };
    struct MessageRow {
        int64_t id = 0, soft = 0, player = 0, type = 0;
        std::string text;
        int64_t posted = 0;
    };
    struct ReportRow {
        int64_t id = 0, player = 0;
        MatchCounters counters;
        std::string comment;
        int64_t reported = 0;
    };
    std::vector<AccountRow> accounts;
    std::vector<GameRow> games;
    std::vector<MessageRow> messages;
    std::vector<ReportRow> reports;
};

class Store {
public:
    virtual ~Store() = default;

    // ----- accounts (hashing and checks here; rows in the back end) -----

    // Registers the form's login: a new account, the existing account when login and password
    // match it, or a refusal when the login is another account's. An empty login always makes
    // a new account (the game registers installations without a login that way).
    RegisterResult RegisterAccount(const AccountForm& form);
    // The account when `id` exists and the form's login and password match it; its name and
    // e-mail are then updated from the form. Nothing otherwise.
    std::optional<Account> UpdateAccount(int64_t id, const AccountForm& form);
    // Sets a new password when `id` exists and `previous` is its password. False otherwise.
    bool ChangePassword(int64_t id, std::string_view previous, std::string_view next);
    // True when `password` is the password of account `id`. An empty password proves nothing:
    // an account that has none is open to anyone who names its number.
    bool ProveAccount(int64_t id, std::string_view password);

    // Adds one match's counters to the account's totals and keeps the comment, when they fit
    // in the play time the account has banked (ReportRules); nothing otherwise.
    ReportOutcome ReportMatch(int64_t player, const MatchCounters& counters,
                              std::string_view comment);

    // ----- rows -----

    virtual std::optional<Account> FindAccount(int64_t id) = 0;
    // Accounts that played, best first by the game's weapon score (kills - deaths +
    // 5 x (sniper kills - sniped deaths)), then by kills, then oldest first.
    virtual std::vector<Account> Ranking(int limit) = 0;

    // A new game in the list for `soft`; its key, random and unused.
    int64_t PublishGame(int64_t soft, int64_t player, std::string_view version,
                        std::string_view comment, std::string_view ip);
    // Removes the game `key`: a guest game (player 0) when the request comes from `ip`, the
    // address that published it; an account's game when `provenPlayer` is that account (0:
    // the request proved none). False when no game was removed.
    virtual bool RemoveGame(int64_t key, std::string_view ip, int64_t provenPlayer) = 0;
    // The games of `soft` published less than `maxAgeSeconds` ago, oldest first; older games
    // are deleted on the way.
    virtual std::vector<Game> ListGames(int64_t soft, int64_t maxAgeSeconds) = 0;

    // The newest `limit` comments of match reports that have one, newest first: the sender's
    // account name, the date and the comment as `text`.
    virtual std::vector<Message> ReportComments(int limit) = 0;

    // Posts a message of `type` on the board of `soft`.
    virtual void PostMessage(int64_t soft, int64_t player, int64_t type, std::string_view text) = 0;
    // The newest `limit` messages of `type` (from `onlyPlayer` when given), newest first.
    virtual std::vector<Message> Messages(int64_t soft, int64_t type,
                                          std::optional<int64_t> onlyPlayer, int limit) = 0;

    // ----- moving -----

    // Every row, numbers and hashes as stored.
    virtual Dump ExportAll() = 0;
    // Writes `dump` into this store, keeping every number, in one transaction. Throws
    // StoreError when the store already holds an account, a game or a message.
    virtual void ImportAll(const Dump& dump) = 0;

protected:
    // ----- back-end rows of the account logic -----

    virtual std::optional<Credentials> CredentialsById(int64_t id) = 0;
    // The account that holds `login` (never a legacy sharer of it).
    virtual std::optional<Credentials> CredentialsByLogin(std::string_view login) = 0;
    // A new account row; its number, or nothing when the login is already held.
    virtual std::optional<int64_t> InsertAccount(const AccountForm& form,
                                                 const std::vector<unsigned char>& salt,
                                                 const std::vector<unsigned char>& hash) = 0;
    // Sets name and e-mail when the stored hash is still `hash`; the account then, else none.
    virtual std::optional<Account> SetProfile(int64_t id, std::string_view name,
                                              std::string_view email,
                                              const std::vector<unsigned char>& hash) = 0;
    // The account's report clock (Unix seconds): its banked play time at `now` is
    // min(now - clock, ReportRules::kBankSeconds). Nothing when the account does not exist.
    virtual std::optional<int64_t> ReportClock(int64_t id) = 0;
    // Keeps the report and adds its counters to the totals, moving the clock to `next`, when
    // the clock is still `clock`; false (nothing written) otherwise.
    virtual bool AddReport(int64_t id, const MatchCounters& counters, std::string_view comment,
                           int64_t clock, int64_t next) = 0;
    // Replaces salt and hash when the stored hash is still `previousHash`.
    virtual bool SetPassword(int64_t id, const std::vector<unsigned char>& previousHash,
                             const std::vector<unsigned char>& salt,
                             const std::vector<unsigned char>& hash) = 0;
    // Inserts a game under `key`; false when the key is in use.
    virtual bool InsertGame(int64_t key, int64_t soft, int64_t player, std::string_view version,
                            std::string_view comment, std::string_view ip) = 0;

private:
    // True when `password` is the one whose salted hash `stored` holds. Remembers a success
    // for a while, so the game's frequent account refreshes do not each cost a full hash.
    bool PasswordMatches(const Credentials& stored, std::string_view password);
    // Remembers that `password` is the one `stored` holds (just hashed or just checked).
    void Remember(const Credentials& stored, std::string_view password);

    struct Verified {
        std::vector<unsigned char> storedHash; // the row's hash when the check succeeded
        std::vector<unsigned char> proof;      // keyed digest of the password that matched
        int64_t until = 0;                     // steady-clock seconds
    };
    std::mutex verifiedMutex_;
    std::unordered_map<int64_t, Verified> verified_;
};

// The store named by `address`: "postgresql://..." or "postgres://..." is a PostgreSQL
// connection URI (libpq's form; `connections` connections are kept open), anything else the
// path of a SQLite file, created when missing. Throws StoreError.
std::unique_ptr<Store> OpenStore(const std::string& address, int connections = 4);

// The hashing parameters, shared by both back ends (stored rows from either are the same).
std::vector<unsigned char> NewSalt();
std::vector<unsigned char> HashPassword(std::string_view password,
                                        const std::vector<unsigned char>& salt);
// The current Unix time in seconds, and its "YYYY-MM-DD HH:MM" UTC form.
int64_t Now();
std::string DateText(int64_t seconds);

} // namespace server
