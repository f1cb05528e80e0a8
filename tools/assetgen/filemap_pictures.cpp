// tools/assetgen/filemap_pictures.cpp — the pictures of the file maps: procedural textures for
// map/textures/ ('{' names: pure blue is transparent), six sky pictures per sky painted as a
// function of the view direction, and the sky box mesh.
#include "tools/assetgen/filemaps_local.h"

#include <cmath>

namespace assetgen::filemap {

namespace {

constexpr glm::vec3 kTransparentBlue(0.f, 0.f, 1.f);

glm::vec3 Clamp01(glm::vec3 c) {
    return glm::clamp(c, glm::vec3(0.f), glm::vec3(1.f));
}

float Smooth(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.f, 1.f);
    return t * t * (3.f - 2.f * t);
}

// Colour seen along the unit direction `d`: gradient, sun, a cloud layer projected on a plane
// above the viewer, and a ring of hills on the horizon.
glm::vec3 SkyColour(const SkyStyle& s, glm::vec3 d) {
    const float e = d.y;
    const float sun = std::max(0.f, glm::dot(d, s.sunDir));
    glm::vec3 c;
    if (e >= 0.f) {
        c = glm::mix(s.zenith, s.horizon, std::pow(1.f - e, 4.f));
        c += s.sun * (0.45f * std::pow(sun, 12.f) + 0.2f * std::pow(sun, 3.f));
        if (sun > 0.9993f) c = glm::vec3(1.f, 0.97f, 0.9f);
        const glm::vec2 q = glm::vec2(d.x, d.z) / (e + 0.12f) * 1.4f;
        const float n = float(Fbm(q.x + 40.0, q.y + 40.0, s.seed, 5));
        const float cover = Smooth(1.f - s.cover, 1.f - s.cover + 0.22f, n) * Smooth(0.f, 0.18f, e);
        const glm::vec3 cloud = glm::mix(
            s.cloudShade, s.cloudLit, std::clamp(0.35f + 1.5f * (n - 0.5f) + 0.5f * sun, 0.f, 1.f));
        c = glm::mix(c, cloud, 0.92f * cover);
    } else {
        c = glm::mix(s.horizon * 0.85f, s.ground, std::clamp(-e * 5.f, 0.f, 1.f));
    }
    const float az = std::atan2(d.x, d.z);
    const double hx = std::cos(az) * 2.5 + 7.0, hz = std::sin(az) * 2.5 + 7.0;
    const float ridge = s.hillHeight * Smooth(0.3f, 0.75f, float(Fbm(hx, hz, s.seed + 17, 5)));
    if (e < ridge) {
        const float detail = float(Fbm(hx * 8.0, e * 60.0, s.seed + 29, 3));
        c = s.hills * (0.8f + 0.35f * detail) * (0.75f + 0.25f * Smooth(-0.2f, ridge, e));
    }
    return Clamp01(c);
}

constexpr int kSkySize = 256;
// The sky box mesh reaches 1.5 times the half-extent the game scales it to, so the walls of a
// map as wide as its own largest extent stay well inside it.
constexpr float kSkyHalf = 1.5f;

} // namespace

// ---------------------------------------------------------------------------------------------
// Textures (128 x 128, tileable)

// Rounded cobblestones set in dark joints: nearest jittered cell centre per pixel.
Image Cobbles(uint32_t seed) {
    Image img(128, 128);
    constexpr int kCells = 8, kCell = 16;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            float d1 = 1e9f, d2 = 1e9f;
            int id = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int gx = x / kCell + dx, gy = y / kCell + dy;
                    const int wx = (gx + kCells) % kCells, wy = (gy + kCells) % kCells;
                    const float jx = (gx + 0.2f + 0.6f * float(Hash01(wx, wy, seed))) * kCell;
                    const float jy = (gy + 0.2f + 0.6f * float(Hash01(wx, wy, seed + 1))) * kCell;
                    const float d = std::hypot(px - jx, py - jy);
                    if (d < d1)
                        d2 = d1, d1 = d, id = wy * kCells + wx;
                    else if (d < d2)
                        d2 = d;
                }
            const float grain = float(Fbm(x / 8.0, y / 8.0, seed + 7, 3, 16));
            const float tone = 0.7f + 0.4f * float(Hash01(id, 3, seed));
            const glm::vec3 stone =
                glm::vec3(0.55f, 0.52f, 0.47f) * tone * (0.8f + 0.4f * grain) * (1.f - d1 / 40.f);
            const glm::vec3 joint = glm::vec3(0.22f, 0.2f, 0.18f) * (0.8f + 0.4f * grain);
            img.At(x, y) = Clamp01(glm::mix(joint, stone, Smooth(1.f, 3.5f, d2 - d1)));
        }
    return img;
}

