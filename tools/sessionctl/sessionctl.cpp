// tools/sessionctl/sessionctl.cpp — try the session service by hand, or drive it from tests.
//
//   sessionctl list [--target HOST] [--timeout MS] [--all]
//   sessionctl host --name NAME [--max N] [--password P] [--no-migrate]
//   sessionctl join [--target HOST] [--session NAME] [--address HOST:PORT] [--password P]
// Common: --guid G, --player NAME, --formal TEXT, --disc-port PORT, --loss FRACTION,
//         --peer-timeout MS, --answer-timeout MS (how long joining waits for the host),
//         --wait MS (how long join keeps looking for the session).
//
// While in a session, each stdin line is sent to everyone as chat (guaranteed); commands:
//   /to ID TEXT   chat to one player       /seq N      N numbered guaranteed messages to all
//   /players      list the players         /quit       leave (end of input too)
//   /standin NAME host: add a stand-in     /as ID TEXT chat to all from a local player (a stand-in)
//   /drop ID      host: destroy a stand-in
// Everything that happens is printed as one line on stdout (a stable format tests read):
//   OPEN HOST|JOINED, PLAYER id, STANDIN id, DROPPED id, CREATED id friendly formal,
//   DESTROYED id friendly, BECAME_HOST, HOSTID id, CHAT from to text, SEQ from n,
//   PLAYERS n id=name... (a stand-in's name followed by *), ERROR text.
#include "platform/session/session.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kDefaultGuid = "{AC330441-9B71-11D2-9AAB-0020781461AC}";
constexpr int32_t kChat = 5;  // Long 5, String text
constexpr int32_t kSeq = 100; // Long 100, Long n

struct Options {
    std::string command;
    std::string target = "127.0.0.1";
    std::string name = "sessionctl";
    std::string session;
    std::string address;
    std::string password;
    std::string guid = kDefaultGuid;
    std::string player = "player";
    std::string formal = "0";
    int maxPlayers = 4;
    bool migrate = true;
    bool all = false;
    int timeoutMs = 750;
    int waitMs = 5000;
    session::ServiceConfig config;
};

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: sessionctl list|host|join [options] (see the source header)\n");
    std::exit(64);
}

Options Parse(int argc, char** argv) {
    if (argc < 2) Usage();
    Options o;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage();
            return argv[++i];
        };
        if (a == "--target")
            o.target = value();
        else if (a == "--name")
            o.name = value();
        else if (a == "--session")
            o.session = value();
        else if (a == "--address")
            o.address = value();
        else if (a == "--password")
            o.password = value();
        else if (a == "--guid")
            o.guid = value();
        else if (a == "--player")
            o.player = value();
        else if (a == "--formal")
            o.formal = value();
        else if (a == "--max")
            o.maxPlayers = std::atoi(value().c_str());
        else if (a == "--no-migrate")
            o.migrate = false;
        else if (a == "--all")
            o.all = true;
        else if (a == "--timeout")
            o.timeoutMs = std::atoi(value().c_str());
        else if (a == "--wait")
            o.waitMs = std::atoi(value().c_str());
        else if (a == "--disc-port")
            o.config.discoveryPort = uint16_t(std::atoi(value().c_str()));
        else if (a == "--loss")
            o.config.testIncomingLoss = std::atof(value().c_str());
        else if (a == "--answer-timeout")
            o.config.answerTimeoutMs = uint32_t(std::atoi(value().c_str()));
        else if (a == "--peer-timeout") {
            o.config.peerTimeoutMaxMs = uint32_t(std::atoi(value().c_str()));
            o.config.peerTimeoutMinMs = o.config.peerTimeoutMaxMs * 2 / 3;
        } else
            Usage();
    }
    return o;
}

std::string Fail(session::Error e) {
    return std::string("ERROR ") + session::ErrorText(e);
}

// Prints every waiting message; returns false when the service reports nothing unusual.
void Drain(session::Service& svc, uint32_t& lastHost) {
    session::Message m;
    uint32_t from = 0, to = 0;
    while (svc.Receive(from, to, m)) {
        try {
            const int32_t code = m.ReadLong();
            if (from == 0) {
                if (code == session::kSysBecameHost) {
                    Say("BECAME_HOST");
                } else if (code == session::kSysPlayerCreated ||
                           code == session::kSysPlayerDestroyed) {
                    m.ReadLong(); // player type
                    const uint32_t id = static_cast<uint32_t>(m.ReadLong());
                    const std::string friendly = m.ReadString();
                    const std::string formal = m.ReadString();
                    if (code == session::kSysPlayerCreated)
                        Say("CREATED " + std::to_string(id) + " " + friendly + " " + formal);
                    else
                        Say("DESTROYED " + std::to_string(id) + " " + friendly);
                }
            } else if (code == kChat) {
                Say("CHAT " + std::to_string(from) + " " + std::to_string(to) + " " +
                    m.ReadString());
            } else if (code == kSeq) {
                Say("SEQ " + std::to_string(from) + " " + std::to_string(m.ReadLong()));
            }
        } catch (const session::MessageReadError&) {
            Say("BADMSG " + std::to_string(from));
        }
    }
    const uint32_t host = svc.HostPlayerId();
    if (host != 0 && host != lastHost) {
        lastHost = host;
        Say("HOSTID " + std::to_string(host));
    }
}

void SendChat(session::Service& svc, uint32_t me, uint32_t to, const std::string& text) {
    session::Message m;
    m.WriteLong(kChat);
    m.WriteString(text);
    if (auto e = svc.Send(me, to, true, m); e != session::Error::Ok) Say(Fail(e));
}

