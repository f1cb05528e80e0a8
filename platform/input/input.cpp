// platform/input/input.cpp — keyboard state, key-code table, mouse and cursor.
//
// Index
//   1. Scancode table
//   2. State
//   3. Keyboard
//   4. Mouse and cursor
//   5. Event feed
#include "platform/input/input.h"

#include <SDL.h>

namespace input {

// ---------------------------------------------------------------------------------------------
// 1. Scancode table
// ---------------------------------------------------------------------------------------------

namespace {

struct KeyPair {
    SDL_Scancode scancode;
    uint8_t dik;
};

// Every key of a 105-key keyboard plus the common media keys. When two scancodes share a
// DirectInput code, the first listed is the one ScancodeFromDik returns.
constexpr KeyPair kKeyPairs[] = {
    {SDL_SCANCODE_ESCAPE, 1},
    {SDL_SCANCODE_1, 2},
    {SDL_SCANCODE_2, 3},
    {SDL_SCANCODE_3, 4},
    {SDL_SCANCODE_4, 5},
    {SDL_SCANCODE_5, 6},
    {SDL_SCANCODE_6, 7},
    {SDL_SCANCODE_7, 8},
    {SDL_SCANCODE_8, 9},
    {SDL_SCANCODE_9, 10},
    {SDL_SCANCODE_0, 11},
    {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13},
    {SDL_SCANCODE_BACKSPACE, 14},
    {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16},
    {SDL_SCANCODE_W, 17},
    {SDL_SCANCODE_E, 18},
    {SDL_SCANCODE_R, 19},
    {SDL_SCANCODE_T, 20},
    {SDL_SCANCODE_Y, 21},
    {SDL_SCANCODE_U, 22},
    {SDL_SCANCODE_I, 23},
    {SDL_SCANCODE_O, 24},
    {SDL_SCANCODE_P, 25},
    {SDL_SCANCODE_LEFTBRACKET, 26},
    {SDL_SCANCODE_RIGHTBRACKET, 27},
    {SDL_SCANCODE_RETURN, 28},
    {SDL_SCANCODE_LCTRL, 29},
    {SDL_SCANCODE_A, 30},
    {SDL_SCANCODE_S, 31},
    {SDL_SCANCODE_D, 32},
    {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34},
    {SDL_SCANCODE_H, 35},
    {SDL_SCANCODE_J, 36},
    {SDL_SCANCODE_K, 37},
    {SDL_SCANCODE_L, 38},
    {SDL_SCANCODE_SEMICOLON, 39},
    {SDL_SCANCODE_APOSTROPHE, 40},
    {SDL_SCANCODE_GRAVE, 41},
    {SDL_SCANCODE_LSHIFT, 42},
    {SDL_SCANCODE_BACKSLASH, 43},
    {SDL_SCANCODE_NONUSHASH, 43},
    {SDL_SCANCODE_Z, 44},
    {SDL_SCANCODE_X, 45},
    {SDL_SCANCODE_C, 46},
    {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48},
    {SDL_SCANCODE_N, 49},
    {SDL_SCANCODE_M, 50},
    {SDL_SCANCODE_COMMA, 51},
    {SDL_SCANCODE_PERIOD, 52},
    {SDL_SCANCODE_SLASH, 53},
    {SDL_SCANCODE_RSHIFT, 54},
    {SDL_SCANCODE_KP_MULTIPLY, 55},
    {SDL_SCANCODE_LALT, 56},
    {SDL_SCANCODE_SPACE, 57},
    {SDL_SCANCODE_CAPSLOCK, 58},
    {SDL_SCANCODE_F1, 59},
    {SDL_SCANCODE_F2, 60},
    {SDL_SCANCODE_F3, 61},
    {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63},
    {SDL_SCANCODE_F6, 64},
    {SDL_SCANCODE_F7, 65},
    {SDL_SCANCODE_F8, 66},
    {SDL_SCANCODE_F9, 67},
    {SDL_SCANCODE_F10, 68},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69},
    {SDL_SCANCODE_SCROLLLOCK, 70},
    {SDL_SCANCODE_KP_7, 71},
    {SDL_SCANCODE_KP_8, 72},
    {SDL_SCANCODE_KP_9, 73},
    {SDL_SCANCODE_KP_MINUS, 74},
    {SDL_SCANCODE_KP_4, 75},
    {SDL_SCANCODE_KP_5, 76},
    {SDL_SCANCODE_KP_6, 77},
    {SDL_SCANCODE_KP_PLUS, 78},
    {SDL_SCANCODE_KP_1, 79},
    {SDL_SCANCODE_KP_2, 80},
    {SDL_SCANCODE_KP_3, 81},
    {SDL_SCANCODE_KP_0, 82},
    {SDL_SCANCODE_KP_PERIOD, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86},
    {SDL_SCANCODE_F11, 87},
    {SDL_SCANCODE_F12, 88},
    {SDL_SCANCODE_F13, 100},
    {SDL_SCANCODE_F14, 101},
    {SDL_SCANCODE_F15, 102},
    {SDL_SCANCODE_KP_EQUALS, 141},
    {SDL_SCANCODE_KP_ENTER, 156},
    {SDL_SCANCODE_RCTRL, 157},
    {SDL_SCANCODE_MUTE, 160},
    {SDL_SCANCODE_VOLUMEDOWN, 174},
    {SDL_SCANCODE_VOLUMEUP, 176},
    {SDL_SCANCODE_KP_COMMA, 179},
    {SDL_SCANCODE_KP_DIVIDE, 181},
    {SDL_SCANCODE_PRINTSCREEN, 183},
    {SDL_SCANCODE_RALT, 184},
    {SDL_SCANCODE_PAUSE, 197},
    {SDL_SCANCODE_HOME, 199},
    {SDL_SCANCODE_UP, 200},
    {SDL_SCANCODE_PAGEUP, 201},
    {SDL_SCANCODE_LEFT, 203},
    {SDL_SCANCODE_RIGHT, 205},
    {SDL_SCANCODE_END, 207},
    {SDL_SCANCODE_DOWN, 208},
    {SDL_SCANCODE_PAGEDOWN, 209},
    {SDL_SCANCODE_INSERT, 210},
    {SDL_SCANCODE_DELETE, 211},
    {SDL_SCANCODE_LGUI, 219},
    {SDL_SCANCODE_RGUI, 220},
    {SDL_SCANCODE_APPLICATION, 221},
    {SDL_SCANCODE_POWER, 222},
    {SDL_SCANCODE_SLEEP, 223},
};

struct Tables {
    std::array<uint8_t, SDL_NUM_SCANCODES> dikOf{};
    std::array<uint16_t, 256> scancodeOf{};
};

constexpr Tables BuildTables() {
    Tables t;
    for (const KeyPair& pair : kKeyPairs) {
        t.dikOf[pair.scancode] = pair.dik;
        if (t.scancodeOf[pair.dik] == 0)
            t.scancodeOf[pair.dik] = static_cast<uint16_t>(pair.scancode);
    }
    return t;
}

constexpr Tables kTables = BuildTables();

// ---------------------------------------------------------------------------------------------
// 2. State
// ---------------------------------------------------------------------------------------------

struct State {
    KeyboardState keys{};
    std::array<bool, 3> buttons{};
    Point cursor; // last known cursor, screen pixels
    Point motion; // motion accumulated since TakeMouseMotion
    SDL_Window* window = nullptr;
    bool injectedOnly = false;
};

State& S() {
    static State state;
    return state;
}

int ButtonIndex(uint8_t sdlButton) {
    switch (sdlButton) {
    case SDL_BUTTON_LEFT:
        return 0;
    case SDL_BUTTON_RIGHT:
        return 1;
    case SDL_BUTTON_MIDDLE:
        return 2;
    default:
        return -1;
    }
}

} // namespace

