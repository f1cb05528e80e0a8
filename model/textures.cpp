// model/textures.cpp — the player's skin texture and the map texture callback.
#include "model/model_local.h"

namespace model {

namespace {

// A file name that stays inside its folder: no folder part, not "." or "..".
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos &&
           name.find('\\') == std::string_view::npos && name != "." && name != "..";
}

// Sky face names of the map meshes and the suffixes of the sky's pictures.
struct SkyFace {
    std::string_view name;
    std::string_view suffix;
};
constexpr SkyFace kSkyFaces[6] = {
    {"devant.bmp", "ft.bmp"},   {"droite.bmp", "rt.bmp"}, {"gauche.bmp", "lf.bmp"},
    {"derriere.bmp", "bk.bmp"}, {"bas.bmp", "dn.bmp"},    {"haut.bmp", "up.bmp"},
};

} // namespace

void MDL::ChargeUneTexture(scene::MeshBuilder& builder, std::string_view fileName) const {
    if (!IsPlainFileName(fileName)) return;
    const std::string path = JoinPath(JoinPath(settings.programDir, "models"), fileName);
    if (std::shared_ptr<scene::Texture> texture = scene::LoadTexture(path)) {
        builder.SetTexture(texture);
    }
}

std::shared_ptr<scene::Texture> Class1::LoadTexture(const std::string& textureName) const {
    // 1. Sky faces (exact names).
    for (const SkyFace& face : kSkyFaces) {
        if (textureName == face.name) {
            if (!IsPlainFileName(skyName + std::string(face.suffix))) return nullptr;
            const std::string path =
                JoinPath(JoinPath(programDir, "map/env"), skyName + std::string(face.suffix));
            return scene::LoadTexture(path);
        }
    }
    // 2. Map textures.
    if (!IsPlainFileName(textureName)) return nullptr;
    // A missing file is also tried with the other picture extensions; none found gives none.
    const std::string path = JoinPath(JoinPath(programDir, "map/textures"), textureName);
    std::shared_ptr<scene::Texture> texture = scene::LoadTexture(path);
    if (texture && textureName[0] == '{') {
        texture->SetDecalTransparency(true);
        texture->SetDecalTransparentColor(0x0000FFu);
    }
    if (pump) pump();
    return texture;
}

scene::TextureCallback Class1::AsCallback() const {
    return [this](const std::string& textureName) { return LoadTexture(textureName); };
}

} // namespace model
