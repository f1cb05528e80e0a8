// platform/scene/xfile_build.cpp — meshes and frames built from the importer's scene:
// materials and textures converted once per file, corners welded back into vertices, faces put
// back into the file's order when it is known.
#include "platform/scene/xfile_local.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <map>

namespace scene::xfile {

namespace {

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

} // namespace

void MergeScene(MeshBuilder& builder, const aiScene& s, const TextureCallback& callback,
                FaceOrderPlan& plan) {
    MaterialTable materials(s, callback);
    MeshAppender appender(builder, &plan);
    MergeNode(s, *s.mRootNode, glm::mat4(1.0f), materials, appender, 0);
}

std::shared_ptr<Frame> BuildFrameTree(const aiScene& s, const TextureCallback& callback,
                                      FaceOrderPlan& plan) {
    MaterialTable materials(s, callback);
    return BuildFrames(s, *s.mRootNode, materials, plan, 0);
}

} // namespace scene::xfile
