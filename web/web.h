// web/web.h — the client of the publisher's web scripts: the internet game list, the player
// account and its statistics, the message board and the list of downloadable maps.
//
// Index
//   1. Settings and state       (server name, map list address, game list, versions)
//   2. Operations               (one per server script; each one blocking HTTP GET)
//   3. Downloads                (map and release archives, unpacked into the installation)
//   4. Reply readers            (the XML reply handling, shared with the fuzz target)
//   5. Connections              (the views it shows, what it does for the session code and match)
//
// Every operation sends one GET to "http://" + net::WebServerName + "/script/<name>.php3?..." and
// reads the small XML document that comes back; a server name without ":port" is port 80. Every
// value put into a query is percent-encoded, so a comment holding "&", "#" or spaces reaches
// the server as typed and cannot add parameters of its own.
//
// While a request runs, the pointer is the hourglass and the wait view (section 5) shows
// "Please Wait Connexion to ..." until the reply is in; the label also goes to the log. The
// request itself runs on a worker thread while the user-interface thread keeps drawing; the
// reply is handled on the user-interface thread after it.
//
// A failed load (no network, server down, HTTP error, a reply that is not XML) changes nothing,
// shows nothing and makes the operation return false.
//
// The screens that show the results are not part of this module: the operations fill plain
// data — `ServerList` and `ServerLines` for the session list's internet games, `MapList` for
// the map download window, the account variables of core/game_state.h for the account screen —
// and the screens read them after the call.
#pragma once

#include "core/game.h"
#include "net/net.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace xml {
class Node;
}

