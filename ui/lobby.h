// ui/lobby.h — the three lobby windows that lead from the main menu into a match: the session
// list "Join or Create Game", the "Create Game" dialog and the waiting room "Waiting for Host
// to Start Game" with its chat.
//
// Index
//   1. Entry               (OpenSessionList, called by the main menu)
//   2. Screen names        (what scripts wait for)
//   3. Texts of the lobby  (map choices, session name, waiting room lines, chat history)
//   4. Views               (the lobby as the session code and the web client reach it)
//
// The windows drive net/ (connect, enumerate, create, join, leave); the receiver reaches the
// waiting room, and the web client the session list, through the views of section 4. The match
// starts from the waiting room: the host's START, or a START received by the room's 100 ms
// timer, runs the match runner, which the entry point connects (with the match window) before
// the menu opens. When the match has ended the program is asked to quit. CANCEL in any lobby
// window ends the program as well.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace net {
class WaitingRoomView;
}
namespace web {
class SessionListView;
}

namespace ui {

// ---------------------------------------------------------------------------------------------
// 1. Entry
// ---------------------------------------------------------------------------------------------

// Opens the session list. LAN (`internet` false; net::ConnectLan has run): enumerates the
// sessions again; false when that fails (nothing opens; the menu re-creates the session object
// and stays). Internet: the menu has fetched the web game list (web::server_en_cours), shown
// in the list of servers; always true. Safe to call from a screen's Draw().
bool OpenSessionList(bool internet);

// ---------------------------------------------------------------------------------------------
// 2. Screen names
// ---------------------------------------------------------------------------------------------

inline constexpr const char* kSessionListScreen = "session_list";
inline constexpr const char* kCreateGameScreen = "create_game";
inline constexpr const char* kWaitingRoomScreen = "waiting_room";

// ---------------------------------------------------------------------------------------------
// 3. Texts of the lobby
// ---------------------------------------------------------------------------------------------

// The built-in maps, offered after the map files.
inline constexpr const char* kBuiltInMaps[] = {"ENTREPOT", "COULOIRS"};
// The game name used when the player leaves it empty.
inline constexpr const char* kDefaultGameName = "Tarnhold game";

// The Create Game map list: one entry per map file of the folders `mapDirs` (see
// MapFileNames), named by MapChoiceName, then the built-in maps.
std::vector<std::string> MapChoices(const std::vector<std::filesystem::path>& mapDirs);
// A map file's entry: the file name up to its first ".", in upper case ("a.b.map" is "A").
std::string MapChoiceName(std::string_view fileName);
// The session's name: the game name (kDefaultGameName when empty), " (", the map entry, ")".
std::string GameSessionName(std::string_view gameName, std::string_view mapEntry);

// The waiting room's status: "<n> of <max> players ready...".
std::string WaitingStatus(int players, int maxPlayers);
// A waiting room player line: the name and "(TERRORIST)" when the formal name starts with the
// digit 0, else "(GIGN)".
std::string WaitingPlayerLine(std::string_view name, std::string_view formalName);
// `text` without its leading and trailing spaces (only ' ').
std::string TrimSpaces(std::string_view text);

// The message box shown for a web game of another release (three lines); the last names the
// web server in use (net::WebServerName), where the release is offered.
std::string VersionMismatchText(std::string_view serverVersion, std::string_view ourVersion);

// ---------------------------------------------------------------------------------------------
// 4. Views
// ---------------------------------------------------------------------------------------------
// Connected by the entry point (app/wiring.cpp); called on the user-interface thread. Each
// reaches its window only once the window exists: before, the waiting room is not shown and the
// calls do nothing. They live for the whole process.

// The waiting room, for the receiver and the START sender.
net::WaitingRoomView& WaitingRoomForNetwork();
// The session list, for the web client (emptying its game list empties the LAN list too).
web::SessionListView& SessionListForWeb();

} // namespace ui
