// tools/assetgen/character.h — the character model's meshes and poses, shared with the weapon
// pictures and the menu previews.
#pragma once

#include "tools/assetgen/skeleton.h"

namespace assetgen {

// Reference-pose triangles of team 0 (terrorists) or team 1 (GIGN), SMD coordinates.
std::vector<SmdTri> CharacterMesh(int team);
// Skin picture `index` (0..2) of a team, the atlas every skin group maps.
Image TeamSkin(int team, int index);
// The upper body aiming a weapon of the class ("rifle", ...), legs standing.
Pose CharacterAimPose(const std::string& weaponClass);
// Posed triangles converted to the axes of the finished model (x right, y up, z forward).
XMesh PreviewMesh(const std::vector<SmdTri>& tris, const Pose& pose, int material);

} // namespace assetgen
