// core/settings.cpp — the game state in the machine's registry.
#include "core/game.h"

#include "platform/registry/registry.h"
#include "platform/system/system.h"
#include "platform/window/window.h"

#include <algorithm>
#include <vector>

namespace core {

namespace {

using registry::RootKey;

// The machine's store as LitIni read it, once for all its values; empty outside LitIni.
const registry::Snapshot* stored = nullptr;

registry::Setting Read(std::string_view key, std::string_view name) {
    return stored ? stored->ReadSetting(RootKey::LocalMachine, key, name)
                  : registry::ReadSetting(RootKey::LocalMachine, key, name);
}

// A number value through ToLong (a 32-bit number value as it is); empty or unreadable gives 0.
int32_t ReadNumber(std::string_view key, std::string_view name) {
    const registry::Setting s = Read(key, name);
    if (s.IsNumber()) return s.Number();
    return ToLong(s.Text());
}

int32_t ReadNumberOr(std::string_view key, std::string_view name, int32_t fallback) {
    const registry::Setting s = Read(key, name);
    if (s.IsEmpty()) return fallback;
    return s.IsNumber() ? s.Number() : ToLong(s.Text());
}

// The values EcritIni and EcritTouches save, gathered so the file is replaced once for all of
// them; null outside those two.
std::vector<registry::SettingWrite>* pending = nullptr;

void Write(std::string_view key, std::string_view name, std::string_view text) {
    if (pending) {
        pending->push_back({RootKey::LocalMachine, std::string(key), std::string(name),
                            std::string(text), registry::ValueType::Text});
        return;
    }
    if (!registry::WriteSetting(RootKey::LocalMachine, key, name, text, registry::ValueType::Text))
        sys::Log("setting not written: " + std::string(name));
}

// Gathers the writes made while it lives and stores them together as it ends; each one the
// store refuses is logged as a single write would be.
class SaveTogether {
public:
    SaveTogether() { pending = &writes_; }
    ~SaveTogether() {
        pending = nullptr;
        const std::vector<bool> stored = registry::WriteSettings(writes_);
        for (size_t i = 0; i < writes_.size(); ++i)
            if (!stored[i]) sys::Log("setting not written: " + writes_[i].name);
    }
    SaveTogether(const SaveTogether&) = delete;
    SaveTogether& operator=(const SaveTogether&) = delete;

private:
    std::vector<registry::SettingWrite> writes_;
};

void WriteNumber(std::string_view key, std::string_view name, int64_t value) {
    Write(key, name, std::to_string(value));
}

const char* Flag(bool value) {
    return value ? "-1" : "0";
}

// The stored bindings, all or none: a set with an input not offered or one input for two
// actions goes back to the defaults (and is logged). A sensitivity not offered is the plain
// one.
void ReadKeyBindings() {
    std::array<int32_t, kActionCount> bindings{};
    for (size_t i = 0; i < kActionCount; ++i)
        bindings[i] = ReadNumberOr(kGameKey, kActions[i].setting, kActions[i].defaultInput);
    ResetKeyBindings();
    if (KeyBindingsAreValid(bindings))
        KeyBindings = bindings;
    else
        sys::Log("key bindings: the stored set is not usable; the default keys are used");
    const int32_t sensitivity = ReadNumberOr(kGameKey, "SensibiliteSouris", kDefaultSensitivity);
    if (std::find(kSensitivityChoices.begin(), kSensitivityChoices.end(), sensitivity) !=
        kSensitivityChoices.end())
        MouseSensitivity = sensitivity;
}

void WriteKeyBindings() {
    for (size_t i = 0; i < kActionCount; ++i)
        WriteNumber(kGameKey, kActions[i].setting, KeyBindings[i]);
    WriteNumber(kGameKey, "SensibiliteSouris", MouseSensitivity);
}

} // namespace

void LitIni(const MenuDefaults& defaults) {
    // The file is read once. A file the store could not use, or lines of it left out, are
    // told to the player before the menu shows the values.
    const registry::Snapshot snapshot = registry::Open();
    if (!snapshot.Notice().empty())
        window::MsgBox(snapshot.Notice(), ProgramName, window::Buttons::Ok);
    stored = &snapshot;
    struct Forget {
        ~Forget() { stored = nullptr; }
    } forget;
    // 1.
    registry::EnsureKey(RootKey::LocalMachine, kGameKey);
    // 2. Account, statistics, mouse.
    AccountNumber = ReadNumber(kAccountKey, "Id");
    Login = Read(kAccountKey, "Login").ToText();
    Password = Read(kAccountKey, "Password").ToText();
    Email = Read(kAccountKey, "Email").ToText();
    AccountName = Read(kAccountKey, "Name").ToText();
    Skin = Read(kGameKey, "Skin").ToText();
    TotalKills = ReadNumber(kGameKey, "Killer");
    TotalDeaths = ReadNumber(kGameKey, "Killed");
    TotalSniperKills = ReadNumber(kGameKey, "Snipper");
    TotalSnipedDeaths = ReadNumber(kGameKey, "Snipped");
    WeaponPower = ReadNumber(kGameKey, "Power");
    InvertMouse = ReadNumber(kGameKey, "Souris");
    // 3. The weapon power always follows the totals.
    UpdateWeaponPower();
    if (WeaponPower == 0) WeaponPower = 1;
    // 4-6. Display, quality, connection.
    Team = ReadNumber(kGameKey, "Type");
    Maximised = ReadNumber(kGameKey, "Full") != 0;
    DisplayDepth = int16_t(ReadNumberOr(kGameKey, "Bit", defaults.displayDepth));
    DisplayModeIndex = ReadNumberOr(kGameKey, "Res", defaults.displayModeIndex);
    DisplayDeviceIndex = ReadNumberOr(kGameKey, "Draw", defaults.displayDeviceIndex);
    RenderDeviceIndex = ReadNumberOr(kGameKey, "D3D", defaults.renderDeviceIndex);
    TextureQuality = ReadNumberOr(kGameKey, "Tex", 1);
    ObjectQuality = ReadNumberOr(kGameKey, "Qua", 3);
    FullScreen = int16_t(ReadNumber(kGameKey, "Mode"));
    BoxMode = ReadNumber(kGameKey, "Box") != 0;
    ConnectionIndex = ReadNumber(kGameKey, "Dplay1");
    ServerChoice = ReadNumber(kGameKey, "Dplay2");
    // 7. Controls.
    ReadKeyBindings();
    // 8. Network and frame pacing; a rate outside its range is the default one.
    StateRate = ReadNumberOr(kGameKey, "StateRate", kDefaultStateRate);
    if (StateRate < kStateRateMin || StateRate > kStateRateMax) {
        sys::Log("StateRate " + std::to_string(StateRate) + " is not " +
                 std::to_string(kStateRateMin) + ".." + std::to_string(kStateRateMax) +
                 "; STATE goes out " + std::to_string(kDefaultStateRate) + " times a second");
        StateRate = kDefaultStateRate;
    }
    MaxFrameRate = std::max(0, ReadNumberOr(kGameKey, "MaxFrameRate", 0));
    // 9. Practice: the computer players' number and level, the map.
    BotCount = std::clamp(ReadNumberOr(kGameKey, "Bots", 3), 1, 3);
    BotLevel = std::clamp(ReadNumberOr(kGameKey, "NiveauBots", 1), 0, 2);
    PracticeMap = Read(kGameKey, "CarteBots").ToText();
    // 10. Create Game: the computer players the host brings and their level.
    GameBotCount = std::clamp(ReadNumberOr(kGameKey, "BotsPartie", 0), 0, 3);
    GameBotLevel = std::clamp(ReadNumberOr(kGameKey, "NiveauBotsPartie", 1), 0, 2);
}

void EcritIni() {
    // The keys exist once the menu has read the settings; a match started any other way must
    // not lose its statistics for want of them.
    registry::EnsureKey(RootKey::LocalMachine, kGameKey);
    const SaveTogether together;
    WriteNumber(kAccountKey, "Id", AccountNumber);
    Write(kAccountKey, "Login", Login);
    Write(kAccountKey, "Password", Password);
    Write(kAccountKey, "Email", Email);
    Write(kAccountKey, "Name", AccountName);
    Write(kGameKey, "Skin", Skin);
    WriteNumber(kGameKey, "Killer", TotalKills);
    WriteNumber(kGameKey, "Killed", TotalDeaths);
    WriteNumber(kGameKey, "Snipper", TotalSniperKills);
    WriteNumber(kGameKey, "Snipped", TotalSnipedDeaths);
    WriteNumber(kGameKey, "Power", WeaponPower);
    WriteNumber(kGameKey, "Type", Team);
    WriteNumber(kGameKey, "Souris", InvertMouse);
    WriteNumber(kGameKey, "Bit", DisplayDepth);
    Write(kGameKey, "Full", Flag(Maximised));
    WriteNumber(kGameKey, "Res", DisplayModeIndex);
    WriteNumber(kGameKey, "Draw", DisplayDeviceIndex);
    WriteNumber(kGameKey, "D3D", RenderDeviceIndex);
    WriteNumber(kGameKey, "Tex", TextureQuality);
    WriteNumber(kGameKey, "Qua", ObjectQuality);
    WriteNumber(kGameKey, "Mode", FullScreen);
    Write(kGameKey, "Box", Flag(BoxMode));
    WriteNumber(kGameKey, "Dplay1", ConnectionIndex);
    WriteNumber(kGameKey, "Dplay2", ServerChoice);
    WriteNumber(kGameKey, "StateRate", StateRate);
    WriteNumber(kGameKey, "MaxFrameRate", MaxFrameRate);
    WriteKeyBindings();
    WriteNumber(kGameKey, "Bots", BotCount);
    WriteNumber(kGameKey, "NiveauBots", BotLevel);
    Write(kGameKey, "CarteBots", PracticeMap);
    WriteNumber(kGameKey, "BotsPartie", GameBotCount);
    WriteNumber(kGameKey, "NiveauBotsPartie", GameBotLevel);
}

void EcritTouches() {
    registry::EnsureKey(RootKey::LocalMachine, kGameKey);
    const SaveTogether together;
    WriteNumber(kGameKey, "Souris", InvertMouse);
    WriteKeyBindings();
}

} // namespace core
