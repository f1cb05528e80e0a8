// .x loading: coordinates and winding exactly as written, quads kept, materials and texture
// names per face through the callback, the frame hierarchy, errors on bad files.
#include "platform/scene/scene.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

using scene::Frame;
using scene::MeshBuilder;

// Two materials (the red one declared globally and referenced, the blue one inline) and a
// frame hierarchy Top (translated by 10, 20, 30) > Child (translated by 0, 0, 5) > mesh "Quad":
// face 0 is a quad (blue), face 1 a triangle (red), both written clockwise.
constexpr const char* kTwoMaterials = R"(xof 0303txt 0032

Material Red {
 1.0;0.0;0.0;1.0;;
 8.0;
 0.5;0.5;0.5;;
 0.25;0.0;0.0;;
 TextureFilename { "red.bmp"; }
}

Frame Top {
 FrameTransformMatrix {
  1.0,0.0,0.0,0.0,
  0.0,1.0,0.0,0.0,
  0.0,0.0,1.0,0.0,
  10.0,20.0,30.0,1.0;;
 }
 Frame Child {
  FrameTransformMatrix {
   1.0,0.0,0.0,0.0,
   0.0,1.0,0.0,0.0,
   0.0,0.0,1.0,0.0,
   0.0,0.0,5.0,1.0;;
  }
  Mesh Quad {
   5;
   1.0;2.0;3.0;,
   4.0;2.0;3.0;,
   4.0;6.0;3.0;,
   1.0;6.0;3.0;,
   9.0;9.0;9.0;;
   2;
   4;0,1,2,3;,
   3;0,2,4;;
   MeshNormals {
    1;
    0.0;0.0;-1.0;;
    2;
    4;0,0,0,0;,
    3;0,0,0;;
   }
   MeshTextureCoords {
    5;
    0.0;0.25;,
    1.0;0.0;,
    1.0;1.0;,
    0.0;1.0;,
    0.5;0.5;;
   }
   MeshMaterialList {
    2;
    2;
    1,
    0;;
    {Red}
    Material Blue {
     0.0;0.0;1.0;1.0;;
     4.0;
     0.0;0.0;0.0;;
     0.0;0.0;0.0;;
     TextureFilename { "blue.bmp"; }
    }
   }
  }
 }
}
)";

// A compressed text file (MSZIP) whose one mesh's material list declares two materials and
// holds none: the importer follows the missing material and crashes.
constexpr uint8_t kImporterCrash[] = {
    0x78, 0x6f, 0x66, 0x20, 0x30, 0x33, 0x30, 0x33, 0x74, 0x7a, 0x69, 0x70, 0x30, 0x30, 0x33,
    0x32, 0x83, 0x00, 0x00, 0x00, 0x73, 0x00, 0x4b, 0x00, 0x43, 0x4b, 0xe3, 0xf2, 0x4d, 0x2d,
    0xce, 0x50, 0x08, 0x54, 0xa8, 0xe6, 0x52, 0x30, 0xb6, 0xe6, 0x52, 0x30, 0xd0, 0x33, 0xb0,
    0x86, 0x61, 0x1d, 0x2e, 0x05, 0x43, 0x54, 0x2e, 0x88, 0x82, 0x09, 0x01, 0x15, 0x1b, 0x5a,
    0x83, 0x34, 0x19, 0xe8, 0x18, 0xea, 0x18, 0x81, 0xb8, 0x20, 0x93, 0x7c, 0x13, 0x4b, 0x52,
    0x8b, 0x32, 0x13, 0x73, 0x7c, 0x32, 0x8b, 0x4b, 0x40, 0x66, 0x2a, 0x18, 0x01, 0x25, 0xc0,
    0x0a, 0x15, 0xc0, 0x5a, 0x6a, 0xb9, 0x6a, 0xb9, 0x00};

class XFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tarnhold-scene-x-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "two.x") << kTwoMaterials;
        path_.AddFolder(dir_.string());
        red_ = scene::Texture::CreateFromImage({}, "red");
        callback_ = [this](const std::string& name) -> std::shared_ptr<scene::Texture> {
            names_.push_back(name);
            return name == "red.bmp" ? red_ : nullptr; // no texture for blue
        };
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // The face whose corners are the given positions, in this order (up to rotation).
    static const scene::Face* FindFace(const MeshBuilder& mb, std::vector<glm::vec3> corners) {
        for (const scene::Face& f : mb.Faces()) {
            if (f.vertices.size() != corners.size()) continue;
            for (size_t start = 0; start < corners.size(); ++start) {
                bool same = true;
                for (size_t k = 0; k < corners.size() && same; ++k)
                    same = mb.GetVertex(f.vertices[(start + k) % corners.size()]) == corners[k];
                if (same) return &f;
            }
        }
        return nullptr;
    }

    std::filesystem::path dir_;
    scene::SearchPath path_;
    std::shared_ptr<scene::Texture> red_;
    std::vector<std::string> names_;
    scene::TextureCallback callback_;
};

TEST_F(XFile, FrameHierarchyKeepsWrittenCoordinatesWindingAndMaterials) {
    auto parent = Frame::Create();
    std::shared_ptr<Frame> loaded;
    const scene::LoadStatus status =
        scene::LoadXAsFrames(*parent, "two.x", &path_, callback_, &loaded);
    ASSERT_TRUE(status.ok) << status.error;
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->GetParent(), parent);
    EXPECT_EQ(loaded->GetName(), "Top");
    EXPECT_EQ(loaded->GetPosition(nullptr), glm::vec3(10, 20, 30));
    auto child = loaded->FindByName("Child");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->GetPosition(nullptr), glm::vec3(0, 0, 5));

    // Each texture name is reported once; the callback's textures are what the faces use.
    std::vector<std::string> sorted = names_;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"blue.bmp", "red.bmp"}));

    ASSERT_EQ(child->GetVisualCount(), 1u);
    ASSERT_EQ(child->Visuals()[0]->Kind(), scene::VisualKind::MeshBuilder);
    const auto& mb = static_cast<const MeshBuilder&>(*child->Visuals()[0]);
    // Welded back to the five written vertices, at exactly the written coordinates.
    ASSERT_EQ(mb.GetVertexCount(), 5u);
    ASSERT_EQ(mb.GetFaceCount(), 2u);
    const scene::Face* quad = FindFace(mb, {{1, 2, 3}, {4, 2, 3}, {4, 6, 3}, {1, 6, 3}});
    const scene::Face* tri = FindFace(mb, {{1, 2, 3}, {4, 6, 3}, {9, 9, 9}});
    ASSERT_NE(quad, nullptr) << "the quad stays one four-corner face, in its written order";
    ASSERT_NE(tri, nullptr) << "the triangle keeps its written winding";
    // Faces keep the file's numbering although their materials are listed the other way round.
    EXPECT_EQ(quad, &mb.GetFace(0));
    EXPECT_EQ(tri, &mb.GetFace(1));

    // Materials per face: the quad is blue (no texture), the triangle red with the callback's
    // texture and the material's terms.
    EXPECT_EQ(quad->color, glm::vec4(0, 0, 1, 1));
    EXPECT_EQ(quad->texture, nullptr);
    EXPECT_EQ(tri->color, glm::vec4(1, 0, 0, 1));
    EXPECT_EQ(tri->texture, red_);
    ASSERT_NE(tri->material, nullptr);
    EXPECT_FLOAT_EQ(tri->material->power, 8.0f);
    EXPECT_EQ(tri->material->specular, glm::vec3(0.5f));
    EXPECT_EQ(tri->material->emissive, glm::vec3(0.25f, 0, 0));
    // Normals and texture coordinates as written (v not flipped).
    EXPECT_EQ(mb.GetNormal(quad->normals[0]), glm::vec3(0, 0, -1));
    for (size_t k = 0; k < 4; ++k) {
        if (mb.GetVertex(quad->vertices[k]) == glm::vec3(1, 2, 3)) {
            EXPECT_EQ(mb.GetTextureCoordinates(quad->vertices[k]), glm::vec2(0.0f, 0.25f));
        }
    }
}

