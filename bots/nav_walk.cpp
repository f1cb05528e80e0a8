// bots/nav_walk.cpp — a body walking under the player's rules, as the navigation graph checks
// its edges: the wall and ladder probes and the floor ray of player/collisions.cpp, the body
// moved as player/controls.cpp moves it.
#include "bots/nav_local.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>

namespace bots {

namespace {

// The values player/collisions.cpp and player/controls.cpp move a body by, in scene units, that
// only the walker uses.
constexpr float kProbeRise = 0.2f; // the wall ray runs this far above the probe
constexpr float kProbeBack = 5.0f; // the probe trails the body by this, in joueur's units
// Ladder probe heights around the probe, in the player's order.
constexpr float kLadderHeights[3] = {0.0f, -5.0f, 5.0f};
// An axis of the motion whose share is below this may be blocked without stopping the walk
// (the body slides along the other axis, as it does along a wall met at a grazing angle).
constexpr float kMinorAxis = 0.25f;

const glm::vec3 kDown(0.0f, -1.0f, 0.0f);

} // namespace

Walker::Walker(const player::World& world, std::span<const scene::Box> ladderBoxes)
    : world_(world), ladderBoxes_(ladderBoxes), probeBack_(kProbeBack * float(world.modelScale)) {}

Walker::Result Walker::Walk(const glm::vec3& start, const glm::vec3& target, int maxSteps) {
    Result result;
    glm::vec3 d = Flat(target - start);
    const float length = glm::length(d);
    if (length < 1e-3f) return result;
    d /= length;
    glm::vec3 r = start;
    bool echelle = false;
    int still = 0;
    result.peak = start.y;
    for (int step = 0; step < maxSteps; ++step) {
        const float progress = glm::dot(Flat(r - start), d);
        const float remaining = length - progress;
        if (remaining <= 0.02f && !echelle) {
            float floorY = 0.0f;
            if (!FloorBelow(r, floorY)) return result;
            if (std::nearbyint(double(r.y) - double(floorY + kStand)) <= 0) {
                result.arrived = true;
                result.end = {r.x, floorY + kStand, r.z};
                return result;
            }
        }
        // The last steps are shortened so that a body on the floor stops on the target.
        const float pas = remaining > 0.02f ? std::min(kPas, remaining / 2.0f) : kPas;
        const glm::vec3 before = r;
        bool xx = false, zz = false;
        if (!Step(r, d, pas, echelle, xx, zz)) return result;
        result.climbed = result.climbed || echelle;
        result.peak = std::max(result.peak, r.y);
        if (!echelle &&
            ((xx && std::fabs(d.x) > kMinorAxis) || (zz && std::fabs(d.z) > kMinorAxis)))
            return result;
        const glm::vec3 across = Flat(r - start) - d * glm::dot(Flat(r - start), d);
        if (glm::length(across) > 1.0f) return result;
        still = glm::length(r - before) < 1e-4f ? still + 1 : 0;
        if (still >= 3) return result;
    }
    return result;
}

bool Walker::FloorBelow(const glm::vec3& p, float& y) {
    if (!world_.floorFrame || scene::Pick(*world_.floorFrame, p, kDown, hits_) == 0) return false;
    y = hits_[0].point.y;
    return true;
}

bool Walker::Step(glm::vec3& r, const glm::vec3& d, float pas, bool& echelle, bool& xx, bool& zz) {
    const glm::vec3 depart = r;
    glm::vec3 moved = r + d * pas;
    // ProbeWallsAhead: the probe trails the body, facing the motion.
    const glm::vec3 probe = moved - d * probeBack_;
    echelle = LadderAhead(probe, d);
    glm::vec3 wall;
    if (WallAhead(probe + glm::vec3(0.0f, kProbeRise, 0.0f), d, wall)) {
        xx = std::fabs(probe.x - wall.x) < kProbeReach;
        zz = std::fabs(probe.z - wall.z) < kProbeReach;
    }
    if (xx) moved.x = depart.x;
    if (zz) moved.z = depart.z;
    // StandOnFloorOrClimb.
    if (echelle) {
        moved = depart + glm::vec3(0.0f, pas, 0.0f);
    } else {
        float floorY = 0.0f;
        const bool found = FloorBelow(moved, floorY);
        const double sol = double(floorY) + kStand;
        const double drop = found ? std::nearbyint(double(moved.y) - sol) : 0.0;
        if (!found || drop > world_.mapScale) {
            xx = zz = true;
            moved = depart;
        } else if (drop <= 0) {
            moved.y = float(sol);
        } else {
            moved.y -= kFallStep;
        }
    }
    // SlideAlongWalls.
    glm::vec3 glisse = d;
    if (xx) glisse.x = 0.0f;
    if (zz) glisse.z = 0.0f;
    r = moved + glisse * pas;
    return echelle || !(xx && zz);
}

bool Walker::WallAhead(const glm::vec3& p, const glm::vec3& d, glm::vec3& hit) {
    if (!world_.wallFrame || scene::Pick(*world_.wallFrame, p, d, hits_) == 0) return false;
    hit = hits_[0].point;
    return true;
}

bool Walker::LadderAhead(const glm::vec3& probe, const glm::vec3& d) {
    if (!world_.ladderFrame) return false;
    const bool near =
        std::any_of(ladderBoxes_.begin(), ladderBoxes_.end(), [&](const scene::Box& b) {
            return probe.x >= b.min.x - kProbeReach && probe.x <= b.max.x + kProbeReach &&
                   probe.z >= b.min.z - kProbeReach && probe.z <= b.max.z + kProbeReach &&
                   probe.y >= b.min.y - 5.0f - kProbeReach &&
                   probe.y <= b.max.y + 5.0f + kProbeReach;
        });
    if (!near) return false;
    for (const float dy : kLadderHeights) {
        const glm::vec3 origin = probe + glm::vec3(0.0f, dy, 0.0f);
        if (scene::Pick(*world_.ladderFrame, origin, d, hits_) == 0) continue;
        if (HorizontalDistance(origin, hits_[0].point) < kProbeReach) return true;
    }
    return false;
}

} // namespace bots
