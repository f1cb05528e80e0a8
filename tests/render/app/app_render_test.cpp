// The real `tarnhold` program on a display (Xvfb): the splash and the main menu are drawn, as
// screenshots taken by its automation script show.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <SDL.h>

#include <set>

namespace {

using namespace std::chrono_literals;

struct PixelStats {
    int width = 0;
    int height = 0;
    size_t distinctColours = 0;
    double litFraction = 0; // pixels brighter than the dark background
};

PixelStats Measure(const std::filesystem::path& path) {
    PixelStats stats;
    SDL_Surface* loaded = SDL_LoadBMP(path.c_str());
    if (loaded == nullptr) return stats;
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(loaded);
    if (rgb == nullptr) return stats;
    stats.width = rgb->w;
    stats.height = rgb->h;
    std::set<uint32_t> colours;
    size_t lit = 0;
    for (int y = 0; y < rgb->h; ++y) {
        const auto* row = static_cast<const uint8_t*>(rgb->pixels) + y * rgb->pitch;
        for (int x = 0; x < rgb->w; ++x) {
            const uint8_t r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
            colours.insert(uint32_t(r) << 16 | uint32_t(g) << 8 | b);
            if (r + g + b > 3 * 80) ++lit;
        }
    }
    SDL_FreeSurface(rgb);
    stats.distinctColours = colours.size();
    stats.litFraction = double(lit) / (double(stats.width) * stats.height);
    return stats;
}

TEST(Screens, SplashThenMainMenuAreDrawn) {
    const auto dir = apptest::FreshDir("render-screens");
    const auto splashShot = dir / "splash.bmp";
    const auto menuShot = dir / "menu.bmp";
    const auto script = dir / "shots.txt";
    std::ofstream(script) << "answer * OK\n"
                          << "wait 3\n"
                          << "screenshot \"" << splashShot.string() << "\"\n"
                          << "waitscreen mainmenu\n"
                          << "wait 3\n"
                          << "screenshot \"" << menuShot.string() << "\"\n"
                          << "press QUIT\n";
    apptest::Process game(apptest::OnDisplayCommand(), apptest::DisplayRunEnvironment(dir, script),
                          dir / "game.out");
    ASSERT_EQ(game.WaitExit(60s), 0) << game.Output();
    const std::string out = game.Output();
    ASSERT_EQ(out.find("running headless"), std::string::npos) << "no GL on this display\n" << out;
    ASSERT_NE(out.find("screenshot: " + menuShot.string()), std::string::npos) << out;

    // The splash: a picture or the name in large letters, never an empty window.
    const PixelStats splash = Measure(splashShot);
    EXPECT_GT(splash.width, 100);
    EXPECT_GT(splash.distinctColours, 8u);
    EXPECT_GT(splash.litFraction, 0.002);

    // The main menu: its fixed 800x600 window with its groups, lists and labels.
    const PixelStats menu = Measure(menuShot);
    EXPECT_EQ(menu.width, 800);
    EXPECT_EQ(menu.height, 600);
    EXPECT_GT(menu.distinctColours, 8u);
    EXPECT_GT(menu.litFraction, 0.002);
}

} // namespace
