// A computer player in view is drawn: the real program under Xvfb, a match on the warehouse with
// one computer player at the easy level, a fixed seed and a fixed game time per frame, so the
// match is the same on every run. A first run stands still and dumps the state every frame until
// the computer player first sees the person (its mode turns to "fight": nothing of the map lies
// between the two). A second run turns the person at once so that, at that frame, the computer
// player stands a little to the right of the person's own body in the chase view, and takes a
// picture then; a third run does the same without computer players. The two pictures must
// differ, around the column where the computer player's position projects. It has not fired
// yet: the easy level waits 0.9 s after the first sight.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/support/resource.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <numbers>
#include <sstream>

namespace {

using namespace std::chrono_literals;

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr int kLookFrames = 750;  // frames the first run waits for the first sight
constexpr int kCalibration = 200; // pixels of mouse motion of the turn that measures its rate
constexpr int kTurnStep = 250;    // at most this many pixels of motion a frame
constexpr double kAside = 12.0;   // degrees right of the view's centre the computer player ends
constexpr double kField = 0.6;    // the match view's half-width at the front plane
constexpr int kHudRows = 45;      // the HUD's text lines at the top are left out
constexpr int kDifferent = 40;    // a channel that moved this much is another pixel

// One "state:" line of the log: the person's place and facing, the game time, the computer
// player in slot 1.
struct State {
    double x = 0, z = 0, fx = 0, fz = 1, time = -1;
    bool bot = false;
    double bx = 0, bz = 0;
    std::string mode;
};

std::vector<State> StatesIn(const std::string& log) {
    std::vector<State> states;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("state: position=");
        if (at == std::string::npos) continue;
        State s;
        double y = 0, fy = 0, by = 0;
        std::istringstream words(line.substr(at + 7));
        for (std::string w; words >> w;) {
            if (w.rfind("position=", 0) == 0) {
                std::sscanf(w.c_str() + 9, "%lf,%lf,%lf", &s.x, &y, &s.z);
            } else if (w.rfind("facing=", 0) == 0) {
                std::sscanf(w.c_str() + 7, "%lf,%lf,%lf", &s.fx, &fy, &s.fz);
            } else if (w.rfind("time=", 0) == 0) {
                s.time = std::atof(w.c_str() + 5);
            } else if (w.rfind("bot1=", 0) == 0) {
                char mode[16] = {};
                s.bot = std::sscanf(w.c_str() + 5, "%lf,%lf,%lf,%15[a-z]", &s.bx, &by, &s.bz,
                                    mode) == 4;
                s.mode = mode;
            }
        }
        states.push_back(s);
    }
    return states;
}

