// Per-frame scene work allocates nothing once warmed up: picks, transforms, animation, vertex
// group writes. Counts every operator new of this test binary while the work runs.
#include "platform/scene/scene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

// The replacement operators below pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using scene::Combine;
using scene::Frame;

TEST(SteadyState, PerFrameSceneWorkDoesNotAllocate) {
    auto root = Frame::Create();
    auto walls = Frame::Create(root);
    auto mb = scene::MeshBuilder::Create();
    for (int i = 0; i < 200; ++i) {
        const std::vector<glm::vec3> v{
            {-1, -1, float(i)}, {1, -1, float(i)}, {1, 1, float(i)}, {-1, 1, float(i)}};
        ASSERT_TRUE(mb->AddFaces(v, {}, std::vector<int32_t>{4, 0, 1, 2, 3, 0}));
    }
    walls->AddVisual(mb);
    auto body = Frame::Create(walls);
    body->AddScale(Combine::Replace, 0.08f, 0.08f, 0.08f);
    auto mesh = scene::Mesh::CreateFromBuilder(*mb);
    body->AddVisual(mesh);
    auto bone = Frame::Create(body);
    auto anim = scene::Animation::Create();
    anim->SetFrame(bone);
    anim->AddPositionKey(0, {0, 0, 0});
    anim->AddPositionKey(10, {1, 2, 3});
    anim->AddRotationKey(0, glm::quat(1, 0, 0, 0));
    anim->AddRotationKey(10, glm::angleAxis(1.0f, glm::vec3(0, 1, 0)));
    auto set = scene::AnimationSet::Create();
    set->AddAnimation(anim);
    std::vector<scene::VertexRecord> vertices(mesh->GetVertexCount());
    std::vector<glm::vec3> local(64, glm::vec3(1, 2, 3)), out(64);
    scene::PickResults hits;

    auto frameOfWork = [&](int i) {
        scene::Pick(*walls, {0.5f, 0.5f, -5.0f}, {0, 0, 1}, hits);
        set->SetTime(float(i) * 0.37f);
        bone->Transform(out, local);
        Frame::TransformBetween(bone.get(), walls.get(), out, local);
        body->SetPosition(walls.get(), {float(i), 0, 0});
        body->SetOrientation(walls.get(), {1, 0, 1}, {0, 1, 0});
        body->AddScale(Combine::Before, 0.08f, 0.08f, 0.08f);
        body->SetVelocity(walls.get(), {0, 0, 1});
        body->Move(0.5f);
        mesh->GetVertices(0, vertices);
        vertices[0].position.x += 0.001f;
        mesh->SetVertices(0, vertices);
        glm::vec3 d, u;
        body->GetOrientation(walls.get(), d, u);
    };
    frameOfWork(0); // builds the pick structures, grows the result list
    ASSERT_GE(hits.Size(), 1u);

    allocations = 0;
    counting = true;
    for (int i = 1; i < 50; ++i)
        frameOfWork(i);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    ASSERT_GE(hits.Size(), 1u) << "the picks still hit the walls";
    EXPECT_NEAR(hits[0].distance, 5.0f, 1e-4f);
}

} // namespace
