// tools/assetgen/filemaps.cpp — the file maps under map/: "cour" (a walled courtyard with a
// watch tower reached by a ladder, a rampart with stairs, a well, crates and a shed) and "usine"
// (an industrial hall with catwalks, two stairs, a ladder, machines and containers), their
// textures in map/textures/, the shared sky box map/boite.x and one sky per map in map/env/.
//
// Index
//   Textures     procedural pictures for map/textures/ ('{' names: pure blue is transparent)
//   Sky          six pictures per sky, painted as a function of the view direction
//   MapBuilder   floors (.sol), walls (.mur), render-only decor (.pla), ladders (.lad)
//   Layouts      the two maps
//   Files        definition file, meshes, sky box
//
// Layouts are written in scene units (x right, y up, z forward; floors at whole heights) and
// divided by the map's mesh scale when written, since the game scales the meshes by it. The
// player rules they are built for: the body stands 2.5 above the floor (1 crouched) and about 6
// tall; the floor ray climbs any step whose top lies below the body's root, so steps rise 0.8
// and can be climbed crouched too; walls are felt 2.7 above the floor within 3.0; ladders are
// felt at the root's height and 5 above and below it within 3.0. Ground floors stop at solid
// blocks and at the outer walls, so the floor ray refuses a step into them.
#include "tools/assetgen/assetgen_local.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace assetgen {

namespace {

constexpr glm::vec3 kTransparentBlue(0.f, 0.f, 1.f);

glm::vec3 Clamp01(glm::vec3 c) {
    return glm::clamp(c, glm::vec3(0.f), glm::vec3(1.f));
}

float Smooth(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.f, 1.f);
    return t * t * (3.f - 2.f * t);
}

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

struct SkyStyle {
    glm::vec3 zenith, horizon, ground, sun, cloudLit, cloudShade, hills;
    glm::vec3 sunDir;
    float cover;      // 0 clear .. 1 overcast
    float hillHeight; // elevation (sine) of the highest hill tops
    uint32_t seed;
};

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

// One sky box face: the name the sky box mesh gives it, the picture suffix the texture callback
// maps it to, and its corners on the cube of half-size 1 seen from inside (top-left, top-right,
// bottom-right, bottom-left), which is also the picture's orientation.
struct SkyFace {
    const char* meshName;
    const char* suffix;
    glm::vec3 tl, tr, br, bl;
};

constexpr SkyFace kSkyFaces[] = {
    {"devant.bmp", "ft.bmp", {-1, 1, 1}, {1, 1, 1}, {1, -1, 1}, {-1, -1, 1}},
    {"droite.bmp", "rt.bmp", {1, 1, 1}, {1, 1, -1}, {1, -1, -1}, {1, -1, 1}},
    {"derriere.bmp", "bk.bmp", {1, 1, -1}, {-1, 1, -1}, {-1, -1, -1}, {1, -1, -1}},
    {"gauche.bmp", "lf.bmp", {-1, 1, -1}, {-1, 1, 1}, {-1, -1, 1}, {-1, -1, -1}},
    {"haut.bmp", "up.bmp", {1, 1, 1}, {-1, 1, 1}, {-1, 1, -1}, {1, 1, -1}},
    {"bas.bmp", "dn.bmp", {-1, -1, 1}, {1, -1, 1}, {1, -1, -1}, {-1, -1, -1}},
};

constexpr int kSkySize = 256;
// The sky box mesh reaches 1.5 times the half-extent the game scales it to, so the walls of a
// map as wide as its own largest extent stay well inside it.
constexpr float kSkyHalf = 1.5f;

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

// ---------------------------------------------------------------------------------------------
// MapBuilder

struct Rect {
    float x0, x1, z0, z1;
    bool Contains(float x, float z) const { return x > x0 && x < x1 && z > z0 && z < z1; }
};

// Emits the cells of `r` outside every rectangle of `holes`, merged along x.
void Decompose(const Rect& r, const std::vector<Rect>& holes,
               const std::function<void(const Rect&)>& emit) {
    std::vector<float> xs{r.x0, r.x1}, zs{r.z0, r.z1};
    for (const Rect& h : holes) {
        for (float v : {h.x0, h.x1})
            if (v > r.x0 && v < r.x1) xs.push_back(v);
        for (float v : {h.z0, h.z1})
            if (v > r.z0 && v < r.z1) zs.push_back(v);
    }
    std::sort(xs.begin(), xs.end()), xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    std::sort(zs.begin(), zs.end()), zs.erase(std::unique(zs.begin(), zs.end()), zs.end());
    for (size_t j = 0; j + 1 < zs.size(); ++j) {
        const float zc = 0.5f * (zs[j] + zs[j + 1]);
        size_t start = xs.size();
        for (size_t i = 0; i + 1 < xs.size(); ++i) {
            const float xc = 0.5f * (xs[i] + xs[i + 1]);
            const bool free = std::none_of(holes.begin(), holes.end(),
                                           [&](const Rect& h) { return h.Contains(xc, zc); });
            if (free && start == xs.size()) start = i;
            const bool last = i + 2 == xs.size();
            if (start != xs.size() && (!free || last)) {
                emit({xs[start], free ? xs[i + 1] : xs[i], zs[j], zs[j + 1]});
                start = xs.size();
            }
        }
    }
}

