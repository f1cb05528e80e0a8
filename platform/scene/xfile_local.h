// platform/scene/xfile_local.h — the pieces of .x loading shared by xfile.cpp (reading and
// guarding the import), xfile_text.cpp (checks and face order read from text files) and
// xfile_build.cpp (meshes and frames built from the importer's scene).
#pragma once

#include "platform/scene/scene_local.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct aiScene;

namespace scene::xfile {

// One mesh of a text file as written: the material index of each face (empty: no list).
struct FileMesh {
    std::vector<uint32_t> faceMaterials;
    uint32_t declaredMaterials = 0;
    size_t faceCount = 0;

    // For each face, the importer piece that holds it (`pieceOf`), and each piece's face count.
    bool FacePieces(std::vector<uint32_t>& pieceOf, std::vector<uint32_t>& pieceFaces) const {
        pieceOf.assign(faceCount, 0);
        pieceFaces.clear();
        if (faceMaterials.empty()) {
            if (faceCount > 0) pieceFaces.push_back(static_cast<uint32_t>(faceCount));
            return true;
        }
        if (faceMaterials.size() != faceCount) return false;
        const uint32_t materials = std::max<uint32_t>(declaredMaterials, 1);
        std::vector<uint32_t> count(materials, 0), piece(materials, 0);
        for (uint32_t m : faceMaterials) {
            if (m >= materials) return false;
            ++count[m];
        }
        for (uint32_t m = 0; m < materials; ++m) {
            if (count[m] == 0) continue;
            piece[m] = static_cast<uint32_t>(pieceFaces.size());
            pieceFaces.push_back(count[m]);
        }
        for (size_t c = 0; c < faceCount; ++c)
            pieceOf[c] = piece[faceMaterials[c]];
        return true;
    }
};

// The meshes of a text file in the order the importer creates them; `next` walks them while
// the nodes are converted. Invalid as soon as the importer's meshes stop matching.
struct FaceOrderPlan {
    std::vector<FileMesh> meshes;
    size_t next = 0;
    bool valid = true;
};

// True when `bytes` is not a text .x file or when its material lists are consistent; otherwise
// `why` says what is wrong.
bool CheckTextMaterialLists(std::span<const uint8_t> bytes, std::string& why);

// The meshes of a text file in the importer's order; invalid for binary files or on any parse
// trouble.
FaceOrderPlan BuildFaceOrderPlan(std::span<const uint8_t> bytes);

// Appends every mesh of `s` to `builder`, each carried by its node's transform into the file's
// root coordinates, in the file's face order when `plan` is valid.
void MergeScene(MeshBuilder& builder, const aiScene& s, const TextureCallback& callback,
                FaceOrderPlan& plan);

// A new frame hierarchy for the nodes of `s`, each node's meshes attached as one mesh builder.
std::shared_ptr<Frame> BuildFrameTree(const aiScene& s, const TextureCallback& callback,
                                      FaceOrderPlan& plan);

} // namespace scene::xfile
