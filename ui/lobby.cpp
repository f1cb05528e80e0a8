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

namespace {

// The windows, created on first use and kept for the rest of the run.
std::shared_ptr<SessionListScreen> sessionList;
std::shared_ptr<WaitingRoomScreen> waitingRoom;

// The waiting room as the receiver reaches it: nothing until the room's window exists.
class WaitingRoomLink : public net::WaitingRoomView {
public:
    bool IsShown() const override { return waitingRoom && waitingRoom->IsOpen(); }
    void AppendChat(std::string_view text) override {
        if (waitingRoom) waitingRoom->AppendChat(text);
    }
    void RefreshPlayers() override {
        if (waitingRoom) waitingRoom->UpdateWaiting();
    }
    void StopTimer() override {
        if (waitingRoom) waitingRoom->timer.Disable();
    }
    void Hide() override {
        if (waitingRoom) waitingRoom->Hide();
    }
};

// The session list as the web client reaches it: nothing until the list's window exists.
class SessionListLink : public web::SessionListView {
public:
    void ServerListsCleared() override {
        if (sessionList) sessionList->ClearLists();
    }
};

} // namespace

net::WaitingRoomView& WaitingRoomForNetwork() {
    static WaitingRoomLink link;
    return link;
}

web::SessionListView& SessionListForWeb() {
    static SessionListLink link;
    return link;
}

std::shared_ptr<SessionListScreen> SessionListWindow() {
    if (!sessionList) sessionList = std::make_shared<SessionListScreen>();
    return sessionList;
}

std::shared_ptr<CreateGameScreen> CreateGameWindow() {
    static std::shared_ptr<CreateGameScreen> screen = std::make_shared<CreateGameScreen>();
    return screen;
}

std::shared_ptr<WaitingRoomScreen> WaitingRoomWindow() {
    if (!waitingRoom) waitingRoom = std::make_shared<WaitingRoomScreen>();
    return waitingRoom;
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
