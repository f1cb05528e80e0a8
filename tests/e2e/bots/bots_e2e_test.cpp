// Three computer players and a scripted person play three minutes of game time on every
// installed map: the real program, headless, with a fixed seed and a fixed game time per frame
// (TARNHOLD_FRAME_MS), so the match is the same every run and takes seconds. Once per game
// second the script's `dump` writes every computer player's place, mode and counters to the
// log; from that track each must keep moving (at least 20 scene units in every minute, never
// five seconds in one place while alive), stay on the map (a floor below, inside the map's
// box), and the match must see a kill, and computer players who died must come back.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

namespace {

using namespace std::chrono_literals;

constexpr int kFrameMs = 20; // game time of a frame (the game runs at 50 per second)
constexpr int kFramesPerSecond = 1000 / kFrameMs;
constexpr int kSeconds = 180;            // game time of the match
constexpr float kStill = 1.0f;           // moved less than this: still
constexpr int kLongestStill = 5;         // seconds a living computer player may stay still
constexpr float kUnitsPerMinute = 20.0f; // the least a computer player walks in a minute

// One computer player at one dump.
struct Sample {
    float x = 0, y = 0, z = 0;
    std::string mode;
    int alive = 0, deaths = 0, kills = 0, respawns = 0, reroutes = 0;
    float floor = -1; // distance to the floor below; -1: none
};

// One dump: the game time, the map's box and every computer player by slot.
struct Dump {
    double time = -1;
    float box[6] = {0, 0, 0, 0, 0, 0};
    std::map<int, Sample> bots;
};

std::vector<Dump> DumpsIn(const std::string& log) {
    std::vector<Dump> dumps;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("state: ");
        if (at == std::string::npos) continue;
        Dump d;
        std::istringstream words(line.substr(at));
        for (std::string w; words >> w;) {
            if (w.rfind("time=", 0) == 0) {
                d.time = std::atof(w.c_str() + 5);
            } else if (w.rfind("map=", 0) == 0) {
                std::sscanf(w.c_str() + 4, "%f,%f,%f,%f,%f,%f", &d.box[0], &d.box[1], &d.box[2],
                            &d.box[3], &d.box[4], &d.box[5]);
            } else if (w.rfind("bot", 0) == 0 && w.find('=') != std::string::npos) {
                int slot = -1;
                Sample s;
                char mode[16] = {};
                const int read = std::sscanf(w.c_str(), "bot%d=%f,%f,%f,%15[a-z],%d,%d,%d,%d,%f,%d",
                                             &slot, &s.x, &s.y, &s.z, mode, &s.alive, &s.deaths,
                                             &s.kills, &s.respawns, &s.floor, &s.reroutes);
                EXPECT_EQ(read, 11) << "unreadable: " << w;
                s.mode = mode;
                d.bots[slot] = s;
            }
        }
        dumps.push_back(d);
    }
    return dumps;
}

// The installed maps: the two built-in ones and every map/*.map of the installation.
std::vector<std::string> InstalledMaps() {
    std::vector<std::string> maps = {"couloirs", "entrepot"};
    const auto dir = apptest::GameExecutable().parent_path() / "map";
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.path().extension() == ".map") files.push_back(e.path().stem().string());
    std::sort(files.begin(), files.end());
    maps.insert(maps.end(), files.begin(), files.end());
    return maps;
}

// The person: walks and turns now and then, holds fire (which also brings it back after a
// death); a dump every game second; Escape after three minutes.
std::string Script() {
    std::string s = "waitscreen hud\nmouse down left\n";
    for (int second = 1; second <= kSeconds; ++second) {
        if (second % 10 == 1) s += "key down 200\n";
        if (second % 10 == 4) s += "key up 200\nmouse motion 120 0\n";
        s += "wait " + std::to_string(kFramesPerSecond) + "\ndump\n";
    }
    return s + "mouse up left\nkey down 1\n";
}

float Flat(const Sample& a, const Sample& b) {
    return std::hypot(a.x - b.x, a.z - b.z);
}

