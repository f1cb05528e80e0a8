// ui/lobby.h — the three lobby windows that lead from the main menu into a match: the session
// list "Join or Create Game", the "Create Game" dialog and the waiting room "Waiting for Host
// to Start Game" with its chat.
//
// Index
//   1. Entry               (OpenSessionList, called by the main menu)
//   2. Screen names        (what scripts wait for)
//   3. Texts of the lobby  (map choices, session name, waiting room lines, chat history)
//
// The windows drive net/ (connect, enumerate, create, join, leave) and fill net::WaitingRoom so
// the receiver can reach the waiting room. The match starts from the waiting room: the host's
// START, or a START received by the room's 100 ms timer, runs net::RunMatch, which the entry
// point sets up (net::Install and the match window) before the menu opens. When the match has
// ended the program is asked to quit. CANCEL in any lobby window ends the program as well.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

} // namespace ui
