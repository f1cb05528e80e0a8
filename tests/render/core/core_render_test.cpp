// Screenshots of a match on every map, from a spawn point, with the HUD drawn (needs a display:
// run under xvfb-run).
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/support/resource.h"

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <set>

namespace {

using namespace std::chrono_literals;

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows top to bottom
    const uint8_t* At(int x, int y) const { return &rgb[size_t(y * width + x) * 3]; }
};

// A 24- or 32-bit uncompressed BMP.
Picture ReadBmp(const std::filesystem::path& path) {
    const std::string d = apptest::ReadFile(path);
    Picture p;
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return p;
    auto u32 = [&](size_t o) {
        uint32_t v;
        std::memcpy(&v, d.data() + o, 4);
        return v;
    };
    auto u16 = [&](size_t o) {
        uint16_t v;
        std::memcpy(&v, d.data() + o, 2);
        return v;
    };
    const uint32_t offset = u32(10);
    const int32_t w = int32_t(u32(18)), h = int32_t(u32(22));
    const int bytes = u16(28) / 8;
    if (w <= 0 || h == 0 || (bytes != 3 && bytes != 4)) return p;
    const int rows = std::abs(h);
    const size_t stride = (size_t(w) * bytes + 3) & ~size_t(3);
    if (d.size() < offset + stride * rows) return p;
    p.width = w;
    p.height = rows;
    p.rgb.resize(size_t(w) * rows * 3);
    for (int y = 0; y < rows; ++y) {
        const int src = h > 0 ? rows - 1 - y : y;
        for (int x = 0; x < w; ++x) {
            const auto* s =
                reinterpret_cast<const uint8_t*>(d.data() + offset + src * stride + x * bytes);
            uint8_t* t = &p.rgb[(size_t(y) * w + x) * 3];
            t[0] = s[2], t[1] = s[1], t[2] = s[0];
        }
    }
    return p;
}

// Pure white pixels (HUD text) in a rectangle.
int WhitePixels(const Picture& p, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1 && y < p.height; ++y)
        for (int x = x0; x < x1 && x < p.width; ++x) {
            const uint8_t* c = p.At(x, y);
            n += (c[0] > 240 && c[1] > 240 && c[2] > 240);
        }
    return n;
}

class MapPictures : public ::testing::TestWithParam<const char*> {};

TEST_P(MapPictures, MapIsLitAndTexturedWithTheHudAndItsHelpLines) {
    TARNHOLD_REQUIRE_RESOURCE(std::getenv("DISPLAY") != nullptr,
                              "an X display (run under xvfb-run)");
    const std::string map = GetParam();
    const auto dir = apptest::FreshDir("core-render-" + map);
    const auto plain = dir / "plain.bmp", help = dir / "help.bmp";
    // The key-ready timer needs 400 ms before F1 acts.
    std::ofstream(dir / "script.txt")
        << "wait 20\nsleep 500\nscreenshot " << plain.string()
        << "\nkey press 59\nwait 3\nscreenshot " << help.string() << "\nkey down 1\n";
    apptest::Process game({apptest::GameExecutable().string()},
                          {{"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_SEED", "1"}, // the same spawn point on every run
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                           {"TARNHOLD_MATCH", map}},
                          dir / "out.txt");
    ASSERT_EQ(game.WaitExit(90s), 0) << game.Output();
    const Picture a = ReadBmp(plain), b = ReadBmp(help);
    ASSERT_GT(a.width, 200);
    ASSERT_GT(b.width, 200);

    // The map fills the view: bright enough, and textured (many distinct colours, spread).
    double sum = 0, sum2 = 0;
    std::set<uint32_t> colours;
    int n = 0;
    for (int y = 60; y < a.height; y += 2)
        for (int x = 0; x < a.width; x += 2) {
            const uint8_t* c = a.At(x, y);
            const double l = 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2];
            sum += l, sum2 += l * l, ++n;
            colours.insert(uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2]);
        }
    const double mean = sum / n, deviation = std::sqrt(sum2 / n - mean * mean);
    EXPECT_GT(mean, 30.0) << map << ": too dark";
    EXPECT_GT(deviation, 5.0) << map << ": flat picture";
    EXPECT_GT(colours.size(), 500u) << map << ": untextured";

    // "Frame Rate : ..." and "F1 INFOS" before F1; the help lines (y 25..190) after.
    EXPECT_GT(WhitePixels(a, 10, 10, 160, 23), 40);
    EXPECT_GT(WhitePixels(a, 10, 25, 80, 38), 20);
    EXPECT_LT(WhitePixels(a, 10, 100, 200, 200), 20);
    EXPECT_GT(WhitePixels(b, 10, 100, 200, 200), 200);
}

