// platform/scene/scene.h — the retained-mode scene: frames, visuals, lights, materials,
// animation sets, ray picks, viewport parameters and .x loading. CPU only (no OpenGL here);
// platform/render draws what this layer holds.
//
// Index
//   1. Conventions and small types   (Box, flags, combine modes, qualities)
//   2. Visual, Material, Light
//   3. Texture and Image, SearchPath, texture loading
//   4. MeshBuilder
//   5. Mesh (renderable copy with one vertex group)
//   6. Frame
//   7. Ray picks
//   8. AnimationSet / Animation
//   9. Viewport parameters
//  10. .x loading
//
// Conventions (every function below follows them):
// - Left-handed, y up, +z forward. A frame's direction is its +z axis, its up its +y axis.
// - Matrices are GLM column-vector matrices; a frame's local transform maps its coordinates into
//   its parent's: p_parent = transform * p_local. "Scene coordinates" of a frame are those of the
//   root of its tree (the ancestor without a parent); a root's own transform does not move them.
// - "Relative to frame R" means expressed in R's coordinates, R's scale included. A null reference
//   frame means the frame's parent (its local space); for a root frame that is its own space.
// - Rotations use the ordinary matrices (AddRotation about z by +90 degrees takes +x to +y).
//   Quaternions given as orientations or animation keys set the TRANSPOSE of the ordinary rotation
//   matrix (mat4_cast(conjugate(q))); see QuatToMatrix.
// - Angles are radians.
// - Per-frame operations (transforms, picks, SetTime, vertex group access) allocate nothing in
//   steady state and throw nothing. Loading functions report errors through their results.
#pragma once

#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scene {

class Frame;
class MeshBuilder;
class Mesh;
class Texture;
class Material;
class Light;

// ============================================================================================
// 1. Conventions and small types
// ============================================================================================

// Traversal options of frames and visuals: bit 1 drawn, bit 2 hit by ray picks.
enum TraversalFlags : uint32_t {
    kFlagNone = 0,
    kFlagRendered = 1,
    kFlagPickable = 2,
    kFlagRenderedAndPickable = 3,
};

// How Add* transforms combine with a frame's current local transform M.
enum class Combine {
    Replace, // M = T
    Before,  // T acts first, in the frame's own space: M = M * T
    After,   // T acts after M, in the parent's space:  M = T * M
};

// Render qualities in menu order (wireframe, unlit flat, flat, gouraud, phong).
enum class RenderQuality { Wireframe, UnlitFlat, Flat, Gouraud, Phong };

// Texture filters in menu order.
enum class TextureFilter {
    Nearest,
    Linear,
    MipNearest,
    MipLinear,
    LinearMipNearest,
    LinearMipLinear
};

// Axis-aligned box. An empty box has min > max (IsEmpty()); Extend grows it.
struct Box {
    glm::vec3 min{1e30f};
    glm::vec3 max{-1e30f};

    bool IsEmpty() const { return min.x > max.x || min.y > max.y || min.z > max.z; }
    glm::vec3 Extent() const { return IsEmpty() ? glm::vec3(0.0f) : max - min; }
    void Extend(const glm::vec3& p) {
        min = glm::min(min, p);
        max = glm::max(max, p);
    }
    void ExtendBox(const Box& b) {
        if (!b.IsEmpty()) {
            Extend(b.min);
            Extend(b.max);
        }
    }
};

// Rotation matrix of a quaternion under the scene's convention: the transpose of the usual
// matrix, i.e. mat4_cast(conjugate(q)). q need not be normalised (it is normalised first).
glm::mat4 QuatToMatrix(const glm::quat& q);

// Colour packed as 0xAARRGGBB from components in 0..1 (clamped).
uint32_t PackColor(const glm::vec3& rgb, float alpha = 1.0f);

// ============================================================================================
// 2. Visual, Material, Light
// ============================================================================================

enum class VisualKind { MeshBuilder, Mesh, Texture };

// Anything attached to a frame as a visual: a mesh builder, a mesh, or a texture (a decal,
// drawn as a camera-facing sprite at the frame's origin). Every visual carries a name, one
// 32-bit application value and its own traversal flags (default: drawn and pickable), which
// combine with the flags of the frames above it.
class Visual : public std::enable_shared_from_this<Visual> {
public:
    virtual ~Visual() = default;
    virtual VisualKind Kind() const = 0;

