// ui/help.h — the mouse and keyboard help (with the inverted-mouse option) and the about box.
#pragma once

#include <array>
#include <filesystem>
#include <string>

namespace ui {

// Shows the mouse and keyboard screen (screen "keyboard", title "SETUP MOUSE & KEYBOARD")
// modally until its CLOSE button. One row per action (core::kActions): its label and a list
// "##cmbdep<row>" of core::InputChoices() showing the action's input; choosing an entry binds
// it (core::BindInput), or shows the refusal in a message box when another action has that
// input. The list "##sensibilite" chooses the mouse sensitivity (core::kSensitivityChoices, as
// "<percent> %"). Its check box "SOURIS INVERSEE" starts ticked when core::InvertMouse is not
// 0; when the screen goes, InvertMouse = 1 (ticked) or 0 and the controls are saved
// (core::EcritTouches). Opens at the next pass of the event pump, so a screen may call it from
// its Draw().
void OpenKeyboardHelp();

// The whole file `installDir`/readme.txt, byte for byte; "" when it cannot be read.
std::string ReadmeText(const std::filesystem::path& installDir);

// Shows the about screen (screen "about", title "ABOUT " + program name + " !!") modally until
// its CLOSE button: a logo, the name and version, the readme. Opens at the next pass.
void OpenAbout();

} // namespace ui
