// tools/assetgen/filemap_cour.cpp — the layout of the file map "cour".
#include "tools/assetgen/filemaps_local.h"

namespace assetgen::filemap {

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

} // namespace assetgen::filemap
