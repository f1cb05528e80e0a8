// platform/scene/scene_local.h — internals shared by the scene's source files only.
#pragma once

#include "platform/scene/scene.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace scene {

// The error of a name that resolves to no file: the name and the folders searched.
std::string NotFound(std::string_view name, const SearchPath* path);

// ---------------------------------------------------------------------------------------------
// Walking a frame tree
// ---------------------------------------------------------------------------------------------

namespace detail {

struct WalkItem {
    const Frame* frame;
    glm::mat4 toTop; // from the frame's coordinates to the walk's top space
};

// The stack of one walk: one per nesting level of walks on this thread, kept between walks so
// that a walk in steady state allocates nothing.
class WalkStack {
public:
    WalkStack() : items_(Borrow()) { items_.clear(); }
    ~WalkStack() { --Depth(); }
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;
    std::vector<WalkItem>& Items() { return items_; }

private:
    static size_t& Depth() {
        thread_local size_t depth = 0;
        return depth;
    }
    static std::vector<WalkItem>& Borrow() {
        thread_local std::deque<std::vector<WalkItem>> stacks;
        if (Depth() == stacks.size()) stacks.emplace_back();
        return stacks[Depth()++];
    }
    std::vector<WalkItem>& items_;
};

} // namespace detail

// Visits `top` and its subtree depth first, children in order, without recursion (a tree is as
// deep as a file makes it). `enter(frame, toTop)` gets each frame with the transform from its
// coordinates to top's parent space times `toTop`'s start value; returning false skips the
// frame's subtree. The tree must not change during the walk.
template <class Enter> void WalkFrames(const Frame& top, const glm::mat4& toTop, Enter&& enter) {
    detail::WalkStack stack;
    std::vector<detail::WalkItem>& items = stack.Items();
    items.push_back({&top, toTop});
    while (!items.empty()) {
        const detail::WalkItem item = items.back();
        items.pop_back();
        if (!enter(*item.frame, item.toTop)) continue;
        const std::span<const std::shared_ptr<Frame>> children = item.frame->Children();
        for (size_t i = children.size(); i-- > 0;)
            items.push_back({children[i].get(), item.toTop * children[i]->GetLocalTransform()});
    }
}

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
