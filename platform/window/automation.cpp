// platform/window/automation.cpp — script parsing and the per-frame script step.
//
// Index
//   1. Tokens and parsing
//   2. Running state
//   3. Step
//   4. Queries from dialogs and widgets
//   5. Seed, state reports
#include "platform/window/automation.h"

#include "platform/input/input.h"
#include "platform/system/system.h"
#include "platform/window/automation_local.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace automation {

// ---------------------------------------------------------------------------------------------
// 1. Tokens and parsing
// ---------------------------------------------------------------------------------------------

namespace {

struct LineError {
    std::string reason;
};

std::vector<std::string> Tokenize(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
                    word += line[i++];
                    continue;
                }
                word += c;
            }
            if (!closed) throw LineError{"unterminated quoted text"};
            if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                throw LineError{"missing blank after quoted text"};
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string Lower(std::string_view word) {
    std::string lower(word);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

int64_t ParseInteger(const std::string& word, int64_t low, int64_t high, const char* what) {
    int64_t value = 0;
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high)
        throw LineError{std::string(what) + " must be a whole number from " + std::to_string(low) +
                        " to " + std::to_string(high) + ", not '" + word + "'"};
    return value;
}

void ExpectCount(const std::vector<std::string>& words, size_t low, size_t high,
                 const char* usage) {
    if (words.size() < low || words.size() > high)
        throw LineError{std::string("expected: ") + usage};
}

int ParseMouseButton(const std::string& word) {
    const std::string w = Lower(word);
    if (w == "left") return static_cast<int>(input::MouseButton::Left);
    if (w == "right") return static_cast<int>(input::MouseButton::Right);
    if (w == "middle") return static_cast<int>(input::MouseButton::Middle);
    throw LineError{"mouse button must be left, right or middle, not '" + word + "'"};
}

int ParseAnswer(const std::string& word) {
    const std::string w = Lower(word);
    if (w == "ok") return static_cast<int>(window::Answer::Ok);
    if (w == "cancel") return static_cast<int>(window::Answer::Cancel);
    if (w == "yes") return static_cast<int>(window::Answer::Yes);
    if (w == "no") return static_cast<int>(window::Answer::No);
    throw LineError{"answer must be OK, CANCEL, YES or NO, not '" + word + "'"};
}

constexpr int64_t kMaxNumber = 2'000'000'000;

