// platform/window/automation.h — scripted runs: dialogs answered, screens driven, input fed.
//
// Index
//   1. Script format
//   2. Parsed script
//   3. Running a script
//   4. Fixed random seed and frame time
//   5. State reports
//
// A test or a demo names a script file in the environment variable TARNHOLD_SCRIPT. The script
// runs inside window::Yield(), one step per call ("frame"), on the user-interface thread. While a
// script runs, keyboard and mouse come only from it (platform/input's injected-only mode).
//
// 1. Script format
// ----------------
// One command per line; blank lines and lines starting with '#' are ignored. Words are separated
// by blanks; "double-quoted text" is one word (\" and \\ inside quotes stand for " and \).
// Commands run in order. Wait commands hold back the commands after them until their condition
// holds; `press` and `type` hold them back until the widget has taken the action; every other
// command runs at once, so a run of them happens in one frame.
//
//   frame N               wait until frame N (the Nth Yield() call, counting from 1)
//   wait N                wait N more frames
//   sleep MS              wait MS milliseconds of real time
//   waitscreen NAME       wait until a screen named NAME is open
//   waitfile PATH         wait until PATH exists (lets processes of a test meet)
//   key down CODE         key CODE (DirectInput code 0..255) goes down
//   key up CODE           key CODE goes up
//   key press CODE        key CODE goes down now and up at the next frame
//   mouse move X Y        the cursor moves to (X, Y), screen pixels
//   mouse motion DX DY    the cursor moves by (DX, DY)
//   mouse down BUTTON     BUTTON (left, right or middle) goes down
//   mouse up BUTTON       BUTTON goes up
//   answer CAPTION WORD   the next message box captioned CAPTION ("*": any) is answered WORD
//                         (OK, CANCEL, YES or NO); answers wait for their box in order given
//   input CAPTION TEXT    the next input box captioned CAPTION ("*": any) is answered TEXT
//   cancel CAPTION        the next input box captioned CAPTION ("*": any) is cancelled
//   press LABEL           the next button (or option, or clickable label) labelled LABEL is
//                         clicked when drawn enabled
//   type LABEL TEXT       the next text line labelled LABEL gets TEXT when drawn enabled
//   type LABEL TEXT ENTER ... and Enter is pressed in it
//   select LABEL N        the next list box or drop-down list labelled LABEL chooses entry N
//                         (0-based) when drawn enabled and holding that many entries
//   check LABEL on|off    the next check box labelled LABEL is set on or off when drawn enabled
//   screenshot PATH       this frame is written to PATH (BMP); skipped, and logged, headless
//   log TEXT              TEXT goes to the log
//   dump                  the program's report of its state goes to the log as one line
//                         "state: ..." (see SetStateReporter; "state: none" without a reporter)
//   quit                  the program is asked to quit (window::RequestQuit)
//
// Keywords (frame, key, down, OK, left...) are case-insensitive; names and labels are not.
// Example — take a picture of the first screen, then leave through its Quit button:
//
//   wait 3
//   screenshot /tmp/first.bmp
//   press "Quit"
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace automation {

// ---------------------------------------------------------------------------------------------
// 2. Parsed script
// ---------------------------------------------------------------------------------------------

// A script that cannot be read or parsed. what() names the file and the line:
// "run.txt:4: unknown command 'jump'".
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Op {
    Frame,      // number = absolute frame
    Wait,       // number = frames
    Sleep,      // number = milliseconds
    WaitScreen, // text = screen name
    WaitFile,   // text = path
    KeyDown,    // number = DirectInput code
    KeyUp,
    KeyPress,
    MouseMove,   // number, number2 = x, y
    MouseMotion, // number, number2 = dx, dy
    MouseDown,   // number = input::MouseButton
    MouseUp,
    Answer,      // text = caption, number = window::Answer
    InputText,   // text = caption, text2 = answer
    InputCancel, // text = caption
    Press,       // text = label
    Type,        // text = label, text2 = text, flag = Enter
    Select,      // text = label, number = entry
    Check,       // text = label, flag = on
    Screenshot,  // text = path
    Log,         // text = text
    Dump,
    Quit,
};

struct Command {
    Op op = Op::Log;
    int line = 0; // 1-based line in the script
    int64_t number = 0;
    int64_t number2 = 0;
    std::string text;
    std::string text2;
    bool flag = false;
};

struct Script {
    std::string source; // file name, for messages
    std::vector<Command> commands;
};

// Parses a script; `source` names it in errors. Throws ScriptError on the first bad line.
Script ParseScript(std::string_view text, std::string_view source);

// Reads and parses a script file. Throws ScriptError when it cannot be read or parsed.
Script LoadScriptFile(const std::string& path);

// ---------------------------------------------------------------------------------------------
// 3. Running a script
// ---------------------------------------------------------------------------------------------

// Makes `script` the running script (replacing any other) and turns on injected-only input.
void Start(Script script);

// Starts the script named by TARNHOLD_SCRIPT, if the variable is set and not empty. Returns
// whether a script was started. Throws ScriptError when the file is unreadable or bad.
bool StartFromEnvironment();

// Stops the running script and gives input back to the devices.
void Stop();

// True while a script is loaded (also after its last command ran: input stays scripted).
bool IsActive();

// True once every command of the running script has run.
bool IsFinished();

// ---------------------------------------------------------------------------------------------
// 4. Fixed random seed and frame time
// ---------------------------------------------------------------------------------------------

// The seed given in TARNHOLD_SEED (a decimal number 0..4294967295), or nothing when unset.
// Throws ScriptError when the variable is set but not such a number.
std::optional<uint32_t> SeedFromEnvironment();

// The seed the program's random numbers start from: TARNHOLD_SEED when set, else a fresh one.
uint32_t RandomSeed();

// The game time of every frame in milliseconds, given in TARNHOLD_FRAME_MS (1..200), or
// nothing when unset: a scripted run then plays its match frame by frame at that pace whatever
// the real time, so the same script and seed play the same match, and minutes of game time run
// in seconds. Throws ScriptError when the variable is set but not such a number.
std::optional<uint32_t> FrameTimeFromEnvironment();

// ---------------------------------------------------------------------------------------------
// 5. State reports
// ---------------------------------------------------------------------------------------------

// Names the function whose text a script's `dump` command logs: one line on what the program
// is doing now (a match reports its local player's record). The program sets it when such a
// state begins and clears it (empty function) when it ends. Called on the user-interface thread.
void SetStateReporter(std::function<std::string()> reporter);

} // namespace automation
