// ui/help.h — the mouse and keyboard help (with the inverted-mouse option) and the about box.
#pragma once

#include <array>
#include <filesystem>
#include <string>

namespace ui {

// One row of the keyboard help: the action and the one key that does it in a match.
struct KeyHelpRow {
    const char* action;
    const char* key;
};
inline constexpr std::array<KeyHelpRow, 10> kKeyHelp = {{
    {"AVANCER:", "FLECHE HAUT"},
    {"RECULER:", "FLECHE BAS"},
    {"ESQUIVE GAUCHE:", "FLECHE GAUCHE"},
    {"ESQUIVE DROITE:", "FLECHE DROITE"},
    {"TIR:", "SOURIS GAUCHE"},
    {"CAMERA LIBRE:", "SOURIS DROITE"},
    {"CHANGEMENT VUES:", "TOUCHE SUPPR"},
    {"BLOCAGE VISEE:", "TOUCHE FIN"},
    {"CHANGEMENT ARMES:", "TOUCHE PAGE DOWN"},
    {"BAISSER:", "TOUCHE CTRL DROITE"},
}};

// Shows the mouse and keyboard screen (screen "keyboard", title "SETUP MOUSE & KEYBOARD")
// modally until its CLOSE button. Its check box "SOURIS INVERSEE" starts ticked when
// core::InvertMouse is not 0; when the screen goes, InvertMouse = 1 (ticked) or 0. Opens at
// the next pass of the event pump, so a screen may call it from its Draw().
void OpenKeyboardHelp();

// The whole file `installDir`/readme.txt, byte for byte; "" when it cannot be read.
std::string ReadmeText(const std::filesystem::path& installDir);

// Shows the about screen (screen "about", title "ABOUT " + program name + " !!") modally until
// its CLOSE button: a logo, the name and version, the readme. Opens at the next pass.
void OpenAbout();

} // namespace ui
