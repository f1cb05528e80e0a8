// platform/input/input.h — keyboard and mouse as the game reads them.
//
// Index
//   1. DirectInput key codes the game uses
//   2. Key-code mapping (SDL scancodes <-> DirectInput codes)
//   3. Keyboard state
//   4. Mouse buttons, cursor and window position
//   5. Event feed (SDL events, injected input)
//
// The keyboard is a 256-byte array indexed by DirectInput key codes; a byte is 0x80 while the
// key is down and 0 otherwise. Input reaches this module in two ways: SDL events that the window
// pump forwards (ProcessEvent), or injection by the automation script (Inject*). While
// injected-only mode is on, SDL keyboard and mouse events are ignored so a script drives the
// program deterministically. Everything here runs on the user-interface thread.
#pragma once

#include <array>
#include <cstdint>

union SDL_Event;
struct SDL_Window;

namespace input {

// ---------------------------------------------------------------------------------------------
// 1. DirectInput key codes the game uses
// ---------------------------------------------------------------------------------------------

inline constexpr int DIK_ESCAPE = 1;
inline constexpr int DIK_1 = 2; // digits 1..9 are 2..10, 0 is 11
inline constexpr int DIK_0 = 11;
inline constexpr int DIK_Q = 16;
inline constexpr int DIK_W = 17;
inline constexpr int DIK_E = 18;
inline constexpr int DIK_R = 19;
inline constexpr int DIK_T = 20;
inline constexpr int DIK_P = 25;
inline constexpr int DIK_RETURN = 28;
inline constexpr int DIK_LCONTROL = 29;
inline constexpr int DIK_A = 30;
inline constexpr int DIK_S = 31;
inline constexpr int DIK_D = 32;
inline constexpr int DIK_LSHIFT = 42;
inline constexpr int DIK_C = 46;
inline constexpr int DIK_SPACE = 57;
inline constexpr int DIK_F1 = 59;
inline constexpr int DIK_F5 = 63;
inline constexpr int DIK_SUBTRACT = 74; // numeric keypad -
inline constexpr int DIK_ADD = 78;      // numeric keypad +
inline constexpr int DIK_NUMPADENTER = 156;
inline constexpr int DIK_RCONTROL = 157;
inline constexpr int DIK_UP = 200;
inline constexpr int DIK_PRIOR = 201; // Page Up
inline constexpr int DIK_LEFT = 203;
inline constexpr int DIK_RIGHT = 205;
inline constexpr int DIK_END = 207;
inline constexpr int DIK_DOWN = 208;
inline constexpr int DIK_NEXT = 209; // Page Down
inline constexpr int DIK_INSERT = 210;
inline constexpr int DIK_DELETE = 211;

// ---------------------------------------------------------------------------------------------
// 2. Key-code mapping
// ---------------------------------------------------------------------------------------------

// The DirectInput code of an SDL scancode (SDL_Scancode value), or 0 when the key has none.
int DikFromScancode(int sdlScancode);

// The SDL scancode of a DirectInput code, or 0 (SDL_SCANCODE_UNKNOWN) when none maps to it.
int ScancodeFromDik(int dik);

// ---------------------------------------------------------------------------------------------
// 3. Keyboard state
// ---------------------------------------------------------------------------------------------

using KeyboardState = std::array<uint8_t, 256>;
inline constexpr uint8_t kKeyDown = 0x80;

// The current keyboard state. The reference stays valid for the life of the program.
const KeyboardState& GetKeyboardState();

// True while the key with DirectInput code `dik` (0..255) is down.
bool IsKeyDown(int dik);

// Releases every key and mouse button (focus lost, start of a scripted run).
void ReleaseAll();

// ---------------------------------------------------------------------------------------------
// 4. Mouse buttons, cursor and window position
// ---------------------------------------------------------------------------------------------

enum class MouseButton { Left = 0, Right = 1, Middle = 2 };

struct Point {
    int x = 0;
    int y = 0;
};

// True while the button is down.
bool IsMouseButtonDown(MouseButton button);

// Relative motion since the previous call (pixels); reading resets it to zero.
Point TakeMouseMotion();

// The cursor position in screen pixels. With a real window and no injection this is the
// system cursor; otherwise the position last set, injected or reported by events.
Point GetCursorPos();

// Moves the cursor to (x, y) in screen pixels (the system cursor too when a window is attached
// and input is not injected-only). Does not count as motion for TakeMouseMotion.
void SetCursorPos(int x, int y);

// The window's client-area left and top in screen pixels; (0, 0) without a window.
Point GetWindowOrigin();

// Attaches the window whose position and cursor are reported; nullptr detaches (headless).
void AttachWindow(SDL_Window* window);

// ---------------------------------------------------------------------------------------------
// 5. Event feed
// ---------------------------------------------------------------------------------------------

// Applies one SDL keyboard, mouse or focus event to the state; other events are ignored, and
// so are keyboard and mouse events while injected-only mode is on.
void ProcessEvent(const SDL_Event& event);

// Injected-only mode: set by the automation when a script drives the program.
void SetInjectedOnly(bool on);
bool IsInjectedOnly();

// Injection by the automation script. `dik` outside 0..255 is ignored.
void InjectKey(int dik, bool down);
void InjectMouseButton(MouseButton button, bool down);
void InjectMouseMove(int x, int y);     // absolute, screen pixels; adds the motion
void InjectMouseMotion(int dx, int dy); // relative; moves the cursor too

} // namespace input
