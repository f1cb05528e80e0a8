// Map building from the installed content, frame trees, and player placement.
#include "core/game.h"
#include "platform/audio/audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The frames StartMatch creates before building a world.
void MakeWorldFrames(const std::string& dataPath, const std::string& mapName) {
    core::DataPath = dataPath;
    core::MapName = mapName;
    core::RootFrame = scene::Frame::Create();
    core::SceneFrame = scene::Frame::Create(core::RootFrame);
    core::CameraFrame = scene::Frame::Create(core::SceneFrame);
    core::CreateMapFrames();
    // Only file maps have a ladder frame.
    core::LadderFrame = (mapName == "couloirs" || mapName == "entrepot")
                            ? nullptr
                            : scene::Frame::Create(core::WallFrame);
}

std::string FatalText(const std::function<void()>& f) {
    try {
        f();
    } catch (const core::FatalError& e) {
        return e.what();
    }
    return "";
}

const scene::MeshBuilder& Builder(const scene::Frame& f, size_t i = 0) {
    return static_cast<const scene::MeshBuilder&>(*f.Visuals()[i]);
}

TEST(FileMap, GeneratedMapBuildsSolidFloorsWallsLaddersAndASkyAroundIt) {
    MakeWorldFrames(TARNHOLD_INSTALL_DIR, "cour");
    core::ReadMapFile();
    EXPECT_DOUBLE_EQ(core::MapScale, 50.0);
    EXPECT_FALSE(core::SkyName.empty());
    ASSERT_EQ(core::FloorFrame->GetVisualCount(), 1u);
    EXPECT_EQ(core::FloorFrame->GetTraversalOptions(), 3u);
    EXPECT_EQ(Builder(*core::FloorFrame).GetFlags(), 3u);
    EXPECT_EQ(core::WallFrame->GetTraversalOptions(), 3u);
    EXPECT_EQ(core::CeilingFrame->GetTraversalOptions(), 1u);
    EXPECT_EQ(Builder(*core::CeilingFrame).GetFlags(), 1u); // never hit by rays
    ASSERT_EQ(core::LadderFrame->GetVisualCount(), 1u);
    EXPECT_EQ(core::LadderFrame->Visuals()[0]->GetName(), "echelle");
    EXPECT_EQ(core::DecorFrameA->GetTraversalOptions(), 1u);
    // The sky box encloses the level: its size follows the level's largest extent.
    const scene::Box level = core::FloorFrame->GetBox();
    const scene::Box sky = core::DecorFrameA->GetBox();
    EXPECT_LT(sky.min.x, level.min.x);
    EXPECT_GT(sky.max.z, level.max.z);
    // The light hangs under the camera frame at the map's light position.
    ASSERT_EQ(core::CameraFrame->GetChildCount(), 1u);
    const glm::vec3 light = core::CameraFrame->Children()[0]->GetPosition(core::WallFrame.get());
    EXPECT_FLOAT_EQ(light.y, core::LightPosition.y);
}

class TempInstall : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(::testing::TempDir()) / ("core-install-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "map");
        // The player's own data folder, under this machine's settings directory.
        ::setenv("TARNHOLD_HOME", (dir / "machine").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TARNHOLD_HOME");
        fs::remove_all(dir);
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / "map" / name, std::ios::binary) << text;
    }
    fs::path dir;
};

TEST_F(TempInstall, MissingOrForeignMapNamesGiveTheUnpackInstructions) {
    MakeWorldFrames(dir.string(), "nowhere");
    const std::string text = FatalText(core::ReadMapFile);
    // The player's own map folder: looked in first, and one the player can write to.
    const std::string own = (dir / "machine" / "data" / "map").string();
    EXPECT_EQ(text, "dezipper le fichier " + own + "/nowhere.zip\n dans le repertoire " + own +
                        "\n et relancer le jeu !!");
    // A name climbing out of the map folder names no map, even when the file exists there.
    Write("../evil.map", "sky\n1:2:3\n1:2:3\n1:2:3\n1:2:3\n1:2:3\n");
    core::MapName = "../evil";
    EXPECT_NE(FatalText(core::ReadMapFile).find("dezipper le fichier"), std::string::npos);
}

