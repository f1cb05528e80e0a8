// ui/deferred.h — work a screen starts from its Draw() but that must run outside the frame.
#pragma once

#include <functional>

namespace ui {

// Runs `action` at the next pass of the event pump, before the screens are drawn (from a timer
// of window::Timers()). A screen's Draw() runs inside a Dear ImGui frame, where nothing may open
// a modal box or pump events; button handlers that show message boxes, call the web client or
// start a match post themselves here instead. Actions run once, in the order posted.
void Defer(std::function<void()> action);

} // namespace ui
