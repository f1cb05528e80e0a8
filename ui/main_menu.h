// ui/main_menu.h — the main menu: connection, player and display choices, the character
// preview, the way into the session screens and the links to the other screens.
//
// Index
//   1. Opening the menu
//   2. List contents      (skins, display modes, devices, quality lists)
//   3. Storing the choices ("LET'S FIGHT" steps on the game state)
//   4. Practice            (a match against computer players on this machine alone)
//
// The screen itself lives in main_menu.cpp; sections 2 and 3 are the rules it is built on,
// kept apart from the widgets so they can be checked on their own.
#pragma once

#include "platform/window/window.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// ---------------------------------------------------------------------------------------------
// 1. Opening the menu
// ---------------------------------------------------------------------------------------------

// Opens the main menu (screen "mainmenu") after the splash: reads the settings, fills its lists,
// shows the news box. The menu stays open until "LET'S FIGHT" reaches the session list (the
// menu then closes) or its QUIT button (or the window's close) ends the program.
void OpenMainMenu();

// ---------------------------------------------------------------------------------------------
// 2. List contents
// ---------------------------------------------------------------------------------------------

inline constexpr std::array<const char*, 2> kTeamNames = {"TERRORIST", "GIGN"};

// The skins of team `team` (0 terrorist, 1 GIGN) in `modelsDir`: every file named the team
// name's first letter, "S", anything, ".bmp", ".tga" or ".png" (letters compared without regard
// to case), as the upper-case text from the name's third character up to its first ".". Sorted
// by file name, each skin once.
std::vector<std::string> SkinNames(const std::filesystem::path& modelsDir, int team);

// The skin picture of `skin` for `team` in `modelsDir` ("TS1.bmp", else "TS1.tga", else
// "TS1.png"); empty when `skin` is empty or no such file exists (matched without regard to case).
std::filesystem::path SkinFile(const std::filesystem::path& modelsDir, int team,
                               std::string_view skin);

// `text` padded with spaces to `width` characters (longer texts are kept whole).
std::string PadRight(std::string_view text, size_t width);

// A display mode entry: width " X " height, padded to 15 characters.
std::string DisplayModeText(int width, int height);
// Reads a display mode entry back: the trimmed number before the "X" and the one after it.
// False (width and height untouched) when there is no "X" or either side is not a number.
bool ParseDisplayMode(std::string_view text, int& width, int& height);

// Device entries: the description padded to 100 characters, then the identifier; the
// identifier is read back from the 100th character, trimmed.
inline constexpr size_t kDeviceColumn = 100;
std::string DeviceEntry(std::string_view description, std::string_view id);
std::string DeviceId(std::string_view entry);

// The display mode and depth lists of one display device, from its modes in enumeration
// order: each size once, in order of first appearance; each depth once, in order of first
// appearance; the desktop's size and depth selected (-1 when absent or the list is empty).
struct DisplayLists {
    std::vector<std::string> modes;
    std::vector<std::string> depths;
    int selectedMode = -1;
    int selectedDepth = -1;
};
DisplayLists BuildDisplayLists(const std::vector<window::DisplayMode>& modes,
                               const window::DisplayMode& desktop);

// The 3D devices offered for every display device: the OpenGL renderer, which is the hardware
// device the menu preselects.
inline constexpr const char* kHardwareDeviceId = "IID_IDirect3DHALDevice";
std::vector<std::string> RenderDeviceEntries();

// The quality lists in menu order, each item with the value it carries (the render quality
// and texture filter values of the old 3D interface, passed to the game unchanged).
struct QualityItem {
    const char* name;
    int32_t value;
};
inline constexpr std::array<QualityItem, 5> kObjectQualities = {{
    {"D3DRMRENDER_WIREFRAME", 64},
    {"D3DRMRENDER_UNLITFLAT", 136},
    {"D3DRMRENDER_FLAT", 128},
    {"D3DRMRENDER_GOURAUD", 129},
    {"D3DRMRENDER_PHONG", 130},
}};
inline constexpr std::array<QualityItem, 6> kTextureQualities = {{
    {"D3DRMTEXTURE_NEAREST", 0},
    {"D3DRMTEXTURE_LINEAR", 1},
    {"D3DRMTEXTURE_MIPNEAREST", 2},
    {"D3DRMTEXTURE_MIPLINEAR", 3},
    {"D3DRMTEXTURE_LINEARMIPNEAREST", 4},
    {"D3DRMTEXTURE_LINEARMIPLINEAR", 5},
}};

