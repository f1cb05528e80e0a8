// tools/assetgen/filemaps.cpp — the file maps under map/: "cour" (a walled courtyard with a
// watch tower reached by a ladder, a rampart with stairs, a well, crates and a shed) and "usine"
// (an industrial hall with catwalks, two stairs, a ladder, machines and containers), their
// textures in map/textures/, the shared sky box map/boite.x and one sky per map in map/env/.
//
//
// Index (the parts are declared in filemaps_local.h)
//   filemap_pictures.cpp  procedural pictures for map/textures/ ('{' names: pure blue is
//                         transparent), six pictures per sky painted as a function of the view
//                         direction, the sky box mesh
//   filemap_builder.cpp   MapBuilder's floor cutting; definition file and meshes of a map
//   filemaps_local.h      MapBuilder: floors (.sol), walls (.mur), render-only decor (.pla),
//                         ladders (.lad)
//   filemap_cour.cpp, filemap_usine.cpp   the two layouts
//   this file             GenerateFileMaps: every file of the file maps, in order
//
// Layouts are written in scene units (x right, y up, z forward; floors at whole heights) and
// divided by the map's mesh scale when written, since the game scales the meshes by it. The
// player rules they are built for: the body stands 2.5 above the floor (1 crouched) and about 6
// tall; the floor ray climbs any step whose top lies below the body's root, so steps rise 0.8
// and can be climbed crouched too; walls are felt 2.7 above the floor within 3.0; ladders are
// felt at the root's height and 5 above and below it within 3.0. Ground floors stop at solid
// blocks and at the outer walls, so the floor ray refuses a step into them.
#include "tools/assetgen/filemaps_local.h"

namespace assetgen {

void GenerateFileMaps(Output& out) {
    using namespace filemap;
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