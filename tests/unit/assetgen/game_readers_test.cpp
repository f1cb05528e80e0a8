// Reads the generated content with the game's own readers (the skeletal model reader, the
// player record, the scene's .x loader and ray picks) and checks what a match relies on: the
// character's skeleton, boxes and animations under every name the player code builds, the
// weapons' hand and muzzle bones, and spawn points that stand on a floor clear of walls.
#include "tests/unit/assetgen/content_support.h"
#include "tests/unit/assetgen/game_content.h"
#include "tools/assetgen/assetgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using content::Figure;

class GameReaders : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new fs::path(MakeTempDir("readers"));
        std::vector<std::string> files;
        std::string error;
        ok_ = assetgen::GenerateAll(*root_, files, error);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*root_);
        delete root_;
    }
    static const fs::path& Root() { return *root_; }
    static inline fs::path* root_ = nullptr;
    static inline bool ok_ = false;
};

// Lowest and highest point (scene coordinates) and horizontal extent of a player's skin.
struct Extent {
    float low = 1e9f, high = -1e9f;
    glm::vec2 minXZ{1e9f}, maxXZ{-1e9f};
};
Extent SkinExtent(const model::MDL& m, const player::player& p) {
    Extent e;
    for (const scene::VertexRecord& v : m.GetRenderCopies()[size_t(p.IdSkm)].Mesh->Vertices()) {
        const glm::vec3 s = p.Peau->TransformPoint(v.position);
        e.low = std::min(e.low, s.y), e.high = std::max(e.high, s.y);
        e.minXZ = glm::min(e.minXZ, glm::vec2(s.x, s.z));
        e.maxXZ = glm::max(e.maxXZ, glm::vec2(s.x, s.z));
    }
    return e;
}

} // namespace

TEST_F(GameReaders, CharacterHasItsSkeletonBoxesAndEveryAnimationThePlayerAsksFor) {
    ASSERT_TRUE(ok_);
    std::unique_ptr<model::MDL> m;
    ASSERT_NO_THROW(m = content::LoadCharacter(Root()));
    EXPECT_TRUE(m->AnimErrors().empty()) << m->AnimErrors().front();

    // Skeleton: the pelvis is bone 1; hand and head are found by the names the game uses.
    ASSERT_GE(m->GetBoneCount(), 8);
    EXPECT_EQ(m->GetBones()[1]->GetName(), "Bip01_Pelvis");
    ASSERT_NE(m->Main, nullptr);
    EXPECT_EQ(m->Main->GetName(), "Bip01_R_Hand");
    ASSERT_NE(m->tete, nullptr);
    EXPECT_EQ(m->tete->GetName(), "Bip01_Head");
    for (const char* bone : {"Bip01_Spine", "Bip01_Spine1", "Bip01_Spine2", "Bip01_Spine3",
                             "Bip01_Neck", "Bip01_L_Hand", "Bip01_L_Foot", "Bip01_R_Foot"})
        EXPECT_NE(m->ChercheFrames(bone), nullptr) << bone;

    // Hit boxes on the head, torso, pelvis, both arms and both legs, each drawn on its bone.
    std::set<std::string> boxed;
    for (const model::HitBox& b : m->GetHitBoxes()) {
        boxed.insert(b.Name);
        EXPECT_NE(b.BoxMesh, nullptr) << b.Name << " names no bone";
        EXPECT_LT(b.MinY, b.MaxY) << b.Name;
    }
    for (const char* part : {"Head", "Spine", "Pelvis", "L_UpperArm", "R_UpperArm", "L_Thigh",
                             "R_Thigh", "L_Calf", "R_Calf"})
        EXPECT_TRUE(std::any_of(boxed.begin(), boxed.end(), [&](const std::string& n) {
            return n.find(part) != std::string::npos;
        })) << part;
    EXPECT_TRUE(boxed.count("Bip01_Head"));

    // One skinned group per team, each riding several bones and wearing a picture.
    ASSERT_EQ(m->GetSkinGroupCount(), 2);
    for (const model::SkinGroup& g : m->GetSkinGroups()) {
        EXPECT_GT(g.Links.size(), 8u);
        EXPECT_GT(g.Mesh->GetFaceCount(), 100u);
        ASSERT_GT(g.Mesh->GetFaceCount(), 0u);
        EXPECT_NE(g.Mesh->GetFace(0).texture, nullptr) << "the skin picture was not found";
    }

    // Every name the player code builds resolves to the set of that name; the looping sets
    // and the death have several frames.
    std::vector<std::string> requests;
    for (const char* crouch : {"", "crouch_"})
        for (const char* legs : {"idle1", "run"})
            requests.push_back(std::string(crouch) + legs);
    requests.push_back("death1");
    for (const player::WeaponRow& w : player::kWeaponTable)
        for (const char* action : {"aim", "shoot", "reload"})
            requests.push_back("ref_" + std::string(action) + "_" + std::string(w.classe));
    for (const std::string& r : requests) {
        const int32_t i = m->RenvAnimations(r);
        ASSERT_LT(size_t(i), m->GetAnimSets().size()) << r;
        EXPECT_EQ(m->GetAnimSets()[size_t(i)]->GetName(), r);
        EXPECT_GT(m->GetAnimSets()[size_t(i)]->Animations().size(), 0u) << r;
    }
    for (const char* moving : {"run", "crouch_run", "death1", "ref_shoot_rifle", "ref_reload_m249"})
        EXPECT_GE(m->RenvAniMax(m->RenvAnimations(moving)), 3) << moving;
}

