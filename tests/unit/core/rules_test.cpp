// Frame timing, map definition files, sky box scale, map-name rules, weapon power, ToLong.
#include "core/game.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

std::string Rate(float fps, std::string_view sep = ".") {
    std::array<char, 32> out{};
    core::FormatFrameRate(fps, sep, out);
    return out.data();
}

TEST(TimeScale, FrameDurationScalesMotionAndCapsRunawayFrames) {
    EXPECT_DOUBLE_EQ(core::TimeScale(20.0, 0.3), 1.0);
    EXPECT_DOUBLE_EQ(core::TimeScale(33.0, 0.3), 1.65);
    EXPECT_DOUBLE_EQ(core::TimeScale(16.66, 0.3), 0.83); // two decimals
    EXPECT_DOUBLE_EQ(core::TimeScale(200.0, 0.3), 10.0); // exactly 10 stays
    EXPECT_DOUBLE_EQ(core::TimeScale(250.0, 0.3), 1.0);  // 12.5 is a hitch: back to 1
    EXPECT_DOUBLE_EQ(core::TimeScale(0.0, 0.37), 0.37);  // same tick: unchanged
}

TEST(TimeScale, FrameTimingMeasuresDurationsAndRateOver30Frames) {
    core::FrameTiming t;
    t.lastTick = 1000.0;
    t.windowStart = 50.0;
    double ratio = 1.0;
    core::StepFrameTiming(t, 1040.0, 50.04, ratio);
    EXPECT_DOUBLE_EQ(t.duration, 40.0);
    EXPECT_DOUBLE_EQ(ratio, 2.0);
    // A second frame in the same tick keeps the scale.
    core::StepFrameTiming(t, 1040.0, 50.04, ratio);
    EXPECT_DOUBLE_EQ(t.duration, 0.0);
    EXPECT_DOUBLE_EQ(ratio, 2.0);
    EXPECT_EQ(t.framesPerSecond, 0.0f); // no measurement before frame 30

    t.frameCounter = 30;
    core::StepFrameTiming(t, 1060.0, 50.5, ratio);
    EXPECT_FLOAT_EQ(t.framesPerSecond, 60.0f);
    EXPECT_EQ(t.frameCounter, 0);
    EXPECT_DOUBLE_EQ(t.windowStart, 50.5);
    // An empty window (clock did not move) keeps the previous rate instead of dividing by 0.
    t.frameCounter = 30;
    core::StepFrameTiming(t, 1080.0, 50.5, ratio);
    EXPECT_FLOAT_EQ(t.framesPerSecond, 60.0f);
}

TEST(TimeScale, FrameRateTextHasOneDecimalAndNoLeadingZero) {
    EXPECT_EQ(Rate(0.0f), ".0");
    EXPECT_EQ(Rate(0.44f), ".4");
    EXPECT_EQ(Rate(59.94f), "59.9");
    EXPECT_EQ(Rate(59.96f), "60.0");
    EXPECT_EQ(Rate(123.0f, ","), "123,0");
    std::array<char, 4> tiny{};
    core::FormatFrameRate(12345.6f, ".", tiny); // truncated, still terminated
    EXPECT_EQ(std::string(tiny.data()), "123");
}

constexpr const char* kSixLines = "ciel\r\n10:200:-5\r\n1:2:3\r\n4: 5 :6\r\n 7.5:8:9\r\n-1:-2:-3";

TEST(MapDefinition, SixLinesGiveTheDefaultScaleAndEveryField) {
    const core::MapDefinition d = core::ParseMapDefinition(kSixLines, "m.map");
    EXPECT_EQ(d.skyName, "ciel");
    EXPECT_FLOAT_EQ(d.light.x, 10.0f);
    EXPECT_FLOAT_EQ(d.light.y, 200.0f);
    EXPECT_FLOAT_EQ(d.light.z, -5.0f);
    EXPECT_FLOAT_EQ(d.spawns[1].y, 5.0f); // blanks around a field are ignored
    EXPECT_FLOAT_EQ(d.spawns[2].x, 7.5f);
    EXPECT_FLOAT_EQ(d.spawns[3].z, -3.0f);
    EXPECT_EQ(d.meshScale, 24);
}

