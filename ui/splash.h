// ui/splash.h — the splash screen: the first screen, shown while the machine is prepared.
#pragma once

#include "platform/window/window.h"

#include <array>
#include <filesystem>
#include <functional>
#include <memory>

namespace ui {

// The splash: picture 0 of the installation's media/splash0..2.bmp at the top left of a window
// 8 pixels wider and taller than it, or the program name and version when the picture is
// missing or unreadable. Created by Splash(); closed by RenvoieImage() or Unload().
class SplashScreen : public window::Screen {
public:
    static constexpr int kPictureCount = 3;
    static constexpr uint32_t kTimerMs = 1000;

    // Loads the pictures from `installDir`/media, sizes the window and creates the player's
    // map folder (the first of core::MapFolders, where downloaded maps go and the player may
    // unpack maps; an error is ignored). `onTimer` runs
    // when the timer fires, after the timer has disabled itself.
    SplashScreen(const std::filesystem::path& installDir, std::function<void()> onTimer);

    void Draw() override;

    // Picture `index` (0..2; nullptr when missing or out of range), handed over to the caller;
    // closes the splash, which ends its modal display.
    std::shared_ptr<window::Picture> RenvoieImage(int index);

    // Closes the splash.
    void Unload();

    // The one-shot 1000 ms timer; Splash() enables it.
    window::Timer timer;

private:
    std::array<std::shared_ptr<window::Picture>, kPictureCount> pictures_;
};

// The start-up sequence: opens the splash, shows the hourglass, reads the locale's decimal
// separator into core::DecimalSeparator, yields once, enables the splash timer and shows the
// splash modally. When the timer fires, `openMainMenu` runs with the splash; it opens the next
// screen and takes the pictures (or unloads the splash), which ends Splash(). Also returns when
// the program is asked to quit.
void Splash(const std::filesystem::path& installDir,
            const std::function<void(SplashScreen&)>& openMainMenu);

} // namespace ui
