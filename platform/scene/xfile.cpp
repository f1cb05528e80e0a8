// platform/scene/xfile.cpp — DirectX .x files (text and binary) through Assimp, into one mesh
// builder or into a frame hierarchy.
//
// Assimp's .x importer converts what it reads to a right-handed space: it negates z, reverses
// each face's corner order and flips v. Running its MakeLeftHanded, FlipWindingOrder and
// FlipUVs steps afterwards undoes exactly those three, so coordinates, winding and texture
// coordinates come out as written in the file. No triangulation: polygons keep their corners.
// The importer splits a mesh by material and gives every face corner its own vertex; corners
// with equal position and texture coordinates are welded back into one vertex here, and for
// text files the faces are put back into the file's order (the game deletes faces by index),
// from the face material lists read beside the importer (BuildFaceOrderPlan). Binary files keep
// the importer's order: faces grouped by material, in file order within each material.
//
// Files are untrusted and the importer is not robust against malformed ones (it follows missing
// materials, trusts counts). Two guards run before the real import: text files have their
// material lists checked (CheckTextMaterialLists, a clear error for the common fault), and on
// POSIX systems a forked child parses the bytes first (ImporterSurvives): a file on which the
// importer crashes or hangs is reported as a bad file instead of ending the game.
#include "platform/scene/scene_local.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <map>
#include <optional>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/wait.h>
#include <unistd.h>
#define TARNHOLD_X_IMPORT_GUARD 1
#endif

namespace scene {

namespace {

constexpr unsigned kImportFlags = aiProcess_MakeLeftHanded | aiProcess_FlipWindingOrder |
                                  aiProcess_FlipUVs | aiProcess_ValidateDataStructure;

glm::mat4 ToGlm(const aiMatrix4x4& a) {
    // aiMatrix4x4 is row-major with column-vector semantics (translation in a4, b4, c4).
    glm::mat4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[c][r] = a[r][c];
    return m;
}

// Materials and textures of one file, converted once and shared by every face that uses them.
class MaterialTable {
public:
    MaterialTable(const aiScene& s, const TextureCallback& callback) {
        for (unsigned i = 0; i < s.mNumMaterials; ++i)
            entries_.push_back(Convert(*s.mMaterials[i], callback));
    }
    struct Entry {
        std::shared_ptr<Material> material;
        std::shared_ptr<Texture> texture;
        glm::vec4 color{1.0f};
    };
    const Entry* Get(unsigned index) const {
        return index < entries_.size() ? &entries_[index] : nullptr;
    }

private:
    Entry Convert(const aiMaterial& m, const TextureCallback& callback) {
        Entry e;
        e.material = Material::Create();
        aiString name;
        if (m.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) e.material->name = name.C_Str();
        float power = 0.0f;
        if (m.Get(AI_MATKEY_SHININESS, power) == AI_SUCCESS) e.material->power = power;
        aiColor4D c;
        if (m.Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS)
            e.material->specular = {c.r, c.g, c.b};
        if (m.Get(AI_MATKEY_COLOR_EMISSIVE, c) == AI_SUCCESS)
            e.material->emissive = {c.r, c.g, c.b};
        if (m.Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS) e.color = {c.r, c.g, c.b, c.a};
        aiString tex;
        if (m.GetTexture(aiTextureType_DIFFUSE, 0, &tex) == AI_SUCCESS && tex.length > 0) {
            const std::string texName = tex.C_Str();
            auto it = textures_.find(texName);
            if (it == textures_.end())
                it = textures_.emplace(texName, callback ? callback(texName) : nullptr).first;
            e.texture = it->second;
        }
        return e;
    }
    std::vector<Entry> entries_;
    std::map<std::string, std::shared_ptr<Texture>> textures_; // callback result per name
};

// One mesh of a text file as written: the material index of each face (empty: no list).
struct FileMesh {
    std::vector<uint32_t> faceMaterials;
    uint32_t declaredMaterials = 0;
    size_t faceCount = 0;

