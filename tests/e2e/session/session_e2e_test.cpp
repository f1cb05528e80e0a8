// Sessions between separate processes (sessionctl) over loopback: what crosses the network.
#include "platform/session/session.h"

#include "tests/e2e/session/ack_thief.h"
#include "tests/support/discovery_port.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// One sessionctl process (or another program speaking the same line protocol): arguments in,
// stdin lines in, stdout lines out.
class Peer {
public:
    explicit Peer(std::vector<std::string> args)
        : Peer(std::string(TARNHOLD_INSTALL_DIR) + "/sessionctl", std::move(args)) {}
    Peer(const std::string& exe, std::vector<std::string> args) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            std::vector<char*> argv{const_cast<char*>(exe.c_str())};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        fcntl(stdout_, F_SETFL, O_NONBLOCK);
    }
    ~Peer() {
        Kill();
        close(stdin_);
        close(stdout_);
    }
    Peer(const Peer&) = delete;

    void Send(const std::string& line) {
        const std::string l = line + "\n";
        [[maybe_unused]] auto n = write(stdin_, l.data(), l.size());
    }
    void Kill() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // Waits for the next unread line starting with prefix; lines passed over stay in Lines().
    std::optional<std::string> WaitFor(const std::string& prefix,
                                       std::chrono::milliseconds limit = 8000ms) {
        const auto until = Clock::now() + limit;
        for (;;) {
            for (; cursor_ < lines_.size(); ++cursor_)
                if (lines_[cursor_].rfind(prefix, 0) == 0) return lines_[cursor_++];
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            Pump(int(left.count()));
        }
    }
    // Reads whatever arrives within ms.
    void Pump(int ms) {
        pollfd p{stdout_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return;
        char buf[8192];
        ssize_t n;
        while ((n = read(stdout_, buf, sizeof buf)) > 0) {
            partial_.append(buf, size_t(n));
            size_t nl;
            while ((nl = partial_.find('\n')) != std::string::npos) {
                lines_.push_back(partial_.substr(0, nl));
                partial_.erase(0, nl + 1);
            }
        }
    }
    size_t Count(const std::string& prefix) {
        Pump(0);
        size_t n = 0;
        for (const auto& l : lines_)
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
    // Lines so far, read or not, that contain `text`.
    size_t CountContaining(const std::string& text) {
        Pump(0);
        size_t n = 0;
        for (const auto& l : lines_)
            n += l.find(text) != std::string::npos;
        return n;
    }
    const std::vector<std::string>& Lines() const { return lines_; }
    std::string Dump() const {
        std::string s;
        for (const auto& l : lines_)
            s += "  | " + l + "\n";
        return s;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1;
    std::vector<std::string> lines_;
    size_t cursor_ = 0;
    std::string partial_;
};

// A discovery range start that is free now, so parallel tests do not see each other.
std::string FreshDiscoveryPort() {
    return std::to_string(testsupport::FreshDiscoveryPort());
}

uint32_t IdOf(const std::string& line) { // "PLAYER 123", "CREATED 123 ...", "HOSTID 123"
    std::istringstream in(line);
    std::string word;
    uint32_t id = 0;
    in >> word >> id;
    return id;
}

std::unique_ptr<Peer> Host(const std::string& disc, const std::string& name,
                           const std::string& player, std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"host", "--disc-port", disc, "--name", name, "--player", player};
    a.insert(a.end(), extra.begin(), extra.end());
    return std::make_unique<Peer>(a);
}

std::unique_ptr<Peer> Join(const std::string& disc, const std::string& session,
                           const std::string& player, std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"join",     "--disc-port", disc,       "--session", session,
                                  "--player", player,        "--formal", "1" + player};
    a.insert(a.end(), extra.begin(), extra.end());
    return std::make_unique<Peer>(a);
}

std::vector<std::string> ListSessions(const std::string& disc,
                                      std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"list", "--disc-port", disc, "--all", "--timeout", "500"};
    a.insert(a.end(), extra.begin(), extra.end());
    Peer p(a);
    std::vector<std::string> out;
    if (!p.WaitFor("END")) return {"no END"};
    for (const auto& l : p.Lines())
        if (l.rfind("SESSION ", 0) == 0) out.push_back(l);
    return out;
}

} // namespace

