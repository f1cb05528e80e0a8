// core/match.cpp — the start of a match, the main loop, the display and the close.
//
// Index
//   1. Display: renderer, 3D view drawn under the screens, HUD screen, display modes
//   2. StartMatch and its steps
//   3. RunMainLoop: before the loop, one pass, the close
//   4. Release
#include "core/game.h"

#include "model/mdl.h"
#include "platform/audio/audio.h"
#include "platform/input/input.h"
#include "platform/render/render.h"
#include "platform/system/system.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"

#include <imgui.h>

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

namespace fs = std::filesystem;

namespace core {

// =============================================================================================
// 1. Display
// =============================================================================================

namespace {

std::unique_ptr<render::Renderer> renderer; // null headless and outside a match
player::World world;                        // the world of this match's player records
bool presentLimitedByChat = false;          // the 3D picture stops at the chat box's top
int64_t localShots = 0;                     // bullets the local player fired in this match

// The HUD lines over the 3D view, drawn with the screens (white, default font).
class HudScreen : public window::Screen {
public:
    HudScreen() : window::Screen("hud") {}
    void Draw() override {
        ImDrawList* list = ImGui::GetForegroundDrawList();
        for (size_t i = 0; i < HudLineCount; ++i) {
            const HudLine& line = HudLines[i];
            list->AddText(ImVec2(float(line.x), float(line.y)), IM_COL32(255, 255, 255, 255),
                          line.text.data());
        }
    }
};
std::shared_ptr<HudScreen> hudScreen;

// Steps 9 and 11 of a pass, run by the window's pump: clear the local viewport and draw the
// scene into it, the weapon in a first-person hand in its own depth range; with the chat box
// open the picture ends at the box's top edge.
void DrawView() {
    if (!renderer || !SceneFrame || LocalIndex < 0 || LocalIndex >= int(Viewports.size())) return;
    const ViewportSlot& slot = Viewports[size_t(LocalIndex)];
    if (!slot.exists) return;
    int width = 0, height = 0;
    window::GetSize(width, height);
    renderer->SetTargetSize(width, height);
    scene::ViewportParams params = slot.params;
    if (presentLimitedByChat) {
        if (const MatchWindow* w = GetMatchWindow()) {
            const int limit = std::max(0, w->ChatTop() - params.y);
            params.height = std::min(params.height, limit);
        }
    }
    const scene::Frame* held = nullptr;
    if (player::player* local = Players[size_t(LocalIndex)].get())
        held = local->FirstPersonWeapon();
    renderer->Clear(params, render::kClearAll);
    renderer->Render(params, *SceneFrame, held);
}

void CreateRenderer() {
    renderer.reset();
    if (window::IsHeadless() || window::NativeWindow() == nullptr) return;
    std::string error;
    renderer = render::Renderer::Create(&error);
    if (!renderer) throw FatalError("3D device: " + error);
}

void ApplyDeviceSize() {
    int width = 0, height = 0;
    window::GetSize(width, height);
    DeviceWidth = width;
    DeviceHeight = height;
}

// The drawing surface's size, followed every pass (a window resized by the player or by the
// system): a view that filled the device goes on filling it; a smaller one stays as large as
// it was, within the device, centred.
void FollowDeviceSize() {
    int width = 0, height = 0;
    window::GetSize(width, height);
    if (width == DeviceWidth && height == DeviceHeight) return;
    const bool whole = ViewWidth == DeviceWidth && ViewHeight == DeviceHeight;
    DeviceWidth = width;
    DeviceHeight = height;
    ViewWidth = whole ? width : std::min(ViewWidth, width);
    ViewHeight = whole ? height : std::min(ViewHeight, height);
    RecentreView();
}

} // namespace

int ChosenDisplayDevice() {
    int device = 0;
    const char* end = DisplayDriver.data() + DisplayDriver.size();
    const auto [last, error] = std::from_chars(DisplayDriver.data(), end, device);
    if (!DisplayDriver.empty() && error == std::errc() && last == end) return device;
    return DisplayDeviceIndex;
}

window::DisplayMode ChosenDisplayMode(const std::vector<window::DisplayMode>& modes) {
    window::DisplayMode chosen{DisplayWidth, DisplayHeight, DisplayDepth};
    if (chosen.width > 0 && chosen.height > 0) return chosen;
    chosen.width = chosen.height = 0;
    std::vector<std::pair<int, int>> sizes;
    for (const window::DisplayMode& mode : modes) {
        const std::pair<int, int> size{mode.width, mode.height};
        if (std::find(sizes.begin(), sizes.end(), size) != sizes.end()) continue;
        if (int(sizes.size()) == DisplayModeIndex) {
            chosen.width = mode.width;
            chosen.height = mode.height;
            break;
        }
        sizes.push_back(size);
    }
    return chosen;
}

void SetupFullScreen() {
    const int device = ChosenDisplayDevice();
    window::SetFullScreen(device, ChosenDisplayMode(window::DisplayModes(device)));
    CreateRenderer();
    ApplyDeviceSize();
}

void SetupWindowed() {
    if (DisplayWidth > 0 && DisplayHeight > 0) window::SetSize(DisplayWidth, DisplayHeight);
    window::SetWindowed(ChosenDisplayDevice(), Maximised);
    CreateRenderer();
    ApplyDeviceSize();
}

const player::World& MatchWorld() {
    return world;
}

// =============================================================================================
// 2. StartMatch
// =============================================================================================

namespace {

void Log(std::string_view text) {
    if (MatchWindow* w = GetMatchWindow()) w->AppendLog(text);
}

// A sight picture (keyed on black, origin (128, 128), drawn over the view at the aim point).
std::shared_ptr<scene::Texture> LoadSight(const std::string& file, bool crosshair) {
    scene::LoadStatus status;
    std::shared_ptr<scene::Texture> t = scene::LoadTexture(file, nullptr, &status);
    if (!t) throw FatalError(status.error.empty() ? file + ": cannot be read" : status.error);
    player::PrepareSight(*t, crosshair);
    return t;
}

// "TS" (team 0) or "GS" (any other team), the skin suffix and ".bmp".
std::string SkinPicture(int32_t team, std::string_view suffix) {
    return std::string(team == 0 ? "TS" : "GS") + std::string(suffix) + ".bmp";
}

// Step 8: game sounds 0 "enter.wav" and 1 "chat.wav".
void LoadGameSounds() {
    std::vector<player::LoadProblem> problems;
    const char* const files[2] = {"enter.wav", "chat.wav"};
    for (size_t i = 0; i < 2; ++i) {
        const std::string path = DataPath + "/models/" + files[i];
        std::string error;
        GameSounds[i] = LoadSound(path, false, &error);
        if (!GameSounds[i] && !error.empty()) problems.push_back({path, error});
    }
    ReportLoadProblems(problems);
}

// The local viewport's parameters, or null when it does not exist (yet).
scene::ViewportParams* LocalViewportParams() {
    if (LocalIndex < 0 || LocalIndex >= int(Viewports.size())) return nullptr;
    ViewportSlot& slot = Viewports[size_t(LocalIndex)];
    return slot.exists ? &slot.params : nullptr;
}

// What the player records ask of this match: the game state and devices of the game core.
class CoreMatchServices final : public player::MatchServices {
public:
    std::unique_ptr<audio::Sound> LoadSound3d(const std::string& path,
                                              std::string& error) override {
        return LoadSound(path, true, &error);
    }
    void ReportLoadProblems(std::span<const player::LoadProblem> problems) override {
        core::ReportLoadProblems(problems);
    }
    uint32_t RandomSeed() override { return uint32_t(std::rand()); }
    int32_t WeaponPower() const override { return core::WeaponPower; }
    void UpdateWeaponPower() override { core::UpdateWeaponPower(); }
    bool ChatOpen() const override { return core::ChatOpen; }
    void CloseChat() override {
        if (MatchWindow* w = GetMatchWindow()) w->CloseChat();
        OnChatClosed();
    }
    scene::ViewportParams* LocalViewport() override { return LocalViewportParams(); }
    void RebuildViewport(const std::shared_ptr<scene::Frame>& camera) override {
        int x = 0, y = 0, width = 0, height = 0;
        CreateViewport(LocalIndex, x, y, width, height, camera);
    }
    void SetListener(const glm::vec3& position, const glm::vec3& front,
                     const glm::vec3& up) override {
        if (!SoundSystem) return;
        SoundSystem->SetListenerPosition(position);
        SoundSystem->SetListenerOrientation(front, up);
    }
    void Log(std::string_view line) override { sys::Log(std::string(line)); }
};
CoreMatchServices matchServices;

void FillWorld() {
    world = MapWorld();
    world.modelScale = ModelScale;
    world.boxMode = BoxMode;
    world.localIndex = LocalIndex;
    world.dataPath = DataPath;
    world.network = GetMatchNetwork() ? &GetMatchNetwork()->Messages() : nullptr;
    world.services = &matchServices;
    for (size_t i = 0; i < world.characterModels.size() && i < Models.size(); ++i)
        world.characterModels[i] = Models[i].get();
    for (size_t i = 0; i < world.weaponMains.size() && i < WeaponModels.size(); ++i)
        if (WeaponModels[i]) world.weaponMains[i] = WeaponModels[i]->Main;
    world.crosshairTexture = CrosshairTexture;
    world.scopeTexture = ScopeTexture;
}

void CreatePlayers() {
    for (int i = 0; i < int(PlayerCount) && i < kPlayerSlots; ++i) {
        Log(".");
        window::Yield();
        auto p = std::make_unique<player::player>();
        p->MDLid = 0;
        p->IdArme = 0;
        p->indice = i;
        p->id = PlayerIds[size_t(i)];
        p->nom = PlayerNames[size_t(i)];
        if (p->id != MyPlayerId) {
            const std::string& formal = PlayerFormalNames[size_t(i)];
            p->IdModele = formal.empty() ? 0 : ToLong(formal.substr(0, 1));
            p->texture = SkinPicture(p->IdModele, formal.size() > 1 ? formal.substr(1) : "");
        } else {
            LocalIndex = i;
            p->IdModele = Team;
            p->texture = SkinPicture(Team, Skin);
            p->inverse = InvertMouse != 0 ? -1 : 1;
        }
        world.localIndex = LocalIndex;
        Players[size_t(i)] = std::move(p);
        Players[size_t(i)]->Initplayer(world);
    }
}

void PrepareLocalPlayer() {
    if (LocalIndex < 0 || !Players[size_t(LocalIndex)])
        throw FatalError("no local player among the participants");
    player::player& p = *Players[size_t(LocalIndex)];
    p.joueur->SetTraversalOptions(scene::kFlagRendered);
    PlayerCount = 4;
    p.AssignLocalKeys();
    ApplyKeyBindings(p);
    HelpKeyLines = KeyHelpLines();
    p.Souris = true;
}

void ApplyRenderOptions() {
    if (!renderer) return;
    renderer->SetQuality(scene::RenderQuality(std::clamp(ObjectQuality, 0, 4)));
    renderer->SetTextureFilter(scene::TextureFilter(std::clamp(TextureQuality, 0, 5)));
}

} // namespace

int StartMatch() {
    ResetMatchState();
    // 1-2.
    window::SetPointer(window::Pointer::Hourglass);
    window::Yield();
    if (!LoadFlag) return 0;
    // 3-4. The loading log, the window.
    Log("LOAD IN PROGRESS,PLEASE WAIT");
    window::Yield();
    if (MatchWindow* w = GetMatchWindow()) w->Show();
    window::Yield();
    InGame = true;
    // 5. The keyboard and the mouse are read through platform/input; nothing to create.
    // 6. Sound.
    InitSound();
    // 7. Installation directory.
    DataPath = ProgramDirectory.empty() ? FindProgramDirectory().string() : ProgramDirectory;
    // 8. Game sounds; one that cannot be read is reported and the match goes on without it.
    LoadGameSounds();
    // 9. Root and scene.
    RootFrame = scene::Frame::Create();
    SceneFrame = scene::Frame::Create(RootFrame);
    // 10. Models.
    LoadModels();
    // 11. Camera.
    CameraFrame = scene::Frame::Create(SceneFrame);
    // 12. Scope and crosshair.
    ScopeTexture = LoadSight(DataPath + "/weapons/sniper.bmp", false);
    CrosshairTexture = LoadSight(DataPath + "/weapons/croix.bmp", true);
    CurrentCrosshair = CrosshairTexture;
    // 13. Map frames.
    CreateMapFrames();
    ModelScale = 0.08;
    // 14. The world.
    BuildMap();
    sys::Log("match on map " + MapName);
    // 15. The players' root.
    PlayerRootFrame = scene::Frame::Create(WallFrame);
    // 16-17. The players.
    FillWorld();
    LocalIndex = -1;
    CreatePlayers();
    PrepareLocalPlayer();
    CreateBots();
    // 18. Loading ends.
    std::error_code ec;
    fs::current_path(DataPath, ec);
    if (MatchWindow* w = GetMatchWindow()) w->EndLoading();
    window::Yield();
    // 19. The display.
    if (FullScreen == 1) {
        SetupFullScreen();
    } else {
        window::Yield();
        SetupWindowed();
    }
    // 20. View size and render options.
    ViewWidth = DeviceWidth;
    ViewHeight = DeviceHeight;
    ApplyRenderOptions();
    // 21.
    window::SetPointer(window::Pointer::Normal);
    return RunMainLoop();
}

// =============================================================================================
// 3. RunMainLoop
// =============================================================================================

namespace {

// One line on the local player's record for a script's `dump`: position (scene units,
// relative to the scene frame), facing, weapon slot and name, bullets in the magazine, shots
// fired this match, view ("first", "scope" or "third"), crouching, health.
std::string LocalPlayerState() {
    if (LocalIndex < 0 || !Players[size_t(LocalIndex)]) return "no local player";
    const player::player& p = *Players[size_t(LocalIndex)];
    if (!p.joueur) return "no local player";
    const glm::vec3 at = p.joueur->GetPosition(SceneFrame.get());
    glm::vec3 dir, up;
    p.joueur->GetOrientation(SceneFrame.get(), dir, up);
    const int32_t weapon = p.IdArme >= 0 && p.IdArme < player::kWeaponCount ? p.IdArme : 0;
    const scene::ViewportParams* v = LocalViewportParams();
    const char* view = !p.vue ? "third" : (v != nullptr && v->front != 1.0f ? "scope" : "first");
    char text[320];
    std::snprintf(text, sizeof text,
                  "position=%.3f,%.3f,%.3f facing=%.3f,%.3f,%.3f weapon=%d:%s bullets=%d "
                  "shots=%lld view=%s crouch=%d health=%d",
                  at.x, at.y, at.z, dir.x, dir.y, dir.z, int(weapon),
                  std::string(player::kWeaponTable[size_t(weapon)].name).c_str(), int(p.NbBastos),
                  (long long)localShots, view, p.baisser.empty() ? 0 : 1, int(p.force));
    return text + BotsState();
}

int32_t SaturatingAdd(int32_t a, int32_t b) {
    const int64_t sum = int64_t(a) + int64_t(b);
    return int32_t(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

// Puts the cursor where the local player's mouse look puts it back every step (the centre of
// the local view), so that wherever the pointer was, the first step does not turn the player.
void CentreCursor() {
    const scene::ViewportParams* v = LocalViewportParams();
    if (v == nullptr) return;
    const input::Point origin = input::GetWindowOrigin();
    input::SetCursorPos(int(std::nearbyint(v->x + origin.x + v->width / 2.0)),
                        int(std::nearbyint(v->y + origin.y + v->height / 2.0)));
}

// One pass of the loop (steps 1 to 13).
void RunPass() {
    // 1. The network.
    if (MatchNetwork* network = GetMatchNetwork()) network->ReceiveMessages();
    // 2. Every participant. A shot spends one bullet of the weapon in hand (a reload or a
    // weapon change never lowers the count with the weapon unchanged).
    const player::player& me = *Players[size_t(LocalIndex)];
    const int32_t weaponBefore = me.IdArme, bulletsBefore = me.NbBastos;
    PrepareBotSteps();
    for (int i = 0; i < int(PlayerCount) && i < kPlayerSlots; ++i) {
        player::player* p = Players[size_t(i)].get();
        if (p != nullptr && p->joueur) p->Avance();
    }
    if (me.IdArme == weaponBefore && me.NbBastos < bulletsBefore)
        localShots += bulletsBefore - me.NbBastos;
    // 3. The key-ready timer.
    MatchWindow* w = GetMatchWindow();
    if (w != nullptr) w->EnableKeyTimer();
    // 4. Global keys, and the view on a drawing surface whose size may have changed.
    HandleGlobalKeys();
    FollowDeviceSize();
    // 5. Skinning.
    if (!BoxMode && Models[0]) Models[0]->AnimeSkmVertex();
    // 6-8. Timing.
    // A scripted run may fix the game time of a frame (FixedFrameMs).
    player::player& local = *Players[size_t(LocalIndex)];
    const double tick =
        FixedFrameMs > 0 ? Timing.lastTick + double(FixedFrameMs) : double(TimingTickMs());
    StepFrameTiming(Timing, tick, TimingSeconds(), local.ratio);
    MatchSeconds += Timing.duration / 1000.0;
    FinishBotSteps(local.ratio);
    // 9-11. The picture is drawn and presented by the pump (DrawView).
    presentLimitedByChat = ChatOpen;
    ++Timing.frameCounter;
    // 12. HUD.
    BuildHud();
    // 13.
    window::Yield();
    if (MatchNetwork* network = GetMatchNetwork()) network->FrameShown();
    PaceFrame();
}

} // namespace

int RunMainLoop() {
    // 1-2. The local player's frame and viewport.
    player::player& local = *Players[size_t(LocalIndex)];
    ViewFrame = local.joueur;
    int x = 0, y = 0, width = 0, height = 0;
    // The camera of the view the player starts in (first person under an autopilot).
    CreateViewport(LocalIndex, x, y, width, height, local.vue ? local.chasse : local.cam);
    RecentreView();
    // 3. The view and the HUD go on screen.
    window::SetBackgroundHook(DrawView);
    hudScreen = std::make_shared<HudScreen>();
    window::OpenScreen(hudScreen);
    // 4. Timing starts now (a monotonic clock: the first rate measured is already true).
    window::Yield();
    Timing.windowStart = TimingSeconds();
    Timing.lastTick = double(TimingTickMs());
    window::ShowPointer(false);
    CentreCursor();
    localShots = 0;
    automation::SetStateReporter(LocalPlayerState);

    while (true) {
        RunPass();
        // 14. Escape, or the window closed.
        if (QuitRequested || window::QuitRequested()) break;
    }

    // The close.
    automation::SetStateReporter(nullptr);
    window::ShowPointer(true);
    TotalKills = SaturatingAdd(TotalKills, local.tueur);
    TotalDeaths = SaturatingAdd(TotalDeaths, local.tue);
    TotalSniperKills = SaturatingAdd(TotalSniperKills, local.snipper);
    TotalSnipedDeaths = SaturatingAdd(TotalSnipedDeaths, local.snipped);
    EcritIni();
    window::SetPointer(window::Pointer::Hourglass);
    if (MatchWindow* w = GetMatchWindow()) w->Unload();
    if (MatchWeb* web = GetMatchWeb()) web->ReportMatch();
    ReleaseDisplay();
    sys::Log("match ended");
    return 0;
}

void CreateMapFrames() {
    assert(SceneFrame && "the map frames hang on the scene frame");
    DecorFrameA = scene::Frame::Create(SceneFrame);
    DecorFrameB = scene::Frame::Create(SceneFrame);
    FloorFrame = scene::Frame::Create(SceneFrame);
    WallFrame = scene::Frame::Create(SceneFrame);
    CeilingFrame = scene::Frame::Create(SceneFrame);
}

// =============================================================================================
// 4. Release
// =============================================================================================

void DeleteFrameTree(scene::Frame& frame) {
    frame.DeleteFrameTree();
}

void ReleaseDisplay() {
    window::SetBackgroundHook(nullptr);
    if (hudScreen) window::CloseScreen(*hudScreen);
    hudScreen.reset();
    for (auto& p : Players) {
        if (p) p->Destroy();
        p.reset();
    }
    ReleaseBots();
    for (ViewportSlot& slot : Viewports)
        slot = ViewportSlot{};
    ViewFrame.reset();
    if (SceneFrame) DeleteFrameTree(*SceneFrame);
    for (auto* frame : {&CameraFrame, &SceneFrame, &RootFrame, &DecorFrameA, &DecorFrameB,
                        &FloorFrame, &WallFrame, &CeilingFrame, &LadderFrame, &PlayerRootFrame})
        frame->reset();
    for (auto& f : SectionFrames)
        f.reset();
    renderer.reset();
    world = player::World{};
    InGame = false;
}

} // namespace core
