// ui/lobby_local.h — the lobby windows as the three lobby files share them.
//
// Each window is created once, on first use, and kept for the rest of the run: "hidden" is a
// closed screen that can be opened again with its contents.
#pragma once

#include "platform/window/window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ui {

// "Join or Create Game".
class SessionListScreen : public window::Screen {
public:
    SessionListScreen();
    void Draw() override;

    // Shows the window in LAN mode (server frame disabled) or internet mode (server frame
    // enabled, filled from web::ServerLines).
    void Show(bool internet);
    // REFRESH GAMES: enumerates the sessions, enables JOIN GAME when one is listed and selects
    // the first. False when the enumeration failed.
    bool UpdateSessionList();
    // Empties both lists (the web client does when it empties its game list).
    void ClearLists();

    const std::vector<std::string>& Sessions() const { return sessions_; }
    const std::vector<std::string>& Servers() const { return servers_; }
    bool JoinEnabled() const { return joinEnabled_; }
    const std::string& Comment() const { return comment_; }
    // The line under an empty list searched at one host's address: "No game answers at <host>."
    const std::string& NoGame() const { return noGame_; }

private:
    void FillServers();
    void SessionsListed();        // JOIN GAME and the selection follow the new list; logged
    void ChooseServer(int index); // a click on a web game
    void Join();

    bool internet_ = false;
    std::vector<std::string> sessions_;
    int session_ = -1;
    bool joinEnabled_ = false;
    std::vector<std::string> servers_;
    int server_ = -1;
    std::string comment_; // the chosen web game's message; shown when not empty
    std::string noGame_;  // shown under the sessions when not empty
};

// "Create Game".
class CreateGameScreen : public window::Screen {
public:
    CreateGameScreen();
    void Draw() override;
    // Fills the map list, clears the comment and shows the dialog with the focus in the name.
    void Show();

private:
    void Create();

    std::vector<std::string> maps_;
    int map_ = 0;
    std::string gameName_;
    std::string comment_;
    bool focusName_ = false;
    int bots_ = 0;  // computer players, 0..3
    int level_ = 1; // their level, 0..2
};

// "Waiting for Host to Start Game".
class WaitingRoomScreen : public window::Screen {
public:
    static constexpr uint32_t kTimerMs = 100;

    WaitingRoomScreen();
    void Draw() override;

    // Shows the room (START enabled only when `startEnabled`), starts its timer, puts the focus
    // in the chat line and refreshes the player list.
    void Show(bool startEnabled);
    // Player list and status from the session; enables START on the host; beeps.
    void UpdateWaiting();
    // Appends to the chat history and beeps.
    void AppendChat(std::string_view text);
    // The room goes for good (a match starts).
    void Hide();

    const std::vector<std::string>& Players() const { return players_; }
    const std::string& Status() const { return status_; }
    const std::string& History() const { return history_; }
    bool StartEnabled() const { return startEnabled_; }

    // Timer1: every tick runs the receiver; a match it started has ended when it returns.
    window::Timer timer;

private:
    void SendMessage();
    void Start();

    std::vector<std::string> players_;
    int player_ = -1;
    std::string status_;
    bool startEnabled_ = false;
    std::string mess_;
    std::string history_;
    bool focusMess_ = false;
    bool scrollHistory_ = false;
};

// The windows, created on first use.
std::shared_ptr<SessionListScreen> SessionListWindow();
std::shared_ptr<CreateGameScreen> CreateGameWindow();
std::shared_ptr<WaitingRoomScreen> WaitingRoomWindow();

// CANCEL: the program ends (the entry point's loop sees the quit flag).
void EndProgram();

} // namespace ui
