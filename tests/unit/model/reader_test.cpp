// QC and SMD readers on small files written by the tests.
#include "model/mdl.h"
#include "tests/unit/model/model_files.h"

#include <gtest/gtest.h>

#include <random>

using model::MDL;
using model::ModelError;
using modeltest::ModelDir;

namespace {

// Two bones: "root" at the origin and "arm" 10 units up the file's z axis.
constexpr const char* kTwoBoneNodes = "version 1\n"
                                      "nodes\n"
                                      "0 \"root\" -1\n"
                                      "1 \"arm\" 0\n"
                                      "end\n"
                                      "skeleton\n"
                                      "time 0\n"
                                      "0 0 0 0 0 0 0\n"
                                      "1 0 0 10 0 0 0\n"
                                      "end\n";

std::string Qc(const std::string& body) {
    return "$bodygroup body\n{\nstudio \"ref\"\n}\n" + body;
}

std::unique_ptr<MDL> LoadModel(const ModelDir& dir, bool multiMesh = false, bool boite = false,
                               const std::string& sep = ".") {
    auto m = std::make_unique<MDL>();
    m->MultiMesh = multiMesh;
    m->Boite = boite;
    m->settings.decimalSeparator = sep;
    m->Load(nullptr, "test.qc", dir.Path(), false);
    return m;
}

// Loads and returns the error, failing the test when loading succeeds.
ModelError LoadError(const ModelDir& dir, const std::string& qc = "test.qc", bool weapon = false) {
    MDL m;
    try {
        m.Load(nullptr, qc, dir.Path(), weapon);
    } catch (const ModelError& e) {
        return e;
    }
    ADD_FAILURE() << "loading succeeded";
    return ModelError("", 0, "");
}

} // namespace

TEST(Qc, HitBoxFieldPositionsAndAxisExchange) {
    ModelDir dir;
    dir.Write("test.qc", "$hbox 0 \"Bip01 Head\" -1.0 -2.0 -3.0  4.0 5.0 6.0\n"
                         "// $hbox 1 \"in-comment\" 1 2 3  4 5 6\n"
                         "$hbox 2 \"$sequence\" 1 2 3  4 5 6\n"
                         "$hbox 3 \"one space\" 1.5 2 3 -4.5 5 6\n");
    MDL m;
    m.settings.decimalSeparator = ","; // a "." in the file still reads as a decimal point
    m.Load(nullptr, "test.qc", dir.Path(), false);
    const auto& boxes = m.GetHitBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].Name, "Bip01_Head");
    EXPECT_FLOAT_EQ(boxes[0].MinX, -2);
    EXPECT_FLOAT_EQ(boxes[0].MinY, -1);
    EXPECT_FLOAT_EQ(boxes[0].MinZ, -3);
    EXPECT_FLOAT_EQ(boxes[0].MaxX, 5);
    EXPECT_FLOAT_EQ(boxes[0].MaxY, 4);
    EXPECT_FLOAT_EQ(boxes[0].MaxZ, 6);
    EXPECT_EQ(boxes[1].Name, "inDcomment"); // "$hbox" anywhere in a line counts
    EXPECT_EQ(boxes[2].Name, "$sequence");  // a hit box before a sequence
    EXPECT_EQ(m.NbAni, 0);
    // A single space before the fourth number: the number is read whole, sign included.
    EXPECT_EQ(boxes[3].Name, "one_space");
    EXPECT_FLOAT_EQ(boxes[3].MinY, 1.5f);
    EXPECT_FLOAT_EQ(boxes[3].MaxY, -4.5f);
    EXPECT_FLOAT_EQ(boxes[3].MaxZ, 6);
    // Without a body group there is no skeleton; Mere still gets its two quarter turns: its z
    // axis (the files' up) is the scene's up, its x axis the scene's -z.
    const glm::mat4 mere = m.Mere->GetTransform(m.sol.get());
    const glm::vec3 up = glm::vec3(mere * glm::vec4(0, 0, 1, 0));
    const glm::vec3 x = glm::vec3(mere * glm::vec4(1, 0, 0, 0));
    EXPECT_NEAR(glm::distance(up, glm::vec3(0, 1, 0)), 0, 1e-5);
    EXPECT_NEAR(glm::distance(x, glm::vec3(0, 0, -1)), 0, 1e-5);
}

