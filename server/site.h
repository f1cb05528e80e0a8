// server/site.h — the web site of tarnhold-server for players and operators: one home page
// with the running games, the ranking, the public board and the maps to download, and its
// style sheet. Plain HTML and CSS from the server itself (no script, no outside asset); every
// stored text is HTML-escaped; the page fits a phone's width.
#pragma once

#include "server/http_server.h"
#include "server/scripts.h"
#include "server/store.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace server {

Response HomePage(Store& store, const Config& config);
Response StyleSheet();

// The game's weapon rank 1..4 of an account's totals: score P = kills - deaths +
// 5 x (sniper kills - sniped deaths); 1 when P < 5, 2 when P < 10, 3 when P < 15, else 4.
int WeaponRank(const Account& account);

// `text` with &, <, >, " and ' as character references, for HTML text and attribute values.
std::string EscapeHtml(std::string_view text);

} // namespace server