TEST_F(TempInstall, UnreadableDefinitionsAndMissingMeshesNameTheFile) {
    Write("bad.map", "ciel\r\n1:2:3\r\n1:2:3\r\n1,2,3\r\n1:2:3\r\n1:2:3\r\n");
    MakeWorldFrames(dir.string(), "bad");
    EXPECT_EQ(FatalText(core::ReadMapFile),
              (dir / "map" / "bad.map").string() + ":4: expected x:y:z, no ':' found");
    Write("nomesh.map", "ciel\n1:2:3\n1:2:3\n1:2:3\n1:2:3\n1:2:3\n");
    MakeWorldFrames(dir.string(), "nomesh");
    EXPECT_NE(FatalText(core::ReadMapFile).find("nomesh.sol"), std::string::npos);
}

TEST_F(TempInstall, MapWithoutLadderFileHasAnEmptyLadderFrame) {
    const fs::path installed = fs::path(TARNHOLD_INSTALL_DIR) / "map";
    for (const char* ext : {".map", ".sol", ".mur", ".pla"})
        fs::copy_file(installed / (std::string("cour") + ext),
                      dir / "map" / (std::string("plain") + ext));
    fs::copy_file(installed / "boite.x", dir / "map" / "boite.x");
    MakeWorldFrames(dir.string(), "plain");
    core::ReadMapFile();
    EXPECT_EQ(core::LadderFrame->GetVisualCount(), 0u);
    EXPECT_EQ(core::WallFrame->GetVisualCount(), 1u);
}

TEST_F(TempInstall, APlayersOwnMapComesFirstAndBorrowsTheInstalledSkyAndTextures) {
    // The player's folder holds a "cour" of its own (the factory's files) and one picture.
    const fs::path installed = fs::path(TARNHOLD_INSTALL_DIR) / "map";
    const fs::path own = dir / "machine" / "data" / "map";
    fs::create_directories(own / "textures");
    for (const char* ext : {".map", ".sol", ".mur", ".pla", ".lad"})
        fs::copy_file(installed / (std::string("usine") + ext), own / (std::string("cour") + ext));
    MakeWorldFrames(TARNHOLD_INSTALL_DIR, "cour");
    EXPECT_EQ(core::FindMapFile(), own / "cour.map");
    core::ReadMapFile();
    const auto definition = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        return core::ParseMapDefinition(text, file.string());
    };
    const core::MapDefinition factory = definition(installed / "usine.map");
    EXPECT_NE(factory.spawns[0].x, definition(installed / "cour.map").spawns[0].x);
    EXPECT_EQ(core::SpawnPoints[0].x, factory.spawns[0].x);
    EXPECT_EQ(core::SkyName, factory.skyName);
    // Every face of the floor has its picture, found in the installation; the sky box mesh and
    // its six faces come from there too.
    const std::span<const scene::Face> floor = Builder(*core::FloorFrame).Faces();
    ASSERT_FALSE(floor.empty());
    EXPECT_TRUE(std::all_of(floor.begin(), floor.end(),
                            [](const scene::Face& f) { return f.texture != nullptr; }));
    ASSERT_EQ(core::DecorFrameA->GetVisualCount(), 1u);
    for (const scene::Face& face : Builder(*core::DecorFrameA).Faces())
        EXPECT_NE(face.texture, nullptr);
    ASSERT_EQ(core::LadderFrame->GetVisualCount(), 1u);

    // A picture of the player's folder wins over the installed one of the same name.
    const std::string name = fs::path(floor.front().texture->GetName()).filename().string();
    const std::string other = name == "brique.bmp" ? "pave.bmp" : "brique.bmp";
    fs::copy_file(installed / "textures" / other, own / "textures" / name);
    MakeWorldFrames(TARNHOLD_INSTALL_DIR, "cour");
    core::ReadMapFile();
    EXPECT_EQ(Builder(*core::FloorFrame).Faces().front().texture->GetImage().rgba,
              scene::LoadTexture((installed / "textures" / other).string())->GetImage().rgba);

    // Without the player's copy the installed map is built again.
    fs::remove(own / "cour.map");
    EXPECT_EQ(core::FindMapFile(), installed / "cour.map");
}

// The pixels of the texture named `name` on the faces of the first builder of `frame`.
std::vector<uint8_t> FaceTexturePixels(const scene::Frame& frame, const std::string& name) {
    for (const scene::Face& face : Builder(frame).Faces())
        if (face.texture && face.texture->GetName() == name) return face.texture->GetImage().rgba;
    return {};
}

