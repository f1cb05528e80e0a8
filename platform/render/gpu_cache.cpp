// platform/render/gpu_cache.cpp — GPU copies of textures, mesh builders and meshes, keyed by
// the scene object and refreshed when its version (or, for textures, its colour key) changes.
#include "platform/render/render_local.h"

#include <cstddef>
#include <cstring>
#include <unordered_map>

namespace render {

// ------------------------------------------------------------------ textures

namespace {

// RGBA with alpha 255, or 0 for pixels of the key colour. A keyed pixel takes the average
// colour of its unkeyed neighbours so that filtering does not bleed the key colour into edges.
void PrepareTexturePixels(const scene::Image& image, bool keyed, uint32_t keyRgb,
                          std::vector<uint8_t>& out) {
    const size_t count = static_cast<size_t>(image.width) * image.height;
    out.assign(image.rgba.begin(), image.rgba.begin() + static_cast<ptrdiff_t>(count * 4));
    const uint8_t kr = (keyRgb >> 16) & 0xFF, kg = (keyRgb >> 8) & 0xFF, kb = keyRgb & 0xFF;
    auto isKey = [&](size_t i) {
        const uint8_t* p = image.rgba.data() + i * 4;
        return keyed && p[0] == kr && p[1] == kg && p[2] == kb;
    };
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = out.data() + i * 4;
        if (!isKey(i)) {
            p[3] = 255;
            continue;
        }
        p[3] = 0;
        const int x = static_cast<int>(i % image.width), y = static_cast<int>(i / image.width);
        int sum[3] = {0, 0, 0}, n = 0;
        const int dx[4] = {-1, 1, 0, 0}, dy[4] = {0, 0, -1, 1};
        for (int k = 0; k < 4; ++k) {
            const int nx = x + dx[k], ny = y + dy[k];
            if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
            const size_t j = static_cast<size_t>(ny) * image.width + nx;
            if (isKey(j)) continue;
            for (int c = 0; c < 3; ++c)
                sum[c] += image.rgba[j * 4 + c];
            ++n;
        }
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<uint8_t>(n ? sum[c] / n : 0);
    }
}

bool ImageIsUsable(const scene::Image& image) {
    return image.width > 0 && image.height > 0 && image.width <= 16384 && image.height <= 16384 &&
           image.rgba.size() >= static_cast<size_t>(image.width) * image.height * 4;
}

} // namespace

GpuTexture& UpdateTexture(Renderer::State& s, const scene::Texture& texture, FrameStats& stats) {
    GpuTexture& t = s.textures[&texture];
    const bool keyed = texture.GetDecalTransparency();
    const uint32_t key = texture.GetDecalTransparentColor();
    const bool fresh = t.owner.expired();
    if (!fresh && t.version == texture.Version() && t.keyed == keyed && t.keyRgb == key) return t;
    if (fresh) t.owner = texture.weak_from_this();
    t.version = texture.Version();
    t.keyed = keyed;
    t.keyRgb = key;
    const scene::Image& image = texture.GetImage();
    if (!ImageIsUsable(image)) {
        // Nothing to show: the face is drawn as if untextured.
        if (t.id) glDeleteTextures(1, &t.id);
        t.id = 0;
        return t;
    }
    PrepareTexturePixels(image, keyed, key, s.pixels);
    if (!t.id) glGenTextures(1, &t.id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, t.id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, s.pixels.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    ++stats.textureUploads;
    return t;
}

// ------------------------------------------------------------------ vertex arrays

GLuint MakeVertexArray(GLuint vbo, GLuint ibo) {
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    if (ibo) glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
    const GLsizei stride = sizeof(scene::VertexRecord);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(scene::VertexRecord, position)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(scene::VertexRecord, normal)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(scene::VertexRecord, u)));
    // 0xAARRGGBB in little-endian memory is B, G, R, A.
    glEnableVertexAttribArray(3);
    glVertexAttribPointer(3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<const void*>(offsetof(scene::VertexRecord, color)));
    glBindVertexArray(0);
    return vao;
}

