// Networked matches between real `tarnhold` processes over loopback, started without the lobby
// (TARNHOLD_MATCH with TARNHOLD_NET): both machines get into one match and announce each other,
// chat crosses, and leaving is seen by the one who stays, who becomes host if the host left.
#include "tests/support/discovery_port.h"
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <memory>

namespace {

using namespace std::chrono_literals;

// Two machines on one map: "Ann" hosts for two players, "Bob" joins. Each runs its own script in
// its own settings directory.
class Match : public ::testing::Test {
protected:
    void SetUp() override {
        dir = apptest::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    void Start(const std::string& annScript, const std::string& bobScript) {
        port = std::to_string(testsupport::FreshDiscoveryPort());
        ann = Launch("Ann", "host:2", annScript, port);
        bob = Launch("Bob", "join", bobScript, port);
    }

    std::unique_ptr<apptest::Process> Launch(const std::string& name, const std::string& mode,
                                             const std::string& script, const std::string& port) {
        return apptest::LaunchMachine(dir, name, script,
                                      {{"TARNHOLD_SEED", "3"},
                                       {"TARNHOLD_MATCH", "entrepot"},
                                       {"TARNHOLD_NET", mode},
                                       {"TARNHOLD_NAME", name},
                                       {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
                                       {"TARNHOLD_DISCOVERY_PORT", port}});
    }

    // A file the scripts wait for ("waitfile"), so the test says when each step may run.
    void Signal(const std::string& file) { std::ofstream(dir / file) << "go\n"; }
    std::string Wait(const std::string& file) { return "waitfile " + (dir / file).string() + "\n"; }

    // Both machines see the other come in.
    void ExpectBothInTheMatch() {
        ASSERT_TRUE(ann->WaitOutput("message: The TERRORIST Bob come in Game.", 45s))
            << ann->Output() << "\n---\n"
            << bob->Output();
        ASSERT_TRUE(bob->WaitOutput("message: The TERRORIST Ann come in Game.", 20s))
            << bob->Output();
    }

    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    std::filesystem::path dir;
    std::string port;
    std::unique_ptr<apptest::Process> ann, bob;
};

// Escape ends the match; F5 opens the chat box, whose line Enter sends.
constexpr const char* kLeave = "key down 1\nwait 2\nkey up 1\n";

TEST_F(Match, BothComeInChatCrossesAndTheJoinerLeavingIsSeenByTheHost) {
    Start(Wait("chat") + "sleep 500\nkey press 63\nwait 3\ntype Chat \"hello from Ann\" ENTER\n" +
              Wait("quit-ann") + kLeave,
          Wait("quit-bob") + kLeave);
    ExpectBothInTheMatch();
    Signal("chat");
    EXPECT_TRUE(bob->WaitOutput("message: Ann says: hello from Ann", 10s)) << bob->Output();

    Signal("quit-bob");
    EXPECT_EQ(bob->WaitExit(30s), 0) << bob->Output();
    EXPECT_TRUE(ann->WaitOutput("message: Bob leave the game.", 10s)) << ann->Output();
    Signal("quit-ann");
    EXPECT_EQ(ann->WaitExit(30s), 0) << ann->Output();
    // Each arrival is announced once.
    EXPECT_EQ(Count(ann->Output(), "come in Game."), 1u) << ann->Output();
    EXPECT_EQ(Count(bob->Output(), "come in Game."), 1u) << bob->Output();
    EXPECT_NE(bob->Output().find("match ended"), std::string::npos) << bob->Output();
}

TEST_F(Match, TheHostLeavingMakesTheJoinerTheHost) {
    Start(Wait("quit-ann") + kLeave, Wait("quit-bob") + kLeave);
    ExpectBothInTheMatch();
    Signal("quit-ann");
    EXPECT_EQ(ann->WaitExit(30s), 0) << ann->Output();
    EXPECT_TRUE(bob->WaitOutput("message: You are now the host.", 30s)) << bob->Output();
    Signal("quit-bob");
    EXPECT_EQ(bob->WaitExit(30s), 0) << bob->Output();
}

TEST_F(Match, ALateJoinerIsTakenInByEveryoneAndStartsOnlyOnce) {
    Start(Wait("quit") + kLeave, Wait("quit") + kLeave);
    ExpectBothInTheMatch();
    // Both machines in the match answer the newcomer with a START; the first one starts its
    // match, the second changes nothing.
    std::unique_ptr<apptest::Process> carl = Launch("Carl", "join", Wait("quit") + kLeave, port);
    for (apptest::Process* p : {ann.get(), bob.get()})
        EXPECT_TRUE(p->WaitOutput("message: The TERRORIST Carl come in Game.", 20s)) << p->Output();
    for (const char* name : {"Ann", "Bob"})
        EXPECT_TRUE(
            carl->WaitOutput(std::string("message: The TERRORIST ") + name + " come in Game.", 10s))
            << carl->Output();
    Signal("quit");
    for (apptest::Process* p : {carl.get(), bob.get(), ann.get()})
        EXPECT_EQ(p->WaitExit(30s), 0) << p->Output();
    const std::string out = carl->Output();
    EXPECT_EQ(Count(out, "screen open: hud"), 1u) << "one match only\n" << out;
    EXPECT_EQ(Count(out, "come in Game."), 2u) << out;
}

} // namespace
