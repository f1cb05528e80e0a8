// Timers against a hand-driven clock: one-shot, repeating, and re-enabling.
#include "platform/window/window.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct ManualClock {
    uint64_t now = 1000;
    window::Clock Get() {
        return [this] { return now; };
    }
};

TEST(Timer, OneShotFiresOnceAfterItsInterval) {
    ManualClock clock;
    window::TimerQueue queue(clock.Get());
    int fired = 0;
    window::Timer timer(queue, 10000, window::TimerMode::OneShot, [&] { ++fired; });
    queue.FireDue();
    clock.now += 20000;
    queue.FireDue();
    EXPECT_EQ(fired, 0) << "a timer starts disabled";

    timer.Enable();
    clock.now += 9999;
    queue.FireDue();
    EXPECT_EQ(fired, 0);
    clock.now += 1;
    queue.FireDue();
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer.Enabled());
    clock.now += 50000;
    queue.FireDue();
    EXPECT_EQ(fired, 1);
}

TEST(Timer, RepeatingFiresEveryIntervalUntilDisabled) {
    ManualClock clock;
    window::TimerQueue queue(clock.Get());
    int fired = 0;
    window::Timer timer(queue, 100, window::TimerMode::Repeating, [&] { ++fired; });
    timer.Enable();
    for (int step = 0; step < 10; ++step) {
        clock.now += 50;
        queue.FireDue();
    }
    EXPECT_EQ(fired, 5);
    // A pump that stalled for a second fires once, then keeps the normal rhythm.
    clock.now += 1000;
    queue.FireDue();
    EXPECT_EQ(fired, 6);
    clock.now += 99;
    queue.FireDue();
    EXPECT_EQ(fired, 6);
    clock.now += 1;
    queue.FireDue();
    EXPECT_EQ(fired, 7);

    timer.Disable();
    clock.now += 500;
    queue.FireDue();
    EXPECT_EQ(fired, 7);
}

TEST(Timer, EnablingAnEnabledTimerKeepsItsCountdown) {
    // The main loop enables the 400 ms key timer every frame and relies on it firing.
    ManualClock clock;
    window::TimerQueue queue(clock.Get());
    int fired = 0;
    window::Timer keyTimer(queue, 400, window::TimerMode::OneShot, [&] { ++fired; });
    for (int frame = 0; frame < 30; ++frame) { // 30 frames of 16 ms = 480 ms
        keyTimer.Enable();
        queue.FireDue();
        clock.now += 16;
    }
    EXPECT_EQ(fired, 1);

    // Disabled then enabled again: a full interval from the new enable.
    keyTimer.Enable();
    clock.now += 300;
    keyTimer.Disable();
    keyTimer.Enable();
    clock.now += 300;
    queue.FireDue();
    EXPECT_EQ(fired, 1);
    clock.now += 100;
    queue.FireDue();
    EXPECT_EQ(fired, 2);

    // A new interval on an enabled timer counts from now.
    keyTimer.Enable();
    clock.now += 300;
    keyTimer.SetInterval(1000);
    clock.now += 900;
    queue.FireDue();
    EXPECT_EQ(fired, 2);
    clock.now += 100;
    queue.FireDue();
    EXPECT_EQ(fired, 3);
}

TEST(Timer, CallbacksMayRearmCreateAndDestroyTimers) {
    ManualClock clock;
    window::TimerQueue queue(clock.Get());
    std::unique_ptr<window::Timer> victim;
    std::unique_ptr<window::Timer> child;
    int victimFired = 0;
    int childFired = 0;
    int selfFired = 0;
    window::Timer self(queue, 10, window::TimerMode::OneShot, [&] {
        ++selfFired;
        victim.reset(); // destroyed while the queue is firing
        if (!child) {
            child = std::make_unique<window::Timer>(queue, 10, window::TimerMode::OneShot,
                                                    [&] { ++childFired; });
            child->Enable();
        }
        self.Enable(); // a one-shot may re-arm itself
    });
    victim = std::make_unique<window::Timer>(queue, 10, window::TimerMode::OneShot,
                                             [&] { ++victimFired; });
    self.Enable();
    victim->Enable();
    clock.now += 10;
    queue.FireDue();
    EXPECT_EQ(selfFired, 1);
    EXPECT_EQ(victimFired, 0);
    EXPECT_EQ(childFired, 0) << "a timer created by a callback waits for its own interval";
    clock.now += 10;
    queue.FireDue();
    EXPECT_EQ(selfFired, 2);
    EXPECT_EQ(childFired, 1);
}

TEST(Timer, TimersOutlivingTheirQueueAreHarmless) {
    ManualClock clock;
    auto queue = std::make_unique<window::TimerQueue>(clock.Get());
    window::Timer timer(*queue, 10, window::TimerMode::Repeating, [] {});
    timer.Enable();
    queue.reset();
    timer.Disable();
    timer.Enable(); // no queue: stays disabled, touches nothing
    EXPECT_FALSE(timer.Enabled());
}

} // namespace
