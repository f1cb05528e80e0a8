// Keyboard state in DirectInput codes, the scancode table, and mouse bookkeeping.
#include "platform/input/input.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace {

SDL_Event KeyEvent(SDL_Scancode scancode, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.keysym.scancode = scancode;
    return event;
}

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        input::SetInjectedOnly(false);
        input::ReleaseAll();
        input::TakeMouseMotion();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(InputTest, KeysTheGameUsesHaveTheirDirectInputCodes) {
    const std::pair<SDL_Scancode, int> expected[] = {
        {SDL_SCANCODE_UP, 200},       {SDL_SCANCODE_DOWN, 208},     {SDL_SCANCODE_LEFT, 203},
        {SDL_SCANCODE_RIGHT, 205},    {SDL_SCANCODE_P, 25},         {SDL_SCANCODE_DELETE, 211},
        {SDL_SCANCODE_END, 207},      {SDL_SCANCODE_PAGEDOWN, 209}, {SDL_SCANCODE_RCTRL, 157},
        {SDL_SCANCODE_ESCAPE, 1},     {SDL_SCANCODE_F1, 59},        {SDL_SCANCODE_F5, 63},
        {SDL_SCANCODE_KP_PLUS, 78},   {SDL_SCANCODE_KP_MINUS, 74},  {SDL_SCANCODE_RETURN, 28},
        {SDL_SCANCODE_KP_ENTER, 156}, {SDL_SCANCODE_SPACE, 57},     {SDL_SCANCODE_A, 30},
        {SDL_SCANCODE_Z, 44},         {SDL_SCANCODE_M, 50},         {SDL_SCANCODE_1, 2},
        {SDL_SCANCODE_0, 11},         {SDL_SCANCODE_LCTRL, 29},     {SDL_SCANCODE_LSHIFT, 42},
        {SDL_SCANCODE_TAB, 15},       {SDL_SCANCODE_F12, 88},       {SDL_SCANCODE_HOME, 199},
    };
    for (const auto& [scancode, dik] : expected) {
        EXPECT_EQ(input::DikFromScancode(scancode), dik) << SDL_GetScancodeName(scancode);
        EXPECT_EQ(input::ScancodeFromDik(dik), scancode) << dik;
    }
    // Every code the table knows maps back to a scancode that maps to it again.
    int known = 0;
    for (int dik = 1; dik < 256; ++dik) {
        const int scancode = input::ScancodeFromDik(dik);
        if (scancode == 0) continue;
        ++known;
        EXPECT_EQ(input::DikFromScancode(scancode), dik);
    }
    EXPECT_GE(known, 100);
    // The second scancode of a shared code still lands on it; unknown and absurd values do not.
    EXPECT_EQ(input::DikFromScancode(SDL_SCANCODE_NONUSHASH), 43);
    EXPECT_EQ(input::DikFromScancode(SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(input::DikFromScancode(-5), 0);
    EXPECT_EQ(input::DikFromScancode(100000), 0);
    EXPECT_EQ(input::ScancodeFromDik(-1), 0);
    EXPECT_EQ(input::ScancodeFromDik(256), 0);
}

TEST_F(InputTest, SdlKeyEventsSetAndClearTheKeyboardBytes) {
    input::ProcessEvent(KeyEvent(SDL_SCANCODE_UP, true));
    input::ProcessEvent(KeyEvent(SDL_SCANCODE_RCTRL, true));
    EXPECT_EQ(input::GetKeyboardState()[200], input::kKeyDown);
    EXPECT_TRUE(input::IsKeyDown(input::DIK_RCONTROL));
    EXPECT_FALSE(input::IsKeyDown(input::DIK_DOWN));
    input::ProcessEvent(KeyEvent(SDL_SCANCODE_UP, false));
    EXPECT_EQ(input::GetKeyboardState()[200], 0);
    EXPECT_TRUE(input::IsKeyDown(input::DIK_RCONTROL));

    // Leaving the window releases what is held: the key-up will never arrive.
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    input::ProcessEvent(focus);
    EXPECT_FALSE(input::IsKeyDown(input::DIK_RCONTROL));
    EXPECT_FALSE(input::IsKeyDown(-1));
    EXPECT_FALSE(input::IsKeyDown(300));
}

TEST_F(InputTest, InjectedOnlyModeIgnoresTheDevicesAndTakesTheScript) {
    input::SetInjectedOnly(true);
    input::ProcessEvent(KeyEvent(SDL_SCANCODE_ESCAPE, true));
    EXPECT_FALSE(input::IsKeyDown(input::DIK_ESCAPE));
    input::InjectKey(input::DIK_F1, true);
    input::InjectKey(999, true); // ignored, no write outside the array
    EXPECT_TRUE(input::IsKeyDown(input::DIK_F1));

    SDL_Event click{};
    click.type = SDL_MOUSEBUTTONDOWN;
    click.button.button = SDL_BUTTON_LEFT;
    input::ProcessEvent(click);
    EXPECT_FALSE(input::IsMouseButtonDown(input::MouseButton::Left));
    input::InjectMouseButton(input::MouseButton::Right, true);
    EXPECT_TRUE(input::IsMouseButtonDown(input::MouseButton::Right));
}

TEST_F(InputTest, MotionAccumulatesUntilReadAndWarpingIsNotMotion) {
    input::SetInjectedOnly(true);
    input::SetCursorPos(400, 300);
    EXPECT_EQ(input::TakeMouseMotion().x, 0);
    input::InjectMouseMove(410, 295);
    input::InjectMouseMotion(5, 10);
    const input::Point cursor = input::GetCursorPos();
    EXPECT_EQ(cursor.x, 415);
    EXPECT_EQ(cursor.y, 305);
    const input::Point motion = input::TakeMouseMotion();
    EXPECT_EQ(motion.x, 15);
    EXPECT_EQ(motion.y, 5);
    EXPECT_EQ(input::TakeMouseMotion().x, 0);
    // The game re-centres the cursor every frame; that must not read as the player turning.
    input::SetCursorPos(400, 300);
    EXPECT_EQ(input::TakeMouseMotion().x, 0);
    EXPECT_EQ(input::GetWindowOrigin().x, 0); // no window attached
}

} // namespace
