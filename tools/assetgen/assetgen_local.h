// tools/assetgen/assetgen_local.h — shared machinery of the content generator.
//
// Index
//   Output        collects files under the installation root, records what was written
//   Rng, noise    deterministic pseudo-random numbers and value noise (no global state)
//   Image         RGB picture with painting helpers, 24-bit BMP encoding, 5x7 bitmap font
//   Wave          mono PCM synthesis buffer, 16-bit WAV encoding
//   Poly, XFile   polygon meshes and the DirectX .x text writer
//   Generators    one entry per content family (characters, weapons, sounds, pictures, maps)
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <glm/glm.hpp>

namespace assetgen {

// ---------------------------------------------------------------------------------------------
// Output

// Writes files below one root directory. Every path is relative, with '/' separators.
// After a failed write `ok` is false and `error` names the file; later writes are skipped.
class Output {
public:
    explicit Output(std::filesystem::path root) : root_(std::move(root)) {}
    void WriteBytes(std::string_view relPath, std::string_view bytes);
    // Text with every '\n' written as CR LF.
    void WriteText(std::string_view relPath, std::string_view text);
    bool ok = true;
    std::string error;
    std::vector<std::string> written;

private:
    std::filesystem::path root_;
};

// Formats a float for the model and map text files: fixed, `decimals` places, '.' separator,
// never "-0.000000".
std::string Num(double v, int decimals = 6);

// ---------------------------------------------------------------------------------------------
// Rng, noise

// xorshift64* generator; the same seed gives the same sequence on every platform.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t Next();
    double Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); } // [0,1)
    double Range(double a, double b) { return a + (b - a) * Uniform(); }

private:
    uint64_t s_;
};

// Lattice value noise in [0,1], smooth, periodic with period `period` lattice cells when
// period > 0 (so tiles repeat seamlessly). `seed` selects an independent field.
double ValueNoise(double x, double y, uint32_t seed, int period = 0);
// Sum of `octaves` noise layers, each twice the frequency and half the amplitude; in [0,1].
double Fbm(double x, double y, uint32_t seed, int octaves, int period = 0);
// Integer hash to [0,1).
double Hash01(int x, int y, uint32_t seed);

// ---------------------------------------------------------------------------------------------
// Image

// RGB picture, colour channels 0..1, row 0 at the top.
class Image {
public:
    Image(int w, int h, glm::vec3 fill = glm::vec3(0));
    int width() const { return w_; }
    int height() const { return h_; }
    glm::vec3& At(int x, int y) { return px_[size_t(y) * size_t(w_) + size_t(x)]; }
    const glm::vec3& At(int x, int y) const { return px_[size_t(y) * size_t(w_) + size_t(x)]; }
    // Writes when inside the picture; ignores other coordinates.
    void Set(int x, int y, glm::vec3 c);
    void Blend(int x, int y, glm::vec3 c, float alpha);
    void FillRect(int x0, int y0, int x1, int y1, glm::vec3 c); // x1, y1 exclusive
    void FrameRect(int x0, int y0, int x1, int y1, glm::vec3 c);
    void FillCircle(float cx, float cy, float r, glm::vec3 c, float alpha = 1.f);
    void Line(float x0, float y0, float x1, float y1, glm::vec3 c, float width = 1.f);
    // Solid triangle in pixel coordinates (either winding).
    void FillTriangle(glm::vec2 a, glm::vec2 b, glm::vec2 c, glm::vec3 colour);
    // 5x7 font, each font pixel drawn as a scale x scale block; upper-case letters, digits and
    // " .,:;!?'-+/()&=<>_%#" are drawn, other characters leave a blank cell.
    void Text(int x, int y, std::string_view text, int scale, glm::vec3 c);
    static int TextWidth(std::string_view text, int scale);
    // 24-bit uncompressed Windows bitmap, bottom-up rows padded to four bytes.
    std::string EncodeBmp24() const;

private:
    int w_, h_;
    std::vector<glm::vec3> px_;
};

// ---------------------------------------------------------------------------------------------
// Wave

// Mono sound being synthesised; samples in -1..1.
struct Wave {
    int rate = 22050;
    std::vector<float> s;
    // Scales the peak to `peak` (no-op for silence), then encodes 16-bit PCM mono WAV.
    std::string EncodeWav(float peak = 0.9f) const;
};

// ---------------------------------------------------------------------------------------------
// Poly, XFile

// One face of a .x mesh: a polygon (three or more corners) with per-corner normal and texture
// coordinates and a material index into the file's material list.
struct Poly {
    std::vector<glm::vec3> p;
    std::vector<glm::vec3> n;
    std::vector<glm::vec2> uv;
    int material = 0;
};

struct XMaterial {
    std::string name;
    glm::vec3 diffuse{1.f};
    float power = 10.f;
    std::string texture; // empty: no TextureFilename
};

struct XMesh {
    std::string frameName;
    std::vector<Poly> polys;
};

// Builds a quad facing `normal`: the corners are given around the face; the caller orders them
// clockwise seen from the side the normal points to (the scene is left-handed).
Poly Quad(glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d, glm::vec2 uvScale, int material);

// Serialises frames with one mesh each (identity transforms) into DirectX .x text format.
std::string EncodeXFile(const std::vector<XMaterial>& materials, const std::vector<XMesh>& meshes);

// ---------------------------------------------------------------------------------------------
// Generators (one .cpp each)

void GenerateCharacter(Output& out); // models/terror.qc, SMDs, skins, previews
void GenerateWeapons(Output& out);   // weapons/*.QC, SMDs, textures, inventory pictures
void GenerateSounds(Output& out);    // models/*.wav, weapons/<name>-1.wav
void GeneratePictures(Output& out);  // decals, HUD, splash, menu, logos, readme.txt
void GenerateMaps(Output& out);      // media/ built-in maps and the textures they share
void GenerateFileMaps(Output& out);  // map/ file maps, their textures, sky box and skies

} // namespace assetgen