// Returns false when the user asked to leave.
bool Command(session::Service& svc, uint32_t me, const std::string& line) {
    if (line == "/quit") return false;
    if (line == "/players") {
        std::string out = "PLAYERS " + std::to_string(svc.PlayerCount());
        for (int i = 1; i <= svc.PlayerCount(); ++i) {
            const uint32_t id = svc.PlayerIdByIndex(i);
            std::string name;
            svc.GetFriendlyName(id, name);
            out += " " + std::to_string(id) + "=" + name + (svc.IsStandIn(id) ? "*" : "");
        }
        Say(out);
    } else if (line.rfind("/seq ", 0) == 0) {
        const int n = std::atoi(line.c_str() + 5);
        for (int i = 0; i < n; ++i) {
            session::Message m;
            m.WriteLong(kSeq);
            m.WriteLong(i);
            svc.Send(me, 0, true, m);
        }
        Say("SENT " + std::to_string(n));
    } else if (line.rfind("/standin ", 0) == 0) {
        uint32_t id = 0;
        if (auto e = svc.CreateStandInPlayer(line.substr(9), "0", id); e != session::Error::Ok)
            Say(Fail(e));
        else
            Say("STANDIN " + std::to_string(id));
    } else if (line.rfind("/drop ", 0) == 0) {
        const auto id = static_cast<uint32_t>(std::strtoul(line.c_str() + 6, nullptr, 10));
        if (auto e = svc.DestroyPlayer(id); e != session::Error::Ok)
            Say(Fail(e));
        else
            Say("DROPPED " + std::to_string(id));
    } else if (line.rfind("/as ", 0) == 0) {
        char* end = nullptr;
        const unsigned long from = std::strtoul(line.c_str() + 4, &end, 10);
        SendChat(svc, static_cast<uint32_t>(from), 0, *end ? std::string(end + 1) : "");
    } else if (line.rfind("/to ", 0) == 0) {
        char* end = nullptr;
        const unsigned long to = std::strtoul(line.c_str() + 4, &end, 10);
        SendChat(svc, me, static_cast<uint32_t>(to), *end ? std::string(end + 1) : "");
    } else if (!line.empty()) {
        SendChat(svc, me, 0, line);
    }
    return true;
}

int RunSession(session::Service& svc, const Options& o) {
    uint32_t me = 0;
    if (auto e = svc.CreatePlayer(o.player, o.formal, me); e != session::Error::Ok) {
        Say(Fail(e));
        return 2;
    }
    Say("PLAYER " + std::to_string(me));
    uint32_t lastHost = 0;
    std::string pendingInput;
    bool open = true;
    while (open) {
        Drain(svc, lastHost);
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char buf[4096];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) break;
            pendingInput.append(buf, size_t(n));
            size_t nl;
            while (open && (nl = pendingInput.find('\n')) != std::string::npos) {
                std::string line = pendingInput.substr(0, nl);
                pendingInput.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                open = Command(svc, me, line);
            }
        }
    }
    svc.DestroyPlayer(me);
    svc.Close();
    Say("CLOSED");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    const auto guid = session::Guid::Parse(o.guid);
    if (!guid) {
        Say("ERROR bad GUID");
        return 64;
    }
    session::Service svc(o.config);
    if (o.command == "host") {
        session::SessionDesc d;
        d.application = *guid;
        d.maxPlayers = o.maxPlayers;
        d.name = o.name;
        d.password = o.password;
        d.flags = o.migrate ? session::kSessionMigrateHost : 0;
        if (auto e = svc.Open(d, session::OpenMode::Create); e != session::Error::Ok) {
            Say(Fail(e));
            return 2;
        }
        Say("OPEN HOST");
        return RunSession(svc, o);
    }
    if (o.command != "list" && o.command != "join") Usage();

    const bool internet = !o.address.empty();
    session::SessionDesc chosen;
    if (internet) {
        const size_t colon = o.address.rfind(':');
        if (colon == std::string::npos) Usage();
        chosen.application = *guid;
        chosen.password = o.password;
        chosen.hostAddress = {o.address.substr(0, colon),
                              uint16_t(std::atoi(o.address.c_str() + colon + 1))};
    } else {
        svc.Initialize(session::ProviderKind::Lan, {o.target, 0});
        session::SessionDesc filter;
        filter.application = *guid;
        std::vector<session::SessionDesc> found;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.waitMs);
        bool have = false;
        do {
            if (auto e = svc.EnumSessions(filter, o.timeoutMs, o.all ? 0 : session::kEnumAvailable,
                                          found);
                e != session::Error::Ok) {
                Say(Fail(e));
                return 2;
            }
            if (o.command == "list") {
                for (const auto& s : found)
                    Say("SESSION " + s.name + " (" + std::to_string(s.currentPlayers) + "/" +
                        std::to_string(s.maxPlayers) + ") " + s.hostAddress.host + ":" +
                        std::to_string(s.hostAddress.port) +
                        (s.passwordProtected ? " password" : ""));
                Say("END " + std::to_string(found.size()));
                return 0;
            }
            for (const auto& s : found)
                if (o.session.empty() || s.name == o.session) {
                    chosen = s;
                    have = true;
                    break;
                }
        } while (!have && std::chrono::steady_clock::now() < until);
        if (!have) {
            Say("ERROR no such session");
            return 2;
        }
        chosen.password = o.password;
        chosen.application = *guid;
    }
    if (auto e = svc.Open(chosen, session::OpenMode::Join); e != session::Error::Ok) {
        Say(Fail(e));
        return 2;
    }
    Say("OPEN JOINED");
    return RunSession(svc, o);
}
