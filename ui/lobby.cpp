// ui/lobby.cpp — the lobby's entry, its windows' lifetime and the texts the windows show.
#include "ui/lobby.h"

#include "net/net.h"
#include "ui/lobby_local.h"
#include "ui/map_download.h"
#include "ui/screen_local.h"
#include "web/web.h"

namespace ui {

// =============================================================================================
// 1. Entry and the windows
// =============================================================================================

std::shared_ptr<SessionListScreen> SessionListWindow() {
    static std::shared_ptr<SessionListScreen> screen;
    if (!screen) {
        screen = std::make_shared<SessionListScreen>();
        web::ClearSessionListsHook = [] {
            if (screen) screen->ClearLists();
        };
    }
    return screen;
}

std::shared_ptr<CreateGameScreen> CreateGameWindow() {
    static std::shared_ptr<CreateGameScreen> screen = std::make_shared<CreateGameScreen>();
    return screen;
}

std::shared_ptr<WaitingRoomScreen> WaitingRoomWindow() {
    static std::shared_ptr<WaitingRoomScreen> screen;
    if (!screen) {
        screen = std::make_shared<WaitingRoomScreen>();
        // What the receiver does to the room.
        net::WaitingRoom.visible = [] { return screen->IsOpen(); };
        net::WaitingRoom.appendChat = [](std::string_view text) { screen->AppendChat(text); };
        net::WaitingRoom.refreshPlayers = [] { screen->UpdateWaiting(); };
        net::WaitingRoom.stopTimer = [] { screen->timer.Disable(); };
        net::WaitingRoom.hide = [] { screen->Hide(); };
    }
    return screen;
}

void EndProgram() {
    window::RequestQuit();
}

bool OpenSessionList(bool internet) {
    const std::shared_ptr<SessionListScreen> list = SessionListWindow();
    if (!internet && !list->UpdateSessionList()) return false;
    list->Show(internet);
    return true;
}

// =============================================================================================
// 2. Texts
// =============================================================================================

std::string MapChoiceName(std::string_view fileName) {
    return screen_util::Upper(fileName.substr(0, fileName.find('.')));
}

std::vector<std::string> MapChoices(const std::vector<std::filesystem::path>& mapDirs) {
    std::vector<std::string> choices;
    for (const std::string& file : MapFileNames(mapDirs))
        choices.push_back(MapChoiceName(file));
    for (const char* builtIn : kBuiltInMaps)
        choices.emplace_back(builtIn);
    return choices;
}

std::string GameSessionName(std::string_view gameName, std::string_view mapEntry) {
    const std::string_view name = gameName.empty() ? std::string_view(kDefaultGameName) : gameName;
    return std::string(name) + " (" + std::string(mapEntry) + ")";
}

std::string WaitingStatus(int players, int maxPlayers) {
    return std::to_string(players) + " of " + std::to_string(maxPlayers) + " players ready...";
}

std::string WaitingPlayerLine(std::string_view name, std::string_view formalName) {
    const bool terrorist = !formalName.empty() && formalName.front() == '0';
    return std::string(name) + (terrorist ? " (TERRORIST)" : " (GIGN)");
}

std::string TrimSpaces(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string VersionMismatchText(std::string_view serverVersion, std::string_view ourVersion) {
    return "You can't play with this Server you don't have the same Release Version:\n"
           "Server = " +
           std::string(serverVersion) + " and Your Soft = " + std::string(ourVersion) +
           "\nCheck last Version on http://" + net::WebServerName;
}

} // namespace ui
