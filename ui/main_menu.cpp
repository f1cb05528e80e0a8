// ui/main_menu.cpp — the main menu screen: its load, event handlers, drawing and "LET'S FIGHT".
// Its lists' contents and the storing of its choices are in menu_choices.cpp; the character
// preview it shows is in menu_preview.cpp.
#include "ui/main_menu.h"
#include "ui/main_menu_local.h"

#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/registry/registry.h"
#include "platform/system/system.h"
#include "ui/account.h"
#include "ui/deferred.h"
#include "ui/help.h"
#include "ui/inventory.h"
#include "ui/lobby.h"
#include "ui/map_download.h"
#include "ui/screen_local.h"
#include "web/web.h"

#include <imgui.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace ui {

namespace fs = std::filesystem;

namespace {

using menu_local::InstallDir;
using menu_local::kPreviewTimerMs;
using menu_local::ParseInt;
using menu_local::Preview;
using menu_local::Trim;
using menu_local::UserName;
using screen_util::Upper;

constexpr int kMenuWidth = 800;
constexpr int kMenuHeight = 600;
const ImVec4 kTitleColour(1.0f, 0.85f, 0.35f, 1.0f);

class MainMenuScreen : public window::Screen {
public:
    MainMenuScreen()
        : window::Screen("mainmenu"),
          timer_(window::Timers(), kPreviewTimerMs, window::TimerMode::Repeating,
                 [this] { preview_.Turn(); }) {}

    // The load, in order (see OpenMainMenu).
    void Load();
    void Draw() override;
    void OnClose() override;
    // The window pump's background: the preview, under the screens.
    void DrawBackground();
    // "LET'S FIGHT" (run outside the frame).
    void LetsFight();
    // "PRACTICE" confirmed (run outside the frame): the choices stored, the menu closed, the
    // practice match played.
    void StartPractice();

private:
    // --- event handlers ---
    void OnDisplayDevice();
    void OnTeam();
    void RebuildPreview();
    void ShowSettings();
    MenuChoices Choices() const;
    bool Connect(int serverChoice);
    bool ConnectByAddress();

    // --- drawing ---
    void DrawConnection();
    void DrawPlayer();
    void DrawGraphics();
    void DrawRendering();
    void DrawBottom();
    void DrawPreviewArea(float width, float height);

    // --- controls ---
    std::vector<std::string> connections_; // lstConnections
    int connection_ = -1;
    int serverChoice_ = 0;           // Option2
    std::string serverText_;         // servertxt
    int team_ = 0;                   // cmbtyp
    std::vector<std::string> skins_; // Combo3
    int skin_ = -1;
    std::string name_ = "Player";             // txtYourName
    std::vector<std::string> displayDevices_; // list_DDraw
    int displayDevice_ = -1;
    std::vector<std::string> renderDevices_; // list_d3d7
    int renderDevice_ = -1;
    DisplayLists display_; // list_display, list_bit
    int displayMode_ = -1;
    int depth_ = -1;
    int fullScreen_ = 1;     // Option1: 0 "FULL SCREEN (3DFX)", 1 "CLIPPER (Window)"
    bool maximised_ = false; // Check1
    int objectQuality_ = 3;  // Combo2
    int textureQuality_ = 1; // Combo1
    int rendering_ = 0;      // optrnd: 0 "Skinned", 1 "BOX"
    std::vector<std::string> objectItems_;
    std::vector<std::string> textureItems_;
    std::string title_; // Label2

    // --- preview ---
    Preview preview_;
    window::Timer timer_; // Timer1
    bool previewShown_ = false;
    std::shared_ptr<window::Picture> stills_[2]; // Image4, Image5
    int previewRect_[4] = {0, 0, 0, 0};          // where the last frame left room for it

