// The real `tarnhold` program on a display (Xvfb): the splash and the placeholder screen are
// drawn, as screenshots taken by its automation script show.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <SDL.h>

#include <cstdlib>
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

TEST(Screens, SplashThenPlaceholderAreDrawn) {
    const auto dir = apptest::FreshDir("render-screens");
    const auto splashShot = dir / "splash.bmp";
    const auto placeholderShot = dir / "placeholder.bmp";
    const auto script = dir / "shots.txt";
    std::ofstream(script) << "wait 3\n"
                          << "screenshot \"" << splashShot.string() << "\"\n"
                          << "waitscreen placeholder\n"
                          << "wait 3\n"
                          << "screenshot \"" << placeholderShot.string() << "\"\n"
                          << "press Quit\n";
    std::vector<std::string> argv;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        argv = {"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"};
    }
    argv.push_back(apptest::GameExecutable().string());
    apptest::Process game(argv,
                          {{"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", script.string()},
                           {"SDL_AUDIODRIVER", "dummy"}},
                          dir / "game.out");
    ASSERT_EQ(game.WaitExit(60s), 0) << game.Output();
    const std::string out = game.Output();
    ASSERT_EQ(out.find("running headless"), std::string::npos) << "no GL on this display\n" << out;
    ASSERT_NE(out.find("screenshot: " + placeholderShot.string()), std::string::npos) << out;

    // The splash: a picture or the name in large letters, never an empty window.
    const PixelStats splash = Measure(splashShot);
    EXPECT_GT(splash.width, 100);
    EXPECT_GT(splash.distinctColours, 8u);
    EXPECT_GT(splash.litFraction, 0.002);

    // The placeholder: its fixed 640x480 window with the title text and the Quit button.
    const PixelStats placeholder = Measure(placeholderShot);
    EXPECT_EQ(placeholder.width, 640);
    EXPECT_EQ(placeholder.height, 480);
    EXPECT_GT(placeholder.distinctColours, 8u);
    EXPECT_GT(placeholder.litFraction, 0.002);
}

} // namespace
