// tools/assetgen/character.cpp — the character model: terror.qc with hit boxes, the reference
// meshes of both teams (skin groups 0 and 1), every sequence the player code plays, the team
// skins TS<n>.bmp / GS<n>.bmp and the menu previews terror.x / gign.x.
#include "tools/assetgen/character.h"

#include <cmath>
#include <functional>

namespace assetgen {

namespace {

constexpr int kAtlas = 256;

// Atlas layout shared by every skin (pixels / 256).
constexpr Region kFace{0.f, 0.f, 0.5f, 0.25f};
constexpr Region kShirt{0.5f, 0.f, 1.f, 0.25f};
constexpr Region kPants{0.f, 0.25f, 0.5f, 0.5f};
constexpr Region kSleeve{0.5f, 0.25f, 1.f, 0.5f};
constexpr Region kBoots{0.f, 0.5f, 0.25f, 0.75f};
constexpr Region kHands{0.25f, 0.5f, 0.5f, 0.75f};
constexpr Region kNeckSkin{0.5f, 0.5f, 0.75f, 0.75f};
constexpr Region kGear{0.75f, 0.5f, 1.f, 0.75f};
constexpr Region kBelt{0.f, 0.75f, 0.5f, 1.f};

struct SkinStyle {
    glm::vec3 shirt, shirt2, pants, pants2, boots, skin, hood, gear;
    bool balaclava; // terrorists hide the face
    bool camo;
    const char* badge; // lettering on the chest ("" for none)
};

// Team 0 (terrorists) wears warm earth colours, team 1 (GIGN) dark blues and black.
const SkinStyle kTerrorSkins[] = {
    {{0.55f, 0.42f, 0.26f},
     {0.42f, 0.31f, 0.18f},
     {0.33f, 0.30f, 0.22f},
     {0.25f, 0.22f, 0.16f},
     {0.20f, 0.14f, 0.09f},
     {0.80f, 0.62f, 0.47f},
     {0.12f, 0.11f, 0.10f},
     {0.30f, 0.24f, 0.15f},
     true,
     false,
     ""},
    {{0.38f, 0.40f, 0.22f},
     {0.26f, 0.28f, 0.14f},
     {0.36f, 0.33f, 0.24f},
     {0.22f, 0.20f, 0.14f},
     {0.16f, 0.12f, 0.08f},
     {0.62f, 0.45f, 0.32f},
     {0.55f, 0.12f, 0.10f},
     {0.28f, 0.26f, 0.14f},
     true,
     true,
     ""},
    {{0.20f, 0.17f, 0.15f},
     {0.12f, 0.10f, 0.09f},
     {0.42f, 0.36f, 0.28f},
     {0.30f, 0.25f, 0.19f},
     {0.10f, 0.08f, 0.06f},
     {0.86f, 0.70f, 0.55f},
     {0.62f, 0.50f, 0.30f},
     {0.40f, 0.20f, 0.12f},
     false,
     false,
     ""},
};
const SkinStyle kGignSkins[] = {
    {{0.13f, 0.18f, 0.36f},
     {0.09f, 0.12f, 0.26f},
     {0.12f, 0.15f, 0.28f},
     {0.08f, 0.10f, 0.20f},
     {0.05f, 0.05f, 0.06f},
     {0.84f, 0.66f, 0.52f},
     {0.10f, 0.12f, 0.20f},
     {0.10f, 0.11f, 0.14f},
     false,
     false,
     "GIGN"},
    {{0.09f, 0.09f, 0.11f},
     {0.05f, 0.05f, 0.07f},
     {0.10f, 0.10f, 0.12f},
     {0.06f, 0.06f, 0.08f},
     {0.04f, 0.04f, 0.04f},
     {0.70f, 0.52f, 0.40f},
     {0.08f, 0.08f, 0.09f},
     {0.16f, 0.18f, 0.26f},
     true,
     false,
     "GIGN"},
    {{0.30f, 0.36f, 0.46f},
     {0.18f, 0.23f, 0.32f},
     {0.20f, 0.25f, 0.36f},
     {0.12f, 0.15f, 0.24f},
     {0.06f, 0.06f, 0.07f},
     {0.78f, 0.60f, 0.46f},
     {0.12f, 0.14f, 0.22f},
     {0.14f, 0.17f, 0.26f},
     false,
     true,
     "POLICE"},
};

// Fills a region with cloth: two colours mixed by noise, woven grain, optional camouflage.
void PaintCloth(Image& img, Region r, glm::vec3 a, glm::vec3 b, bool camo, uint32_t seed) {
    const int x0 = int(r.u0 * kAtlas), x1 = int(r.u1 * kAtlas);
    const int y0 = int(r.v0 * kAtlas), y1 = int(r.v1 * kAtlas);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const double n = Fbm(x / 16.0, y / 16.0, seed, 4);
            glm::vec3 c = glm::mix(a, b, float(n * 0.6));
            if (camo) {
                const double blob = Fbm(x / 22.0, y / 22.0, seed + 7, 3);
                if (blob > 0.58)
                    c = b * 0.75f;
                else if (blob < 0.40)
                    c = glm::mix(a, glm::vec3(0.5f, 0.45f, 0.3f), 0.4f);
            }
            const float weave = ((x + y) % 3 == 0) ? 0.93f : 1.0f;
            c *= weave * float(0.92 + 0.16 * Hash01(x, y, seed + 3));
            img.At(x, y) = c;
        }
}

Image PaintSkin(const SkinStyle& s, uint32_t seed) {
    Image img(kAtlas, kAtlas, glm::vec3(0.5f));
    PaintCloth(img, kShirt, s.shirt, s.shirt2, s.camo, seed + 1);
    PaintCloth(img, kPants, s.pants, s.pants2, s.camo, seed + 2);
    PaintCloth(img, kSleeve, s.shirt, s.shirt2, s.camo, seed + 3);
    PaintCloth(img, kBoots, s.boots, s.boots * 0.6f, false, seed + 4);
    PaintCloth(img, kHands, s.boots * 1.3f, s.boots, false, seed + 5); // gloves
    PaintCloth(img, kNeckSkin, s.skin, s.skin * 0.85f, false, seed + 6);
    PaintCloth(img, kGear, s.gear, s.gear * 0.7f, false, seed + 8);
    PaintCloth(img, kBelt, s.boots * 1.4f, s.boots, false, seed + 9);

    // Shirt: the front face of the torso boxes is u 0.5..0.75 of the region.
    const int sx0 = 128, sx1 = 256;
    const int frontX0 = sx0 + 64, frontX1 = sx0 + 96;
    // Zip / button line, pockets, a belt line at the bottom.
    img.FillRect((frontX0 + frontX1) / 2 - 1, 8, (frontX0 + frontX1) / 2 + 1, 56, s.shirt2 * 0.6f);
    img.FrameRect(frontX0 + 3, 14, frontX0 + 13, 24, s.shirt2 * 0.55f);
    img.FrameRect(frontX1 - 13, 14, frontX1 - 3, 24, s.shirt2 * 0.55f);
    img.FillRect(sx0, 54, sx1, 60, s.boots * 0.9f);
    img.FillRect(frontX0 + 12, 54, frontX0 + 20, 60, glm::vec3(0.65f, 0.6f, 0.45f)); // buckle
    if (s.badge[0]) {
        const int back0 = sx0; // the back face (u 0..0.25) carries the lettering
        const int w = Image::TextWidth(s.badge, 1);
        img.FillRect(back0 + 16 - w / 2 - 2, 18, back0 + 16 + w / 2 + 3, 28, s.shirt2 * 0.5f);
        img.Text(back0 + 16 - w / 2, 19, s.badge, 1, glm::vec3(0.95f, 0.95f, 0.9f));
        img.Text(frontX1 - 12, 26, s.badge[0] == 'G' ? "G" : "P", 1, glm::vec3(0.9f));
    }
    // Trouser seams and knee pads.
    for (int k = 0; k < 8; ++k)
        img.FillRect(k * 16, 64, k * 16 + 1, 128, s.pants2 * 0.7f);
    img.FillRect(0, 92, 128, 100, s.pants2 * 0.85f);

    // Head: the lathe's front face spans u 0.5..0.625, centred at 0.5625 -> x = 72.
    const int cx = 72;
    const glm::vec3 skin = s.skin;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) {
            const float fx = std::fabs(float(x) - cx) / 40.f;
            const bool face = fx < 1.f && y > 12 && y < 58;
            glm::vec3 c = face ? skin : s.hood;
            if (!face)
                c *= float(0.85 + 0.2 * Fbm(x / 8.0, y / 8.0, seed + 11, 3));
            else
                c *= float(0.95 + 0.08 * Fbm(x / 6.0, y / 6.0, seed + 12, 2));
            img.At(x, y) = c;
        }
    if (s.balaclava) {
        // Cloth over the whole head, an eye slit left open.
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                const bool slit = y >= 24 && y < 33 && std::abs(x - cx) < 20;
                if (!slit)
                    img.At(x, y) = s.hood * float(0.8 + 0.3 * Fbm(x / 5.0, y / 5.0, seed + 13, 3));
            }
    } else {
        // Hair above the forehead, mouth and nose.
        img.FillRect(cx - 40, 0, cx + 40, 18, s.hood);
        img.FillRect(cx - 7, 46, cx + 7, 49, skin * 0.55f);
        img.FillRect(cx - 2, 34, cx + 2, 42, skin * 0.8f);
    }
    // Eyes and brows.
    for (int side = -1; side <= 1; side += 2) {
        const int ex = cx + side * 9;
        img.FillRect(ex - 5, 27, ex + 5, 31, glm::vec3(0.95f));
        img.FillRect(ex - 2, 27, ex + 2, 31, glm::vec3(0.2f, 0.25f, 0.3f));
        img.FillRect(ex - 6, 23, ex + 6, 25, s.balaclava ? s.hood * 0.5f : s.hood);
    }
    // Boots: laces and soles; gloves: knuckles.
    img.FillRect(0, 180, 64, 192, glm::vec3(0.05f));
    for (int y = 134; y < 176; y += 6)
        img.FillRect(26, y, 38, y + 2, s.boots * 0.5f);
    for (int x = 68; x < 128; x += 8)
        img.FillRect(x, 170, x + 5, 176, s.boots * 0.8f);
    // Gear: vest plates and helmet.
    img.FrameRect(194, 130, 254, 190, s.gear * 0.5f);
    img.FillRect(200, 150, 248, 152, s.gear * 0.55f);
    return img;
}