TEST(BuiltInMaps, CorridorHasTwoTurnedSectionsAndHiddenCollisionMeshes) {
    // The logos are written into the machine's own data folder, never into the installation.
    const fs::path home = fs::path(::testing::TempDir()) / ("corridor-" + std::to_string(getpid()));
    fs::remove_all(home);
    ::setenv("TARNHOLD_HOME", home.c_str(), 1);
    const auto installedLogo = fs::path(TARNHOLD_INSTALL_DIR) / "media" / "logo4.bmp";
    const auto installedTime = fs::last_write_time(installedLogo);
    MakeWorldFrames(TARNHOLD_INSTALL_DIR, "couloirs");
    core::BuildCorridorMap();
    ::unsetenv("TARNHOLD_HOME");
    EXPECT_DOUBLE_EQ(core::MapScale, 5.0);
    EXPECT_EQ(core::DecorFrameA->GetVisualCount(), 2u);
    EXPECT_EQ(core::DecorFrameB->GetVisualCount(), 2u);
    EXPECT_EQ(core::DecorFrameA->GetTraversalOptions(), 1u); // drawn, never hit
    const glm::vec3 at = core::DecorFrameB->GetPosition(core::DecorFrameA.get());
    EXPECT_NEAR(at.x, 69.9762f, 1e-3f);
    EXPECT_NEAR(at.z, -399.9594f, 1e-3f);
    glm::vec3 dir, up;
    core::DecorFrameB->GetOrientation(core::DecorFrameA.get(), dir, up);
    EXPECT_NEAR(dir.z, -1.0f, 1e-5f); // turned by 180 degrees
    const char* names[6] = {"sol", "mur", " plafond", "sol2", "mur2", " plafond2"};
    for (size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(core::SectionFrames[i]);
        EXPECT_EQ(core::SectionFrames[i]->GetTraversalOptions(), 0u);
        EXPECT_EQ(core::SectionFrames[i]->Visuals()[0]->GetName(), names[i]);
        EXPECT_GT(Builder(*core::SectionFrames[i]).GetFaceCount(), 0u);
    }
    EXPECT_EQ(core::SectionFrames[3]->GetParent(), core::FloorFrame);
    EXPECT_EQ(core::FloorFrame->GetTraversalOptions(), 3u);
    // Each section shows its own variant of the fourth logo.
    const fs::path media = fs::path(TARNHOLD_INSTALL_DIR) / "media";
    const auto variant = [&](const char* file) {
        return scene::LoadTexture((media / file).string())->GetImage().rgba;
    };
    const std::vector<uint8_t> first = FaceTexturePixels(*core::DecorFrameA, "logo4.bmp");
    const std::vector<uint8_t> second = FaceTexturePixels(*core::DecorFrameB, "logo4.bmp");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, variant("logo4_0.bmp"));
    EXPECT_EQ(second, variant("logo4_1.bmp"));
    EXPECT_NE(first, second);
    EXPECT_TRUE(fs::is_regular_file(home / "data" / "media" / "logo4.bmp"));
    EXPECT_EQ(fs::last_write_time(installedLogo), installedTime);
    fs::remove_all(home);
}

TEST(BuiltInMaps, WarehouseIsLoadedAsFramesScaledAndDressed) {
    MakeWorldFrames(TARNHOLD_INSTALL_DIR, "entrepot");
    core::BuildWarehouseMap();
    for (const auto& frame : {core::FloorFrame, core::WallFrame, core::CeilingFrame}) {
        ASSERT_GE(frame->GetChildCount(), 1u);
        const glm::mat4 m = frame->Children()[0]->GetLocalTransform();
        EXPECT_NEAR(glm::length(glm::vec3(m[0])), 0.1f, 1e-6f);
    }
    // Every mesh of the loaded hierarchy carries the warehouse material, in white.
    size_t dressed = 0;
    std::function<void(const scene::Frame&)> visit = [&](const scene::Frame& f) {
        for (const auto& v : f.Visuals()) {
            const auto& b = static_cast<const scene::MeshBuilder&>(*v);
            for (const scene::Face& face : b.Faces()) {
                ASSERT_TRUE(face.material);
                EXPECT_FLOAT_EQ(face.material->power, 10.0f);
                EXPECT_EQ(face.color, glm::vec4(1.0f));
            }
            ++dressed;
        }
        for (const auto& c : f.Children())
            visit(*c);
    };
    visit(*core::FloorFrame);
    EXPECT_GT(dressed, 0u);
}

TEST(FrameTree, DeleteFrameTreeDetachesEveryDescendant) {
    auto root = scene::Frame::Create();
    auto a = scene::Frame::Create(root);
    auto b = scene::Frame::Create(a);
    auto c = scene::Frame::Create(root);
    core::DeleteFrameTree(*root);
    EXPECT_EQ(root->GetChildCount(), 0u);
    EXPECT_EQ(a->GetChildCount(), 0u);
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(c->GetParent(), nullptr);
}

