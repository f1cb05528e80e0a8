// bots/bot.cpp — the brain of a computer player: perceive, decide, act.
//
// Index
//   1. Difficulty and roam goals
//   2. Geometry helpers (facings, signed yaw, elevation)
//   3. Perceive (sight: field, distance, ray picks into the map)
//   4. Decide (the mode of this step, death and respawn, the weapon)
//   5. Act (fight: aim, reaction, bursts, side steps; walk with the progress watch; escape)
//
// Per frame: Decide allocates nothing and throws nothing. The record's aim is the facing of its
// head frame `axe2` (what `tir` shoots along); its walk is the facing of `joueur`.
#include "bots/bot.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bots {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
constexpr double kStepSeconds = 0.02;    // game seconds of one step at ratio 1
constexpr double kTurnRate = 360.0;      // largest turn, degrees per game second
constexpr double kPerceptionEvery = 0.1; // seconds between two looks around
constexpr double kForgetAfter = 6.0;     // a lost target is chased this long
constexpr double kNewEngagement = 1.5;   // unseen this long: the reaction time runs again
constexpr double kArrived = 4.0;         // a goal this near is reached, scene units
constexpr double kProgressStep = 0.5;    // nearer by this much counts as progress
constexpr double kStuckAfter = 2.0;      // no progress this long: another route
constexpr double kEscapeSeconds = 1.0;   // the turn-and-walk away from an obstacle
constexpr double kRespawnDelay = 1.0;    // after the death animation, before the click
constexpr double kAimTolerance = 2.5;    // degrees off the aim point that still fire
constexpr double kPitchLimit = 60.0 * kRad;
// No part of a body lies farther than this from its feet, in the units of the body's model
// (a standing character is about 75 high): a body whose feet are farther than the sight
// distance and this is out of sight whatever its pose.
constexpr double kBodyReachModel = 250.0;

glm::vec3 Flat(glm::vec3 v) {
    v.y = 0.0f;
    return v;
}

// Signed yaw in degrees from `from` to `to` (horizontal parts), positive to the right.
double SignedYaw(const glm::vec3& from, const glm::vec3& to) {
    const double cross = double(from.z) * to.x - double(from.x) * to.z;
    const double dot = double(from.x) * to.x + double(from.z) * to.z;
    if (cross == 0.0 && dot == 0.0) return 0.0;
    return std::atan2(cross, dot) / kRad;
}

// Elevation of `v` in radians, positive up.
double Elevation(const glm::vec3& v) {
    const double len = glm::length(v);
    return len > 0.0 ? std::asin(std::clamp(double(v.y) / len, -1.0, 1.0)) : 0.0;
}

// `dir` turned by `yaw` degrees to the right and raised by `pitch` degrees.
glm::vec3 Offset(const glm::vec3& dir, double yaw, double pitch) {
    const double h = std::hypot(double(dir.x), double(dir.z));
    const double heading = std::atan2(double(dir.x), double(dir.z)) + yaw * kRad;
    const double elev = std::atan2(double(dir.y), h) + pitch * kRad;
    return {float(std::sin(heading) * std::cos(elev)), float(std::sin(elev)),
            float(std::cos(heading) * std::cos(elev))};
}

double AngleBetween(const glm::vec3& a, const glm::vec3& b) {
    const double la = glm::length(a), lb = glm::length(b);
    if (la == 0.0 || lb == 0.0) return 180.0;
    return std::acos(std::clamp(double(glm::dot(a, b)) / (la * lb), -1.0, 1.0)) / kRad;
}

glm::vec3 Facing(const scene::Frame& f, const scene::Frame* reference) {
    glm::vec3 d, up;
    f.GetOrientation(reference, d, up);
    return d;
}

// The frame lies under `root` (a player's body when `root` is the players' root).
bool Under(const scene::Frame* frame, const scene::Frame* root) {
    for (std::shared_ptr<scene::Frame> f; frame != nullptr; frame = f.get()) {
        if (frame == root) return true;
        f = frame->GetParent();
    }
    return false;
}

} // namespace

// =============================================================================================
// 1. Difficulty and roam goals
// =============================================================================================

