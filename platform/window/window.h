// platform/window/window.h — the program's window, its event pump, timers and dialogs.
//
// Index
//   1. Window life
//   2. Screens
//   3. Timers
//   4. The pump: Yield
//   5. Dialogs: message box and input box
//   6. Pointer, beep, pictures, screenshots
//   7. Widgets that the automation can drive
//
// One SDL window with an OpenGL 3.3 core context; Dear ImGui draws every screen. With SDL's
// dummy video driver (SDL_VIDEODRIVER=dummy) the window is headless: there is no GL context and
// nothing is drawn, but ImGui frames still run, so screens' logic, timers and the automation
// behave as with a display. Everything here runs on the user-interface thread; window events,
// timers and screen callbacks run only inside Yield().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SDL_Window;

namespace window {

// ---------------------------------------------------------------------------------------------
// 1. Window life
// ---------------------------------------------------------------------------------------------

// Opens the window (hidden size `width` x `height` pixels, caption `title`) and Dear ImGui.
// Falls back to headless when the video driver is "dummy" or no GL 3.3 context can be made.
// Returns false only when SDL's video subsystem cannot start at all. Calling it again while
// open does nothing and returns true.
bool Init(const std::string& title, int width, int height);

// Closes every screen, ImGui, the GL context and the window. Safe to call when not open.
void Shutdown();

bool IsOpen();
bool IsHeadless();

// The SDL window, or nullptr when headless or closed (for the renderer's GL context).
SDL_Window* NativeWindow();

void SetTitle(const std::string& title);
// Client-area size in pixels. Headless, the size is only recorded (ImGui's display size).
void SetSize(int width, int height);
void GetSize(int& width, int& height);
// Set when the user closes the window or the automation says `quit`. Modal loops end when it
// is set; the program's own loops check it.
bool QuitRequested();
void RequestQuit();

// The display devices and their modes, as the system lists them (Init has run). With the
// dummy video driver there is one device with one mode.
struct DisplayMode {
    int width = 0;        // pixels
    int height = 0;       // pixels
    int bitsPerPixel = 0; // colour depth
};
std::vector<std::string> DisplayDeviceNames();
// Modes of device `device` (index in DisplayDeviceNames) in the system's order; empty for an
// unknown device.
std::vector<DisplayMode> DisplayModes(int device);
// The desktop's current mode on `device`; all zero when unknown.
DisplayMode DesktopDisplayMode(int device);

// Full screen on display `device` (index in DisplayDeviceNames; an unknown one: the first) in
// the mode the display offers closest to `mode`: at least its size (0 x 0: the desktop's), then
// its colour depth (0: the desktop's) where the display has such a mode. The window first moves
// to that display and takes the mode's size, so that the drawing surface covers the whole
// screen. The colour depth of the drawing surface itself is fixed when the window is made: a
// mode of another depth changes only what the display shows. Returns the mode in use, logged
// with any difference from `mode`; all zero, the reason logged, when the system refuses.
// Headless nothing happens and `mode` comes back.
DisplayMode SetFullScreen(int device, const DisplayMode& mode);
// Back to a window, centred on display `device` (an unknown one: the first), maximised or at its
// own size. A window keeps the desktop's mode and depth.
void SetWindowed(int device, bool maximised);

// ---------------------------------------------------------------------------------------------
// 2. Screens
// ---------------------------------------------------------------------------------------------

// A screen draws itself with Dear ImGui in Draw(), once per Yield() while open. Screens are
// drawn in the order they were opened; while a modal screen is open, the screens opened before
// it are drawn disabled (visible, not clickable).
class Screen {
public:
    explicit Screen(std::string name) : name_(std::move(name)) {}
    virtual ~Screen() = default;
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // One frame of the screen: ImGui calls, reacting to its widgets. Runs inside Yield().
    virtual void Draw() = 0;
    // Called once when the screen is closed (by itself or by CloseScreen).
    virtual void OnClose() {}

    // The name the automation's `waitscreen` matches and the log reports.
    const std::string& Name() const { return name_; }
    bool IsOpen() const { return open_; }
    bool IsModal() const { return modal_; }

private:
    friend void OpenScreen(const std::shared_ptr<Screen>&);
    friend void ShowModal(const std::shared_ptr<Screen>&);
    friend void CloseScreen(Screen&);
    std::string name_;
    bool open_ = false;
    bool modal_ = false;
};

// Opens a screen modelessly. Opening an open screen does nothing.
void OpenScreen(const std::shared_ptr<Screen>& screen);

// Opens a screen modally and returns when it is closed (or the quit flag is set), calling
// Yield() meanwhile, so timers and other screens keep running.
void ShowModal(const std::shared_ptr<Screen>& screen);

// Closes a screen; closing a closed screen does nothing. A screen may close itself from Draw().
void CloseScreen(Screen& screen);

// True when a screen of that name is open.
bool IsScreenOpen(std::string_view name);

// ---------------------------------------------------------------------------------------------
// 3. Timers
// ---------------------------------------------------------------------------------------------

// Milliseconds from an arbitrary origin, never decreasing.
using Clock = std::function<uint64_t()>;

class Timer;

// A set of timers sharing one clock. The window owns one (Timers()), clocked by SDL's tick
// counter and fired by Yield(); tests make their own with a hand-driven clock.
class TimerQueue {
public:
    explicit TimerQueue(Clock clock);
    ~TimerQueue();
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    uint64_t Now() const { return clock_(); }

