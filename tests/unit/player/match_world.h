// tests/unit/player/match_world.h — one local player of the installed content on an installed
// map, put together in-process the way a match puts it together: the map frames built by the
// content helpers, the character model "terror.qc" and the twelve weapons read by model::MDL,
// and a player::World that reaches them as the game core's does, with the match's services
// answered by the fixture. Input is injected as the automation script injects it. Shared by the
// player's map tests and its screenshot tests.
#pragma once

#include "platform/audio/audio.h"
#include "platform/input/input.h"
#include "tests/unit/assetgen/game_content.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

namespace playertest {

namespace fs = std::filesystem;

// DirectInput codes of the local player's keys, as the match assigns them.
inline constexpr int kUp = player::kKeyUp, kDown = player::kKeyDown, kRight = player::kKeyRight;
inline constexpr int kLeft = player::kKeyLeft, kFire = player::kKeyFire, kView = player::kKeyView;
inline constexpr int kLock = player::kKeyLock, kWeapon = player::kKeyWeapon;
inline constexpr int kCrouch = player::kKeyCrouch;

// The character model and the weapon models of the installation, read once per test program
// (reading them is the slow part). Throws model::ModelError when the content is unreadable.
struct Models {
    std::unique_ptr<model::MDL> character;
    std::array<std::unique_ptr<model::MDL>, player::kWeaponCount> weapons;

    static Models& Installed() {
        static Models m = [] {
            Models loaded;
            const fs::path root = TARNHOLD_INSTALL_DIR;
            loaded.character = content::LoadCharacter(root);
            for (int32_t i = 0; i < player::kWeaponCount; ++i)
                loaded.weapons[size_t(i)] = content::LoadWeapon(root, player::FichierArme(i));
            return loaded;
        }();
        return m;
    }
};

// A map of the installation with the local player (slot 0) standing on it. The map scale is
// the match's: 5 on the built-in maps, 50 on file maps.
class MatchWorld : public player::MatchServices {
public:
    // Builds `map` and spawns the local player with weapon `arme`; `seed` picks the spawn.
    MatchWorld(const std::string& map, Models& models, int32_t arme = 0, uint32_t seed = 3)
        : models_(models) {
        content::BuildMap(map_, TARNHOLD_INSTALL_DIR, map);
        EXPECT_TRUE(map_.error.empty()) << map_.error;
        const bool builtIn = map == "couloirs" || map == "entrepot";
        w.sceneFrame = map_.scene;
        w.playerRoot = scene::Frame::Create(map_.wall);
        w.wallFrame = map_.wall;
        w.decorFrameA = map_.decorA;
        w.decorFrameB = map_.decorB;
        w.mapName = map;
        for (size_t i = 0; i < 4 && i < map_.spawns.size(); ++i)
            w.spawnPoints[i] = map_.spawns[i];
        w.localIndex = 0;
        w.dataPath = TARNHOLD_INSTALL_DIR;
        w.floorFrame = map_.floor;
        w.ladderFrame = map_.ladder;
        w.mapScale = builtIn ? 5.0 : 50.0;
        if (map == "couloirs") {
            // Section frames: floor, wall, ceiling of the first section, then of the second.
            for (size_t i = 0; i < 3; ++i) {
                const scene::Frame& parent = i == 0   ? *map_.floor
                                             : i == 1 ? *map_.wall
                                                      : *map_.ceiling;
                w.sectionFrames[i] = parent.Children()[0];
                w.sectionFrames[i + 3] = parent.Children()[1];
            }
        }
        for (size_t i = 0; i < w.weaponMains.size(); ++i)
            if (models.weapons[i]) w.weaponMains[i] = models.weapons[i]->Main;
        seed_ = seed;
        w.characterModels[0] = models.character.get();
        w.services = this;
        w.crosshairTexture =
            scene::LoadTexture(std::string(TARNHOLD_INSTALL_DIR) + "/weapons/croix.bmp");
        w.scopeTexture =
            scene::LoadTexture(std::string(TARNHOLD_INSTALL_DIR) + "/weapons/sniper.bmp");
        if (w.crosshairTexture) player::PrepareSight(*w.crosshairTexture, true);
        if (w.scopeTexture) player::PrepareSight(*w.scopeTexture, false);
        viewport.camera = nullptr;
        viewport.width = 640;
        viewport.height = 480;
        viewport.front = 1.0f;
        viewport.back = 5000.0f;
        viewport.field = 0.6f;

        input::SetInjectedOnly(true);
        input::ReleaseAll();
        p.indice = 0;
        p.IdArme = arme;
        p.AssignLocalKeys();
        p.Initplayer(w);
        p.joueur->SetTraversalOptions(scene::kFlagRendered);
        viewport.camera = p.cam;
    }
    MatchWorld(const MatchWorld&) = delete;
    MatchWorld& operator=(const MatchWorld&) = delete;
    ~MatchWorld() override {
        p.Destroy();
        input::ReleaseAll();
        input::SetInjectedOnly(false);
    }

    // `n` frames of the local player, the character's skin deformed after each as the main
    // loop does.
    void Steps(int n) {
        for (int i = 0; i < n; ++i) {
            p.Avance();
            models_.character->AnimeSkmVertex();
        }
    }
    void Key(int code, bool down) { input::InjectKey(code, down); }

    // Position of joueur (the body root) in scene coordinates.
    glm::vec3 Pos() const { return p.joueur->GetPosition(map_.scene.get()); }
    // Puts the body root at `at` (scene coordinates) facing `dir` (horizontal) and lets the
    // floor ray stand it on the floor below.
    void StandAt(glm::vec3 at, glm::vec3 dir) {
        const float s = float(w.modelScale);
        p.joueur->SetPosition(map_.scene.get(), at);
        p.joueur->SetOrientation(map_.scene.get(), glm::normalize(dir), {0, 1, 0});
        p.joueur->AddScale(scene::Combine::Before, s, s, s);
        p.vitesse = 0;
        p.lance_une_RAY(*p.joueur);
    }
    // Height of the nearest floor below `at`, or NaN.
    float FloorBelow(glm::vec3 at) const {
        const float d = content::RayDistance(*map_.floor, at, {0, -1, 0});
        return d < 0 ? std::nanf("") : at.y - d;
    }

    content::MapWorld map_;
    player::World w;
    player::player p;
    scene::ViewportParams viewport;
    int32_t power = 4;

    // --- player::MatchServices: no sound, nothing to report or log, no chat box ---
    std::unique_ptr<audio::Sound> LoadSound3d(const std::string&, std::string&) override {
        return nullptr;
    }
    void ReportLoadProblems(std::span<const player::LoadProblem>) override {}
    uint32_t RandomSeed() override { return seed_; }
    int32_t WeaponPower() const override { return power; }
    void UpdateWeaponPower() override {}
    bool ChatOpen() const override { return false; }
    void CloseChat() override {}
    scene::ViewportParams* LocalViewport() override { return &viewport; }
    void RebuildViewport(const std::shared_ptr<scene::Frame>& camera) override {
        viewport.camera = camera;
        viewport.front = 1.0f;
    }
    void SetListener(const glm::vec3&, const glm::vec3&, const glm::vec3&) override {}
    void Log(std::string_view line) override { ADD_FAILURE() << "unexpected log line: " << line; }

private:
    Models& models_;
    uint32_t seed_ = 0;
};

} // namespace playertest
