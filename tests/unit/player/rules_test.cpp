// The local player's rules on small worlds built in the test: movement, walls, floors, ladders,
// shooting, weapon and view switches, hits, death and respawn. Input is injected as the
// automation script injects it; the character model is a small one written by the test: the
// animation sets a record asks for, without a skeleton or a skin.
#include "model/mdl.h"
#include "platform/audio/audio.h"
#include "platform/input/input.h"
#include "platform/scene/scene.h"
#include "player/player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using input::DIK_DELETE;
using input::DIK_NEXT;
using input::DIK_P;
using input::DIK_RCONTROL;
using input::DIK_UP;

// One axis-aligned quad as a pickable face.
void AddQuad(scene::MeshBuilder& b, glm::vec3 a, glm::vec3 c, glm::vec3 d, glm::vec3 e) {
    const glm::vec3 v[4] = {a, c, d, e};
    const int32_t faces[] = {4, 0, 1, 2, 3, 0};
    ASSERT_TRUE(b.AddFaces(v, {}, faces));
}

// A floor square at height y over x, z in [x0, x1] x [z0, z1].
void AddFloor(scene::Frame& f, float y, float x0, float x1, float z0, float z1) {
    auto b = scene::MeshBuilder::Create();
    AddQuad(*b, {x0, y, z0}, {x1, y, z0}, {x1, y, z1}, {x0, y, z1});
    f.AddVisual(b);
}

// A wall in the plane x = x (spanning z in [z0, z1]).
void AddWallX(scene::Frame& f, float x, float z0, float z1) {
    auto b = scene::MeshBuilder::Create();
    AddQuad(*b, {x, -20, z0}, {x, 20, z0}, {x, 20, z1}, {x, -20, z1});
    f.AddVisual(b);
}

// Records what the player sends.
struct Sink : player::MessageSink {
    struct Hit {
        int32_t target, power;
    };
    std::vector<Hit> hits;
    std::vector<int32_t> idson2; // per STATE
    std::vector<std::pair<int32_t, int32_t>> killed;
    void SendHit(int32_t target, int32_t power, const glm::vec3&) override {
        hits.push_back({target, power});
    }
    void SendState(const player::player& p) override { idson2.push_back(p.idson2); }
    void SendKilled(int32_t killer, int32_t power) override { killed.push_back({killer, power}); }
};

// Writes a character model of animation sets only into `dir` and loads it: the legs' sets (the
// crouched ones first, as the game's QC lists them), then aim, shoot and reload of every weapon
// class. Every set lasts 6 frames, "death1" 10. Read in box mode: an instance of it is its hand
// and head frames only.
std::unique_ptr<model::MDL> AnimationsOnlyModel(const fs::path& dir) {
    fs::create_directories(dir);
    std::vector<std::string> sets = {"crouch_idle1", "crouch_run", "idle1", "run", "death1"};
    for (const char* action : {"aim", "shoot", "reload"})
        for (const char* classe : {"onehanded", "carbine", "mp5", "rifle", "m249", "shotgun"})
            sets.push_back(std::string("ref_") + action + "_" + classe);
    std::ofstream qc(dir / "essai.qc", std::ios::binary);
    for (const std::string& set : sets) {
        qc << "$sequence \"" << set << "\" \"" << set << "\"\r\n";
        std::ofstream smd(dir / (set + ".smd"), std::ios::binary);
        smd << "version 1\r\nnodes\r\nend\r\nskeleton\r\n";
        for (int t = 0; t <= (set == "death1" ? 10 : 6); ++t)
            smd << "time " << t << "\r\n";
        smd << "end\r\n";
    }
    qc.close();
    auto m = std::make_unique<model::MDL>();
    m->settings.boxMode = true;
    m->Load(nullptr, "essai.qc", dir.string(), false);
    return m;
}