Command ParseLine(const std::vector<std::string>& w) {
    Command c;
    const std::string verb = Lower(w[0]);
    if (verb == "frame" || verb == "wait" || verb == "sleep") {
        ExpectCount(w, 2, 2, verb == "sleep" ? "sleep MS" : (verb + " N").c_str());
        c.op = verb == "frame" ? Op::Frame : verb == "wait" ? Op::Wait : Op::Sleep;
        c.number = ParseInteger(w[1], 0, kMaxNumber, verb == "sleep" ? "milliseconds" : "frame");
    } else if (verb == "waitscreen" || verb == "waitfile") {
        ExpectCount(w, 2, 2, verb == "waitscreen" ? "waitscreen NAME" : "waitfile PATH");
        c.op = verb == "waitscreen" ? Op::WaitScreen : Op::WaitFile;
        c.text = w[1];
    } else if (verb == "key") {
        ExpectCount(w, 3, 3, "key down|up|press CODE");
        const std::string how = Lower(w[1]);
        if (how == "down")
            c.op = Op::KeyDown;
        else if (how == "up")
            c.op = Op::KeyUp;
        else if (how == "press")
            c.op = Op::KeyPress;
        else
            throw LineError{"key action must be down, up or press, not '" + w[1] + "'"};
        c.number = ParseInteger(w[2], 1, 255, "key code");
    } else if (verb == "mouse") {
        if (w.size() < 2) throw LineError{"expected: mouse move|motion|down|up ..."};
        const std::string how = Lower(w[1]);
        if (how == "move" || how == "motion") {
            ExpectCount(w, 4, 4, how == "move" ? "mouse move X Y" : "mouse motion DX DY");
            c.op = how == "move" ? Op::MouseMove : Op::MouseMotion;
            const int64_t low = how == "move" ? 0 : -100000;
            c.number = ParseInteger(w[2], low, 100000, "coordinate");
            c.number2 = ParseInteger(w[3], low, 100000, "coordinate");
        } else if (how == "down" || how == "up") {
            ExpectCount(w, 3, 3, "mouse down|up left|right|middle");
            c.op = how == "down" ? Op::MouseDown : Op::MouseUp;
            c.number = ParseMouseButton(w[2]);
        } else {
            throw LineError{"mouse action must be move, motion, down or up, not '" + w[1] + "'"};
        }
    } else if (verb == "answer") {
        ExpectCount(w, 3, 3, "answer CAPTION OK|CANCEL|YES|NO");
        c.op = Op::Answer;
        c.text = w[1];
        c.number = ParseAnswer(w[2]);
    } else if (verb == "input") {
        ExpectCount(w, 3, 3, "input CAPTION TEXT");
        c.op = Op::InputText;
        c.text = w[1];
        c.text2 = w[2];
    } else if (verb == "cancel") {
        ExpectCount(w, 2, 2, "cancel CAPTION");
        c.op = Op::InputCancel;
        c.text = w[1];
    } else if (verb == "press") {
        ExpectCount(w, 2, 2, "press LABEL");
        c.op = Op::Press;
        c.text = w[1];
    } else if (verb == "type") {
        ExpectCount(w, 3, 4, "type LABEL TEXT [ENTER]");
        c.op = Op::Type;
        c.text = w[1];
        c.text2 = w[2];
        if (w.size() == 4) {
            if (Lower(w[3]) != "enter")
                throw LineError{"the word after the text must be ENTER, not '" + w[3] + "'"};
            c.flag = true;
        }
    } else if (verb == "select") {
        ExpectCount(w, 3, 3, "select LABEL N");
        c.op = Op::Select;
        c.text = w[1];
        c.number = ParseInteger(w[2], 0, 100000, "entry");
    } else if (verb == "check") {
        ExpectCount(w, 3, 3, "check LABEL on|off");
        c.op = Op::Check;
        c.text = w[1];
        const std::string how = Lower(w[2]);
        if (how != "on" && how != "off")
            throw LineError{"check takes on or off, not '" + w[2] + "'"};
        c.flag = how == "on";
    } else if (verb == "screenshot") {
        ExpectCount(w, 2, 2, "screenshot PATH");
        c.op = Op::Screenshot;
        c.text = w[1];
    } else if (verb == "log") {
        ExpectCount(w, 2, 2, "log TEXT");
        c.op = Op::Log;
        c.text = w[1];
    } else if (verb == "dump") {
        ExpectCount(w, 1, 1, "dump");
        c.op = Op::Dump;
    } else if (verb == "quit") {
        ExpectCount(w, 1, 1, "quit");
        c.op = Op::Quit;
    } else {
        throw LineError{"unknown command '" + w[0] + "'"};
    }
    return c;
}

} // namespace

Script ParseScript(std::string_view text, std::string_view source) {
    Script script;
    script.source = source;
    int lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        ++lineNumber;
        start = end + 1;
        try {
            const std::vector<std::string> words = Tokenize(line);
            if (words.empty() || words[0].starts_with('#')) continue;
            Command command = ParseLine(words);
            command.line = lineNumber;
            script.commands.push_back(std::move(command));
        } catch (const LineError& error) {
            throw ScriptError(std::string(source) + ":" + std::to_string(lineNumber) + ": " +
                              error.reason);
        }
        if (end == text.size()) break;
    }
    return script;
}

Script LoadScriptFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ScriptError(path + ": cannot read the script file");
    std::ostringstream text;
    text << file.rdbuf();
    return ParseScript(text.str(), path);
}

// ---------------------------------------------------------------------------------------------
// 2. Running state
// ---------------------------------------------------------------------------------------------

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Running {
    bool active = false;
    Script script;
    size_t next = 0;                     // index of the next command to run
    uint64_t waitFrame = 0;              // commands wait until this frame
    SteadyClock::time_point waitUntil;   // ... and this time
    std::vector<Command> answers;        // Answer / InputText / InputCancel, oldest first
    std::array<bool, 256> releaseNext{}; // keys of `key press` to release next frame
    bool screenshotPending = false;
    bool headStarted = false; // the command at `next` has run and holds the script back
};

Running& R() {
    static Running running;
    return running;
}

// The program's state reporter, for `dump`; empty when it has none.
std::function<std::string()>& Reporter() {
    static std::function<std::string()> reporter;
    return reporter;
}

void Say(const Command& c, std::string_view what) {
    sys::Log("[script] " + R().script.source + ":" + std::to_string(c.line) + ": " +
             std::string(what));
}

} // namespace

void Start(Script script) {
    Stop();
    Running& r = R();
    r.active = true;
    r.script = std::move(script);
    input::ReleaseAll();
    input::SetInjectedOnly(true);
}

