// platform/session/session.h — the peer-to-peer session service.
//
// Index
//   1. Identifiers: Guid, Address, providers
//   2. Session descriptions and error codes
//   3. Message: the typed body of one message
//   4. Service: sessions, players, sending and receiving
//
// The service knows nothing of the game. It offers what a session layer of a small peer-to-peer
// game needs: find sessions of one application (GUID filter), host one or join one, create
// players with a unique non-zero 32-bit id and two names, send bodies to one player or to all
// (id 0) with or without delivery guarantee, and three system events (sender id 0) delivered to
// every remaining player: player created (3), player destroyed (5), became host (257).
//
// Topology: a star. Every member holds one ENet connection to the host; the host relays a
// message to its receivers, so guaranteed messages from one sender keep their order (sender→host
// and host→receiver are both reliable ordered channels). Every member keeps a copy of the roster
// (members in join order, their addresses and players). When the host goes — clean close or
// vanished — the remaining member that joined earliest becomes the host, gets "became host" and
// starts answering enumeration; the others reconnect to it and their guaranteed messages wait
// until they are back. A member that does not come back within a few seconds is destroyed.
// Time-outs: a vanished peer is destroyed for everyone about 2 s after its last sign of life
// (ServiceConfig::peerTimeoutMaxMs); if the elected host vanished too, the others give up on it
// after 5 s more and elect the next member, so one host remains.
//
// Stand-in players: the host's machine may hold more players than its own (the game's computer
// players), created with CreateStandInPlayer. Every other member sees a stand-in as an ordinary
// player: its own id, PLAYER_CREATED and PLAYER_DESTROYED, messages from and to its id. The host
// sends as a stand-in and receives what is sent to one (`to` = its id); only the host creates,
// destroys or speaks for one. A stand-in holds a seat: it counts against maxPlayers. A machine
// that joins a session whose seats are all taken, some by stand-ins, takes the seat of the
// newest stand-in, which is destroyed for everyone, the host's own queue included. Stand-ins go
// with the host that created them (Close or vanished): every remaining member gets
// PLAYER_DESTROYED for each, and the next host inherits none.
//
// Admission: the host takes in a machine only while the session has room (machines never
// exceed maxPlayers, nor players with the stand-ins, however a peer asks). Each member gets a
// rejoin secret of its own that no other member ever sees; after a host loss the new host takes
// back only the members it waits for, each with the secret its verifier proves, so no member can
// take another's place. Handshakes that are not completed are limited per address and in all, the
// oldest giving way, so a flood of them cannot keep real joiners out. A discovery reply is never
// longer than the request it answers.
//
// Threading: each Service owns one pump thread that runs the network (ENet keep-alives, time-outs,
// relaying, enumeration answers) so dead peers are detected and the session stays alive while the
// game thread is busy (loading a map for seconds). Incoming messages wait in a bounded queue that
// the game thread polls with WaitingCount()/Receive(); a poll that finds the queue empty takes in
// what the socket holds itself, on the calling thread, so a message that has arrived is seen at
// once instead of after the pump thread wakes. Every public method may be called from one game
// thread; they lock the service's mutex briefly. Open(Join) and CreatePlayer() block the caller
// until the host answers or 10 s pass; EnumSessions blocks for its time-out.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace session {

// ---------------------------------------------------------------------------------------------
// 1. Identifiers
// ---------------------------------------------------------------------------------------------

// A 128-bit application identifier, written as "{AC330441-9B71-11D2-9AAB-0020781461AC}".
struct Guid {
    std::array<uint8_t, 16> bytes{};
    bool operator==(const Guid&) const = default;
    bool IsNull() const;
    std::string ToString() const;
    // Parses the braced or bare 8-4-4-4-12 hexadecimal form; nullopt for anything else.
    static std::optional<Guid> Parse(std::string_view text);
};

// A network address: host text (dotted IPv4 or a name) and a port. Port 0 means the default port
// of whatever the address is used for (the discovery range for enumeration).
struct Address {
    std::string host;
    uint16_t port = 0;
};

// Service providers: how sessions are found.
enum class ProviderKind {
    Lan,      // enumeration datagrams to a target address (default: the broadcast address)
    Internet, // enumeration of one host given by address
};

struct ProviderInfo {
    ProviderKind kind;
    std::string name; // shown in connection lists
};

// First port of the discovery range and its size. A host answers enumeration on the first free
// port of the range; an enumerator asks every port of it.
constexpr uint16_t kDefaultDiscoveryPort = 47624;
constexpr int kDefaultDiscoveryPortCount = 16;
constexpr const char* kBroadcastHost = "255.255.255.255";

// ---------------------------------------------------------------------------------------------
// 2. Sessions and errors
// ---------------------------------------------------------------------------------------------