int DikFromScancode(int sdlScancode) {
    if (sdlScancode < 0 || sdlScancode >= SDL_NUM_SCANCODES) return 0;
    return kTables.dikOf[static_cast<size_t>(sdlScancode)];
}

int ScancodeFromDik(int dik) {
    if (dik < 0 || dik > 255) return 0;
    return kTables.scancodeOf[static_cast<size_t>(dik)];
}

// ---------------------------------------------------------------------------------------------
// 3. Keyboard
// ---------------------------------------------------------------------------------------------

const KeyboardState& GetKeyboardState() {
    return S().keys;
}

bool IsKeyDown(int dik) {
    if (dik < 0 || dik > 255) return false;
    return S().keys[static_cast<size_t>(dik)] & kKeyDown;
}

void ReleaseAll() {
    S().keys.fill(0);
    S().buttons.fill(false);
}

// ---------------------------------------------------------------------------------------------
// 4. Mouse and cursor
// ---------------------------------------------------------------------------------------------

bool IsMouseButtonDown(MouseButton button) {
    return S().buttons[static_cast<size_t>(button)];
}

Point TakeMouseMotion() {
    const Point motion = S().motion;
    S().motion = {};
    return motion;
}

Point GetCursorPos() {
    State& s = S();
    if (s.window != nullptr && !s.injectedOnly) {
        int x = 0;
        int y = 0;
        SDL_GetGlobalMouseState(&x, &y);
        s.cursor = {x, y};
    }
    return s.cursor;
}

