// Two `tarnhold` processes whose link loses a fifth of its datagrams each way (a relay between
// them, see lossy_relay.h): the match still comes together, and the local player's STATE goes
// out at the rate its setting asks while the game draws 250 frames a second.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/e2e/net/lossy_relay.h"
#include "tests/support/discovery_port.h"

#include <cstdlib>
#include <memory>
#include <regex>

namespace {

using namespace std::chrono_literals;

struct PerSecond {
    int states = 0;
    int frames = 0;
};

// The sender's "net trace: sent S STATE and drew F frames in the last second" lines.
std::vector<PerSecond> SentPerSecond(const std::string& output) {
    static const std::regex line(R"(net trace: sent (\d+) STATE and drew (\d+) frames)");
    std::vector<PerSecond> seconds;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
         it != std::sregex_iterator(); ++it)
        seconds.push_back({std::stoi((*it)[1]), std::stoi((*it)[2])});
    return seconds;
}

// The receiver's "net trace: received R STATE from ID in the last second" counts.
std::vector<int> ReceivedPerSecond(const std::string& output) {
    static const std::regex line(R"(net trace: received (\d+) STATE from \d+)");
    std::vector<int> counts;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
         it != std::sregex_iterator(); ++it)
        counts.push_back(std::stoi((*it)[1]));
    return counts;
}

// The settings of one machine: STATE rate and frame limit, as a player would set them.
void WriteSettings(const std::filesystem::path& home, int stateRate, int maxFrameRate) {
    std::filesystem::create_directories(home);
    std::ofstream(home / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
        << "\"StateRate\"=\"" << stateRate << "\"\r\n"
        << "\"MaxFrameRate\"=\"" << maxFrameRate << "\"\r\n";
}

} // namespace

TEST(LossyLink, StateGoesOutAtItsSetRateWhileTheGameDraws250FramesASecond) {
    const auto dir = apptest::FreshDir("lossy-link");
    const uint16_t hostPort = testsupport::FreshDiscoveryPort();
    uint16_t relayPort = testsupport::FreshDiscoveryPort();
    while (relayPort + 16 > hostPort && hostPort + 16 > relayPort)
        relayPort = testsupport::FreshDiscoveryPort();
    nettest::LossyRelay relay(relayPort, hostPort, 0.2, 7);

    WriteSettings(dir / "Ann", 60, 250);
    WriteSettings(dir / "Bob", 60, 250);
    const std::string script = "waitfile " + (dir / "quit").string() + "\nkey down 1\nwait 2\n";
    auto launch = [&](const std::string& name, const std::string& mode, uint16_t port) {
        return apptest::LaunchMachine(dir, name, script,
                                      {{"TARNHOLD_SEED", "3"},
                                       {"TARNHOLD_MATCH", "entrepot"},
                                       {"TARNHOLD_NET", mode},
                                       {"TARNHOLD_NAME", name},
                                       {"TARNHOLD_NET_TRACE", "1"},
                                       {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
                                       {"TARNHOLD_DISCOVERY_PORT", std::to_string(port)}});
    };
    std::unique_ptr<apptest::Process> ann = launch("Ann", "host:2", hostPort);
    std::unique_ptr<apptest::Process> bob = launch("Bob", "join", relayPort);
    ASSERT_TRUE(ann->WaitOutput("message: The TERRORIST Bob come in Game.", 60s))
        << ann->Output() << "\n---\n"
        << bob->Output();
    ASSERT_TRUE(bob->WaitOutput("message: The TERRORIST Ann come in Game.", 20s)) << bob->Output();
    // A few whole seconds of play on both sides.
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until &&
           (SentPerSecond(bob->Output()).size() < 6 || ReceivedPerSecond(ann->Output()).size() < 6))
        std::this_thread::sleep_for(100ms);
    std::ofstream(dir / "quit") << "go\n";
    EXPECT_EQ(bob->WaitExit(30s), 0) << bob->Output();
    EXPECT_EQ(ann->WaitExit(30s), 0) << ann->Output();

    // The first second is the match starting; the seconds after it count.
    const std::vector<PerSecond> sent = SentPerSecond(bob->Output());
    ASSERT_GE(sent.size(), 6u) << bob->Output();
    for (size_t i = 1; i < sent.size(); ++i) {
        // The cap is 250; a busy machine may draw fewer, but far more frames than STATE go out
        // is what tells a fixed rate from one STATE a frame.
        EXPECT_GE(sent[i].frames, 150) << "second " << i << ": the game drew 250 frames a second";
        EXPECT_LE(sent[i].frames, 275) << "second " << i;
        EXPECT_GE(sent[i].states, 54) << "second " << i << ": 60 STATE a second, not one a frame";
        EXPECT_LE(sent[i].states, 66) << "second " << i;
    }
    // What crossed the link: about four in five, so the relay did lose datagrams.
    const std::vector<int> received = ReceivedPerSecond(ann->Output());
    ASSERT_GE(received.size(), 6u) << ann->Output();
    int total = 0;
    for (size_t i = 1; i < received.size() - 1; ++i)
        total += received[i];
    const double mean = double(total) / double(received.size() - 2);
    EXPECT_GT(mean, 60 * 0.6) << ann->Output();
    EXPECT_LT(mean, 60 * 0.95) << "nothing was lost on the way";
    EXPECT_GT(relay.Dropped(), 0u);
}
