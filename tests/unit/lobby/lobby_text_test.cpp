// What the lobby, account and map download windows show: map lists from a map folder and the
// account's captions. The waiting room's lines and the chat are checked on real sessions in
// lobby_screens_test.cpp.
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
    EXPECT_EQ(ui::MapFileNames({dir}), (Names{"a.b.map", "desert.map", "Zone.MAP"}));
    // Create Game: up to the first "." in upper case, then the built-in maps last.
    EXPECT_EQ(ui::MapChoices({dir}), (Names{"A", "DESERT", "ZONE", "ENTREPOT", "COULOIRS"}));
    // The map download window drops only the extension.
    EXPECT_EQ(ui::InstalledMaps({dir}), (Names{"A.B", "DESERT", "ZONE"}));
    // No map folder: the built-in maps alone, nothing installed.
    EXPECT_EQ(ui::MapChoices({dir / "missing"}), (Names{"ENTREPOT", "COULOIRS"}));
    EXPECT_TRUE(ui::InstalledMaps({dir / "missing"}).empty());
}

TEST_F(MapFolder, ThePlayersOwnMapsJoinTheInstalledOnesOnceEach) {
    // The player's folder (first) holds a map of its own and its own copy of an installed one.
    const std::filesystem::path own = dir / "own";
    std::filesystem::create_directories(own);
    for (const char* name : {"oasis.map", "DESERT.map", "oasis.sol"})
        std::ofstream(own / name) << "x";
    EXPECT_EQ(ui::MapFileNames({own, dir}),
              (Names{"a.b.map", "DESERT.map", "oasis.map", "Zone.MAP"}));
    EXPECT_EQ(ui::MapChoices({own, dir}),
              (Names{"A", "DESERT", "OASIS", "ZONE", "ENTREPOT", "COULOIRS"}));
    EXPECT_EQ(ui::InstalledMaps({dir / "missing", own}), (Names{"DESERT", "OASIS"}));
}

TEST(LobbyText, AnEmptyGameNameTakesTheDefault) {
    EXPECT_EQ(ui::GameSessionName("", "ENTREPOT"), "Tarnhold game (ENTREPOT)");
    EXPECT_EQ(ui::GameSessionName(" ", "COULOIRS"), "  (COULOIRS)") << "only an empty name";
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
