// ui/waiting_room.cpp — "Waiting for Host to Start Game": the players in the session, the chat,
// the host's START and CANCEL. Its 100 ms timer runs the receiver until a match starts.
#include "core/game_state.h"
#include "net/net.h"
#include "platform/system/system.h"
#include "ui/deferred.h"
#include "ui/lobby.h"
#include "ui/lobby_local.h"
#include "ui/screen_local.h"

#include <imgui.h>

#include <algorithm>
#include <ctime>

namespace ui {

namespace {

constexpr float kWidthPx = 560.0f;
constexpr float kHeightPx = 480.0f;
constexpr size_t kChatMaxLength = 255; // bytes of one chat line
constexpr const char* kTextEnumFailed = "Error in player enumeration.";

// A received START ran the whole match inside the receiver; the program ends after it. A
// message box shown by a handler pumps events, which fires this timer again: that inner tick
// leaves the queue to the outer one.
void Tick() {
    static bool receiving = false;
    if (receiving) return;
    receiving = true;
    net::ReceiveMessages();
    receiving = false;
    if (net::MatchStatus) EndProgram();
}

} // namespace

WaitingRoomScreen::WaitingRoomScreen()
    : window::Screen(kWaitingRoomScreen),
      timer(window::Timers(), kTimerMs, window::TimerMode::Repeating, Tick) {}

void WaitingRoomScreen::Show(bool startEnabled) {
    startEnabled_ = startEnabled;
    window::OpenScreen(WaitingRoomWindow());
    timer.Enable();
    focusMess_ = true;
    UpdateWaiting();
}

void WaitingRoomScreen::Hide() {
    timer.Disable();
    window::CloseScreen(*this);
}

void WaitingRoomScreen::UpdateWaiting() {
    if (!net::DPlay || !net::DPlay->IsOpen()) {
        window::MsgBox(kTextEnumFailed, core::ProgramName);
        return;
    }
    const std::vector<net::SessionPlayer> players = net::EnumPlayers();
    status_ = WaitingStatus(int(players.size()), net::DPlay->Description().maxPlayers);
    players_.clear();
    for (const net::SessionPlayer& p : players)
        players_.push_back(WaitingPlayerLine(p.friendlyName, p.formalName));
    if (net::IsHost) startEnabled_ = true;
    sys::Log("waiting room: " + status_);
    window::Beep();
}

void WaitingRoomScreen::AppendChat(std::string_view text) {
    history_.append(text);
    std::string line(text);
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::replace(line.begin(), line.end(), '\n', ' ');
    sys::Log("waiting room chat:" + line);
    scrollHistory_ = true;
    window::Beep();
}

void WaitingRoomScreen::SendMessage() {
    mess_ = TrimSpaces(mess_);
    if (!mess_.empty()) {
        net::SendChat(mess_);
        // The writer is named as the other machines name them: the player's name.
        AppendChat(net::ChatHistoryEntry(net::TimeOfDay(), net::PlayerName, mess_));
    }
    focusMess_ = true;
}

void WaitingRoomScreen::Start() {
    // START to everyone, then the match here; the program ends after it.
    net::SendStartToAll();
    EndProgram();
}

void WaitingRoomScreen::Draw() {
    bool open = true;
    screen_util::BeginScreenWindow("Waiting for Host to Start Game###waiting_room", kWidthPx,
                                   kHeightPx, &open);
    screen_util::BeginFrame("##waiting", "Waiting Game", 0.0f, 170.0f);
    window::ListBox("##lstPlayers", players_, player_, 4);
    ImGui::TextUnformatted(status_.c_str());
    screen_util::EndFrame();

    if (window::LabelButton("START", startEnabled_)) Defer([this] { Start(); });
    ImGui::SameLine(0.0f, 60.0f);
    if (window::LabelButton("CANCEL")) open = false;

    screen_util::BeginFrame("##chat", "CHAT WITH OTHERS PLAYERS", 0.0f, 0.0f);
    ImGui::SetNextItemWidth(-130.0f);
    bool send = window::InputLine("##mess", mess_, kChatMaxLength, focusMess_);
    focusMess_ = false;
    ImGui::SameLine();
    send = window::Button("SEND MESSAGE") || send;
    ImGui::BeginChild("##list_mess", ImVec2(0.0f, 0.0f), true);
    ImGui::TextUnformatted(history_.data(), history_.data() + history_.size());
    if (scrollHistory_) {
        ImGui::SetScrollHereY(1.0f); // the newest line in view
        scrollHistory_ = false;
    }
    ImGui::EndChild();
    screen_util::EndFrame();
    ImGui::End();

    if (send) SendMessage();
    // CANCEL or the close box: leave the session, then the program ends.
    if (!open)
        Defer([this] {
            timer.Disable();
            net::LeaveSession();
            window::CloseScreen(*this);
            window::CloseScreen(*SessionListWindow());
            EndProgram();
        });
}

} // namespace ui