constexpr uint32_t kSessionMigrateHost = 4; // SessionDesc::flags: the host role moves on
constexpr uint32_t kEnumAvailable = 1;      // EnumSessions flag: list only joinable sessions
constexpr int kMaxPlayersLimit = 16;        // upper bound of SessionDesc::maxPlayers
constexpr size_t kMaxNameBytes = 255;       // session, friendly and formal names, passwords

struct SessionDesc {
    Guid application;               // sessions of other applications are invisible
    int maxPlayers = 4;             // 1..kMaxPlayersLimit
    int currentPlayers = 0;         // filled by enumeration and Description()
    std::string name;               // shown in session lists
    std::string password;           // when creating: empty = none; when joining: the one typed
    uint32_t flags = 0;             // kSessionMigrateHost
    bool passwordProtected = false; // filled by enumeration
    // Where the session's host is reached; filled by enumeration, used by Join.
    Address hostAddress;
    uint64_t instance = 0; // random id of one hosted session, same across host migration
};

enum class OpenMode { Create, Join };

enum class Error {
    Ok = 0,
    NotInitialized,  // Initialize() was not called
    InvalidParam,    // a password too long, maxPlayers out of range, a null GUID...
    AlreadyOpen,     // Open() on an open session
    NotOpen,         // the call needs an open session
    NetworkFailure,  // sockets could not be created or bound
    NoSuchSession,   // the host did not answer, or does not host that session any more
    WrongGuid,       // the host's session belongs to another application
    WrongPassword,   // the password does not match
    SessionFull,     // the session already holds its maximum of players
    InvalidPlayer,   // no such player, or not a local player
    PlayerExists,    // this service already has its local player
    MessageTooLarge, // body larger than Message::kMaxBytes
    Timeout,         // the host did not answer in time
};

// English text for an error code, for logs and tools.
const char* ErrorText(Error e);

// System events: messages from id 0 whose body starts with the code (Long).
//   3   PLAYER_CREATED:   Long player type (kPlayerTypePlayer), Long id, String friendly name,
//                         String formal name
//   5   PLAYER_DESTROYED: Long player type, Long id, String friendly name, String formal name
//   257 BECAME_HOST:      nothing more
constexpr int32_t kSysPlayerCreated = 3;
constexpr int32_t kSysPlayerDestroyed = 5;
constexpr int32_t kSysBecameHost = 257;
constexpr int32_t kPlayerTypePlayer = 1;

// ---------------------------------------------------------------------------------------------
// 3. Message
// ---------------------------------------------------------------------------------------------

// Thrown by Message reads that would go past the end of the body or meet a bad string length.
class MessageReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A flat sequence of typed fields, written in order and read back in the same order:
// Long = 4 bytes little-endian two's complement, Double = 8 bytes IEEE-754 little-endian,
// Byte = 1 byte, String = Long byte count then the bytes (no terminator).
// Writes past kMaxBytes are refused (the message becomes invalid and Send refuses it); reads never
// go past the end.
class Message {
public:
    static constexpr size_t kMaxBytes = 64 * 1024;
    static constexpr size_t kMaxStringBytes = 16 * 1024;

    Message() = default;
    explicit Message(std::vector<uint8_t> body) : body_(std::move(body)) {}

    void WriteLong(int32_t v);
    void WriteDouble(double v);
    void WriteByte(uint8_t v);
    void WriteString(std::string_view s); // longer than kMaxStringBytes: truncated to it

    // Reads the next field; throws MessageReadError when the body has no such field.
    int32_t ReadLong();
    double ReadDouble();
    uint8_t ReadByte();
    std::string ReadString();

    // Bytes of the body; Clear() empties it and rewinds reading, keeping its capacity.
    const std::vector<uint8_t>& Body() const { return body_; }
    std::vector<uint8_t>& MutableBody() { return body_; }
    size_t Size() const { return body_.size(); }
    size_t ReadPosition() const { return read_; }
    size_t Remaining() const { return body_.size() - read_; }
    void Rewind() { read_ = 0; }
    void Clear();
    // False once a write was refused for exceeding kMaxBytes.
    bool Valid() const { return valid_; }

private:
    // False, and the message invalid from then on, when n more bytes would pass kMaxBytes.
    bool Fits(size_t n);

    std::vector<uint8_t> body_;
    size_t read_ = 0;
    bool valid_ = true;
};

// ---------------------------------------------------------------------------------------------
// 4. Service
// ---------------------------------------------------------------------------------------------

