// app/wiring.cpp — the one place where the modules' interfaces are connected to their
// implementations (the table is in app/wiring.h).
#include "app/wiring.h"

#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/system/system.h"
#include "platform/window/window.h"
#include "ui/lobby.h"
#include "ui/main_menu.h"
#include "ui/web_window.h"
#include "web/web.h"

namespace app {

namespace {

// A START plays the match through the game core, guarded against unreadable content; late
// joiners enter the match's world.
class GuardedMatchRunner : public net::MatchRunner {
public:
    int RunMatch() override { return PlayGuarded(core::StartMatch); }
    const player::World* MatchWorld() const override { return &core::MatchWorld(); }
};

// The render window's events of a match played alone: the game core's handlers only.
class AloneWindowEvents : public ui::RenderWindowEvents {
public:
    void MessageTimerExpired() override { core::OnMessageTimer(); }
    void KeyTimerExpired() override { core::OnKeyTimer(); }
    void ChatSent(std::string_view) override {}
    void ChatClosed() override { core::OnChatClosed(); }
    void Unloaded() override {}
};

// ... and of a match played over a session: chat lines go to every player, and the session is
// left when the window goes.
class SessionWindowEvents : public AloneWindowEvents {
public:
    void ChatSent(std::string_view line) override { net::SendChat(line); }
    void Unloaded() override { net::LeaveSession(); }
};

// The implementations, alive for the whole process.
net::MatchLink networkLink;
GuardedMatchRunner matchRunner;
web::MatchClient webServices;
web::GameDirectory webDirectory;
ui::WebWindowView webWindow;
AloneWindowEvents aloneEvents;
SessionWindowEvents sessionEvents;

} // namespace

void ConnectModules() {
    core::SetMatchWeb(&webServices);
    net::SetGameDirectory(&webDirectory);
    net::SetWaitingRoom(&ui::WaitingRoomForNetwork());
    web::SetWaitView(&webWindow);
    web::SetSessionListView(&ui::SessionListForWeb());
    ui::SetPracticeRunner([] {
        // A practice match is played on this machine alone: no session, and no report to the
        // web service's ranking of matches between people (the totals here still count it).
        core::SetMatchNetwork(nullptr);
        core::SetMatchWeb(nullptr);
        return PlayGuarded(core::StartMatch);
    });
}

void ConnectNetwork() {
    core::SetMatchNetwork(&networkLink);
    net::SetMatchRunner(&matchRunner);
}

std::shared_ptr<ui::RenderWindow>
ConnectMatchWindow(const std::array<std::shared_ptr<window::Picture>, 3>& pictures,
                   MatchKind kind) {
    ui::RenderWindowEvents& events = kind == MatchKind::OnSession
                                         ? static_cast<ui::RenderWindowEvents&>(sessionEvents)
                                         : aloneEvents;
    auto render = std::make_shared<ui::RenderWindow>(pictures, events);
    render->SetSelf(render);
    core::SetMatchWindow(render.get());
    return render;
}

void DisconnectMatchWindow() {
    core::SetMatchWindow(nullptr);
}

int PlayGuarded(const std::function<int()>& play) {
    try {
        return play();
    } catch (const core::FatalError& error) {
        sys::Log(std::string("fatal: ") + error.what());
        window::MsgBox(error.what(), core::ProgramName, window::Buttons::Ok);
        return kExitFatal;
    }
}

} // namespace app
