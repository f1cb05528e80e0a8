// packaging/icon.cpp — `tarnhold-icon <folder>`: writes the program's icon for the desktop's
// icon theme, drawn from one list of shapes: <folder>/hicolor/scalable/apps/tarnhold.svg and
// <folder>/hicolor/<N>x<N>/apps/tarnhold.png for every size of kSizes (RGBA, anti-aliased).
//
// The icon is a stone keep with three merlons and a door, under a gunsight ring, on a dark
// rounded square. Shapes are in a 256 x 256 design space, y down; later shapes cover earlier ones.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kDesignSize = 256.0;
constexpr std::array kSizes = {16, 24, 32, 48, 64, 128, 256};
constexpr int kSamplesPerAxis = 4; // 16 samples per pixel

struct Colour {
    uint8_t r, g, b;
};

enum class Kind {
    Rect,   // x0, y0, x1, y1, radius of the rounded corners (0: square)
    Circle, // cx, cy, radius
    Ring,   // cx, cy, radius of the ring's middle line, width
};

struct Shape {
    Kind kind;
    double a, b, c, d, e;
    Colour colour;
};

constexpr Colour kNight{0x1d, 0x27, 0x30};
constexpr Colour kStone{0xcf, 0xbd, 0x9e};
constexpr Colour kShadow{0x9c, 0x8b, 0x70};
constexpr Colour kSight{0xe4, 0x48, 0x2e};

// The icon, back to front.
const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes = {
        {Kind::Rect, 12, 12, 244, 244, 44, kNight},
        // The keep: body, right-hand shade, three merlons, a door with a round top.
        {Kind::Rect, 80, 98, 176, 214, 0, kStone},
        {Kind::Rect, 152, 98, 176, 214, 0, kShadow},
        {Kind::Rect, 80, 70, 102, 98, 0, kStone},
        {Kind::Rect, 117, 70, 139, 98, 0, kStone},
        {Kind::Rect, 154, 70, 176, 98, 0, kShadow},
        {Kind::Rect, 114, 168, 142, 214, 0, kNight},
        {Kind::Circle, 128, 168, 14, 0, 0, kNight},
        // The sight: ring, four ticks reaching past it, a dot in the middle.
        {Kind::Ring, 128, 132, 86, 12, 0, kSight},
        {Kind::Rect, 122, 28, 134, 66, 0, kSight},
        {Kind::Rect, 122, 198, 134, 236, 0, kSight},
        {Kind::Rect, 24, 126, 62, 138, 0, kSight},
        {Kind::Rect, 194, 126, 232, 138, 0, kSight},
        {Kind::Circle, 128, 132, 7, 0, 0, kSight},
    };
    return shapes;
}

// Whether design-space point (x, y) lies inside `s`.
bool Inside(const Shape& s, double x, double y) {
    switch (s.kind) {
    case Kind::Rect: {
        if (x < s.a || x > s.c || y < s.b || y > s.d) return false;
        const double r = s.e;
        const double cx = std::clamp(x, s.a + r, s.c - r);
        const double cy = std::clamp(y, s.b + r, s.d - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
    case Kind::Circle:
        return std::hypot(x - s.a, y - s.b) <= s.c;
    case Kind::Ring:
        return std::fabs(std::hypot(x - s.a, y - s.b) - s.c) <= s.d / 2;
    }
    return false;
}

// The icon at `size` x `size` pixels, RGBA rows top to bottom, straight (not premultiplied)
// alpha: each pixel averages its samples, each sample the colour of the topmost shape there.
std::vector<uint8_t> Rasterise(int size) {
    std::vector<uint8_t> rgba(size_t(size) * size * 4);
    const double scale = kDesignSize / size;
    constexpr int samples = kSamplesPerAxis * kSamplesPerAxis;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            int covered = 0, r = 0, g = 0, b = 0;
            for (int sy = 0; sy < kSamplesPerAxis; ++sy) {
                for (int sx = 0; sx < kSamplesPerAxis; ++sx) {
                    const double x = (px + (sx + 0.5) / kSamplesPerAxis) * scale;
                    const double y = (py + (sy + 0.5) / kSamplesPerAxis) * scale;
                    const Shape* top = nullptr;
                    for (const Shape& s : Shapes())
                        if (Inside(s, x, y)) top = &s;
                    if (top == nullptr) continue;
                    ++covered, r += top->colour.r, g += top->colour.g, b += top->colour.b;
                }
            }
            uint8_t* out = &rgba[(size_t(py) * size + px) * 4];
            if (covered > 0) {
                out[0] = uint8_t((r + covered / 2) / covered);
                out[1] = uint8_t((g + covered / 2) / covered);
                out[2] = uint8_t((b + covered / 2) / covered);
            }
            out[3] = uint8_t((covered * 255 + samples / 2) / samples);
        }
    }
    return rgba;
}

void PutBigEndian(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((v >> shift) & 0xff);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBigEndian(out, uint32_t(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    PutBigEndian(
        out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
}

// A PNG file (8-bit RGBA, no interlace, filter 0 on every row). Empty when compression fails.
std::string EncodePng(int size, const std::vector<uint8_t>& rgba) {
    std::string raw;
    for (int y = 0; y < size; ++y) {
        raw += '\0';
        raw.append(reinterpret_cast<const char*>(&rgba[size_t(y) * size * 4]), size_t(size) * 4);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::string header;
    PutBigEndian(header, uint32_t(size));
    PutBigEndian(header, uint32_t(size));
    header += std::string("\x08\x06\x00\x00\x00", 5); // depth 8, RGBA, deflate, filter, no lace
    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", "");
    return png;
}

std::string Hex(Colour c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The same shapes as an SVG document.
std::string EncodeSvg() {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                      "viewBox=\"0 0 256 256\">\n";
    for (const Shape& s : Shapes()) {
        switch (s.kind) {
        case Kind::Rect:
            svg += "  <rect x=\"" + Number(s.a) + "\" y=\"" + Number(s.b) + "\" width=\"" +
                   Number(s.c - s.a) + "\" height=\"" + Number(s.d - s.b) + "\"";
            if (s.e > 0) svg += " rx=\"" + Number(s.e) + "\"";
            svg += " fill=\"" + Hex(s.colour) + "\"/>\n";
            break;
        case Kind::Circle:
            svg += "  <circle cx=\"" + Number(s.a) + "\" cy=\"" + Number(s.b) + "\" r=\"" +
                   Number(s.c) + "\" fill=\"" + Hex(s.colour) + "\"/>\n";
            break;
        case Kind::Ring:
            svg += "  <circle cx=\"" + Number(s.a) + "\" cy=\"" + Number(s.b) + "\" r=\"" +
                   Number(s.c) + "\" fill=\"none\" stroke=\"" + Hex(s.colour) +
                   "\" stroke-width=\"" + Number(s.d) + "\"/>\n";
            break;
        }
    }
    svg += "</svg>\n";
    return svg;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) std::fprintf(stderr, "tarnhold-icon: cannot write %s\n", path.c_str());
    return bool(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnhold-icon <folder>\n");
        return 2;
    }
    const std::filesystem::path theme = std::filesystem::path(argv[1]) / "hicolor";
    if (!WriteFile(theme / "scalable" / "apps" / "tarnhold.svg", EncodeSvg())) return 1;
    for (const int size : kSizes) {
        const std::string png = EncodePng(size, Rasterise(size));
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        if (png.empty() || !WriteFile(theme / folder / "apps" / "tarnhold.png", png)) return 1;
    }
    return 0;
}
