// bots/bot.h — computer-controlled players: the brain that drives a player record.
//
// Index
//   1. Difficulty      (reaction time, aim error, sight distance, weapon rank)
//   2. Routes          (paths on the navigation graph, bots/nav.h; straight lines without one)
//   3. Brain           (perceive, decide, act: a player::Pilot)
//
// A computer player is an ordinary player::player record in the match's players array, simulated
// on this machine: the game core gives it a Brain as its `pilote` and a message sink of its own,
// and the record then moves, shoots, is hit, dies and respawns through the same code as the
// person at the keyboard. The brain produces only player::Controls; it never moves a frame.
//
// What a brain knows of the others is what a person at its place could know: players it sees
// (in front of it, within its sight distance, with no wall or floor between its eye and their
// body, by ray picks into the map frames), where it last saw them, and that it was hit. Angles in
// degrees, distances in scene units, times in seconds of game time (the record's `ratio` x 20 ms
// per step).
#pragma once

#include "bots/nav.h"
#include "player/player.h"

#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace bots {

// ---------------------------------------------------------------------------------------------
// 1. Difficulty
// ---------------------------------------------------------------------------------------------

enum class Difficulty : int32_t { Easy = 0, Normal = 1, Hard = 2 };

// One level of play. The aim error is the largest offset, drawn uniformly in yaw and in pitch
// for every burst; the reaction time runs from the moment an enemy is first seen to the first
// shot at it (and again after it was lost from sight for a while).
struct DifficultyRow {
    std::string_view name;  // "easy", "normal", "hard"
    double reactionSeconds; // first sight to first shot
    double aimErrorDegrees; // largest aim offset, yaw and pitch
    double sightDistance;   // farthest enemy it notices, scene units
    int32_t weaponPower;    // highest weapon rank it carries, 1..4
};

//                               name      reaction  aim error  sight  rank
inline constexpr std::array<DifficultyRow, 3> kDifficulties = {{
    {"easy", 0.90, 7.0, 70.0, 2},
    {"normal", 0.50, 3.5, 110.0, 3},
    {"hard", 0.25, 1.5, 160.0, 4},
}};

const DifficultyRow& RowOf(Difficulty level);
// "easy", "normal" or "hard" (exactly); nothing for any other text.
std::optional<Difficulty> DifficultyByName(std::string_view name);

// Half the angle of the field a brain sees in, degrees (a person sees the view's width and
// turns the head).
inline constexpr double kFieldHalfAngle = 55.0;

// ---------------------------------------------------------------------------------------------
// 2. Routes
// ---------------------------------------------------------------------------------------------

// The places a brain without a navigation graph wanders between when it has nobody to chase:
// the map's spawn points in scene coordinates (the corridor map's two sections, the warehouse's
// rows, a file map's four). With a graph it roams to nodes it can come back from.
std::vector<glm::vec3> RoamGoals(const player::World& world);

// ---------------------------------------------------------------------------------------------
// 3. Brain
// ---------------------------------------------------------------------------------------------

// The players of the match as the game core keeps them (slots 0..4, null where nobody is).
using Roster = std::span<const std::unique_ptr<player::player>>;

// What the brain does this step; for tests and the state dump.
enum class Mode : uint8_t { Dead, Roam, Chase, Fight, Escape };
std::string_view ModeName(Mode mode);

// The brain of one computer player. Created by the game core with the match's world, its
// players array, a level and a seed (the match's RandomSeed service, so a fixed seed gives the
// same match); kept until the record is destroyed. Decide is its only per-frame entry.
class Brain final : public player::Pilot {
public:
    // `nav`: the map's navigation graph (kept by the caller for the match); null or empty: the
    // brain walks in straight lines to the spawn points and turns away from what stops it.
    Brain(const player::World& world, Roster players, Difficulty level, uint32_t seed,
          const NavGraph* nav = nullptr);

    // perceive, decide, act (player::Pilot). Allocates nothing, throws nothing.
    void Decide(const player::player& p, player::Controls& controls) override;

    // --- what it is doing (tests, the state dump) ---
    Mode CurrentMode() const { return mode_; }
    const DifficultyRow& Level() const { return *row_; }
    int32_t Target() const { return cible_; } // slot of the enemy it fights or chases; -1
    // The aim offset of the current burst, degrees (yaw, pitch); each within the level's error.
    double AimErrorYaw() const { return erreurLacet_; }
    double AimErrorPitch() const { return erreurTangage_; }
    // Game seconds from the first sight of the current target to the first shot at it; negative
    // until it has fired at this target.
    double LastReaction() const { return derniereReaction_; }
    double Clock() const { return maintenant_; }  // game seconds since the brain was made
    int32_t Reroutes() const { return detours_; } // routes given up for want of progress