// ---------------------------------------------------------------------------------------------
// Meshes of both teams

// Body parts in the reference pose, every triangle bound to one bone.
std::vector<SmdTri> BuildBody(int team) {
    std::vector<SmdTri> t;
    const glm::vec3 X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);
    const glm::vec3 F(0, -1, 0); // forward

    Box(t, kPelvis, {-5.4f, -3.2f, -5.f}, {5.4f, 3.2f, 3.f}, kPants);
    Box(t, kSpine, {-5.2f, -3.1f, 2.5f}, {5.2f, 3.0f, 8.2f}, kShirt);
    Box(t, kSpine1, {-5.5f, -3.3f, 8.f}, {5.5f, 3.2f, 13.2f}, kShirt);
    Lathe(t, kSpine2, {0, 0.1f, 13.f}, Z, X, F, {{0, 5.9f, 3.5f}, {5.2f, 6.3f, 3.8f}}, 4, kShirt);
    Lathe(t, kSpine3, {0, 0.2f, 18.f}, Z, X, F,
          {{0, 6.3f, 3.7f}, {3.2f, 6.6f, 3.3f}, {4.6f, 4.4f, 2.6f}}, 4, kShirt);
    Lathe(t, kNeck, {0, 0.3f, 22.f}, Z, X, F, {{0, 1.7f, 1.7f}, {4.6f, 1.6f, 1.6f}}, 8, kNeckSkin);
    Lathe(t, kHead, {0, -0.2f, 25.3f}, Z, X, F,
          {{0, 1.9f, 2.3f},
           {1.4f, 3.0f, 3.5f},
           {4.2f, 3.6f, 4.0f},
           {7.5f, 3.4f, 3.7f},
           {9.8f, 1.8f, 2.0f}},
          8, kFace);
    for (int side = -1; side <= 1; side += 2) {
        const float sx = float(side);
        const int upper = side > 0 ? kLUpperArm : kRUpperArm;
        const int fore = side > 0 ? kLForearm : kRForearm;
        const int hand = side > 0 ? kLHand : kRHand;
        const int thigh = side > 0 ? kLThigh : kRThigh;
        const int calf = side > 0 ? kLCalf : kRCalf;
        const int foot = side > 0 ? kLFoot : kRFoot;
        Lathe(t, upper, {7.5f * sx, 0, 23.f}, -Z, X, F, {{0, 1.9f, 2.0f}, {13.6f, 1.5f, 1.6f}}, 8,
              kSleeve);
        Lathe(t, fore, {7.5f * sx, 0, 9.6f}, -Z, X, F, {{0, 1.55f, 1.6f}, {11.f, 1.1f, 1.2f}}, 8,
              kSleeve);
        Box(t, hand, {7.5f * sx - 0.8f, -1.3f, -5.6f}, {7.5f * sx + 0.8f, 1.3f, -1.2f}, kHands);
        Lathe(t, thigh, {4.f * sx, 0, 0.5f}, -Z, X, F, {{0, 2.7f, 2.9f}, {19.6f, 2.0f, 2.2f}}, 8,
              kPants);
        Lathe(t, calf, {4.f * sx, 0, -19.f}, -Z, X, F, {{0, 2.0f, 2.2f}, {15.5f, 1.5f, 1.6f}}, 8,
              kPants);
        Box(t, foot, {4.f * sx - 1.6f, -5.6f, -37.f}, {4.f * sx + 1.6f, 1.7f, -34.f}, kBoots);
        Box(t, calf, {4.f * sx - 1.7f, -1.9f, -34.5f}, {4.f * sx + 1.7f, 1.9f, -29.f}, kBoots);
    }
    if (team == 1) {
        // GIGN: helmet with visor rim and a plated vest.
        Lathe(t, kHead, {0, 0.2f, 30.2f}, Z, X, F,
              {{0, 4.3f, 4.6f}, {2.8f, 4.2f, 4.5f}, {4.8f, 2.6f, 2.9f}, {5.6f, 0.6f, 0.6f}}, 8,
              kGear);
        Box(t, kSpine2, {-6.4f, -4.2f, 12.5f}, {6.4f, 4.2f, 18.5f}, kGear);
        Box(t, kSpine1, {-5.9f, -3.8f, 8.5f}, {5.9f, 3.8f, 12.5f}, kGear);
    } else {
        // Terrorists: ammunition pouches on the belt and a bandolier strap.
        Box(t, kPelvis, {-4.5f, -4.4f, -0.5f}, {-1.5f, -3.1f, 2.5f}, kBelt);
        Box(t, kPelvis, {1.5f, -4.4f, -0.5f}, {4.5f, -3.1f, 2.5f}, kBelt);
        Box(t, kSpine2, {-4.5f, -4.0f, 13.5f}, {4.5f, -3.5f, 15.f}, kBelt, RotY(-30), {0, 0, 14});
    }
    return t;
}

