// server/store.cpp — what both back ends share: password hashes, the account rules, game keys,
// and the choice of back end.
//
// Index
//   1. Hashes, keys and time
//   2. Accounts
//   3. Match reports
//   4. Games
//   5. Opening a store
#include "server/store.h"

#include "server/store_backends.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

namespace server {

// =============================================================================================
// 1. Hashes, keys and time
// =============================================================================================

namespace {

constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr int kHashIterations = 100'000;
constexpr int64_t kVerifiedSeconds = 600; // a checked password is remembered this long
constexpr size_t kVerifiedMax = 20'000;   // accounts remembered at most

bool SameBytes(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

int64_t SteadySeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// HMAC-SHA256 of salt and password under a key drawn once per process: what the store keeps in
// memory of a checked password (never the password itself).
std::vector<unsigned char> Proof(const std::vector<unsigned char>& salt,
                                 std::string_view password) {
    static const std::array<unsigned char, 32> key = [] {
        std::array<unsigned char, 32> k{};
        if (RAND_bytes(k.data(), int(k.size())) != 1) throw StoreError("no random key");
        return k;
    }();
    std::vector<unsigned char> message(salt);
    message.insert(message.end(), password.begin(), password.end());
    std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.data(), int(key.size()), message.data(), message.size(),
             digest.data(), &length) == nullptr)
        throw StoreError("password digest failed");
    digest.resize(length);
    return digest;
}

// A game key: uniformly random in 1..2^31-1.
int64_t RandomGameKey() {
    for (;;) {
        uint32_t bits = 0;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&bits), sizeof bits) != 1)
            throw StoreError("no random game key");
        const int64_t key = int64_t(bits & 0x7fffffffu);
        if (key != 0) return key;
    }
}

} // namespace

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

// =============================================================================================
// 2. Accounts
// =============================================================================================

bool Store::PasswordMatches(const Credentials& stored, std::string_view password) {
    const std::vector<unsigned char> proof = Proof(stored.salt, password);
    const int64_t now = SteadySeconds();
    {
        std::lock_guard lock(verifiedMutex_);
        const auto it = verified_.find(stored.id);
        if (it != verified_.end() && it->second.until > now &&
            SameBytes(it->second.storedHash, stored.hash) && SameBytes(it->second.proof, proof))
            return true;
    }
    // The slow check runs outside every lock.
    if (!SameBytes(HashPassword(password, stored.salt), stored.hash)) return false;
    Remember(stored, password);
    return true;
}

void Store::Remember(const Credentials& stored, std::string_view password) {
    const std::vector<unsigned char> proof = Proof(stored.salt, password);
    std::lock_guard lock(verifiedMutex_);
    if (verified_.size() >= kVerifiedMax) verified_.clear();
    verified_[stored.id] = Verified{stored.hash, proof, SteadySeconds() + kVerifiedSeconds};
}

RegisterResult Store::RegisterAccount(const AccountForm& form) {
    // The same login and password as an existing account: that account, with the form's name
    // and e-mail. Another password: refused.
    const auto existing = [&](const Credentials& held) {
        if (!PasswordMatches(held, form.password)) return RegisterResult{};
        std::optional<Account> account = SetProfile(held.id, form.name, form.email, held.hash);
        if (!account) return RegisterResult{};
        return RegisterResult{Registration::Existing, std::move(account)};
    };
    if (!form.login.empty()) {
        if (const std::optional<Credentials> held = CredentialsByLogin(form.login))
            return existing(*held);
    }
    const std::vector<unsigned char> salt = NewSalt();
    const std::vector<unsigned char> hash = HashPassword(form.password, salt);
    if (const std::optional<int64_t> id = InsertAccount(form, salt, hash)) {
        Remember(Credentials{*id, form.login, salt, hash}, form.password);
        return RegisterResult{Registration::Created, FindAccount(*id)};
    }
    // Another request registered the login meanwhile.
    if (const std::optional<Credentials> held = CredentialsByLogin(form.login))
        return existing(*held);
    return RegisterResult{};
}

std::optional<Account> Store::UpdateAccount(int64_t id, const AccountForm& form) {
    const std::optional<Credentials> stored = CredentialsById(id);
    if (!stored) return std::nullopt;
    const bool loginMatches =
        stored->login.size() == form.login.size() &&
        CRYPTO_memcmp(stored->login.data(), form.login.data(), form.login.size()) == 0;
    if (!PasswordMatches(*stored, form.password) || !loginMatches) return std::nullopt;
    return SetProfile(id, form.name, form.email, stored->hash);
}

bool Store::ChangePassword(int64_t id, std::string_view previous, std::string_view next) {
    const std::optional<Credentials> stored = CredentialsById(id);
    if (!stored || !PasswordMatches(*stored, previous)) return false;
    const std::vector<unsigned char> salt = NewSalt();
    const std::vector<unsigned char> hash = HashPassword(next, salt);
    if (!SetPassword(id, stored->hash, salt, hash)) return false;
    Remember(Credentials{id, stored->login, salt, hash}, next);
    return true;
}

bool Store::ProveAccount(int64_t id, std::string_view password) {
    if (password.empty()) return false;
    const std::optional<Credentials> stored = CredentialsById(id);
    return stored && PasswordMatches(*stored, password);
}

// =============================================================================================
// 3. Match reports
// =============================================================================================

int64_t ReportRules::PlaySeconds(const MatchCounters& c) {
    const auto seconds = [](int64_t count, int64_t perSecond) {
        return (count + perSecond - 1) / perSecond;
    };
    return std::max({seconds(c.kills, kKillsPerSecond), seconds(c.deaths, kDeathsPerSecond),
                     seconds(c.sniperKills, kHeadShotHitsPerSecond),
                     seconds(c.snipedDeaths, kHeadShotDeathsPerSecond)});
}

ReportOutcome Store::ReportMatch(int64_t player, const MatchCounters& counters,
                                 std::string_view comment) {
    const int64_t play = ReportRules::PlaySeconds(counters);
    // A concurrent report of the same account may move the clock first: then read it again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::optional<int64_t> clock = ReportClock(player);
        if (!clock) return ReportOutcome::NoAccount;
        const int64_t now = Now();
        // The bank holds at most kBankSeconds: time beyond it is not carried.
        const int64_t start = std::max(*clock, now - ReportRules::kBankSeconds);
        if (start + play > now) return ReportOutcome::TooMuch;
        if (AddReport(player, counters, comment, *clock, start + play)) return ReportOutcome::Added;
    }
    return ReportOutcome::TooMuch;
}

// =============================================================================================
// 4. Games
// =============================================================================================

int64_t Store::PublishGame(int64_t soft, int64_t player, std::string_view version,
                           std::string_view comment, std::string_view ip) {
    // With a few thousand games listed at most, a drawn key is almost never in use.
    for (int attempt = 0; attempt < 32; ++attempt) {
        const int64_t key = RandomGameKey();
        if (InsertGame(key, soft, player, version, comment, ip)) return key;
    }
    throw StoreError("no free game key");
}

// =============================================================================================
// 5. Opening a store
// =============================================================================================

std::unique_ptr<Store> OpenStore(const std::string& address, int connections) {
    if (address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0)
        return OpenPostgresStore(address, connections);
    return OpenSqliteStore(address);
}

} // namespace server
