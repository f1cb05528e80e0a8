// platform/scene/animation.h — keyframe animations of frames, grouped in animation sets.
#pragma once

#include "platform/scene/types.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scene {

enum AnimationOptions : uint32_t {
    kAnimOpen = 1,   // time clamps to the first and last keys
    kAnimClosed = 2, // time wraps over the key span
    kAnimLinearPosition = 4,
    kAnimSplinePosition = 8, // accepted; positions are interpolated linearly
    kAnimScaleAndRotation = 16,
    kAnimPosition = 32,
};

// Keyframes of one frame. SetTime writes the bound frame's local transform: the rotation
// (slerped quaternion key, scene convention) then the translation (linear position key); scale
// keys, when there are any, act first; without them the scale is dropped. An animation without
// rotation keys keeps the frame's rotation, one without position keys its position.
class Animation {
public:
    static std::shared_ptr<Animation> Create();

    void SetFrame(const std::shared_ptr<Frame>& frame) { frame_ = frame; }
    std::shared_ptr<Frame> GetFrame() const { return frame_.lock(); }
    void SetOptions(uint32_t options) { options_ = options; }
    uint32_t GetOptions() const { return options_; }
    // Keys are kept sorted by time; a key at an existing time goes after the ones there.
    void AddPositionKey(float time, const glm::vec3& position);
    void AddRotationKey(float time, const glm::quat& rotation);
    void AddScaleKey(float time, const glm::vec3& scale);
    size_t GetPositionKeyCount() const { return positions_.size(); }
    size_t GetRotationKeyCount() const { return rotations_.size(); }
    void DeleteKeys();

    // Value at time t (after wrapping or clamping); false when there are no keys of that kind.
    bool PositionAt(float t, glm::vec3& out) const;
    bool RotationAt(float t, glm::quat& out) const;
    bool ScaleAt(float t, glm::vec3& out) const;
    // Poses the bound frame at time t. Nothing happens when the frame is gone.
    void SetTime(float t) const;

private:
    Animation() = default;
    template <class T> struct Key {
        float time;
        T value;
    };
    float WrapTime(float t, float first, float last) const;

    std::weak_ptr<Frame> frame_;
    uint32_t options_ = kAnimClosed | kAnimLinearPosition | kAnimScaleAndRotation | kAnimPosition;
    std::vector<Key<glm::vec3>> positions_;
    std::vector<Key<glm::quat>> rotations_;
    std::vector<Key<glm::vec3>> scales_;
};

class AnimationSet {
public:
    static std::shared_ptr<AnimationSet> Create();

    const std::string& GetName() const { return name_; }
    void SetName(std::string_view name) { name_ = name; }
    uint32_t GetAppData() const { return appData_; }
    void SetAppData(uint32_t value) { appData_ = value; }
    void AddAnimation(const std::shared_ptr<Animation>& animation);
    bool DeleteAnimation(const Animation& animation);
    std::span<const std::shared_ptr<Animation>> Animations() const { return animations_; }
    // Poses every bound frame at time t (frame numbers, as the keys).
    void SetTime(float t) const;

private:
    AnimationSet() = default;
    std::string name_;
    uint32_t appData_ = 0;
    std::vector<std::shared_ptr<Animation>> animations_;
};

} // namespace scene
