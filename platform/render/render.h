// platform/render/render.h — the OpenGL 3.3 core renderer of a platform/scene scene seen
// through a viewport, and back-buffer screenshots.
//
// Index
//   1. Renderer: set-up, settings, clear, render, overlay hook, statistics
//   2. Back-buffer capture and picture files (PNG, BMP)
//
// The renderer never owns a window: it draws into the OpenGL context current on the calling
// thread when it is created and whenever it is used, and its destructor needs that context
// still current. Window pixels count from the top-left corner of the drawing surface.
//
// Drawing rules (one forward pass):
// - Lights: the sum of the ambient lights, up to kMaxPointLights point lights and
//   kMaxDirectionalLights directional lights of the scene's tree (more are ignored).
// - A face's colour = emissive + colour * (ambient * material ambient + diffuse), times its
//   texture, plus specular (material power > 0). Without a material: no emissive, no specular.
// - The quality a visual is drawn with is the lower of the renderer's quality and the visual's
//   own (menu order: wireframe < unlit flat < flat < gouraud < phong). Wireframe draws the
//   triangle edges, flat-lit; unlit flat draws colour times texture; flat lights each triangle
//   once (its first corner's normal); gouraud lights the corners; phong lights every pixel.
// - Faces are seen from the side where their corners run clockwise (left-handed scene); the
//   other side is culled unless SetCullBackFaces(false).
// - A texture with decal transparency on leaves out the pixels of its transparent colour,
//   both on faces and as a decal. A texture attached to a frame is a decal: a camera-facing
//   rectangle of its decal size in scene units, its origin pixel on the frame's origin, unlit.
// - GPU copies are cached per mesh builder, mesh and texture and refreshed when their
//   Version() changes; a mesh's vertex group uploads only the span of records that changed.
//   Copies of visuals that no longer exist are freed every few frames.
// - Shader programs are specialised by shading mode, colour key, specular term and the numbers
//   of lights; each is built the first time a frame needs it (a one-off cost of a few
//   milliseconds when the light set-up or a quality first appears).
// - The held layer: a subtree that Render() is given as `held` (the weapon in a first-person
//   hand) is drawn after the rest of the scene and its in-scene decals, in a depth range of its
//   own: the depth of the viewport's rectangle is cleared and the layer is projected with the
//   viewport's field of view (the same half-angles) between the planes front * kHeldFrontRatio
//   and front * kHeldBackRatio (scene units). So an object nearer the eye than the viewport's
//   front plane is seen whole, and never disappears into a wall it reaches through. The
//   layer's transforms, lights and render flags (its ancestors' included) are the scene's;
//   on-screen decals are drawn over it. A `held` frame outside `scene`'s tree draws nothing.
// - Render() allocates nothing in steady state, throws nothing and reads nothing back from GL.
//   It leaves the GL viewport over the whole surface, depth test and culling off, and no
//   program, vertex array, texture or sampler bound.
#pragma once

#include "platform/scene/scene.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace render {

// ============================================================================================
// 1. Renderer
// ============================================================================================

inline constexpr int kMaxPointLights = 8;
inline constexpr int kMaxDirectionalLights = 4;

// Planes of the held layer, as multiples of the viewport's front plane distance.
inline constexpr float kHeldFrontRatio = 0.01f;
inline constexpr float kHeldBackRatio = 100.0f;

// Buffers cleared by Renderer::Clear.
enum ClearFlags : uint32_t {
    kClearColor = 1,
    kClearDepth = 2,
    kClearAll = 3,
};

// Counters of the last Render() call (several viewports: the last one).
struct FrameStats {
    uint32_t visuals = 0;        // mesh builders and meshes drawn
    uint32_t decals = 0;         // decals drawn
    uint32_t drawCalls = 0;      // glDraw* calls, decals included
    uint32_t triangles = 0;      // triangles submitted
    uint32_t meshUploads = 0;    // mesh builders / meshes whose buffers were (re)written
    uint32_t uploadedBytes = 0;  // vertex and index bytes sent to buffers
    uint32_t textureUploads = 0; // textures (re)uploaded
};