    // For each face, the importer piece that holds it (`pieceOf`), and each piece's face count.
    bool FacePieces(std::vector<uint32_t>& pieceOf, std::vector<uint32_t>& pieceFaces) const {
        pieceOf.assign(faceCount, 0);
        pieceFaces.clear();
        if (faceMaterials.empty()) {
            if (faceCount > 0) pieceFaces.push_back(static_cast<uint32_t>(faceCount));
            return true;
        }
        if (faceMaterials.size() != faceCount) return false;
        const uint32_t materials = std::max<uint32_t>(declaredMaterials, 1);
        std::vector<uint32_t> count(materials, 0), piece(materials, 0);
        for (uint32_t m : faceMaterials) {
            if (m >= materials) return false;
            ++count[m];
        }
        for (uint32_t m = 0; m < materials; ++m) {
            if (count[m] == 0) continue;
            piece[m] = static_cast<uint32_t>(pieceFaces.size());
            pieceFaces.push_back(count[m]);
        }
        for (size_t c = 0; c < faceCount; ++c)
            pieceOf[c] = piece[faceMaterials[c]];
        return true;
    }
};

// The meshes of a text file in the order the importer creates them; `next` walks them while
// the nodes are converted. Invalid as soon as the importer's meshes stop matching.
struct FaceOrderPlan {
    std::vector<FileMesh> meshes;
    size_t next = 0;
    bool valid = true;
};

// Appends the meshes of one node to `mb`, positions and normals carried by `transform`.
class MeshAppender {
public:
    MeshAppender(MeshBuilder& mb, FaceOrderPlan* plan) : mb_(mb), plan_(plan) {}

    // Appends the node's meshes. When the file's own face order is known (text files), the
    // importer's per-material pieces of one file mesh are put back into that order.
    void AppendNode(const aiScene& s, const aiNode& node, const glm::mat4& transform,
                    const MaterialTable& materials) {
        const glm::mat3 normalMatrix = glm::transpose(glm::inverse(glm::mat3(transform)));
        std::vector<const aiMesh*> meshes;
        for (unsigned k = 0; k < node.mNumMeshes; ++k)
            if (node.mMeshes[k] < s.mNumMeshes && s.mMeshes[node.mMeshes[k]])
                meshes.push_back(s.mMeshes[node.mMeshes[k]]);
        std::vector<Face> faces;
        size_t k = 0;
        while (k < meshes.size()) {
            if (AppendInFileOrder(meshes, k, transform, normalMatrix, materials)) continue;
            faces.clear();
            ConvertMesh(*meshes[k], transform, normalMatrix,
                        materials.Get(meshes[k]->mMaterialIndex), faces);
            for (Face& f : faces)
                mb_.AddFace(std::move(f));
            ++k;
        }
    }

private:
    struct VertexKey {
        glm::vec3 p;
        glm::vec2 uv;
        bool operator<(const VertexKey& o) const {
            if (p.x != o.p.x) return p.x < o.p.x;
            if (p.y != o.p.y) return p.y < o.p.y;
            if (p.z != o.p.z) return p.z < o.p.z;
            if (uv.x != o.uv.x) return uv.x < o.uv.x;
            return uv.y < o.uv.y;
        }
    };
    struct NormalKey {
        glm::vec3 n;
        bool operator<(const NormalKey& o) const {
            if (n.x != o.n.x) return n.x < o.n.x;
            if (n.y != o.n.y) return n.y < o.n.y;
            return n.z < o.n.z;
        }
    };

