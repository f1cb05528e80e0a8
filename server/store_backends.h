// server/store_backends.h — the two back ends of the store, for OpenStore.
#pragma once

#include "server/store.h"

namespace server {

// Opens (creating when missing) the SQLite database file and its tables.
std::unique_ptr<Store> OpenSqliteStore(const std::string& path);
// Connects `connections` times to the PostgreSQL database `uri` and creates missing tables.
std::unique_ptr<Store> OpenPostgresStore(const std::string& uri, int connections);

// The login rule's index: a non-empty login is held by one account; accounts that shared a
// login before the rule existed are marked `login_shared` and left out.
inline constexpr const char* kLoginIndexSql =
    "CREATE UNIQUE INDEX IF NOT EXISTS accounts_login ON accounts (login)"
    " WHERE login <> '' AND login_shared = 0";
// Marks every account but the oldest of each shared login.
inline constexpr const char* kMarkSharedLoginsSql =
    "UPDATE accounts SET login_shared = 1 WHERE login <> '' AND id > (SELECT min(b.id) FROM"
    " accounts b WHERE b.login = accounts.login)";
// Accounts that played, best weapon score first.
inline constexpr const char* kRankingOrderSql =
    " WHERE kills + deaths + sniper_kills + sniped_deaths > 0"
    " ORDER BY (kills - deaths) + 5 * (sniper_kills - sniped_deaths) DESC, kills DESC, id";

} // namespace server
