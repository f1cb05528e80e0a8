// tools/assetgen/filemap_builder.cpp — cutting floors around holes, and writing a file map:
// its definition file and its meshes.
#include "tools/assetgen/filemaps_local.h"

namespace assetgen::filemap {

namespace {

std::string Triple(glm::ivec3 v) {
    return std::to_string(v.x) + ":" + std::to_string(v.y) + ":" + std::to_string(v.z);
}

} // namespace

// Emits the cells of `r` outside every rectangle of `holes`, merged along x.
void Decompose(const Rect& r, const std::vector<Rect>& holes,
               const std::function<void(const Rect&)>& emit) {
    std::vector<float> xs{r.x0, r.x1}, zs{r.z0, r.z1};
    for (const Rect& h : holes) {
        for (float v : {h.x0, h.x1})
            if (v > r.x0 && v < r.x1) xs.push_back(v);
        for (float v : {h.z0, h.z1})
            if (v > r.z0 && v < r.z1) zs.push_back(v);
    }
    std::sort(xs.begin(), xs.end()), xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    std::sort(zs.begin(), zs.end()), zs.erase(std::unique(zs.begin(), zs.end()), zs.end());
    for (size_t j = 0; j + 1 < zs.size(); ++j) {
        const float zc = 0.5f * (zs[j] + zs[j + 1]);
        size_t start = xs.size();
        for (size_t i = 0; i + 1 < xs.size(); ++i) {
            const float xc = 0.5f * (xs[i] + xs[i + 1]);
            const bool free = std::none_of(holes.begin(), holes.end(),
                                           [&](const Rect& h) { return h.Contains(xc, zc); });
            if (free && start == xs.size()) start = i;
            const bool last = i + 2 == xs.size();
            if (start != xs.size() && (!free || last)) {
                emit({xs[start], free ? xs[i + 1] : xs[i], zs[j], zs[j + 1]});
                start = xs.size();
            }
        }
    }
}

// Writes map/<name>.map and the meshes, divided by the mesh scale the definition file names.
// Spawn points and the light are whole numbers, so their text reads the same in every locale.
void WriteFileMap(Output& out, const FileMap& m, const MapBuilder& b,
                  const std::vector<XMaterial>& mats) {
    std::string def = m.sky + "\n" + Triple(m.light) + "\n";
    for (const glm::ivec3& s : m.spawns)
        def += Triple(s) + "\n";
    def += std::to_string(m.meshScale) + "\n";
    out.WriteText("map/" + m.name + ".map", def);
    auto write = [&](const char* ext, const char* frame, std::vector<Poly> polys) {
        for (Poly& p : polys)
            for (glm::vec3& q : p.p)
                q /= float(m.meshScale);
        out.WriteBytes("map/" + m.name + ext, EncodeXFile(mats, {{frame, polys}}));
    };
    write(".sol", "sol", b.sol);
    write(".mur", "mur", b.mur);
    write(".pla", "plafond", b.pla);
    if (!b.lad.empty()) write(".lad", "echelle", b.lad);
}

} // namespace assetgen::filemap
