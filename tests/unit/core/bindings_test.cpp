// The local player's key bindings: the defaults are the game's own keys, a key already bound
// elsewhere is refused, the match gives the bindings to the local player, and the settings keep
// them, dropping a stored set the game cannot use.
#include "core/game.h"

#include "platform/input/input.h"
#include "platform/registry/registry.h"
#include "player/player.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

using core::Action;

int32_t Input(std::string_view name) {
    for (const core::InputChoice& c : core::InputChoices())
        if (c.name == name) return c.input;
    ADD_FAILURE() << "no input " << name;
    return -1;
}

int32_t Bound(Action a) {
    return core::KeyBindings[size_t(a)];
}

TEST(KeyBindings, DefaultsAreTheGamesOwnKeysAndGoToTheLocalPlayerAsBefore) {
    core::ResetKeyBindings();
    // The lists show the keys the help always named.
    const char* shown[core::kActionCount] = {
        "FLECHE HAUT",   "FLECHE BAS",   "FLECHE GAUCHE", "FLECHE DROITE",    "SOURIS GAUCHE",
        "SOURIS DROITE", "TOUCHE SUPPR", "TOUCHE FIN",    "TOUCHE PAGE DOWN", "TOUCHE CTRL DROITE"};
    for (size_t i = 0; i < core::kActionCount; ++i)
        EXPECT_EQ(core::InputName(core::KeyBindings[i]), shown[i]) << core::kActions[i].label;
    EXPECT_EQ(core::MouseSensitivity, 100);

    // The record gets exactly the keys it always had, the buttons, and the plain mouse speed.
    player::player before, after;
    before.AssignLocalKeys();
    after.AssignLocalKeys();
    after.k_Tir = after.K_up = after.k_clic = after.k_camera = -7;
    after.sensibilite = 3.0;
    core::ApplyKeyBindings(after);
    EXPECT_EQ(after.K_up, before.K_up);
    EXPECT_EQ(after.k_down, before.k_down);
    EXPECT_EQ(after.k_left, before.k_left);
    EXPECT_EQ(after.k_right, before.k_right);
    EXPECT_EQ(after.k_Tir, input::DIK_P);
    EXPECT_EQ(after.k_V1, before.k_V1);
    EXPECT_EQ(after.k_V2, before.k_V2);
    EXPECT_EQ(after.k_Arme, before.k_Arme);
    EXPECT_EQ(after.k_baisser, before.k_baisser);
    EXPECT_EQ(after.k_clic, before.k_clic);
    EXPECT_EQ(after.k_camera, before.k_camera);
    EXPECT_EQ(after.sensibilite, 1.0);
    EXPECT_EQ(core::KeyHelpLines(),
              (std::array<std::string, 4>{"Suppr = VUES", "Fin = Bloquage SOURIS",
                                          "Page Down = chgt ARMES", "CTRL = BAISSER"}));
    // The game's own keys are not offered.
    for (const int code :
         {input::DIK_ESCAPE, input::DIK_F1, input::DIK_F5, input::DIK_ADD, input::DIK_SUBTRACT})
        EXPECT_LT(core::InputChoiceIndex(code), 0) << code;
}

TEST(KeyBindings, AKeyOfAnotherActionIsRefusedAndFiringMovesOffTheMouseWhole) {
    core::ResetKeyBindings();
    // Another action's key: refused, named, nothing changes.
    EXPECT_EQ(core::BindInput(Action::Avancer, Input("TOUCHE FIN")),
              "TOUCHE FIN is already bound to BLOCAGE VISEE");
    EXPECT_EQ(core::InputName(Bound(Action::Avancer)), "FLECHE HAUT");
    EXPECT_EQ(core::BindInput(Action::CameraLibre, Input("SOURIS GAUCHE")),
              "SOURIS GAUCHE is already bound to TIR");
    // P fires while TIR is on the mouse, so it is TIR's.
    EXPECT_EQ(core::BindInput(Action::Baisser, Input("TOUCHE P")),
              "TOUCHE P is already bound to TIR");
    EXPECT_NE(core::BindInput(Action::Baisser, input::DIK_ESCAPE), "");
    // An action's own key, or a free one, is taken.
    EXPECT_EQ(core::BindInput(Action::Avancer, Input("FLECHE HAUT")), "");
    EXPECT_EQ(core::BindInput(Action::Avancer, Input("TOUCHE W")), "");
    EXPECT_EQ(core::InputName(Bound(Action::Avancer)), "TOUCHE W");
    EXPECT_EQ(core::BindInput(Action::Reculer, Input("FLECHE HAUT")), "");

    // TIR on F: F fires and brings the dead back; P and the left button are free again.
    EXPECT_EQ(core::BindInput(Action::Tir, Input("TOUCHE F")), "");
    EXPECT_EQ(core::BindInput(Action::Baisser, Input("TOUCHE P")), "");
    EXPECT_EQ(core::BindInput(Action::CameraLibre, Input("SOURIS GAUCHE")), "");
    player::player p;
    p.AssignLocalKeys();
    core::ApplyKeyBindings(p);
    EXPECT_EQ(p.k_Tir, Input("TOUCHE F"));
    EXPECT_EQ(p.k_clic, Input("TOUCHE F"));
    EXPECT_EQ(p.k_camera, Input("SOURIS GAUCHE"));
    EXPECT_EQ(p.k_baisser, input::DIK_P);
    EXPECT_EQ(p.K_up, Input("TOUCHE W"));
    EXPECT_EQ(p.k_down, input::DIK_UP);
    // The F1 help names what changed.
    EXPECT_EQ(core::KeyHelpLines()[3], "TOUCHE P = BAISSER");
    EXPECT_EQ(core::KeyHelpLines()[0], "Suppr = VUES");
    // Back on a mouse button, TIR fires with the button alone while BAISSER has P: no key does
    // two actions.
    EXPECT_EQ(core::BindInput(Action::Tir, Input("SOURIS MILIEU")), "");
    EXPECT_TRUE(core::KeyBindingsAreValid(core::KeyBindings));
    core::ApplyKeyBindings(p);
    EXPECT_EQ(p.k_clic, Input("SOURIS MILIEU"));
    EXPECT_LT(p.k_Tir, 0);
    EXPECT_EQ(p.k_baisser, input::DIK_P);
    // Once P is free again it fires.
    EXPECT_EQ(core::BindInput(Action::Baisser, Input("TOUCHE C")), "");
    core::ApplyKeyBindings(p);
    EXPECT_EQ(p.k_Tir, input::DIK_P);
    core::ResetKeyBindings();
}