// Texture repeats per scene unit for the usual surfaces.
constexpr float kTex = 1.f / 8.f;

struct MapBuilder {
    std::vector<Poly> sol, mur, pla, lad;
    std::vector<Rect> holes; // ground cut out under solid blocks and stairs

    // Horizontal rectangle at height y facing up (or down); texture aligned with x and z.
    static Poly Flat(const Rect& r, float y, bool up, int mat, float s = kTex) {
        Poly p;
        p.p = {{r.x0, y, r.z0}, {r.x0, y, r.z1}, {r.x1, y, r.z1}, {r.x1, y, r.z0}};
        if (!up) std::swap(p.p[1], p.p[3]);
        p.n.assign(4, glm::vec3(0, up ? 1 : -1, 0));
        for (const glm::vec3& q : p.p)
            p.uv.push_back({q.x * s, -q.z * s});
        p.material = mat;
        return p;
    }

    // Vertical rectangle over the segment a-b (xz) between heights y0 and y1, facing the
    // horizontal unit normal n; the texture stands upright and continues across walls.
    static Poly Upright(glm::vec2 a, glm::vec2 b, float y0, float y1, glm::vec3 n, int mat,
                        float s = kTex) {
        const glm::vec3 right = glm::cross(n, glm::vec3(0, 1, 0));
        if (glm::dot(glm::vec3(b.x - a.x, 0, b.y - a.y), right) < 0) std::swap(a, b);
        Poly p;
        p.p = {{a.x, y1, a.y}, {b.x, y1, b.y}, {b.x, y0, b.y}, {a.x, y0, a.y}};
        p.n.assign(4, n);
        for (const glm::vec3& q : p.p)
            p.uv.push_back({glm::dot(q, right) * s, -q.y * s});
        p.material = mat;
        return p;
    }

    // Any planar polygon given clockwise as seen from its front; texture axes along its first
    // edge and across it.
    static Poly Facet(std::vector<glm::vec3> corners, int mat, float s = kTex) {
        Poly p;
        const glm::vec3 a = corners[0];
        const glm::vec3 n = glm::normalize(glm::cross(corners[1] - a, corners[2] - a));
        const glm::vec3 u = glm::normalize(corners[1] - a), v = glm::cross(n, u);
        for (const glm::vec3& q : corners)
            p.uv.push_back({glm::dot(q - a, u) * s, glm::dot(q - a, v) * s});
        p.n.assign(corners.size(), n);
        p.p = std::move(corners);
        p.material = mat;
        return p;
    }

    // The four outward sides of a box into `sides`.
    static void BoxSides(const Rect& r, float y0, float y1, int mat, std::vector<Poly>& sides,
                         float s = kTex) {
        sides.push_back(Upright({r.x0, r.z0}, {r.x1, r.z0}, y0, y1, {0, 0, -1}, mat, s));
        sides.push_back(Upright({r.x0, r.z1}, {r.x1, r.z1}, y0, y1, {0, 0, 1}, mat, s));
        sides.push_back(Upright({r.x0, r.z0}, {r.x0, r.z1}, y0, y1, {-1, 0, 0}, mat, s));
        sides.push_back(Upright({r.x1, r.z0}, {r.x1, r.z1}, y0, y1, {1, 0, 0}, mat, s));
    }

    // A solid block: sides are walls, its top a floor; standing on the ground (y0 == 0) it
    // cuts the ground out under itself.
    void Solid(const Rect& r, float y0, float y1, int sideMat, int topMat) {
        BoxSides(r, y0, y1, sideMat, mur);
        sol.push_back(Flat(r, y1, true, topMat));
        if (y0 == 0.f) holes.push_back(r);
    }

    // A slender block (post, pillar) that blocks but does not cut the ground; its top is decor.
    void Post(const Rect& r, float y0, float y1, int mat) {
        BoxSides(r, y0, y1, mat, mur);
        pla.push_back(Flat(r, y1, true, mat));
    }

