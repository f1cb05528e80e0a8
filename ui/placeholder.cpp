// ui/placeholder.cpp — the screen the splash leads to until the main menu exists.
#include "ui/placeholder.h"

#include "core/game_state.h"

#include <imgui.h>

namespace ui {

namespace {
constexpr int kWidth = 640;
constexpr int kHeight = 480;
} // namespace

PlaceholderScreen::PlaceholderScreen() : window::Screen("placeholder") {
    window::SetSize(kWidth, kHeight);
    window::SetTitle(core::ProgramName + " V" + core::VersionText);
}

void PlaceholderScreen::Draw() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::Begin("##placeholder", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::SetWindowFontScale(2.0f);
    ImGui::TextColored(ImVec4(1.0f, 0.8f, 0.3f, 1.0f), "%s V%s", core::ProgramName.c_str(),
                       core::VersionText.c_str());
    ImGui::SetWindowFontScale(1.0f);
    ImGui::Spacing();
    ImGui::TextUnformatted("The main menu is not available in this build.");
    ImGui::Spacing();
    if (window::Button("Quit", 120.0f, 32.0f)) window::CloseScreen(*this);
    ImGui::End();
}

} // namespace ui
