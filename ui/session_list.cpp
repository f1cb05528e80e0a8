// ui/session_list.cpp — "Join or Create Game": the sessions found, the web's running games,
// join, create, refresh and cancel.
#include "core/game_state.h"
#include "net/net.h"
#include "platform/system/system.h"
#include "ui/deferred.h"
#include "ui/lobby.h"
#include "ui/lobby_local.h"
#include "ui/screen_local.h"
#include "web/web.h"

#include <imgui.h>

namespace ui {

namespace {
// Widths of the session list beside the web game's message and alone (3045 and 5385 twips).
constexpr float kSessionsNarrowPx = 203.0f;
constexpr float kSessionsWidePx = 359.0f;
constexpr float kWidthPx = 620.0f;
constexpr float kHeightPx = 470.0f;
} // namespace

SessionListScreen::SessionListScreen() : window::Screen(kSessionListScreen) {}

void SessionListScreen::Show(bool internet) {
    internet_ = internet;
    if (internet_) {
        // The games are searched per web entry; nothing is listed before one is chosen.
        sessions_.clear();
        SessionsListed();
        comment_.clear();
        FillServers();
    }
    window::OpenScreen(SessionListWindow());
}

bool SessionListScreen::UpdateSessionList() {
    window::SetPointer(window::Pointer::Hourglass);
    const bool ok = net::UpdateSessionList(sessions_);
    window::SetPointer(window::Pointer::Normal);
    SessionsListed();
    return ok;
}

void SessionListScreen::SessionsListed() {
    joinEnabled_ = !sessions_.empty();
    session_ = sessions_.empty() ? -1 : 0;
    sys::Log("session list: " + std::to_string(sessions_.size()) + " game(s)");
    for (const std::string& entry : sessions_)
        sys::Log("session list: " + entry);
    // One host was asked and none of its games answered: say where nobody was found.
    noGame_.clear();
    if (sessions_.empty() && !net::ServerAddress.host.empty()) {
        std::string where = net::ServerAddress.host;
        if (net::ServerAddress.port != 0) where += ":" + std::to_string(net::ServerAddress.port);
        noGame_ = "No game answers at " + where + ".";
        sys::Log("session list: " + noGame_);
    }
}

void SessionListScreen::ClearLists() {
    noGame_.clear();
    sessions_.clear();
    session_ = -1;
    joinEnabled_ = false;
    servers_.clear();
    server_ = -1;
}

void SessionListScreen::FillServers() {
    servers_ = web::ServerLines;
    server_ = -1;
}

void SessionListScreen::ChooseServer(int index) {
    if (index < 0 || index >= int(web::ServerList.size())) return;
    const web::ServerRecord record = web::ServerList[size_t(index)];
    // 1. Only a game of this very release can be joined.
    if (record.version != core::VersionText) {
        window::Beep();
        window::MsgBox(VersionMismatchText(record.version, core::VersionText), core::ProgramName);
        return;
    }
    // 2. The game's message, then its sessions.
    window::SetPointer(window::Pointer::Hourglass);
    comment_ = record.comment;
    window::Yield();
    net::ConnectInternet(record.ip, sessions_);
    SessionsListed();
    window::SetPointer(window::Pointer::Normal);
}

void SessionListScreen::Join() {
    if (!net::JoinGame(session_)) return;
    window::CloseScreen(*this);
    WaitingRoomWindow()->Show(false);
}

void SessionListScreen::Draw() {
    bool open = true;
    screen_util::BeginScreenWindow("Join or Create Game###session_list", kWidthPx, kHeightPx,
                                   &open);
    const float frameHeight = ImGui::GetContentRegionAvail().y * 0.5f - 4.0f;

    screen_util::BeginFrame("##games", "AVAILABLES GAMES", 0.0f, frameHeight);
    ImGui::TextUnformatted("CLICK ON GAME TO JOIN");
    const bool withComment = !comment_.empty();
    ImGui::BeginChild("##sessionsArea",
                      ImVec2(withComment ? kSessionsNarrowPx : kSessionsWidePx, 0.0f));
    window::ListBox("##lstSessions", sessions_, session_, 6);
    if (!noGame_.empty()) ImGui::TextWrapped("%s", noGame_.c_str());
    ImGui::EndChild();
    if (withComment) {
        ImGui::SameLine();
        ImGui::BeginGroup();
        ImGui::TextUnformatted("MESSAGE FROM SERVER");
        ImGui::BeginChild("##TxtComment", ImVec2(0.0f, 0.0f), true);
        ImGui::TextWrapped("%s", comment_.c_str());
        ImGui::EndChild();
        ImGui::EndGroup();
    }
    screen_util::EndFrame();

    if (window::LabelButton("CANCEL")) Defer(EndProgram);
    ImGui::SameLine(0.0f, 30.0f);
    if (window::LabelButton("NEW GAME")) {
        window::CloseScreen(*this);
        CreateGameWindow()->Show();
    }
    ImGui::SameLine(0.0f, 30.0f);
    if (window::LabelButton("JOIN GAME", joinEnabled_ && session_ >= 0)) Defer([this] { Join(); });
    ImGui::SameLine(0.0f, 30.0f);
    if (window::LabelButton("REFRESH GAMES")) Defer([this] { UpdateSessionList(); });

    // The web's running games: usable in internet mode only.
    ImGui::BeginDisabled(!internet_);
    screen_util::BeginFrame("##Frame1", "AVAILABLES SERVER", 0.0f, 0.0f);
    ImGui::TextUnformatted("CLICK ON SERVER TO SEARCH GAME");
    if (window::ListBox("##lstserv", servers_, server_, 5) && server_ >= 0)
        Defer([this, index = server_] { ChooseServer(index); });
    if (window::LabelButton("REFRESH SERVER"))
        Defer([this] {
            web::server_en_cours();
            FillServers();
        });
    screen_util::EndFrame();
    ImGui::EndDisabled();

    ImGui::End();
    if (!open) Defer(EndProgram);
}

} // namespace ui
