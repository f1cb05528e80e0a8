// ui/create_game.cpp — "Create Game": the map, the game's name and its message, the computer
// players the host brings (0..3) and their level, then the session is hosted (the computer
// players are in it as players) and the waiting room opens. Its close box does nothing.
#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "ui/deferred.h"
#include "ui/lobby.h"
#include "ui/lobby_local.h"
#include "ui/map_download.h"
#include "ui/screen_local.h"

#include <imgui.h>

#include <algorithm>

namespace ui {

namespace {
constexpr float kWidthPx = 420.0f;
constexpr float kHeightPx = 400.0f;
const std::vector<std::string> kBotCounts = {"0", "1", "2", "3"};
constexpr size_t kNameMaxLength = 100;    // bytes of the game's name
constexpr size_t kCommentMaxLength = 200; // bytes of the game's message on the web list
} // namespace

CreateGameScreen::CreateGameScreen()
    : window::Screen(kCreateGameScreen), gameName_(kDefaultGameName) {}

void CreateGameScreen::Show() {
    comment_.clear();
    maps_ = MapChoices(screen_util::MapFolders());
    map_ = 0;
    bots_ = std::clamp(core::GameBotCount, 0, 3);
    level_ = std::clamp(core::GameBotLevel, 0, 2);
    focusName_ = true;
    window::OpenScreen(CreateGameWindow());
}

void CreateGameScreen::Create() {
    if (map_ < 0 || map_ >= int(maps_.size())) return;
    const std::string& entry = maps_[size_t(map_)];
    core::MapName = screen_util::Lower(entry);
    if (gameName_.empty()) gameName_ = kDefaultGameName;
    net::SessionName = GameSessionName(gameName_, entry);
    // The choice is kept in the settings, and the session brings that many computer players.
    core::GameBotCount = std::clamp(bots_, 0, 3);
    core::GameBotLevel = std::clamp(level_, 0, 2);
    core::EcritIni();
    core::MatchBots = core::GameBotCount;
    core::MatchBotLevel = core::GameBotLevel;
    if (!net::CreateGame(comment_)) return;
    window::CloseScreen(*this);
    WaitingRoomWindow()->Show(net::IsHost);
}

void CreateGameScreen::Draw() {
    screen_util::BeginScreenWindow("Create Game###create_game", kWidthPx, kHeightPx, nullptr);
    ImGui::TextUnformatted("Select the map");
    ImGui::SetNextItemWidth(-1.0f);
    window::Combo("##Combo1", maps_, map_);
    ImGui::Spacing();
    ImGui::TextUnformatted("Name of Game");
    ImGui::SetNextItemWidth(-1.0f);
    window::InputLine("##txtGameName", gameName_, kNameMaxLength, focusName_);
    focusName_ = false;
    ImGui::Spacing();
    ImGui::TextUnformatted("Message for your game");
    ImGui::SetNextItemWidth(-1.0f);
    window::InputLine("##TxtComment", comment_, kCommentMaxLength);
    ImGui::Spacing();
    screen_util::CaptionedCombo("Computer players", "##create_bots", kBotCounts, bots_);
    screen_util::CaptionedCombo("Level", "##create_level", screen_util::kBotLevels, level_);
    ImGui::Spacing();
    if (window::LabelButton("CREATE")) Defer([this] { Create(); });
    ImGui::SameLine(0.0f, 60.0f);
    if (window::LabelButton("CANCEL")) Defer(EndProgram);
    ImGui::End();
}

} // namespace ui
