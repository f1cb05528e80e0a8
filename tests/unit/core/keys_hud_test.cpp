// Global keys, view size, HUD lines, game sounds and the settings in the registry.
#include "core/game.h"
#include "platform/audio/audio.h"
#include "platform/input/input.h"
#include "platform/registry/registry.h"
#include "platform/window/window.h"
#include "tests/support/resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FakeWindow : core::MatchWindow {
    std::string log;
    int chatOpened = 0, chatClosed = 0, messageTimer = 0;
    void AppendLog(std::string_view text) override { log += text; }
    void Show() override {}
    void EndLoading() override {}
    void OpenChat() override { ++chatOpened; }
    void CloseChat() override { ++chatClosed; }
    int ChatTop() const override { return 400; }
    void EnableMessageTimer() override { ++messageTimer; }
    void EnableKeyTimer() override {}
    void Unload() override {}
};

class KeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        input::ReleaseAll();
        core::ResetMatchState();
        core::Players = {};
        core::Players[1] = std::make_unique<player::player>();
        core::LocalIndex = 1;
        core::DeviceWidth = 640;
        core::DeviceHeight = 480;
        core::ViewWidth = 640;
        core::ViewHeight = 480;
        int x, y, w, h;
        core::CreateViewport(1, x, y, w, h, nullptr);
        core::SetMatchWindow(&window);
    }
    void TearDown() override {
        input::ReleaseAll();
        core::SetMatchWindow(nullptr);
        core::Players = {};
        core::LocalIndex = -1;
    }
    // One frame with exactly `keys` down.
    void Frame(std::initializer_list<int> keys) {
        input::ReleaseAll();
        for (int k : keys)
            input::InjectKey(k, true);
        core::HandleGlobalKeys();
    }
    const scene::ViewportParams& View() const { return core::Viewports[1].params; }
    FakeWindow window;
};

TEST_F(KeysTest, EscapeFirstClosesTheChatBoxThenQuits) {
    Frame({input::DIK_F5});
    EXPECT_TRUE(core::ChatOpen);
    EXPECT_EQ(window.chatOpened, 1);
    // While the chat box is open no other key acts.
    core::Players[1]->TOUCHE_OK = true;
    Frame({input::DIK_F1, input::DIK_ADD, input::DIK_F5});
    EXPECT_FALSE(core::ShowHelp);
    EXPECT_EQ(window.chatOpened, 1);
    Frame({input::DIK_ESCAPE});
    EXPECT_FALSE(core::ChatOpen);
    EXPECT_FALSE(core::QuitRequested);
    EXPECT_EQ(window.chatClosed, 1);
    Frame({input::DIK_ESCAPE}); // still held on the next frame: no repeat delay
    EXPECT_TRUE(core::QuitRequested);
}

TEST_F(KeysTest, HelpTogglesOncePerKeyReadyPeriod) {
    core::Players[1]->TOUCHE_OK = true;
    for (int i = 0; i < 10; ++i)
        Frame({input::DIK_F1});
    EXPECT_TRUE(core::ShowHelp);
    core::OnKeyTimer(); // 400 ms later
    Frame({input::DIK_F1});
    EXPECT_FALSE(core::ShowHelp);
}

TEST_F(KeysTest, ViewGrowsAndShrinksAroundTheCentreWithinItsLimits) {
    for (int i = 0; i < 40; ++i)
        Frame({input::DIK_SUBTRACT});
    EXPECT_EQ(core::ViewWidth, 120);
    EXPECT_EQ(core::ViewHeight, 90);
    EXPECT_EQ(View().x, 260);
    EXPECT_EQ(View().y, 195);
    EXPECT_EQ(View().width, 120);
    Frame({input::DIK_ADD});
    EXPECT_EQ(core::ViewWidth, 130);
    EXPECT_EQ(core::ViewHeight, 100);
    EXPECT_EQ(View().x, 255);
    EXPECT_EQ(View().y, 190);
    for (int i = 0; i < 60; ++i)
        Frame({input::DIK_ADD});
    EXPECT_EQ(core::ViewWidth, 640);
    EXPECT_EQ(core::ViewHeight, 480);
    EXPECT_EQ(View().x, 0);
    EXPECT_EQ(View().y, 0);
    // An odd margin rounds its half to even.
    core::ViewWidth = 635;
    core::RecentreView();
    EXPECT_EQ(View().x, 2); // 2.5 -> 2
    core::ViewWidth = 633;
    core::RecentreView();
    EXPECT_EQ(View().x, 4); // 3.5 -> 4
}

