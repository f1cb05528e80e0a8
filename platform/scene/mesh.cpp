// platform/scene/mesh.cpp — mesh builders (editable polygons), meshes (renderable copies with
// one vertex group), materials and lights.
//
// Index: Material/Light · MeshBuilder vertices · faces · whole-mesh edits · Mesh
#include "platform/scene/scene_local.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace scene {

// ------------------------------------------------------------------ Material / Light

std::shared_ptr<Material> Material::Create(float power) {
    auto m = std::make_shared<Material>();
    m->power = power;
    return m;
}

std::shared_ptr<Light> Light::Create(LightType type, const glm::vec3& color) {
    auto l = std::make_shared<Light>();
    l->type = type;
    l->color = color;
    return l;
}

// ------------------------------------------------------------------ MeshBuilder vertices

MeshBuilder::MeshBuilder() = default;
MeshBuilder::~MeshBuilder() = default;

std::shared_ptr<MeshBuilder> MeshBuilder::Create() {
    return std::shared_ptr<MeshBuilder>(new MeshBuilder());
}

std::shared_ptr<MeshBuilder> MeshBuilder::Clone() const {
    std::shared_ptr<MeshBuilder> copy(new MeshBuilder());
    copy->SetName(GetName());
    copy->SetAppData(GetAppData());
    copy->SetFlags(GetFlags());
    copy->positions_ = positions_;
    copy->texCoords_ = texCoords_;
    copy->normals_ = normals_;
    copy->faces_ = faces_;
    copy->quality_ = quality_;
    return copy;
}

uint32_t MeshBuilder::AddVertex(const glm::vec3& position) {
    positions_.push_back(position);
    texCoords_.emplace_back(0.0f, 0.0f);
    Touch();
    return static_cast<uint32_t>(positions_.size() - 1);
}

uint32_t MeshBuilder::AddNormal(const glm::vec3& normal) {
    const float len = glm::length(normal);
    normals_.push_back(len > 0.0f && std::isfinite(len) ? normal / len : normal);
    Touch();
    return static_cast<uint32_t>(normals_.size() - 1);
}

glm::vec3 MeshBuilder::GetVertex(size_t index) const {
    return index < positions_.size() ? positions_[index] : glm::vec3(0.0f);
}

bool MeshBuilder::SetVertex(size_t index, const glm::vec3& position) {
    if (index >= positions_.size()) return false;
    positions_[index] = position;
    Touch();
    return true;
}

glm::vec3 MeshBuilder::GetNormal(size_t index) const {
    return index < normals_.size() ? normals_[index] : glm::vec3(0.0f);
}

bool MeshBuilder::SetNormal(size_t index, const glm::vec3& normal) {
    if (index >= normals_.size()) return false;
    normals_[index] = normal;
    Touch();
    return true;
}

glm::vec2 MeshBuilder::GetTextureCoordinates(size_t index) const {
    return index < texCoords_.size() ? texCoords_[index] : glm::vec2(0.0f);
}

bool MeshBuilder::SetTextureCoordinates(size_t index, float u, float v) {
    if (index >= texCoords_.size()) return false;
    texCoords_[index] = {u, v};
    Touch();
    return true;
}

// ------------------------------------------------------------------ faces

uint32_t MeshBuilder::CreateFace() {
    faces_.emplace_back();
    Touch();
    return static_cast<uint32_t>(faces_.size() - 1);
}

bool MeshBuilder::AddFaceCorner(size_t face, uint32_t vertexIndex, uint32_t normalIndex) {
    if (face >= faces_.size() || vertexIndex >= positions_.size() || normalIndex >= normals_.size())
        return false;
    faces_[face].vertices.push_back(vertexIndex);
    faces_[face].normals.push_back(normalIndex);
    Touch();
    return true;
}

bool MeshBuilder::AddFace(Face face) {
    if (face.vertices.size() < 3 || face.normals.size() != face.vertices.size()) return false;
    for (size_t i = 0; i < face.vertices.size(); ++i)
        if (face.vertices[i] >= positions_.size() || face.normals[i] >= normals_.size())
            return false;
    faces_.push_back(std::move(face));
    Touch();
    return true;
}