// ---------------------------------------------------------------------------------------------
// Poses and sequences

const std::vector<Bone>& B() {
    return BipedBones();
}

// Legs placed by their ankle targets (model coordinates), knees forward.
void PlaceLegs(Pose& p, glm::vec3 leftAnkle, glm::vec3 rightAnkle, const glm::mat3& leftFoot,
               const glm::mat3& rightFoot) {
    const glm::vec3 knee(0, -1, 0.05f);
    SolveLimb(B(), p, kLThigh, kLCalf, kLFoot, leftAnkle, knee, {0, -1, 0}, leftFoot);
    SolveLimb(B(), p, kRThigh, kRCalf, kRFoot, rightAnkle, knee, {0, -1, 0}, rightFoot);
}

// Arms hanging at the sides, swung by `swing` degrees (positive: left arm forward).
void HangArms(Pose& p, float swing, float elbow) {
    p.rot[kLUpperArm] = RotX(-swing) * RotY(-6);
    p.rot[kRUpperArm] = RotX(swing) * RotY(6);
    p.rot[kLForearm] = RotX(-elbow);
    p.rot[kRForearm] = RotX(-elbow);
}

Pose StandingBase() {
    Pose p = RestPose(B().size());
    PlaceLegs(p, {4.2f, 0.3f, -35.f}, {-4.2f, 0.3f, -35.f}, glm::mat3(1), glm::mat3(1));
    HangArms(p, 0, 10);
    return p;
}