namespace {

// Creates the buffers of a cache entry on first use.
void EnsureBuffers(GpuMesh& m, bool indexed) {
    if (m.vao) return;
    glGenBuffers(1, &m.vbo);
    if (indexed) glGenBuffers(1, &m.ibo);
    m.vao = MakeVertexArray(m.vbo, m.ibo);
}

// Replaces a buffer's whole contents, growing its storage when needed.
void WriteBuffer(GLenum target, GLuint buffer, size_t& allocated, const void* data, size_t bytes) {
    glBindBuffer(target, buffer);
    if (bytes > allocated || bytes < allocated / 4) {
        glBufferData(target, static_cast<GLsizeiptr>(bytes), data, GL_STATIC_DRAW);
        allocated = bytes;
    } else if (bytes > 0) {
        glBufferSubData(target, 0, static_cast<GLsizeiptr>(bytes), data);
    }
}

void ResetIfReplaced(GpuMesh& m, const scene::Visual& visual) {
    if (!m.owner.expired()) return;
    m.owner = visual.weak_from_this();
    m.version = 0;
    m.shadow.clear();
    m.groups.clear();
}

} // namespace

// ------------------------------------------------------------------ mesh builders

void BuildBuilderGeometry(const scene::MeshBuilder& builder,
                          std::vector<scene::VertexRecord>& vertices,
                          std::vector<uint32_t>& indices, std::vector<DrawGroup>& groups) {
    vertices.clear();
    indices.clear();
    groups.clear();
    struct CornerKey {
        uint32_t vertex, normal, color;
        bool operator==(const CornerKey&) const = default;
    };
    struct CornerHash {
        size_t operator()(const CornerKey& k) const {
            return (size_t(k.vertex) * 0x9E3779B97F4A7C15ull) ^ (size_t(k.normal) << 20) ^
                   (size_t(k.color) * 0xC2B2AE3D27D4EB4Full);
        }
    };
    std::unordered_map<CornerKey, uint32_t, CornerHash> corners;
    corners.reserve(builder.GetVertexCount() * 2);
    std::vector<std::vector<uint32_t>> perGroup;

    const auto positions = builder.Positions();
    const auto uvs = builder.TexCoords();
    const auto normals = builder.Normals();
    for (const scene::Face& face : builder.Faces()) {
        const size_t n = face.vertices.size();
        if (n < 3 || face.normals.size() != n) continue;
        size_t g = 0;
        while (g < groups.size() &&
               (groups[g].texture != face.texture || groups[g].material != face.material))
            ++g;
        if (g == groups.size()) {
            groups.push_back({0, 0, face.texture, face.material});
            perGroup.emplace_back();
        }
        const uint32_t color = scene::PackColor(glm::vec3(face.color), face.color.a);
        uint32_t corner[3];
        auto cornerIndex = [&](size_t k) -> uint32_t {
            const uint32_t v = face.vertices[k], nn = face.normals[k];
            auto [it, added] = corners.try_emplace(CornerKey{v, nn, color},
                                                   static_cast<uint32_t>(vertices.size()));
            if (added) {
                scene::VertexRecord r;
                r.position = v < positions.size() ? positions[v] : glm::vec3(0.0f);
                r.normal = nn < normals.size() ? normals[nn] : glm::vec3(0.0f);
                if (v < uvs.size()) {
                    r.u = uvs[v].x;
                    r.v = uvs[v].y;
                }
                r.color = color;
                vertices.push_back(r);
            }
            return it->second;
        };
        corner[0] = cornerIndex(0);
        corner[2] = cornerIndex(1);
        for (size_t k = 2; k < n; ++k) {
            corner[1] = corner[2];
            corner[2] = cornerIndex(k);
            perGroup[g].insert(perGroup[g].end(), {corner[0], corner[1], corner[2]});
        }
    }
    for (size_t g = 0; g < groups.size(); ++g) {
        groups[g].first = static_cast<uint32_t>(indices.size());
        groups[g].count = static_cast<uint32_t>(perGroup[g].size());
        indices.insert(indices.end(), perGroup[g].begin(), perGroup[g].end());
    }
}

