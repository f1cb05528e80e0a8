// net/messages.cpp — the wire layouts and every send: START, STATE, CHAT, HOST, HIT, KILLED.
#include "net/net.h"
#include "net/net_local.h"

#include "core/game.h"
#include "core/game_state.h"

#include "platform/system/system.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace net {

// =============================================================================================
// 4. Wire format
// =============================================================================================

int32_t RoundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    constexpr double lo = std::numeric_limits<int32_t>::min();
    constexpr double hi = std::numeric_limits<int32_t>::max();
    // nearbyint rounds in the default mode, to nearest with ties to even.
    return int32_t(std::clamp(std::nearbyint(value), lo, hi));
}

void WriteStart(session::Message& m, std::span<const int32_t> ids, int32_t hostId,
                std::string_view sessionName, std::string_view mapName) {
    m.Clear();
    m.WriteLong(code::START);
    m.WriteByte(uint8_t(ids.size()));
    for (const int32_t id : ids)
        m.WriteLong(id);
    m.WriteLong(hostId);
    m.WriteString(sessionName);
    m.WriteString(mapName);
}

void WriteState(session::Message& m, const player::player& p, const scene::Frame* root,
                const StateStamp& stamp, const scene::Frame* sceneFrame) {
    glm::dvec3 at{p.gPlayerpositionx, p.gPlayerpositiony, p.gPlayerpositionz};
    glm::dvec3 facing{p.gPlayerori1x, p.gPlayerori1y, p.gPlayerori1z};
    if (sceneFrame != nullptr && p.joueur) {
        glm::vec3 dir, up;
        p.joueur->GetOrientation(sceneFrame, dir, up);
        at = glm::dvec3(p.joueur->GetPosition(sceneFrame));
        facing = glm::dvec3(dir);
    }
    m.Clear();
    m.WriteLong(code::STATE);
    m.WriteDouble(at.x);
    m.WriteDouble(at.y);
    m.WriteDouble(at.z);
    m.WriteDouble(facing.x);
    m.WriteDouble(facing.y);
    m.WriteDouble(facing.z);
    m.WriteDouble(p.pivot);
    m.WriteLong(p.colonne);
    m.WriteLong(p.Anipos);
    m.WriteLong(p.AniBuste);
    m.WriteLong(p.IdArme);
    m.WriteLong(RoundHalfEven(p.fps));
    m.WriteLong(RoundHalfEven(p.fps2));
    m.WriteLong(p.mort ? scene::kFlagRendered : scene::kFlagRenderedAndPickable);
    m.WriteLong(p.idson);
    m.WriteLong(p.idson2);
    m.WriteLong(p.idson3);
    const glm::vec3 blood = p.Frmsang ? p.Frmsang->GetPosition(root) : glm::vec3(0.0f);
    m.WriteDouble(blood.x);
    m.WriteDouble(blood.y);
    m.WriteDouble(blood.z);
    m.WriteLong(p.Frmsang ? int32_t(p.Frmsang->GetAppData()) : 0);
    m.WriteLong(stamp.frame);
    m.WriteLong(stamp.sentMs);
}

void WriteChat(session::Message& m, std::string_view text) {
    m.Clear();
    m.WriteLong(code::CHAT);
    m.WriteString(text);
}

void WriteHost(session::Message& m, int32_t hostId) {
    m.Clear();
    m.WriteLong(code::HOST);
    m.WriteLong(hostId);
}

void WriteHit(session::Message& m, const glm::vec3& point, int32_t power) {
    m.Clear();
    m.WriteLong(code::HIT);
    m.WriteDouble(point.x);
    m.WriteDouble(point.y);
    m.WriteDouble(point.z);
    m.WriteLong(power);
}

void WriteKilled(session::Message& m) {
    m.Clear();
    m.WriteLong(code::KILLED);
}

std::string Taunt(std::string_view killerName, int32_t power) {
    const std::string name(killerName);
    if (power < 0) return "This FUCKING " + name + " SNIPPE ME in the HEAD !!!";
    return "This FUCKING " + name + " kill ME !!!";
}

// =============================================================================================
// 5. Sending
// =============================================================================================

namespace {

void SendFrom(int32_t from, int32_t to, bool guaranteed, const session::Message& m) {
    if (DPlay) DPlay->Send(uint32_t(from), uint32_t(to), guaranteed, m);
}

void Send(int32_t to, bool guaranteed, const session::Message& m) {
    SendFrom(core::MyPlayerId, to, guaranteed, m);
}

void Chat(int32_t from, std::string_view text) {
    session::Message m;
    WriteChat(m, text);
    SendFrom(from, 0, false, m);
}

// The session id of the record in `slot`; 0 when the slot is outside 0..4 or empty.
int32_t SlotId(int32_t slot) {
    if (slot < 0 || slot >= core::kPlayerSlots || !core::Players[size_t(slot)]) return 0;
    return core::Players[size_t(slot)]->id;
}

std::vector<int32_t> SessionIds(const std::vector<SessionPlayer>& players) {
    std::vector<int32_t> ids;
    for (const SessionPlayer& p : players)
        ids.push_back(p.id);
    return ids;
}

} // namespace

void SendStartTo(int32_t id) {
    session::Message m;
    WriteStart(m, SessionIds(EnumPlayers()), core::MyPlayerId, SessionName, core::MapName);
    Send(id, true, m);
}