INSTANTIATE_TEST_SUITE_P(Maps, MapPictures,
                         ::testing::Values("couloirs", "entrepot", "cour", "usine"));

// The settings as the menu stores them for a full-screen display: the option "Mode" 1, the first
// mode of the first display device, a colour depth of 16 bits, which this screen does not offer.
// The match covers the whole screen with its 3D view and draws the HUD over it.
TEST(FullScreen, StoredFullScreenModeDrawsTheWholeScreenWithTheHud) {
    TARNHOLD_REQUIRE_RESOURCE(std::getenv("DISPLAY") != nullptr,
                              "an X display (run under xvfb-run)");
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_DisplayMode screen{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &screen), 0) << SDL_GetError();
    SDL_Quit();
    ASSERT_GT(screen.w, 640);
    const auto dir = apptest::FreshDir("core-render-full-screen");
    std::filesystem::create_directories(dir / "home");
    std::ofstream(dir / "home" / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
           "\"Mode\"=\"1\"\r\n\"Res\"=\"0\"\r\n\"Bit\"=\"16\"\r\n\"Draw\"=\"0\"\r\n"
           "\"Full\"=\"0\"\r\n\"Qua\"=\"3\"\r\n\"Tex\"=\"1\"\r\n";
    const auto shot = dir / "full.bmp";
    std::ofstream(dir / "script.txt")
        << "wait 20\nsleep 300\nscreenshot " << shot.string() << "\nkey down 1\n";
    apptest::Process game({apptest::GameExecutable().string()},
                          {{"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_SEED", "1"},
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                           {"TARNHOLD_MATCH", "cour"}},
                          dir / "out.txt");
    ASSERT_EQ(game.WaitExit(90s), 0) << game.Output();
    const Picture p = ReadBmp(shot);
    ASSERT_EQ(p.width, screen.w);
    ASSERT_EQ(p.height, screen.h);
    // The 3D view reaches every part of the screen: no block of 64 x 64 pixels is left black.
    for (int y0 = 0; y0 + 64 <= p.height; y0 += 64)
        for (int x0 = 0; x0 + 64 <= p.width; x0 += 64) {
            int lit = 0;
            for (int y = y0; y < y0 + 64; y += 4)
                for (int x = x0; x < x0 + 64; x += 4) {
                    const uint8_t* c = p.At(x, y);
                    lit += c[0] + c[1] + c[2] > 30;
                }
            EXPECT_GT(lit, 64) << "block at " << x0 << "," << y0 << " is not drawn";
        }
    // The HUD in the top-left corner: "Frame Rate : ..." and "F1 INFOS".
    EXPECT_GT(WhitePixels(p, 10, 10, 160, 23), 40);
    EXPECT_GT(WhitePixels(p, 10, 25, 80, 38), 20);
    // The log names the mode in use and the depth that could not be had.
    const std::string log = apptest::ReadFile(dir / "home" / "tarnhold.log");
    const std::string size = std::to_string(screen.w) + "x" + std::to_string(screen.h) + "x";
    EXPECT_NE(log.find("full screen on display 0: " + size +
                       std::to_string(SDL_BITSPERPIXEL(screen.format)) + " (asked for " + size +
                       "16, which the display does not offer)"),
              std::string::npos)
        << log;
}

} // namespace