const DifficultyRow& RowOf(Difficulty level) {
    const size_t i = size_t(std::clamp(int32_t(level), 0, int32_t(kDifficulties.size()) - 1));
    return kDifficulties[i];
}

std::optional<Difficulty> DifficultyByName(std::string_view name) {
    for (size_t i = 0; i < kDifficulties.size(); ++i)
        if (kDifficulties[i].name == name) return Difficulty(int32_t(i));
    return std::nullopt;
}

std::string_view ModeName(Mode mode) {
    switch (mode) {
    case Mode::Dead:
        return "dead";
    case Mode::Roam:
        return "roam";
    case Mode::Chase:
        return "chase";
    case Mode::Fight:
        return "fight";
    case Mode::Escape:
        return "escape";
    }
    return "?";
}

std::vector<glm::vec3> RoamGoals(const player::World& world) {
    std::vector<glm::vec3> goals;
    const scene::Frame* sceneFrame = world.sceneFrame.get();
    if (sceneFrame == nullptr) return goals;
    const auto add = [&](const scene::Frame* frame, const glm::vec3& at) {
        if (frame != nullptr)
            goals.push_back(sceneFrame->InverseTransformPoint(frame->TransformPoint(at)));
    };
    if (world.mapName == "couloirs") {
        for (const glm::vec3& at : player::kCorridorSpawns) {
            add(world.decorFrameA.get(), at);
            add(world.decorFrameB.get(), at);
        }
    } else if (world.mapName == "entrepot") {
        for (const glm::vec3& at : player::kWarehouseSpawns)
            add(world.wallFrame.get(), at);
    } else {
        for (const glm::vec3& at : world.spawnPoints)
            add(world.wallFrame.get(), at);
    }
    return goals;
}

// =============================================================================================
// 2. The brain: construction and the step
// =============================================================================================

Brain::Brain(const player::World& world, Roster players, Difficulty level, uint32_t seed,
             const NavGraph* nav)
    : world_(world), players_(players), nav_(nav), row_(&RowOf(level)), random_(seed),
      buts_(RoamGoals(world)), chests_(players.size()) {
    prochaineVue_ = Uniform(0.0, kPerceptionEvery); // the brains of a match look in turn
}

double Brain::Uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random_);
}

void Brain::Decide(const player::player& p, player::Controls& c) {
    pas_ = std::clamp(p.ratio, 0.0, 10.0) * kStepSeconds;
    maintenant_ += pas_;
    ++step_;
    if (!p.joueur || world_.sceneFrame == nullptr) return;
    if (p.mort) {
        WhenDead(p, c);
        return;
    }
    if (etaitMort_) { // a new life: a new weapon, nobody in mind
        etaitMort_ = false;
        armeVoulue_ = -1;
        cible_ = -1;
        cibleVue_ = false;
        butValide_ = false;
        evasionJusque_ = 0;
        alerteLacet_ = 0;
        forcePrecedente_ = p.force;
        ancreA_ = maintenant_;
    }
    // Hit by someone it does not see: it turns around to look.
    if (p.force < forcePrecedente_ && !cibleVue_ && alerteLacet_ == 0)
        alerteLacet_ = Uniform(0.0, 1.0) < 0.5 ? -150.0 : 150.0;
    forcePrecedente_ = p.force;
    if (maintenant_ >= prochaineVue_) {
        Perceive(p);
        prochaineVue_ = maintenant_ + kPerceptionEvery;
    }
    // Shots fired since the last step end the burst.
    if (p.NbBastos < tirsVus_) rafale_ -= tirsVus_ - p.NbBastos;
    tirsVus_ = p.NbBastos;
    ChooseMode(p);
    WatchPlace(p.joueur->GetPosition(world_.sceneFrame.get()));
    ChooseWeapon(p, c);
    switch (mode_) {
    case Mode::Fight:
        Fight(p, c);
        break;
    case Mode::Chase:
        if (!butValide_ || glm::length(dernierePos_ - destination_) > kArrived) {
            butValide_ = true;
            if (!PlanTo(p.joueur->GetPosition(world_.sceneFrame.get()), dernierePos_)) {
                cible_ = -1; // no way there: it goes back to roaming
                butValide_ = false;
                break;
            }
        }
        Follow(p, c);
        break;
    case Mode::Escape:
        Escape(p, c);
        break;
    case Mode::Roam:
        if (!butValide_) NewRoamGoal(p.joueur->GetPosition(world_.sceneFrame.get()));
        Follow(p, c);
        break;
    case Mode::Dead:
        break;
    }
}