    // Runs the callback of every enabled timer whose countdown has expired, at most once per
    // timer per call. A callback may enable, disable, create or destroy timers.
    void FireDue();

private:
    friend class Timer;
    Clock clock_;
    std::vector<Timer*> timers_; // nullptr marks a slot freed during FireDue
    bool firing_ = false;
};

enum class TimerMode {
    Repeating, // fires every interval until disabled
    OneShot,   // disables itself just before its callback runs
};

// A timer registered with a queue for its whole life; starts disabled.
class Timer {
public:
    Timer(TimerQueue& queue, uint32_t intervalMs, TimerMode mode, std::function<void()> onTimer);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Starts the countdown. Enabling an enabled timer keeps its running countdown: a caller may
    // enable it every frame and it still fires one interval after the first enable.
    void Enable();
    // Stops the timer; a later Enable() starts a full interval.
    void Disable();
    void SetEnabled(bool enabled) { enabled ? Enable() : Disable(); }
    bool Enabled() const { return enabled_; }

    // Changes the interval; an enabled timer restarts its countdown from now.
    void SetInterval(uint32_t intervalMs);
    uint32_t Interval() const { return intervalMs_; }

private:
    friend class TimerQueue;
    TimerQueue* queue_;
    uint32_t intervalMs_;
    TimerMode mode_;
    std::function<void()> onTimer_;
    bool enabled_ = false;
    uint64_t due_ = 0;
};

// The window's timer queue (SDL ticks). Valid whether or not the window is open.
TimerQueue& Timers();

// ---------------------------------------------------------------------------------------------
// 4. The pump
// ---------------------------------------------------------------------------------------------

// Lets the program breathe once: pumps window events (keyboard and mouse go to platform/input),
// runs the automation script's step, fires due timers, draws every open screen once and presents
// the frame. Call it from every loop that waits. Allocates nothing in the steady state.
void Yield();

// The number of Yield() calls so far (the automation's frame counter).
uint64_t FrameNumber();

// Called inside Yield() after the back buffer is cleared and before the screens are drawn over
// it, with the GL context current: the 3D view draws itself here. Not called headless.
// nullptr removes it.
void SetBackgroundHook(std::function<void()> hook);

// ---------------------------------------------------------------------------------------------
// 5. Dialogs
// ---------------------------------------------------------------------------------------------

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

// Shows a modal message box and returns the button chosen; Yield() runs meanwhile. Every box is
// written to the log with its caption, text and answer. A box closed by the quit flag, or shown
// headless with no script command left to answer it, answers its first button (Ok or Yes).
Answer MsgBox(std::string_view text, std::string_view caption, Buttons buttons = Buttons::Ok);

// Shows a modal box asking for one line of text; returns it, or nothing when cancelled.
// Headless with no script command left to answer it, it answers `defaultText`; closed by the
// quit flag, it is cancelled.
std::optional<std::string> InputBox(std::string_view prompt, std::string_view caption,
                                    std::string_view defaultText);

// The name of an answer as scripts and the log write it: "OK", "CANCEL", "YES", "NO".
std::string_view AnswerName(Answer answer);

// ---------------------------------------------------------------------------------------------
// 6. Pointer, beep, pictures, screenshots
// ---------------------------------------------------------------------------------------------

enum class Pointer { Normal, Hourglass };
void SetPointer(Pointer pointer);
Pointer GetPointer();
// Shows or hides the pointer over the window (a match hides it).
void ShowPointer(bool shown);

// The system beep: a short tone through SDL audio when a device opens, else nothing.
void Beep();

// A picture loaded for drawing with ImGui::Image. The size is known even headless; the GL
// texture exists only with a GL context. Freed by its destructor.
class Picture {
public:
    Picture() = default;
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // The ImGui texture id (a GL texture name), or 0 when headless.
    void* TextureId() const;

private:
    friend std::shared_ptr<Picture> LoadPicture(const std::string&);
    int width_ = 0;
    int height_ = 0;
    uint32_t texture_ = 0;
};

// Loads a BMP file. Returns nullptr when the file is missing or not a readable picture.
std::shared_ptr<Picture> LoadPicture(const std::string& path);

// Writes the current back buffer as a BMP file. Call it between drawing and presenting (the
// automation's `screenshot` does). Returns false headless or when the file cannot be written.
bool Screenshot(const std::string& path);

// ---------------------------------------------------------------------------------------------
// 7. Widgets that the automation can drive
// ---------------------------------------------------------------------------------------------

// ImGui widgets looked up by label: a script can press a button or type into a text line by
// naming its label. Screens use these instead of the raw ImGui calls for every control a test
// or a demo drives. Labels follow ImGui's rules ("Name##id" shows "Name"; scripts use the part
// before "##"; for a widget that shows no text, "##Name", the name after the "##").

// A button; true on the frame it is clicked or pressed by the script.
bool Button(const char* label, float width = 0.0f, float height = 0.0f);

// A one-line text field editing `text`; true on the frame Enter is pressed in it (or the script
// types into it with ENTER). `maxLength` bounds the text in bytes.
bool InputLine(const char* label, std::string& text, size_t maxLength = 255,
               bool takeFocus = false);

// A list box of `items`, `heightInItems` lines high; `selected` is the chosen entry (-1: none).
// True on the frame the choice changes (a click, or the script's `select LABEL N`).
bool ListBox(const char* label, const std::vector<std::string>& items, int& selected,
             int heightInItems = 8);

// A drop-down list; the same contract as ListBox.
bool Combo(const char* label, const std::vector<std::string>& items, int& selected);

// A check box; true on the frame it changes (a click, or the script's `check LABEL on|off`).
bool CheckBox(const char* label, bool& value);

// One option (radio) button of the group held in `value`; true on the frame it is chosen (a
// click, or the script's `press LABEL`), `value` then being `mine`.
bool Option(const char* label, int& value, int mine);

// A clickable text label: pale yellow, red while the mouse is over it, grey when disabled; true
// on the frame it is clicked (or pressed by the script) while enabled.
bool LabelButton(const char* label, bool enabled = true);

} // namespace window
