// platform/session/service_local.h — the session service's shared state, for its own files.
//
// Service::Impl holds one session: its role, the ENet host, the roster and the queue of messages
// waiting for the game. Every field and method is guarded by Impl::mutex; the pump thread and
// the API calls take it in turn. The methods are defined by topic:
//   service_pump.cpp       roster lookups, sending, the local queue, the pump thread, set-up
//                          and teardown of the ENet host, the datagram intercept
//   service_host.cpp       host side: admission, joins, rejoins, players, relaying, departures
//   service_member.cpp     member side: roster updates, host loss, election, reconnecting
//   service_discovery.cpp  discovery: answering enumeration, and Service::EnumSessions
//   service.cpp            the public API
//
// Roles: Host (answers enumeration, assigns seqs and ids, relays), Client (connected to the host),
// Migrating (host lost, reconnecting to the elected one), Lost (session ended under us).
#pragma once

#include "platform/session/session.h"
#include "platform/session/wire.h"

#include <enet/enet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace session {

namespace detail {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint8_t kReliableChannel = 0;   // control datagrams and guaranteed messages, ordered
constexpr uint8_t kUnreliableChannel = 1; // other messages, unsequenced
constexpr size_t kChannelCount = 2;
constexpr size_t kEnetPeers = 32;
constexpr uint32_t kPingIntervalMs = 200;
// ENet's resend time-outs of a connected peer, in multiples of ServiceConfig's peer time-outs:
// only a backstop, as Silent() drops a peer that stopped talking. At a fifth of the datagrams
// lost each way, a guaranteed datagram and its acknowledgement both get through 64 times in
// 100; on a busy machine the resend time-out starts at a quarter of a second or more and
// doubles, so a few lost resends in a row already span several seconds.
constexpr uint32_t kConnectedTimeoutFactor = 20;
constexpr auto kRejoinGrace = milliseconds(4000);   // new host waits for old members
constexpr auto kRejoinTimeout = milliseconds(5000); // member waits for the new host
constexpr auto kDefaultEnumTimeout = milliseconds(750);
constexpr size_t kMaxQueued = 8192; // waiting messages; more are dropped
// Connections not admitted yet (handshakes under way, connected peers that have not joined,
// refused ones saying goodbye), from one address and in all. A new attempt beyond either limit
// pushes out the oldest, so a flood of handshakes that are never completed cannot hold every
// connection slot: a real joiner completes its handshake within one round trip.
constexpr size_t kMaxUnadmittedPerAddress = 4;
constexpr size_t kMaxUnadmitted = 8;
static_assert(kMaxPlayersLimit + kMaxUnadmitted + 2 <= kEnetPeers,
              "members, unadmitted connections and the link to the host fit the ENet host");
constexpr size_t kMaxOutbox = 1024; // guaranteed packets held for a reconnecting member
constexpr int kMaxEventsPerRound = 512;
// A game thread that took in the socket within this time is polling continually: the pump
// thread then only answers enumeration and keeps the time-outs, and leaves the socket to it.
constexpr auto kCallerPolling = std::chrono::microseconds(1000);

enum class Role { Closed, Host, Client, Migrating, Lost };

struct Member {
    wire::MemberInfo info;
    ENetPeer* peer = nullptr; // host side: the member's connection
    bool awaitingRejoin = false;
    Clock::time_point rejoinDeadline{};
    std::deque<std::vector<uint8_t>> outbox; // guaranteed packets held until it rejoins
};

// A connection that has not joined yet (host side), or a reconnecting member that reached this
// machine before it noticed the host was gone (kept until it becomes host or gives up).
struct PendingPeer {
    Clock::time_point since;
    std::optional<wire::Rejoin> rejoin;
};

struct Queued {
    uint32_t from = 0;
    uint32_t to = 0;
    std::vector<uint8_t> body;
};

// A random 64-bit number from the system's generator (session instances, nonces, seeds).
uint64_t RandomU64();

// `text` cut to at most kMaxNameBytes bytes, never inside a UTF-8 character.
std::string FitName(std::string_view text);

// Initialises ENet once per process; every path that creates an ENet socket calls it first.
void InitEnetOnce();

} // namespace detail

struct Service::Impl {
    using Clock = detail::Clock;
    using Role = detail::Role;
    using Member = detail::Member;
    using PendingPeer = detail::PendingPeer;
    using Queued = detail::Queued;

    ServiceConfig cfg;
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::thread pump;
    std::atomic<bool> stopPump{false};
    // When the game thread last took in the socket itself (ServiceNow), steady clock ticks. While
    // it does so continually, the pump thread leaves the socket to it (see PumpLoop).
    std::atomic<int64_t> callerServicedAt{0};

    bool initialized = false;
    ProviderKind provider = ProviderKind::Lan;
    Address target;

    Role role = Role::Closed;
    ENetHost* host = nullptr;
    ENetSocket discovery = ENET_SOCKET_NULL;
    ENetPeer* hostPeer = nullptr; // client/migrating: connection to the (candidate) host
    Clock::time_point migrateDeadline{};

    SessionDesc desc;
    wire::Secret mySecret{}; // client: presented when rejoining a new host
    uint32_t mySeq = 0;
    uint32_t hostSeq = 0;
    uint32_t nextSeq = 1;
    uint32_t nextId = 1;
    std::vector<Member> members; // in join order (seq ascending)
    std::unordered_map<ENetPeer*, PendingPeer> pending;
    // When a message of each peer last arrived (ENet's clock): unguaranteed ones too, which
    // ENet's own last-receive time (acknowledgements only) does not see.
    std::unordered_map<const ENetPeer*, enet_uint32> heardAt;
    // Every connection not admitted yet, with the order it arrived in (see kMaxUnadmitted).
    struct Unadmitted {
        uint32_t connectID = 0; // tells a reused ENet peer slot from the connection it held
        uint64_t order = 0;
    };
    std::unordered_map<ENetPeer*, Unadmitted> unadmitted;
    uint64_t arrivals = 0;

