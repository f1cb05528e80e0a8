// tarnhold-inspect check: every problem of a broken copy of the generated content, each with
// its file and line, and none on the content as the build installs it.
#include "tests/support/command.h"
#include "tests/unit/model/model_files.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

namespace fs = std::filesystem;

using ToolRun = testsupport::CommandRun;

// A settings folder of no one: the player's data folder under it holds no map.
std::string NoPlayersMaps() {
    return "TARNHOLD_HOME=" +
           (fs::temp_directory_path() / ("tarnhold-check-nobody-" + std::to_string(::getpid())))
               .string() +
           " ";
}

// Runs tarnhold-inspect check with `args`; `env` ("NAME=value ") goes before the command.
ToolRun Check(const std::string& args, const std::string& env = NoPlayersMaps()) {
    return testsupport::RunCommand(env + std::string(TARNHOLD_INSTALL_DIR) +
                                   "/tarnhold-inspect check " + args + " 2>&1");
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The 1-based number of the first line of `text` that contains `part`; 0 when none.
int LineContaining(const std::string& text, const std::string& part) {
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (line.find(part) != std::string::npos) return n;
    return 0;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

fs::path Installed() {
    return fs::path(TARNHOLD_INSTALL_DIR);
}

} // namespace

TEST(Check, GeneratedContentHasNoProblems) {
    std::vector<std::string> targets = {(Installed() / "models" / "terror.qc").string(), "cour",
                                        "usine"};
    for (const auto& entry : fs::directory_iterator(Installed() / "weapons"))
        if (entry.path().extension() == ".QC") targets.push_back(entry.path().string());
    ASSERT_EQ(targets.size(), 15u);
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        const bool map = !target.ends_with(".qc") && !target.ends_with(".QC");
        const ToolRun run = Check(map ? target + " " + Installed().string() : target);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("\nno problems found\n"), std::string::npos) << run.out;
    }
    EXPECT_EQ(Check("").status, 2);
}

// A copy of the character with a texture deleted, a bone renamed, a sequence file deleted and
// a sequence moved below the one that shadows it.
TEST(Check, BrokenCharacterListsEveryProblemWithItsLine) {
    modeltest::ModelDir dir;
    const fs::path models = fs::path(dir.Path()) / "models";
    fs::copy(Installed() / "models", models, fs::copy_options::recursive);
    fs::remove(models / "TS1.bmp");
    fs::remove(models / "run.smd");
    const std::string smd = ReadText(models / "terror.smd");
    std::ofstream(models / "terror.smd", std::ios::binary)
        << Replace(smd, "\"Bip01 Head\"", "\"Bip01 Skull\"");
    // The crouch_idle1 line, with its line end, moved to the end of the file.
    std::string qc = ReadText(models / "terror.qc");
    const size_t from = qc.find("$sequence \"crouch_idle1\"");
    ASSERT_NE(from, std::string::npos);
    const size_t to = qc.find('\n', from) + 1;
    const std::string crouch = qc.substr(from, to - from);
    qc = qc.erase(from, to - from) + crouch;
    std::ofstream(models / "terror.qc", std::ios::binary) << qc;

    const std::string qcFile = (models / "terror.qc").string();
    const std::string smdFile = (models / "terror.smd").string();
    const ToolRun run = Check(qcFile);
    EXPECT_EQ(run.status, 1);
    const auto expect = [&](const std::string& line) {
        EXPECT_NE(run.out.find("\n" + line + "\n"), std::string::npos)
            << "missing: " << line << "\nin:\n"
            << run.out;
    };
    const int texture = LineContaining(smd, "TS1.bmp");
    const int nodes = LineContaining(smd, "nodes");
    const int headBox = LineContaining(qc, "\"Bip01 Head\"");
    const int run1 = LineContaining(qc, "$sequence \"run\"");
    const int idle = LineContaining(qc, "$sequence \"idle1\"");
    const int crouchIdle = LineContaining(qc, "$sequence \"crouch_idle1\"");
    ASSERT_TRUE(texture > 0 && nodes > 0 && headBox > 0 && run1 > 0 && idle > 0 && crouchIdle > 0);
    expect(smdFile + ":" + std::to_string(texture) +
           ": texture \"TS1.bmp\" cannot be loaded: TS1.bmp: file not found (looked in " +
           (fs::path(dir.Path()) / "media").string() + ", " + models.string() +
           "); also tried TS1.tga, TS1.png");
    expect(smdFile + ":" + std::to_string(nodes) +
           ": no bone \"Bip01 Head\" (the first-person eye sits on it and its hit box makes head "
           "shots)");
    expect(qcFile + ":" + std::to_string(headBox) +
           ": hit box on bone \"Bip01 Head\", which the skeleton does not have: it can never be "
           "hit");
    expect(qcFile + ":" + std::to_string(run1) + ": $sequence \"run\": run.smd not found");
    expect(qcFile + ": no animation \"run\" (running); the game plays the first sequence instead");
    expect(qcFile + ":" + std::to_string(idle) +
           ": sequence \"idle1\" comes before \"crouch_idle1\" (line " +
           std::to_string(crouchIdle) +
           ") and is played in its place: list \"crouch_idle1\" first");
    EXPECT_NE(run.out.find("\n6 problems\n"), std::string::npos) << run.out;
}