// A frame count and a function of the frame number.
struct Sequence {
    std::string name;
    int frames; // last frame number
    std::function<Pose(int)> pose;
};

Pose Idle(int f, bool crouch) {
    const float ph = float(f) / 30.f * 6.2831853f;
    Pose p = RestPose(B().size());
    if (!crouch) {
        p.rootPos = {0, 0, -0.25f + 0.25f * std::cos(ph)};
        PlaceLegs(p, {4.2f, 0.3f, -35.f}, {-4.4f, -0.6f, -35.f}, glm::mat3(1), RotZ(-8));
        p.rot[kSpine1] = RotX(1.0f * std::sin(ph));
        HangArms(p, 2 * std::sin(ph), 12);
    } else {
        // Deep crouch: pelvis 4 units down, soles 18 below the origin.
        p.rootPos = {0, 0, -4.f + 0.2f * std::cos(ph)};
        PlaceLegs(p, {4.6f, 1.0f, -16.f}, {-4.6f, -2.5f, -16.f}, glm::mat3(1), glm::mat3(1));
        p.rot[kSpine] = RotX(14);
        p.rot[kSpine1] = RotX(6 + 1.0f * std::sin(ph));
        p.rot[kNeck] = RotX(-14);
        HangArms(p, 25, 40);
    }
    return p;
}

