// core/game_state.cpp — storage of the module-level game state.
#include "core/game_state.h"

#include "model/mdl.h"
#include "platform/audio/audio.h"
#include "platform/registry/registry.h"
#include "platform/scene/scene.h"
#include "platform/system/system.h"

namespace core {

// 1. Start-up identity
int32_t LocalIndex = -1;
std::string ProgramName;
int32_t SoftKey = 1;
std::string VersionText;
std::string DecimalSeparator = ".";
std::string ProgramDirectory;
uint32_t FixedFrameMs = 0;

std::filesystem::path FindProgramDirectory() {
    // The character model, without which no match starts, marks a content folder.
    const auto holdsContent = [](const std::filesystem::path& dir) {
        std::error_code error;
        return std::filesystem::is_regular_file(dir / "models" / "terror.qc", error);
    };
    const std::filesystem::path executableDir = sys::ExecutableDirectory();
    if (holdsContent(executableDir)) return executableDir;
    const std::filesystem::path installed =
        (executableDir / TARNHOLD_CONTENT_FROM_BINDIR).lexically_normal();
    if (holdsContent(installed)) return installed;
    return executableDir;
}

std::filesystem::path UserDataDirectory() {
    return registry::DataDirectory();
}

std::vector<std::filesystem::path> MapFolders(const std::filesystem::path& installDir) {
    return {UserDataDirectory() / "map", installDir / "map"};
}

std::string MakeVersionText(int major, int minor, int revision) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

// 2. Menu choices and settings
int32_t Team = 0;
std::string Skin;
int32_t InvertMouse = 0;
std::array<int32_t, kActionCount> KeyBindings = {
    player::kKeyUp,      player::kKeyDown,        player::kKeyLeft, player::kKeyRight,
    player::kMouseInput, player::kMouseInput + 1, player::kKeyView, player::kKeyLock,
    player::kKeyWeapon,  player::kKeyCrouch};
int32_t MouseSensitivity = 100;
int16_t FullScreen = 0;
bool Maximised = false;
int32_t DisplayWidth = 0;
int32_t DisplayHeight = 0;
int16_t DisplayDepth = 32;
std::string DisplayDriver;
std::string RenderDriver;
int32_t RenderOptionA = 0;
int32_t RenderOptionB = 0;
int32_t DisplayModeIndex = 0;
int32_t DisplayDeviceIndex = 0;
int32_t RenderDeviceIndex = 0;
int32_t TextureQuality = 1;
int32_t ObjectQuality = 3;
bool BoxMode = false;
int32_t StateRate = kDefaultStateRate;
int32_t MaxFrameRate = 0;
int32_t ConnectionIndex = 0;
int32_t ServerChoice = 0;
bool LoadFlag = true;
int32_t BotCount = 3;
int32_t BotLevel = 1;
int32_t GameBotCount = 0;
int32_t GameBotLevel = 1;
std::string PracticeMap;

// 3. Account and statistics
int32_t AccountNumber = 0;
std::string Login;
std::string Password;
std::string Email;
std::string AccountName;
int32_t TotalKills = 0;
int32_t TotalDeaths = 0;
int32_t TotalSniperKills = 0;
int32_t TotalSnipedDeaths = 0;
int32_t WeaponPower = 1;

// 4. Sessions
uint8_t PlayerCount = 0;
std::array<int32_t, kPlayerSlots> PlayerIds{};
std::array<std::string, kPlayerSlots> PlayerNames;
std::array<std::string, kPlayerSlots> PlayerFormalNames;
int32_t MyPlayerId = 0;
std::string MapName;
int32_t MatchBots = 0;
int32_t MatchBotLevel = 1;
std::vector<int32_t> SessionBotIds;
int32_t AutopilotLevel = -1;

// 5. The match
std::array<std::unique_ptr<player::player>, kPlayerSlots> Players;
std::string DataPath;
bool InGame = false;
bool ChatOpen = false;
bool QuitRequested = false;
bool ShowHelp = false;
std::array<std::string, 4> HelpKeyLines = {"Suppr = VUES", "Fin = Bloquage SOURIS",
                                           "Page Down = chgt ARMES", "CTRL = BAISSER"};
std::string MessageLine;
int32_t ViewWidth = 0;
int32_t ViewHeight = 0;
int32_t DeviceWidth = 0;
int32_t DeviceHeight = 0;
double ModelScale = 0.08;
double MatchSeconds = 0.0;
FrameTiming Timing;
std::shared_ptr<scene::Frame> ViewFrame;

// 6. The world
std::shared_ptr<scene::Frame> RootFrame;
std::shared_ptr<scene::Frame> SceneFrame;
std::shared_ptr<scene::Frame> CameraFrame;
std::shared_ptr<scene::Frame> DecorFrameA;
std::shared_ptr<scene::Frame> DecorFrameB;
std::shared_ptr<scene::Frame> FloorFrame;
std::shared_ptr<scene::Frame> WallFrame;
std::shared_ptr<scene::Frame> CeilingFrame;
std::shared_ptr<scene::Frame> LadderFrame;
std::shared_ptr<scene::Frame> PlayerRootFrame;
std::array<std::shared_ptr<scene::Frame>, 6> SectionFrames;
double MapScale = 5.0;
std::string SkyName;
Point3 LightPosition;
std::array<Point3, 5> SpawnPoints{};

// 7. Loaded content
std::array<std::unique_ptr<model::MDL>, 3> Models;
std::vector<std::unique_ptr<model::MDL>> WeaponModels;
std::unique_ptr<audio::AudioSystem> SoundSystem;
std::array<std::unique_ptr<audio::Sound>, 3> GameSounds;
std::shared_ptr<scene::Texture> ScopeTexture;
std::shared_ptr<scene::Texture> CrosshairTexture;
std::shared_ptr<scene::Texture> CurrentCrosshair;

void ResetMatchState() {
    InGame = false;
    ChatOpen = false;
    QuitRequested = false;
    ShowHelp = false;
    MessageLine.clear();
    ViewWidth = ViewHeight = DeviceWidth = DeviceHeight = 0;
    ModelScale = 0.08;
    MatchSeconds = 0.0;
    Timing = FrameTiming{};
    ViewFrame.reset();
}

} // namespace core