// The news shown in a message box when the menu opens.
std::string NewsText();
// The title label: the program name in upper case, " V", the version ("TARNHOLD V1.0.0").
std::string MenuTitle();

// ---------------------------------------------------------------------------------------------
// 3. Storing the choices
// ---------------------------------------------------------------------------------------------

// What the menu's controls hold when "LET'S FIGHT" is pressed. Indices are -1 when a list has
// no selection; texts are the selected items' texts ("" when none).
struct MenuChoices {
    std::string name;       // txtYourName
    int team = 0;           // cmbtyp
    std::string skin;       // Combo3
    int displayDevice = -1; // list_DDraw
    std::string displayDeviceEntry;
    int renderDevice = -1; // list_d3d7
    std::string renderDeviceEntry;
    int displayMode = -1; // list_display
    std::string displayModeEntry;
    std::string depthEntry;  // list_bit
    int objectQuality = 3;   // Combo2
    int textureQuality = 1;  // Combo1
    bool fullScreen = false; // Option1: "FULL SCREEN (3DFX)" rather than "CLIPPER (Window)"
    bool maximised = false;  // Check1
    bool boxMode = false;    // optrnd: "BOX" rather than "Skinned"
    int connection = 0;      // lstConnections
    int serverChoice = 0;    // Option2: 0 the session connection, 1 the web server
};

// The address box that "LET'S FIGHT" shows when the chosen connection reaches one host by
// address. It proposes the address last connected to, which the game key of the settings keeps
// under kHostAddressSetting (written once the session list opens at that address).
inline constexpr const char* kHostAddressCaption = "Host address";
inline constexpr const char* kHostAddressPrompt =
    "Address of the computer that hosts the game (a name or an IP address, :port for another\n"
    "discovery port). Leave it empty to search the local network.";
inline constexpr const char* kHostAddressSetting = "HostAddress";

// The player name of a match: the typed name, or the team's name when it is blank.
std::string PlayerNameFor(std::string_view typed, int team);

// Stores the choices in the game state as "LET'S FIGHT" does, before the settings are written:
// AccountName and Skin; the display, device and quality indices, the mode's size and depth, the
// device identifiers and the two quality values; full screen, maximised, box mode, connection
// and server choice; Team; LoadFlag. Returns the player name (PlayerNameFor).
std::string StoreChoices(const MenuChoices& choices);

// ---------------------------------------------------------------------------------------------
// 4. Practice
// ---------------------------------------------------------------------------------------------
// "PRACTICE" on the main menu: a match on this machine alone, without a session, against
// computer players. The program ends after it, as after a match of the lobby.

inline constexpr const char* kPracticeScreen = "practice";

// Opens the screen "PRACTICE" over the menu: the map (the Create Game list, the one chosen last
// time first), the number of computer players (1..3) and their level (EASY, NORMAL, HARD) as the
// settings keep them. START puts the choices into PracticeMap, BotCount and BotLevel, closes the
// screen and calls `start`; CANCEL or the close box only closes it.
void OpenPractice(std::function<void()> start);
// The game state of the practice match: the local player alone (id 1, named `playerName`) on
// PracticeMap, with BotCount computer players at level BotLevel.
void PreparePractice(std::string_view playerName);
// What runs a practice match and returns the program's exit status; the entry point connects
// the guarded match start (app/wiring.cpp). Null: no match can run.
void SetPracticeRunner(std::function<int()> runner);
// Runs the prepared practice match; nothing when no runner is connected.
std::optional<int> RunPractice();

} // namespace ui
