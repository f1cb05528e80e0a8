// app/main.cpp — the program's entry: single instance, start-up identity, splash, main menu.
//
// In order: the automation script and seed (a bad script stops the program before anything
// else), the single-instance check, the start-up variables, the window, the splash and the main
// menu. The menu leads through the lobby screens into a match; the program ends after the match,
// or when the menu's QUIT (or the window's close) asks it to quit.
#include "app/wiring.h"
#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/registry/registry.h"
#include "platform/system/system.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"
#include "ui/main_menu.h"
#include "ui/render_window.h"
#include "ui/splash.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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
// app::kExitFatal (3): a match ended on content it could not read.

// A relative TARNHOLD_HOME names a folder of the starting directory. The match start changes
// the working directory to the installation directory, so the name is made absolute here,
// before anything reads it: the settings written at the end of a match go where they were read.
void AnchorSettingsDirectory() {
    const char* home = std::getenv("TARNHOLD_HOME");
    if (home == nullptr || *home == '\0' || std::filesystem::path(home).is_absolute()) return;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(home, error);
    if (!error) ::setenv("TARNHOLD_HOME", absolute.c_str(), 1);
}

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

// Developer entry: TARNHOLD_MATCH=<map name> starts a match on that map at once instead of the
// splash and the menu (settings read from this machine's registry). Alone, the local player is
// the only participant; with TARNHOLD_NET the match is played over the session service (see
// RunNetworkMatch). The lobby is the entry of every real match.
void PrepareDeveloperMatch(const std::string& mapName) {
    core::LitIni(core::MenuDefaults{});
    core::DecimalSeparator = sys::LocaleDecimalSeparator();
    core::LoadFlag = true;
    core::MapName = mapName;
    if (core::Skin.empty()) core::Skin = "1";
}

// Runs `play` with a render window of `kind` as the match's window.
int WithMatchWindow(const std::function<int()>& play, app::MatchKind kind) {
    const auto render = app::ConnectMatchWindow({}, kind);
    const int status = app::PlayGuarded(play);
    app::DisconnectMatchWindow();
    return status;
}

// TARNHOLD_BOTS=N[:easy|normal|hard] (N 0..3, level normal by default) into MatchBots and
// MatchBotLevel. False, with the reason in the log, for any other text.
bool ReadBotsFromEnvironment() {
    const char* value = std::getenv("TARNHOLD_BOTS");
    core::MatchBots = 0;
    if (value == nullptr || *value == '\0') return true;
    if (core::ParseBots(value, core::MatchBots, core::MatchBotLevel)) return true;
    sys::Log(std::string("TARNHOLD_BOTS: expected N[:easy|normal|hard] with N from 0 to 3, not ") +
             value);
    return false;
}

// TARNHOLD_AUTOPILOT=easy|normal|hard: a computer player's brain of that level drives the local
// player's controls (a scripted person that fights) into AutopilotLevel. False, with the reason
// in the log, for any other text.
bool ReadAutopilotFromEnvironment() {
    const char* value = std::getenv("TARNHOLD_AUTOPILOT");
    core::AutopilotLevel = -1;
    if (value == nullptr || *value == '\0') return true;
    if (core::ParseBotLevel(value, core::AutopilotLevel)) return true;
    sys::Log(std::string("TARNHOLD_AUTOPILOT: expected easy, normal or hard, not ") + value);
    return false;
}

int RunDeveloperMatch(const std::string& mapName) {
    if (!ReadBotsFromEnvironment()) return kExitBadSetup;
    PrepareDeveloperMatch(mapName);
    core::MyPlayerId = 1;
    core::PlayerCount = 1;
    core::PlayerIds = {1, 0, 0, 0, 0};
    core::PlayerNames[0] = core::Login.empty() ? "Player" : core::Login;
    core::PlayerFormalNames[0] = std::to_string(core::Team) + core::Skin;
    return WithMatchWindow(core::StartMatch, app::MatchKind::Alone);
}

// The text of an environment variable, or `fallback` when it is unset or empty.
std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

// One pass of a waiting loop: window events, the session's messages, a short pause (the
// waiting room polls every 100 ms; this loop a little more often). False once asked to quit.
bool WaitStep() {
    window::Yield();
    net::ReceiveMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !window::QuitRequested();
}

// How long a networked run without the lobby looks for a session, waits for its players (host)
// or for the START (joiner) before it says so in the log and ends with kExitBadSetup.
constexpr auto kNetworkWaitLimit = std::chrono::seconds(120);

bool NetworkWaitExpired(std::chrono::steady_clock::time_point since, const std::string& what) {
    if (std::chrono::steady_clock::now() - since < kNetworkWaitLimit) return false;
    sys::Log(what + " within " + std::to_string(std::chrono::seconds(kNetworkWaitLimit).count()) +
             " s; giving up");
    return true;
}

// Hosts the session "<name> (<MAP>)", waits until `players` players are in, then starts the
// match for everyone as the waiting room's START does.
int HostNetworkMatch(int players) {
    std::vector<std::string> entries;
    if (!net::ConnectLan(0, entries)) return kExitBadSetup;
    std::string map = core::MapName;
    for (char& c : map)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    net::SessionName = net::PlayerName + " (" + map + ")";
    if (!net::CreateGame("")) return kExitBadSetup;
    sys::Log("hosting " + net::SessionName + ", waiting for " + std::to_string(players) +
             " players");
    const auto since = std::chrono::steady_clock::now();
    while (net::DPlay && net::DPlay->PlayerCount() < players) {
        if (!WaitStep()) {
            net::LeaveSession();
            return kExitOk;
        }
        if (NetworkWaitExpired(since, "not " + std::to_string(players) + " players")) {
            net::LeaveSession();
            return kExitBadSetup;
        }
    }
    sys::Log("starting with " + std::to_string(net::DPlay->PlayerCount()) + " players");
    return net::SendStartToAll();
}

