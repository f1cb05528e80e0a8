// The local player's movement on the installed maps with the real character model: walls stop
// the motion and let the player slide, stairs are climbed, ledges deeper than the map's scale
// are walls on built-in maps while file maps let the player fall, ladders are climbed, and
// crouching lowers the body. Coordinates are scene units; the map layouts are the installed
// content's (corridor walls at x = 0 and 70, its stair between z = -155 and -195; the
// warehouse mezzanine 29 above the ground beyond z = 50; the courtyard's rampart 8 high with
// its stairs at x 30..46 and the tower ladder on x = 43.6).
#include "tests/unit/player/match_world.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using playertest::MatchWorld;
using playertest::Models;

class OnMap : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Models::Installed(); }
};

TEST_F(OnMap, WallStopsTheMotionHeadOnAndTheSecondMoveSlidesAlongIt) {
    for (const char* map : {"couloirs", "cour"}) {
        SCOPED_TRACE(map);
        MatchWorld m(map, Models::Installed());
        // Corridor: the west wall x = 0. Courtyard: the east wall x = 80.
        const bool corridor = std::string(map) == "couloirs";
        const float wallX = corridor ? 0.f : 80.f, side = corridor ? -1.f : 1.f;
        const glm::vec3 start = corridor ? glm::vec3(7, -3, -50) : glm::vec3(72, 3, 10);
        m.StandAt(start, {side, 0, 0});
        m.Steps(1);
        const float y = m.Pos().y;
        m.Key(playertest::kUp, true);
        float nearest = 1e9f;
        for (int i = 0; i < 80; ++i) {
            m.Steps(1);
            nearest = std::min(nearest, std::fabs(m.Pos().x - wallX));
        }
        EXPECT_GT(nearest, 1.f) << "the body never enters the wall";
        EXPECT_LT(nearest, 4.f) << "the player walked up to the wall";
        EXPECT_NE(m.p.XX, 0);
        EXPECT_EQ(m.p.vitesse, 8);
        EXPECT_FLOAT_EQ(m.Pos().y, y);
        const glm::vec3 stuck = m.Pos();
        m.Steps(10);
        EXPECT_NEAR(m.Pos().x, stuck.x, 1e-3f);
        EXPECT_NEAR(m.Pos().z, stuck.z, 1e-3f);

        // At a slant the wall blocks x only: the player slides along it (towards -z).
        m.StandAt(m.Pos(), {0.4f * side, 0, -1});
        const float z0 = m.Pos().z;
        m.Steps(30);
        EXPECT_LT(m.Pos().z, z0 - 5.f) << "slides along the wall";
        EXPECT_GT(std::fabs(m.Pos().x - wallX), 1.f);
        EXPECT_NEAR(m.Pos().x, stuck.x, 0.5f);
        EXPECT_NE(m.p.XX, 0);
        EXPECT_EQ(m.p.ZZ, 0);
    }
}

TEST_F(OnMap, StairsAreClimbedStepByStep) {
    struct Flight {
        const char* map;
        glm::vec3 bottom, dir;
        float topFloor; // floor height at the top
        float beyond;   // position along dir past the top step
    };
    const Flight flights[] = {
        // The corridor's stair, from its foot (floor -15.5) up to the corridor (-5.5).
        {"couloirs", {35, -13, -197}, {0, 0, 1}, -5.5f, -155.f},
        // The courtyard's rampart stairs, rising to the west to the rampart (8).
        {"cour", {50, 2.5f, -76}, {-1, 0, 0}, 8.f, -30.f},
    };
    for (const Flight& f : flights) {
        SCOPED_TRACE(f.map);
        MatchWorld m(f.map, Models::Installed());
        m.StandAt(f.bottom, f.dir);
        m.Steps(1);
        EXPECT_NEAR(m.Pos().y, f.bottom.y, 1e-3f) << "stands 2.5 above the stair's foot";
        m.Key(playertest::kUp, true);
        float y = m.Pos().y;
        int risers = 0;
        for (int i = 0; i < 60; ++i) {
            m.Steps(1);
            // Up one riser at a time, never down.
            EXPECT_GE(m.Pos().y, y - 1e-4f);
            EXPECT_LE(m.Pos().y - y, 1.0001f);
            risers += m.Pos().y > y + 0.5f;
            y = m.Pos().y;
        }
        EXPECT_GT(glm::dot(m.Pos(), f.dir), f.beyond);
        EXPECT_GE(risers, 10);
        EXPECT_NEAR(m.Pos().y, f.topFloor + content::kStanding, 1e-3f);
    }
}