// =============================================================================================
// 3. Perceive
// =============================================================================================

glm::vec3 Brain::Eye(const player::player& p) const {
    // Where its shots leave from.
    if (p.tete) return p.OrigineTir();
    const scene::Frame* sceneFrame = world_.sceneFrame.get();
    return p.joueur->GetPosition(sceneFrame) + glm::vec3(0.0f, 4.0f, 0.0f);
}

glm::vec3 Brain::BodyPoint(const player::player& other) const {
    // The chest: the middle of the hit boxes, two thirds of their height up.
    const scene::Frame* sceneFrame = world_.sceneFrame.get();
    if (other.base) {
        const scene::Box box = other.base->GetBox();
        if (!box.IsEmpty()) {
            const glm::vec3 lo = other.base->TransformPoint(box.min);
            const glm::vec3 hi = other.base->TransformPoint(box.max);
            const glm::vec3 centre = 0.5f * (lo + hi);
            const float chest = std::min(lo.y, hi.y) + 0.65f * std::fabs(hi.y - lo.y);
            return sceneFrame->InverseTransformPoint({centre.x, chest, centre.z});
        }
    }
    const glm::vec3 feet = other.joueur->GetPosition(sceneFrame);
    if (!other.tete) return feet + glm::vec3(0.0f, 3.0f, 0.0f);
    return feet + 0.75f * (other.tete->GetPosition(sceneFrame) - feet);
}

bool Brain::LineOfSight(const glm::vec3& eye, const glm::vec3& body) {
    glm::vec3 dir = body - eye;
    const float distance = glm::length(dir);
    if (distance < 1e-3f) return true;
    dir /= distance;
    const scene::Frame* players = world_.playerRoot.get();
    for (const scene::Frame* frame : {world_.wallFrame.get(), world_.floorFrame.get()}) {
        if (frame == nullptr) continue;
        const size_t n = scene::Pick(*frame, eye, dir, hits_);
        for (size_t i = 0; i < n; ++i) {
            const scene::PickHit& h = hits_[i];
            if (h.distance >= distance - 0.3f) break;
            if (Under(h.frame, players)) continue; // bodies do not hide each other
            return false;
        }
    }
    return true;
}

glm::vec3 Brain::ChestOf(size_t slot, const player::player& other) {
    Chest& c = chests_[slot];
    if (c.step != step_) {
        c.step = step_;
        c.chest = BodyPoint(other);
        c.feet = other.joueur->GetPosition(world_.sceneFrame.get());
    }
    return c.chest;
}

glm::vec3 Brain::AimPointOf(size_t slot, const player::player& other) {
    const Chest& c = chests_[slot];
    // Seen at the last look (a look is never more than kPerceptionEvery ago, whatever the
    // frame rate, once a step is at most that long): the chest has moved as the feet have.
    const double since = double(step_ - c.step) * pas_;
    if (c.step == 0 || since > 2.0 * kPerceptionEvery) return ChestOf(slot, other);
    return c.chest + (other.joueur->GetPosition(world_.sceneFrame.get()) - c.feet);
}

bool Brain::Sees(const player::player& p, const player::player& other) {
    return SeesIn(p, other, chests_.size());
}

bool Brain::SeesIn(const player::player& p, const player::player& other, size_t slot) {
    if (&other == &p || other.mort || !other.joueur || !p.joueur) return false;
    if (other.IdModele == p.IdModele) return false; // a team mate is no target
    if (other.joueur->GetTraversalOptions() == scene::kFlagNone) return false; // not in play
    const glm::vec3 eye = Eye(p);
    const glm::vec3 feet = other.joueur->GetPosition(world_.sceneFrame.get());
    if (glm::length(feet - eye) > row_->sightDistance + kBodyReachModel * world_.modelScale)
        return false;
    const glm::vec3 body = slot < chests_.size() ? ChestOf(slot, other) : BodyPoint(other);
    const glm::vec3 to = body - eye;
    if (glm::length(to) > row_->sightDistance) return false;
    const scene::Frame& head = p.axe2 ? *p.axe2 : *p.joueur;
    const glm::vec3 look = Facing(head, world_.sceneFrame.get());
    if (AngleBetween(Flat(look), Flat(to)) > kFieldHalfAngle) return false;
    return LineOfSight(eye, body);
}