    // The inward faces of a rectangular enclosure into `dst`.
    static void Enclosure(const Rect& r, float y0, float y1, int mat, std::vector<Poly>& dst) {
        dst.push_back(Upright({r.x0, r.z0}, {r.x1, r.z0}, y0, y1, {0, 0, 1}, mat));
        dst.push_back(Upright({r.x0, r.z1}, {r.x1, r.z1}, y0, y1, {0, 0, -1}, mat));
        dst.push_back(Upright({r.x0, r.z0}, {r.x0, r.z1}, y0, y1, {1, 0, 0}, mat));
        dst.push_back(Upright({r.x1, r.z0}, {r.x1, r.z1}, y0, y1, {-1, 0, 0}, mat));
    }

    // The ground at height y over r, except under the holes.
    void Ground(const Rect& r, float y, int mat) {
        Decompose(r, holes, [&](const Rect& c) { sol.push_back(Flat(c, y, true, mat)); });
    }

    // A see-through panel seen from both sides (fence, railing) into `dst`, texture repeating
    // every `tile` units along it and once over its height.
    static void Panel(glm::vec2 a, glm::vec2 b, float y0, float y1, int mat, float tile,
                      std::vector<Poly>& dst) {
        const glm::vec2 dir = glm::normalize(b - a);
        const glm::vec3 n(-dir.y, 0, dir.x);
        for (const glm::vec3 side : {n, -n}) {
            Poly p = Upright(a, b, y0, y1, side, mat);
            const glm::vec3 right = glm::cross(side, glm::vec3(0, 1, 0));
            for (size_t k = 0; k < 4; ++k)
                p.uv[k] = {glm::dot(p.p[k], right) / tile, (y1 - p.p[k].y) / (y1 - y0)};
            dst.push_back(p);
        }
    }

    // A railing or fence along a-b (axis-aligned): grating panels between the gaps (given as
    // [from, to] along the segment's axis) with a closed rail box on top. The panels are walls.
    void Railing(glm::vec2 a, glm::vec2 b, float y, float h, std::vector<glm::vec2> gaps,
                 int panelMat, int railMat) {
        const bool alongX = a.y == b.y;
        float from = alongX ? std::min(a.x, b.x) : std::min(a.y, b.y);
        const float to = alongX ? std::max(a.x, b.x) : std::max(a.y, b.y);
        std::sort(gaps.begin(), gaps.end(), [](glm::vec2 l, glm::vec2 r) { return l.x < r.x; });
        gaps.push_back({to, to});
        for (const glm::vec2 g : gaps) {
            if (g.x > from) {
                const glm::vec2 p0 = alongX ? glm::vec2(from, a.y) : glm::vec2(a.x, from);
                const glm::vec2 p1 = alongX ? glm::vec2(g.x, a.y) : glm::vec2(a.x, g.x);
                Panel(p0, p1, y, y + h, panelMat, 4.f, mur);
                const Rect rail = alongX ? Rect{p0.x, p1.x, a.y - 0.12f, a.y + 0.12f}
                                         : Rect{a.x - 0.12f, a.x + 0.12f, p0.y, p1.y};
                BoxSides(rail, y + h, y + h + 0.25f, railMat, pla);
                pla.push_back(Flat(rail, y + h + 0.25f, true, railMat));
                pla.push_back(Flat(rail, y + h, false, railMat)); // seen from below
            }
            from = std::max(from, g.y);
        }
    }

    // Straight stairs of `n` steps rising `rise` each, `tread` deep, starting at ground height
    // y0 at `start` (middle of the lowest step's front edge) and climbing along the axis `dir`.
    // Treads and risers are floor; the open sides (and the back, when `back`) are walls.
    void Stairs(glm::vec2 start, glm::vec2 dir, float width, int n, float rise, float tread,
                float y0, int mat, bool leftSide, bool rightSide, bool back) {
        const glm::vec2 side(dir.y, -dir.x); // to the right of a climber, x right z forward
        auto rect = [&](float d0, float d1) {
            const glm::vec2 p = start + dir * d0 - side * (0.5f * width);
            const glm::vec2 q = start + dir * d1 + side * (0.5f * width);
            return Rect{std::min(p.x, q.x), std::max(p.x, q.x), std::min(p.y, q.y),
                        std::max(p.y, q.y)};
        };
        const glm::vec3 back3(dir.x, 0, dir.y), right3(side.x, 0, side.y);
        for (int k = 0; k < n; ++k) {
            const float d0 = tread * float(k), d1 = tread * float(k + 1);
            const float yb = y0 + rise * float(k), yt = y0 + rise * float(k + 1);
            sol.push_back(Flat(rect(d0, d1), yt, true, mat));
            const glm::vec2 f = start + dir * d0;
            sol.push_back(
                Upright(f - side * (0.5f * width), f + side * (0.5f * width), yb, yt, -back3, mat));
            for (int s : {-1, 1}) {
                if ((s < 0 && !leftSide) || (s > 0 && !rightSide)) continue;
                const glm::vec2 e = start + side * (0.5f * width * float(s));
                mur.push_back(Upright(e + dir * d0, e + dir * d1, y0, yt, right3 * float(s), mat));
            }
        }
        if (back) {
            const glm::vec2 f = start + dir * (tread * float(n));
            mur.push_back(Upright(f - side * (0.5f * width), f + side * (0.5f * width), y0,
                                  y0 + rise * float(n), back3, mat));
        }
        holes.push_back(rect(0.f, tread * float(n)));
    }

