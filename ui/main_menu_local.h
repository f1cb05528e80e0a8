// ui/main_menu_local.h — what the main menu's files share: small text helpers and the character
// preview (main_menu.cpp draws the screen, menu_choices.cpp fills its lists and stores the
// choices, menu_preview.cpp turns the model).
#pragma once

#include "platform/render/render.h"
#include "platform/scene/scene.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace ui::menu_local {

// `text` without its leading and trailing spaces (only ' ').
std::string_view Trim(std::string_view text);
// A whole decimal number, blanks around it allowed; false (value unchanged) for anything else.
bool ParseInt(std::string_view text, int& value);
// The name the user logged in with, "" when unknown.
std::string UserName();
// The installation directory (see screen_util::InstallDirectory).
std::filesystem::path InstallDir();

// The preview turns on this timer (Timer1), by kPreviewStepDegrees per tick.
inline constexpr uint32_t kPreviewTimerMs = 10;
inline constexpr float kPreviewStepDegrees = 0.5f;

// The preview scene: the team's character model, turning, lit from the camera, drawn by its
// own renderer into the rectangle the menu keeps free for it. Exists only with a display.
class Preview {
public:
    // affiche_MODELE: loads "terror.x" (team 0) or "gign.x" from `modelsDir`, with the skin
    // picture `skinFile` (when not empty) as the texture the model names, without touching the
    // files. False when there is no display or the model cannot be read.
    bool Build(const std::filesystem::path& modelsDir, int team,
               const std::filesystem::path& skinFile, int objectQuality, int textureQuality);

    bool Exists() const { return root_ != nullptr; }

    // One timer tick: the model turns a little.
    void Turn();

    // Draws the scene into (x, y, width, height), window pixels. Called by the window's pump
    // before the screens are drawn.
    void Draw(int x, int y, int width, int height);

    // Drops the scene; the renderer stays for the next Build (Release frees it).
    void Clear();
    // Frees everything; the window's GL context must still be current.
    void Release();

private:
    static constexpr float kField = 0.5f;
    std::unique_ptr<render::Renderer> renderer_;
    std::shared_ptr<scene::Frame> root_;
    std::shared_ptr<scene::Frame> pivot_;
    std::shared_ptr<scene::Frame> camera_;
    float back_ = 100.0f;
};

} // namespace ui::menu_local
