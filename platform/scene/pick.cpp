// platform/scene/pick.cpp — ray picks: a triangle BVH per mesh builder and mesh, rebuilt lazily
// when the visual's version changes, and the traversal of a frame tree with its pick flags.
#include "platform/scene/scene_local.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scene {

namespace {

constexpr uint32_t kLeafSize = 4;
constexpr int kMaxDepth = 60; // the traversal stack holds kMaxDepth + 4 entries

using BuildItem = TriangleBvh::BuildItem;

// Builds the subtree of items[begin, end) at node `index`; median split on the widest centroid
// axis keeps the depth near log2(count / kLeafSize).
void BuildNode(TriangleBvh& bvh, std::vector<BuildItem>& items, uint32_t index, uint32_t begin,
               uint32_t end, int depth) {
    Box bounds, centroids;
    for (uint32_t i = begin; i < end; ++i) {
        const uint32_t t = items[i].triangle;
        bounds.Extend(bvh.corners[3 * t]);
        bounds.Extend(bvh.corners[3 * t + 1]);
        bounds.Extend(bvh.corners[3 * t + 2]);
        centroids.Extend(items[i].centroid);
    }
    bvh.nodes[index].min = bounds.min;
    bvh.nodes[index].max = bounds.max;
    const uint32_t n = end - begin;
    const glm::vec3 ext = centroids.max - centroids.min;
    if (n <= kLeafSize || depth >= kMaxDepth || (ext.x <= 0 && ext.y <= 0 && ext.z <= 0)) {
        bvh.nodes[index].first = static_cast<uint32_t>(bvh.order.size());
        bvh.nodes[index].count = n;
        for (uint32_t i = begin; i < end; ++i)
            bvh.order.push_back(items[i].triangle);
        return;
    }
    const int axis = ext.x >= ext.y && ext.x >= ext.z ? 0 : (ext.y >= ext.z ? 1 : 2);
    const uint32_t mid = begin + n / 2;
    std::nth_element(items.begin() + begin, items.begin() + mid, items.begin() + end,
                     [axis](const BuildItem& a, const BuildItem& b) {
                         return a.centroid[axis] < b.centroid[axis];
                     });
    const uint32_t left = static_cast<uint32_t>(bvh.nodes.size());
    bvh.nodes.emplace_back();
    BuildNode(bvh, items, left, begin, mid, depth + 1);
    const uint32_t right = static_cast<uint32_t>(bvh.nodes.size());
    bvh.nodes.emplace_back();
    BuildNode(bvh, items, right, mid, end, depth + 1);
    bvh.nodes[index].first = right;
    bvh.nodes[index].count = 0;
}

// Slab test; true when the box is hit at a distance below tMax.
bool HitsBox(const glm::vec3& mn, const glm::vec3& mx, const glm::vec3& origin,
             const glm::vec3& invDir, float tMax) {
    const glm::vec3 t0 = (mn - origin) * invDir;
    const glm::vec3 t1 = (mx - origin) * invDir;
    const glm::vec3 lo = glm::min(t0, t1), hi = glm::max(t0, t1);
    const float enter = std::max(std::max(lo.x, lo.y), std::max(lo.z, 0.0f));
    const float leave = std::min(std::min(hi.x, hi.y), std::min(hi.z, tMax));
    return enter <= leave;
}

// Moller-Trumbore, both faces; t in ray parameter units.
bool HitsTriangle(const glm::vec3& origin, const glm::vec3& dir, const glm::vec3& a,
                  const glm::vec3& b, const glm::vec3& c, float& t) {
    const glm::vec3 e1 = b - a, e2 = c - a;
    const glm::vec3 p = glm::cross(dir, e2);
    const float det = glm::dot(e1, p);
    if (std::abs(det) < 1e-30f) return false;
    const float inv = 1.0f / det;
    const glm::vec3 s = origin - a;
    const float u = glm::dot(s, p) * inv;
    if (u < 0.0f || u > 1.0f) return false;
    const glm::vec3 q = glm::cross(s, e1);
    const float v = glm::dot(dir, q) * inv;
    if (v < 0.0f || u + v > 1.0f) return false;
    t = glm::dot(e2, q) * inv;
    return t >= 0.0f && std::isfinite(t);
}

} // namespace

// ------------------------------------------------------------------ BVH

void TriangleBvh::Build() {
    nodes.clear();
    order.clear();
    const uint32_t count = static_cast<uint32_t>(corners.size() / 3);
    if (count == 0) return;
    std::vector<BuildItem>& items = scratch;
    items.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        items[i] = {(corners[3 * i] + corners[3 * i + 1] + corners[3 * i + 2]) / 3.0f, i};
    nodes.reserve(2 * (count / kLeafSize + 1));
    order.reserve(count);
    nodes.emplace_back();
    BuildNode(*this, items, 0, 0, count, 0);
}

