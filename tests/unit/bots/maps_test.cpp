// The navigation graph of every installed map, built-in and from files, loaded by the game
// core as a match loads it: every spawn point stands on the graph and every one can be walked
// to from every other, which is what bots need to play on the map.
#include "bots/nav.h"
#include "core/game.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

// The map `name` built by the game core into fresh frames, and the world a match gives its
// players on it.
player::World LoadMap(const std::string& name) {
    core::DataPath = TARNHOLD_INSTALL_DIR;
    core::MapName = name;
    core::DecimalSeparator = ".";
    core::RootFrame = scene::Frame::Create();
    core::SceneFrame = scene::Frame::Create(core::RootFrame);
    core::CameraFrame = scene::Frame::Create(core::SceneFrame);
    core::CreateMapFrames();
    core::LadderFrame.reset();
    core::SectionFrames = {};
    if (name == "couloirs") {
        core::BuildCorridorMap();
    } else if (name == "entrepot") {
        core::BuildWarehouseMap();
    } else {
        core::LadderFrame = scene::Frame::Create(core::WallFrame);
        core::ReadMapFile();
    }
    player::World w;
    w.sceneFrame = core::SceneFrame;
    w.wallFrame = core::WallFrame;
    w.decorFrameA = core::DecorFrameA;
    w.decorFrameB = core::DecorFrameB;
    w.mapName = core::MapName;
    for (size_t i = 0; i < 4; ++i)
        w.spawnPoints[i] = {core::SpawnPoints[i].x, core::SpawnPoints[i].y, core::SpawnPoints[i].z};
    w.floorFrame = core::FloorFrame;
    w.ladderFrame = core::LadderFrame;
    w.sectionFrames = core::SectionFrames;
    w.mapScale = core::MapScale;
    return w;
}

// The built-in maps and every file map of the installation.
std::vector<std::string> InstalledMaps() {
    std::set<std::string> names = {"couloirs", "entrepot"};
    for (const auto& entry : fs::directory_iterator(fs::path(TARNHOLD_INSTALL_DIR) / "map"))
        if (entry.path().extension() == ".map") names.insert(entry.path().stem().string());
    return {names.begin(), names.end()};
}

TEST(NavMaps, EverySpawnPointOfEveryInstalledMapIsOnTheGraphAndReachesEveryOther) {
    const std::vector<std::string> maps = InstalledMaps();
    EXPECT_GE(maps.size(), 4u) << "the two built-in maps and at least two file maps";
    for (const std::string& name : maps) {
        SCOPED_TRACE(name);
        const player::World world = LoadMap(name);
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

        // Ladders are climbed wherever a map has them.
        const bool ladder =
            std::any_of(graph.Edges().begin(), graph.Edges().end(),
                        [](const auto& e) { return e.kind == bots::EdgeKind::Ladder; });
        const bool hasLadders = world.ladderFrame && world.ladderFrame->GetVisualCount() > 0;
        EXPECT_EQ(ladder, hasLadders) << "every map with ladders gets ladder edges";
        core::DeleteFrameTree(*core::RootFrame);
    }
}

} // namespace