    // Whether `p`'s eye sees `other`'s body: in front within the field, within the level's sight
    // distance, nothing of the map between. Public for tests.
    bool Sees(const player::player& p, const player::player& other);

private:
    // --- perceive ---
    void Perceive(const player::player& p);
    bool LineOfSight(const glm::vec3& eye, const glm::vec3& body);
    glm::vec3 BodyPoint(const player::player& other) const; // chest, scene coordinates
    // BodyPoint of the player in `slot`, worked out once a step; the aim follows its body
    // between two looks (the chest where it was last seen, moved as its feet moved since).
    glm::vec3 ChestOf(size_t slot, const player::player& other);
    // Sees, for the player in `slot` (past the roster: worked out afresh).
    bool SeesIn(const player::player& p, const player::player& other, size_t slot);
    glm::vec3 AimPointOf(size_t slot, const player::player& other);
    glm::vec3 Eye(const player::player& p) const;
    // --- decide ---
    void WhenDead(const player::player& p, player::Controls& c);
    void ChooseMode(const player::player& p);
    void NewRoamGoal(const glm::vec3& from);
    // The route to `to`: a NavRoute on the graph (false when there is no path), or a straight
    // line without a graph or with `straight`.
    bool PlanTo(const glm::vec3& from, const glm::vec3& to, bool straight = false);
    void Follow(const player::player& p, player::Controls& c); // the route's next waypoint
    // --- act ---
    void Fight(const player::player& p, player::Controls& c);
    void WalkTo(const player::player& p, const glm::vec3& goal, player::Controls& c);
    // No progress toward the goal of a straight line, or no step away from one place, for 2 s:
    // StartEscape. On the graph the route watches its own progress.
    void WatchProgress(const glm::vec3& at, const glm::vec3& goal);
    void WatchPlace(const glm::vec3& at);
    void StartEscape(); // turn away, walk a moment, then another route
    void Escape(const player::player& p, player::Controls& c);
    void ChooseWeapon(const player::player& p, player::Controls& c);
    void LevelHead(const player::player& p, player::Controls& c) const;
    // The pitch control that brings the head's pitch onto `dir`'s elevation in one step.
    double PitchToward(const player::player& p, const glm::vec3& dir) const;
    double Uniform(double lo, double hi);
    void NewBurst();

    const player::World& world_;
    Roster players_;
    const NavGraph* nav_;
    const DifficultyRow* row_;
    std::mt19937 random_;
    std::vector<glm::vec3> buts_; // roam goals (spawn points), scene coordinates
    scene::PickResults hits_;     // reused by every sight ray
    // The chest of each slot as last worked out, and its feet then.
    struct Chest {
        uint64_t step = 0; // the step it was worked out in; 0: never
        glm::vec3 chest{0.0f}, feet{0.0f};
    };
    std::vector<Chest> chests_; // by slot
    uint64_t step_ = 0;         // steps decided

    double maintenant_ = 0; // game seconds
    double pas_ = 0.02;     // seconds of the current step
    Mode mode_ = Mode::Roam;
    bool etaitMort_ = false;
    double mortDepuis_ = 0;   // when it died
    double prochaineVue_ = 0; // next perception
    int32_t forcePrecedente_ = 100;
    double alerteJusque_ = -1; // hit: looks around until then
    double alerteLacet_ = 0;   // remaining turn of the look-around, degrees

    // Target.
    int32_t cible_ = -1;
    bool cibleVue_ = false;       // seen at the last perception
    glm::vec3 dernierePos_{0.0f}; // where it was last seen
    double vueDepuis_ = 0;        // first sight of this engagement
    double vueA_ = -1e9;          // last sight
    double derniereReaction_ = -1;
    bool aTire_ = false; // fired at this target

    // Fire.
    double erreurLacet_ = 0, erreurTangage_ = 0;
    int32_t rafale_ = 0;      // shots left in the burst
    double pauseJusque_ = 0;  // no fire before
    int32_t tirsVus_ = 0;     // the record's NbBastos of the last step (counts shots)
    double strafeJusque_ = 0; // the side step changes then
    bool strafeGauche_ = false;

    // Route.
    NavRoute route_;                 // on the graph
    bool surGraphe_ = false;         // following route_; else a straight line to destination_
    int32_t detoursRoute_ = 0;       // route_.Detours() already counted in detours_
    glm::vec3 destination_{0.0f};    // where the route leads
    bool butValide_ = false;         // a route is being followed
    double meilleureDistance_ = 1e9; // straight line: nearest it came to the destination
    double progresA_ = 0;            // last progress toward it
    double evasionJusque_ = 0;
    double evasionLacet_ = 0;
    int32_t detours_ = 0;
    glm::vec3 ancre_{0.0f}; // where it last stepped away from
    double ancreA_ = 0;     // when

    // Weapon of this life.
    int32_t armeVoulue_ = -1;
};

} // namespace bots