TEST(Qc, BodyGroupReadsUntilAnExactBraceLine) {
    ModelDir dir;
    dir.WriteBmp("skin.bmp");
    dir.Write("ref.smd", std::string(kTwoBoneNodes) + "triangles\nskin.bmp\n"
                                                      "0 1 2 3 0 0 1 0 0\n"
                                                      "0 2 2 3 0 0 1 1 0\n"
                                                      "1 1 0 10 0 0 1 0 1\n"
                                                      "end\n");
    dir.Write("second.smd", std::string(kTwoBoneNodes) + "triangles\nskin.bmp\n"
                                                         "1 1 2 3 0 0 1 0 0\n"
                                                         "1 2 2 3 0 0 1 1 0\n"
                                                         "1 1 0 10 0 0 1 0 1\n"
                                                         "end\n");
    // "  }" is not the end of the block; the studio line after it is read too.
    dir.Write("test.qc", "$bodygroup body\n{\nstudio \"ref\"\n  }\n\tstudio \"second\"\n}\n");
    auto m = LoadModel(dir);
    EXPECT_EQ(m->GetSkinGroupCount(), 2);
    EXPECT_EQ(m->GetBoneCount(), 2); // the second file's nodes are not bones again
    EXPECT_EQ(m->GetModelDir(), dir.Path() + "/");

    // A block that never closes is an error naming the QC file.
    dir.Write("test.qc", "$bodygroup body\n{\nstudio \"ref\"\n");
    const ModelError e = LoadError(dir);
    EXPECT_NE(e.File().find("test.qc"), std::string::npos);
    EXPECT_EQ(e.Line(), 4);
}

TEST(Smd, SkeletonPoseNamesAndSpecialBones) {
    ModelDir dir;
    dir.Write("ref.smd", "nodes\n"
                         "0 \"Bip01\" -1\n"
                         "1 \"Bip01 Spine\" 0\n"
                         "2 \"Bip01 R-Hand\" 1\n"
                         "3 \"Bip01 R Hand\" 1\n"
                         "4 \"Bip01 Head\" 1\n"
                         "end\n"
                         "time 0\n"
                         "3 1.5 2 3 0 0 0\n"
                         "end\n");
    dir.Write("test.qc", Qc(""));
    auto m = LoadModel(dir, false, false, ",");
    ASSERT_EQ(m->GetBoneCount(), 5);
    EXPECT_EQ(m->GetBones()[2]->GetName(), "Bip01_RDHand");
    EXPECT_EQ(m->Main, m->GetBones()[3]);
    EXPECT_EQ(m->tete, m->GetBones()[4]);
    EXPECT_EQ(m->GetSpineFrame(0), m->GetBones()[1]);
    EXPECT_EQ(m->GetSpineFrame(1), nullptr);
    EXPECT_EQ(m->GetBones()[0]->GetParent(), m->Mere);
    EXPECT_EQ(m->GetBones()[3]->GetParent(), m->GetBones()[1]);
    EXPECT_EQ(m->GetBones()[3]->GetAppData(), 4u);
    EXPECT_EQ(m->GetBoneParents()[3], 1);
    // Pose positions exchange the file's x and y.
    const glm::vec3 p = m->GetBones()[3]->GetPosition(nullptr);
    EXPECT_FLOAT_EQ(p.x, 2);
    EXPECT_FLOAT_EQ(p.y, 1.5f);
    EXPECT_FLOAT_EQ(p.z, 3);
    EXPECT_EQ(m->ChercheFrames("Bip01_Head"), m->tete);
    EXPECT_EQ(m->ChercheFrames("bip01_head"), nullptr);
}