TEST_F(GameReaders, PlayersStandOnTheFloorRunWithTheirFeetAndLieStillWhenDead) {
    ASSERT_TRUE(ok_);
    auto m = content::LoadCharacter(Root());
    auto root = scene::Frame::Create();
    Figure a(*m, root, 0, "TS1.bmp", 0, Root()), b(*m, root, 1, "GS1.bmp", 1, Root());
    // The collision code keeps the root 2.5 above the floor standing and 1 crouched.
    const float floor = -content::kStanding;
    a.Pose("idle1", 0, "ref_aim_rifle");
    const Extent standing = SkinExtent(*m, a.p);
    EXPECT_GE(standing.low, floor - 0.05f) << "feet below the floor";
    EXPECT_LT(standing.low, floor + 0.7f) << "the body floats";
    EXPECT_NEAR(standing.high - standing.low, 72 * 0.08f, 0.5f) << "about 72 model units tall";

    a.Pose("crouch_idle1", 0, "ref_aim_rifle");
    const Extent crouched = SkinExtent(*m, a.p);
    EXPECT_GE(crouched.low, -1.f - 0.05f);
    EXPECT_LT(crouched.low, -1.f + 0.7f);
    EXPECT_LT(crouched.high - crouched.low, standing.high - standing.low - 1.f);

    // Running: every frame keeps the feet on the floor, and the stride moves them.
    const int32_t run = m->RenvAnimations("run");
    float lowest = 1e9f, highest = -1e9f;
    for (int32_t f = 0; f <= m->RenvAniMax(run); ++f) {
        a.Pose("run", f);
        const Extent e = SkinExtent(*m, a.p);
        lowest = std::min(lowest, e.low), highest = std::max(highest, e.low);
        EXPECT_GE(e.low, floor - 0.1f) << "frame " << f;
    }
    EXPECT_LT(lowest, floor + 0.7f);

    // Dead: the last frame lies on the floor, long and low; the other player keeps its own pose.
    b.Pose("idle1", 0);
    a.Pose("death1", -1);
    const Extent dead = SkinExtent(*m, a.p);
    EXPECT_GE(dead.low, floor - 0.1f);
    EXPECT_LT(dead.high, floor + 2.f) << "the body lies on the floor";
    const glm::vec2 spread = dead.maxXZ - dead.minXZ;
    EXPECT_GT(std::max(spread.x, spread.y), 4.f) << "lying at full length";
    EXPECT_NEAR(SkinExtent(*m, b.p).high - SkinExtent(*m, b.p).low, standing.high - standing.low,
                0.05f);
}