int SendStartToAll() {
    above::StopRoomTimer();
    std::vector<SessionPlayer> players = EnumPlayers();
    // A session holds at most four players; the slots beyond them stay empty.
    if (players.size() > size_t(kMaxPlayers)) players.resize(size_t(kMaxPlayers));
    core::PlayerCount = uint8_t(players.size());
    core::PlayerIds.fill(0);
    for (size_t i = 0; i < players.size(); ++i) {
        core::PlayerIds[i] = players[i].id;
        core::PlayerNames[i] = players[i].friendlyName;
        core::PlayerFormalNames[i] = players[i].formalName;
    }
    session::Message m;
    WriteStart(m, SessionIds(players), core::MyPlayerId, SessionName, core::MapName);
    Send(0, true, m);
    above::HideRoom();
    return above::RunMatch();
}

void SendHostId() {
    session::Message m;
    WriteHost(m, HostPlayerId);
    Send(0, true, m);
}

void SendChat(std::string_view text) {
    Chat(core::MyPlayerId, text);
}

GameSink Sink;
Tally Counted;

int32_t GameSink::Sender() const {
    return from_ != 0 ? from_ : core::MyPlayerId;
}

void GameSink::SendHit(int32_t target, int32_t power, const glm::vec3& point) {
    const int32_t to = SlotId(target);
    if (to == 0) return;
    WriteHit(event_, point, power);
    SendFrom(Sender(), to, true, event_); // a lost HIT would be a shot that never hurt
    ++Counted.hitsSent;
}

bool Tracing() {
    static const bool on = [] {
        const char* value = std::getenv("TARNHOLD_NET_TRACE");
        return value != nullptr && *value != '\0';
    }();
    return on;
}

long long MonotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GameSink::BeginMatch() {
    MatchFrame = 0;
    nextStateMs_ = 0;
    sentDead_ = false;
    secondStartMs_ = player::NowMs();
    secondStates_ = 0;
    secondFrame_ = 0;
    traffic_ = DPlay ? DPlay->TrafficSoFar() : session::Service::Traffic{};
    movedMs_ = -1e9;
}

void GameSink::TraceSecond(double nowMs) {
    if (nowMs - secondStartMs_ < 1000.0) return;
    const session::Service::Traffic traffic = DPlay ? DPlay->TrafficSoFar() : traffic_;
    sys::Log("net trace: sent " + std::to_string(secondStates_) + " STATE and drew " +
             std::to_string(MatchFrame - secondFrame_) +
             " frames in the last second; the session sent " +
             std::to_string(traffic.sentBytes - traffic_.sentBytes) + " bytes and received " +
             std::to_string(traffic.receivedBytes - traffic_.receivedBytes) + " bytes");
    traffic_ = traffic;
    secondStartMs_ = nowMs;
    secondStates_ = 0;
    secondFrame_ = MatchFrame;
}

void GameSink::TraceMove(const player::player& p, double nowMs) {
    const glm::dvec3 at{p.gPlayerpositionx, 0.0, p.gPlayerpositionz};
    if (glm::distance(at, lastPosition_) < kTraceMoveDistance) return;
    lastPosition_ = at;
    if (nowMs - movedMs_ >= kTraceStillMs)
        sys::Log("net trace: moved frame=" + std::to_string(MatchFrame) +
                 " at_us=" + std::to_string(MonotonicMicros()));
    movedMs_ = nowMs;
}

void GameSink::SendState(const player::player& p) {
    const double now = player::NowMs();
    if (Tracing() && from_ == 0) {
        TraceSecond(now);
        TraceMove(p, now);
    }
    // An event goes out at once; otherwise only when the rate says so.
    const bool event = p.idson2 != 0 || p.idson3 != 0 || p.mort != sentDead_;
    if (!event && now < nextStateMs_) return;
    if (now >= nextStateMs_) {
        const double interval =
            1000.0 / double(std::clamp(core::StateRate, core::kStateRateMin, core::kStateRateMax));
        // On schedule, a frame that came late taking its slot; a sender more than one interval
        // behind (slow frames, a pause) counts again from now.
        nextStateMs_ += interval;
        if (nextStateMs_ < now - interval) nextStateMs_ = now + interval;
    }
    sentDead_ = p.mort;
    ++secondStates_;
    StateStamp stamp;
    stamp.frame = MatchFrame;
    stamp.sentMs = int32_t(uint32_t(uint64_t(player::NowMs())));
    // A computer player's record keeps no copy of its place in its fields (only the local
    // player's does): its body says where it is.
    WriteState(state_, p, core::RootFrame.get(), stamp,
               from_ != 0 ? core::SceneFrame.get() : nullptr);
    SendFrom(Sender(), 0, false, state_);
}

void GameSink::SendKilled(int32_t killer, int32_t power) {
    const int32_t to = SlotId(killer);
    if (to != 0) {
        WriteKilled(event_);
        SendFrom(Sender(), to, true,
                 event_); // a lost KILLED would be a kill the killer never counts
        ++Counted.killedSent;
    }
    const std::string taunt = Taunt(to != 0 ? core::Players[size_t(killer)]->nom : "", power);
    Chat(Sender(), taunt);
    // A broadcast never comes back to this machine: its own player sees a computer player's
    // taunt as the others do.
    if (from_ != 0) ShowSaid(uint32_t(from_), taunt);
}

} // namespace net