// The fixture is the match the records live in: its services answer from the fixture's own
// weapon power, chat box and viewport, and load sounds only through `sound` when a test sets it.
class Rules : public ::testing::Test, public player::MatchServices {
protected:
    void SetUp() override {
        input::SetInjectedOnly(true);
        input::ReleaseAll();
        root = scene::Frame::Create();
        sceneFrame = scene::Frame::Create(root);
        floor = scene::Frame::Create(sceneFrame);
        wall = scene::Frame::Create(sceneFrame);
        playerRoot = scene::Frame::Create(wall);
        w.sceneFrame = sceneFrame;
        w.playerRoot = playerRoot;
        w.wallFrame = wall;
        w.floorFrame = floor;
        w.mapName = "essai";
        w.dataPath = TARNHOLD_INSTALL_DIR; // blood decals
        w.spawnPoints = {glm::vec3(0, 3, 0), glm::vec3(0, 3, 0), glm::vec3(0, 3, 0),
                         glm::vec3(0, 3, 0)};
        w.localIndex = 0;
        w.mapScale = 5.0;
        w.network = &sink;
        w.services = this;
        w.crosshairTexture = scene::Texture::CreateFromImage({}, "croix");
        w.scopeTexture = scene::Texture::CreateFromImage({}, "sniper");
        // Every weapon: a hand frame with a barrel mesh and a muzzle child "flash".
        for (auto& main : w.weaponMains) {
            main = scene::Frame::Create();
            main->AddVisual(scene::MeshBuilder::Create());
            auto flash = scene::Frame::Create(main);
            flash->SetName("flash");
            flash->SetPosition(main.get(), {0, 0, 10});
        }
        const fs::path dir =
            fs::path(::testing::TempDir()) / ("player-rules-model-" + std::to_string(::getpid()));
        character = AnimationsOnlyModel(dir);
        fs::remove_all(dir);
        ASSERT_EQ(character->NbAni, 23);
        w.characterModels[0] = character.get();
        AddFloor(*floor, 0, -100, 100, -100, 100);
    }

    void TearDown() override {
        p.Destroy();
        input::ReleaseAll();
        input::SetInjectedOnly(false);
    }

    // The local player in slot 0, as the match prepares it.
    void Spawn() {
        p.indice = 0;
        p.IdArme = 0;
        p.AssignLocalKeys();
        p.TOUCHE_OK = true;
        p.Initplayer(w);
        p.joueur->SetTraversalOptions(scene::kFlagRendered);
    }

    void Steps(int n) {
        for (int i = 0; i < n; ++i)
            p.Avance();
    }

    glm::vec3 Pos() const { return p.joueur->GetPosition(sceneFrame.get()); }
    void Face(glm::vec3 d) {
        const float s = float(w.modelScale);
        p.joueur->SetOrientation(sceneFrame.get(), d, {0, 1, 0});
        p.joueur->AddScale(scene::Combine::Before, s, s, s);
    }
    void PutAt(glm::vec3 pos) { p.joueur->SetPosition(sceneFrame.get(), pos); }

    std::shared_ptr<scene::Frame> root, sceneFrame, floor, wall, playerRoot;
    player::World w;
    player::player p;
    Sink sink;
    std::unique_ptr<model::MDL> character;
    audio::AudioSystem* sound = nullptr;
    std::vector<player::LoadProblem> reported;
    scene::ViewportParams viewport;
    int32_t power = 4;
    int powerUpdates = 0;
    bool chat = false;

