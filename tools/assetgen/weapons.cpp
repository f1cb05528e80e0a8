// tools/assetgen/weapons.cpp — the twelve weapons: QC files, reference SMDs carrying the
// character's skeleton with the weapon bound rigidly to "Bip01 R Hand" and a "flash" bone at
// the muzzle, weapon textures and the 640_<name>.bmp inventory pictures.
#include "tools/assetgen/skeleton.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

// Texture bands of a weapon atlas.
constexpr Region kDark{0.f, 0.f, 1.f, 0.25f};
constexpr Region kSteel{0.f, 0.25f, 1.f, 0.5f};
constexpr Region kWood{0.f, 0.5f, 1.f, 0.75f};
constexpr Region kPolymer{0.f, 0.75f, 1.f, 1.f};

enum Stock { kNoStock, kWireStock, kSolidStock, kBullpup, kThumbhole };
enum Mag { kStraight, kCurved, kBoxMag, kTopMag, kTube };

// A weapon in the hand's axes (origin at the wrist, forward -y, up +z, right -x).
struct WeaponDef {
    const char* name;
    const char* cls;
    float rear, front;    // receiver from y = rear to y = front (front < 0)
    float height, width;  // receiver
    float barrel, radius; // barrel beyond the receiver
    Stock stock;
    float stockLen;
    Mag mag;
    float magLen, magAt; // magazine length and its y position
    bool scope, bipod, pump, handle;
    float guard; // handguard length in front of the receiver
    Region body, furniture;
};

// clang-format off
const WeaponDef kWeapons[] = {
    {"mac10", "onehanded", 2.0f, -5.5f, 2.6f, 1.1f, 1.6f, 0.35f, kWireStock, 5.f, kStraight, 4.5f, 0.f, false, false, false, false, 0.f, kDark, kDark},
    {"ump45", "carbine", 3.0f, -9.f, 2.8f, 1.2f, 2.5f, 0.4f, kSolidStock, 8.f, kStraight, 5.5f, -3.5f, false, false, false, false, 3.f, kPolymer, kPolymer},
    {"aug", "carbine", 9.0f, -6.f, 3.2f, 1.4f, 5.f, 0.35f, kBullpup, 0.f, kStraight, 4.5f, 3.5f, true, false, false, false, 2.f, kPolymer, kSteel},
    {"p90", "carbine", 8.0f, -8.f, 3.4f, 1.5f, 1.5f, 0.35f, kBullpup, 0.f, kTopMag, 12.f, -1.f, false, false, false, false, 0.f, kPolymer, kDark},
    {"mp5", "mp5", 3.0f, -9.f, 2.6f, 1.2f, 2.0f, 0.4f, kSolidStock, 8.f, kCurved, 5.5f, -4.5f, false, false, false, false, 4.f, kDark, kDark},
    {"ak47", "mp5", 3.0f, -10.f, 2.8f, 1.2f, 7.f, 0.35f, kSolidStock, 10.f, kCurved, 7.f, -5.f, false, false, false, false, 5.f, kSteel, kWood},
    {"m4a1", "rifle", 3.0f, -9.f, 3.0f, 1.2f, 8.f, 0.35f, kSolidStock, 9.f, kStraight, 6.f, -4.f, true, false, false, true, 6.f, kDark, kDark},
    {"sg550", "rifle", 3.0f, -10.f, 3.0f, 1.3f, 9.f, 0.35f, kThumbhole, 10.f, kCurved, 6.f, -4.5f, true, true, false, false, 6.f, kPolymer, kPolymer},
    {"sg552", "rifle", 3.0f, -9.f, 3.0f, 1.3f, 5.f, 0.35f, kWireStock, 8.f, kCurved, 6.f, -4.5f, true, false, false, false, 5.f, kPolymer, kDark},
    {"m249", "m249", 4.0f, -12.f, 3.6f, 1.8f, 10.f, 0.45f, kSolidStock, 10.f, kBoxMag, 5.f, -5.f, false, true, false, true, 5.f, kDark, kPolymer},
    {"m3", "shotgun", 3.0f, -6.f, 3.0f, 1.3f, 14.f, 0.5f, kSolidStock, 10.f, kTube, 13.f, 0.f, false, false, true, false, 0.f, kDark, kPolymer},
    {"awp", "rifle", 4.0f, -8.f, 3.0f, 1.3f, 17.f, 0.45f, kThumbhole, 12.f, kBoxMag, 3.5f, -3.f, true, false, false, false, 6.f, kPolymer, kPolymer},
};
// clang-format on

