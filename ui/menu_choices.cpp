// ui/menu_choices.cpp — the main menu's list contents and the storing of its choices.
//
// Index
//   0. Helpers shared with the screen (main_menu_local.h)
//   1. List contents        (skins, display modes, devices, news, title)
//   2. Storing the choices  (StoreChoices)
#include "ui/main_menu.h"
#include "ui/main_menu_local.h"

#include "core/game_state.h"
#include "ui/screen_local.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>

namespace ui {

namespace fs = std::filesystem;

// =============================================================================================
// 0. Helpers shared with the screen
// =============================================================================================

namespace menu_local {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

bool ParseInt(std::string_view text, int& value) {
    text = Trim(text);
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string UserName() {
    for (const char* variable : {"USER", "USERNAME", "LOGNAME"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

fs::path InstallDir() {
    return screen_util::InstallDirectory();
}

} // namespace menu_local

using menu_local::ParseInt;
using menu_local::Trim;

// =============================================================================================
// 1. List contents
// =============================================================================================

namespace {

using screen_util::Upper;

// The prefix of team `team`'s skin files: the team name's first letter and "S".
std::string SkinPrefix(int team) {
    return std::string(1, kTeamNames[team == 0 ? 0 : 1][0]) + "S";
}

// Skin pictures, in the order a skin's picture is looked for.
constexpr std::array<std::string_view, 3> kSkinExtensions = {".BMP", ".TGA", ".PNG"};

} // namespace

std::vector<std::string> SkinNames(const fs::path& modelsDir, int team) {
    const std::string prefix = SkinPrefix(team);
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(modelsDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = it->path().filename().string();
        const std::string upper = Upper(name);
        if (upper.size() < prefix.size() + 4 || upper.compare(0, 2, prefix) != 0) continue;
        const std::string extension = upper.substr(upper.size() - 4);
        if (std::find(kSkinExtensions.begin(), kSkinExtensions.end(), extension) ==
            kSkinExtensions.end())
            continue;
        files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> skins;
    for (const std::string& name : files) {
        std::string skin = Upper(name.substr(2, name.find('.', 2) - 2));
        // One entry per skin, whichever formats its picture comes in.
        if (std::find(skins.begin(), skins.end(), skin) == skins.end())
            skins.push_back(std::move(skin));
    }
    return skins;
}

fs::path SkinFile(const fs::path& modelsDir, int team, std::string_view skin) {
    if (skin.empty()) return {};
    std::error_code ec;
    for (const std::string_view extension : kSkinExtensions) {
        const std::string wanted = SkinPrefix(team) + Upper(skin) + std::string(extension);
        for (fs::directory_iterator it(modelsDir, ec), end; !ec && it != end; it.increment(ec)) {
            if (Upper(it->path().filename().string()) == wanted && it->is_regular_file(ec))
                return it->path();
        }
    }
    return {};
}

std::string PadRight(std::string_view text, size_t width) {
    std::string out(text);
    if (out.size() < width) out.append(width - out.size(), ' ');
    return out;
}

std::string DisplayModeText(int width, int height) {
    return PadRight(std::to_string(width) + " X " + std::to_string(height), 15);
}

bool ParseDisplayMode(std::string_view text, int& width, int& height) {
    const size_t x = text.find('X');
    int w = 0;
    int h = 0;
    if (x == std::string_view::npos || !ParseInt(text.substr(0, x), w) ||
        !ParseInt(text.substr(x + 1), h))
        return false;
    width = w;
    height = h;
    return true;
}

std::string DeviceEntry(std::string_view description, std::string_view id) {
    return PadRight(description, kDeviceColumn) + std::string(id);
}

std::string DeviceId(std::string_view entry) {
    if (entry.size() < kDeviceColumn) return {};
    return std::string(Trim(entry.substr(kDeviceColumn - 1)));
}

DisplayLists BuildDisplayLists(const std::vector<window::DisplayMode>& modes,
                               const window::DisplayMode& desktop) {
    DisplayLists lists;
    std::vector<std::pair<int, int>> sizes;
    std::vector<int> depths;
    for (const window::DisplayMode& mode : modes) {
        const std::pair<int, int> size{mode.width, mode.height};
        auto known = std::find(sizes.begin(), sizes.end(), size);
        if (known == sizes.end()) {
            sizes.push_back(size);
            lists.modes.push_back(DisplayModeText(mode.width, mode.height));
            known = sizes.end() - 1;
        }
        if (size == std::pair{desktop.width, desktop.height})
            lists.selectedMode = int(known - sizes.begin());
        auto depth = std::find(depths.begin(), depths.end(), mode.bitsPerPixel);
        if (depth == depths.end()) {
            depths.push_back(mode.bitsPerPixel);
            lists.depths.push_back(std::to_string(mode.bitsPerPixel));
            depth = depths.end() - 1;
        }
        if (mode.bitsPerPixel == desktop.bitsPerPixel)
            lists.selectedDepth = int(depth - depths.begin());
    }
    return lists;
}

std::vector<std::string> RenderDeviceEntries() {
    return {DeviceEntry("OpenGL 3.3 renderer", kHardwareDeviceId)};
}

std::string NewsText() {
    return "NOUVELLES MAPS DESERT & DUST DISPONIBLES  \r\n"
           "INVERSION SOURIS DANS KEYBOARD\r\n"
           "NOUVEAU MODE DE VUE INTERIEUR\r\n\r\n"
           "Merci a tous et BON CLASH!!\r\n"
           "DUZEVOVO.";
}

std::string MenuTitle() {
    return Upper(core::ProgramName) + " V" + core::VersionText;
}

// =============================================================================================
// 2. Storing the choices
// =============================================================================================

std::string PlayerNameFor(std::string_view typed, int team) {
    if (Trim(typed).empty()) return kTeamNames[team == 0 ? 0 : 1];
    return std::string(typed);
}

std::string StoreChoices(const MenuChoices& c) {
    const std::string name = PlayerNameFor(c.name, c.team);
    core::AccountName = name;
    core::Skin = c.skin;
    core::DisplayModeIndex = c.displayMode;
    core::DisplayDeviceIndex = c.displayDevice;
    core::RenderDeviceIndex = c.renderDevice;
    core::TextureQuality = c.textureQuality;
    core::ObjectQuality = c.objectQuality;
    core::Maximised = c.maximised;
    core::Team = c.team;
    int depth = 0;
    if (ParseInt(c.depthEntry, depth)) core::DisplayDepth = int16_t(depth);
    int width = 0;
    int height = 0;
    if (ParseDisplayMode(c.displayModeEntry, width, height)) {
        core::DisplayWidth = width;
        core::DisplayHeight = height;
    }
    core::DisplayDriver = DeviceId(c.displayDeviceEntry);
    core::RenderDriver = DeviceId(c.renderDeviceEntry);
    if (c.textureQuality >= 0 && c.textureQuality < int(kTextureQualities.size()))
        core::RenderOptionA = kTextureQualities[size_t(c.textureQuality)].value;
    if (c.objectQuality >= 0 && c.objectQuality < int(kObjectQualities.size()))
        core::RenderOptionB = kObjectQualities[size_t(c.objectQuality)].value;
    core::FullScreen = c.fullScreen ? 1 : 0;
    core::BoxMode = c.boxMode;
    core::ConnectionIndex = c.connection;
    core::ServerChoice = c.serverChoice;
    core::LoadFlag = true;
    return name;
}

} // namespace ui