    // --- player::MatchServices ---
    std::unique_ptr<audio::Sound> LoadSound3d(const std::string& path,
                                              std::string& error) override {
        if (sound == nullptr) return nullptr;
        audio::SoundLoad loaded = sound->LoadSound(path, true);
        error = loaded.error;
        return std::move(loaded.sound);
    }
    void ReportLoadProblems(std::span<const player::LoadProblem> problems) override {
        reported.insert(reported.end(), problems.begin(), problems.end());
    }
    uint32_t RandomSeed() override { return 7u; }
    int32_t WeaponPower() const override { return power; }
    void UpdateWeaponPower() override { ++powerUpdates; }
    bool ChatOpen() const override { return chat; }
    void CloseChat() override { chat = false; }
    scene::ViewportParams* LocalViewport() override { return &viewport; }
    void RebuildViewport(const std::shared_ptr<scene::Frame>& camera) override {
        viewport.camera = camera;
        viewport.front = 1.0f;
    }
    void SetListener(const glm::vec3&, const glm::vec3&, const glm::vec3&) override {}
    void Log(std::string_view line) override { ADD_FAILURE() << "unexpected log line: " << line; }
};

TEST_F(Rules, ArrowRaisesSpeedToEightAndReleaseStopsAtOnceCrouchLowersTheBody) {
    Spawn();
    Steps(2);
    EXPECT_FLOAT_EQ(Pos().y, 2.5f) << "the floor ray drops the spawn onto the floor";
    EXPECT_EQ(p.ani_pos_lib, "idle1");
    EXPECT_EQ(p.NbBastos, 20) << "a new player reloads on its first step";
    EXPECT_EQ(sink.idson2.front(), 4);
    EXPECT_EQ(sink.idson2.back(), 0) << "the reload flag is sent once";

    input::InjectKey(DIK_UP, true);
    float z = Pos().z;
    for (int i = 1; i <= 10; ++i) {
        Steps(1);
        EXPECT_EQ(p.vitesse, std::min(i, 8));
        // Two moves of |v| / 15 along the facing (+z) per step.
        EXPECT_NEAR(Pos().z - z, 2.0 * std::min(i, 8) / 15.0, 1e-4);
        z = Pos().z;
    }
    EXPECT_EQ(p.ani_pos_lib, "run");
    input::InjectKey(DIK_UP, false);
    Steps(1);
    EXPECT_EQ(p.vitesse, 0);
    EXPECT_FLOAT_EQ(Pos().z, z) << "no deceleration";
    EXPECT_EQ(p.ani_pos_lib, "idle1");

    // Crouching: 1 above the floor within a few steps, legs crouched from frame 0.
    input::InjectKey(DIK_RCONTROL, true);
    Steps(1);
    EXPECT_EQ(p.ani_pos_lib, "crouch_idle1");
    EXPECT_EQ(p.idson, 1);
    Steps(3);
    EXPECT_FLOAT_EQ(Pos().y, 1.0f);
    input::InjectKey(DIK_RCONTROL, false);
    Steps(1);
    EXPECT_FLOAT_EQ(Pos().y, 2.5f) << "standing up snaps back at once";
}

TEST_F(Rules, WallStopsBothMovesHeadOnAndLetsTheSecondSlideAlongIt) {
    AddWallX(*wall, 5, -100, 100);
    Spawn();
    Steps(1);
    // Head on: the player never reaches the wall, however long it keeps walking.
    Face({1, 0, 0});
    input::InjectKey(DIK_UP, true);
    float maxX = -1e9f;
    for (int i = 0; i < 120; ++i) {
        Steps(1);
        maxX = std::max(maxX, Pos().x);
    }
    EXPECT_LT(maxX, 5.0f);
    EXPECT_GT(maxX, 2.0f) << "the player walked up to the wall";
    EXPECT_NE(p.XX, 0);
    EXPECT_NE(p.ZZ, 0);
    const glm::vec3 stuck = Pos();
    Steps(5);
    EXPECT_NEAR(Pos().x, stuck.x, 1e-4);

    // At a slant only x is blocked: the player slides along z.
    Face(glm::normalize(glm::vec3(0.4f, 0, 1)));
    const float z0 = Pos().z;
    Steps(30);
    EXPECT_LT(Pos().x, 5.0f);
    EXPECT_GT(Pos().z - z0, 3.0f);
    EXPECT_NE(p.XX, 0);
    EXPECT_EQ(p.ZZ, 0);
}