TEST_F(OnMap, DeepLedgeIsAWallOnABuiltInMapWhileAFileMapLetsThePlayerFall) {
    {
        SCOPED_TRACE("entrepot: the mezzanine edge at z = 50, 29 above the ground");
        MatchWorld m("entrepot", Models::Installed());
        ASSERT_NEAR(m.FloorBelow({0, 0, 45}), -27.f, 1e-3f);
        m.StandAt({0, 5, 60}, {0, 0, -1});
        m.Steps(1);
        ASSERT_NEAR(m.Pos().y, 4.5f, 1e-3f);
        m.Key(playertest::kUp, true);
        float nearest = 1e9f;
        for (int i = 0; i < 60; ++i) {
            m.Steps(1);
            nearest = std::min(nearest, m.Pos().z);
            ASSERT_NEAR(m.Pos().y, 4.5f, 1e-3f) << "step " << i;
        }
        EXPECT_GT(nearest, 49.f);
        EXPECT_LT(nearest, 51.5f) << "walked up to the edge";
        // The refused step blocks both axes, as a wall met head on.
        EXPECT_NE(m.p.XX, 0);
        EXPECT_NE(m.p.ZZ, 0);
    }
    {
        SCOPED_TRACE("cour: off the rampart (8 high) through the railing's gap at x -62..-56");
        MatchWorld m("cour", Models::Installed());
        m.StandAt({-59, 11, -72}, {0, 0, 1});
        m.Steps(1);
        ASSERT_NEAR(m.Pos().y, 10.5f, 1e-3f);
        m.Key(playertest::kUp, true);
        std::vector<float> falls;
        float y = m.Pos().y;
        for (int i = 0; i < 40; ++i) {
            m.Steps(1);
            if (m.Pos().y < y - 1e-3f) falls.push_back(y - m.Pos().y);
            y = m.Pos().y;
        }
        ASSERT_EQ(falls.size(), 8u) << "one unit per step from 10.5 down to 2.5";
        for (const float f : falls)
            EXPECT_NEAR(f, 1.f, 1e-3f);
        EXPECT_NEAR(m.Pos().y, content::kStanding, 1e-3f);
        EXPECT_GT(m.Pos().z, -60.f) << "kept walking while falling";
    }
}

TEST_F(OnMap, LadderIsClimbedUpToTheTowerTop) {
    // The courtyard tower (x 44..68, top 24) with its ladder on the west face, z 54.5..57.5.
    MatchWorld m("cour", Models::Installed());
    m.StandAt({40, 3, 56}, {1, 0, 0});
    m.Steps(1);
    ASSERT_NEAR(m.Pos().y, 2.5f, 1e-3f);
    m.Key(playertest::kUp, true);
    bool climbed = false;
    float y = m.Pos().y;
    for (int i = 0; i < 200; ++i) {
        m.Steps(1);
        if (m.p.echelle) {
            climbed = true;
            EXPECT_GE(m.Pos().y, y - 1e-4f) << "step " << i;
            if (m.Pos().y < 20.f) {
                EXPECT_LT(m.Pos().x, 43.6f) << "in front of the ladder";
            }
        }
        y = m.Pos().y;
    }
    EXPECT_TRUE(climbed);
    EXPECT_FALSE(m.p.echelle);
    EXPECT_GT(m.Pos().x, 44.f) << "stepped onto the tower";
    EXPECT_NEAR(m.Pos().y, 24.f + content::kStanding, 1e-3f);
}

TEST_F(OnMap, CrouchingLowersTheBodyToOneAboveTheFloorAndBendsTheCharacter) {
    MatchWorld m("cour", Models::Installed());
    m.StandAt({10, 3, 50}, {0, 0, 1});
    m.Steps(5);
    const float floor = m.FloorBelow(m.Pos());
    ASSERT_NEAR(m.Pos().y - floor, content::kStanding, 1e-3f);
    const float head = m.p.tete->GetPosition(m.map_.scene.get()).y;
    EXPECT_GT(head - floor, 4.f) << "standing, the head is high";
    m.Key(playertest::kCrouch, true);
    m.Steps(10);
    EXPECT_NEAR(m.Pos().y - floor, 1.f, 1e-3f);
    EXPECT_EQ(m.p.ani_pos_lib, "crouch_idle1");
    const float crouched = m.p.tete->GetPosition(m.map_.scene.get()).y;
    EXPECT_LT(crouched - floor, head - floor - 1.5f);
    // Walking crouched keeps the body low; standing up puts it back at once.
    m.Key(playertest::kUp, true);
    m.Steps(10);
    EXPECT_EQ(m.p.ani_pos_lib, "crouch_run");
    EXPECT_NEAR(m.Pos().y - m.FloorBelow(m.Pos()), 1.f, 1e-3f);
    m.Key(playertest::kCrouch, false);
    m.Steps(1);
    EXPECT_NEAR(m.Pos().y - m.FloorBelow(m.Pos()), content::kStanding, 1e-3f);
}