TEST(SessionE2E, EnumerateJoinChatAndRefuseAFifthPlayer) {
    const std::string disc = FreshDiscoveryPort();
    auto alpha = Host(disc, "Alpha", "Ann");
    auto beta = Host(disc, "Beta", "Bea", {"--password", "pw"});
    auto gamma = Host(disc, "Gamma", "Gil", {"--max", "2"});
    for (auto* h : {alpha.get(), beta.get(), gamma.get()})
        ASSERT_TRUE(h->WaitFor("PLAYER"));

    // Three hosts on one machine, each listed once with its players and maximum.
    std::vector<std::string> list = ListSessions(disc);
    std::sort(list.begin(), list.end());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].substr(0, 22), "SESSION Alpha (1/4) 12");
    EXPECT_EQ(list[1].substr(0, 21), "SESSION Beta (1/4) 12");
    EXPECT_NE(list[1].find(" password"), std::string::npos);
    EXPECT_EQ(list[2].substr(0, 22), "SESSION Gamma (1/2) 12");
    // Another application's GUID sees none of them.
    EXPECT_TRUE(ListSessions(disc, {"--guid", "{01234567-89AB-CDEF-0123-456789ABCDEF}"}).empty());

    // Wrong password and wrong GUID are refused with their own errors.
    Peer wrongPw({"join", "--disc-port", disc, "--session", "Beta", "--password", "nope"});
    auto e = wrongPw.WaitFor("ERROR");
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, "ERROR wrong password");

    // Three guests join Alpha; everyone hears of each newcomer.
    const uint32_t ann = IdOf(*alpha->WaitFor("HOSTID"));
    auto bob = Join(disc, "Alpha", "Bob");
    const auto bobLine = bob->WaitFor("PLAYER");
    ASSERT_TRUE(bobLine) << bob->Dump();
    const uint32_t bobId = IdOf(*bobLine);
    ASSERT_TRUE(alpha->WaitFor("CREATED " + std::to_string(bobId) + " Bob 1Bob"));
    auto cid = Join(disc, "Alpha", "Cid");
    const uint32_t cidId = IdOf(*cid->WaitFor("PLAYER"));
    ASSERT_TRUE(bob->WaitFor("CREATED " + std::to_string(cidId) + " Cid"));
    auto dan = Join(disc, "Alpha", "Dan");
    const uint32_t danId = IdOf(*dan->WaitFor("PLAYER"));
    ASSERT_TRUE(cid->WaitFor("CREATED " + std::to_string(danId)));
    ASSERT_NE(bobId, cidId);
    ASSERT_NE(cidId, danId);
    EXPECT_EQ(IdOf(*dan->WaitFor("HOSTID")), ann);

    // A fifth player is refused; a full session is not offered as available.
    Peer full({"list", "--disc-port", disc, "--timeout", "400"});
    ASSERT_TRUE(full.WaitFor("END"));
    for (const auto& l : full.Lines())
        EXPECT_EQ(l.find("Alpha"), std::string::npos) << l;
    std::string alphaAddr;
    for (const auto& l : ListSessions(disc))
        if (l.rfind("SESSION Alpha (4/4) ", 0) == 0) alphaAddr = l.substr(20);
    ASSERT_FALSE(alphaAddr.empty());
    Peer fifth({"join", "--address", alphaAddr, "--player", "Eve"});
    e = fifth.WaitFor("ERROR");
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, "ERROR the session is full");

    // Chat to all reaches the three others, not the sender; chat to one reaches only that one.
    cid->Send("hello all");
    for (auto* p : {alpha.get(), bob.get(), dan.get()})
        EXPECT_TRUE(p->WaitFor("CHAT " + std::to_string(cidId) + " ")) << p->Dump();
    dan->Send("/to " + std::to_string(bobId) + " just bob");
    const auto toBob = bob->WaitFor("CHAT " + std::to_string(danId));
    ASSERT_TRUE(toBob);
    EXPECT_EQ(*toBob, "CHAT " + std::to_string(danId) + " " + std::to_string(bobId) + " just bob");
    alpha->Send("/players");
    ASSERT_TRUE(alpha->WaitFor("PLAYERS 4"));
    EXPECT_EQ(cid->Count("CHAT"), 0u) << "the sender never receives its own broadcast";
    EXPECT_EQ(alpha->Count("CHAT " + std::to_string(danId)), 0u);
    EXPECT_EQ(cid->Count("CHAT " + std::to_string(danId)), 0u);
}

