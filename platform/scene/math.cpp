// platform/scene/math.cpp — quaternion convention and colour packing shared by the scene.
#include "platform/scene/types.h"

#include <algorithm>

namespace scene {

glm::mat4 QuatToMatrix(const glm::quat& q) {
    const float len = glm::length(q);
    if (!(len > 0.0f)) return glm::mat4(1.0f);
    return glm::mat4_cast(glm::conjugate(q / len));
}

uint32_t PackColor(const glm::vec3& rgb, float alpha) {
    auto channel = [](float c) {
        return static_cast<uint32_t>(std::clamp(c, 0.0f, 1.0f) * 255.0f + 0.5f);
    };
    return (channel(alpha) << 24) | (channel(rgb.r) << 16) | (channel(rgb.g) << 8) | channel(rgb.b);
}

} // namespace scene
