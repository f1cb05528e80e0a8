// core/game.h — the game core: a match from its start to the end of the program.
//
// Index
//   1. Fatal errors             (FatalError: the message shown before the program ends)
//   2. The layers above         (MatchWindow, MatchNetwork, MatchWeb: what a match asks of the
//                                window it is drawn in, the session and the web service)
//   3. Common routines          (ToLong, UpdateWeaponPower)
//   4. Sound                    (InitSound, LoadSound, PlaySound, ShowMessage)
//   5. Models                   (LoadModels)
//   6. Maps                     (map definition files, the two built-in maps, ExportLogos)
//   7. Frame timing             (monotonic ticks, time scale, frame rate text)
//   8. View, HUD and global keys (viewports, HandleGlobalKeys, the HUD lines)
//   9. The match                (StartMatch, RunMainLoop, display set-up and release)
//  10. Settings                 (LitIni, EcritIni: the game state in the registry)
//  11. Key bindings             (the local player's inputs per action)
//  12. Computer players         (CreateBots and their part of a pass)
//
// Everything runs on the user-interface thread. The state these functions read and write is in
// core/game_state.h. Per-frame functions (sections 7 and 8, RunMainLoop's pass) allocate nothing
// in the steady state and throw nothing; loading functions throw FatalError.
#pragma once

#include "core/game_state.h"
#include "platform/scene/scene.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace audio {
struct OpenOptions;
}
namespace window {
struct DisplayMode;
}