// A match of one player without sound, chat or viewport, whose spawn draws are seeded 1, 2, 3…
struct SeedsFromOne final : player::MatchServices {
    uint32_t seed = 1;
    std::unique_ptr<audio::Sound> LoadSound3d(const std::string&, std::string&) override {
        return nullptr;
    }
    void ReportLoadProblems(std::span<const player::LoadProblem>) override {}
    uint32_t RandomSeed() override { return seed++; }
    int32_t WeaponPower() const override { return 4; }
    void UpdateWeaponPower() override {}
    bool ChatOpen() const override { return false; }
    void CloseChat() override {}
    scene::ViewportParams* LocalViewport() override { return nullptr; }
    void RebuildViewport(const std::shared_ptr<scene::Frame>&) override {}
    void SetListener(const glm::vec3&, const glm::vec3&, const glm::vec3&) override {}
    void Log(std::string_view) override {}
};

TEST(Players, LocalPlayerSpawnsOnTheMapAndDestroyReleasesItsFrames) {
    MakeWorldFrames(TARNHOLD_INSTALL_DIR, "entrepot");
    player::World w;
    w.sceneFrame = core::SceneFrame;
    w.playerRoot = scene::Frame::Create(core::WallFrame);
    w.wallFrame = core::WallFrame;
    w.decorFrameA = core::DecorFrameA;
    w.decorFrameB = core::DecorFrameB;
    w.mapName = "entrepot";
    w.localIndex = 0;
    w.dataPath = TARNHOLD_INSTALL_DIR;
    SeedsFromOne services;
    w.services = &services;
    player::player p;
    p.indice = 0;
    p.Initplayer(w);
    EXPECT_EQ(p.force, 100);
    EXPECT_TRUE(p.pret);
    EXPECT_EQ(p.joueur->GetTraversalOptions(), 0u);
    EXPECT_EQ(p.Frmsang->GetTraversalOptions(), 1u);
    EXPECT_TRUE(p.TexSang[1] && p.TexSang[9]);
    const glm::vec3 at = p.joueur->GetPosition(core::WallFrame.get());
    EXPECT_TRUE(std::any_of(player::kWarehouseSpawns.begin(), player::kWarehouseSpawns.end(),
                            [&](const glm::vec3& s) { return glm::length(s - at) < 1e-3f; }));
    // On the corridors a team-1 player stands relative to the second section.
    w.mapName = "couloirs";
    p.IdModele = 1;
    p.PlaceJoueur();
    const glm::vec3 inB = p.joueur->GetPosition(core::DecorFrameB.get());
    EXPECT_TRUE(std::any_of(player::kCorridorSpawns.begin(), player::kCorridorSpawns.end(),
                            [&](const glm::vec3& s) { return glm::length(s - inB) < 1e-3f; }));

    p.Destroy();
    EXPECT_EQ(w.playerRoot->GetChildCount(), 0u);
    EXPECT_FALSE(p.joueur);
    EXPECT_FALSE(p.cam);
    p.Destroy(); // twice is harmless
}

} // namespace

namespace {

std::string InspectMap(const std::string& name, int& status) {
    const fs::path out = fs::path(::testing::TempDir()) /
                         ("core-inspect-" + name + std::to_string(::getpid()) + ".txt");
    const std::string command = std::string(TARNHOLD_INSTALL_DIR) + "/tarnhold-inspect map " +
                                name + " > " + out.string() + " 2>&1";
    status = std::system(command.c_str());
    std::ifstream in(out);
    std::string text(std::istreambuf_iterator<char>(in), {});
    fs::remove(out);
    return text;
}

TEST(InspectMap, PrintsWhatTheMatchBuildsAndFailsOnMissingMaps) {
    int status = 0;
    const std::string cour = InspectMap("cour", status);
    EXPECT_EQ(status, 0) << cour;
    for (const char* line : {"map cour\n", "map scale 50\n", "sky ciel\n", "mesh scale 24\n",
                             "ladder \"echelle\"\n", "CeilingFrame flags 1\n"})
        EXPECT_NE(cour.find(line), std::string::npos) << line << "\n" << cour;
    EXPECT_NE(cour.find("spawn 3 "), std::string::npos);
    EXPECT_NE(cour.find("sky box scale "), std::string::npos);
    const std::string corridor = InspectMap("couloirs", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(corridor.find("FloorFrame mesh \"sol2\" flags 3"), std::string::npos) << corridor;
    const std::string missing = InspectMap("nosuchmap", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(missing.find("nosuchmap.zip"), std::string::npos);
}

} // namespace