TEST_F(XFile, MergedMeshBuilderCarriesNodeTransformsAndBadFilesFailCleanly) {
    auto mb = MeshBuilder::Create();
    const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(*mb, "two.x", &path_, callback_);
    ASSERT_TRUE(status.ok) << status.error;
    EXPECT_EQ(names_.size(), 2u);
    ASSERT_EQ(mb->GetFaceCount(), 2u);
    // (1, 2, 3) under Child (0, 0, 5) under Top (10, 20, 30).
    EXPECT_EQ(FindFace(*mb, {{11, 22, 38}, {14, 22, 38}, {14, 26, 38}, {11, 26, 38}}),
              &mb->GetFace(0));
    EXPECT_EQ(FindFace(*mb, {{11, 22, 38}, {14, 26, 38}, {19, 29, 44}}), &mb->GetFace(1));
    const scene::Box box = mb->GetBox();
    EXPECT_EQ(box.min, glm::vec3(11, 22, 38));
    EXPECT_EQ(box.max, glm::vec3(19, 29, 44));

    // Missing, truncated and garbage files are errors that leave the target untouched.
    const size_t vertices = mb->GetVertexCount();
    scene::LoadStatus missing = scene::LoadXIntoMeshBuilder(*mb, "nothere.x", &path_, callback_);
    EXPECT_FALSE(missing.ok);
    // Errors name where the file was looked for, or the full path of the file found.
    EXPECT_EQ(missing.error, "nothere.x: file not found (looked in " + dir_.string() + ")");
    const std::string text(kTwoMaterials);
    std::ofstream(dir_ / "cut.x") << text.substr(0, text.size() / 2);
    const scene::LoadStatus cut = scene::LoadXIntoMeshBuilder(*mb, "cut.x", &path_, callback_);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.error.rfind((dir_ / "cut.x").string() + ": ", 0), 0u) << cut.error;
    const std::vector<uint8_t> junk{'x', 'o', 'f', ' ', '0', '3',  '0',  '3',  'b',  'i', 'n',
                                    ' ', '0', '0', '3', '2', 0xFF, 0xFF, 0xFF, 0xFF, 1,   2};
    EXPECT_FALSE(scene::LoadXIntoMeshBuilderFromMemory(*mb, junk, callback_).ok);
    EXPECT_EQ(mb->GetVertexCount(), vertices);
    auto parent = Frame::Create();
    EXPECT_FALSE(scene::LoadXAsFramesFromMemory(*parent, junk, callback_).ok);
    EXPECT_EQ(parent->GetChildCount(), 0u);

    // A material list that declares more materials than it holds is refused (the importer
    // would follow a missing material); template declarations of the same name are not data.
    auto asBytes = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    const std::string mesh = "Mesh Q { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;;"
                             " MeshMaterialList { %M; 1; 0;; %B } }";
    auto withList = [&](const char* count, const char* body) {
        std::string s = "xof 0303txt 0032\n"
                        "template MeshMaterialList { <F6F23F42-7686-11cf-8F52-0040333594A3>"
                        " DWORD nMaterials; DWORD nFaceIndexes;"
                        " array DWORD faceIndexes[nFaceIndexes]; [Material] }\n" +
                        mesh;
        s.replace(s.find("%M"), 2, count);
        s.replace(s.find("%B"), 2, body);
        return asBytes(s);
    };
    const char* material = "Material M { 1.0;1.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }";
    auto ok = MeshBuilder::Create();
    const scene::LoadStatus good =
        scene::LoadXIntoMeshBuilderFromMemory(*ok, withList("1", material), callback_);
    EXPECT_TRUE(good.ok) << good.error;
    EXPECT_EQ(ok->GetFaceCount(), 1u);
    const scene::LoadStatus bad =
        scene::LoadXIntoMeshBuilderFromMemory(*mb, withList("2", ""), callback_);
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.error.find("material"), std::string::npos);
    EXPECT_FALSE(scene::LoadXIntoMeshBuilderFromMemory(*mb, withList("1", ""), callback_).ok);
    EXPECT_EQ(mb->GetVertexCount(), vertices);

    // A file that crashes the importer is a bad file, not the end of the program.
    const std::vector<uint8_t> crash(std::begin(kImporterCrash), std::end(kImporterCrash));
    std::ofstream(dir_ / "crash.x", std::ios::binary)
        .write(reinterpret_cast<const char*>(crash.data()), std::streamsize(crash.size()));
    const scene::LoadStatus crashed = scene::LoadXAsFrames(*parent, "crash.x", &path_, callback_);
    EXPECT_FALSE(crashed.ok);
    EXPECT_EQ(crashed.error.rfind((dir_ / "crash.x").string() + ": bad .x file", 0), 0u)
        << crashed.error;
    EXPECT_EQ(parent->GetChildCount(), 0u);
}

} // namespace

