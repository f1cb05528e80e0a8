// platform/scene/texture.cpp — textures (pictures with decal properties), BMP, TGA and PNG
// loading through SDL and SDL_image, and the search path that resolves file names.
#include "platform/scene/scene_local.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cctype>
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

// ------------------------------------------------------------------ picture loading

namespace {

// Largest picture accepted: 4096 x 4096 pixels (64 MB as RGBA).
constexpr uint64_t kMaxPixels = uint64_t(4096) * 4096;
constexpr uint64_t kMaxFileBytes = uint64_t(256) << 20;

enum class PictureFormat { Bmp, Tga, Png };

const char* FormatName(PictureFormat format) {
    switch (format) {
    case PictureFormat::Bmp:
        return "BMP";
    case PictureFormat::Tga:
        return "TGA";
    case PictureFormat::Png:
        return "PNG";
    }
    return "?";
}

uint32_t ReadU32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint32_t ReadU32BigEndian(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 |
           uint32_t(b[at + 3]);
}
uint16_t ReadU16(std::span<const uint8_t> b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

bool SizeInRange(int64_t width, int64_t height) {
    return width > 0 && height > 0 && uint64_t(width) * uint64_t(height) <= kMaxPixels;
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
    if (!SizeInRange(width, height)) return "picture size out of range";
    if (bpp == 0 || bpp > 32) return "bad bit depth";
    if (compression == 0) {
        const uint64_t row = (uint64_t(width) * bpp + 31) / 32 * 4;
        if (pixelOffset > b.size() || row * uint64_t(height) > b.size() - pixelOffset)
            return "picture data cut short";
    }
    return {};
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool HasPngSignature(std::span<const uint8_t> b) {
    return b.size() >= 8 && std::memcmp(b.data(), kPngSignature, 8) == 0;
}

// A PNG starts with its IHDR chunk: width and height (big-endian) before anything is inflated.
std::string CheckPngHeader(std::span<const uint8_t> b) {
    if (b.size() < 33 || ReadU32BigEndian(b, 8) != 13 || std::memcmp(b.data() + 12, "IHDR", 4))
        return "PNG header cut short or without IHDR";
    const uint32_t width = ReadU32BigEndian(b, 16), height = ReadU32BigEndian(b, 20);
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || !SizeInRange(width, height))
        return "picture size out of range";
    return {};
}

// TGA has no signature: an 18-byte header whose fields a TGA writer can produce. Colour-mapped,
// true-colour and grey pictures, plain or run-length encoded.
bool LooksLikeTga(std::span<const uint8_t> b) {
    if (b.size() < 18) return false;
    const uint8_t colorMapType = b[1], imageType = b[2], bpp = b[16];
    const bool typeOk = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 ||
                        imageType == 10 || imageType == 11;
    const bool bppOk = bpp == 8 || bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32;
    return colorMapType <= 1 && typeOk && bppOk;
}

// Size, and pixel data that the file really holds: for run-length encoded pictures the packets
// are walked (the decoder would fill a picture cut short with whatever its buffer held).
std::string CheckTgaHeader(std::span<const uint8_t> b) {
    const uint64_t idLength = b[0];
    const uint64_t mapLength = b[1] ? ReadU16(b, 5) : 0;
    const uint64_t mapEntryBytes = (uint64_t(b[7]) + 7) / 8;
    const int64_t width = ReadU16(b, 12), height = ReadU16(b, 14);
    if (!SizeInRange(width, height)) return "picture size out of range";
    const uint64_t pixelBytes = (uint64_t(b[16]) + 7) / 8;
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    uint64_t at = 18 + idLength + mapLength * mapEntryBytes;
    if (b[2] < 9) {
        if (at + pixels * pixelBytes > b.size()) return "picture data cut short";
        return {};
    }
    for (uint64_t done = 0; done < pixels;) {
        if (at >= b.size()) return "picture data cut short";
        const uint8_t packet = b[at++];
        const uint64_t count = uint64_t(packet & 0x7F) + 1;
        at += (packet & 0x80) ? pixelBytes : count * pixelBytes;
        if (at > b.size()) return "picture data cut short";
        done += count;
    }
    return {};
}

std::shared_ptr<Texture> TextureFromSurface(SDL_Surface* loaded, PictureFormat format,
                                            std::string_view name, LoadStatus* status) {
    if (!loaded) {
        if (status)
            *status = {false, std::string(name) + ": not a readable " + FormatName(format) +
                                  " picture (" + SDL_GetError() + ")"};
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

// The picture extensions tried in turn, in this order.
constexpr std::string_view kPictureExtensions[3] = {".bmp", ".tga", ".png"};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string FindPicture(std::string_view name, const SearchPath* path) {
    const std::string file = path ? path->Resolve(name) : NormaliseSeparators(name);
    return !file.empty() && IsFile(file) ? file : std::string();
}

// A file in the folder of `file` whose name differs from its name only in case (pictures made
// where file names ignore case: "ts2.BMP" asked for as "TS2.bmp"), or "" when there is none.
std::string FindIgnoringCase(const std::string& file) {
    const std::filesystem::path wanted(file);
    const std::string name = wanted.filename().string();
    if (name.empty()) return {};
    const std::filesystem::path folder = wanted.has_parent_path() ? wanted.parent_path() : ".";
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (EqualsIgnoringCase(it->path().filename().string(), name) && it->is_regular_file(ec))
            return it->path().string();
    }
    return {};
}

} // namespace

std::vector<std::string> PictureAlternatives(std::string_view name) {
    std::vector<std::string> names;
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return names;
    const std::string_view ext = name.substr(dot);
    bool known = false;
    for (std::string_view candidate : kPictureExtensions)
        known = known || EqualsIgnoringCase(ext, candidate);
    if (!known) return names;
    bool upper = true;
    for (char c : ext.substr(1))
        upper = upper && std::isupper(static_cast<unsigned char>(c));
    for (std::string_view candidate : kPictureExtensions) {
        if (EqualsIgnoringCase(ext, candidate)) continue;
        std::string alternative(name.substr(0, dot));
        for (char c : candidate)
            alternative.push_back(upper ? char(std::toupper(static_cast<unsigned char>(c))) : c);
        names.push_back(std::move(alternative));
    }
    return names;
}

std::shared_ptr<Texture> LoadTexture(std::string_view name, const SearchPath* path,
                                     LoadStatus* status) {
    std::string file = FindPicture(name, path);
    std::vector<std::string> alternatives;
    if (file.empty()) {
        alternatives = PictureAlternatives(name);
        for (const std::string& alternative : alternatives) {
            file = FindPicture(alternative, path);
            if (!file.empty()) break;
        }
    }
    // Then the same names in any case, in the same order, for a name that is a plain path.
    if (file.empty() && !path) {
        file = FindIgnoringCase(NormaliseSeparators(name));
        for (size_t i = 0; file.empty() && i < alternatives.size(); ++i)
            file = FindIgnoringCase(NormaliseSeparators(alternatives[i]));
    }
    if (file.empty()) {
        if (status) {
            status->ok = false;
            status->error = NotFound(name, path);
            for (size_t i = 0; i < alternatives.size(); ++i)
                status->error += (i ? ", " : "; also tried ") + alternatives[i];
        }
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
    const auto fail = [&](const std::string& why) -> std::shared_ptr<Texture> {
        if (status) *status = {false, std::string(name) + ": " + why};
        return nullptr;
    };
    if (bytes.empty() || bytes.size() > kMaxFileBytes) return fail("empty picture");
    // The format is told by the content, whatever the name's extension says.
    PictureFormat format;
    std::string why;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        format = PictureFormat::Bmp;
        why = CheckBmpHeader(bytes);
    } else if (HasPngSignature(bytes)) {
        format = PictureFormat::Png;
        why = CheckPngHeader(bytes);
    } else if (LooksLikeTga(bytes)) {
        format = PictureFormat::Tga;
        why = CheckTgaHeader(bytes);
    } else {
        return fail("not a BMP, TGA or PNG picture");
    }
    if (!why.empty()) return fail(why);
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) return fail("cannot read picture");
    SDL_Surface* loaded = nullptr;
    switch (format) {
    case PictureFormat::Bmp:
        loaded = SDL_LoadBMP_RW(rw, 0);
        break;
    case PictureFormat::Tga:
        loaded = IMG_LoadTGA_RW(rw);
        break;
    case PictureFormat::Png:
        loaded = IMG_LoadPNG_RW(rw);
        break;
    }
    SDL_RWclose(rw);
    return TextureFromSurface(loaded, format, name, status);
}

} // namespace scene
