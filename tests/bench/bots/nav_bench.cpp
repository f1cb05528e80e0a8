// Navigation benchmarks, one pair per installed map (the built-in maps and every file map),
// each map loaded by the game core as a match loads it:
//   BM_BuildNavGraph/<map>  CPU time of NavGraph::Build (what a match start costs without a
//                           cached graph); counters: nodes, edges
//   BM_FindPath/<map>       CPU time of one A* query between two nodes drawn at random among
//                           those a bot can walk between (the same draws every run)
//   BM_ReadNavCache/<map>   CPU time to hash the map and read the graph back from its cache
//                           file's bytes (what a match start costs once the graph is cached);
//                           counter: bytes
#include "bots/nav.h"
#include "tests/unit/bots/installed_maps.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

void BM_BuildNavGraph(benchmark::State& state, const std::string& map) {
    const player::World world = navtest::LoadMap(map, TARNHOLD_INSTALL_DIR);
    bots::NavGraph graph;
    for (auto _ : state) {
        graph = bots::NavGraph::Build(world);
        benchmark::DoNotOptimize(graph.Nodes().data());
    }
    state.counters["nodes"] = double(graph.Nodes().size());
    state.counters["edges"] = double(graph.Edges().size());
    navtest::UnloadMap();
}

void BM_FindPath(benchmark::State& state, const std::string& map) {
    const player::World world = navtest::LoadMap(map, TARNHOLD_INSTALL_DIR);
    const bots::NavGraph graph = bots::NavGraph::Build(world);
    navtest::UnloadMap();
    if (graph.Empty()) {
        state.SkipWithError("the map has no navigation graph");
        return;
    }
    // Pairs of nodes a bot roams between: from a spawn point's node to a node it can reach.
    std::mt19937 random(7);
    std::vector<std::pair<glm::vec3, glm::vec3>> queries;
    const std::vector<glm::vec3> spawns = bots::SpawnPositions(world);
    for (uint32_t i = 0; i < 64; ++i) {
        const glm::vec3 from = spawns[i % spawns.size()];
        const bots::NodeId to = graph.RandomReachableNode(from, random());
        queries.push_back({from, graph.Nodes()[to].position});
    }
    bots::NavPath path;
    size_t next = 0, waypoints = 0;
    for (auto _ : state) {
        const auto& [from, to] = queries[next++ % queries.size()];
        if (graph.FindPath(from, to, {}, path)) waypoints += path.waypoints.size();
        benchmark::DoNotOptimize(path.cost);
    }
    state.counters["waypoints"] =
        benchmark::Counter(double(waypoints), benchmark::Counter::kAvgIterations);
}

void BM_ReadNavCache(benchmark::State& state, const std::string& map) {
    const player::World world = navtest::LoadMap(map, TARNHOLD_INSTALL_DIR);
    const std::string bytes =
        bots::EncodeNavGraph(bots::NavGraph::Build(world), map, bots::MapGeometryHash(world));
    bots::NavGraph graph;
    std::string error;
    for (auto _ : state) {
        // The map's hash is computed at every load: it says whether the file is still good.
        if (!bots::DecodeNavGraph(bytes, map, bots::MapGeometryHash(world), graph, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(graph.Nodes().data());
    }
    state.counters["bytes"] = double(bytes.size());
    navtest::UnloadMap();
}

} // namespace

int main(int argc, char** argv) {
    for (const std::string& map : navtest::InstalledMaps(TARNHOLD_INSTALL_DIR)) {
        benchmark::RegisterBenchmark(("BM_BuildNavGraph/" + map).c_str(), BM_BuildNavGraph, map)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_FindPath/" + map).c_str(), BM_FindPath, map)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BM_ReadNavCache/" + map).c_str(), BM_ReadNavCache, map)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