TEST_F(GameReaders, EveryWeaponHasItsHandBoneMeshAndAMuzzleFlashBeforeTheBody) {
    ASSERT_TRUE(ok_);
    auto body = content::LoadCharacter(Root());
    auto root = scene::Frame::Create();
    Figure f(*body, root, 0, "TS1.bmp", 0, Root());
    f.Pose("idle1", 0, "ref_aim_rifle");
    const glm::vec3 hand = f.p.MDroite->GetPosition(f.p.joueur.get());
    for (const player::WeaponRow& row : player::kWeaponTable) {
        SCOPED_TRACE(std::string(row.qcFile));
        std::unique_ptr<model::MDL> w;
        ASSERT_NO_THROW(w = content::LoadWeapon(Root(), std::string(row.qcFile)));
        EXPECT_EQ(w->typ_arme, row.classe);
        EXPECT_EQ(w->lib_arme, row.name);
        EXPECT_EQ(w->NbBastos, row.magazine);
        ASSERT_NE(w->Main, nullptr);
        ASSERT_GE(w->Main->GetVisualCount(), 1u) << "the weapon mesh rides the hand bone";
        const auto& mesh = static_cast<const scene::MeshBuilder&>(*w->Main->Visuals()[0]);
        EXPECT_GT(mesh.GetFaceCount(), 20u);
        const auto flash = w->ChercheFrames("flash");
        ASSERT_NE(flash, nullptr);
        EXPECT_EQ(flash->GetParent(), w->Main);

        // In the hand: the muzzle lies ahead of the hand (the body faces +z), on the body's
        // right, and its +x axis points out of the barrel, away from the weapon's mesh.
        f.p.AniBuste = body->RenvAnimations("ref_aim_" + std::string(row.classe));
        f.Hold(*w);
        body->Anime(f.p);
        ASSERT_NE(f.p.flash, nullptr);
        const glm::vec3 muzzle = f.p.flash->GetPosition(f.p.joueur.get());
        EXPECT_GT(muzzle.z, hand.z + 2.f) << "the barrel points forward";
        EXPECT_GT(muzzle.z, 10.f) << "the muzzle is in front of the chest";
        const glm::vec3 barrel =
            glm::normalize(glm::vec3(f.p.flash->GetTransform(f.p.joueur.get())[0]));
        EXPECT_GT(glm::normalize(barrel).z, 0.8f) << "flash +x points out of the muzzle";
        float beyond = -1e9f;
        const glm::mat4 toBody = f.p.MDroite->GetTransform(f.p.joueur.get());
        for (const glm::vec3& v : mesh.Positions()) {
            const glm::vec3 p(toBody * glm::vec4(v, 1));
            beyond = std::max(beyond, glm::dot(p - muzzle, glm::normalize(barrel)));
        }
        EXPECT_LT(beyond, 0.5f) << "nothing of the weapon lies past its muzzle";
    }
    // The hand holding it is the right one: +x, seen from behind a body that faces +z.
    EXPECT_GT(hand.x, 0.f);
}

