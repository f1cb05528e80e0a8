// ui/web_window.cpp — the web window "TARNHOLD".
#include "ui/web_window.h"

#include "platform/window/window.h"

#include <imgui.h>
#include <memory>
#include <utility>

namespace ui {

namespace {

// The modal box: one wrapped label, centred; it closes itself as soon as `finished` says so.
class WebWindow : public window::Screen {
public:
    WebWindow(std::string label, std::function<bool()> finished)
        : window::Screen("TARNHOLD"), label_(std::move(label)), finished_(std::move(finished)) {}

    void Draw() override {
        if (finished_()) {
            window::CloseScreen(*this);
            return;
        }
        const ImGuiViewport* viewport = ImGui::GetMainViewport();
        ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + viewport->Size.x * 0.5f,
                                       viewport->Pos.y + viewport->Size.y * 0.5f),
                                ImGuiCond_Always, ImVec2(0.5f, 0.5f));
        ImGui::Begin("TARNHOLD##web", nullptr,
                     ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse |
                         ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings);
        ImGui::PushTextWrapPos(ImGui::GetFontSize() * 30.0f);
        ImGui::TextUnformatted(label_.c_str());
        ImGui::PopTextWrapPos();
        ImGui::End();
    }

private:
    std::string label_;
    std::function<bool()> finished_;
};

} // namespace

void WebWindowView::ShowUntil(const std::string& label, const std::function<bool()>& finished) {
    if (!window::IsOpen()) return;
    window::ShowModal(std::make_shared<WebWindow>(label, finished));
}

} // namespace ui