    bool unloadedByProgram_ = false;
};

std::shared_ptr<MainMenuScreen> menu;

void MainMenuScreen::Load() {
    // 1.
    window::SetPointer(window::Pointer::Hourglass);
    window::SetSize(kMenuWidth, kMenuHeight);
    window::SetTitle(core::ProgramName);
    window::Yield();
    for (const QualityItem& q : kObjectQualities)
        objectItems_.push_back(q.name);
    for (const QualityItem& q : kTextureQualities)
        textureItems_.push_back(q.name);
    const fs::path media = InstallDir() / "media";
    stills_[0] = window::LoadPicture((media / "terror_image.bmp").string());
    stills_[1] = window::LoadPicture((media / "gign_image.bmp").string());
    serverText_ = std::string(web::kDefaultWebServerName);
    // 2. Display devices; the first one fills the device-dependent lists.
    int index = 0;
    for (const std::string& name : window::DisplayDeviceNames())
        displayDevices_.push_back(DeviceEntry(name, std::to_string(index++)));
    if (!displayDevices_.empty()) {
        displayDevice_ = 0;
        OnDisplayDevice();
    }
    // 3. The settings, shown on the menu.
    window::SetPointer(window::Pointer::Hourglass);
    core::MenuDefaults defaults;
    int depth = 0;
    if (depth_ >= 0 && ParseInt(display_.depths[size_t(depth_)], depth))
        defaults.displayDepth = int16_t(depth);
    defaults.displayModeIndex = displayMode_;
    defaults.displayDeviceIndex = displayDevice_;
    defaults.renderDeviceIndex = renderDevice_;
    core::LitIni(defaults);
    // 5 (before 4: the connection list is part of what the settings select). A failure leaves
    // the list empty and the menu usable.
    if (!net::ConnectionNames(connections_)) {
        // Without a session object at all the game cannot go on (its message has been shown).
        if (!net::DPlay) {
            window::RequestQuit();
            return;
        }
        window::MsgBox(net::kTextEnumConnectionsFailed, core::ProgramName);
    }
    ShowSettings();
    // 4. The name.
    if (!core::AccountName.empty()) {
        name_ = core::AccountName;
    } else if (const std::string user = UserName(); !user.empty()) {
        name_ = user.substr(0, 99);
    }
    // 6.
    title_ = MenuTitle();
    window::SetPointer(window::Pointer::Normal);
}

// Lit_Ini's last step: the stored values selected on the menu. An index outside its list
// keeps the menu's own selection.
void MainMenuScreen::ShowSettings() {
    auto pick = [](int value, size_t size, int& selected) {
        if (value >= 0 && size_t(value) < size) selected = value;
    };
    connection_ = connections_.empty() ? -1 : 0;
    pick(core::ConnectionIndex, connections_.size(), connection_);
    serverChoice_ = core::ServerChoice == 1 ? 1 : 0;
    const int device = displayDevice_;
    pick(core::DisplayDeviceIndex, displayDevices_.size(), displayDevice_);
    if (displayDevice_ != device) OnDisplayDevice();
    pick(core::DisplayModeIndex, display_.modes.size(), displayMode_);
    pick(core::RenderDeviceIndex, renderDevices_.size(), renderDevice_);
    pick(core::TextureQuality, textureItems_.size(), textureQuality_);
    pick(core::ObjectQuality, objectItems_.size(), objectQuality_);
    team_ = core::Team == 1 ? 1 : 0;
    maximised_ = core::Maximised;
    const auto depth = std::find(display_.depths.begin(), display_.depths.end(),
                                 std::to_string(core::DisplayDepth));
    if (depth != display_.depths.end()) depth_ = int(depth - display_.depths.begin());
    fullScreen_ = core::FullScreen == 1 ? 0 : 1;
    rendering_ = core::BoxMode ? 1 : 0;
    OnTeam();
    const auto skin = std::find(skins_.begin(), skins_.end(), Upper(core::Skin));
    if (skin != skins_.end() && int(skin - skins_.begin()) != skin_) {
        skin_ = int(skin - skins_.begin());
        RebuildPreview();
    }
}

void MainMenuScreen::OnDisplayDevice() {
    const int device = std::atoi(DeviceId(displayDevices_[size_t(displayDevice_)]).c_str());
    display_ = BuildDisplayLists(window::DisplayModes(device), window::DesktopDisplayMode(device));
    displayMode_ = display_.selectedMode;
    depth_ = display_.selectedDepth;
    renderDevices_ = RenderDeviceEntries();
    renderDevice_ = -1;
    for (size_t i = 0; i < renderDevices_.size(); ++i) {
        if (DeviceId(renderDevices_[i]) == kHardwareDeviceId) renderDevice_ = int(i);
    }
}

void MainMenuScreen::OnTeam() {
    skins_ = SkinNames(InstallDir() / "models", team_);
    skin_ = skins_.empty() ? -1 : 0;
    RebuildPreview();
}

void MainMenuScreen::RebuildPreview() {
    timer_.Disable();
    const fs::path models = InstallDir() / "models";
    const std::string skin = skin_ >= 0 ? skins_[size_t(skin_)] : std::string();
    previewShown_ = preview_.Build(models, team_, SkinFile(models, team_, skin), objectQuality_,
                                   textureQuality_);
    if (previewShown_) timer_.Enable();
}

MenuChoices MainMenuScreen::Choices() const {
    auto text = [](const std::vector<std::string>& items, int index) {
        return index >= 0 && size_t(index) < items.size() ? items[size_t(index)] : std::string();
    };
    MenuChoices c;
    c.name = name_;
    c.team = team_;
    c.skin = text(skins_, skin_);
    c.displayDevice = displayDevice_;
    c.displayDeviceEntry = text(displayDevices_, displayDevice_);
    c.renderDevice = renderDevice_;
    c.renderDeviceEntry = text(renderDevices_, renderDevice_);
    c.displayMode = displayMode_;
    c.displayModeEntry = text(display_.modes, displayMode_);
    c.depthEntry = text(display_.depths, depth_);
    c.objectQuality = objectQuality_;
    c.textureQuality = textureQuality_;
    c.fullScreen = fullScreen_ == 0;
    c.maximised = maximised_;
    c.boxMode = rendering_ == 1;
    c.connection = connection_;
    c.serverChoice = serverChoice_;
    return c;
}

// "LET'S FIGHT": the choices go into the game state and the registry, the names into the
// session layer, then the connection is made and the session list opens, which closes the
// menu. A failed connection leaves the menu as it was, with a fresh session object.
void MainMenuScreen::LetsFight() {
    window::SetPointer(window::Pointer::Hourglass);
    const std::string name = StoreChoices(Choices());
    core::EcritIni();
    net::PlayerName = name;
    net::PlayerFormalName = std::to_string(core::Team) + core::Skin;
    const bool connected = Connect(serverChoice_);
    window::SetPointer(window::Pointer::Normal);
    if (!connected) return;
    sys::Log("main menu: to the session list");
    unloadedByProgram_ = true;
    window::CloseScreen(*this);
}

void MainMenuScreen::StartPractice() {
    const std::string name = StoreChoices(Choices());
    core::EcritIni();
    PreparePractice(name);
    sys::Log("main menu: to a practice match");
    unloadedByProgram_ = true;
    window::CloseScreen(*this);
    net::MatchStatus = RunPractice().value_or(0);
}

// The connection step: LAN, the chosen connection and its session list; internet, the web
// server's game list. False (a fresh session object, the menu stays) when it fails.
bool MainMenuScreen::Connect(int serverChoice) {
    bool opened = false;
    if (serverChoice == 0 && net::ConnectionAsksAddress(connection_)) {
        opened = ConnectByAddress();
    } else if (serverChoice == 0) {
        std::vector<std::string> entries;
        if (!net::ConnectLan(connection_, entries)) return false;
        opened = OpenSessionList(false);
    } else {
        net::WebServerName = serverText_;
        opened = web::server_en_cours() && OpenSessionList(true);
    }
    if (!opened) net::InitDirectPlay();
    return opened;
}

// The connection that reaches one host by address: the address box, proposing the address
// last connected to, then that host's session list. The address is kept once the list opens.
// False when the box is cancelled or the connection fails (its message has been shown).
bool MainMenuScreen::ConnectByAddress() {
    const std::string stored =
        registry::ReadSetting(registry::RootKey::LocalMachine, core::kGameKey, kHostAddressSetting)
            .ToText();
    window::SetPointer(window::Pointer::Normal);
    const std::optional<std::string> typed =
        window::InputBox(kHostAddressPrompt, kHostAddressCaption, stored);
    window::SetPointer(window::Pointer::Hourglass);
    std::vector<std::string> entries;
    if (!typed || !net::ConnectByAddress(connection_, *typed, entries)) return false;
    if (!OpenSessionList(false)) return false;
    registry::WriteSetting(registry::RootKey::LocalMachine, core::kGameKey, kHostAddressSetting,
                           Trim(*typed), registry::ValueType::Text);
    return true;
}

void MainMenuScreen::DrawBackground() {
    if (previewShown_)
        preview_.Draw(previewRect_[0], previewRect_[1], previewRect_[2], previewRect_[3]);
}

void MainMenuScreen::OnClose() {
    timer_.Disable();
    window::SetBackgroundHook(nullptr);
    preview_.Release();
    // Closed by anything but the program's own hand-over (QUIT, the window's close): the
    // program ends.
    if (!unloadedByProgram_) window::RequestQuit();
}

// --- drawing ---

void MainMenuScreen::Draw() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    // No background: the preview is drawn into the window before the screens.
    ImGui::Begin("##mainmenu", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus |
                     ImGuiWindowFlags_NoBackground);
    const float column = (ImGui::GetContentRegionAvail().x - 8.0f) * 0.5f;
    ImGui::BeginGroup();
    screen_util::BeginFrame("##connection", "CONNECTION SETUP", column, 150.0f);
    DrawConnection();
    screen_util::EndFrame();
    screen_util::BeginFrame("##player", "PLAYER SETUP", column, -48.0f);
    DrawPlayer();
    screen_util::EndFrame();
    ImGui::EndGroup();
    ImGui::SameLine();
    ImGui::BeginGroup();
    screen_util::BeginFrame("##graphics", "GRAPHIC SETUP", column, 392.0f);
    DrawGraphics();
    screen_util::EndFrame();
    screen_util::BeginFrame("##rendering", "RENDU JOUEUR", column, -48.0f);
    DrawRendering();
    screen_util::EndFrame();
    ImGui::EndGroup();
    DrawBottom();
    ImGui::End();
}