    // Deep copy for attaching to another frame (textures share their pixels).
    virtual std::shared_ptr<Visual> CloneVisual() const = 0;

    const std::string& GetName() const { return name_; }
    void SetName(std::string_view name) { name_ = name; }
    uint32_t GetAppData() const { return appData_; }
    void SetAppData(uint32_t value) { appData_ = value; }
    uint32_t GetFlags() const { return flags_; }
    void SetFlags(uint32_t flags) { flags_ = flags & kFlagRenderedAndPickable; }
    bool IsRendered() const { return (flags_ & kFlagRendered) != 0; }
    bool IsPickable() const { return (flags_ & kFlagPickable) != 0; }
    // Switches drawing of this visual alone on or off, keeping its pick flag.
    void EnableRendering(bool on) {
        flags_ = on ? (flags_ | kFlagRendered) : (flags_ & ~uint32_t(kFlagRendered));
    }
    void EnablePicking(bool on) {
        flags_ = on ? (flags_ | kFlagPickable) : (flags_ & ~uint32_t(kFlagPickable));
    }

protected:
    Visual() = default;
    Visual(const Visual&) = default;
    Visual& operator=(const Visual&) = default;

private:
    std::string name_;
    uint32_t appData_ = 0;
    uint32_t flags_ = kFlagRenderedAndPickable;
};

// Surface terms combined with a face's colour when lighting is on. Colours 0..1.
class Material {
public:
    static std::shared_ptr<Material> Create(float power = 0.0f);

    float power = 0.0f;       // specular exponent
    glm::vec3 specular{0.0f}; // specular colour
    glm::vec3 emissive{0.0f}; // emitted colour, added unlit
    glm::vec3 ambient{1.0f};  // factor applied to ambient light
    std::string name;
};

enum class LightType { Ambient, Point, Directional };

// A light attached to a frame: a point light sits at the frame's origin, a directional light
// shines along the frame's +z axis; an ambient light lights everything under the same root.
class Light {
public:
    static std::shared_ptr<Light> Create(LightType type, const glm::vec3& color);

    LightType type = LightType::Ambient;
    glm::vec3 color{1.0f};
    float range = 1e30f; // scene units; beyond it a point light adds nothing
    // Attenuation 1 / (constant + linear d + quadratic d^2), d in scene units.
    float constantAttenuation = 1.0f;
    float linearAttenuation = 0.0f;
    float quadraticAttenuation = 0.0f;
    bool enabled = true;
};

// ============================================================================================
// 3. Texture and Image, SearchPath, texture loading
// ============================================================================================

// RGBA8 pixels, rows top to bottom, 4 bytes per pixel.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// A picture plus its decal properties. Attached to a frame as a visual it is a decal: a
// camera-facing sprite of DecalSize scene units whose origin pixel sits on the frame's origin.
// With transparency on, pixels of the transparent colour are not drawn (as a texture or decal).
// An on-screen decal (a sight) is instead drawn flat over the finished view, see SetDecalOnScreen.
class Texture : public Visual {
public:
    static std::shared_ptr<Texture> CreateFromImage(Image image, std::string_view name);

    VisualKind Kind() const override { return VisualKind::Texture; }
    std::shared_ptr<Visual> CloneVisual() const override;

    const Image& GetImage() const { return image_; }
    int Width() const { return image_.width; }
    int Height() const { return image_.height; }

