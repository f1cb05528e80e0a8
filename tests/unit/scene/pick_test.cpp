// Ray picks: flags of frames and visuals, nearest-first order, several meshes on one ray, the
// acceleration structure against a brute-force reference, rebuilds after edits.
#include "platform/scene/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using scene::Combine;
using scene::Frame;
using scene::MeshBuilder;
using scene::PickResults;

// A square wall of side 2 centred on the origin of its own xy plane (z = 0), one quad face.
std::shared_ptr<MeshBuilder> Wall(const char* name) {
    auto mb = MeshBuilder::Create();
    mb->SetName(name);
    const std::vector<glm::vec3> v{{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    const std::vector<int32_t> faces{4, 0, 1, 2, 3, 0};
    EXPECT_TRUE(mb->AddFaces(v, {}, faces));
    return mb;
}

std::shared_ptr<Frame> WallAt(const std::shared_ptr<Frame>& parent, float z, const char* name) {
    auto f = Frame::Create(parent);
    f->AddTranslation(Combine::Replace, 0, 0, z);
    f->AddVisual(Wall(name));
    return f;
}

TEST(Pick, HitsComeNearestFirstThroughSeveralMeshes) {
    auto root = Frame::Create();
    auto world = Frame::Create(root);
    // Added far to near, so the order of the hits cannot come from the order of the tree.
    auto far = WallAt(world, 30, "far");
    auto mid = WallAt(world, 20, "mid");
    auto nearWall = WallAt(world, 10, "near");
    nearWall->Visuals()[0]->SetAppData(7);

    PickResults hits;
    ASSERT_EQ(scene::Pick(*world, {0.5f, 0.25f, 0}, {0, 0, 2}, hits), 3u);
    EXPECT_EQ(hits[0].visual->GetName(), "near");
    EXPECT_EQ(hits[0].visual->GetAppData(), 7u);
    EXPECT_EQ(hits[0].frame, nearWall.get());
    EXPECT_EQ(hits[1].visual->GetName(), "mid");
    EXPECT_EQ(hits[2].visual->GetName(), "far");
    EXPECT_NEAR(hits[0].distance, 10.0f, 1e-4f);
    EXPECT_NEAR(hits[2].distance, 30.0f, 1e-4f);
    EXPECT_NEAR(hits[1].point.x, 0.5f, 1e-5f);
    EXPECT_NEAR(hits[1].point.y, 0.25f, 1e-5f);
    EXPECT_NEAR(hits[1].point.z, 20.0f, 1e-4f);
    EXPECT_EQ(hits[0].faceIndex, 0u);

    // Starting between walls: only what lies ahead counts; backwards finds the one behind,
    // its back face included.
    EXPECT_EQ(scene::Pick(*world, {0, 0, 15}, {0, 0, 1}, hits), 2u);
    EXPECT_EQ(hits[0].visual->GetName(), "mid");
    EXPECT_EQ(scene::Pick(*world, {0, 0, 15}, {0, 0, -1}, hits), 1u);
    EXPECT_EQ(hits[0].visual->GetName(), "near");
    // Beside the walls, a ray parallel to them, and a zero direction find nothing.
    EXPECT_EQ(scene::Pick(*world, {3, 0, 0}, {0, 0, 1}, hits), 0u);
    EXPECT_EQ(scene::Pick(*world, {0, 0, 10.5f}, {1, 0, 0}, hits), 0u);
    EXPECT_EQ(scene::Pick(*world, {0, 0, 0}, {0, 0, 0}, hits), 0u);
    EXPECT_TRUE(hits.Empty());
}

TEST(Pick, HitPointsAreInSceneCoordinatesUnderScaledRotatedFrames) {
    auto root = Frame::Create();
    auto parent = Frame::Create(root);
    parent->AddScale(Combine::Replace, 5, 5, 5);
    parent->AddRotation(Combine::After, {0, 1, 0}, glm::radians(90.0f)); // wall now faces x
    parent->AddTranslation(Combine::After, 100, 0, 0);
    parent->AddVisual(Wall("w"));

    PickResults hits;
    ASSERT_EQ(scene::Pick(*root, {0, 3, -2}, {1, 0, 0}, hits), 1u);
    EXPECT_NEAR(hits[0].point.x, 100.0f, 1e-3f);
    EXPECT_NEAR(hits[0].point.y, 3.0f, 1e-4f);
    EXPECT_NEAR(hits[0].point.z, -2.0f, 1e-4f);
    EXPECT_NEAR(hits[0].distance, 100.0f, 1e-3f);
    EXPECT_EQ(scene::Pick(*root, {0, 6, 0}, {1, 0, 0}, hits), 0u) << "5 x 1 is the wall's edge";
}

TEST(Pick, FrameFlagsApplyToWholeSubtrees) {
    auto root = Frame::Create();
    auto walls = Frame::Create(root);
    auto section = Frame::Create(walls);
    WallAt(section, 10, "inner");
    WallAt(walls, 20, "outer");

    PickResults hits;
    EXPECT_EQ(scene::Pick(*walls, {0, 0, 0}, {0, 0, 1}, hits), 2u);

    // Render-only section: nothing below it is hit, even a pickable child frame's mesh.
    section->SetTraversalOptions(scene::kFlagRendered);
    ASSERT_EQ(scene::Pick(*walls, {0, 0, 0}, {0, 0, 1}, hits), 1u);
    EXPECT_EQ(hits[0].visual->GetName(), "outer");

    // Pickable but not drawn (a hidden collision section) is still hit.
    section->SetTraversalOptions(scene::kFlagPickable);
    EXPECT_EQ(scene::Pick(*walls, {0, 0, 0}, {0, 0, 1}, hits), 2u);

    // The picked frame's own flags count too.
    walls->SetTraversalOptions(scene::kFlagNone);
    EXPECT_EQ(scene::Pick(*walls, {0, 0, 0}, {0, 0, 1}, hits), 0u);
}

TEST(Pick, MeshBuilderOwnFlagsSwitchPickingAndDrawingOfThatMeshOnly) {
    auto root = Frame::Create();
    auto f = Frame::Create(root);
    auto shown = Wall("shown");
    auto box = Wall("box");
    f->AddVisual(shown);
    f->AddVisual(box);

    PickResults hits;
    box->SetFlags(scene::kFlagRendered); // a hit box drawn but not picked
    ASSERT_EQ(scene::Pick(*root, {0, 0, -1}, {0, 0, 1}, hits), 1u);
    EXPECT_EQ(hits[0].visual, shown.get());

    auto drawnNames = [&] {
        std::vector<std::string> names;
        scene::ForEachRenderedVisual(*root,
                                     [&](const Frame&, const scene::Visual& v, const glm::mat4&) {
                                         names.push_back(v.GetName());
                                     });
        return names;
    };
    EXPECT_EQ(drawnNames(), (std::vector<std::string>{"shown", "box"}));
    // The frame keeps both; switching one builder's drawing off hides only that one, and its
    // pick flag is unaffected.
    shown->EnableRendering(false);
    EXPECT_EQ(drawnNames(), (std::vector<std::string>{"box"}));
    EXPECT_EQ(scene::Pick(*root, {0, 0, -1}, {0, 0, 1}, hits), 1u);
    shown->EnableRendering(true);
    EXPECT_EQ(drawnNames(), (std::vector<std::string>{"shown", "box"}));
    // A render-less frame hides its subtree from drawing but not from picks.
    f->SetTraversalOptions(scene::kFlagPickable);
    EXPECT_TRUE(drawnNames().empty());
    EXPECT_EQ(scene::Pick(*root, {0, 0, -1}, {0, 0, 1}, hits), 1u);
}

// Brute-force reference: nearest forward hit over every triangle of the builder.
float BruteForce(const MeshBuilder& mb, const glm::vec3& o, const glm::vec3& d) {
    std::vector<uint32_t> idx;
    mb.Triangulate(idx, nullptr);
    float best = INFINITY;
    for (size_t t = 0; t + 2 < idx.size(); t += 3) {
        const glm::vec3 a = mb.GetVertex(idx[t]), b = mb.GetVertex(idx[t + 1]),
                        c = mb.GetVertex(idx[t + 2]);
        const glm::vec3 e1 = b - a, e2 = c - a, p = glm::cross(d, e2);
        const double det = glm::dot(e1, p);
        if (std::abs(det) < 1e-12) continue;
        const glm::vec3 s = o - a, q = glm::cross(s, e1);
        const double u = glm::dot(s, p) / det, v = glm::dot(d, q) / det;
        const double t0 = glm::dot(e2, q) / det;
        if (u >= 0 && v >= 0 && u + v <= 1 && t0 >= 0 && t0 < best) best = float(t0);
    }
    return best;
}

TEST(Pick, AccelerationStructureAgreesWithBruteForceAndFollowsEdits) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> pos(-50.0f, 50.0f), small(-2.0f, 2.0f);
    auto mb = MeshBuilder::Create();
    for (int i = 0; i < 3000; ++i) {
        const glm::vec3 c(pos(rng), pos(rng), pos(rng));
        const uint32_t a = mb->AddVertex(c + glm::vec3(small(rng), small(rng), small(rng)));
        const uint32_t b = mb->AddVertex(c + glm::vec3(small(rng), small(rng), small(rng)));
        const uint32_t d = mb->AddVertex(c + glm::vec3(small(rng), small(rng), small(rng)));
        const uint32_t n = mb->AddNormal({0, 1, 0});
        const uint32_t f = mb->CreateFace();
        mb->AddFaceCorner(f, a, n);
        mb->AddFaceCorner(f, b, n);
        mb->AddFaceCorner(f, d, n);
    }
    auto root = Frame::Create();
    root->AddVisual(mb);
    PickResults hits;
    int hitCount = 0;
    for (int r = 0; r < 300; ++r) {
        const glm::vec3 o(pos(rng), pos(rng), -60.0f);
        const glm::vec3 d = glm::normalize(glm::vec3(small(rng) * 0.1f, small(rng) * 0.1f, 1.0f));
        const float expected = BruteForce(*mb, o, d);
        const size_t n = scene::Pick(*root, o, d, hits);
        if (std::isinf(expected)) {
            EXPECT_EQ(n, 0u);
            continue;
        }
        ASSERT_EQ(n, 1u);
        EXPECT_NEAR(hits[0].distance, expected, 1e-3f);
        ++hitCount;
    }
    EXPECT_GT(hitCount, 20) << "the random scene should be hit by many rays";

    // Moving a vertex, deleting a face: the next pick sees the edited mesh.
    auto wall = Wall("edit");
    auto f = Frame::Create(root);
    f->AddVisual(wall);
    f->AddTranslation(Combine::Replace, 0, 0, 200);
    ASSERT_EQ(scene::Pick(*f, {0.5f, 0.5f, 0}, {0, 0, 1}, hits), 1u);
    wall->Translate(0, 0, 5);
    ASSERT_EQ(scene::Pick(*f, {0.5f, 0.5f, 0}, {0, 0, 1}, hits), 1u);
    EXPECT_NEAR(hits[0].distance, 205.0f, 1e-3f);
    EXPECT_TRUE(wall->DeleteFace(0));
    EXPECT_EQ(scene::Pick(*f, {0.5f, 0.5f, 0}, {0, 0, 1}, hits), 0u);

    // A skinned mesh written through its vertex group is picked where it now is.
    auto src = Wall("skin");
    auto mesh = scene::Mesh::CreateFromBuilder(*src);
    auto g = Frame::Create();
    g->AddVisual(mesh);
    ASSERT_EQ(scene::Pick(*g, {0, 0, -1}, {0, 0, 1}, hits), 1u);
    std::vector<scene::VertexRecord> v(mesh->GetVertexCount());
    mesh->GetVertices(0, v);
    for (auto& r : v)
        r.position.z = 3.0f;
    ASSERT_TRUE(mesh->SetVertices(0, v));
    ASSERT_EQ(scene::Pick(*g, {0, 0, -1}, {0, 0, 1}, hits), 1u);
    EXPECT_NEAR(hits[0].distance, 4.0f, 1e-4f);
}

} // namespace
