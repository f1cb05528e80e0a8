// bots/nav_local.h — what the navigation's files share.
//
// Index
//   1. The player's rules the graph is checked with (constants, the walker: bots/nav_walk.cpp)
//   2. Grid cells (the graph's spatial index, bots/nav_build.cpp and bots/nav_query.cpp)
//   3. The corridor sections made pickable while a graph is built or hashed
//   4. The triangles of a pickable visual
#pragma once

#include "bots/nav.h"
#include "player/player.h"

#include <glm/vec3.hpp>

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace bots {

// ---------------------------------------------------------------------------------------------
// 1. The player's rules
// ---------------------------------------------------------------------------------------------
// The values player/collisions.cpp and player/controls.cpp move a body by, in scene units.

inline constexpr float kProbeReach =
    3.0f;                                // wall and ladder probes feel this far (x, z; ladder: xz)
inline constexpr float kStand = 2.5f;    // body origin above the floor, standing
inline constexpr float kFallStep = 1.0f; // fall per step
// The length of one move while walks are checked: a body at full speed (vitesse 8) moves 8 / 15
// a frame of 20 ms, a little less in faster frames.
inline constexpr float kPas = 0.5f;

inline glm::vec3 Flat(const glm::vec3& v) {
    return {v.x, 0.0f, v.z};
}

inline float HorizontalDistance(const glm::vec3& a, const glm::vec3& b) {
    return std::hypot(a.x - b.x, a.z - b.z);
}

// A body walking under the player's rules: each step is the two moves of player::Walk (along
// the facing with the wall and ladder probes, then the floor ray or the climb, then the slide
// along the axes the walls leave free), with the forward key held at full speed.
class Walker {
public:
    Walker(const player::World& world, std::span<const scene::Box> ladderBoxes);

    struct Result {
        bool arrived = false; // stands on a floor at or past the target's distance
        bool climbed = false; // a ladder was climbed on the way
        float peak = 0.0f;    // the highest the body was on the way
        glm::vec3 end{0.0f};  // where the body stands at the end
    };

    // Walks from `start` (a standing body) facing `target` (horizontally) until the body has
    // come the target's horizontal distance and stands on a floor, walking on while it falls
    // or climbs. Fails when an axis that carries the motion is blocked off a ladder (a wall, no
    // floor, too deep a drop), when the body drifts off the line or stops, or after `maxSteps`.
    Result Walk(const glm::vec3& start, const glm::vec3& target, int maxSteps);

    // The floor the player's floor ray finds below `p`: its height in `y`. False without one.
    bool FloorBelow(const glm::vec3& p, float& y);

private:
    // One step of player::Walk moving forward by `pas` along `d` from `r` (updated). Sets the
    // wall contacts and the ladder flag as the probes do. False when the body cannot move at
    // all (both axes blocked and no ladder: it stays where it was).
    bool Step(glm::vec3& r, const glm::vec3& d, float pas, bool& echelle, bool& xx, bool& zz);
    bool WallAhead(const glm::vec3& p, const glm::vec3& d, glm::vec3& hit);
    // CollisionsEchelles: a ladder within reach ahead of the probe, at its height, 5 below or 5
    // above. Probes far from every ladder's box cannot feel one and cast no ray.
    bool LadderAhead(const glm::vec3& probe, const glm::vec3& d);

    const player::World& world_;
    std::span<const scene::Box> ladderBoxes_;
    float probeBack_;
    scene::PickResults hits_;
};

// ---------------------------------------------------------------------------------------------
// 2. Grid cells
// ---------------------------------------------------------------------------------------------
// The graph's nodes are indexed by the cell of a grid of NavGraph::kSpacing holding them.

inline int32_t CellOf(float v) {
    return int32_t(std::floor(v / NavGraph::kSpacing));
}

inline uint64_t CellKey(int32_t i, int32_t j) {
    return (uint64_t(uint32_t(i)) << 32) | uint64_t(uint32_t(j));
}

inline uint64_t CellKeyOf(const glm::vec3& p) {
    return CellKey(CellOf(p.x), CellOf(p.z));
}

// ---------------------------------------------------------------------------------------------
// 3. The corridor sections
// ---------------------------------------------------------------------------------------------

// Makes the corridor sections of `world` pickable for its lifetime (so a graph covers both
// sections whatever the player's depth), then gives them their own options back.
class SectionsPickable {
public:
    explicit SectionsPickable(const player::World& world) : world_(world) {
        for (size_t i = 0; i < world.sectionFrames.size(); ++i) {
            if (!world.sectionFrames[i]) continue;
            saved_[i] = world.sectionFrames[i]->GetTraversalOptions();
            world.sectionFrames[i]->SetTraversalOptions(saved_[i] | scene::kFlagPickable);
        }
    }
    ~SectionsPickable() {
        for (size_t i = 0; i < world_.sectionFrames.size(); ++i)
            if (world_.sectionFrames[i]) world_.sectionFrames[i]->SetTraversalOptions(saved_[i]);
    }
    SectionsPickable(const SectionsPickable&) = delete;
    SectionsPickable& operator=(const SectionsPickable&) = delete;

private:
    const player::World& world_;
    std::array<uint32_t, 6> saved_{};
};

// ---------------------------------------------------------------------------------------------
// 4. The triangles of a pickable visual
// ---------------------------------------------------------------------------------------------

// Calls `corner` with the corners of every triangle of `visual` in turn (three calls a
// triangle), in the visual's own coordinates, when it is a mesh builder or a mesh; other visuals
// have none. An index past the vertices stands for the origin. `indices` is scratch space.
template <typename Corner>
void ForEachTriangleCorner(const scene::Visual& visual, std::vector<uint32_t>& indices,
                           Corner&& corner) {
    if (visual.Kind() == scene::VisualKind::MeshBuilder) {
        const auto& builder = static_cast<const scene::MeshBuilder&>(visual);
        builder.Triangulate(indices, nullptr);
        const auto positions = builder.Positions();
        for (const uint32_t i : indices)
            corner(i < positions.size() ? positions[i] : glm::vec3(0.0f));
    } else if (visual.Kind() == scene::VisualKind::Mesh) {
        const auto& mesh = static_cast<const scene::Mesh&>(visual);
        const auto vertices = mesh.Vertices();
        const auto meshIndices = mesh.Indices();
        for (size_t k = 0; k + 2 < meshIndices.size(); k += 3)
            for (size_t c = 0; c < 3; ++c)
                corner(meshIndices[k + c] < vertices.size() ? vertices[meshIndices[k + c]].position
                                                            : glm::vec3(0.0f));
    }
}

} // namespace bots