void MainMenuScreen::DrawConnection() {
    window::Option("CONFIGURE ", serverChoice_, 0);
    ImGui::SameLine();
    window::Option("WEB SERVER", serverChoice_, 1);
    if (serverChoice_ == 0) {
        ImGui::TextUnformatted("Choose Connection Type:");
        ImGui::SetNextItemWidth(-1.0f);
        window::ListBox("##lstConnections", connections_, connection_, 3);
    } else {
        ImGui::TextUnformatted("Server Address:");
        ImGui::SetNextItemWidth(-1.0f);
        window::InputLine("##servertxt", serverText_, 255);
    }
}

void MainMenuScreen::DrawPlayer() {
    const std::vector<std::string> teams(kTeamNames.begin(), kTeamNames.end());
    ImGui::TextUnformatted("TYPE:");
    ImGui::SameLine(60.0f);
    ImGui::SetNextItemWidth(140.0f);
    if (window::Combo("##cmbtyp", teams, team_)) OnTeam();
    ImGui::SameLine();
    ImGui::TextUnformatted("SKIN:");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-1.0f);
    if (window::Combo("##Combo3", skins_, skin_)) RebuildPreview();
    ImGui::TextUnformatted("NAME:");
    ImGui::SameLine(60.0f);
    ImGui::SetNextItemWidth(-1.0f);
    window::InputLine("##txtYourName", name_, 99);
    ImGui::Spacing();
    DrawPreviewArea(170.0f, ImGui::GetContentRegionAvail().y);
    ImGui::SameLine();
    ImGui::BeginGroup();
    ImGui::Dummy(ImVec2(0.0f, 20.0f));
    if (window::LabelButton("WEAPON INVENTORY")) OpenWeaponInventory();
    ImGui::Dummy(ImVec2(0.0f, 12.0f));
    if (window::LabelButton("KEYBOARD")) OpenKeyboardHelp();
    ImGui::Dummy(ImVec2(0.0f, 12.0f));
    if (window::LabelButton("SYSTEM SETUP")) {
        core::AccountName = name_;
        net::WebServerName = serverText_;
        OpenAccount();
    }
    ImGui::Dummy(ImVec2(0.0f, 12.0f));
    if (window::LabelButton("DOWNLOAD MAPS")) {
        net::WebServerName = serverText_; // the maps come from the server typed here
        OpenMapDownload();
    }
    ImGui::EndGroup();
}

