// app/main.cpp — the program's entry: single instance, start-up identity, splash, first screen.
//
// In order: the automation script and seed (a bad script stops the program before anything
// else), the single-instance check, the start-up variables, the window, the splash, and the
// screen the splash leads to, until that screen closes or the program is asked to quit.
#include "core/game.h"
#include "core/game_state.h"
#include "platform/registry/registry.h"
#include "platform/window/automation.h"
#include "platform/window/system.h"
#include "platform/window/window.h"
#include "ui/placeholder.h"
#include "ui/render_window.h"
#include "ui/splash.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

constexpr const char* kProgramName = "Tarnhold";
constexpr const char* kSecondInstanceText =
    "il reste une instance du programme en mémoire !!,detruisez la avant de relancer";
constexpr int kInitialWidth = 640;
constexpr int kInitialHeight = 480;

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitSecondInstance = 1; // another instance runs; this one did nothing
constexpr int kExitBadSetup = 2;       // bad script or seed, or no video at all
constexpr int kExitFatal = 3;          // a match ended on content it could not read

// The settings directory, created when missing; empty when it cannot be made.
std::filesystem::path PrepareSettingsDirectory() {
    try {
        return registry::EnsureSettingsDirectory();
    } catch (const std::exception& error) {
        sys::Log(std::string("settings directory unavailable: ") + error.what());
        return {};
    }
}

// Shows the second-instance message in a window of its own.
void RefuseSecondInstance() {
    window::Init(kProgramName, kInitialWidth, kInitialHeight);
    window::MsgBox(kSecondInstanceText, kProgramName, window::Buttons::Ok);
    window::Shutdown();
}

// Developer entry: TARNHOLD_MATCH=<map name> starts a match on that map at once, with the
// local player alone (settings read from this machine's registry), instead of the splash and
// the menu. The lobby is the entry of every real match.
int RunDeveloperMatch(const std::string& mapName) {
    core::LitIni(core::MenuDefaults{});
    core::DecimalSeparator = sys::LocaleDecimalSeparator();
    core::ProgramDirectory = sys::ExecutableDirectory().string();
    core::LoadFlag = true;
    core::MapName = mapName;
    if (core::Skin.empty()) core::Skin = "1";
    core::MyPlayerId = 1;
    core::PlayerCount = 1;
    core::PlayerIds = {1, 0, 0, 0, 0};
    core::PlayerNames[0] = core::Login.empty() ? "Player" : core::Login;
    core::PlayerFormalNames[0] = std::to_string(core::Team) + core::Skin;

    auto render =
        std::make_shared<ui::RenderWindow>(std::array<std::shared_ptr<window::Picture>, 3>{});
    render->SetSelf(render);
    render->onMessageTimer = core::OnMessageTimer;
    render->onKeyTimer = core::OnKeyTimer;
    render->onChatClosed = core::OnChatClosed;
    core::SetMatchWindow(render.get());
    int status = kExitOk;
    try {
        status = core::StartMatch();
    } catch (const core::FatalError& error) {
        sys::Log(std::string("fatal: ") + error.what());
        window::MsgBox(error.what(), core::ProgramName, window::Buttons::Ok);
        status = kExitFatal;
    }
    core::SetMatchWindow(nullptr);
    return status;
}

} // namespace

int main() {
    // Automation and seed first: a test learns at once that its script is wrong.
    uint32_t seed = 0;
    try {
        automation::StartFromEnvironment();
        seed = automation::RandomSeed();
    } catch (const automation::ScriptError& error) {
        std::fprintf(stderr, "tarnhold: %s\n", error.what());
        return kExitBadSetup;
    }
    std::srand(seed);

    // 1. One instance per machine (settings directory).
    const std::filesystem::path settings = PrepareSettingsDirectory();
    std::unique_ptr<sys::InstanceLock> lock;
    if (!settings.empty()) {
        sys::InstanceLock::Result result{};
        std::string error;
        lock = sys::InstanceLock::TryAcquire(settings / "tarnhold.lock", result, error);
        if (result == sys::InstanceLock::Result::HeldByOther) {
            RefuseSecondInstance();
            return kExitSecondInstance;
        }
        // A lock that cannot be taken at all (read-only settings) does not stop the game.
        if (result == sys::InstanceLock::Result::Failed) sys::Log("instance lock: " + error);
        sys::OpenLogFile(settings / "tarnhold.log");
    }
    sys::Log("seed " + std::to_string(seed));

    // 2. Start-up identity.
    core::LocalIndex = -1;
    core::ProgramName = kProgramName;
    core::SoftKey = 1;
    core::VersionText = core::MakeVersionText(TARNHOLD_VERSION_MAJOR, TARNHOLD_VERSION_MINOR,
                                              TARNHOLD_VERSION_PATCH);
    sys::Log(core::ProgramName + " " + core::VersionText);

    if (!window::Init(core::ProgramName, kInitialWidth, kInitialHeight)) return kExitBadSetup;

    if (const char* match = std::getenv("TARNHOLD_MATCH"); match != nullptr && *match != '\0') {
        const int status = RunDeveloperMatch(match);
        window::Shutdown();
        sys::Log("end");
        sys::CloseLogFile();
        return status;
    }

    // 3. The splash, which leads to the first screen.
    std::shared_ptr<ui::PlaceholderScreen> first;
    ui::Splash(sys::ExecutableDirectory(), [&first](ui::SplashScreen& splash) {
        first = std::make_shared<ui::PlaceholderScreen>();
        window::OpenScreen(first);
        splash.Unload();
    });
    while (first && first->IsOpen() && !window::QuitRequested())
        window::Yield();

    window::Shutdown();
    sys::Log("end");
    sys::CloseLogFile();
    return kExitOk;
}
