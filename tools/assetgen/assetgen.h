// tools/assetgen/assetgen.h — the default game content, generated from code.
//
// GenerateAll writes the complete default installation content (models, weapons, sounds,
// pictures, the two built-in maps, the file maps with their sky, menu pictures and readme.txt)
// under one root directory, laid out as the game reads it:
//   models/   terror.qc + SMDs, TS<n>.bmp / GS<n>.bmp skins, terror.x / gign.x previews,
//             body sounds, blood001..009.bmp decals
//   weapons/  twelve <class>_<name>.QC with their SMDs and textures, <name>-1.wav fire sounds,
//             sniper.bmp, croix.bmp, 640_<name>.bmp inventory pictures
//   media/    built-in maps "couloirs" and "entrepot" (.x meshes, their textures, logos),
//             splash0..2.bmp, menu pictures
//   map/      file maps (<name>.map, .sol, .mur, .pla, .lad), boite.x, textures/, env/
//   readme.txt
// The output is deterministic: the same bytes on every run, on every machine.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace assetgen {

// Writes every file under `root` (created when missing) and appends the relative path of each
// written file ('/' separators, write order) to `written`. Returns false and fills `error` with
// the path that could not be written; files already written stay.
bool GenerateAll(const std::filesystem::path& root, std::vector<std::string>& written,
                 std::string& error);

} // namespace assetgen
