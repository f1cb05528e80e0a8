// platform/window/display_modes.cpp — the display devices and their modes, as SDL lists them.
#include "platform/window/window.h"

#include <SDL.h>

namespace window {

namespace {

DisplayMode FromSdl(const SDL_DisplayMode& mode) {
    return DisplayMode{mode.w, mode.h, int(SDL_BITSPERPIXEL(mode.format))};
}

} // namespace

std::vector<std::string> DisplayDeviceNames() {
    std::vector<std::string> names;
    const int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetDisplayName(i);
        names.emplace_back(name != nullptr && *name != '\0' ? name
                                                            : "Display " + std::to_string(i + 1));
    }
    return names;
}

std::vector<DisplayMode> DisplayModes(int device) {
    std::vector<DisplayMode> modes;
    const int count = SDL_GetNumDisplayModes(device);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode{};
        if (SDL_GetDisplayMode(device, i, &mode) == 0) modes.push_back(FromSdl(mode));
    }
    return modes;
}

DisplayMode DesktopDisplayMode(int device) {
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(device, &mode) != 0) return {};
    return FromSdl(mode);
}

} // namespace window
