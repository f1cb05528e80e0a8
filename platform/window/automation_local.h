// platform/window/automation_local.h — what the window pump, dialogs and widgets ask of the
// running script. Used only inside platform/window.
#pragma once

#include "platform/window/window.h"

#include <optional>
#include <string>
#include <string_view>

namespace automation::detail {

// Runs the script's commands due at `frame`: input injection, registrations, waits. Releases
// the keys of last frame's `key press`.
void Step(uint64_t frame);

// The queued answer for a message box captioned `caption`, consumed.
std::optional<window::Answer> TakeAnswer(std::string_view caption);

// The queued answer for an input box captioned `caption`, consumed: outer empty = none queued,
// inner empty = cancel.
std::optional<std::optional<std::string>> TakeInput(std::string_view caption);

// True (once) when the script's current command presses the button labelled `label`.
bool TakePress(std::string_view label);

// When the script's current command types into the line labelled `label`: writes the text,
// sets `enter`, consumes the command and returns true.
bool TakeType(std::string_view label, std::string& text, bool& enter);

// When the script's current command selects entry N < `count` of the list labelled `label`:
// writes it to `entry`, consumes the command and returns true.
bool TakeSelect(std::string_view label, int count, int& entry);

// When the script's current command sets the check box labelled `label`: writes `on`,
// consumes the command and returns true.
bool TakeCheck(std::string_view label, bool& on);

// The path of a screenshot the script asks of this frame, or nullptr; cleared by the call
// after the screenshot is taken.
const std::string* PendingScreenshot();
void ScreenshotTaken();

} // namespace automation::detail
