// tests/render/render/renderer_test.cpp — the renderer drawn into a real GL context and judged
// from read-back pixels and written screenshots.
#include "tests/render/render/render_fixture.h"

#include <filesystem>
#include <glm/gtc/constants.hpp>
#define GLM_ENABLE_EXPERIMENTAL
#include <glm/gtx/string_cast.hpp>

namespace rendertest {

GlContext* RenderTest::context = nullptr;

void RenderTest::SetUpTestSuite() {
    std::filesystem::create_directories(ShotPath(""));
    context = new GlContext();
    std::string error;
    if (!context->Open(kWidth, kHeight, error)) {
        delete context;
        context = nullptr;
        FAIL() << "no OpenGL 3.3 context (run under xvfb-run -a): " << error;
    }
}

void RenderTest::TearDownTestSuite() {
    delete context;
    context = nullptr;
}

void RenderTest::SetUp() {
    ASSERT_NE(context, nullptr);
    std::string error;
    glViewport(0, 0, kWidth, kHeight);
    renderer = render::Renderer::Create(&error);
    ASSERT_NE(renderer, nullptr) << error;
    ASSERT_EQ(renderer->TargetWidth(), kWidth);
    ASSERT_EQ(renderer->TargetHeight(), kHeight);
}

scene::Image RenderTest::Draw(const scene::Frame& scene, const scene::ViewportParams& vp) {
    renderer->Clear(vp, render::kClearAll);
    renderer->Render(vp, scene);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    return render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
}

namespace {

const glm::ivec3 kBackground(0, 0, 102); // SetBackground({0, 0, 0.4})

// A textured cube turned 45 degrees about y at distance 8, lit from the left by a point light,
// with a little ambient light.
struct LitCubeScene : TestScene {
    std::shared_ptr<scene::Frame> cubeFrame = scene::Frame::Create(root);
    std::shared_ptr<scene::MeshBuilder> cube;

    LitCubeScene() {
        auto texture = scene::Texture::CreateFromImage(
            Checker(4, 8, {255, 255, 255}, {255, 40, 40}), "checker");
        cube = MakeCube(1.0f, texture);
        cubeFrame->AddVisual(cube);
        cubeFrame->AddRotation(scene::Combine::Replace, {0, 1, 0}, glm::quarter_pi<float>());
        cubeFrame->SetPosition(nullptr, {0, 0, 8});
        auto lightFrame = scene::Frame::Create(root);
        lightFrame->SetPosition(nullptr, {-30, 0, 0});
        lightFrame->AddLight(scene::Light::Create(scene::LightType::Point, glm::vec3(1.0f)));
        root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(0.25f)));
    }
};

int CountDistinctColours(const scene::Image& img, int x0, int y0, int x1, int y1) {
    std::vector<uint32_t> seen;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const glm::ivec3 p = PixelAt(img, x, y);
            const uint32_t key = (uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | uint32_t(p.b);
            if (std::find(seen.begin(), seen.end(), key) == seen.end()) seen.push_back(key);
        }
    return static_cast<int>(seen.size());
}

} // namespace

