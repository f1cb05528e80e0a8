// platform/scene/types.h — conventions and small types of the scene: boxes, traversal flags,
// combine modes, qualities, the quaternion convention and packed colours.
//
// Conventions (every function of the scene follows them):
// - Left-handed, y up, +z forward. A frame's direction is its +z axis, its up its +y axis.
// - Matrices are GLM column-vector matrices; a frame's local transform maps its coordinates into
//   its parent's: p_parent = transform * p_local. "Scene coordinates" of a frame are those of the
//   root of its tree (the ancestor without a parent); a root's own transform does not move them.
// - "Relative to frame R" means expressed in R's coordinates, R's scale included. A null reference
//   frame means the frame's parent (its local space); for a root frame that is its own space.
// - Rotations use the ordinary matrices (AddRotation about z by +90 degrees takes +x to +y).
//   Quaternions given as orientations or animation keys set the TRANSPOSE of the ordinary rotation
//   matrix (mat4_cast(conjugate(q))); see QuatToMatrix.
// - Angles are radians.
// - Per-frame operations (transforms, picks, SetTime, vertex group access) allocate nothing in
//   steady state and throw nothing. Loading functions report errors through their results.
#pragma once

#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>

#include <cstddef>
#include <cstdint>

namespace scene {

class Frame;
class MeshBuilder;
class Mesh;
class Texture;
class Material;
class Light;

// Traversal options of frames and visuals: bit 1 drawn, bit 2 hit by ray picks.
enum TraversalFlags : uint32_t {
    kFlagNone = 0,
    kFlagRendered = 1,
    kFlagPickable = 2,
    kFlagRenderedAndPickable = 3,
};

// How Add* transforms combine with a frame's current local transform M.
enum class Combine {
    Replace, // M = T
    Before,  // T acts first, in the frame's own space: M = M * T
    After,   // T acts after M, in the parent's space:  M = T * M
};

// Render qualities in menu order (wireframe, unlit flat, flat, gouraud, phong).
enum class RenderQuality { Wireframe, UnlitFlat, Flat, Gouraud, Phong };

// Texture filters in menu order.
enum class TextureFilter {
    Nearest,
    Linear,
    MipNearest,
    MipLinear,
    LinearMipNearest,
    LinearMipLinear
};

// Axis-aligned box. An empty box has min > max (IsEmpty()); Extend grows it.
struct Box {
    glm::vec3 min{1e30f};
    glm::vec3 max{-1e30f};

    bool IsEmpty() const { return min.x > max.x || min.y > max.y || min.z > max.z; }
    glm::vec3 Extent() const { return IsEmpty() ? glm::vec3(0.0f) : max - min; }
    void Extend(const glm::vec3& p) {
        min = glm::min(min, p);
        max = glm::max(max, p);
    }
    void ExtendBox(const Box& b) {
        if (!b.IsEmpty()) {
            Extend(b.min);
            Extend(b.max);
        }
    }
};

// Rotation matrix of a quaternion under the scene's convention: the transpose of the usual
// matrix, i.e. mat4_cast(conjugate(q)). q need not be normalised (it is normalised first).
glm::mat4 QuatToMatrix(const glm::quat& q);

// Colour packed as 0xAARRGGBB from components in 0..1 (clamped).
uint32_t PackColor(const glm::vec3& rgb, float alpha = 1.0f);

} // namespace scene