TEST_F(KeysTest, ViewportsOutsideTheFourSlotsAreNotCreated) {
    int x = -1, y = -1, w = -1, h = -1;
    core::CreateViewport(4, x, y, w, h, nullptr);
    EXPECT_EQ(w, -1);
    core::CreateViewport(0, x, y, w, h, nullptr);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_FLOAT_EQ(core::Viewports[0].params.back, 5000.0f);
    EXPECT_FLOAT_EQ(core::Viewports[0].params.field, 0.6f);
}

std::vector<std::pair<int, std::string>> Hud() {
    core::BuildHud();
    std::vector<std::pair<int, std::string>> lines;
    for (size_t i = 0; i < core::HudLineCount; ++i)
        lines.emplace_back(core::HudLines[i].y, core::HudLines[i].text.data());
    return lines;
}

TEST_F(KeysTest, HudShowsTheRateTheHelpOrItsHintAndTheMessage) {
    core::MessageLine = "Bob joined";
    using Lines = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(Hud(), (Lines{{10, "Frame Rate : .0"}, {25, "F1 INFOS"}, {230, "Bob joined"}}));

    player::player& p = *core::Players[1];
    p.force = 70;
    p.tueur = 3;
    p.tue = 2;
    p.snipper = 1;
    p.NbBastos = 17;
    core::WeaponPower = 2;
    core::ShowHelp = true;
    core::Timing.framesPerSecond = 59.94f;
    const Lines help = Hud();
    ASSERT_EQ(help.size(), 14u);
    EXPECT_EQ(help[0].second, "Frame Rate : 59.9");
    EXPECT_EQ(help[1], (std::pair<int, std::string>{25, "Suppr = VUES"}));
    EXPECT_EQ(help[6], (std::pair<int, std::string>{100, "VIE : 70"}));
    EXPECT_EQ(help[7].second, "TUEUR : 3");
    EXPECT_EQ(help[8].second, "TUE : 2");
    EXPECT_EQ(help[9].second, "SNIPPER : 1");
    EXPECT_EQ(help[10].second, "SNIPPED : 0");
    EXPECT_EQ(help[11], (std::pair<int, std::string>{175, "AMMO: 17"}));
    EXPECT_EQ(help[12], (std::pair<int, std::string>{190, "WEAPON POWER: 2"}));
    p.mort = true;
    EXPECT_EQ(Hud()[6].second, "VIE : 0");

    // The message timer clears the line.
    core::ShowMessage("Alice est l'hote", 0);
    EXPECT_EQ(window.messageTimer, 1);
    EXPECT_EQ(core::MessageLine, "Alice est l'hote");
    core::OnMessageTimer();
    EXPECT_EQ(core::MessageLine, "");
}