// A lit, textured cube shows up against the background; the face turned to the light is
// brighter than the one turned away; the checker texture shows on it; the screenshot file
// holds the same pixels.
TEST_F(RenderTest, LitTexturedCubeIsVisibleAndLitFromItsSide) {
    LitCubeScene s;
    renderer->SetBackground({0, 0, 0.4f});
    const scene::Image img = Draw(*s.root, s.viewport);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("lit_cube.bmp")));
    ASSERT_TRUE(renderer->Screenshot(ShotPath("lit_cube.png")));

    const Coverage c = Measure(img, kBackground);
    EXPECT_GT(c.count, 2000);
    // Centred on the screen: the cube sits on the camera's axis.
    EXPECT_NEAR((c.minX + c.maxX) / 2.0, kWidth / 2.0, 3.0);
    EXPECT_NEAR((c.minY + c.maxY) / 2.0, kHeight / 2.0, 3.0);
    EXPECT_TRUE(Near(PixelAt(img, 5, 5), kBackground));

    // Left half of the cube faces the light at x = -30, the right half faces away.
    const int cx = kWidth / 2, cy = kHeight / 2;
    const double left = MeanBrightness(img, cx - 25, cy - 10, cx - 8, cy + 10);
    const double right = MeanBrightness(img, cx + 8, cy - 10, cx + 25, cy + 10);
    EXPECT_GT(left, right + 60.0) << "left " << left << " right " << right;
    EXPECT_GT(right, 10.0) << "ambient light keeps the far side visible";
    // The checker's red and white squares both show on the lit face.
    int reddish = 0, whitish = 0;
    for (int y = cy - 20; y <= cy + 20; ++y)
        for (int x = cx - 30; x < cx - 5; ++x) {
            const glm::ivec3 p = PixelAt(img, x, y);
            if (p.r > 120 && p.g < p.r / 2) ++reddish;
            if (p.r > 120 && p.g > p.r * 3 / 4) ++whitish;
        }
    EXPECT_GT(reddish, 30);
    EXPECT_GT(whitish, 30);

    // The BMP screenshot decodes to the read-back pixels.
    SDL_Surface* loaded = SDL_LoadBMP(ShotPath("lit_cube.bmp").c_str());
    ASSERT_NE(loaded, nullptr) << SDL_GetError();
    SDL_Surface* rgba = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA32, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(rgba, nullptr);
    ASSERT_EQ(rgba->w, kWidth);
    ASSERT_EQ(rgba->h, kHeight);
    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = static_cast<const uint8_t*>(rgba->pixels) + y * rgba->pitch + x * 4;
            if (!Near({p[0], p[1], p[2]}, PixelAt(img, x, y), 0)) ++mismatches;
        }
    SDL_FreeSurface(rgba);
    EXPECT_EQ(mismatches, 0);
}

// Raising the front distance from 1.0 to 6.0 magnifies six times.
TEST_F(RenderTest, FrontDistanceSixMagnifiesSixTimes) {
    TestScene s;
    auto cubeFrame = scene::Frame::Create(s.root);
    cubeFrame->AddVisual(MakeCube(1.5f, nullptr));
    cubeFrame->SetPosition(nullptr, {0, 0, 31.5f});
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));

    const Coverage near1 = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    ASSERT_TRUE(renderer->Screenshot(ShotPath("front1.png")));
    s.viewport.front = 6.0f;
    const Coverage near6 = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    ASSERT_TRUE(renderer->Screenshot(ShotPath("front6.png")));

    ASSERT_GT(near1.Height(), 20);
    // The front face is the nearest: 3 units high at depth 30 in a view 0.5 * 30 * 2 high.
    EXPECT_NEAR(near1.Height(), 3.0 / 30.0 * kHeight, 2.0);
    EXPECT_NEAR(double(near6.Height()) / near1.Height(), 6.0, 0.4);
    EXPECT_NEAR(double(near6.Width()) / near1.Width(), 6.0, 0.4);
    EXPECT_NEAR(near6.Width(), near6.Height(), 2) << "square pixels: the aspect is kept";
}

