// The window pump headless (SDL's dummy video driver): screens, dialogs, widgets and timers
// driven by a script, exactly as a scripted test run of the game drives them.
#include "platform/input/input.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdlib>

namespace {

class TestScreen : public window::Screen {
public:
    explicit TestScreen(std::string name) : window::Screen(std::move(name)) {}
    int goPressed = 0;
    int nameEntered = 0;
    std::string name;
    bool focusName = false;
    int closed = 0;

    void Draw() override {
        ImGui::Begin(Name().c_str());
        if (window::Button("Go##button")) ++goPressed;
        if (window::InputLine("##Name", name, 8, focusName)) ++nameEntered;
        focusName = false;
        ImGui::End();
    }
    void OnClose() override { ++closed; }
};

class HeadlessWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_TRUE(window::Init("test", 640, 480));
        ASSERT_TRUE(window::IsHeadless());
    }
    void TearDown() override {
        automation::Stop();
        window::Shutdown();
    }
    static void Run(const char* text) { automation::Start(automation::ParseScript(text, "t")); }
    static void YieldUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i)
            window::Yield();
        ASSERT_TRUE(done());
    }
};

TEST_F(HeadlessWindow, ScriptPressesButtonsAndTypesIntoLinesByLabel) {
    auto screen = std::make_shared<TestScreen>("test screen");
    window::OpenScreen(screen);
    Run("waitscreen \"test screen\"\n"
        "press Go\n"
        "type Name \"Bob Builder\" ENTER\n"
        "type Name \"Al\"\n"
        "log done\n");
    YieldUntil([&] { return automation::IsFinished(); });
    EXPECT_EQ(screen->goPressed, 1);
    EXPECT_EQ(screen->nameEntered, 1) << "only the typing with ENTER submits";
    EXPECT_EQ(screen->name, "Al");
    window::Yield();
    EXPECT_EQ(screen->goPressed, 1) << "a press is taken once";

    // Typing is bounded by the line's length.
    Run("type Name \"much too long a name\"\n");
    YieldUntil([&] { return automation::IsFinished(); });
    EXPECT_EQ(screen->name, "much too");

    // A field that has the keyboard focus keeps what the script typed into it.
    screen->focusName = true;
    Run("wait 2\ntype Name \"Zed\"\nwait 3\nlog done\n");
    YieldUntil([&] { return automation::IsFinished(); });
    EXPECT_EQ(screen->name, "Zed");

    window::CloseScreen(*screen);
    EXPECT_FALSE(window::IsScreenOpen("test screen"));
    EXPECT_EQ(screen->closed, 1);
}

// Lists, drop-downs, check boxes, options and clickable labels, driven by their labels.
class ChoiceScreen : public window::Screen {
public:
    ChoiceScreen() : window::Screen("choices") {}
    std::vector<std::string> maps{"COUR", "USINE", "ENTREPOT"};
    int map = -1, quality = 0, side = 0, listChanges = 0, fights = 0;
    bool full = false;
    bool fightEnabled = true;

    void Draw() override {
        ImGui::Begin("choices");
        if (window::ListBox("Maps", maps, map)) ++listChanges;
        window::Combo("Quality", maps, quality);
        window::CheckBox("Full screen", full);
        window::Option("TERRORIST", side, 0);
        window::Option("GIGN", side, 1);
        if (window::LabelButton("LET'S FIGHT", fightEnabled)) ++fights;
        ImGui::End();
    }
};

TEST_F(HeadlessWindow, ScriptChoosesInListsChecksBoxesAndClicksOptionsAndLabels) {
    auto screen = std::make_shared<ChoiceScreen>();
    window::OpenScreen(screen);
    Run("select Maps 2\n"
        "select Quality 1\n"
        "check \"Full screen\" on\n"
        "press GIGN\n"
        "press \"LET'S FIGHT\"\n"
        "log done\n");
    YieldUntil([&] { return automation::IsFinished(); });
    EXPECT_EQ(screen->map, 2);
    EXPECT_EQ(screen->listChanges, 1);
    EXPECT_EQ(screen->quality, 1);
    EXPECT_TRUE(screen->full);
    EXPECT_EQ(screen->side, 1);
    EXPECT_EQ(screen->fights, 1);

    // An entry the list does not have waits (the list may still be filling); a disabled label
    // is not clicked, and the script waits for it to be enabled.
    Run("select Maps 7\n");
    for (int i = 0; i < 5; ++i)
        window::Yield();
    EXPECT_FALSE(automation::IsFinished());
    screen->maps.push_back("A");
    screen->maps.push_back("B");
    screen->maps.push_back("C");
    screen->maps.push_back("D");
    screen->maps.push_back("E");
    YieldUntil([&] { return automation::IsFinished(); });
    EXPECT_EQ(screen->map, 7);

    screen->fightEnabled = false;
    Run("check \"Full screen\" off\npress \"LET'S FIGHT\"\n");
    for (int i = 0; i < 5; ++i)
        window::Yield();
    EXPECT_FALSE(screen->full);
    EXPECT_EQ(screen->fights, 1);
    EXPECT_FALSE(automation::IsFinished());
    screen->fightEnabled = true;
    YieldUntil([&] { return automation::IsFinished(); });
    EXPECT_EQ(screen->fights, 2);
    window::CloseScreen(*screen);
}