Pose Run(int f, bool crouch) {
    const float period = 20.f;
    const float ph = float(f) / period * 6.2831853f;
    Pose p = RestPose(B().size());
    const float stride = crouch ? 4.5f : 7.f, lift = crouch ? 2.5f : 4.5f;
    const float ground = crouch ? -16.f : -35.f;
    auto foot = [&](float phase, float x) {
        // Swing (lifted, moving forward) during the first half, stance during the second.
        const float y = stride * std::cos(phase);
        const float up = std::max(0.f, std::sin(phase)) * lift;
        return glm::vec3(x, y, ground + up);
    };
    const glm::vec3 l = foot(ph, 4.2f), r = foot(ph + 3.14159265f, -4.2f);
    const float bob = 0.5f * std::cos(2 * ph);
    p.rootPos = {0, 0, (crouch ? -4.f : -1.6f) + bob};
    const float toeL = std::max(0.f, std::sin(ph)) * 25.f,
                toeR = std::max(0.f, -std::sin(ph)) * 25.f;
    PlaceLegs(p, l, r, RotX(-toeL * 0.6f), RotX(-toeR * 0.6f));
    p.rot[kSpine] = RotX(crouch ? 16.f : 8.f) * RotZ(6 * std::sin(ph));
    p.rot[kSpine2] = RotZ(-6 * std::sin(ph));
    p.rot[kNeck] = RotX(crouch ? -16.f : -8.f);
    HangArms(p, 30 * std::cos(ph), 50);
    return p;
}

