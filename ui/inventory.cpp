// ui/inventory.cpp — the weapon inventory window: two columns of six weapon panels.
#include "ui/inventory.h"

#include "core/game_state.h"
#include "platform/window/window.h"
#include "player/player.h"
#include "ui/deferred.h"
#include "ui/screen_local.h"

#include <imgui.h>

#include <array>
#include <memory>

namespace ui {

namespace fs = std::filesystem;

std::string WeaponShortName(std::string_view qcFile) {
    const size_t underscore = qcFile.find('_');
    const std::string_view rest =
        underscore == std::string_view::npos ? qcFile : qcFile.substr(underscore + 1);
    if (rest.size() <= 3) return {};
    return std::string(rest.substr(0, rest.size() - 3));
}

std::vector<WeaponPanel> WeaponPanels(int32_t weaponPower, const fs::path& installDir) {
    std::vector<WeaponPanel> panels;
    // The figures carry over from one weapon to the next when a name is unknown.
    WeaponPanel figures;
    for (int32_t i = 0; i < player::kWeaponCount; ++i) {
        WeaponPanel panel = figures;
        panel.shortName = WeaponShortName(player::FichierArme(i));
        player::CaracteristiquesArme(panel.shortName, panel.magazine, panel.power, panel.rank,
                                     panel.scope);
        panel.enabled = panel.rank <= weaponPower;
        panel.picture = installDir / "weapons" / ("640_" + panel.shortName + ".bmp");
        figures = panel;
        panels.push_back(std::move(panel));
    }
    return panels;
}

std::string InventoryTitle(int32_t weaponPower) {
    return "WEAPON INVENTORY Your rank = " + std::to_string(weaponPower);
}

namespace {

constexpr float kPanelWidth = 340.0f;
constexpr float kPanelHeight = 72.0f;
constexpr float kPictureWidth = 96.0f;
constexpr float kPictureHeight = 48.0f;
constexpr int kPanelsPerColumn = 6;
constexpr float kSecondText = 118.0f; // second column of figures, from the text's left

class InventoryScreen : public window::Screen {
public:
    InventoryScreen() : window::Screen("inventory"), title_(InventoryTitle(core::WeaponPower)) {
        panels_ = WeaponPanels(core::WeaponPower, screen_util::InstallDirectory());
        for (size_t i = 0; i < panels_.size(); ++i)
            pictures_[i] = window::LoadPicture(panels_[i].picture.string());
        title_ += "###inventory";
    }

    void Draw() override {
        const ImGuiViewport* viewport = ImGui::GetMainViewport();
        ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + viewport->Size.x * 0.5f,
                                       viewport->Pos.y + viewport->Size.y * 0.5f),
                                ImGuiCond_Always, ImVec2(0.5f, 0.5f));
        ImGui::Begin(title_.c_str(), nullptr,
                     ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse |
                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoMove);
        for (int column = 0; column < 2; ++column) {
            if (column > 0) ImGui::SameLine();
            ImGui::BeginGroup();
            for (int row = 0; row < kPanelsPerColumn; ++row)
                DrawPanel(size_t(column * kPanelsPerColumn + row));
            ImGui::EndGroup();
        }
        ImGui::SetCursorPosX((ImGui::GetWindowWidth() - 100.0f) * 0.5f);
        if (window::Button("CLOSE", 100.0f, 0.0f)) window::CloseScreen(*this);
        ImGui::End();
    }

private:
    void DrawPanel(size_t i) {
        const WeaponPanel& panel = panels_[i];
        ImGui::PushID(int(i));
        ImGui::BeginDisabled(!panel.enabled);
        ImGui::BeginChild("##panel", ImVec2(kPanelWidth, kPanelHeight), true,
                          ImGuiWindowFlags_NoScrollbar);
        const window::Picture* picture = pictures_[i].get();
        if (picture != nullptr && picture->TextureId() != nullptr) {
            const ImVec4 tint = panel.enabled ? ImVec4(1, 1, 1, 1) : ImVec4(0.5f, 0.5f, 0.5f, 1);
            ImGui::Image(picture->TextureId(), ImVec2(kPictureWidth, kPictureHeight), ImVec2(0, 0),
                         ImVec2(1, 1), tint);
        } else {
            // A missing picture leaves its room empty.
            ImGui::Dummy(ImVec2(kPictureWidth, kPictureHeight));
        }
        ImGui::SameLine();
        ImGui::BeginGroup();
        ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.35f, 1.0f), "%s",
                           screen_util::Upper(panel.shortName).c_str());
        ImGui::Text("RANK: %d", panel.rank);
        ImGui::SameLine(kSecondText);
        ImGui::Text("AMMO: %d", panel.magazine);
        ImGui::Text("POWER: %d", panel.power);
        ImGui::SameLine(kSecondText);
        ImGui::Text("SNIPPER: %s", panel.scope ? "YES" : "NO");
        ImGui::EndGroup();
        ImGui::EndChild();
        ImGui::EndDisabled();
        ImGui::PopID();
    }

    std::string title_;
    std::vector<WeaponPanel> panels_;
    std::array<std::shared_ptr<window::Picture>, player::kWeaponCount> pictures_;
};

} // namespace

void OpenWeaponInventory() {
    Defer([] { window::ShowModal(std::make_shared<InventoryScreen>()); });
}

} // namespace ui
