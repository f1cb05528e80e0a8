// core/game_state.h — the game's module-level state, shared by every subsystem.
//
// Index
//   1. Start-up identity        (set once by the entry point, never reset)
//   2. Menu choices and settings (read from the registry, written back at the end of a match)
//   3. Account and statistics   (registry; the statistics grow at the end of every match)
//   4. Sessions                 (the participants of a match and their ids)
//   5. The match                (flags, view, timing; reset by StartMatch)
//   6. The world                (frames, lights and map data; created by StartMatch)
//   7. Loaded content           (models, sounds, textures; created by StartMatch)
//
// Everything here lives on the user-interface thread. Each block states what sets and what
// resets its variables. Booleans that the registry stores as "-1"/"0" are plain bools here.
#pragma once

#include "player/player.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace scene {
class Frame;
class Texture;
} // namespace scene
namespace model {
class MDL;
}
namespace audio {
class AudioSystem;
class Sound;
} // namespace audio

namespace core {

// ---------------------------------------------------------------------------------------------
// 1. Start-up identity
// ---------------------------------------------------------------------------------------------
// Set by the entry point before the splash, in this order, and never changed afterwards;
// `DecimalSeparator` is read by the splash. Nothing resets them: they last the whole process.

// Slot of the local player in `Players`, 0..4; -1 outside a match (the match start sets it).
extern int32_t LocalIndex;

// The program name shown in window captions ("Tarnhold").
extern std::string ProgramName;

// The value the web client sends for the query keys LESOFT and CLE_SOFT; always 1.
extern int32_t SoftKey;

// "major.minor.revision" of this build, decimal numbers (for example "1.0.12").
extern std::string VersionText;

// The decimal separator of the user's locale for numbers ("." or ","); the number readers of
// the model and map files put it in place of the first ".". "." until the splash reads it.
extern std::string DecimalSeparator;

// Game milliseconds of every frame of a match; 0 (the default): the monotonic clock measures
// each frame. Set by the entry point for scripted runs (TARNHOLD_FRAME_MS).
extern uint32_t FixedFrameMs;

// The installation directory (models/, weapons/, map/, media/). Set by the entry point from
// FindProgramDirectory(); when empty, the match start and the screens ask FindProgramDirectory().
extern std::string ProgramDirectory;

// The installation directory as the running program finds it from its own location: the
// executable's directory when the content is beside it (the build tree, a folder copied whole),
// else the content folder of an installed prefix (<prefix>/share/tarnhold for <prefix>/bin),
// else the executable's directory, so that messages about missing files name that one.
std::filesystem::path FindProgramDirectory();

// The player's own data folder: maps and releases downloaded from the web server are unpacked
// into it, since the installation directory may be read-only and is shared by every user.
// $TARNHOLD_HOME/data when TARNHOLD_HOME is set (each machine of a computer has its own), else
// $XDG_DATA_HOME/tarnhold, else ~/.local/share/tarnhold. Not created here.
std::filesystem::path UserDataDirectory();

// The folders that hold map files, in lookup order: the player's own (UserDataDirectory()/map),
// then the installation's (`installDir`/map). A map of the first hides one of the same name in
// the second.
std::vector<std::filesystem::path> MapFolders(const std::filesystem::path& installDir);

// "major.minor.revision" from the three version numbers.
std::string MakeVersionText(int major, int minor, int revision);

// ---------------------------------------------------------------------------------------------
// 2. Menu choices and settings
// ---------------------------------------------------------------------------------------------
// Read by LitIni (core/settings.h) when the menu opens, changed by the menu, written by
// EcritIni when the menu starts a match and at the end of a match. They last the process.

extern int32_t Team;        // local team: 0 "TERRORIST", otherwise "GIGN"
extern std::string Skin;    // local skin suffix: the picture is "TS"/"GS" + Skin + ".bmp"
extern int32_t InvertMouse; // non-zero: the mouse's vertical direction is inverted
// The local player's input per action (core::Action order; key codes, or player::kMouseInput +
// a mouse button), and the mouse look speed in percent; read by LitIni, set by the KEYBOARD
// screen, written by EcritIni and EcritTouches (see game.h, Key bindings).
inline constexpr size_t kActionCount = 10;
extern std::array<int32_t, kActionCount> KeyBindings;
extern int32_t MouseSensitivity;
extern int16_t FullScreen;         // 1 = full-screen display, anything else windowed
extern bool Maximised;             // windowed display in a maximised window
extern int32_t DisplayWidth;       // chosen display mode, pixels (0: keep the window's size)
extern int32_t DisplayHeight;      // pixels (0: keep the window's size)
extern int16_t DisplayDepth;       // bits per pixel of the chosen mode
extern std::string DisplayDriver;  // identifier of the chosen display device ("" default)
extern std::string RenderDriver;   // identifier of the chosen 3D device ("" default)
extern int32_t RenderOptionA;      // device rendering option passed through unchanged
extern int32_t RenderOptionB;      // device rendering option passed through unchanged
extern int32_t DisplayModeIndex;   // index in the menu's display mode list
extern int32_t DisplayDeviceIndex; // index in the menu's display device list
extern int32_t RenderDeviceIndex;  // index in the menu's 3D device list
extern int32_t TextureQuality;     // index in the texture filter list (scene::TextureFilter)
extern int32_t ObjectQuality;      // index in the render quality list (scene::RenderQuality)
extern bool BoxMode;               // players drawn as their hit boxes instead of skinned meshes
extern int32_t ConnectionIndex;    // index in the menu's connection type list
extern int32_t ServerChoice;       // which of the menu's two server options is chosen (0 or 1)
extern bool LoadFlag;              // the menu's permission to start a match; false ends it
// STATE messages the local player sends per second whatever the frame rate (registry value
// "StateRate", kStateRateMin..kStateRateMax, default kDefaultStateRate); a shot, a hit or a
// death goes out at once besides.
inline constexpr int32_t kDefaultStateRate = 60, kStateRateMin = 10, kStateRateMax = 250;
extern int32_t StateRate;
// Passes of the main loop per second at most (registry value "MaxFrameRate"); 0: as many as
// the machine draws.
extern int32_t MaxFrameRate;
extern int32_t BotCount;        // PRACTICE: computer players, 1..3
extern int32_t BotLevel;        // PRACTICE: their level, 0 easy, 1 normal, 2 hard
extern std::string PracticeMap; // PRACTICE: the map's entry in the map list ("" none yet)
extern int32_t GameBotCount;    // Create Game: computer players the host brings, 0..3
extern int32_t GameBotLevel;    // Create Game: their level, 0 easy, 1 normal, 2 hard

// ---------------------------------------------------------------------------------------------
// 3. Account and statistics
// ---------------------------------------------------------------------------------------------
// Read by LitIni, refreshed by the web client, written by EcritIni. The four totals grow by
// the local player's counters at the end of every match. They last the process.

extern int32_t AccountNumber;   // account number on the web service; 0 = none
extern std::string Login;       // account login
extern std::string Password;    // account password, stored as typed
extern std::string Email;       // account e-mail address
extern std::string AccountName; // account display name

extern int32_t TotalKills;        // cumulative kills
extern int32_t TotalDeaths;       // cumulative deaths
extern int32_t TotalSniperKills;  // cumulative head-shot kills
extern int32_t TotalSnipedDeaths; // cumulative deaths by head shot
extern int32_t WeaponPower;       // weapon class allowed, 1..4 (UpdateWeaponPower)

// ---------------------------------------------------------------------------------------------
// 4. Sessions
// ---------------------------------------------------------------------------------------------
// Set by the lobby (or the developer entry) before StartMatch; PlayerIds and the names are
// parallel to `Players`. Last the process.

inline constexpr int kPlayerSlots = 5;
extern uint8_t PlayerCount;                         // participants; forced to 4 after creation
extern std::array<int32_t, kPlayerSlots> PlayerIds; // session id of each slot (0 = none)
extern std::array<std::string, kPlayerSlots> PlayerNames;       // friendly names
extern std::array<std::string, kPlayerSlots> PlayerFormalNames; // team digit + skin suffix
extern int32_t MyPlayerId;                                      // the local session id (non-zero)
extern std::string MapName;                                     // map chosen in the lobby
// Computer players of the next match (0: none) and their level (0 easy, 1 normal, 2 hard):
// set by PRACTICE, Create Game or TARNHOLD_BOTS. A match without a network adds them beside the
// participants; a hosted session makes them players of the session (net::CreateGame), whose
// ids are then in SessionBotIds.
extern int32_t MatchBots;
extern int32_t MatchBotLevel;
// The session ids of the computer players this machine hosts (the session's stand-ins for
// them); empty on a joiner and without a session. The match gives the participants with these
// ids a brain and a sink of their own that sends from their id (CreateBots).
extern std::vector<int32_t> SessionBotIds;
// The level (0..2) of the brain that drives the local player's controls (TARNHOLD_AUTOPILOT);
// -1, the default: the person at the keyboard and mouse.
extern int32_t AutopilotLevel;

// ---------------------------------------------------------------------------------------------
// 5. The match
// ---------------------------------------------------------------------------------------------
// Reset by StartMatch (ResetMatchState) and valid until the program ends.

// Every participant, local and remote (slots 0..4). A slot holds a record while its player is
// in the match; the record owns its frames until Destroy.
extern std::array<std::unique_ptr<player::player>, kPlayerSlots> Players;

extern std::string DataPath; // installation directory (the program's own directory)
extern bool InGame;          // a match is loading or running
extern bool ChatOpen;        // the chat box is open: no key but Escape acts, the player stands
extern bool QuitRequested;   // Escape with the chat box closed: ends the main loop
extern bool ShowHelp;        // the HUD shows the key help lines (F1 toggles)
// The help lines naming the bound keys (KeyHelpLines()), made at the match start.
extern std::array<std::string, 4> HelpKeyLines;
extern std::string MessageLine; // transient message drawn at (10, 230); cleared after 10 s
extern int32_t ViewWidth;       // 3D view size, pixels; numpad +/- change it
extern int32_t ViewHeight;
extern int32_t DeviceWidth; // full size of the drawing surface, pixels: upper view limit
extern int32_t DeviceHeight;
extern double ModelScale;   // scale of every player's joueur frame (0.08)
extern double MatchSeconds; // game seconds since the main loop started (the frames' durations)

// Frame timing of the main loop. Times come from a monotonic clock (TimingTickMs and
// TimingSeconds in core/game.h), kept in doubles so that long matches keep millisecond steps.
struct FrameTiming {
    double windowStart = 0.0;     // seconds: start of the current 30-frame measuring window
    double duration = 0.0;        // milliseconds the last frame took
    double lastTick = 0.0;        // milliseconds: tick read at the end of the last duration step
    float framesPerSecond = 0.0f; // measured over the last 30-frame window; 0 until then
    int32_t frameCounter = 0;     // frames of the current window, 0..30
};
extern FrameTiming Timing;

// The local player's joueur frame, kept by RunMainLoop for the player code.
extern std::shared_ptr<scene::Frame> ViewFrame;

// ---------------------------------------------------------------------------------------------
// 6. The world
// ---------------------------------------------------------------------------------------------
// Created by StartMatch, filled by the map builders (core/map.h), released at the end of the
// match (ReleaseDisplay, DeleteFrameTree).

extern std::shared_ptr<scene::Frame> RootFrame;       // no parent
extern std::shared_ptr<scene::Frame> SceneFrame;      // child of RootFrame; what viewports render
extern std::shared_ptr<scene::Frame> CameraFrame;     // child of SceneFrame
extern std::shared_ptr<scene::Frame> DecorFrameA;     // sky box / first corridor section
extern std::shared_ptr<scene::Frame> DecorFrameB;     // second corridor section
extern std::shared_ptr<scene::Frame> FloorFrame;      // floors: drawn and solid
extern std::shared_ptr<scene::Frame> WallFrame;       // walls: drawn and solid
extern std::shared_ptr<scene::Frame> CeilingFrame;    // ceilings: drawn only
extern std::shared_ptr<scene::Frame> LadderFrame;     // ladders (file maps), child of WallFrame
extern std::shared_ptr<scene::Frame> PlayerRootFrame; // child of WallFrame; parent of joueurs

// The corridor map's six section frames: floor, wall, ceiling of section 1, then of section 2.
// The player code switches them between pickable (2) and nothing (0).
extern std::array<std::shared_ptr<scene::Frame>, 6> SectionFrames;

extern double MapScale;     // 5.0 for the built-in maps, 50.0 for file maps (collision scale)
extern std::string SkyName; // name prefix of the sky box pictures (file maps)
struct Point3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};
extern Point3 LightPosition;              // map light, relative to WallFrame
extern std::array<Point3, 5> SpawnPoints; // slots 0..3 from the map file, scene units

