// The splash and the render window, headless, driven the way the game and its scripts do.
#include "core/game_state.h"
#include "platform/window/automation.h"
#include "platform/window/window.h"
#include "ui/render_window.h"
#include "ui/splash.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Screens : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_TRUE(window::Init("test", 640, 480));
        dir_ = fs::path(::testing::TempDir()) /
               (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "media");
    }
    void TearDown() override {
        automation::Stop();
        window::Shutdown();
    }
    void WritePicture(const std::string& name, int width, int height) {
        SDL_Surface* surface =
            SDL_CreateRGBSurfaceWithFormat(0, width, height, 24, SDL_PIXELFORMAT_RGB24);
        ASSERT_NE(surface, nullptr);
        SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 200, 40, 40));
        ASSERT_EQ(SDL_SaveBMP(surface, (dir_ / "media" / name).c_str()), 0);
        SDL_FreeSurface(surface);
    }
    fs::path dir_;
};

// What the render window's events reached, counted.
struct CountedEvents : ui::RenderWindowEvents {
    void MessageTimerExpired() override { ++cleared; }
    void KeyTimerExpired() override { ++keyReady; }
    void ChatSent(std::string_view line) override { sent.emplace_back(line); }
    void ChatClosed() override { ++closed; }
    void Unloaded() override {}
    int cleared = 0;
    int keyReady = 0;
    std::vector<std::string> sent;
    int closed = 0;
};

TEST_F(Screens, SplashPreparesTheMachineAndHandsOverAfterItsTimer) {
    WritePicture("splash0.bmp", 320, 200);
    WritePicture("splash1.bmp", 64, 32);
    std::ofstream(dir_ / "media" / "splash2.bmp") << "not a picture";
    core::DecimalSeparator = "?";
    ::setenv("TARNHOLD_HOME", (dir_ / "machine").c_str(), 1);

    std::shared_ptr<window::Picture> second;
    std::shared_ptr<window::Picture> third;
    int handovers = 0;
    const auto start = std::chrono::steady_clock::now();
    ui::Splash(dir_, [&](ui::SplashScreen& splash) {
        ++handovers;
        EXPECT_TRUE(window::IsScreenOpen("splash"));
        second = splash.RenvoieImage(1);
        third = splash.RenvoieImage(2);
    });
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(handovers, 1);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1000)) << "the splash shows for its timer";
    EXPECT_FALSE(window::IsScreenOpen("splash"));
    int width = 0;
    int height = 0;
    window::GetSize(width, height);
    EXPECT_EQ(width, 328);
    EXPECT_EQ(height, 208);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Width(), 64);
    EXPECT_EQ(third, nullptr) << "an unreadable picture is simply absent";
    // The player's own map folder is made; the installation is left as it is.
    EXPECT_TRUE(fs::is_directory(dir_ / "machine" / "data" / "map"));
    EXPECT_FALSE(fs::exists(dir_ / "map"));
    EXPECT_NE(core::DecimalSeparator, "?");

    // Without pictures the splash still opens, at its text-only size; an existing map
    // directory is no error.
    fs::remove_all(dir_ / "media");
    ui::SplashScreen bare(dir_, [] {});
    window::GetSize(width, height);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 270);
    EXPECT_EQ(bare.RenvoieImage(0), nullptr);
    EXPECT_EQ(bare.RenvoieImage(7), nullptr);
    ::unsetenv("TARNHOLD_HOME");
}

TEST_F(Screens, EnterInTheChatBoxSendsTheLineEvenWhenEmpty) {
    CountedEvents events;
    auto render = std::make_shared<ui::RenderWindow>(
        std::array<std::shared_ptr<window::Picture>, 3>{}, events);
    std::vector<std::string>& sent = events.sent;
    int& closed = events.closed;
    window::OpenScreen(render);
    render->AppendLogLine("Loading map");
    render->AppendLog(".");
    render->AppendLog(".");
    EXPECT_EQ(render->LoadingLog(), "Loading map\n..");

    render->OpenChat();
    automation::Start(automation::ParseScript("type Chat \"\" ENTER\n"
                                              "wait 2\n"
                                              "type Chat \"gg all\" ENTER\n",
                                              "chat"));
    for (int i = 0; i < 5; ++i)
        window::Yield();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "");
    EXPECT_FALSE(render->IsChatOpen());
    EXPECT_EQ(closed, 1);

    // A closed box takes no typing; an opened one starts empty.
    render->OpenChat();
    for (int i = 0; i < 5; ++i)
        window::Yield();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], "gg all");
    EXPECT_EQ(closed, 2);
}

TEST_F(Screens, KeyTimerArmedEveryFrameFiresOnceAfter400ms) {
    CountedEvents events;
    auto render = std::make_shared<ui::RenderWindow>(
        std::array<std::shared_ptr<window::Picture>, 3>{}, events);
    int& keyReady = events.keyReady;
    int& cleared = events.cleared;
    window::OpenScreen(render);
    render->EndLoading();
    EXPECT_FALSE(render->keyTimer.Enabled());
    EXPECT_FALSE(render->messageTimer.Enabled());

    const auto start = std::chrono::steady_clock::now();
    render->messageTimer.Enable();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(650)) {
        render->keyTimer.Enable(); // what the main loop does every frame
        window::Yield();
        if (keyReady == 1 &&
            std::chrono::steady_clock::now() - start < std::chrono::milliseconds(399)) {
            FAIL() << "fired early";
        }
    }
    EXPECT_EQ(keyReady, 1);
    EXPECT_EQ(cleared, 0) << "the 10 s message timer has not expired";
    EXPECT_TRUE(render->messageTimer.Enabled());
}

} // namespace
