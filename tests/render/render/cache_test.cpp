// tests/render/render/cache_test.cpp — GPU copies follow scene edits (mesh builders, skinned
// meshes, textures), dead visuals are freed, mesh builders are grouped by texture and
// material, and PNG screenshots decode to the drawn pixels.
#include "platform/render/render_local.h"
#include "tests/render/render/render_fixture.h"

#include <fstream>
#include <iterator>

namespace rendertest {

namespace {

std::shared_ptr<scene::Frame> AddAt(TestScene& s, const std::shared_ptr<scene::Visual>& v,
                                    const glm::vec3& p) {
    auto f = scene::Frame::Create(s.root);
    f->SetPosition(nullptr, p);
    f->AddVisual(v);
    return f;
}

uint32_t ReadBe32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) |
           uint32_t(b[at + 3]);
}

uint32_t Crc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

} // namespace

// A skinned mesh re-uploads only the records written since the last frame; an unchanged mesh
// uploads nothing; a mesh builder edit rebuilds its buffers and shows on screen.
TEST_F(RenderTest, WrittenVerticesAreUploadedAndShown) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    auto builder = MakeCube(1.0f, nullptr);
    auto mesh = scene::Mesh::CreateFromBuilder(*builder);
    auto meshFrame = AddAt(s, mesh, {0, 0, 8});

    const Coverage first = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    EXPECT_EQ(renderer->LastStats().meshUploads, 1u);
    EXPECT_GT(first.count, 500);
    Draw(*s.root, s.viewport);
    EXPECT_EQ(renderer->LastStats().meshUploads, 0u);
    EXPECT_EQ(renderer->LastStats().uploadedBytes, 0u);

    // Skinning writes the whole group each frame but moves only the front face (its first
    // four records) 1.5 units to the right.
    std::vector<scene::VertexRecord> group(mesh->GetVertexCount());
    ASSERT_EQ(mesh->GetVertices(0, group), group.size());
    for (size_t i = 0; i < 4; ++i)
        group[i].position.x += 1.5f;
    ASSERT_TRUE(mesh->SetVertices(0, group));
    const Coverage moved = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    EXPECT_EQ(renderer->LastStats().meshUploads, 1u);
    EXPECT_EQ(renderer->LastStats().uploadedBytes, 4 * sizeof(scene::VertexRecord));
    EXPECT_GT(moved.maxX, first.maxX + 20);
    // Writing the same values again sends nothing.
    ASSERT_TRUE(mesh->SetVertices(0, group));
    Draw(*s.root, s.viewport);
    EXPECT_EQ(renderer->LastStats().uploadedBytes, 0u);

    // A mesh builder grown twice as large is drawn twice as large.
    s.root->DeleteChild(*meshFrame);
    AddAt(s, builder, {0, 0, 8});
    const Coverage small = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    builder->ScaleMesh(2.0f, 2.0f, 2.0f);
    const Coverage big = Measure(Draw(*s.root, s.viewport), {0, 0, 0});
    EXPECT_EQ(renderer->LastStats().meshUploads, 1u);
    EXPECT_GT(big.Height(), small.Height() * 3 / 2);
}

// A texture's pixels and colour key are re-sent when they change; copies of visuals that no
// longer exist are freed.
TEST_F(RenderTest, TexturesFollowEditsAndDeadCopiesAreFreed) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(1.0f)));
    auto texture = scene::Texture::CreateFromImage(Checker(1, 4, {255, 0, 0}, {255, 0, 0}), "t");
    auto frame = AddAt(s, MakeCube(1.0f, texture), {0, 0, 5});
    const glm::ivec2 centre(kWidth / 2, kHeight / 2);
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), centre.x, centre.y), {255, 0, 0}));
    EXPECT_EQ(renderer->LastStats().textureUploads, 1u);
    texture->SetImage(Checker(1, 4, {0, 255, 0}, {0, 255, 0}));
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), centre.x, centre.y), {0, 255, 0}));
    EXPECT_EQ(renderer->LastStats().textureUploads, 1u);
    // Turning the colour key on later (as a texture callback does) takes effect.
    texture->SetDecalTransparentColor(0x00FF00);
    texture->SetDecalTransparency(true);
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), centre.x, centre.y), {0, 0, 0}));
    Draw(*s.root, s.viewport);
    EXPECT_EQ(renderer->LastStats().textureUploads, 0u);

    EXPECT_EQ(renderer->CachedMeshCount(), 1u);
    EXPECT_EQ(renderer->CachedTextureCount(), 1u);
    frame->DeleteAllVisuals();
    texture.reset();
    renderer->ReleaseUnused();
    EXPECT_EQ(renderer->CachedMeshCount(), 0u);
    EXPECT_EQ(renderer->CachedTextureCount(), 0u);

    // A new builder created where the old one lived is not mistaken for it.
    auto replacement = MakeCube(1.0f, nullptr);
    replacement->SetColorRGB(0.0f, 0.0f, 1.0f);
    frame->AddVisual(replacement);
    EXPECT_TRUE(Near(PixelAt(Draw(*s.root, s.viewport), centre.x, centre.y), {0, 0, 255}));
}

