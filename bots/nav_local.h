// bots/nav_local.h — what the navigation's files share: the corridor sections made pickable
// while a graph is built or hashed.
#pragma once

#include "player/player.h"

#include <array>

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

} // namespace bots