    // Decal size in scene units (width, height). Default 1 x 1.
    void SetDecalSize(float width, float height) { decalSize_ = {width, height}; }
    glm::vec2 GetDecalSize() const { return decalSize_; }
    // Decal origin in pixels from the top-left corner. Default (0, 0).
    void SetDecalOrigin(int x, int y) { decalOrigin_ = {x, y}; }
    glm::ivec2 GetDecalOrigin() const { return decalOrigin_; }
    void SetDecalTransparency(bool on) {
        transparent_ = on;
        ++version_;
    }
    bool GetDecalTransparency() const { return transparent_; }
    // Transparent colour as 0x00RRGGBB (default 0, black).
    void SetDecalTransparentColor(uint32_t rgb) {
        transparentColor_ = rgb & 0xFFFFFFu;
        ++version_;
    }
    uint32_t GetDecalTransparentColor() const { return transparentColor_; }
    // On screen, the decal is drawn over everything else in the view, flat, with its origin
    // pixel over the point where its frame's origin appears (not drawn when that point is behind
    // the camera). Its size then counts in double view heights: 0.5 x 0.5 is a square as tall as
    // the view. Outside its rectangle its border pixels are repeated up to the view's edges, so
    // a picture with an opaque rim masks the whole view and one with a transparent rim leaves
    // the rest clear. Default off.
    void SetDecalOnScreen(bool on) { onScreen_ = on; }
    bool GetDecalOnScreen() const { return onScreen_; }

    // Bumped whenever the pixels or transparency settings change (renderer re-upload key).
    uint64_t Version() const { return version_; }
    // Replaces the pixels (e.g. a re-drawn HUD picture).
    void SetImage(Image image);

private:
    Texture() = default;
    Image image_;
    glm::vec2 decalSize_{1.0f, 1.0f};
    glm::ivec2 decalOrigin_{0, 0};
    bool transparent_ = false;
    uint32_t transparentColor_ = 0;
    bool onScreen_ = false;
    uint64_t version_ = 1;
};

// Ordered list of folders in which texture and mesh files named without a folder are searched.
// A name that is an existing path (absolute or relative to the working directory) is used as is.
// Both '/' and '\' separate folders in names.
class SearchPath {
public:
    SearchPath() = default;
    // Replaces the list by the ';'-separated folders of `list` (empty entries skipped).
    void SetFromList(std::string_view list);
    void AddFolder(std::string_view folder);
    void Clear() { folders_.clear(); }
    const std::vector<std::string>& Folders() const { return folders_; }
    // The first existing file for `name`: `name` itself, then each folder + name in order.
    // Empty when none exists.
    std::string Resolve(std::string_view name) const;

private:
    std::vector<std::string> folders_;
};

// Outcome of a load: ok, or the reason it failed (with the file name).
struct LoadStatus {
    bool ok = false;
    std::string error;
    explicit operator bool() const { return ok; }
};

// Loads a BMP picture into a texture named `name` (the name as given). `name` is resolved
// through `path` when given. Returns null and fills `status` when the file is missing or is not
// a readable BMP; never throws.
std::shared_ptr<Texture> LoadTexture(std::string_view name, const SearchPath* path = nullptr,
                                     LoadStatus* status = nullptr);

// Decodes a BMP held in memory (for tests and archives). Null on bad data.
std::shared_ptr<Texture> LoadTextureFromMemory(std::span<const uint8_t> bytes,
                                               std::string_view name, LoadStatus* status = nullptr);

// Called by the .x loaders once for each texture name met (as written in the file); returns the
// texture to use, or null for none.
using TextureCallback = std::function<std::shared_ptr<Texture>(const std::string& textureName)>;

// ============================================================================================
// 4. MeshBuilder
// ============================================================================================

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

// ============================================================================================
// 5. Mesh
// ============================================================================================

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

// ============================================================================================
// 6. Frame
// ============================================================================================

// A node of the scene tree. Frames are shared; a frame keeps its children alive, a child points
// to its parent weakly. Traversal flags apply to the frame's whole subtree: a visual is drawn
// (picked) only when it and every frame from it up to the drawn (picked) frame have the flag.
class Frame : public std::enable_shared_from_this<Frame> {
public:
    // A new frame with identity transform, flags 3, attached as the last child of `parent`
    // (none: a root).
    static std::shared_ptr<Frame> Create(const std::shared_ptr<Frame>& parent = nullptr);
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // --- hierarchy ---
    std::shared_ptr<Frame> GetParent() const { return parent_.lock(); }
    // The ancestor without a parent (this frame when it is a root).
    const Frame& GetRoot() const;
    // Moves `child` under this frame as the last child, keeping its local transform. Refuses
    // (false) a null child or one that is this frame or one of its ancestors.
    bool AddChild(const std::shared_ptr<Frame>& child);
    // Detaches `child` from this frame (it becomes a root). False when it is not a child.
    bool DeleteChild(const Frame& child);
    // Detaches every descendant from its parent; descendants held nowhere else are released.
    // Trees of any depth are released without recursion, here and in the destructor.
    void DeleteFrameTree();
    std::span<const std::shared_ptr<Frame>> Children() const { return children_; }
    size_t GetChildCount() const { return children_.size(); }
    // Copy of this frame and its subtree (transforms, names, values, flags, cloned visuals,
    // shared lights), as a new root.
    std::shared_ptr<Frame> Clone() const;
    // First frame in this subtree (depth first, this frame included) with the exact name.
    std::shared_ptr<Frame> FindByName(std::string_view name);

