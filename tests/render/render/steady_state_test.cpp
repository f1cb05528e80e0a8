// tests/render/render/steady_state_test.cpp — frames after the first allocate nothing, even
// with a skinned mesh written every frame, decals and several lights; and specular
// highlights add the material's specular colour.
#include "tests/render/render/render_fixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> gAllocations{0};
} // namespace

// Every allocation of this test binary is counted.
void* operator new(std::size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace rendertest {

TEST_F(RenderTest, SteadyStateFramesAllocateNothing) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(0.3f)));
    auto lamp = scene::Frame::Create(s.root);
    lamp->SetPosition(nullptr, {2, 2, 0});
    lamp->AddLight(scene::Light::Create(scene::LightType::Point, glm::vec3(0.8f)));
    auto sun = scene::Frame::Create(s.root);
    sun->AddLight(scene::Light::Create(scene::LightType::Directional, glm::vec3(0.2f)));

    auto texture = scene::Texture::CreateFromImage(Checker(2, 4, {255, 255, 255}, {0, 0, 0}), "c");
    auto skinned = scene::Mesh::CreateFromBuilder(*MakeCube(1.0f, texture));
    skinned->SetGroupTexture(texture);
    auto body = scene::Frame::Create(s.root);
    body->SetPosition(nullptr, {0, 0, 8});
    body->AddVisual(skinned);
    auto wall = scene::Frame::Create(s.root);
    wall->SetPosition(nullptr, {3, 0, 10});
    wall->AddVisual(MakeCube(1.0f, texture));
    auto blood = scene::Texture::CreateFromImage(Checker(2, 4, {200, 0, 0}, {0, 0, 0}), "blood");
    blood->SetDecalTransparency(true);
    auto splat = scene::Frame::Create(s.root);
    splat->SetPosition(nullptr, {-2, 0, 6});
    splat->AddVisual(blood);

    std::vector<scene::VertexRecord> group(skinned->GetVertexCount());
    skinned->GetVertices(0, group);
    auto frame = [&](int i) {
        for (auto& r : group)
            r.position.y += (i % 2 ? 0.01f : -0.01f);
        skinned->SetVertices(0, group);
        body->AddRotation(scene::Combine::Before, {0, 1, 0}, 0.05f);
        renderer->Clear(s.viewport);
        renderer->Render(s.viewport, *s.root);
    };
    for (int i = 0; i < 3; ++i)
        frame(i);
    const long before = gAllocations.load();
    for (int i = 3; i < 203; ++i)
        frame(i); // crosses a cache sweep
    const long during = gAllocations.load() - before;
    EXPECT_EQ(during, 0);
    EXPECT_EQ(renderer->LastStats().visuals, 2u);
    EXPECT_EQ(renderer->LastStats().decals, 1u);
    EXPECT_EQ(renderer->LastStats().meshUploads, 1u);
}

// A shiny red face under a white light gains white where the light reflects towards the
// eye; the same face without a specular term stays pure red.
TEST_F(RenderTest, SpecularHighlightAddsTheSpecularColour) {
    TestScene s;
    auto wall = scene::MeshBuilder::Create();
    AddCubeFace(*wall, 10.0f, {0, 0, -1}, {0, 1, 0}, nullptr);
    wall->SetColorRGB(1.0f, 0.0f, 0.0f);
    wall->SetQuality(scene::RenderQuality::Phong);
    auto frame = scene::Frame::Create(s.root);
    frame->SetPosition(nullptr, {0, 0, 20}); // the face lies at z = 10
    frame->AddVisual(wall);
    auto lamp = scene::Frame::Create(s.root);
    lamp->SetPosition(nullptr, {0, 0, 2});
    lamp->AddLight(scene::Light::Create(scene::LightType::Point, glm::vec3(1.0f)));
    renderer->SetQuality(scene::RenderQuality::Phong);
    const int cx = kWidth / 2, cy = kHeight / 2;

    const glm::ivec3 matte = PixelAt(Draw(*s.root, s.viewport), cx, cy);
    EXPECT_GT(matte.r, 200);
    EXPECT_LT(matte.g, 5);
    auto shiny = scene::Material::Create(10.0f);
    shiny->specular = glm::vec3(1.0f);
    wall->SetMaterial(shiny);
    const scene::Image img = Draw(*s.root, s.viewport);
    ASSERT_TRUE(renderer->Screenshot(ShotPath("specular.png")));
    EXPECT_GT(PixelAt(img, cx, cy).g, 150);
    // The highlight is a spot: far from the centre the face is red again.
    EXPECT_LT(PixelAt(img, 10, cy).g, PixelAt(img, cx, cy).g / 2);
}

} // namespace rendertest