void Brain::Perceive(const player::player& p) {
    // The target in sight stays the target; otherwise the nearest enemy in sight. Each one is
    // looked at once.
    int32_t vu = -1;
    const auto sees = [&](size_t i) {
        const player::player* other = players_[i].get();
        return other != nullptr && SeesIn(p, *other, i);
    };
    if (cible_ >= 0 && size_t(cible_) < players_.size() && sees(size_t(cible_))) {
        vu = cible_;
    } else {
        float proche = 1e30f;
        const glm::vec3 eye = Eye(p);
        for (size_t i = 0; i < players_.size(); ++i) {
            if (int32_t(i) == cible_ || !sees(i)) continue;
            const float d = glm::length(chests_[i].chest - eye);
            if (d < proche) proche = d, vu = int32_t(i);
        }
    }
    if (vu < 0) {
        cibleVue_ = false;
        return;
    }
    // A new engagement: another enemy, or the same after a while out of sight.
    if (vu != cible_ || maintenant_ - vueA_ > kNewEngagement) {
        vueDepuis_ = maintenant_;
        aTire_ = false;
        derniereReaction_ = -1;
        NewBurst();
    }
    cible_ = vu;
    cibleVue_ = true;
    vueA_ = maintenant_;
    dernierePos_ = chests_[size_t(vu)].chest;
    alerteLacet_ = 0;
}

// =============================================================================================
// 4. Decide
// =============================================================================================

void Brain::WhenDead(const player::player& p, player::Controls& c) {
    if (!etaitMort_) {
        etaitMort_ = true;
        mortDepuis_ = maintenant_;
        cible_ = -1;
        cibleVue_ = false;
    }
    mode_ = Mode::Dead;
    // Back in play a moment after the death has played, as a person clicks.
    c.clic = p.pret && maintenant_ - mortDepuis_ >= kRespawnDelay;
}

void Brain::ChooseMode(const player::player& p) {
    if (maintenant_ < evasionJusque_) {
        mode_ = Mode::Escape;
        return;
    }
    if (cibleVue_) {
        mode_ = Mode::Fight;
        return;
    }
    const glm::vec3 at = p.joueur->GetPosition(world_.sceneFrame.get());
    if (cible_ >= 0 && maintenant_ - vueA_ < kForgetAfter &&
        glm::length(Flat(dernierePos_ - at)) > kArrived) {
        if (mode_ != Mode::Chase) butValide_ = false;
        mode_ = Mode::Chase;
        return;
    }
    cible_ = -1;
    if (mode_ != Mode::Roam) butValide_ = false;
    mode_ = Mode::Roam;
}

void Brain::NewRoamGoal(const glm::vec3& from) {
    butValide_ = true;
    // On the graph: a node it can walk to and come back from, away from here.
    if (nav_ != nullptr && !nav_->Empty()) {
        for (int essai = 0; essai < 4; ++essai) {
            const NodeId n = nav_->RandomReachableNode(from, uint32_t(random_()));
            if (n == kNoNode) break;
            const glm::vec3 but = nav_->Nodes()[n].position;
            if (glm::length(Flat(but - from)) > 2 * kArrived && PlanTo(from, but)) return;
        }
    }
    // Else a spawn point away from here, in a straight line.
    glm::vec3 but =
        from + glm::vec3(float(Uniform(-20.0, 20.0)), 0.0f, float(Uniform(-20.0, 20.0)));
    for (int essai = 0; essai < 8 && !buts_.empty(); ++essai) {
        but = buts_[size_t(Uniform(0.0, double(buts_.size()))) % buts_.size()];
        if (glm::length(Flat(but - from)) > 2 * kArrived) break;
    }
    PlanTo(from, but, true);
}