namespace {

// Faces of one mesh whose materials alternate (0, 1, 0, 1, 1, 0): the importer groups them by
// material; the builder must still number them as the file does, so that a face deleted by
// index is the one the map's author meant.
TEST(XFileOrder, InterleavedMaterialsKeepTheFileFaceNumbering) {
    std::string x = "xof 0303txt 0032\nFrame A {\n Mesh M {\n  12;\n";
    for (int f = 0; f < 6; ++f)
        x += "  " + std::to_string(f) + ".0;0.0;0.0;,\n  " + std::to_string(f) + ".0;1.0;0.0;,\n";
    x.replace(x.size() - 2, 2, ";\n");
    x += "  6;\n";
    // Face f: a triangle for even f, a quad-like triangle fan for odd f; corner counts differ
    // so the order is visible.
    for (int f = 0; f < 6; ++f) {
        const int a = 2 * f, b = 2 * f + 1, c = (2 * f + 2) % 12;
        x += f % 2 == 0 ? "  3;" + std::to_string(a) + "," + std::to_string(b) + "," +
                              std::to_string(c) + ";"
                        : "  4;" + std::to_string(a) + "," + std::to_string(b) + "," +
                              std::to_string(c) + "," + std::to_string((c + 1) % 12) + ";";
        x += f == 5 ? ";\n" : ",\n";
    }
    x += "  MeshMaterialList { 2; 6; 0, 1, 0, 1, 1, 0;;\n"
         "   Material R { 1.0;0.0;0.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n"
         "   Material G { 0.0;1.0;0.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n"
         "  }\n }\n}\n";
    const std::vector<uint8_t> bytes(x.begin(), x.end());
    auto mb = MeshBuilder::Create();
    const scene::LoadStatus status = scene::LoadXIntoMeshBuilderFromMemory(*mb, bytes, nullptr);
    ASSERT_TRUE(status.ok) << status.error;
    ASSERT_EQ(mb->GetFaceCount(), 6u);
    const int materialOf[6] = {0, 1, 0, 1, 1, 0};
    for (size_t f = 0; f < 6; ++f) {
        const scene::Face& face = mb->GetFace(f);
        EXPECT_FLOAT_EQ(face.color.r, materialOf[f] == 0 ? 1.0f : 0.0f) << "face " << f;
        EXPECT_EQ(mb->GetVertex(face.vertices[0]), glm::vec3(float(f), 0, 0)) << "face " << f;
        EXPECT_EQ(face.vertices.size(), f % 2 == 0 ? 3u : 4u) << "face " << f;
    }
}

} // namespace
