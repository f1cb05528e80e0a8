// Load time of a generated 20,000-vertex SMD character and skinning time per player per frame.
//
// The model: a chain of 20 bones 5 units apart; a 100 x 200 grid of vertices (each with its own
// texture coordinates) whose rows are bound in bands of 10 to the bones; two triangles per grid
// cell (39,402 triangles); an animation that bends every bone.
#include "model/mdl.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr int kColumns = 100;
constexpr int kRows = 200;
constexpr int kBones = 20;

std::string Folder() {
    static const std::string folder = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("tarnhold-bench-model-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::string nodes = "nodes\r\n";
        for (int b = 0; b < kBones; ++b) {
            nodes += std::to_string(b) + " \"Bip01 Bone" + std::to_string(b) + "\" " +
                     std::to_string(b - 1) + "\r\n";
        }
        nodes += "end\r\n";
        std::string smd = "version 1\r\n" + nodes + "skeleton\r\ntime 0\r\n";
        for (int b = 0; b < kBones; ++b) {
            smd += std::to_string(b) + " 0 0 " + (b == 0 ? "0" : "5") + " 0 0 0\r\n";
        }
        smd += "end\r\ntriangles\r\n";
        const auto vertex = [](int col, int row) {
            return std::to_string(row / (kRows / kBones)) + " " + std::to_string(col) + " 0 " +
                   std::to_string(row * 0.5) + " 0 -1 0 " + std::to_string(col / 99.0) + " " +
                   std::to_string(row / 199.0) + "\r\n";
        };
        for (int row = 0; row + 1 < kRows; ++row) {
            for (int col = 0; col + 1 < kColumns; ++col) {
                smd +=
                    "skin.bmp\r\n" + vertex(col, row) + vertex(col + 1, row) + vertex(col, row + 1);
                smd += "skin.bmp\r\n" + vertex(col + 1, row) + vertex(col + 1, row + 1) +
                       vertex(col, row + 1);
            }
        }
        smd += "end\r\n";
        std::ofstream(dir / "body.smd", std::ios::binary) << smd;

        std::string anim = "version 1\r\n" + nodes;
        for (int t = 0; t <= 10; ++t) {
            anim += "time " + std::to_string(t) + "\r\n";
            for (int b = 0; b < kBones; ++b) {
                anim += std::to_string(b) + " 0 0 " + (b == 0 ? "0" : "5") + " 0 0." +
                        std::to_string(t) + " 0\r\n";
            }
        }
        std::ofstream(dir / "bend.smd", std::ios::binary) << anim + "end\r\n";
        std::ofstream(dir / "body.qc", std::ios::binary)
            << "$bodygroup body\r\n{\r\nstudio \"body\"\r\n}\r\n$sequence \"bend\"\r\n";
        // A 1 x 1 24-bit BMP.
        const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0,   54, 0, 0, 0,  40,
                                       0,   0,   0,  1, 0, 0, 0, 1, 0, 0,   0,  1, 0, 24, 0,
                                       0,   0,   0,  0, 4, 0, 0, 0, 0, 0,   0,  0, 0, 0,  0,
                                       0,   0,   0,  0, 0, 0, 0, 0, 0, 255, 0,  0, 0};
        std::ofstream(dir / "skin.bmp", std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp), sizeof bmp);
        return dir.string();
    }();
    return folder;
}

std::unique_ptr<model::MDL> LoadBody() {
    auto m = std::make_unique<model::MDL>();
    m->Load(nullptr, "body.qc", Folder(), false);
    return m;
}

void BM_LoadCharacter20kVertices(benchmark::State& state) {
    Folder();
    size_t vertices = 0;
    for (auto _ : state) {
        auto m = LoadBody();
        vertices = m->GetSkinGroups()[0].Mesh->GetVertexCount();
        benchmark::DoNotOptimize(m.get());
    }
    state.counters["vertices"] = double(vertices);
}
BENCHMARK(BM_LoadCharacter20kVertices)->Unit(benchmark::kMillisecond);

// One pass of the main loop's model work for `players` players: Anime for each (skeleton pose,
// skinning of its copy, bone-bound frames), then one AnimeSkmVertex for all copies.
void BM_SkinPlayersPerFrame(benchmark::State& state) {
    auto m = LoadBody();
    const int players = int(state.range(0));
    auto root = scene::Frame::Create();
    std::vector<model::Instance> records(static_cast<size_t>(players));
    for (int i = 0; i < players; ++i) {
        model::Instance& p = records[size_t(i)];
        p.indice = i;
        p.base = scene::Frame::Create(root);
        p.Peau = scene::Frame::Create(root);
        p.AniBuste = -1;
        m->RenvMesh(p);
    }
    double t = 0;
    for (auto _ : state) {
        for (model::Instance& p : records) {
            p.fps = t;
            m->Anime(p);
        }
        m->AnimeSkmVertex();
        t += 0.25;
        if (t > 10) t = 0;
    }
    // Seconds per player per frame (printed with an SI prefix, "u" for microseconds).
    state.counters["per_player"] =
        benchmark::Counter(double(players), benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}
BENCHMARK(BM_SkinPlayersPerFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
