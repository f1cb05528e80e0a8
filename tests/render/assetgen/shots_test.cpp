// Screenshots of the generated content drawn by the real renderer, put together as a match puts
// it together: the character in both team skins standing, running and dead, weapons in hand, and
// every map seen from a spawn point at eye height. Each test checks pixel statistics; the
// pictures are kept under <build>/assetgen-shots/ for people to look at.
#include "platform/render/render.h"
#include "tests/render/render/gl_context.h"
#include "tests/render/render/picture_diff.h"
#include "tests/unit/assetgen/content_support.h"
#include "tests/unit/assetgen/game_content.h"
#include "tools/assetgen/assetgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr int kW = 640;
constexpr int kH = 480;

std::string ShotPath(const std::string& name) {
    return rendertest::ShotPath("assetgen-shots", name);
}

using rendertest::Difference;
using rendertest::PixelAt;

Difference Compare(const scene::Image& before, const scene::Image& after) {
    return rendertest::Compare(before, after, 10);
}

class Shots : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new fs::path(MakeTempDir("shots"));
        std::vector<std::string> files;
        std::string error;
        ok_ = assetgen::GenerateAll(*root_, files, error);
        context_ = new rendertest::GlContext();
        contextOk_ = context_->Open(kW, kH, error);
        if (!contextOk_) std::fprintf(stderr, "%s\n", error.c_str());
    }
    static void TearDownTestSuite() {
        delete context_;
        fs::remove_all(*root_);
        delete root_;
    }
    void SetUp() override {
        ASSERT_TRUE(ok_);
        ASSERT_TRUE(contextOk_);
        std::string error;
        renderer = render::Renderer::Create(&error);
        ASSERT_NE(renderer, nullptr) << error;
        renderer->SetTargetSize(kW, kH);
    }
    void TearDown() override { renderer.reset(); }

    static const fs::path& Root() { return *root_; }

    scene::Image Draw(const scene::Frame& top, const scene::ViewportParams& vp,
                      const std::string& file = {}) {
        renderer->Clear(vp);
        renderer->Render(vp, top);
        if (!file.empty()) {
            std::string error;
            EXPECT_TRUE(renderer->Screenshot(ShotPath(file), &error)) << error;
        }
        return render::CaptureBackBuffer(kH, 0, 0, kW, kH);
    }

    static scene::ViewportParams View(const std::shared_ptr<scene::Frame>& camera) {
        scene::ViewportParams vp;
        vp.camera = camera;
        vp.width = kW;
        vp.height = kH;
        vp.front = 1.0f;
        vp.back = 5000.0f;
        vp.field = 0.6f;
        return vp;
    }

    std::unique_ptr<render::Renderer> renderer;
    static inline fs::path* root_ = nullptr;
    static inline bool ok_ = false;
    static inline rendertest::GlContext* context_ = nullptr;
    static inline bool contextOk_ = false;
};

// A lit stage for one player: a tiled floor where the collision code stands a body whose root
// is at the origin, lights, and a camera looking at the body from `eye`.
struct Stage {
    std::shared_ptr<scene::Frame> root = scene::Frame::Create();
    std::shared_ptr<scene::Frame> camera = scene::Frame::Create(root);

    explicit Stage(const fs::path& install, const glm::vec3& eye, const glm::vec3& target) {
        root->AddLight(scene::Light::Create(scene::LightType::Ambient, {0.4f, 0.4f, 0.4f}));
        auto light = scene::Frame::Create(root);
        light->AddLight(scene::Light::Create(scene::LightType::Point, {0.8f, 0.8f, 0.7f}));
        light->SetPosition(nullptr, {6, 12, 14});
        auto floor = scene::Frame::Create(root);
        auto b = scene::MeshBuilder::Create();
        const float y = -content::kStanding, s = 12.f;
        const glm::vec3 corners[4] = {{-s, y, s}, {s, y, s}, {s, y, -s}, {-s, y, -s}};
        scene::Face face;
        const uint32_t n = b->AddNormal({0, 1, 0});
        for (int k = 0; k < 4; ++k) {
            const uint32_t v = b->AddVertex(corners[k]);
            b->SetTextureCoordinates(v, k == 1 || k == 2 ? 4.f : 0.f, k >= 2 ? 4.f : 0.f);
            face.vertices.push_back(v);
            face.normals.push_back(n);
        }
        face.texture = scene::LoadTexture((install / "media" / "beton.bmp").string());
        b->AddFace(std::move(face));
        floor->AddVisual(b);
        camera->SetPosition(nullptr, eye);
        camera->SetOrientation(nullptr, glm::normalize(target - eye), {0, 1, 0});
    }
};

} // namespace

