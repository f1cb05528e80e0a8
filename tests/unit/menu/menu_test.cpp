// The main menu's rules, the weapon inventory's panels and the help screens: lists built from
// folders and display modes, the choices "LET'S FIGHT" stores and writes, the keyboard screen's
// mouse option, driven headless as a script drives it.
#include "core/game.h"
#include "core/game_state.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"
#include "ui/help.h"
#include "ui/inventory.h"
#include "ui/main_menu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

TEST(MainMenu, SkinListsComeFromTheTeamsPicturesInTheModelsFolder) {
    const fs::path models = FreshDir("skins") / "models";
    fs::create_directories(models / "TSfolder.bmp");
    for (const char* name : {"TS1.bmp", "ts2.BMP", "TSa.b.bmp", "TS7.txt", "GS3.bmp", "XS9.bmp",
                             "terror2_0.bmp", "TS1.png", "GS4.tga", "GS5.PNG"})
        Touch(models / name);

    EXPECT_EQ(ui::SkinNames(models, 0), (std::vector<std::string>{"1", "A", "2"}));
    EXPECT_EQ(ui::SkinNames(models, 1), (std::vector<std::string>{"3", "4", "5"}));
    EXPECT_TRUE(ui::SkinNames(models / "missing", 0).empty());

    // The skin's picture is found whatever the case of its name; no skin, no picture.
    EXPECT_EQ(ui::SkinFile(models, 0, "2").filename(), "ts2.BMP");
    EXPECT_EQ(ui::SkinFile(models, 1, "3").filename(), "GS3.bmp");
    // TGA and PNG skins; a BMP is taken before another picture of the same skin.
    EXPECT_EQ(ui::SkinFile(models, 1, "4").filename(), "GS4.tga");
    EXPECT_EQ(ui::SkinFile(models, 1, "5").filename(), "GS5.PNG");
    EXPECT_EQ(ui::SkinFile(models, 0, "1").filename(), "TS1.bmp");
    EXPECT_TRUE(ui::SkinFile(models, 1, "1").empty()) << "TS1 is not a GIGN skin";
    EXPECT_TRUE(ui::SkinFile(models, 0, "").empty());
}

TEST(MainMenu, DisplayModeTextsAndDeviceEntriesReadBack) {
    EXPECT_EQ(ui::DisplayModeText(800, 600), "800 X 600      ");
    int width = 1;
    int height = 2;
    EXPECT_TRUE(ui::ParseDisplayMode(ui::DisplayModeText(1920, 1080), width, height));
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    EXPECT_TRUE(ui::ParseDisplayMode("640X480", width, height));
    EXPECT_EQ(width, 640);
    for (const char* bad : {"800 x 600", "800 X", " X 600", "wide X tall", "", "800 X 600 X 2"}) {
        width = 1;
        height = 2;
        EXPECT_FALSE(ui::ParseDisplayMode(bad, width, height)) << bad;
        EXPECT_EQ(width, 1) << "a failed read leaves the size alone";
        EXPECT_EQ(height, 2);
    }

    const std::string entry = ui::DeviceEntry("Primary display", "0");
    EXPECT_EQ(entry.size(), 101u);
    EXPECT_EQ(ui::DeviceId(entry), "0");
    EXPECT_EQ(ui::DeviceId(ui::RenderDeviceEntries().at(0)), ui::kHardwareDeviceId);
    EXPECT_EQ(ui::DeviceId("short"), "");
}

TEST(MainMenu, DisplayListsHoldEachSizeAndDepthOnceWithTheDesktopSelected) {
    const std::vector<window::DisplayMode> modes = {{1920, 1080, 32}, {1920, 1080, 32},
                                                    {1280, 1024, 32}, {800, 600, 32},
                                                    {1920, 1080, 24}, {800, 600, 16}};
    ui::DisplayLists lists = ui::BuildDisplayLists(modes, {1280, 1024, 24});
    EXPECT_EQ(lists.modes,
              (std::vector<std::string>{"1920 X 1080    ", "1280 X 1024    ", "800 X 600      "}));
    EXPECT_EQ(lists.depths, (std::vector<std::string>{"32", "24", "16"}));
    EXPECT_EQ(lists.selectedMode, 1);
    EXPECT_EQ(lists.selectedDepth, 1);

    lists = ui::BuildDisplayLists(modes, {1024, 768, 8});
    EXPECT_EQ(lists.selectedMode, -1) << "a desktop size the device does not list";
    EXPECT_EQ(lists.selectedDepth, -1);
    lists = ui::BuildDisplayLists({}, {1024, 768, 32});
    EXPECT_TRUE(lists.modes.empty());
    EXPECT_EQ(lists.selectedMode, -1);
}

