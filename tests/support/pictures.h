// tests/support/pictures.h — pictures written by tests in the formats content makers use: BMP
// and PNG through SDL and SDL_image, TGA by hand (plain or run-length encoded, either origin).
#pragma once

#include "platform/scene/scene.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace testpictures {

// An RGBA surface holding `image` (alpha as given); freed by the caller.
inline SDL_Surface* SurfaceOf(const scene::Image& image) {
    SDL_Surface* s =
        SDL_CreateRGBSurfaceWithFormat(0, image.width, image.height, 32, SDL_PIXELFORMAT_RGBA32);
    if (!s) return nullptr;
    SDL_LockSurface(s);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(image.rgba.data() + size_t(y) * image.width * 4, size_t(image.width) * 4,
                    static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch);
    SDL_UnlockSurface(s);
    return s;
}

inline bool WritePng(const std::string& path, const scene::Image& image) {
    SDL_Surface* s = SurfaceOf(image);
    const bool ok = s && IMG_SavePNG(s, path.c_str()) == 0;
    SDL_FreeSurface(s);
    return ok;
}

// A 24-bit BMP (alpha dropped), as the game's own content is written.
inline bool WriteBmp(const std::string& path, const scene::Image& image) {
    SDL_Surface* s = SurfaceOf(image);
    SDL_Surface* bgr = s ? SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_BGR24, 0) : nullptr;
    const bool ok = bgr && SDL_SaveBMP(bgr, path.c_str()) == 0;
    SDL_FreeSurface(bgr);
    SDL_FreeSurface(s);
    return ok;
}

struct TgaOptions {
    bool rle = false;     // image type 10 (run-length encoded) instead of 2
    bool topLeft = false; // rows stored top first (descriptor bit 5) instead of bottom first
    bool alpha = false;   // 32 bits per pixel with 8 alpha bits instead of 24
};

// The bytes of a true-colour TGA of `image`.
inline std::vector<uint8_t> TgaBytes(const scene::Image& image, const TgaOptions& o) {
    const int bytesPerPixel = o.alpha ? 4 : 3;
    std::vector<uint8_t> out(18, 0);
    out[2] = o.rle ? 10 : 2;
    out[12] = uint8_t(image.width & 0xFF);
    out[13] = uint8_t(image.width >> 8);
    out[14] = uint8_t(image.height & 0xFF);
    out[15] = uint8_t(image.height >> 8);
    out[16] = uint8_t(bytesPerPixel * 8);
    out[17] = uint8_t((o.topLeft ? 0x20 : 0) | (o.alpha ? 8 : 0));
    // Pixels in file order, BGR(A).
    std::vector<std::vector<uint8_t>> pixels;
    for (int row = 0; row < image.height; ++row) {
        const int y = o.topLeft ? row : image.height - 1 - row;
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.rgba[(size_t(y) * image.width + x) * 4];
            std::vector<uint8_t> px{p[2], p[1], p[0]};
            if (o.alpha) px.push_back(p[3]);
            pixels.push_back(std::move(px));
        }
    }
    if (!o.rle) {
        for (const auto& px : pixels)
            out.insert(out.end(), px.begin(), px.end());
        return out;
    }
    // Packets never cross a row: runs of equal pixels, raw packets for the rest.
    for (size_t rowStart = 0; rowStart < pixels.size(); rowStart += size_t(image.width)) {
        const size_t rowEnd = rowStart + size_t(image.width);
        size_t i = rowStart;
        while (i < rowEnd) {
            size_t run = 1;
            while (i + run < rowEnd && run < 128 && pixels[i + run] == pixels[i])
                ++run;
            if (run >= 2) {
                out.push_back(uint8_t(0x80 | (run - 1)));
                out.insert(out.end(), pixels[i].begin(), pixels[i].end());
                i += run;
                continue;
            }
            size_t raw = 1;
            while (i + raw < rowEnd && raw < 128 &&
                   !(i + raw + 1 < rowEnd && pixels[i + raw] == pixels[i + raw + 1]))
                ++raw;
            out.push_back(uint8_t(raw - 1));
            for (size_t k = 0; k < raw; ++k)
                out.insert(out.end(), pixels[i + k].begin(), pixels[i + k].end());
            i += raw;
        }
    }
    return out;
}

inline bool WriteTga(const std::string& path, const scene::Image& image, const TgaOptions& o) {
    const std::vector<uint8_t> bytes = TgaBytes(image, o);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// A size x size picture of `cells` x `cells` squares, alternately a and b (a at top left).
inline scene::Image Checker(int size, int cells, const uint8_t a[3], const uint8_t b[3]) {
    scene::Image img;
    img.width = img.height = size;
    img.rgba.resize(size_t(size) * size * 4);
    const int cell = size / cells;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const uint8_t* c = ((x / cell + y / cell) % 2) ? b : a;
            uint8_t* p = &img.rgba[(size_t(y) * size + x) * 4];
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
            p[3] = 255;
        }
    return img;
}

} // namespace testpictures
