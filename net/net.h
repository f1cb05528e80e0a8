// net/net.h — sessions as the game uses them, and the in-game message protocol.
//
// Index
//   1. State            (the session object, its lists, host and names; lifetime below)
//   2. The layers above (the waiting room, the web game list, the match runner)
//   3. Connection       (InitDirectPlay, connect, enumerate, create, join, players, leave)
//   4. Wire format      (message codes, field layouts, the death taunts)
//   5. Sending          (SendStartTo, SendStartToAll, SendHostId, SendChat, the player's sink)
//   6. Receiving        (ReceiveMessages and the per-message handler)
//   7. The game core's network (MatchLink: the poll and the message sink of a match)
//
// Everything runs on the user-interface thread. The network is polled, never waited on: the
// waiting room's timer and every pass of the main loop call ReceiveMessages. Dependencies point
// downwards: this module uses core, player and the platform's session and window services; the
// layers above it implement the interfaces of section 2.
#pragma once

#include "core/game.h"
#include "platform/session/session.h"
#include "player/player.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// =============================================================================================
// 1. State
// =============================================================================================
// Created by InitDirectPlay, released by CloseDirectPlay; InitDirectPlay runs again whenever a
// different connection is needed. The names and SessionName are set by the menu and the lobby
// before a session is created or joined.

// The application all sessions of the game belong to.
inline constexpr const char* kApplicationGuid = "{AC330441-9B71-11D2-9AAB-0020781461AC}";
inline constexpr int kMaxPlayers = 4;

extern std::unique_ptr<session::Service> DPlay; // null until InitDirectPlay, after CloseDirectPlay
extern std::vector<session::ProviderInfo> ConnectionList; // providers, in the menu's order
extern std::vector<session::SessionDesc> SessionList;     // the last enumeration
extern session::Address ServerAddress; // the one host asked for sessions; empty on the LAN
extern int32_t HostPlayerId;           // the host's session id (0 until learnt)
extern bool IsHost;                    // this machine hosts the session
extern std::string PlayerName;         // friendly name, as typed on the menu
extern std::string PlayerFormalName;   // Team as a digit, then Skin
extern std::string SessionName;        // "<game name> (<MAP>)"
extern std::string WebServerName;      // empty in LAN mode

// Transport settings (the registry or the environment fill them before InitDirectPlay): the
// discovery port range and time-outs of every session object, and the LAN provider's target
// address (empty: the broadcast address; tests use 127.0.0.1).
extern session::ServiceConfig ServiceSettings;
extern std::string LanTarget;

// =============================================================================================
// 2. The layers above
// =============================================================================================
// Interfaces this module calls and the layers above implement; the entry point connects them
// (app/wiring.cpp). Each is called on the user-interface thread, from the receiver (the waiting
// room's timer or a pass of the main loop) or from the lobby's own actions. Not owned.

// The waiting room as the receiver and the START sender reach it. The lobby implements it;
// before the room's window exists it is not shown and the calls do nothing.
class WaitingRoomView {
public:
    virtual ~WaitingRoomView() = default;
    virtual bool IsShown() const = 0;                   // the room is on screen (no match yet)
    virtual void AppendChat(std::string_view text) = 0; // append to the chat history, beep
    virtual void RefreshPlayers() = 0;                  // UpdateWaiting
    virtual void StopTimer() = 0;                       // the room's 100 ms timer stops
    virtual void Hide() = 0;                            // the room goes (the match starts)
};
// Null: no room (not shown, nothing to do).
void SetWaitingRoom(WaitingRoomView* room);

// The web game list, internet mode only. The web client implements it.
class GameDirectory {
public:
    virtual ~GameDirectory() = default;
    // Lists the game hosted here with `comment`; false when that failed (devenir_server).
    virtual bool Publish(std::string_view comment) = 0;
    // Withdraws it (the host leaves).
    virtual void Withdraw() = 0;
};
// Null: no web client, and publishing fails.
void SetGameDirectory(GameDirectory* directory);

// What a START runs. The entry point implements it with core::StartMatch, guarded against
// content that cannot be read.
class MatchRunner {
public:
    virtual ~MatchRunner() = default;
    // Plays the match until it ends and returns the program's exit status.
    virtual int RunMatch() = 0;
    // The world of the running match, which late joiners' records are built in; null: late
    // joiners get no record.
    virtual const player::World* MatchWorld() const = 0;
};
// Null: a START plays nothing (status 0) and late joiners get no record.
void SetMatchRunner(MatchRunner* runner);

// The exit status of the match a START ran, which tells the caller of ReceiveMessages that the
// match was played and the program should end. Empty until then.
extern std::optional<int> MatchStatus;

// =============================================================================================
// 3. Connection
// =============================================================================================
// Failures show the fixed message box texts below (window::MsgBox) and return false.

