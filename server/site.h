// server/site.h — the web site of tarnhold-server for players and operators: one home page
// with the running games, the ranking, the public board and the maps to download, the
// operator's page of private messages, and their style sheet. Plain HTML and CSS from the
// server itself (no script, no outside asset); every stored text is HTML-escaped; the pages
// fit a phone's width.
#pragma once

#include "server/http_server.h"
#include "server/scripts.h"
#include "server/store.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace server {

Response HomePage(Store& store, const Config& config);
// The private messages (every type-1 post, newest first) and the comments of match reports,
// for a request that holds the operator key (HoldsOperatorKey); 401 asking for it otherwise,
// 403 when the server has none.
Response OperatorPage(Store& store, const Config& config, const Request& req);
Response StyleSheet();

// The game's weapon rank 1..4 of an account's totals: score P = kills - deaths +
// 5 x (sniper kills - sniped deaths); 1 when P < 5, 2 when P < 10, 3 when P < 15, else 4.
int WeaponRank(const Account& account);

// `text` with &, <, >, " and ' as character references, for HTML text and attribute values.
std::string EscapeHtml(std::string_view text);

} // namespace server
