// One ray against a map mesh of N triangles: the floor ray (straight down) and the wall probe
// (horizontal), as the movement code casts them several times per frame; and the rebuild of
// the pick structure after the mesh changes.
#include "platform/scene/scene.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// A bumpy terrain of `triangles` triangles (a grid of quads, two triangles each) spanning
// 1000 x 1000 scene units, plus walls: what a map's floor and wall meshes look like.
std::shared_ptr<scene::MeshBuilder> Terrain(int triangles) {
    const int cells = static_cast<int>(std::sqrt(triangles / 2.0));
    auto mb = scene::MeshBuilder::Create();
    const float step = 1000.0f / cells;
    for (int z = 0; z <= cells; ++z)
        for (int x = 0; x <= cells; ++x)
            mb->AddVertex({x * step - 500.0f, 5.0f * std::sin(x * 0.3f) * std::cos(z * 0.2f),
                           z * step - 500.0f});
    const uint32_t n = mb->AddNormal({0, 1, 0});
    auto corner = [&](int x, int z) { return static_cast<uint32_t>(z * (cells + 1) + x); };
    for (int z = 0; z < cells; ++z)
        for (int x = 0; x < cells; ++x) {
            for (int t = 0; t < 2; ++t) {
                const uint32_t f = mb->CreateFace();
                mb->AddFaceCorner(f, corner(x, z), n);
                mb->AddFaceCorner(f, t == 0 ? corner(x + 1, z) : corner(x + 1, z + 1), n);
                mb->AddFaceCorner(f, t == 0 ? corner(x + 1, z + 1) : corner(x, z + 1), n);
            }
        }
    return mb;
}

struct Fixture {
    std::shared_ptr<scene::Frame> root = scene::Frame::Create();
    std::shared_ptr<scene::Frame> floor = scene::Frame::Create(root);
    std::shared_ptr<scene::MeshBuilder> mesh;
    std::vector<glm::vec3> origins;
    explicit Fixture(int triangles) : mesh(Terrain(triangles)) {
        floor->AddVisual(mesh);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> d(-480.0f, 480.0f);
        for (int i = 0; i < 1024; ++i)
            origins.emplace_back(d(rng), 20.0f, d(rng));
    }
};

void BM_PickFloorRay(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    scene::PickResults hits;
    scene::Pick(*fx.floor, fx.origins[0], {0, -1, 0}, hits); // builds the pick structure
    size_t i = 0, found = 0;
    for (auto _ : state) {
        found += scene::Pick(*fx.floor, fx.origins[i++ & 1023], {0, -1, 0}, hits);
        benchmark::DoNotOptimize(hits.Hits().data());
    }
    if (found == 0) state.SkipWithError("the floor ray must hit the terrain");
    state.counters["triangles"] = static_cast<double>(fx.mesh->GetFaceCount());
}

void BM_PickGrazingRay(benchmark::State& state) {
    // Nearly horizontal rays skim the bumps across the whole map: the worst case for boxes.
    Fixture fx(static_cast<int>(state.range(0)));
    scene::PickResults hits;
    scene::Pick(*fx.floor, fx.origins[0], {1, 0, 0}, hits);
    size_t i = 0;
    for (auto _ : state) {
        const glm::vec3 o = fx.origins[i++ & 1023];
        scene::Pick(*fx.floor, {-499.0f, 0.0f, o.z}, {1, -0.001f, 0.2f}, hits);
        benchmark::DoNotOptimize(hits.Hits().data());
    }
    state.counters["triangles"] = static_cast<double>(fx.mesh->GetFaceCount());
}

void BM_PickRebuildAfterEdit(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    scene::PickResults hits;
    for (auto _ : state) {
        fx.mesh->SetVertex(0, fx.mesh->GetVertex(0)); // any edit invalidates the structure
        scene::Pick(*fx.floor, fx.origins[0], {0, -1, 0}, hits);
    }
    state.counters["triangles"] = static_cast<double>(fx.mesh->GetFaceCount());
}

BENCHMARK(BM_PickFloorRay)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_PickGrazingRay)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_PickRebuildAfterEdit)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