    // The next file mesh of the plan, when the importer's next pieces match it: its faces are
    // appended in file order, `k` moves past the pieces and true is returned.
    bool AppendInFileOrder(const std::vector<const aiMesh*>& meshes, size_t& k,
                           const glm::mat4& transform, const glm::mat3& normalMatrix,
                           const MaterialTable& materials) {
        if (!plan_ || !plan_->valid || plan_->next >= plan_->meshes.size()) return false;
        const FileMesh& fm = plan_->meshes[plan_->next];
        // The importer makes one piece per material that has faces, in material order.
        std::vector<uint32_t> pieceOf, pieceFaces;
        if (!fm.FacePieces(pieceOf, pieceFaces) || k + pieceFaces.size() > meshes.size()) {
            plan_->valid = false;
            return false;
        }
        for (size_t p = 0; p < pieceFaces.size(); ++p) {
            if (meshes[k + p]->mNumFaces != pieceFaces[p]) {
                plan_->valid = false;
                return false;
            }
        }
        std::vector<std::vector<Face>> pieces(pieceFaces.size());
        for (size_t p = 0; p < pieces.size(); ++p) {
            const aiMesh& m = *meshes[k + p];
            if (!ConvertMesh(m, transform, normalMatrix, materials.Get(m.mMaterialIndex),
                             pieces[p]) ||
                pieces[p].size() != pieceFaces[p]) {
                // Faces were dropped: the order cannot be rebuilt; keep the importer's.
                plan_->valid = false;
                for (size_t q = 0; q <= p; ++q)
                    for (Face& f : pieces[q])
                        mb_.AddFace(std::move(f));
                k += p + 1;
                return true;
            }
        }
        std::vector<size_t> taken(pieces.size(), 0);
        for (uint32_t piece : pieceOf)
            mb_.AddFace(std::move(pieces[piece][taken[piece]++]));
        k += pieces.size();
        ++plan_->next;
        return true;
    }

    // Converts one importer mesh into faces of the builder (vertices and normals are added to
    // the builder, welded). False when a face had to be dropped.
    bool ConvertMesh(const aiMesh& mesh, const glm::mat4& transform, const glm::mat3& normalMatrix,
                     const MaterialTable::Entry* material, std::vector<Face>& faces) {
        bool complete = true;
        std::vector<uint32_t> vertexOf(mesh.mNumVertices), normalOf(mesh.mNumVertices);
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
            const aiVector3D& a = mesh.mVertices[v];
            const glm::vec3 p = glm::vec3(transform * glm::vec4(a.x, a.y, a.z, 1.0f));
            glm::vec2 uv(0.0f);
            if (mesh.mTextureCoords[0])
                uv = {mesh.mTextureCoords[0][v].x, mesh.mTextureCoords[0][v].y};
            auto [it, added] = vertices_.try_emplace(VertexKey{p, uv}, 0u);
            if (added) {
                it->second = mb_.AddVertex(p);
                mb_.SetTextureCoordinates(it->second, uv.x, uv.y);
            }
            vertexOf[v] = it->second;
            glm::vec3 n(0.0f);
            if (mesh.mNormals) {
                n = normalMatrix *
                    glm::vec3(mesh.mNormals[v].x, mesh.mNormals[v].y, mesh.mNormals[v].z);
                const float len = glm::length(n);
                if (len > 0.0f) n /= len;
            }
            auto [nit, nadded] = normals_.try_emplace(NormalKey{n}, 0u);
            if (nadded) nit->second = mb_.AddNormal(n);
            normalOf[v] = nit->second;
        }
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices < 3) { // points and lines are not surfaces
                complete = false;
                continue;
            }
            Face out;
            bool valid = true;
            for (unsigned c = 0; c < face.mNumIndices; ++c) {
                const unsigned idx = face.mIndices[c];
                if (idx >= mesh.mNumVertices) {
                    valid = false;
                    break;
                }
                out.vertices.push_back(vertexOf[idx]);
                out.normals.push_back(normalOf[idx]);
            }
            if (!valid) {
                complete = false;
                continue;
            }
            if (material) {
                out.material = material->material;
                out.texture = material->texture;
                out.color = material->color;
            }
            faces.push_back(std::move(out));
        }
        return complete;
    }

    MeshBuilder& mb_;
    FaceOrderPlan* plan_;
    std::map<VertexKey, uint32_t> vertices_;
    std::map<NormalKey, uint32_t> normals_;
};