// Large dressed stone blocks in courses, half-offset, with bevelled edges.
Image StoneBlocks(uint32_t seed) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const int course = y / 32, off = (course % 2) * 32;
            const int bx = (x + off) % 128 / 64, lx = (x + off) % 64, ly = y % 32;
            const float tone = 0.8f + 0.3f * float(Hash01(bx, course, seed));
            const float grain = float(Fbm(x / 8.0, y / 8.0, seed + 3, 4, 16));
            glm::vec3 c = glm::vec3(0.62f, 0.58f, 0.5f) * tone * (0.7f + 0.5f * grain);
            if (lx < 2 || ly < 2)
                c = glm::vec3(0.3f, 0.28f, 0.25f); // mortar
            else if (lx < 4 || ly < 4)
                c *= 1.15f; // lit bevel
            else if (lx > 60 || ly > 28)
                c *= 0.75f;                                // shaded bevel
            if (Hash01(x, y, seed + 9) > 0.985) c *= 0.7f; // pits
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// Corrugated sheet: vertical ridges, panel seams with rivets, rust streaks running down.
Image Corrugated(uint32_t seed, glm::vec3 paint, glm::vec3 rust, bool frame) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const float ridge = 0.78f + 0.22f * std::sin(float(x) * 6.2831853f / 16.f);
            const float grime = float(Fbm(x / 6.0, y / 40.0, seed, 4, 8));
            glm::vec3 c = paint * ridge * (0.85f + 0.3f * grime);
            c = glm::mix(c, rust * ridge, Smooth(0.58f, 0.75f, grime));
            if (x % 64 < 2) c *= 0.45f;
            if (x % 64 == 4 && y % 16 == 8) c = glm::vec3(0.75f);
            if (frame && (y < 6 || y > 121)) c = paint * 0.55f;
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// Yellow and black warning stripes, worn.
Image HazardStripes(uint32_t seed) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const bool yellow = (x + y) / 16 % 2 == 0;
            const float wear = float(Fbm(x / 5.0, y / 5.0, seed, 4, 25));
            glm::vec3 c = yellow ? glm::vec3(0.9f, 0.72f, 0.1f) : glm::vec3(0.08f, 0.08f, 0.07f);
            if (wear > 0.68f) c = glm::vec3(0.4f, 0.4f, 0.42f); // paint worn to the metal
            img.At(x, y) = Clamp01(c * (0.85f + 0.3f * wear));
        }
    return img;
}