TEST_F(GameReaders, EveryMapLoadsAndEverySpawnPointStandsOnAFloorClearOfWalls) {
    ASSERT_TRUE(ok_);
    std::vector<std::string> maps = {"couloirs", "entrepot"};
    for (const std::string& n : content::FileMapNames(Root()))
        maps.push_back(n);
    ASSERT_GE(maps.size(), 4u);
    for (const std::string& name : maps) {
        SCOPED_TRACE(name);
        content::MapWorld w;
        content::BuildMap(w, Root(), name);
        EXPECT_EQ(w.error, "");
        EXPECT_FALSE(w.textureNames.empty());
        for (const std::string& t : w.missingTextures)
            ADD_FAILURE() << "texture not found: " << t;
        ASSERT_GE(w.spawns.size(), 4u);
        for (size_t i = 0; i < w.spawns.size(); ++i) {
            const glm::vec3 s = w.spawns[i];
            SCOPED_TRACE("spawn " + std::to_string(i));
            // The floor ray finds the floor below; a player drops at most one standing height
            // before standing on it.
            const float down = content::RayDistance(*w.floor, s, {0, -1, 0});
            ASSERT_GT(down, 0.f) << "no floor below";
            EXPECT_LT(down, 2 * content::kStanding) << "the player would fall far first";
            const glm::vec3 foot = s - glm::vec3(0, down, 0);
            // Nothing solid within reach from the feet to the head, in any direction.
            for (float h :
                 {0.3f, content::kStanding + content::kProbeRaise, content::kBodyHeight - 0.3f})
                for (int k = 0; k < 16; ++k) {
                    const float a = float(k) * 0.3926991f;
                    const float hit = content::RayDistance(*w.wall, foot + glm::vec3(0, h, 0),
                                                           {std::cos(a), 0, std::sin(a)});
                    EXPECT_TRUE(hit < 0 || hit > content::kReach)
                        << "wall at " << hit << ", height " << h << ", direction " << k;
                }
            const float up = content::RayDistance(*w.wall, foot + glm::vec3(0, 0.1f, 0), {0, 1, 0});
            EXPECT_TRUE(up < 0 || up > content::kBodyHeight) << "no headroom";
        }
    }
}

namespace {

// Makes picks under `f` see exactly what the renderer draws: a frame or visual is pickable
// when, and only when, it is drawn (a frame that is not drawn hides its whole subtree).
void PickWhatIsDrawn(scene::Frame& f) {
    const bool drawn = f.GetTraversalOptions() & scene::kFlagRendered;
    f.SetTraversalOptions(drawn ? scene::kFlagRenderedAndPickable : scene::kFlagNone);
    if (!drawn) return;
    for (const auto& v : f.Visuals())
        v->SetFlags(v->IsRendered() ? scene::kFlagRenderedAndPickable : scene::kFlagNone);
    for (const auto& c : f.Children())
        PickWhatIsDrawn(*c);
}

// Corners of face `index` of `b` (hung under `frame`) in scene coordinates.
std::vector<glm::vec3> FaceCorners(const scene::MeshBuilder& b, const scene::Frame& frame,
                                   size_t index) {
    std::vector<glm::vec3> corners;
    for (uint32_t v : b.GetFace(index).vertices)
        corners.push_back(frame.TransformPoint(b.GetVertex(v)));
    return corners;
}

// Whether convex planar polygon `c` is drawn seen along `dir` (clockwise on screen: its
// winding normal points back at the viewer) and holds `p`.
bool DrawnFaceHolds(const std::vector<glm::vec3>& c, const glm::vec3& dir, const glm::vec3& p) {
    if (c.size() < 3) return false;
    const glm::vec3 n = glm::cross(c[1] - c[0], c[2] - c[0]);
    const float len = glm::length(n);
    if (len <= 0 || glm::dot(n, dir) >= 0) return false;
    const glm::vec3 u = n / len;
    if (std::abs(glm::dot(u, p - c[0])) > 1e-3f) return false;
    for (size_t k = 0; k < c.size(); ++k) {
        const glm::vec3& a = c[k];
        const glm::vec3& b = c[(k + 1) % c.size()];
        if (glm::dot(glm::cross(b - a, p - a), u) < -1e-3f * glm::length(b - a)) return false;
    }
    return true;
}

// Whether what a ray meets first is a face the renderer draws towards it: the hit face, a face
// lying on it the other way round (a panel seen from both sides), or, where the ray meets an
// edge shared by several meshes, a drawn face of one of them.
bool MeetsDrawnFace(const scene::PickResults& hits, const glm::vec3& dir) {
    for (const scene::PickHit& hit : hits.Hits()) {
        if (hit.distance > hits[0].distance + 1e-3f) break;
        if (!hit.visual || hit.visual->Kind() != scene::VisualKind::MeshBuilder) return true;
        const auto& b = static_cast<const scene::MeshBuilder&>(*hit.visual);
        for (size_t i = 0; i < b.GetFaceCount(); ++i)
            if (DrawnFaceHolds(FaceCorners(b, *hit.frame, i), dir, hit.point)) return true;
    }
    return false;
}

} // namespace