constexpr glm::vec3 kZ(0, 0, 1), kX(1, 0, 0), kFwd(0, -1, 0);

// The weapon's parts, in hand coordinates; the caller moves them into the reference pose.
std::vector<SmdTri> BuildWeapon(const WeaponDef& w, glm::vec3& muzzle) {
    std::vector<SmdTri> t;
    const int b = kRHand;
    const float hw = w.width * 0.5f;
    const float base = 0.2f, top = base + w.height;
    // Pistol grip in the hand, slightly raked.
    Box(t, b, {-0.55f, -0.9f, -4.2f}, {0.55f, 0.9f, base + 0.2f}, w.furniture, RotX(-12),
        {0, 0, base});
    // Trigger guard.
    Box(t, b, {-0.2f, -3.2f, base - 1.2f}, {0.2f, -0.9f, base - 0.9f}, w.body);
    // Receiver.
    Box(t, b, {-hw, w.front, base}, {hw, w.rear, top}, w.body);
    Box(t, b, {-hw * 0.8f, w.front + 0.5f, top}, {hw * 0.8f, w.rear - 0.5f, top + 0.35f}, kSteel);
    // Handguard and barrel.
    const float barrelZ = base + w.height * 0.62f;
    if (w.guard > 0)
        Lathe(t, b, {0, w.front, barrelZ}, kFwd, kX, kZ,
              {{0, hw * 1.05f, w.height * 0.5f}, {w.guard, hw * 0.95f, w.height * 0.42f}}, 8,
              w.furniture);
    const float barrelLen = w.barrel + w.guard;
    Lathe(t, b, {0, w.front, barrelZ}, kFwd, kX, kZ,
          {{0, w.radius, w.radius}, {barrelLen, w.radius, w.radius}}, 8, kDark);
    // Muzzle brake / flash hider.
    Lathe(t, b, {0, w.front - barrelLen, barrelZ}, kFwd, kX, kZ,
          {{0, w.radius * 1.5f, w.radius * 1.5f}, {1.2f, w.radius * 1.4f, w.radius * 1.4f}}, 8,
          kDark);
    muzzle = {0, w.front - barrelLen - 1.2f, barrelZ};
    // Front sight post.
    Box(t, b, {-0.12f, muzzle.y + 1.6f, barrelZ},
        {0.12f, muzzle.y + 2.1f, barrelZ + w.radius + 0.9f}, kDark);
    // Stock.
    switch (w.stock) {
    case kWireStock:
        Box(t, b, {-hw * 0.9f, w.rear, top - 0.6f},
            {-hw * 0.9f + 0.25f, w.rear + w.stockLen, top - 0.3f}, kSteel);
        Box(t, b, {hw * 0.9f - 0.25f, w.rear, top - 0.6f},
            {hw * 0.9f, w.rear + w.stockLen, top - 0.3f}, kSteel);
        Box(t, b, {-hw, w.rear + w.stockLen, base - 1.5f}, {hw, w.rear + w.stockLen + 0.5f, top},
            kSteel);
        break;
    case kSolidStock:
        Lathe(t, b, {0, w.rear, base + w.height * 0.55f}, -kFwd, kX, kZ,
              {{0, hw, w.height * 0.45f}, {w.stockLen, hw * 1.1f, w.height * 0.85f}}, 4,
              w.furniture);
        break;
    case kThumbhole:
        Box(t, b, {-hw, w.rear, top - 1.2f}, {hw, w.rear + w.stockLen, top}, w.furniture);
        Box(t, b, {-hw, w.rear + w.stockLen * 0.55f, base - 2.5f}, {hw, w.rear + w.stockLen, top},
            w.furniture);
        Box(t, b, {-hw, w.rear, base - 0.5f}, {hw, w.rear + w.stockLen * 0.2f, top - 1.2f},
            w.furniture);
        break;
    case kBullpup:
        Box(t, b, {-hw, w.rear - 0.5f, base - 2.2f}, {hw, w.rear + 1.0f, top}, w.furniture);
        break;
    case kNoStock:
        break;
    }
    // Magazine.
    switch (w.mag) {
    case kStraight:
        Box(t, b, {-hw * 0.7f, w.magAt - 0.9f, base - w.magLen}, {hw * 0.7f, w.magAt + 0.9f, base},
            kDark);
        break;
    case kCurved:
        for (int i = 0; i < 3; ++i) {
            const float seg = w.magLen / 3.f;
            const float y = w.magAt - 1.0f * float(i) * float(i) * 0.35f - 0.6f * float(i);
            Box(t, b, {-hw * 0.7f, y - 1.0f, base - seg * float(i + 1)},
                {hw * 0.7f, y + 1.0f, base - seg * float(i)},
                w.mag == kCurved && w.furniture.v0 == kWood.v0 ? kSteel : kDark,
                RotX(-12.f * float(i)), {0, y, base - seg * float(i)});
        }
        break;
    case kBoxMag:
        Box(t, b, {-hw * 1.3f, w.magAt - 2.2f, base - w.magLen}, {hw * 1.1f, w.magAt + 2.2f, base},
            w.furniture);
        break;
    case kTopMag:
        Box(t, b, {-hw * 0.9f, w.front + 0.5f, top}, {hw * 0.9f, w.front + w.magLen, top + 1.0f},
            kSteel);
        break;
    case kTube:
        Lathe(t, b, {0, w.front, base + 0.5f}, kFwd, kX, kZ,
              {{0, w.radius * 0.9f, w.radius * 0.9f}, {w.magLen, w.radius * 0.9f, w.radius * 0.9f}},
              8, kDark);
        break;
    }
    if (w.pump)
        Lathe(t, b, {0, w.front - 3.f, base + 0.6f}, kFwd, kX, kZ,
              {{0, 1.0f, 0.9f}, {5.f, 1.0f, 0.9f}}, 8, w.furniture);
    if (w.handle)
        Box(t, b, {-0.3f, w.front + 1.f, top + 0.35f}, {0.3f, w.rear - 1.5f, top + 1.5f}, w.body);
    if (w.scope) {
        const float sz = top + (w.handle ? 2.8f : 1.5f);
        Box(t, b, {-0.3f, w.front + 2.f, top}, {0.3f, w.front + 3.f, sz}, kDark);
        Box(t, b, {-0.3f, w.rear - 3.f, top}, {0.3f, w.rear - 2.f, sz}, kDark);
        Lathe(t, b, {0, w.rear - 0.5f, sz + 0.6f}, kFwd, kX, kZ,
              {{0, 0.75f, 0.75f},
               {1.5f, 0.55f, 0.55f},
               {w.rear - w.front - 2.f, 0.55f, 0.55f},
               {w.rear - w.front - 0.5f, 0.85f, 0.85f}},
              8, kDark);
    }
    if (w.bipod)
        for (int s = -1; s <= 1; s += 2)
            Box(t, b, {float(s) * 0.5f - 0.12f, muzzle.y + 3.f, barrelZ - 5.f},
                {float(s) * 0.5f + 0.12f, muzzle.y + 3.3f, barrelZ}, kSteel, RotY(float(s) * 15.f),
                {0, muzzle.y + 3.f, barrelZ});
    return t;
}