// "LET'S FIGHT": what the controls hold goes into the game state, then into the registry.
TEST(MainMenu, LetsFightStoresTheChoicesAndTheRegistryKeepsThem) {
    const fs::path home = FreshDir("fight-home");
    ::setenv("TARNHOLD_HOME", home.c_str(), 1);

    ui::MenuChoices c;
    c.name = "   ";
    c.team = 1;
    c.skin = "3";
    c.displayDevice = 0;
    c.displayDeviceEntry = ui::DeviceEntry("Primary display", "0");
    c.renderDevice = 0;
    c.renderDeviceEntry = ui::RenderDeviceEntries()[0];
    c.displayMode = 2;
    c.displayModeEntry = ui::DisplayModeText(1024, 768);
    c.depthEntry = "24";
    c.objectQuality = 4;
    c.textureQuality = 0;
    c.fullScreen = true;
    c.maximised = false;
    c.boxMode = true;
    c.connection = 0;
    c.serverChoice = 1;
    core::LoadFlag = false;

    EXPECT_EQ(ui::StoreChoices(c), "GIGN") << "a blank name takes the team's name";
    EXPECT_EQ(core::AccountName, "GIGN");
    EXPECT_EQ(core::Skin, "3");
    EXPECT_EQ(core::Team, 1);
    EXPECT_EQ(core::DisplayWidth, 1024);
    EXPECT_EQ(core::DisplayHeight, 768);
    EXPECT_EQ(core::DisplayDepth, 24);
    EXPECT_EQ(core::DisplayModeIndex, 2);
    EXPECT_EQ(core::DisplayDriver, "0");
    EXPECT_EQ(core::RenderDriver, ui::kHardwareDeviceId);
    EXPECT_EQ(core::ObjectQuality, 4);
    EXPECT_EQ(core::RenderOptionB, 130) << "D3DRMRENDER_PHONG";
    EXPECT_EQ(core::TextureQuality, 0);
    EXPECT_EQ(core::RenderOptionA, 0) << "D3DRMTEXTURE_NEAREST";
    EXPECT_EQ(core::FullScreen, 1);
    EXPECT_TRUE(core::BoxMode);
    EXPECT_EQ(core::ServerChoice, 1);
    EXPECT_TRUE(core::LoadFlag);

    // A typed name is kept as typed; the quality items carry their own values.
    c.name = " Zed ";
    c.objectQuality = 1;
    c.textureQuality = 5;
    c.fullScreen = false;
    c.boxMode = false;
    c.maximised = true;
    EXPECT_EQ(ui::StoreChoices(c), " Zed ");
    EXPECT_EQ(core::RenderOptionB, 136) << "D3DRMRENDER_UNLITFLAT";
    EXPECT_EQ(core::RenderOptionA, 5) << "D3DRMTEXTURE_LINEARMIPLINEAR";
    EXPECT_EQ(core::FullScreen, 0);

    core::EcritIni();
    std::ifstream file(home / "registry.reg");
    std::stringstream text;
    text << file.rdbuf();
    for (const char* line :
         {"\"Name\"=\" Zed \"", "\"Skin\"=\"3\"", "\"Type\"=\"1\"", "\"Bit\"=\"24\"",
          "\"Res\"=\"2\"", "\"Qua\"=\"1\"", "\"Tex\"=\"5\"", "\"Mode\"=\"0\"", "\"Full\"=\"-1\"",
          "\"Box\"=\"0\"", "\"Dplay2\"=\"1\""})
        EXPECT_NE(text.str().find(line), std::string::npos) << line << "\n" << text.str();
    ::unsetenv("TARNHOLD_HOME");
}

TEST(MainMenu, TitleAndNewsAreTheFixedTexts) {
    core::ProgramName = "Tarnhold";
    core::VersionText = "1.0.0";
    EXPECT_EQ(ui::MenuTitle(), "TARNHOLD V1.0.0");
    EXPECT_EQ(ui::NewsText(), "NOUVELLES MAPS DESERT & DUST DISPONIBLES  \r\n"
                              "INVERSION SOURIS DANS KEYBOARD\r\n"
                              "NOUVEAU MODE DE VUE INTERIEUR\r\n\r\n"
                              "Merci a tous et BON CLASH!!\r\n"
                              "DUZEVOVO.");
}