// A copy of a map with its ceiling file missing, a texture that three of its meshes name
// missing, a spawn point off the level and one too high above the floor.
TEST(Check, BrokenMapListsEveryProblemWithItsLine) {
    modeltest::ModelDir dir;
    const fs::path map = fs::path(dir.Path()) / "map";
    fs::copy(Installed() / "map", map, fs::copy_options::recursive);
    fs::remove(map / "cour.pla");
    fs::remove(map / "textures" / "pave.bmp");
    std::string def = ReadText(map / "cour.map");
    const size_t line5 = [&] {
        size_t at = 0;
        for (int k = 0; k < 4; ++k)
            at = def.find('\n', at) + 1;
        return at;
    }();
    def.replace(line5, def.find('\r', line5) - line5, "900:2:900");
    const size_t line6 = def.find('\n', line5) + 1;
    def.replace(line6, def.find('\r', line6) - line6, "10:90:50");
    std::ofstream(map / "cour.map", std::ios::binary) << def;

    const ToolRun run = Check("cour " + dir.Path());
    EXPECT_EQ(run.status, 1);
    const auto expect = [&](const std::string& line) {
        EXPECT_NE(run.out.find("\n" + line + "\n"), std::string::npos)
            << "missing: " << line << "\nin:\n"
            << run.out;
    };
    expect((map / "cour.pla").string() + ": missing: the map's ceilings");
    // Every mesh that names the texture says so, at the line naming it.
    for (const char* mesh : {"cour.sol", "cour.mur", "cour.lad"}) {
        const int pave = LineContaining(ReadText(map / mesh), "\"pave.bmp\"");
        ASSERT_GT(pave, 0);
        expect((map / mesh).string() + ":" + std::to_string(pave) +
               ": texture \"pave.bmp\" not found in " + (map / "textures").string() +
               " (nor under its other picture extensions)");
    }
    expect(
        (map / "cour.map").string() +
        ":5: spawn point 2 (900:2:900) has no floor below it: a player placed there cannot move");
    // Standing 2.5 above the floor, more than 50 above it: every move is refused.
    const size_t high =
        run.out.find((map / "cour.map").string() + ":6: spawn point 3 (10:90:50) is ");
    EXPECT_NE(high, std::string::npos) << run.out;
    EXPECT_NE(
        run.out.find(" above the floor, more than 52.5: a player placed there cannot move\n", high),
        std::string::npos);
    EXPECT_NE(run.out.find("\n6 problems\n"), std::string::npos) << run.out;
}

// A downloaded map lives in the player's data folder (TARNHOLD_HOME/data/map): it is checked
// there, borrowing the installation's sky box and textures as the game does, and a texture
// found in neither folder names both.
TEST(Check, DownloadedMapIsCheckedInThePlayersFolder) {
    modeltest::ModelDir home;
    const fs::path map = fs::path(home.Path()) / "data" / "map";
    fs::create_directories(map / "textures");
    for (const char* suffix : {".map", ".sol", ".mur", ".pla"}) {
        std::string text = ReadText(Installed() / "map" / (std::string("cour") + suffix));
        std::ofstream(map / (std::string("ruelle") + suffix), std::ios::binary) << text;
    }
    // Its own bricks; everything else comes from the installation.
    fs::copy_file(Installed() / "map" / "textures" / "brique.bmp", map / "textures" / "brique.bmp");
    const std::string env = "TARNHOLD_HOME=" + home.Path() + " ";
    const auto run = [&](const std::string& args) {
        return Check(args + " " + Installed().string(), env);
    };
    ToolRun ok = run("ruelle");
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find("map folder " + map.string() + "\n"), std::string::npos) << ok.out;

    std::string sol = ReadText(map / "ruelle.sol");
    std::ofstream(map / "ruelle.sol", std::ios::binary)
        << Replace(sol, "\"pave.bmp\"", "\"pavement.bmp\"");
    const ToolRun bad = run("ruelle");
    EXPECT_EQ(bad.status, 1);
    const int line = LineContaining(ReadText(map / "ruelle.sol"), "\"pavement.bmp\"");
    EXPECT_NE(bad.out.find((map / "ruelle.sol").string() + ":" + std::to_string(line) +
                           ": texture \"pavement.bmp\" not found in " +
                           (map.parent_path() / "map" / "textures").string() + " nor " +
                           (Installed() / "map" / "textures").string() +
                           " (nor under its other picture extensions)\n"),
              std::string::npos)
        << bad.out;
    EXPECT_NE(bad.out.find("\n1 problem\n"), std::string::npos) << bad.out;
}