TEST_F(Shots, CharacterInBothSkinsStandsRunsAndFallsDead) {
    auto m = content::LoadCharacter(Root());
    Stage stage(Root(), {4.5f, 1.8f, 9.f}, {0, 0.4f, 0});
    const auto vp = View(stage.camera);
    renderer->SetBackground({0.55f, 0.65f, 0.8f});
    const scene::Image empty = Draw(*stage.root, vp);

    std::map<std::string, Difference> seen;
    for (int team : {0, 1}) {
        content::Figure f(*m, stage.root, team, team == 0 ? "TS1.bmp" : "GS1.bmp", team, Root());
        const std::string skin = "team" + std::to_string(team);
        const int32_t run = m->RenvAnimations("run");
        const std::pair<std::string, std::function<void()>> poses[3] = {
            {"idle", [&] { f.Pose("idle1", 0, "ref_aim_rifle"); }},
            {"run", [&] { f.Pose("run", m->RenvAniMax(run) / 4.0, "ref_aim_rifle"); }},
            {"dead", [&] { f.Pose("death1", -1); }}};
        for (const auto& [pose, apply] : poses) {
            apply();
            const std::string name = "character_" + skin + "_" + pose;
            seen[name] = Compare(empty, Draw(*stage.root, vp, name + ".png"));
        }
    }
    for (const auto& [name, d] : seen) {
        SCOPED_TRACE(name);
        EXPECT_GT(d.count, 3000) << "the body is drawn";
        EXPECT_GT(std::max({d.mean.x, d.mean.y, d.mean.z}), 20.0) << "the body is lit";
    }
    for (const char* team : {"team0", "team1"}) {
        SCOPED_TRACE(team);
        const Difference& idle = seen[std::string("character_") + team + "_idle"];
        const Difference& run = seen[std::string("character_") + team + "_run"];
        const Difference& dead = seen[std::string("character_") + team + "_dead"];
        EXPECT_GT(idle.Height(), idle.Width()) << "standing upright";
        EXPECT_GT(idle.Height(), kH / 3);
        EXPECT_NE(run.count, idle.count) << "the run pose differs from the idle one";
        EXPECT_GT(dead.Width(), dead.Height()) << "the dead body is wide";
        EXPECT_LT(dead.Height(), idle.Height() / 2) << "and low";
        EXPECT_GT(dead.minY, idle.minY + idle.Height() / 3) << "lying on the floor";
        EXPECT_LE(std::abs(dead.maxY - idle.maxY), idle.Height() / 8) << "on the same floor";
    }
    // The two teams wear clearly different colours.
    const glm::dvec3 a = seen["character_team0_idle"].mean, b = seen["character_team1_idle"].mean;
    EXPECT_GT(glm::length(a - b), 25.0)
        << a.x << "," << a.y << "," << a.z << " vs " << b.x << "," << b.y << "," << b.z;
}

