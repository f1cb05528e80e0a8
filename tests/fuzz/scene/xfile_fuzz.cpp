// .x reader on arbitrary bytes: both entry points must fail cleanly or build a scene whose
// faces only name existing vertices and normals.
#include "platform/scene/scene.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    auto callback = [](const std::string&) { return std::shared_ptr<scene::Texture>(); };
    auto mb = scene::MeshBuilder::Create();
    if (scene::LoadXIntoMeshBuilderFromMemory(*mb, bytes, callback).ok) {
        for (const scene::Face& f : mb->Faces())
            for (size_t k = 0; k < f.vertices.size(); ++k)
                if (f.vertices[k] >= mb->GetVertexCount() || f.normals[k] >= mb->GetNormalCount())
                    std::abort();
        scene::PickResults hits;
        auto root = scene::Frame::Create();
        root->AddVisual(mb);
        scene::Pick(*root, {0, 0, -100}, {0, 0, 1}, hits);
    }
    auto parent = scene::Frame::Create();
    scene::LoadXAsFramesFromMemory(*parent, bytes, callback);
    return 0;
}