// Looks for a session until one answers, joins the first, and waits for its START.
int JoinNetworkMatch() {
    std::vector<std::string> entries;
    auto since = std::chrono::steady_clock::now();
    while (!net::ConnectLan(0, entries) || entries.empty()) {
        if (!WaitStep()) return kExitOk;
        if (NetworkWaitExpired(since, "no session found")) return kExitBadSetup;
    }
    sys::Log("joining " + entries[0]);
    if (!net::JoinGame(0)) return kExitBadSetup;
    since = std::chrono::steady_clock::now();
    while (!net::MatchStatus) {
        if (!WaitStep()) {
            net::LeaveSession();
            return kExitOk;
        }
        if (!net::MatchStatus && (!net::DPlay || !net::DPlay->IsOpen())) {
            sys::Log("the session ended before its match started");
            net::LeaveSession();
            return kExitBadSetup;
        }
        if (NetworkWaitExpired(since, "no START from the host")) {
            net::LeaveSession();
            return kExitBadSetup;
        }
    }
    return *net::MatchStatus;
}

// The session layer as every networked run uses it: TARNHOLD_LAN_TARGET is the address sessions
// are looked for at (default: the broadcast address) and TARNHOLD_DISCOVERY_PORT the first port
// of the discovery range; the session layer is connected to the game core (app::ConnectNetwork).
void PrepareNetwork() {
    net::LanTarget = EnvOr("TARNHOLD_LAN_TARGET", "");
    const int port = std::atoi(EnvOr("TARNHOLD_DISCOVERY_PORT", "0").c_str());
    if (port > 0 && port < 65536) net::ServiceSettings.discoveryPort = uint16_t(port);
    app::ConnectNetwork();
}

// TARNHOLD_NET=host:<players> or join, with TARNHOLD_MATCH=<map>: a networked match without the
// lobby. Names: TARNHOLD_NAME, else the account login, else "Player"; the network settings as
// PrepareNetwork reads them.
int RunNetworkMatch(const std::string& mapName, const std::string& mode) {
    const bool host = mode.rfind("host:", 0) == 0;
    if (const char* bots = std::getenv("TARNHOLD_BOTS");
        !host && bots != nullptr && *bots != '\0') {
        sys::Log("TARNHOLD_BOTS: only the host of a session brings computer players");
        return kExitBadSetup;
    }
    if (!ReadBotsFromEnvironment()) return kExitBadSetup;
    PrepareDeveloperMatch(mapName);
    const int players = host ? std::atoi(mode.c_str() + 5) : 0;
    if (host ? players < 1 || players > net::kMaxPlayers : mode != "join") {
        sys::Log("TARNHOLD_NET: expected host:<1..4> or join, not " + mode);
        return kExitBadSetup;
    }
    net::PlayerName = EnvOr("TARNHOLD_NAME", core::Login.empty() ? "Player" : core::Login);
    net::PlayerFormalName = std::to_string(core::Team) + core::Skin;
    PrepareNetwork();
    if (!net::InitDirectPlay()) return kExitBadSetup;
    std::function<int()> play = JoinNetworkMatch;
    if (host) play = [players] { return HostNetworkMatch(players); };
    return WithMatchWindow(play, app::MatchKind::OnSession);
}

// The player's way in: the splash hands its pictures to the match's render window and opens the
// main menu; the menu, the lobby and the match run inside the event pump until the program is
// asked to quit or a match has been played. Returns the exit status (that of the match, if any).
int RunFromMenu() {
    PrepareNetwork();
    std::shared_ptr<ui::RenderWindow> render;
    ui::Splash(core::ProgramDirectory, [&render](ui::SplashScreen& splash) {
        render = app::ConnectMatchWindow(
            {splash.RenvoieImage(0), splash.RenvoieImage(1), splash.RenvoieImage(2)},
            app::MatchKind::OnSession);
        ui::OpenMainMenu();
    });
    while (!window::QuitRequested() && !net::MatchStatus)
        window::Yield();
    app::DisconnectMatchWindow();
    return net::MatchStatus.value_or(kExitOk);
}

} // namespace

int main() {
    // Automation and seed first: a test learns at once that its script is wrong.
    uint32_t seed = 0;
    try {
        automation::StartFromEnvironment();
        seed = automation::RandomSeed();
        core::FixedFrameMs = automation::FrameTimeFromEnvironment().value_or(0);
    } catch (const automation::ScriptError& error) {
        std::fprintf(stderr, "tarnhold: %s\n", error.what());
        return kExitBadSetup;
    }
    std::srand(seed);

    app::ConnectModules();

    // 1. One instance per machine (settings directory).
    AnchorSettingsDirectory();
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
    core::ProgramDirectory = core::FindProgramDirectory().string();
    sys::Log("content from " + core::ProgramDirectory);

    if (!window::Init(core::ProgramName, kInitialWidth, kInitialHeight)) return kExitBadSetup;

    if (!ReadAutopilotFromEnvironment()) {
        window::Shutdown();
        sys::CloseLogFile();
        return kExitBadSetup;
    }
    if (const char* match = std::getenv("TARNHOLD_MATCH"); match != nullptr && *match != '\0') {
        const std::string mode = EnvOr("TARNHOLD_NET", "");
        const int status = mode.empty() ? RunDeveloperMatch(match) : RunNetworkMatch(match, mode);
        window::Shutdown();
        sys::Log("end");
        sys::CloseLogFile();
        return status;
    }

    // 3. The splash, which leads to the main menu.
    const int status = RunFromMenu();
    window::Shutdown();
    sys::Log("end");
    sys::CloseLogFile();
    return status;
}
