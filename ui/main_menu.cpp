// ui/main_menu.cpp — the main menu.
//
// Index
//   1. List contents        (skins, display modes, devices, news, title)
//   2. Storing the choices  (StoreChoices)
//   3. The character preview (affiche_MODELE: a turning model drawn under the menu)
//   4. The screen           (load, event handlers, drawing, "LET'S FIGHT")
#include "ui/main_menu.h"

#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/registry/registry.h"
#include "platform/render/render.h"
#include "platform/scene/scene.h"
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
#include <charconv>
#include <cstdlib>
#include <glm/gtc/constants.hpp>
#include <memory>
#include <optional>

namespace ui {

namespace fs = std::filesystem;

// =============================================================================================
// 1. List contents
// =============================================================================================

namespace {

using screen_util::Upper;

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

// The prefix of team `team`'s skin files: the team name's first letter and "S".
std::string SkinPrefix(int team) {
    return std::string(1, kTeamNames[team == 0 ? 0 : 1][0]) + "S";
}

// The name the user logged in with, "" when unknown.
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

} // namespace

std::vector<std::string> SkinNames(const fs::path& modelsDir, int team) {
    const std::string prefix = SkinPrefix(team);
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(modelsDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = it->path().filename().string();
        const std::string upper = Upper(name);
        if (upper.size() < prefix.size() + 4 || upper.compare(0, 2, prefix) != 0 ||
            upper.compare(upper.size() - 4, 4, ".BMP") != 0)
            continue;
        files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> skins;
    for (const std::string& name : files)
        skins.push_back(Upper(name.substr(2, name.find('.', 2) - 2)));
    return skins;
}

fs::path SkinFile(const fs::path& modelsDir, int team, std::string_view skin) {
    if (skin.empty()) return {};
    const std::string wanted = SkinPrefix(team) + Upper(skin) + ".BMP";
    std::error_code ec;
    for (fs::directory_iterator it(modelsDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (Upper(it->path().filename().string()) == wanted && it->is_regular_file(ec))
            return it->path();
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

// =============================================================================================
// 3. The character preview
// =============================================================================================

namespace {

constexpr uint32_t kPreviewTimerMs = 10;
constexpr float kPreviewStepDegrees = 0.5f; // turn of the model per timer tick

// The preview scene: the team's character model, turning, lit from the camera, drawn by its
// own renderer into the rectangle the menu keeps free for it. Exists only with a display.
class Preview {
public:
    // affiche_MODELE: loads "terror.x" (team 0) or "gign.x" from `modelsDir`, with the skin
    // picture `skinFile` (when not empty) as the texture the model names, without touching the
    // files. False when there is no display or the model cannot be read.
    bool Build(const fs::path& modelsDir, int team, const fs::path& skinFile, int objectQuality,
               int textureQuality) {
        Clear();
        if (window::IsHeadless() || window::NativeWindow() == nullptr) return false;
        if (!renderer_) {
            std::string error;
            renderer_ = render::Renderer::Create(&error);
            if (!renderer_) {
                sys::Log("menu preview: " + error);
                return false;
            }
        }
        renderer_->SetQuality(scene::RenderQuality(std::clamp(objectQuality, 0, 4)));
        renderer_->SetTextureFilter(scene::TextureFilter(std::clamp(textureQuality, 0, 5)));
        renderer_->SetBackground(glm::vec3(0.0f));

        root_ = scene::Frame::Create();
        pivot_ = scene::Frame::Create(root_);
        auto model = scene::Frame::Create(pivot_);
        scene::SearchPath path;
        path.AddFolder(modelsDir.parent_path().string());
        path.AddFolder(modelsDir.string());
        const std::string modelTexture = team == 0 ? "terror2_0.bmp" : "gign2_0.bmp";
        auto textures = [&](const std::string& name) -> std::shared_ptr<scene::Texture> {
            if (!skinFile.empty() && Upper(name) == Upper(modelTexture)) {
                if (auto skin = scene::LoadTexture(skinFile.string())) return skin;
            }
            return scene::LoadTexture(name, &path);
        };
        const scene::LoadStatus status =
            scene::LoadXAsFrames(*model, team == 0 ? "terror.x" : "gign.x", &path, textures);
        const scene::Box box = model->GetBox();
        if (!status || box.IsEmpty()) {
            sys::Log("menu preview: " + status.error);
            Clear();
            return false;
        }
        // The model turns about the vertical axis through its centre; the camera looks at it
        // from the front (-z), far enough back to see it whole in a tall, narrow picture.
        const glm::vec3 centre = (box.min + box.max) * 0.5f;
        const glm::vec3 extent = box.max - box.min;
        model->SetPosition(pivot_.get(), {-centre.x, -centre.y, -centre.z});
        camera_ = scene::Frame::Create(root_);
        const float across = std::max(extent.x, extent.z);
        const float distance = 0.65f * std::max(extent.y, 1.6f * across) / kField + 0.5f * across;
        camera_->SetPosition(nullptr, {0.0f, 0.0f, -distance});
        camera_->SetOrientation(nullptr, {0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f});
        root_->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(0.45f)));
        camera_->AddLight(scene::Light::Create(scene::LightType::Directional, glm::vec3(0.8f)));
        back_ = std::max(10.0f, distance * 4.0f);
        return true;
    }

    bool Exists() const { return root_ != nullptr; }

    // One timer tick: the model turns a little.
    void Turn() {
        if (pivot_)
            pivot_->AddRotation(scene::Combine::Before, {0.0f, 1.0f, 0.0f},
                                glm::radians(kPreviewStepDegrees));
    }

    // Draws the scene into (x, y, width, height), window pixels. Called by the window's pump
    // before the screens are drawn.
    void Draw(int x, int y, int width, int height) {
        if (!renderer_ || !root_ || width <= 0 || height <= 0) return;
        int surfaceWidth = 0;
        int surfaceHeight = 0;
        window::GetSize(surfaceWidth, surfaceHeight);
        renderer_->SetTargetSize(surfaceWidth, surfaceHeight);
        scene::ViewportParams view;
        view.camera = camera_;
        view.x = x;
        view.y = y;
        view.width = width;
        view.height = height;
        view.front = 1.0f;
        view.back = back_;
        view.field = kField;
        renderer_->Clear(view, render::kClearAll);
        renderer_->Render(view, *root_);
    }

    // Drops the scene; the renderer stays for the next Build (Release frees it).
    void Clear() {
        if (root_) root_->DeleteFrameTree();
        root_.reset();
        pivot_.reset();
        camera_.reset();
    }
    // Frees everything; the window's GL context must still be current.
    void Release() {
        Clear();
        renderer_.reset();
    }

private:
    static constexpr float kField = 0.5f;
    std::unique_ptr<render::Renderer> renderer_;
    std::shared_ptr<scene::Frame> root_;
    std::shared_ptr<scene::Frame> pivot_;
    std::shared_ptr<scene::Frame> camera_;
    float back_ = 100.0f;
};

// =============================================================================================
// 4. The screen
// =============================================================================================

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