Pose Death(int f) {
    // Key poses: hit, knees buckle, falling backwards, lying on the back.
    Pose k0 = StandingBase();
    Pose k1 = RestPose(B().size());
    k1.rootPos = {0, 0, -6};
    PlaceLegs(k1, {4.5f, -3.f, -35.f}, {-4.5f, -1.f, -35.f}, glm::mat3(1), glm::mat3(1));
    k1.rot[kSpine] = RotX(-12);
    k1.rot[kNeck] = RotX(-20);
    k1.rot[kLUpperArm] = RotY(-40) * RotX(-30);
    k1.rot[kRUpperArm] = RotY(45) * RotX(-20);
    k1.rot[kLForearm] = RotX(-40);
    k1.rot[kRForearm] = RotX(-50);
    Pose k2 = k1;
    k2.rootPos = {0, 0, -22};
    k2.rot[kRoot] = RotX(-55);
    k2.rot[kLThigh] = RotX(-35), k2.rot[kRThigh] = RotX(-20);
    k2.rot[kLCalf] = RotX(30), k2.rot[kRCalf] = RotX(20);
    k2.rot[kLFoot] = glm::mat3(1), k2.rot[kRFoot] = glm::mat3(1);
    k2.rot[kLUpperArm] = RotY(-80) * RotX(-40);
    k2.rot[kRUpperArm] = RotY(85) * RotX(-30);
    Pose k3 = RestPose(B().size());
    k3.rootPos = {0, 0, -33.6f};
    k3.rot[kRoot] = RotX(-90);
    k3.rot[kLThigh] = RotY(8) * RotX(-4);
    k3.rot[kRThigh] = RotY(-10) * RotX(-2);
    k3.rot[kLFoot] = RotY(15), k3.rot[kRFoot] = RotY(-20);
    k3.rot[kHead] = RotZ(25) * RotX(-6);
    k3.rot[kLUpperArm] = RotY(-75) * RotX(6);
    k3.rot[kRUpperArm] = RotY(95) * RotX(3);
    k3.rot[kLForearm] = RotY(-20);
    k3.rot[kRForearm] = RotX(10);
    if (f <= 6) return Blend(k0, k1, float(f) / 6.f);
    if (f <= 16) {
        const float t = float(f - 6) / 10.f;
        return Blend(k1, k2, t * t);
    }
    if (f <= 24) {
        const float t = float(f - 16) / 8.f;
        return Blend(k2, k3, t * (2 - t));
    }
    return k3; // lies still until the last frame
}

// Hands of each weapon class in the aiming pose: right wrist and left wrist (model coords).
struct Grip {
    const char* cls;
    glm::vec3 right, left;
};
constexpr Grip kGrips[] = {
    {"onehanded", {-3.f, -18.f, 14.f}, {-1.2f, -17.5f, 11.5f}},
    {"carbine", {-3.5f, -13.f, 14.f}, {-2.f, -19.f, 14.f}},
    {"mp5", {-3.5f, -12.f, 13.f}, {-2.f, -19.f, 13.f}},
    {"rifle", {-3.5f, -12.f, 17.f}, {-2.f, -19.f, 17.f}},
    {"m249", {-4.5f, -10.f, 9.f}, {-2.f, -17.f, 9.5f}},
    {"shotgun", {-3.5f, -12.f, 15.f}, {-2.f, -19.f, 15.f}},
};

// Upper body holding a weapon: hands at the given wrists, the weapon level and forward.
Pose Hold(glm::vec3 right, glm::vec3 left, float spinePitch, const glm::mat3& weapon) {
    Pose p = StandingBase();
    p.rot[kSpine1] = RotX(spinePitch);
    p.rot[kSpine2] = RotZ(-6);
    p.rot[kNeck] = RotZ(8) * RotX(-spinePitch);
    p.rot[kHead] = RotX(4);
    SolveLimb(B(), p, kRUpperArm, kRForearm, kRHand, right, {-1, 0.4f, -0.7f}, {0, 1, 0}, weapon);
    SolveLimb(B(), p, kLUpperArm, kLForearm, kLHand, left, {0.6f, 0.3f, -1}, {0, 1, 0},
              weapon * RotY(-20));
    return p;
}

Pose Aim(const Grip& g, int f) {
    const float breath = 0.3f * std::sin(float(f) / 10.f * 6.2831853f);
    return Hold(g.right + glm::vec3(0, 0, breath), g.left + glm::vec3(0, 0, breath), 2,
                glm::mat3(1));
}

Pose Shoot(const Grip& g, int f) {
    // Kick on frame 1, settle back by frame 4.
    static constexpr float kKick[] = {0.f, 1.f, 0.55f, 0.2f, 0.f};
    const float k = kKick[std::min(f, 4)];
    const glm::vec3 back(0, 2.2f * k, 1.0f * k);
    return Hold(g.right + back, g.left + back, 2 - 4 * k, RotX(-8 * k));
}