// Data lines written with doubled blanks and tabs, as exporters and hands write them, and vertex
// lines with weight links: the vertex rides its heaviest link, or its own bone without links.
TEST(Smd, BlankSeparatedFieldsAndVerticesOnTheirHeaviestLink) {
    ModelDir dir;
    dir.WriteBmp("skin.bmp");
    dir.Write("ref.smd", "version 1\n"
                         "nodes\n"
                         "0 \"root\" -1\n"
                         "1 \"arm\"\t0\n"
                         "end\n"
                         "skeleton\n"
                         "time 0\n"
                         "0 0 0 0 0 0 0\n"
                         "  1  0\t0 10  0 0\t0 \n"
                         "end\n"
                         "triangles\n"
                         "skin.bmp\n"
                         "0 -1 2 13 0 0 1 0 0 0\n"
                         "0\t-3 4 15 0 0 1 1 0  1 1 1.0\n"
                         "1 -5 6 17 0 0 1 0 1 2 0 0.75 1 0.25\n"
                         "end\n");
    dir.Write("idle.smd", "nodes\n0 \"root\" -1\n1 \"arm\" 0\nend\n"
                          "time\t0\n1\t0  0 12 0 0 0\nend\n");
    dir.Write("test.qc", Qc("$sequence \"idle\"\n"));
    auto m = LoadModel(dir);
    ASSERT_EQ(m->GetBoneCount(), 2);
    EXPECT_EQ(m->GetBoneParents()[1], 0);
    EXPECT_EQ(m->GetBones()[1]->GetPosition(nullptr), glm::vec3(0, 0, 10));

    // Vertices are added third, second, first. File (x, y, z) is (y, -x, z) in the model; the
    // arm stands 10 up the z axis.
    ASSERT_EQ(m->GetSkinGroupCount(), 1);
    const model::SkinGroup& g = m->GetSkinGroups()[0];
    ASSERT_EQ(g.Links.size(), 2u);
    // The third vertex's own bone is the arm, but its heavier link is the root; the first has a
    // link count of 0 and rides its own bone, the root.
    EXPECT_EQ(g.Links[0].Frame, m->GetBones()[0]);
    EXPECT_EQ(g.Links[0].VertexIndices, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(g.Links[0].LocalPositions,
              (std::vector<glm::vec3>{glm::vec3(6, 5, 17), glm::vec3(2, 1, 13)}));
    // The second vertex's own bone is the root; its one link puts it on the arm.
    EXPECT_EQ(g.Links[1].Frame, m->GetBones()[1]);
    EXPECT_EQ(g.Links[1].VertexIndices, (std::vector<int32_t>{1}));
    EXPECT_EQ(g.Links[1].LocalPositions, (std::vector<glm::vec3>{glm::vec3(4, 3, 5)}));

    // The animation key line with a tab and doubled blanks keys the arm (its set's first
    // animation: the file's y motion dropped).
    ASSERT_EQ(m->NbAni, 1);
    EXPECT_TRUE(m->AnimErrors().empty()) << m->AnimErrors()[0];
    m->GetAnimSets()[0]->SetTime(0.0f);
    EXPECT_EQ(m->GetBones()[1]->GetPosition(nullptr), glm::vec3(0, 0, 12));
}

TEST(Smd, WeldingComparesBoneLocalPositionAndTextureCoordinates) {
    ModelDir dir;
    dir.WriteBmp("skin.bmp");
    // Triangle 1 and 2 share a vertex (same bone, place and u v, other normal). The file point
    // (0 0 10) lies on both bones: on "root" it is 10 up, on "arm" at its origin, so the two are
    // different vertices. The third corner of triangle 2 differs from its first only in v.
    dir.Write("ref.smd", std::string(kTwoBoneNodes) + "triangles\nskin.bmp\n"
                                                      "0 1 2 3 0 0 1 0.5 0.5\n"
                                                      "0 0 0 10 0 0 1 0 0\n"
                                                      "1 0 0 10 0 0 1 0 0\n"
                                                      "skin.bmp\n"
                                                      "0 1 2 3 1 0 0 0.5 0.5\n"
                                                      "1 5 5 10 0 0 1 0 0\n"
                                                      "0 1 2 3 0 0 1 0.5 0.25\n"
                                                      "end\n");
    dir.Write("test.qc", Qc(""));
    auto m = LoadModel(dir);
    const model::SkinGroup& g = m->GetSkinGroups()[0];
    ASSERT_EQ(g.Mesh->GetFaceCount(), 2u);
    EXPECT_EQ(g.Mesh->GetVertexCount(), 5u);
    // Corners are added third, second, first: the shared vertex is the third one added by face
    // 0 and the first corner of face 1, keeping its first normal (0, 0, 1).
    EXPECT_EQ(g.Mesh->GetFace(0).vertices, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(g.Mesh->GetFace(1).vertices[2], 2u);
    EXPECT_EQ(g.Mesh->GetNormal(2), glm::vec3(0, 0, 1));
    // v is negated; positions are bone-local: (0 0 10) on "arm" is its origin.
    EXPECT_EQ(g.Mesh->GetTextureCoordinates(2), glm::vec2(0.5f, -0.5f));
    EXPECT_EQ(g.Mesh->GetVertex(0), glm::vec3(0, 0, 0));
    EXPECT_EQ(g.Mesh->GetVertex(1), glm::vec3(0, 0, 10));
    // Links in order of first use; each vertex recorded once.
    ASSERT_EQ(g.Links.size(), 2u);
    EXPECT_EQ(g.Links[0].Frame->GetName(), "arm");
    EXPECT_EQ(g.Links[0].VertexIndices, (std::vector<int32_t>{0, 4}));
    EXPECT_EQ(g.Links[1].VertexIndices, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(g.Mesh->GetFace(1).vertices, (std::vector<uint32_t>{3, 4, 2}));
    EXPECT_EQ(MDL::ChercheVertex(*g.Mesh, 0, 0, 10, 0, 0), 1);
    EXPECT_EQ(MDL::ChercheVertex(*g.Mesh, 0, 0, 10, 0, 1), -1);
}

TEST(Smd, HashWeldingReturnsTheLowestEqualVertexLikeTheLinearSearch) {
    // Many corners drawn from a few places and coordinates, with signed zeros: every vertex the
    // reader keeps is unique, and each face corner is the lowest equal vertex.
    ModelDir dir;
    dir.WriteBmp("skin.bmp");
    std::mt19937 rng(7);
    const char* coords[] = {"0", "-0", "1", "0.5", "-1"};
    std::string smd = std::string(kTwoBoneNodes) + "triangles\n";
    for (int t = 0; t < 300; ++t) {
        smd += "skin.bmp\n";
        for (int k = 0; k < 3; ++k) {
            smd += std::to_string(rng() % 2);
            for (int f = 0; f < 8; ++f)
                smd += std::string(" ") + coords[rng() % 5];
            smd += "\n";
        }
    }
    dir.Write("ref.smd", smd + "end\n");
    dir.Write("test.qc", Qc(""));
    auto m = LoadModel(dir);
    const scene::MeshBuilder& mesh = *m->GetSkinGroups()[0].Mesh;
    for (size_t f = 0; f < mesh.GetFaceCount(); ++f) {
        for (uint32_t v : mesh.GetFace(f).vertices) {
            const glm::vec3 p = mesh.GetVertex(v);
            const glm::vec2 uv = mesh.GetTextureCoordinates(v);
            ASSERT_EQ(MDL::ChercheVertex(mesh, p.x, p.y, p.z, uv.x, uv.y), int32_t(v));
        }
    }
    EXPECT_LT(mesh.GetVertexCount(), 900u);
}

TEST(Smd, RigidMeshesWithMultiMeshAndOneLinkGroupsRideTheirBone) {
    ModelDir dir;
    dir.WriteBmp("skin.bmp");
    dir.Write("ref.smd", std::string(kTwoBoneNodes) + "triangles\nskin.bmp\n"
                                                      "1 1 0 10 0 0 1 0 0\n"
                                                      "1 2 0 10 0 0 1 1 0\n"
                                                      "1 1 1 10 0 0 1 0 1\n"
                                                      "skin.bmp\n"
                                                      "0 1 0 0 0 0 1 0.5 0\n"
                                                      "1 2 0 10 0 0 1 1 0\n"
                                                      "1 1 1 10 0 0 1 0 1\n"
                                                      "end\n"
                                                      "triangles\nskin.bmp\n"
                                                      "0 1 0 0 0 0 1 0 0\n"
                                                      "0 2 0 0 0 0 1 1 0\n"
                                                      "0 1 1 0 0 0 1 0 1\n"
                                                      "end\n");
    dir.Write("test.qc", Qc(""));
    {
        // Weapon-style: the one-bone triangle becomes the arm's rigid mesh.
        auto m = LoadModel(dir, true);
        const auto& rigid = m->GetBoneMeshes()[1];
        ASSERT_NE(rigid, nullptr);
        EXPECT_EQ(rigid->GetFaceCount(), 1u);
        EXPECT_EQ(rigid->GetVertexCount(), 3u);
        ASSERT_EQ(m->GetBones()[1]->GetVisualCount(), 1u);
        EXPECT_EQ(m->GetBones()[1]->Visuals()[0].get(), rigid.get());
        const model::SkinGroup& g0 = m->GetSkinGroups()[0];
        EXPECT_EQ(g0.Mesh->GetFaceCount(), 1u);
        EXPECT_EQ(g0.Links.size(), 2u);
        // Section 2 lies wholly on "root": with MultiMesh it is the root's rigid mesh and its
        // group stays empty.
        ASSERT_NE(m->GetBoneMeshes()[0], nullptr);
        EXPECT_EQ(m->GetSkinGroups()[1].Mesh->GetFaceCount(), 0u);
    }
    {
        // Character-style: every triangle is skinned; a group on one bone rides it.
        auto m = LoadModel(dir, false);
        EXPECT_EQ(m->GetBoneMeshes()[1], nullptr);
        EXPECT_EQ(m->GetSkinGroups()[0].Mesh->GetFaceCount(), 2u);
        const model::SkinGroup& g1 = m->GetSkinGroups()[1];
        ASSERT_EQ(g1.Links.size(), 1u);
        ASSERT_EQ(m->GetBones()[0]->GetVisualCount(), 1u);
        EXPECT_EQ(m->GetBones()[0]->Visuals()[0].get(), g1.Mesh.get());
        // The skinned group hangs under sol, picked (bone-local vertices) but never drawn.
        ASSERT_EQ(m->sol->GetVisualCount(), 1u);
        EXPECT_EQ(m->sol->Visuals()[0].get(), m->GetSkinGroups()[0].Mesh.get());
        EXPECT_EQ(m->sol->Visuals()[0]->GetFlags(), uint32_t(scene::kFlagPickable));
    }
}

TEST(Smd, ErrorsNameTheFileAndLine) {
    struct Case {
        const char* what;
        std::string smd;
        int line;
    };
    const std::string tri = "triangles\nskin.bmp\n";
    const Case cases[] = {
        {"bad number in the pose", "nodes\n0 \"a\" -1\nend\ntime 0\n0 0 x 0 0 0 0\nend\n", 5},
        {"eight pose fields", "nodes\n0 \"a\" -1\nend\ntime 0\n0 0 0 0 0 0 0 0\nend\n", 5},
        {"link count not a number", "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0 x\n", 6},
        {"negative link count", "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0 -1\n", 6},
        {"link pairs cut short", "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0 2 0 1.0\n",
         6},
        {"link weight not a number",
         "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0 1 0 heavy\n", 6},
        {"link bone outside the skeleton",
         "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0 1 4 1.0\n", 6},
        {"missing end of nodes", "nodes\n0 \"a\" -1\n", 3},
        {"parent out of range", "nodes\n0 \"a\" 3\nend\n", 2},
        {"pose bone out of range", "nodes\n0 \"a\" -1\nend\ntime 0\n1 0 0 0 0 0 0\nend\n", 5},
        {"triangle bone out of range",
         "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0\n7 0 0 0 0 0 1 0 0\n", 7},
        {"truncated triangle", "nodes\n0 \"a\" -1\nend\n" + tri + "0 0 0 0 0 0 1 0 0\n", 7},
        {"missing texture", "nodes\n0 \"a\" -1\nend\ntriangles\nnone.bmp\n0 0 0 0 0 0 1 0 0\n", 5},
        {"node without quotes", "nodes\n0 a -1\nend\n", 2},
    };
    for (const Case& c : cases) {
        ModelDir dir;
        dir.WriteBmp("skin.bmp");
        dir.Write("ref.smd", c.smd);
        dir.Write("test.qc", Qc(""));
        const ModelError e = LoadError(dir);
        EXPECT_NE(e.File().find("ref.smd"), std::string::npos) << c.what << ": " << e.what();
        EXPECT_EQ(e.Line(), c.line) << c.what << ": " << e.what();
        EXPECT_NE(std::string(e.what()).find("ref.smd:" + std::to_string(c.line)),
                  std::string::npos);
    }
    {
        ModelDir dir;
        dir.Write("test.qc", Qc(""));
        EXPECT_NE(std::string(LoadError(dir).what()).find("ref.smd"), std::string::npos);
        EXPECT_NE(std::string(LoadError(dir, "absent.qc").what()).find("absent.qc"),
                  std::string::npos);
        dir.Write("nounderscore.QC", "");
        EXPECT_NE(std::string(LoadError(dir, "nounderscore.QC", true).what()).find("CLASS_NAME"),
                  std::string::npos);
        dir.Write("test.qc", "$hbox 0 \"a\" 1 2 3\n");
        EXPECT_EQ(LoadError(dir).Line(), 1);
        dir.Write("test.qc", "\n$sequence idle\n");
        EXPECT_EQ(LoadError(dir).Line(), 2);
    }
}

TEST(Qc, WeaponModelsTakeTheirStatisticsAndHideSol) {
    ModelDir dir;
    dir.Write("rifle_AWP.QC", "");
    MDL m;
    m.Load(nullptr, "rifle_AWP.QC", dir.Path(), true);
    EXPECT_EQ(m.typ_arme, "rifle");
    EXPECT_EQ(m.lib_arme, "AWP");
    EXPECT_EQ(m.NbBastos, 1);
    EXPECT_EQ(m.PowerBastos, 100);
    EXPECT_EQ(m.rang, 4);
    EXPECT_TRUE(m.snipper);
    EXPECT_EQ(m.sol->GetTraversalOptions(), 0u);
    EXPECT_EQ(m.Mere->GetName(), "rifle_AWP.QC");
}

namespace {

// Skeleton of a biped in miniature: bone 1 (pelvis) has two children, the spine branch and the
// thigh branch.
constexpr const char* kBipedNodes = "nodes\n"
                                    "0 \"Bip01\" -1\n"
                                    "1 \"Bip01 Pelvis\" 0\n"
                                    "2 \"Bip01 Spine\" 1\n"
                                    "3 \"Bip01 Spine1\" 2\n"
                                    "4 \"Bip01 L Thigh\" 1\n"
                                    "5 \"Bip01 L Calf\" 4\n"
                                    "end\n";

std::string Frames(int first, int last, int bones) {
    std::string out;
    for (int t = first; t <= last; ++t) {
        out += "time " + std::to_string(t) + "\n";
        for (int b = 0; b < bones; ++b) {
            out += std::to_string(b) + " 1 2 3 0 0 0." + std::to_string(t) + "\n";
        }
    }
    return out;
}

} // namespace

TEST(Anim, SetsNamesKeysAndTheBlendNodeMap) {
    ModelDir dir;
    dir.Write("ref.smd", std::string(kBipedNodes) + "time 0\nend\n");
    dir.Write("crouch_idle.smd",
              std::string(kBipedNodes) + "skeleton\n" + Frames(0, 3, 6) + "end\n");
    dir.Write("idle.smd", std::string(kBipedNodes) + Frames(0, 5, 6) + "end\n");
    dir.Write("ref_aim_blend.smd", std::string(kBipedNodes) + Frames(0, 2, 6) + "end\n");
    dir.Write("noparent1_blend.smd", "nodes\n0 \"Bip01\" -1\nend\n" + Frames(0, 1, 1) + "end\n");
    // Unknown bones get no keys; a bad number stops the file (set kept, length 0).
    dir.Write("broken.smd", "nodes\n0 \"Bip01\" -1\n1 \"Ghost\" 0\nend\ntime 0\n1 0 0 0 0 0 0\n"
                            "0 0 0 0 0 0 0\ntime 1\n0 0 0 0 0 x 0\nend\n");
    dir.Write("test.qc", Qc("$sequence \"crouch_idle\" \"crouch_idle\"\n"
                            "$sequence \"idle\"\n$sequence \"missing\"\n"
                            "$sequence \"ref_aim_blend\"\n$sequence \"noparent1_blend\"\n"
                            "$sequence \"broken\"\n"));
    auto m = LoadModel(dir);
    ASSERT_EQ(m->NbAni, 5); // the missing file adds no set
    const auto& sets = m->GetAnimSets();
    EXPECT_EQ(sets[0]->GetName(), "crouch_idle");
    EXPECT_EQ(sets[2]->GetName(), "ref_aim");
    EXPECT_EQ(sets[3]->GetName(), "noparent1");

    // Every bone gets a key per time block; the last block's frame is the set's length.
    EXPECT_EQ(m->RenvAniMax(0), 3);
    EXPECT_EQ(m->RenvAniMax(1), 5);
    EXPECT_EQ(m->RenvAniMax(99), 0);
    ASSERT_EQ(sets[1]->Animations().size(), 6u);
    EXPECT_EQ(sets[1]->Animations()[3]->GetPositionKeyCount(), 6u);
    EXPECT_EQ(sets[1]->Animations()[3]->GetOptions(), 54u);
    // The first animation drops the file's y motion; the others exchange x and y.
    glm::vec3 p;
    ASSERT_TRUE(sets[1]->Animations()[0]->PositionAt(1, p));
    EXPECT_EQ(p, glm::vec3(0, 1, 3));
    ASSERT_TRUE(sets[1]->Animations()[1]->PositionAt(1, p));
    EXPECT_EQ(p, glm::vec3(2, 1, 3));

    // Blend: only the first branch below bone 1 (spine, spine1), the spine first.
    ASSERT_EQ(sets[2]->Animations().size(), 2u);
    EXPECT_EQ(sets[2]->Animations()[0]->GetFrame()->GetName(), "Bip01_Spine");
    EXPECT_EQ(sets[2]->Animations()[1]->GetFrame()->GetName(), "Bip01_Spine1");
    ASSERT_TRUE(sets[2]->Animations()[0]->PositionAt(0, p));
    EXPECT_EQ(p, glm::vec3(0, 1, 3));
    EXPECT_TRUE(sets[3]->Animations().empty());

    // The broken file: its set stays, with the keys read before the error, and length 0.
    EXPECT_EQ(sets[4]->GetName(), "broken");
    ASSERT_EQ(sets[4]->Animations().size(), 1u);
    EXPECT_EQ(sets[4]->Animations()[0]->GetPositionKeyCount(), 1u);
    EXPECT_EQ(m->RenvAniMax(4), 0);
    ASSERT_EQ(m->AnimErrors().size(), 1u);
    EXPECT_NE(m->AnimErrors()[0].find("broken.smd:9"), std::string::npos) << m->AnimErrors()[0];

    // Lookups by substring, earliest set first, 0 when nothing matches.
    EXPECT_EQ(m->RenvAnimations("crouch_idle"), 0);
    EXPECT_EQ(m->RenvAnimations("idle"), 1);
    EXPECT_EQ(m->RenvAnimations("ref_aim_carbine"), 2);
    EXPECT_EQ(m->RenvAnimations("walk"), 0);
}

TEST(Anim, BlendAtTheStartGivesAnEmptyNameThatMatchesEveryRequest) {
    ModelDir dir;
    dir.Write("ref.smd", std::string(kBipedNodes));
    dir.Write("run.smd", std::string(kBipedNodes) + Frames(0, 1, 6) + "end\n");
    dir.Write("blend.smd", std::string(kBipedNodes) + Frames(0, 1, 6) + "end\n");
    dir.Write("test.qc", Qc("$sequence \"run\"\n$sequence \"blend\"\n"));
    auto m = LoadModel(dir);
    ASSERT_EQ(m->NbAni, 2);
    EXPECT_EQ(m->GetAnimSets()[1]->GetName(), "");
    EXPECT_EQ(m->RenvAnimations("walk"), 1);
    EXPECT_EQ(m->RenvAnimations("running"), 0);
}

// A hostile file may chain every bone under the one before it. 100,000 bones, each 1 unit up
// the file's z axis from its parent: the model loads with the deepest bone at z 99,999, finds
// its bones by name, binds a triangle on the deepest bone in that bone's own space, animates
// every bone, and is released without exhausting the stack.
TEST(Smd, SkeletonOfAHundredThousandChainedBonesLoadsAndReleases) {
    constexpr int kBones = 100000;
    ModelDir dir;
    std::string nodes = "nodes\n";
    std::string pose = "time 0\n";
    for (int b = 0; b < kBones; ++b) {
        nodes +=
            std::to_string(b) + " \"b" + std::to_string(b) + "\" " + std::to_string(b - 1) + "\n";
        pose += std::to_string(b) + " 0 0 " + (b == 0 ? "0" : "1") + " 0 0 0\n";
    }
    nodes += "end\n";
    pose += "end\n";
    const std::string last = std::to_string(kBones - 1);
    dir.Write("ref.smd", "version 1\n" + nodes + "skeleton\n" + pose + "triangles\nt.bmp\n" + last +
                             " 0 0 99999 0 0 1 0 0\n" + last + " 1 0 99999 0 0 1 1 0\n" + last +
                             " 0 1 100000 0 0 1 0 1\nend\n");
    dir.Write("walk.smd", "version 1\n" + nodes + "skeleton\n" + pose);
    dir.WriteBmp("t.bmp");
    dir.Write("test.qc", Qc("$sequence \"walk\" \"walk\"\n"));

    auto m = LoadModel(dir);
    ASSERT_EQ(m->GetBoneCount(), kBones);
    const auto deepest = m->ChercheFrames("b" + last);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest, m->GetBones().back());
    EXPECT_EQ(m->ChercheFrames("b0"), m->GetBones().front());
    // File z stays z (the model's axes exchange x and y only); Mere is not turned yet in the
    // bones' own chain, so the position relative to Mere is the sum of the offsets.
    const glm::vec3 p = deepest->GetPosition(m->Mere.get());
    EXPECT_NEAR(p.z, float(kBones - 1), 1e-3f);
    EXPECT_NEAR(p.x, 0.0f, 1e-3f);
    // The triangle's vertices are kept in the deepest bone's own coordinates.
    ASSERT_EQ(m->GetSkinGroups().size(), 1u);
    const model::SkinGroup& group = m->GetSkinGroups()[0];
    ASSERT_EQ(group.Links.size(), 1u);
    EXPECT_EQ(group.Links[0].Frame, deepest);
    // Corners are taken third first: file (0, 1, 100000) is (1, 0, 1) from the bone, file
    // (0, 0, 99999) its origin.
    ASSERT_EQ(group.Links[0].LocalPositions.size(), 3u);
    const glm::vec3 third = group.Links[0].LocalPositions[0];
    const glm::vec3 first = group.Links[0].LocalPositions[2];
    EXPECT_NEAR(third.x, 1.0f, 1e-2f);
    EXPECT_NEAR(third.y, 0.0f, 1e-2f);
    EXPECT_NEAR(third.z, 1.0f, 1e-2f);
    EXPECT_NEAR(glm::length(first), 0.0f, 1e-2f);
    // The animation set holds one animation per bone.
    ASSERT_EQ(m->NbAni, 1);
    EXPECT_EQ(m->GetAnimSets()[0]->Animations().size(), size_t(kBones));

    m.reset(); // the whole frame tree goes here
}

// A nodes section reads alike in a reference file and in an animation file: a fault gives the
// same message on the same line. In a reference file it stops the load; in an animation file it
// stops that file only, whose set stays without keys.
TEST(Smd, NodeSectionFaultsReadAlikeInReferenceAndAnimationFiles) {
    struct Case {
        const char* what;
        std::string nodes;
        int line;
        std::string reason;
    };
    const std::string unquoted = "a node line needs its bone name in double quotes";
    const Case cases[] = {
        {"no quotes", "nodes\n0 \"a\" -1\n1 b 0\nend\n", 3, unquoted},
        {"one quote", "nodes\n0 \"a -1\nend\n", 2, unquoted},
        {"parent not a number", "nodes\n0 \"a\" up\nend\n", 2,
         "the parent index is not a 32-bit integer: \"up\""},
        {"parent missing", "nodes\n0 \"a\"\nend\n", 2,
         "the parent index is not a 32-bit integer: \"\""},
        {"no end", "nodes\n0 \"a\" -1\n", 3,
         "unexpected end of file while reading the nodes section (no \"end\" line)"},
    };
    for (const Case& c : cases) {
        const std::string where = ":" + std::to_string(c.line) + ": " + c.reason;
        ModelDir reference;
        reference.Write("ref.smd", c.nodes);
        reference.Write("test.qc", Qc(""));
        const ModelError e = LoadError(reference);
        EXPECT_EQ(e.Line(), c.line) << c.what << ": " << e.what();
        EXPECT_NE(std::string(e.what()).find("ref.smd" + where), std::string::npos)
            << c.what << ": " << e.what();

        ModelDir animation;
        animation.Write("ref.smd", kBipedNodes);
        animation.Write("bad.smd", c.nodes);
        animation.Write("test.qc", Qc("$sequence \"bad\"\n"));
        auto m = LoadModel(animation);
        ASSERT_EQ(m->NbAni, 1) << c.what;
        EXPECT_TRUE(m->GetAnimSets()[0]->Animations().empty()) << c.what;
        EXPECT_EQ(m->RenvAniMax(0), 0) << c.what;
        ASSERT_EQ(m->AnimErrors().size(), 1u) << c.what;
        EXPECT_NE(m->AnimErrors()[0].find("bad.smd" + where), std::string::npos)
            << c.what << ": " << m->AnimErrors()[0];
    }

    // What a parent must name differs: a reference file builds the skeleton (a parent is an
    // earlier bone), an animation file maps its nodes onto it (at most one node more than the
    // skeleton's bones). Names are matched with blanks made "_", as the skeleton's are.
    ModelDir dir;
    dir.Write("ref.smd", kBipedNodes);
    dir.Write("long.smd", "nodes\n0 \"Bip01\" -1\n1 \"Bip01 Pelvis\" 7\n2 \"x\" 9\n3 \"x\" -4\n"
                          "4 \"x\" 0\n5 \"x\" 0\n6 \"x\" 0\n7 \"x\" 0\nend\n");
    dir.Write("pelvis.smd", "nodes\n  0  \"  Bip01 Pelvis \"   -1  \nend\ntime 4\n0 1 2 3 0 0 0\n"
                            "end\n");
    dir.Write("test.qc", Qc("$sequence \"long\"\n$sequence \"pelvis\"\n"));
    auto m = LoadModel(dir);
    ASSERT_EQ(m->NbAni, 2);
    ASSERT_EQ(m->AnimErrors().size(), 1u);
    EXPECT_NE(m->AnimErrors()[0].find("long.smd:9: node 7 outside the node map of 7 slots"),
              std::string::npos)
        << m->AnimErrors()[0];
    const auto& pelvis = m->GetAnimSets()[1]->Animations();
    ASSERT_EQ(pelvis.size(), 1u);
    EXPECT_EQ(pelvis[0]->GetFrame()->GetName(), "Bip01_Pelvis");
    EXPECT_EQ(m->RenvAniMax(1), 4);

    dir.Write("ref.smd", "nodes\n0 \"a\" -2\nend\n");
    EXPECT_NE(std::string(LoadError(dir).what())
                  .find("ref.smd:2: parent index -2 names no "
                        "earlier bone"),
              std::string::npos);
}
