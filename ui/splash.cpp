// ui/splash.cpp — the splash screen and the start-up sequence around it.
#include "ui/splash.h"

#include "core/game_state.h"
#include "platform/system/system.h"

#include <imgui.h>

namespace ui {

namespace {

constexpr int kMarginPx = 8; // 120 twips
constexpr int kTextOnlyWidth = 480;
constexpr int kTextOnlyHeight = 270;

} // namespace

SplashScreen::SplashScreen(const std::filesystem::path& installDir, std::function<void()> onTimer)
    : window::Screen("splash"),
      timer(window::Timers(), kTimerMs, window::TimerMode::OneShot, std::move(onTimer)) {
    for (int i = 0; i < kPictureCount; ++i) {
        const std::filesystem::path path =
            installDir / "media" / ("splash" + std::to_string(i) + ".bmp");
        pictures_[static_cast<size_t>(i)] = window::LoadPicture(path.string());
    }
    if (pictures_[0]) {
        window::SetSize(pictures_[0]->Width() + kMarginPx, pictures_[0]->Height() + kMarginPx);
    } else {
        window::SetSize(kTextOnlyWidth, kTextOnlyHeight);
    }
    std::error_code ignored;
    std::filesystem::create_directories(core::MapFolders(installDir).front(), ignored);
}

void SplashScreen::Draw() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::Begin("##splash", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    const window::Picture* picture = pictures_[0].get();
    if (picture != nullptr && picture->TextureId() != nullptr) {
        ImGui::Image(picture->TextureId(), ImVec2(static_cast<float>(picture->Width()),
                                                  static_cast<float>(picture->Height())));
    } else {
        // No picture: the name, large, and the version under it, centred.
        ImGui::SetWindowFontScale(3.0f);
        const ImVec2 name = ImGui::CalcTextSize(core::ProgramName.c_str());
        ImGui::SetCursorPos(
            ImVec2((viewport->Size.x - name.x) * 0.5f, viewport->Size.y * 0.5f - name.y));
        ImGui::TextColored(ImVec4(1.0f, 0.8f, 0.3f, 1.0f), "%s", core::ProgramName.c_str());
        ImGui::SetWindowFontScale(1.5f);
        const std::string version = "V" + core::VersionText;
        const ImVec2 size = ImGui::CalcTextSize(version.c_str());
        ImGui::SetCursorPosX((viewport->Size.x - size.x) * 0.5f);
        ImGui::TextUnformatted(version.c_str());
        ImGui::SetWindowFontScale(1.0f);
    }
    ImGui::End();
    ImGui::PopStyleVar();
}

std::shared_ptr<window::Picture> SplashScreen::RenvoieImage(int index) {
    std::shared_ptr<window::Picture> picture;
    if (index >= 0 && index < kPictureCount) picture = pictures_[static_cast<size_t>(index)];
    Unload();
    return picture;
}

void SplashScreen::Unload() {
    timer.Disable();
    window::CloseScreen(*this);
}

void Splash(const std::filesystem::path& installDir,
            const std::function<void(SplashScreen&)>& openMainMenu) {
    std::shared_ptr<SplashScreen> splash;
    splash = std::make_shared<SplashScreen>(installDir, [&splash, &openMainMenu] {
        if (splash) openMainMenu(*splash);
    });
    window::OpenScreen(splash);
    window::SetPointer(window::Pointer::Hourglass);
    core::DecimalSeparator = sys::LocaleDecimalSeparator();
    window::Yield();
    window::SetPointer(window::Pointer::Normal);
    splash->timer.Enable();
    window::ShowModal(splash);
    splash->timer.Disable();
}

} // namespace ui