// ---------------------------------------------------------------------------------------------
// 7. Loaded content
// ---------------------------------------------------------------------------------------------
// Created by StartMatch (LoadModels, InitSound) and kept until the program ends.

extern std::array<std::unique_ptr<model::MDL>, 3> Models; // slot 0: the character "terror.qc"
// Weapon models in weapon-table order (0..11) and one empty slot at the end.
extern std::vector<std::unique_ptr<model::MDL>> WeaponModels;

// The sound device and listener; null until InitSound and when sound could not be set up. A
// system without an output device is present but silent.
extern std::unique_ptr<audio::AudioSystem> SoundSystem;
// Game sounds: 0 "enter.wav" (joins, host change), 1 "chat.wav" (chat lines), 2 none.
extern std::array<std::unique_ptr<audio::Sound>, 3> GameSounds;

extern std::shared_ptr<scene::Texture> ScopeTexture;     // "weapons/sniper.bmp" decal
extern std::shared_ptr<scene::Texture> CrosshairTexture; // "weapons/croix.bmp" decal
extern std::shared_ptr<scene::Texture> CurrentCrosshair; // one of the two above

// Resets section 5 to the values a match starts with (flags false, empty message line, zero
// timing, ModelScale 0.08). Called by StartMatch and by tests.
void ResetMatchState();

} // namespace core