// Degrees from the facing (fx, fz) to the direction (dx, dz), positive to the right (the turn
// a mouse moved right makes).
double Bearing(double fx, double fz, double dx, double dz) {
    double b = (std::atan2(dx, dz) - std::atan2(fx, fz)) / kDeg;
    while (b > 180.0)
        b -= 360.0;
    while (b < -180.0)
        b += 360.0;
    return b;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Picture ReadBmp(const std::filesystem::path& path) {
    Picture p;
    SDL_Surface* loaded = SDL_LoadBMP(path.string().c_str());
    if (loaded == nullptr) return p;
    SDL_Surface* s = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(loaded);
    if (s == nullptr) return p;
    p.width = s->w;
    p.height = s->h;
    p.rgb.resize(size_t(s->w) * s->h * 3);
    for (int y = 0; y < s->h; ++y)
        std::memcpy(&p.rgb[size_t(y) * s->w * 3], static_cast<uint8_t*>(s->pixels) + y * s->pitch,
                    size_t(s->w) * 3);
    SDL_FreeSurface(s);
    return p;
}

// The run of the program on the warehouse with `bots` computer players and `script`; its log.
// `autopilot`: the level of the brain at the person's controls, none when empty.
std::string Play(const std::filesystem::path& dir, int bots, const std::string& script,
                 const std::string& autopilot = "") {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "script.txt") << script;
    std::map<std::string, std::string> env = {{"TARNHOLD_NO_AUDIO", "1"},
                                              {"TARNHOLD_SEED", "1"},
                                              {"TARNHOLD_FRAME_MS", "20"},
                                              {"TARNHOLD_HOME", (dir / "home").string()},
                                              {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                                              {"TARNHOLD_MATCH", "entrepot"},
                                              {"TARNHOLD_BOTS", std::to_string(bots) + ":easy"}};
    if (!autopilot.empty()) env["TARNHOLD_AUTOPILOT"] = autopilot;
    apptest::Process game({apptest::GameExecutable().string()}, env, dir / "out.txt");
    EXPECT_EQ(game.WaitExit(120s), 0) << game.Output();
    return apptest::ReadFile(dir / "home" / "tarnhold.log");
}

// Pixels below the HUD's lines that differ between two pictures of one size: how many, and the
// mean of their columns.
struct Difference {
    int count = 0;
    double meanX = 0;
};

Difference Differing(const Picture& a, const Picture& b) {
    Difference d;
    double sumX = 0;
    for (int y = kHudRows; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const uint8_t *p = a.At(x, y), *q = b.At(x, y);
            if (std::abs(p[0] - q[0]) > kDifferent || std::abs(p[1] - q[1]) > kDifferent ||
                std::abs(p[2] - q[2]) > kDifferent)
                ++d.count, sumX += x;
        }
    if (d.count > 0) d.meanX = sumX / d.count;
    return d;
}

// A brain at the person's controls (TARNHOLD_AUTOPILOT) plays through the person's own
// first-person view: the screen follows the body it moves, and the sight is drawn.
TEST(BotsInView, TheAutopilotPlaysThroughThePersonsOwnViewThatFollowsTheBody) {
    TARNHOLD_REQUIRE_RESOURCE(std::getenv("DISPLAY") != nullptr,
                              "an X display (run under xvfb-run)");
    const auto dir = apptest::FreshDir("autopilot-view");
    const std::string script = "waitscreen render\nwait 20\ndump\nscreenshot " +
                               (dir / "a.bmp").string() + "\nwait 50\ndump\nscreenshot " +
                               (dir / "b.bmp").string() + "\nkey down 1\n";
    const std::string log = Play(dir, 1, script, "hard");
    const std::vector<State> states = StatesIn(log);
    ASSERT_EQ(states.size(), 2u) << log;
    ASSERT_GT(std::hypot(states[1].x - states[0].x, states[1].z - states[0].z), 2.0)
        << "the autopilot walked";
    EXPECT_NE(log.find("view=first"), std::string::npos) << log;
    const Picture a = ReadBmp(dir / "a.bmp"), b = ReadBmp(dir / "b.bmp");
    ASSERT_GT(a.width, 200);
    ASSERT_EQ(a.width, b.width);
    EXPECT_GT(Differing(a, b).count, a.width * a.height / 10)
        << "the view stayed where the body left";
    // The first-person sight at the centre: its green strokes across the middle.
    int green = 0;
    for (int d = -40; d <= 40; ++d) {
        const uint8_t* p = b.At(b.width / 2 + d, b.height / 2);
        const uint8_t* q = b.At(b.width / 2, b.height / 2 + d);
        green +=
            (p[1] > 150 && p[0] < 100 && p[2] < 100) + (q[1] > 150 && q[0] < 100 && q[2] < 100);
    }
    EXPECT_GT(green, 20) << "no sight at the centre";
}

TEST(BotsInView, AComputerPlayerInFrontOfThePersonIsDrawnWhereItStands) {
    TARNHOLD_REQUIRE_RESOURCE(std::getenv("DISPLAY") != nullptr,
                              "an X display (run under xvfb-run)");
    const auto dir = apptest::FreshDir("bots-render");
    // The match is under way; a turn right and back measures the degrees a pixel of motion
    // turns the person (the window's place on the screen counts).
    std::ostringstream start;
    start << "waitscreen render\nwait 20\ndump\nmouse motion " << kCalibration
          << " 0\nwait 1\ndump\nmouse motion " << -kCalibration << " 0\nwait 1\n";

    std::ostringstream look;
    look << start.str();
    for (int i = 0; i < kLookFrames; ++i)
        look << "dump\nwait 1\n";
    look << "key down 1\n";
    const std::vector<State> seen = StatesIn(Play(dir / "look", 1, look.str()));
    ASSERT_GE(seen.size(), 3u);
    const double degreesPerPixel =
        Bearing(seen[0].fx, seen[0].fz, seen[1].fx, seen[1].fz) / kCalibration;
    ASSERT_GT(degreesPerPixel, 0.0) << "the mouse turns the person to the right";
    size_t first = 2;
    while (first < seen.size() && !(seen[first].bot && seen[first].mode == "fight"))
        ++first;
    ASSERT_LT(first, seen.size()) << "the computer player never saw the person";
    const State& sight = seen[first];

    // Turn so that it stands kAside right of the view's centre, past the person's own body.
    const double turn =
        Bearing(sight.fx, sight.fz, sight.bx - sight.x, sight.bz - sight.z) - kAside;
    // The turn is made at once, so that the chase view has come round behind the person by the
    // frame of the first sight (a computer player roams the same way whatever the person's
    // facing, until it sees the person).
    int pixels = int(std::lround(turn / degreesPerPixel));
    const int steps = (std::abs(pixels) + kTurnStep - 1) / kTurnStep;
    std::ostringstream shot;
    shot << start.str();
    while (pixels != 0) {
        const int step = std::clamp(pixels, -kTurnStep, kTurnStep);
        shot << "mouse motion " << step << " 0\nwait 1\n";
        pixels -= step;
    }
    shot << "wait " << std::max(int(first) - 2 - steps, 0) << "\ndump\nscreenshot "
         << (dir / "picture.bmp").string() << "\nkey down 1\n";
    const std::string withBot = shot.str();
    std::string without = withBot;
    without.replace(without.find("picture.bmp"), 11, "empty.bmp");
    const std::vector<State> played = StatesIn(Play(dir / "bot", 1, withBot));
    StatesIn(Play(dir / "none", 0, without));
    ASSERT_FALSE(played.empty());
    const State& at = played.back();
    ASSERT_TRUE(at.bot);
    const double bearing = Bearing(at.fx, at.fz, at.bx - at.x, at.bz - at.z);
    ASSERT_LT(std::fabs(bearing - kAside), 8.0) << "the turn missed the computer player";

    const Picture a = ReadBmp(dir / "picture.bmp"), b = ReadBmp(dir / "empty.bmp");
    ASSERT_GT(a.width, 200);
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    const Difference drawn = Differing(a, b);
    // Its body, some 60 units away, covers a few hundred pixels.
    ASSERT_GT(drawn.count, 60) << "no computer player drawn";
    const double expectedX = a.width / 2.0 * (1.0 + std::tan(bearing * kDeg) / kField);
    EXPECT_NEAR(drawn.meanX, expectedX, a.width / 12.0) << "drawn elsewhere than it stands";
}

} // namespace
