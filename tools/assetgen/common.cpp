// tools/assetgen/common.cpp — Output, number formatting, random numbers, noise, WAV and .x
// encoding.
#include "tools/assetgen/assetgen_local.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace assetgen {

// ---------------------------------------------------------------------------------------------
// Output

void Output::WriteBytes(std::string_view relPath, std::string_view bytes) {
    if (!ok) return;
    const std::filesystem::path path = root_ / std::filesystem::path(relPath);
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (f) f.write(bytes.data(), std::streamsize(bytes.size()));
    if (!f) {
        ok = false;
        error = "cannot write " + path.string();
        return;
    }
    written.emplace_back(relPath);
}

void Output::WriteText(std::string_view relPath, std::string_view text) {
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    WriteBytes(relPath, crlf);
}

std::string Num(double v, int decimals) {
    const double unit = std::pow(10.0, -decimals);
    if (std::fabs(v) < unit * 0.5) v = 0.0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// ---------------------------------------------------------------------------------------------
// Rng, noise

uint64_t Rng::Next() {
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return s_ * 0x2545F4914F6CDD1Dull;
}

double Hash01(int x, int y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return double(h) / 4294967296.0;
}

double ValueNoise(double x, double y, uint32_t seed, int period) {
    const double fx = std::floor(x), fy = std::floor(y);
    int x0 = int(fx), y0 = int(fy);
    int x1 = x0 + 1, y1 = y0 + 1;
    if (period > 0) {
        auto wrap = [period](int v) { return ((v % period) + period) % period; };
        x0 = wrap(x0), x1 = wrap(x1), y0 = wrap(y0), y1 = wrap(y1);
    }
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double a = Hash01(x0, y0, seed), b = Hash01(x1, y0, seed);
    const double c = Hash01(x0, y1, seed), d = Hash01(x1, y1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

double Fbm(double x, double y, uint32_t seed, int octaves, int period) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * ValueNoise(x, y, seed + uint32_t(i) * 101u, period);
        norm += amp;
        x *= 2, y *= 2, amp *= 0.5;
        if (period > 0) period *= 2;
    }
    return sum / norm;
}

// ---------------------------------------------------------------------------------------------
// Wave

namespace {
void PutU16(std::string& s, uint32_t v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void PutU32(std::string& s, uint32_t v) {
    PutU16(s, v & 0xFFFF);
    PutU16(s, v >> 16);
}
} // namespace

std::string Wave::EncodeWav(float peak) const {
    float maxAbs = 0;
    for (float v : s)
        maxAbs = std::max(maxAbs, std::fabs(v));
    const float gain = maxAbs > 0 ? peak / maxAbs : 0.f;
    const uint32_t dataBytes = uint32_t(s.size() * 2);
    std::string w;
    w.reserve(44 + dataBytes);
    w += "RIFF";
    PutU32(w, 36 + dataBytes);
    w += "WAVEfmt ";
    PutU32(w, 16);
    PutU16(w, 1); // PCM
    PutU16(w, 1); // mono
    PutU32(w, uint32_t(rate));
    PutU32(w, uint32_t(rate) * 2);
    PutU16(w, 2);
    PutU16(w, 16);
    w += "data";
    PutU32(w, dataBytes);
    for (float v : s) {
        const long q = std::lround(std::clamp(v * gain, -1.f, 1.f) * 32767.f);
        PutU16(w, uint32_t(int16_t(q)) & 0xFFFF);
    }
    return w;
}

// ---------------------------------------------------------------------------------------------
// Poly, XFile

Poly Quad(glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d, glm::vec2 uvScale, int material) {
    Poly q;
    q.p = {a, b, c, d};
    const glm::vec3 n = glm::normalize(glm::cross(b - a, c - a));
    q.n = {n, n, n, n};
    // Texture axes along the quad's edges, in world units times uvScale, so textures keep
    // their size on walls of any length.
    const glm::vec3 ex = d - a, ey = b - a;
    const float lx = glm::length(ex), ly = glm::length(ey);
    q.uv = {glm::vec2(0, ly * uvScale.y), glm::vec2(0, 0), glm::vec2(lx * uvScale.x, 0),
            glm::vec2(lx * uvScale.x, ly * uvScale.y)};
    q.material = material;
    return q;
}

std::string EncodeXFile(const std::vector<XMaterial>& materials, const std::vector<XMesh>& meshes) {
    std::string x = "xof 0303txt 0032\r\n\r\n";
    auto f = [](float v) { return Num(v, 6); };
    for (const XMaterial& m : materials) {
        x += "Material " + m.name + " {\r\n";
        x += " " + f(m.diffuse.r) + ";" + f(m.diffuse.g) + ";" + f(m.diffuse.b) + ";1.000000;;\r\n";
        x += " " + f(m.power) + ";\r\n";
        x += " 0.200000;0.200000;0.200000;;\r\n";
        x += " 0.000000;0.000000;0.000000;;\r\n";
        if (!m.texture.empty()) x += " TextureFilename {\r\n  \"" + m.texture + "\";\r\n }\r\n";
        x += "}\r\n\r\n";
    }
    for (const XMesh& mesh : meshes) {
        x += "Frame " + mesh.frameName + " {\r\n";
        x += " FrameTransformMatrix {\r\n  1.000000,0.000000,0.000000,0.000000,"
             "0.000000,1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,"
             "0.000000,0.000000,0.000000,1.000000;;\r\n }\r\n";
        size_t nv = 0;
        for (const Poly& p : mesh.polys)
            nv += p.p.size();
        std::string verts, norms, uvs, faces, nfaces;
        size_t base = 0;
        for (size_t i = 0; i < mesh.polys.size(); ++i) {
            const Poly& p = mesh.polys[i];
            std::string idx = std::to_string(p.p.size()) + ";";
            for (size_t k = 0; k < p.p.size(); ++k) {
                const bool lastV = base + k + 1 == nv;
                const char* sep = lastV ? ";;\r\n" : ";,\r\n";
                verts += "  " + f(p.p[k].x) + ";" + f(p.p[k].y) + ";" + f(p.p[k].z) + sep;
                norms += "  " + f(p.n[k].x) + ";" + f(p.n[k].y) + ";" + f(p.n[k].z) + sep;
                uvs += "  " + f(p.uv[k].x) + ";" + f(p.uv[k].y) + sep;
                idx += std::to_string(base + k) + (k + 1 < p.p.size() ? "," : "");
            }
            const char* fsep = i + 1 == mesh.polys.size() ? ";;\r\n" : ";,\r\n";
            faces += "  " + idx + fsep;
            nfaces += "  " + idx + fsep;
            base += p.p.size();
        }
        const std::string nf = std::to_string(mesh.polys.size());
        x += " Mesh " + mesh.frameName + "_mesh {\r\n  " + std::to_string(nv) + ";\r\n" + verts;
        x += "  " + nf + ";\r\n" + faces;
        x += "  MeshNormals {\r\n  " + std::to_string(nv) + ";\r\n" + norms + "  " + nf + ";\r\n" +
             nfaces + "  }\r\n";
        x += "  MeshTextureCoords {\r\n  " + std::to_string(nv) + ";\r\n" + uvs + "  }\r\n";
        x += "  MeshMaterialList {\r\n  " + std::to_string(materials.size()) + ";\r\n  " + nf +
             ";\r\n";
        for (size_t i = 0; i < mesh.polys.size(); ++i)
            x += "  " + std::to_string(mesh.polys[i].material) +
                 (i + 1 == mesh.polys.size() ? ";;\r\n" : ",\r\n");
        for (const XMaterial& m : materials)
            x += "  {" + m.name + "}\r\n";
        x += "  }\r\n }\r\n}\r\n\r\n";
    }
    return x;
}

} // namespace assetgen