TEST(SessionE2E, GuaranteedMessagesArriveInOrderUnderPacketLoss) {
    const std::string disc = FreshDiscoveryPort();
    // Every process throws away 20% of the datagrams it receives. A handshake then needs several
    // resends with growing intervals, so joining may take longer than on a sound link.
    const std::vector<std::string> lossy = {"--loss",           "0.2",  "--peer-timeout", "15000",
                                            "--answer-timeout", "40000"};
    auto host = Host(disc, "Lossy", "Hal", lossy);
    ASSERT_TRUE(host->WaitFor("PLAYER"));
    auto a = Join(disc, "Lossy", "Abe", lossy);
    const auto aLine = a->WaitFor("PLAYER", 45000ms);
    ASSERT_TRUE(aLine) << a->Dump();
    auto b = Join(disc, "Lossy", "Ben", lossy);
    ASSERT_TRUE(b->WaitFor("PLAYER", 45000ms)) << b->Dump();
    ASSERT_TRUE(a->WaitFor("CREATED", 20000ms));

    constexpr int kCount = 200;
    const std::string from = std::to_string(IdOf(*aLine));
    a->Send("/seq " + std::to_string(kCount));
    // Both receivers (the host directly, the other guest through the host's relay) get every
    // message exactly once, in order.
    for (Peer* p : {host.get(), b.get()}) {
        for (int i = 0; i < kCount; ++i) {
            const auto line = p->WaitFor("SEQ ", 20000ms);
            ASSERT_TRUE(line) << "missing " << i << "\n" << p->Dump();
            ASSERT_EQ(*line, "SEQ " + from + " " + std::to_string(i));
        }
    }
    EXPECT_EQ(host->Count("SEQ "), size_t(kCount));
    EXPECT_EQ(b->Count("SEQ "), size_t(kCount));
}

TEST(SessionE2E, KilledPeerIsDestroyedForEveryoneWithinThreeSeconds) {
    const std::string disc = FreshDiscoveryPort();
    auto host = Host(disc, "Kill", "Hal");
    ASSERT_TRUE(host->WaitFor("PLAYER"));
    auto a = Join(disc, "Kill", "Abe");
    ASSERT_TRUE(a->WaitFor("PLAYER"));
    auto b = Join(disc, "Kill", "Ben");
    const uint32_t ben = IdOf(*b->WaitFor("PLAYER"));
    ASSERT_TRUE(a->WaitFor("CREATED " + std::to_string(ben)));

    const auto killed = Clock::now();
    b->Kill();
    for (Peer* p : {host.get(), a.get()}) {
        const auto line = p->WaitFor("DESTROYED " + std::to_string(ben), 6000ms);
        ASSERT_TRUE(line) << p->Dump();
        EXPECT_LT(Clock::now() - killed, 3000ms) << p->Dump();
    }
    EXPECT_EQ(a->Count("BECAME_HOST"), 0u);
}

