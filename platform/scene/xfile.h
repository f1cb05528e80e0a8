// platform/scene/xfile.h — loading DirectX .x files into a mesh builder or a frame hierarchy.
#pragma once

#include "platform/scene/visual.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace scene {

// Loads a DirectX .x file (text or binary) into `builder`, appending to what it holds: every
// mesh of the file merged, each carried by its node's transform into the file's root
// coordinates; faces keep their corner counts; each face gets its material (power, specular,
// emissive, diffuse as the face colour) and the texture that `callback` returns for the
// material's texture name (called once per distinct name). Coordinates and winding are used
// exactly as written; faces of text files keep the file's numbering (binary files: grouped by
// material). `name` is resolved through `path` when given. On failure `builder` is unchanged.
LoadStatus LoadXIntoMeshBuilder(MeshBuilder& builder, std::string_view name, const SearchPath* path,
                                const TextureCallback& callback);

// Loads a .x file as a frame hierarchy: one new child of `parent` for the file's root node,
// one frame per node below it (name and transform as written), each node's meshes attached as
// mesh builders. `loaded` (optional) receives the new child. On failure nothing is attached.
LoadStatus LoadXAsFrames(Frame& parent, std::string_view name, const SearchPath* path,
                         const TextureCallback& callback, std::shared_ptr<Frame>* loaded = nullptr);

// The same readers on a file held in memory (archives, tests, fuzzing).
LoadStatus LoadXIntoMeshBuilderFromMemory(MeshBuilder& builder, std::span<const uint8_t> bytes,
                                          const TextureCallback& callback);
LoadStatus LoadXAsFramesFromMemory(Frame& parent, std::span<const uint8_t> bytes,
                                   const TextureCallback& callback,
                                   std::shared_ptr<Frame>* loaded = nullptr);

} // namespace scene