// Picture1: the room the preview is drawn into, or the team's still picture.
void MainMenuScreen::DrawPreviewArea(float width, float height) {
    ImGui::BeginChild("##Picture1", ImVec2(width, height), true,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoBackground);
    const ImVec2 min = ImGui::GetWindowPos();
    const ImVec2 size = ImGui::GetWindowSize();
    previewRect_[0] = int(min.x) + 1;
    previewRect_[1] = int(min.y) + 1;
    previewRect_[2] = int(size.x) - 2;
    previewRect_[3] = int(size.y) - 2;
    const window::Picture* still = stills_[team_ == 0 ? 0 : 1].get();
    if (!previewShown_ && still != nullptr && still->TextureId() != nullptr) {
        const float scale = std::min((size.x - 8.0f) / float(still->Width()),
                                     (size.y - 8.0f) / float(still->Height()));
        const ImVec2 picture(float(still->Width()) * scale, float(still->Height()) * scale);
        ImGui::SetCursorPos(ImVec2((size.x - picture.x) * 0.5f, (size.y - picture.y) * 0.5f));
        ImGui::Image(still->TextureId(), picture);
    }
    ImGui::EndChild();
}

void MainMenuScreen::DrawGraphics() {
    ImGui::SetNextItemWidth(-1.0f);
    if (window::ListBox("##list_DDraw", displayDevices_, displayDevice_, 2)) OnDisplayDevice();
    ImGui::SetNextItemWidth(-1.0f);
    window::ListBox("##list_d3d7", renderDevices_, renderDevice_, 2);
    ImGui::SetNextItemWidth(180.0f);
    window::Combo("##list_display", display_.modes, displayMode_);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-1.0f);
    window::Combo("##list_bit", display_.depths, depth_);
    window::Option("FULL SCREEN (3DFX)", fullScreen_, 0);
    ImGui::SameLine();
    window::Option("CLIPPER (Window)", fullScreen_, 1);
    window::CheckBox("Full screen ( clipper)", maximised_);
    ImGui::Spacing();
    ImGui::TextUnformatted("QUALITE OBJET");
    ImGui::SetNextItemWidth(-1.0f);
    if (window::Combo("##Combo2", objectItems_, objectQuality_)) RebuildPreview();
    ImGui::TextUnformatted("QUALITE TEXTURE");
    ImGui::SetNextItemWidth(-1.0f);
    if (window::Combo("##Combo1", textureItems_, textureQuality_)) RebuildPreview();
}