    // --- identity ---
    const std::string& GetName() const { return name_; }
    void SetName(std::string_view name) { name_ = name; }
    uint32_t GetAppData() const { return appData_; }
    void SetAppData(uint32_t value) { appData_ = value; }
    uint32_t GetTraversalOptions() const { return flags_; }
    void SetTraversalOptions(uint32_t flags) { flags_ = flags & kFlagRenderedAndPickable; }

    // --- transform ---
    const glm::mat4& GetLocalTransform() const { return transform_; }
    // Transform from this frame's coordinates into its root's (scene coordinates).
    glm::mat4 GetSceneTransform() const;
    // This frame's transform relative to `reference` (maps this frame's coordinates into the
    // reference's); null reference: the parent's (the local transform).
    glm::mat4 GetTransform(const Frame* reference) const;
    // Replaces the transform so that GetTransform(reference) == m.
    void SetTransform(const Frame* reference, const glm::mat4& m);

    void SetPosition(const Frame* reference, const glm::vec3& position);
    glm::vec3 GetPosition(const Frame* reference) const;
    // Rebuilds the rotation from `direction` (+z) and `up` (+y), both given in the reference's
    // coordinates; keeps the position, discards scale. A zero direction leaves the frame
    // unchanged; an up parallel to the direction picks another up.
    void SetOrientation(const Frame* reference, const glm::vec3& direction, const glm::vec3& up);
    // Unit direction (+z) and up (+y) axes in the reference's coordinates.
    void GetOrientation(const Frame* reference, glm::vec3& direction, glm::vec3& up) const;
    // Sets the rotation relative to `reference` to QuatToMatrix(q); keeps the position,
    // discards scale.
    void SetQuaternion(const Frame* reference, const glm::quat& q);
    // Turns +z to point at `target`'s origin, +y as close as possible to the reference's +y
    // (null reference: the parent's); keeps the position, discards scale. Nothing happens when
    // the target is at this frame's origin.
    void LookAt(const Frame& target, const Frame* reference);

    void AddTransform(Combine mode, const glm::mat4& m);
    void AddTranslation(Combine mode, float x, float y, float z);
    void AddScale(Combine mode, float sx, float sy, float sz);
    void AddRotation(Combine mode, const glm::vec3& axis, float radians);

    // Velocity: `v` in the reference's coordinates, stored in the parent's.
    void SetVelocity(const Frame* reference, const glm::vec3& v);
    glm::vec3 GetVelocity(const Frame* reference) const;
    // position += k * velocity (in the parent's coordinates). Only Move moves frames.
    void Move(float k);

    // Maps points of this frame's coordinates to scene coordinates (out[i] = T * in[i]).
    // `out` and `in` have the same size and may be the same span.
    void Transform(std::span<glm::vec3> out, std::span<const glm::vec3> in) const;
    // Maps scene coordinates to this frame's coordinates.
    void InverseTransform(std::span<glm::vec3> out, std::span<const glm::vec3> in) const;
    glm::vec3 TransformPoint(const glm::vec3& p) const;
    glm::vec3 InverseTransformPoint(const glm::vec3& p) const;
    // Maps points from `from`'s coordinates into `to`'s (null: scene coordinates of the frame
    // given), in one call.
    static void TransformBetween(const Frame* from, const Frame* to, std::span<glm::vec3> out,
                                 std::span<const glm::vec3> in);