// Painted machine casing: panels with seams and rivets, vent slits, a warning band at the foot.
Image MachinePanel(uint32_t seed, glm::vec3 paint) {
    Image img(128, 128);
    const Image stripes = HazardStripes(seed + 1);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const float wear = float(Fbm(x / 8.0, y / 8.0, seed, 4, 16));
            glm::vec3 c = paint * (0.8f + 0.35f * wear);
            if (wear > 0.7f) c = glm::mix(c, glm::vec3(0.45f, 0.45f, 0.47f), 0.7f); // chipped
            const int px = x % 64, py = y % 96;
            if (px < 2 || py < 2) c *= 0.45f;
            if ((px == 5 || px == 58) && (py == 5 || py == 90)) c = glm::vec3(0.8f);
            if (px > 14 && px < 50 && py > 20 && py < 50 && (py - 20) % 6 < 2)
                c = glm::vec3(0.06f); // vent slits
            if (y >= 112) c = stripes.At(x, y);
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// Terracotta roof tiles in overlapping rows.
Image RoofTiles(uint32_t seed) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const int row = y / 16, off = (row % 2) * 8, lx = (x + off) % 16, ly = y % 16;
            const float round = 1.f - std::pow((lx - 7.5f) / 8.f, 2.f);
            const float tone = 0.8f + 0.35f * float(Hash01((x + off) / 16, row, seed));
            glm::vec3 c = glm::vec3(0.62f, 0.27f, 0.15f) * tone * (0.6f + 0.4f * round);
            c *= 0.75f + 0.35f * float(ly) / 15.f; // each tile's lower lip catches the light
            if (ly < 2) c *= 0.5f;
            c *= 0.85f + 0.3f * float(Fbm(x / 8.0, y / 8.0, seed + 4, 3, 16));
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// Weathered vertical planks with nails.
Image Planks(uint32_t seed) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const int plank = x / 16;
            const float n = float(Fbm(x / 3.0, y / 24.0, seed + uint32_t(plank), 3, 0));
            const float grain = 0.8f + 0.25f * std::sin(x * 0.9f + 9.f * n);
            const float tone = 0.8f + 0.3f * float(Hash01(plank, 0, seed));
            glm::vec3 c = glm::vec3(0.5f, 0.36f, 0.2f) * grain * tone;
            if (x % 16 < 1) c *= 0.4f;
            const int nx = x % 16, ny = y % 64;
            if ((nx == 3 || nx == 12) && (ny == 6 || ny == 7)) c = glm::vec3(0.2f);
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// Steel floor grating: a square mesh of bars; the openings are pure blue (transparent).
Image Grating(uint32_t seed) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const int lx = x % 16, ly = y % 16;
            if (lx >= 4 && ly >= 4) {
                img.At(x, y) = kTransparentBlue;
                continue;
            }
            const float n = float(Fbm(x / 4.0, y / 4.0, seed, 3, 32));
            glm::vec3 c = glm::vec3(0.5f, 0.52f, 0.5f) * (0.75f + 0.4f * n);
            if (lx == 0 || ly == 0) c *= 1.25f; // lit edge of each bar
            if (lx == 3 || ly == 3) c *= 0.6f;
            c.b = std::min(c.b, 0.9f); // never the transparent colour
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// Ladder rungs (two per picture height) on pure blue; the rails are modelled.
Image LadderRungs(uint32_t seed) {
    Image img(64, 64, kTransparentBlue);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int ly = y % 32;
            if (ly < 10 || ly > 15) continue;
            const float n = float(Fbm(x / 6.0, y / 2.0, seed, 3, 0));
            glm::vec3 c = glm::vec3(0.55f, 0.4f, 0.22f) * (0.75f + 0.4f * n);
            if (ly == 10) c *= 1.2f;
            if (ly == 15) c *= 0.6f;
            img.At(x, y) = Clamp01(c);
        }
    return img;
}

// ---------------------------------------------------------------------------------------------
// Sky

// Pixel i of a face shows the direction at face coordinate i / (N - 1): the mesh's texture
// coordinates run from the centre of the first texel to the centre of the last one, so the
// border texels of two neighbouring faces show the same direction and the sky has no seams.
Image SkyPicture(const SkyStyle& style, const SkyFace& f) {
    Image img(kSkySize, kSkySize);
    for (int j = 0; j < kSkySize; ++j)
        for (int i = 0; i < kSkySize; ++i) {
            const float u = float(i) / float(kSkySize - 1), v = float(j) / float(kSkySize - 1);
            const glm::vec3 p = f.tl + (f.tr - f.tl) * u + (f.bl - f.tl) * v;
            img.At(i, j) = SkyColour(style, glm::normalize(p));
        }
    return img;
}

std::string SkyBoxFile() {
    std::vector<XMaterial> mats;
    std::vector<Poly> faces;
    const float lo = 0.5f / kSkySize, hi = 1.f - lo;
    for (const SkyFace& f : kSkyFaces) {
        Poly p;
        p.p = {f.tl * kSkyHalf, f.tr * kSkyHalf, f.br * kSkyHalf, f.bl * kSkyHalf};
        const glm::vec3 inward = -glm::normalize(f.tl + f.br);
        p.n.assign(4, inward);
        p.uv = {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}};
        p.material = int(mats.size());
        faces.push_back(p);
        std::string name(f.meshName);
        mats.push_back({"ciel_" + name.substr(0, name.find('.')), glm::vec3(1.f), 0.f, name});
    }
    return EncodeXFile(mats, {{"boite", faces}});
}

} // namespace assetgen::filemap