// A decal keyed on black shows its picture and leaves the background visible around it; the
// same decal without transparency covers its whole rectangle.
TEST_F(RenderTest, BlackKeyedDecalLeavesBackgroundVisible) {
    TestScene s;
    renderer->SetBackground({0, 0, 0.4f});
    // 16 x 16 black picture with a white 8 x 8 square in its middle.
    scene::Image img = Checker(1, 16, {0, 0, 0}, {0, 0, 0});
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x)
            for (int c = 0; c < 3; ++c)
                img.rgba[(size_t(y) * 16 + x) * 4 + c] = 255;
    auto decal = scene::Texture::CreateFromImage(std::move(img), "blood");
    decal->SetDecalSize(4.0f, 4.0f);
    decal->SetDecalOrigin(8, 8);
    decal->SetDecalTransparency(true);
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 10});
    frame->AddVisual(decal);

    const scene::Image keyed = Draw(*s.root, s.viewport);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("decal_keyed.png")));
    EXPECT_EQ(renderer->LastStats().decals, 1u);
    // 4 units at depth 10 in a view 10 units high: 96 pixels; the white square is half.
    const Coverage c = Measure(keyed, kBackground);
    EXPECT_NEAR(c.Width(), 48, 3);
    EXPECT_NEAR(c.Height(), 48, 3);
    // The origin pixel (the picture's centre) sits on the frame, at the screen's centre.
    EXPECT_NEAR((c.minX + c.maxX) / 2.0, kWidth / 2.0, 2.0);
    EXPECT_NEAR((c.minY + c.maxY) / 2.0, kHeight / 2.0, 2.0);
    EXPECT_TRUE(Near(PixelAt(keyed, kWidth / 2, kHeight / 2), {255, 255, 255}));
    // Inside the decal's rectangle but outside the white square: background.
    EXPECT_TRUE(Near(PixelAt(keyed, kWidth / 2 - 40, kHeight / 2), kBackground));
    EXPECT_TRUE(Near(PixelAt(keyed, kWidth / 2 + 40, kHeight / 2 + 40), kBackground));

    decal->SetDecalTransparency(false);
    const scene::Image opaque = Draw(*s.root, s.viewport);
    EXPECT_TRUE(Near(PixelAt(opaque, kWidth / 2 - 40, kHeight / 2), {0, 0, 0}));
    const Coverage o = Measure(opaque, kBackground);
    EXPECT_NEAR(o.Width(), 96, 3);

    // Moving the origin to the top-left pixel puts the picture right of and below the frame.
    decal->SetDecalTransparency(true);
    decal->SetDecalOrigin(0, 0);
    const Coverage moved = Measure(Draw(*s.root, s.viewport), kBackground);
    EXPECT_NEAR(moved.minX, kWidth / 2 + 24, 3);
    EXPECT_NEAR(moved.minY, kHeight / 2 + 24, 3);
}

// An on-screen decal (a sight) is drawn over what stands in front of its frame, its origin
// pixel where the frame appears, sized in double view heights; its border pixels reach the
// view's edges: a dark rim masks the whole view, a transparent rim leaves it clear. Behind the
// camera it is not drawn.
TEST_F(RenderTest, OnScreenDecalCoversTheViewFromTheAimPoint) {
    TestScene s;
    renderer->SetBackground({0, 0, 0.4f});
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    // A red wall between the camera and the sight's frame.
    auto wall = scene::MeshBuilder::Create();
    AddCubeFace(*wall, 50.0f, {0, 0, -1}, {0, 1, 0}, nullptr);
    wall->SetColorRGB(1.0f, 0.0f, 0.0f);
    auto wallFrame = scene::Frame::Create(s.root);
    wallFrame->SetPosition(nullptr, {0, 0, 55}); // its face at depth 5
    wallFrame->AddVisual(wall);
    // A 16 x 16 sight: a white 4 x 4 centre in a transparent (black) rim.
    scene::Image img = Checker(1, 16, {0, 0, 0}, {0, 0, 0});
    for (int y = 6; y < 10; ++y)
        for (int x = 6; x < 10; ++x)
            for (int c = 0; c < 3; ++c)
                img.rgba[(size_t(y) * 16 + x) * 4 + c] = 255;
    auto sight = scene::Texture::CreateFromImage(std::move(img), "sight");
    sight->SetDecalTransparency(true);
    sight->SetDecalOrigin(8, 8);
    sight->SetDecalOnScreen(true);
    sight->SetDecalSize(0.25f, 0.25f); // half the view's height
    auto aim = scene::Frame::Create(s.root);
    // 10 units ahead, a quarter of the view's half-height right of the centre.
    aim->SetPosition(nullptr, {0.25f * 0.5f * 10.0f, 0, 10});
    aim->AddVisual(sight);

    const scene::Image clear = Draw(*s.root, s.viewport);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("sight_clear.png")));
    const Coverage white = Measure(clear, {255, 0, 0});
    // The white centre is a quarter of the picture, the picture half the view's height.
    EXPECT_NEAR(white.Height(), kHeight / 8.0, 2.0);
    EXPECT_NEAR(white.Width(), kHeight / 8.0, 2.0);
    EXPECT_NEAR((white.minX + white.maxX) / 2.0, kWidth / 2.0 + kHeight / 8.0, 2.0);
    EXPECT_NEAR((white.minY + white.maxY) / 2.0, kHeight / 2.0, 2.0);
    EXPECT_TRUE(Near(PixelAt(clear, 10, 10), {255, 0, 0})) << "the rim is transparent";

    // A dark grey rim instead: repeated to the edges, it hides the wall everywhere.
    scene::Image masked = sight->GetImage();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (x == 0 || y == 0 || x == 15 || y == 15)
                for (int c = 0; c < 3; ++c)
                    masked.rgba[(size_t(y) * 16 + x) * 4 + c] = 20;
    sight->SetImage(std::move(masked));
    const scene::Image mask = Draw(*s.root, s.viewport);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("sight_mask.png")));
    for (const glm::ivec2 at : {glm::ivec2(2, 2), glm::ivec2(kWidth - 3, kHeight - 3),
                                glm::ivec2(kWidth - 3, 2), glm::ivec2(2, kHeight - 3)})
        EXPECT_TRUE(Near(PixelAt(mask, at.x, at.y), {20, 20, 20})) << at.x << "," << at.y;
    EXPECT_TRUE(Near(PixelAt(mask, kWidth / 2 + kHeight / 8, kHeight / 2), {255, 255, 255}));

    // Behind the camera: only the wall.
    aim->SetPosition(nullptr, {0, 0, -10});
    const Coverage behind = Measure(Draw(*s.root, s.viewport), {255, 0, 0});
    EXPECT_EQ(behind.count, 0);
    EXPECT_EQ(renderer->LastStats().decals, 0u);
}

