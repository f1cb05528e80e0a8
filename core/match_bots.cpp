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
// network delivers them between machines; the others go on to the record's own network sink
// (the local player's, or a hosted computer player's, which sends from its session id).
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
    // The sink of the record in `owner`; `network` (null: nothing leaves) takes what leaves the
    // machine.
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
        if (network_ != nullptr) network_->SendHit(target, power, point);
    }
    void SendState(const player::player& p) override {
        if (network_ != nullptr) network_->SendState(p);
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
        if (network_ != nullptr) network_->SendKilled(killer, power);
    }

private:
    int32_t owner_ = -1;
    player::MessageSink* network_ = nullptr;
};

// The autopilot (TARNHOLD_AUTOPILOT): a brain at the local player's controls that, as the person
// it stands for, stands still while the chat box is open.
class Autopilot final : public player::Pilot {
public:
    explicit Autopilot(bots::Brain& brain) : brain_(brain) {}
    void Decide(const player::player& p, player::Controls& controls) override {
        if (ChatOpen) {
            controls = player::Controls{};
            return;
        }
        brain_.Decide(p, controls);
    }

private:
    bots::Brain& brain_;
};
std::unique_ptr<Autopilot> autopilot;

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

bool HostedHere(int32_t id) {
    return id != 0 &&
           std::find(SessionBotIds.begin(), SessionBotIds.end(), id) != SessionBotIds.end();
}

// The brain of the record in `slot`, which becomes its pilot.
void GiveBrain(int slot, bots::Difficulty level, const bots::Roster& roster) {
    const player::World& world = MatchWorld();
    brains[size_t(slot)] = std::make_unique<bots::Brain>(world, roster, level,
                                                         world.services->RandomSeed(), &navigation);
    Players[size_t(slot)]->pilote = brains[size_t(slot)].get();
    respawns[size_t(slot)] = 0;
    wasDead[size_t(slot)] = false;
}

void LogComputerPlayer(int slot, bots::Difficulty level) {
    const player::player& p = *Players[size_t(slot)];
    sys::Log("computer player " + p.nom + " in slot " + std::to_string(slot) + ", team " +
             std::to_string(p.IdModele) + ", level " + std::string(bots::RowOf(level).name) +
             (p.id != 0 ? ", session id " + std::to_string(p.id) : std::string()));
}

} // namespace

// =============================================================================================
// 2. CreateBots
// =============================================================================================

void CreateBots() {
    if (LocalIndex < 0 || !Players[size_t(LocalIndex)]) return;
    const player::World& world = MatchWorld();
    const bots::Difficulty level = bots::Difficulty(std::clamp(MatchBotLevel, 0, 2));
    const bots::Roster roster(Players.data(), Players.size());
    MatchNetwork* network = GetMatchNetwork();
    // Without a network the computer players join beside the participants; in a session they
    // are participants already, the host's (SessionBotIds).
    const int offline = network == nullptr ? std::max(MatchBots, 0) : 0;
    bool hosted = false;
    for (int slot = 0; slot < kPlayerSlots; ++slot)
        hosted = hosted || (slot != LocalIndex && Players[size_t(slot)] &&
                            HostedHere(Players[size_t(slot)]->id));
    if (offline == 0 && !hosted && AutopilotLevel < 0) return;
    navigation = bots::LoadOrBuildNavGraph(world, UserDataDirectory() / "nav");
    // The local player's messages go through a sink of its own; its body can be hit here now.
    player::player& me = *Players[size_t(LocalIndex)];
    sinks[size_t(LocalIndex)].Connect(LocalIndex, network ? &network->Messages() : nullptr);
    me.messages = &sinks[size_t(LocalIndex)];
    me.joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    if (AutopilotLevel >= 0) {
        // A brain at the controls, with the weapons of its level, aiming through the player's
        // own eyes.
        const bots::Difficulty own = bots::Difficulty(std::clamp(AutopilotLevel, 0, 2));
        me.puissance = bots::RowOf(own).weaponPower;
        // The person's own first-person view, as the view key gives it: the camera at the eyes
        // and the sight drawn (setting the flag alone left the screen on the chase camera,
        // which no longer follows the body in that view).
        me.VuePremierePersonne();
        GiveBrain(LocalIndex, own, roster);
        autopilot = std::make_unique<Autopilot>(*brains[size_t(LocalIndex)]);
        me.pilote = autopilot.get();
        sys::Log("autopilot at the local player's controls, level " +
                 std::string(bots::RowOf(own).name));
    }
    // The session's computer players hosted here: their records were made as the others', and
    // are now simulated here.
    for (int slot = 0; slot < kPlayerSlots; ++slot) {
        player::player* p = Players[size_t(slot)].get();
        if (slot == LocalIndex || p == nullptr || !p->joueur || !HostedHere(p->id)) continue;
        p->vue = true;
        p->puissance = bots::RowOf(level).weaponPower;
        GiveBrain(slot, level, roster);
        sinks[size_t(slot)].Connect(slot, network->MessagesFrom(p->id));
        p->messages = &sinks[size_t(slot)];
        p->PlaceJoueur();
        p->joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
        LogComputerPlayer(slot, level);
    }
    int added = 0;
    for (int slot = 0; slot < 4 && added < offline; ++slot) {
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
        sinks[size_t(slot)].Connect(slot, nullptr);
        p->messages = &sinks[size_t(slot)];
        Players[size_t(slot)] = std::move(p);
        GiveBrain(slot, level, roster);
        Players[size_t(slot)]->Initplayer(world);
        Players[size_t(slot)]->joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
        LogComputerPlayer(slot, level);
    }
}

void ForgetComputerPlayer(int slot) {
    if (slot < 0 || slot >= kPlayerSlots || slot == LocalIndex) return;
    if (Players[size_t(slot)] && Players[size_t(slot)]->pilote == brains[size_t(slot)].get())
        Players[size_t(slot)]->pilote = nullptr;
    brains[size_t(slot)].reset();
    sinks[size_t(slot)].Connect(-1, nullptr);
    respawns[size_t(slot)] = 0;
    wasDead[size_t(slot)] = false;
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
    // The kills and deaths of every record simulated here that has a session id, and what
    // crossed the network.
    for (const auto& p : Players) {
        if (!p || p->id == 0 || !p->joueur || !p->Local()) continue;
        std::snprintf(text, sizeof text, " player%d=%d,%d", int(p->id), int(p->tueur), int(p->tue));
        line += text;
    }
    if (const MatchNetwork* network = GetMatchNetwork()) line += network->StateReport();
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

bool ParseBotLevel(std::string_view text, int32_t& level) {
    const std::optional<bots::Difficulty> chosen = bots::DifficultyByName(text);
    if (!chosen) return false;
    level = int32_t(*chosen);
    return true;
}

std::string_view BotLevelName(int32_t level) {
    return bots::RowOf(bots::Difficulty(std::clamp(level, 0, 2))).name;
}

void ReleaseBots() {
    autopilot.reset();
    for (auto& b : brains)
        b.reset();
    for (auto& s : sinks)
        s.Connect(-1, nullptr);
    respawns.fill(0);
    wasDead.fill(false);
    navigation = bots::NavGraph{};
}

} // namespace core
