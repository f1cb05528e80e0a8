// core/match_bots.cpp — computer players in a match, and the messages between the records of
// this machine.
//
// Index
//   1. Messages between local records (LocalMessages)
//   2. CreateBots
//   3. The computer players' part of a pass
//   4. State report and release
//
// A computer player is a record of Players like any other, driven by its bots::Brain (the
// record's pilot) and simulated on this machine as the local player is. The messages of every
// record simulated here go through a LocalMessages sink of its own: a HIT or a KILLED for a
// record of this machine is delivered to it at once (Toucher, the kill count), exactly as the
// network delivers them between machines; the local player's other messages go on to the
// network.
#include "core/game.h"

#include "bots/bot.h"
#include "platform/scene/scene.h"
#include "platform/system/system.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace core {

namespace {

// =============================================================================================
// 1. Messages between local records
// =============================================================================================

player::player* Record(int32_t slot) {
    if (slot < 0 || slot >= kPlayerSlots) return nullptr;
    return Players[size_t(slot)].get();
}

class LocalMessages final : public player::MessageSink {
public:
    // The sink of the record in `owner`; `network` (may be null) takes what leaves the machine.
    void Connect(int32_t owner, player::MessageSink* network) {
        owner_ = owner;
        network_ = network;
    }
    void SendHit(int32_t target, int32_t power, const glm::vec3& point) override {
        player::player* victim = Record(target);
        if (victim != nullptr && victim->Local() && target != owner_) {
            victim->Toucher(power, owner_, point.x, point.y, point.z);
            return;
        }
        if (FromLocalPlayer()) network_->SendHit(target, power, point);
    }
    void SendState(const player::player& p) override {
        if (FromLocalPlayer()) network_->SendState(p);
    }
    void SendKilled(int32_t killer, int32_t power) override {
        player::player* winner = Record(killer);
        if (winner != nullptr && winner->Local() && killer != owner_) {
            winner->tueur += 1;
            if (killer == LocalIndex) UpdateWeaponPower();
            const player::player* victim = Record(owner_);
            ShowMessage(winner->nom + (power < 0 ? " head-shot " : " killed ") +
                            (victim != nullptr ? victim->nom : std::string("?")),
                        2);
            return;
        }
        if (FromLocalPlayer()) network_->SendKilled(killer, power);
    }

private:
    // Only the local player's messages leave the machine (computer players are this machine's).
    bool FromLocalPlayer() const { return owner_ == LocalIndex && network_ != nullptr; }

    int32_t owner_ = -1;
    player::MessageSink* network_ = nullptr;
};

// The computer players of this match and the sinks of every local record, by slot; set by
// CreateBots, dropped by ReleaseBots.
std::array<std::unique_ptr<bots::Brain>, kPlayerSlots> brains;
std::array<LocalMessages, kPlayerSlots> sinks;
std::array<int32_t, kPlayerSlots> respawns{}; // deaths a computer player came back from
bots::NavGraph navigation;                    // the map's graph, loaded once per match
std::array<bool, kPlayerSlots> wasDead{};

// "TS" (team 0) or "GS" and a skin of the installation: `wanted` when its picture exists,
// else `fallback`.
std::string BotSkin(int32_t team, int wanted, const std::string& fallback) {
    const std::string prefix = team == 0 ? "TS" : "GS";
    const std::string name = prefix + std::to_string(wanted) + ".bmp";
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::path(DataPath) / "models" / name, ec)) return name;
    return prefix + fallback + ".bmp";
}

// The team with fewer players among the records; ties go to the team other than the local
// player's, so that the local player has opponents first.
int32_t TeamWithFewer() {
    int count[2] = {0, 0};
    for (const auto& p : Players)
        if (p) ++count[p->IdModele == 0 ? 0 : 1];
    if (count[0] != count[1]) return count[0] < count[1] ? 0 : 1;
    return Team == 0 ? 1 : 0;
}

} // namespace

// =============================================================================================
// 2. CreateBots
// =============================================================================================

void CreateBots() {
    if (MatchBots <= 0 || LocalIndex < 0 || !Players[size_t(LocalIndex)]) return;
    const player::World& world = MatchWorld();
    const bots::Difficulty level = bots::Difficulty(std::clamp(MatchBotLevel, 0, 2));
    const bots::Roster roster(Players.data(), Players.size());
    navigation = bots::LoadOrBuildNavGraph(world, UserDataDirectory() / "nav");
    player::MessageSink* network = GetMatchNetwork() ? &GetMatchNetwork()->Messages() : nullptr;
    // The local player's messages go through a sink of its own; its body can be hit here now.
    player::player& me = *Players[size_t(LocalIndex)];
    sinks[size_t(LocalIndex)].Connect(LocalIndex, network);
    me.messages = &sinks[size_t(LocalIndex)];
    me.joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    int added = 0;
    for (int slot = 0; slot < 4 && added < MatchBots; ++slot) {
        if (Players[size_t(slot)]) continue;
        ++added;
        auto p = std::make_unique<player::player>();
        p->MDLid = 0;
        p->IdArme = 0;
        p->indice = slot;
        p->id = 0;
        p->nom = "Bot " + std::to_string(added);
        p->IdModele = TeamWithFewer();
        p->texture = BotSkin(p->IdModele, 1 + added % 3, Skin);
        p->vue = true; // aims through its own eyes; draws no sight
        p->puissance = bots::RowOf(level).weaponPower;
        brains[size_t(slot)] = std::make_unique<bots::Brain>(
            world, roster, level, world.services->RandomSeed(), &navigation);
        p->pilote = brains[size_t(slot)].get();
        sinks[size_t(slot)].Connect(slot, network);
        p->messages = &sinks[size_t(slot)];
        Players[size_t(slot)] = std::move(p);
        Players[size_t(slot)]->Initplayer(world);
        Players[size_t(slot)]->joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
        respawns[size_t(slot)] = 0;
        wasDead[size_t(slot)] = false;
        sys::Log("computer player " + Players[size_t(slot)]->nom + " in slot " +
                 std::to_string(slot) + ", team " +
                 std::to_string(Players[size_t(slot)]->IdModele) + ", level " +
                 std::string(bots::RowOf(level).name));
    }
}

