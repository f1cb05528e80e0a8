// The real `tarnhold` program on a display (Xvfb): the main menu with its turning character
// preview, and the weapon inventory over it, as screenshots taken by its script show.
#include <gtest/gtest.h>

#include "platform/scene/scene.h"
#include "tests/e2e/app/process.h"
#include "tests/render/render/picture_diff.h"

#include <fstream>

namespace {

using namespace std::chrono_literals;

scene::Image Load(const std::string& path) {
    const auto texture = scene::LoadTexture(path);
    return texture ? texture->GetImage() : scene::Image{};
}

// Mean brightness (0..255) of a rectangle.
double Brightness(const scene::Image& img, int x0, int y0, int width, int height) {
    double sum = 0;
    for (int y = y0; y < y0 + height; ++y)
        for (int x = x0; x < x0 + width; ++x) {
            const glm::ivec3 c = rendertest::PixelAt(img, x, y);
            sum += (c.r + c.g + c.b) / 3.0;
        }
    return sum / (double(width) * height);
}

TEST(MenuShots, MenuPreviewTurnsLeavingTheInstalledTexturesAndInventoryDimsLockedWeapons) {
    // The preview's own textures, which choosing a skin must not overwrite.
    const auto models = apptest::GameExecutable().parent_path() / "models";
    const std::string terrorTexture = apptest::ReadFile(models / "terror2_0.bmp");
    const std::string gignTexture = apptest::ReadFile(models / "gign2_0.bmp");
    ASSERT_FALSE(terrorTexture.empty());
    const auto dir = apptest::FreshDir("menu-shots");
    const std::string first = rendertest::ShotPath("menu-shots", "menu-a.bmp");
    const std::string second = rendertest::ShotPath("menu-shots", "menu-b.bmp");
    const std::string inventory = rendertest::ShotPath("menu-shots", "inventory.bmp");
    const auto script = dir / "shots.txt";
    std::ofstream(script) << "answer * OK\n"
                          << "waitscreen mainmenu\n"
                          << "wait 5\n"
                          << "screenshot \"" << first << "\"\n"
                          << "sleep 700\n"
                          << "wait 2\n"
                          << "screenshot \"" << second << "\"\n"
                          << "press \"WEAPON INVENTORY\"\n"
                          << "waitscreen inventory\n"
                          << "wait 5\n"
                          << "screenshot \"" << inventory << "\"\n"
                          << "press CLOSE\n"
                          << "select Combo3 2\n"
                          << "wait 3\n"
                          << "select cmbtyp 1\n"
                          << "select Combo3 1\n"
                          << "wait 3\n"
                          << "press QUIT\n";
    apptest::Process game(apptest::OnDisplayCommand(), apptest::DisplayRunEnvironment(dir, script),
                          dir / "game.out");
    ASSERT_EQ(game.WaitExit(60s), 0) << game.Output();
    const std::string out = game.Output();
    ASSERT_EQ(out.find("running headless"), std::string::npos) << "no GL on this display\n" << out;
    EXPECT_EQ(out.find("menu preview:"), std::string::npos) << "the preview failed\n" << out;
    EXPECT_NE(out.find("selected entry 1 of \"Combo3\""), std::string::npos) << out;
    EXPECT_EQ(apptest::ReadFile(models / "terror2_0.bmp"), terrorTexture);
    EXPECT_EQ(apptest::ReadFile(models / "gign2_0.bmp"), gignTexture);

    const scene::Image a = Load(first);
    const scene::Image b = Load(second);
    ASSERT_EQ(a.width, 800);
    ASSERT_EQ(a.height, 600);
    ASSERT_EQ(b.width, 800);

    // Between the two shots only the turning character changed: a figure-sized patch in the
    // player frame (left column, below the name line), nothing else on the menu.
    const rendertest::Difference turn = rendertest::Compare(a, b, 8);
    EXPECT_GT(turn.count, 200);
    EXPECT_GT(turn.Height(), 60);
    EXPECT_LT(turn.maxX, 400);
    EXPECT_GT(turn.minY, 200);
    EXPECT_LT(turn.Width(), 200);
    EXPECT_GT((turn.mean.r + turn.mean.g + turn.mean.b) / 3.0, 30.0) << "a lit, textured body";

    // The inventory, centred over the menu: with the first rank the pictures of the four rank-1
    // weapons (first column, rows 0-3) are drawn bright, those of the locked weapons dimmed.
    const scene::Image inv = Load(inventory);
    ASSERT_EQ(inv.width, 800);
    const double mac10 = Brightness(inv, 70, 84, 80, 40);
    const double aug = Brightness(inv, 70, 236, 80, 40);
    const double mp5 = Brightness(inv, 70, 388, 80, 40);
    const double awp = Brightness(inv, 418, 464, 80, 40);
    EXPECT_GT(mac10, 40.0);
    EXPECT_GT(aug, 40.0);
    EXPECT_GT(mac10, 1.6 * mp5);
    EXPECT_GT(aug, 1.6 * awp);
}

} // namespace
