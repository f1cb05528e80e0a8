// The navigation graph of every installed map, built-in and from files, loaded by the game
// core as a match loads it: every spawn point stands on the graph and every one can be walked
// to from every other, which is what bots need to play on the map.
#include "bots/nav.h"
#include "tests/unit/bots/installed_maps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

TEST(NavMaps, EverySpawnPointOfEveryInstalledMapIsOnTheGraphAndReachesEveryOther) {
    const std::vector<std::string> maps = navtest::InstalledMaps(TARNHOLD_INSTALL_DIR);
    EXPECT_GE(maps.size(), 4u) << "the two built-in maps and at least two file maps";
    for (const std::string& name : maps) {
        SCOPED_TRACE(name);
        const player::World world = navtest::LoadMap(name, TARNHOLD_INSTALL_DIR);
        std::array<uint32_t, 6> sections{};
        for (size_t i = 0; i < 6; ++i)
            if (world.sectionFrames[i]) sections[i] = world.sectionFrames[i]->GetTraversalOptions();

        const bots::NavGraph graph = bots::NavGraph::Build(world);
        ASSERT_FALSE(graph.Empty());
        for (size_t i = 0; i < 6; ++i)
            if (world.sectionFrames[i]) {
                EXPECT_EQ(world.sectionFrames[i]->GetTraversalOptions(), sections[i]);
            }

        const std::vector<glm::vec3> spawns = bots::SpawnPositions(world);
        ASSERT_FALSE(spawns.empty());
        std::vector<bots::NodeId> at;
        for (const glm::vec3& s : spawns) {
            const bots::NodeId n = graph.NearestNode(s);
            ASSERT_NE(n, bots::kNoNode);
            const glm::vec3 p = graph.Nodes()[n].position;
            EXPECT_LT(std::hypot(p.x - s.x, p.z - s.z), 2.0f) << s.x << " " << s.y << " " << s.z;
            // Built-in spawn points hang up to a body's height above the floor the body falls
            // onto; file map points lie 2 above it and the floor ray lifts the body to 2.5.
            EXPECT_GT(p.y, s.y - 2.5f) << s.x << " " << s.y << " " << s.z;
            EXPECT_LT(p.y, s.y + 0.6f) << s.x << " " << s.y << " " << s.z;
            at.push_back(n);
        }
        for (size_t i = 1; i < at.size(); ++i) {
            EXPECT_TRUE(graph.Connected(at[0], at[i])) << "spawn " << i;
            bots::NavPath path;
            EXPECT_TRUE(graph.FindPath(spawns[i], spawns[0], {}, path)) << "spawn " << i;
        }

        if (name == "couloirs") {
            // A body against the wall of the block between the corridors (x = 14) is nearest a
            // floor point inside the block, which leads nowhere: its path starts in the
            // corridor.
            const glm::vec3 against(14.2f, -3.0f, -50.0f);
            EXPECT_GT(graph.Nodes()[graph.NearestNode(against)].position.x, 14.0f);
            bots::NavPath path;
            ASSERT_TRUE(graph.FindPath(against, spawns[0], {}, path));
            EXPECT_LT(path.waypoints[0].x, 14.0f);
            EXPECT_LT(std::hypot(path.waypoints[0].x - against.x, path.waypoints[0].z - against.z),
                      3.0f);
        }
        // Ladders are climbed wherever a map has them.
        const bool ladder =
            std::any_of(graph.Edges().begin(), graph.Edges().end(),
                        [](const auto& e) { return e.kind == bots::EdgeKind::Ladder; });
        const bool hasLadders = world.ladderFrame && world.ladderFrame->GetVisualCount() > 0;
        EXPECT_EQ(ladder, hasLadders) << "every map with ladders gets ladder edges";
        navtest::UnloadMap();
    }
}

} // namespace
