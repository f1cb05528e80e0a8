// net/receive.cpp — ReceiveMessages and what every message does to the game.
//
// Index
//   1. The drain loop
//   2. Dispatch
//   3. Application messages: START, STATE, CHAT, HOST, HIT, KILLED
//   4. System events: PLAYER_CREATED, PLAYER_DESTROYED, BECAME_HOST
//   5. The game core's network (MatchLink)
//
// Every handler reads the whole body before it changes anything, so a truncated or bad message
// is dropped without leaving half of it applied.
#include "net/net.h"
#include "net/net_local.h"

#include "core/game.h"
#include "core/game_state.h"
#include "platform/system/system.h"
#include "platform/window/window.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>

namespace net {

std::optional<int> MatchStatus;

namespace {

session::Message received; // reused by every receive

using above::RefreshRoom;
using above::RoomShown;

// The record in `slot` when it exists.
player::player* Slot(int slot) {
    return core::Players[size_t(slot)].get();
}

// The first slot 0..PlayerCount-1 whose record has session id `id`; -1 when none.
int FindSlot(int32_t id) {
    for (int j = 0; j < int(core::PlayerCount) && j < core::kPlayerSlots; ++j)
        if (Slot(j) != nullptr && Slot(j)->id == id) return j;
    return -1;
}

// The local record; BadMessage outside a match.
player::player& Local() {
    if (core::LocalIndex < 0 || core::LocalIndex >= core::kPlayerSlots ||
        Slot(core::LocalIndex) == nullptr)
        throw BadMessage("no local player");
    return *Slot(core::LocalIndex);
}

// The record a HIT or KILLED addressed to `to` is for: a record this machine simulates with
// that id (a computer player it hosts), else the local player (the address is the local
// player's, or older peers' 0). BadMessage for a record of another machine.
player::player& Addressee(uint32_t to) {
    if (to == 0 || int32_t(to) == core::MyPlayerId) return Local();
    const int slot = FindSlot(int32_t(to));
    if (slot < 0 || !Slot(slot)->joueur || !Slot(slot)->Local())
        throw BadMessage("addressed to a player of another machine");
    return *Slot(slot);
}

std::string FriendlyName(uint32_t id) {
    std::string name;
    if (DPlay && id != 0) DPlay->GetFriendlyName(id, name);
    return name;
}

// =============================================================================================
// 3. Application messages
// =============================================================================================

void OnStart(session::Message& m) {
    const uint8_t n = m.ReadByte();
    if (n > core::kPlayerSlots) throw BadMessage("START: more players than slots");
    std::array<int32_t, core::kPlayerSlots> ids{};
    for (int i = 0; i < n; ++i)
        ids[size_t(i)] = m.ReadLong();
    const int32_t host = m.ReadLong();
    std::string sessionName = m.ReadString();
    std::string mapName = m.ReadString();
    // Every machine of a running match answers a late joiner with its own START: the first one
    // starts the match, the others only say who they are.
    if (core::InGame) return;
    above::StopRoomTimer();
    core::PlayerCount = n;
    core::PlayerIds = ids;
    for (size_t i = 0; i < size_t(core::kPlayerSlots); ++i) {
        core::PlayerNames[i].clear();
        core::PlayerFormalNames[i].clear();
        if (i < n && DPlay) {
            DPlay->GetFriendlyName(uint32_t(ids[i]), core::PlayerNames[i]);
            DPlay->GetFormalName(uint32_t(ids[i]), core::PlayerFormalNames[i]);
        }
    }
    HostPlayerId = host;
    SessionName = std::move(sessionName);
    core::MapName = std::move(mapName);
    above::HideRoom();
    core::InGame = true;
    above::RunMatch();
}

struct State {
    std::array<double, 7> place{}; // position x, y, z, facing x, y, z, pivot
    int32_t colonne = 0, anipos = 0, aniBuste = 0, arme = 0;
    int32_t fps = 0, fps2 = 0, visibility = 0, idson = 0, idson2 = 0, idson3 = 0;
    std::array<double, 3> blood{};
    int32_t bloodValue = 0;
    std::optional<StateStamp> stamp; // none from a peer that does not stamp its states
};

State ReadState(session::Message& m) {
    State s;
    for (double& v : s.place)
        v = m.ReadDouble();
    for (int32_t* v : {&s.colonne, &s.anipos, &s.aniBuste, &s.arme, &s.fps, &s.fps2, &s.visibility,
                       &s.idson, &s.idson2, &s.idson3})
        *v = m.ReadLong();
    for (double& v : s.blood)
        v = m.ReadDouble();
    s.bloodValue = m.ReadLong();
    if (m.Remaining() >= 8) {
        StateStamp stamp;
        stamp.frame = m.ReadLong();
        stamp.sentMs = m.ReadLong();
        s.stamp = stamp;
    }
    return s;
}

void ApplyState(player::player& p, const State& s) {
    // 1. The first state shows the avatar and announces it.
    if (p.joueur->GetTraversalOptions() == scene::kFlagNone) {
        core::ShowMessage(ArrivalText(p.IdModele, p.nom), 0);
        p.joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    }
    // 2.
    p.gPlayerpositionx = s.place[0];
    p.gPlayerpositiony = s.place[1];
    p.gPlayerpositionz = s.place[2];
    p.gPlayerori1x = s.place[3];
    p.gPlayerori1y = s.place[4];
    p.gPlayerori1z = s.place[5];
    p.pivot = s.place[6];
    p.colonne = s.colonne;
    p.Anipos = s.anipos;
    p.AniBuste = s.aniBuste;
    p.gPlayerArme = s.arme;
    p.fps = s.fps;
    p.fps2 = s.fps2;
    // The body is drawn between the states received (AvanceDistant).
    player::RemotePlacement placement;
    placement.position = {s.place[0], s.place[1], s.place[2]};
    placement.facing = {s.place[3], s.place[4], s.place[5]};
    placement.pivot = s.place[6];
    p.trajet.Receive(placement, s.stamp ? std::optional<int32_t>(s.stamp->sentMs) : std::nullopt,
                     s.visibility == scene::kFlagRendered, player::NowMs());
    // 3. Dead bodies are seen but not hit; other values are not traversal options we use.
    if (s.visibility == scene::kFlagRendered || s.visibility == scene::kFlagRenderedAndPickable)
        p.joueur->SetTraversalOptions(uint32_t(s.visibility));
    // 4.
    p.idson = s.idson;
    p.idson2 = s.idson2;
    p.idson3 = s.idson3;
    // 5. The blood splash, relative to the scene's root frame.
    if (p.Frmsang) {
        const glm::vec3 at{float(s.blood[0]), float(s.blood[1]), float(s.blood[2])};
        if (std::isfinite(at.x) && std::isfinite(at.y) && std::isfinite(at.z))
            p.Frmsang->SetPosition(core::RootFrame.get(), at);
        p.Frmsang->SetAppData(uint32_t(s.bloodValue));
    }
}

// The trace's view of each remote slot (Tracing): STATE received this second, the newest frame
// number received, and where its body was drawn when last looked at.
struct TracedSlot {
    int32_t id = 0;
    int32_t received = 0;
    int32_t newestFrame = 0;
    glm::vec3 drawn{0.0f};
    double movedMs = -1e9;
};
std::array<TracedSlot, core::kPlayerSlots> traced;
double traceSecondMs = 0;

void OnState(uint32_t from, session::Message& m) {
    const State s = ReadState(m);
    for (int j = 0; j < int(core::PlayerCount) && j < core::kPlayerSlots; ++j) {
        player::player* p = Slot(j);
        // A record simulated here never takes another machine's state.
        if (p != nullptr && p->id == int32_t(from) && p->joueur && !p->Local()) {
            ApplyState(*p, s);
            TracedSlot& t = traced[size_t(j)];
            t.received += 1;
            if (s.stamp) t.newestFrame = s.stamp->frame;
        }
    }
}

// " hits=<sent>,<received> killed=<sent>,<received>".
std::string CountedText() {
    return " hits=" + std::to_string(Counted.hitsSent) + "," +
           std::to_string(Counted.hitsReceived) + " killed=" + std::to_string(Counted.killedSent) +
           "," + std::to_string(Counted.killedReceived);
}

// Once a pass, right after its picture is presented.
void TracePass() {
    const double now = player::NowMs();
    const bool second = now - traceSecondMs >= 1000.0;
    for (int j = 0; j < core::kPlayerSlots; ++j) {
        player::player* p = Slot(j);
        TracedSlot& t = traced[size_t(j)];
        if (p == nullptr || !p->joueur || p->Local()) {
            t = TracedSlot{};
            continue;
        }
        if (t.id != p->id) t = TracedSlot{p->id};
        if (second && t.received > 0)
            sys::Log("net trace: received " + std::to_string(t.received) + " STATE from " +
                     std::to_string(t.id) + " in the last second");
        if (second) t.received = 0;
        glm::vec3 drawn = p->joueur->GetPosition(core::SceneFrame.get());
        drawn.y = 0.0f;
        if (glm::distance(drawn, t.drawn) < float(kTraceMoveDistance)) continue;
        t.drawn = drawn;
        if (now - t.movedMs >= kTraceStillMs)
            sys::Log("net trace: body of " + std::to_string(t.id) +
                     " moved at_us=" + std::to_string(MonotonicMicros()) +
                     " after frame=" + std::to_string(t.newestFrame));
        t.movedMs = now;
    }
    if (!second) return;
    traceSecondMs = now;
    // What crossed the network so far, and the kills and deaths of the records simulated here.
    std::string tally = "net trace: tally" + CountedText();
    for (const auto& p : core::Players)
        if (p && p->id != 0 && p->joueur && p->Local())
            tally += " player" + std::to_string(p->id) + "=" + std::to_string(p->tueur) + "," +
                     std::to_string(p->tue);
    sys::Log(tally);
}

void OnChat(uint32_t from, session::Message& m) {
    const std::string text = m.ReadString();
    if (RoomShown()) {
        above::AppendRoomChat(ChatHistoryEntry(TimeOfDay(), FriendlyName(from), text));
        return;
    }
    ShowSaid(from, text);
}

void OnHit(uint32_t from, uint32_t to, session::Message& m) {
    const int shooter = FindSlot(int32_t(from));
    if (shooter < 0) return;
    const double x = m.ReadDouble();
    const double y = m.ReadDouble();
    const double z = m.ReadDouble();
    const int32_t power = m.ReadLong();
    player::player& victim = Addressee(to);
    ++Counted.hitsReceived;
    victim.Toucher(power, shooter, float(x), float(y), float(z));
}

void OnKilled(uint32_t to) {
    player::player& winner = Addressee(to);
    ++Counted.killedReceived;
    winner.tueur += 1;
    if (winner.Humain()) core::UpdateWeaponPower();
}

// =============================================================================================
// 4. System events
// =============================================================================================

// "TS" (team 0) or "GS", the skin suffix from the formal name's second character, ".bmp".
void SetIdentityFromFormalName(player::player& p, const std::string& formal) {
    p.IdModele = formal.empty() ? 0 : core::ToLong(formal.substr(0, 1));
    p.texture = std::string(p.IdModele == 0 ? "TS" : "GS") +
                (formal.size() > 1 ? formal.substr(1) : std::string()) + ".bmp";
}

void OnPlayerCreated(session::Message& m) {
    // 1. Before the match only the waiting room's list changes.
    if (RoomShown() || !core::InGame) {
        RefreshRoom();
        return;
    }
    // 2. A late joiner takes the lowest slot 0..3 without an avatar.
    m.ReadLong(); // player type
    const int32_t id = m.ReadLong();
    const player::World* world = above::LateJoinWorld();
    if (id == 0 || id == core::MyPlayerId || world == nullptr) return;
    for (int j = 0; j < core::kPlayerSlots; ++j)
        if (Slot(j) != nullptr && Slot(j)->joueur && Slot(j)->id == id) return; // already in
    int slot = -1;
    for (int j = 0; j < 4 && slot < 0; ++j)
        if (Slot(j) == nullptr || !Slot(j)->joueur) slot = j;
    if (slot < 0) return;
    // 3-5. A fresh record, shown by its first STATE.
    auto p = std::make_unique<player::player>();
    p->indice = slot;
    p->id = id;
    p->nom = FriendlyName(uint32_t(id));
    std::string formal;
    if (DPlay) DPlay->GetFormalName(uint32_t(id), formal);
    SetIdentityFromFormalName(*p, formal);
    if (Slot(slot) != nullptr) Slot(slot)->Destroy();
    core::Players[size_t(slot)] = std::move(p);
    core::Players[size_t(slot)]->Initplayer(*world);
    // 6.
    SendStartTo(id);
}

void OnPlayerDestroyed(session::Message& m) {
    if (RoomShown()) RefreshRoom();
    m.ReadLong(); // player type
    const int32_t id = m.ReadLong();
    // A computer player this machine hosted is gone from the session (its place was taken).
    std::erase(core::SessionBotIds, id);
    if (!core::InGame) return;
    const int slot = FindSlot(id);
    // The local record is never destroyed under the running match.
    if (slot < 0 || slot == core::LocalIndex || !Slot(slot)->joueur) return;
    core::ShowMessage(LeaveText(Slot(slot)->nom), -1);
    core::ForgetComputerPlayer(slot);
    Slot(slot)->Destroy();
}

void OnBecameHost() {
    IsHost = true;
    HostPlayerId = core::MyPlayerId;
    SendHostId();
    if (!WebServerName.empty()) above::Publish("");
    if (!RoomShown()) {
        core::ShowMessage(kTextNowHost, 0);
        return;
    }
    window::MsgBox(kTextNowHost, core::ProgramName);
    RefreshRoom();
}

} // namespace

void ShowSaid(uint32_t from, std::string_view text) {
    core::ShowMessage(FriendlyName(from) + " says: " + std::string(text), 1);
}

std::string ArrivalText(int32_t team, std::string_view name) {
    return std::string("The ") + (team == 0 ? "TERRORIST " : "GIGN ") + std::string(name) +
           " come in Game.";
}

std::string LeaveText(std::string_view name) {
    return std::string(name) + " leave the game.";
}

std::string ChatHistoryEntry(std::string_view timeOfDay, std::string_view writer,
                             std::string_view text) {
    return "\r\n\r\n" + std::string(timeOfDay) + " " + std::string(writer) + " write: \r\n" +
           std::string(text);
}

std::string TimeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// =============================================================================================
// 1-2. The drain loop and dispatch
// =============================================================================================

void HandleMessage(uint32_t from, uint32_t to, session::Message& body) {
    const int32_t c = body.ReadLong();
    if (from == 0) {
        switch (c) {
        case code::PLAYER_CREATED:
            OnPlayerCreated(body);
            break;
        case code::PLAYER_DESTROYED:
            OnPlayerDestroyed(body);
            break;
        case code::BECAME_HOST:
            OnBecameHost();
            break;
        default:
            break;
        }
        return;
    }
    switch (c) {
    case code::START:
        OnStart(body);
        break;
    case code::STATE:
        OnState(from, body);
        break;
    case code::CHAT:
        OnChat(from, body);
        break;
    case code::HOST:
        HostPlayerId = body.ReadLong();
        break;
    case code::HIT:
        OnHit(from, to, body);
        break;
    case code::KILLED:
        OnKilled(to);
        break;
    default:
        break;
    }
}

void ReceiveMessages() {
    if (!DPlay) return;
    const uint32_t n = DPlay->WaitingCount();
    for (uint32_t i = 0; i < n; ++i) {
        // A START plays the whole match inside this loop; the session may be gone afterwards.
        if (!DPlay || MatchStatus) return;
        uint32_t from = 0, to = 0;
        if (!DPlay->Receive(from, to, received)) return;
        try {
            HandleMessage(from, to, received);
        } catch (const session::MessageReadError&) {
            // A truncated body: this message only is dropped.
        } catch (const BadMessage&) {
        }
    }
}

// =============================================================================================
// 5. The game core's network
// =============================================================================================

int32_t MatchFrame = 0;

void MatchLink::ReceiveMessages() {
    ++MatchFrame;
    net::ReceiveMessages();
}

void MatchLink::FrameShown() {
    if (Tracing()) TracePass();
}

player::MessageSink& MatchLink::Messages() {
    Sink.BeginMatch();
    Counted = Tally{};
    return Sink;
}

player::MessageSink* MatchLink::MessagesFrom(int32_t id) {
    if (id == 0 || std::find(core::SessionBotIds.begin(), core::SessionBotIds.end(), id) ==
                       core::SessionBotIds.end())
        return nullptr;
    auto sink = std::find_if(hosted_.begin(), hosted_.end(),
                             [id](const auto& s) { return s->From() == id; });
    if (sink == hosted_.end()) sink = hosted_.insert(hosted_.end(), std::make_unique<GameSink>(id));
    (*sink)->BeginMatch();
    return sink->get();
}

std::string MatchLink::StateReport() const {
    return CountedText();
}

} // namespace net