bool Brain::PlanTo(const glm::vec3& from, const glm::vec3& to, bool straight) {
    destination_ = to;
    meilleureDistance_ = 1e9;
    progresA_ = maintenant_;
    surGraphe_ = !straight && nav_ != nullptr && !nav_->Empty();
    if (!surGraphe_) return true;
    detoursRoute_ = 0;
    return route_.Plan(*nav_, from, to, maintenant_) != NavRoute::State::Lost;
}

void Brain::ChooseWeapon(const player::player& p, player::Controls& c) {
    if (armeVoulue_ < 0) {
        // Any weapon its rank allows but the one-bullet scope rifle.
        int32_t permises = 0;
        for (const player::WeaponRow& row : player::kWeaponTable)
            if (row.rank <= row_->weaponPower && row.magazine > 1) ++permises;
        const int32_t choix = int32_t(Uniform(0.0, double(std::max(permises, 1))));
        armeVoulue_ = 0;
        for (int32_t i = 0, n = 0; i < player::kWeaponCount; ++i) {
            const player::WeaponRow& row = player::kWeaponTable[size_t(i)];
            if (row.rank > row_->weaponPower || row.magazine <= 1) continue;
            if (n++ == choix) armeVoulue_ = i;
        }
    }
    // One press of the weapon key per step, as long as another weapon is in hand.
    c.arme = p.IdArme != armeVoulue_;
}

// =============================================================================================
// 5. Act
// =============================================================================================

double Brain::PitchToward(const player::player& p, const glm::vec3& dir) const {
    // The head's pitch is 3 x pivot radians, down positive; the control adds a hundredth.
    const double elevation = std::clamp(Elevation(dir), -kPitchLimit, kPitchLimit);
    return (-elevation / 3.0 - p.pivot) * 100.0;
}

void Brain::LevelHead(const player::player& p, player::Controls& c) const {
    c.tangage = -p.pivot * 100.0 * 0.3;
}

void Brain::NewBurst() {
    erreurLacet_ = Uniform(-row_->aimErrorDegrees, row_->aimErrorDegrees);
    erreurTangage_ = Uniform(-row_->aimErrorDegrees, row_->aimErrorDegrees);
    rafale_ = int32_t(Uniform(2.0, 6.0));
}

void Brain::Fight(const player::player& p, player::Controls& c) {
    const player::player* target = players_[size_t(cible_)].get();
    if (target == nullptr || !target->joueur) return;
    const glm::vec3 eye = Eye(p);
    const glm::vec3 to = AimPointOf(size_t(cible_), *target) - eye;
    const glm::vec3 aim = Offset(to, erreurLacet_, erreurTangage_);
    // The turn acts before this step's shot; the head's pitch only after it (the shot goes
    // along the pitch of the last step).
    const scene::Frame& head = p.axe2 ? *p.axe2 : *p.joueur;
    const glm::vec3 regard = Facing(head, world_.sceneFrame.get());
    const double lacet = SignedYaw(regard, aim);
    const double limit = kTurnRate * pas_;
    c.lacet = std::clamp(lacet, -limit, limit);
    c.tangage = PitchToward(p, aim);
    const double resteLacet = std::fabs(lacet - c.lacet);
    const double resteTangage = std::fabs(Elevation(regard) - Elevation(aim)) / kRad;
    const bool vise = resteLacet <= kAimTolerance && resteTangage <= kAimTolerance;
    // Fire once the reaction time has passed and the shot goes to the aim point.
    const bool pret = maintenant_ - vueDepuis_ >= row_->reactionSeconds;
    if (rafale_ <= 0) {
        pauseJusque_ = maintenant_ + Uniform(0.3, 0.8);
        NewBurst();
    }
    if (pret && vise && maintenant_ >= pauseJusque_) {
        c.tir = true;
        if (!aTire_) {
            aTire_ = true;
            derniereReaction_ = maintenant_ - vueDepuis_;
        }
    }
    // Side steps, and closer when the enemy is far.
    if (maintenant_ >= strafeJusque_) {
        strafeGauche_ = !strafeGauche_;
        strafeJusque_ = maintenant_ + Uniform(0.6, 1.4);
    }
    c.gauche = strafeGauche_;
    c.droite = !strafeGauche_;
    c.avancer = glm::length(to) > 0.5 * row_->sightDistance;
}

