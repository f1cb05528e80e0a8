// session_rogue — a hostile peer for the session end-to-end tests. It speaks the session
// protocol directly (ENet and the wire format) to do what the service itself never does.
//
//   session_rogue attack --address HOST:PORT [--victim ID]
//     Joins as an ordinary member (or tries to, when the session is full), then, each from a
//     fresh connection: rejoins as the victim's member with its own secret, rejoins as a member
//     that does not exist, rejoins as itself while still connected, and joins a second time; over
//     its member connection it asks for a second player and speaks as the victim. Against the
//     host's stand-ins (from the roster it got) it rejoins as the first one's entry, then tries
//     to destroy each, speaks as each, and announces a stand-in of its own. One line per
//     attempt: JOINED seq | JOIN REFUSED reason, PLAYER id | PLAYER REFUSED, PLAYER AGAIN ...,
//     REJOIN what ACCEPTED|REFUSED reason, JOIN AGAIN ACCEPTED|REFUSED reason, FORGED,
//     STANDIN ATTACKED id, DONE.
//     Then it stays connected until its input ends.
//   session_rogue flood --address HOST:PORT --rate N --seconds S
//     Starts N connection handshakes a second, each from a fresh port, and never completes one.
//     Prints FLOODING at the start and FLOOD count at the end.
#include "platform/session/wire.h"

#include <enet/enet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace wire = session::wire;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const session::Guid kApp = *session::Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: session_rogue attack|flood --address HOST:PORT [options]\n");
    std::exit(64);
}

std::string ReasonText(uint8_t reason) {
    return session::ErrorText(static_cast<session::Error>(reason));
}

// One ENet connection to the session's host, with its own local port.
class Link {
public:
    explicit Link(const ENetAddress& to) {
        host_ = enet_host_create(nullptr, 1, 2, 0, 0);
        if (host_ == nullptr) return;
        peer_ = enet_host_connect(host_, &to, 2, 0);
    }
    ~Link() {
        if (host_ != nullptr) enet_host_destroy(host_);
    }
    Link(const Link&) = delete;