    // --- visuals and lights ---
    // Appends a visual (a visual may hang under several frames). Null is ignored.
    void AddVisual(const std::shared_ptr<Visual>& visual);
    // Removes the first attachment of `visual`. False when absent.
    bool DeleteVisual(const Visual& visual);
    void DeleteAllVisuals() { visuals_.clear(); }
    std::span<const std::shared_ptr<Visual>> Visuals() const { return visuals_; }
    size_t GetVisualCount() const { return visuals_.size(); }
    void AddLight(const std::shared_ptr<Light>& light);
    bool DeleteLight(const Light& light);
    std::span<const std::shared_ptr<Light>> Lights() const { return lights_; }

    // Bounding box, in this frame's coordinates, of the geometry of every mesh builder and mesh
    // in the subtree (flags ignored; decals have no geometry). Empty when there is none.
    Box GetBox() const;

private:
    Frame() = default;
    void SetRotationInParent(const glm::vec3& dirParent, const glm::vec3& upParent);

    std::weak_ptr<Frame> parent_;
    std::vector<std::shared_ptr<Frame>> children_;
    std::vector<std::shared_ptr<Visual>> visuals_;
    std::vector<std::shared_ptr<Light>> lights_;
    glm::mat4 transform_{1.0f};
    glm::vec3 velocity_{0.0f}; // parent's coordinates
    std::string name_;
    uint32_t appData_ = 0;
    uint32_t flags_ = kFlagRenderedAndPickable;
};

// Visits every drawn visual under `top` (top's own flags included; frames and visuals without
// the render flag, and their subtrees, skipped) in depth-first child order, with the transform
// from the visual's frame to the scene coordinates of `top`'s root.
void ForEachRenderedVisual(
    const Frame& top,
    const std::function<void(const Frame&, const Visual&, const glm::mat4& toScene)>& visit);

// Visits every enabled light in the tree of `top`'s root with the transform from its frame to
// scene coordinates.
void ForEachLight(const Frame& top,
                  const std::function<void(const Frame&, const Light&, const glm::mat4&)>& visit);

// ============================================================================================
// 7. Ray picks
// ============================================================================================

struct PickHit {
    const Visual* visual = nullptr; // the hit mesh builder or mesh (owned by the scene)
    const Frame* frame = nullptr;   // the frame it hangs under
    uint32_t faceIndex = 0;         // face of a mesh builder; triangle of a mesh
    glm::vec3 point{0.0f};          // scene coordinates
    float distance = 0.0f;          // scene units from the ray origin
};

// Reusable result list: Pick clears and refills it, keeping its storage.
class PickResults {
public:
    PickResults() { hits_.reserve(16); }
    size_t Size() const { return hits_.size(); }
    bool Empty() const { return hits_.empty(); }
    const PickHit& operator[](size_t i) const { return hits_[i]; }
    std::span<const PickHit> Hits() const { return hits_; }
    void Clear() { hits_.clear(); }
    // Internal: used by Pick.
    std::vector<PickHit>& Storage() { return hits_; }

private:
    std::vector<PickHit> hits_;
};

// Casts a ray into `top`'s subtree: `origin` and `direction` are in scene coordinates (the
// coordinates of `top`'s root); a zero direction finds nothing. Tests only pickable visuals
// (mesh builders and meshes) under frames that are pickable from `top` down (flags of `top`'s
// ancestors are not consulted), triangle-accurate, both faces, forward along the ray only.
// Fills `hits` nearest first, one hit per visual attachment (its nearest triangle). Returns
// the number of hits.
size_t Pick(const Frame& top, const glm::vec3& origin, const glm::vec3& direction,
            PickResults& hits);

// ============================================================================================
// 8. AnimationSet / Animation
// ============================================================================================

enum AnimationOptions : uint32_t {
    kAnimOpen = 1,   // time clamps to the first and last keys
    kAnimClosed = 2, // time wraps over the key span
    kAnimLinearPosition = 4,
    kAnimSplinePosition = 8, // accepted; positions are interpolated linearly
    kAnimScaleAndRotation = 16,
    kAnimPosition = 32,
};

// Keyframes of one frame. SetTime writes the bound frame's local transform: the rotation
// (slerped quaternion key, scene convention) then the translation (linear position key); scale
// keys, when there are any, act first; without them the scale is dropped. An animation without
// rotation keys keeps the frame's rotation, one without position keys its position.
class Animation {
public:
    static std::shared_ptr<Animation> Create();

