// platform/scene/mesh.h — editable meshes (MeshBuilder) and their renderable copies (Mesh).
#pragma once

#include "platform/scene/visual.h"

#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace scene {

// One face of a mesh builder: a polygon of three or more corners as given (quads stay quads),
// each corner a vertex index and a normal index, plus the face's material, texture and colour.
struct Face {
    std::vector<uint32_t> vertices; // indices into the builder's vertices
    std::vector<uint32_t> normals;  // indices into the builder's normals; same length
    std::shared_ptr<Material> material;
    std::shared_ptr<Texture> texture;
    glm::vec4 color{1.0f}; // RGBA 0..1
};

// Editable mesh. Vertices carry a position and texture coordinates; normals are a separate
// list indexed by the faces' corners. Faces keep the order and corner count they were given:
// face indices are stable until DeleteFace. Every change bumps Version(), which tells the
// renderer and the pick structure to rebuild.
class MeshBuilder : public Visual {
public:
    static std::shared_ptr<MeshBuilder> Create();
    ~MeshBuilder() override;

    VisualKind Kind() const override { return VisualKind::MeshBuilder; }
    std::shared_ptr<Visual> CloneVisual() const override { return Clone(); }
    // Deep copy: geometry, faces, name, app value, flags; materials and textures shared.
    std::shared_ptr<MeshBuilder> Clone() const;

    // --- vertices and normals ---
    // Appends a vertex (texture coordinates 0, 0); returns its index.
    uint32_t AddVertex(const glm::vec3& position);
    // Appends a normal (normalised when non-zero); returns its index.
    uint32_t AddNormal(const glm::vec3& normal);
    size_t GetVertexCount() const { return positions_.size(); }
    size_t GetNormalCount() const { return normals_.size(); }
    size_t GetFaceCount() const { return faces_.size(); }
    // Out-of-range indices: getters return zero vectors, setters do nothing and return false.
    glm::vec3 GetVertex(size_t index) const;
    bool SetVertex(size_t index, const glm::vec3& position);
    glm::vec3 GetNormal(size_t index) const;
    bool SetNormal(size_t index, const glm::vec3& normal);
    glm::vec2 GetTextureCoordinates(size_t index) const;
    bool SetTextureCoordinates(size_t index, float u, float v);
    std::span<const glm::vec3> Positions() const { return positions_; }
    std::span<const glm::vec3> Normals() const { return normals_; }
    std::span<const glm::vec2> TexCoords() const { return texCoords_; }

    // --- faces ---
    // Appends an empty face (white, no material, no texture); returns its index.
    uint32_t CreateFace();
    // Adds one corner to face `face`; false (nothing changed) when an index is out of range.
    bool AddFaceCorner(size_t face, uint32_t vertexIndex, uint32_t normalIndex);
    // Appends a whole face; false (nothing added) when it has fewer than 3 corners, mismatched
    // lists or out-of-range indices.
    bool AddFace(Face face);
    // Appends vertices, normals and faces in one call. `faceData` holds, for each face, the
    // corner count n followed by n pairs (vertex index, normal index) relative to the appended
    // vertices and normals, and ends with 0 (or with the end of the span). With no normals
    // (`normals` empty) each pair is a single vertex index and the normals become the vertices'
    // face normals. On malformed data nothing is added and false is returned.
    bool AddFaces(std::span<const glm::vec3> vertices, std::span<const glm::vec3> normals,
                  std::span<const int32_t> faceData);
    const Face& GetFace(size_t index) const; // asserts index < GetFaceCount()
    std::span<const Face> Faces() const { return faces_; }
    // Deletes one face by index; later faces move down by one. False when out of range.
    bool DeleteFace(size_t index);
    bool SetFaceMaterial(size_t face, std::shared_ptr<Material> material);
    bool SetFaceTexture(size_t face, std::shared_ptr<Texture> texture);
    bool SetFaceColor(size_t face, const glm::vec4& rgba);

