// Screenshots of the local player on the courtyard map, drawn by the real renderer with the
// real character and weapons: the chase view of the player running with a weapon, the first
// person view, the scope view, a blood splash from a hit delivered as the network delivers it,
// and the dead body. Each picture is compared with the same view without the player (or before
// the event), and the difference is checked: where it lies, how large it is, its colour.
#include "platform/render/render.h"
#include "tests/render/render/gl_context.h"
#include "tests/render/render/picture_diff.h"
#include "tests/support/resource.h"
#include "tests/unit/player/match_world.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using playertest::MatchWorld;
using playertest::Models;
namespace fs = std::filesystem;

constexpr int kW = 640;
constexpr int kH = 480;
// Steps after a placement for the chase camera to close in on its target (it closes 1/15 of the
// distance per step while standing).
constexpr int kSettle = 80;

std::string ShotPath(const std::string& name) {
    return rendertest::ShotPath("player-shots", name);
}

using rendertest::Difference;
using rendertest::PixelAt;

Difference Compare(const scene::Image& before, const scene::Image& after) {
    return rendertest::Compare(before, after, 12);
}

class Shots : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Models::Installed();
        std::string error;
        context_ = new rendertest::GlContext();
        contextOk_ = context_->Open(kW, kH, error);
        if (!contextOk_) std::fprintf(stderr, "%s\n", error.c_str());
    }
    static void TearDownTestSuite() { delete context_; }
    void SetUp() override {
        TARNHOLD_REQUIRE_RESOURCE(std::getenv("DISPLAY") != nullptr,
                                  "an X display (run under xvfb-run)");
        ASSERT_TRUE(contextOk_);
        std::string error;
        renderer = render::Renderer::Create(&error);
        ASSERT_NE(renderer, nullptr) << error;
        renderer->SetTargetSize(kW, kH);
        renderer->SetQuality(scene::RenderQuality::Gouraud);
    }
    void TearDown() override { renderer.reset(); }

    // The courtyard with its point light, as the match lights it, and the local player.
    std::unique_ptr<MatchWorld> Courtyard(int32_t arme) {
        auto m = std::make_unique<MatchWorld>("cour", Models::Installed(), arme);
        auto light = scene::Frame::Create(m->map_.scene);
        light->AddLight(scene::Light::Create(scene::LightType::Point, {1, 1, 1}));
        light->SetPosition(m->map_.scene.get(), m->map_.light);
        return m;
    }

    // The local view as the match draws it; `file` saves it under the build directory.
    scene::Image Draw(MatchWorld& m, const std::string& file = {}) {
        renderer->Clear(m.viewport);
        renderer->Render(m.viewport, *m.map_.scene, m.p.FirstPersonWeapon());
        if (!file.empty()) {
            std::string error;
            EXPECT_TRUE(renderer->Screenshot(ShotPath(file), &error)) << error;
        }
        return render::CaptureBackBuffer(kH, 0, 0, kW, kH);
    }
    // The same view without the player's body (and what it carries).
    scene::Image DrawWithoutBody(MatchWorld& m) {
        m.p.joueur->SetTraversalOptions(scene::kFlagNone);
        scene::Image img = Draw(m);
        m.p.joueur->SetTraversalOptions(scene::kFlagRendered);
        return img;
    }

    // The same view without the weapon in hand.
    scene::Image DrawWithoutWeapon(MatchWorld& m) {
        m.p.MDroite->SetTraversalOptions(scene::kFlagNone);
        scene::Image img = Draw(m);
        m.p.MDroite->SetTraversalOptions(scene::kFlagRendered);
        return img;
    }

    std::unique_ptr<render::Renderer> renderer;
    static inline rendertest::GlContext* context_ = nullptr;
    static inline bool contextOk_ = false;
};

// Presses a toggle key for one frame, the key-ready period having passed.
void Toggle(MatchWorld& m, int code) {
    m.p.TOUCHE_OK = true;
    m.Key(code, true);
    m.Steps(1);
    m.Key(code, false);
    m.Steps(1);
}

