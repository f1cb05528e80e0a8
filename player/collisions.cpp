// player/collisions.cpp — the rays that keep the local player on the floor and out of walls.
//
// All contact with the world is found by picking the map frames (only pickable geometry) and
// reading the nearest hit. Positions are relative to the scene frame (scene units); the picked
// map frames carry no transform of their own.
#include "player/player.h"

#include <glm/geometric.hpp>

#include <cmath>

namespace player {

namespace {

constexpr float kReach = 3.0f;     // wall and ladder reach, scene units
constexpr float kProbeRise = 0.2f; // the wall ray runs this far above the probe
constexpr double kStand = 2.5;     // body origin above the floor, standing
constexpr double kCrouch = 1.0;    // ... crouching
constexpr double kFallStep = 1.0;  // fall per step, independent of ratio

// The body (a child of the players' root `racine`) that the frame `f` belongs to; null for the
// map's own geometry.
const scene::Frame* Corps(const scene::Frame* f, const scene::Frame* racine) {
    for (std::shared_ptr<scene::Frame> parent; f != nullptr; f = parent.get()) {
        parent = f->GetParent();
        if (parent.get() == racine) return f;
    }
    return nullptr;
}

} // namespace

void player::Collisions(const scene::Frame& qui, int32_t signe) {
    if (monde_ == nullptr) return;
    // 1.
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    glm::vec3 p = qui.GetPosition(sceneFrame);
    glm::vec3 d, up;
    qui.GetOrientation(sceneFrame, d, up);
    d *= float(signe);
    p.y += kProbeRise;
    // 2.
    CollisionsEchelles(qui, signe);
    // 3. Each axis against the same first hit. Another player's body stops only a motion
    // toward it: two bodies that touch can always step apart.
    if (!monde_->wallFrame) return;
    const size_t n = scene::Pick(*monde_->wallFrame, p, d, hits_);
    const glm::vec3 ici = joueur ? joueur->GetPosition(sceneFrame) : p;
    size_t i = 0;
    for (; i < n; ++i) {
        const scene::Frame* corps = Corps(hits_[i].frame, monde_->playerRoot.get());
        if (corps == nullptr || glm::dot(corps->GetPosition(sceneFrame) - ici, d) > 0.0f) break;
    }
    if (i == n) return;
    const glm::vec3 h = hits_[i].point;
    if (std::fabs(p.x - h.x) < kReach) XX = 100;
    if (std::fabs(p.z - h.z) < kReach) ZZ = 100;
}

void player::CollisionsEchelles(const scene::Frame& qui, int32_t signe) {
    if (monde_ == nullptr) return;
    // 1.
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    glm::vec3 p = qui.GetPosition(sceneFrame);
    glm::vec3 d, up;
    qui.GetOrientation(sceneFrame, d, up);
    d *= float(signe);
    echelle = false;
    // 2. The built-in maps have no ladders.
    if (!monde_->ladderFrame) return;
    // 3-5. At the probe's height, 5 below, then 5 above.
    const auto essai = [&](const glm::vec3& origine) {
        if (scene::Pick(*monde_->ladderFrame, origine, d, hits_) == 0) return false;
        const glm::vec3 h = hits_[0].point;
        return std::hypot(origine.x - h.x, origine.z - h.z) < kReach;
    };
    for (const float dy : {0.0f, -5.0f, 10.0f}) {
        p.y += dy;
        if (essai(p)) {
            echelle = true;
            return;
        }
    }
}

bool player::lance_une_RAY(scene::Frame& qui) {
    if (monde_ == nullptr || !monde_->floorFrame) return false;
    // 1.
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const glm::vec3 p = qui.GetPosition(sceneFrame);
    const double h = baisser.empty() ? kStand : kCrouch;
    // 2.
    if (scene::Pick(*monde_->floorFrame, p, {0.0f, -1.0f, 0.0f}, hits_) == 0) return false;
    // 3. Halves round to even (the default rounding mode).
    const double sol = double(hits_[0].point.y) + h;
    const double d = std::nearbyint(double(p.y) - sol);
    // 4. Too deep: the caller treats it as a wall.
    if (d > monde_->mapScale) return false;
    // 5. Stand on the floor (this climbs steps), or fall one unit.
    if (d <= 0)
        qui.SetPosition(sceneFrame, {p.x, float(sol), p.z});
    else
        qui.SetPosition(sceneFrame, {p.x, float(double(p.y) - kFallStep), p.z});
    return true;
}

bool player::SolAPortee(const scene::Frame& qui) {
    if (monde_ == nullptr || !monde_->floorFrame) return false;
    const glm::vec3 p = qui.GetPosition(monde_->sceneFrame.get());
    if (scene::Pick(*monde_->floorFrame, p, {0.0f, -1.0f, 0.0f}, hits_) == 0) return false;
    const double h = baisser.empty() ? kStand : kCrouch;
    const double sol = double(hits_[0].point.y) + h;
    return std::nearbyint(double(p.y) - sol) <= monde_->mapScale;
}

void player::AfficheSecteur(const scene::Frame& qui) {
    if (monde_ == nullptr || !monde_->decorFrameA || !monde_->decorFrameB) return;
    const float z = qui.GetPosition(monde_->sceneFrame.get()).z;
    // 1. Corridor (visual 0) and stair (visual 1) of each section's visible frame.
    const auto piece = [](const scene::Frame& f, size_t i) -> scene::Visual* {
        return i < f.GetVisualCount() ? f.Visuals()[i].get() : nullptr;
    };
    scene::Visual* couloir[2] = {piece(*monde_->decorFrameA, 0), piece(*monde_->decorFrameB, 0)};
    scene::Visual* escalier[2] = {piece(*monde_->decorFrameA, 1), piece(*monde_->decorFrameB, 1)};
    const auto montre = [](scene::Visual* v, bool on) {
        if (v) v->EnableRendering(on);
    };
    montre(couloir[0], z > -220.0f);
    montre(couloir[1], z <= -220.0f);
    montre(escalier[0], z > -244.0f);
    montre(escalier[1], z <= -155.0f);
    // 2. Which section is solid: both near the junction.
    const uint32_t premier = z >= -220.0f ? scene::kFlagPickable : scene::kFlagNone;
    const uint32_t second = z <= -190.0f ? scene::kFlagPickable : scene::kFlagNone;
    for (size_t i = 0; i < 6; ++i) {
        if (monde_->sectionFrames[i])
            monde_->sectionFrames[i]->SetTraversalOptions(i < 3 ? premier : second);
    }
}

} // namespace player
