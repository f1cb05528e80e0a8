// Mesh builders, meshes and their vertex group, textures and the search path, viewport math.
#include "platform/scene/scene.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using scene::MeshBuilder;

// Two faces: a quad and a triangle sharing an edge; with per-vertex texture coordinates.
std::shared_ptr<MeshBuilder> QuadAndTriangle() {
    auto mb = MeshBuilder::Create();
    const std::vector<glm::vec3> v{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}};
    const std::vector<glm::vec3> n{{0, 0, -1}, {0, 0, 1}};
    const std::vector<int32_t> faces{4, 0, 0, 1, 0, 2, 0, 3, 0, 3, 1, 1, 4, 1, 2, 1, 0};
    EXPECT_TRUE(mb->AddFaces(v, n, faces));
    for (uint32_t i = 0; i < 5; ++i)
        mb->SetTextureCoordinates(i, 0.25f * i, 1.0f - 0.25f * i);
    return mb;
}

TEST(MeshBuilder, FacesKeepTheirCornersAndEditsAreChecked) {
    auto mb = QuadAndTriangle();
    ASSERT_EQ(mb->GetFaceCount(), 2u);
    EXPECT_EQ(mb->GetFace(0).vertices, (std::vector<uint32_t>{0, 1, 2, 3})) << "quads stay quads";
    EXPECT_EQ(mb->GetFace(1).vertices, (std::vector<uint32_t>{1, 4, 2}));
    EXPECT_EQ(mb->GetVertexCount(), 5u);
    std::vector<uint32_t> tris, owner;
    mb->Triangulate(tris, &owner);
    EXPECT_EQ(tris, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 1, 4, 2}));
    EXPECT_EQ(owner, (std::vector<uint32_t>{0, 0, 1}));

    // Malformed face data adds nothing: a bad index, a two-corner face, a truncated list.
    const std::vector<glm::vec3> v{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const uint64_t before = mb->Version();
    EXPECT_FALSE(mb->AddFaces(v, {}, std::vector<int32_t>{3, 0, 1, 3, 0}));
    EXPECT_FALSE(mb->AddFaces(v, {}, std::vector<int32_t>{2, 0, 1, 0}));
    EXPECT_FALSE(mb->AddFaces(v, {}, std::vector<int32_t>{3, 0, 1}));
    EXPECT_FALSE(mb->AddFaces(v, {}, std::vector<int32_t>{-3, 0, 1, 2}));
    EXPECT_EQ(mb->GetVertexCount(), 5u);
    EXPECT_EQ(mb->Version(), before);
    EXPECT_FALSE(mb->AddFaceCorner(0, 99, 0));
    EXPECT_FALSE(mb->SetVertex(99, {1, 1, 1}));
    EXPECT_FALSE(mb->DeleteFace(2));

    // Deleting face 0 renumbers the later faces; whole-mesh texture and colour reach every
    // face; the version moves with every edit.
    auto tex = scene::Texture::CreateFromImage({}, "skin.bmp");
    mb->SetTexture(tex);
    mb->SetColorRGB(0.2f, 0.3f, 0.4f);
    EXPECT_EQ(mb->GetFace(1).texture, tex);
    EXPECT_FLOAT_EQ(mb->GetFace(0).color.g, 0.3f);
    EXPECT_TRUE(mb->DeleteFace(0));
    EXPECT_EQ(mb->GetFace(0).vertices, (std::vector<uint32_t>{1, 4, 2}));
    EXPECT_GT(mb->Version(), before);

    // Scaling and the box.
    mb->ScaleMesh(2, 3, 4);
    const scene::Box box = mb->GetBox();
    EXPECT_EQ(box.min, glm::vec3(0, 0, 0));
    EXPECT_EQ(box.max, glm::vec3(4, 3, 0));
    EXPECT_TRUE(MeshBuilder::Create()->GetBox().IsEmpty());

    // A clone is independent of its source.
    auto copy = mb->Clone();
    copy->SetVertex(0, {9, 9, 9});
    EXPECT_EQ(mb->GetVertex(0), glm::vec3(0, 0, 0));
    EXPECT_EQ(copy->GetFaceCount(), 1u);
}

