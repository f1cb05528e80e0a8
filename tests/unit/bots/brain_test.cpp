// A computer player on the installed courtyard map with the real character and weapons: it
// sees only what is in front of it, near enough and not behind a wall; it fires no sooner than
// its level's reaction time after an enemy comes into sight, aims with an error within its
// level's bound, and the smaller that bound, the more of its shots strike the enemy's body.
// Coordinates are scene units on "cour" (an open ground around (10, 2.5, 40), the east wall at
// x = 80).
#include "bots/bot.h"
#include "tests/unit/player/match_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using playertest::MatchWorld;
using playertest::Models;

// The bot's shots as the network would carry them: the hits on each slot, counted.
struct HitCounter : player::MessageSink {
    std::array<int, 5> hits{};
    void SendHit(int32_t target, int32_t, const glm::vec3&) override {
        if (target >= 0 && target < 5) ++hits[size_t(target)];
    }
    void SendState(const player::player&) override {}
    void SendKilled(int32_t, int32_t) override {}
};

// The match's human stays out of the way; a bot (slot 1, team 1) and an enemy that stands
// still (slot 2, team 0, a record of another machine) share the ground.
class Arena {
public:
    Arena(bots::Difficulty level, uint32_t seed)
        : m("cour", Models::Installed(), 0, seed), brain(m.w, roster, level, seed) {
        m.StandAt({-40, 3, -40}, {0, 0, 1});
        auto b = std::make_unique<player::player>();
        b->indice = 1;
        b->IdModele = 1;
        b->vue = true;
        b->pilote = &brain;
        b->messages = &shots;
        b->puissance = bots::RowOf(level).weaponPower;
        roster[1] = std::move(b);
        roster[1]->Initplayer(m.w);
        roster[1]->joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
        auto e = std::make_unique<player::player>();
        e->indice = 2;
        e->IdModele = 0;
        roster[2] = std::move(e);
        roster[2]->Initplayer(m.w);
        Hide();
    }
    ~Arena() {
        for (auto& p : roster)
            if (p) p->Destroy();
    }
    player::player& Bot() { return *roster[1]; }
    player::player& Enemy() { return *roster[2]; }

    // One frame of both records at ratio 1 (20 ms), the bot's toggles ready as the core makes
    // them.
    void Step() {
        Bot().TOUCHE_OK = true;
        Bot().Avance();
        Enemy().Avance();
        m.p.Avance();
    }
    void Run(double seconds) {
        for (int i = 0; i < int(std::lround(seconds / 0.02)); ++i)
            Step();
    }
    void Place(player::player& p, glm::vec3 at, glm::vec3 dir) {
        const float s = float(m.w.modelScale);
        p.joueur->SetPosition(m.map_.scene.get(), at);
        p.joueur->SetOrientation(m.map_.scene.get(), glm::normalize(dir), {0, 1, 0});
        p.joueur->AddScale(scene::Combine::Before, s, s, s);
        p.vitesse = 0;
        p.lance_une_RAY(*p.joueur);
        p.PositionneBoite(); // a still record stays where its last state put it
    }
    void Show() { Enemy().joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable); }
    void Hide() { Enemy().joueur->SetTraversalOptions(scene::kFlagNone); }

    MatchWorld m;
    std::array<std::unique_ptr<player::player>, 5> roster;
    HitCounter shots;
    bots::Brain brain;
};

class Brain : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Models::Installed(); }
};

TEST_F(Brain, SeesEnemiesInFrontWithinItsDistanceAndNotThroughWalls) {
    Arena a(bots::Difficulty::Easy, 7); // sight 70
    a.Run(0.1);
    a.Show();
    a.Place(a.Bot(), {10, 3, 0}, {0, 0, 1});
    a.Step();
    const auto sees = [&](glm::vec3 at) {
        a.Place(a.Enemy(), at, {0, 0, -1});
        a.Place(a.Bot(), {10, 3, 0}, {0, 0, 1});
        a.Bot().pivot = 0;
        return a.brain.Sees(a.Bot(), a.Enemy());
    };
    EXPECT_TRUE(sees({10, 3, 25})) << "straight ahead";
    EXPECT_TRUE(sees({35, 3, 30})) << "ahead to the right, within the field";
    EXPECT_FALSE(sees({10, 3, -25})) << "behind";
    EXPECT_FALSE(sees({45, 3, 2})) << "beside, outside the field";
    EXPECT_TRUE(sees({10, 3, 65})) << "within the sight distance";
    EXPECT_FALSE(sees({10, 3, 78})) << "beyond the sight distance";
    a.Enemy().IdModele = 1;
    EXPECT_FALSE(sees({10, 3, 25})) << "a team mate is no target";
    a.Enemy().IdModele = 0;
    a.Enemy().mort = true;
    EXPECT_FALSE(sees({10, 3, 25})) << "the dead are no target";
    a.Enemy().mort = false;
    a.Hide();
    EXPECT_FALSE(sees({10, 3, 25})) << "a body not in play";
    a.Show();
    // The east wall of the courtyard stands at x = 80: a body beyond it is hidden.
    a.Place(a.Bot(), {70, 3, 0}, {1, 0, 0});
    a.Place(a.Enemy(), {92, 3, 0}, {-1, 0, 0});
    EXPECT_FALSE(a.brain.Sees(a.Bot(), a.Enemy())) << "behind the wall";
    a.Place(a.Enemy(), {77, 3, 0}, {-1, 0, 0});
    EXPECT_TRUE(a.brain.Sees(a.Bot(), a.Enemy())) << "on this side of the wall";
}

