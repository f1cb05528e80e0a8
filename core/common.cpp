// core/common.cpp — common routines, sound, model loading and frame timing.
#include "core/game.h"

#include "model/mdl.h"
#include "platform/audio/audio.h"
#include "platform/system/system.h"
#include "platform/window/window.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace core {

// =============================================================================================
// 2. The render window
// =============================================================================================

namespace {
MatchWindow* matchWindow = nullptr;
MatchNetwork* matchNetwork = nullptr;
MatchWeb* matchWeb = nullptr;
} // namespace

void SetMatchWindow(MatchWindow* window) {
    matchWindow = window;
}

MatchWindow* GetMatchWindow() {
    return matchWindow;
}

void SetMatchNetwork(MatchNetwork* network) {
    matchNetwork = network;
}

MatchNetwork* GetMatchNetwork() {
    return matchNetwork;
}

void SetMatchWeb(MatchWeb* web) {
    matchWeb = web;
}

MatchWeb* GetMatchWeb() {
    return matchWeb;
}

void OnMessageTimer() {
    MessageLine.clear();
}

void OnKeyTimer() {
    if (LocalIndex >= 0 && LocalIndex < kPlayerSlots && Players[size_t(LocalIndex)])
        Players[size_t(LocalIndex)]->TOUCHE_OK = true;
}

void OnChatClosed() {
    ChatOpen = false;
}

// =============================================================================================
// 3. Common routines
// =============================================================================================

int32_t ToLong(std::string_view value) {
    return model::ToLong(value, DecimalSeparator);
}

int64_t WeaponScore() {
    int64_t kills = TotalKills, deaths = TotalDeaths;
    int64_t sniperKills = TotalSniperKills, snipedDeaths = TotalSnipedDeaths;
    if (LocalIndex >= 0 && LocalIndex < kPlayerSlots && Players[size_t(LocalIndex)]) {
        const player::player& p = *Players[size_t(LocalIndex)];
        kills += p.tueur;
        deaths += p.tue;
        sniperKills += p.snipper;
        snipedDeaths += p.snipped;
    }
    return (kills - deaths) + 5 * (sniperKills - snipedDeaths);
}

void UpdateWeaponPower() {
    const int64_t p = WeaponScore();
    WeaponPower = p < 5 ? 1 : p < 10 ? 2 : p < 15 ? 3 : 4;
}

// =============================================================================================
// 4. Sound
// =============================================================================================

void InitSound(const audio::OpenOptions& options) {
    SoundSystem = std::make_unique<audio::AudioSystem>(options);
    SoundSystem->SetListenerVelocity({0.0f, 0.0f, 0.0f});
    SoundSystem->SetListenerPosition({0.0f, 0.0f, 0.0f});
    SoundSystem->SetDopplerFactor(1.0f);
    SoundSystem->SetDistanceFactor(0.01f);
    SoundSystem->SetRolloffFactor(0.1f);
    SoundSystem->SetListenerOrientation({0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f});
}

void InitSound() {
    InitSound(audio::OpenOptions{});
}

std::unique_ptr<audio::Sound> LoadSound(const std::string& file, bool is3d, std::string* error) {
    if (!SoundSystem) return nullptr;
    audio::SoundLoad loaded = SoundSystem->LoadSound(file, is3d);
    if (!loaded && error != nullptr)
        *error = std::move(loaded.error);
    else if (!loaded)
        sys::Log("sound not loaded: " + loaded.error);
    return std::move(loaded.sound);
}

void PlaySound(int index) {
    if (GameSounds[0]) GameSounds[0]->Stop();
    if (index < 0 || index >= int(GameSounds.size()) || !GameSounds[size_t(index)]) return;
    audio::Sound& sound = *GameSounds[size_t(index)];
    sound.Stop();
    sound.Rewind();
    sound.Play(false);
}

void ShowMessage(std::string_view text, int soundIndex) {
    if (matchWindow != nullptr) matchWindow->EnableMessageTimer();
    MessageLine = text;
    sys::Log(std::string("message: ") + std::string(text));
    PlaySound(soundIndex);
}

void ReportLoadProblems(std::span<const player::LoadProblem> problems) {
    if (problems.empty()) return;
    for (const player::LoadProblem& problem : problems) {
        const bool named = problem.reason.find(problem.path) != std::string::npos;
        sys::Log(named ? "cannot load: " + problem.reason
                       : "cannot load " + problem.path + ": " + problem.reason);
    }
    if (matchWindow != nullptr) matchWindow->EnableMessageTimer();
    MessageLine = "Cannot load " + problems.front().path;
    if (problems.size() > 1)
        MessageLine += " and " + std::to_string(problems.size() - 1) +
                       (problems.size() == 2 ? " more file" : " more files") + ", see the log";
    sys::Log("message: " + MessageLine);
}