TEST_F(Rules, StepsAreClimbedShallowDropsFallAndDeepOnesActAsWalls) {
    // Floor at 0 for z < 10; beyond it a step up of 1.5 at x < 0, a drop of 6 at x > 0.
    floor->DeleteAllVisuals();
    AddFloor(*floor, 0, -50, 50, -50, 10);
    AddFloor(*floor, 1.5f, -50, 0, 10, 50);
    AddFloor(*floor, -6, 0, 50, 10, 50);
    Spawn();
    Steps(1);
    Face({0, 0, 1});

    // Up the step.
    PutAt({-10, 2.5f, 5});
    input::InjectKey(DIK_UP, true);
    Steps(15);
    EXPECT_GT(Pos().z, 10.0f);
    EXPECT_FLOAT_EQ(Pos().y, 4.0f);

    // A built-in map refuses the 6-unit drop: the motion is undone.
    PutAt({10, 2.5f, 5});
    p.vitesse = 0;
    Steps(40);
    EXPECT_LT(Pos().z, 10.0f);
    EXPECT_FLOAT_EQ(Pos().y, 2.5f);

    // A file map (scale 50) lets the player walk off and fall one unit per step.
    w.mapScale = 50;
    float y = Pos().y;
    int falls = 0;
    for (int i = 0; i < 20 && Pos().y > -3.5f; ++i) {
        Steps(1);
        if (Pos().z > 10.0f && Pos().y < y) {
            EXPECT_NEAR(y - Pos().y, 1.0f, 1e-4);
            ++falls;
        }
        y = Pos().y;
    }
    EXPECT_GE(falls, 5);
    Steps(2);
    EXPECT_FLOAT_EQ(Pos().y, -3.5f);
}

TEST_F(Rules, LadderIsClimbedStraightUp) {
    auto ladder = scene::Frame::Create(wall);
    auto b = scene::MeshBuilder::Create();
    AddQuad(*b, {-2, -10, 2}, {2, -10, 2}, {2, 30, 2}, {-2, 30, 2});
    ladder->AddVisual(b);
    w.ladderFrame = ladder;
    Spawn();
    Steps(1);
    Face({0, 0, 1});
    const glm::vec3 start = Pos();
    input::InjectKey(DIK_UP, true);
    Steps(20);
    EXPECT_TRUE(p.echelle);
    EXPECT_GT(Pos().y, start.y + 5.0f);
    EXPECT_LT(Pos().z, 2.0f) << "the climber stays in front of the ladder";
    // Without a ladder frame (built-in maps) nothing is a ladder.
    w.ladderFrame.reset();
    Steps(1);
    EXPECT_FALSE(p.echelle);
}

TEST_F(Rules, HoldingFireShootsOncePerCycleAndTheMagazineReloadsAtOnce) {
    Spawn();
    Steps(1); // the first step reloads
    ASSERT_EQ(p.NbBastos, 20);
    Steps(10);
    ASSERT_EQ(p.action, "aim");
    input::InjectKey(DIK_P, true);
    std::vector<int> shots;
    for (int i = 0; i < 300 && p.action != "reload"; ++i) {
        const int32_t before = p.NbBastos;
        Steps(1);
        if (p.NbBastos == before - 1) shots.push_back(i);
    }
    // 20 shots, one per 6-frame cycle advanced 2/3 of a frame per step (10 steps).
    ASSERT_EQ(shots.size(), 20u);
    for (size_t i = 1; i < shots.size(); ++i)
        EXPECT_EQ(shots[i] - shots[i - 1], 10);
    EXPECT_EQ(p.action, "reload");
    EXPECT_EQ(p.NbBastos, 20) << "full from the reload's first frame";
    EXPECT_EQ(sink.idson2.back(), 4);
    EXPECT_EQ(p.ani_lib, "ref_reload_onehanded");
    EXPECT_EQ(p.idson, 4);
    // No shot while reloading; the end of the cycle aims again, and the next step fires.
    Steps(10);
    EXPECT_EQ(p.NbBastos, 20);
    EXPECT_EQ(p.action, "aim");
    Steps(1);
    EXPECT_EQ(p.NbBastos, 19);
}