TEST(Inventory, PanelsFollowTheWeaponTableAndTheRankUnlocksThem) {
    EXPECT_EQ(ui::WeaponShortName("rifle_m4a1.QC"), "m4a1");
    EXPECT_EQ(ui::WeaponShortName("mp5_ak47.QC"), "ak47");
    EXPECT_EQ(ui::WeaponShortName("a_b_c.QC"), "b_c");
    EXPECT_EQ(ui::WeaponShortName("x_.QC"), "");
    EXPECT_EQ(ui::WeaponShortName("QC"), "");

    const std::vector<std::string> order = {"mac10", "ump45", "aug",   "p90",  "mp5", "ak47",
                                            "m4a1",  "sg550", "sg552", "m249", "m3",  "awp"};
    const std::vector<int> enabled = {4, 6, 9, 12};
    for (int power = 1; power <= 4; ++power) {
        const std::vector<ui::WeaponPanel> panels = ui::WeaponPanels(power, "/inst");
        ASSERT_EQ(panels.size(), 12u);
        std::vector<std::string> names;
        for (const ui::WeaponPanel& p : panels) {
            names.push_back(p.shortName);
            EXPECT_EQ(p.enabled, p.rank <= power) << p.shortName;
        }
        EXPECT_EQ(names, order);
        EXPECT_EQ(std::count_if(panels.begin(), panels.end(),
                                [](const ui::WeaponPanel& p) { return p.enabled; }),
                  enabled[size_t(power - 1)])
            << "weapon power " << power;
    }
    const std::vector<ui::WeaponPanel> panels = ui::WeaponPanels(1, "/inst");
    EXPECT_TRUE(panels[2].scope) << "the aug has a sight though its rank is 1";
    EXPECT_EQ(panels[2].rank, 1);
    EXPECT_TRUE(panels[2].enabled);
    EXPECT_FALSE(panels[4].enabled) << "mp5 needs rank 2";
    EXPECT_EQ(panels[11].picture, fs::path("/inst/weapons/640_awp.bmp"));
    EXPECT_EQ(ui::InventoryTitle(3), "WEAPON INVENTORY Your rank = 3");
}

TEST(Help, ReadmeIsReadWholeByteForByte) {
    const fs::path dir = FreshDir("readme");
    const std::string text("line one\r\nline two\r\n\0after a zero\r\n", 35);
    std::ofstream(dir / "readme.txt", std::ios::binary) << text;
    EXPECT_EQ(ui::ReadmeText(dir), text);
    EXPECT_EQ(ui::ReadmeText(dir / "nowhere"), "") << "a missing readme leaves the box empty";
}

// Runs the keyboard screen headless with `script`, which waits for the screen and closes it.
// The screen runs modally inside the pump, so one Yield may hold its whole life.
void RunKeyboardScreen(const std::string& script) {
    automation::Start(automation::ParseScript(script, "keyboard-test"));
    ui::OpenKeyboardHelp();
    for (int frame = 0; frame < 200 && !automation::IsFinished(); ++frame)
        window::Yield();
    EXPECT_TRUE(automation::IsFinished()) << "the screen never opened or never closed";
    automation::Stop();
    EXPECT_FALSE(window::IsScreenOpen("keyboard"));
}

TEST(Help, KeyboardScreenKeepsOrSetsTheInvertedMouse) {
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    // The screen saves the controls as it closes: into a machine of the test's own.
    const fs::path home = FreshDir("keyboard-home");
    ::setenv("TARNHOLD_HOME", home.c_str(), 1);
    ASSERT_TRUE(window::Init("test", 640, 480));
    const std::string close = "waitscreen keyboard\nwait 2\npress CLOSE\n";

    // Untouched: 0 and 1 stay; another stored value shows ticked and becomes 1.
    for (const auto& [before, after] : {std::pair{0, 0}, {1, 1}, {5, 1}}) {
        core::InvertMouse = before;
        RunKeyboardScreen(close);
        EXPECT_EQ(core::InvertMouse, after) << "stored " << before;
    }
    core::InvertMouse = 0;
    RunKeyboardScreen("waitscreen keyboard\ncheck \"SOURIS INVERSEE\" on\nwait 2\npress CLOSE\n");
    EXPECT_EQ(core::InvertMouse, 1);
    RunKeyboardScreen("waitscreen keyboard\ncheck \"SOURIS INVERSEE\" off\nwait 2\npress CLOSE\n");
    EXPECT_EQ(core::InvertMouse, 0);
    window::Shutdown();
    ::unsetenv("TARNHOLD_HOME");
}

} // namespace