// A face texture named like a map texture "{..." with blue as its key lets the scene behind
// show through the blue pixels.
TEST_F(RenderTest, BlueKeyedFaceTextureShowsWhatIsBehind) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    auto grille =
        scene::Texture::CreateFromImage(Checker(2, 8, {0, 0, 255}, {0, 255, 0}), "{grille.bmp");
    grille->SetDecalTransparency(true);
    grille->SetDecalTransparentColor(0x0000FF);
    auto front = scene::Frame::Create(s.root);
    front->SetPosition(nullptr, {0, 0, 6});
    front->AddVisual(MakeCube(1.0f, grille));
    auto wall = scene::MeshBuilder::Create();
    AddCubeFace(*wall, 20.0f, {0, 0, -1}, {0, 1, 0}, nullptr);
    wall->SetColorRGB(1.0f, 0.0f, 0.0f);
    auto wallFrame = scene::Frame::Create(s.root);
    wallFrame->SetPosition(nullptr, {0, 0, 40});
    wallFrame->AddVisual(wall);

    const scene::Image img = Draw(*s.root, s.viewport);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("blue_key.png")));
    // The cube's front face spans the centre; its top-left checker cell is blue (keyed, the
    // red wall shows through the whole cube), its top-right cell green.
    const int cx = kWidth / 2, cy = kHeight / 2;
    int red = 0, green = 0, blue = 0;
    for (int y = cy - 15; y <= cy + 15; ++y)
        for (int x = cx - 15; x <= cx + 15; ++x) {
            const glm::ivec3 p = PixelAt(img, x, y);
            red += p.r > 200 && p.g < 60 && p.b < 60;
            green += p.g > 200 && p.r < 60;
            blue += p.b > 150 && p.r < 60 && p.g < 60;
        }
    EXPECT_GT(red, 100);
    EXPECT_GT(green, 100);
    EXPECT_EQ(blue, 0) << "keyed pixels must not be drawn";
}

// Wireframe draws lines only: far fewer pixels than the filled cube, but some.
TEST_F(RenderTest, WireframeDrawsLinesOnly) {
    LitCubeScene s;
    const Coverage filled = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    renderer->SetQuality(scene::RenderQuality::Wireframe);
    const Coverage wire = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    ASSERT_TRUE(renderer->Screenshot(ShotPath("wireframe.png")));
    EXPECT_GT(filled.count, 2000);
    EXPECT_GT(wire.count, 100);
    EXPECT_LT(wire.count * 4, filled.count);
    // The outline spans the same extent as the filled cube.
    EXPECT_NEAR(wire.Width(), filled.Width(), 3);
    EXPECT_NEAR(wire.Height(), filled.Height(), 3);
}