void CheckTrack(int slot, const std::vector<Dump>& dumps) {
    SCOPED_TRACE("bot in slot " + std::to_string(slot));
    std::vector<const Sample*> track;
    for (const Dump& d : dumps) {
        const auto it = d.bots.find(slot);
        ASSERT_NE(it, d.bots.end()) << "missing at " << d.time;
        track.push_back(&it->second);
    }
    // Every minute it walks at least kUnitsPerMinute (steps across a death and return do not
    // count).
    std::array<float, kSeconds / 60> walked{};
    for (size_t i = 1; i < track.size(); ++i)
        if (track[i - 1]->alive && track[i]->alive && track[i]->respawns == track[i - 1]->respawns)
            walked[std::min(size_t(dumps[i].time) / 60, walked.size() - 1)] +=
                Flat(*track[i - 1], *track[i]);
    for (size_t m = 0; m < walked.size(); ++m)
        EXPECT_GE(walked[m], kUnitsPerMinute) << "minute " << m + 1;
    // Never kLongestStill seconds in one place while alive.
    for (size_t i = 0; i + kLongestStill < track.size(); ++i) {
        bool still = true;
        for (size_t j = i; j <= i + kLongestStill && still; ++j)
            still = track[j]->alive && track[j]->respawns == track[i]->respawns &&
                    Flat(*track[i], *track[j]) < kStill;
        EXPECT_FALSE(still) << "still from " << dumps[i].time << " s at " << track[i]->x << ","
                            << track[i]->y << "," << track[i]->z << " (" << track[i]->mode << ")";
        if (still) break;
    }
    // On the map: a floor below and inside the box of the floors and walls.
    const float* box = dumps.back().box;
    for (size_t i = 0; i < track.size(); ++i) {
        const Sample& s = *track[i];
        EXPECT_GE(s.floor, 0.0f) << "no floor below at " << dumps[i].time << " s";
        const bool inside = s.x >= box[0] - 1 && s.y >= box[1] - 1 && s.z >= box[2] - 1 &&
                            s.x <= box[3] + 1 && s.y <= box[4] + 1 && s.z <= box[5] + 1;
        EXPECT_TRUE(inside) << "off the map at " << dumps[i].time << " s: " << s.x << "," << s.y
                            << "," << s.z;
        if (s.floor < 0 || !inside) break;
    }
    // A death is followed by a return (the last one may still be lying there).
    const Sample& last = *track.back();
    EXPECT_GE(last.respawns, last.deaths - (last.alive ? 0 : 1));
}

class ThreeBots : public ::testing::TestWithParam<std::string> {};

TEST_P(ThreeBots, KeepMovingStayOnTheMapKillAndComeBackForThreeMinutes) {
    const std::string map = GetParam();
    const auto dir = apptest::FreshDir("bots-e2e-" + map);
    std::filesystem::create_directories(dir / "home");
    std::ofstream(dir / "script.txt") << Script();
    apptest::Process game({apptest::GameExecutable().string()},
                          {{"SDL_VIDEODRIVER", "dummy"},
                           {"TARNHOLD_NO_AUDIO", "1"},
                           {"TARNHOLD_SEED", "21"},
                           {"TARNHOLD_FRAME_MS", std::to_string(kFrameMs)},
                           {"TARNHOLD_HOME", (dir / "home").string()},
                           {"TARNHOLD_SCRIPT", (dir / "script.txt").string()},
                           {"TARNHOLD_MATCH", map},
                           {"TARNHOLD_BOTS", "3"}},
                          dir / "out.txt");
    ASSERT_EQ(game.WaitExit(150s), 0) << game.Output().substr(0, 4000);
    const std::string output = game.Output();
    EXPECT_NE(output.find("match ended"), std::string::npos);

    const std::vector<Dump> dumps = DumpsIn(output);
    ASSERT_EQ(dumps.size(), size_t(kSeconds)) << output.substr(0, 4000);
    EXPECT_NEAR(dumps.back().time, kSeconds, 0.5) << "the game time follows the frames";
    ASSERT_EQ(dumps.back().bots.size(), 3u);
    for (const auto& [slot, sample] : dumps.back().bots)
        CheckTrack(slot, dumps);
    int kills = 0, deaths = 0, respawns = 0;
    for (const auto& [slot, s] : dumps.back().bots) {
        kills += s.kills;
        deaths += s.deaths;
        respawns += s.respawns;
    }
    EXPECT_GE(kills + deaths, 1) << "nobody was killed in three minutes";
    if (deaths > 0) {
        EXPECT_GE(respawns, 1) << "nobody came back";
    }
    std::printf("%s: %d kills, %d deaths, %d returns of the computer players\n", map.c_str(), kills,
                deaths, respawns);
}

INSTANTIATE_TEST_SUITE_P(Maps, ThreeBots, ::testing::ValuesIn(InstalledMaps()),
                         [](const auto& info) { return info.param; });

} // namespace