bool MeshBuilder::AddFaces(std::span<const glm::vec3> vertices, std::span<const glm::vec3> normals,
                           std::span<const int32_t> faceData) {
    const bool withNormals = !normals.empty();
    const size_t stride = withNormals ? 2 : 1;
    const size_t vBase = positions_.size(), nBase = normals_.size();

    // Validate the whole data block before touching the builder.
    std::vector<Face> parsed;
    size_t pos = 0;
    while (pos < faceData.size() && faceData[pos] != 0) {
        const int32_t n = faceData[pos++];
        if (n < 3 || static_cast<size_t>(n) > (faceData.size() - pos) / stride) return false;
        Face f;
        for (int32_t k = 0; k < n; ++k) {
            const int32_t vi = faceData[pos++];
            if (vi < 0 || static_cast<size_t>(vi) >= vertices.size()) return false;
            int32_t ni = 0;
            if (withNormals) {
                ni = faceData[pos++];
                if (ni < 0 || static_cast<size_t>(ni) >= normals.size()) return false;
            }
            f.vertices.push_back(static_cast<uint32_t>(vBase + vi));
            f.normals.push_back(static_cast<uint32_t>(withNormals ? nBase + ni : 0));
        }
        parsed.push_back(std::move(f));
    }

    for (const glm::vec3& v : vertices) {
        positions_.push_back(v);
        texCoords_.emplace_back(0.0f, 0.0f);
    }
    if (withNormals) {
        for (const glm::vec3& n : normals) {
            const float len = glm::length(n);
            normals_.push_back(len > 0.0f ? n / len : n);
        }
    } else {
        // One face normal per new face, shared by its corners.
        for (Face& f : parsed) {
            const glm::vec3 a = positions_[f.vertices[0]];
            glm::vec3 sum(0.0f);
            for (size_t k = 1; k + 1 < f.vertices.size(); ++k)
                sum += glm::cross(positions_[f.vertices[k]] - a, positions_[f.vertices[k + 1]] - a);
            const float len = glm::length(sum);
            normals_.push_back(len > 0.0f ? sum / len : glm::vec3(0, 1, 0));
            std::fill(f.normals.begin(), f.normals.end(),
                      static_cast<uint32_t>(normals_.size() - 1));
        }
    }
    for (Face& f : parsed)
        faces_.push_back(std::move(f));
    Touch();
    return true;
}

const Face& MeshBuilder::GetFace(size_t index) const {
    assert(index < faces_.size() && "face index past the mesh builder's faces");
    return faces_[index];
}

bool MeshBuilder::DeleteFace(size_t index) {
    if (index >= faces_.size()) return false;
    faces_.erase(faces_.begin() + static_cast<std::ptrdiff_t>(index));
    Touch();
    return true;
}

bool MeshBuilder::SetFaceMaterial(size_t face, std::shared_ptr<Material> material) {
    if (face >= faces_.size()) return false;
    faces_[face].material = std::move(material);
    Touch();
    return true;
}

bool MeshBuilder::SetFaceTexture(size_t face, std::shared_ptr<Texture> texture) {
    if (face >= faces_.size()) return false;
    faces_[face].texture = std::move(texture);
    Touch();
    return true;
}

bool MeshBuilder::SetFaceColor(size_t face, const glm::vec4& rgba) {
    if (face >= faces_.size()) return false;
    faces_[face].color = rgba;
    Touch();
    return true;
}

// ------------------------------------------------------------------ whole-mesh edits

void MeshBuilder::SetTexture(const std::shared_ptr<Texture>& texture) {
    for (Face& f : faces_)
        f.texture = texture;
    Touch();
}

void MeshBuilder::SetMaterial(const std::shared_ptr<Material>& material) {
    for (Face& f : faces_)
        f.material = material;
    Touch();
}

void MeshBuilder::SetColor(const glm::vec4& rgba) {
    for (Face& f : faces_)
        f.color = rgba;
    Touch();
}

void MeshBuilder::SetQuality(RenderQuality quality) {
    quality_ = quality;
    Touch();
}

void MeshBuilder::ScaleMesh(float sx, float sy, float sz) {
    for (glm::vec3& p : positions_)
        p *= glm::vec3(sx, sy, sz);
    // Normals transform by the inverse transpose (1/s per axis), then are re-normalised.
    if (sx != 0.0f && sy != 0.0f && sz != 0.0f) {
        const glm::vec3 inv(1.0f / sx, 1.0f / sy, 1.0f / sz);
        for (glm::vec3& n : normals_) {
            const glm::vec3 m = n * inv;
            const float len = glm::length(m);
            if (len > 0.0f) n = m / len;
        }
    }
    Touch();
}

void MeshBuilder::Translate(float tx, float ty, float tz) {
    for (glm::vec3& p : positions_)
        p += glm::vec3(tx, ty, tz);
    Touch();
}

Box MeshBuilder::GetBox() const {
    Box box;
    for (const glm::vec3& p : positions_)
        box.Extend(p);
    return box;
}

