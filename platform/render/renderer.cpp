// platform/render/renderer.cpp — Renderer: set-up, clear, the forward pass over a scene
// (lights, visuals sorted by program, quality, texture and material; decals last) and the
// overlay hook.
#include "platform/render/render_local.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

namespace render {

namespace {

constexpr uint32_t kSweepInterval = 120; // frames between frees of dead visuals' copies

// GL filters of each TextureFilter (menu order): minification, magnification.
constexpr std::array<std::array<GLint, 2>, 6> kFilters = {{
    {GL_NEAREST, GL_NEAREST},
    {GL_LINEAR, GL_LINEAR},
    {GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST},
    {GL_NEAREST_MIPMAP_LINEAR, GL_NEAREST},
    {GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR},
    {GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR},
}};

ShadeMode ModeOf(scene::RenderQuality q) {
    switch (q) {
    case scene::RenderQuality::UnlitFlat:
        return kShadeUnlit;
    case scene::RenderQuality::Wireframe:
    case scene::RenderQuality::Flat:
        return kShadeFlat;
    case scene::RenderQuality::Gouraud:
        return kShadeGouraud;
    case scene::RenderQuality::Phong:
        return kShadePhong;
    }
    return kShadeGouraud;
}

scene::RenderQuality Lower(scene::RenderQuality a, scene::RenderQuality b) {
    return static_cast<int>(a) < static_cast<int>(b) ? a : b;
}

// GL's window y counts from the bottom.
GLint GlY(int surfaceHeight, int y, int height) {
    return surfaceHeight - y - height;
}

} // namespace

// ------------------------------------------------------------------ set-up

Renderer::Renderer() : state_(std::make_unique<State>()) {}

Renderer::~Renderer() = default;

std::unique_ptr<Renderer> Renderer::Create(std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<Renderer> {
        if (error) *error = why;
        return nullptr;
    };
    if (!SDL_GL_GetCurrentContext()) return fail("no current OpenGL context");
    if (epoxy_gl_version() < 33) return fail("OpenGL 3.3 is not available");

    std::unique_ptr<Renderer> r(new Renderer());
    State& s = *r->state_;
    std::string why;
    s.programs.resize(kProgramCount);
    s.failed.assign(kProgramCount, 0);
    // The most common program is built now, so that a shader fault shows at start-up.
    s.pointCount = 1;
    if (!GetProgram(s, VariantIndex(kShadeGouraud, false, false))) return fail(s.programError);
    s.pointCount = 0;

    glGenTextures(1, &s.white);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, s.white);
    const uint8_t white[4] = {255, 255, 255, 255};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);

    glGenSamplers(static_cast<GLsizei>(s.samplers.size()), s.samplers.data());
    for (size_t i = 0; i < s.samplers.size(); ++i) {
        glSamplerParameteri(s.samplers[i], GL_TEXTURE_MIN_FILTER, kFilters[i][0]);
        glSamplerParameteri(s.samplers[i], GL_TEXTURE_MAG_FILTER, kFilters[i][1]);
        glSamplerParameteri(s.samplers[i], GL_TEXTURE_WRAP_S, GL_REPEAT);
        glSamplerParameteri(s.samplers[i], GL_TEXTURE_WRAP_T, GL_REPEAT);
    }
    glGenSamplers(1, &s.edgeSampler);
    glSamplerParameteri(s.edgeSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(s.edgeSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(s.edgeSampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(s.edgeSampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    glGenBuffers(1, &s.decalVbo);
    s.decalVao = MakeVertexArray(s.decalVbo, 0);

    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    r->SetTargetSize(viewport[2], viewport[3]);

    s.items.reserve(256);
    s.matrices.reserve(256);
    s.decals.reserve(64);
    s.decalVertices.reserve(64 * 6);
    if (glGetError() != GL_NO_ERROR) return fail("OpenGL objects cannot be created");
    return r;
}

void Renderer::SetTargetSize(int width, int height) {
    targetWidth_ = std::max(width, 0);
    targetHeight_ = std::max(height, 0);
}

size_t Renderer::CachedMeshCount() const {
    return state_->meshes.size();
}
size_t Renderer::CachedTextureCount() const {
    return state_->textures.size();
}

void Renderer::ReleaseUnused() {
    SweepCaches(*state_);
}

const Program* GetProgram(Renderer::State& s, uint32_t variant) {
    const ShadeMode mode = static_cast<ShadeMode>(variant / 4);
    // Unlit programs use no light: one program serves every light configuration.
    const int points = mode == kShadeUnlit ? 0 : s.pointCount;
    const int dirs = mode == kShadeUnlit ? 0 : s.dirCount;
    const size_t index =
        variant * kLightConfigs + static_cast<size_t>(points) * (kMaxDirectionalLights + 1) + dirs;
    Program& p = s.programs[index];
    if (p.id) return &p;
    if (s.failed[index]) return nullptr;
    if (!BuildProgram(p, mode, (variant & 2) != 0, (variant & 1) != 0, points, dirs,
                      s.programError)) {
        s.failed[index] = 1;
        return nullptr;
    }
    return &p;
}

// ------------------------------------------------------------------ clear

void Renderer::Clear(const scene::ViewportParams& vp, uint32_t flags) {
    if (vp.width <= 0 || vp.height <= 0 || !(flags & kClearAll)) return;
    glEnable(GL_SCISSOR_TEST);
    glScissor(vp.x, GlY(targetHeight_, vp.y, vp.height), vp.width, vp.height);
    GLbitfield mask = 0;
    if (flags & kClearColor) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(background_.r, background_.g, background_.b, 1.0f);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & kClearDepth) {
        glDepthMask(GL_TRUE);
        glClearDepth(1.0);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    glClear(mask);
    glDisable(GL_SCISSOR_TEST);
}

// ------------------------------------------------------------------ collection

namespace {

// Everything one Render() call gathers before drawing.
struct Collector {
    Renderer::State& s;
    FrameStats& stats;
    glm::mat4 view;
    scene::RenderQuality quality;
    // The view's shape, for on-screen decals.
    float tanY = 1.0f;
    float aspect = 1.0f;
    float nearDistance = 1.0f;
    // The held layer: its frame, where the walk found it, and whether the walk is inside it.
    const scene::Frame* held = nullptr;
    bool heldFound = false;
    glm::mat4 heldToScene{1.0f};
    bool inHeld = false;

    // Collects every rendered visual of `f`'s subtree (`toScene`: f's transform to scene
    // coordinates). Outside the held layer, the held frame is only noted, not entered.
    void Walk(const scene::Frame& f, const glm::mat4& toScene) {
        if (!(f.GetTraversalOptions() & scene::kFlagRendered)) return;
        if (&f == held && !inHeld) {
            heldFound = true;
            heldToScene = toScene;
            return;
        }
        for (const auto& v : f.Visuals())
            if (v->IsRendered()) AddVisual(*v, toScene);
        for (const auto& child : f.Children())
            Walk(*child, toScene * child->GetLocalTransform());
    }

    void AddLight(const scene::Light& light, const glm::mat4& toScene) {
        const glm::mat4 toView = view * toScene;
        switch (light.type) {
        case scene::LightType::Ambient:
            s.ambient += light.color;
            break;
        case scene::LightType::Point:
            if (s.pointCount < kMaxPointLights) {
                const int i = s.pointCount++;
                s.pointPos[i] = glm::vec3(toView[3]);
                s.pointColor[i] = light.color;
                s.pointAtten[i] = {light.constantAttenuation, light.linearAttenuation,
                                   light.quadraticAttenuation, light.range};
            }
            break;
        case scene::LightType::Directional:
            if (s.dirCount < kMaxDirectionalLights) {
                const glm::vec3 along = glm::vec3(toView[2]);
                const float len = glm::length(along);
                if (len <= 0.0f) break;
                const int i = s.dirCount++;
                s.dirDir[i] = -along / len;
                s.dirColor[i] = light.color;
            }
            break;
        }
    }

    // Sort key fields are packed into DrawItem::key: program (keyed), wireframe, mode.
    void Push(const GpuMesh& mesh, uint32_t first, uint32_t count, const GpuTexture* texture,
              const scene::Material* material, uint32_t matrix, scene::RenderQuality q) {
        if (count == 0) return;
        DrawItem item;
        item.mesh = &mesh;
        item.first = first;
        item.count = count;
        item.texture = texture && texture->id ? texture : nullptr;
        item.material = material;
        item.matrix = matrix;
        const ShadeMode mode = ModeOf(q);
        const bool specular = material && mode != kShadeUnlit && material->power > 0.0f &&
                              material->specular != glm::vec3(0.0f);
        item.variant = VariantIndex(mode, item.texture && item.texture->keyed, specular);
        item.wireframe = q == scene::RenderQuality::Wireframe;
        item.key = (uint64_t(item.variant) << 1) | uint64_t(item.wireframe);
        s.items.push_back(item);
        stats.triangles += count / 3;
    }

    void AddBuilder(const scene::MeshBuilder& builder, const glm::mat4& toScene) {
        const GpuMesh& m = UpdateMeshBuilder(s, builder, stats);
        if (m.indexCount == 0) return;
        const uint32_t matrix = static_cast<uint32_t>(s.matrices.size());
        s.matrices.push_back(view * toScene);
        const scene::RenderQuality q = Lower(quality, builder.GetQuality());
        for (const DrawGroup& g : m.groups) {
            const GpuTexture* t = g.texture ? &UpdateTexture(s, *g.texture, stats) : nullptr;
            Push(m, g.first, g.count, t, g.material.get(), matrix, q);
        }
        ++stats.visuals;
    }

    void AddMesh(const scene::Mesh& mesh, const glm::mat4& toScene) {
        const GpuMesh& m = UpdateMesh(s, mesh, stats);
        if (m.indexCount == 0) return;
        const uint32_t matrix = static_cast<uint32_t>(s.matrices.size());
        s.matrices.push_back(view * toScene);
        const auto& texture = mesh.GetGroupTexture();
        const GpuTexture* t = texture ? &UpdateTexture(s, *texture, stats) : nullptr;
        Push(m, 0, m.indexCount, t, mesh.GetGroupMaterial().get(), matrix,
             Lower(quality, mesh.GetGroupQuality()));
        ++stats.visuals;
    }

    // A decal: a rectangle facing the camera in view space, its origin pixel on the frame's
    // origin, DecalSize scene units wide and high. On screen: a rectangle just beyond the front
    // plane covering the whole view, the picture's rectangle where its origin pixel lies over
    // the frame's origin and its size counts in double view heights; the texture coordinates
    // run past 0..1 outside it and the edge sampler repeats the border pixels.
    void AddDecal(const scene::Texture& texture, const glm::mat4& toScene) {
        const GpuTexture& t = UpdateTexture(s, texture, stats);
        if (!t.id || texture.Width() <= 0 || texture.Height() <= 0) return;
        const glm::vec3 p = glm::vec3((view * toScene)[3]);
        const glm::vec2 origin = glm::vec2(texture.GetDecalOrigin()) /
                                 glm::vec2(float(texture.Width()), float(texture.Height()));
        DecalItem d;
        d.texture = &t;
        d.firstVertex = static_cast<uint32_t>(s.decalVertices.size());
        d.onScreen = texture.GetDecalOnScreen();
        d.held = inHeld;
        if (d.onScreen) {
            if (p.z <= 0.0f) return;
            const float z = nearDistance * 1.01f;
            const float halfH = z * tanY, halfW = halfH * aspect;
            const glm::vec2 size = texture.GetDecalSize() * (4.0f * halfH);
            if (size.x <= 0.0f || size.y <= 0.0f) return;
            const glm::vec2 anchor = glm::vec2(p) * (z / p.z);
            const float left = anchor.x - origin.x * size.x;
            const float top = anchor.y + origin.y * size.y;
            auto corner = [&](float x, float y) {
                AddDecalVertex(x, y, z, (x - left) / size.x, (top - y) / size.y);
            };
            corner(-halfW, halfH);
            corner(halfW, halfH);
            corner(halfW, -halfH);
            corner(-halfW, halfH);
            corner(halfW, -halfH);
            corner(-halfW, -halfH);
        } else {
            const glm::vec2 size = texture.GetDecalSize();
            const float left = p.x - origin.x * size.x, right = left + size.x;
            const float top = p.y + origin.y * size.y, bottom = top - size.y;
            // Two triangles, clockwise as seen from the camera.
            AddDecalVertex(left, top, p.z, 0, 0);
            AddDecalVertex(right, top, p.z, 1, 0);
            AddDecalVertex(right, bottom, p.z, 1, 1);
            AddDecalVertex(left, top, p.z, 0, 0);
            AddDecalVertex(right, bottom, p.z, 1, 1);
            AddDecalVertex(left, bottom, p.z, 0, 1);
        }
        s.decals.push_back(d);
        ++stats.decals;
    }

    void AddDecalVertex(float x, float y, float z, float u, float v) {
        scene::VertexRecord r;
        r.position = {x, y, z};
        r.normal = {0.0f, 0.0f, -1.0f};
        r.u = u;
        r.v = v;
        s.decalVertices.push_back(r);
    }

    void AddVisual(const scene::Visual& visual, const glm::mat4& toScene) {
        switch (visual.Kind()) {
        case scene::VisualKind::MeshBuilder:
            AddBuilder(static_cast<const scene::MeshBuilder&>(visual), toScene);
            break;
        case scene::VisualKind::Mesh:
            AddMesh(static_cast<const scene::Mesh&>(visual), toScene);
            break;
        case scene::VisualKind::Texture:
            AddDecal(static_cast<const scene::Texture&>(visual), toScene);
            break;
        }
    }
};

// ------------------------------------------------------------------ drawing

// Program uniforms that hold for the whole frame.
void SetFrameUniforms(const Program& p, const Renderer::State& s, const glm::mat4& projection) {
    glUseProgram(p.id);
    glUniformMatrix4fv(p.projection, 1, GL_FALSE, &projection[0][0]);
    glUniform3fv(p.ambient, 1, &s.ambient[0]);
    if (s.pointCount > 0) {
        glUniform3fv(p.pointPos, s.pointCount, &s.pointPos[0][0]);
        glUniform3fv(p.pointColor, s.pointCount, &s.pointColor[0][0]);
        glUniform4fv(p.pointAtten, s.pointCount, &s.pointAtten[0][0]);
    }
    if (s.dirCount > 0) {
        glUniform3fv(p.dirDir, s.dirCount, &s.dirDir[0][0]);
        glUniform3fv(p.dirColor, s.dirCount, &s.dirColor[0][0]);
    }
}

void SetMaterial(const Program& p, const scene::Material* m) {
    static const scene::Material kNone;
    const scene::Material& mat = m ? *m : kNone;
    glUniform3fv(p.emissive, 1, &mat.emissive[0]);
    glUniform3fv(p.specular, 1, &mat.specular[0]);
    glUniform1f(p.power, mat.power);
    glUniform3fv(p.ambientFactor, 1, &mat.ambient[0]);
}

void SetModelView(const Program& p, const glm::mat4& modelView) {
    glUniformMatrix4fv(p.modelView, 1, GL_FALSE, &modelView[0][0]);
    const glm::mat3 normal = glm::transpose(glm::inverse(glm::mat3(modelView)));
    glUniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, &normal[0][0]);
}

bool DrawOrder(const DrawItem& a, const DrawItem& b) {
    if (a.key != b.key) return a.key < b.key;
    if (a.texture != b.texture) return std::less<const GpuTexture*>()(a.texture, b.texture);
    if (a.material != b.material)
        return std::less<const scene::Material*>()(a.material, b.material);
    if (a.mesh != b.mesh) return std::less<const GpuMesh*>()(a.mesh, b.mesh);
    return a.matrix < b.matrix;
}

// GL state of the mesh passes: depth tested and written, culling as asked.
void BeginMeshState(bool cullBackFaces) {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    if (cullBackFaces)
        glEnable(GL_CULL_FACE);
    else
        glDisable(GL_CULL_FACE);
}

// Draws items [first, last) of the frame (sorted), changing only the state that differs.
void DrawItems(Renderer::State& s, size_t first, size_t last, const glm::mat4& projection,
               FrameStats& stats) {
    const Program* program = nullptr;
    const GpuMesh* mesh = nullptr;
    const GpuTexture* texture = nullptr;
    const scene::Material* material = nullptr;
    uint32_t matrix = UINT32_MAX;
    int wire = -1;
    bool fresh = true;
    for (size_t i = first; i < last; ++i) {
        const DrawItem& item = s.items[i];
        const Program* want = GetProgram(s, item.variant);
        if (!want) continue;
        if (want != program) {
            program = want;
            SetFrameUniforms(*program, s, projection);
            matrix = UINT32_MAX;
            fresh = true;
        }
        if (int(item.wireframe) != wire) {
            wire = item.wireframe;
            glPolygonMode(GL_FRONT_AND_BACK, wire ? GL_LINE : GL_FILL);
        }
        if (fresh || item.texture != texture) {
            texture = item.texture;
            glBindTexture(GL_TEXTURE_2D, texture ? texture->id : s.white);
        }
        if (fresh || item.material != material) {
            material = item.material;
            SetMaterial(*program, material);
        }
        if (item.matrix != matrix) {
            matrix = item.matrix;
            SetModelView(*program, s.matrices[matrix]);
        }
        if (item.mesh != mesh) {
            mesh = item.mesh;
            glBindVertexArray(mesh->vao);
        }
        fresh = false;
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(item.count), GL_UNSIGNED_INT,
                       reinterpret_cast<const void*>(size_t(item.first) * sizeof(uint32_t)));
        ++stats.drawCalls;
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

// Draws the decals that are on screen or not (`onScreen`) and in the held layer or not
// (`held`), plain ones first, then colour-keyed ones; unlit, never culled, in view space. The
// decal vertices are already in the decal buffer.
void DrawDecals(Renderer::State& s, bool onScreen, bool held, const glm::mat4& projection,
                FrameStats& stats) {
    glDisable(GL_CULL_FACE);
    glBindVertexArray(s.decalVao);
    const glm::mat4 identity(1.0f);
    for (const bool keyed : {false, true}) {
        const Program* program = GetProgram(s, VariantIndex(kShadeUnlit, keyed, false));
        if (!program) continue;
        bool used = false;
        for (const DecalItem& d : s.decals) {
            if (d.texture->keyed != keyed || d.onScreen != onScreen || d.held != held) continue;
            if (!used) {
                used = true;
                SetFrameUniforms(*program, s, projection);
                SetMaterial(*program, nullptr);
                SetModelView(*program, identity);
            }
            glBindTexture(GL_TEXTURE_2D, d.texture->id);
            glDrawArrays(GL_TRIANGLES, static_cast<GLint>(d.firstVertex), 6);
            ++stats.drawCalls;
            stats.triangles += 2;
        }
    }
}

// The projection of the held layer: the viewport's half-angles between its own planes.
glm::mat4 HeldProjection(const scene::ViewportParams& vp) {
    const float front = vp.front > 0.0f ? vp.front : 1.0f;
    scene::ViewportParams layer = vp;
    layer.front = front * kHeldFrontRatio;
    layer.back = front * kHeldBackRatio;
    layer.field = vp.field * kHeldFrontRatio;
    return layer.ProjectionMatrix();
}

} // namespace

void Renderer::Render(const scene::ViewportParams& vp, const scene::Frame& sceneFrame,
                      const scene::Frame* held) {
    stats_ = FrameStats{};
    if (!vp.camera || vp.width <= 0 || vp.height <= 0) return;
    State& s = *state_;
    if (++s.framesSinceSweep >= kSweepInterval) {
        s.framesSinceSweep = 0;
        SweepCaches(s);
    }

    // 1. Lights and visuals: the scene's, then the held layer's.
    s.items.clear();
    s.matrices.clear();
    s.decals.clear();
    s.decalVertices.clear();
    s.ambient = glm::vec3(0.0f);
    s.pointCount = s.dirCount = 0;
    Collector c{s, stats_, vp.ViewMatrix(), quality_};
    c.tanY = std::tan(vp.HalfAngleY());
    c.aspect = vp.Aspect();
    c.nearDistance = vp.front > 0.0f ? vp.front : 1.0f;
    c.held = held;
    Collector* cp = &c;
    scene::ForEachLight(sceneFrame,
                        [cp](const scene::Frame&, const scene::Light& light,
                             const glm::mat4& toScene) { cp->AddLight(light, toScene); });
    c.Walk(sceneFrame, sceneFrame.GetSceneTransform());
    s.heldFirst = s.items.size();
    bool heldDecals = false;
    if (c.heldFound) {
        const size_t decalsBefore = s.decals.size();
        c.inHeld = true;
        c.Walk(*held, c.heldToScene);
        for (size_t i = decalsBefore; i < s.decals.size(); ++i)
            heldDecals = heldDecals || !s.decals[i].onScreen;
    }
    const auto heldBegin = s.items.begin() + static_cast<std::ptrdiff_t>(s.heldFirst);
    std::sort(s.items.begin(), heldBegin, DrawOrder);
    std::sort(heldBegin, s.items.end(), DrawOrder);

    // 2. State of the pass.
    const glm::mat4 projection = vp.ProjectionMatrix();
    glViewport(vp.x, GlY(targetHeight_, vp.y, vp.height), vp.width, vp.height);
    BeginMeshState(cullBackFaces_);
    glDisable(GL_BLEND);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glFrontFace(GL_CW);
    glCullFace(GL_BACK);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, s.samplers[static_cast<size_t>(filter_)]);

    // 3. The scene's meshes.
    DrawItems(s, 0, s.heldFirst, projection, stats_);

    // 4. Decal vertices, then the scene's decals: in the scene, depth tested.
    if (!s.decals.empty()) {
        const size_t bytes = s.decalVertices.size() * sizeof(scene::VertexRecord);
        glBindBuffer(GL_ARRAY_BUFFER, s.decalVbo);
        if (bytes > s.decalVboBytes) {
            s.decalVboBytes =
                std::max(bytes, s.decalVertices.capacity() * sizeof(scene::VertexRecord));
            glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(s.decalVboBytes), nullptr,
                         GL_STREAM_DRAW);
        }
        glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), s.decalVertices.data());
        DrawDecals(s, false, false, projection, stats_);
    }

    // 5. The held layer in its own depth range.
    if (s.heldFirst < s.items.size() || heldDecals) {
        const glm::mat4 layer = HeldProjection(vp);
        Clear(vp, kClearDepth);
        glBindSampler(0, s.samplers[static_cast<size_t>(filter_)]);
        BeginMeshState(cullBackFaces_);
        DrawItems(s, s.heldFirst, s.items.size(), layer, stats_);
        if (heldDecals) DrawDecals(s, false, true, layer, stats_);
    }

    // 6. On-screen decals over everything, border pixels repeated.
    if (!s.decals.empty()) {
        glDisable(GL_DEPTH_TEST);
        glBindSampler(0, s.edgeSampler);
        DrawDecals(s, true, false, projection, stats_);
        DrawDecals(s, true, true, projection, stats_);
    }

    // 7. Leave a neutral state for whoever draws next.
    glBindVertexArray(0);
    glUseProgram(0);
    glBindSampler(0, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glViewport(0, 0, targetWidth_, targetHeight_);
}

// ------------------------------------------------------------------ overlay

void Renderer::DrawOverlay() {
    if (!overlay_) return;
    glViewport(0, 0, targetWidth_, targetHeight_);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glUseProgram(0);
    glBindVertexArray(0);
    overlay_(targetWidth_, targetHeight_);
}

// ------------------------------------------------------------------ screenshot

bool Renderer::Screenshot(const std::string& path, std::string* error) const {
    const scene::Image image = CaptureBackBuffer(targetHeight_, 0, 0, targetWidth_, targetHeight_);
    return WriteImage(image, path, error);
}

} // namespace render
