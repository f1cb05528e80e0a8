// Keyframe animation: linear positions, slerped rotations with the transposed-matrix
// convention, closed sets wrapping and open sets clamping, several frames posed by one set.
#include "platform/scene/scene.h"

#include <gtest/gtest.h>

#include <glm/gtc/constants.hpp>

namespace {

using scene::Animation;
using scene::AnimationSet;
using scene::Frame;

void ExpectVec(const glm::vec3& a, const glm::vec3& e, float eps = 1e-4f) {
    EXPECT_NEAR(a.x, e.x, eps);
    EXPECT_NEAR(a.y, e.y, eps);
    EXPECT_NEAR(a.z, e.z, eps);
}

glm::vec3 Axis(const Frame& f, const glm::vec3& a) {
    return glm::mat3(f.GetLocalTransform()) * a;
}

TEST(Animation, KeysInterpolateLinearPositionsAndSlerpedRotations) {
    auto root = Frame::Create();
    auto bone = Frame::Create(root);
    bone->AddScale(scene::Combine::Replace, 3, 3, 3); // dropped by SetTime
    auto anim = Animation::Create();
    anim->SetFrame(bone);
    anim->SetOptions(scene::kAnimOpen | scene::kAnimLinearPosition);
    // Keys added out of time order are sorted.
    anim->AddPositionKey(10, {10, 0, 20});
    anim->AddPositionKey(0, {0, 0, 0});
    const glm::quat q0(1, 0, 0, 0);
    const glm::quat q90 = glm::angleAxis(glm::half_pi<float>(), glm::vec3(0, 0, 1));
    anim->AddRotationKey(0, q0);
    anim->AddRotationKey(10, q90);
    auto set = AnimationSet::Create();
    set->AddAnimation(anim);

    set->SetTime(2.5f);
    ExpectVec(bone->GetPosition(nullptr), {2.5f, 0, 5});
    // A quarter of the way from identity to +90 degrees about z is 22.5 degrees, applied with
    // the transposed matrix: +x turns towards -y. The scale is gone.
    const float a = glm::radians(22.5f);
    ExpectVec(Axis(*bone, {1, 0, 0}), {std::cos(a), -std::sin(a), 0});
    ExpectVec(Axis(*bone, {0, 0, 1}), {0, 0, 1});

    // Rotation first, then translation: the frame's origin is at the key position.
    set->SetTime(10);
    ExpectVec(bone->GetPosition(nullptr), {10, 0, 20});
    ExpectVec(Axis(*bone, {1, 0, 0}), {0, -1, 0});

    // Open: times outside the keys clamp.
    set->SetTime(25);
    ExpectVec(bone->GetPosition(nullptr), {10, 0, 20});
    set->SetTime(-4);
    ExpectVec(bone->GetPosition(nullptr), {0, 0, 0});

    // Slerp takes the short way even when the next key is the negated quaternion.
    auto spin = Animation::Create();
    spin->AddRotationKey(0, q90);
    spin->AddRotationKey(1, -q90);
    glm::quat mid;
    ASSERT_TRUE(spin->RotationAt(0.5f, mid));
    ExpectVec(glm::mat3(scene::QuatToMatrix(mid)) * glm::vec3(1, 0, 0), {0, -1, 0});
}

TEST(Animation, ClosedSetsWrapAndEverySetFramePoses) {
    auto root = Frame::Create();
    auto hip = Frame::Create(root);
    auto knee = Frame::Create(hip);
    auto gone = Frame::Create(root);
    auto set = AnimationSet::Create();
    set->SetName("run");

    auto a = Animation::Create();
    a->SetFrame(hip);
    a->SetOptions(scene::kAnimClosed | scene::kAnimLinearPosition | scene::kAnimPosition);
    for (int t = 0; t <= 4; ++t)
        a->AddPositionKey(float(t), {float(t) * 2.0f, 0, 0});
    auto b = Animation::Create();
    b->SetFrame(knee);
    b->AddPositionKey(0, {0, 1, 0});
    b->AddPositionKey(4, {0, 5, 0});
    auto c = Animation::Create();
    c->SetFrame(gone);
    c->AddPositionKey(0, {1, 1, 1});
    set->AddAnimation(a);
    set->AddAnimation(b);
    set->AddAnimation(c);
    root->DeleteChild(*gone);
    gone.reset(); // a bound frame that no longer exists is skipped

    set->SetTime(1.5f);
    ExpectVec(hip->GetPosition(nullptr), {3, 0, 0});
    ExpectVec(knee->GetPosition(nullptr), {0, 2.5f, 0});
    // Closed: 5.5 wraps to 1.5 over the 0..4 key span; negative times wrap too.
    set->SetTime(5.5f);
    ExpectVec(hip->GetPosition(nullptr), {3, 0, 0});
    set->SetTime(-0.5f);
    ExpectVec(hip->GetPosition(nullptr), {7, 0, 0});
    // Exactly the last frame holds the last key (a death posed at its end stays down).
    set->SetTime(4.0f);
    ExpectVec(hip->GetPosition(nullptr), {8, 0, 0});
    EXPECT_TRUE(set->DeleteAnimation(*b));
    EXPECT_EQ(set->Animations().size(), 2u);
}

} // namespace
