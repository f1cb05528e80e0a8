// player/remote.cpp — remote players between two states: the track of the states received,
// interpolation, extrapolation and cuts, and the animations played on between states.
//
// Index
//   1. The clock
//   2. RemoteTrack: receiving, the sender's clock, sampling
//   3. The remote animations (PoursuitAnimations)
//
// Per-frame code (Sample, PoursuitAnimations): allocates nothing and throws nothing.
#include "player/player.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace player {

namespace {

constexpr double kFramesPerMs = 1.0 / 30.0; // animation frames per millisecond (local: 20/30 per
                                            // 20 ms of ratio)

bool Finite(const glm::dvec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The facing between `a` and `b` at `t` (0..1): along the arc, as a unit vector; `b` when the
// two are opposite or not directions.
glm::dvec3 Facing(const glm::dvec3& a, const glm::dvec3& b, double t) {
    const glm::dvec3 mixed = a * (1.0 - t) + b * t;
    const double length = glm::length(mixed);
    return length > 1e-6 && std::isfinite(length) ? mixed / length : b;
}

} // namespace

// =============================================================================================
// 1. The clock
// =============================================================================================

double NowMs() {
    static const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - origin)
        .count();
}

// =============================================================================================
// 2. RemoteTrack
// =============================================================================================

const RemoteTrack::Entry& RemoteTrack::At(size_t i) const {
    return entries_[(first_ + i) % kCapacity];
}

const RemotePlacement* RemoteTrack::Latest() const {
    return count_ == 0 ? nullptr : &At(count_ - 1).placement;
}

double RemoteTrack::LatestSentMs() const {
    return count_ == 0 ? 0.0 : At(count_ - 1).sentMs;
}

void RemoteTrack::Clear() {
    *this = RemoteTrack{};
}

void RemoteTrack::Receive(const RemotePlacement& placement, std::optional<int32_t> sentMs,
                          bool dead, double nowMs) {
    if (!Finite(placement.position) || !Finite(placement.facing) ||
        !std::isfinite(placement.pivot) || !std::isfinite(nowMs))
        return;
    // The sender's time, unwrapped: a 32-bit stamp moves on by the signed difference from the
    // last one. A peer without stamps is timed by arrival.
    const int32_t raw = sentMs ? *sentMs : int32_t(int64_t(std::llround(nowMs)));
    double sent = 0.0;
    if (count_ > 0) {
        const int32_t step = int32_t(uint32_t(raw) - uint32_t(lastRaw_));
        if (step < 0) return; // late: a newer state is already here
        if (step == 0) {      // sent within the same millisecond: the newer placement stands
            Entry& newest = entries_[(first_ + count_ - 1) % kCapacity];
            newest.placement = placement;
            newest.cut = newest.cut || (lastDead_ && !dead);
            lastDead_ = dead;
            return;
        }
        sent = At(count_ - 1).sentMs + double(step);
    } else {
        sent = sentMs ? double(*sentMs) : double(raw);
    }
    lastRaw_ = raw;

    // The smallest transit of the recent states maps the sender's clock onto this one.
    transits_[transitCount_++ % kClockSamples] = nowMs - sent;
    offsetMs_ = *std::min_element(transits_.begin(),
                                  transits_.begin() + std::min(transitCount_, kClockSamples));
    if (count_ > 0) {
        // One send interval: the mean spacing of the states, states sent at once on an event
        // (a shot, a hit) weighing as much as the others.
        const double spacing = sent - At(count_ - 1).sentMs;
        delayMs_ = std::clamp(delayMs_ * 0.9 + spacing * 0.1, kMinDelayMs, kMaxDelayMs);
    }

    Entry e;
    e.placement = placement;
    e.sentMs = sent;
    e.cut = count_ > 0 &&
            ((lastDead_ && !dead) ||
             glm::distance(At(count_ - 1).placement.position, placement.position) > kSnapDistance);
    lastDead_ = dead;
    if (count_ == kCapacity) {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
    entries_[(first_ + count_) % kCapacity] = e;
    ++count_;
}

std::optional<double> RemoteTrack::SenderNow(double nowMs) const {
    if (count_ == 0) return std::nullopt;
    return nowMs - offsetMs_;
}

std::optional<RemotePlacement> RemoteTrack::Sample(double nowMs) const {
    if (count_ == 0) return std::nullopt;
    const double t = *SenderNow(nowMs) - delayMs_;
    // The newest state at or before t.
    size_t i = count_;
    while (i > 0 && At(i - 1).sentMs > t)
        --i;
    if (i == 0) return At(0).placement; // before every state kept
    const Entry& a = At(i - 1);
    if (i < count_) {
        const Entry& b = At(i);
        if (b.cut) return a.placement; // the jump comes with b's time
        const double f = std::clamp((t - a.sentMs) / (b.sentMs - a.sentMs), 0.0, 1.0);
        RemotePlacement p;
        p.position = a.placement.position + (b.placement.position - a.placement.position) * f;
        p.facing = Facing(a.placement.facing, b.placement.facing, f);
        p.pivot = a.placement.pivot + (b.placement.pivot - a.placement.pivot) * f;
        return p;
    }
    // Past the newest state: on along the last velocity for a short while, then still.
    RemotePlacement p = a.placement;
    if (count_ >= 2 && !a.cut) {
        const Entry& before = At(count_ - 2);
        const double span = a.sentMs - before.sentMs;
        if (span > 0.5) {
            const double ahead = std::min(t - a.sentMs, kMaxExtrapolationMs);
            p.position += (a.placement.position - before.placement.position) * (ahead / span);
        }
    }
    return p;
}

// =============================================================================================
// 3. The remote animations
// =============================================================================================

namespace {

// Frame `f` of an animation whose last frame is `last`: looping, or held at the end for a body
// that is dead (the death animation).
double WrapFrame(double f, double last, bool hold) {
    if (last <= 0.0 || !std::isfinite(f)) return 0.0;
    if (f < last) return std::max(f, 0.0);
    return hold ? last : std::fmod(f, last);
}

} // namespace

void player::PoursuitAnimations(double nowMs) {
    AnimationDistante& a = animDistante_;
    const double elapsed = std::clamp(nowMs - a.atMs, 0.0, 1000.0);
    a.atMs = nowMs;
    const std::optional<double> senderNow = trajet.SenderNow(nowMs);
    // The frames the received ones have reached by now on the sender's clock.
    const double since =
        senderNow ? std::clamp(*senderNow - trajet.LatestSentMs(), 0.0, 1000.0) : 0.0;
    const bool dead = joueur && joueur->GetTraversalOptions() == scene::kFlagRendered;
    auto follow = [&](double& local, int32_t& playing, int32_t index, double received) {
        const double last = DerniereImage(index);
        const double expected = WrapFrame(received + since * kFramesPerMs, last, dead);
        const double next = WrapFrame(local + elapsed * kFramesPerMs, last, dead);
        double gap = std::fabs(next - expected);
        if (last > 0.0) gap = std::min(gap, last - gap); // across the loop's end
        local = playing != index || gap > 1.0 ? expected : next;
        playing = index;
    };
    follow(a.jambes, a.anipos, Anipos, fps);
    if (AniBuste >= 0)
        follow(a.torse, a.aniBuste, AniBuste, fps2);
    else
        a.torse = fps2, a.aniBuste = AniBuste;
}

} // namespace player
