// Computer players in a networked match, between real `tarnhold` processes on loopback: the host
// brings two (players of its session, simulated on the host), and a joiner whose controls a
// computer player's brain drives (TARNHOLD_AUTOPILOT) fights them. The joiner sees them move,
// kills one and is hit; every HIT and KILLED that crossed the network is counted on both
// machines (the "net trace: tally" lines), also over a link that loses a fifth of its
// datagrams each way.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/e2e/net/lossy_relay.h"
#include "tests/support/discovery_port.h"

#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// One "net trace: tally" line.
struct Tally {
    long hitsSent = 0, hitsReceived = 0, killedSent = 0, killedReceived = 0;
    std::map<int, std::pair<int, int>> players; // session id: kills, deaths
    bool operator==(const Tally&) const = default;
};

std::vector<Tally> Tallies(const std::string& log) {
    std::vector<Tally> out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (lines.eof()) break; // a line still being written
        const size_t at = line.find("net trace: tally");
        if (at == std::string::npos) continue;
        Tally t;
        std::istringstream words(line.substr(at + 16));
        for (std::string w; words >> w;) {
            int id = 0, kills = 0, deaths = 0;
            if (std::sscanf(w.c_str(), "hits=%ld,%ld", &t.hitsSent, &t.hitsReceived) == 2) continue;
            if (std::sscanf(w.c_str(), "killed=%ld,%ld", &t.killedSent, &t.killedReceived) == 2)
                continue;
            if (std::sscanf(w.c_str(), "player%d=%d,%d", &id, &kills, &deaths) == 3)
                t.players[id] = {kills, deaths};
        }
        out.push_back(t);
    }
    return out;
}

// The session ids of the host's computer players, from its log.
std::vector<int> BotIds(const std::string& log) {
    static const std::regex line(
        R"(computer player Bot \d in slot \d, team \d, level \w+, session id (\d+))");
    std::vector<int> ids;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it)
        ids.push_back(std::stoi((*it)[1]));
    return ids;
}

