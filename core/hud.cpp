// core/hud.cpp — viewports, the global keys and the HUD lines.
#include "core/game.h"

#include "platform/input/input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace core {

std::array<ViewportSlot, 4> Viewports;
std::array<HudLine, kMaxHudLines> HudLines;
size_t HudLineCount = 0;

// ---------------------------------------------------------------------------------------------
// Viewports
// ---------------------------------------------------------------------------------------------

void CreateViewport(int index, int& x, int& y, int& width, int& height,
                    const std::shared_ptr<scene::Frame>& camera) {
    if (index < 0 || index >= int(Viewports.size())) return;
    ViewportSlot& slot = Viewports[size_t(index)];
    slot = ViewportSlot{};
    x = 0;
    y = 0;
    width = DeviceWidth;
    height = DeviceHeight;
    slot.params.camera = camera ? camera : CameraFrame;
    slot.params.x = x;
    slot.params.y = y;
    slot.params.width = width;
    slot.params.height = height;
    slot.params.front = 1.0f;
    slot.params.back = 5000.0f;
    slot.params.field = 0.6f;
    slot.exists = true;
}

void RecentreView() {
    if (LocalIndex < 0 || LocalIndex >= int(Viewports.size())) return;
    ViewportSlot& slot = Viewports[size_t(LocalIndex)];
    slot.params.x = int(std::nearbyint((DeviceWidth - ViewWidth) / 2.0));
    slot.params.y = int(std::nearbyint((DeviceHeight - ViewHeight) / 2.0));
    slot.params.width = ViewWidth;
    slot.params.height = ViewHeight;
}

// ---------------------------------------------------------------------------------------------
// Global keys
// ---------------------------------------------------------------------------------------------

void HandleGlobalKeys() {
    // 1. The keyboard.
    const input::KeyboardState& keys = input::GetKeyboardState();
    const auto down = [&keys](int code) { return (keys[size_t(code)] & input::kKeyDown) != 0; };
    MatchWindow* window = GetMatchWindow();

    // 2. Escape closes the chat box, or ends the match.
    if (down(input::DIK_ESCAPE)) {
        if (ChatOpen) {
            if (window != nullptr) window->CloseChat();
            ChatOpen = false;
        } else {
            QuitRequested = true;
            return;
        }
    }
    // 3. Nothing else acts while the chat box is open.
    if (ChatOpen) return;

    // 4. F1: the help lines, once per key-ready period.
    player::player* local = (LocalIndex >= 0 && LocalIndex < kPlayerSlots)
                                ? Players[size_t(LocalIndex)].get()
                                : nullptr;
    if (down(input::DIK_F1) && local != nullptr && local->TOUCHE_OK) {
        local->TOUCHE_OK = false;
        ShowHelp = !ShowHelp;
    }
    // 5. F5: the chat box.
    if (down(input::DIK_F5)) {
        ChatOpen = true;
        if (window != nullptr) window->OpenChat();
    }
    // 6. View size, every frame while held.
    if (down(input::DIK_ADD)) {
        ViewWidth = std::min(ViewWidth + 10, DeviceWidth);
        ViewHeight = std::min(ViewHeight + 10, DeviceHeight);
        RecentreView();
    } else if (down(input::DIK_SUBTRACT)) {
        ViewWidth = std::max(ViewWidth - 20, 120);
        ViewHeight = std::max(ViewHeight - 20, 90);
        RecentreView();
    }
}

// ---------------------------------------------------------------------------------------------
// HUD
// ---------------------------------------------------------------------------------------------

void ClearHud() {
    HudLineCount = 0;
}

void DrawHudText(std::string_view text, int x, int y) {
    if (HudLineCount >= HudLines.size()) return;
    HudLine& line = HudLines[HudLineCount++];
    line.x = x;
    line.y = y;
    const size_t n = std::min(text.size(), line.text.size() - 1);
    std::memcpy(line.text.data(), text.data(), n);
    line.text[n] = '\0';
}

namespace {

// "label" followed by a decimal number, into `buffer`.
std::string_view Labelled(std::span<char> buffer, const char* label, long long value) {
    const int n = std::snprintf(buffer.data(), buffer.size(), "%s%lld", label, value);
    return std::string_view(buffer.data(), size_t(std::clamp(n, 0, int(buffer.size()) - 1)));
}

} // namespace

void BuildHud() {
    ClearHud();
    std::array<char, 96> buffer{};
    std::array<char, 32> rate{};
    FormatFrameRate(Timing.framesPerSecond, DecimalSeparator, rate);
    std::snprintf(buffer.data(), buffer.size(), "Frame Rate : %s", rate.data());
    DrawHudText(buffer.data(), 10, 10);

    const player::player* local = (LocalIndex >= 0 && LocalIndex < kPlayerSlots)
                                      ? Players[size_t(LocalIndex)].get()
                                      : nullptr;
    if (ShowHelp) {
        DrawHudText(HelpKeyLines[0], 10, 25);
        DrawHudText(HelpKeyLines[1], 10, 40);
        DrawHudText(HelpKeyLines[2], 10, 55);
        DrawHudText("F5 = CHAT/PAUSE", 10, 70);
        DrawHudText(HelpKeyLines[3], 10, 85);
        const bool dead = local == nullptr || local->mort;
        DrawHudText(Labelled(buffer, "VIE : ", dead ? 0 : local->force), 10, 100);
        DrawHudText(Labelled(buffer, "TUEUR : ", local ? local->tueur : 0), 10, 115);
        DrawHudText(Labelled(buffer, "TUE : ", local ? local->tue : 0), 10, 130);
        DrawHudText(Labelled(buffer, "SNIPPER : ", local ? local->snipper : 0), 10, 145);
        DrawHudText(Labelled(buffer, "SNIPPED : ", local ? local->snipped : 0), 10, 160);
        DrawHudText(Labelled(buffer, "AMMO: ", local ? local->NbBastos : 0), 10, 175);
        DrawHudText(Labelled(buffer, "WEAPON POWER: ", WeaponPower), 10, 190);
    } else {
        DrawHudText("F1 INFOS", 10, 25);
    }
    DrawHudText(MessageLine, 10, 230);
}

} // namespace core