TEST_F(Rules, WeaponSwitchFollowsTheRankAndTheScopeCycleNeedsAScope) {
    power = 1;
    Spawn();
    Steps(1);
    std::vector<int32_t> seen;
    for (int i = 0; i < 8; ++i) {
        input::InjectKey(DIK_NEXT, true);
        p.TOUCHE_OK = true;
        Steps(1);
        input::InjectKey(DIK_NEXT, false);
        Steps(1);
        seen.push_back(p.IdArme);
        EXPECT_TRUE(p.flash) << "the muzzle comes with the copied weapon";
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 0, 1, 2, 3, 0}));
    // A held key does not repeat before the key timer sets TOUCHE_OK again.
    p.TOUCHE_OK = true;
    input::InjectKey(DIK_NEXT, true);
    Steps(3);
    EXPECT_EQ(p.IdArme, 1);
    input::InjectKey(DIK_NEXT, false);

    // Views: third person -> first person -> third person without a scope (ump45)...
    const auto view = [&] {
        input::InjectKey(DIK_DELETE, true);
        p.TOUCHE_OK = true;
        Steps(1);
        input::InjectKey(DIK_DELETE, false);
    };
    ASSERT_FALSE(p.vue);
    view();
    EXPECT_TRUE(p.vue);
    EXPECT_EQ(viewport.camera, p.chasse);
    view();
    EXPECT_FALSE(p.vue);
    EXPECT_EQ(viewport.camera, p.cam);
    // ... and through the scope with the aug (index 2).
    p.TOUCHE_OK = true;
    input::InjectKey(DIK_NEXT, true);
    Steps(1);
    input::InjectKey(DIK_NEXT, false);
    ASSERT_EQ(p.IdArme, 2);
    view();
    view();
    EXPECT_TRUE(p.vue);
    EXPECT_FLOAT_EQ(viewport.front, 6.0f);
    ASSERT_EQ(p.devant->GetVisualCount(), 1u);
    EXPECT_EQ(p.devant->Visuals()[0], w.scopeTexture);
    // Changing to a weapon of another class while zoomed leaves the scope for third person.
    p.TOUCHE_OK = true;
    input::InjectKey(DIK_NEXT, true);
    Steps(1);
    input::InjectKey(DIK_NEXT, false);
    EXPECT_EQ(p.IdArme, 3);
    EXPECT_FALSE(p.vue);
    EXPECT_FLOAT_EQ(viewport.front, 1.0f);

    // A rank that no longer allows the weapon switches at once, without a key.
    power = 4;
    p.IdArme = 10;
    p.NbBastos = 5;
    Steps(1);
    power = 2;
    Steps(1);
    EXPECT_EQ(p.IdArme, 0) << "m3 (rank 4) -> awp (rank 4) not allowed -> mac10";
}