namespace web {

// ---------------------------------------------------------------------------------------------
// 1. Settings and state
// ---------------------------------------------------------------------------------------------
// All of it lives on the user-interface thread for the whole process; nothing resets it.

// The host name offered on the main menu before the player types one: the companion server
// (tarnhold-server) as it starts without options, on the player's own machine.
inline constexpr std::string_view kDefaultWebServerName = "localhost:8080";

// The web server's host name (optionally ":port") is net::WebServerName, set by the main menu
// from what the player typed, and empty in LAN mode. Every address the client fetches comes
// from it, except the release archive, whose address the server reports (DownloadUrl).

// One running internet game as the server lists it.
struct ServerRecord {
    int32_t gameKey = 0;   // CLE_SERVEUR: the key the server gave the game
    int32_t playerKey = 0; // CLE_JOUEUR: the account number of its host
    std::string name;      // NOM
    std::string version;   // VERSION: the host's release text
    std::string ip;        // IP: the host's address as the server saw it
    std::string comment;   // COMMENT
};

// The games of the last server_en_cours, index = line in `ServerLines`; emptied by
// server_en_cours, Get_Map and RecupMessage. Holds exactly one record per line.
extern std::vector<ServerRecord> ServerList;

// The session list's internet game lines (its `lstserv` list): "SERVER " + name +
// " On version " + version, padded with spaces (or cut) to 100 characters, then the IP.
extern std::vector<std::string> ServerLines;

// Column where the IP starts in a `ServerLines` entry.
inline constexpr std::size_t kServerLineWidth = 100;

// Map names the server offers (upper case), filled by Get_Map for the map download window.
extern std::vector<std::string> MapList;

// The key the server gave to the game this machine published (devenir_server); 0 = none.
// DeleteServer uses it when the host leaves.
extern int32_t ServerKey;

// The latest release text and its download address as last reported by the server.
extern std::string ServerVersion;
extern std::string DownloadUrl;

// ---------------------------------------------------------------------------------------------
// 2. Operations
// ---------------------------------------------------------------------------------------------
// Each blocks the caller until the reply is handled or the load failed. Call them only on the
// user-interface thread.

// Withdraws this machine's game from the list (CLE_SERVEUR = ServerKey), proving the account
// that published it (CLE_JOUEUR, LEPWD). The reply is not read. True when the request reached
// the server and its reply was XML.
bool DeleteServer();

// Publishes the game this machine hosts, with `comment`, as the account's (its password as
// LEPWD proves it). True and `ServerKey` = the key from the reply, or false when the load
// failed or the server answered "NO" (ServerKey unchanged).
bool devenir_server(std::string_view comment);

// End of a match in internet mode: asks the player for a comment ("Send a message (bugs,
// remarks) to DuzeVovo Thank you !!"), then reports the local player's match counters (kills,
// deaths, sniper kills, sniped deaths). Does nothing when net::WebServerName is empty (LAN).
void quitte_server();

// The report itself, with the counters and comment given and the account's password (LEPWD):
// the part of quitte_server after the input box. True when the server took it; its "NO" (a
// wrong password, or more than one match can give) is only logged.
bool SendMatchReport(int32_t kills, int32_t deaths, int32_t sniperKills, int32_t snipedDeaths,
                     std::string_view comment);

// What the server made of an account sent to it.
enum class AccountAnswer {
    Failed,   // no reply, or not XML: nothing changed, nothing shown
    Refused,  // "NO": the number, login or password is not the account's; nothing changed
    Accepted, // the fields and the reply are stored
};

// The login, password and e-mail as the player typed them on the account screen.
struct AccountFields {
    std::string login;
    std::string password;
    std::string email;
};

// Sends the account (number, name, `fields`, soft key, version) with the stored password as
// the previous one (LEOLDPWD), so the server takes a new password typed in `fields` once it
// has checked the old one. An empty password is never sent: the game draws one at random in
// its place (20 letters and digits), since the server takes an account's reports, posts and
// withdrawals only with a password. Only an accepted answer changes anything: `fields` become the
// stored Login, Password and Email, and the reply is stored: account number, server version
// and download address, the four totals. Then the weapon power is recomputed, the settings
// saved and, when the server's version differs from this build's, the beep sounds and a
// message box tells where the new version is.
AccountAnswer SendAccount(const AccountFields& fields);

// SendAccount with the stored login, password and e-mail; true when the server accepted it.
bool InfoJoueur();

// Posts `text` on the message board as the account (its password as LEPWD); `type` 0 public,
// 1 private (to the publisher). True when the server took it; its "NO" is only logged.
bool EnvoiMessage(std::string_view text, int32_t type);

// Fetches the list of running internet games into ServerList and ServerLines, then refreshes
// the account with InfoJoueur. True when the game list loaded (whatever InfoJoueur gives).
bool server_en_cours();

// Fetches the map names ("/script/get_map.php3") into MapList (upper case). Also empties
// ServerList and ServerLines.
bool Get_Map();

// Reads the message board: "#" + key + " send by " + name + " " + date + "\r\n" + message +
// "\r\n\r\n" per message; type 0 the public board, type 1 the publisher's news. Type 1 from
// account number 1 (the publisher) asks for type 2, the publisher's inbox, which the server
// gives only to a request holding its operator key: the game holds none and reads no message
// there. "" when the load failed. Also empties ServerList and ServerLines.
std::string RecupMessage(int32_t type);

// ---------------------------------------------------------------------------------------------
// 3. Downloads
// ---------------------------------------------------------------------------------------------
// An archive is a zip, possibly self-extracting (a program stub in front of the zip data). It
// is saved in the player's data folder (core::UserDataDirectory(), created when missing; the
// installation may be read-only and is shared by every user) under its own name, replacing an
// older file only once the whole download is in, and unpacked there with every entry confined
// to that folder. The web window shows the progress labels
// meanwhile. A failed download or unpacking is told in a message box and returns false.

// Downloads and unpacks the archive of the map `name` from the web server's map folder
// ("http://" + net::WebServerName + "/tarnhold/map/" + lower case of name + ".exe"): its map
// files land under map/ of the data folder as the archive lays them out, where the game looks
// for maps before the installation's own (core::MapFolders).
bool GetAnyFile(std::string_view name);

// Downloads the release archive from DownloadUrl (the address the server reported; only http
// and https) into "release.exe", unpacks it into the data folder (logged with the folder's
// name), then asks the program to end (window::RequestQuit). Without a reported
// address nothing is fetched and the message box says so.
bool GetVersion();

// Unpacks the archive `file` of the data folder into that folder.
bool pkunzip(std::string_view file);

// ---------------------------------------------------------------------------------------------
// 4. Reply readers
// ---------------------------------------------------------------------------------------------
// The handling of one loaded reply, without any request, window or settings write. `root` is the
// document element; only its direct children are looked at, by exact element name, in order.

// server_en_cours: empties and refills ServerList and ServerLines.
void ReadServerList(const xml::Node& root);
// InfoJoueur: AccountNumber, ServerVersion, DownloadUrl and the four totals from the reply.
void ReadAccount(const xml::Node& root);
// Get_Map: empties and refills MapList.
void ReadMapList(const xml::Node& root);
// RecupMessage: the message board text.
std::string ReadMessages(const xml::Node& root);

// ---------------------------------------------------------------------------------------------
// 5. Connections
// ---------------------------------------------------------------------------------------------
// The views below are implemented by the ui module and connected by the entry point
// (app/wiring.cpp); null (the default) shows nothing. The classes after them are this client's
// side of the interfaces the session code and the game core call. All on the user-interface
// thread; nothing here is owned.

// What the player sees while a request, a download or an unpacking runs: the web window.
class WaitView {
public:
    virtual ~WaitView() = default;
    // Shows `label` and returns once `finished()` is true. `finished` waits a few milliseconds
    // for the work each time it is asked, so a view that pumps events meanwhile does not spin.
    virtual void ShowUntil(const std::string& label, const std::function<bool()>& finished) = 0;
};
void SetWaitView(WaitView* view);

// The session list, whose internet games come from `ServerLines`.
class SessionListView {
public:
    virtual ~SessionListView() = default;
    // `ServerLines` was just emptied: the session list empties its LAN list as well.
    virtual void ServerListsCleared() = 0;
};
void SetSessionListView(SessionListView* view);

// The web game list as the session code uses it: Publish is devenir_server, Withdraw is
// DeleteServer (its answer is not needed).
class GameDirectory : public net::GameDirectory {
public:
    bool Publish(std::string_view comment) override;
    void Withdraw() override;
};

// The web service as a match uses it: a missing map is fetched with GetAnyFile when a web
// server is set (false without one), and the match report is quitte_server.
class MatchClient : public core::MatchWeb {
public:
    bool FetchMap(const std::string& mapName) override;
    void ReportMatch() override;
};

} // namespace web