    void SetFrame(const std::shared_ptr<Frame>& frame) { frame_ = frame; }
    std::shared_ptr<Frame> GetFrame() const { return frame_.lock(); }
    void SetOptions(uint32_t options) { options_ = options; }
    uint32_t GetOptions() const { return options_; }
    // Keys are kept sorted by time; a key at an existing time goes after the ones there.
    void AddPositionKey(float time, const glm::vec3& position);
    void AddRotationKey(float time, const glm::quat& rotation);
    void AddScaleKey(float time, const glm::vec3& scale);
    size_t GetPositionKeyCount() const { return positions_.size(); }
    size_t GetRotationKeyCount() const { return rotations_.size(); }
    void DeleteKeys();

    // Value at time t (after wrapping or clamping); false when there are no keys of that kind.
    bool PositionAt(float t, glm::vec3& out) const;
    bool RotationAt(float t, glm::quat& out) const;
    bool ScaleAt(float t, glm::vec3& out) const;
    // Poses the bound frame at time t. Nothing happens when the frame is gone.
    void SetTime(float t) const;

private:
    Animation() = default;
    template <class T> struct Key {
        float time;
        T value;
    };
    float WrapTime(float t, float first, float last) const;

    std::weak_ptr<Frame> frame_;
    uint32_t options_ = kAnimClosed | kAnimLinearPosition | kAnimScaleAndRotation | kAnimPosition;
    std::vector<Key<glm::vec3>> positions_;
    std::vector<Key<glm::quat>> rotations_;
    std::vector<Key<glm::vec3>> scales_;
};

class AnimationSet {
public:
    static std::shared_ptr<AnimationSet> Create();

    const std::string& GetName() const { return name_; }
    void SetName(std::string_view name) { name_ = name; }
    uint32_t GetAppData() const { return appData_; }
    void SetAppData(uint32_t value) { appData_ = value; }
    void AddAnimation(const std::shared_ptr<Animation>& animation);
    bool DeleteAnimation(const Animation& animation);
    std::span<const std::shared_ptr<Animation>> Animations() const { return animations_; }
    // Poses every bound frame at time t (frame numbers, as the keys).
    void SetTime(float t) const;

private:
    AnimationSet() = default;
    std::string name_;
    uint32_t appData_ = 0;
    std::vector<std::shared_ptr<Animation>> animations_;
};

// ============================================================================================
// 9. Viewport parameters
// ============================================================================================

struct Ray {
    glm::vec3 origin{0.0f};
    glm::vec3 direction{0.0f, 0.0f, 1.0f}; // unit length
};

// What a viewport shows: the scene seen from `camera` (+z forward, +y up) through the rectangle
// (x, y, width, height) in window pixels, between the front and back planes (scene units from
// the camera). `field` is the half-width of the view at the front plane: the vertical half-angle
// is atan(field / front), the horizontal one wider by the aspect ratio, so raising the front
// distance magnifies. The camera's scale is ignored.
struct ViewportParams {
    std::shared_ptr<Frame> camera;
    int x = 0;
    int y = 0;
    int width = 640;
    int height = 480;
    float front = 1.0f;
    float back = 1000.0f;
    float field = 0.5f;

    float Aspect() const { return height > 0 ? float(width) / float(height) : 1.0f; }
    // Vertical half-angle in radians.
    float HalfAngleY() const;
    // Scene coordinates -> camera view space (left-handed, +z into the screen).
    glm::mat4 ViewMatrix() const;
    // View space -> OpenGL clip space (depth -1..1 between front and back).
    glm::mat4 ProjectionMatrix() const;
    // Scene point -> (window pixel x, window pixel y, depth 0..1); depth outside 0..1 or
    // behind the camera means not visible (w <= 0 gives depth -1).
    glm::vec3 Project(const glm::vec3& scenePoint) const;
    // Window pixel -> ray from the camera's origin through that pixel, in scene coordinates.
    Ray Unproject(float windowX, float windowY) const;
};

// ============================================================================================
// 10. .x loading
// ============================================================================================

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