    // Answers awaited by blocking calls.
    enum class JoinState { Idle, Waiting, Accepted, Refused } joinState = JoinState::Idle;
    Error joinError = Error::Ok;
    // Where a joiner connects, and until when it tries: a handshake lost on a lossy link is
    // started again while the join's answer time-out lasts (RetryJoin).
    ENetAddress joinAddress{};
    Clock::time_point joinDeadline{};
    // The local player a client asked the host for (id 0 until answered). The pump thread
    // records it in the roster as soon as the answer arrives, so messages sent to the new player
    // right after the host's answer are kept even when the caller wakes up late.
    std::optional<wire::PlayerInfo> creating;
    std::optional<uint32_t> createAnswer;

    std::deque<std::vector<uint8_t>> clientOutbox; // guaranteed packets while migrating
    std::deque<Queued> queue;
    std::vector<std::vector<uint8_t>> spareBodies;
    std::vector<uint8_t> scratch;
    Service::Traffic traffic; // of the ENet hosts this service had, counted by CountTraffic

    // ---- Roster and transport helpers (service_pump.cpp) ----------------------------------------

    Member* FindMember(uint32_t seq);
    Member* FindPlayer(uint32_t id);
    const Member* FindPlayer(uint32_t id) const { return const_cast<Impl*>(this)->FindPlayer(id); }
    Member* FindByPeer(ENetPeer* peer);
    Member& Me() { return *FindMember(mySeq); }
    uint32_t MyPlayerId();
    void InsertMember(Member m);
    static ENetAddress ToEnet(uint32_t ip, uint16_t port);
    static uint32_t IpOf(const ENetAddress& a) { return ENET_NET_TO_HOST_32(a.host); }
    void ConfigurePeer(ENetPeer* peer) const;
    void SendPacket(ENetPeer* peer, const wire::Packet& p);
    void SendBytes(ENetPeer* peer, const std::vector<uint8_t>& bytes, bool guaranteed);
    void BroadcastControl(const wire::Packet& p, uint32_t exceptSeq);
    void QueueLocal(uint32_t from, uint32_t to, std::span<const uint8_t> body);
    void QueuePlayerEvent(int32_t code, const wire::PlayerInfo& p);
    void QueueBecameHost();
    wire::Roster MakeRoster() const;
    uint32_t AllocatePlayerId();
    int CurrentPlayers() const;
    // Entries of machines, stand-ins left out (a stand-in entry is a seat, not a machine).
    size_t Machines() const;
    bool IsStandIn(uint32_t id) const;

    // ---- Host side (service_host.cpp) -----------------------------------------------------------

    bool IsUnadmitted(const ENetPeer& p) const;
    void TrackUnadmitted();
    void ScreenConnectAttempt(const ENetAddress& from);
    void Evict(ENetPeer* p);
    void HostOnConnect(ENetPeer* peer);
    void Refuse(ENetPeer* peer, Error reason);
    void HostOnJoin(ENetPeer* peer, const wire::JoinRequest& req);
    void HostOnRejoin(ENetPeer* peer, const wire::Rejoin& rj);
    void HostOnCreatePlayer(Member& m, const wire::CreatePlayer& req);
    void HostOnDestroyPlayer(Member& m, uint32_t id);
    void HostRoute(uint32_t senderSeq, uint32_t from, uint32_t to,
                   std::span<const uint8_t> datagram, bool guaranteed);
    void HostRemoveMember(uint32_t seq);
    uint32_t HostAddStandIn(std::string_view friendly, std::string_view formal);
    bool HostGiveStandInSeat();
    void HostOnReceive(ENetPeer* peer, const ENetPacket* packet, uint8_t channel);
    void HostOnDisconnect(ENetPeer* peer);
    void BecomeHost();

    // ---- Member side (service_member.cpp) -------------------------------------------------------

    void LoadRoster(const wire::Roster& r, uint32_t senderIp);
    void MergeRoster(const wire::Roster& r, uint32_t senderIp);
    void ClientRemoveMember(uint32_t seq);
    void ClientDropStandIns();
    void ClientOnReceive(ENetPeer* peer, const ENetPacket* packet);
    void ClientOnJoinAnswer(const wire::Packet& p, uint32_t senderIp);
    void ClientOnRejoinAnswer(const wire::Packet& p, uint32_t senderIp);
    void ClientOnControl(const wire::Packet& p);
    void ClientOnHostLost();
    bool RetryJoin();
    void LoseSession();
    void ElectHost();
    void ClientOnConnect(ENetPeer* peer);

    // ---- Pump thread and lifecycle (service_pump.cpp) -------------------------------------------

    void HandleEvent(const ENetEvent& ev);
    // The caller's share of the pump: takes in and handles what the socket holds, sends what is
    // waiting, without waiting itself (the game thread's polls).
    void ServiceNow();
    // Moves the ENet host's byte counters into `traffic`.
    void CountTraffic();
    void CheckTimers();
    bool Silent(const ENetPeer& p) const;
    void PumpOnce();
    void PumpLoop();
    Error CreateEnetHost();
    void StartPump();
    void StopPump();
    void Teardown();

    // ---- Discovery, answering side (service_discovery.cpp) --------------------------------------

    void OpenDiscovery();
    void CloseDiscovery();
    void AnswerEnumerations();
};

} // namespace session
