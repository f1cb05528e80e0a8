// Load and release time of a model whose skeleton chains every bone under the one before
// (depth = bone count), from 1,000 to 64,000 bones: the reference file poses every bone and puts
// one triangle on the deepest, the one animation moves every bone. The time grows in
// proportion to the depth (see the fitted complexity).
#include "model/mdl.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// A folder holding chain.qc, chain.smd, walk.smd and t.bmp for a chain of `bones` bones.
std::string ChainFolder(int bones) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("tarnhold-bench-chain-" + std::to_string(::getpid()) + "-" + std::to_string(bones));
    if (std::filesystem::exists(dir / "chain.qc")) return dir.string();
    std::filesystem::create_directories(dir);
    std::string nodes = "nodes\r\n", pose = "time 0\r\n";
    for (int b = 0; b < bones; ++b) {
        nodes += std::to_string(b) + " \"Bone " + std::to_string(b) + "\" " +
                 std::to_string(b - 1) + "\r\n";
        pose += std::to_string(b) + " 0 0 " + (b == 0 ? "0" : "1") + " 0 0.01 0\r\n";
    }
    nodes += "end\r\n";
    pose += "end\r\n";
    const std::string last = std::to_string(bones - 1);
    std::ofstream(dir / "chain.smd", std::ios::binary)
        << "version 1\r\n" + nodes + "skeleton\r\n" + pose + "triangles\r\nt.bmp\r\n" + last +
               " 0 0 0 0 0 1 0 0\r\n" + last + " 1 0 0 0 0 1 1 0\r\n" + last +
               " 0 1 0 0 0 1 0 1\r\nend\r\n";
    std::ofstream(dir / "walk.smd", std::ios::binary)
        << "version 1\r\n" + nodes + "skeleton\r\n" + pose;
    std::ofstream(dir / "chain.qc", std::ios::binary)
        << "$bodygroup body\r\n{\r\nstudio \"chain\"\r\n}\r\n$sequence \"walk\"\r\n";
    // A 1 x 1 24-bit BMP.
    const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0,   54, 0, 0, 0,  40,
                                   0,   0,   0,  1, 0, 0, 0, 1, 0, 0,   0,  1, 0, 24, 0,
                                   0,   0,   0,  0, 4, 0, 0, 0, 0, 0,   0,  0, 0, 0,  0,
                                   0,   0,   0,  0, 0, 0, 0, 0, 0, 255, 0,  0, 0};
    std::ofstream(dir / "t.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp), sizeof bmp);
    return dir.string();
}

void BM_LoadAndReleaseAChainedSkeleton(benchmark::State& state) {
    const int bones = int(state.range(0));
    const std::string folder = ChainFolder(bones);
    for (auto _ : state) {
        auto m = std::make_unique<model::MDL>();
        m->Load(nullptr, "chain.qc", folder, false);
        if (m->GetBoneCount() != bones || m->NbAni != 1)
            state.SkipWithError("the chain did not load whole");
        m.reset();
    }
    state.SetComplexityN(bones);
    state.counters["bones"] = bones;
}
BENCHMARK(BM_LoadAndReleaseAChainedSkeleton)
    ->RangeMultiplier(4)
    ->Range(1000, 64000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