GpuMesh& UpdateMeshBuilder(Renderer::State& s, const scene::MeshBuilder& builder,
                           FrameStats& stats) {
    GpuMesh& m = s.meshes[&builder];
    ResetIfReplaced(m, builder);
    if (m.version == builder.Version()) return m;
    m.version = builder.Version();
    std::vector<scene::VertexRecord> vertices;
    std::vector<uint32_t> indices;
    BuildBuilderGeometry(builder, vertices, indices, m.groups);
    EnsureBuffers(m, true);
    glBindVertexArray(0);
    WriteBuffer(GL_ARRAY_BUFFER, m.vbo, m.vboBytes, vertices.data(),
                vertices.size() * sizeof(scene::VertexRecord));
    WriteBuffer(GL_ELEMENT_ARRAY_BUFFER, m.ibo, m.iboBytes, indices.data(),
                indices.size() * sizeof(uint32_t));
    m.indexCount = static_cast<uint32_t>(indices.size());
    ++stats.meshUploads;
    stats.uploadedBytes += static_cast<uint32_t>(vertices.size() * sizeof(scene::VertexRecord) +
                                                 indices.size() * sizeof(uint32_t));
    return m;
}

// ------------------------------------------------------------------ meshes

GpuMesh& UpdateMesh(Renderer::State& s, const scene::Mesh& mesh, FrameStats& stats) {
    GpuMesh& m = s.meshes[&mesh];
    ResetIfReplaced(m, mesh);
    if (m.version == mesh.Version()) return m;
    m.version = mesh.Version();
    const auto vertices = mesh.Vertices();
    const auto indices = mesh.Indices();
    EnsureBuffers(m, true);
    glBindVertexArray(0);
    if (m.shadow.size() != vertices.size() || m.indexCount != indices.size()) {
        // First upload (or a different mesh): everything.
        m.shadow.assign(vertices.begin(), vertices.end());
        WriteBuffer(GL_ARRAY_BUFFER, m.vbo, m.vboBytes, vertices.data(), vertices.size_bytes());
        WriteBuffer(GL_ELEMENT_ARRAY_BUFFER, m.ibo, m.iboBytes, indices.data(),
                    indices.size_bytes());
        m.indexCount = static_cast<uint32_t>(indices.size());
        ++stats.meshUploads;
        stats.uploadedBytes += static_cast<uint32_t>(vertices.size_bytes() + indices.size_bytes());
        return m;
    }
    // Written vertex group: send only the span of records that differ from the GPU copy.
    const size_t n = vertices.size();
    const size_t rec = sizeof(scene::VertexRecord);
    size_t first = 0;
    while (first < n && std::memcmp(&m.shadow[first], &vertices[first], rec) == 0)
        ++first;
    if (first == n) return m;
    size_t last = n - 1;
    while (last > first && std::memcmp(&m.shadow[last], &vertices[last], rec) == 0)
        --last;
    const size_t count = last - first + 1;
    std::memcpy(&m.shadow[first], &vertices[first], count * rec);
    glBindBuffer(GL_ARRAY_BUFFER, m.vbo);
    glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(first * rec),
                    static_cast<GLsizeiptr>(count * rec), &vertices[first]);
    ++stats.meshUploads;
    stats.uploadedBytes += static_cast<uint32_t>(count * rec);
    return m;
}

// ------------------------------------------------------------------ sweeping

namespace {

void FreeMesh(GpuMesh& m) {
    if (m.vao) glDeleteVertexArrays(1, &m.vao);
    if (m.vbo) glDeleteBuffers(1, &m.vbo);
    if (m.ibo) glDeleteBuffers(1, &m.ibo);
    m.vao = m.vbo = m.ibo = 0;
}

} // namespace

void SweepCaches(Renderer::State& s) {
    // Meshes first: their groups hold the last references to some textures.
    for (auto it = s.meshes.begin(); it != s.meshes.end();) {
        if (it->second.owner.expired()) {
            FreeMesh(it->second);
            it = s.meshes.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = s.textures.begin(); it != s.textures.end();) {
        if (it->second.owner.expired()) {
            if (it->second.id) glDeleteTextures(1, &it->second.id);
            it = s.textures.erase(it);
        } else {
            ++it;
        }
    }
}

Renderer::State::~State() {
    for (auto& [key, m] : meshes)
        FreeMesh(m);
    for (auto& [key, t] : textures)
        if (t.id) glDeleteTextures(1, &t.id);
    if (white) glDeleteTextures(1, &white);
    for (GLuint sampler : samplers)
        if (sampler) glDeleteSamplers(1, &sampler);
    if (edgeSampler) glDeleteSamplers(1, &edgeSampler);
    if (decalVao) glDeleteVertexArrays(1, &decalVao);
    if (decalVbo) glDeleteBuffers(1, &decalVbo);
    for (const Program& p : programs)
        if (p.id) glDeleteProgram(p.id);
}

} // namespace render
