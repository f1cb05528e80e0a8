// server/scripts.h — what tarnhold-server answers: the game's web scripts at the paths its
// client calls, the files folder, and the web site for players and operators.
//
//   /script/set_server.php3     publish a game            -> <SERVEUR>key</SERVEUR> or NO
//   /script/get_server.php3     list the running games    -> <SERVEURS> CLE_SERVEUR CLE_JOUEUR
//                                                            NOM VERSION IP COMMENT per game
//   /script/delete_server.php3  remove one game by key    -> <REPONSE>OK</REPONSE> or NO
//   /script/quitte_server.php3  end-of-match report       -> <REPONSE>OK</REPONSE> or NO
//   /script/nouveaujoueur.php3  create or update account  -> <JOUEUR> CLE VER URL KILLER KILLED
//                                                            SNIPPER SNIPPED, or NO
//   /script/nouveaumess.php3    post on the message board -> <REPONSE>OK</REPONSE> or NO
//   /script/getmess.php3        read the message board    -> <MESSAGES> CLE NOM DATE MESSAGE
//   /script/get_map.php3        maps offered for download -> <MAPS> MAP per archive (files
//                                                            map/<name>.exe named in lower case)
//   /tarnhold/...               the files folder: map/<name>.exe and release.exe
//   /                           the home page: games, ranking, board and maps (HTML)
//   /site.css                   its style sheet
//   /operator                   the private messages, for the operator key only (HTML)
//
// Every query value is checked: numbers are plain decimal within their range, texts are UTF-8
// without control characters (tab and line breaks allowed) and within their length bound. A
// request with a missing or bad value is refused ("NO") and changes nothing. Reply texts are
// XML-escaped. Message types: 0 public board; 1 private, to the publisher. Reading type 1 gives
// the publisher's own type-1 posts (news to the players), reading type 2 gives the publisher's
// inbox (every type-1 post) to a request that holds the operator key, and no message to any
// other.
//
// Proof of an account: the requests that act for an account carry its password as LEPWD
// (the access log writes it as ***); an account without a password proves nothing.
//   - quitte_server.php3 needs the proof of CLE_JOUEUR, and adds at most what one match can
//     give (ReportRules; each counter at most kReportCounterMax, SNIPPED never above KILLED):
//     a report over it is refused whole, nothing is added.
//   - nouveaumess.php3 needs the proof of LEJOUEUR unless LEJOUEUR is 0 (a post as GUEST).
//   - set_server.php3 lists the game as LEJOUEUR's when the request proves it, else as a
//     GUEST game. delete_server.php3 withdraws an account's game for the proof of that account
//     (CLE_JOUEUR and LEPWD), a GUEST game from the address that published it.
//
// Accounts: account number 0 registers the login (nouveaujoueur.php3 answers NO when the login
// is another account's; the same login and password give back that account). Another number
// is updated when the login and password (LEPWD) are its own, or when the login and the
// previous password (the optional LEOLDPWD) are: the account then takes LEPWD as its password,
// so a player changes the password from the game. Game keys are random; a game is withdrawn
// only from the address that published it.
#pragma once

#include "server/http_server.h"
#include "server/store.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace server {

struct Config {
    std::vector<int64_t> softKeys{1};       // LESOFT / CLE_SOFT values served; others are refused
    std::string version;                    // the latest release announced (VER); "" sends none
    std::string url;                        // its download address (URL)
    std::filesystem::path files;            // served under /tarnhold/; map archives in map/*.exe
    int64_t gameLifetimeSeconds = 6 * 3600; // a published game is listed this long at most
    int64_t publisherAccount = 1;           // the account whose type-1 posts are news
    int messageLimit = 50;                  // messages returned per read
    int rankingLimit = 50;                  // accounts on the web ranking
    std::string operatorKey;                // reads the private messages; "": nobody does
};

// Each counter of one match report at most (KILLER, KILLED, SNIPPER, SNIPPED).
inline constexpr int64_t kReportCounterMax = 10000;

// True when the request's Authorization header is HTTP Basic with the operator key as its
// password (any user name), and the key is set.
bool HoldsOperatorKey(const Request& req, const Config& config);

// The routes of the whole server. `store` and `config` must outlive the server.
Routes MakeRoutes(Store& store, const Config& config);

// `text` with &, <, >, " and ' written as entities, for element content.
std::string EscapeXml(std::string_view text);

// Well-formed UTF-8 (no overlong forms, no surrogates) without control characters other than
// tab, line feed and carriage return.
bool IsCleanText(std::string_view text);

} // namespace server