void MergeNode(const aiScene& s, const aiNode& node, const glm::mat4& parent,
               const MaterialTable& materials, MeshAppender& appender, int depth) {
    // Pre-order, as the importer creates the meshes of its nodes.
    if (depth > 256) return; // hierarchy deeper than any real file
    const glm::mat4 m = parent * ToGlm(node.mTransformation);
    appender.AppendNode(s, node, m, materials);
    for (unsigned i = 0; i < node.mNumChildren; ++i)
        if (node.mChildren[i]) MergeNode(s, *node.mChildren[i], m, materials, appender, depth + 1);
}

std::shared_ptr<Frame> BuildFrames(const aiScene& s, const aiNode& node,
                                   const MaterialTable& materials, FaceOrderPlan& plan, int depth) {
    std::shared_ptr<Frame> frame = Frame::Create();
    frame->SetName(node.mName.C_Str());
    frame->AddTransform(Combine::Replace, ToGlm(node.mTransformation));
    if (node.mNumMeshes > 0) {
        // The importer splits one file mesh by material into several; they share the node, so
        // they become one mesh builder again.
        std::shared_ptr<MeshBuilder> mb = MeshBuilder::Create();
        mb->SetName(node.mName.C_Str());
        MeshAppender appender(*mb, &plan);
        appender.AppendNode(s, node, glm::mat4(1.0f), materials);
        frame->AddVisual(mb);
    }
    if (depth < 256)
        for (unsigned i = 0; i < node.mNumChildren; ++i)
            if (node.mChildren[i])
                frame->AddChild(BuildFrames(s, *node.mChildren[i], materials, plan, depth + 1));
    return frame;
}

// ------------------------------------------------------------------ text pre-check

// Minimal tokenizer of the .x text syntax: names and numbers, strings, and the single
// characters { } ; , as their own tokens. Comments (# and //) are skipped.
class XTokens {
public:
    explicit XTokens(std::string_view text) : text_(text) {}

