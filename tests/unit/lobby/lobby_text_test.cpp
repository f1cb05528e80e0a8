// What the lobby, account and map download windows show: map lists from a map folder, the
// session name, the waiting room's lines, the chat history, the account's captions.
#include "core/game_state.h"
#include "ui/account.h"
#include "ui/lobby.h"
#include "ui/map_download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using Names = std::vector<std::string>;

class MapFolder : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::path(::testing::TempDir()) / ("maps-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "folder.map");
        for (const char* name :
             {"desert.map", "a.b.map", "Zone.MAP", "notes.txt", "desert.sol", ".map", "mapless"})
            std::ofstream(dir / name) << "x";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

TEST_F(MapFolder, MapFilesAreListedByNameThenTheBuiltInMaps) {
    // Only regular files ending in ".map" (any case) count, alphabetically.
    EXPECT_EQ(ui::MapFileNames(dir), (Names{"a.b.map", "desert.map", "Zone.MAP"}));
    // Create Game: up to the first "." in upper case, then the built-in maps last.
    EXPECT_EQ(ui::MapChoices(dir), (Names{"A", "DESERT", "ZONE", "ENTREPOT", "COULOIRS"}));
    // The map download window drops only the extension.
    EXPECT_EQ(ui::InstalledMaps(dir), (Names{"A.B", "DESERT", "ZONE"}));
    // No map folder: the built-in maps alone, nothing installed.
    EXPECT_EQ(ui::MapChoices(dir / "missing"), (Names{"ENTREPOT", "COULOIRS"}));
    EXPECT_TRUE(ui::InstalledMaps(dir / "missing").empty());
}

TEST(LobbyText, SessionNameStatusAndPlayerLines) {
    EXPECT_EQ(ui::GameSessionName("", "ENTREPOT"), "Tarnhold game (ENTREPOT)");
    EXPECT_EQ(ui::GameSessionName("Night raid", "DESERT"), "Night raid (DESERT)");
    EXPECT_EQ(ui::WaitingStatus(1, 4), "1 of 4 players ready...");
    EXPECT_EQ(ui::WaitingStatus(3, 4), "3 of 4 players ready...");
    // The side is the formal name's first character: "0" terrorist, any other digit GIGN.
    EXPECT_EQ(ui::WaitingPlayerLine("Ann", "0"), "Ann (TERRORIST)");
    EXPECT_EQ(ui::WaitingPlayerLine("Bob", "12"), "Bob (GIGN)");
    EXPECT_EQ(ui::WaitingPlayerLine("Cy", "7"), "Cy (GIGN)");
    EXPECT_EQ(ui::WaitingPlayerLine("Dee", ""), "Dee (GIGN)");
}

TEST(LobbyText, ChatLinesAreTrimmedAndWrittenWithTheTimeAndWriter) {
    EXPECT_EQ(ui::ChatHistoryEntry("21:04:05", "Ann", "hello all"),
              "\r\n\r\n21:04:05 Ann write: \r\nhello all");
    EXPECT_EQ(ui::TrimSpaces("   "), "");
    EXPECT_EQ(ui::TrimSpaces(""), "");
    EXPECT_EQ(ui::TrimSpaces("  go  go  "), "go  go");
    EXPECT_EQ(ui::TrimSpaces("\tx "), "\tx") << "only spaces are trimmed";
}

TEST(LobbyText, VersionMismatchNamesBothReleases) {
    const std::string text = ui::VersionMismatchText("1.2.0", "1.0.0");
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "You can't play with this Server you don't have the same Release Version:");
    EXPECT_NE(text.find("\nServer = 1.2.0 and Your Soft = 1.0.0\nCheck last Version on "),
              std::string::npos)
        << text;
}

TEST(AccountText, StatisticsAndVersionCaptions) {
    core::TotalKills = 12;
    core::TotalDeaths = 3;
    core::TotalSniperKills = 2;
    core::TotalSnipedDeaths = 0;
    core::WeaponPower = 4;
    EXPECT_EQ(ui::StatisticsLines(),
              (std::array<std::string, 5>{"KILLER: 12", "KILLED: 3", "SNIPPER: 2", "SNIPPED: 0",
                                          "WEAPON RANK: 4"}));
    EXPECT_EQ(ui::ServerVersionLabel(""), "VERSION on SERVER:?.?.?");
    EXPECT_EQ(ui::ServerVersionLabel("1.1.0"), "VERSION on SERVER:1.1.0");
    EXPECT_EQ(ui::NewVersionText("1.1.0", "http://h/r.exe"),
              "New version 1.1.0 at the url:\r\nhttp://h/r.exe");
}

} // namespace
