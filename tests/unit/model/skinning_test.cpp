// Per-player instances: skinning by an animation set, render copies, hit-box copies, box mode.
#include "model/mdl.h"
#include "tests/unit/model/model_files.h"

#include <gtest/gtest.h>

using model::MDL;
using modeltest::ModelDir;

namespace {

constexpr const char* kNodes = "nodes\n0 \"Bip01\" -1\n1 \"Bip01 Head\" 0\nend\n";

// Two bones: "Bip01" at the origin and "Bip01 Head" 10 units up the file's z axis. The file's
// (x, y, z) is the model's (x, z, -y). Two corners ride the root, one the head; the head's
// corner is at file (1, 0, 10), model (1, 10, 0).
void WriteTwoBoneModel(const ModelDir& dir) {
    dir.WriteBmp("models/skin.bmp");
    dir.WriteBmp("models/TS1.bmp", 10, 20, 30);
    dir.Write("models/ref.smd", std::string(kNodes) + "skeleton\ntime 0\n0 0 0 0 0 0 0\n"
                                                      "1 0 0 10 0 0 0\nend\n"
                                                      "triangles\nskin.bmp\n"
                                                      "0 1 2 3 0 0 1 0 0\n"
                                                      "0 2 2 3 0 0 1 1 0\n"
                                                      "1 1 0 10 0 0 1 0 1\n"
                                                      "end\n");
    dir.Write("models/idle.smd", std::string(kNodes) + "time 0\n0 0 0 0 0 0 0\n"
                                                       "1 0 0 10 0 0 0\nend\n");
    // The head turns a quarter about the file's z axis at frame 1.
    dir.Write("models/bend.smd", std::string(kNodes) + "time 0\n0 0 0 0 0 0 0\n1 0 0 10 0 0 0\n"
                                                       "time 1\n0 0 0 0 0 0 0\n"
                                                       "1 0 0 10 0 0 1.5707963\n"
                                                       "time 2\n0 0 0 0 0 0 0\n1 0 0 10 0 0 0\n"
                                                       "end\n");
    dir.Write("models/test.qc", "$hbox 0 \"Bip01 Head\" -1.0 -2.0 -3.0  4.0 5.0 6.0\n"
                                "$bodygroup body\n{\nstudio \"ref\"\n}\n"
                                "$sequence \"idle\"\n$sequence \"bend\"\n");
}

struct TestPlayer {
    std::shared_ptr<scene::Frame> joueur;
    model::Instance p;

    TestPlayer(const std::shared_ptr<scene::Frame>& root, int32_t indice, float x) {
        joueur = scene::Frame::Create(root);
        joueur->SetPosition(nullptr, {x, 0, 0});
        p.indice = indice;
        p.texture = "TS1.bmp";
        p.base = scene::Frame::Create(joueur);
        p.Peau = scene::Frame::Create(joueur);
        p.base->SetTraversalOptions(scene::kFlagPickable);
        p.AniBuste = -1;
    }
};

void ExpectNear(const glm::vec3& a, const glm::vec3& b) {
    EXPECT_NEAR(glm::distance(a, b), 0.0f, 1e-4f) << a.x << " " << a.y << " " << a.z;
}

} // namespace