TEST_F(Shots, WeaponsSitInTheRightHand) {
    auto m = content::LoadCharacter(Root());
    Stage stage(Root(), {6.f, 2.2f, 6.5f}, {0, 1.f, 0});
    const auto vp = View(stage.camera);
    renderer->SetBackground({0.55f, 0.65f, 0.8f});
    content::Figure f(*m, stage.root, 0, "TS2.bmp", 0, Root());
    for (const char* qc : {"mp5_ak47.QC", "rifle_awp.QC", "shotgun_m3.QC"}) {
        SCOPED_TRACE(qc);
        auto w = content::LoadWeapon(Root(), qc);
        const std::string aim = "ref_aim_" + w->typ_arme;
        f.Pose("idle1", 0, aim);
        f.p.MDroite->DeleteAllVisuals();
        while (f.p.MDroite->GetChildCount() > 0)
            f.p.MDroite->DeleteChild(*f.p.MDroite->Children()[0]);
        const scene::Image bare = Draw(*stage.root, vp);
        f.Hold(*w);
        f.Pose("idle1", 0, aim);
        const std::string name = "weapon_" + w->lib_arme + "_in_hand";
        const Difference d = Compare(bare, Draw(*stage.root, vp, name + ".png"));
        EXPECT_GT(d.count, 400) << "the weapon is drawn";
        // It is held before the chest, not at the feet or above the head.
        const glm::vec3 muzzle = f.p.flash->GetPosition(stage.root.get());
        const glm::vec3 px = vp.Project(muzzle);
        EXPECT_GT(muzzle.y, -0.5f);
        EXPECT_LT(muzzle.y, 3.5f);
        EXPECT_GE(px.x, float(d.minX) - 20.f);
        EXPECT_LE(px.x, float(d.maxX) + 20.f);
    }
}

TEST_F(Shots, EveryMapSeenFromASpawnPointAtEyeHeight) {
    std::vector<std::string> maps = {"couloirs", "entrepot"};
    for (const std::string& n : content::FileMapNames(Root()))
        maps.push_back(n);
    renderer->SetBackground({1.f, 0.f, 1.f}); // magenta: a hole into nothing shows
    for (const std::string& name : maps) {
        SCOPED_TRACE(name);
        content::MapWorld w;
        content::BuildMap(w, Root(), name);
        ASSERT_EQ(w.error, "");
        if (name != "couloirs" && name != "entrepot") {
            auto light = scene::Frame::Create(w.scene);
            light->AddLight(scene::Light::Create(scene::LightType::Point, {0.8f, 0.8f, 0.7f}));
            light->SetPosition(nullptr, w.light);
        }
        const glm::vec3 spawn = w.spawns[0];
        const float down = content::RayDistance(*w.floor, spawn, {0, -1, 0});
        ASSERT_GT(down, 0.f);
        const glm::vec3 eye = spawn - glm::vec3(0, down, 0) + glm::vec3(0, 5.2f, 0);
        // Look the way with the longest view, as a player would.
        glm::vec3 look(0, 0, 1);
        float longest = -1;
        for (int k = 0; k < 16; ++k) {
            const float a = float(k) * 0.3926991f;
            const glm::vec3 d(std::cos(a), 0, std::sin(a));
            float hit = content::RayDistance(*w.wall, eye, d);
            if (hit < 0) hit = 1e6f;
            if (hit > longest) longest = hit, look = d;
        }
        auto camera = scene::Frame::Create(w.scene);
        camera->SetPosition(nullptr, eye);
        camera->SetOrientation(nullptr, glm::normalize(look - glm::vec3(0, 0.12f, 0)), {0, 1, 0});
        const scene::Image img = Draw(*w.scene, View(camera), "map_" + name + ".png");

        int holes = 0;
        std::set<int> colours;
        double brightness = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const glm::ivec3 p = PixelAt(img, x, y);
                holes += p == glm::ivec3(255, 0, 255) ? 1 : 0;
                colours.insert((p.x / 16) << 8 | (p.y / 16) << 4 | (p.z / 16));
                brightness += (p.x + p.y + p.z) / 3.0;
            }
        brightness /= double(kW * kH);
        EXPECT_LT(holes, kW * kH / 100) << "the view looks into nothing";
        EXPECT_GE(colours.size(), 40u) << "textured, lit surfaces";
        EXPECT_GT(brightness, 45.0) << "too dark";
        EXPECT_LT(brightness, 230.0) << "washed out";
    }
}