TEST_F(Shots, ChaseViewShowsThePlayerRunningWithAWeaponInTheMiddleOfThePicture) {
    auto m = Courtyard(5); // ak47
    m->StandAt({-40, 3, 0}, {0, 0, 1});
    m->Steps(kSettle);
    m->Key(playertest::kUp, true);
    m->Steps(25);
    ASSERT_EQ(m->p.ani_pos_lib, "run");
    const scene::Image with = Draw(*m, "chase_running.png");
    const Difference body = Compare(DrawWithoutBody(*m), with);
    EXPECT_GT(body.count, 3000) << "the body is drawn";
    EXPECT_GT(body.Height(), body.Width()) << "standing upright";
    EXPECT_LT(std::abs((body.minX + body.maxX) / 2 - kW / 2), 60) << "centred";
    EXPECT_GT(body.minY, 40) << "the camera is above and behind, not inside";
}

TEST_F(Shots, OrbitWithTheRightButtonShowsTheWeaponInTheHand) {
    auto m = Courtyard(5); // ak47
    m->StandAt({-40, 3, 0}, {0, 0, 1});
    m->Steps(kSettle);
    // Right button held, the mouse pushed right: the camera turns around the player.
    m->p.Souris = true;
    m->Key(playertest::kUp, true);
    input::InjectMouseButton(input::MouseButton::Right, true);
    for (int i = 0; i < 5; ++i) {
        input::InjectMouseMove(kW / 2 + 100, kH / 2);
        m->Steps(1);
    }
    m->Steps(10);
    const scene::Image with = Draw(*m, "chase_orbit_side.png");
    m->p.MDroite->SetTraversalOptions(scene::kFlagNone);
    const scene::Image bare = Draw(*m);
    m->p.MDroite->SetTraversalOptions(scene::kFlagRendered);
    const Difference weapon = Compare(bare, with);
    const Difference body = Compare(DrawWithoutBody(*m), with);
    EXPECT_GT(weapon.count, 60) << "the weapon is drawn";
    EXPECT_GT(body.Width(), 40);
    // In the hand: within the body's outline, at chest height, not at its feet or above it.
    EXPECT_GE(weapon.minY, body.minY);
    EXPECT_LT(weapon.maxY, body.minY + body.Height() * 2 / 3);
    EXPECT_GT(weapon.maxX, body.minX);
    EXPECT_LT(weapon.minX, body.maxX);
}

// Pixels of the crosshair's colours (green arms, red centre) within `radius` of the centre.
int CrosshairPixels(const scene::Image& img, int radius) {
    int n = 0;
    for (int y = kH / 2 - radius; y <= kH / 2 + radius; ++y)
        for (int x = kW / 2 - radius; x <= kW / 2 + radius; ++x) {
            const glm::ivec3 c = PixelAt(img, x, y);
            n += (c.g > 200 && c.r < 120 && c.b < 150) || (c.r > 220 && c.g < 120 && c.b < 100);
        }
    return n;
}

