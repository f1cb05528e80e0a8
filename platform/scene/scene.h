// platform/scene/scene.h — the retained-mode scene: frames, visuals, lights, materials,
// animation sets, ray picks, viewport parameters and .x loading. CPU only (no OpenGL here);
// platform/render draws what this layer holds.
//
// The umbrella header of the scene: game code includes it and gets every part:
//   types.h      conventions and small types: Box, flags, combine modes, qualities
//   visual.h     Visual, Material, Light; Texture and Image, SearchPath, texture loading
//   mesh.h       MeshBuilder, and Mesh (renderable copy with one vertex group)
//   frame.h      Frame, and walks over drawn visuals and enabled lights
//   pick.h       ray picks
//   animation.h  AnimationSet / Animation
//   viewport.h   viewport parameters
//   xfile.h      .x loading
//
// Every function follows the conventions written at the top of types.h (handedness, matrices,
// reference frames, the quaternion convention, units, and no allocation per frame).
#pragma once

#include "platform/scene/animation.h"
#include "platform/scene/frame.h"
#include "platform/scene/mesh.h"
#include "platform/scene/pick.h"
#include "platform/scene/types.h"
#include "platform/scene/viewport.h"
#include "platform/scene/visual.h"
#include "platform/scene/xfile.h"