Image PaintWeaponTexture(const WeaponDef& w, uint32_t seed) {
    Image img(64, 64);
    const glm::vec3 bands[4] = {
        {0.11f, 0.11f, 0.12f}, {0.32f, 0.33f, 0.35f}, {0.45f, 0.26f, 0.12f}, {0.16f, 0.17f, 0.14f}};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int band = y / 16;
            glm::vec3 c = bands[band];
            if (band == 2) // wood grain
                c *= float(0.8 + 0.35 * std::sin(x * 0.9 + 6 * Fbm(x / 8.0, y / 3.0, seed, 3)));
            else
                c *= float(0.9 + 0.2 * Fbm(x / 4.0, y / 4.0, seed + uint32_t(band), 3));
            if (band == 3 && std::string(w.name) == "sg550") c = glm::vec3(0.20f, 0.24f, 0.16f);
            img.At(x, y) = c;
        }
    return img;
}

// Side view of the weapon for the inventory window: flat-shaded triangles, far ones first.
Image PaintInventoryPicture(const WeaponDef& w, const std::vector<SmdTri>& tris, const Image& tex) {
    Image img(192, 96, glm::vec3(0.16f, 0.17f, 0.15f));
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 192; ++x)
            img.At(x, y) = glm::vec3(0.13f, 0.14f, 0.12f) + glm::vec3(0.06f) * float(y) / 96.f;
    img.FrameRect(0, 0, 192, 96, glm::vec3(0.45f, 0.42f, 0.3f));
    float y0 = 1e9f, y1 = -1e9f, z0 = 1e9f, z1 = -1e9f;
    for (const SmdTri& t : tris)
        for (const SmdVertex& v : t.v)
            y0 = std::min(y0, v.p.y), y1 = std::max(y1, v.p.y), z0 = std::min(z0, v.p.z),
            z1 = std::max(z1, v.p.z);
    const float scale = std::min(176.f / (y1 - y0), 64.f / (z1 - z0));
    const float ox = 96 + (y1 + y0) * 0.5f * scale, oy = 46 + (z1 + z0) * 0.5f * scale;
    std::vector<const SmdTri*> order;
    for (const SmdTri& t : tris)
        order.push_back(&t);
    std::stable_sort(order.begin(), order.end(), [](const SmdTri* a, const SmdTri* b) {
        return a->v[0].p.x + a->v[1].p.x + a->v[2].p.x > b->v[0].p.x + b->v[1].p.x + b->v[2].p.x;
    });
    for (const SmdTri* t : order) {
        glm::vec2 p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = {ox - t->v[k].p.y * scale, oy - t->v[k].p.z * scale};
        const glm::vec3 n = glm::normalize(t->v[0].n + t->v[1].n + t->v[2].n + glm::vec3(1e-6f));
        const float light =
            0.35f +
            0.65f * std::max(0.f, glm::dot(n, glm::normalize(glm::vec3(-0.6f, -0.2f, 0.8f))));
        const glm::vec2 uv = (t->v[0].uv + t->v[1].uv + t->v[2].uv) / 3.f;
        const glm::vec3 c =
            tex.At(std::clamp(int(uv.x * 63), 0, 63), std::clamp(int(uv.y * 63), 0, 63)) * light *
            1.6f;
        const int bx0 = int(std::floor(std::min({p[0].x, p[1].x, p[2].x})));
        const int bx1 = int(std::ceil(std::max({p[0].x, p[1].x, p[2].x})));
        const int by0 = int(std::floor(std::min({p[0].y, p[1].y, p[2].y})));
        const int by1 = int(std::ceil(std::max({p[0].y, p[1].y, p[2].y})));
        const float area =
            (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y);
        if (std::fabs(area) < 1e-6f) continue;
        for (int y = by0; y <= by1; ++y)
            for (int x = bx0; x <= bx1; ++x) {
                const glm::vec2 q(x + 0.5f, y + 0.5f);
                const float a =
                    ((p[1].x - q.x) * (p[2].y - q.y) - (p[2].x - q.x) * (p[1].y - q.y)) / area;
                const float b =
                    ((p[2].x - q.x) * (p[0].y - q.y) - (p[0].x - q.x) * (p[2].y - q.y)) / area;
                if (a >= 0 && b >= 0 && a + b <= 1) img.Set(x, y, c);
            }
    }
    std::string label = w.name;
    for (char& ch : label)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    img.Text(6, 84, label, 1, glm::vec3(0.9f, 0.85f, 0.6f));
    return img;
}

} // namespace

