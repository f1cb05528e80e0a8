// ui/placeholder.h — the screen the splash leads to until the main menu exists.
#pragma once

#include "platform/window/window.h"

namespace ui {

// The program's name and version and a "Quit" button, which closes the screen.
class PlaceholderScreen : public window::Screen {
public:
    PlaceholderScreen();
    void Draw() override;
};

} // namespace ui
