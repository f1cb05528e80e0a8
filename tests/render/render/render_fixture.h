// tests/render/render/render_fixture.h — shared set-up of the renderer's screenshot tests:
// one GL context per test binary, small scenes (textured cubes, decals) and pixel statistics.
#pragma once

#include "platform/render/render.h"
#include "tests/render/render/gl_context.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace rendertest {

inline constexpr int kWidth = 320;
inline constexpr int kHeight = 240;

// A checker picture: `cells` x `cells` squares of `cellPixels` pixels, alternately a and b.
inline scene::Image Checker(int cells, int cellPixels, glm::u8vec3 a, glm::u8vec3 b) {
    scene::Image img;
    img.width = img.height = cells * cellPixels;
    img.rgba.resize(static_cast<size_t>(img.width) * img.height * 4);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const glm::u8vec3 c = ((x / cellPixels + y / cellPixels) % 2) ? b : a;
            uint8_t* p = &img.rgba[(static_cast<size_t>(y) * img.width + x) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = 255;
        }
    return img;
}

// One face of an axis-aligned cube: outward normal n, `up` along the face as seen from
// outside; corners clockwise as seen from outside, texture corners (0,0) top-left.
inline void AddCubeFace(scene::MeshBuilder& b, float half, const glm::vec3& n, const glm::vec3& up,
                        const std::shared_ptr<scene::Texture>& texture) {
    const glm::vec3 right = glm::cross(n, up);
    const glm::vec3 c = n * half, u = right * half, v = up * half;
    const glm::vec3 corners[4] = {c - u + v, c + u + v, c + u - v, c - u - v};
    const glm::vec2 uvs[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    scene::Face face;
    const uint32_t normal = b.AddNormal(n);
    for (int k = 0; k < 4; ++k) {
        const uint32_t vi = b.AddVertex(corners[k]);
        b.SetTextureCoordinates(vi, uvs[k].x, uvs[k].y);
        face.vertices.push_back(vi);
        face.normals.push_back(normal);
    }
    face.texture = texture;
    ASSERT_TRUE(b.AddFace(std::move(face)));
}

// A cube of side 2 * half centred on its origin, six quads, optional texture on every face.
inline std::shared_ptr<scene::MeshBuilder> MakeCube(float half,
                                                    std::shared_ptr<scene::Texture> texture) {
    auto b = scene::MeshBuilder::Create();
    const glm::vec3 x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    AddCubeFace(*b, half, -z, y, texture);
    AddCubeFace(*b, half, z, y, texture);
    AddCubeFace(*b, half, -x, y, texture);
    AddCubeFace(*b, half, x, y, texture);
    AddCubeFace(*b, half, y, z, texture);
    AddCubeFace(*b, half, -y, -z, texture);
    return b;
}

// The root, a camera at the origin looking along +z and a viewport over the whole surface.
struct TestScene {
    std::shared_ptr<scene::Frame> root = scene::Frame::Create();
    std::shared_ptr<scene::Frame> camera = scene::Frame::Create(root);
    scene::ViewportParams viewport;

    TestScene() {
        viewport.camera = camera;
        viewport.width = kWidth;
        viewport.height = kHeight;
        viewport.front = 1.0f;
        viewport.back = 500.0f;
        viewport.field = 0.5f;
    }
};

// Pixel statistics of a picture against a background colour.
struct Coverage {
    int count = 0;                      // pixels differing from the background
    int minX = 1 << 30, minY = 1 << 30; // their bounding box
    int maxX = -1, maxY = -1;
    int Width() const { return count ? maxX - minX + 1 : 0; }
    int Height() const { return count ? maxY - minY + 1 : 0; }
};

inline glm::ivec3 PixelAt(const scene::Image& img, int x, int y) {
    const uint8_t* p = &img.rgba[(static_cast<size_t>(y) * img.width + x) * 4];
    return {p[0], p[1], p[2]};
}

inline bool Near(const glm::ivec3& a, const glm::ivec3& b, int tolerance = 8) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

inline Coverage Measure(const scene::Image& img, const glm::ivec3& background) {
    Coverage c;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            if (!Near(PixelAt(img, x, y), background)) {
                ++c.count;
                c.minX = std::min(c.minX, x);
                c.maxX = std::max(c.maxX, x);
                c.minY = std::min(c.minY, y);
                c.maxY = std::max(c.maxY, y);
            }
    return c;
}

// Mean brightness (r + g + b) / 3 over a rectangle.
inline double MeanBrightness(const scene::Image& img, int x0, int y0, int x1, int y1) {
    double sum = 0;
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const glm::ivec3 p = PixelAt(img, x, y);
            sum += (p.r + p.g + p.b) / 3.0;
            ++n;
        }
    return n ? sum / n : 0.0;
}

// Where the screenshots of a test go (under the build directory, never committed).
inline std::string ShotPath(const std::string& name) {
    return std::string(TARNHOLD_BINARY_DIR) + "/render-shots/" + name;
}

// Fixture: a GL context for the whole binary and a fresh renderer per test.
class RenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override { renderer.reset(); }

    // Clears, renders `scene` through `vp` and reads the whole surface back.
    scene::Image Draw(const scene::Frame& scene, const scene::ViewportParams& vp);

    static GlContext* context;
    std::unique_ptr<render::Renderer> renderer;
};

} // namespace rendertest