void Brain::Follow(const player::player& p, player::Controls& c) {
    const scene::Frame* sceneFrame = world_.sceneFrame.get();
    const glm::vec3 at = p.joueur->GetPosition(sceneFrame);
    bool arrived = false;
    if (surGraphe_) {
        // The route passes its waypoints, and goes another way when the body makes no progress.
        const NavRoute::State state = route_.Update(at, maintenant_);
        detours_ += route_.Detours() - detoursRoute_;
        detoursRoute_ = route_.Detours();
        if (state == NavRoute::State::Lost) { // no way left from here
            StartEscape();
            return;
        }
        arrived = state == NavRoute::State::Arrived;
    } else {
        // A straight line (heights loosely: a body falls or climbs behind its feet).
        const glm::vec3 d = destination_ - at;
        arrived = glm::length(Flat(d)) < kArrived && std::fabs(d.y) < 3.0f;
    }
    if (arrived) {
        butValide_ = false;
        LevelHead(p, c);
        return;
    }
    WalkTo(p, surGraphe_ ? route_.Waypoint() : destination_, c);
}

void Brain::WalkTo(const player::player& p, const glm::vec3& goal, player::Controls& c) {
    const scene::Frame* sceneFrame = world_.sceneFrame.get();
    const glm::vec3 at = p.joueur->GetPosition(sceneFrame);
    LevelHead(p, c);
    // First the look-around of a hit from behind.
    if (alerteLacet_ != 0) {
        const double limit = kTurnRate * pas_;
        const double tour = std::clamp(alerteLacet_, -limit, limit);
        c.lacet = tour;
        alerteLacet_ -= tour;
        if (std::fabs(alerteLacet_) < 1e-6) alerteLacet_ = 0;
        return;
    }
    const glm::vec3 to = Flat(goal - at);
    const double yaw = SignedYaw(Facing(*p.joueur, sceneFrame), to);
    const double limit = 2 * kTurnRate * pas_;
    c.lacet = std::clamp(yaw, -limit, limit);
    // On a path it turns before it walks on, so as to keep to the edges the graph checked.
    c.avancer = std::fabs(yaw) < (surGraphe_ ? 25.0 : 50.0);
    if (!surGraphe_) WatchProgress(at, goal);
}

void Brain::WatchProgress(const glm::vec3& at, const glm::vec3& goal) {
    const double d = glm::length(Flat(goal - at));
    if (d < meilleureDistance_ - kProgressStep) {
        meilleureDistance_ = d;
        progresA_ = maintenant_;
        return;
    }
    if (maintenant_ - progresA_ < kStuckAfter) return;
    StartEscape();
}

void Brain::WatchPlace(const glm::vec3& at) {
    if (glm::length(Flat(at - ancre_)) > 2 * kProgressStep) {
        ancre_ = at;
        ancreA_ = maintenant_;
    } else if (maintenant_ - ancreA_ >= kStuckAfter && mode_ != Mode::Escape) {
        StartEscape();
    }
}

void Brain::StartEscape() {
    // No progress: turn away, walk a moment, then another route.
    ++detours_;
    evasionJusque_ = maintenant_ + kEscapeSeconds;
    evasionLacet_ = (Uniform(0.0, 1.0) < 0.5 ? -1.0 : 1.0) * Uniform(90.0, 180.0);
    butValide_ = false;
    cible_ = -1;
    cibleVue_ = false;
    meilleureDistance_ = 1e9;
    progresA_ = maintenant_;
    ancreA_ = maintenant_;
    mode_ = Mode::Escape;
}

void Brain::Escape(const player::player& p, player::Controls& c) {
    LevelHead(p, c);
    const double limit = kTurnRate * pas_;
    const double tour = std::clamp(evasionLacet_, -limit, limit);
    c.lacet = tour;
    evasionLacet_ -= tour;
    c.avancer = std::fabs(evasionLacet_) < 30.0;
}

} // namespace bots
