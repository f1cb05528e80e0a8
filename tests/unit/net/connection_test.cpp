// Reaching sessions: the addresses a player types for the connection that asks one host, and
// the map a joiner reads from the name of the session it joined.
#include "net/net.h"

#include <gtest/gtest.h>

#include "tests/support/discovery_port.h"

#include <memory>
#include <optional>
#include <string>

namespace {

// "host" or "host:port" as parsed, "-" for a refused text.
std::string Parsed(std::string_view typed) {
    const std::optional<session::Address> a = net::ParseHostAddress(typed);
    if (!a) return "-";
    return a->port == 0 ? a->host : a->host + ":" + std::to_string(a->port);
}

TEST(Connection, TypedHostAddressesAreNamesOrDottedAddressesWithAnOptionalPort) {
    EXPECT_EQ(Parsed("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(Parsed("  192.168.1.20 "), "192.168.1.20") << "blanks around are the box's";
    EXPECT_EQ(Parsed("127.0.0.1:47700"), "127.0.0.1:47700");
    EXPECT_EQ(Parsed("localhost"), "localhost");
    EXPECT_EQ(Parsed("game-host.example.org:9"), "game-host.example.org:9");
    // Never handed to a name server: numbers that are no IPv4 address, ports out of range,
    // characters no host name has, empty labels, IPv6.
    for (const char* bad : {"300.1.2.3",
                            "1.2.3",
                            "1.2.3.4.5",
                            "1.2.3.0004",
                            "127.0.0.1:0",
                            "127.0.0.1:65536",
                            "127.0.0.1:",
                            "127.0.0.1:80x",
                            ":47624",
                            "host name",
                            "ann's pc",
                            "-host",
                            "host-.lan",
                            "a..b",
                            ".lan",
                            "::1",
                            "[::1]:47624",
                            "http://127.0.0.1",
                            "",
                            "   "})
        EXPECT_EQ(Parsed(bad), "-") << bad;
    EXPECT_EQ(Parsed(std::string(64, 'a')), "-") << "a label holds at most 63 characters";
    EXPECT_EQ(Parsed(std::string(63, 'a') + ".lan"), std::string(63, 'a') + ".lan");
}

TEST(Connection, TheMapOfASessionIsTheTextInItsLastParenthesesInLowerCase) {
    EXPECT_EQ(net::MapOfSessionName("Tarnhold game (ENTREPOT)"), "entrepot");
    EXPECT_EQ(net::MapOfSessionName("Ann's (best) game (COUR)"), "cour");
    EXPECT_EQ(net::MapOfSessionName("Bob (DE (2))"), "de (2)") << "a map entry with parentheses";
    EXPECT_EQ(net::MapOfSessionName(" (USINE)"), "usine") << "an empty game name";
    for (const char* none :
         {"", "Ann's game", "Ann (COUR) tonight", "(COUR)", "Ann(COUR)", "Ann COUR)", "Ann ()"})
        EXPECT_EQ(net::MapOfSessionName(none), "") << none;
}

// This machine hosts on the LAN provider and a second session object of the game connects to it
// by the address typed for it.
class ByAddress : public ::testing::Test {
protected:
    void SetUp() override {
        net::ServiceSettings.discoveryPort = testsupport::FreshDiscoveryPort();
        net::ServiceSettings.discoveryPortCount = 4;
        net::LanTarget = "127.0.0.1";
        host = std::make_unique<session::Service>(net::ServiceSettings);
        host->Initialize(session::ProviderKind::Lan, {"127.0.0.1", 0});
        session::SessionDesc desc;
        desc.application = *session::Guid::Parse(net::kApplicationGuid);
        desc.name = "Hal's game (USINE)";
        desc.flags = session::kSessionMigrateHost;
        ASSERT_EQ(host->Open(desc, session::OpenMode::Create), session::Error::Ok);
        uint32_t id = 0;
        ASSERT_EQ(host->CreatePlayer("Hal", "1", id), session::Error::Ok);
        ASSERT_TRUE(net::InitDirectPlay());
        for (size_t i = 0; i < net::ConnectionList.size(); ++i)
            if (net::ConnectionAsksAddress(int(i))) direct = int(i);
        ASSERT_GE(direct, 0) << "a connection reaches one host by address";
    }
    void TearDown() override { net::CloseDirectPlay(); }

    std::unique_ptr<session::Service> host;
    int direct = -1;
};

TEST_F(ByAddress, TheTypedHostsSessionsAreListedAndABadAddressIsRefusedWithTheFixedMessage) {
    EXPECT_FALSE(net::ConnectionAsksAddress(direct == 0 ? 1 : 0)) << "the LAN connection";
    std::vector<std::string> entries;
    ASSERT_TRUE(net::ConnectByAddress(direct, " 127.0.0.1 ", entries));
    EXPECT_EQ(entries, (std::vector<std::string>{"Hal's game (USINE) (1/4)"}));
    EXPECT_EQ(net::ServerAddress.host, "127.0.0.1");
    const std::string port = std::to_string(net::ServiceSettings.discoveryPort);
    ASSERT_TRUE(net::ConnectByAddress(direct, "127.0.0.1:" + port, entries));
    EXPECT_EQ(entries.size(), 1u) << "the host's own discovery port";

    // A port nobody answers on: an empty list, and the connection stands.
    const std::string silent = std::to_string(testsupport::FreshDiscoveryPort());
    ASSERT_TRUE(net::ConnectByAddress(direct, "127.0.0.1:" + silent, entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(net::ServerAddress.port, std::stoi(silent));

    // Not an address: the fixed message, nothing asked, no host kept.
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(net::ConnectByAddress(direct, "300.1.2.3", entries));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": Failed to initialize connection."), std::string::npos) << out;
    EXPECT_TRUE(net::ServerAddress.host.empty());
    EXPECT_TRUE(entries.empty());

    // Blank: the local network, as the LAN connection searches it.
    ASSERT_TRUE(net::ConnectByAddress(direct, "", entries));
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_TRUE(net::ServerAddress.host.empty());
}

} // namespace