// Qualities: unlit flat shows the face colour without any light; lit qualities need light;
// a visual's own lower quality wins over the renderer's.
TEST_F(RenderTest, QualitiesLightOrIgnoreLights) {
    TestScene s;
    auto cube = MakeCube(1.0f, nullptr);
    cube->SetColorRGB(0.0f, 0.8f, 0.0f);
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 6});
    frame->AddVisual(cube);
    const int cx = kWidth / 2, cy = kHeight / 2;

    // No light at all: lit qualities give black, unlit flat gives the colour.
    for (auto q :
         {scene::RenderQuality::Flat, scene::RenderQuality::Gouraud, scene::RenderQuality::Phong}) {
        renderer->SetQuality(q);
        EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), cx, cy), {0, 0, 0}))
            << "quality " << int(q);
    }
    renderer->SetQuality(scene::RenderQuality::UnlitFlat);
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), cx, cy), {0, 204, 0}));
    renderer->SetQuality(scene::RenderQuality::Phong);
    cube->SetQuality(scene::RenderQuality::UnlitFlat);
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), cx, cy), {0, 204, 0}));
    cube->SetQuality(scene::RenderQuality::Gouraud);

    // A white directional light shining along +z lights the front face fully; a material's
    // emissive colour adds without light.
    auto sun = scene::Frame::Create(s.root);
    sun->AddLight(scene::Light::Create(scene::LightType::Directional, glm::vec3(1.0f)));
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), cx, cy), {0, 204, 0}));
    sun->SetTraversalOptions(0); // lights do not depend on traversal flags
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), cx, cy), {0, 204, 0}));
    sun->DeleteFrameTree();
    s.root->DeleteChild(*sun);
    auto glow = scene::Material::Create();
    glow->emissive = {0.5f, 0.0f, 0.0f};
    cube->SetMaterial(glow);
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), cx, cy), {128, 0, 0}));
}

// Phong lights every pixel: a point light close to a large face makes a bright spot that
// gouraud, lighting only the corners, cannot show.
TEST_F(RenderTest, PhongShowsAHighlightGouraudMisses) {
    TestScene s;
    auto wall = scene::MeshBuilder::Create();
    AddCubeFace(*wall, 10.0f, {0, 0, -1}, {0, 1, 0}, nullptr); // at z = -10 in its frame
    wall->SetQuality(scene::RenderQuality::Phong);
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 20});
    frame->AddVisual(wall);
    auto lamp = scene::Frame::Create(s.root);
    lamp->SetPosition(nullptr, {0, 0, 9.5f});
    auto light = scene::Light::Create(scene::LightType::Point, glm::vec3(1.0f));
    light->linearAttenuation = 0.5f;
    lamp->AddLight(light);
    const int cx = kWidth / 2, cy = kHeight / 2;
    renderer->SetQuality(scene::RenderQuality::Gouraud);
    const double gouraud =
        MeanBrightness(Draw(*s.root, s.viewport), cx - 3, cy - 3, cx + 3, cy + 3);
    renderer->SetQuality(scene::RenderQuality::Phong);
    const double phong = MeanBrightness(Draw(*s.root, s.viewport), cx - 3, cy - 3, cx + 3, cy + 3);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("phong.png")));
    EXPECT_GT(phong, gouraud + 50.0) << "phong " << phong << " gouraud " << gouraud;
    // The renderer's quality caps the visual's: phong asked of the wall, gouraud drawn.
    renderer->SetQuality(scene::RenderQuality::Gouraud);
    EXPECT_NEAR(MeanBrightness(Draw(*s.root, s.viewport), cx - 3, cy - 3, cx + 3, cy + 3), gouraud,
                2.0);
}