TEST_F(OnMap, PlayersDrawingTheSameSpawnPointAreEachPlacedOnAFreeOne) {
    // Every record draws with the same seed, as two machines do in the same clock second.
    for (const char* map : {"cour", "entrepot"}) {
        SCOPED_TRACE(map);
        MatchWorld m(map, Models::Installed());
        const glm::vec3 first = m.Pos();
        std::vector<std::unique_ptr<player::player>> others;
        std::vector<glm::vec3> places{first};
        for (int32_t i = 1; i < 4; ++i) {
            auto q = std::make_unique<player::player>();
            q->indice = i;
            q->Initplayer(m.w);
            q->PlaceJoueur();
            places.push_back(q->joueur->GetPosition(m.map_.scene.get()));
            q->joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
            others.push_back(std::move(q));
        }
        for (size_t i = 0; i < places.size(); ++i)
            for (size_t j = i + 1; j < places.size(); ++j)
                EXPECT_GT(std::hypot(places[i].x - places[j].x, places[i].z - places[j].z), 6.f)
                    << "players " << i << " and " << j << " share a spawn point";
        // Each stands on the floor and can walk off: nobody holds it in its walls.
        auto& q = *others.back();
        q.AssignLocalKeys();
        m.Key(playertest::kUp, true);
        const glm::vec3 before = q.joueur->GetPosition(m.map_.scene.get());
        m.w.localIndex = 3; // the keyboard is the fourth player's now
        for (int i = 0; i < 20; ++i)
            q.Avance();
        m.w.localIndex = 0;
        m.Key(playertest::kUp, false);
        const glm::vec3 after = q.joueur->GetPosition(m.map_.scene.get());
        EXPECT_GT(std::hypot(after.x - before.x, after.z - before.z), 2.f);
        // With the others out of play, the drawn point is kept.
        for (auto& o : others)
            o->joueur->SetTraversalOptions(scene::kFlagNone);
        m.p.joueur->SetTraversalOptions(scene::kFlagNone);
        others[0]->PlaceJoueur();
        const glm::vec3 again = others[0]->joueur->GetPosition(m.map_.scene.get());
        EXPECT_NEAR(std::hypot(again.x - first.x, again.z - first.z), 0.f, 1e-3f);
        for (auto& o : others)
            o->Destroy();
    }
}

TEST_F(OnMap, ABodyStopsAStepTowardItButNeverOneAwayFromIt) {
    MatchWorld m("cour", Models::Installed());
    player::player other;
    other.indice = 1;
    other.Initplayer(m.w);
    other.joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    const auto place = [&](glm::vec3 at) {
        other.joueur->SetPosition(m.map_.scene.get(), at);
        other.lance_une_RAY(*other.joueur);
        other.PositionneBoite();
    };
    // Walking at a body 10 ahead: the walk stops short of it.
    m.StandAt({10, 3, 40}, {0, 0, 1});
    place({10, 3, 50});
    m.Key(playertest::kUp, true);
    m.Steps(40);
    EXPECT_LT(m.Pos().z, 48.5f) << "walked into the other body";
    EXPECT_GT(m.Pos().z, 44.f) << "walked up to it";
    // Two bodies on one spot (they met, or were placed together): either walks away.
    for (const glm::vec3 dir : {glm::vec3(0, 0, 1), glm::vec3(0, 0, -1), glm::vec3(1, 0, 0)}) {
        m.StandAt({10, 3, 40}, dir);
        place({10, 3, 40.5f});
        m.Steps(30);
        EXPECT_GT(glm::length(m.Pos() - glm::vec3(10, 2.5f, 40)), 8.f)
            << "held by the other body walking along " << dir.x << "," << dir.z;
    }
    m.Key(playertest::kUp, false);
    other.Destroy();
}

} // namespace