TEST_F(Shots, FirstPersonLooksFromTheEyeAndTheScopeMagnifiesSixTimes) {
    auto m = Courtyard(11); // awp: a rifle with a scope
    m->StandAt({-40, 3, -20}, {0, 0, 1});
    m->Steps(kSettle);
    const scene::Image chase = Draw(*m);
    EXPECT_EQ(CrosshairPixels(chase, kH / 2 - 1), 0) << "no sight in the chase view";
    Toggle(*m, playertest::kView);
    ASSERT_TRUE(m->p.vue);
    ASSERT_EQ(m->viewport.camera, m->p.chasse);
    m->Steps(5);
    const scene::Image first = Draw(*m, "first_person.png");
    // The eye rides the weapon: above the body root, just behind the muzzle, in front of the body.
    const glm::vec3 eye = m->p.chasse->GetPosition(m->map_.scene.get());
    EXPECT_GT(eye.y - m->Pos().y, 0.8f);
    EXPECT_LT(glm::distance(glm::vec2(eye.x, eye.z), glm::vec2(m->Pos().x, m->Pos().z)), 3.f);
    EXPECT_GT(glm::dot(eye - m->Pos(), glm::vec3(0, 0, 1)), 0.f);
    EXPECT_GT(Compare(chase, first).count, kW * kH / 4) << "a different view";
    // The crosshair marks the centre, a fifth of the view high: its arms reach 36 pixels from
    // the centre, not 60.
    const int sight = CrosshairPixels(first, 40);
    EXPECT_GT(sight, 150);
    EXPECT_EQ(CrosshairPixels(first, 60), sight);
    // The whole weapon shows below the sight, from its muzzle just above the crosshair down to
    // the bottom edge of the view; the body does not block the view.
    const Difference weapon = Compare(DrawWithoutWeapon(*m), first);
    EXPECT_GT(weapon.count, kW * kH / 20) << "the weapon's body is seen, not only its muzzle";
    EXPECT_LT(std::abs((weapon.minX + weapon.maxX) / 2 - kW / 2), 40);
    EXPECT_GT(weapon.minY, kH / 4);
    EXPECT_LT(weapon.minY, kH / 2);
    EXPECT_GE(weapon.maxY, kH - 2);
    const Difference body = Compare(DrawWithoutBody(*m), first);
    EXPECT_LT(body.count, kW * kH / 3) << "the view is not blocked by the body";

    Toggle(*m, playertest::kView);
    ASSERT_TRUE(m->p.vue);
    ASSERT_FLOAT_EQ(m->viewport.front, 6.f);
    m->Steps(5);
    const scene::Image scope = Draw(*m, "scope.png");
    // Six times magnified: the picture differs from the first-person one almost everywhere.
    EXPECT_GT(Compare(first, scope).count, kW * kH / 2);
    // The scope's dark mask covers the corners and the sides; the lens in the middle shows the
    // scene, the reticle crossing it; no crosshair.
    for (const glm::ivec2 at :
         {glm::ivec2(3, 3), glm::ivec2(kW - 4, kH - 4), glm::ivec2(20, kH / 2),
          glm::ivec2(kW - 20, kH / 2), glm::ivec2(kW / 2, 2)})
        EXPECT_LT(PixelAt(scope, at.x, at.y).g, 24) << at.x << "," << at.y;
    int lit = 0;
    for (int y = kH / 2 - 60; y < kH / 2 + 60; y += 4)
        for (int x = kW / 2 - 60; x < kW / 2 + 60; x += 4) {
            const glm::ivec3 c = PixelAt(scope, x, y);
            lit += c.r + c.g + c.b > 120;
        }
    EXPECT_GT(lit, 30 * 30 / 2) << "the lens shows the scene";
    EXPECT_EQ(CrosshairPixels(scope, 60), 0);
    // The third press goes back to the chase view, without a sight.
    Toggle(*m, playertest::kView);
    EXPECT_FALSE(m->p.vue);
    EXPECT_FLOAT_EQ(m->viewport.front, 1.f);
    EXPECT_EQ(m->viewport.camera, m->p.cam);
    m->Steps(2);
    EXPECT_EQ(CrosshairPixels(Draw(*m), kH / 2 - 1), 0);
}

// Pixels of the ak47's wood (brown furniture) and steel (blue-grey receiver) in the lower
// half of the view where the weapon changes the picture.
struct GunColours {
    int wood = 0;
    int steel = 0;
};
GunColours LowerHalfGunColours(const scene::Image& without, const scene::Image& with) {
    GunColours n;
    for (int y = kH / 2; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const glm::ivec3 a = PixelAt(without, x, y), c = PixelAt(with, x, y);
            const glm::ivec3 d = glm::abs(a - c);
            if (std::max({d.r, d.g, d.b}) <= 12) continue;
            n.wood += c.r > c.g + 8 && c.g > c.b + 6 && c.r > 30;
            n.steel += c.b >= c.r && c.b >= c.g && c.b - c.r <= 12 && c.r > 25;
        }
    return n;
}

