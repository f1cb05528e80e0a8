// core/bindings.cpp — the local player's key bindings: the inputs a player may choose, the
// conflict rule, the match start's use of them and the F1 help lines that name them.
#include "core/game.h"

#include "platform/input/input.h"
#include "player/player.h"

#include <algorithm>

namespace core {

namespace {

constexpr int32_t Mouse(input::MouseButton button) {
    return player::kMouseInput + int32_t(button);
}

// The inputs offered, in the lists' order: the mouse buttons, the keys the game binds by
// default, then the rest of the keyboard row by row. The game's own keys (Escape, F1-F10, the
// numeric pad's + and -) are left out: they act in every match whatever the bindings.
constexpr InputChoice kInputChoices[] = {
    {Mouse(input::MouseButton::Left), "SOURIS GAUCHE"},
    {Mouse(input::MouseButton::Right), "SOURIS DROITE"},
    {Mouse(input::MouseButton::Middle), "SOURIS MILIEU"},
    {input::DIK_UP, "FLECHE HAUT"},
    {input::DIK_DOWN, "FLECHE BAS"},
    {input::DIK_LEFT, "FLECHE GAUCHE"},
    {input::DIK_RIGHT, "FLECHE DROITE"},
    {211, "TOUCHE SUPPR"},
    {input::DIK_END, "TOUCHE FIN"},
    {input::DIK_NEXT, "TOUCHE PAGE DOWN"},
    {input::DIK_RCONTROL, "TOUCHE CTRL DROITE"},
    {210, "TOUCHE INSER"},
    {199, "TOUCHE ORIGINE"},
    {input::DIK_PRIOR, "TOUCHE PAGE UP"},
    {input::DIK_LCONTROL, "TOUCHE CTRL GAUCHE"},
    {input::DIK_LSHIFT, "TOUCHE MAJ GAUCHE"},
    {54, "TOUCHE MAJ DROITE"},
    {56, "TOUCHE ALT"},
    {input::DIK_SPACE, "TOUCHE ESPACE"},
    {15, "TOUCHE TAB"},
    {input::DIK_RETURN, "TOUCHE ENTREE"},
    {14, "TOUCHE RETOUR"},
    {16, "TOUCHE Q"},
    {17, "TOUCHE W"},
    {18, "TOUCHE E"},
    {19, "TOUCHE R"},
    {20, "TOUCHE T"},
    {21, "TOUCHE Y"},
    {22, "TOUCHE U"},
    {23, "TOUCHE I"},
    {24, "TOUCHE O"},
    {25, "TOUCHE P"},
    {30, "TOUCHE A"},
    {31, "TOUCHE S"},
    {32, "TOUCHE D"},
    {33, "TOUCHE F"},
    {34, "TOUCHE G"},
    {35, "TOUCHE H"},
    {36, "TOUCHE J"},
    {37, "TOUCHE K"},
    {38, "TOUCHE L"},
    {44, "TOUCHE Z"},
    {45, "TOUCHE X"},
    {46, "TOUCHE C"},
    {47, "TOUCHE V"},
    {48, "TOUCHE B"},
    {49, "TOUCHE N"},
    {50, "TOUCHE M"},
    {2, "TOUCHE 1"},
    {3, "TOUCHE 2"},
    {4, "TOUCHE 3"},
    {5, "TOUCHE 4"},
    {6, "TOUCHE 5"},
    {7, "TOUCHE 6"},
    {8, "TOUCHE 7"},
    {9, "TOUCHE 8"},
    {10, "TOUCHE 9"},
    {11, "TOUCHE 0"},
    {71, "PAVE 7"},
    {72, "PAVE 8"},
    {73, "PAVE 9"},
    {75, "PAVE 4"},
    {76, "PAVE 5"},
    {77, "PAVE 6"},
    {79, "PAVE 1"},
    {80, "PAVE 2"},
    {81, "PAVE 3"},
    {82, "PAVE 0"},
    {input::DIK_NUMPADENTER, "PAVE ENTREE"},
};

// The action label without its trailing ':', for messages.
std::string ActionName(Action action) {
    std::string label = kActions[size_t(action)].label;
    if (!label.empty() && label.back() == ':') label.pop_back();
    return label;
}

bool IsMouseInput(int32_t code) {
    return code >= player::kMouseInput;
}

} // namespace

std::span<const InputChoice> InputChoices() {
    return kInputChoices;
}

int InputChoiceIndex(int32_t code) {
    const auto found = std::find_if(std::begin(kInputChoices), std::end(kInputChoices),
                                    [code](const InputChoice& c) { return c.input == code; });
    return found == std::end(kInputChoices) ? -1 : int(found - std::begin(kInputChoices));
}

std::string_view InputName(int32_t code) {
    const int index = InputChoiceIndex(code);
    return index < 0 ? std::string_view() : kInputChoices[size_t(index)].name;
}

void ResetKeyBindings() {
    for (size_t i = 0; i < kActionCount; ++i)
        KeyBindings[i] = kActions[i].defaultInput;
    MouseSensitivity = kDefaultSensitivity;
}

int BoundAction(int32_t code) {
    for (size_t i = 0; i < kActionCount; ++i)
        if (KeyBindings[i] == code) return int(i);
    // A mouse-fired TIR keeps the keyboard's fire key while no other action has it.
    if (code == player::kKeyFire && IsMouseInput(KeyBindings[size_t(Action::Tir)]))
        return int(Action::Tir);
    return -1;
}

std::string BindInput(Action action, int32_t code) {
    if (InputChoiceIndex(code) < 0) return "this key cannot be bound";
    const int owner = BoundAction(code);
    if (owner >= 0 && owner != int(action))
        return std::string(InputName(code)) + " is already bound to " + ActionName(Action(owner));
    KeyBindings[size_t(action)] = code;
    return "";
}

bool KeyBindingsAreValid(const std::array<int32_t, kActionCount>& bindings) {
    for (size_t i = 0; i < kActionCount; ++i) {
        if (InputChoiceIndex(bindings[i]) < 0) return false;
        for (size_t j = 0; j < i; ++j)
            if (bindings[j] == bindings[i]) return false;
    }
    return true;
}

void ApplyKeyBindings(player::player& p) {
    const auto input = [](Action a) { return KeyBindings[size_t(a)]; };
    p.K_up = input(Action::Avancer);
    p.k_down = input(Action::Reculer);
    p.k_left = input(Action::EsquiveGauche);
    p.k_right = input(Action::EsquiveDroite);
    // TIR on a mouse button fires with it while the mouse is on, and with P on the keyboard
    // unless another action has P; on a key, that key does both.
    const int32_t tir = input(Action::Tir);
    p.k_clic = tir;
    if (!IsMouseInput(tir))
        p.k_Tir = tir;
    else
        p.k_Tir = BoundAction(player::kKeyFire) == int(Action::Tir) ? player::kKeyFire : -1;
    p.k_camera = input(Action::CameraLibre);
    p.k_V1 = input(Action::ChangementVues);
    p.k_V2 = input(Action::BlocageVisee);
    p.k_Arme = input(Action::ChangementArmes);
    p.k_baisser = input(Action::Baisser);
    p.sensibilite = MouseSensitivity / 100.0;
}

std::array<std::string, 4> KeyHelpLines() {
    // Each line as the default keys name it, or the bound input's name.
    const std::pair<Action, const char*> lines[4] = {
        {Action::ChangementVues, "Suppr = VUES"},
        {Action::BlocageVisee, "Fin = Bloquage SOURIS"},
        {Action::ChangementArmes, "Page Down = chgt ARMES"},
        {Action::Baisser, "CTRL = BAISSER"}};
    std::array<std::string, 4> texts;
    for (size_t i = 0; i < 4; ++i) {
        const auto [action, text] = lines[i];
        const std::string_view what =
            std::string_view(text).substr(std::string_view(text).find(" = "));
        texts[i] = KeyBindings[size_t(action)] == kActions[size_t(action)].defaultInput
                       ? std::string(text)
                       : std::string(InputName(KeyBindings[size_t(action)])) + std::string(what);
    }
    return texts;
}

} // namespace core