TEST_F(Rules, HeadShotKillsHitsOnTheDeadAreIgnoredAndAClickRespawnsWhenReady) {
    Spawn();
    Steps(1);
    // A body hit: blood on nine successive frames, damage, the hit sound flag sent once.
    p.Toucher(20, 2, 1, 3, 1);
    EXPECT_EQ(p.force, 80);
    Steps(1);
    EXPECT_EQ(p.Frmsang->GetVisualCount(), 1u);
    EXPECT_EQ(p.Frmsang->Visuals()[0], p.TexSang[1]);
    Steps(9);
    EXPECT_EQ(p.Frmsang->GetAppData(), 0u);
    EXPECT_EQ(p.Frmsang->GetVisualCount(), 0u);

    // A head shot kills from any health, counts snipped, sends KILLED to the shooter.
    p.vue = true;
    viewport.front = 6.0f;
    chat = true;
    p.Toucher(-1, 3, 0, 3, 0);
    EXPECT_TRUE(p.mort);
    EXPECT_EQ(p.force, 0);
    EXPECT_EQ(p.snipped, 1);
    EXPECT_EQ(p.tue, 1);
    EXPECT_FALSE(p.pret);
    EXPECT_FALSE(chat) << "death closes the chat line";
    EXPECT_FLOAT_EQ(viewport.front, 1.0f);
    EXPECT_EQ(p.devant->Visuals()[0], w.crosshairTexture);
    EXPECT_EQ(powerUpdates, 1);
    ASSERT_EQ(sink.killed.size(), 1u);
    EXPECT_EQ(sink.killed[0], std::make_pair(3, -1));
    EXPECT_EQ(p.ani_pos_lib, "death1");
    EXPECT_EQ(p.AniBuste, -1);

    // Dead: hits change nothing, no motion, the death holds its last frame and makes ready.
    p.Toucher(50, 1, 0, 0, 0);
    EXPECT_EQ(p.force, 0);
    EXPECT_EQ(p.tue, 1);
    EXPECT_EQ(sink.killed.size(), 1u);
    const glm::vec3 body = Pos();
    input::InjectKey(DIK_UP, true);
    input::InjectMouseButton(input::MouseButton::Left, true); // too early: not ready
    Steps(14);
    EXPECT_TRUE(p.mort);
    EXPECT_FALSE(p.pret);
    EXPECT_EQ(Pos(), body);
    input::InjectMouseButton(input::MouseButton::Left, false);
    Steps(200);
    EXPECT_TRUE(p.mort);
    EXPECT_TRUE(p.pret);
    EXPECT_DOUBLE_EQ(p.fps, 10.0);
    input::InjectKey(DIK_UP, false);
    input::InjectMouseButton(input::MouseButton::Left, false);
    Steps(1);
    EXPECT_TRUE(p.mort);
    input::InjectMouseButton(input::MouseButton::Left, true);
    Steps(1);
    input::InjectMouseButton(input::MouseButton::Left, false);
    EXPECT_FALSE(p.mort);
    EXPECT_EQ(p.force, 100);
    EXPECT_EQ(p.action, "aim");
    EXPECT_EQ(p.ani_lib, "ref_aim_onehanded");
    EXPECT_EQ(p.ani_pos_lib, "idle1");
    // Power 10 on a player with 5 health kills.
    p.force = 5;
    p.Toucher(10, 1, 0, 0, 0);
    EXPECT_TRUE(p.mort);
    EXPECT_EQ(p.tue, 2);
    EXPECT_EQ(p.snipped, 1);
}

TEST_F(Rules, ShotsHitOtherPlayersThroughWallsAndHeadShotsCountForTheShooter) {
    AddWallX(*wall, 5, -100, 100);
    Spawn();
    Steps(1);
    Face({1, 0, 0});
    // Another player's hit boxes in slot 2 beyond the wall: a head box and a chest box.
    auto other = scene::Frame::Create(playerRoot);
    const auto box = [&](const char* name, float y0, float y1) {
        auto b = scene::MeshBuilder::Create();
        AddQuad(*b, {10, y0, -1}, {10, y1, -1}, {10, y1, 1}, {10, y0, 1});
        b->SetName(name);
        b->SetAppData(2);
        other->AddVisual(b);
        return b;
    };
    auto head = box("Bip01_Head", -20, 20);
    Steps(11); // the first reload ends
    // The eye ray (chasse) points along the facing: it hits the head box.
    input::InjectKey(DIK_P, true);
    Steps(1);
    input::InjectKey(DIK_P, false);
    ASSERT_EQ(sink.hits.size(), 1u);
    EXPECT_EQ(sink.hits[0].target, 2);
    EXPECT_EQ(sink.hits[0].power, -1);
    EXPECT_EQ(p.snipper, 1);
    // A body box gets the weapon's power (mac10: 10).
    head->SetName("Bip01_Spine");
    Steps(12);
    input::InjectKey(DIK_P, true);
    Steps(1);
    ASSERT_EQ(sink.hits.size(), 2u);
    EXPECT_EQ(sink.hits[1].power, 10);
    EXPECT_EQ(p.snipper, 1);
}

