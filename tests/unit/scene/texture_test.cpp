// Texture pictures in BMP, TGA and PNG: the same pixels whatever the format, the other
// extensions and any case tried for a missing name, and bad pictures refused with their file named.
#include "platform/scene/scene.h"
#include "tests/support/pictures.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TextureFolder : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarnhold-texture-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        path_.AddFolder(dir_.string());
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string File(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
    scene::SearchPath path_;
};

// A 3 x 2 picture whose six pixels all differ, so that a flipped or shifted row shows.
scene::Image SixPixels() {
    scene::Image img;
    img.width = 3;
    img.height = 2;
    img.rgba = {255, 0,  0,  255, 0,   255, 0,  255, 0, 0, 255, 255,
                10,  20, 30, 255, 200, 100, 50, 255, 0, 0, 0,   255};
    return img;
}

TEST_F(TextureFolder, BmpTgaAndPngGiveTheSamePixels) {
    const scene::Image want = SixPixels();
    ASSERT_TRUE(testpictures::WriteBmp(File("a.bmp"), want));
    ASSERT_TRUE(testpictures::WritePng(File("a.png"), want));
    ASSERT_TRUE(testpictures::WriteTga(File("plain.tga"), want, {}));
    ASSERT_TRUE(testpictures::WriteTga(File("rle.tga"), want, {.rle = true, .topLeft = true}));
    ASSERT_TRUE(testpictures::WriteTga(File("alpha.tga"), want, {.rle = true, .alpha = true}));
    // A PNG under a .bmp name: the content decides.
    fs::copy_file(File("a.png"), File("disguised.bmp"));
    for (const char* name :
         {"a.bmp", "a.png", "plain.tga", "rle.tga", "alpha.tga", "disguised.bmp"}) {
        SCOPED_TRACE(name);
        scene::LoadStatus status;
        const auto texture = scene::LoadTexture(name, &path_, &status);
        ASSERT_NE(texture, nullptr) << status.error;
        EXPECT_TRUE(status.ok);
        EXPECT_EQ(texture->GetName(), name);
        ASSERT_EQ(texture->Width(), 3);
        ASSERT_EQ(texture->Height(), 2);
        EXPECT_EQ(texture->GetImage().rgba, want.rgba);
    }
}

TEST_F(TextureFolder, MissingNameIsTriedWithTheOtherExtensionsThenInAnyCase) {
    const scene::Image img = SixPixels();
    ASSERT_TRUE(testpictures::WritePng(File("wall.png"), img));
    ASSERT_TRUE(testpictures::WriteTga(File("FLOOR.TGA"), img, {}));
    ASSERT_TRUE(testpictures::WriteTga(File("both.tga"), img, {}));
    scene::Image other = img;
    other.rgba[0] = 7;
    ASSERT_TRUE(testpictures::WriteBmp(File("both.bmp"), other));

    scene::LoadStatus status;
    auto wall = scene::LoadTexture("wall.bmp", &path_, &status);
    ASSERT_NE(wall, nullptr) << status.error;
    EXPECT_EQ(wall->GetName(), "wall.bmp"); // known by the name asked for
    EXPECT_EQ(wall->GetImage().rgba, img.rgba);
    EXPECT_NE(scene::LoadTexture("FLOOR.BMP", &path_, &status), nullptr) << status.error;
    EXPECT_NE(scene::LoadTexture(File("wall.tga"), nullptr, &status), nullptr) << status.error;
    // An existing file is taken before any other extension.
    auto both = scene::LoadTexture("both.tga", &path_, &status);
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->GetImage().rgba[0], 255);
    EXPECT_EQ(scene::LoadTexture("both.png", &path_, &status)->GetImage().rgba[0], 7);

    // A skin painted where names ignore case: "ts2.BMP" is found as "TS2.bmp", a "Skin.PNG" as
    // "SKIN.bmp"; a file of the exact name is still taken first.
    ASSERT_TRUE(testpictures::WriteBmp(File("ts2.BMP"), img));
    ASSERT_TRUE(testpictures::WritePng(File("Skin.PNG"), img));
    ASSERT_TRUE(testpictures::WriteBmp(File("Both.BMP"), img));
    EXPECT_NE(scene::LoadTexture(File("TS2.bmp"), nullptr, &status), nullptr) << status.error;
    EXPECT_NE(scene::LoadTexture(File("SKIN.bmp"), nullptr, &status), nullptr) << status.error;
    EXPECT_EQ(scene::LoadTexture(File("both.bmp"), nullptr, &status)->GetImage().rgba[0], 7);

    // Nothing under any extension: the error names what was asked, where, and what was tried.
    EXPECT_EQ(scene::LoadTexture("gone.png", &path_, &status), nullptr);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.error, "gone.png: file not found (looked in " + dir_.string() +
                                "); also tried gone.bmp, gone.tga");
    EXPECT_EQ(scene::PictureAlternatives("x.jpg"), std::vector<std::string>{});
    EXPECT_EQ(scene::PictureAlternatives("noext"), std::vector<std::string>{});
}