    // A ladder standing in the vertical plane through `centre`, climbed by a player on the side
    // the horizontal unit normal `n` points to: a rung panel seen from both sides (so every
    // probe ray meets it) between two modelled rails.
    void Ladder(glm::vec2 centre, glm::vec3 n, float y0, float y1, float width, int rungMat,
                int railMat) {
        const glm::vec2 across(-n.z, n.x);
        const glm::vec2 a = centre - across * (0.5f * width), b = centre + across * (0.5f * width);
        std::vector<Poly> panel;
        Panel(a, b, y0, y1, rungMat, 1.f, panel);
        for (Poly& p : panel) {
            // One picture across the width, two rungs per two units of height.
            const glm::vec3 right = glm::cross(p.n[0], glm::vec3(0, 1, 0));
            for (size_t k = 0; k < 4; ++k)
                p.uv[k] = {(glm::dot(p.p[k], right) - glm::dot(glm::vec3(a.x, 0, a.y), right)) /
                               width,
                           -p.p[k].y / 2.f};
            lad.push_back(p);
        }
        for (const glm::vec2 c : {a, b}) {
            const Rect rail{c.x - 0.14f, c.x + 0.14f, c.y - 0.14f, c.y + 0.14f};
            BoxSides(rail, y0, y1, railMat, lad);
            lad.push_back(Flat(rail, y1, true, railMat));
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Files

struct FileMap {
    std::string name, sky;
    glm::ivec3 light;
    glm::ivec3 spawns[4]; // scene units, relative to the wall frame; y = floor + 2
    int meshScale;
};

std::string Triple(glm::ivec3 v) {
    return std::to_string(v.x) + ":" + std::to_string(v.y) + ":" + std::to_string(v.z);
}

// Writes map/<name>.map and the meshes, divided by the mesh scale the definition file names.
// Spawn points and the light are whole numbers, so their text reads the same in every locale.
void WriteFileMap(Output& out, const FileMap& m, const MapBuilder& b,
                  const std::vector<XMaterial>& mats) {
    std::string def = m.sky + "\n" + Triple(m.light) + "\n";
    for (const glm::ivec3& s : m.spawns)
        def += Triple(s) + "\n";
    def += std::to_string(m.meshScale) + "\n";
    out.WriteText("map/" + m.name + ".map", def);
    auto write = [&](const char* ext, const char* frame, std::vector<Poly> polys) {
        for (Poly& p : polys)
            for (glm::vec3& q : p.p)
                q /= float(m.meshScale);
        out.WriteBytes("map/" + m.name + ext, EncodeXFile(mats, {{frame, polys}}));
    };
    write(".sol", "sol", b.sol);
    write(".mur", "mur", b.mur);
    write(".pla", "plafond", b.pla);
    if (!b.lad.empty()) write(".lad", "echelle", b.lad);
}

// ---------------------------------------------------------------------------------------------
// Layouts

// "cour": a courtyard 160 x 160 inside brick walls 16 high. A stone watch tower (24 high, with
// battlements and a tiled roof) in the north-east, climbed by a ladder on its west face; a
// rampart 8 high along the south wall, reached by stairs at its east end; a well with a little
// roof in the middle; crates for cover; an open shed in the north-west corner.
void Courtyard(Output& out) {
    enum { kPave, kBrique, kPierre, kCaisse, kTuiles, kPlanches, kGrille, kEchelle, kMetal, kEau };
    const std::vector<XMaterial> mats = {
        {"pave", glm::vec3(1), 5, "pave.bmp"},       {"brique", glm::vec3(1), 5, "brique.bmp"},
        {"pierre", glm::vec3(1), 5, "pierre.bmp"},   {"caisse", glm::vec3(1), 5, "caisse.bmp"},
        {"tuiles", glm::vec3(1), 5, "tuiles.bmp"},   {"planches", glm::vec3(1), 5, "planches.bmp"},
        {"grille", glm::vec3(1), 20, "{grille.bmp"}, {"echelle", glm::vec3(1), 5, "{echelle.bmp"},
        {"metal", glm::vec3(1), 20, "metal.bmp"},    {"eau", glm::vec3(0.15f, 0.3f, 0.4f), 40, ""}};
    MapBuilder m;
    const Rect yard{-80, 80, -80, 80};

    // Outer walls, and their thickness seen from the tower top (decor).
    MapBuilder::Enclosure(yard, 0, 16, kBrique, m.mur);
    for (int s = -1; s <= 1; s += 2) {
        const float o = 82.f * float(s), i = 80.f * float(s);
        m.pla.push_back(MapBuilder::Upright({o, -82}, {o, 82}, 0, 16, {float(s), 0, 0}, kBrique));
        m.pla.push_back(MapBuilder::Upright({-82, o}, {82, o}, 0, 16, {0, 0, float(s)}, kBrique));
        m.pla.push_back(
            MapBuilder::Flat({std::min(i, o), std::max(i, o), -82, 82}, 16, true, kPierre));
        m.pla.push_back(
            MapBuilder::Flat({-80, 80, std::min(i, o), std::max(i, o)}, 16, true, kPierre));
    }

    // Watch tower with battlements; the ladder arrives in a gap of the west battlement.
    const Rect tower{44, 68, 44, 68};
    m.Solid(tower, 0, 24, kPierre, kPierre);
    for (float p = 44; p < 68; p += 4) {
        const float q = std::min(p + 2.f, 68.f);
        const Rect merlons[] = {
            {44, 45.2f, p, q}, {66.8f, 68, p, q}, {p, q, 44, 45.2f}, {p, q, 66.8f, 68}};
        for (size_t k = 0; k < 4; ++k) {
            if (k == 0 && q > 52 && p < 60) continue; // the ladder's landing
            MapBuilder::BoxSides(merlons[k], 24, 27, kPierre, m.mur);
            m.pla.push_back(MapBuilder::Flat(merlons[k], 27, true, kPierre));
        }
    }
    m.Ladder({43.6f, 56}, {-1, 0, 0}, 0, 25, 3, kEchelle, kPlanches);
    for (const glm::vec2 c :
         {glm::vec2(46, 46), glm::vec2(66, 46), glm::vec2(46, 66), glm::vec2(66, 66)})
        m.Post({c.x - 0.4f, c.x + 0.4f, c.y - 0.4f, c.y + 0.4f}, 24, 31, kPlanches);
    const glm::vec3 apex(56, 37, 56);
    const glm::vec3 eave[4] = {{43, 31, 43}, {69, 31, 43}, {69, 31, 69}, {43, 31, 69}};
    for (int k = 0; k < 4; ++k) {
        const glm::vec3 a = eave[k], b = eave[(k + 1) % 4];
        m.pla.push_back(MapBuilder::Facet({apex, b, a}, kTuiles));   // seen from outside
        m.pla.push_back(MapBuilder::Facet({apex, a, b}, kPlanches)); // seen from below
    }

    // Rampart along the south wall, its stairs at the east end, a fence on its edge.
    const Rect rampart{-80, 30, -80, -68};
    m.sol.push_back(MapBuilder::Flat(rampart, 8, true, kPierre));
    m.mur.push_back(MapBuilder::Upright({-80, -68}, {30, -68}, 0, 8, {0, 0, 1}, kPierre));
    m.mur.push_back(MapBuilder::Upright({30, -72}, {30, -68}, 0, 8, {1, 0, 0}, kPierre));
    m.holes.push_back(rampart);
    m.Stairs({46, -76}, {-1, 0}, 8, 10, 0.8f, 1.6f, 0, kPierre, false, true, false);
    m.Railing({-80, -68.3f}, {30, -68.3f}, 8, 3.2f, {{-62, -56}, {-22, -16}}, kGrille, kMetal);

    // Well: a low rim (a step anyone can climb), water, two posts and a gable roof.
    const Rect well{-4, 4, -4, 4}, water{-3, 3, -3, 3};
    MapBuilder::BoxSides(well, 0, 1.6f, kPierre, m.pla);
    for (const Rect& r :
         {Rect{-4, 4, -4, -3}, Rect{-4, 4, 3, 4}, Rect{-4, -3, -3, 3}, Rect{3, 4, -3, 3}})
        m.sol.push_back(MapBuilder::Flat(r, 1.6f, true, kPierre));
    m.sol.push_back(MapBuilder::Flat(water, 1.f, true, kEau));
    MapBuilder::Enclosure(water, 1.f, 1.6f, kPierre, m.pla);
    m.holes.push_back(well);
    for (float x : {-3.8f, 3.2f})
        m.Post({x, x + 0.6f, -0.3f, 0.3f}, 1.6f, 8.5f, kPlanches);
    for (int s = -1; s <= 1; s += 2) {
        const float z = 5.f * float(s);
        const glm::vec3 r0(-5, 9.5f, 0), r1(5, 9.5f, 0), e0(-5, 7.5f, z), e1(5, 7.5f, z);
        const bool north = s > 0;
        m.pla.push_back(north ? MapBuilder::Facet({r1, r0, e0, e1}, kTuiles)
                              : MapBuilder::Facet({r0, r1, e1, e0}, kTuiles));
        m.pla.push_back(north ? MapBuilder::Facet({r0, r1, e1, e0}, kPlanches)
                              : MapBuilder::Facet({r1, r0, e0, e1}, kPlanches));
    }

    // Crates: a stack with a low crate to step on, and two single ones.
    m.Solid({-34, -26, 26, 34}, 0, 8, kCaisse, kCaisse);
    MapBuilder::BoxSides({-33, -27, 27, 33}, 8, 14, kCaisse, m.mur);
    m.sol.push_back(MapBuilder::Flat({-33, -27, 27, 33}, 14, true, kCaisse));
    m.Solid({-26, -20, 27, 33}, 0, 2, kCaisse, kCaisse);
    m.Solid({20, 28, -30, -22}, 0, 8, kCaisse, kCaisse);
    m.Solid({-60, -52, -20, -12}, 0, 8, kCaisse, kCaisse);

    // Open shed in the north-west corner: three posts and a roof sloping away from the wall.
    for (const glm::vec2 c : {glm::vec2(-58, 58), glm::vec2(-70, 58), glm::vec2(-58, 70)})
        m.Post({c.x - 0.4f, c.x + 0.4f, c.y - 0.4f, c.y + 0.4f}, 0, 11.5f, kPlanches);
    const glm::vec3 r00(-80, 13, 80), r10(-57, 13, 80), r11(-57, 11, 57), r01(-80, 11, 57);
    m.pla.push_back(MapBuilder::Facet({r01, r00, r10, r11}, kTuiles));
    m.pla.push_back(MapBuilder::Facet({r00, r01, r11, r10}, kPlanches));

    m.Ground(yard, 0, kPave);

    const FileMap def{
        "cour", "ciel", {0, 60, 0}, {{-68, 2, 68}, {60, 2, -30}, {-40, 10, -74}, {10, 2, 50}}, 24};
    WriteFileMap(out, def, m, mats);
}

// "usine": an industrial hall 180 x 100 and 30 high. Grating catwalks 12 up along both long
// walls, joined by a bridge across the middle; stairs up to the north catwalk in the west and
// to the south catwalk in the east; a ladder up to the south catwalk; machines, containers and
// crates on the floor; skylights in the roof.
void Hall(Output& out) {
    enum {
        kBeton,
        kTole,
        kMetal,
        kGrille,
        kRayure,
        kConteneur,
        kCaisse,
        kEchelle,
        kBrique,
        kMachineVerte,
        kMachineJaune
    };
    const std::vector<XMaterial> mats = {{"beton", glm::vec3(1), 5, "beton.bmp"},
                                         {"tole", glm::vec3(1), 15, "tole.bmp"},
                                         {"metal", glm::vec3(1), 20, "metal.bmp"},
                                         {"grille", glm::vec3(1), 20, "{grille.bmp"},
                                         {"rayure", glm::vec3(1), 10, "rayure.bmp"},
                                         {"conteneur", glm::vec3(1), 10, "conteneur.bmp"},
                                         {"caisse", glm::vec3(1), 5, "caisse.bmp"},
                                         {"echelle", glm::vec3(1), 5, "{echelle.bmp"},
                                         {"brique", glm::vec3(1), 5, "brique.bmp"},
                                         {"machine_verte", glm::vec3(1), 15, "machine_verte.bmp"},
                                         {"machine_jaune", glm::vec3(1), 15, "machine_jaune.bmp"}};
    MapBuilder m;
    const Rect hall{-90, 90, -50, 50};
    constexpr float kCatwalk = 12.f, kRoof = 30.f;

    MapBuilder::Enclosure(hall, 0, 6, kBrique, m.mur);
    MapBuilder::Enclosure(hall, 6, kRoof, kTole, m.mur);

    // Catwalks and the bridge: grating floors, seen from below too, with striped edges.
    const Rect north{-90, 90, 38, 50}, south{-90, 90, -50, -38}, bridge{-4, 4, -38, 38};
    for (const Rect& r : {north, south, bridge}) {
        m.sol.push_back(MapBuilder::Flat(r, kCatwalk, true, kGrille, 0.25f));
        m.pla.push_back(MapBuilder::Flat(r, kCatwalk - 0.4f, false, kGrille, 0.25f));
    }
    m.pla.push_back(
        MapBuilder::Upright({-90, 38}, {-4, 38}, kCatwalk - 0.4f, kCatwalk, {0, 0, -1}, kRayure));
    m.pla.push_back(
        MapBuilder::Upright({4, 38}, {90, 38}, kCatwalk - 0.4f, kCatwalk, {0, 0, -1}, kRayure));
    m.pla.push_back(
        MapBuilder::Upright({-90, -38}, {-4, -38}, kCatwalk - 0.4f, kCatwalk, {0, 0, 1}, kRayure));
    m.pla.push_back(
        MapBuilder::Upright({4, -38}, {90, -38}, kCatwalk - 0.4f, kCatwalk, {0, 0, 1}, kRayure));
    m.pla.push_back(
        MapBuilder::Upright({-4, -38}, {-4, 38}, kCatwalk - 0.4f, kCatwalk, {-1, 0, 0}, kRayure));
    m.pla.push_back(
        MapBuilder::Upright({4, -38}, {4, 38}, kCatwalk - 0.4f, kCatwalk, {1, 0, 0}, kRayure));
    for (float x : {-80.f, -50.f, -20.f, 20.f, 50.f, 80.f}) {
        m.Post({x - 0.4f, x + 0.4f, 38.2f, 39.f}, 0, kCatwalk - 0.4f, kMetal);
        m.Post({x - 0.4f, x + 0.4f, -39.f, -38.2f}, 0, kCatwalk - 0.4f, kMetal);
    }
    for (float z : {-20.f, 0.f, 20.f})
        m.Post({-0.4f, 0.4f, z - 0.4f, z + 0.4f}, 0, kCatwalk - 0.4f, kMetal);

    // Railings, open at the stairs, the bridge, the ladder and two places to jump down.
    m.Railing({-90, 38.3f}, {90, 38.3f}, kCatwalk, 3.2f, {{-70, -62}, {-4, 4}, {40, 46}}, kGrille,
              kRayure);
    m.Railing({-90, -38.3f}, {90, -38.3f}, kCatwalk, 3.2f,
              {{62, 70}, {-4, 4}, {-43, -37}, {-76, -70}}, kGrille, kRayure);
    m.Railing({-3.7f, -38.3f}, {-3.7f, 38.3f}, kCatwalk, 3.2f, {}, kGrille, kRayure);
    m.Railing({3.7f, -38.3f}, {3.7f, 38.3f}, kCatwalk, 3.2f, {}, kGrille, kRayure);

    // Stairs: west up to the north catwalk, east up to the south catwalk.
    m.Stairs({-66, 8}, {0, 1}, 8, 15, 0.8f, 2.f, 0, kMetal, true, true, true);
    m.Stairs({66, -8}, {0, -1}, 8, 15, 0.8f, 2.f, 0, kMetal, true, true, true);
    m.Ladder({-40, -37.6f}, {0, 0, 1}, 0, kCatwalk + 1.f, 3, kEchelle, kMetal);

    // Machines, containers and crates.
    m.Solid({-40, -22, -14, 4}, 0, 10, kMachineVerte, kRayure);
    m.Solid({20, 34, -6, 12}, 0, 7, kMachineJaune, kMetal);
    m.Solid({48, 74, 16, 26}, 0, 9, kConteneur, kMetal);
    MapBuilder::BoxSides({50, 72, 17, 25}, 9, 18, kConteneur, m.mur);
    m.sol.push_back(MapBuilder::Flat({50, 72, 17, 25}, 18, true, kMetal));
    m.Solid({-84, -76, -34, -26}, 0, 6, kCaisse, kCaisse);
    m.Solid({-76, -71, -33, -27}, 0, 2, kCaisse, kCaisse);
    m.Solid({10, 16, 26, 32}, 0, 6, kCaisse, kCaisse);

    // Roof with two skylights, and trusses under it (decor).
    const std::vector<Rect> skylights = {{-52, -38, -10, 10}, {38, 52, -10, 10}};
    Decompose(hall, skylights,
              [&](const Rect& c) { m.pla.push_back(MapBuilder::Flat(c, kRoof, false, kMetal)); });
    for (const Rect& s : skylights) {
        const Rect well{s.x0, s.x1, s.z0, s.z1};
        std::vector<Poly> sides;
        MapBuilder::BoxSides(well, kRoof, kRoof + 1.5f, kMetal, sides);
        for (Poly& p : sides) { // seen from inside the opening
            std::reverse(p.p.begin(), p.p.end());
            std::reverse(p.uv.begin(), p.uv.end());
            for (glm::vec3& n : p.n)
                n = -n;
            m.pla.push_back(p);
        }
    }
    for (float x : {-60.f, -30.f, 0.f, 30.f, 60.f}) {
        const Rect beam{x - 0.5f, x + 0.5f, -50, 50};
        MapBuilder::BoxSides(beam, kRoof - 2.f, kRoof, kMetal, m.pla);
        m.pla.push_back(MapBuilder::Flat(beam, kRoof - 2.f, false, kMetal));
    }

    m.Ground(hall, 0, kBeton);

    const FileMap def{"usine",
                      "couchant",
                      {0, 26, 0},
                      {{-80, 2, 0}, {80, 2, -20}, {40, 14, 44}, {-20, 14, -44}},
                      20};
    WriteFileMap(out, def, m, mats);
}

} // namespace

void GenerateFileMaps(Output& out) {
    out.WriteBytes("map/textures/pave.bmp", Cobbles(21).EncodeBmp24());
    out.WriteBytes("map/textures/pierre.bmp", StoneBlocks(22).EncodeBmp24());
    out.WriteBytes(
        "map/textures/tole.bmp",
        Corrugated(23, {0.5f, 0.55f, 0.58f}, {0.45f, 0.26f, 0.12f}, false).EncodeBmp24());
    out.WriteBytes("map/textures/conteneur.bmp",
                   Corrugated(24, {0.6f, 0.16f, 0.1f}, {0.35f, 0.2f, 0.1f}, true).EncodeBmp24());
    out.WriteBytes("map/textures/rayure.bmp", HazardStripes(25).EncodeBmp24());
    out.WriteBytes("map/textures/machine_verte.bmp",
                   MachinePanel(30, {0.2f, 0.42f, 0.3f}).EncodeBmp24());
    out.WriteBytes("map/textures/machine_jaune.bmp",
                   MachinePanel(31, {0.75f, 0.55f, 0.12f}).EncodeBmp24());
    out.WriteBytes("map/textures/tuiles.bmp", RoofTiles(26).EncodeBmp24());
    out.WriteBytes("map/textures/planches.bmp", Planks(27).EncodeBmp24());
    out.WriteBytes("map/textures/{grille.bmp", Grating(28).EncodeBmp24());
    out.WriteBytes("map/textures/{echelle.bmp", LadderRungs(29).EncodeBmp24());

    const SkyStyle day{{0.2f, 0.38f, 0.75f},
                       {0.72f, 0.82f, 0.92f},
                       {0.25f, 0.27f, 0.22f},
                       {1.f, 0.9f, 0.6f},
                       {0.98f, 0.98f, 0.97f},
                       {0.6f, 0.63f, 0.7f},
                       {0.22f, 0.3f, 0.24f},
                       glm::normalize(glm::vec3(0.5f, 0.6f, 0.6f)),
                       0.45f,
                       0.12f,
                       31};
    const SkyStyle dusk{{0.12f, 0.12f, 0.3f},
                        {0.95f, 0.55f, 0.3f},
                        {0.15f, 0.1f, 0.1f},
                        {1.f, 0.6f, 0.25f},
                        {1.f, 0.7f, 0.5f},
                        {0.35f, 0.25f, 0.35f},
                        {0.12f, 0.1f, 0.14f},
                        glm::normalize(glm::vec3(-0.8f, 0.12f, 0.3f)),
                        0.35f,
                        0.08f,
                        32};
    for (const auto& [name, style] : {std::pair{"ciel", day}, std::pair{"couchant", dusk}})
        for (const SkyFace& f : kSkyFaces)
            out.WriteBytes(std::string("map/env/") + name + f.suffix,
                           SkyPicture(style, f).EncodeBmp24());
    out.WriteBytes("map/boite.x", SkyBoxFile());

    Courtyard(out);
    Hall(out);
}

} // namespace assetgen
