// tests/render/render/picture_diff.h — comparing two screenshots of the same view, for render
// tests that judge what one picture adds to another (a body, a weapon, blood), and the folder
// in the build tree where such tests keep their pictures for people to look at.
#pragma once

#include "platform/scene/scene.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include <glm/glm.hpp>

namespace rendertest {

// <build>/<folder>/<name>, the folder created on demand.
inline std::string ShotPath(const std::string& folder, const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(TARNHOLD_BINARY_DIR) / folder;
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

// Colour of pixel (x, y) of an RGBA picture, rows from the top.
inline glm::ivec3 PixelAt(const scene::Image& img, int x, int y) {
    const uint8_t* p = &img.rgba[(size_t(y) * size_t(img.width) + size_t(x)) * 4];
    return {p[0], p[1], p[2]};
}

// Pixels where two pictures of the same view differ: what the second one adds.
struct Difference {
    int count = 0;
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
    glm::dvec3 mean{0}; // mean colour of the differing pixels of the second picture
    int Width() const { return count ? maxX - minX + 1 : 0; }
    int Height() const { return count ? maxY - minY + 1 : 0; }
};

// Pixels whose channels differ by more than `tolerance` between `before` and `after`.
inline Difference Compare(const scene::Image& before, const scene::Image& after, int tolerance) {
    Difference d;
    for (int y = 0; y < after.height; ++y)
        for (int x = 0; x < after.width; ++x) {
            const glm::ivec3 a = PixelAt(before, x, y), b = PixelAt(after, x, y);
            const glm::ivec3 diff = glm::abs(a - b);
            if (std::max({diff.x, diff.y, diff.z}) <= tolerance) continue;
            ++d.count;
            d.minX = std::min(d.minX, x), d.maxX = std::max(d.maxX, x);
            d.minY = std::min(d.minY, y), d.maxY = std::max(d.maxY, y);
            d.mean += glm::dvec3(b);
        }
    if (d.count) d.mean /= double(d.count);
    return d;
}

} // namespace rendertest
