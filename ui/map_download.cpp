// ui/map_download.cpp — "DOWNLOAD MAP": CHECK lists the server's maps, DOWNLOAD MAP fetches
// and unpacks the chosen one (web client), the installed maps are listed from the player's
// map folder and the installation's.
#include "ui/map_download.h"

#include "core/game_state.h"
#include "platform/window/window.h"
#include "ui/deferred.h"
#include "ui/screen_local.h"
#include "web/web.h"

#include <imgui.h>

#include <algorithm>
#include <memory>
#include <set>
#include <system_error>

namespace ui {

namespace {

constexpr float kWidthPx = 520.0f;
constexpr float kHeightPx = 360.0f;

class MapDownloadScreen : public window::Screen {
public:
    MapDownloadScreen() : window::Screen(kMapDownloadScreen) { ChargeMap(); }

    // List1: the maps installed.
    void ChargeMap() { installed_ = InstalledMaps(screen_util::MapFolders()); }

    void Draw() override {
        bool open = true;
        screen_util::BeginScreenWindow("DOWNLOAD MAP###map_download", kWidthPx, kHeightPx, &open);
        const float half = ImGui::GetContentRegionAvail().x * 0.5f - 4.0f;
        const float listHeight = ImGui::GetContentRegionAvail().y - 40.0f;
        screen_util::BeginFrame("##server", "The MAP AVALAIBALE ON SERVER", half, listHeight);
        window::ListBox("##List2", available_, chosen_, 10);
        screen_util::EndFrame();
        ImGui::SameLine();
        screen_util::BeginFrame("##installed", "Your MAP INSTALLED", 0.0f, listHeight);
        window::ListBox("##List1", installed_, installedChosen_, 10);
        screen_util::EndFrame();
        if (window::Button("CHECK##Command1", half)) Defer([this] { Check(); });
        ImGui::SameLine();
        if (window::Button("DOWNLOAD MAP##Command2", -1.0f)) Defer([this] { Download(); });
        ImGui::End();
        if (!open) window::CloseScreen(*this);
    }

private:
    void Check() {
        web::Get_Map();
        available_ = web::MapList;
        chosen_ = -1;
    }

    void Download() {
        if (chosen_ < 0 || chosen_ >= int(available_.size())) {
            window::MsgBox(kTextSelectMap, core::ProgramName);
            return;
        }
        web::GetAnyFile(screen_util::Upper(available_[size_t(chosen_)]));
        ChargeMap();
        window::SetPointer(window::Pointer::Normal);
    }

    std::vector<std::string> available_;
    int chosen_ = -1;
    std::vector<std::string> installed_;
    int installedChosen_ = -1;
};

} // namespace

void OpenMapDownload() {
    Defer([] { window::ShowModal(std::make_shared<MapDownloadScreen>()); });
}

std::vector<std::string> MapFileNames(const std::vector<std::filesystem::path>& mapDirs) {
    std::vector<std::string> names;
    std::set<std::string> seen; // lower-case names already listed
    for (const std::filesystem::path& mapDir : mapDirs) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(mapDir, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.size() > 4 && screen_util::Lower(name.substr(name.size() - 4)) == ".map" &&
                it->is_regular_file(error) && seen.insert(screen_util::Lower(name)).second)
                names.push_back(name);
        }
    }
    // Alphabetical, whatever the case, as a directory listing shows them.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return screen_util::Lower(a) < screen_util::Lower(b);
    });
    return names;
}

std::vector<std::string> InstalledMaps(const std::vector<std::filesystem::path>& mapDirs) {
    std::vector<std::string> maps;
    for (const std::string& file : MapFileNames(mapDirs))
        maps.push_back(screen_util::Upper(file.substr(0, file.size() - 4)));
    return maps;
}

} // namespace ui