void MainMenuScreen::DrawRendering() {
    window::Option("Skinned", rendering_, 0);
    ImGui::SameLine();
    window::Option("BOX", rendering_, 1);
}

void MainMenuScreen::DrawBottom() {
    ImGui::SetWindowFontScale(1.4f);
    ImGui::TextColored(kTitleColour, "%s", title_.c_str());
    ImGui::SetWindowFontScale(1.0f);
    ImGui::SameLine(300.0f);
    if (window::LabelButton("ABOUT")) OpenAbout();
    ImGui::SameLine(420.0f);
    if (window::LabelButton("LET'S FIGHT"))
        Defer([] {
            if (menu && menu->IsOpen()) menu->LetsFight();
        });
    ImGui::SameLine(560.0f);
    if (window::LabelButton("PRACTICE"))
        OpenPractice([] {
            if (menu && menu->IsOpen()) menu->StartPractice();
        });
    ImGui::SameLine(ImGui::GetWindowWidth() - 110.0f);
    if (window::Button("QUIT", 100.0f, 0.0f)) window::CloseScreen(*this);
}

} // namespace

void OpenMainMenu() {
    menu = std::make_shared<MainMenuScreen>();
    menu->Load();
    window::OpenScreen(menu);
    window::SetBackgroundHook([] {
        if (menu && menu->IsOpen()) menu->DrawBackground();
    });
    window::MsgBox(NewsText(), MenuTitle());
}

} // namespace ui