TEST_F(HeadlessWindow, MessageAndInputBoxesAreAnsweredByCaption) {
    Run("answer Other YES\n"
        "answer Question NO\n"
        "input Ask \"typed text\"\n"
        "cancel *\n");
    EXPECT_EQ(window::MsgBox("Really?", "Question", window::Buttons::YesNo), window::Answer::No);
    EXPECT_EQ(window::InputBox("Your name?", "Ask", "default"), "typed text");
    EXPECT_EQ(window::InputBox("Again?", "Anything", "default"), std::nullopt);
    EXPECT_EQ(window::MsgBox("Sure?", "Other", window::Buttons::YesNoCancel), window::Answer::Yes);

    // The box waits, with the program running, until the script gets to its answer.
    Run("wait 5\nanswer Late CANCEL\n");
    const uint64_t before = window::FrameNumber();
    EXPECT_EQ(window::MsgBox("Slow", "Late", window::Buttons::OkCancel), window::Answer::Cancel);
    EXPECT_GE(window::FrameNumber() - before, 5u);
}

TEST_F(HeadlessWindow, WithoutAScriptHeadlessBoxesTakeTheirDefault) {
    automation::Stop();
    EXPECT_EQ(window::MsgBox("text", "caption", window::Buttons::YesNo), window::Answer::Yes);
    EXPECT_EQ(window::MsgBox("text", "caption", window::Buttons::OkCancel), window::Answer::Ok);
    EXPECT_EQ(window::InputBox("prompt", "caption", "kept"), "kept");
}

TEST_F(HeadlessWindow, ScreensUnderAModalBoxDoNotReact) {
    auto screen = std::make_shared<TestScreen>("below");
    window::OpenScreen(screen);
    Run("answer * OK\npress Go\n");
    EXPECT_EQ(window::MsgBox("Modal", "Box"), window::Answer::Ok);
    EXPECT_EQ(screen->goPressed, 0) << "the button was drawn disabled while the box was up";
    window::Yield();
    EXPECT_EQ(screen->goPressed, 1);

    // A modal screen ends its loop when the program is asked to quit.
    auto modal = std::make_shared<TestScreen>("modal");
    Run("waitscreen modal\nquit\n");
    window::ShowModal(modal);
    EXPECT_TRUE(window::QuitRequested());
    EXPECT_FALSE(modal->IsOpen());
}

TEST_F(HeadlessWindow, ScriptedKeysAndFramesFollowTheYieldCount) {
    Run("wait 2\nkey press 200\nkey down 57\nwait 2\nkey up 57\nmouse down left\n");
    // `wait 2` counts from the frame it runs in: the keys go down at the third Yield.
    window::Yield();
    window::Yield();
    EXPECT_FALSE(input::IsKeyDown(input::DIK_UP));
    window::Yield();
    EXPECT_TRUE(input::IsKeyDown(input::DIK_UP));
    EXPECT_TRUE(input::IsKeyDown(input::DIK_SPACE));
    window::Yield();
    EXPECT_FALSE(input::IsKeyDown(input::DIK_UP)) << "press releases at the next frame";
    EXPECT_TRUE(input::IsKeyDown(input::DIK_SPACE));
    window::Yield();
    EXPECT_FALSE(input::IsKeyDown(input::DIK_SPACE));
    EXPECT_TRUE(input::IsMouseButtonDown(input::MouseButton::Left));

    // `frame N` is absolute: a frame already past does not wait.
    Run(("frame " + std::to_string(window::FrameNumber()) + "\nkey down 1\n").c_str());
    window::Yield();
    EXPECT_TRUE(input::IsKeyDown(input::DIK_ESCAPE));
}

TEST_F(HeadlessWindow, WindowTimersFireOnlyInsideYield) {
    int fired = 0;
    window::Timer timer(window::Timers(), 0, window::TimerMode::OneShot, [&] { ++fired; });
    timer.Enable();
    EXPECT_EQ(fired, 0);
    window::Yield();
    EXPECT_EQ(fired, 1);
    window::Yield();
    EXPECT_EQ(fired, 1);
}

} // namespace