// =============================================================================================
// 5. Models
// =============================================================================================

namespace {

void AppendDotAndYield() {
    if (matchWindow != nullptr) matchWindow->AppendLog(".");
    window::Yield();
}

model::ModelSettings CurrentModelSettings() {
    model::ModelSettings s;
    s.decimalSeparator = DecimalSeparator;
    s.dataPath = DataPath + "/media";
    s.programDir = DataPath;
    s.boxMode = BoxMode;
    s.team = Team;
    return s;
}

void LoadOneModel(model::MDL& m, const std::string& file, const std::string& dir, bool weapon) {
    try {
        m.Load(nullptr, file, dir, weapon);
    } catch (const model::ModelError& error) {
        throw FatalError(error.what());
    }
}

} // namespace

void LoadModels() {
    // 1-2. The character.
    Models[0] = std::make_unique<model::MDL>();
    AppendDotAndYield();
    Models[0]->settings = CurrentModelSettings();
    Models[0]->MultiMesh = false;
    Models[0]->Boite = true;
    LoadOneModel(*Models[0], "terror.qc", DataPath + "/models/", false);

    // 3-4. The weapons, one empty slot kept at the end.
    WeaponModels.clear();
    WeaponModels.resize(1);
    for (int32_t i = 0; i < player::kWeaponCount; ++i) {
        const std::string file = player::FichierArme(i);
        AppendDotAndYield();
        WeaponModels.resize(WeaponModels.size() + 1);
        auto& slot = WeaponModels[WeaponModels.size() - 2];
        slot = std::make_unique<model::MDL>();
        slot->settings = CurrentModelSettings();
        slot->MultiMesh = true;
        LoadOneModel(*slot, file, DataPath + "/weapons", true);
    }
}

// =============================================================================================
// 7. Frame timing
// =============================================================================================

namespace {
const std::chrono::steady_clock::time_point kClockOrigin = std::chrono::steady_clock::now();
}

uint64_t TimingTickMs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - kClockOrigin)
                        .count());
}

double TimingSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - kClockOrigin).count();
}

double TimeScale(double durationMs, double previous) {
    if (durationMs == 0.0) return previous;
    const double scale = std::round(durationMs / 20.0 * 100.0) / 100.0;
    return scale > 10.0 ? 1.0 : scale;
}

void StepFrameTiming(FrameTiming& timing, double tickMs, double nowSeconds, double& ratio) {
    // 6. Duration of the frame.
    timing.duration = tickMs - timing.lastTick;
    timing.lastTick = tickMs;
    // 7. Frame rate over 30 frames; an empty window keeps the previous rate.
    if (timing.frameCounter == 30) {
        const double span = nowSeconds - timing.windowStart;
        if (span > 0.0) timing.framesPerSecond = float(30.0 / span);
        timing.windowStart = nowSeconds;
        timing.frameCounter = 0;
    }
    // 8. Time scale of the local player.
    ratio = TimeScale(timing.duration, ratio);
}

void PaceFrame() {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point next{};
    if (MaxFrameRate <= 0) return;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / double(MaxFrameRate)));
    const Clock::time_point now = Clock::now();
    if (next < now - period || next > now + period) next = now; // late, or a new rate
    std::this_thread::sleep_until(next);
    next += period;
}

void FormatFrameRate(float framesPerSecond, std::string_view separator, std::span<char> out) {
    if (out.empty()) return;
    double value = std::round(double(framesPerSecond) * 10.0) / 10.0;
    if (!std::isfinite(value) || value < 0.0) value = 0.0;
    const long long tenths = std::llround(value * 10.0);
    const long long whole = tenths / 10;
    const int decimal = int(tenths % 10);
    char sep[8] = ".";
    const size_t n = std::min(separator.size(), sizeof sep - 1);
    if (n > 0) {
        std::copy_n(separator.data(), n, sep);
        sep[n] = '\0';
    }
    if (whole == 0)
        std::snprintf(out.data(), out.size(), "%s%d", sep, decimal);
    else
        std::snprintf(out.data(), out.size(), "%lld%s%d", whole, sep, decimal);
}

} // namespace core