Pose Reload(const Grip& g, int f, bool pump) {
    const float t = float(f) / 30.f;
    // Weapon lowered and tilted, left hand fetching a magazine (or working the pump).
    const float low = std::sin(std::min(t, 0.9f) / 0.9f * 3.14159265f);
    const glm::vec3 right = g.right + glm::vec3(0.5f, 1.5f, -3.5f) * low;
    const glm::mat3 tilt = RotY(-20 * low) * RotX(18 * low);
    glm::vec3 left = g.left + glm::vec3(0, 0, -3.5f) * low;
    if (pump) {
        left += glm::vec3(0, 3.f * std::max(0.f, std::sin(t * 4 * 3.14159265f)), 0) * low;
    } else {
        const float fetch = std::max(0.f, std::sin((t - 0.2f) / 0.5f * 3.14159265f));
        if (t > 0.2f && t < 0.7f) left = glm::mix(left, glm::vec3(5.5f, -4.f, 4.f), fetch);
    }
    return Hold(right, left, 2 + 6 * low, tilt);
}

std::vector<Sequence> Sequences() {
    std::vector<Sequence> s;
    // Crouched sets first: requests are matched by substring, "crouch_idle1" contains "idle1".
    s.push_back({"crouch_idle1", 30, [](int f) { return Idle(f, true); }});
    s.push_back({"crouch_run", 20, [](int f) { return Run(f, true); }});
    s.push_back({"idle1", 30, [](int f) { return Idle(f, false); }});
    s.push_back({"run", 20, [](int f) { return Run(f, false); }});
    s.push_back({"death1", 36, [](int f) { return Death(f); }});
    for (const Grip& g : kGrips) {
        const std::string c = g.cls;
        s.push_back({"ref_aim_" + c + "_blend", 10, [g](int f) { return Aim(g, f); }});
        s.push_back({"ref_shoot_" + c + "_blend", 4, [g](int f) { return Shoot(g, f); }});
        const bool pump = c == "shotgun";
        s.push_back(
            {"ref_reload_" + c + "_blend", 30, [g, pump](int f) { return Reload(g, f, pump); }});
    }
    return s;
}

// One hit box per line: bone, min and max corner in the bone's axes.
struct HitBoxDef {
    int group;
    int bone;
    glm::vec3 lo, hi;
};
const HitBoxDef kHitBoxes[] = {
    {1, kHead, {-4.f, -4.6f, -0.8f}, {4.f, 4.4f, 10.f}},
    {3, kSpine1, {-6.2f, -4.f, -5.f}, {6.2f, 4.f, 14.f}},
    {2, kPelvis, {-5.6f, -3.4f, -5.2f}, {5.6f, 3.4f, 3.f}},
    {4, kLUpperArm, {-2.f, -2.1f, -12.5f}, {2.f, 2.1f, 1.5f}},
    {4, kLForearm, {-1.7f, -1.7f, -15.5f}, {1.7f, 1.7f, 0.f}},
    {5, kRUpperArm, {-2.f, -2.1f, -12.5f}, {2.f, 2.1f, 1.5f}},
    {5, kRForearm, {-1.7f, -1.7f, -15.5f}, {1.7f, 1.7f, 0.f}},
    {6, kLThigh, {-2.8f, -3.f, -17.5f}, {2.8f, 3.f, 2.5f}},
    {6, kLCalf, {-2.2f, -2.3f, -18.f}, {2.2f, 5.6f, 0.f}},
    {7, kRThigh, {-2.8f, -3.f, -17.5f}, {2.8f, 3.f, 2.5f}},
    {7, kRCalf, {-2.2f, -2.3f, -18.f}, {2.2f, 5.6f, 0.f}},
};

std::string QcText(const std::vector<Sequence>& seqs) {
    std::string q = "// Tarnhold character: both teams share one skeleton.\n";
    q += "$modelname \"terror.mdl\"\n$cd \".\"\n$cdtexture \".\"\n$scale 1.0\n\n";
    // Hit boxes come before the body group: boxes are attached while the skeleton is built.
    for (const HitBoxDef& h : kHitBoxes)
        q += "$hbox " + std::to_string(h.group) + " \"" + B()[size_t(h.bone)].name + "\" " +
             Num(h.lo.x) + " " + Num(h.lo.y) + " " + Num(h.lo.z) + "  " + Num(h.hi.x) + " " +
             Num(h.hi.y) + " " + Num(h.hi.z) + "\n";
    q += "\n$bodygroup \"body\"\n{\n\tstudio \"terror\"\n\tstudio \"gign\"\n}\n\n";
    for (const Sequence& s : seqs)
        q += "$sequence \"" + s.name + "\" \"" + s.name + "\"" +
             (s.name == "death1" ? "" : " loop") + " fps 30\n";
    return q;
}