// What one level does against an enemy that comes into sight 25 ahead and stands still.
struct Duel {
    double firstShot = -1;         // seconds from the enemy's appearance to the first shot
    double reaction = -1;          // the brain's own measure of it
    std::vector<double> aimErrors; // the aim offsets of the bursts, yaw and pitch, degrees
    int shotsFired = 0, hits = 0;
};

Duel Fight(bots::Difficulty level, uint32_t seed) {
    Arena a(level, seed);
    a.Run(3.0); // weapon chosen and loaded, nobody in sight
    a.Place(a.Bot(), {10, 3, 0}, {0, 0, 1});
    a.Bot().pivot = 0;
    a.Place(a.Enemy(), {10, 3, 25}, {0, 0, -1});
    a.Show();
    Duel d;
    int bullets = a.Bot().NbBastos;
    const int32_t weapon = a.Bot().IdArme;
    double t = 0;
    for (int i = 0; i < 600; ++i) { // 12 s
        a.Step();
        t += 0.02;
        if (a.Bot().IdArme == weapon && a.Bot().NbBastos < bullets) {
            d.shotsFired += bullets - a.Bot().NbBastos;
            if (d.firstShot < 0) d.firstShot = t;
        }
        bullets = a.Bot().NbBastos;
        for (const double e : {a.brain.AimErrorYaw(), a.brain.AimErrorPitch()})
            if (std::find(d.aimErrors.begin(), d.aimErrors.end(), e) == d.aimErrors.end())
                d.aimErrors.push_back(e);
    }
    EXPECT_EQ(a.brain.CurrentMode(), bots::Mode::Fight) << "the enemy stays in sight";
    d.reaction = a.brain.LastReaction();
    d.hits = a.shots.hits[2];
    EXPECT_EQ(a.shots.hits[0] + a.shots.hits[1], 0) << "only the enemy is shot at";
    return d;
}

TEST_F(Brain, ReactionTimeAndAimErrorFollowTheLevel) {
    std::array<Duel, 3> duels;
    for (int level = 0; level < 3; ++level) {
        const bots::DifficultyRow& row = bots::kDifficulties[size_t(level)];
        SCOPED_TRACE(std::string(row.name));
        Duel& d = duels[size_t(level)] = Fight(bots::Difficulty(level), 11);
        // The first shot waits for the reaction time, plus at most one look around (0.1 s) and
        // the turn onto the aim point.
        ASSERT_GT(d.firstShot, 0.0) << "never fired";
        EXPECT_GE(d.firstShot, row.reactionSeconds);
        EXPECT_LE(d.firstShot, row.reactionSeconds + 0.4);
        EXPECT_GE(d.reaction, row.reactionSeconds);
        EXPECT_NEAR(d.reaction, d.firstShot, 0.15);
        // Several bursts, each aimed off by no more than the level's error, spread over it.
        ASSERT_GE(d.aimErrors.size(), 6u);
        double widest = 0;
        for (const double e : d.aimErrors) {
            EXPECT_LE(std::fabs(e), row.aimErrorDegrees);
            widest = std::max(widest, std::fabs(e));
        }
        EXPECT_GT(widest, 0.5 * row.aimErrorDegrees);
        EXPECT_GT(d.shotsFired, 10);
        std::printf("%s: first shot after %.2f s, %d of %d shots struck\n", row.name.data(),
                    d.firstShot, d.hits, d.shotsFired);
    }
    // Slower levels react later; the wider the error, the fewer shots strike the body.
    EXPECT_LT(duels[2].firstShot, duels[1].firstShot);
    EXPECT_LT(duels[1].firstShot, duels[0].firstShot);
    const auto rate = [](const Duel& d) { return double(d.hits) / std::max(d.shotsFired, 1); };
    EXPECT_GT(rate(duels[2]), 0.5) << duels[2].hits << " of " << duels[2].shotsFired;
    EXPECT_GT(rate(duels[2]), rate(duels[0]))
        << "hard " << duels[2].hits << "/" << duels[2].shotsFired << ", easy " << duels[0].hits
        << "/" << duels[0].shotsFired;
}

} // namespace