TEST(MapDefinition, SeventhLineSetsTheScaleOnlyWhenItIsAPositiveNumber) {
    const std::string base = std::string(kSixLines) + "\r\n";
    EXPECT_EQ(core::ParseMapDefinition(base + "0\r\n", "m").meshScale, 24);
    EXPECT_EQ(core::ParseMapDefinition(base + "abc\r\n", "m").meshScale, 24);
    EXPECT_EQ(core::ParseMapDefinition(base + "\r\n", "m").meshScale, 24);
    EXPECT_EQ(core::ParseMapDefinition(base + "-12\r\n", "m").meshScale, 24);
    EXPECT_EQ(core::ParseMapDefinition(base + "12\r\n", "m").meshScale, 12);
    EXPECT_EQ(core::ParseMapDefinition(base + "12\r\n99\r\nrubbish", "m").meshScale, 12);
    EXPECT_EQ(core::ParseMapDefinition(std::string(kSixLines) + "\n16\n", "m").meshScale, 16);
}

std::string ErrorOf(std::string_view text) {
    try {
        core::ParseMapDefinition(text, "/x/map/bad.map");
    } catch (const core::FatalError& error) {
        return error.what();
    }
    return "";
}

TEST(MapDefinition, MalformedLinesNameTheFileAndLine) {
    EXPECT_EQ(ErrorOf("ciel\n1:2:3\n1;2;3\n1:2:3\n1:2:3\n1:2:3\n"),
              "/x/map/bad.map:3: expected x:y:z, no ':' found");
    EXPECT_EQ(ErrorOf("ciel\n1:2:3\n1:2:3\n1:2\n1:2:3\n1:2:3\n"),
              "/x/map/bad.map:4: expected x:y:z, one ':' found");
    EXPECT_EQ(ErrorOf("ciel\n1:2:3\n1:2:3\n1:2:3\n1:zz:3\n1:2:3\n"),
              "/x/map/bad.map:5: 'zz' is not a number");
    EXPECT_EQ(ErrorOf("ciel\n1:2:3\n1:2:3\n1:2:3\n1:2:3\n1:2:3:4\n"),
              "/x/map/bad.map:6: '3:4' is not a number");
    EXPECT_EQ(ErrorOf("ciel\n1:2:3\n1:2:3\n"),
              "/x/map/bad.map:4: end of file where spawn point 1 was expected");
    EXPECT_EQ(ErrorOf(""), "/x/map/bad.map:1: end of file where the sky name was expected");
}

scene::Box BoxOf(glm::vec3 size) {
    scene::Box b;
    b.Extend({0, 0, 0});
    b.Extend(size);
    return b;
}

TEST(MapRules, SkyBoxScaleIsHalfTheLargestExtentRoundedHalfToEven) {
    EXPECT_DOUBLE_EQ(core::SkyBoxScale(BoxOf({300, 80, 420})), 210.0);
    EXPECT_DOUBLE_EQ(core::SkyBoxScale(BoxOf({500, 80, 420})), 250.0);
    EXPECT_DOUBLE_EQ(core::SkyBoxScale(BoxOf({10, 420.5f, 20})), 210.0); // 420.5 -> 420
    EXPECT_DOUBLE_EQ(core::SkyBoxScale(BoxOf({10, 20, 421.5f})), 211.0); // 421.5 -> 422
    EXPECT_DOUBLE_EQ(core::SkyBoxScale(scene::Box{}), 0.0);
}