TEST(SessionE2E, HostKilledElectsOneNewHostThatStillAdmitsPlayers) {
    const std::string disc = FreshDiscoveryPort();
    // Five seats: four machines and a stand-in of the host's.
    auto host = Host(disc, "Mig", "Hal", {"--max", "5"});
    const uint32_t hal = IdOf(*host->WaitFor("PLAYER"));
    host->Send("/standin Bot");
    const auto botLine = host->WaitFor("STANDIN");
    ASSERT_TRUE(botLine) << host->Dump();
    const uint32_t bot = IdOf(*botLine);
    auto a = Join(disc, "Mig", "Abe");
    const uint32_t abe = IdOf(*a->WaitFor("PLAYER"));
    auto b = Join(disc, "Mig", "Ben");
    const uint32_t ben = IdOf(*b->WaitFor("PLAYER"));
    auto c = Join(disc, "Mig", "Cal");
    const uint32_t cal = IdOf(*c->WaitFor("PLAYER"));
    ASSERT_TRUE(a->WaitFor("CREATED " + std::to_string(cal)));
    ASSERT_TRUE(b->WaitFor("CREATED " + std::to_string(cal)));

    // The host's player and its stand-in vanish with it, for everyone.
    const auto killed = Clock::now();
    host->Kill();
    for (Peer* p : {a.get(), b.get(), c.get()}) {
        ASSERT_TRUE(p->WaitFor("DESTROYED " + std::to_string(hal), 6000ms)) << p->Dump();
        EXPECT_LT(Clock::now() - killed, 3000ms);
        EXPECT_TRUE(p->WaitFor("DESTROYED " + std::to_string(bot) + " Bot")) << p->Dump();
    }
    // The earliest joiner becomes host; the others learn it.
    ASSERT_TRUE(a->WaitFor("BECAME_HOST", 6000ms)) << a->Dump();
    for (Peer* p : {b.get(), c.get()}) {
        const auto line = p->WaitFor("HOSTID " + std::to_string(abe), 10000ms);
        ASSERT_TRUE(line) << p->Dump();
    }
    // Nobody lost anyone else, and nobody else became host once things settled.
    a->Send("after migration");
    for (Peer* p : {b.get(), c.get()})
        ASSERT_TRUE(p->WaitFor("CHAT " + std::to_string(abe)));
    c->Send("/players");
    const auto players = c->WaitFor("PLAYERS");
    ASSERT_TRUE(players);
    EXPECT_EQ(players->substr(0, 9), "PLAYERS 3");
    for (Peer* p : {a.get(), b.get(), c.get()}) {
        EXPECT_EQ(p->Count("DESTROYED"), 2u) << p->Dump();
    }
    EXPECT_EQ(a->Count("BECAME_HOST") + b->Count("BECAME_HOST") + c->Count("BECAME_HOST"), 1u);

    // A newcomer finds the session through the new host and everyone sees it arrive.
    auto d = Join(disc, "Mig", "Dee");
    const auto dLine = d->WaitFor("PLAYER", 10000ms);
    ASSERT_TRUE(dLine) << d->Dump();
    const uint32_t dee = IdOf(*dLine);
    for (uint32_t old : {hal, bot, abe, ben, cal})
        EXPECT_NE(dee, old);
    for (Peer* p : {a.get(), b.get(), c.get()})
        EXPECT_TRUE(p->WaitFor("CREATED " + std::to_string(dee) + " Dee")) << p->Dump();
    d->Send("hi from dee");
    for (Peer* p : {a.get(), b.get(), c.get()})
        EXPECT_TRUE(p->WaitFor("CHAT " + std::to_string(dee)));
}

TEST(SessionE2E, HostAndItsSuccessorKilledTogetherLeaveOneHost) {
    const std::string disc = FreshDiscoveryPort();
    auto host = Host(disc, "Twice", "Hal");
    const uint32_t hal = IdOf(*host->WaitFor("PLAYER"));
    auto a = Join(disc, "Twice", "Abe");
    const uint32_t abe = IdOf(*a->WaitFor("PLAYER"));
    auto b = Join(disc, "Twice", "Ben");
    const uint32_t ben = IdOf(*b->WaitFor("PLAYER"));
    auto c = Join(disc, "Twice", "Cal");
    const uint32_t cal = IdOf(*c->WaitFor("PLAYER"));
    ASSERT_TRUE(b->WaitFor("CREATED " + std::to_string(cal)));

    // The host and the member next in line vanish at once: the others try the successor,
    // give up on it and settle on the next one.
    host->Kill();
    a->Kill();
    const auto killed = Clock::now();
    ASSERT_TRUE(b->WaitFor("BECAME_HOST", 12000ms)) << b->Dump();
    const auto elected = Clock::now() - killed;
    ASSERT_TRUE(c->WaitFor("HOSTID " + std::to_string(ben), 12000ms)) << c->Dump();
    std::printf(
        "new host after %lld ms, known to the other after %lld ms\n",
        (long long)std::chrono::duration_cast<std::chrono::milliseconds>(elected).count(),
        (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed)
            .count());
    for (Peer* p : {b.get(), c.get()}) {
        EXPECT_EQ(p->Count("DESTROYED " + std::to_string(hal)), 1u) << p->Dump();
        EXPECT_EQ(p->Count("DESTROYED " + std::to_string(abe)), 1u) << p->Dump();
    }
    EXPECT_EQ(c->Count("BECAME_HOST"), 0u);
    c->Send("still here");
    EXPECT_TRUE(b->WaitFor("CHAT " + std::to_string(cal)));
    b->Send("/players");
    const auto players = b->WaitFor("PLAYERS");
    ASSERT_TRUE(players);
    EXPECT_EQ(players->substr(0, 9), "PLAYERS 2");
}