TEST(Sound, PlayingAGameSoundStopsTheJoinSound) {
    audio::OpenOptions loopback;
    loopback.output = audio::OpenOptions::Output::Loopback;
    core::InitSound(loopback);
    const std::string models = std::string(TARNHOLD_INSTALL_DIR) + "/models/";
    core::GameSounds[0] = core::LoadSound(models + "enter.wav", false);
    core::GameSounds[1] = core::LoadSound(models + "chat.wav", false);
    ASSERT_TRUE(core::GameSounds[0] && core::GameSounds[1]);
    EXPECT_EQ(core::LoadSound(models + "missing.wav", true), nullptr);
    TARNHOLD_REQUIRE_RESOURCE(core::SoundSystem->IsAudible(), "OpenAL Soft's loopback device");

    core::PlaySound(0);
    EXPECT_TRUE(core::GameSounds[0]->IsPlaying());
    core::PlaySound(1);
    EXPECT_FALSE(core::GameSounds[0]->IsPlaying());
    EXPECT_TRUE(core::GameSounds[1]->IsPlaying());
    core::PlaySound(0);
    core::PlaySound(2); // empty slot: only stops the join sound
    EXPECT_FALSE(core::GameSounds[0]->IsPlaying());
    core::PlaySound(0);
    core::PlaySound(7); // out of range: the same
    EXPECT_FALSE(core::GameSounds[0]->IsPlaying());
    core::GameSounds = {};
    core::SoundSystem.reset();
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = std::filesystem::path(::testing::TempDir()) /
               ("core-settings-" + std::to_string(::getpid()));
        std::filesystem::remove_all(home);
        ::setenv("TARNHOLD_HOME", home.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(home); }
    static registry::Setting Game(std::string_view name) {
        return registry::ReadSetting(registry::RootKey::LocalMachine, core::kGameKey, name);
    }
    std::filesystem::path home;
};

TEST_F(SettingsTest, FirstRunTakesTheMenuDefaultsAndWritesEveryValueAsText) {
    core::MenuDefaults defaults;
    defaults.displayDepth = 16;
    defaults.displayModeIndex = 4;
    core::WeaponPower = 3;
    core::LitIni(defaults);
    EXPECT_EQ(core::TextureQuality, 1);
    EXPECT_EQ(core::ObjectQuality, 3);
    EXPECT_EQ(core::DisplayDepth, 16);
    EXPECT_EQ(core::DisplayModeIndex, 4);
    EXPECT_EQ(core::WeaponPower, 1);
    EXPECT_EQ(core::Skin, "");

    core::Login = "bob";
    core::TotalKills = 12;
    core::Maximised = true;
    core::EcritIni();
    const std::string text = [&] {
        std::ifstream in(registry::RegistryFile());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }();
    // Values in their fixed order, all as text, booleans as -1/0.
    const std::vector<std::string> order = {
        "\"Skin\"=",  "\"Killer\"=\"12\"", "\"Killed\"=", "\"Snipper\"=",   "\"Snipped\"=",
        "\"Power\"=", "\"Type\"=",         "\"Souris\"=", "\"Bit\"=\"16\"", "\"Full\"=\"-1\"",
        "\"Res\"=",   "\"Draw\"=",         "\"D3D\"=",    "\"Tex\"=\"1\"",  "\"Qua\"=\"3\"",
        "\"Mode\"=",  "\"Box\"=\"0\"",     "\"Dplay1\"=", "\"Dplay2\"="};
    size_t at = text.find("[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]");
    ASSERT_NE(at, std::string::npos);
    for (const std::string& v : order) {
        const size_t next = text.find(v, at);
        ASSERT_NE(next, std::string::npos) << v;
        at = next;
    }
    EXPECT_NE(text.find("\"Login\"=\"bob\""), std::string::npos);
    EXPECT_EQ(text.find("dword"), std::string::npos);
}

TEST_F(SettingsTest, ValuesFromOtherToolsAreReadAndThePowerFollowsTheTotals) {
    using registry::RootKey;
    using registry::ValueType;
    ASSERT_TRUE(registry::EnsureKey(RootKey::LocalMachine, core::kGameKey));
    registry::WriteSetting(RootKey::LocalMachine, core::kGameKey, "Killer", "7", ValueType::Number);
    registry::WriteSetting(RootKey::LocalMachine, core::kGameKey, "Power", "4", ValueType::Text);
    registry::WriteSetting(RootKey::LocalMachine, core::kGameKey, "Full", "1", ValueType::Text);
    registry::WriteSetting(RootKey::LocalMachine, core::kGameKey, "Qua", "junk", ValueType::Text);
    core::LitIni({});
    EXPECT_EQ(core::TotalKills, 7);
    EXPECT_EQ(core::WeaponPower, 2); // follows the totals, not the stored 4
    EXPECT_TRUE(core::Maximised);
    EXPECT_EQ(core::ObjectQuality, 0); // present but unreadable: ToLong gives 0
    core::EcritIni();
    EXPECT_EQ(Game("Killer"), registry::Setting::FromText("7"));
    EXPECT_EQ(Game("Full"), registry::Setting::FromText("-1"));
}