bool StartFromEnvironment() {
    const char* path = std::getenv("TARNHOLD_SCRIPT");
    if (path == nullptr || *path == '\0') return false;
    Start(LoadScriptFile(path));
    return true;
}

void Stop() {
    Running& r = R();
    if (r.active) input::SetInjectedOnly(false);
    r = Running{};
}

bool IsActive() {
    return R().active;
}

bool IsFinished() {
    return R().active && R().next >= R().script.commands.size();
}

// ---------------------------------------------------------------------------------------------
// 3. Step
// ---------------------------------------------------------------------------------------------

namespace detail {

namespace {

// Runs one command. Returns false when the command holds back the ones after it this frame.
bool Run(const Command& c, uint64_t frame) {
    Running& r = R();
    switch (c.op) {
    case Op::Frame:
        r.waitFrame = static_cast<uint64_t>(c.number);
        return frame >= r.waitFrame;
    case Op::Wait:
        r.waitFrame = frame + static_cast<uint64_t>(c.number);
        return c.number == 0;
    case Op::Sleep:
        r.waitUntil = SteadyClock::now() + std::chrono::milliseconds(c.number);
        return false;
    case Op::KeyDown:
        input::InjectKey(static_cast<int>(c.number), true);
        return true;
    case Op::KeyUp:
        input::InjectKey(static_cast<int>(c.number), false);
        return true;
    case Op::KeyPress:
        input::InjectKey(static_cast<int>(c.number), true);
        r.releaseNext[static_cast<size_t>(c.number)] = true;
        return true;
    case Op::MouseMove:
        input::InjectMouseMove(static_cast<int>(c.number), static_cast<int>(c.number2));
        return true;
    case Op::MouseMotion:
        input::InjectMouseMotion(static_cast<int>(c.number), static_cast<int>(c.number2));
        return true;
    case Op::MouseDown:
    case Op::MouseUp:
        input::InjectMouseButton(static_cast<input::MouseButton>(c.number), c.op == Op::MouseDown);
        return true;
    case Op::Answer:
    case Op::InputText:
    case Op::InputCancel:
        r.answers.push_back(c);
        return true;
    case Op::Screenshot:
        r.screenshotPending = true;
        return false;
    case Op::Log:
        Say(c, c.text);
        return true;
    case Op::Dump:
        Say(c, "state: " + (Reporter() ? Reporter()() : std::string("none")));
        return true;
    case Op::Quit:
        Say(c, "quit");
        window::RequestQuit();
        return true;
    case Op::WaitScreen:
    case Op::WaitFile:
    case Op::Press:
    case Op::Type:
    case Op::Select:
    case Op::Check:
        return false; // handled by the head-of-script checks below
    }
    return true;
}

// True when the command at the head of the script no longer holds the script back.
bool HeadReleased(const Command& c, uint64_t frame) {
    Running& r = R();
    switch (c.op) {
    case Op::Frame:
    case Op::Wait:
        return frame >= r.waitFrame;
    case Op::Sleep:
        return SteadyClock::now() >= r.waitUntil;
    case Op::WaitScreen:
        return window::IsScreenOpen(c.text);
    case Op::WaitFile: {
        std::error_code error;
        return std::filesystem::exists(c.text, error);
    }
    case Op::Screenshot:
        return !r.screenshotPending;
    default:
        return false; // Press and Type are released by the widget taking them
    }
}

} // namespace

void Step(uint64_t frame) {
    Running& r = R();
    if (!r.active) return;
    for (size_t dik = 0; dik < r.releaseNext.size(); ++dik) {
        if (r.releaseNext[dik]) input::InjectKey(static_cast<int>(dik), false);
    }
    r.releaseNext.fill(false);
    while (r.next < r.script.commands.size()) {
        const Command& c = r.script.commands[r.next];
        if (r.headStarted) {
            if (!HeadReleased(c, frame)) return;
            r.headStarted = false;
            ++r.next;
            continue;
        }
        if (Run(c, frame)) {
            ++r.next;
        } else {
            r.headStarted = true;
            if (c.op == Op::Screenshot) return; // taken at the end of this frame
            if (!HeadReleased(c, frame)) return;
            r.headStarted = false;
            ++r.next;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// 4. Queries from dialogs and widgets
// ---------------------------------------------------------------------------------------------

namespace {

bool CaptionMatches(const Command& c, std::string_view caption) {
    return c.text == "*" || c.text == caption;
}

// A script names a widget by its shown text (the part of the ImGui label before "##"), or,
// for a widget that shows no text ("##name"), by the name after the "##".
bool LabelMatches(std::string_view scripted, std::string_view label) {
    const size_t hashes = label.find("##");
    if (hashes == std::string_view::npos) return scripted == label;
    const std::string_view shown = label.substr(0, hashes);
    if (!shown.empty()) return scripted == shown;
    std::string_view id = label.substr(hashes);
    while (id.starts_with('#'))
        id.remove_prefix(1);
    return scripted == id;
}

const Command* Head(Op op) {
    Running& r = R();
    if (!r.active || !r.headStarted || r.next >= r.script.commands.size()) return nullptr;
    const Command& c = r.script.commands[r.next];
    return c.op == op ? &c : nullptr;
}

void FinishHead(std::string_view what) {
    Running& r = R();
    Say(r.script.commands[r.next], what);
    r.headStarted = false;
    ++r.next;
}

} // namespace

std::optional<window::Answer> TakeAnswer(std::string_view caption) {
    Running& r = R();
    for (auto it = r.answers.begin(); it != r.answers.end(); ++it) {
        if (it->op == Op::Answer && CaptionMatches(*it, caption)) {
            const auto answer = static_cast<window::Answer>(it->number);
            r.answers.erase(it);
            return answer;
        }
    }
    return std::nullopt;
}

std::optional<std::optional<std::string>> TakeInput(std::string_view caption) {
    Running& r = R();
    for (auto it = r.answers.begin(); it != r.answers.end(); ++it) {
        if (it->op == Op::Answer || !CaptionMatches(*it, caption)) continue;
        std::optional<std::string> answer;
        if (it->op == Op::InputText) answer = it->text2;
        r.answers.erase(it);
        return answer;
    }
    return std::nullopt;
}

bool TakePress(std::string_view label) {
    const Command* c = Head(Op::Press);
    if (c == nullptr || !LabelMatches(c->text, label)) return false;
    FinishHead("pressed \"" + c->text + "\"");
    return true;
}

bool TakeType(std::string_view label, std::string& text, bool& enter) {
    const Command* c = Head(Op::Type);
    if (c == nullptr || !LabelMatches(c->text, label)) return false;
    text = c->text2;
    enter = c->flag;
    FinishHead("typed into \"" + c->text + "\"");
    return true;
}

bool TakeSelect(std::string_view label, int count, int& entry) {
    const Command* c = Head(Op::Select);
    if (c == nullptr || !LabelMatches(c->text, label) || c->number >= count) return false;
    entry = int(c->number);
    FinishHead("selected entry " + std::to_string(entry) + " of \"" + c->text + "\"");
    return true;
}

bool TakeCheck(std::string_view label, bool& on) {
    const Command* c = Head(Op::Check);
    if (c == nullptr || !LabelMatches(c->text, label)) return false;
    on = c->flag;
    FinishHead(std::string(on ? "checked" : "unchecked") + " \"" + c->text + "\"");
    return true;
}

const std::string* PendingScreenshot() {
    Running& r = R();
    if (!r.screenshotPending) return nullptr;
    return &r.script.commands[r.next].text;
}

void ScreenshotTaken() {
    R().screenshotPending = false;
}

} // namespace detail

void SetStateReporter(std::function<std::string()> reporter) {
    Reporter() = std::move(reporter);
}

// ---------------------------------------------------------------------------------------------
// 5. Seed
// ---------------------------------------------------------------------------------------------

std::optional<uint32_t> SeedFromEnvironment() {
    const char* text = std::getenv("TARNHOLD_SEED");
    if (text == nullptr || *text == '\0') return std::nullopt;
    const std::string_view word(text);
    uint32_t seed = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), seed);
    if (ec != std::errc() || ptr != word.data() + word.size())
        throw ScriptError("TARNHOLD_SEED must be a number from 0 to 4294967295, not '" +
                          std::string(word) + "'");
    return seed;
}

uint32_t RandomSeed() {
    if (const std::optional<uint32_t> seed = SeedFromEnvironment()) return *seed;
    return std::random_device{}();
}

std::optional<uint32_t> FrameTimeFromEnvironment() {
    const char* text = std::getenv("TARNHOLD_FRAME_MS");
    if (text == nullptr || *text == '\0') return std::nullopt;
    const std::string_view word(text);
    uint32_t ms = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), ms);
    if (ec != std::errc() || ptr != word.data() + word.size() || ms < 1 || ms > 200)
        throw ScriptError("TARNHOLD_FRAME_MS must be a number from 1 to 200, not '" +
                          std::string(word) + "'");
    return ms;
}

} // namespace automation
