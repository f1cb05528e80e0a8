// app/wiring.h — where the modules meet. Every interface a lower module declares for the layers
// above it is connected to its implementation here (app/wiring.cpp), and nowhere else:
//
//   core::MatchWindow       ui::RenderWindow                 ConnectMatchWindow
//   core::MatchNetwork      net::MatchLink                   ConnectNetwork
//   core::MatchWeb          web::MatchClient               ConnectModules
//   net::MatchRunner        the guarded core::StartMatch     ConnectNetwork
//   net::GameDirectory      web::GameDirectory               ConnectModules
//   net::WaitingRoomView    ui::WaitingRoomForNetwork()      ConnectModules
//   web::WaitView           ui::WebWindowView                ConnectModules
//   web::SessionListView    ui::SessionListForWeb()          ConnectModules
//   ui::RenderWindowEvents  the game core's handlers (+ net)  ConnectMatchWindow
//
// Everything runs on the user-interface thread; the objects connected live for the whole
// process, except the render window (see ConnectMatchWindow).
#pragma once

#include "ui/render_window.h"

#include <array>
#include <functional>
#include <memory>

namespace app {

// The exit status of a match that stopped on content it could not read.
inline constexpr int kExitFatal = 3;

// Connects what every run uses; called once at start-up, before any screen or match: the web
// client behind the session code and the match (publishing and withdrawing an internet game,
// the download of a missing map, the match report; in LAN mode they do nothing), the web
// window, and the lobby's views for the receiver and the web client.
void ConnectModules();

// Connects the session layer, for the runs that play over a session: a match polls the network
// every pass and sends the local player's messages through it, and a START plays the match
// guarded (PlayGuarded).
void ConnectNetwork();

// Which events a match's render window forwards beyond the game core's own handlers.
enum class MatchKind {
    Alone,     // chat lines go nowhere; closing the window leaves nothing
    OnSession, // chat lines go to every player; closing the window leaves the session
};

// Creates the render window a match is drawn in and makes it the game core's match window.
// `pictures` are the splash's three pictures (any may be null). The window stays the match
// window until DisconnectMatchWindow.
std::shared_ptr<ui::RenderWindow>
ConnectMatchWindow(const std::array<std::shared_ptr<window::Picture>, 3>& pictures, MatchKind kind);
void DisconnectMatchWindow();

// Runs a match (`play`); one that stops on content it cannot read shows why in a message box and
// gives kExitFatal.
int PlayGuarded(const std::function<int()>& play);

} // namespace app
