// A real player record walks the navigation graph's paths on the installed maps, steered the
// way the automation steers the local player (the mouse turns the body toward the next
// waypoint, the forward key is held): it reaches the tower top of "cour" by its ladder, the
// rampart by its stairs, the catwalks of "usine", the second section of "couloirs" and both
// floors of "entrepot": the graph's edges are walks the player's own rules let a body make.
#include "bots/nav.h"
#include "tests/unit/player/match_world.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using playertest::MatchWorld;
using playertest::Models;

class WalkThePath : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Models::Installed(); }
};

float Across(const glm::vec3& a, const glm::vec3& b) {
    return std::hypot(a.x - b.x, a.z - b.z);
}

// The body has reached waypoint `i` of `path`: it is within the graph's reach of it across, or
// has passed it along the edge leading there, on its floor (heights lag behind on stairs and
// drops: a body falls one unit a frame).
bool Reached(const glm::vec3& at, const bots::NavPath& path, size_t i) {
    const glm::vec3 w = path.waypoints[i], from = path.waypoints[i - 1];
    if (std::fabs(at.y - w.y) > 2.0f) return false;
    const glm::vec3 along(w.x - from.x, 0.0f, w.z - from.z);
    const bool passed = glm::dot(glm::vec3(at.x - w.x, 0.0f, at.z - w.z), along) > 0.0f;
    return Across(at, w) < bots::NavGraph::kReach || (passed && Across(at, w) < 2.0f);
}

// Steers `m`'s local player along the graph's path to `goal`, one waypoint after the other, for
// at most `frames` frames. Returns the frames it took to stand on the path's last node, or -1.
int Walk(MatchWorld& m, const bots::NavGraph& graph, const glm::vec3& goal, int frames,
         bots::NavPath& path) {
    if (!graph.FindPath(m.Pos(), goal, {}, path)) return -1;
    m.p.Souris = true; // the "mouse control" setting: the cursor turns the body
    m.Key(playertest::kUp, true);
    size_t next = 1;
    for (int frame = 0; frame < frames; ++frame) {
        const glm::vec3 at = m.Pos();
        while (next < path.waypoints.size() && Reached(at, path, next))
            ++next;
        if (next == path.waypoints.size()) {
            m.Key(playertest::kUp, false);
            return frame;
        }
        // The yaw toward the waypoint, as the cursor's offset from the view's centre.
        glm::vec3 d, up;
        m.p.joueur->GetOrientation(m.w.sceneFrame.get(), d, up);
        const glm::vec3 w = path.waypoints[next] - at;
        const double yaw = std::atan2(d.z * w.x - d.x * w.z, d.x * w.x + d.z * w.z) * 180.0 / M_PI;
        const double cx = m.viewport.x + m.viewport.width / 2.0;
        const double ex = m.viewport.x + m.viewport.width;
        const int rcy = int(std::nearbyint(m.viewport.y + m.viewport.height / 2.0));
        input::InjectMouseMove(int(std::nearbyint(cx + yaw * ex * 3.0 / 180.0)), rcy);
        m.Steps(1);
    }
    m.Key(playertest::kUp, false);
    return -1;
}

TEST_F(WalkThePath, ABodySteeredAlongThePathsReachesLaddersStairsRampsAndTheOtherSection) {
    struct Journey {
        const char* map;
        uint32_t seed;     // picks the spawn point the walk starts from
        glm::vec3 goal;    // where the body is to stand at the end (body root)
        const char* what;  // for the messages
        bots::EdgeKind by; // an edge of this kind is on the way
    };
    const Journey journeys[] = {
        {"cour", 3, {56, 26.5f, 56}, "the tower top, by its ladder", bots::EdgeKind::Ladder},
        {"cour", 3, {-40, 10.5f, -74}, "the rampart, by its stairs", bots::EdgeKind::Walk},
        {"usine", 3, {-40, 14.5f, -44}, "the south catwalk", bots::EdgeKind::Walk},
        {"usine", 5, {60, 14.5f, 44}, "the north catwalk", bots::EdgeKind::Walk},
        {"couloirs",
         3,
         {63.4f, -3, -405.5f},
         "the far end of the second section, down and up "
         "the grand stair",
         bots::EdgeKind::Walk},
        {"entrepot", 3, {5, 4.5f, 63}, "the north mezzanine, by its ramp", bots::EdgeKind::Walk},
        {"entrepot", 3, {9, -24.5f, -11}, "the ground, down a ramp", bots::EdgeKind::Walk},
    };
    for (const Journey& j : journeys) {
        SCOPED_TRACE(std::string(j.map) + ": " + j.what);
        MatchWorld m(j.map, Models::Installed(), 0, j.seed);
        m.Steps(2);
        const bots::NavGraph graph = bots::NavGraph::Build(m.w);
        bots::NavPath path;
        const glm::vec3 start = m.Pos();
        const int frames = Walk(m, graph, j.goal, 3000, path);
        ASSERT_FALSE(path.nodes.empty()) << "no path";
        EXPECT_GE(frames, 0) << "stopped at " << m.Pos().x << " " << m.Pos().y << " " << m.Pos().z
                             << " from " << start.x << " " << start.y << " " << start.z;
        EXPECT_LT(Across(m.Pos(), j.goal), 2.0f);
        EXPECT_NEAR(m.Pos().y, j.goal.y, 0.01f);
        bool by = false;
        for (const bots::EdgeId e : path.edges)
            by = by || graph.Edges()[e].kind == j.by;
        EXPECT_TRUE(by);
    }
}

} // namespace
