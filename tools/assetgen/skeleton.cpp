// tools/assetgen/skeleton.cpp — biped, poses, limb solver, lathe meshes and SMD writers.
#include "tools/assetgen/skeleton.h"

#include <algorithm>
#include <cmath>

#include <glm/gtc/matrix_transform.hpp>

namespace assetgen {

const std::vector<Bone>& BipedBones() {
    static const std::vector<Bone> bones = {
        {"Bip01", -1, {0, 0, 0}},
        {"Bip01 Pelvis", kRoot, {0, 0, 0}},
        {"Bip01 Spine", kPelvis, {0, 0, 3}},
        {"Bip01 Spine1", kSpine, {0, 0, 5}},
        {"Bip01 Spine2", kSpine1, {0, 0, 5}},
        {"Bip01 Spine3", kSpine2, {0, 0, 5}},
        {"Bip01 Neck", kSpine3, {0, 0, 5}},
        {"Bip01 Head", kNeck, {0, 0, 3}},
        {"Bip01 L Clavicle", kNeck, {1, 0, -1.5f}},
        {"Bip01 L UpperArm", kLClavicle, {6.5f, 0, 0}},
        {"Bip01 L Forearm", kLUpperArm, {0, 0, -12}},
        {"Bip01 L Hand", kLForearm, {0, 0, -11}},
        {"Bip01 R Clavicle", kNeck, {-1, 0, -1.5f}},
        {"Bip01 R UpperArm", kRClavicle, {-6.5f, 0, 0}},
        {"Bip01 R Forearm", kRUpperArm, {0, 0, -12}},
        {"Bip01 R Hand", kRForearm, {0, 0, -11}},
        {"Bip01 L Thigh", kPelvis, {4, 0, -2}},
        {"Bip01 L Calf", kLThigh, {0, 0, -17}},
        {"Bip01 L Foot", kLCalf, {0, 0, -16}},
        {"Bip01 R Thigh", kPelvis, {-4, 0, -2}},
        {"Bip01 R Calf", kRThigh, {0, 0, -17}},
        {"Bip01 R Foot", kRCalf, {0, 0, -16}},
    };
    return bones;
}

Pose RestPose(size_t boneCount) {
    Pose p;
    p.rot.assign(boneCount, glm::mat3(1));
    return p;
}

std::vector<glm::mat4> WorldTransforms(const std::vector<Bone>& bones, const Pose& pose) {
    std::vector<glm::mat4> w(bones.size());
    for (size_t i = 0; i < bones.size(); ++i) {
        glm::mat4 local(pose.rot[i]);
        local[3] = glm::vec4(bones[i].parent < 0 ? pose.rootPos : bones[i].offset, 1);
        w[i] = bones[i].parent < 0 ? local : w[size_t(bones[i].parent)] * local;
    }
    return w;
}

glm::mat3 RotX(float deg) {
    return glm::mat3(glm::rotate(glm::mat4(1), glm::radians(deg), glm::vec3(1, 0, 0)));
}
glm::mat3 RotY(float deg) {
    return glm::mat3(glm::rotate(glm::mat4(1), glm::radians(deg), glm::vec3(0, 1, 0)));
}
glm::mat3 RotZ(float deg) {
    return glm::mat3(glm::rotate(glm::mat4(1), glm::radians(deg), glm::vec3(0, 0, 1)));
}

glm::vec3 EulerXYZ(const glm::mat3& r) {
    // r[col][row]; R = Rz(c) Ry(b) Rx(a): R20 = -sin b, R21 = sin a cos b, R22 = cos a cos b,
    // R10 = cos b sin c, R00 = cos b cos c.
    const float s = std::clamp(-r[0][2], -1.f, 1.f);
    const float b = std::asin(s);
    if (std::fabs(s) < 0.9999f)
        return {std::atan2(r[1][2], r[2][2]), b, std::atan2(r[0][1], r[0][0])};
    // Gimbal lock: fold the x turn into z.
    return {0.f, b, std::atan2(-r[1][0], r[1][1])};
}

Pose Blend(const Pose& a, const Pose& b, float t) {
    Pose p = a;
    for (size_t i = 0; i < a.rot.size(); ++i)
        p.rot[i] =
            glm::mat3_cast(glm::slerp(glm::quat_cast(a.rot[i]), glm::quat_cast(b.rot[i]), t));
    p.rootPos = glm::mix(a.rootPos, b.rootPos, t);
    return p;
}

namespace {
// Rotation taking the orthonormal pair (fromDir, fromSide) onto (toDir, toSide).
glm::mat3 AlignPair(glm::vec3 fromDir, glm::vec3 fromSide, glm::vec3 toDir, glm::vec3 toSide) {
    const glm::mat3 from(fromDir, fromSide, glm::cross(fromDir, fromSide));
    const glm::mat3 to(toDir, toSide, glm::cross(toDir, toSide));
    return to * glm::transpose(from);
}
glm::vec3 PerpendicularPart(glm::vec3 v, glm::vec3 axis) {
    glm::vec3 p = v - glm::dot(v, axis) * axis;
    const float len = glm::length(p);
    if (len < 1e-5f) {
        p = glm::cross(axis, std::fabs(axis.x) < 0.9f ? glm::vec3(1, 0, 0) : glm::vec3(0, 1, 0));
        return glm::normalize(p);
    }
    return p / len;
}
} // namespace

void SolveLimb(const std::vector<Bone>& bones, Pose& pose, int upper, int lower, int end,
               glm::vec3 target, glm::vec3 pole, glm::vec3 restPole, const glm::mat3& endWorld) {
    const std::vector<glm::mat4> w = WorldTransforms(bones, pose);
    const int parent = bones[size_t(upper)].parent;
    const glm::mat3 parentRot = glm::mat3(w[size_t(parent)]);
    const glm::vec3 a = glm::vec3(w[size_t(upper)][3]);
    const float l1 = glm::length(bones[size_t(lower)].offset);
    const float l2 = glm::length(bones[size_t(end)].offset);
    const glm::vec3 rest1 = glm::normalize(bones[size_t(lower)].offset);
    const glm::vec3 rest2 = glm::normalize(bones[size_t(end)].offset);

    glm::vec3 d = target - a;
    const float dist = std::clamp(glm::length(d), std::fabs(l1 - l2) + 0.01f, l1 + l2 - 0.01f);
    d = glm::normalize(d);
    const glm::vec3 bendDir = PerpendicularPart(pole, d);
    const float cosA = (l1 * l1 + dist * dist - l2 * l2) / (2 * l1 * dist);
    const float sinA = std::sqrt(std::max(0.f, 1 - cosA * cosA));
    const glm::vec3 knee = a + l1 * (cosA * d + sinA * bendDir);
    const glm::vec3 reach = a + dist * d;

    const glm::vec3 dir1 = glm::normalize(knee - a);
    const glm::vec3 dir2 = glm::normalize(reach - knee);
    const glm::mat3 world1 =
        AlignPair(rest1, PerpendicularPart(restPole, rest1), dir1, PerpendicularPart(pole, dir1));
    const glm::mat3 world2 =
        AlignPair(rest2, PerpendicularPart(restPole, rest2), dir2, PerpendicularPart(pole, dir2));
    pose.rot[size_t(upper)] = glm::transpose(parentRot) * world1;
    pose.rot[size_t(lower)] = glm::transpose(world1) * world2;
    pose.rot[size_t(end)] = glm::transpose(world2) * endWorld;
}

// ---------------------------------------------------------------------------------------------
// Meshes

namespace {
void PushTri(std::vector<SmdTri>& out, int bone, SmdVertex a, SmdVertex b, SmdVertex c,
             glm::vec3 inside) {
    const glm::vec3 n = glm::cross(b.p - a.p, c.p - a.p);
    const glm::vec3 centre = (a.p + b.p + c.p) / 3.f;
    if (glm::dot(n, centre - inside) < 0) std::swap(b, c);
    out.push_back({{a, b, c}, bone});
}
glm::vec2 InRegion(Region r, float u, float v) {
    return {r.u0 + (r.u1 - r.u0) * u, r.v0 + (r.v1 - r.v0) * v};
}
} // namespace

void Lathe(std::vector<SmdTri>& out, int bone, glm::vec3 origin, glm::vec3 axis, glm::vec3 sideA,
           glm::vec3 sideB, const std::vector<Ring>& rings, int sides, Region region) {
    const bool smooth = sides >= 6;
    const float pi = 3.14159265358979f;
    const float tMax = rings.back().t, tMin = rings.front().t;
    const glm::vec3 inside = origin + axis * (0.5f * (tMin + tMax));
    auto corner = [&](const Ring& r, int k) {
        const float th = -pi / 2 - pi / float(sides) + 2 * pi * float(k) / float(sides);
        return origin + axis * r.t + sideA * (r.a * std::cos(th)) + sideB * (r.b * std::sin(th));
    };
    auto radial = [&](int k) {
        const float th = -pi / 2 - pi / float(sides) + 2 * pi * float(k) / float(sides);
        return glm::normalize(sideA * std::cos(th) + sideB * std::sin(th));
    };
    // Sides: u runs around (a small gap per face keeps flat faces from welding), v along the
    // axis from the last ring (top of the region) to the first.
    const float gap = smooth ? 0.f : 0.004f;
    for (size_t i = 0; i + 1 < rings.size(); ++i) {
        const float v0 = 0.12f + 0.76f * (tMax - rings[i].t) / (tMax - tMin);
        const float v1 = 0.12f + 0.76f * (tMax - rings[i + 1].t) / (tMax - tMin);
        for (int k = 0; k < sides; ++k) {
            const float ua = float(k) / float(sides) + gap, ub = float(k + 1) / float(sides) - gap;
            SmdVertex p00{corner(rings[i], k), {}, InRegion(region, ua, v0)};
            SmdVertex p01{corner(rings[i], k + 1), {}, InRegion(region, ub, v0)};
            SmdVertex p10{corner(rings[i + 1], k), {}, InRegion(region, ua, v1)};
            SmdVertex p11{corner(rings[i + 1], k + 1), {}, InRegion(region, ub, v1)};
            if (smooth) {
                p00.n = p10.n = radial(k);
                p01.n = p11.n = radial(k + 1);
            } else {
                glm::vec3 n = glm::normalize(glm::cross(p01.p - p00.p, p10.p - p00.p));
                const glm::vec3 c = (p00.p + p11.p) * 0.5f;
                if (glm::dot(n, c - (origin + axis * (0.5f * (rings[i].t + rings[i + 1].t)))) < 0)
                    n = -n;
                p00.n = p01.n = p10.n = p11.n = n;
            }
            PushTri(out, bone, p00, p01, p11, inside);
            PushTri(out, bone, p00, p11, p10, inside);
        }
    }
    // Caps: a fan around the ring's centre, mapped to the region's top and bottom strips.
    for (int cap = 0; cap < 2; ++cap) {
        const Ring& r = cap == 0 ? rings.front() : rings.back();
        if (r.a < 1e-4f && r.b < 1e-4f) continue;
        const glm::vec3 n = cap == 0 ? -axis : axis;
        const float v = cap == 0 ? 0.94f : 0.06f;
        SmdVertex c{origin + axis * r.t, n, InRegion(region, 0.5f, v)};
        for (int k = 0; k < sides; ++k) {
            SmdVertex a{corner(r, k), n, InRegion(region, 0.45f, v)};
            SmdVertex b{corner(r, k + 1), n, InRegion(region, 0.55f, v)};
            // The centre of the solid lies on the other side of the cap.
            PushTri(out, bone, c, a, b, c.p - n);
        }
    }
}

void Box(std::vector<SmdTri>& out, int bone, glm::vec3 lo, glm::vec3 hi, Region region,
         const glm::mat3& r, glm::vec3 pivot) {
    const glm::vec3 c = (lo + hi) * 0.5f, h = (hi - lo) * 0.5f;
    const glm::vec3 origin = pivot + r * (glm::vec3(c.x, c.y, lo.z) - pivot);
    Lathe(out, bone, origin, r * glm::vec3(0, 0, 1), r * glm::vec3(1, 0, 0),
          r * glm::vec3(0, -1, 0),
          {{0, h.x * 1.41421356f, h.y * 1.41421356f},
           {hi.z - lo.z, h.x * 1.41421356f, h.y * 1.41421356f}},
          4, region);
}

// ---------------------------------------------------------------------------------------------
// SMD text

namespace {
std::string PoseLines(const std::vector<Bone>& bones, const Pose& pose) {
    std::string s;
    for (size_t i = 0; i < bones.size(); ++i) {
        const glm::vec3 p = bones[i].parent < 0 ? pose.rootPos : bones[i].offset;
        const glm::vec3 e = EulerXYZ(pose.rot[i]);
        s += std::to_string(i) + " " + Num(p.x) + " " + Num(p.y) + " " + Num(p.z) + " " + Num(e.x) +
             " " + Num(e.y) + " " + Num(e.z) + "\n";
    }
    return s;
}
} // namespace

std::string SmdHeader(const std::vector<Bone>& bones, const Pose& ref) {
    std::string s = "version 1\nnodes\n";
    for (size_t i = 0; i < bones.size(); ++i)
        s += std::to_string(i) + " \"" + bones[i].name + "\" " + std::to_string(bones[i].parent) +
             "\n";
    s += "end\nskeleton\ntime 0\n" + PoseLines(bones, ref) + "end\n";
    return s;
}

void SmdFrame(std::string& text, int frame, const std::vector<Bone>& bones, const Pose& pose) {
    text += "time " + std::to_string(frame) + "\n" + PoseLines(bones, pose);
}

std::string SmdTriangles(const std::vector<SmdTri>& tris, const std::string& texture,
                         const std::vector<glm::mat4>* rigidBoneWorld) {
    std::string s = "triangles\n";
    for (const SmdTri& t : tris) {
        s += texture + "\n";
        for (const SmdVertex& v : t.v) {
            glm::vec3 n;
            if (rigidBoneWorld) {
                // Bone axes as the reader builds them: x and y exchanged.
                const glm::vec3 local =
                    glm::transpose(glm::mat3((*rigidBoneWorld)[size_t(t.bone)])) * v.n;
                n = {local.y, local.x, local.z};
            } else {
                n = {-v.n.x, v.n.z, -v.n.y}; // finished model: x right, y up, z forward
            }
            s += std::to_string(t.bone) + " " + Num(-v.p.x) + " " + Num(v.p.y) + " " + Num(v.p.z) +
                 " " + Num(n.x) + " " + Num(n.y) + " " + Num(n.z) + " " + Num(v.uv.x) + " " +
                 Num(1.0 - v.uv.y) + "\n";
        }
    }
    s += "end\n";
    return s;
}

} // namespace assetgen