void MeshBuilder::GenerateNormals() {
    std::vector<glm::vec3> sums(positions_.size(), glm::vec3(0.0f));
    for (const Face& f : faces_) {
        const glm::vec3 a = positions_[f.vertices[0]];
        glm::vec3 n(0.0f);
        for (size_t k = 1; k + 1 < f.vertices.size(); ++k)
            n += glm::cross(positions_[f.vertices[k]] - a, positions_[f.vertices[k + 1]] - a);
        for (uint32_t v : f.vertices)
            sums[v] += n;
    }
    normals_.resize(positions_.size());
    for (size_t i = 0; i < sums.size(); ++i) {
        const float len = glm::length(sums[i]);
        normals_[i] = len > 0.0f ? sums[i] / len : glm::vec3(0, 1, 0);
    }
    for (Face& f : faces_)
        f.normals = f.vertices;
    Touch();
}

void MeshBuilder::Empty() {
    positions_.clear();
    texCoords_.clear();
    normals_.clear();
    faces_.clear();
    Touch();
}

void MeshBuilder::Triangulate(std::vector<uint32_t>& indices,
                              std::vector<uint32_t>* faceOfTriangle) const {
    indices.clear();
    if (faceOfTriangle) faceOfTriangle->clear();
    for (size_t fi = 0; fi < faces_.size(); ++fi) {
        const auto& v = faces_[fi].vertices;
        for (size_t k = 1; k + 1 < v.size(); ++k) {
            indices.push_back(v[0]);
            indices.push_back(v[k]);
            indices.push_back(v[k + 1]);
            if (faceOfTriangle) faceOfTriangle->push_back(static_cast<uint32_t>(fi));
        }
    }
}

MeshBuilder::PickCache& MeshBuilder::GetPickCache() const {
    if (!pickCache_) pickCache_ = std::make_unique<PickCache>();
    return *pickCache_;
}

// ------------------------------------------------------------------ Mesh

Mesh::Mesh() = default;
Mesh::~Mesh() = default;

std::shared_ptr<Mesh> Mesh::CreateFromBuilder(const MeshBuilder& builder) {
    std::shared_ptr<Mesh> mesh(new Mesh());
    mesh->SetName(builder.GetName());
    mesh->SetAppData(builder.GetAppData());
    mesh->SetFlags(builder.GetFlags());
    mesh->quality_ = builder.GetQuality();

    const auto positions = builder.Positions();
    const auto tex = builder.TexCoords();
    mesh->vertices_.resize(positions.size());
    std::vector<bool> seen(positions.size(), false);
    for (size_t i = 0; i < positions.size(); ++i) {
        VertexRecord& r = mesh->vertices_[i];
        r.position = positions[i];
        r.u = tex[i].x;
        r.v = tex[i].y;
        if (builder.GetNormalCount() == positions.size()) r.normal = builder.GetNormal(i);
    }
    // Normal and colour of a vertex: those of its first face corner.
    for (const Face& f : builder.Faces()) {
        for (size_t k = 0; k < f.vertices.size(); ++k) {
            const uint32_t v = f.vertices[k];
            if (seen[v]) continue;
            seen[v] = true;
            mesh->vertices_[v].normal = builder.GetNormal(f.normals[k]);
            mesh->vertices_[v].color = PackColor(glm::vec3(f.color), f.color.a);
        }
    }
    builder.Triangulate(mesh->indices_, nullptr);
    if (builder.GetFaceCount() > 0) {
        mesh->texture_ = builder.GetFace(0).texture;
        mesh->material_ = builder.GetFace(0).material;
    }
    return mesh;
}

std::shared_ptr<Visual> Mesh::CloneVisual() const {
    std::shared_ptr<Mesh> copy(new Mesh());
    copy->SetName(GetName());
    copy->SetAppData(GetAppData());
    copy->SetFlags(GetFlags());
    copy->vertices_ = vertices_;
    copy->indices_ = indices_;
    copy->texture_ = texture_;
    copy->material_ = material_;
    copy->quality_ = quality_;
    return copy;
}

size_t Mesh::GetVertices(size_t first, std::span<VertexRecord> out) const {
    if (first >= vertices_.size()) return 0;
    const size_t n = std::min(out.size(), vertices_.size() - first);
    std::copy_n(vertices_.begin() + static_cast<std::ptrdiff_t>(first), n, out.begin());
    return n;
}

bool Mesh::SetVertices(size_t first, std::span<const VertexRecord> in) {
    if (first > vertices_.size() || in.size() > vertices_.size() - first) return false;
    std::copy(in.begin(), in.end(), vertices_.begin() + static_cast<std::ptrdiff_t>(first));
    ++version_;
    return true;
}

Box Mesh::GetBox() const {
    Box box;
    for (const VertexRecord& r : vertices_)
        box.Extend(r.position);
    return box;
}

Mesh::PickCache& Mesh::GetPickCache() const {
    if (!pickCache_) pickCache_ = std::make_unique<PickCache>();
    return *pickCache_;
}

} // namespace scene
