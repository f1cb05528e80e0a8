// tools/assetgen/filemaps_local.h — the parts of the file maps (filemaps.cpp) shared by their
// files: pictures (filemap_pictures.cpp), the map builder and file writer (filemap_builder.cpp)
// and one layout per map (filemap_cour.cpp, filemap_usine.cpp). Units and player rules: see
// filemaps.cpp.
#pragma once

#include "tools/assetgen/assetgen_local.h"

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace assetgen::filemap {

// ---------------------------------------------------------------------------------------------
// Textures (128 x 128, tileable), painted from a seed

Image Cobbles(uint32_t seed);
Image StoneBlocks(uint32_t seed);
Image Corrugated(uint32_t seed, glm::vec3 paint, glm::vec3 rust, bool frame);
Image HazardStripes(uint32_t seed);
Image MachinePanel(uint32_t seed, glm::vec3 paint);
Image RoofTiles(uint32_t seed);
Image Planks(uint32_t seed);
Image Grating(uint32_t seed);
Image LadderRungs(uint32_t seed);

// ---------------------------------------------------------------------------------------------
// Sky

struct SkyStyle {
    glm::vec3 zenith, horizon, ground, sun, cloudLit, cloudShade, hills;
    glm::vec3 sunDir;
    float cover;      // 0 clear .. 1 overcast
    float hillHeight; // elevation (sine) of the highest hill tops
    uint32_t seed;
};

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

// The picture of one sky box face for a sky of `style`.
Image SkyPicture(const SkyStyle& style, const SkyFace& f);

// The sky box mesh shared by every file map (map/boite.x).
std::string SkyBoxFile();

// ---------------------------------------------------------------------------------------------
// MapBuilder

struct Rect {
    float x0, x1, z0, z1;
    bool Contains(float x, float z) const { return x > x0 && x < x1 && z > z0 && z < z1; }
};

// Emits the cells of `r` outside every rectangle of `holes`, merged along x.
void Decompose(const Rect& r, const std::vector<Rect>& holes,
               const std::function<void(const Rect&)>& emit);

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

// Writes map/<name>.map and the meshes, divided by the mesh scale the definition file names.
// Spawn points and the light are whole numbers, so their text reads the same in every locale.
void WriteFileMap(Output& out, const FileMap& m, const MapBuilder& b,
                  const std::vector<XMaterial>& mats);

// ---------------------------------------------------------------------------------------------
// Layouts

// "cour", written to map/cour.* (filemap_cour.cpp).
void Courtyard(Output& out);

// "usine", written to map/usine.* (filemap_usine.cpp).
void Hall(Output& out);

} // namespace assetgen::filemap
