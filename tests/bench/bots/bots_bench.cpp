// What a computer player costs: the installed content in-process (the character, the twelve
// weapons, a map built as the game builds it), a person standing still and three computer
// players at the normal level that roam the map's navigation graph, fight, die and come back,
// stepped frame by frame at the game's 20 ms as the main loop steps them. Reported per computer
// player and frame, path planning included:
// "bot_step_ms", its whole step (the brain's perceive-decide-act, then the same movement,
// collisions, shots and animation a person's record runs), and "skin_ms", its share of the
// skinning pass. Manual time is the two together.
#include "bots/bot.h"
#include "tests/unit/assetgen/game_content.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Hits and kills between the records of the bench, delivered at once as the game core does.
struct Delivery : player::MessageSink {
    std::array<std::unique_ptr<player::player>, 5>* roster = nullptr;
    int32_t owner = 0;
    void SendHit(int32_t target, int32_t power, const glm::vec3& at) override {
        if (target >= 0 && target < 5 && (*roster)[size_t(target)] && target != owner)
            (*roster)[size_t(target)]->Toucher(power, owner, at.x, at.y, at.z);
    }
    void SendState(const player::player&) override {}
    void SendKilled(int32_t killer, int32_t) override {
        if (killer >= 0 && killer < 5 && (*roster)[size_t(killer)])
            (*roster)[size_t(killer)]->tueur += 1;
    }
};

struct Content {
    std::unique_ptr<model::MDL> character;
    std::array<std::unique_ptr<model::MDL>, player::kWeaponCount> weapons;
    static Content& Installed() {
        static Content c = [] {
            Content loaded;
            loaded.character = content::LoadCharacter(TARNHOLD_INSTALL_DIR);
            for (int32_t i = 0; i < player::kWeaponCount; ++i)
                loaded.weapons[size_t(i)] =
                    content::LoadWeapon(TARNHOLD_INSTALL_DIR, player::FichierArme(i));
            return loaded;
        }();
        return c;
    }
};

class Match {
public:
    explicit Match(const std::string& map) : content_(Content::Installed()) {
        content::BuildMap(map_, TARNHOLD_INSTALL_DIR, map);
        const bool builtIn = map == "couloirs" || map == "entrepot";
        w_.sceneFrame = map_.scene;
        w_.playerRoot = scene::Frame::Create(map_.wall);
        w_.wallFrame = map_.wall;
        w_.decorFrameA = map_.decorA;
        w_.decorFrameB = map_.decorB;
        w_.floorFrame = map_.floor;
        w_.ladderFrame = map_.ladder;
        w_.mapName = map;
        w_.mapScale = builtIn ? 5.0 : 50.0;
        for (size_t i = 0; i < 4 && i < map_.spawns.size(); ++i)
            w_.spawnPoints[i] = map_.spawns[i];
        if (map == "couloirs")
            for (size_t i = 0; i < 3; ++i) {
                const scene::Frame& parent = i == 0   ? *map_.floor
                                             : i == 1 ? *map_.wall
                                                      : *map_.ceiling;
                w_.sectionFrames[i] = parent.Children()[0];
                w_.sectionFrames[i + 3] = parent.Children()[1];
            }
        w_.localIndex = 0;
        w_.dataPath = TARNHOLD_INSTALL_DIR;
        w_.characterModels[0] = content_.character.get();
        for (size_t i = 0; i < w_.weaponMains.size(); ++i)
            w_.weaponMains[i] = content_.weapons[i]->Main;
        nav_ = bots::NavGraph::Build(w_);
        for (int32_t slot = 0; slot < 4; ++slot) {
            auto p = std::make_unique<player::player>();
            p->indice = slot;
            p->IdModele = slot % 2;
            sinks_[size_t(slot)].roster = &roster_;
            sinks_[size_t(slot)].owner = slot;
            p->messages = &sinks_[size_t(slot)];
            if (slot > 0) {
                brains_[size_t(slot)] = std::make_unique<bots::Brain>(
                    w_, roster_, bots::Difficulty::Normal, 100u + uint32_t(slot), &nav_);
                p->pilote = brains_[size_t(slot)].get();
                p->vue = true;
                p->puissance = bots::RowOf(bots::Difficulty::Normal).weaponPower;
            }
            roster_[size_t(slot)] = std::move(p);
            roster_[size_t(slot)]->Initplayer(w_);
            roster_[size_t(slot)]->joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
        }
    }
    ~Match() {
        for (auto& p : roster_)
            if (p) p->Destroy();
    }
    // One frame; the time the computer players' steps took, and the skinning pass.
    void Frame(double& botSeconds, double& skinSeconds) {
        roster_[0]->Avance();
        const Clock::time_point begin = Clock::now();
        for (size_t i = 1; i < 4; ++i) {
            roster_[i]->TOUCHE_OK = true;
            roster_[i]->Avance();
        }
        const Clock::time_point stepped = Clock::now();
        content_.character->AnimeSkmVertex();
        const Clock::time_point skinned = Clock::now();
        botSeconds += std::chrono::duration<double>(stepped - begin).count();
        skinSeconds += std::chrono::duration<double>(skinned - stepped).count();
    }
    int32_t Kills() const {
        int32_t n = 0;
        for (const auto& p : roster_)
            n += p ? p->tueur : 0;
        return n;
    }

private:
    Content& content_;
    content::MapWorld map_;
    player::World w_;
    bots::NavGraph nav_;
    std::array<std::unique_ptr<player::player>, 5> roster_;
    std::array<std::unique_ptr<bots::Brain>, 5> brains_;
    std::array<Delivery, 5> sinks_;
};

void BM_ThreeBots(benchmark::State& state, const char* map) {
    Match match(map);
    double warm = 0, unused = 0;
    for (int i = 0; i < 250; ++i) // five seconds of play before measuring
        match.Frame(warm, unused);
    double bots = 0, skin = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        double b = 0, s = 0;
        match.Frame(b, s);
        bots += b;
        skin += s;
        ++frames;
        state.SetIterationTime(b / 3.0 + s / 4.0);
    }
    state.counters["bot_step_ms"] = 1000.0 * bots / 3.0 / double(frames);
    state.counters["skin_ms"] = 1000.0 * skin / 4.0 / double(frames);
    state.counters["kills"] = match.Kills();
}

BENCHMARK_CAPTURE(BM_ThreeBots, couloirs, "couloirs")->UseManualTime()->Iterations(3000);
BENCHMARK_CAPTURE(BM_ThreeBots, entrepot, "entrepot")->UseManualTime()->Iterations(3000);
BENCHMARK_CAPTURE(BM_ThreeBots, cour, "cour")->UseManualTime()->Iterations(3000);
BENCHMARK_CAPTURE(BM_ThreeBots, usine, "usine")->UseManualTime()->Iterations(3000);

} // namespace

BENCHMARK_MAIN();