inline constexpr const char* kTextInitFailed = "Failed to initialize DirectPlay.";
inline constexpr const char* kTextEnumConnectionsFailed = "Failed to Enumerate Connections.";
inline constexpr const char* kTextConnectFailed = "Failed to initialize connection.";
inline constexpr const char* kTextCreateGameFailed = "Failed to create game.";
inline constexpr const char* kTextCreatePlayerFailed = "Failed to create player.";
inline constexpr const char* kTextInvalidPlayer = "INVALIDPLAYER";
inline constexpr const char* kTextJoinFailed = "Failed to join game.";

// Creates the session object (closing any other) and lists the providers into ConnectionList.
// On failure: "Failed to initialize DirectPlay." and false; the caller ends the program.
bool InitDirectPlay();
// The menu's connection list: InitDirectPlay, then the provider names in order. False (the menu
// then shows kTextEnumConnectionsFailed) when the providers cannot be listed.
bool ConnectionNames(std::vector<std::string>& names);
// LAN connect with provider `listIndex` (0-based) towards LanTarget, then UpdateSessionList.
// False when the connection fails ("Failed to initialize connection.") or the enumeration fails
// (the session object is then re-created); the menu stays.
bool ConnectLan(int listIndex, std::vector<std::string>& entries);
// Internet connect to the game at `ip`: a new session object asking that host, then
// UpdateSessionList.
bool ConnectInternet(const std::string& ip, std::vector<std::string>& entries);

// The connection that reaches one host by address, without a web server: provider `listIndex`
// asks for an address (the menu's address box) when this is true.
bool ConnectionAsksAddress(int listIndex);
// Connect with provider `listIndex` (0-based) to the host at `typed`, as the player typed it
// (see ParseHostAddress; blank searches the local network as the LAN connection does), then
// UpdateSessionList; ServerAddress is the host asked. A text that is not an address, a name
// that does not resolve or a failed enumeration shows "Failed to initialize connection." and
// returns false; a host that does not answer gives an empty list (true).
bool ConnectByAddress(int listIndex, std::string_view typed, std::vector<std::string>& entries);
// A host address as a player types it: a host name or a dotted IPv4 address, optionally
// followed by ":port", the first port of the host's discovery range (else the range this
// machine uses). Blanks around it are ignored. Nothing for any other text, without asking a
// name server: a name is resolved when sessions are enumerated.
std::optional<session::Address> ParseHostAddress(std::string_view typed);
// Enumerates the sessions of the application (available ones only) into SessionList and gives
// one entry per session: "<name> (<current>/<maximum>)". The pointer is the hourglass meanwhile.
// False when the enumeration fails (no message).
bool UpdateSessionList(std::vector<std::string>& entries);
// The entry text of one session.
std::string SessionEntry(const session::SessionDesc& desc);

// Hosts the session SessionName (4 players, host migration) and creates the local player:
// MyPlayerId, HostPlayerId = MyPlayerId, IsHost; then core::MatchBots computer players as
// players of this machine in the session (stand-ins: they fill seats, and a joiner of a full
// session takes the newest one's), "Bot 1", "Bot 2"..., each on the team with fewer players so
// far (ties: the team other than the host's); their ids go into core::SessionBotIds. Internet
// mode publishes the game first with `comment`. Returns false after the failure's message box.
bool CreateGame(std::string_view comment);
// Joins SessionList entry `listIndex` (0-based) and creates the local player (MyPlayerId).
// SessionName and core::MapName become the joined session's (MapOfSessionName), so this
// machine can start the match if the host role comes to it. IsHost stays false; HostPlayerId
// comes with START or HOST. Joining and creating the player each wait at most
// ServiceSettings.answerTimeoutMs; a failure shows its box and leaves the session, so the
// player can try again.
bool JoinGame(int listIndex);
// The map of a session named "<game name> (<MAP>)": the text inside its last parentheses, in
// lower case ("entrepot"); "" when the name does not end that way.
std::string MapOfSessionName(std::string_view sessionName);

// One player of the open session, in the session's enumeration order.
struct SessionPlayer {
    int32_t id = 0;
    std::string friendlyName;
    std::string formalName;
};
std::vector<SessionPlayer> EnumPlayers();

// Leaves the session (the waiting room's Cancel and the end of a match): destroys the local
// player, closes the session and runs CloseDirectPlay.
void LeaveSession();
// Withdraws the game from the web list when this machine hosts an internet game, clears IsHost
// and core::InGame, and releases the lists and the session object.
void CloseDirectPlay();

// =============================================================================================
// 4. Wire format
// =============================================================================================
// A body is the code (Long) and the fields of session::Message, in order, without padding.