TEST(Mesh, VertexGroupRoundTripsAndMatchesBuilderVertices) {
    auto mb = QuadAndTriangle();
    mb->SetFaceColor(1, {1, 0, 0, 1});
    mb->SetName("skin");
    auto mesh = scene::Mesh::CreateFromBuilder(*mb);
    EXPECT_EQ(mesh->GetName(), "skin");
    ASSERT_EQ(mesh->GetVertexCount(), 5u);
    EXPECT_EQ(mesh->Indices().size(), 9u);

    std::vector<scene::VertexRecord> v(5);
    ASSERT_EQ(mesh->GetVertices(0, v), 5u);
    // Vertex i of the group is vertex i of the builder.
    EXPECT_EQ(v[4].position, glm::vec3(2, 0, 0));
    EXPECT_FLOAT_EQ(v[4].u, 1.0f);
    EXPECT_FLOAT_EQ(v[4].v, 0.0f);
    EXPECT_EQ(v[0].normal, glm::vec3(0, 0, -1));
    EXPECT_EQ(v[4].normal, glm::vec3(0, 0, 1));
    EXPECT_EQ(v[4].color, 0xFFFF0000u);
    EXPECT_EQ(v[0].color, 0xFFFFFFFFu);

    // Write moved positions, read them back unchanged; version changes on write only.
    const uint64_t version = mesh->Version();
    for (auto& r : v)
        r.position += glm::vec3(0.5f, -1.0f, 7.0f);
    ASSERT_TRUE(mesh->SetVertices(0, v));
    EXPECT_GT(mesh->Version(), version);
    std::vector<scene::VertexRecord> back(5);
    ASSERT_EQ(mesh->GetVertices(0, back), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(back[i].position, v[i].position);
        EXPECT_EQ(back[i].normal, v[i].normal);
        EXPECT_EQ(back[i].color, v[i].color);
    }
    // Partial ranges; writes past the end are refused whole.
    std::vector<scene::VertexRecord> two(2);
    EXPECT_EQ(mesh->GetVertices(4, two), 1u);
    EXPECT_EQ(mesh->GetVertices(5, two), 0u);
    EXPECT_FALSE(mesh->SetVertices(4, two));
    EXPECT_EQ(mesh->Vertices()[4].position, v[4].position);
    // The builder is untouched by writes to its mesh.
    EXPECT_EQ(mb->GetVertex(4), glm::vec3(2, 0, 0));
}

class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("tarnhold-scene-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

TEST(Texture, BmpLoadsThroughTheSearchPathAndBadFilesAreErrors) {
    TempDir dir;
    const auto textures = dir.Path() / "textures";
    std::filesystem::create_directories(textures);
    // A 3 x 2 picture: pure blue top-left, white elsewhere, written as a 24-bit BMP.
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 3, 2, 24, SDL_PIXELFORMAT_BGR24);
    ASSERT_NE(s, nullptr);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 255, 255, 255));
    SDL_Rect px{0, 0, 1, 1};
    SDL_FillRect(s, &px, SDL_MapRGB(s->format, 0, 0, 255));
    ASSERT_EQ(SDL_SaveBMP(s, (textures / "{glass.bmp").string().c_str()), 0);
    SDL_FreeSurface(s);

    scene::SearchPath path;
    path.SetFromList((dir.Path() / "none").string() + ";;" + textures.string());
    EXPECT_EQ(path.Folders().size(), 2u);
    scene::LoadStatus status;
    auto tex = scene::LoadTexture("{glass.bmp", &path, &status);
    ASSERT_NE(tex, nullptr) << status.error;
    EXPECT_TRUE(status.ok);
    EXPECT_EQ(tex->GetName(), "{glass.bmp");
    ASSERT_EQ(tex->Width(), 3);
    ASSERT_EQ(tex->Height(), 2);
    const auto& p = tex->GetImage().rgba;
    EXPECT_EQ((std::vector<uint8_t>{p[0], p[1], p[2], p[3]}),
              (std::vector<uint8_t>{0, 0, 255, 255}));
    EXPECT_EQ((std::vector<uint8_t>{p[4], p[5], p[6]}), (std::vector<uint8_t>{255, 255, 255}));
    // Names written with the original layout's backslashes resolve under each folder.
    scene::SearchPath top;
    top.AddFolder(dir.Path().string());
    EXPECT_NE(scene::LoadTexture("\\textures\\{glass.bmp", &top, nullptr), nullptr);

    // Decal properties.
    tex->SetDecalSize(0.5f, 0.5f);
    tex->SetDecalOrigin(8, 8);
    tex->SetDecalTransparency(true);
    tex->SetDecalTransparentColor(0x0000FF);
    EXPECT_EQ(tex->GetDecalOrigin(), glm::ivec2(8, 8));
    EXPECT_EQ(tex->GetDecalTransparentColor(), 0x0000FFu);

    // Missing file, a file that is not a BMP, garbage in memory: errors, never crashes.
    EXPECT_EQ(scene::LoadTexture("missing.bmp", &path, &status), nullptr);
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.error.find("missing.bmp"), std::string::npos);
    std::ofstream(textures / "bad.bmp") << "BM not really a picture";
    EXPECT_EQ(scene::LoadTexture("bad.bmp", &path, &status), nullptr);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.error.rfind((textures / "bad.bmp").string() + ": ", 0), 0u) << status.error;
    const std::vector<uint8_t> junk{'B', 'M', 0xFF, 0xFF, 0xFF, 0x7F, 0, 0};
    EXPECT_EQ(scene::LoadTextureFromMemory(junk, "junk", &status), nullptr);
    EXPECT_EQ(scene::LoadTextureFromMemory({}, "empty", &status), nullptr);

    // A header claiming 100000 x 100000 pixels in a 60-byte file is refused before any buffer
    // is sized from it; so is an uncompressed picture whose rows are cut short.
    std::vector<uint8_t> huge(60, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            huge[at + i] = uint8_t(v >> (8 * i));
    };
    huge[0] = 'B';
    huge[1] = 'M';
    put32(10, 54);
    put32(14, 40);
    put32(18, 100000);
    put32(22, 100000);
    huge[26] = 1;
    huge[28] = 24;
    EXPECT_EQ(scene::LoadTextureFromMemory(huge, "huge.bmp", &status), nullptr);
    EXPECT_NE(status.error.find("huge.bmp"), std::string::npos);
    put32(18, 4);
    put32(22, 4); // 4 rows of 12 bytes need 48 bytes after offset 54; the file has 6
    EXPECT_EQ(scene::LoadTextureFromMemory(huge, "short.bmp", &status), nullptr);
    EXPECT_FALSE(status.ok);
}