// Texture filters: nearest magnification keeps the checker's two colours; linear blends them.
TEST_F(RenderTest, TextureFiltersFollowTheMenu) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    auto texture =
        scene::Texture::CreateFromImage(Checker(2, 1, {255, 255, 255}, {0, 0, 0}), "2x2");
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 4});
    frame->AddVisual(MakeCube(1.0f, texture));
    const int cx = kWidth / 2, cy = kHeight / 2;
    auto distinct = [&](scene::TextureFilter f) {
        renderer->SetTextureFilter(f);
        return CountDistinctColours(Draw(*s.root, s.viewport), cx - 40, cy - 40, cx + 40, cy + 40);
    };
    EXPECT_LE(distinct(scene::TextureFilter::Nearest), 2);
    EXPECT_LE(distinct(scene::TextureFilter::MipNearest), 2);
    EXPECT_LE(distinct(scene::TextureFilter::MipLinear), 2);
    EXPECT_GT(distinct(scene::TextureFilter::Linear), 10);
    EXPECT_GT(distinct(scene::TextureFilter::LinearMipNearest), 10);
    EXPECT_GT(distinct(scene::TextureFilter::LinearMipLinear), 10);
}

// Traversal flags: a frame without the render flag hides its subtree; a visual switched off
// alone is not drawn while its frame's other visuals are.
TEST_F(RenderTest, OnlyRenderedFramesAndVisualsAreDrawn) {
    LitCubeScene s;
    auto count = [&] { return Measure(Draw(*s.root, s.viewport), {0, 0, 0}).count; };
    const int all = count();
    ASSERT_GT(all, 2000);
    s.cubeFrame->SetTraversalOptions(scene::kFlagPickable);
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(renderer->LastStats().visuals, 0u);
    s.cubeFrame->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    s.cube->EnableRendering(false);
    EXPECT_EQ(count(), 0);
    auto other = MakeCube(0.5f, nullptr);
    s.cubeFrame->AddVisual(other);
    const int small = count();
    EXPECT_GT(small, 200);
    EXPECT_LT(small, all);
    s.cube->EnableRendering(true);
    EXPECT_EQ(count(), all) << "the inner cube is hidden by the outer one";
}

// The held layer (a weapon in a first-person hand): a long box reaching from nearer than the
// front plane through a wall is seen whole, in front of the wall, only when it is given as the
// held layer; its ancestors' render flags still hide it.
TEST_F(RenderTest, HeldLayerIsSeenWholeThroughTheFrontPlaneAndWalls) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    auto wall = scene::Frame::Create(s.root); // front face at z = 2, covering the view
    wall->AddVisual(MakeCube(10.0f, scene::Texture::CreateFromImage(
                                        Checker(1, 8, {40, 160, 40}, {40, 160, 40}), "wall")));
    wall->SetPosition(nullptr, {0, 0, 12});
    auto body = scene::Frame::Create(s.root);
    auto held = scene::Frame::Create(body); // x 0.15..0.45, y -0.45..-0.15, z 0.25..3.25
    held->AddVisual(MakeCube(1.0f, scene::Texture::CreateFromImage(
                                       Checker(1, 8, {230, 120, 20}, {230, 120, 20}), "box")));
    held->AddScale(scene::Combine::Replace, 0.15f, 0.15f, 1.5f);
    held->SetPosition(nullptr, {0.3f, -0.3f, 1.75f});
    const auto isBox = [](const glm::ivec3& c) { return c.r > 150 && c.g < 150 && c.b < 80; };
    const auto isWall = [](const glm::ivec3& c) { return c.g > c.r + 60; };
    // Screen points of the box: its near end at z 0.375 (before the front plane) and its far
    // end at z 2.5 (behind the wall).
    const int nearX = 256, nearY = 216, farX = 174, farY = 134;

    const scene::Image plain = Draw(*s.root, s.viewport);
    EXPECT_TRUE(isWall(PixelAt(plain, nearX, nearY))) << "clipped by the front plane";
    EXPECT_TRUE(isWall(PixelAt(plain, farX, farY))) << "behind the wall";

    renderer->Clear(s.viewport, render::kClearAll);
    renderer->Render(s.viewport, *s.root, held.get());
    const scene::Image layered = render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("held_layer.png")));
    EXPECT_TRUE(isBox(PixelAt(layered, nearX, nearY)));
    EXPECT_TRUE(isBox(PixelAt(layered, farX, farY)));
    EXPECT_TRUE(isWall(PixelAt(layered, 40, 40))) << "the rest of the scene is drawn as before";
    EXPECT_EQ(renderer->LastStats().visuals, 2u);

    body->SetTraversalOptions(scene::kFlagNone);
    renderer->Clear(s.viewport, render::kClearAll);
    renderer->Render(s.viewport, *s.root, held.get());
    const scene::Image hidden = render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
    EXPECT_TRUE(isWall(PixelAt(hidden, nearX, nearY)));
    EXPECT_TRUE(isWall(PixelAt(hidden, farX, farY)));
}