void GenerateWeapons(Output& out) {
    std::vector<Bone> bones = BipedBones();
    for (const WeaponDef& w : kWeapons) {
        glm::vec3 muzzle;
        std::vector<SmdTri> parts = BuildWeapon(w, muzzle);
        // The flash bone's +y (the reader's +x) points out of the muzzle.
        std::vector<Bone> withFlash = bones;
        withFlash.push_back({"flash", kRHand, muzzle});
        Pose ref = RestPose(withFlash.size());
        ref.rot.back() = RotZ(180);
        const std::vector<glm::mat4> world = WorldTransforms(withFlash, ref);
        const glm::vec3 hand = glm::vec3(world[kRHand][3]);
        std::vector<SmdTri> placed = parts;
        for (SmdTri& t : placed)
            for (SmdVertex& v : t.v)
                v.p += hand;
        const std::string smdName = std::string(w.name) + "_ref";
        const std::string qcName = std::string(w.cls) + "_" + w.name + ".QC";
        out.WriteText("weapons/" + smdName + ".smd",
                      SmdHeader(withFlash, ref) +
                          SmdTriangles(placed, std::string(w.name) + ".bmp", &world));
        out.WriteText(
            "weapons/" + qcName,
            "// Tarnhold weapon " + std::string(w.name) + "\n$modelname \"" + w.name +
                ".mdl\"\n$cd \".\"\n$cdtexture \".\"\n$scale 1.0\n\n$bodygroup \"arme\"\n{\n"
                "\tstudio \"" +
                smdName + "\"\n}\n");
        const Image tex = PaintWeaponTexture(w, uint32_t(std::string(w.name).size()) * 31u + 5u);
        out.WriteBytes("weapons/" + std::string(w.name) + ".bmp", tex.EncodeBmp24());
        out.WriteBytes("weapons/640_" + std::string(w.name) + ".bmp",
                       PaintInventoryPicture(w, parts, tex).EncodeBmp24());
    }
}

} // namespace assetgen
