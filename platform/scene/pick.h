// platform/scene/pick.h — ray picks into a frame's subtree.
#pragma once

#include "platform/scene/frame.h"

#include <memory>
#include <vector>

namespace scene {

struct PickHit {
    const Visual* visual = nullptr; // the hit mesh builder or mesh (owned by the scene)
    const Frame* frame = nullptr;   // the frame it hangs under
    uint32_t faceIndex = 0;         // face of a mesh builder; triangle of a mesh
    glm::vec3 point{0.0f};          // scene coordinates
    float distance = 0.0f;          // scene units from the ray origin
};

// Reusable result list: Pick clears and refills it, keeping its storage.
class PickResults {
public:
    PickResults() { hits_.reserve(16); }
    size_t Size() const { return hits_.size(); }
    bool Empty() const { return hits_.empty(); }
    const PickHit& operator[](size_t i) const { return hits_[i]; }
    std::span<const PickHit> Hits() const { return hits_; }
    void Clear() { hits_.clear(); }
    // Internal: used by Pick.
    std::vector<PickHit>& Storage() { return hits_; }

private:
    std::vector<PickHit> hits_;
};

// Casts a ray into `top`'s subtree: `origin` and `direction` are in scene coordinates (the
// coordinates of `top`'s root); a zero direction finds nothing. Tests only pickable visuals
// (mesh builders and meshes) under frames that are pickable from `top` down (flags of `top`'s
// ancestors are not consulted), triangle-accurate, both faces, forward along the ray only.
// Fills `hits` nearest first, one hit per visual attachment (its nearest triangle). Returns
// the number of hits.
size_t Pick(const Frame& top, const glm::vec3& origin, const glm::vec3& direction,
            PickResults& hits);

} // namespace scene