TEST_F(TextureFolder, BadPngAndTgaAreRefusedWithTheirFileNamed) {
    const scene::Image img = SixPixels();
    ASSERT_TRUE(testpictures::WritePng(File("good.png"), img));
    std::vector<uint8_t> png;
    {
        std::ifstream in(File("good.png"), std::ios::binary);
        png.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(png.size(), 40u);
    scene::LoadStatus status;

    // A PNG whose header claims 100000 x 100000 pixels is refused before it is inflated.
    std::vector<uint8_t> huge = png;
    for (size_t at : {16u, 20u}) {
        huge[at] = 0;
        huge[at + 1] = 0x01;
        huge[at + 2] = 0x86;
        huge[at + 3] = 0xA0;
    }
    EXPECT_EQ(scene::LoadTextureFromMemory(huge, "huge.png", &status), nullptr);
    EXPECT_EQ(status.error, "huge.png: picture size out of range");
    // Cut short after its header: the decoder's error, with the file's path.
    std::ofstream(File("cut.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), 45);
    EXPECT_EQ(scene::LoadTexture("cut.png", &path_, &status), nullptr);
    EXPECT_EQ(status.error.rfind(File("cut.png") + ": not a readable PNG picture", 0), 0u)
        << status.error;

    // A plain TGA with fewer pixel bytes than its size needs; an RLE TGA that ends mid-packet.
    std::vector<uint8_t> tga = testpictures::TgaBytes(img, {});
    tga.resize(tga.size() - 4);
    EXPECT_EQ(scene::LoadTextureFromMemory(tga, "short.tga", &status), nullptr);
    EXPECT_EQ(status.error, "short.tga: picture data cut short");
    std::vector<uint8_t> rle = testpictures::TgaBytes(img, {.rle = true});
    rle.resize(rle.size() - 2);
    EXPECT_EQ(scene::LoadTextureFromMemory(rle, "short_rle.tga", &status), nullptr);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.error.rfind("short_rle.tga: ", 0), 0u);
    // A TGA of 65535 x 65535 pixels: refused by its size.
    std::vector<uint8_t> wide = testpictures::TgaBytes(img, {.rle = true});
    wide[12] = wide[13] = wide[14] = wide[15] = 0xFF;
    EXPECT_EQ(scene::LoadTextureFromMemory(wide, "wide.tga", &status), nullptr);
    EXPECT_EQ(status.error, "wide.tga: picture size out of range");

    // Text under a picture name.
    std::ofstream(File("notes.tga")) << "this is not a picture at all\n";
    EXPECT_EQ(scene::LoadTexture("notes.tga", &path_, &status), nullptr);
    EXPECT_EQ(status.error, File("notes.tga") + ": not a BMP, TGA or PNG picture");
}

} // namespace
