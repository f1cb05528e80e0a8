// ui/deferred.cpp — the queue of deferred screen actions.
#include "ui/deferred.h"

#include "platform/window/window.h"

#include <utility>
#include <vector>

namespace ui {

namespace {

std::vector<std::function<void()>>& Pending() {
    static std::vector<std::function<void()>> pending;
    return pending;
}

// One-shot, 0 ms: fires at the next FireDue. An action may post more (they run at the pass
// after) or pump events itself (a modal box, a match), which fires the timer again inside it.
window::Timer& Runner() {
    static window::Timer runner(window::Timers(), 0, window::TimerMode::OneShot, [] {
        std::vector<std::function<void()>> now;
        now.swap(Pending());
        for (std::function<void()>& action : now)
            action();
    });
    return runner;
}

} // namespace

void Defer(std::function<void()> action) {
    if (!action) return;
    Pending().push_back(std::move(action));
    Runner().Enable();
}

} // namespace ui