// The viewport rectangle counts from the top-left corner; clearing and drawing stay inside it.
TEST_F(RenderTest, ViewportRectangleAndClearStayInside) {
    LitCubeScene s;
    scene::ViewportParams whole = s.viewport;
    renderer->SetBackground({1.0f, 0.0f, 0.0f});
    renderer->Clear(whole, render::kClearAll);
    scene::ViewportParams corner = s.viewport;
    corner.x = 0;
    corner.y = 0;
    corner.width = kWidth / 2;
    corner.height = kHeight / 2;
    renderer->SetBackground({0.0f, 0.0f, 1.0f});
    renderer->Clear(corner, render::kClearAll);
    renderer->Render(corner, *s.root);
    const scene::Image img = render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("viewport.png")));
    EXPECT_TRUE(Near(PixelAt(img, 2, 2), {0, 0, 255}));
    EXPECT_TRUE(Near(PixelAt(img, kWidth - 3, kHeight - 3), {255, 0, 0}));
    EXPECT_TRUE(Near(PixelAt(img, kWidth - 3, 2), {255, 0, 0}));
    EXPECT_TRUE(Near(PixelAt(img, 2, kHeight - 3), {255, 0, 0}));
    // The cube is drawn centred in the quarter, and nowhere else.
    int outside = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const glm::ivec3 p = PixelAt(img, x, y);
            const bool inCorner = x < kWidth / 2 && y < kHeight / 2;
            if (!inCorner && !Near(p, {255, 0, 0})) ++outside;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_FALSE(Near(PixelAt(img, kWidth / 4, kHeight / 4), {0, 0, 255}));

    // A depth-only clear keeps the colour.
    renderer->SetBackground({0.0f, 1.0f, 0.0f});
    renderer->Clear(whole, render::kClearDepth);
    const scene::Image after = render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
    EXPECT_TRUE(Near(PixelAt(after, kWidth - 3, kHeight - 3), {255, 0, 0}));
}

// The overlay hook runs after the 3D pass, over the whole surface, and its drawing stays on
// top of the scene.
TEST_F(RenderTest, OverlayDrawsOverTheScene) {
    LitCubeScene s;
    int calls = 0, width = 0, height = 0;
    renderer->SetOverlay([&](int w, int h) {
        ++calls;
        width = w;
        height = h;
        glEnable(GL_SCISSOR_TEST);
        glScissor(w / 2 - 5, h / 2 - 5, 10, 10);
        glClearColor(1.0f, 1.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
    });
    const scene::Image before = Draw(*s.root, s.viewport);
    EXPECT_EQ(calls, 0) << "Render alone does not run the overlay";
    EXPECT_FALSE(Near(PixelAt(before, kWidth / 2, kHeight / 2), {255, 255, 0}));
    renderer->DrawOverlay();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    const scene::Image after = render::CaptureBackBuffer(kHeight, 0, 0, kWidth, kHeight);
    EXPECT_TRUE(Near(PixelAt(after, kWidth / 2, kHeight / 2), {255, 255, 0}));
    EXPECT_TRUE(Near(PixelAt(after, kWidth / 2 - 12, kHeight / 2),
                     PixelAt(before, kWidth / 2 - 12, kHeight / 2), 0));
}

} // namespace rendertest

