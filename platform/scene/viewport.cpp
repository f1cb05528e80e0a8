// platform/scene/viewport.cpp — viewport projection math: left-handed view (+z into the
// screen), vertical half-angle atan(field / front).
#include "platform/scene/viewport.h"
#include "platform/scene/frame.h"

#include <glm/gtc/matrix_transform.hpp>

#include <cmath>

namespace scene {

float ViewportParams::HalfAngleY() const {
    const float f = front > 0.0f ? front : 1.0f;
    return std::atan(field / f);
}

glm::mat4 ViewportParams::ViewMatrix() const {
    if (!camera) return glm::mat4(1.0f);
    const glm::mat4 m = camera->GetSceneTransform();
    // The camera's axes without scale: the view is a rigid motion.
    glm::mat4 rigid(1.0f);
    for (int i = 0; i < 3; ++i) {
        const glm::vec3 axis(m[i]);
        const float len = glm::length(axis);
        rigid[i] = glm::vec4(len > 0.0f ? axis / len : glm::vec3(i == 0, i == 1, i == 2), 0.0f);
    }
    rigid[3] = m[3];
    return glm::inverse(rigid);
}

glm::mat4 ViewportParams::ProjectionMatrix() const {
    const float f = front > 0.0f ? front : 1.0f;
    const float b = back > f ? back : f * 2.0f;
    return glm::perspectiveLH_NO(2.0f * HalfAngleY(), Aspect(), f, b);
}

glm::vec3 ViewportParams::Project(const glm::vec3& scenePoint) const {
    const glm::vec4 clip = ProjectionMatrix() * (ViewMatrix() * glm::vec4(scenePoint, 1.0f));
    if (clip.w <= 0.0f) return {0.0f, 0.0f, -1.0f};
    const glm::vec3 ndc = glm::vec3(clip) / clip.w;
    return {x + (ndc.x + 1.0f) * 0.5f * width, y + (1.0f - ndc.y) * 0.5f * height,
            (ndc.z + 1.0f) * 0.5f};
}

Ray ViewportParams::Unproject(float windowX, float windowY) const {
    const float w = width > 0 ? float(width) : 1.0f, h = height > 0 ? float(height) : 1.0f;
    const float ndcX = (windowX - x) / w * 2.0f - 1.0f;
    const float ndcY = 1.0f - (windowY - y) / h * 2.0f;
    const float tanY = std::tan(HalfAngleY());
    const glm::vec3 dirView(ndcX * tanY * Aspect(), ndcY * tanY, 1.0f);
    const glm::mat4 toScene = glm::inverse(ViewMatrix());
    Ray ray;
    ray.origin = glm::vec3(toScene[3]);
    ray.direction = glm::normalize(glm::mat3(toScene) * dirView);
    return ray;
}

} // namespace scene