bool TriangleBvh::Intersect(const glm::vec3& origin, const glm::vec3& dir, float& tBest,
                            uint32_t& ownerBest) const {
    if (nodes.empty()) return false;
    // Zero components become tiny ones so that the slab test never computes 0 * infinity.
    auto inv = [](float d) { return 1.0f / (std::abs(d) > 1e-30f ? d : 1e-30f); };
    const glm::vec3 invDir(inv(dir.x), inv(dir.y), inv(dir.z));
    uint32_t stack[kMaxDepth + 4];
    int top = 0;
    stack[top++] = 0;
    bool found = false;
    while (top > 0) {
        const Node& node = nodes[stack[--top]];
        if (!HitsBox(node.min, node.max, origin, invDir, tBest)) continue;
        if (node.count > 0) {
            for (uint32_t k = node.first; k < node.first + node.count; ++k) {
                const uint32_t tri = order[k];
                float t;
                if (HitsTriangle(origin, dir, corners[3 * tri], corners[3 * tri + 1],
                                 corners[3 * tri + 2], t) &&
                    t < tBest) {
                    tBest = t;
                    ownerBest = owner[tri];
                    found = true;
                }
            }
        } else {
            const uint32_t self = static_cast<uint32_t>(&node - nodes.data());
            stack[top++] = node.first; // right child
            stack[top++] = self + 1;   // left child, visited first
        }
    }
    return found;
}

// ------------------------------------------------------------------ per-visual caches

namespace {

const TriangleBvh& BuilderBvh(const MeshBuilder& mb) {
    MeshBuilder::PickCache& cache = mb.GetPickCache();
    if (cache.version != mb.Version()) {
        TriangleBvh& bvh = cache.bvh;
        mb.Triangulate(cache.scratchIndices, &bvh.owner);
        bvh.corners.resize(cache.scratchIndices.size());
        const auto positions = mb.Positions();
        for (size_t i = 0; i < cache.scratchIndices.size(); ++i)
            bvh.corners[i] = positions[cache.scratchIndices[i]];
        bvh.Build();
        cache.version = mb.Version();
    }
    return cache.bvh;
}

const TriangleBvh& MeshBvh(const Mesh& mesh) {
    Mesh::PickCache& cache = mesh.GetPickCache();
    if (cache.version != mesh.Version()) {
        TriangleBvh& bvh = cache.bvh;
        const auto indices = mesh.Indices();
        const auto vertices = mesh.Vertices();
        const size_t triangles = indices.size() / 3;
        bvh.corners.resize(triangles * 3);
        bvh.owner.resize(triangles);
        for (size_t t = 0; t < triangles; ++t) {
            for (int k = 0; k < 3; ++k) {
                const uint32_t vi = indices[3 * t + k];
                bvh.corners[3 * t + k] =
                    vi < vertices.size() ? vertices[vi].position : glm::vec3(0);
            }
            bvh.owner[t] = static_cast<uint32_t>(t);
        }
        bvh.Build();
        cache.version = mesh.Version();
    }
    return cache.bvh;
}

// The pickable visuals of one frame hit by the ray; false when the frame and its subtree are not
// pickable.
bool PickFrame(const Frame& frame, const glm::mat4& toScene, const glm::vec3& origin,
               const glm::vec3& dir, std::vector<PickHit>& hits) {
    if (!(frame.GetTraversalOptions() & kFlagPickable)) return false;
    bool haveLocalRay = false;
    glm::vec3 localOrigin, localDir;
    for (const auto& v : frame.Visuals()) {
        if (!v->IsPickable()) continue;
        const TriangleBvh* bvh = nullptr;
        if (v->Kind() == VisualKind::MeshBuilder)
            bvh = &BuilderBvh(static_cast<const MeshBuilder&>(*v));
        else if (v->Kind() == VisualKind::Mesh)
            bvh = &MeshBvh(static_cast<const Mesh&>(*v));
        if (!bvh || bvh->nodes.empty()) continue;
        if (!haveLocalRay) {
            // The ray parameter is the same in both spaces (affine map), so t measured in the
            // frame's space is the scene distance along the unit scene direction.
            if (std::abs(glm::determinant(glm::mat3(toScene))) < 1e-30f) return false;
            const glm::mat4 toLocal = glm::inverse(toScene);
            localOrigin = glm::vec3(toLocal * glm::vec4(origin, 1.0f));
            localDir = glm::mat3(toLocal) * dir;
            haveLocalRay = true;
        }
        float t = std::numeric_limits<float>::infinity();
        uint32_t face = 0;
        if (bvh->Intersect(localOrigin, localDir, t, face))
            hits.push_back({v.get(), &frame, face, origin + t * dir, t});
    }
    return true;
}

} // namespace

size_t Pick(const Frame& top, const glm::vec3& origin, const glm::vec3& direction,
            PickResults& results) {
    std::vector<PickHit>& hits = results.Storage();
    hits.clear();
    const float len = glm::length(direction);
    if (!(len > 0.0f) || !std::isfinite(len)) return 0;
    const glm::vec3 dir = direction / len;
    WalkFrames(top, top.GetSceneTransform(), [&](const Frame& f, const glm::mat4& toScene) {
        return PickFrame(f, toScene, origin, dir, hits);
    });
    std::sort(hits.begin(), hits.end(),
              [](const PickHit& a, const PickHit& b) { return a.distance < b.distance; });
    return hits.size();
}

} // namespace scene