    // --- whole mesh ---
    void SetTexture(const std::shared_ptr<Texture>& texture); // every face
    void SetMaterial(const std::shared_ptr<Material>& material);
    void SetColor(const glm::vec4& rgba);
    void SetColorRGB(float r, float g, float b) { SetColor({r, g, b, 1.0f}); }
    void SetQuality(RenderQuality quality);
    RenderQuality GetQuality() const { return quality_; }
    // Scales vertex positions (normals follow and are re-normalised).
    void ScaleMesh(float sx, float sy, float sz);
    void Translate(float tx, float ty, float tz);
    // Bounding box of the vertices in the builder's own coordinates (empty when no vertex).
    Box GetBox() const;
    // Recomputes one normal per vertex from the faces (area-weighted) and points every face
    // corner at its vertex's normal.
    void GenerateNormals();
    // Removes everything (vertices, normals, faces).
    void Empty();

    // Triangles of every face, fan-triangulated in corner order, as vertex index triples; the
    // output lists one entry per triangle of `faceOfTriangle` (may be null).
    void Triangulate(std::vector<uint32_t>& indices, std::vector<uint32_t>* faceOfTriangle) const;
    // Change counter: bumped by every edit.
    uint64_t Version() const { return version_; }

    // Internal: lazily built pick structure (see pick.cpp).
    struct PickCache;
    PickCache& GetPickCache() const;

private:
    MeshBuilder();
    void Touch() { ++version_; }

    std::vector<glm::vec3> positions_;
    std::vector<glm::vec2> texCoords_;
    std::vector<glm::vec3> normals_;
    std::vector<Face> faces_;
    RenderQuality quality_ = RenderQuality::Gouraud;
    uint64_t version_ = 1;
    mutable std::unique_ptr<PickCache> pickCache_;
};

// One vertex of a mesh's vertex group: 36 bytes, laid out as the renderer uploads it.
struct VertexRecord {
    glm::vec3 position{0.0f};
    glm::vec3 normal{0.0f};
    float u = 0.0f;
    float v = 0.0f;
    uint32_t color = 0xFFFFFFFFu; // 0xAARRGGBB
};
static_assert(sizeof(VertexRecord) == 36, "vertex records are 36 bytes");

// Renderable copy of a mesh builder with one vertex group: vertex i of the group is vertex i of
// the builder (position, the normal of its first face corner, texture coordinates, the colour
// of its first face), and the faces become triangles. The group takes the texture and material
// of the builder's first face. The game writes skinned positions into the group every frame.
class Mesh : public Visual {
public:
    static std::shared_ptr<Mesh> CreateFromBuilder(const MeshBuilder& builder);
    ~Mesh() override;

    VisualKind Kind() const override { return VisualKind::Mesh; }
    std::shared_ptr<Visual> CloneVisual() const override;

    size_t GetGroupCount() const { return 1; }
    size_t GetVertexCount() const { return vertices_.size(); }
    // Copies vertices [first, first + out.size()) of the group into `out`; returns the number
    // copied (fewer at the end of the group, 0 when first is past it).
    size_t GetVertices(size_t first, std::span<VertexRecord> out) const;
    // Writes vertices [first, first + in.size()); false (nothing written) when the range leaves
    // the group. Bumps Version().
    bool SetVertices(size_t first, std::span<const VertexRecord> in);
    std::span<const VertexRecord> Vertices() const { return vertices_; }
    // Triangle list (3 indices per triangle).
    std::span<const uint32_t> Indices() const { return indices_; }
    Box GetBox() const;

    void SetGroupTexture(std::shared_ptr<Texture> texture) { texture_ = std::move(texture); }
    const std::shared_ptr<Texture>& GetGroupTexture() const { return texture_; }
    void SetGroupMaterial(std::shared_ptr<Material> m) { material_ = std::move(m); }
    const std::shared_ptr<Material>& GetGroupMaterial() const { return material_; }
    void SetGroupQuality(RenderQuality q) { quality_ = q; }
    RenderQuality GetGroupQuality() const { return quality_; }
    uint64_t Version() const { return version_; }

    struct PickCache;
    PickCache& GetPickCache() const;

private:
    Mesh();
    std::vector<VertexRecord> vertices_;
    std::vector<uint32_t> indices_;
    std::shared_ptr<Texture> texture_;
    std::shared_ptr<Material> material_;
    RenderQuality quality_ = RenderQuality::Gouraud;
    uint64_t version_ = 1;
    mutable std::unique_ptr<PickCache> pickCache_;
};

} // namespace scene
