// tools/assetgen/image.cpp — RGB pictures: painting helpers, the built-in 5x7 font and 24-bit
// BMP encoding (readable by SDL_LoadBMP and every Windows picture reader).
#include "tools/assetgen/assetgen_local.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace assetgen {

namespace {

// One glyph: seven rows of five columns, '#' = ink.
struct Glyph {
    char c;
    const char* rows[7];
};

// clang-format off
constexpr Glyph kFont[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {',', {"     ", "     ", "     ", "     ", " ##  ", "  #  ", " #   "}},
    {':', {"     ", " ##  ", " ##  ", "     ", " ##  ", " ##  ", "     "}},
    {';', {"     ", " ##  ", " ##  ", "     ", " ##  ", "  #  ", " #   "}},
    {'!', {"  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "     ", "  #  "}},
    {'?', {" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "}},
    {'\'', {"  #  ", "  #  ", " #   ", "     ", "     ", "     ", "     "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {'+', {"     ", "  #  ", "  #  ", "#####", "  #  ", "  #  ", "     "}},
    {'/', {"    #", "    #", "   # ", "  #  ", " #   ", "#    ", "#    "}},
    {'(', {"   # ", "  #  ", " #   ", " #   ", " #   ", "  #  ", "   # "}},
    {')', {" #   ", "  #  ", "   # ", "   # ", "   # ", "  #  ", " #   "}},
    {'&', {" ##  ", "#  # ", "# #  ", " #   ", "# # #", "#  # ", " ## #"}},
    {'=', {"     ", "     ", "#####", "     ", "#####", "     ", "     "}},
    {'<', {"   # ", "  #  ", " #   ", "#    ", " #   ", "  #  ", "   # "}},
    {'>', {" #   ", "  #  ", "   # ", "    #", "   # ", "  #  ", " #   "}},
    {'_', {"     ", "     ", "     ", "     ", "     ", "     ", "#####"}},
    {'%', {"##   ", "##  #", "   # ", "  #  ", " #   ", "#  ##", "   ##"}},
    {'#', {" # # ", " # # ", "#####", " # # ", "#####", " # # ", " # # "}},
};
// clang-format on

const Glyph* FindGlyph(char c) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;
}

} // namespace

Image::Image(int w, int h, glm::vec3 fill) : w_(w), h_(h), px_(size_t(w) * size_t(h), fill) {}

void Image::Set(int x, int y, glm::vec3 c) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) At(x, y) = c;
}

void Image::Blend(int x, int y, glm::vec3 c, float alpha) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) At(x, y) = glm::mix(At(x, y), c, alpha);
}

void Image::FillRect(int x0, int y0, int x1, int y1, glm::vec3 c) {
    for (int y = std::max(0, y0); y < std::min(h_, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(w_, x1); ++x)
            At(x, y) = c;
}

void Image::FrameRect(int x0, int y0, int x1, int y1, glm::vec3 c) {
    for (int x = x0; x < x1; ++x)
        Set(x, y0, c), Set(x, y1 - 1, c);
    for (int y = y0; y < y1; ++y)
        Set(x0, y, c), Set(x1 - 1, y, c);
}

void Image::FillCircle(float cx, float cy, float r, glm::vec3 c, float alpha) {
    for (int y = int(std::floor(cy - r - 1)); y <= int(std::ceil(cy + r + 1)); ++y)
        for (int x = int(std::floor(cx - r - 1)); x <= int(std::ceil(cx + r + 1)); ++x) {
            const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
            const float cover = std::clamp(r - d + 0.5f, 0.f, 1.f);
            if (cover > 0) Blend(x, y, c, cover * alpha);
        }
}

void Image::Line(float x0, float y0, float x1, float y1, glm::vec3 c, float width) {
    const float len = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, int(len * 2));
    for (int i = 0; i <= steps; ++i) {
        const float t = float(i) / float(steps);
        FillCircle(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width * 0.5f, c);
    }
}

void Image::Text(int x, int y, std::string_view text, int scale, glm::vec3 c) {
    for (char ch : text) {
        if (const Glyph* g = FindGlyph(ch))
            for (int r = 0; r < 7; ++r)
                for (int k = 0; k < 5; ++k)
                    if (g->rows[r][k] == '#')
                        FillRect(x + k * scale, y + r * scale, x + (k + 1) * scale,
                                 y + (r + 1) * scale, c);
        x += 6 * scale;
    }
}

int Image::TextWidth(std::string_view text, int scale) {
    return text.empty() ? 0 : int(text.size()) * 6 * scale - scale;
}

std::string Image::EncodeBmp24() const {
    const uint32_t rowBytes = (uint32_t(w_) * 3 + 3) & ~3u;
    const uint32_t dataBytes = rowBytes * uint32_t(h_);
    std::string b(54 + dataBytes, '\0');
    auto put32 = [&b](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    auto put16 = [&b](size_t at, uint32_t v) {
        b[at] = char(v & 0xFF);
        b[at + 1] = char((v >> 8) & 0xFF);
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, 54 + dataBytes);
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w_));
    put32(22, uint32_t(h_));
    put16(26, 1);
    put16(28, 24);
    put32(34, dataBytes);
    put32(38, 2835); // 72 dpi
    put32(42, 2835);
    for (int y = 0; y < h_; ++y) {
        size_t at = 54 + size_t(h_ - 1 - y) * rowBytes;
        for (int x = 0; x < w_; ++x) {
            const glm::vec3 c = glm::clamp(At(x, y), glm::vec3(0), glm::vec3(1));
            b[at++] = char(uint8_t(std::lround(c.b * 255)));
            b[at++] = char(uint8_t(std::lround(c.g * 255)));
            b[at++] = char(uint8_t(std::lround(c.r * 255)));
        }
    }
    return b;
}

} // namespace assetgen

namespace assetgen {

void Image::FillTriangle(glm::vec2 a, glm::vec2 b, glm::vec2 c, glm::vec3 colour) {
    const float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (std::fabs(area) < 1e-6f) return;
    const int x0 = std::max(0, int(std::floor(std::min({a.x, b.x, c.x}))));
    const int x1 = std::min(w_ - 1, int(std::ceil(std::max({a.x, b.x, c.x}))));
    const int y0 = std::max(0, int(std::floor(std::min({a.y, b.y, c.y}))));
    const int y1 = std::min(h_ - 1, int(std::ceil(std::max({a.y, b.y, c.y}))));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const glm::vec2 q(x + 0.5f, y + 0.5f);
            const float u = ((b.x - q.x) * (c.y - q.y) - (c.x - q.x) * (b.y - q.y)) / area;
            const float v = ((c.x - q.x) * (a.y - q.y) - (a.x - q.x) * (c.y - q.y)) / area;
            if (u >= 0 && v >= 0 && u + v <= 1) At(x, y) = colour;
        }
}

} // namespace assetgen