TEST(Viewport, FrontDistanceMagnifiesAndUnprojectInvertsProject) {
    auto root = scene::Frame::Create();
    auto cam = scene::Frame::Create(root);
    cam->SetPosition(root.get(), {0, 0, -10});
    cam->AddScale(scene::Combine::Before, 0.4f, 0.4f, 0.4f); // the camera's scale is ignored
    scene::ViewportParams vp;
    vp.camera = cam;
    vp.width = 800;
    vp.height = 600;
    vp.field = 0.5f;
    vp.front = 1.0f;
    vp.back = 5000.0f;
    EXPECT_FLOAT_EQ(vp.HalfAngleY(), std::atan(0.5f));

    const glm::vec3 centre = vp.Project({0, 0, 0});
    EXPECT_NEAR(centre.x, 400.0f, 1e-3f);
    EXPECT_NEAR(centre.y, 300.0f, 1e-3f);
    const glm::vec3 p1 = vp.Project({0.1f, 0.1f, 0}); // up-right of the centre
    EXPECT_GT(p1.x, 400.0f) << "+x is right";
    EXPECT_LT(p1.y, 300.0f) << "+y is up (window y grows downwards)";
    // Half-height at distance 10 is 10 * field / front = 5 units: y = 5 reaches the top edge.
    EXPECT_NEAR(vp.Project({0, 5, 0}).y, 0.0f, 1e-2f);

    vp.front = 6.0f;
    const glm::vec3 p6 = vp.Project({0.1f, 0.1f, 0});
    EXPECT_NEAR(p6.x - 400.0f, 6.0f * (p1.x - 400.0f), 1e-2f);
    EXPECT_NEAR(300.0f - p6.y, 6.0f * (300.0f - p1.y), 1e-2f);

    const scene::Ray ray = vp.Unproject(p6.x, p6.y);
    const glm::vec3 target = glm::vec3(0.1f, 0.1f, 0) - ray.origin;
    EXPECT_NEAR(glm::length(glm::cross(glm::normalize(target), ray.direction)), 0.0f, 1e-4f);
    EXPECT_NEAR(ray.origin.z, -10.0f, 1e-5f);
    EXPECT_LT(vp.Project({0, 0, -20}).z, 0.0f) << "behind the camera is not visible";
}

} // namespace