namespace code {
inline constexpr int32_t START = 0; // Byte n, n x Long id, Long host id, String session, String map
inline constexpr int32_t STATE = 1; // 24 fields, 136 bytes (WriteState)
inline constexpr int32_t CHAT = 5;  // String text
inline constexpr int32_t HOST = 8;  // Long host id
inline constexpr int32_t HIT = 9;   // 3 x Double point, Long power (-1: head shot)
inline constexpr int32_t KILLED = 10; // nothing more
// System events, from sender id 0.
inline constexpr int32_t PLAYER_CREATED = session::kSysPlayerCreated;
inline constexpr int32_t PLAYER_DESTROYED = session::kSysPlayerDestroyed;
inline constexpr int32_t BECAME_HOST = session::kSysBecameHost;
} // namespace code

// STATE: the 22 fields every peer reads (128 bytes), then the stamp (two Longs, 136 bytes in
// all): the sender's frame number and its clock in milliseconds (wrapping) when it sent the
// state. Peers that do not know the stamp read the first 22 fields and leave the rest; a STATE
// of 128 bytes from such a peer has no stamp, and its arrival times it.
inline constexpr size_t kStateBytes = 136;
inline constexpr size_t kStateBytesUnstamped = 128;
struct StateStamp {
    int32_t frame = 0;  // the sender's pass of its main loop
    int32_t sentMs = 0; // the sender's monotonic clock, milliseconds modulo 2^32
};

// A frame count sent as a Long: the nearest integer, halves to even; out-of-range values are
// clamped and a value that is not a number sends 0.
int32_t RoundHalfEven(double value);

// Each writer empties `m` first, so one message object serves every send.
void WriteStart(session::Message& m, std::span<const int32_t> ids, int32_t hostId,
                std::string_view sessionName, std::string_view mapName);
// STATE of record `p` with `stamp`; the blood splash is Frmsang's position relative to `root`
// (the scene's root frame) and its application value (0 and the origin without Frmsang).
// With `sceneFrame`, the position and facing are those of `p`'s body relative to it, not the
// record's fields (which a record simulated here keeps only for the local player).
void WriteState(session::Message& m, const player::player& p, const scene::Frame* root,
                const StateStamp& stamp, const scene::Frame* sceneFrame = nullptr);
void WriteChat(session::Message& m, std::string_view text);
void WriteHost(session::Message& m, int32_t hostId);
void WriteHit(session::Message& m, const glm::vec3& point, int32_t power);
void WriteKilled(session::Message& m);

// The line a dying player broadcasts about its killer `killerName`.
std::string Taunt(std::string_view killerName, int32_t power);

// =============================================================================================
// 5. Sending
// =============================================================================================
// Every send comes from core::MyPlayerId, but a hosted computer player's sink sends from its
// own session id; nothing is sent without a session object. Failed sends are neither retried
// nor reported.

// START, guaranteed, to one player (a late joiner): the session's players, this machine as host.
void SendStartTo(int32_t id);
// The waiting room's START: PlayerCount, PlayerIds and the players' names from the session, START
// to all (guaranteed), then the match (MatchRunner::RunMatch) on this machine. Returns the
// match's status.
int SendStartToAll();
// HOST with HostPlayerId, to all, guaranteed.
void SendHostId();
// CHAT to all, not guaranteed.
void SendChat(std::string_view text);
// A chat line of player `from` on the match's message line: "<name> says: <text>".
void ShowSaid(uint32_t from, std::string_view text);

// The messages of a record simulated here (player::MessageSink), from the local player or, for
// a computer player this machine hosts, from its session id: STATE to all, not guaranteed; HIT
// to the target slot's player only and KILLED to the killer's player only, both guaranteed,
// KILLED followed by the taunt (CHAT from the same id; a computer player's taunt also shows on
// this machine's message line, as the others see it). A slot without a record (or outside
// 0..4) sends nothing, so a HIT never becomes a broadcast.
//
// STATE goes out core::StateRate times a second whatever the frame rate (the record offers it
// every frame; the frames in between send nothing), and at once besides when the state carries
// a shot or a reload (idson2), a hit (idson3), or the player dies or comes back to life, so an
// event is never held back by the rate and its flag, sent once, is never skipped.
class GameSink : public player::MessageSink {
public:
    // `from`: the session id the messages leave from; 0, the local player's (core::MyPlayerId).
    explicit GameSink(int32_t from = 0) : from_(from) {}
    int32_t From() const { return from_; }
    void SendHit(int32_t target, int32_t power, const glm::vec3& point) override;
    void SendState(const player::player& p) override;
    void SendKilled(int32_t killer, int32_t power) override;
    // A new match: the STATE schedule starts again (the next offer goes out) and MatchFrame is 0.
    void BeginMatch();

private:
    // With the trace on: the STATE sent and the frames drawn over each second, and the frame
    // where the local player starts to move after standing still.
    void TraceSecond(double nowMs);
    void TraceMove(const player::player& p, double nowMs);

    int32_t Sender() const;