TEST(Skinning, VerticesFollowTheirBoneAndPlayersKeepTheirOwnCopies) {
    ModelDir dir;
    WriteTwoBoneModel(dir);
    MDL m;
    m.Boite = true;
    m.settings.programDir = dir.Path();
    m.Load(nullptr, "test.qc", dir.Path() + "/models", false);
    ASSERT_EQ(m.NbAni, 2);

    auto root = scene::Frame::Create();
    TestPlayer bent(root, 1, 100.0f), still(root, 2, 0.0f);
    m.RenvMesh(bent.p);
    m.RenvMesh(still.p);
    EXPECT_EQ(bent.p.IdSkm, 0);
    EXPECT_EQ(still.p.IdSkm, 1);
    EXPECT_EQ(still.p.base->GetAppData(), 1u);
    EXPECT_EQ(m.GetSkinGroups()[0].CopyCount, 2);
    // The skin is drawn, never picked, and wears the player's picture.
    ASSERT_EQ(still.p.Peau->GetVisualCount(), 1u);
    EXPECT_EQ(still.p.Peau->GetTraversalOptions(), uint32_t(scene::kFlagRendered));
    const auto& skin = m.GetRenderCopies()[1].Mesh;
    EXPECT_TRUE(skin->GetFlags() & scene::kFlagRendered) << "the player's own copy is drawn";
    ASSERT_NE(skin->GetGroupTexture(), nullptr);
    EXPECT_NE(skin->GetGroupTexture()->GetName().find("TS1.bmp"), std::string::npos);

    bent.p.Anipos = m.RenvAnimations("bend");
    bent.p.fps = 1;
    still.p.Anipos = m.RenvAnimations("idle");
    m.Anime(bent.p);
    m.Anime(still.p);
    m.AnimeSkmVertex();

    const model::SkinGroup& g = m.GetSkinGroups()[0];
    ASSERT_EQ(g.Links.size(), 2u);
    ASSERT_EQ(g.Links[0].Frame->GetName(), "Bip01_Head");
    const size_t head = size_t(g.Links[0].VertexIndices[0]);
    const size_t root0 = size_t(g.Links[1].VertexIndices[0]);
    const size_t root1 = size_t(g.Links[1].VertexIndices[1]);
    const auto bentVertices = m.GetRenderCopies()[0].Mesh->Vertices();
    const auto stillVertices = m.GetRenderCopies()[1].Mesh->Vertices();
    // At rest every vertex is where the file puts it, in the model's axes.
    ExpectNear(stillVertices[head].position, {1, 10, 0});
    ExpectNear(stillVertices[root0].position, {2, 3, -2});
    ExpectNear(stillVertices[root1].position, {1, 3, -2});
    // The bent head carries its vertex a quarter turn round the neck; the root's stay.
    ExpectNear(bentVertices[head].position, {0, 10, 1});
    ExpectNear(bentVertices[root0].position, {2, 3, -2});
    ExpectNear(bentVertices[root1].position, {1, 3, -2});
    // Texture coordinates are untouched by skinning.
    EXPECT_FLOAT_EQ(bentVertices[head].v, -1.0f);

    // The head's hit box is the player's head frame and follows the bone.
    ASSERT_NE(bent.p.tete, nullptr);
    EXPECT_EQ(bent.p.tete->GetParent(), bent.p.base);
    glm::vec3 bentDir, up;
    bent.p.tete->GetOrientation(nullptr, bentDir, up);
    glm::vec3 restDir, restUp;
    still.p.tete->GetOrientation(nullptr, restDir, restUp);
    EXPECT_GT(glm::distance(up, restUp), 0.5f);
    // No hand bone: the weapon frame exists under Peau, bound to no bone.
    ASSERT_NE(still.p.MDroite, nullptr);
    EXPECT_EQ(still.p.MDroite->GetParent(), still.p.Peau);
    EXPECT_EQ(still.p.MDroite->GetAppData(), 0u);

    // A following frame animates only the still player: the bent copy keeps its pose.
    still.p.fps = 0.5;
    m.Anime(still.p);
    m.AnimeSkmVertex();
    ExpectNear(m.GetRenderCopies()[0].Mesh->Vertices()[head].position, {0, 10, 1});
}

TEST(Skinning, HitBoxCopiesArePickedThroughBaseAndNameThePlayerAndBone) {
    ModelDir dir;
    WriteTwoBoneModel(dir);
    MDL m;
    m.Boite = true;
    m.settings.team = 1;
    m.Load(nullptr, "test.qc", dir.Path() + "/models", false);
    const auto& template_ = m.GetHitBoxes()[0].BoxMesh;
    ASSERT_NE(template_, nullptr);
    EXPECT_EQ(template_->GetFlags(), uint32_t(scene::kFlagRendered));
    EXPECT_EQ(template_->GetFaceCount(), 6u);
    EXPECT_EQ(template_->GetFace(0).color, glm::vec4(1, 0, 0, 1)); // red for team 1
    EXPECT_EQ(template_->GetAppData(), 2u);

    auto root = scene::Frame::Create();
    TestPlayer target(root, 3, 0.0f), other(root, 1, 100.0f);
    m.RenvMesh(target.p);
    m.RenvMesh(other.p);
    m.Anime(target.p);

    // The box spans model x -4..1, y 7..16, z -5..2 at rest.
    scene::PickResults hits;
    ASSERT_EQ(scene::Pick(*root, {-1.5f, 11.5f, -100.0f}, {0, 0, 1}, hits), 1u);
    EXPECT_EQ(hits[0].visual->GetName(), "Bip01_Head");
    EXPECT_EQ(hits[0].visual->GetAppData(), 3u);
    EXPECT_NEAR(hits[0].point.z, -5.0f, 1e-4f);

    // base decides: not pickable, nothing is hit; drawn only with the render flag (box mode).
    const auto drawnBoxes = [&] {
        int n = 0;
        scene::ForEachRenderedVisual(
            *target.p.base, [&](const scene::Frame&, const scene::Visual& v, const glm::mat4&) {
                n += v.GetName() == "Bip01_Head" ? 1 : 0;
            });
        return n;
    };
    EXPECT_EQ(drawnBoxes(), 0);
    target.p.base->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    EXPECT_EQ(drawnBoxes(), 1);
    target.p.base->SetTraversalOptions(scene::kFlagNone);
    EXPECT_EQ(scene::Pick(*root, {-1.5f, 11.5f, -100.0f}, {0, 0, 1}, hits), 0u);
    // The model's own template box is drawn but never picked.
    EXPECT_EQ(scene::Pick(*m.GetBones()[1], {-1.5f, 11.5f, -100.0f}, {0, 0, 1}, hits), 0u);
}

