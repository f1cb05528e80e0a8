// platform/render/render_local.h — the renderer's GL objects and GPU caches, shared by the
// files of platform/render only. Everything here lives as long as its Renderer and is used
// with the renderer's GL context current.
#pragma once

#include "platform/render/render.h"

#include <epoxy/gl.h>

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

namespace render {

// --------------------------------------------------------------------------------------------
// Shader programs
// --------------------------------------------------------------------------------------------

// Shading modes of the shader (uMode).
enum ShadeMode : int { kShadeUnlit = 0, kShadeFlat = 1, kShadeGouraud = 2, kShadePhong = 3 };

// One linked program and its uniform locations.
struct Program {
    GLuint id = 0;
    GLint modelView = -1, projection = -1, normalMatrix = -1;
    GLint ambient = -1, pointPos = -1, pointColor = -1, pointAtten = -1;
    GLint dirDir = -1, dirColor = -1;
    GLint emissive = -1, specular = -1, power = -1, ambientFactor = -1, texture = -1;
};

// Programs are specialised by shading mode, colour key (discard of keyed texels), specular
// term (the variant) and by the numbers of point and directional lights, which are compiled
// in. A program is built the first time a frame needs it.
inline constexpr size_t kVariantCount = 4 * 2 * 2;
inline constexpr size_t kLightConfigs = (kMaxPointLights + 1) * (kMaxDirectionalLights + 1);
inline constexpr size_t kProgramCount = kVariantCount * kLightConfigs;
inline uint32_t VariantIndex(ShadeMode mode, bool alphaTest, bool specular) {
    return static_cast<uint32_t>(mode) * 4 + (alphaTest ? 2 : 0) + (specular ? 1 : 0);
}

// Builds one program. False with the GL log in `error` on failure (the program is then
// deleted).
bool BuildProgram(Program& program, ShadeMode mode, bool alphaTest, bool specular, int pointCount,
                  int dirCount, std::string& error);

// --------------------------------------------------------------------------------------------
// GPU copies
// --------------------------------------------------------------------------------------------

// A texture's pixels on the GPU: colour-keyed pixels have alpha 0, all others 255.
struct GpuTexture {
    std::weak_ptr<const scene::Visual> owner;
    uint64_t version = 0;
    GLuint id = 0;
    bool keyed = false;  // transparency on: drawn with the alpha-test program
    uint32_t keyRgb = 0; // transparent colour uploaded with
};

// Triangles of one (texture, material) pair: indices [first, first + count) of the index
// buffer.
struct DrawGroup {
    uint32_t first = 0;
    uint32_t count = 0;
    std::shared_ptr<scene::Texture> texture;
    std::shared_ptr<scene::Material> material;
};

// A mesh builder's or mesh's buffers. Vertices use the scene::VertexRecord layout.
struct GpuMesh {
    std::weak_ptr<const scene::Visual> owner;
    uint64_t version = 0;
    GLuint vao = 0, vbo = 0, ibo = 0;
    size_t vboBytes = 0, iboBytes = 0; // allocated sizes
    uint32_t indexCount = 0;
    std::vector<DrawGroup> groups;           // mesh builders only
    std::vector<scene::VertexRecord> shadow; // meshes only: what the GPU holds
};

// One draw of a frame: a group of a cached mesh under one transform.
struct DrawItem {
    uint64_t key = 0; // sort key: program, wireframe; then texture, material, mesh
    const GpuMesh* mesh = nullptr;
    uint32_t first = 0, count = 0;
    const GpuTexture* texture = nullptr; // null: the white texture
    const scene::Material* material = nullptr;
    uint32_t matrix = 0;  // index into Renderer::State::matrices
    uint32_t variant = 0; // VariantIndex
    bool wireframe = false;
};

// A decal quad of a frame, in view space.
struct DecalItem {
    const GpuTexture* texture = nullptr;
    uint32_t firstVertex = 0; // into State::decalVertices, 6 vertices
    bool onScreen = false;    // drawn last, over everything, border pixels repeated
    bool held = false;        // in the held layer: drawn in its depth range
};

struct Renderer::State {
    std::vector<Program> programs;    // kProgramCount, built on first use (id 0: not yet)
    std::vector<uint8_t> failed;      // kProgramCount: 1 when building failed
    std::string programError;         // why the last failed build failed
    GLuint white = 0;                 // 1x1 white texture for untextured faces
    std::array<GLuint, 6> samplers{}; // one per TextureFilter
    GLuint edgeSampler = 0;           // linear, clamped to the edge: on-screen decals
    GLuint decalVao = 0, decalVbo = 0;
    size_t decalVboBytes = 0;

    std::unordered_map<const scene::Visual*, GpuMesh> meshes;
    std::unordered_map<const scene::Visual*, GpuTexture> textures;
    uint32_t framesSinceSweep = 0;

    // Per-frame scratch, kept between frames so steady state allocates nothing.
    std::vector<DrawItem> items; // the scene's items, then from heldFirst on the held layer's
    size_t heldFirst = 0;
    std::vector<glm::mat4> matrices; // model-view per drawn visual
    std::vector<DecalItem> decals;
    std::vector<scene::VertexRecord> decalVertices;
    std::vector<uint8_t> pixels; // texture upload scratch

    // Lights of the current frame, view space.
    glm::vec3 ambient{0.0f};
    int pointCount = 0, dirCount = 0;
    std::array<glm::vec3, kMaxPointLights> pointPos{};
    std::array<glm::vec3, kMaxPointLights> pointColor{};
    std::array<glm::vec4, kMaxPointLights> pointAtten{};   // constant, linear, quadratic, range
    std::array<glm::vec3, kMaxDirectionalLights> dirDir{}; // towards the light
    std::array<glm::vec3, kMaxDirectionalLights> dirColor{};

    ~State();
};

// The program of `variant` for the current frame's light counts, built on first use; null
// when it does not build (the error is kept in programError and the build not retried).
const Program* GetProgram(Renderer::State& s, uint32_t variant);

// Cache maintenance (gpu_cache.cpp). Each returns the up-to-date copy, uploading what changed
// and counting it in `stats`.
GpuTexture& UpdateTexture(Renderer::State& s, const scene::Texture& texture, FrameStats& stats);
GpuMesh& UpdateMeshBuilder(Renderer::State& s, const scene::MeshBuilder& builder,
                           FrameStats& stats);
GpuMesh& UpdateMesh(Renderer::State& s, const scene::Mesh& mesh, FrameStats& stats);
// Frees copies whose visual no longer exists.
void SweepCaches(Renderer::State& s);
// Creates a VAO for the VertexRecord layout over `vbo` (and `ibo` when non-zero).
GLuint MakeVertexArray(GLuint vbo, GLuint ibo);

// Builds the GPU copy of a mesh builder on the CPU: one vertex per distinct (vertex, normal,
// colour) corner, indices fan-triangulated per face and grouped by (texture, material) in
// the order the groups first appear. Exposed for tests of the grouping.
void BuildBuilderGeometry(const scene::MeshBuilder& builder,
                          std::vector<scene::VertexRecord>& vertices,
                          std::vector<uint32_t>& indices, std::vector<DrawGroup>& groups);

} // namespace render
