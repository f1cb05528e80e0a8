// ui/help.cpp — the mouse and keyboard help window and the about window.
#include "ui/help.h"

#include "core/game.h"
#include "core/game_state.h"
#include "platform/system/system.h"
#include "platform/window/window.h"
#include "ui/deferred.h"
#include "ui/screen_local.h"

#include <imgui.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace ui {

namespace fs = std::filesystem;

namespace {

// A centred window of fixed width, sized to its content, titled `title`.
void BeginCentred(const std::string& title, float width) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + viewport->Size.x * 0.5f,
                                   viewport->Pos.y + viewport->Size.y * 0.5f),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(width, 0.0f));
    ImGui::SetNextWindowBgAlpha(1.0f); // the screen under it does not show through
    ImGui::Begin(title.c_str(), nullptr,
                 ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoMove);
}

// The CLOSE button, centred at the bottom.
bool CloseButton() {
    ImGui::Spacing();
    ImGui::SetCursorPosX((ImGui::GetWindowWidth() - 100.0f) * 0.5f);
    return window::Button("CLOSE", 100.0f, 0.0f);
}

class KeyboardScreen : public window::Screen {
public:
    KeyboardScreen() : window::Screen("keyboard"), inverted_(core::InvertMouse != 0) {
        for (const core::InputChoice& choice : core::InputChoices())
            inputs_.emplace_back(choice.name);
        for (const int32_t percent : core::kSensitivityChoices)
            sensitivities_.push_back(std::to_string(percent) + " %");
    }

    void Draw() override {
        BeginCentred("SETUP MOUSE & KEYBOARD###keyboard", 420.0f);
        // Each list shows the action's input; choosing another binds it, unless another action
        // has it (refused with a message, and the list shows the input kept).
        for (size_t i = 0; i < core::kActionCount; ++i) {
            ImGui::TextUnformatted(core::kActions[i].label);
            ImGui::SameLine(170.0f);
            ImGui::SetNextItemWidth(-1.0f);
            int selected = core::InputChoiceIndex(core::KeyBindings[i]);
            const std::string label = std::string("##cmbdep") + std::to_string(i);
            if (window::Combo(label.c_str(), inputs_, selected) && selected >= 0)
                Bind(core::Action(i), core::InputChoices()[size_t(selected)].input);
        }
        ImGui::Spacing();
        ImGui::TextWrapped("Les déplacements du joueur se font avec les flèches du clavier");
        ImGui::TextWrapped("Les rotations du joueur se font à la souris");
        ImGui::Spacing();
        ImGui::TextUnformatted("SENSIBILITE SOURIS:");
        ImGui::SameLine(170.0f);
        ImGui::SetNextItemWidth(-1.0f);
        const auto* found = std::find(core::kSensitivityChoices.begin(),
                                      core::kSensitivityChoices.end(), core::MouseSensitivity);
        int sensitivity = found == core::kSensitivityChoices.end()
                              ? -1
                              : int(found - core::kSensitivityChoices.begin());
        if (window::Combo("##sensibilite", sensitivities_, sensitivity) && sensitivity >= 0)
            core::MouseSensitivity = core::kSensitivityChoices[size_t(sensitivity)];
        window::CheckBox("SOURIS INVERSEE", inverted_);
        if (CloseButton()) window::CloseScreen(*this);
        ImGui::End();
    }

    // The controls are saved as the screen goes, so they hold from the next match on.
    void OnClose() override {
        core::InvertMouse = inverted_ ? 1 : 0;
        core::EcritTouches();
    }

private:
    static void Bind(core::Action action, int32_t input) {
        const std::string refusal = core::BindInput(action, input);
        if (refusal.empty()) return;
        sys::Log("keyboard: " + refusal);
        Defer([refusal] { window::MsgBox(refusal, core::ProgramName); });
    }

    std::vector<std::string> inputs_;
    std::vector<std::string> sensitivities_;
    bool inverted_;
};

class AboutScreen : public window::Screen {
public:
    AboutScreen()
        : window::Screen("about"), title_("ABOUT " + core::ProgramName + " !!###about"),
          label_(core::ProgramName + " " + core::VersionText),
          text_(ReadmeText(screen_util::InstallDirectory())),
          logo_(window::LoadPicture(
              (screen_util::InstallDirectory() / "media" / "splash1.bmp").string())) {}

    void Draw() override {
        BeginCentred(title_, 560.0f);
        if (logo_ && logo_->TextureId() != nullptr) {
            const float height = 120.0f;
            const float width = height * float(logo_->Width()) / float(logo_->Height());
            ImGui::Image(logo_->TextureId(), ImVec2(width, height));
            ImGui::SameLine();
        }
        ImGui::SetWindowFontScale(1.6f);
        ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.35f, 1.0f), "%s", label_.c_str());
        ImGui::SetWindowFontScale(1.0f);
        // Read-only: ImGui never writes into the buffer.
        ImGui::InputTextMultiline("##mess", text_.data(), text_.size() + 1, ImVec2(-1.0f, 300.0f),
                                  ImGuiInputTextFlags_ReadOnly);
        if (CloseButton()) window::CloseScreen(*this);
        ImGui::End();
    }

private:
    std::string title_;
    std::string label_;
    std::string text_; // mess
    std::shared_ptr<window::Picture> logo_;
};

} // namespace

void OpenKeyboardHelp() {
    Defer([] { window::ShowModal(std::make_shared<KeyboardScreen>()); });
}

std::string ReadmeText(const fs::path& installDir) {
    std::ifstream file(installDir / "readme.txt", std::ios::binary);
    if (!file) return {};
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void OpenAbout() {
    Defer([] { window::ShowModal(std::make_shared<AboutScreen>()); });
}

} // namespace ui
