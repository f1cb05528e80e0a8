// platform/scene/animation.cpp — keyframe animations bound to frames and the sets that pose them.
#include "platform/scene/animation.h"
#include "platform/scene/frame.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>

namespace scene {

namespace {

template <class Keys, class T> void InsertKey(Keys& keys, float time, const T& value) {
    auto it = std::upper_bound(keys.begin(), keys.end(), time,
                               [](float t, const auto& k) { return t < k.time; });
    keys.insert(it, {time, value});
}

// Index i of the last key with time <= t (keys non-empty, t within the key span) and the blend
// factor towards key i + 1.
template <class Keys> size_t Locate(const Keys& keys, float t, float& alpha) {
    auto it = std::upper_bound(keys.begin(), keys.end(), t,
                               [](float x, const auto& k) { return x < k.time; });
    size_t i = it == keys.begin() ? 0 : static_cast<size_t>(it - keys.begin()) - 1;
    alpha = 0.0f;
    if (i + 1 < keys.size()) {
        const float span = keys[i + 1].time - keys[i].time;
        alpha = span > 0.0f ? std::clamp((t - keys[i].time) / span, 0.0f, 1.0f) : 0.0f;
    }
    return i;
}

} // namespace

std::shared_ptr<Animation> Animation::Create() {
    return std::shared_ptr<Animation>(new Animation());
}

void Animation::AddPositionKey(float time, const glm::vec3& position) {
    InsertKey(positions_, time, position);
}

void Animation::AddRotationKey(float time, const glm::quat& rotation) {
    InsertKey(rotations_, time, rotation);
}

void Animation::AddScaleKey(float time, const glm::vec3& scale) {
    InsertKey(scales_, time, scale);
}

void Animation::DeleteKeys() {
    positions_.clear();
    rotations_.clear();
    scales_.clear();
}

// Closed animations repeat over [first, last]; open ones hold the end keys. A time inside
// [first, last] is used as it is in both cases, so a set posed exactly at its last frame shows
// that frame (a death held on its last frame must not jump back to the first).
float Animation::WrapTime(float t, float first, float last) const {
    if (!std::isfinite(t)) return first;
    if (t >= first && t <= last) return t;
    if ((options_ & kAnimClosed) && last > first) {
        const float span = last - first;
        float r = std::fmod(t - first, span);
        if (r < 0.0f) r += span;
        return first + r;
    }
    return std::clamp(t, first, std::max(first, last));
}

bool Animation::PositionAt(float t, glm::vec3& out) const {
    if (positions_.empty()) return false;
    t = WrapTime(t, positions_.front().time, positions_.back().time);
    float a;
    const size_t i = Locate(positions_, t, a);
    out = i + 1 < positions_.size() ? glm::mix(positions_[i].value, positions_[i + 1].value, a)
                                    : positions_[i].value;
    return true;
}

bool Animation::RotationAt(float t, glm::quat& out) const {
    if (rotations_.empty()) return false;
    t = WrapTime(t, rotations_.front().time, rotations_.back().time);
    float a;
    const size_t i = Locate(rotations_, t, a);
    if (i + 1 < rotations_.size()) {
        glm::quat q0 = rotations_[i].value, q1 = rotations_[i + 1].value;
        if (glm::dot(q0, q1) < 0.0f) q1 = -q1; // shortest arc
        out = glm::slerp(q0, q1, a);
    } else {
        out = rotations_[i].value;
    }
    return true;
}

bool Animation::ScaleAt(float t, glm::vec3& out) const {
    if (scales_.empty()) return false;
    t = WrapTime(t, scales_.front().time, scales_.back().time);
    float a;
    const size_t i = Locate(scales_, t, a);
    out = i + 1 < scales_.size() ? glm::mix(scales_[i].value, scales_[i + 1].value, a)
                                 : scales_[i].value;
    return true;
}

void Animation::SetTime(float t) const {
    const std::shared_ptr<Frame> frame = frame_.lock();
    if (!frame) return;
    const glm::mat4 current = frame->GetLocalTransform();
    glm::vec3 position(current[3]);
    PositionAt(t, position);
    glm::mat4 m(1.0f);
    glm::quat q;
    if (RotationAt(t, q)) {
        m = QuatToMatrix(q);
    } else {
        m = current;
        m[3] = glm::vec4(0, 0, 0, 1);
    }
    glm::vec3 s;
    if (ScaleAt(t, s)) m = m * glm::scale(glm::mat4(1.0f), s);
    m[3] = glm::vec4(position, 1.0f);
    frame->AddTransform(Combine::Replace, m);
}

// ------------------------------------------------------------------ AnimationSet

std::shared_ptr<AnimationSet> AnimationSet::Create() {
    return std::shared_ptr<AnimationSet>(new AnimationSet());
}

void AnimationSet::AddAnimation(const std::shared_ptr<Animation>& animation) {
    if (animation) animations_.push_back(animation);
}

bool AnimationSet::DeleteAnimation(const Animation& animation) {
    auto it =
        std::find_if(animations_.begin(), animations_.end(),
                     [&](const std::shared_ptr<Animation>& a) { return a.get() == &animation; });
    if (it == animations_.end()) return false;
    animations_.erase(it);
    return true;
}

void AnimationSet::SetTime(float t) const {
    for (const auto& a : animations_)
        a->SetTime(t);
}

} // namespace scene