namespace rendertest {

// Texture coordinates (0, 0) are the picture's top-left pixel, seen at the face's top-left
// corner from outside.
TEST_F(RenderTest, TexturesAreNotMirrored) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    scene::Image img = Checker(2, 1, {255, 0, 0}, {0, 0, 255}); // red top-left, blue top-right
    for (int c = 0; c < 3; ++c)
        img.rgba[2 * 4 + c] = img.rgba[3 * 4 + c] = c == 1 ? 255 : 0;
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 4});
    frame->AddVisual(MakeCube(1.0f, scene::Texture::CreateFromImage(std::move(img), "quads")));
    renderer->SetTextureFilter(scene::TextureFilter::Nearest);
    const scene::Image shot = Draw(*s.root, s.viewport);
    const int cx = kWidth / 2, cy = kHeight / 2;
    EXPECT_TRUE(Near(PixelAt(shot, cx - 20, cy - 20), {255, 0, 0}));
    EXPECT_TRUE(Near(PixelAt(shot, cx + 20, cy - 20), {0, 0, 255}));
    EXPECT_TRUE(Near(PixelAt(shot, cx - 20, cy + 20), {0, 255, 0}));
    EXPECT_TRUE(Near(PixelAt(shot, cx + 20, cy + 20), {0, 255, 0}));
}

// Without a current GL context the renderer refuses to start and says why.
TEST_F(RenderTest, CreateWithoutContextFails) {
    SDL_GLContext current = SDL_GL_GetCurrentContext();
    SDL_GL_MakeCurrent(context->Window(), nullptr);
    std::string error;
    EXPECT_EQ(render::Renderer::Create(&error), nullptr);
    EXPECT_NE(error.find("context"), std::string::npos) << error;
    SDL_GL_MakeCurrent(context->Window(), current);
}

} // namespace rendertest

namespace rendertest {

// Degenerate scenes draw what they can: empty builders, pictureless textures, zero-sized
// decals, more lights than the pass takes, no camera or an empty rectangle.
TEST_F(RenderTest, DegenerateScenesDoNotFail) {
    TestScene s;
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 6});
    frame->AddVisual(scene::MeshBuilder::Create());
    auto noPicture = scene::Texture::CreateFromImage(scene::Image{}, "missing");
    frame->AddVisual(noPicture);
    auto tiny = scene::Texture::CreateFromImage(Checker(1, 2, {9, 9, 9}, {9, 9, 9}), "tiny");
    tiny->SetDecalSize(0.0f, 0.0f);
    frame->AddVisual(tiny);
    scene::Image broken;
    broken.width = 64;
    broken.height = 64; // no pixels
    auto cube = MakeCube(1.0f, scene::Texture::CreateFromImage(std::move(broken), "broken"));
    cube->SetColorRGB(0.0f, 1.0f, 0.0f);
    frame->AddVisual(cube);
    for (int i = 0; i < render::kMaxPointLights + 3; ++i) {
        auto lamp = scene::Frame::Create(s.root);
        lamp->SetPosition(nullptr, {0, 0, 0});
        lamp->AddLight(scene::Light::Create(scene::LightType::Point, glm::vec3(0.1f)));
    }
    for (int i = 0; i < render::kMaxDirectionalLights + 2; ++i)
        s.root->AddLight(scene::Light::Create(scene::LightType::Directional, glm::vec3(0.02f)));

    // The cube is drawn untextured, lit by the first eight point lights (0.8) and the first
    // four directional ones (0.08), which shine along +z onto the face seen. Gouraud: the
    // point lights are evaluated at the corners, 5 deep and sqrt(2) off the axis.
    const scene::Image img = Draw(*s.root, s.viewport);
    const int green = int(std::lround(255 * (0.8 * 5.0 / std::sqrt(27.0) + 0.08)));
    EXPECT_TRUE(Near(PixelAt(img, kWidth / 2, kHeight / 2), {0, green, 0}, 3))
        << glm::to_string(PixelAt(img, kWidth / 2, kHeight / 2));
    EXPECT_EQ(renderer->LastStats().visuals, 1u);

    scene::ViewportParams noCamera = s.viewport;
    noCamera.camera = nullptr;
    renderer->Render(noCamera, *s.root);
    EXPECT_EQ(renderer->LastStats().drawCalls, 0u);
    scene::ViewportParams empty = s.viewport;
    empty.width = 0;
    renderer->Clear(empty);
    renderer->Render(empty, *s.root);
    EXPECT_EQ(renderer->LastStats().drawCalls, 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace rendertest