namespace core {

// =============================================================================================
// 1. Fatal errors
// =============================================================================================

// A condition that ends the program: a content file that cannot be read, a missing map. what()
// is the text shown to the player in a message box (file names and line numbers included);
// the entry point shows it and ends the program with status 1.
class FatalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// =============================================================================================
// 2. The layers above
// =============================================================================================
// Interfaces the game core calls and the modules above implement; the entry point connects
// them (app/wiring.cpp).

// The window a match is drawn in, as the game core uses it (the ui module implements it). Its
// two one-shot timers call OnMessageTimer and OnKeyTimer; closing its chat box (Enter or loss of
// focus, after the line was sent) calls OnChatClosed.
class MatchWindow {
public:
    virtual ~MatchWindow() = default;
    virtual void AppendLog(std::string_view text) = 0; // loading log: a line or a "." dot
    virtual void Show() = 0;                           // brings the window up
    virtual void EndLoading() = 0;                     // hides the loading log, pictures and label
    virtual void OpenChat() = 0;           // empties the chat box, shows it and gives it the focus
    virtual void CloseChat() = 0;          // hides the chat box without sending its line
    virtual int ChatTop() const = 0;       // top edge of the chat box, pixels from the window's top
    virtual void EnableMessageTimer() = 0; // the 10000 ms timer (keeps a running countdown)
    virtual void EnableKeyTimer() = 0;     // the 400 ms timer (keeps a running countdown)
    virtual void Unload() = 0;             // the window goes; the session is left
};

// The window of the current match; null outside a match (calls on it are then skipped).
void SetMatchWindow(MatchWindow* window);
MatchWindow* GetMatchWindow();

// Timer and chat box callbacks of the render window.
void OnMessageTimer(); // MessageLine = ""
void OnKeyTimer();     // the local player's TOUCHE_OK = true
void OnChatClosed();   // ChatOpen = false

// The session layer as a match uses it. The network module implements it (net::MatchLink) and
// the entry point connects it for the runs that play over a session. Called on the
// user-interface thread: ReceiveMessages once per pass of RunMainLoop (step 1), FrameShown once
// per pass once its picture is presented, Messages when StartMatch builds the match's world,
// MessagesFrom when it gives a computer player of this machine its sink (CreateBots),
// StateReport for a script's `dump`.
class MatchNetwork {
public:
    virtual ~MatchNetwork() = default;
    virtual void ReceiveMessages() = 0;          // drains the session's message queue
    virtual player::MessageSink& Messages() = 0; // where the local player's messages go
    virtual void FrameShown() {}                 // the pass's picture is on screen
    // Where the messages of the computer player with session id `id` go: they leave from that
    // id. Null: nowhere (the session has no such player of this machine).
    virtual player::MessageSink* MessagesFrom(int32_t id) {
        (void)id;
        return nullptr;
    }
    // What crossed the network in this match, for a script's `dump` (" name=value" fields).
    virtual std::string StateReport() const { return {}; }
};

// The web service as a match uses it. The web client implements it (web::MatchClient) and
// the entry point connects it at start-up. Called on the user-interface thread.
class MatchWeb {
public:
    virtual ~MatchWeb() = default;
    // Fetches the archive of the map `mapName`, whose definition file is missing, and unpacks it
    // into the player's data folder; true when that worked, false without a web server.
    // ReadMapFile asks once.
    virtual bool FetchMap(const std::string& mapName) = 0;
    // The web report of a finished match (quitte_server); RunMainLoop calls it as it closes.
    virtual void ReportMatch() = 0;
};

// The implementations in use; null (the default): no network (nothing is polled, the local
// player's messages go nowhere) and no web service (no download, no report). Not owned.
void SetMatchNetwork(MatchNetwork* network);
MatchNetwork* GetMatchNetwork();
void SetMatchWeb(MatchWeb* web);
MatchWeb* GetMatchWeb();

// =============================================================================================
// 3. Common routines
// =============================================================================================

// Forgiving text-to-integer conversion with the user's decimal separator: a number (decimals
// rounded half to even) or 0 when the text is not one or does not fit in 32 bits.
int32_t ToLong(std::string_view value);

// The score that the weapon power follows: (kills - deaths) + 5 * (sniper kills - sniped
// deaths), the totals plus, during a match (LocalIndex >= 0 with a record), the local
// player's counters. Computed in 64 bits, so no total can overflow it.
int64_t WeaponScore();
// WeaponPower = 1 (score < 5), 2 (< 10), 3 (< 15) or 4.
void UpdateWeaponPower();

// =============================================================================================
// 4. Sound
// =============================================================================================

// Opens the sound device and sets the listener (position and velocity 0, Doppler 1, distance
// factor 0.01, rolloff 0.1, front +z, top +y). Without a device the system is silent.
void InitSound(const audio::OpenOptions& options);
void InitSound();
// Loads a .wav file into a new sound (3D with `is3d`). Null when InitSound has not run, or when
// the file cannot be read: the reason then goes to `error` when given, else to the log.
std::unique_ptr<audio::Sound> LoadSound(const std::string& file, bool is3d,
                                        std::string* error = nullptr);
// Stops game sound 0, then plays game sound `index` once from its start. Nothing for an index
// outside 0..2 or an empty slot.
void PlaySound(int index);
// Shows `text` on the HUD message line for 10 s and plays game sound `soundIndex`.
void ShowMessage(std::string_view text, int soundIndex);
// Reports files a player record could not load (the match goes on without them): each one in
// the log with the reason, and on the HUD message line for 10 s "Cannot load " and the first
// path, with the number of the others ("and 3 more files, see the log"). Plays no sound.
void ReportLoadProblems(std::span<const player::LoadProblem> problems);

// =============================================================================================
// 5. Models
// =============================================================================================

// Loads the character model "terror.qc" into Models[0] (multi-mesh off, hit boxes built) and
// the twelve weapon models into WeaponModels (in weapon-table order, one empty slot after),
// appending a "." to the loading log and yielding before each. Throws FatalError naming the
// file and line when a model cannot be read.
void LoadModels();

// =============================================================================================
// 6. Maps
// =============================================================================================

// The contents of a map definition file ("map/<name>.map").
struct MapDefinition {
    std::string skyName;
    Point3 light;
    std::array<Point3, 4> spawns{};
    int32_t meshScale = 24; // line 7; missing, empty, not a number, 0 or negative give 24
};

// Reads a definition file's text: line 1 the sky name, lines 2..6 "x:y:z" (blanks around each
// field ignored, numbers with the user's decimal separator), line 7 the optional mesh scale;
// later lines are ignored. Lines end in CR LF or LF. Throws FatalError "FILE:LINE: reason" for
// a missing line 1..6, a missing ":" or a field that is not a number.
MapDefinition ParseMapDefinition(std::string_view text, std::string_view fileName);

// The sky box scale of a level with bounding box `box`: the largest extent (x, then y, then z;
// a later one wins only when strictly greater), rounded half to even, halved.
double SkyBoxScale(const scene::Box& box);

// True when the map name, in upper case, is exactly "VILLAGE" (its wall mesh loses two faces).
bool IsVillageMap(std::string_view mapName);

// MapName's definition file, <MapName>.map of the first of MapFolders(DataPath) that holds
// it: a map the player downloaded is found before an installed one. Empty when no folder holds
// it or MapName is not a plain file name.
std::filesystem::path FindMapFile();
// Builds MapName from FindMapFile() and its meshes into the map frames; the meshes and textures
// are looked up beside the definition file first, then in the installation (the caller has added
// the ambient light and created LadderFrame). A missing definition file is asked of the web
// service (MatchWeb::FetchMap) once. Throws FatalError when the map is still missing (the unzip
// instructions) or a file cannot be read.
void ReadMapFile();
// Builds the map MapName into the map frames (created by CreateMapFrames): the built-in
// "couloirs" or "entrepot", else from its definition file (ReadMapFile) with the ambient light
// and LadderFrame it needs. Throws FatalError as ReadMapFile does.
void BuildMap();
// The map's part of the world a match gives its players, as BuildMap left the map: the scene,
// player root, wall and decor frames, the map name and spawn points, the floor, ladder and
// section frames and the map scale. The match adds its models, services and local player.
player::World MapWorld();
// The built-in corridor map "couloirs"; failures after its named mesh builders exist are
// skipped.
void BuildCorridorMap();
// The built-in warehouse map "entrepot".
void BuildWarehouseMap();
// Gives the warehouse meshes their material (power 10, specular 0.2 grey, emissive black,
// ambient factor 0.3 grey) and the colour white.
void DressWarehouse();
// Writes the corridor's logo textures, read from DataPath/media, into LogoDirectory():
// "logo2.bmp", "logo3.bmp", "logo.bmp" and "logo4.bmp" from "logo4_0.bmp" (variant 0) or
// "logo4_1.bmp" (otherwise). Each file is replaced atomically, so a failure leaves the previous
// picture. Errors ignored.
void ExportLogos(int variant);
// Where ExportLogos writes: the "media" folder of this machine's data directory (the
// installation directory may be read-only and is shared by every user). The corridor's meshes
// look for their textures there first, then in DataPath/media.
std::filesystem::path LogoDirectory();

// =============================================================================================
// 7. Frame timing
// =============================================================================================

// Milliseconds and seconds of the monotonic clock the main loop measures with.
uint64_t TimingTickMs();
double TimingSeconds();

// The time scale of a frame that lasted `durationMs`: durationMs / 20 rounded to two decimals;
// above 10 it becomes 1.0; a duration of 0 keeps `previous`.
double TimeScale(double durationMs, double previous);

// Steps 6, 7 and 8 of a pass: frame duration from `tickMs`, the frame rate every 30 frames
// from `nowSeconds`, and the time scale into `ratio`.
void StepFrameTiming(FrameTiming& timing, double tickMs, double nowSeconds, double& ratio);

// The end of a pass: with MaxFrameRate set, waits until its share of the second has passed
// since the pass before (a late pass starts the next at once, never two at once to catch up).
void PaceFrame();

// The frame rate as "#.0": one decimal, no leading zero ("0" gives ".0", 59.94 "59.9"), with
// `separator` as the decimal mark. Writes into `out` (NUL-terminated, truncated to fit).
void FormatFrameRate(float framesPerSecond, std::string_view separator, std::span<char> out);

// =============================================================================================
// 8. View, HUD and global keys
// =============================================================================================

// The viewports of the player slots 0..3; only the local slot's is created and rendered.
struct ViewportSlot {
    bool exists = false;
    scene::ViewportParams params;
};
extern std::array<ViewportSlot, 4> Viewports;

// Creates viewport `index` (0..3; others: nothing) on the whole drawing surface for `camera`
// (null: CameraFrame): front plane 1.0, back plane 5000.0, field 0.6. The rectangle comes back
// through the out arguments.
void CreateViewport(int index, int& x, int& y, int& width, int& height,
                    const std::shared_ptr<scene::Frame>& camera);

// The global keys of one frame, in order: Escape (closes the chat box, else quits), nothing
// more while the chat box is open, F1 (help, once per key-ready period), F5 (chat box), numpad
// + and - (view size, every frame while held).
void HandleGlobalKeys();

// Places the local viewport at the centre of the device: ((DeviceWidth - ViewWidth) / 2,
// (DeviceHeight - ViewHeight) / 2), halves rounded to even, size ViewWidth x ViewHeight.
void RecentreView();

// One line of HUD text: white, at pixel (x, y) of the window.
struct HudLine {
    int x = 0;
    int y = 0;
    std::array<char, 192> text{}; // room for a message line naming a file
};
inline constexpr size_t kMaxHudLines = 20;
// The lines drawn over the current frame (DrawHudText appends; ClearHud empties).
extern std::array<HudLine, kMaxHudLines> HudLines;
extern size_t HudLineCount;
void ClearHud();
// Adds one HUD line (truncated to fit; ignored when the list is full).
void DrawHudText(std::string_view text, int x, int y);
// Fills the HUD of this frame: the frame rate, the help or "F1 INFOS", the message line.
void BuildHud();

// =============================================================================================
// 9. The match
// =============================================================================================

// Starts the match on MapName with PlayerCount players (PlayerIds, PlayerNames,
// PlayerFormalNames, MyPlayerId set by the caller), runs it until Escape and closes it: the
// statistics and settings are saved and every object released. Returns the program's exit
// status (0), after which the program ends. Throws FatalError on content that cannot be read.
int StartMatch();
// The main loop and the close of a match; returns the exit status.
int RunMainLoop();
// Display set-up: full-screen or windowed SDL window on the chosen display device, the
// renderer (none headless), the device size. Full screen asks for ChosenDisplayMode at
// DisplayDepth where the display offers it; a window is DisplayWidth x DisplayHeight (0 x 0:
// as it is) in the desktop's mode and depth.
void SetupFullScreen();
void SetupWindowed();
// The display device of the match: DisplayDriver read as a number (the menu's device
// identifier, the device's index), else DisplayDeviceIndex (settings read without the menu).
int ChosenDisplayDevice();
// The display mode of the match: DisplayWidth x DisplayHeight x DisplayDepth as the menu set
// them; settings read without the menu (no size) give the size at DisplayModeIndex of `modes`
// counted as the menu lists them (each size once, in the system's order), or, outside that
// list, 0 x 0 (the desktop's size).
window::DisplayMode ChosenDisplayMode(const std::vector<window::DisplayMode>& modes);
// Destroys the local player, releases the camera, scene and root frames and the renderer.
void ReleaseDisplay();
// Detaches every child of `frame`, depth first, last child first.
void DeleteFrameTree(scene::Frame& frame);
// Creates the five map frames (DecorFrameA, DecorFrameB, FloorFrame, WallFrame, CeilingFrame)
// under SceneFrame, which must exist; the map builders fill them.
void CreateMapFrames();

// The player::World the records of this match live in (filled by StartMatch).
const player::World& MatchWorld();

// =============================================================================================
// 10. Settings
// =============================================================================================

inline constexpr std::string_view kAccountKey = "Software\\Vesk-Soft";
inline constexpr std::string_view kGameKey = "Software\\Vesk-Soft\\Tarnhold";

// The menu's own selections, used for values missing from the registry.
struct MenuDefaults {
    int16_t displayDepth = 32;
    int32_t displayModeIndex = 0;
    int32_t displayDeviceIndex = 0;
    int32_t renderDeviceIndex = 0;
};

// Reads the account, statistics and options from the machine's registry into the game state
// (missing or unreadable values take their defaults) and recomputes WeaponPower from the totals.
// The menu shows the values afterwards.
void LitIni(const MenuDefaults& defaults);
// Writes every value back as text, in the fixed order; errors are ignored (logged).
void EcritIni();
// Writes the controls alone (the key bindings, the mouse sensitivity and "Souris"), as the
// KEYBOARD screen does when it closes; errors are ignored (logged).
void EcritTouches();

// =============================================================================================
// 11. Key bindings
// =============================================================================================
// The local player's controls: each action has one input, a DirectInput key code or a mouse
// button (player::kMouseInput + button), chosen on the KEYBOARD screen among InputChoices().
// No input does two actions. They are kept in KeyBindings and MouseSensitivity (game_state.h),
// stored with the settings, and given to the local player at the match start.

enum class Action : uint8_t {
    Avancer,
    Reculer,
    EsquiveGauche,
    EsquiveDroite,
    Tir,
    CameraLibre,
    ChangementVues,
    BlocageVisee,
    ChangementArmes,
    Baisser,
};

// One action: its label on the KEYBOARD screen, its value name in the game key, its input when
// nothing else is stored (the game's own keys).
struct ActionRow {
    const char* label;
    const char* setting;
    int32_t defaultInput;
};
inline constexpr std::array<ActionRow, kActionCount> kActions = {{
    {"AVANCER:", "ToucheAvancer", player::kKeyUp},
    {"RECULER:", "ToucheReculer", player::kKeyDown},
    {"ESQUIVE GAUCHE:", "ToucheEsquiveGauche", player::kKeyLeft},
    {"ESQUIVE DROITE:", "ToucheEsquiveDroite", player::kKeyRight},
    {"TIR:", "ToucheTir", player::kMouseInput},
    {"CAMERA LIBRE:", "ToucheCamera", player::kMouseInput + 1},
    {"CHANGEMENT VUES:", "ToucheVues", player::kKeyView},
    {"BLOCAGE VISEE:", "ToucheBlocage", player::kKeyLock},
    {"CHANGEMENT ARMES:", "ToucheArmes", player::kKeyWeapon},
    {"BAISSER:", "ToucheBaisser", player::kKeyCrouch},
}};

// The mouse sensitivities offered, in percent of the plain speed.
inline constexpr std::array<int32_t, 8> kSensitivityChoices = {25, 50, 75, 100, 150, 200, 300, 400};
inline constexpr int32_t kDefaultSensitivity = 100;

// An input the player may bind, with its name on the KEYBOARD screen ("TOUCHE F").
struct InputChoice {
    int32_t input;
    const char* name;
};
// The inputs offered, in the screen lists' order: the mouse buttons, the arrows and the other
// keys of the game, then the rest of the keyboard. The keys the game keeps for itself (Escape,
// F1-F10, the numeric pad's + and -) are not offered.
std::span<const InputChoice> InputChoices();
// `input`'s index in InputChoices(); -1 when it is not offered.
int InputChoiceIndex(int32_t input);
// `input`'s name; "" when it is not offered.
std::string_view InputName(int32_t input);

// KeyBindings = every action's default input; MouseSensitivity = kDefaultSensitivity.
void ResetKeyBindings();
// The action (an Action's value) that `input` triggers; -1 for none. P counts as TIR's while
// TIR is on a mouse button and no other action has P: it fires from the keyboard as it
// always did.
int BoundAction(int32_t input);
// Binds `input` to `action`. "" when done (also when it already was); otherwise the refusal,
// and nothing changes: "<input name> is already bound to <action label without ':'>" when
// another action has it, or a reason when the input is not offered.
std::string BindInput(Action action, int32_t input);
// True when every input is offered and no two actions share one.
bool KeyBindingsAreValid(const std::array<int32_t, kActionCount>& bindings);
// Gives the local player's record its inputs and mouse sensitivity from the bindings: the
// movement, view, lock, weapon and crouch keys; k_clic and k_camera; k_Tir (the bound key, or
// P for a mouse-fired TIR unless another action has P, else none); sensibilite.
void ApplyKeyBindings(player::player& p);
// The F1 help lines of the views, the pitch lock, the weapon and crouching: the game's own
// texts for default keys ("Suppr = VUES"), else the bound input's name ("TOUCHE V = VUES").
std::array<std::string, 4> KeyHelpLines();

// =============================================================================================
// 12. Computer players
// =============================================================================================
// A match may hold computer players (PRACTICE, Create Game, TARNHOLD_BOTS): each is a record of
// Players driven by a bots::Brain as its pilot and simulated on one machine as the local player
// is; alone, in a free slot beside the participants; in a session, as a participant of its own
// (a stand-in of the host's session) simulated on the host. The messages of the records
// simulated here go through sinks of their own: a HIT or a KILLED for a record of this machine
// is delivered to it at once (Toucher, the killer's count, the kill on the message line), the
// others go to the network from the record's own session id.

// The computer-driven records of a match, once the local player is prepared. Without a
// network: MatchBots computer players at level MatchBotLevel in the free slots of 0..3, "Bot 1",
// "Bot 2"..., each on the team with fewer players (ties: the team other than the local
// player's), with a skin of its team, on a spawn point no other body stands on. In a session:
// the participants whose ids are in SessionBotIds become this machine's computer players at
// MatchBotLevel, each with a sink that sends from its id (MatchNetwork::MessagesFrom). With
// AutopilotLevel set, a brain of that level drives the local player (with the weapons of that
// level, in first person). The local player's body becomes hittable whenever any of these is there.
void CreateBots();
// The record in `slot` leaves the match (a hosted computer player's place was taken, or its
// host left): its brain and sink go; the caller destroys the record. The local slot stays.
void ForgetComputerPlayer(int slot);
// The number of computer players in the match.
int BotsInMatch();
// Before the records step in a pass: the computer players' toggle keys may act.
void PrepareBotSteps();
// After the timing step of a pass: the computer players take the local player's `ratio`, their
// returns from death are counted, and "couloirs" shows the sections around the local player.
void FinishBotSteps(double ratio);
// The game time and the computer players for a script's `dump`: " time=S"; per record
// simulated here that has a session id " player<id>=kills,deaths"; the network's report
// (MatchNetwork::StateReport); with computer players, " map=<box of the floors and walls>" and
// per computer-driven record " bot<slot>=x,y,z,mode,alive,deaths,kills,respawns,floor distance
// (-1: no floor below),routes given up".
std::string BotsState();
// Drops the brains once the records are destroyed (ReleaseDisplay).
void ReleaseBots();
// Reads "N" or "N:LEVEL" (N 0..3; LEVEL "easy", "normal" or "hard"; normal when left out) into
// `count` and `level` (0..2). False, leaving both unchanged, for any other text.
bool ParseBots(std::string_view text, int32_t& count, int32_t& level);
// Reads a level's name ("easy", "normal" or "hard") into `level` (0..2). False, leaving it
// unchanged, for any other text.
bool ParseBotLevel(std::string_view text, int32_t& level);
// The name of level 0..2 ("easy", "normal", "hard"); outside, the nearest level's.
std::string_view BotLevelName(int32_t level);

} // namespace core
