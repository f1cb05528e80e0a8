// platform/scene/viewport.h — what a viewport shows: camera, window rectangle, planes and field;
// projection of scene points to window pixels and back.
#pragma once

#include "platform/scene/types.h"

#include <memory>

namespace scene {

struct Ray {
    glm::vec3 origin{0.0f};
    glm::vec3 direction{0.0f, 0.0f, 1.0f}; // unit length
};

// What a viewport shows: the scene seen from `camera` (+z forward, +y up) through the rectangle
// (x, y, width, height) in window pixels, between the front and back planes (scene units from
// the camera). `field` is the half-width of the view at the front plane: the vertical half-angle
// is atan(field / front), the horizontal one wider by the aspect ratio, so raising the front
// distance magnifies. The camera's scale is ignored.
struct ViewportParams {
    std::shared_ptr<Frame> camera;
    int x = 0;
    int y = 0;
    int width = 640;
    int height = 480;
    float front = 1.0f;
    float back = 1000.0f;
    float field = 0.5f;

    float Aspect() const { return height > 0 ? float(width) / float(height) : 1.0f; }
    // Vertical half-angle in radians.
    float HalfAngleY() const;
    // Scene coordinates -> camera view space (left-handed, +z into the screen).
    glm::mat4 ViewMatrix() const;
    // View space -> OpenGL clip space (depth -1..1 between front and back).
    glm::mat4 ProjectionMatrix() const;
    // Scene point -> (window pixel x, window pixel y, depth 0..1); depth outside 0..1 or
    // behind the camera means not visible (w <= 0 gives depth -1).
    glm::vec3 Project(const glm::vec3& scenePoint) const;
    // Window pixel -> ray from the camera's origin through that pixel, in scene coordinates.
    Ray Unproject(float windowX, float windowY) const;
};

} // namespace scene
