// platform/scene/scene_local.h — internals shared by the scene's source files only.
#pragma once

#include "platform/scene/scene.h"

#include <cstdint>
#include <vector>

namespace scene {

// Bounding volume hierarchy over a triangle list. Nodes are stored depth first; a leaf holds
// `count` triangles starting at `first` in `order`; an inner node's left child follows it and
// its right child is at `right`.
struct TriangleBvh {
    struct Node {
        glm::vec3 min;
        glm::vec3 max;
        uint32_t first = 0; // leaf: first entry in `order`; inner: index of the right child
        uint32_t count = 0; // 0 for an inner node
    };
    std::vector<Node> nodes;
    std::vector<uint32_t> order;    // triangle numbers, grouped by leaf
    std::vector<glm::vec3> corners; // 3 corners per triangle, in triangle number order
    std::vector<uint32_t> owner;    // face index (or triangle index) per triangle number
    struct BuildItem {
        glm::vec3 centroid;
        uint32_t triangle;
    };
    std::vector<BuildItem> scratch; // kept between rebuilds so that a rebuild does not allocate

    // Rebuilds from 3 corners per triangle; owner[i] names triangle i's face.
    void Build();
    // Nearest forward hit of the ray (both faces). Returns false when none.
    bool Intersect(const glm::vec3& origin, const glm::vec3& dir, float& tBest,
                   uint32_t& ownerBest) const;
};

struct MeshBuilder::PickCache {
    uint64_t version = 0;
    TriangleBvh bvh;
    std::vector<uint32_t> scratchIndices;
};

struct Mesh::PickCache {
    uint64_t version = 0;
    TriangleBvh bvh;
};

} // namespace scene