int BotsInMatch() {
    return int(
        std::count_if(brains.begin(), brains.end(), [](const auto& b) { return b != nullptr; }));
}

// =============================================================================================
// 3. The computer players' part of a pass
// =============================================================================================

void PrepareBotSteps() {
    for (size_t i = 0; i < brains.size(); ++i)
        if (brains[i] && Players[i]) Players[i]->TOUCHE_OK = true;
}

void FinishBotSteps(double ratio) {
    bool any = false;
    for (size_t i = 0; i < brains.size(); ++i) {
        player::player* p = Players[i].get();
        if (!brains[i] || p == nullptr) continue;
        any = true;
        p->ratio = ratio;
        if (wasDead[i] && !p->mort) ++respawns[i];
        wasDead[i] = p->mort;
    }
    // Every record walked the corridor sections to its own place; the view is the local one's.
    if (any && MapName == "couloirs" && LocalIndex >= 0 && Players[size_t(LocalIndex)]) {
        player::player& me = *Players[size_t(LocalIndex)];
        if (me.joueur) me.AfficheSecteur(*me.joueur);
    }
}

// =============================================================================================
// 4. State report and release
// =============================================================================================

std::string BotsState() {
    std::string line;
    char text[200];
    std::snprintf(text, sizeof text, " time=%.2f", MatchSeconds);
    line += text;
    if (BotsInMatch() == 0) return line;
    if (FloorFrame && WallFrame) {
        scene::Box box = FloorFrame->GetBox();
        box.ExtendBox(WallFrame->GetBox());
        std::snprintf(text, sizeof text, " map=%.1f,%.1f,%.1f,%.1f,%.1f,%.1f", box.min.x, box.min.y,
                      box.min.z, box.max.x, box.max.y, box.max.z);
        line += text;
    }
    scene::PickResults below;
    const bool sections = MapName == "couloirs";
    for (size_t i = 0; i < brains.size(); ++i) {
        player::player* p = Players[i].get();
        if (!brains[i] || p == nullptr || !p->joueur) continue;
        if (sections) p->AfficheSecteur(*p->joueur); // the floor of its own section
        const glm::vec3 at = p->joueur->GetPosition(SceneFrame.get());
        float floor = -1.0f;
        if (FloorFrame && scene::Pick(*FloorFrame, at, {0.0f, -1.0f, 0.0f}, below) > 0)
            floor = below[0].distance;
        // bot<slot>=x,y,z,mode,alive,deaths,kills,respawns,floor distance,reroutes
        std::snprintf(text, sizeof text, " bot%zu=%.2f,%.2f,%.2f,%s,%d,%d,%d,%d,%.2f,%d", i, at.x,
                      at.y, at.z, std::string(bots::ModeName(brains[i]->CurrentMode())).c_str(),
                      p->mort ? 0 : 1, int(p->tue), int(p->tueur), int(respawns[i]), floor,
                      int(brains[i]->Reroutes()));
        line += text;
    }
    if (sections && LocalIndex >= 0 && Players[size_t(LocalIndex)]) {
        player::player& me = *Players[size_t(LocalIndex)];
        if (me.joueur) me.AfficheSecteur(*me.joueur);
    }
    return line;
}

bool ParseBots(std::string_view text, int32_t& count, int32_t& level) {
    const size_t colon = text.find(':');
    const std::string_view n = text.substr(0, colon);
    std::optional<bots::Difficulty> chosen = bots::Difficulty::Normal;
    if (colon != std::string_view::npos) chosen = bots::DifficultyByName(text.substr(colon + 1));
    if (n.size() != 1 || n[0] < '0' || n[0] > '3' || !chosen) return false;
    count = n[0] - '0';
    level = int32_t(*chosen);
    return true;
}

std::string_view BotLevelName(int32_t level) {
    return bots::RowOf(bots::Difficulty(std::clamp(level, 0, 2))).name;
}

void ReleaseBots() {
    for (auto& b : brains)
        b.reset();
    for (auto& s : sinks)
        s.Connect(-1, nullptr);
    respawns.fill(0);
    wasDead.fill(false);
    navigation = bots::NavGraph{};
}

} // namespace core