    int32_t from_ = 0;
    session::Message state_; // reused every frame: no allocation in the steady state
    session::Message event_;
    double nextStateMs_ = 0; // player::NowMs() from which the next STATE is due
    bool sentDead_ = false;  // `mort` in the last STATE sent
    // Trace (TARNHOLD_NET_TRACE): the current second, and the last position seen moving.
    double secondStartMs_ = 0;
    int32_t secondStates_ = 0, secondFrame_ = 0;
    double movedMs_ = -1e9;
    glm::dvec3 lastPosition_{0.0};
    session::Service::Traffic traffic_; // the session's totals at the start of the second
};
extern GameSink Sink;

// What the records simulated here sent and received over the session in this match: HIT and
// KILLED (the guaranteed messages a kill is counted by). Reset as every match starts
// (MatchLink::Messages); counted at the send and when a received one is delivered to a record.
struct Tally {
    int64_t hitsSent = 0, hitsReceived = 0;
    int64_t killedSent = 0, killedReceived = 0;
};
extern Tally Counted;

// =============================================================================================
// 6. Receiving
// =============================================================================================

// Drains the queue: counts the waiting messages once and handles exactly that many. A message
// that is truncated, names a slot outside 0..4 or comes from an unknown sender is dropped alone.
void ReceiveMessages();
// Handles one received body from `from` (0: a system event) to `to` (0: everyone). HIT and
// KILLED go to the record `to` names when this machine simulates it (a computer player it
// hosts), else to the local player. Throws session::MessageReadError or BadMessage for a body
// that cannot be handled; what it changed by then is nothing (every field is read before the
// game state is touched).
void HandleMessage(uint32_t from, uint32_t to, session::Message& body);
inline void HandleMessage(uint32_t from, session::Message& body) {
    HandleMessage(from, 0, body);
}

class BadMessage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The texts shown on the HUD.
std::string ArrivalText(int32_t team, std::string_view name); // "The TERRORIST x come in Game."
std::string LeaveText(std::string_view name);                 // "x leave the game."
inline constexpr const char* kTextNowHost = "You are now the host.";

// The waiting room's chat history: what one chat line adds to it (two line breaks, the time of
// day, " ", the writer, " write: ", a line break and the text; line breaks "\r\n"), and the
// time of day as it shows there, "HH:MM:SS". Received and typed lines use both.
std::string ChatHistoryEntry(std::string_view timeOfDay, std::string_view writer,
                             std::string_view text);
std::string TimeOfDay();

// =============================================================================================
// 7. The game core's network
// =============================================================================================

// core::MatchNetwork over this module: a match polls ReceiveMessages every pass and hands the
// local player's messages to Sink.
// Passes of the running match's main loop: MatchLink polls once per pass and counts them. The
// frame number STATE carries.
extern int32_t MatchFrame;

// The trace of what crosses the network, for measurements: on when the environment variable
// TARNHOLD_NET_TRACE is set and not empty. Lines in the log ("net trace: ..."), with times in
// microseconds of the machine's monotonic clock (the same in every process of one machine):
//   sent S STATE and drew F frames in the last second; the session sent X bytes and received
//   Y bytes                          (UDP payload with the transport's headers)
//   received R STATE from ID in the last second
//   moved frame=N at_us=T            the local player moves after standing still (its frame N)
//   body of ID moved at_us=T after frame=N
//                                    the first frame that drew a remote body moved after it
//                                    stood still, with the newest frame number ID sent by then
//   tally hits=S,R killed=S,R player<id>=K,D ...
//                                    every second: HIT and KILLED sent and received in this
//                                    match (Counted), and the kills and deaths of each record
//                                    simulated here
// "Moving" is along the ground (x, z) by kTraceMoveDistance scene units at least since the last
// move; "standing still" is kTraceStillMs without moving.
bool Tracing();
long long MonotonicMicros();
inline constexpr double kTraceStillMs = 250.0;
inline constexpr double kTraceMoveDistance = 0.001;

class MatchLink : public core::MatchNetwork {
public:
    // The poll of one pass: counts MatchFrame and handles the messages.
    void ReceiveMessages() override;
    // With the trace on, notes the remote bodies that the pass drew moved.
    void FrameShown() override;
    // The local player's sink; the game core asks for it once as every match starts, which
    // starts the sink's STATE schedule (GameSink::BeginMatch) and empties Counted.
    player::MessageSink& Messages() override;
    // The sink of the hosted computer player `id` (one of core::SessionBotIds), its schedule
    // started; null for any other id.
    player::MessageSink* MessagesFrom(int32_t id) override;
    // " hits=<sent>,<received> killed=<sent>,<received>" (Counted).
    std::string StateReport() const override;

private:
    std::vector<std::unique_ptr<GameSink>> hosted_; // by id, kept for the process
};

} // namespace net
