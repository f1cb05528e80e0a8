// Fuzz target of the QC and SMD readers and of the per-player code on whatever they built.
//
// Input: one flag byte (bit 0 MultiMesh, bit 1 Boite, bit 2 "," as the decimal separator), then
// up to three texts separated by "%%%\n": the QC file "test.qc", then "a.smd" and "b.smd". The
// files are written to a private folder that also holds the texture "t.bmp".
#include "model/mdl.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("tarnhold-fuzz-model-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        // A 1 x 1 24-bit BMP.
        const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0,   54, 0, 0, 0,  40,
                                       0,   0,   0,  1, 0, 0, 0, 1, 0, 0,   0,  1, 0, 24, 0,
                                       0,   0,   0,  0, 4, 0, 0, 0, 0, 0,   0,  0, 0, 0,  0,
                                       0,   0,   0,  0, 0, 0, 0, 0, 0, 255, 0,  0, 0};
        std::ofstream((dir / "t.bmp").string(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp), sizeof bmp);
        return dir.string();
    }();
    return folder;
}

void WriteFile(const std::string& name, std::string_view text) {
    std::ofstream(Folder() + "/" + name, std::ios::binary | std::ios::trunc)
        .write(text.data(), std::streamsize(text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* names[3] = {"test.qc", "a.smd", "b.smd"};
    for (const char* name : names) {
        const size_t cut = rest.find("%%%\n");
        WriteFile(name, rest.substr(0, cut));
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 4);
    }

    model::MDL m;
    m.MultiMesh = (flags & 1) != 0;
    m.Boite = (flags & 2) != 0;
    m.settings.decimalSeparator = (flags & 4) ? "," : ".";
    try {
        m.Load(nullptr, "test.qc", Folder(), false);
    } catch (const model::ModelError&) {
        return 0;
    }

    // Whatever loaded must survive a player instance and a few frames of animation.
    auto root = scene::Frame::Create();
    model::Instance p;
    p.base = scene::Frame::Create(root);
    p.Peau = scene::Frame::Create(root);
    p.texture = "t.bmp";
    p.AniBuste = m.NbAni > 1 ? 1 : -1;
    try {
        m.RenvMesh(p);
    } catch (const model::ModelError&) {
        return 0;
    }
    for (int frame = 0; frame < 3; ++frame) {
        p.fps = frame * 0.7;
        p.fps2 = frame;
        p.colonne = frame * 15;
        p.pivot = frame * 0.1;
        m.Anime(p);
        m.AnimeSkmVertex();
    }
    (void)m.RenvAnimations("idle");
    (void)m.RenvAniMax(0);
    return 0;
}