// Every record starts idle with its heartbeat looping: a remote one shows its legs and is heard
// before its first state. Files a record cannot read are reported with their paths, and the
// record is built without them.
TEST_F(Rules, RecordsStartIdleWithTheHeartbeatAndReportTheFilesTheyCannotRead) {
    audio::AudioSystem loopback({audio::OpenOptions::Output::Loopback, ""});
    ASSERT_TRUE(loopback.IsAudible()) << "OpenAL Soft's loopback device is needed";
    sound = &loopback;
    player::player remote;
    remote.indice = 1;
    remote.Initplayer(w);
    EXPECT_TRUE(reported.empty());
    for (int i = 0; i < 3; ++i) {
        remote.Avance(); // no state has come yet
        loopback.RenderLoopback(4410);
    }
    EXPECT_EQ(remote.ani_pos_lib, "idle1");
    ASSERT_GE(remote.Anipos, 0);
    EXPECT_EQ(character->GetAnimSets()[size_t(remote.Anipos)]->GetName(), "idle1");
    EXPECT_EQ(remote.idson, 1);
    ASSERT_TRUE(remote.Sons[1]);
    EXPECT_TRUE(remote.Sons[1]->IsPlaying());
    EXPECT_TRUE(remote.Sons[1]->IsLooping());
    remote.Destroy();

    // An installation whose heartbeat and third blood picture are missing.
    const fs::path install =
        fs::path(::testing::TempDir()) / ("player-install-" + std::to_string(::getpid()));
    fs::remove_all(install);
    fs::create_directories(install / "models");
    fs::create_directories(install / "weapons");
    const fs::path source = TARNHOLD_INSTALL_DIR;
    for (const auto& entry : fs::directory_iterator(source / "models")) {
        const std::string name = entry.path().filename().string();
        if (name != "coeur.wav" && name != "blood003.bmp")
            fs::copy_file(entry.path(), install / "models" / name);
    }
    fs::copy_file(source / "weapons" / "mac10-1.wav", install / "weapons" / "mac10-1.wav");
    w.dataPath = install.string();
    player::player partial;
    partial.indice = 2;
    partial.Initplayer(w);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0].path, (install / "models" / "coeur.wav").string());
    EXPECT_EQ(reported[1].path, (install / "models" / "blood003.bmp").string());
    for (const player::LoadProblem& problem : reported)
        EXPECT_NE(problem.reason.find(problem.path), std::string::npos) << problem.reason;
    EXPECT_TRUE(partial.Armeson && partial.Sons[0] && partial.Sons[4]);
    EXPECT_FALSE(partial.Sons[1]);
    EXPECT_TRUE(partial.TexSang[2] && partial.TexSang[4]);
    EXPECT_FALSE(partial.TexSang[3]);
    EXPECT_EQ(partial.ani_pos_lib, "idle1");
    partial.Destroy();
    fs::remove_all(install);
}

TEST_F(Rules, ChatOpenFreezesThePlayerButTheAnimationGoesOn) {
    Spawn();
    Steps(1);
    chat = true;
    input::InjectKey(DIK_UP, true);
    const glm::vec3 at = Pos();
    const double fps = p.fps;
    Steps(3);
    EXPECT_EQ(Pos(), at);
    EXPECT_EQ(p.vitesse, 0);
    EXPECT_GT(p.fps, fps);
}

} // namespace
