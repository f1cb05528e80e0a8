// platform/scene/texture.cpp — textures (pictures with decal properties), BMP loading through
// SDL, and the search path that resolves file names.
#include "platform/scene/scene_local.h"

#include <SDL.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

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

std::string NotFound(std::string_view name, const SearchPath* path) {
    std::string error = std::string(name) + ": file not found";
    if (path && !path->Folders().empty()) {
        error += " (looked in";
        for (size_t i = 0; i < path->Folders().size(); ++i)
            error += (i ? ", " : " ") + path->Folders()[i];
        error += ")";
    }
    return error;
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

// Largest picture accepted: 4096 x 4096 pixels (64 MB as RGBA).
constexpr uint64_t kMaxPixels = uint64_t(4096) * 4096;
constexpr uint64_t kMaxFileBytes = uint64_t(256) << 20;

uint32_t ReadU32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint16_t ReadU16(std::span<const uint8_t> b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

// Checks the BMP headers before the decoder sizes its buffers from them: a sane size, and for
// uncompressed pictures pixel rows that the file really holds. Empty when acceptable.
std::string CheckBmpHeader(std::span<const uint8_t> b) {
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return "not a BMP picture";
    const uint32_t pixelOffset = ReadU32(b, 10);
    const uint32_t headerSize = ReadU32(b, 14);
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = 0;
    if (headerSize == 12) {
        width = ReadU16(b, 18);
        height = ReadU16(b, 20);
        bpp = ReadU16(b, 24);
    } else if (headerSize >= 40 && b.size() >= 34) {
        width = int32_t(ReadU32(b, 18));
        height = int32_t(ReadU32(b, 22));
        bpp = ReadU16(b, 28);
        compression = ReadU32(b, 30);
    } else {
        return "unknown BMP header";
    }
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > kMaxPixels)
        return "picture size out of range";
    if (bpp == 0 || bpp > 32) return "bad bit depth";
    if (compression == 0) {
        const uint64_t row = (uint64_t(width) * bpp + 31) / 32 * 4;
        if (pixelOffset > b.size() || row * uint64_t(height) > b.size() - pixelOffset)
            return "picture data cut short";
    }
    return {};
}

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
        if (status) *status = {false, NotFound(name, path)};
        return nullptr;
    }
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? std::streamoff(in.tellg()) : std::streamoff(-1);
    if (size <= 0 || uint64_t(size) > kMaxFileBytes) {
        if (status) *status = {false, file + ": cannot read picture file"};
        return nullptr;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        if (status) *status = {false, file + ": cannot read picture file"};
        return nullptr;
    }
    std::shared_ptr<Texture> texture = LoadTextureFromMemory(bytes, name, status);
    // A decoding error names the file where it was found, not only the name asked for.
    if (!texture && status && status->error.starts_with(std::string(name) + ":"))
        status->error = file + status->error.substr(name.size());
    return texture;
}

std::shared_ptr<Texture> LoadTextureFromMemory(std::span<const uint8_t> bytes,
                                               std::string_view name, LoadStatus* status) {
    if (bytes.empty() || bytes.size() > kMaxFileBytes) {
        if (status) *status = {false, std::string(name) + ": empty picture"};
        return nullptr;
    }
    if (const std::string why = CheckBmpHeader(bytes); !why.empty()) {
        if (status) *status = {false, std::string(name) + ": " + why};
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
