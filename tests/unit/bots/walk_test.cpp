// A real player record walks the navigation graph's paths on the installed maps, steered the
// way the automation steers the local player (the mouse turns the body toward the next
// waypoint, the forward key is held): it reaches the tower top of "cour" by its ladder, the
// rampart by its stairs, the catwalks of "usine", the second section of "couloirs" and both
// floors of "entrepot": the graph's edges are walks the player's own rules let a body make.
#include "bots/nav.h"
#include "tests/unit/player/match_world.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Turns `m`'s local player toward `target` in the next frame, as a mouse moved by the yaw's
// offset from the view's centre does (mouse control on).
void Steer(MatchWorld& m, const glm::vec3& target) {
    glm::vec3 d, up;
    m.p.joueur->GetOrientation(m.w.sceneFrame.get(), d, up);
    const glm::vec3 w = target - m.Pos();
    const double yaw = std::atan2(d.z * w.x - d.x * w.z, d.x * w.x + d.z * w.z) * 180.0 / M_PI;
    const double cx = m.viewport.x + m.viewport.width / 2.0;
    const double ex = m.viewport.x + m.viewport.width;
    const int rcy = int(std::nearbyint(m.viewport.y + m.viewport.height / 2.0));
    input::InjectMouseMove(int(std::nearbyint(cx + yaw * ex * 3.0 / 180.0)), rcy);
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
        Steer(m, path.waypoints[next]);
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

TEST_F(WalkThePath, ABodyStoppedByAWallTheGraphDoesNotKnowFindsAnotherRouteAfter2Seconds) {
    // "cour" from the shed (the spawn point at x -68, z 68) east along the north wall; once
    // the graph is built, a wall 13 wide (a wall of the map the graph does not know, as in a
    // map changed under it) stands across the middle of the way, x = 0 from z 62 to 75.
    MatchWorld m("cour", Models::Installed(), 0, 3);
    m.Steps(2);
    ASSERT_LT(Across(m.Pos(), {-68, 0, 68}), 1.0f);
    const bots::NavGraph graph = bots::NavGraph::Build(m.w);
    const glm::vec3 to(30, 2.5f, 69);
    auto crate = scene::MeshBuilder::Create();
    const glm::vec3 corners[4] = {{0, 0, 62}, {0, 10, 62}, {0, 10, 75}, {0, 0, 75}};
    const int32_t face[] = {4, 0, 1, 2, 3, 0};
    ASSERT_TRUE(crate->AddFaces(corners, {}, face));
    m.w.wallFrame->AddVisual(crate);

    bots::NavRoute route;
    using State = bots::NavRoute::State;
    ASSERT_EQ(route.Plan(graph, m.Pos(), to, 0.0), State::Walking);
    m.p.Souris = true;
    m.Key(playertest::kUp, true);
    int frame = 0;
    for (; frame < 3000 && route.Update(m.Pos(), frame * 0.02) == State::Walking; ++frame) {
        Steer(m, route.Waypoint());
        m.Steps(1);
    }
    m.Key(playertest::kUp, false);
    EXPECT_EQ(route.Current(), State::Arrived)
        << "at " << m.Pos().x << " " << m.Pos().y << " " << m.Pos().z;
    EXPECT_LT(Across(m.Pos(), to), 2.0f);
    EXPECT_GE(route.Detours(), 1) << "the wall was met";
    // The last route passes the wall's ends.
    const auto& w = route.Path().waypoints;
    for (size_t i = 0; i + 1 < w.size(); ++i) {
        if ((w[i].x < 0.0f) == (w[i + 1].x < 0.0f)) continue;
        const float z = w[i].z + (w[i + 1].z - w[i].z) * (0.0f - w[i].x) / (w[i + 1].x - w[i].x);
        EXPECT_TRUE(z < 62.0f || z > 75.0f) << "crosses x = 0 at z = " << z;
    }
}

} // namespace
