// tools/assetgen/maps.cpp — the built-in maps: "couloirs" (two parallel corridors joined by
// cross passages, a grand stair down to the junction near z = -200 where the second section,
// turned by 180 degrees, continues) and "entrepot" (a two-level warehouse, written ten times
// larger since the game scales it by 0.1). Textures are painted here too.
#include "tools/assetgen/assetgen_local.h"

#include <cmath>

namespace assetgen {

namespace {

// Axis-aligned rectangle facing `n` (a unit axis), wound so the face looks along n.
Poly Face(glm::vec3 lo, glm::vec3 hi, glm::vec3 n, float uvScale, int material) {
    glm::vec3 a, b, c, d;
    if (n.y != 0) {
        a = {lo.x, lo.y, lo.z}, b = {lo.x, lo.y, hi.z}, c = {hi.x, lo.y, hi.z},
        d = {hi.x, lo.y, lo.z};
    } else if (n.x != 0) {
        a = {lo.x, lo.y, lo.z}, b = {lo.x, hi.y, lo.z}, c = {lo.x, hi.y, hi.z},
        d = {lo.x, lo.y, hi.z};
    } else {
        a = {lo.x, lo.y, lo.z}, b = {lo.x, hi.y, lo.z}, c = {hi.x, hi.y, lo.z},
        d = {hi.x, lo.y, lo.z};
    }
    if (glm::dot(glm::cross(b - a, c - a), n) < 0) std::swap(b, d);
    return Quad(a, b, c, d, glm::vec2(uvScale), material);
}

Image Tile(int kind, uint32_t seed) {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const float n = float(Fbm(x / 16.0, y / 16.0, seed, 4, 8));
            glm::vec3 c;
            if (kind == 0) { // bricks
                const int row = y / 16, off = (row % 2) * 16;
                const bool mortar = y % 16 < 2 || (x + off) % 32 < 2;
                c = mortar ? glm::vec3(0.55f, 0.53f, 0.5f)
                           : glm::vec3(0.55f, 0.25f, 0.17f) * (0.75f + 0.5f * n);
            } else if (kind == 1) { // concrete floor with joints
                c = glm::vec3(0.5f, 0.5f, 0.48f) * (0.7f + 0.5f * n);
                if (x % 64 < 1 || y % 64 < 1) c *= 0.6f;
            } else if (kind == 2) { // metal plates with rivets
                c = glm::vec3(0.42f, 0.44f, 0.46f) * (0.8f + 0.35f * n);
                if (x % 64 < 2 || y % 64 < 2) c *= 0.5f;
                const int rx = x % 64, ry = y % 64;
                if ((rx - 6) * (rx - 6) + (ry - 6) * (ry - 6) < 5) c = glm::vec3(0.7f);
            } else { // wooden crate
                const float grain = 0.8f + 0.25f * std::sin(y * 0.7f + 8.f * n);
                c = glm::vec3(0.6f, 0.42f, 0.22f) * grain;
                if (x < 10 || x > 117 || y < 10 || y > 117 || std::abs(x - y) < 6)
                    c = glm::vec3(0.45f, 0.3f, 0.15f) * grain;
            }
            img.At(x, y) = c;
        }
    return img;
}

struct Builder {
    std::vector<Poly> floors, walls, ceilings, visual;
    // A box room interior between lo and hi: floor, ceiling, and the four walls facing in.
    void Floor(glm::vec2 x, glm::vec2 z, float y, int mat) {
        const Poly p = Face({x[0], y, z[0]}, {x[1], y, z[1]}, {0, 1, 0}, 0.1f, mat);
        floors.push_back(p), visual.push_back(p);
    }
    void Ceiling(glm::vec2 x, glm::vec2 z, float y, int mat) {
        const Poly p = Face({x[0], y, z[0]}, {x[1], y, z[1]}, {0, -1, 0}, 0.1f, mat);
        ceilings.push_back(p), visual.push_back(p);
    }
    // Wall along x (at z) or along z (at x), facing `n`.
    void Wall(glm::vec3 lo, glm::vec3 hi, glm::vec3 n, int mat) {
        const Poly p = Face(lo, hi, n, 0.1f, mat);
        walls.push_back(p), visual.push_back(p);
    }
    // A solid block (pillar, crate) standing on y0 up to y1: four walls out and its top floor.
    void Block(glm::vec3 lo, glm::vec3 hi, int mat) {
        Wall({lo.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {0, 0, -1}, mat);
        Wall({lo.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {0, 0, 1}, mat);
        Wall({lo.x, lo.y, lo.z}, {lo.x, hi.y, hi.z}, {-1, 0, 0}, mat);
        Wall({hi.x, lo.y, lo.z}, {hi.x, hi.y, hi.z}, {1, 0, 0}, mat);
        Floor({lo.x, hi.x}, {lo.z, hi.z}, hi.y, mat);
    }
};

// "couloirs", first section (the game places the second, turned, itself).
void Corridors(Output& out) {
    const float fy = -5.5f, cy = 6.f;
    Builder cor, st;
    const std::vector<XMaterial> mats = {
        {"brique", glm::vec3(1), 10, "brique.bmp"}, {"beton", glm::vec3(1), 10, "beton.bmp"},
        {"metal", glm::vec3(1), 10, "metal.bmp"},   {"logo", glm::vec3(1), 10, "logo.bmp"},
        {"logo2", glm::vec3(1), 10, "logo2.bmp"},   {"logo3", glm::vec3(1), 10, "logo3.bmp"},
        {"logo4", glm::vec3(1), 10, "logo4.bmp"}};
    // Two corridors x 0..14 and 56..70 from z = 15 down to -150, joined at the top (z 3..15)
    // and in the middle (z -95..-85); the middle block between them is solid, its faces turned
    // out towards the corridors and passages.
    cor.Floor({0, 70}, {-150, 15}, fy, 1);
    cor.Ceiling({0, 70}, {-150, 15}, cy, 2);
    cor.Wall({0, fy, 15}, {70, cy, 15}, {0, 0, -1}, 0);
    cor.Wall({0, fy, -150}, {0, cy, 15}, {1, 0, 0}, 0);
    cor.Wall({70, fy, -150}, {70, cy, 15}, {-1, 0, 0}, 0);
    for (const glm::vec2 span : {glm::vec2(-85, 3), glm::vec2(-150, -95)}) {
        cor.Wall({14, fy, span[0]}, {14, cy, span[1]}, {-1, 0, 0}, 0);
        cor.Wall({56, fy, span[0]}, {56, cy, span[1]}, {1, 0, 0}, 0);
        cor.Wall({14, fy, span[1]}, {56, cy, span[1]}, {0, 0, 1}, 0);
        cor.Wall({14, fy, span[0]}, {56, cy, span[0]}, {0, 0, -1}, 0);
    }
    // Posters on the walls (visual only, a hair in front of them).
    const float posters[][2] = {{-30, 3}, {-60, 4}, {-120, 5}, {-140, 6}};
    for (const auto& p : posters) {
        cor.visual.push_back(
            Face({0.05f, -2.f, p[0] - 4}, {0.05f, 2.f, p[0] + 4}, {1, 0, 0}, 0.125f, int(p[1])));
        cor.visual.back().uv = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
    }
    // The stair hall z -150..-200: level to -155, ten steps down to y -15.5 by -195. Each riser
    // faces down the stair (-z): it is seen from below, and from the first section when the
    // turned second section's stair rises beyond the junction.
    st.Floor({0, 70}, {-155, -150}, fy, 1);
    for (int k = 0; k < 10; ++k) {
        const float z0 = -155.f - 4.f * float(k), y = fy - 1.f - float(k);
        st.Floor({0, 70}, {z0 - 4, z0}, y, 2);
        st.visual.push_back(Face({0, y, z0}, {70, y + 1, z0}, {0, 0, -1}, 0.1f, 2));
    }
    st.Floor({0, 70}, {-200, -195}, fy - 10.f, 1);
    st.Ceiling({0, 70}, {-200, -150}, 12.f, 2);
    st.Wall({0, -16.f, -200}, {0, 12.f, -150}, {1, 0, 0}, 0);
    st.Wall({70, -16.f, -200}, {70, 12.f, -150}, {-1, 0, 0}, 0);
    st.Wall({0, cy, -150}, {70, 12.f, -150}, {0, 0, -1}, 0);

    out.WriteBytes("media/couloir1.x", EncodeXFile(mats, {{"couloir", cor.visual}}));
    out.WriteBytes("media/stair.x", EncodeXFile(mats, {{"escalier", st.visual}}));
    auto join = [](std::vector<Poly> a, const std::vector<Poly>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    out.WriteBytes("media/sol.x", EncodeXFile(mats, {{"sol", join(cor.floors, st.floors)}}));
    out.WriteBytes("media/mur.x", EncodeXFile(mats, {{"mur", join(cor.walls, st.walls)}}));
    out.WriteBytes("media/plafond.x",
                   EncodeXFile(mats, {{"plafond", join(cor.ceilings, st.ceilings)}}));
    out.WriteBytes("media/brique.bmp", Tile(0, 1).EncodeBmp24());
    out.WriteBytes("media/beton.bmp", Tile(1, 2).EncodeBmp24());
    out.WriteBytes("media/metal.bmp", Tile(2, 3).EncodeBmp24());
}

// "entrepot", written at ten times the scene size.
void Warehouse(Output& out) {
    Builder b;
    const float g = -27.f, up = 2.f, roof = 32.f;
    b.Floor({-75, 85}, {-80, 80}, g, 1);
    b.Ceiling({-75, 85}, {-80, 80}, roof, 2);
    b.Wall({-75, g, -80}, {85, roof, -80}, {0, 0, 1}, 0);
    b.Wall({-75, g, 80}, {85, roof, 80}, {0, 0, -1}, 0);
    b.Wall({-75, g, -80}, {-75, roof, 80}, {1, 0, 0}, 0);
    b.Wall({85, g, -80}, {85, roof, 80}, {-1, 0, 0}, 0);
    // Mezzanines along both ends, with ramps down along the east wall.
    for (int s = -1; s <= 1; s += 2) {
        const float zIn = 50.f * float(s), zOut = 80.f * float(s);
        b.Floor({-75, 85}, {std::min(zIn, zOut), std::max(zIn, zOut)}, up, 2);
        // Its underside and its front edge are drawn only (the ceiling file is never hit).
        b.ceilings.push_back(Face({-75, up - 1, std::min(zIn, zOut)},
                                  {85, up - 1, std::max(zIn, zOut)}, {0, -1, 0}, 0.1f, 2));
        b.ceilings.push_back(Face({-75, up - 1, zIn}, {75, up, zIn}, {0, 0, -float(s)}, 0.1f, 2));
        // Ramp from the ground at z = +-15 up to the mezzanine edge, x 75..85: a solid flight
        // of steps, its risers and its open side at x = 75 drawn only, like the ceilings.
        const int steps = 29;
        for (int k = 0; k < steps; ++k) {
            const float z0 = 15.f * float(s) + (zIn - 15.f * float(s)) * float(k) / steps;
            const float z1 = 15.f * float(s) + (zIn - 15.f * float(s)) * float(k + 1) / steps;
            const float y = g + float(k + 1);
            b.Floor({75, 85}, {std::min(z0, z1), std::max(z0, z1)}, y, 2);
            b.ceilings.push_back(Face({75, y - 1, z0}, {85, y, z0}, {0, 0, -float(s)}, 0.1f, 2));
            b.ceilings.push_back(
                Face({75, g, std::min(z0, z1)}, {75, y, std::max(z0, z1)}, {-1, 0, 0}, 0.1f, 2));
        }
        // Its back, under the mezzanine.
        b.ceilings.push_back(Face({75, g, zIn}, {85, up - 1, zIn}, {0, 0, float(s)}, 0.1f, 2));
    }
    // Crates on the ground floor.
    const float crates[][3] = {
        {-30, 20, 8}, {-40, -25, 10}, {30, 10, 8}, {50, -30, 12}, {-20, -50, 8}};
    for (const auto& c : crates)
        b.Block({c[0] - c[2] / 2, g, c[1] - c[2] / 2}, {c[0] + c[2] / 2, g + c[2], c[1] + c[2] / 2},
                3);
    auto scaled = [](std::vector<Poly> v) {
        for (Poly& p : v)
            for (glm::vec3& q : p.p)
                q *= 10.f;
        return v;
    };
    const std::vector<XMaterial> mats = {{"brique", glm::vec3(1), 10, "brique.bmp"},
                                         {"beton", glm::vec3(1), 10, "beton.bmp"},
                                         {"metal", glm::vec3(1), 10, "metal.bmp"},
                                         {"caisse", glm::vec3(1), 10, "caisse.bmp"}};
    out.WriteBytes("media/lessols.x", EncodeXFile(mats, {{"sols", scaled(b.floors)}}));
    out.WriteBytes("media/lesmurs.x", EncodeXFile(mats, {{"murs", scaled(b.walls)}}));
    out.WriteBytes("media/inutile.x", EncodeXFile(mats, {{"plafonds", scaled(b.ceilings)}}));
    // The warehouse is loaded through the map texture callback: its textures live in map/textures.
    out.WriteBytes("map/textures/brique.bmp", Tile(0, 11).EncodeBmp24());
    out.WriteBytes("map/textures/beton.bmp", Tile(1, 12).EncodeBmp24());
    out.WriteBytes("map/textures/metal.bmp", Tile(2, 13).EncodeBmp24());
    out.WriteBytes("map/textures/caisse.bmp", Tile(3, 14).EncodeBmp24());
}

} // namespace

void GenerateMaps(Output& out) {
    Corridors(out);
    Warehouse(out);
}

} // namespace assetgen