TEST_F(Shots, FirstPersonShowsTheGunBodyBelowTheSightInItsOwnColours) {
    auto m = Courtyard(5); // ak47: steel receiver, wooden stock and handguard
    m->StandAt({-40, 3, -20}, {0, 0, 1});
    m->Steps(kSettle);
    Toggle(*m, playertest::kView);
    ASSERT_TRUE(m->p.vue);
    m->Steps(5);
    const scene::Image first = Draw(*m, "first_person_ak47.png");
    const GunColours gun = LowerHalfGunColours(DrawWithoutWeapon(*m), first);
    EXPECT_GT(gun.wood, 2000) << "the wooden handguard below the sight";
    EXPECT_GT(gun.steel, 500) << "the steel receiver";
    EXPECT_GT(CrosshairPixels(first, 40), 150) << "the crosshair stays over the weapon";
}

TEST_F(Shots, AHitSplashesRedBloodOnTheBody) {
    auto m = Courtyard(0);
    m->StandAt({-40, 3, 0}, {0, 0, 1});
    m->Steps(kSettle);
    const scene::Image before = Draw(*m);
    // A hit at the chest, from behind the camera's side, as the network delivers it.
    const glm::vec3 chest = m->p.joueur->GetPosition(m->map_.scene.get()) + glm::vec3(0, 1, -0.6f);
    m->p.Toucher(10, 1, chest.x, chest.y, chest.z);
    EXPECT_EQ(m->p.force, 90);
    m->Steps(2);
    const scene::Image blood = Draw(*m, "blood.png");
    const Difference body = Compare(DrawWithoutBody(*m), blood);
    const auto redOnBody = [&](const scene::Image& img) {
        int n = 0;
        for (int y = body.minY; y <= body.maxY; ++y)
            for (int x = body.minX; x <= body.maxX; ++x) {
                const glm::ivec3 c = PixelAt(img, x, y);
                n += c.x > 140 && c.y < 60 && c.z < 60;
            }
        return n;
    };
    const int clean = redOnBody(before);
    EXPECT_GT(redOnBody(blood), clean + 15) << "red blood on the body";
    // The splash lasts nine frames, then nothing is left of it.
    m->Steps(10);
    EXPECT_LE(redOnBody(Draw(*m)), clean + 5);
}

TEST_F(Shots, TheDeadBodyLiesOnTheFloor) {
    auto m = Courtyard(0);
    m->StandAt({-40, 3, 0}, {0, 0, 1});
    m->Steps(kSettle);
    const scene::Image standingView = Draw(*m);
    const Difference standing = Compare(DrawWithoutBody(*m), standingView);
    const glm::vec3 head = m->p.tete->GetPosition(m->map_.scene.get());
    m->p.Toucher(-1, 1, head.x, head.y, head.z);
    ASSERT_TRUE(m->p.mort);
    for (int i = 0; i < 200 && !m->p.pret; ++i)
        m->Steps(1);
    ASSERT_TRUE(m->p.pret) << "the death animation ended";
    m->Steps(kSettle); // the body stays as it fell
    const scene::Image deadView = Draw(*m, "dead.png");
    const Difference dead = Compare(DrawWithoutBody(*m), deadView);
    EXPECT_GT(dead.count, 500) << "the body is still drawn";
    EXPECT_LT(dead.Height(), standing.Height() / 2) << "lying, not standing";
    EXPECT_GT(dead.minY, standing.minY + standing.Height() / 2) << "low in the picture";
    EXPECT_LE(dead.maxY, standing.maxY + 10) << "on the floor, not below it";
}

} // namespace