// ---- Hostile peers ----------------------------------------------------------------------------

namespace {

std::unique_ptr<Peer> Rogue(std::vector<std::string> args) {
    return std::make_unique<Peer>(std::string(SESSION_ROGUE), std::move(args));
}

// The host:port of the session `name` as the session list gives it.
std::string AddressOf(const std::string& disc, const std::string& name) {
    for (const auto& l : ListSessions(disc)) {
        // "SESSION <name> (<n>/<max>) <host>:<port>[ password]"
        if (l.rfind("SESSION " + name + " (", 0) != 0) continue;
        std::istringstream in(l);
        std::string word, players, address;
        in >> word >> word >> players >> address;
        return address;
    }
    return {};
}

} // namespace

TEST(SessionE2E, ARogueMembersRejoinForAnotherPlayerIsRefusedAndChangesNothing) {
    const std::string disc = FreshDiscoveryPort();
    // Five seats: the rogue's second machine finds one free and takes no stand-in's.
    auto host = Host(disc, "Keep", "Hal", {"--max", "5"});
    const uint32_t hal = IdOf(*host->WaitFor("PLAYER"));
    auto vic = Join(disc, "Keep", "Vic");
    const uint32_t vicId = IdOf(*vic->WaitFor("PLAYER"));
    ASSERT_TRUE(host->WaitFor("CREATED " + std::to_string(vicId)));
    host->Send("/standin Bot");
    const auto botLine = host->WaitFor("STANDIN");
    ASSERT_TRUE(botLine) << host->Dump();
    const uint32_t bot = IdOf(*botLine);
    ASSERT_TRUE(vic->WaitFor("CREATED " + std::to_string(bot) + " Bot")) << vic->Dump();
    const std::string address = AddressOf(disc, "Keep");
    ASSERT_FALSE(address.empty());

    // The rogue is an ordinary member with its own player; taking the victim's place, coming in
    // under a member number never given out, or back while still connected is refused.
    auto rogue = Rogue({"attack", "--address", address, "--victim", std::to_string(vicId)});
    ASSERT_TRUE(rogue->WaitFor("DONE", 30000ms)) << rogue->Dump();
    uint32_t rogueId = 0;
    for (const auto& l : rogue->Lines())
        if (l.rfind("PLAYER ", 0) == 0 && rogueId == 0) rogueId = IdOf(l);
    ASSERT_NE(rogueId, 0u) << rogue->Dump();
    // Nor can it rejoin as the host's stand-in, destroy it, speak for it or add one.
    for (const std::string& what : std::vector<std::string>{
             "PLAYER AGAIN REFUSED", "REJOIN victim REFUSED", "REJOIN new REFUSED",
             "REJOIN self REFUSED", "FORGED", "REJOIN stand-in REFUSED",
             "STANDIN ATTACKED " + std::to_string(bot)})
        EXPECT_EQ(rogue->Count(what), 1u) << what << "\n" << rogue->Dump();
    EXPECT_EQ(rogue->CountContaining("ACCEPTED"), rogue->Count("JOIN AGAIN ACCEPTED"))
        << rogue->Dump();

    // The victim is still connected and the only one speaking under its id; nobody was
    // destroyed, added twice or made host.
    EXPECT_TRUE(vic->WaitFor("CREATED " + std::to_string(rogueId) + " Rogue")) << vic->Dump();
    vic->Send("still me");
    const std::string fromVic = "CHAT " + std::to_string(vicId) + " " + std::to_string(hal);
    EXPECT_TRUE(host->WaitFor(fromVic + " still me")) << host->Dump();
    host->Send("hello vic");
    EXPECT_TRUE(
        vic->WaitFor("CHAT " + std::to_string(hal) + " " + std::to_string(vicId) + " hello vic"))
        << vic->Dump();
    host->Send("/as " + std::to_string(bot) + " beep");
    EXPECT_TRUE(vic->WaitFor("CHAT " + std::to_string(bot) + " " + std::to_string(vicId) + " beep"))
        << vic->Dump();
    for (Peer* p : {host.get(), vic.get()}) {
        p->Send("/players");
        const auto players = p->WaitFor("PLAYERS");
        ASSERT_TRUE(players);
        EXPECT_EQ(*players, "PLAYERS 4 " + std::to_string(hal) + "=Hal " + std::to_string(vicId) +
                                "=Vic " + std::to_string(bot) + "=Bot* " + std::to_string(rogueId) +
                                "=Rogue");
        EXPECT_EQ(p->CountContaining("forged"), 0u) << p->Dump();
        EXPECT_EQ(p->Count("DESTROYED"), 0u) << p->Dump();
        EXPECT_EQ(p->Count("BECAME_HOST"), 0u) << p->Dump();
        EXPECT_EQ(p->CountContaining("Fake"), 0u) << p->Dump();
    }
    EXPECT_EQ(host->Count("CREATED"), 2u) << host->Dump(); // Vic and the rogue
    EXPECT_EQ(vic->Count("CREATED"), 2u) << vic->Dump();   // the stand-in and the rogue
    const auto list = ListSessions(disc);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].substr(0, 21), "SESSION Keep (4/5) 12") << list[0];
}