struct ServiceConfig {
    uint16_t discoveryPort = kDefaultDiscoveryPort; // first port of the discovery range
    int discoveryPortCount = kDefaultDiscoveryPortCount;
    // A peer silent for longer than this is gone (ENet time-out bounds, milliseconds).
    uint32_t peerTimeoutMinMs = 1500;
    uint32_t peerTimeoutMaxMs = 2200;
    // How long joining and creating a player wait for the host's answer (milliseconds); a host
    // drops a connection that has not joined within half of it. Longer on very lossy links.
    uint32_t answerTimeoutMs = 10000;
    // Fraction of received session datagrams thrown away, to test delivery guarantees. 0 in play.
    double testIncomingLoss = 0.0;
};

class Service {
public:
    explicit Service(const ServiceConfig& config = {});
    ~Service(); // closes the session
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The providers offered, in the order a connection list shows them.
    static std::vector<ProviderInfo> Providers();

    // Chooses the provider and the enumeration target: for Lan the target address (empty host =
    // the broadcast address), for Internet the one host to ask. Port 0 = the discovery range's
    // first port. Closes an open session.
    Error Initialize(ProviderKind provider, const Address& target);

    // Lists the sessions of filter.application at the target address. Blocks for timeoutMs
    // (0 = 750 ms). flags: kEnumAvailable hides full sessions (a session full only because of
    // stand-ins stays: a joiner takes a stand-in's seat). Each session appears once.
    Error EnumSessions(const SessionDesc& filter, int timeoutMs, uint32_t flags,
                       std::vector<SessionDesc>& out);

    // Create: hosts a new session described by desc (GUID, maxPlayers, name, password, flags);
    // a name longer than kMaxNameBytes is cut to it. Join: joins desc (from EnumSessions),
    // presenting desc.application and desc.password, and waits for the host's answer at most
    // ServiceConfig::answerTimeoutMs (Timeout). A connection that fails before the host has
    // answered is started again while that time leaves room for it; NoSuchSession when none
    // got through.
    Error Open(const SessionDesc& desc, OpenMode mode);
    // Leaves the session: the local player is destroyed for the others; the host role moves.
    void Close();
    bool IsOpen() const;
    // The open session with its current player count.
    SessionDesc Description() const;

    // Creates the local player (one per service); id receives its unique non-zero id. Names longer
    // than kMaxNameBytes are cut to it, never inside a UTF-8 character. A client waits for the
    // host's answer at most ServiceConfig::answerTimeoutMs (Timeout).
    Error CreatePlayer(std::string_view friendlyName, std::string_view formalName, uint32_t& id);
    // Host only: one more player of this machine, a stand-in (see the header comment), named as
    // CreatePlayer names; id receives its unique non-zero id. Every other member gets
    // PLAYER_CREATED; this machine does not. SessionFull when every seat is taken, InvalidPlayer
    // on a member that does not host, NotOpen without a session.
    Error CreateStandInPlayer(std::string_view friendlyName, std::string_view formalName,
                              uint32_t& id);
    // True for a stand-in's id, on every member.
    bool IsStandIn(uint32_t id) const;
    // Destroys the local player, or on the host one of its stand-ins: every other member gets
    // PLAYER_DESTROYED; this machine does not.
    Error DestroyPlayer(uint32_t id);
    uint32_t LocalPlayerId() const; // 0 without a local player (stand-ins are not it)

    // Players of the session in join order. PlayerIdByIndex is 1-based; 0 when out of range.
    int PlayerCount() const;
    uint32_t PlayerIdByIndex(int index) const;
    // Names of a player; false when the id is unknown.
    bool GetFriendlyName(uint32_t id, std::string& out) const;
    bool GetFormalName(uint32_t id, std::string& out) const;

    // True on the machine that hosts the session; HostPlayerId() is the host's player (0 while
    // the host has none, or while the host role is moving).
    bool IsHost() const;
    uint32_t HostPlayerId() const;

    // Sends body from the local player `from` (on the host also a stand-in) to player `to`, or to
    // every other player when to is 0. Guaranteed messages arrive once, in the order sent; others
    // may be lost. A broadcast reaches every other machine once, addressed to its own player
    // (the host's: to its player, 0 when it has only stand-ins), and never comes back to the
    // sender's machine, not even to its stand-ins. A message to a stand-in arrives in the host's
    // queue with `to` = the stand-in's id.
    Error Send(uint32_t from, uint32_t to, bool guaranteed, const Message& body);

    // Messages waiting, including system events; what has arrived at the socket is taken in
    // first.
    uint32_t WaitingCount() const;
    // Takes the oldest waiting message; false when none (after taking in what has arrived).
    // body is replaced and rewound (its old buffer is recycled, so steady-state receiving
    // allocates nothing).
    bool Receive(uint32_t& from, uint32_t& to, Message& body);

    // Bytes of the session's datagrams (UDP payload, the transport's headers included) sent and
    // received since the service was created; discovery is not counted.
    struct Traffic {
        uint64_t sentBytes = 0;
        uint64_t receivedBytes = 0;
    };
    Traffic TrafficSoFar() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace session
