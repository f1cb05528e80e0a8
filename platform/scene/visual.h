// platform/scene/visual.h — what frames carry: visuals, materials, lights; textures and decals,
// the search path of files and texture loading.
#pragma once

#include "platform/scene/types.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scene {

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

// Loads a BMP, TGA or PNG picture into a texture named `name` (the name as given); the format
// is told by the file's content, not its extension. An alpha channel is read into the image, but
// the renderer draws every pixel opaque except those of a texture's transparent colour. `name`
// is resolved through `path` when given. A name ending in ".bmp", ".tga" or ".png" (any case)
// whose file does not exist is tried with the other two extensions (PictureAlternatives); then,
// for a name given as a path (no `path`), those names are looked for in its folder without
// regard to case, as pictures made where file names ignore case are named. Returns null and fills
// `status` when no file exists (the error names `name`, the folders searched and the names also
// tried) or the picture cannot be read; never throws.
std::shared_ptr<Texture> LoadTexture(std::string_view name, const SearchPath* path = nullptr,
                                     LoadStatus* status = nullptr);

// The names tried after `name` when its file is missing: the same base name with the other
// picture extensions in the order ".bmp", ".tga", ".png", upper case when `name`'s extension is
// all upper case. Empty for a name without one of those extensions.
std::vector<std::string> PictureAlternatives(std::string_view name);

// Decodes a BMP, TGA or PNG picture held in memory (for tests and archives). Pictures larger than
// 4096 x 4096 pixels or whose headers promise more data than the bytes hold are refused before
// decoding. Null on bad data.
std::shared_ptr<Texture> LoadTextureFromMemory(std::span<const uint8_t> bytes,
                                               std::string_view name, LoadStatus* status = nullptr);

// Called by the .x loaders once for each texture name met (as written in the file); returns the
// texture to use, or null for none.
using TextureCallback = std::function<std::shared_ptr<Texture>(const std::string& textureName)>;

} // namespace scene