class BindingSettings : public ::testing::Test {
protected:
    void SetUp() override {
        home = std::filesystem::path(::testing::TempDir()) /
               ("core-bindings-" + std::to_string(::getpid()));
        std::filesystem::remove_all(home);
        ::setenv("TARNHOLD_HOME", home.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TARNHOLD_HOME");
        std::filesystem::remove_all(home);
        core::ResetKeyBindings();
    }
    static void Store(std::string_view name, std::string_view text) {
        registry::EnsureKey(registry::RootKey::LocalMachine, core::kGameKey);
        registry::WriteSetting(registry::RootKey::LocalMachine, core::kGameKey, name, text,
                               registry::ValueType::Text);
    }
    static std::string Stored(std::string_view name) {
        return registry::ReadSetting(registry::RootKey::LocalMachine, core::kGameKey, name)
            .ToText();
    }
    std::filesystem::path home;
};

TEST_F(BindingSettings, BindingsAndSensitivityAreSavedAndReadBack) {
    // A first run has the defaults, and writes them.
    core::LitIni({});
    EXPECT_EQ(core::InputName(Bound(Action::Tir)), "SOURIS GAUCHE");
    EXPECT_EQ(core::MouseSensitivity, 100);
    core::EcritIni();
    EXPECT_EQ(Stored("ToucheAvancer"), "200");
    EXPECT_EQ(Stored("ToucheTir"), std::to_string(player::kMouseInput));
    EXPECT_EQ(Stored("SensibiliteSouris"), "100");

    // The KEYBOARD screen's own save writes the controls alone.
    ASSERT_EQ(core::BindInput(Action::Tir, Input("TOUCHE F")), "");
    core::MouseSensitivity = 200;
    core::InvertMouse = 1;
    core::TotalKills = 99;
    core::EcritTouches();
    EXPECT_EQ(Stored("ToucheTir"), "33");
    EXPECT_EQ(Stored("SensibiliteSouris"), "200");
    EXPECT_EQ(Stored("Souris"), "1");
    EXPECT_EQ(Stored("Killer"), "0");

    core::ResetKeyBindings();
    core::LitIni({});
    EXPECT_EQ(core::InputName(Bound(Action::Tir)), "TOUCHE F");
    EXPECT_EQ(core::MouseSensitivity, 200);
}

TEST_F(BindingSettings, AStoredSetTheGameCannotUseFallsBackToTheDefaults) {
    // Two actions on one key: the whole set goes back to the defaults.
    Store("ToucheAvancer", "33");
    Store("ToucheTir", "33");
    core::LitIni({});
    EXPECT_EQ(core::InputName(Bound(Action::Avancer)), "FLECHE HAUT");
    EXPECT_EQ(core::InputName(Bound(Action::Tir)), "SOURIS GAUCHE");
    // A key not offered (Escape), or no number at all, is no binding either.
    Store("ToucheAvancer", "1");
    Store("ToucheTir", "");
    core::LitIni({});
    EXPECT_EQ(core::InputName(Bound(Action::Avancer)), "FLECHE HAUT");
    Store("ToucheAvancer", "junk");
    core::LitIni({});
    EXPECT_EQ(core::InputName(Bound(Action::Avancer)), "FLECHE HAUT");
    // A sensitivity the screen does not offer gives the plain speed.
    Store("SensibiliteSouris", "100000");
    core::LitIni({});
    EXPECT_EQ(core::MouseSensitivity, 100);
    // A valid set is kept even when a bad one came before.
    Store("ToucheAvancer", "17");
    Store("ToucheTir", "33");
    Store("SensibiliteSouris", "50");
    core::LitIni({});
    EXPECT_EQ(core::InputName(Bound(Action::Avancer)), "TOUCHE W");
    EXPECT_EQ(core::InputName(Bound(Action::Tir)), "TOUCHE F");
    EXPECT_EQ(core::MouseSensitivity, 50);
}

} // namespace
