// Remote players between two states: where the body is drawn as states come in, how far it goes
// on without them, and that a respawn or a jump across the map is never drawn in between.
#include "player/player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using player::RemotePlacement;
using player::RemoteTrack;

RemotePlacement At(double x, double z, glm::dvec3 facing = {0, 0, 1}, double pivot = 0) {
    RemotePlacement p;
    p.position = {x, 1.0, z};
    p.facing = facing;
    p.pivot = pivot;
    return p;
}

// The drawn position's x and z at this machine's `nowMs`.
glm::dvec3 Drawn(const RemoteTrack& track, double nowMs) {
    return track.Sample(nowMs)->position;
}

constexpr double kTolerance = 1e-9;

} // namespace

TEST(RemoteTrack, DrawsTheBodyBetweenTwoStatesOneSendIntervalBehind) {
    RemoteTrack track;
    EXPECT_FALSE(track.Sample(0.0)) << "nothing to draw before the first state";
    // Sent at 1000 and 1016 ms of the sender's clock; the second arrives 4 ms later in transit
    // than the first (a frame's poll), which does not move the clock mapping.
    track.Receive(At(0.0, 0.0, {0, 0, 1}, 0.0), 1000, false, 5000.0);
    track.Receive(At(1.0, 2.0, {1, 0, 0}, 0.2), 1016, false, 5020.0);
    const double delay = track.DelayMs();
    EXPECT_GT(delay, 15.0);
    EXPECT_LT(delay, 17.0) << "one send interval";

    // Half time between the two: the midpoint, the facing halfway round, half the pitch.
    const RemotePlacement mid = *track.Sample(5008.0 + delay);
    EXPECT_NEAR(mid.position.x, 0.5, kTolerance);
    EXPECT_NEAR(mid.position.y, 1.0, kTolerance);
    EXPECT_NEAR(mid.position.z, 1.0, kTolerance);
    EXPECT_NEAR(mid.facing.x, std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(mid.facing.z, std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(mid.pivot, 0.1, kTolerance);
    // The ends: each state exactly at its own time; a quarter of the way at a quarter.
    EXPECT_NEAR(Drawn(track, 5000.0 + delay).x, 0.0, kTolerance);
    EXPECT_NEAR(Drawn(track, 5004.0 + delay).z, 0.5, kTolerance);
    EXPECT_NEAR(Drawn(track, 5016.0 + delay).x, 1.0, kTolerance);
    // The last state received stays as it came.
    EXPECT_EQ(track.Latest()->position, glm::dvec3(1.0, 1.0, 2.0));
}

TEST(RemoteTrack, GoesOnAlongTheLastVelocityForAShortGapThenStops) {
    RemoteTrack track;
    track.Receive(At(0.0, 0.0), 1000, false, 5000.0);
    track.Receive(At(1.6, 0.0), 1016, false, 5016.0); // 0.1 scene units per millisecond
    const double newest = 5016.0 + track.DelayMs();
    EXPECT_NEAR(Drawn(track, newest + 50.0).x, 1.6 + 5.0, 1e-6) << "50 ms on";
    const double stop = 1.6 + 0.1 * RemoteTrack::kMaxExtrapolationMs;
    EXPECT_NEAR(Drawn(track, newest + RemoteTrack::kMaxExtrapolationMs).x, stop, 1e-6);
    EXPECT_NEAR(Drawn(track, newest + 2000.0).x, stop, 1e-3) << "stopped after the gap";
    // The next state brings it back between states.
    track.Receive(At(3.2, 0.0), 1032, false, 7000.0);
    EXPECT_NEAR(Drawn(track, 5024.0 + track.DelayMs()).x, 2.4, 1e-3);
}

TEST(RemoteTrack, ARespawnOrAJumpAcrossTheMapSnapsAndIsNeverInterpolated) {
    // Dead at one spawn, alive at another close by: a new life is a cut, however near.
    RemoteTrack track;
    track.Receive(At(0.0, 0.0), 1000, true, 5000.0);
    track.Receive(At(3.0, 0.0), 1016, false, 5016.0);
    double delay = track.DelayMs();
    EXPECT_EQ(Drawn(track, 5015.0 + delay).x, 0.0) << "the body waits where it died";
    EXPECT_EQ(Drawn(track, 5016.0 + delay).x, 3.0) << "then appears at the spawn";
    EXPECT_EQ(Drawn(track, 5080.0 + delay).x, 3.0) << "no velocity across the cut";

    // Alive both times but farther apart than anyone walks: a teleport.
    RemoteTrack jump;
    jump.Receive(At(0.0, 0.0), 1000, false, 5000.0);
    jump.Receive(At(0.0, 5.0), 1016, false, 5016.0);
    jump.Receive(At(0.0, 5.0 + RemoteTrack::kSnapDistance + 1.0), 1032, false, 5032.0);
    delay = jump.DelayMs();
    EXPECT_NEAR(Drawn(jump, 5008.0 + delay).z, 2.5, 1e-9) << "a walk is interpolated";
    EXPECT_EQ(Drawn(jump, 5031.0 + delay).z, 5.0);
    EXPECT_EQ(Drawn(jump, 5032.0 + delay).z, 5.0 + RemoteTrack::kSnapDistance + 1.0);
}

TEST(RemoteTrack, LateStatesAreDroppedWrappedClocksAndUnstampedPeersAreFollowed) {
    // A state overtaken in transit changes nothing; one sent in the same millisecond replaces.
    RemoteTrack track;
    track.Receive(At(0.0, 0.0), 1000, false, 5000.0);
    track.Receive(At(2.0, 0.0), 1016, false, 5016.0);
    track.Receive(At(9.0, 0.0), 1008, false, 5017.0);
    EXPECT_EQ(track.Latest()->position.x, 2.0);
    track.Receive(At(1.0, 0.0), 1016, false, 5017.0);
    EXPECT_EQ(track.Latest()->position.x, 1.0);

    // The sender's 32-bit clock wraps between two states 16 ms apart.
    RemoteTrack wrap;
    const int32_t before = std::numeric_limits<int32_t>::max() - 5;
    wrap.Receive(At(0.0, 0.0), before, false, 100.0);
    wrap.Receive(At(1.0, 0.0), int32_t(uint32_t(before) + 16u), false, 116.0);
    EXPECT_NEAR(Drawn(wrap, 108.0 + wrap.DelayMs()).x, 0.5, 1e-9);

    // A peer that sends no stamp: its states are timed by their arrival.
    RemoteTrack old;
    old.Receive(At(0.0, 0.0), std::nullopt, false, 300.0);
    old.Receive(At(1.0, 0.0), std::nullopt, false, 320.0);
    EXPECT_NEAR(Drawn(old, 310.0 + old.DelayMs()).x, 0.5, 1e-9);

    // Nonsense placements are not taken.
    RemoteTrack bad;
    bad.Receive(At(std::nan(""), 0.0), 1000, false, 5000.0);
    EXPECT_FALSE(bad.Sample(5000.0));
}
