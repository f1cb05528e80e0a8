// tarnhold-inspect nav: what bots get on a map, as text and as a plan seen from above.
#include "platform/scene/scene.h"
#include "tests/support/command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Inspect(const std::string& args, int& status) {
    const testsupport::CommandRun run = testsupport::RunCommand(
        std::string(TARNHOLD_INSTALL_DIR) + "/tarnhold-inspect nav " + args + " 2>&1");
    status = run.status;
    return run.out;
}

// Pixels of `picture` with exactly this colour.
size_t Count(const scene::Image& picture, uint8_t r, uint8_t g, uint8_t b) {
    size_t n = 0;
    for (size_t i = 0; i + 3 < picture.rgba.size(); i += 4)
        n += picture.rgba[i] == r && picture.rgba[i + 1] == g && picture.rgba[i + 2] == b;
    return n;
}

TEST(NavInspect, PrintsTheGraphAndEverySpawnPointsReachAndDrawsItsPlan) {
    const fs::path png =
        fs::path(::testing::TempDir()) / ("nav-cour-" + std::to_string(::getpid()) + ".png");
    int status = -1;
    const std::string cour =
        Inspect("cour " + std::string(TARNHOLD_INSTALL_DIR) + " --png " + png.string(), status);
    EXPECT_EQ(status, 0) << cour;
    for (const char* line :
         {"\nmap cour\n", "\nnodes ", "\nspawn 3 10 2 50: node ",
          "reaches every other spawn point\n", "\nevery spawn point reaches every other\n"})
        EXPECT_NE(cour.find(line), std::string::npos) << line << "\n" << cour;
    EXPECT_EQ(cour.find("ladder 0)"), std::string::npos) << "the tower's ladder is climbed";

    std::ifstream in(png, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove(png);
    const auto picture = scene::LoadTextureFromMemory(bytes, "plan.png");
    ASSERT_NE(picture, nullptr);
    const scene::Image& image = picture->GetImage();
    EXPECT_GT(image.width, 600);
    EXPECT_GT(Count(image, 40, 255, 40), 4u * 9u) << "four spawn points";
    EXPECT_GT(Count(image, 255, 40, 40), 0u) << "ladder edges";
    EXPECT_GT(Count(image, 110, 110, 110), 1000u) << "walls";

    Inspect("nosuchmap " + std::string(TARNHOLD_INSTALL_DIR), status);
    EXPECT_EQ(status, 1);
    Inspect("", status);
    EXPECT_EQ(status, 2);
}

} // namespace