    // Next token, or empty at the end of the text.
    std::string_view Next() {
        SkipBlanks();
        if (pos_ >= text_.size()) return {};
        const size_t start = pos_;
        const char c = text_[pos_];
        if (c == '{' || c == '}' || c == ';' || c == ',') {
            ++pos_;
        } else if (c == '"') {
            const size_t end = text_.find('"', pos_ + 1);
            pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        } else {
            while (pos_ < text_.size() && !IsBlank(text_[pos_]) &&
                   std::string_view("{};,\"").find(text_[pos_]) == std::string_view::npos)
                ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }
    // Next token that is not a separator (; or ,).
    std::string_view NextValue() {
        std::string_view t;
        do
            t = Next();
        while (t == ";" || t == ",");
        return t;
    }

private:
    static bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
    void SkipBlanks() {
        while (pos_ < text_.size()) {
            if (IsBlank(text_[pos_])) {
                ++pos_;
            } else if (text_[pos_] == '#' ||
                       (text_[pos_] == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/')) {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    ++pos_;
            } else {
                break;
            }
        }
    }
    std::string_view text_;
    size_t pos_ = 0;
};

std::optional<long long> ToCount(std::string_view t) {
    if (t.empty() || t.size() > 12) return std::nullopt;
    long long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Skips to the '}' closing a block whose '{' was just read. False at the end of the text.
bool SkipBlock(XTokens& tokens) {
    for (int depth = 1; depth > 0;) {
        const std::string_view t = tokens.Next();
        if (t.empty()) return false;
        if (t == "{") ++depth;
        if (t == "}") --depth;
    }
    return true;
}

// Checks one material list after its opening '{': the declared material count is what the
// block holds (inline materials or {references}), and every face names one of them.
bool CheckMaterialList(XTokens& tokens, std::string& why) {
    const auto materials = ToCount(tokens.NextValue());
    const auto faces = ToCount(tokens.NextValue());
    if (!materials || !faces) {
        why = "material list without counts";
        return false;
    }
    for (long long i = 0; i < *faces; ++i) {
        const auto index = ToCount(tokens.NextValue());
        if (!index || *index >= *materials) {
            why = "material list names a material it does not hold";
            return false;
        }
    }
    long long held = 0;
    for (;;) {
        const std::string_view t = tokens.NextValue();
        if (t.empty()) {
            why = "material list not closed";
            return false;
        }
        if (t == "}") break;
        if (t == "{") {
            ++held;
            if (!SkipBlock(tokens)) {
                why = "material reference not closed";
                return false;
            }
        } else {
            // A data object: "Name [objectName] { ... }". Only Material objects are materials;
            // the importer skips any other.
            std::string_view n = tokens.NextValue();
            if (n != "{") n = tokens.NextValue();
            if (n != "{" || !SkipBlock(tokens)) {
                why = "data object not closed";
                return false;
            }
            if (t == "Material") ++held;
        }
    }
    if (held != *materials) {
        why = "material list holds " + std::to_string(held) + " materials but declares " +
              std::to_string(*materials);
        return false;
    }
    return true;
}

// True when `bytes` is not a text .x file or when its material lists are consistent.
bool CheckTextMaterialLists(std::span<const uint8_t> bytes, std::string& why) {
    if (bytes.size() < 16) return true;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(8, 4) != "txt ") return true;
    XTokens tokens(text.substr(16));
    for (std::string_view t = tokens.Next(); !t.empty(); t = tokens.Next()) {
        if (t == "template") { // a declaration, not data: skip its name and body
            if (tokens.NextValue().empty() || tokens.NextValue() != "{" || !SkipBlock(tokens))
                return true; // the importer reports the broken template itself
            continue;
        }
        if (t != "MeshMaterialList") continue;
        std::string_view n = tokens.NextValue();
        if (n != "{") n = tokens.NextValue();
        if (n != "{") {
            why = "material list without a block";
            return false;
        }
        if (!CheckMaterialList(tokens, why)) return false;
    }
    return true;
}

// ------------------------------------------------------------------ face order of text files

struct FileFrame {
    std::vector<FileMesh> meshes;
    std::vector<FileFrame> children;
};

// Reads "Name [objectName] {" after the name token; false when no block follows.
bool OpenObject(XTokens& tokens) {
    std::string_view n = tokens.NextValue();
    if (n != "{") n = tokens.NextValue();
    return n == "{";
}

bool SkipValues(XTokens& tokens, long long count) {
    for (long long i = 0; i < count; ++i)
        if (tokens.NextValue().empty()) return false;
    return true;
}

// A Mesh body after its '{': counts, then child objects; only the material list is kept.
bool ParseFileMesh(XTokens& tokens, FileMesh& mesh) {
    const auto vertices = ToCount(tokens.NextValue());
    if (!vertices || !SkipValues(tokens, *vertices * 3)) return false;
    const auto faces = ToCount(tokens.NextValue());
    if (!faces) return false;
    mesh.faceCount = static_cast<size_t>(*faces);
    for (long long f = 0; f < *faces; ++f) {
        const auto corners = ToCount(tokens.NextValue());
        if (!corners || !SkipValues(tokens, *corners)) return false;
    }
    for (;;) {
        const std::string_view t = tokens.NextValue();
        if (t.empty()) return false;
        if (t == "}") return true;
        if (t == "{") {
            if (!SkipBlock(tokens)) return false;
            continue;
        }
        if (!OpenObject(tokens)) return false;
        if (t == "MeshMaterialList") {
            const auto materials = ToCount(tokens.NextValue());
            const auto indices = ToCount(tokens.NextValue());
            if (!materials || !indices) return false;
            mesh.declaredMaterials = static_cast<uint32_t>(*materials);
            for (long long i = 0; i < *indices; ++i) {
                const auto m = ToCount(tokens.NextValue());
                if (!m) return false;
                mesh.faceMaterials.push_back(static_cast<uint32_t>(*m));
            }
            // One index for several faces applies to all of them.
            if (mesh.faceMaterials.size() == 1 && mesh.faceCount > 1)
                mesh.faceMaterials.assign(mesh.faceCount, mesh.faceMaterials[0]);
        }
        if (!SkipBlock(tokens)) return false;
    }
}

// Objects of a frame body (or of the file when `top`), up to its '}' (or the end).
bool ParseFileFrame(XTokens& tokens, FileFrame& frame, bool top) {
    for (;;) {
        const std::string_view t = tokens.NextValue();
        if (t.empty()) return top;
        if (t == "}") return !top;
        if (t == "{") {
            if (!SkipBlock(tokens)) return false;
            continue;
        }
        if (t == "template") {
            if (!OpenObject(tokens) || !SkipBlock(tokens)) return false;
            continue;
        }
        if (!OpenObject(tokens)) return false;
        if (t == "Frame") {
            frame.children.emplace_back();
            if (!ParseFileFrame(tokens, frame.children.back(), false)) return false;
        } else if (t == "Mesh") {
            frame.meshes.emplace_back();
            if (!ParseFileMesh(tokens, frame.meshes.back())) return false;
        } else if (!SkipBlock(tokens)) {
            return false;
        }
    }
}

void FlattenFrame(const FileFrame& frame, std::vector<FileMesh>& out) {
    out.insert(out.end(), frame.meshes.begin(), frame.meshes.end());
    for (const FileFrame& c : frame.children)
        FlattenFrame(c, out);
}

// The file's meshes in the importer's order: with a single top frame, that frame is the root
// node and the meshes outside any frame join its own; otherwise a new root holds those meshes
// and the top frames are its children. Invalid for binary files or on any parse trouble.
FaceOrderPlan BuildFaceOrderPlan(std::span<const uint8_t> bytes) {
    FaceOrderPlan plan;
    plan.valid = false;
    if (bytes.size() < 16) return plan;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(8, 4) != "txt ") return plan;
    XTokens tokens(text.substr(16));
    FileFrame file;
    if (!ParseFileFrame(tokens, file, true)) return plan;
    if (file.children.size() == 1) {
        const FileFrame& only = file.children[0];
        plan.meshes = only.meshes;
        plan.meshes.insert(plan.meshes.end(), file.meshes.begin(), file.meshes.end());
        for (const FileFrame& c : only.children)
            FlattenFrame(c, plan.meshes);
    } else {
        FlattenFrame(file, plan.meshes);
    }
    plan.valid = true;
    return plan;
}

// Whole file into memory, at most kMaxFileBytes.
constexpr size_t kMaxFileBytes = size_t(512) << 20;

bool ReadWholeFile(const std::string& file, std::vector<uint8_t>& out) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxFileBytes) return false;
    out.resize(static_cast<size_t>(size));
    in.seekg(0);
    return size == 0 || static_cast<bool>(in.read(reinterpret_cast<char*>(out.data()), size));
}

