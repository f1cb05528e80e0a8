// ui/practice.cpp — "PRACTICE": the map, the number of computer players and their level, then a
// match on this machine alone (no session) once the main menu has stored its choices.
#include "core/game.h"
#include "core/game_state.h"
#include "platform/system/system.h"
#include "ui/deferred.h"
#include "ui/lobby.h"
#include "ui/main_menu.h"
#include "ui/screen_local.h"

#include <imgui.h>

#include <algorithm>

namespace ui {

namespace {

constexpr float kWidthPx = 360.0f;
constexpr float kHeightPx = 250.0f;

std::function<int()> practiceRunner; // the guarded match start; null: nothing runs

class PracticeScreen : public window::Screen {
public:
    explicit PracticeScreen(std::function<void()> start)
        : window::Screen(kPracticeScreen), start_(std::move(start)) {
        maps_ = MapChoices(screen_util::MapFolders());
        const auto stored = std::find(maps_.begin(), maps_.end(), core::PracticeMap);
        map_ = stored != maps_.end() ? int(stored - maps_.begin()) : 0;
        bots_ = std::clamp(core::BotCount, 1, 3) - 1;
        level_ = std::clamp(core::BotLevel, 0, 2);
    }

    void Draw() override {
        bool open = true;
        screen_util::BeginScreenWindow("PRACTICE###practice", kWidthPx, kHeightPx, &open);
        screen_util::CaptionedCombo("Select the map", "##practice_map", maps_, map_);
        screen_util::CaptionedCombo("Computer players", "##practice_bots", kCounts, bots_);
        screen_util::CaptionedCombo("Level", "##practice_level", screen_util::kBotLevels, level_);
        ImGui::Spacing();
        const bool ready = map_ >= 0 && map_ < int(maps_.size());
        if (window::LabelButton("START", ready)) Defer([this] { Start(); });
        ImGui::SameLine(0.0f, 60.0f);
        if (window::LabelButton("CANCEL") || !open) window::CloseScreen(*this);
        ImGui::End();
    }

private:
    inline static const std::vector<std::string> kCounts = {"1", "2", "3"};

    // The choices go into the game state (the settings keep them), then the menu starts.
    void Start() {
        if (map_ < 0 || map_ >= int(maps_.size()) || !IsOpen()) return;
        core::PracticeMap = maps_[size_t(map_)];
        core::BotCount = bots_ + 1;
        core::BotLevel = level_;
        window::CloseScreen(*this);
        start_();
    }

    std::function<void()> start_;
    std::vector<std::string> maps_;
    int map_ = 0;
    int bots_ = 2;
    int level_ = 1;
};

std::shared_ptr<PracticeScreen> practice;

} // namespace

void SetPracticeRunner(std::function<int()> runner) {
    practiceRunner = std::move(runner);
}

void OpenPractice(std::function<void()> start) {
    practice = std::make_shared<PracticeScreen>(std::move(start));
    window::OpenScreen(practice);
}

void PreparePractice(std::string_view playerName) {
    core::MapName = screen_util::Lower(core::PracticeMap);
    core::MatchBots = std::clamp(core::BotCount, 1, 3);
    core::MatchBotLevel = std::clamp(core::BotLevel, 0, 2);
    core::LoadFlag = true;
    core::MyPlayerId = 1;
    core::PlayerCount = 1;
    core::PlayerIds = {1, 0, 0, 0, 0};
    core::PlayerNames[0] = std::string(playerName);
    core::PlayerFormalNames[0] = std::to_string(core::Team) + core::Skin;
}

std::optional<int> RunPractice() {
    if (!practiceRunner) return std::nullopt;
    sys::Log("practice on " + core::MapName + " with " + std::to_string(core::MatchBots) +
             " computer players, level " + std::string(core::BotLevelName(core::MatchBotLevel)));
    return practiceRunner();
}

} // namespace ui
