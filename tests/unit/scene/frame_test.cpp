// Frame transforms: relative positions and orientations, combine modes, look-at, velocity,
// many-vector transforms, hierarchy edits and subtree boxes.
#include "platform/scene/scene.h"

#include <gtest/gtest.h>

#include <glm/gtc/constants.hpp>

#include <array>

namespace {

using scene::Combine;
using scene::Frame;

constexpr float kEps = 1e-5f;
constexpr float kQuarter = glm::half_pi<float>();

void ExpectVec(const glm::vec3& actual, const glm::vec3& expected, float eps = kEps) {
    EXPECT_NEAR(actual.x, expected.x, eps) << "x";
    EXPECT_NEAR(actual.y, expected.y, eps) << "y";
    EXPECT_NEAR(actual.z, expected.z, eps) << "z";
}

// Where a frame's local axis ends up in its parent's space.
glm::vec3 AxisInParent(const Frame& f, const glm::vec3& axis) {
    return glm::mat3(f.GetLocalTransform()) * axis;
}

TEST(Frame, PositionsRelativeToScaledFramesUseTheReferenceScale) {
    auto root = Frame::Create();
    auto sceneFrame = Frame::Create(root);
    auto body = Frame::Create(sceneFrame);
    body->SetPosition(sceneFrame.get(), {10, 0, 0});
    body->AddScale(Combine::Before, 0.08f, 0.08f, 0.08f);
    auto child = Frame::Create(body);

    // 5 units under a 0.08 frame are 0.4 scene units.
    child->SetPosition(body.get(), {0, 0, 5});
    ExpectVec(child->GetPosition(sceneFrame.get()), {10, 0, 0.4f});
    ExpectVec(child->GetPosition(body.get()), {0, 0, 5});
    ExpectVec(child->GetPosition(nullptr), {0, 0, 5});

    // Setting a position relative to the scene lands at the same scene point whatever the
    // parent's scale; reading it back relative to the scaled frame gives the scaled distance.
    child->SetPosition(sceneFrame.get(), {10, 2, 0});
    ExpectVec(child->GetPosition(sceneFrame.get()), {10, 2, 0});
    ExpectVec(child->GetPosition(body.get()), {0, 25, 0}, 1e-4f);

    // Scene coordinates of a detached tree are its root's: the root's own transform is not
    // applied.
    root->AddTranslation(Combine::Replace, 100, 0, 0);
    ExpectVec(child->TransformPoint({0, 0, 0}), {10, 2, 0});
}

TEST(Frame, OrientationRebuildsRotationAndDiscardsScale) {
    auto root = Frame::Create();
    auto f = Frame::Create(root);
    f->SetPosition(nullptr, {1, 2, 3});
    f->AddScale(Combine::Before, 0.08f, 0.08f, 0.08f);
    f->SetOrientation(root.get(), {1, 0, 0}, {0, 1, 0});

    ExpectVec(f->GetPosition(root.get()), {1, 2, 3});
    ExpectVec(AxisInParent(*f, {0, 0, 1}), {1, 0, 0});
    ExpectVec(AxisInParent(*f, {0, 1, 0}), {0, 1, 0});
    ExpectVec(AxisInParent(*f, {1, 0, 0}), {0, 0, -1}); // left-handed: x = up x dir
    EXPECT_NEAR(glm::length(AxisInParent(*f, {1, 0, 0})), 1.0f, kEps) << "scale kept";

    glm::vec3 dir, up;
    f->AddScale(Combine::Before, 3, 3, 3);
    f->GetOrientation(root.get(), dir, up);
    ExpectVec(dir, {1, 0, 0});
    ExpectVec(up, {0, 1, 0});

    // An up vector that is not perpendicular is straightened; a zero direction is ignored.
    f->SetOrientation(root.get(), {0, 0, 2}, {0, 1, 1});
    ExpectVec(AxisInParent(*f, {0, 1, 0}), {0, 1, 0});
    f->SetOrientation(root.get(), {0, 0, 0}, {0, 1, 0});
    ExpectVec(AxisInParent(*f, {0, 0, 1}), {0, 0, 1});
    // An up parallel to the direction still gives an orthonormal frame.
    f->SetOrientation(root.get(), {0, 1, 0}, {0, 1, 0});
    ExpectVec(AxisInParent(*f, {0, 0, 1}), {0, 1, 0});
    EXPECT_NEAR(glm::dot(AxisInParent(*f, {0, 1, 0}), {0, 1, 0}), 0.0f, kEps);
}

TEST(Frame, RotationMatrixAndQuaternionConventions) {
    auto root = Frame::Create();

    // The ordinary rotation matrix: +90 degrees about z takes +x to +y, about y takes +z to +x.
    auto a = Frame::Create(root);
    a->AddRotation(Combine::Replace, {0, 0, 1}, kQuarter);
    ExpectVec(AxisInParent(*a, {1, 0, 0}), {0, 1, 0});
    a->AddRotation(Combine::Replace, {0, 1, 0}, kQuarter);
    ExpectVec(AxisInParent(*a, {0, 0, 1}), {1, 0, 0});

    // An orientation given as the quaternion of +90 degrees about z uses the transposed matrix:
    // +x goes to -y.
    auto b = Frame::Create(root);
    b->SetPosition(nullptr, {4, 5, 6});
    const glm::quat qz = glm::angleAxis(kQuarter, glm::vec3(0, 0, 1));
    b->SetQuaternion(root.get(), qz);
    ExpectVec(AxisInParent(*b, {1, 0, 0}), {0, -1, 0});
    ExpectVec(b->GetPosition(nullptr), {4, 5, 6});
    ExpectVec(glm::mat3(scene::QuatToMatrix(qz)) * glm::vec3(1, 0, 0), {0, -1, 0});
}

TEST(Frame, OrientationRelativeToItselfTurnsAboutItsOwnAxis) {
    auto root = Frame::Create();
    auto f = Frame::Create(root);
    f->SetOrientation(root.get(), {1, 0, 0}, {0, 1, 0}); // facing +x
    // Facing (sin 90, 0, cos 90) relative to itself: a quarter turn about its own y axis.
    f->SetOrientation(f.get(), {1, 0, 0}, {0, 1, 0});
    ExpectVec(AxisInParent(*f, {0, 0, 1}), {0, 0, -1});
    // Three successive 30-degree turns make 90 degrees.
    auto g = Frame::Create(root);
    const float c = glm::radians(30.0f);
    for (int i = 0; i < 3; ++i)
        g->SetOrientation(g.get(), {std::sin(c), 0, std::cos(c)}, {0, 1, 0});
    ExpectVec(AxisInParent(*g, {0, 0, 1}), {1, 0, 0});
    // A tilted frame turns about its own (tilted) up axis, not the parent's.
    auto h = Frame::Create(root);
    h->AddRotation(Combine::Replace, {1, 0, 0}, -kQuarter); // its up axis now points along -z
    const glm::vec3 upBefore = AxisInParent(*h, {0, 1, 0});
    h->SetOrientation(h.get(), {1, 0, 0}, {0, 1, 0});
    ExpectVec(AxisInParent(*h, {0, 1, 0}), upBefore);
}

TEST(Frame, CombineModesReplaceBeforeAfter) {
    auto root = Frame::Create();
    auto f = Frame::Create(root);
    f->AddTranslation(Combine::Replace, 10, 0, 0);

    // After: the rotation acts in the parent's space, so it carries the position too.
    f->AddRotation(Combine::After, {0, 0, 1}, kQuarter);
    ExpectVec(f->GetPosition(nullptr), {0, 10, 0});

    // Before: the translation acts in the frame's own (rotated) space.
    f->AddTranslation(Combine::Before, 1, 0, 0);
    ExpectVec(f->GetPosition(nullptr), {0, 11, 0});
    // After: the translation acts in the parent's space.
    f->AddTranslation(Combine::After, 1, 0, 0);
    ExpectVec(f->GetPosition(nullptr), {1, 11, 0});

    // Scale before keeps the position and scales the axes; scale after scales the position.
    f->AddScale(Combine::Before, 2, 2, 2);
    ExpectVec(f->GetPosition(nullptr), {1, 11, 0});
    EXPECT_NEAR(glm::length(AxisInParent(*f, {1, 0, 0})), 2.0f, kEps);
    f->AddScale(Combine::After, 2, 2, 2);
    ExpectVec(f->GetPosition(nullptr), {2, 22, 0});

    // Replace drops everything before it.
    f->AddScale(Combine::Replace, 3, 3, 3);
    ExpectVec(f->GetPosition(nullptr), {0, 0, 0});
    ExpectVec(AxisInParent(*f, {1, 0, 0}), {3, 0, 0});
    glm::mat4 m(1.0f);
    m[3] = glm::vec4(7, 8, 9, 1);
    f->AddTransform(Combine::Replace, m);
    EXPECT_EQ(f->GetLocalTransform(), m);
}

TEST(Frame, LookAtPointsDirectionAtTargetAndDropsScale) {
    auto root = Frame::Create();
    auto eye = Frame::Create(root);
    auto target = Frame::Create(root);
    eye->SetPosition(root.get(), {1, 1, 1});
    eye->AddScale(Combine::Before, 5, 5, 5);
    target->SetPosition(root.get(), {1, 1, 11});

    eye->LookAt(*target, root.get());
    glm::vec3 dir, up;
    eye->GetOrientation(root.get(), dir, up);
    ExpectVec(dir, {0, 0, 1});
    ExpectVec(up, {0, 1, 0});
    EXPECT_NEAR(glm::length(AxisInParent(*eye, {1, 0, 0})), 1.0f, kEps);
    ExpectVec(eye->GetPosition(root.get()), {1, 1, 1});

    target->SetPosition(root.get(), {-9, 1, 1});
    eye->LookAt(*target, root.get());
    eye->GetOrientation(root.get(), dir, up);
    ExpectVec(dir, {-1, 0, 0});

    // A target at the eye's own origin leaves the orientation as it was.
    target->SetPosition(root.get(), {1, 1, 1});
    eye->LookAt(*target, root.get());
    eye->GetOrientation(root.get(), dir, up);
    ExpectVec(dir, {-1, 0, 0});
}

TEST(Frame, VelocityIsConvertedFromTheReferenceAndAppliedByMove) {
    auto root = Frame::Create();
    auto sceneFrame = Frame::Create(root);
    auto parent = Frame::Create(sceneFrame);
    parent->AddRotation(Combine::Replace, {0, 1, 0}, kQuarter); // parent's +z is scene +x
    auto f = Frame::Create(parent);

    f->SetVelocity(sceneFrame.get(), {2, 0, 0}); // scene +x = parent's +z
    ExpectVec(f->GetVelocity(nullptr), {0, 0, 2});
    ExpectVec(f->GetVelocity(sceneFrame.get()), {2, 0, 0});
    f->Move(0.5f);
    ExpectVec(f->GetPosition(sceneFrame.get()), {1, 0, 0});
    f->Move(0.0f);
    ExpectVec(f->GetPosition(sceneFrame.get()), {1, 0, 0});
    f->SetVelocity(sceneFrame.get(), {0, 0, 0});
    f->Move(10.0f);
    ExpectVec(f->GetPosition(sceneFrame.get()), {1, 0, 0});
}

TEST(Frame, TransformsManyVectorsBetweenFramesAndAncestors) {
    auto root = Frame::Create();
    auto a = Frame::Create(root);
    a->AddTranslation(Combine::Replace, 1, 0, 0);
    a->AddScale(Combine::Before, 2, 2, 2);
    auto b = Frame::Create(a);
    b->AddRotation(Combine::Replace, {0, 0, 1}, kQuarter);

    const std::array<glm::vec3, 2> in{glm::vec3(1, 0, 0), glm::vec3(0, 0, 3)};
    std::array<glm::vec3, 2> out{};
    b->Transform(out, in);
    ExpectVec(out[0], {1, 2, 0});
    ExpectVec(out[1], {1, 0, 6});
    std::array<glm::vec3, 2> back{};
    b->InverseTransform(back, out);
    ExpectVec(back[0], in[0]);
    ExpectVec(back[1], in[1]);
    Frame::TransformBetween(b.get(), a.get(), out, in);
    ExpectVec(out[0], {0, 1, 0});

    // Transform relative to an ancestor, and replacing a transform relative to a reference.
    const glm::mat4 rel = b->GetTransform(root.get());
    ExpectVec(glm::vec3(rel * glm::vec4(1, 0, 0, 1)), {1, 2, 0});
    auto c = Frame::Create(root);
    c->SetTransform(root.get(), rel);
    ExpectVec(c->TransformPoint({1, 0, 0}), {1, 2, 0});
    auto d = Frame::Create(b);
    d->SetTransform(root.get(), glm::mat4(1.0f));
    ExpectVec(d->TransformPoint({5, 6, 7}), {5, 6, 7});
}

TEST(Frame, HierarchyEditsCloneAndSubtreeBox) {
    auto root = Frame::Create();
    auto a = Frame::Create(root);
    auto b = Frame::Create(a);
    auto c = Frame::Create(a);
    b->SetName("flash");
    b->SetAppData(42);
    EXPECT_EQ(a->GetChildCount(), 2u);
    EXPECT_EQ(&b->GetRoot(), root.get());
    EXPECT_FALSE(b->AddChild(a)) << "a frame cannot become its own descendant";
    EXPECT_FALSE(b->AddChild(b));

    // Moving a child to another parent detaches it from the first.
    EXPECT_TRUE(c->AddChild(b));
    EXPECT_EQ(a->GetChildCount(), 1u);
    EXPECT_EQ(b->GetParent(), c);
    EXPECT_EQ(a->FindByName("flash"), b);

    // The box of a subtree covers its meshes through every transform, in the frame's own
    // coordinates; decals and empty frames add nothing.
    auto mb = scene::MeshBuilder::Create();
    mb->AddVertex({-1, -1, -1});
    mb->AddVertex({1, 1, 1});
    b->AddVisual(mb);
    b->AddTranslation(Combine::Replace, 10, 0, 0);
    c->AddScale(Combine::Replace, 2, 2, 2);
    b->AddVisual(scene::Texture::CreateFromImage({}, "decal"));
    const scene::Box box = a->GetBox();
    ExpectVec(box.min, {18, -2, -2});
    ExpectVec(box.max, {22, 2, 2});
    EXPECT_TRUE(Frame::Create()->GetBox().IsEmpty());

    // A clone copies names, values, transforms and visuals into a separate tree.
    auto copy = a->Clone();
    EXPECT_EQ(copy->GetParent(), nullptr);
    auto flash = copy->FindByName("flash");
    ASSERT_NE(flash, nullptr);
    EXPECT_NE(flash, b);
    EXPECT_EQ(flash->GetAppData(), 42u);
    ASSERT_EQ(flash->GetVisualCount(), 2u);
    EXPECT_NE(flash->Visuals()[0], b->Visuals()[0]);
    ExpectVec(copy->GetBox().max, {22, 2, 2});

    // Deleting the tree detaches every descendant; the frames survive as roots.
    a->DeleteFrameTree();
    EXPECT_EQ(a->GetChildCount(), 0u);
    EXPECT_EQ(c->GetChildCount(), 0u);
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(c->GetParent(), nullptr);
    EXPECT_FALSE(a->DeleteChild(*c));
}

// A chain deeper than the call stack could follow (a hostile model's skeleton): building it is
// linear, and every walk of it (box, pick, drawing, lights, search, copy) and its release run
// without recursion. A frame still held elsewhere survives the release as a root.
TEST(Frame, ChainOfAHundredThousandFramesIsWalkedCopiedAndReleased) {
    constexpr int kDepth = 100000;
    auto root = Frame::Create();
    std::shared_ptr<Frame> tip = root;
    std::shared_ptr<Frame> middle;
    for (int i = 0; i < kDepth; ++i) {
        tip = Frame::Create(tip);
        tip->AddTranslation(Combine::Replace, 0, 0, 1);
        if (i == kDepth / 2) middle = tip;
    }
    tip->SetName("tip");
    auto mb = scene::MeshBuilder::Create();
    const glm::vec3 corners[3] = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}};
    const int32_t triangle[5] = {3, 0, 1, 2, 0};
    ASSERT_TRUE(mb->AddFaces(corners, {}, triangle));
    tip->AddVisual(mb);
    tip->AddLight(scene::Light::Create(scene::LightType::Point, {1, 1, 1}));

    EXPECT_NEAR(root->GetBox().max.z, float(kDepth), 1.0f);
    EXPECT_EQ(root->FindByName("tip"), tip);
    scene::PickResults hits;
    ASSERT_EQ(scene::Pick(*root, {0, 0, -5}, {0, 0, 1}, hits), 1u);
    EXPECT_NEAR(hits[0].distance, float(kDepth) + 5.0f, 1.0f);
    int drawn = 0, lights = 0;
    scene::ForEachRenderedVisual(
        *root, [&](const Frame&, const scene::Visual&, const glm::mat4&) { ++drawn; });
    scene::ForEachLight(*tip, [&](const Frame&, const scene::Light&, const glm::mat4& toScene) {
        ++lights;
        EXPECT_NEAR(toScene[3].z, float(kDepth), 1.0f);
    });
    EXPECT_EQ(drawn, 1);
    EXPECT_EQ(lights, 1);

    auto copy = root->Clone();
    auto copiedTip = copy->FindByName("tip");
    ASSERT_NE(copiedTip, nullptr);
    EXPECT_NE(copiedTip, tip);
    EXPECT_EQ(&copiedTip->GetRoot(), copy.get());
    copy.reset();
    copiedTip.reset();

    // Deleting the tree detaches every frame from its parent; held frames survive as roots.
    root->DeleteFrameTree();
    EXPECT_EQ(root->GetChildCount(), 0u);
    EXPECT_EQ(middle->GetParent(), nullptr);
    EXPECT_EQ(middle->GetChildCount(), 0u);
    EXPECT_EQ(tip->GetParent(), nullptr);

    // Releasing the root of a chain releases it all but a frame held elsewhere, which keeps its
    // subtree as a new root.
    tip = root;
    for (int i = 0; i < kDepth; ++i) {
        tip = Frame::Create(tip);
        if (i == kDepth / 2) middle = tip;
    }
    const std::weak_ptr<Frame> top = root->Children()[0], deep = tip;
    tip.reset();
    root.reset();
    EXPECT_TRUE(top.expired());
    ASSERT_FALSE(deep.expired());
    EXPECT_EQ(middle->GetParent(), nullptr);
    middle.reset();
    EXPECT_TRUE(deep.expired());
}

} // namespace