class Renderer {
public:
    // Compiles the shaders in the current OpenGL 3.3 core context and reads the current GL
    // viewport as the initial drawing-surface size. Returns null and fills `error` (when
    // given) when no usable context is current or a shader does not build.
    static std::unique_ptr<Renderer> Create(std::string* error = nullptr);
    // Frees every GL object; the creating context must be current.
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // --- settings ---
    // Size in pixels of the drawing surface (the window's client area); viewports' rectangles
    // are placed in it from its top-left corner. Call it when the window is resized.
    void SetTargetSize(int width, int height);
    int TargetWidth() const { return targetWidth_; }
    int TargetHeight() const { return targetHeight_; }
    // Highest quality any visual is drawn with (the menu's object quality). Default Gouraud.
    void SetQuality(scene::RenderQuality quality) { quality_ = quality; }
    scene::RenderQuality GetQuality() const { return quality_; }
    // Filter of every texture (the menu's texture quality). Default Linear.
    void SetTextureFilter(scene::TextureFilter filter) { filter_ = filter; }
    scene::TextureFilter GetTextureFilter() const { return filter_; }
    // Colour a colour clear fills with, 0..1. Default black.
    void SetBackground(const glm::vec3& rgb) { background_ = rgb; }
    glm::vec3 GetBackground() const { return background_; }
    void SetCullBackFaces(bool on) { cullBackFaces_ = on; }

    // --- drawing ---
    // Clears the viewport's rectangle: colour (background) and/or depth.
    void Clear(const scene::ViewportParams& viewport, uint32_t flags = kClearAll);
    // Draws every rendered visual under `scene` (its own traversal flags included) as seen by
    // the viewport's camera, into the viewport's rectangle. Lights are those of `scene`'s
    // whole tree. Nothing is drawn without a camera or with an empty rectangle. `held`, when
    // given, is a frame of `scene`'s tree whose subtree is the held layer (see above); it is
    // only read during the call.
    void Render(const scene::ViewportParams& viewport, const scene::Frame& scene,
                const scene::Frame* held = nullptr);

    // --- overlay ---
    // Called by DrawOverlay with the drawing surface's size, after the 3D pass, with the GL
    // viewport covering the whole surface, depth test and culling off and no program bound:
    // the HUD draws its text there (for instance with ImGui). Empty: no hook.
    using OverlayHook = std::function<void(int width, int height)>;
    void SetOverlay(OverlayHook hook) { overlay_ = std::move(hook); }
    // Runs the overlay hook once; call it after the last Render() of the frame.
    void DrawOverlay();

    // --- housekeeping ---
    // Frees the GPU copies of mesh builders, meshes and textures that no longer exist (also
    // done every few frames by Render()).
    void ReleaseUnused();
    const FrameStats& LastStats() const { return stats_; }
    // Number of GPU copies held: mesh builders and meshes, textures.
    size_t CachedMeshCount() const;
    size_t CachedTextureCount() const;

    // Writes the back buffer (the whole drawing surface) as a picture file: PNG when the
    // path ends in ".png" (any case), BMP otherwise. Call it before the buffers are swapped.
    // False, with the reason in `error`, when the file cannot be written.
    bool Screenshot(const std::string& path, std::string* error = nullptr) const;

    struct State; // GL objects and caches (render_local.h)

private:
    Renderer();

    std::unique_ptr<State> state_;
    int targetWidth_ = 0;
    int targetHeight_ = 0;
    scene::RenderQuality quality_ = scene::RenderQuality::Gouraud;
    scene::TextureFilter filter_ = scene::TextureFilter::Linear;
    glm::vec3 background_{0.0f};
    bool cullBackFaces_ = true;
    OverlayHook overlay_;
    FrameStats stats_;
};

// ============================================================================================
// 2. Back-buffer capture and picture files
// ============================================================================================

// Reads the rectangle (x, y, width, height) of the current back buffer, in window pixels from
// the top-left corner of a drawing surface `surfaceHeight` pixels high, as RGBA rows top to
// bottom. Returns an empty image when the rectangle is empty.
scene::Image CaptureBackBuffer(int surfaceHeight, int x, int y, int width, int height);

// Writes an RGBA image as PNG (8-bit RGBA, uncompressed deflate) or as 24-bit BMP. False,
// with the reason in `error`, when the image is empty or malformed or the file cannot be
// written.
bool WritePng(const scene::Image& image, const std::string& path, std::string* error = nullptr);
bool WriteBmp(const scene::Image& image, const std::string& path, std::string* error = nullptr);
// PNG when `path` ends in ".png" (any case), BMP otherwise.
bool WriteImage(const scene::Image& image, const std::string& path, std::string* error = nullptr);

} // namespace render
