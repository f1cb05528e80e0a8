// tests/unit/assetgen/content_support.h — helpers shared by the content read-back tests:
// temporary directories, CR LF text files, and .x triangles (read by the game's loader) cast
// against with rays.
#pragma once

#include <gtest/gtest.h>

#include "platform/scene/scene.h"

#include <glm/glm.hpp>

#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

inline fs::path MakeTempDir(const std::string& tag) {
    const fs::path dir =
        fs::temp_directory_path() / ("tarnhold_assetgen_" + tag + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

inline std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Lines of a CR LF text file; fails the test when a line ends without CR.
inline std::vector<std::string> ReadLines(const fs::path& p) {
    const std::string text = ReadFile(p);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        EXPECT_NE(nl, std::string::npos) << p << ": last line without line end";
        if (nl == std::string::npos) break;
        EXPECT_TRUE(nl > at && text[nl - 1] == '\r') << p << ": line without CR LF";
        lines.push_back(text.substr(at, nl > at && text[nl - 1] == '\r' ? nl - at - 1 : nl - at));
        at = nl + 1;
    }
    return lines;
}

// Triangles of every face of a .x file as the game's loader reads it (file coordinates, fan
// triangulated in corner order) times `scale`. `textures` (optional) receives every texture
// name the file's materials give.
inline std::vector<std::array<glm::vec3, 3>>
LoadTriangles(const fs::path& p, float scale, std::vector<std::string>* textures = nullptr) {
    auto builder = scene::MeshBuilder::Create();
    const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(
        *builder, p.string(), nullptr, [textures](const std::string& name) {
            if (textures) textures->push_back(name);
            return std::shared_ptr<scene::Texture>();
        });
    EXPECT_TRUE(status.ok) << p << ": " << status.error;
    std::vector<uint32_t> indices;
    builder->Triangulate(indices, nullptr);
    std::vector<std::array<glm::vec3, 3>> tris;
    for (size_t i = 0; i + 2 < indices.size(); i += 3)
        tris.push_back({builder->GetVertex(indices[i]) * scale,
                        builder->GetVertex(indices[i + 1]) * scale,
                        builder->GetVertex(indices[i + 2]) * scale});
    return tris;
}
// Distance along the ray to the nearest triangle, or -1.
inline float Cast(const std::vector<std::array<glm::vec3, 3>>& tris, glm::vec3 o, glm::vec3 d) {
    float best = -1;
    for (const auto& t : tris) {
        const glm::vec3 e1 = t[1] - t[0], e2 = t[2] - t[0], p = glm::cross(d, e2);
        const float det = glm::dot(e1, p);
        if (std::fabs(det) < 1e-9f) continue;
        const glm::vec3 s = o - t[0];
        const float u = glm::dot(s, p) / det;
        const glm::vec3 q = glm::cross(s, e1);
        const float v = glm::dot(d, q) / det, dist = glm::dot(e2, q) / det;
        if (u >= 0 && v >= 0 && u + v <= 1 && dist > 0 && (best < 0 || dist < best)) best = dist;
    }
    return best;
}

} // namespace
