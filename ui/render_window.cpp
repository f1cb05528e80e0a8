// ui/render_window.cpp — the render window's loading log, chat box and timers.
#include "ui/render_window.h"

#include <imgui.h>

#include <algorithm>

namespace ui {

namespace {
constexpr float kEdgePx = 3.0f; // 50 twips
constexpr ImGuiWindowFlags kOverlayFlags =
    ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings;
} // namespace

RenderWindow::RenderWindow(std::array<std::shared_ptr<window::Picture>, 3> pictures,
                           RenderWindowEvents& events)
    : window::Screen("render"),
      messageTimer(window::Timers(), kMessageTimerMs, window::TimerMode::OneShot,
                   [this] { events_.MessageTimerExpired(); }),
      keyTimer(window::Timers(), kKeyTimerMs, window::TimerMode::OneShot,
               [this] { events_.KeyTimerExpired(); }),
      events_(events), pictures_(std::move(pictures)) {}

void RenderWindow::AppendLog(std::string_view text) {
    log_.append(text);
    scrollLog_ = true;
}

void RenderWindow::AppendLogLine(std::string_view line) {
    log_.append(line);
    log_.push_back('\n');
    scrollLog_ = true;
}

void RenderWindow::OpenChat() {
    // Where the box will be drawn, until its first frame says exactly.
    int width = 0, height = 0;
    window::GetSize(width, height);
    chatTop_ = std::max(0, height - 3 * 27 - static_cast<int>(kEdgePx));
    chatText_.clear();
    chatOpen_ = true;
    chatFocus_ = true;
}

void RenderWindow::SubmitChat() {
    if (!chatOpen_) return;
    chatOpen_ = false;
    events_.ChatSent(chatText_);
    events_.ChatClosed();
}

void RenderWindow::Unload() {
    events_.Unloaded();
    window::CloseScreen(*this);
}

void RenderWindow::Draw() {
    if (loading_) DrawLoading();
    if (chatOpen_) DrawChat();
}

void RenderWindow::DrawLoading() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::Begin("##loading", nullptr, kOverlayFlags | ImGuiWindowFlags_NoBringToFrontOnFocus);
    // The three pictures side by side, scaled to share the width.
    const float slot = (viewport->Size.x - 4.0f * kEdgePx) / 3.0f;
    for (size_t i = 0; i < pictures_.size(); ++i) {
        if (i > 0) ImGui::SameLine();
        const window::Picture* picture = pictures_[i].get();
        if (picture == nullptr || picture->TextureId() == nullptr || picture->Width() <= 0) {
            ImGui::Dummy(ImVec2(slot, 1.0f));
            continue;
        }
        const float scale = std::min(1.0f, slot / static_cast<float>(picture->Width()));
        ImGui::Image(picture->TextureId(),
                     ImVec2(picture->Width() * scale, picture->Height() * scale));
    }
    ImGui::TextUnformatted("Loading...");
    ImGui::BeginChild("##log", ImVec2(0.0f, 0.0f), true);
    ImGui::TextUnformatted(log_.data(), log_.data() + log_.size());
    if (scrollLog_) {
        ImGui::SetScrollHereY(1.0f);
        scrollLog_ = false;
    }
    ImGui::EndChild();
    ImGui::End();
}

void RenderWindow::DrawChat() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const float lineHeight = ImGui::GetFrameHeightWithSpacing();
    const float top = viewport->Pos.y + viewport->Size.y - 3.0f * lineHeight - kEdgePx;
    chatTop_ = static_cast<int>(top);
    ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + kEdgePx, top));
    ImGui::SetNextWindowSize(ImVec2(viewport->Size.x - 2.0f * kEdgePx, 0.0f));
    ImGui::Begin("##chat", nullptr, kOverlayFlags | ImGuiWindowFlags_AlwaysAutoResize);
    ImGui::SetNextItemWidth(-1.0f);
    const bool entered = window::InputLine("##Chat", chatText_, kChatMaxLength, chatFocus_);
    chatFocus_ = false;
    // Enter and losing the focus both send the line.
    if (entered || ImGui::IsItemDeactivated()) SubmitChat();
    ImGui::End();
}

} // namespace ui
