// platform/scene/texture.cpp — textures (pictures with decal properties), BMP loading through
// SDL, and the search path that resolves file names.
#include "platform/scene/scene.h"

#include <SDL.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace scene {

// ------------------------------------------------------------------ Texture

std::shared_ptr<Texture> Texture::CreateFromImage(Image image, std::string_view name) {
    std::shared_ptr<Texture> t(new Texture());
    t->image_ = std::move(image);
    t->SetName(name);
    return t;
}

std::shared_ptr<Visual> Texture::CloneVisual() const {
    std::shared_ptr<Texture> copy(new Texture(*this));
    copy->version_ = 1;
    return copy;
}

void Texture::SetImage(Image image) {
    image_ = std::move(image);
    ++version_;
}

// ------------------------------------------------------------------ SearchPath

namespace {

// Backslashes in names written for the original layout become '/'.
std::string NormaliseSeparators(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

bool IsFile(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

} // namespace

void SearchPath::SetFromList(std::string_view list) {
    folders_.clear();
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) AddFolder(list.substr(start, end - start));
        start = end + 1;
    }
}

void SearchPath::AddFolder(std::string_view folder) {
    if (!folder.empty()) folders_.push_back(NormaliseSeparators(folder));
}

std::string SearchPath::Resolve(std::string_view name) const {
    if (name.empty()) return {};
    const std::string n = NormaliseSeparators(name);
    if (IsFile(n)) return n;
    // A name written with a leading separator is relative to each folder.
    const std::string_view rel = n.front() == '/' ? std::string_view(n).substr(1) : n;
    for (const std::string& folder : folders_) {
        const std::filesystem::path p = std::filesystem::path(folder) / rel;
        if (IsFile(p)) return p.string();
    }
    return {};
}

// ------------------------------------------------------------------ BMP loading

namespace {

std::shared_ptr<Texture> TextureFromSurface(SDL_Surface* loaded, std::string_view name,
                                            LoadStatus* status) {
    if (!loaded) {
        if (status)
            *status = {false,
                       std::string(name) + ": not a readable BMP picture (" + SDL_GetError() + ")"};
        return nullptr;
    }
    SDL_Surface* rgba = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA32, 0);
    SDL_FreeSurface(loaded);
    if (!rgba || rgba->w <= 0 || rgba->h <= 0) {
        if (rgba) SDL_FreeSurface(rgba);
        if (status) *status = {false, std::string(name) + ": picture cannot be converted"};
        return nullptr;
    }
    Image image;
    image.width = rgba->w;
    image.height = rgba->h;
    image.rgba.resize(static_cast<size_t>(rgba->w) * rgba->h * 4);
    SDL_LockSurface(rgba);
    for (int y = 0; y < rgba->h; ++y)
        std::memcpy(image.rgba.data() + static_cast<size_t>(y) * rgba->w * 4,
                    static_cast<const uint8_t*>(rgba->pixels) +
                        static_cast<size_t>(y) * rgba->pitch,
                    static_cast<size_t>(rgba->w) * 4);
    SDL_UnlockSurface(rgba);
    SDL_FreeSurface(rgba);
    if (status) *status = {true, {}};
    return Texture::CreateFromImage(std::move(image), name);
}

} // namespace

std::shared_ptr<Texture> LoadTexture(std::string_view name, const SearchPath* path,
                                     LoadStatus* status) {
    std::string file = path ? path->Resolve(name) : NormaliseSeparators(name);
    if (file.empty() || !IsFile(file)) {
        if (status) *status = {false, std::string(name) + ": file not found"};
        return nullptr;
    }
    return TextureFromSurface(SDL_LoadBMP(file.c_str()), name, status);
}

std::shared_ptr<Texture> LoadTextureFromMemory(std::span<const uint8_t> bytes,
                                               std::string_view name, LoadStatus* status) {
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) {
        if (status) *status = {false, std::string(name) + ": empty picture"};
        return nullptr;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) {
        if (status) *status = {false, std::string(name) + ": cannot read picture"};
        return nullptr;
    }
    return TextureFromSurface(SDL_LoadBMP_RW(rw, 1), name, status);
}

} // namespace scene
