// ui/account.cpp — "SYSTEM BOARD": login fields, statistics, release check and download, and
// the message board. Every network exchange goes through the web client (web/web.h), which
// shows its own wait window; a failed exchange changes nothing here.
#include "ui/account.h"

#include "ui/account_local.h"

#include "core/game.h"
#include "core/game_state.h"
#include "platform/window/window.h"
#include "ui/deferred.h"
#include "ui/lobby.h"
#include "ui/screen_local.h"
#include "web/web.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <memory>
#include <vector>

namespace ui {

namespace {

constexpr float kWidthPx = 760.0f;
constexpr float kHeightPx = 520.0f;
constexpr size_t kFieldMaxLength = 100; // bytes of a login, password or e-mail
constexpr const char* kUnknownVersion = "?.?.?";
constexpr const char* kCheckVersion = "CHECK VERSION";
constexpr const char* kDownload = "DOWNLOAD";
constexpr const char* kNoUrl = "Check on the server !!";
constexpr const char* kRefused = "The server refused your LOGIN Informations (wrong Login or "
                                 "Password) !!\r\nNothing was changed: your Password is the "
                                 "one it was.";

const std::vector<std::string> kActions = {"SEND Messages To", "CHECK Messages From"};
const std::vector<std::string> kAudiences = {"OTHERS PLAYERS (PUBLIC)", "VESK SOFT (PRIVATE)"};

} // namespace

AccountScreen::AccountScreen() : window::Screen(kAccountScreen), command2_(kCheckVersion) {
    OnActionChanged();
    ChargeInfos();
}

void AccountScreen::ChargeInfos() {
    numJoueur_ = std::to_string(core::AccountNumber);
    lblsoft_ = core::ProgramName + " " + core::VersionText;
    txtlog_ = core::Login;
    txtpass_ = core::Password;
    txtpass2_ = core::Password;
    txtmail_ = core::Email;
    lbl_ = StatisticsLines();
    // "?.?.?" is only shown: kept in ServerVersion it would read as a newer release.
    lblver_ = ServerVersionLabel(web::ServerVersion);
    txtver_ = web::DownloadUrl.empty() ? std::string(kNoUrl) : web::DownloadUrl;
}

void AccountScreen::ReChargeInfos() {
    if (core::AccountName.empty()) core::AccountName = core::Team == 0 ? "TERRORIST" : "GIGN";
    // The typed login, password and e-mail are kept only once the server has taken them.
    const web::AccountAnswer answer = web::SendAccount({txtlog_, txtpass_, txtmail_});
    ChargeInfos();
    if (answer == web::AccountAnswer::Refused) window::MsgBox(kRefused, core::ProgramName);
    if (!web::ServerVersion.empty() && web::ServerVersion != core::VersionText) {
        window::Beep();
        window::MsgBox(NewVersionText(web::ServerVersion, web::DownloadUrl), core::ProgramName);
        command2_ = kDownload;
    }
}

void AccountScreen::OnActionChanged() {
    board_ = action_ == 0 ? "SEND !" : "CHECK !";
    message_.clear();
}

void AccountScreen::Board() {
    if (core::AccountNumber == 0) ReChargeInfos(); // no account yet: register first
    if (action_ == 0) {
        if (!TrimSpaces(message_).empty()) web::EnvoiMessage(message_, audience_);
    } else {
        message_ = web::RecupMessage(audience_);
    }
}

void AccountScreen::Command2() {
    if (command2_ == kCheckVersion)
        ReChargeInfos();
    else
        web::GetVersion();
}

namespace {

// One labelled text field of the login frame.
void Field(const char* caption, const char* label, std::string& text) {
    ImGui::TextUnformatted(caption);
    ImGui::SameLine(150.0f);
    ImGui::SetNextItemWidth(-1.0f);
    window::InputLine(label, text, kFieldMaxLength);
}

} // namespace

void AccountScreen::Draw() {
    bool open = true;
    screen_util::BeginScreenWindow("SYSTEM BOARD###account", kWidthPx, kHeightPx, &open);
    const float half = ImGui::GetContentRegionAvail().x * 0.5f - 4.0f;

    ImGui::BeginGroup();
    screen_util::BeginFrame("##login", "Your LOGIN Informations", half, 170.0f);
    ImGui::Text("ACCOUNT: %s", numJoueur_.c_str());
    Field("Login:", "##txtlog", txtlog_);
    Field("Password:", "##txtpass", txtpass_);
    Field("Confirm Password:", "##txtpass2", txtpass2_);
    Field("Email:", "##Txtmail", txtmail_);
    screen_util::EndFrame();
    screen_util::BeginFrame("##stats", "Your STATISTICS", half, 150.0f);
    for (const std::string& line : lbl_)
        ImGui::TextUnformatted(line.c_str());
    ImGui::TextUnformatted(lblsoft_.c_str());
    screen_util::EndFrame();
    screen_util::BeginFrame("##soft", "Your SOFT", half,
                            ImGui::GetContentRegionAvail().y - ImGui::GetFrameHeightWithSpacing());
    ImGui::TextUnformatted(lblver_.c_str());
    ImGui::TextUnformatted("ON URL:");
    ImGui::SameLine();
    ImGui::TextWrapped("%s", txtver_.c_str());
    if (window::Button((command2_ + "##Command2").c_str())) Defer([this] { Command2(); });
    screen_util::EndFrame();
    ImGui::EndGroup();

    ImGui::SameLine();
    screen_util::BeginFrame("##board", "Your MESSAGES BOARD:", 0.0f,
                            ImGui::GetContentRegionAvail().y - ImGui::GetFrameHeightWithSpacing());
    ImGui::SetNextItemWidth(-1.0f);
    if (window::Combo("##cmbmess0", kActions, action_)) OnActionChanged();
    ImGui::SetNextItemWidth(-1.0f);
    if (window::Combo("##cmbmess1", kAudiences, audience_)) message_.clear();
    ImGui::InputTextMultiline("##message", &message_, ImVec2(-1.0f, -32.0f));
    if (window::Button((board_ + "##btcmess").c_str(), -1.0f)) Defer([this] { Board(); });
    screen_util::EndFrame();

    if (window::Button("SEND Informations & CHECK NEW VERSION & REFRESH STATISTICS##btcsoft",
                       ImGui::GetContentRegionAvail().x - 110.0f))
        Defer([this] { ReChargeInfos(); });
    ImGui::SameLine();
    if (window::Button("CLOSE##Command1", -1.0f)) open = false;

    ImGui::End();
    if (!open) window::CloseScreen(*this);
}

void OpenAccount() {
    Defer([] { window::ShowModal(std::make_shared<AccountScreen>()); });
}

std::array<std::string, 5> StatisticsLines() {
    return {"KILLER: " + std::to_string(core::TotalKills),
            "KILLED: " + std::to_string(core::TotalDeaths),
            "SNIPPER: " + std::to_string(core::TotalSniperKills),
            "SNIPPED: " + std::to_string(core::TotalSnipedDeaths),
            "WEAPON RANK: " + std::to_string(core::WeaponPower)};
}

std::string ServerVersionLabel(std::string_view serverVersion) {
    return "VERSION on SERVER:" +
           std::string(serverVersion.empty() ? std::string_view(kUnknownVersion) : serverVersion);
}

std::string NewVersionText(std::string_view serverVersion, std::string_view url) {
    return "New version " + std::string(serverVersion) + " at the url:\r\n" + std::string(url);
}

} // namespace ui