void SetCursorPos(int x, int y) {
    State& s = S();
    s.cursor = {x, y};
    if (s.window != nullptr && !s.injectedOnly) SDL_WarpMouseGlobal(x, y);
}

Point GetWindowOrigin() {
    Point origin;
    if (S().window != nullptr) SDL_GetWindowPosition(S().window, &origin.x, &origin.y);
    return origin;
}

void AttachWindow(SDL_Window* window) {
    S().window = window;
}

// ---------------------------------------------------------------------------------------------
// 5. Event feed
// ---------------------------------------------------------------------------------------------

void ProcessEvent(const SDL_Event& event) {
    State& s = S();
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        // Keys released while another window has the focus never send their key-up.
        if (!s.injectedOnly) ReleaseAll();
        return;
    }
    if (s.injectedOnly) return;
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const int dik = DikFromScancode(event.key.keysym.scancode);
        if (dik != 0) s.keys[static_cast<size_t>(dik)] = event.type == SDL_KEYDOWN ? kKeyDown : 0;
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const int index = ButtonIndex(event.button.button);
        if (index >= 0) s.buttons[static_cast<size_t>(index)] = event.type == SDL_MOUSEBUTTONDOWN;
        break;
    }
    case SDL_MOUSEMOTION: {
        s.motion.x += event.motion.xrel;
        s.motion.y += event.motion.yrel;
        const Point origin = GetWindowOrigin();
        s.cursor = {origin.x + event.motion.x, origin.y + event.motion.y};
        break;
    }
    default:
        break;
    }
}

void SetInjectedOnly(bool on) {
    S().injectedOnly = on;
}
bool IsInjectedOnly() {
    return S().injectedOnly;
}

void InjectKey(int dik, bool down) {
    if (dik < 0 || dik > 255) return;
    S().keys[static_cast<size_t>(dik)] = down ? kKeyDown : 0;
}

void InjectMouseButton(MouseButton button, bool down) {
    S().buttons[static_cast<size_t>(button)] = down;
}

void InjectMouseMove(int x, int y) {
    State& s = S();
    s.motion.x += x - s.cursor.x;
    s.motion.y += y - s.cursor.y;
    s.cursor = {x, y};
}

void InjectMouseMotion(int dx, int dy) {
    State& s = S();
    s.motion.x += dx;
    s.motion.y += dy;
    s.cursor.x += dx;
    s.cursor.y += dy;
}

} // namespace input
