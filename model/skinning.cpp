// model/skinning.cpp — per-player instances of a loaded model and their animation: RenvMesh,
// Anime, AnimeMultiVertex, AnimeSkmVertex, RenduMesh.
//
// The skeleton is shared by every player: Anime poses it for one player and copies everything
// that player needs (skinned positions, hit-box, hand and head frames) before the next one.
#include "model/model_local.h"

#include <cmath>

namespace model {

namespace {

constexpr double kPi = 3.14159265359;

} // namespace

void MDL::RenvMesh(Instance& p) {
    if (!p.base || !p.Peau) {
        throw ModelError(nom, 0, "a player instance needs the player's base and Peau frames");
    }
    const int32_t g = p.IdModele;
    if (!settings.boxMode && (g < 0 || g >= SkinGroupCount)) {
        throw ModelError(nom, 0,
                         "skin group " + std::to_string(g) + " does not exist (the model has " +
                             std::to_string(SkinGroupCount) + ")");
    }

    // 1.
    p.base->DeleteAllVisuals();
    // 2. Rigid bone meshes, once per base.
    if (p.base->GetChildCount() == 0) {
        for (int32_t b = 0; b < BoneCount && size_t(b) < BoneMeshes.size(); ++b) {
            if (!BoneMeshes[size_t(b)]) continue;
            auto frame = scene::Frame::Create(p.base);
            frame->SetAppData(uint32_t(b + 1));
            frame->AddVisual(scene::Mesh::CreateFromBuilder(*BoneMeshes[size_t(b)]));
        }
    }
    // 3. Hit boxes: copies that name the player (application value) and the bone (name). They
    // are drawn and picked as the traversal options of base decide.
    for (const HitBox& box : HitBoxes) {
        if (!box.BoxMesh) continue;
        auto frame = scene::Frame::Create(p.base);
        frame->SetAppData(box.BoxMesh->GetAppData());
        std::shared_ptr<scene::MeshBuilder> copy = box.BoxMesh->Clone();
        copy->SetAppData(uint32_t(p.indice));
        copy->SetName(box.BoxMesh->GetName());
        copy->SetFlags(scene::kFlagRenderedAndPickable);
        frame->AddVisual(copy);
    }
    // 4. The player's skin.
    std::shared_ptr<scene::Mesh> skin;
    if (!settings.boxMode) {
        scene::MeshBuilder& groupMesh = *SkinGroups[size_t(g)].Mesh;
        ChargeUneTexture(groupMesh, p.texture);
        skin = scene::Mesh::CreateFromBuilder(groupMesh);
        // The template group is hidden (pick-only under sol); the player's copy is what is drawn,
        // and Peau's traversal options decide the rest.
        skin->SetFlags(scene::kFlagRenderedAndPickable);
        p.Peau->AddVisual(skin);
        p.Peau->SetTraversalOptions(scene::kFlagRendered);
    }
    // 5. Bone-bound children of base take their bones' places; the head box is the player's head.
    for (const std::shared_ptr<scene::Frame>& child : p.base->Children()) {
        const int64_t b = int64_t(child->GetAppData()) - 1;
        if (b < 0 || b >= BoneCount) continue;
        if (tete && Bones[size_t(b)] == tete) p.tete = child;
        child->SetTransform(nullptr, BoneToModel(int32_t(b)));
    }
    // 6-7. Hand and head frames under Peau.
    const auto boneBound = [&](const std::shared_ptr<scene::Frame>& bone) {
        auto frame = scene::Frame::Create(p.Peau);
        const int32_t b = bone ? BoneOfFrame(*bone) : -1;
        if (b >= 0) {
            frame->SetAppData(uint32_t(b + 1));
            frame->SetTransform(nullptr, BoneToModel(b));
        }
        return frame;
    };
    if (!p.MDroite) p.MDroite = boneBound(Main);
    if (!p.tete) p.tete = boneBound(tete);
    // 8. The render copy.
    if (!settings.boxMode) {
        SkinGroup& group = SkinGroups[size_t(g)];
        RenderCopy& copy = RenderCopies.emplace_back();
        copy.SkinFrame = p.Peau;
        copy.Mesh = skin;
        const int32_t index = int32_t(RenderCopies.size() - 1);
        p.base->SetAppData(uint32_t(index));
        p.IdSkm = index;
        ++group.CopyCount;
        copy.Vertices.resize(group.Mesh->GetVertexCount());
        skin->GetVertices(0, copy.Vertices);
        copy.Group = g;
        copy.LinkPositions.resize(group.Links.size());
        for (size_t k = 0; k < group.Links.size(); ++k) {
            copy.LinkPositions[k].resize(group.Links[k].LocalPositions.size());
        }
    }
}

void MDL::Anime(Instance& p) {
    // 1-2. Full-body and upper-body animation sets.
    if (p.Anipos >= 0 && size_t(p.Anipos) < AnimSets.size()) {
        AnimSets[size_t(p.Anipos)]->SetTime(float(p.fps));
    }
    if (p.AniBuste != -1 && p.AniBuste >= 0 && size_t(p.AniBuste) < AnimSets.size()) {
        AnimSets[size_t(p.AniBuste)]->SetTime(float(p.fps2));
    }
    // 3-5. Body pitch and spine twist over the first three spine bones.
    const double c = double(p.colonne) * kPi / 180.0;
    const glm::vec3 twist(float(std::sin(c)), 0.0f, float(std::cos(c)));
    for (size_t s = 0; s < 3; ++s) {
        if (SpineFrames[s]) {
            SpineFrames[s]->AddRotation(scene::Combine::Before, glm::vec3(0, 0, 1),
                                        float(-p.pivot));
        }
    }
    for (size_t s = 0; s < 3; ++s) {
        if (SpineFrames[s]) {
            SpineFrames[s]->SetOrientation(SpineFrames[s].get(), twist, glm::vec3(0, 1, 0));
        }
    }
    // 6. Skinning of the player's copy.
    if (!settings.boxMode) AnimeMultiVertex(p.IdSkm, p.IdModele);
    // 7-8. Bone-bound frames.
    if (p.base) RenduMesh(*p.base);
    for (scene::Frame* frame : {p.MDroite.get(), p.tete.get()}) {
        if (!frame) continue;
        const int64_t b = int64_t(frame->GetAppData()) - 1;
        if (b >= 0 && b < BoneCount) frame->SetTransform(nullptr, BoneToModel(int32_t(b)));
    }
}

void MDL::AnimeMultiVertex(int32_t r, int32_t g) {
    if (g < 0 || g >= SkinGroupCount || r < 0 || size_t(r) >= RenderCopies.size()) return;
    const SkinGroup& group = SkinGroups[size_t(g)];
    RenderCopy& copy = RenderCopies[size_t(r)];
    if (group.Links.size() < 2 || copy.Group != g) return;
    for (size_t k = 0; k < group.Links.size(); ++k) {
        const BoneLink& link = group.Links[k];
        const glm::mat4 toModel = link.Frame->GetTransform(sol.get());
        std::vector<glm::vec3>& out = copy.LinkPositions[k];
        const size_t n = std::min(out.size(), link.LocalPositions.size());
        for (size_t i = 0; i < n; ++i) {
            out[i] = glm::vec3(toModel * glm::vec4(link.LocalPositions[i], 1.0f));
        }
    }
}

void MDL::AnimeSkmVertex() {
    if (RenderCopies.empty()) return;
    for (int32_t g = 0; g < SkinGroupCount; ++g) {
        const SkinGroup& group = SkinGroups[size_t(g)];
        if (group.Links.size() < 2 || group.CopyCount <= 0) continue;
        for (RenderCopy& copy : RenderCopies) {
            if (copy.Group != g) continue;
            for (size_t k = 0; k < group.Links.size() && k < copy.LinkPositions.size(); ++k) {
                const std::vector<int32_t>& indices = group.Links[k].VertexIndices;
                const std::vector<glm::vec3>& positions = copy.LinkPositions[k];
                for (size_t i = 0; i < indices.size() && i < positions.size(); ++i) {
                    const size_t v = size_t(indices[i]);
                    if (v < copy.Vertices.size()) copy.Vertices[v].position = positions[i];
                }
            }
            if (copy.Mesh) copy.Mesh->SetVertices(0, copy.Vertices);
        }
    }
}

void MDL::RenduMesh(const scene::Frame& frame) const {
    for (const std::shared_ptr<scene::Frame>& child : frame.Children()) {
        const int64_t b = int64_t(child->GetAppData()) - 1;
        if (b >= 0 && b < BoneCount) child->SetTransform(nullptr, BoneToModel(int32_t(b)));
    }
}

} // namespace model
