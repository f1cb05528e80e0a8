// platform/render/screenshot.cpp — reading the back buffer and writing pictures as PNG
// (uncompressed deflate, no library needed) or 24-bit BMP (through SDL).
#include "platform/render/render_local.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace render {

scene::Image CaptureBackBuffer(int surfaceHeight, int x, int y, int width, int height) {
    scene::Image image;
    if (width <= 0 || height <= 0) return image;
    image.width = width;
    image.height = height;
    image.rgba.resize(static_cast<size_t>(width) * height * 4);
    std::vector<uint8_t> rows(image.rgba.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, surfaceHeight - y - height, width, height, GL_RGBA, GL_UNSIGNED_BYTE,
                 rows.data());
    // GL rows run bottom to top; pictures top to bottom. The picture is opaque.
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row)
        std::memcpy(image.rgba.data() + static_cast<size_t>(row) * stride,
                    rows.data() + static_cast<size_t>(height - 1 - row) * stride, stride);
    for (size_t i = 3; i < image.rgba.size(); i += 4)
        image.rgba[i] = 255;
    return image;
}

namespace {

bool ImageValid(const scene::Image& image, std::string* error) {
    if (image.width > 0 && image.height > 0 && image.width <= 65535 && image.height <= 65535 &&
        image.rgba.size() == static_cast<size_t>(image.width) * image.height * 4)
        return true;
    if (error) *error = "empty or malformed picture";
    return false;
}

// ------------------------------------------------------------------ PNG

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

// zlib stream of stored (uncompressed) deflate blocks.
std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z;
    z.reserve(raw.size() + raw.size() / 65535 * 5 + 16);
    z.push_back(0x78);
    z.push_back(0x01);
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(pos),
                 raw.begin() + static_cast<ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(z, (b << 16) | a);
    return z;
}

bool WriteFile(const std::string& path, const void* data, size_t size, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = path + ": cannot be created";
        return false;
    }
    const bool ok = std::fwrite(data, 1, size, f) == size;
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        if (error) *error = path + ": cannot be written";
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool EndsWithPng(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& ch : ext)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == ".png";
}

} // namespace

bool WritePng(const scene::Image& image, const std::string& path, std::string* error) {
    if (!ImageValid(image, error)) return false;
    const size_t stride = static_cast<size_t>(image.width) * 4;
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * image.height);
    for (int row = 0; row < image.height; ++row) {
        raw.push_back(0); // filter: none
        const auto begin = image.rgba.begin() + static_cast<ptrdiff_t>(row * stride);
        raw.insert(raw.end(), begin, begin + static_cast<ptrdiff_t>(stride));
    }
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(header, static_cast<uint32_t>(image.width));
    PutBe32(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, deflate, no filter, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", ZlibStored(raw));
    PutChunk(png, "IEND", {});
    return WriteFile(path, png.data(), png.size(), error);
}

// ------------------------------------------------------------------ BMP

bool WriteBmp(const scene::Image& image, const std::string& path, std::string* error) {
    if (!ImageValid(image, error)) return false;
    SDL_Surface* rgba = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(image.rgba.data()),
                                                           image.width, image.height, 32,
                                                           image.width * 4, SDL_PIXELFORMAT_RGBA32);
    SDL_Surface* bgr = rgba ? SDL_ConvertSurfaceFormat(rgba, SDL_PIXELFORMAT_BGR24, 0) : nullptr;
    const bool ok = bgr && SDL_SaveBMP(bgr, path.c_str()) == 0;
    if (!ok && error) *error = path + ": cannot be written (" + SDL_GetError() + ")";
    if (bgr) SDL_FreeSurface(bgr);
    if (rgba) SDL_FreeSurface(rgba);
    return ok;
}

bool WriteImage(const scene::Image& image, const std::string& path, std::string* error) {
    return EndsWithPng(path) ? WritePng(image, path, error) : WriteBmp(image, path, error);
}

} // namespace render