TEST(SessionE2E, AFifthPlayerIsRefusedHoweverItAsks) {
    const std::string disc = FreshDiscoveryPort();
    auto host = Host(disc, "Full", "Hal");
    ASSERT_TRUE(host->WaitFor("PLAYER"));
    // A name longer than the session's 255-byte field is cut to it.
    auto a = Join(disc, "Full", std::string(300, 'n'));
    const auto aLine = a->WaitFor("PLAYER");
    ASSERT_TRUE(aLine) << a->Dump();
    EXPECT_TRUE(host->WaitFor("CREATED " + std::to_string(IdOf(*aLine)) + " " +
                              std::string(session::kMaxNameBytes, 'n') + " 1" +
                              std::string(session::kMaxNameBytes - 1, 'n')))
        << host->Dump();
    auto b = Join(disc, "Full", "Ben");
    ASSERT_TRUE(b->WaitFor("PLAYER")) << b->Dump();
    const std::string address = AddressOf(disc, "Full");
    ASSERT_FALSE(address.empty());

    // The fourth member is a rogue: it can neither add a second player nor bring in members by
    // rejoining under new numbers, and its second machine is refused like any fifth one.
    auto rogue = Rogue({"attack", "--address", address});
    ASSERT_TRUE(rogue->WaitFor("DONE", 30000ms)) << rogue->Dump();
    for (const char* what :
         {"PLAYER AGAIN REFUSED", "REJOIN new REFUSED", "JOIN AGAIN REFUSED the session is full"})
        EXPECT_EQ(rogue->Count(what), 1u) << what << "\n" << rogue->Dump();
    EXPECT_EQ(rogue->CountContaining("ACCEPTED"), 0u) << rogue->Dump();
    // An outsider is refused as a joiner and as a rejoiner under any member number.
    auto outsider = Rogue({"attack", "--address", address});
    ASSERT_TRUE(outsider->WaitFor("DONE", 30000ms)) << outsider->Dump();
    EXPECT_EQ(outsider->Count("JOIN REFUSED the session is full"), 1u) << outsider->Dump();
    EXPECT_EQ(outsider->Count("REJOIN seq"), 4u) << outsider->Dump();
    EXPECT_EQ(outsider->CountContaining("ACCEPTED"), 0u) << outsider->Dump();
    Peer fifth({"join", "--address", address, "--player", "Eve"});
    const auto e = fifth.WaitFor("ERROR");
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, "ERROR the session is full");

    host->Send("/players");
    const auto players = host->WaitFor("PLAYERS");
    ASSERT_TRUE(players);
    EXPECT_EQ(players->substr(0, 9), "PLAYERS 4") << *players;
    EXPECT_EQ(host->Count("CREATED"), 3u) << host->Dump();
    EXPECT_EQ(b->Count("CREATED"), 1u) << b->Dump(); // the rogue only
    const auto list = ListSessions(disc);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].substr(0, 21), "SESSION Full (4/4) 12") << list[0];
}

