// tests/render/model/map_texture_shots_test.cpp — map textures in PNG and TGA, loaded through the
// map texture callback from a .x mesh as a match loads its map, and drawn by the renderer: the
// blue pixels of a texture named "{..." are holes through which the scene behind shows.
#include "model/mdl.h"
#include "platform/render/render.h"
#include "tests/render/render/gl_context.h"
#include "tests/support/pictures.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Two grilles side by side at z = 6 (seen from the origin along +z) and a red wall at z = 30.
// The left grille names "{grille.png"; the right one names "{grate.bmp", which exists only as
// "{grate.tga". Faces are written clockwise as seen from the camera, texture (0, 0) at top left.
constexpr const char* kGrilles = R"(xof 0303txt 0032
Mesh Grilles {
 12;
 -3.5;1.5;6.0;, -0.5;1.5;6.0;, -0.5;-1.5;6.0;, -3.5;-1.5;6.0;,
 0.5;1.5;6.0;, 3.5;1.5;6.0;, 3.5;-1.5;6.0;, 0.5;-1.5;6.0;,
 -30.0;30.0;30.0;, 30.0;30.0;30.0;, 30.0;-30.0;30.0;, -30.0;-30.0;30.0;;
 3;
 4;0,1,2,3;,
 4;4,5,6,7;,
 4;8,9,10,11;;
 MeshNormals {
  1;
  0.0;0.0;-1.0;;
  3;
  4;0,0,0,0;,
  4;0,0,0,0;,
  4;0,0,0,0;;
 }
 MeshTextureCoords {
  12;
  0.0;0.0;, 1.0;0.0;, 1.0;1.0;, 0.0;1.0;,
  0.0;0.0;, 1.0;0.0;, 1.0;1.0;, 0.0;1.0;,
  0.0;0.0;, 1.0;0.0;, 1.0;1.0;, 0.0;1.0;;
 }
 MeshMaterialList {
  3;
  3;
  0,
  1,
  2;;
  Material {
   1.0;1.0;1.0;1.0;;
   10.0;
   0.0;0.0;0.0;;
   0.0;0.0;0.0;;
   TextureFilename { "{grille.png"; }
  }
  Material {
   1.0;1.0;1.0;1.0;;
   10.0;
   0.0;0.0;0.0;;
   0.0;0.0;0.0;;
   TextureFilename { "{grate.bmp"; }
  }
  Material {
   1.0;0.0;0.0;1.0;;
   10.0;
   0.0;0.0;0.0;;
   0.0;0.0;0.0;;
  }
 }
}
)";

class MapTextureShots : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(context_.Open(kWidth, kHeight, error))
            << "no OpenGL 3.3 context (run under xvfb-run -a): " << error;
        renderer_ = render::Renderer::Create(&error);
        ASSERT_NE(renderer_, nullptr) << error;
        dir_ = fs::temp_directory_path() / ("tarnhold-map-textures-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "map" / "textures");
    }
    void TearDown() override {
        renderer_.reset();
        fs::remove_all(dir_);
    }

    rendertest::GlContext context_;
    std::unique_ptr<render::Renderer> renderer_;
    fs::path dir_;
};

TEST_F(MapTextureShots, PngAndTgaGrillesNamedWithABraceHaveTheirBluePixelsCut) {
    // Blue and green cells, blue at the top left; the TGA is stored bottom row first and
    // run-length encoded, as most painting programs write it.
    const uint8_t blue[3] = {0, 0, 255}, green[3] = {0, 255, 0};
    const scene::Image grille = testpictures::Checker(16, 2, blue, green);
    const fs::path textures = dir_ / "map" / "textures";
    ASSERT_TRUE(testpictures::WritePng((textures / "{grille.png").string(), grille));
    ASSERT_TRUE(testpictures::WriteTga((textures / "{grate.tga").string(), grille, {.rle = true}));
    std::ofstream((dir_ / "map" / "grilles.x").string(), std::ios::binary) << kGrilles;

    model::Class1 callback;
    callback.programDir = dir_.string();
    int pumped = 0;
    callback.pump = [&] { ++pumped; };
    scene::SearchPath path;
    path.AddFolder((dir_ / "map").string());
    auto mesh = scene::MeshBuilder::Create();
    const scene::LoadStatus loaded =
        scene::LoadXIntoMeshBuilder(*mesh, "grilles.x", &path, callback.AsCallback());
    ASSERT_TRUE(loaded.ok) << loaded.error;
    ASSERT_EQ(mesh->GetFaceCount(), 3u);
    EXPECT_EQ(pumped, 2); // once per map texture found

    auto root = scene::Frame::Create();
    root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    auto camera = scene::Frame::Create(root);
    auto level = scene::Frame::Create(root);
    level->AddVisual(mesh);
    scene::ViewportParams vp;
    vp.camera = camera;
    vp.width = kWidth;
    vp.height = kHeight;
    vp.front = 1.0f;
    vp.back = 500.0f;
    vp.field = 0.5f;
    renderer_->SetBackground({0, 0, 0});
    renderer_->Clear(vp, render::kClearAll);
    renderer_->Render(vp, *root);
    const scene::Image shot = render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
    fs::create_directories(std::string(TARNHOLD_BINARY_DIR) + "/render-shots");
    EXPECT_TRUE(renderer_->Screenshot(std::string(TARNHOLD_BINARY_DIR) +
                                      "/render-shots/map_textures_png_tga.png"));

    // The colour at the centre of each cell of each grille: blue cells show the red wall.
    const auto colourAt = [&](float x, float y) {
        const glm::vec3 p = vp.Project({x, y, 6.0f});
        const uint8_t* px = &shot.rgba[(size_t(p.y) * kWidth + size_t(p.x)) * 4];
        return glm::ivec3(px[0], px[1], px[2]);
    };
    const auto isRed = [](glm::ivec3 c) { return c.r > 200 && c.g < 60 && c.b < 60; };
    const auto isGreen = [](glm::ivec3 c) { return c.g > 200 && c.r < 60 && c.b < 60; };
    for (const float left : {-3.5f, 0.5f}) {
        SCOPED_TRACE(left < 0 ? "PNG grille" : "TGA grate");
        EXPECT_TRUE(isRed(colourAt(left + 0.75f, 0.75f)));   // top left: blue, cut
        EXPECT_TRUE(isGreen(colourAt(left + 2.25f, 0.75f))); // top right
        EXPECT_TRUE(isGreen(colourAt(left + 0.75f, -0.75f)));
        EXPECT_TRUE(isRed(colourAt(left + 2.25f, -0.75f)));
    }
    int bluePixels = 0;
    for (size_t i = 0; i < shot.rgba.size(); i += 4)
        bluePixels += shot.rgba[i + 2] > 150 && shot.rgba[i] < 60 && shot.rgba[i + 1] < 60;
    EXPECT_EQ(bluePixels, 0) << "keyed pixels must not be drawn";
}

} // namespace