// From the eye of a player standing or crouching at any spawn point, every look level or
// downwards ends on a drawn face of the map turned towards the player, never on nothing nor
// through a face drawn for the other side. Looking up, a map with a sky may show its sky box.
TEST_F(GameReaders, EveryMapIsClosedAroundEverySpawnPoint) {
    ASSERT_TRUE(ok_);
    std::vector<std::string> maps = {"couloirs", "entrepot"};
    for (const std::string& n : content::FileMapNames(Root()))
        maps.push_back(n);
    // Slopes of the sight lines; the shallow ones look far down the corridors and stairs.
    const float slopes[] = {-0.5f, -0.2f, -0.08f, -0.04f, -0.03f, -0.02f, -0.01f,
                            0.f,   0.01f, 0.02f,  0.04f,  0.08f,  0.2f,   0.5f};
    for (const std::string& name : maps) {
        SCOPED_TRACE(name);
        content::MapWorld w;
        content::BuildMap(w, Root(), name);
        ASSERT_EQ(w.error, "");
        const bool hasSky = !w.decorA->Visuals().empty() && name != "couloirs";
        PickWhatIsDrawn(*w.scene);
        // The sky box lives under decorA for file maps: picked apart from the map.
        auto sky = w.decorA;
        if (hasSky) w.decorA->SetTraversalOptions(scene::kFlagNone);
        int failures = 0;
        scene::PickResults hits;
        for (size_t i = 0; i < w.spawns.size() && failures < 5; ++i) {
            const float down = content::RayDistance(*w.scene, w.spawns[i], {0, -1, 0});
            ASSERT_GT(down, 0.f) << "spawn " << i;
            const glm::vec3 foot = w.spawns[i] - glm::vec3(0, down, 0);
            for (float eyeHeight : {5.2f, 2.6f})
                for (int k = 0; k < 64; ++k)
                    for (float slope : slopes) {
                        // Off the axes and diagonals, so no sight line runs along an edge.
                        const float a = (float(k) + 0.37f) * 0.09817477f;
                        const glm::vec3 eye = foot + glm::vec3(0, eyeHeight, 0);
                        const glm::vec3 dir =
                            glm::normalize(glm::vec3(std::cos(a), slope, std::sin(a)));
                        std::string fault;
                        if (scene::Pick(*w.scene, eye, dir, hits) == 0) {
                            bool seesSky = false;
                            if (hasSky && slope > 0) {
                                sky->SetTraversalOptions(scene::kFlagRenderedAndPickable);
                                seesSky = content::RayDistance(*w.scene, eye, dir) > 0;
                                sky->SetTraversalOptions(scene::kFlagNone);
                            }
                            if (!seesSky) fault = "looks into nothing";
                        } else if (!MeetsDrawnFace(hits, dir)) {
                            const glm::vec3 p = hits[0].point;
                            fault = "looks through the back of a face at " + std::to_string(p.x) +
                                    "," + std::to_string(p.y) + "," + std::to_string(p.z);
                        }
                        if (!fault.empty() && ++failures <= 5)
                            ADD_FAILURE()
                                << "spawn " << i << ", eye " << eyeHeight << ", direction " << dir.x
                                << "," << dir.y << "," << dir.z << ": " << fault;
                    }
        }
        EXPECT_EQ(failures, 0);
    }
}