// False when the importer crashes, or runs longer than kGuardSeconds, on `bytes`. The parse runs
// in a forked child that only reports how it ended; the parent imports again for real.
constexpr unsigned kGuardSeconds = 30;

bool ImporterSurvives(std::span<const uint8_t> bytes) {
#ifdef TARNHOLD_X_IMPORT_GUARD
    const pid_t pid = fork();
    if (pid < 0) return true; // no child available: import unguarded
    if (pid == 0) {
        alarm(kGuardSeconds);
        Assimp::Importer importer;
        const aiScene* s =
            importer.ReadFileFromMemory(bytes.data(), bytes.size(), kImportFlags, "x");
        _exit(s ? 0 : 1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return true;
    }
    return WIFEXITED(status);
#else
    (void)bytes;
    return true;
#endif
}

// Reads a file or a memory block; null with `status` filled on failure.
const aiScene* Read(Assimp::Importer& importer, const std::string* file,
                    std::span<const uint8_t> bytes, std::string_view label, LoadStatus& status,
                    std::vector<uint8_t>& contents) {
    if (file) {
        if (!ReadWholeFile(*file, contents)) {
            status = {false, std::string(label) + ": cannot read file"};
            return nullptr;
        }
    } else {
        contents.assign(bytes.begin(), bytes.end());
    }
    bytes = contents;
    std::string why;
    if (!CheckTextMaterialLists(bytes, why)) {
        status = {false, std::string(label) + ": bad .x file (" + why + ")"};
        return nullptr;
    }
    if (!bytes.empty() && !ImporterSurvives(bytes)) {
        status = {false, std::string(label) + ": bad .x file (the importer cannot read it)"};
        return nullptr;
    }
    const aiScene* s = nullptr;
    try {
        if (!bytes.empty())
            s = importer.ReadFileFromMemory(bytes.data(), bytes.size(), kImportFlags, "x");
    } catch (...) {
        s = nullptr;
    }
    if (!s || !s->mRootNode || (s->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        const char* why = importer.GetErrorString();
        status = {false, std::string(label) + ": cannot read .x file" +
                             (why && *why ? std::string(" (") + why + ")" : std::string())};
        return nullptr;
    }
    status = {true, {}};
    return s;
}

bool ResolveFile(std::string_view name, const SearchPath* path, std::string& file,
                 LoadStatus& status) {
    SearchPath none;
    file = (path ? path : &none)->Resolve(name);
    if (file.empty()) status = {false, NotFound(name, path)};
    return !file.empty();
}

LoadStatus IntoBuilder(MeshBuilder& builder, const std::string* file,
                       std::span<const uint8_t> bytes, std::string_view label,
                       const TextureCallback& callback) {
    Assimp::Importer importer;
    LoadStatus status;
    std::vector<uint8_t> contents;
    const aiScene* s = Read(importer, file, bytes, label, status, contents);
    if (!s) return status;
    MaterialTable materials(*s, callback);
    FaceOrderPlan plan = BuildFaceOrderPlan(contents);
    MeshAppender appender(builder, &plan);
    MergeNode(*s, *s->mRootNode, glm::mat4(1.0f), materials, appender, 0);
    return status;
}

LoadStatus AsFrames(Frame& parent, const std::string* file, std::span<const uint8_t> bytes,
                    std::string_view label, const TextureCallback& callback,
                    std::shared_ptr<Frame>* loaded) {
    Assimp::Importer importer;
    LoadStatus status;
    std::vector<uint8_t> contents;
    const aiScene* s = Read(importer, file, bytes, label, status, contents);
    if (!s) return status;
    MaterialTable materials(*s, callback);
    FaceOrderPlan plan = BuildFaceOrderPlan(contents);
    std::shared_ptr<Frame> top = BuildFrames(*s, *s->mRootNode, materials, plan, 0);
    parent.AddChild(top);
    if (loaded) *loaded = top;
    return status;
}

} // namespace

LoadStatus LoadXIntoMeshBuilder(MeshBuilder& builder, std::string_view name, const SearchPath* path,
                                const TextureCallback& callback) {
    std::string file;
    LoadStatus status;
    if (!ResolveFile(name, path, file, status)) return status;
    return IntoBuilder(builder, &file, {}, file, callback);
}

LoadStatus LoadXAsFrames(Frame& parent, std::string_view name, const SearchPath* path,
                         const TextureCallback& callback, std::shared_ptr<Frame>* loaded) {
    std::string file;
    LoadStatus status;
    if (!ResolveFile(name, path, file, status)) return status;
    return AsFrames(parent, &file, {}, file, callback, loaded);
}

LoadStatus LoadXIntoMeshBuilderFromMemory(MeshBuilder& builder, std::span<const uint8_t> bytes,
                                          const TextureCallback& callback) {
    return IntoBuilder(builder, nullptr, bytes, "(memory)", callback);
}

LoadStatus LoadXAsFramesFromMemory(Frame& parent, std::span<const uint8_t> bytes,
                                   const TextureCallback& callback,
                                   std::shared_ptr<Frame>* loaded) {
    return AsFrames(parent, nullptr, bytes, "(memory)", callback, loaded);
}

} // namespace scene