// Faces are grouped by (texture, material) for drawing; quads become two triangles and
// corners shared by faces of one colour share a vertex.
TEST(RenderGeometry, BuilderFacesAreGroupedByTextureAndMaterial) {
    auto a = scene::Texture::CreateFromImage(Checker(1, 1, {1, 1, 1}, {1, 1, 1}), "a");
    auto b = scene::Texture::CreateFromImage(Checker(1, 1, {1, 1, 1}, {1, 1, 1}), "b");
    auto shiny = scene::Material::Create(8.0f);
    auto cube = MakeCube(1.0f, a);
    cube->SetFaceTexture(1, b);
    cube->SetFaceTexture(3, b);
    cube->SetFaceMaterial(5, shiny);
    std::vector<scene::VertexRecord> vertices;
    std::vector<uint32_t> indices;
    std::vector<render::DrawGroup> groups;
    render::BuildBuilderGeometry(*cube, vertices, indices, groups);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].texture, a);
    EXPECT_EQ(groups[0].count, 3u * 2 * 3); // faces 0, 2, 4
    EXPECT_EQ(groups[1].texture, b);
    EXPECT_EQ(groups[1].count, 2u * 2 * 3); // faces 1, 3
    EXPECT_EQ(groups[2].material, shiny);
    EXPECT_EQ(groups[2].count, 1u * 2 * 3); // face 5
    EXPECT_EQ(indices.size(), 36u);
    EXPECT_EQ(vertices.size(), 24u);
    for (const auto& g : groups)
        EXPECT_LE(g.first + g.count, indices.size());
    // Face 0 (front, normal -z): its triangles keep the clockwise corner order.
    const glm::vec3 p0 = vertices[indices[0]].position, p1 = vertices[indices[1]].position,
                    p2 = vertices[indices[2]].position;
    EXPECT_LT(glm::cross(p1 - p0, p2 - p0).z, 0.0f);

    // A pentagon fans into three triangles; a corner with an out-of-range normal list is
    // never produced by the builder, so every index stays inside the vertex list.
    auto poly = scene::MeshBuilder::Create();
    const glm::vec3 pts[5] = {{0, 1, 0}, {1, 0, 0}, {0.5f, -1, 0}, {-0.5f, -1, 0}, {-1, 0, 0}};
    std::vector<int32_t> faceData = {5, 0, 1, 2, 3, 4, 0};
    ASSERT_TRUE(poly->AddFaces(pts, {}, faceData));
    render::BuildBuilderGeometry(*poly, vertices, indices, groups);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(indices.size(), 9u);
    for (uint32_t i : indices)
        EXPECT_LT(i, vertices.size());
}

// A PNG screenshot is a valid PNG (chunks with correct CRCs, stored zlib stream with a
// correct checksum) whose pixels are the back buffer's.
TEST_F(RenderTest, PngScreenshotDecodesToTheBackBuffer) {
    TestScene s;
    s.root->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(0.7f)));
    AddAt(s,
          MakeCube(1.0f, scene::Texture::CreateFromImage(
                             Checker(4, 4, {255, 128, 0}, {0, 128, 255}), "c")),
          {0, 0, 4});
    const scene::Image img = Draw(*s.root, s.viewport);
    const std::string path = ShotPath("png_check.png");
    std::string error;
    ASSERT_TRUE(renderer->Screenshot(path, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    const uint8_t sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GT(file.size(), 8u);
    ASSERT_TRUE(std::equal(sig, sig + 8, file.begin()));
    std::vector<uint8_t> zlib;
    size_t at = 8;
    bool ended = false;
    while (at + 12 <= file.size() && !ended) {
        const uint32_t len = ReadBe32(file, at);
        ASSERT_LE(at + 12 + len, file.size());
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        EXPECT_EQ(ReadBe32(file, at + 8 + len), Crc(&file[at + 4], len + 4)) << type;
        if (type == "IHDR") {
            EXPECT_EQ(ReadBe32(file, at + 8), uint32_t(kWidth));
            EXPECT_EQ(ReadBe32(file, at + 12), uint32_t(kHeight));
            EXPECT_EQ(file[at + 16], 8);
            EXPECT_EQ(file[at + 17], 6);
        }
        if (type == "IDAT")
            zlib.insert(zlib.end(), file.begin() + at + 8, file.begin() + at + 8 + len);
        ended = type == "IEND";
        at += 12 + len;
    }
    ASSERT_TRUE(ended);
    ASSERT_GT(zlib.size(), 6u);
    std::vector<uint8_t> raw;
    size_t z = 2;
    for (bool last = false; !last;) {
        ASSERT_LT(z + 5, zlib.size());
        last = zlib[z] & 1;
        ASSERT_EQ(zlib[z] & 6, 0) << "stored blocks";
        const size_t n = zlib[z + 1] | (zlib[z + 2] << 8);
        ASSERT_EQ(n ^ 0xFFFF, size_t(zlib[z + 3] | (zlib[z + 4] << 8)));
        ASSERT_LE(z + 5 + n, zlib.size());
        raw.insert(raw.end(), zlib.begin() + z + 5, zlib.begin() + z + 5 + n);
        z += 5 + n;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(ReadBe32(zlib, z), (b << 16) | a);
    ASSERT_EQ(raw.size(), size_t(kHeight) * (kWidth * 4 + 1));
    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* row = &raw[size_t(y) * (kWidth * 4 + 1)];
        EXPECT_EQ(row[0], 0);
        mismatches +=
            !std::equal(row + 1, row + 1 + kWidth * 4, img.rgba.begin() + size_t(y) * kWidth * 4);
    }
    EXPECT_EQ(mismatches, 0);

    // An empty picture or an unwritable path fails with a reason.
    EXPECT_FALSE(render::WriteImage(scene::Image{}, ShotPath("empty.png"), &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(render::WriteImage(img, ShotPath("no/such/dir/x.bmp"), &error));
    EXPECT_FALSE(error.empty());
}

} // namespace rendertest