// Settings read without the menu (the developer entry) hold the list indices only: the device
// is the stored index and the mode index counts each size once, as the menu lists them; what
// the menu chose (device identifier, size) wins over the indices.
TEST_F(SettingsTest, StoredDisplayIndicesGiveTheMatchItsDeviceAndMode) {
    using registry::RootKey;
    ASSERT_TRUE(registry::EnsureKey(RootKey::LocalMachine, core::kGameKey));
    for (const auto& [name, value] : {std::pair{"Draw", "1"}, {"Res", "2"}, {"Bit", "16"}})
        registry::WriteSetting(RootKey::LocalMachine, core::kGameKey, name, value,
                               registry::ValueType::Text);
    core::DisplayWidth = core::DisplayHeight = 0;
    core::DisplayDriver.clear();
    core::LitIni({});
    const std::vector<window::DisplayMode> modes = {
        {1024, 768, 32}, {1024, 768, 16}, {800, 600, 32}, {800, 600, 16}, {640, 480, 32}};
    EXPECT_EQ(core::ChosenDisplayDevice(), 1);
    const window::DisplayMode mode = core::ChosenDisplayMode(modes);
    EXPECT_EQ(mode.width, 640);
    EXPECT_EQ(mode.height, 480);
    EXPECT_EQ(mode.bitsPerPixel, 16);
    core::DisplayModeIndex = 3; // beyond the three sizes: the desktop's
    EXPECT_EQ(core::ChosenDisplayMode(modes).width, 0);

    core::DisplayDriver = "0";
    core::DisplayWidth = 800;
    core::DisplayHeight = 600;
    EXPECT_EQ(core::ChosenDisplayDevice(), 0);
    EXPECT_EQ(core::ChosenDisplayMode(modes).width, 800);
    core::DisplayWidth = core::DisplayHeight = 0;
    core::DisplayDriver.clear();
}

// The settings file is not the game's to lose: one the store cannot use (a FIFO, which would
// hang the menu) or lines it cannot read (a number too large for 32 bits) are told to the
// player in a message box, the file as it was is kept aside, and what the player does next is
// saved again.
TEST_F(SettingsTest, ASettingsFileTheStoreCannotUseIsToldKeptAsideAndSavingGoesOn) {
    std::filesystem::create_directories(home);
    const auto file = home / "registry.reg";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    ::testing::internal::CaptureStdout();
    core::LitIni({});
    std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("messagebox"), std::string::npos) << log;
    EXPECT_NE(log.find(file.string() + " is not used: it is not a regular file"), std::string::npos)
        << log;
    EXPECT_EQ(core::TotalKills, 0);
    core::TotalKills = 4;
    core::EcritIni();
    EXPECT_EQ(Game("Killer"), registry::Setting::FromText("4"));
    struct stat info {};
    ASSERT_EQ(::stat((home / "registry.reg.bad").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    const std::string outOfRange = "Windows Registry Editor Version 5.00\r\n\r\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
                                   "\"Killer\"=dword:fffffffff\r\n"
                                   "\"Killed\"=\"2\"\r\n";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << outOfRange;
    ::testing::internal::CaptureStdout();
    core::LitIni({});
    log = ::testing::internal::GetCapturedStdout();
    // The player is told which value was left out and where the file is kept; the kills show
    // as none, the deaths as stored.
    EXPECT_NE(log.find("line 4: \"Killer\": dword:fffffffff does not fit in 32 bits"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("kept as " + (home / "registry.reg.bad.2").string()), std::string::npos)
        << log;
    EXPECT_EQ(core::TotalKills, 0);
    EXPECT_EQ(core::TotalDeaths, 2);
    std::ifstream kept(home / "registry.reg.bad.2", std::ios::binary);
    std::stringstream keptText;
    keptText << kept.rdbuf();
    EXPECT_EQ(keptText.str(), outOfRange);
}

} // namespace