std::string SequenceSmd(const Sequence& s) {
    std::string t = "version 1\nnodes\n";
    for (size_t i = 0; i < B().size(); ++i)
        t += std::to_string(i) + " \"" + B()[i].name + "\" " + std::to_string(B()[i].parent) + "\n";
    t += "end\nskeleton\n";
    for (int f = 0; f <= s.frames; ++f)
        SmdFrame(t, f, B(), s.pose(f));
    t += "end\n";
    return t;
}

} // namespace

// ---------------------------------------------------------------------------------------------

Image TeamSkin(int team, int index) {
    return team == 0 ? PaintSkin(kTerrorSkins[index], 100u + uint32_t(index) * 10u)
                     : PaintSkin(kGignSkins[index], 200u + uint32_t(index) * 10u);
}

std::vector<SmdTri> CharacterMesh(int team) {
    return BuildBody(team);
}

Pose CharacterAimPose(const std::string& weaponClass) {
    for (const Grip& g : kGrips)
        if (weaponClass == g.cls) return Aim(g, 0);
    return StandingBase();
}

XMesh PreviewMesh(const std::vector<SmdTri>& tris, const Pose& pose, int material) {
    // Posed vertices, then the model's axes as the game shows it: x right, y up, z forward.
    const std::vector<glm::mat4> w = WorldTransforms(B(), pose);
    const std::vector<glm::mat4> restW = WorldTransforms(B(), RestPose(B().size()));
    XMesh m;
    m.frameName = "personnage";
    for (const SmdTri& t : tris) {
        const glm::mat4 bind = w[size_t(t.bone)]; // rest rotations are identities
        const glm::vec3 rest = glm::vec3(restW[size_t(t.bone)][3]);
        Poly p;
        p.material = material;
        for (int k = 2; k >= 0; --k) { // the axis change mirrors, so the order turns
            const glm::vec3 local = t.v[k].p - rest;
            const glm::vec3 q = glm::vec3(bind * glm::vec4(local, 1));
            const glm::vec3 n = glm::mat3(bind) * t.v[k].n;
            p.p.push_back({-q.x, q.z, -q.y});
            p.n.push_back({-n.x, n.z, -n.y});
            p.uv.push_back(t.v[k].uv);
        }
        m.polys.push_back(std::move(p));
    }
    return m;
}

void GenerateCharacter(Output& out) {
    const std::vector<SmdTri> terror = BuildBody(0), gign = BuildBody(1);
    const Pose ref = RestPose(B().size());
    out.WriteText("models/terror.smd",
                  SmdHeader(B(), ref) + SmdTriangles(terror, "TS1.bmp", nullptr));
    out.WriteText("models/gign.smd", SmdHeader(B(), ref) + SmdTriangles(gign, "GS1.bmp", nullptr));
    const std::vector<Sequence> seqs = Sequences();
    for (const Sequence& s : seqs)
        out.WriteText("models/" + s.name + ".smd", SequenceSmd(s));
    out.WriteText("models/terror.qc", QcText(seqs));

    for (int i = 0; i < 3; ++i) {
        const Image ts = TeamSkin(0, i), gs = TeamSkin(1, i);
        out.WriteBytes("models/TS" + std::to_string(i + 1) + ".bmp", ts.EncodeBmp24());
        out.WriteBytes("models/GS" + std::to_string(i + 1) + ".bmp", gs.EncodeBmp24());
        if (i == 0) {
            out.WriteBytes("models/terror2_0.bmp", ts.EncodeBmp24());
            out.WriteBytes("models/gign2_0.bmp", gs.EncodeBmp24());
        }
    }
    const Pose preview = CharacterAimPose("rifle");
    out.WriteBytes("models/terror.x", EncodeXFile({{"skin", glm::vec3(1), 10.f, "terror2_0.bmp"}},
                                                  {PreviewMesh(terror, preview, 0)}));
    out.WriteBytes("models/gign.x", EncodeXFile({{"skin", glm::vec3(1), 10.f, "gign2_0.bmp"}},
                                                {PreviewMesh(gign, preview, 0)}));
}

} // namespace assetgen
