// ui/screen_local.h — small helpers shared by the lobby, account and map download screens.
#pragma once

#include "core/game_state.h"
#include "platform/system/system.h"

#include "platform/window/window.h"

#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ui::screen_util {

// The installation directory: core::ProgramDirectory, else as the program finds it.
inline std::filesystem::path InstallDirectory() {
    return core::ProgramDirectory.empty() ? core::FindProgramDirectory()
                                          : std::filesystem::path(core::ProgramDirectory);
}

// The map folders, the player's own first, then the installation's.
inline std::vector<std::filesystem::path> MapFolders() {
    return core::MapFolders(InstallDirectory());
}

inline std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

inline std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// Begins a screen's window `title` (ImGui "Title###id"), `width` x `height` pixels, centred on
// the display when it first appears. `open` (may be null) gives it a close box, which sets
// *open to false. The caller always calls ImGui::End().
inline bool BeginScreenWindow(const char* title, float width, float height, bool* open) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Appearing,
                            ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(width, height), ImGuiCond_Appearing);
    ImGui::SetNextWindowBgAlpha(1.0f); // the screen under it does not show through
    return ImGui::Begin(title, open,
                        ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings);
}

// The computer players' levels as the PRACTICE and Create Game lists show them (0 easy .. 2 hard).
inline const std::vector<std::string> kBotLevels = {"EASY", "NORMAL", "HARD"};

// A caption, then a list box as wide as the window under it (window::Combo with `id`), then a
// little space.
inline void CaptionedCombo(const char* caption, const char* id,
                           const std::vector<std::string>& items, int& selected) {
    ImGui::TextUnformatted(caption);
    ImGui::SetNextItemWidth(-1.0f);
    window::Combo(id, items, selected);
    ImGui::Spacing();
}

// A framed group with a caption (a toolkit frame). `width`/`height` 0: the rest of the line or
// of the window. Always pair with EndFrame().
inline void BeginFrame(const char* id, const char* caption, float width, float height) {
    ImGui::BeginChild(id, ImVec2(width, height), true);
    ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.4f, 1.0f), "%s", caption);
    ImGui::Separator();
}

inline void EndFrame() {
    ImGui::EndChild();
}

} // namespace ui::screen_util
