// bots/nav_local.h — what the navigation's files share: the corridor sections made pickable
// while a graph is built or hashed, and the triangles of a pickable visual.
#pragma once

#include "player/player.h"

#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace bots {

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