TEST(MapRules, OnlyTheVillageInAnyCaseLosesItsWallFaces) {
    EXPECT_TRUE(core::IsVillageMap("VILLAGE"));
    EXPECT_TRUE(core::IsVillageMap("village"));
    EXPECT_TRUE(core::IsVillageMap("ViLlAgE"));
    EXPECT_FALSE(core::IsVillageMap("VILLAGES"));
    EXPECT_FALSE(core::IsVillageMap("VILLAG"));
    EXPECT_FALSE(core::IsVillageMap("cour"));
}

class WeaponPowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::LocalIndex = -1;
        core::Players = {};
    }
    void TearDown() override { SetUp(); }
    int Power(int32_t kills, int32_t deaths, int32_t sniperKills, int32_t sniped) {
        core::TotalKills = kills;
        core::TotalDeaths = deaths;
        core::TotalSniperKills = sniperKills;
        core::TotalSnipedDeaths = sniped;
        core::UpdateWeaponPower();
        return core::WeaponPower;
    }
};

TEST_F(WeaponPowerTest, ScoreBoundsGiveTheFourClasses) {
    EXPECT_EQ(Power(4, 0, 0, 0), 1);
    EXPECT_EQ(Power(5, 0, 0, 0), 2);
    EXPECT_EQ(Power(0, 0, 1, 0), 2); // a head shot counts five kills
    EXPECT_EQ(Power(9, 0, 0, 0), 2);
    EXPECT_EQ(Power(10, 0, 0, 0), 3);
    EXPECT_EQ(Power(14, 0, 0, 0), 3);
    EXPECT_EQ(Power(15, 0, 0, 0), 4);
    EXPECT_EQ(Power(0, 7, 0, 0), 1); // below zero
    EXPECT_EQ(Power(20, 0, 0, 2), 3);
    // Extreme totals neither overflow nor wrap to another class.
    const int32_t max = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(Power(max, 0, max, 0), 4);
    EXPECT_EQ(Power(0, max, 0, max), 1);
}

TEST_F(WeaponPowerTest, DuringAMatchTheLocalCountersCount) {
    core::Players[2] = std::make_unique<player::player>();
    core::Players[2]->tueur = 3;
    core::Players[2]->snipper = 1;
    EXPECT_EQ(Power(2, 0, 0, 0), 1); // no match: 2
    core::LocalIndex = 2;
    EXPECT_EQ(Power(2, 0, 0, 0), 3); // 2 + 3 + 5
    core::Players[2]->tue = 1;
    EXPECT_EQ(Power(2, 0, 0, 0), 2);
}

TEST(ToLong, ForgivingConversion) {
    EXPECT_EQ(core::ToLong(""), 0);
    EXPECT_EQ(core::ToLong("abc"), 0);
    EXPECT_EQ(core::ToLong("0"), 0);
    EXPECT_EQ(core::ToLong("24"), 24);
    EXPECT_EQ(core::ToLong(" -7 "), -7);
    EXPECT_EQ(core::ToLong("2.5"), 2); // halves to even
    EXPECT_EQ(core::ToLong("99999999999"), 0);
}

} // namespace

TEST(ComputerPlayers, TheDeveloperEntryTakesACountUpToThreeAndAKnownLevelOnly) {
    int32_t count = -1, level = -1;
    EXPECT_TRUE(core::ParseBots("3", count, level));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(level, 1) << "normal when no level is given";
    EXPECT_TRUE(core::ParseBots("1:hard", count, level));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(level, 2);
    EXPECT_TRUE(core::ParseBots("0:easy", count, level));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(level, 0);
    for (const char* bad :
         {"", "4", "-1", "12", "3:", "3:Hard", "3:insane", "x", ":easy", "2:easy:"}) {
        EXPECT_FALSE(core::ParseBots(bad, count, level)) << bad;
        EXPECT_EQ(count, 0) << "left as it was: " << bad;
        EXPECT_EQ(level, 0) << "left as it was: " << bad;
    }
    EXPECT_EQ(core::BotLevelName(2), "hard");
    EXPECT_EQ(core::BotLevelName(7), "hard") << "outside 0..2: the nearest level";
}