// The settings of one machine: 60 passes a second at most, so two games share the machine.
void WriteSettings(const std::filesystem::path& home) {
    std::filesystem::create_directories(home);
    std::ofstream(home / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
        << "\"MaxFrameRate\"=\"60\"\r\n";
}

// Escape closes the chat box if it is open, the second ends the match.
constexpr const char* kLeave =
    "key down 1\nwait 2\nkey up 1\nwait 2\nkey down 1\nwait 2\nkey up 1\n";

class NetBots : public ::testing::Test {
protected:
    void SetUp() override {
        dir = apptest::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    std::unique_ptr<apptest::Process> Launch(const std::string& name,
                                             const std::map<std::string, std::string>& extra,
                                             const std::string& script, uint16_t port) {
        WriteSettings(dir / name);
        std::map<std::string, std::string> env = {
            {"TARNHOLD_SEED", "3"},
            {"TARNHOLD_MATCH", "entrepot"},
            {"TARNHOLD_NAME", name},
            {"TARNHOLD_NET_TRACE", "1"},
            {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
            {"TARNHOLD_DISCOVERY_PORT", std::to_string(port)}};
        env.insert(extra.begin(), extra.end());
        return apptest::LaunchMachine(dir, name, script, env);
    }

    void Signal(const std::string& file) { std::ofstream(dir / file) << "go\n"; }
    std::string Wait(const std::string& file) { return "waitfile " + (dir / file).string() + "\n"; }

    // Host "Ann" with two easy computer players, joiner "Bob" on autopilot, through a relay that
    // loses `loss` of the datagrams each way (none: straight to the host). Bob fights until he
    // has killed and been hit, then opens the chat box (the autopilot stands, as a person who
    // types); once nothing more crosses, both machines' counts must agree.
    void FightThroughALinkLosing(double loss) {
        const uint16_t hostPort = testsupport::FreshDiscoveryPort();
        uint16_t joinPort = hostPort;
        std::unique_ptr<nettest::LossyRelay> relay;
        if (loss > 0) {
            joinPort = testsupport::FreshDiscoveryPort();
            while (joinPort + 16 > hostPort && hostPort + 16 > joinPort)
                joinPort = testsupport::FreshDiscoveryPort();
            relay = std::make_unique<nettest::LossyRelay>(joinPort, hostPort, loss, 11);
        }
        auto ann = Launch("Ann", {{"TARNHOLD_NET", "host:4"}, {"TARNHOLD_BOTS", "2:easy"}},
                          Wait("quit") + kLeave, hostPort);
        auto bob =
            Launch("Bob", {{"TARNHOLD_NET", "join"}, {"TARNHOLD_AUTOPILOT", "hard"}},
                   "waitscreen hud\n" + Wait("freeze") + "key press 63\n" + Wait("quit") + kLeave,
                   joinPort);
        ASSERT_TRUE(ann->WaitOutput("message: The TERRORIST Bob come in Game.", 90s))
            << ann->Output() << "\n---\n"
            << bob->Output();
        const std::vector<int> bots = BotIds(ann->Output());
        ASSERT_EQ(bots.size(), 2u) << ann->Output();

        // The fight: Bob kills a computer player (counted on his machine, its death on the
        // host's) and is hit by them.
        const int bobId = [&] {
            const auto t = Tallies(bob->Output());
            return t.empty() || t.back().players.empty() ? 0 : t.back().players.begin()->first;
        }();
        auto fought = [&] {
            const auto b = Tallies(bob->Output()), a = Tallies(ann->Output());
            if (b.empty() || a.empty() || b.back().players.empty()) return false;
            int botDeaths = 0;
            for (int id : bots)
                if (a.back().players.count(id)) botDeaths += a.back().players.at(id).second;
            return b.back().players.begin()->second.first >= 1 && b.back().hitsReceived >= 1 &&
                   botDeaths >= 1;
        };
        const auto fightEnd = std::chrono::steady_clock::now() + 150s;
        while (!fought() && std::chrono::steady_clock::now() < fightEnd && bob->Running())
            std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(fought()) << "Bob " << bobId << ":\n"
                              << bob->Output() << "\n---\n"
                              << ann->Output();
        // Both computer players were seen moving on Bob's machine.
        for (int id : bots)
            EXPECT_NE(bob->Output().find("net trace: body of " + std::to_string(id) + " moved"),
                      std::string::npos)
                << id;

        // Bob stands (the computer players may go on fighting him). What one machine sent, the
        // other received: judged from a tally of the receiver's and one of the sender's written
        // after it, every message the receiver counted had been sent by then, so equal counts
        // mean none was lost, and one still on its way only delays the agreement.
        Signal("freeze");
        auto sentThenReceived = [](apptest::Process& receiver, apptest::Process& sender) {
            std::optional<std::pair<Tally, Tally>> pair; // the receiver's, the sender's
            const auto r = Tallies(receiver.Output());
            if (r.empty()) return pair;
            const size_t seen = Tallies(sender.Output()).size();
            const auto until = std::chrono::steady_clock::now() + 10s;
            while (!pair && std::chrono::steady_clock::now() < until && sender.Running()) {
                std::this_thread::sleep_for(100ms);
                if (const auto s = Tallies(sender.Output()); s.size() > seen)
                    pair = std::pair{r.back(), s.back()};
            }
            return pair;
        };
        std::optional<std::pair<Tally, Tally>> toAnn, toBob;
        auto bobToAnn = [&] {
            toAnn = sentThenReceived(*ann, *bob);
            return toAnn && toAnn->second.hitsSent == toAnn->first.hitsReceived &&
                   toAnn->second.killedSent == toAnn->first.killedReceived;
        };
        auto annToBob = [&] {
            toBob = sentThenReceived(*bob, *ann);
            return toBob && toBob->second.hitsSent == toBob->first.hitsReceived &&
                   toBob->second.killedSent == toBob->first.killedReceived;
        };
        bool fromBob = false, fromAnn = false;
        const auto settleEnd = std::chrono::steady_clock::now() + 90s;
        while (!(fromBob && fromAnn) && std::chrono::steady_clock::now() < settleEnd &&
               ann->Running() && bob->Running()) {
            fromBob = fromBob || bobToAnn();
            fromAnn = fromAnn || annToBob();
        }
        ASSERT_TRUE(toAnn && toBob) << bob->Output() << "\n---\n" << ann->Output();
        EXPECT_TRUE(fromBob) << "every HIT and KILLED Bob sent reached the host: sent "
                             << toAnn->second.hitsSent << " and " << toAnn->second.killedSent
                             << ", received " << toAnn->first.hitsReceived << " and "
                             << toAnn->first.killedReceived;
        EXPECT_TRUE(fromAnn) << "every HIT and KILLED of the host's reached Bob: sent "
                             << toBob->second.hitsSent << " and " << toBob->second.killedSent
                             << ", received " << toBob->first.hitsReceived << " and "
                             << toBob->first.killedReceived;
        const Tally bt = Tallies(bob->Output()).back();
        ASSERT_EQ(bt.players.size(), 1u);
        const auto [bobKills, bobDeaths] = bt.players.begin()->second;
        EXPECT_EQ(bobKills, bt.killedReceived) << "Bob killed nobody of his own machine";
        EXPECT_EQ(bobDeaths, bt.killedSent) << "each of Bob's deaths went to its killer";
        EXPECT_GE(bt.hitsSent, 1);
        // The host's player sees the taunt of a computer player Bob killed, as Bob does.
        EXPECT_NE(ann->Output().find("says: This FUCKING Bob"), std::string::npos) << ann->Output();
        if (relay) {
            EXPECT_GT(relay->Dropped(), 0u) << "the link lost nothing";
        }

        Signal("quit");
        EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
        EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
    }

    std::filesystem::path dir;
};

TEST_F(NetBots, AJoinerFightsTheHostsComputerPlayersAndBothMachinesCountEveryHitAndKill) {
    FightThroughALinkLosing(0.0);
}

TEST_F(NetBots, EveryHitAndKillCountsOnBothMachinesOverALinkLosingAFifthOfItsDatagrams) {
    FightThroughALinkLosing(0.2);
}

// The computer players go with their host: when the host leaves, the joiner sees each leave as
// a player does, and becomes the host of a session without them.
TEST_F(NetBots, TheComputerPlayersLeaveWithTheirHost) {
    const uint16_t port = testsupport::FreshDiscoveryPort();
    auto ann = Launch("Ann", {{"TARNHOLD_NET", "host:3"}, {"TARNHOLD_BOTS", "2"}},
                      Wait("ann-quits") + kLeave, port);
    auto bob = Launch("Bob", {{"TARNHOLD_NET", "join"}}, Wait("quit") + kLeave, port);
    for (const char* who : {"TERRORIST Ann", "GIGN Bot 1", "GIGN Bot 2"})
        ASSERT_TRUE(bob->WaitOutput(std::string("message: The ") + who + " come in Game.", 90s))
            << who << "\n"
            << bob->Output() << "\n---\n"
            << ann->Output();
    Signal("ann-quits");
    EXPECT_EQ(ann->WaitExit(40s), 0) << ann->Output();
    for (const char* who : {"Bot 1", "Bot 2"})
        EXPECT_TRUE(bob->WaitOutput(std::string("message: ") + who + " leave the game.", 30s))
            << who << "\n"
            << bob->Output();
    EXPECT_TRUE(bob->WaitOutput("You are now the host.", 30s)) << bob->Output();
    Signal("quit");
    EXPECT_EQ(bob->WaitExit(40s), 0) << bob->Output();
}

// A host with three computer players fills the session and starts at once. Each person who joins
// takes the seat of the newest computer player: it leaves the match as a player does (announced
// on every machine that had it), and the newcomer plays in its place.
TEST_F(NetBots, PeopleWhoJoinAFullSessionTakeTheSeatsOfTheNewestComputerPlayers) {
    const uint16_t port = testsupport::FreshDiscoveryPort();
    auto ann = Launch("Ann", {{"TARNHOLD_NET", "host:4"}, {"TARNHOLD_BOTS", "3"}},
                      Wait("quit") + kLeave, port);
    ASSERT_TRUE(ann->WaitOutput("starting with 4 players", 60s)) << ann->Output();
    ASSERT_TRUE(ann->WaitOutput("screen open: hud", 60s)) << ann->Output();
    EXPECT_EQ(BotIds(ann->Output()).size(), 3u) << ann->Output();

    auto carl = Launch("Carl", {{"TARNHOLD_NET", "join"}}, Wait("quit") + kLeave, port);
    EXPECT_TRUE(ann->WaitOutput("message: Bot 3 leave the game.", 60s)) << ann->Output();
    EXPECT_TRUE(ann->WaitOutput("message: The TERRORIST Carl come in Game.", 60s))
        << ann->Output() << "\n---\n"
        << carl->Output();
    for (const char* who : {"TERRORIST Ann", "GIGN Bot 1", "GIGN Bot 2"})
        EXPECT_TRUE(carl->WaitOutput(std::string("message: The ") + who + " come in Game.", 30s))
            << who << "\n"
            << carl->Output();

    auto bob = Launch("Bob", {{"TARNHOLD_NET", "join"}, {"TARNHOLD_AUTOPILOT", "normal"}},
                      Wait("quit") + kLeave, port);
    for (apptest::Process* p : {ann.get(), carl.get()}) {
        EXPECT_TRUE(p->WaitOutput("message: Bot 2 leave the game.", 60s)) << p->Output();
        EXPECT_TRUE(p->WaitOutput("message: The TERRORIST Bob come in Game.", 60s)) << p->Output();
    }
    for (const char* who : {"TERRORIST Ann", "TERRORIST Carl", "GIGN Bot 1"})
        EXPECT_TRUE(bob->WaitOutput(std::string("message: The ") + who + " come in Game.", 30s))
            << who << "\n"
            << bob->Output();
    // Bob plays: his body moves on the host's machine.
    ASSERT_TRUE(bob->WaitOutput("net trace: tally", 30s)) << bob->Output();
    const auto t = Tallies(bob->Output());
    ASSERT_FALSE(t.empty() || t.back().players.empty()) << bob->Output();
    const int bobId = t.back().players.begin()->first;
    EXPECT_TRUE(ann->WaitOutput("net trace: body of " + std::to_string(bobId) + " moved", 30s))
        << ann->Output();

    Signal("quit");
    for (apptest::Process* p : {bob.get(), carl.get(), ann.get()})
        EXPECT_EQ(p->WaitExit(40s), 0) << p->Output();
    // The newcomers never had the computer players whose seats they took.
    EXPECT_EQ(carl->Output().find("Bot 3"), std::string::npos) << carl->Output();
    for (const char* gone : {"Bot 2", "Bot 3"})
        EXPECT_EQ(bob->Output().find(gone), std::string::npos) << bob->Output();
}

} // namespace
