// platform/window/timer.cpp — timer queues and timers.
#include "platform/window/window.h"

#include <SDL.h>

#include <algorithm>
#include <cassert>

namespace window {

TimerQueue::TimerQueue(Clock clock) : clock_(std::move(clock)) {
    assert(clock_ && "a timer queue needs a clock");
}

TimerQueue::~TimerQueue() {
    for (Timer* timer : timers_)
        if (timer != nullptr) timer->queue_ = nullptr;
}

void TimerQueue::FireDue() {
    const bool outer = !firing_;
    firing_ = true;
    // Timers created by a callback are appended and wait for the next call.
    const size_t count = timers_.size();
    for (size_t i = 0; i < count; ++i) {
        Timer* timer = timers_[i];
        if (timer == nullptr || !timer->enabled_) continue;
        const uint64_t now = clock_();
        if (now < timer->due_) continue;
        if (timer->mode_ == TimerMode::OneShot) {
            timer->enabled_ = false;
        } else {
            // The next tick is one interval after this one; a queue that was not fired for a
            // long time fires once, not once per missed interval.
            timer->due_ += std::max<uint32_t>(timer->intervalMs_, 1);
            if (timer->due_ <= now) timer->due_ = now + std::max<uint32_t>(timer->intervalMs_, 1);
        }
        if (timer->onTimer_) timer->onTimer_();
    }
    if (outer) {
        firing_ = false;
        std::erase(timers_, nullptr);
    }
}

Timer::Timer(TimerQueue& queue, uint32_t intervalMs, TimerMode mode, std::function<void()> onTimer)
    : queue_(&queue), intervalMs_(intervalMs), mode_(mode), onTimer_(std::move(onTimer)) {
    queue.timers_.push_back(this);
}

Timer::~Timer() {
    if (queue_ == nullptr) return;
    auto& timers = queue_->timers_;
    const auto it = std::find(timers.begin(), timers.end(), this);
    if (it == timers.end()) return;
    if (queue_->firing_)
        *it = nullptr; // the firing loop skips and prunes the slot
    else
        timers.erase(it);
}

void Timer::Enable() {
    if (enabled_ || queue_ == nullptr) return;
    enabled_ = true;
    due_ = queue_->Now() + intervalMs_;
}

void Timer::Disable() {
    enabled_ = false;
}

void Timer::SetInterval(uint32_t intervalMs) {
    intervalMs_ = intervalMs;
    if (enabled_ && queue_ != nullptr) due_ = queue_->Now() + intervalMs_;
}

TimerQueue& Timers() {
    static TimerQueue queue([] { return static_cast<uint64_t>(SDL_GetTicks64()); });
    return queue;
}

} // namespace window
