// tools/assetgen/filemap_usine.cpp — the layout of the file map "usine".
#include "tools/assetgen/filemaps_local.h"

namespace assetgen::filemap {

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

} // namespace assetgen::filemap