TEST(SessionE2E, AJoinerGetsInWhileHalfOpenHandshakesFloodTheHost) {
    const std::string disc = FreshDiscoveryPort();
    auto host = Host(disc, "Busy", "Hal");
    const uint32_t hal = IdOf(*host->WaitFor("PLAYER"));
    const std::string address = AddressOf(disc, "Busy");
    ASSERT_FALSE(address.empty());

    // 20 handshakes a second from fresh ports, none ever completed. After 3 s they would hold
    // every connection slot of the host if nothing limited them.
    auto flood = Rogue({"flood", "--address", address, "--rate", "20", "--seconds", "14"});
    ASSERT_TRUE(flood->WaitFor("FLOODING"));
    std::this_thread::sleep_for(3000ms);
    for (const char* name : {"Joe", "Kim"}) {
        const auto asked = Clock::now();
        Peer joiner({"join", "--address", address, "--player", name});
        const auto line = joiner.WaitFor("PLAYER", 8000ms);
        ASSERT_TRUE(line) << name << " did not get in\n" << joiner.Dump();
        EXPECT_LT(Clock::now() - asked, 5000ms) << name;
        const uint32_t id = IdOf(*line);
        ASSERT_TRUE(host->WaitFor("CREATED " + std::to_string(id))) << host->Dump();
        joiner.Send("made it");
        EXPECT_TRUE(
            host->WaitFor("CHAT " + std::to_string(id) + " " + std::to_string(hal) + " made it"))
            << host->Dump();
        host->Send("welcome");
        EXPECT_TRUE(joiner.WaitFor("CHAT " + std::to_string(hal))) << joiner.Dump();
    }
    const auto sent = flood->WaitFor("FLOOD ", 20000ms);
    ASSERT_TRUE(sent) << flood->Dump();
    EXPECT_GE(IdOf(*sent), 200u) << "the flood ran at its rate";
}

TEST(SessionE2E, AMemberStaysWhileItTalksThoughNoneOfItsAcknowledgementsArrive) {
    const std::string disc = FreshDiscoveryPort();
    auto host = Host(disc, "Deaf", "Hal");
    const uint32_t hal = IdOf(*host->WaitFor("PLAYER"));
    const std::string address = AddressOf(disc, "Deaf");
    ASSERT_FALSE(address.empty());
    sessiontest::AckThief link(uint16_t(std::stoi(address.substr(address.rfind(':') + 1))));
    Peer abe({"join", "--address", link.Address(), "--player", "Abe"});
    const auto line = abe.WaitFor("PLAYER");
    ASSERT_TRUE(line) << abe.Dump();
    const std::string id = std::to_string(IdOf(*line));
    ASSERT_TRUE(host->WaitFor("CREATED " + id)) << host->Dump();

    // For twice the peer time-out, nothing the host sends guaranteed (its pings included) is
    // ever confirmed, while Abe talks ten times a second. A member that is heard stays.
    link.Arm(true);
    const auto until = Clock::now() + 5000ms;
    for (int i = 0; Clock::now() < until; ++i) {
        abe.Send("line " + std::to_string(i));
        std::this_thread::sleep_for(100ms);
    }
    link.Arm(false);
    EXPECT_GT(link.Stolen(), 10u);
    abe.Send("still here");
    EXPECT_TRUE(host->WaitFor("CHAT " + id + " " + std::to_string(hal) + " still here"))
        << host->Dump();
    host->Send("so I see");
    EXPECT_TRUE(abe.WaitFor("CHAT " + std::to_string(hal))) << abe.Dump();
    EXPECT_EQ(host->Count("DESTROYED"), 0u) << host->Dump();
    EXPECT_EQ(abe.Count("DESTROYED") + abe.Count("BECAME_HOST"), 0u) << abe.Dump();
}