    // Services the connection until it is up; false when it failed or took over `limit`.
    bool Connect(std::chrono::milliseconds limit = 3000ms) {
        ENetEvent ev;
        const auto until = Clock::now() + limit;
        while (host_ != nullptr && peer_ != nullptr && Clock::now() < until) {
            if (enet_host_service(host_, &ev, 20) <= 0) continue;
            if (ev.type == ENET_EVENT_TYPE_CONNECT) return true;
            if (ev.type == ENET_EVENT_TYPE_DISCONNECT) return false;
            if (ev.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(ev.packet);
        }
        return false;
    }
    void Send(const wire::Packet& p) {
        std::vector<uint8_t> bytes;
        wire::Encode(p, bytes);
        ENetPacket* packet =
            enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
        enet_peer_send(peer_, 0, packet);
        enet_host_flush(host_);
    }
    // The next packet from the host; nullopt when it disconnected or nothing came within limit.
    std::optional<wire::Packet> Next(std::chrono::milliseconds limit = 3000ms) {
        ENetEvent ev;
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            if (enet_host_service(host_, &ev, 20) <= 0) continue;
            if (ev.type == ENET_EVENT_TYPE_DISCONNECT) return std::nullopt;
            if (ev.type != ENET_EVENT_TYPE_RECEIVE) continue;
            auto p = wire::Decode(std::span<const uint8_t>(ev.packet->data, ev.packet->dataLength));
            enet_packet_destroy(ev.packet);
            if (p) return p;
        }
        return std::nullopt;
    }
    // Waits for a packet of kind T, passing over roster updates.
    template <typename T> std::optional<T> NextOf(std::chrono::milliseconds limit = 3000ms) {
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            auto p =
                Next(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
            if (!p) return std::nullopt;
            if (auto* v = std::get_if<T>(&*p)) return *v;
            if (auto* r = std::get_if<wire::JoinRefuse>(&*p);
                r && !std::is_same_v<T, wire::JoinRefuse>) {
                refused_ = r->reason;
                return std::nullopt;
            }
        }
        return std::nullopt;
    }
    std::optional<uint8_t> refused() const { return refused_; }
    void Pump() {
        ENetEvent ev;
        while (host_ != nullptr && enet_host_service(host_, &ev, 0) > 0)
            if (ev.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(ev.packet);
    }

private:
    ENetHost* host_ = nullptr;
    ENetPeer* peer_ = nullptr;
    std::optional<uint8_t> refused_;
};

// A rejoin from a fresh connection, and what came of it.
std::string TryRejoin(const ENetAddress& to, const wire::Rejoin& rj) {
    Link link(to);
    if (!link.Connect()) return "REFUSED no connection";
    link.Send(rj);
    if (link.NextOf<wire::RejoinAccept>()) return "ACCEPTED";
    return "REFUSED " + (link.refused() ? ReasonText(*link.refused()) : std::string("-"));
}

int Attack(const ENetAddress& to, uint32_t victim) {
    Link member(to);
    if (!member.Connect()) {
        Say("ERROR no connection");
        return 1;
    }
    member.Send(wire::JoinRequest{kApp, ""});
    std::mt19937 rng(std::random_device{}());
    wire::Secret secret{};
    std::optional<wire::JoinAccept> acc = member.NextOf<wire::JoinAccept>();
    uint32_t victimSeq = 0;
    bool victimFound = false;
    uint32_t fresh = 0;
    if (acc) {
        Say("JOINED " + std::to_string(acc->yourSeq));
        secret = acc->secret;
        fresh = acc->roster.nextSeq + 7;
        for (const wire::MemberInfo& m : acc->roster.members)
            if (m.player && m.player->id == victim) {
                victimSeq = m.seq;
                victimFound = true;
            }
        member.Send(wire::CreatePlayer{"Rogue", "0"});
        auto reply = member.NextOf<wire::CreatePlayerReply>();
        Say(reply && reply->id ? "PLAYER " + std::to_string(reply->id) : "PLAYER REFUSED");
        member.Send(wire::CreatePlayer{"Rogue2", "0"});
        auto again = member.NextOf<wire::CreatePlayerReply>();
        Say(again && again->id ? "PLAYER AGAIN " + std::to_string(again->id)
                               : "PLAYER AGAIN REFUSED");
    } else {
        Say("JOIN REFUSED " +
            (member.refused() ? ReasonText(*member.refused()) : std::string("-")));
        for (auto& b : secret)
            b = uint8_t(rng());
        fresh = 9;
    }
    const wire::PlayerInfo claim{victim != 0 ? victim : 999, "Rogue", "0"};
    if (victimFound) Say("REJOIN victim " + TryRejoin(to, wire::Rejoin{secret, victimSeq, claim}));
    for (uint32_t seq = 0; seq < 4; ++seq)
        if (!acc)
            Say("REJOIN seq" + std::to_string(seq) + " " +
                TryRejoin(to, wire::Rejoin{secret, seq, claim}));
    Say("REJOIN new " +
        TryRejoin(to, wire::Rejoin{secret, fresh, wire::PlayerInfo{777777, "Extra", "0"}}));
    if (acc) Say("REJOIN self " + TryRejoin(to, wire::Rejoin{secret, acc->yourSeq, claim}));
    std::vector<wire::MemberInfo> standIns;
    if (acc)
        for (const wire::MemberInfo& m : acc->roster.members)
            if (m.standIn) standIns.push_back(m);
    if (!standIns.empty())
        Say("REJOIN stand-in " +
            TryRejoin(to, wire::Rejoin{secret, standIns[0].seq, standIns[0].player}));
    {
        Link second(to);
        if (!second.Connect()) {
            Say("JOIN AGAIN REFUSED no connection");
        } else {
            second.Send(wire::JoinRequest{kApp, ""});
            if (second.NextOf<wire::JoinAccept>())
                Say("JOIN AGAIN ACCEPTED");
            else
                Say("JOIN AGAIN REFUSED " +
                    (second.refused() ? ReasonText(*second.refused()) : std::string("-")));
        }
    }
    if (acc && victim != 0) {
        // A chat line (code 5, text) under the victim's id.
        session::Message body;
        body.WriteLong(5);
        body.WriteString("forged");
        member.Send(wire::Data{victim, 0, body.Body()});
        Say("FORGED");
    }
    for (const wire::MemberInfo& m : standIns) {
        session::Message body;
        body.WriteLong(5);
        body.WriteString("forged by a stand-in");
        member.Send(wire::DestroyPlayer{m.player->id});
        member.Send(wire::Data{m.player->id, 0, body.Body()});
        Say("STANDIN ATTACKED " + std::to_string(m.player->id));
    }
    if (acc) {
        // Control datagrams only the host sends: a stand-in of the rogue's own, and the first
        // stand-in's entry removed.
        wire::MemberInfo fake;
        fake.seq = fresh + 1;
        fake.standIn = true;
        fake.player = wire::PlayerInfo{888888, "Fake", "0"};
        member.Send(wire::MemberAdded{fake, fresh + 2});
        if (!standIns.empty()) member.Send(wire::MemberRemoved{standIns[0].seq});
    }
    Say("DONE");
    // Stay a member until the test closes our input.
    for (;;) {
        member.Pump();
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, 20) > 0) {
            char buf[256];
            if (read(STDIN_FILENO, buf, sizeof buf) <= 0) break;
        }
    }
    return 0;
}

int Flood(const ENetAddress& to, int rate, int seconds) {
    Say("FLOODING");
    int count = 0;
    const auto start = Clock::now();
    const auto step = std::chrono::microseconds(1000000 / std::max(rate, 1));
    for (auto next = start; Clock::now() < start + std::chrono::seconds(seconds); next += step) {
        std::this_thread::sleep_until(next);
        // A fresh port each time: the handshake's first datagram leaves, and the socket closes
        // before the host's answer can be acknowledged.
        ENetHost* h = enet_host_create(nullptr, 1, 2, 0, 0);
        if (h == nullptr) continue;
        if (enet_host_connect(h, &to, 2, 0) != nullptr) {
            enet_host_flush(h);
            ++count;
        }
        enet_host_destroy(h);
    }
    Say("FLOOD " + std::to_string(count));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) Usage();
    const std::string command = argv[1];
    std::string address;
    uint32_t victim = 0;
    int rate = 20, seconds = 10;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) Usage();
        const std::string v = argv[++i];
        if (a == "--address")
            address = v;
        else if (a == "--victim")
            victim = uint32_t(std::strtoul(v.c_str(), nullptr, 10));
        else if (a == "--rate")
            rate = std::atoi(v.c_str());
        else if (a == "--seconds")
            seconds = std::atoi(v.c_str());
        else
            Usage();
    }
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos) Usage();
    if (enet_initialize() != 0) return 1;
    ENetAddress to;
    if (enet_address_set_host(&to, address.substr(0, colon).c_str()) != 0) Usage();
    to.port = uint16_t(std::atoi(address.c_str() + colon + 1));
    if (command == "attack") return Attack(to, victim);
    if (command == "flood") return Flood(to, rate, seconds);
    Usage();
}