TEST(Skinning, BoxModeBuildsFramesButNoSkinAndPerFrameCallsTolerateBadIndices) {
    ModelDir dir;
    WriteTwoBoneModel(dir);
    MDL m;
    m.Boite = true;
    m.settings.boxMode = true;
    m.Load(nullptr, "test.qc", dir.Path() + "/models", false);
    auto root = scene::Frame::Create();
    TestPlayer t(root, 0, 0.0f);
    t.p.IdModele = 5; // no such group: box mode never uses it
    m.RenvMesh(t.p);
    EXPECT_EQ(t.p.Peau->GetVisualCount(), 0u);
    EXPECT_TRUE(m.GetRenderCopies().empty());
    EXPECT_EQ(t.p.base->GetChildCount(), 1u);
    EXPECT_NE(t.p.tete, nullptr);
    EXPECT_NE(t.p.MDroite, nullptr);

    // Out-of-range animation and copy indices are skipped, not fatal.
    t.p.Anipos = 40;
    t.p.AniBuste = 7;
    t.p.colonne = 15;
    t.p.pivot = 0.2;
    m.Anime(t.p);
    m.AnimeMultiVertex(9, 9);
    m.AnimeSkmVertex();

    // Outside box mode an unknown skin group is a clear error.
    m.settings.boxMode = false;
    TestPlayer u(root, 1, 0.0f);
    u.p.IdModele = 5;
    EXPECT_THROW(m.RenvMesh(u.p), model::ModelError);
}

TEST(Skinning, SpineTwistAndPitchTurnTheFirstThreeSpineBones) {
    ModelDir dir;
    dir.Write("ref.smd", "nodes\n0 \"Bip01\" -1\n1 \"Bip01 Spine\" 0\n2 \"Bip01 Spine1\" 1\n"
                         "3 \"Bip01 Spine2\" 2\n4 \"Bip01 Spine3\" 3\nend\n");
    dir.Write("idle.smd", "nodes\n0 \"Bip01\" -1\nend\ntime 0\n0 0 0 0 0 0 0\nend\n");
    dir.Write("test.qc", "$bodygroup b\n{\nstudio \"ref\"\n}\n$sequence \"idle\"\n");
    MDL m;
    m.settings.boxMode = true;
    m.Load(nullptr, "test.qc", dir.Path(), false);
    auto root = scene::Frame::Create();
    TestPlayer t(root, 0, 0.0f);
    m.RenvMesh(t.p);

    const auto yaw = [&](size_t slot) {
        glm::vec3 d, u;
        m.GetSpineFrame(slot)->GetOrientation(nullptr, d, u);
        return d;
    };
    // colonne 0 and pivot 0 leave the spine as posed.
    m.Anime(t.p);
    ExpectNear(yaw(0), {0, 0, 1});
    // 90 degrees turn each of the first three spine bones about their own y axis; Spine3 stays.
    t.p.colonne = 90;
    m.Anime(t.p);
    ExpectNear(yaw(0), {1, 0, 0});
    ExpectNear(yaw(2), {1, 0, 0});
    ExpectNear(yaw(3), {0, 0, 1});
}
