// tools/assetgen/skeleton.h — the biped skeleton, poses, inverse kinematics, body-part meshes
// and the SMD/QC text writers shared by the character and the weapons.
//
// Coordinates here are the SMD file's own: z up, the character faces -y, its right hand on -x.
// Every bone's rest rotation is the identity, so a bone's local axes are the model's axes in the
// reference pose. Vertices are written with x negated (the model reader negates x back before
// exchanging x and y, which it does for bones too), normals of skinned meshes in the axes the
// finished model stands in (x right, y up, z forward) and normals of rigid bone meshes in their
// bone's own axes as the reader builds them.
#pragma once

#include "tools/assetgen/assetgen_local.h"

#include <glm/gtc/quaternion.hpp>

namespace assetgen {

struct Bone {
    std::string name; // as written in the SMD ("Bip01 R Hand")
    int parent;       // -1 for the root
    glm::vec3 offset; // rest position relative to the parent
};

// Bone indices of the biped, in file order.
enum BipedBone {
    kRoot,
    kPelvis,
    kSpine,
    kSpine1,
    kSpine2,
    kSpine3,
    kNeck,
    kHead,
    kLClavicle,
    kLUpperArm,
    kLForearm,
    kLHand,
    kRClavicle,
    kRUpperArm,
    kRForearm,
    kRHand,
    kLThigh,
    kLCalf,
    kLFoot,
    kRThigh,
    kRCalf,
    kRFoot,
    kBipedBoneCount
};

// The biped of every model file: bone 1 is the pelvis, parent of the spine (first) and of both
// thighs, so an upper-body file maps the spine, neck, head and arms.
const std::vector<Bone>& BipedBones();

// Local rotation of every bone plus the root's position (all other positions are the offsets).
struct Pose {
    std::vector<glm::mat3> rot;
    glm::vec3 rootPos{0};
};

Pose RestPose(size_t boneCount);
// World (model) transforms of every bone.
std::vector<glm::mat4> WorldTransforms(const std::vector<Bone>& bones, const Pose& pose);
glm::mat3 RotX(float deg);
glm::mat3 RotY(float deg);
glm::mat3 RotZ(float deg);
// (rx, ry, rz) radians with R = Rz(rz) * Ry(ry) * Rx(rx), the SMD Euler convention.
glm::vec3 EulerXYZ(const glm::mat3& r);
// Spherical blend of two poses (rotations slerped, root position linear).
Pose Blend(const Pose& a, const Pose& b, float t);

// Two-bone limb solver: bends `upper`/`lower` so that `end`'s joint reaches `target` (model
// coordinates; clamped to the limb's reach), the middle joint pointing towards `pole`, and gives
// `end` the world rotation `endWorld`. Parent rotations must already be set.
void SolveLimb(const std::vector<Bone>& bones, Pose& pose, int upper, int lower, int end,
               glm::vec3 target, glm::vec3 pole, glm::vec3 restPole, const glm::mat3& endWorld);

// ---------------------------------------------------------------------------------------------
// Meshes bound to bones

struct SmdVertex {
    glm::vec3 p; // model coordinates, reference pose
    glm::vec3 n; // model coordinates
    glm::vec2 uv;
};
struct SmdTri {
    SmdVertex v[3];
    int bone;
};

// Texture region of an atlas, in 0..1 (u right, v down as painted).
struct Region {
    float u0, v0, u1, v1;
};

// One ring of a lathe: distance along the axis and the two half-widths.
struct Ring {
    float t, a, b;
};

// Closed lathe around `axis` from `origin`: `sides` corners per ring (4 = box-like), side axes
// `sideA` (half-width a) and `sideB` (half-width b; the +sideB face maps to u 0.5..), end caps.
// Smooth shading for sides >= 6. Triangles wound outwards, appended to `out` for `bone`.
void Lathe(std::vector<SmdTri>& out, int bone, glm::vec3 origin, glm::vec3 axis, glm::vec3 sideA,
           glm::vec3 sideB, const std::vector<Ring>& rings, int sides, Region region);
// Axis-aligned box between two corners, with a rotation `r` about `pivot`.
void Box(std::vector<SmdTri>& out, int bone, glm::vec3 lo, glm::vec3 hi, Region region,
         const glm::mat3& r = glm::mat3(1), glm::vec3 pivot = glm::vec3(0));

// ---------------------------------------------------------------------------------------------
// SMD text

// "version 1", nodes, and the `time 0` block of the reference pose.
std::string SmdHeader(const std::vector<Bone>& bones, const Pose& ref);
// Appends `time N` blocks of an animation to `text`.
void SmdFrame(std::string& text, int frame, const std::vector<Bone>& bones, const Pose& pose);
// The triangles section. Skinned: normals in the finished model's axes. Rigid: normals in the
// reader's axes of the triangle's bone, whose world rotation in the reference pose is given.
std::string SmdTriangles(const std::vector<SmdTri>& tris, const std::string& texture,
                         const std::vector<glm::mat4>* rigidBoneWorld);

} // namespace assetgen
