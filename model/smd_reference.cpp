// model/smd_reference.cpp — SMD reference files: skeleton, rest pose, triangles (skin groups and
// rigid bone meshes), vertex welding, hit-box template meshes, the Euler quaternion.
//
// Index
//   1. Quaternions
//   2. Searches and welding
//   3. CreeFrame and its sections (nodes, time 0, triangles)
//   4. Hit-box template boxes (dessineboite)
#include "model/model_local.h"

#include <bit>
#include <cmath>
#include <unordered_map>

namespace model {

// ---------------------------------------------------------------------------------------------
// 1. Quaternions
// ---------------------------------------------------------------------------------------------

glm::quat MDL::AxisAngleQuat(const glm::dvec3& axis, double angle) {
    const double c = std::cos(angle / 2.0);
    const double s = std::sin(angle / 2.0);
    return glm::quat(float(c), float(s * axis.x), float(s * axis.y), float(s * axis.z));
}

glm::quat MDL::EulerToQuat(float a0, float a1, float a2) {
    const glm::quat qx = AxisAngleQuat(glm::dvec3(1, 0, 0), a0);
    const glm::quat qy = AxisAngleQuat(glm::dvec3(0, 1, 0), a1);
    const glm::quat qz = AxisAngleQuat(glm::dvec3(0, 0, 1), a2);
    return (qy * qx) * qz; // glm's product is the Hamilton product
}

// ---------------------------------------------------------------------------------------------
// 2. Searches and welding
// ---------------------------------------------------------------------------------------------

std::shared_ptr<scene::Frame> MDL::ChercheFrames(std::string_view name) const {
    const auto found = BoneByName.find(std::string(name));
    if (found == BoneByName.end()) return nullptr;
    return Bones[size_t(found->second)];
}

int32_t MDL::ChercheVertex(const scene::MeshBuilder& builder, float x, float y, float z, float u,
                           float v) {
    const std::span<const glm::vec3> positions = builder.Positions();
    const std::span<const glm::vec2> coords = builder.TexCoords();
    for (size_t i = 0; i < positions.size(); ++i) {
        const glm::vec3& p = positions[i];
        if (p.x != x || p.y != y || p.z != z) continue;
        if (i < coords.size() && coords[i].x == u && coords[i].y == v) return int32_t(i);
    }
    return -1;
}

// Hash-map welding with ChercheVertex's result: keys compare as floats do (0 and -0 are one key;
// the reader produces no NaN), and the first index stored for a key is the lowest.
struct MDL::Welder {
    struct Key {
        uint32_t bits[5];
        bool operator==(const Key& o) const {
            for (int i = 0; i < 5; ++i) {
                if (bits[i] != o.bits[i]) return false;
            }
            return true;
        }
    };
    struct Hash {
        size_t operator()(const Key& k) const {
            uint64_t h = 1469598103934665603ull;
            for (uint32_t b : k.bits)
                h = (h ^ b) * 1099511628211ull;
            return size_t(h ^ (h >> 29));
        }
    };

    static uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f == 0.0f ? 0.0f : f); }
    static Key MakeKey(const glm::vec3& p, float u, float v) {
        return Key{{Bits(p.x), Bits(p.y), Bits(p.z), Bits(u), Bits(v)}};
    }

    // Indexes the vertices the builder already holds.
    void Build(const scene::MeshBuilder& builder) {
        map.clear();
        const auto positions = builder.Positions();
        const auto coords = builder.TexCoords();
        map.reserve(positions.size());
        for (size_t i = 0; i < positions.size() && i < coords.size(); ++i) {
            Add(positions[i], coords[i].x, coords[i].y, int32_t(i));
        }
    }
    // NaN equals nothing, as in ChercheVertex.
    static bool HasNaN(const glm::vec3& p, float u, float v) {
        return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z) || std::isnan(u) ||
               std::isnan(v);
    }
    int32_t Find(const glm::vec3& p, float u, float v) const {
        if (HasNaN(p, u, v)) return -1;
        const auto it = map.find(MakeKey(p, u, v));
        return it == map.end() ? -1 : it->second;
    }
    void Add(const glm::vec3& p, float u, float v, int32_t index) {
        if (HasNaN(p, u, v)) return;
        map.emplace(MakeKey(p, u, v), index);
    }

    std::unordered_map<Key, int32_t, Hash> map;
};

int32_t MDL::BoneOfFrame(const scene::Frame& frame) const {
    const int64_t b = int64_t(frame.GetAppData()) - 1;
    return (b >= 0 && b < BoneCount && Bones[size_t(b)].get() == &frame) ? int32_t(b) : -1;
}

glm::mat4 MDL::BoneToModel(int32_t bone) const {
    return Bones[size_t(bone)]->GetTransform(sol.get());
}

const glm::dmat4& MDL::CachedBoneToModel(int32_t bone) {
    if (BoneToModelCache[size_t(bone)]) return *BoneToModelCache[size_t(bone)];
    // The uncached bones from this one up to a cached ancestor (or a root bone), filled from the
    // top down; parents precede their children in Bones.
    std::vector<int32_t> chain;
    for (int32_t b = bone; b >= 0 && !BoneToModelCache[size_t(b)]; b = BoneParents[size_t(b)])
        chain.push_back(b);
    for (size_t i = chain.size(); i-- > 0;) {
        const int32_t b = chain[i];
        const int32_t parent = BoneParents[size_t(b)];
        const glm::dmat4 above = parent >= 0 ? *BoneToModelCache[size_t(parent)]
                                             : glm::dmat4(Mere->GetTransform(sol.get()));
        BoneToModelCache[size_t(b)] = above * glm::dmat4(Bones[size_t(b)]->GetLocalTransform());
    }
    return *BoneToModelCache[size_t(bone)];
}

const glm::mat4& MDL::ModelToBone(int32_t bone) {
    std::optional<glm::mat4>& slot = ModelToBoneCache[size_t(bone)];
    if (!slot) slot = glm::mat4(glm::inverse(CachedBoneToModel(bone)));
    return *slot;
}

void MDL::ResetBoneCaches() {
    ModelToBoneCache.assign(size_t(BoneCount), std::nullopt);
    BoneToModelCache.assign(size_t(BoneCount), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// 3. CreeFrame and its sections
// ---------------------------------------------------------------------------------------------

void MDL::CreeFrame(std::string_view name) {
    LineReader in;
    const std::string path = JoinPath(ModelDir, std::string(name) + ".smd");
    if (!in.Open(path)) throw ModelError(path, 0, "cannot open the SMD reference file");
    ResetBoneCaches();
    std::string_view line;
    while (in.Next(line)) {
        const std::string_view trimmed = TrimSpaces(line);
        if (trimmed == "nodes" && Bones.empty()) {
            ReadNodes(in);
        } else if (trimmed == "time 0") {
            ReadPose(in);
        } else if (trimmed == "triangles") {
            ReadTriangles(in);
        }
    }
}

bool ReadNodeLine(LineReader& in, NodeLine& node) {
    const std::string_view line = in.Require("the nodes section (no \"end\" line)");
    if (line == "end") return false;
    const std::optional<std::string_view> quoted = QuotedName(line);
    if (!quoted) in.Fail("a node line needs its bone name in double quotes");
    const size_t second = line.find('"', line.find('"') + 1);
    node.name = *quoted;
    node.parent = FieldInteger(in, TrimBlanks(line.substr(second + 1)), "the parent index");
    return true;
}

void MDL::ReadNodes(LineReader& in) {
    NodeLine node;
    while (ReadNodeLine(in, node)) {
        const int32_t parent = node.parent;
        if (parent != -1 && (parent < 0 || parent >= BoneCount)) {
            in.Fail("parent index " + std::to_string(parent) + " names no earlier bone");
        }
        const std::shared_ptr<scene::Frame> frame =
            scene::Frame::Create(parent == -1 ? Mere : Bones[size_t(parent)]);
        const std::string boneName = NormaliseName(node.name);
        frame->SetName(boneName);
        if (boneName == "Bip01_R_Hand") Main = frame;
        if (boneName == "Bip01_Head") tete = frame;
        static constexpr std::string_view kSpine[4] = {"Bip01_Spine", "Bip01_Spine1",
                                                       "Bip01_Spine2", "Bip01_Spine3"};
        for (size_t s = 0; s < 4; ++s) {
            if (boneName == kSpine[s]) SpineFrames[s] = frame;
        }
        Bones.push_back(frame);
        BoneParents.push_back(parent);
        BoneByName.emplace(boneName, BoneCount);
        ++BoneCount;
        frame->SetAppData(uint32_t(BoneCount));
        dessineboite(frame);
    }
    BoneMeshes.resize(size_t(BoneCount));
    ResetBoneCaches();
}

void MDL::ReadPose(LineReader& in) {
    std::vector<std::string_view> f;
    std::string_view line;
    while ((line = in.Require("the time 0 block (no \"end\" line)")) != "end") {
        RequireFields(in, line, 7, f);
        const int32_t bone = FieldInteger(in, f[0], "the bone index");
        const std::string_view sep = settings.decimalSeparator;
        const float x = FieldSingle(in, f[1], sep, "x");
        const float y = FieldSingle(in, f[2], sep, "y");
        const float z = FieldSingle(in, f[3], sep, "z");
        const float rx = FieldSingle(in, f[4], sep, "rx");
        const float ry = FieldSingle(in, f[5], sep, "ry");
        const float rz = FieldSingle(in, f[6], sep, "rz");
        if (bone < 0 || bone >= BoneCount) {
            in.Fail("bone index " + std::to_string(bone) + " outside the skeleton of " +
                    std::to_string(BoneCount) + " bones");
        }
        scene::Frame& frame = *Bones[size_t(bone)];
        frame.SetPosition(nullptr, glm::vec3(y, x, z));
        frame.SetQuaternion(nullptr, EulerToQuat(ry, rx, rz));
    }
    ResetBoneCaches();
}

std::shared_ptr<scene::Texture> MDL::TextureNamed(const std::string& name, const LineReader& in) {
    for (const auto& [cachedName, texture] : TextureCache) {
        if (cachedName == name) return texture;
    }
    scene::LoadStatus status;
    std::shared_ptr<scene::Texture> texture = scene::LoadTexture(name, &TexturePath, &status);
    if (!texture) {
        const std::string reason = "texture \"" + name + "\" cannot be loaded: " + status.error;
        if (!settings.noteTextureErrors) in.Fail(reason);
        TextureErrorList.push_back(ModelError(in.path, in.LineNo(), reason).what());
    }
    TextureCache.emplace_back(name, texture);
    return texture;
}

namespace {

// One vertex line of a triangle, in the model's axes.
struct TriangleVertex {
    int32_t bone = 0;         // the line's own bone
    int32_t linkBone = 0;     // the bone the vertex rides (its heaviest link, else its own bone)
    glm::vec3 position{0.0f}; // (y, -x, z) of the file
    glm::vec3 normal{0.0f};
    float u = 0, v = 0; // v negated
};

// The bone a vertex rides: the link of greatest weight (the first of equal ones) when the line
// carries links after its nine fields (a count, then that many bone and weight pairs), else the
// line's own bone. Bones are range-checked by the caller.
int32_t RiddenBone(const LineReader& in, int32_t ownBone, std::string_view sep,
                   std::span<const std::string_view> f) {
    if (f.size() == 9) return ownBone;
    const int32_t count = FieldInteger(in, f[9], "the link count");
    if (count < 0 || f.size() != 10 + 2 * size_t(count)) {
        in.Fail("a vertex line with link count " + std::to_string(count) + " needs " +
                (count < 0 ? std::string("a count of 0 or more")
                           : std::to_string(10 + 2 * size_t(count)) + " fields") +
                ", it has " + std::to_string(f.size()));
    }
    int32_t bone = ownBone;
    float heaviest = 0.0f;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t linkBone = FieldInteger(in, f[10 + 2 * size_t(k)], "a link's bone");
        const float weight = FieldSingle(in, f[11 + 2 * size_t(k)], sep, "a link's weight");
        if (k == 0 || weight > heaviest) {
            bone = linkBone;
            heaviest = weight;
        }
    }
    return bone;
}

TriangleVertex ReadVertexLine(const LineReader& in, std::string_view line, std::string_view sep,
                              std::vector<std::string_view>& f) {
    RequireAtLeastFields(in, line, 9, f);
    TriangleVertex t;
    t.bone = FieldInteger(in, f[0], "the bone index");
    const double x = -FieldDouble(in, f[1], sep, "x");
    const float y = FieldSingle(in, f[2], sep, "y");
    const float z = FieldSingle(in, f[3], sep, "z");
    t.normal = {FieldSingle(in, f[4], sep, "nx"), FieldSingle(in, f[5], sep, "ny"),
                FieldSingle(in, f[6], sep, "nz")};
    t.u = FieldSingle(in, f[7], sep, "u");
    t.v = float(-FieldDouble(in, f[8], sep, "v"));
    t.position = glm::vec3(y, float(x), z);
    t.linkBone = RiddenBone(in, t.bone, sep, f);
    return t;
}

} // namespace

void MDL::ReadTriangles(LineReader& in) {
    SkinGroup& group = SkinGroups.emplace_back();
    ++SkinGroupCount;
    group.Mesh = scene::MeshBuilder::Create();
    Welder groupWelder;
    std::unordered_map<int32_t, Welder> boneWelders;
    std::vector<int32_t> linkOfBone(size_t(BoneCount), -1);

    std::string currentTexture;
    std::shared_ptr<scene::Material> material;
    std::shared_ptr<scene::Texture> texture;
    std::vector<std::string_view> f;
    const std::string_view sep = settings.decimalSeparator;

    std::string_view line = in.Require("the triangles section (no \"end\" line)");
    while (line != "end") {
        // 1. Texture of the triangle.
        const std::string textureName(TrimSpaces(line));
        if (textureName != currentTexture) {
            currentTexture = textureName;
            material = scene::Material::Create(10.0f);
            material->name = "v1";
            material->specular = glm::vec3(0.5f);
            material->ambient = glm::vec3(0.5f);
            texture = TextureNamed(textureName, in);
        }
        // 2-3. Three vertices, each carried into the frame of the bone it rides.
        TriangleVertex v[3];
        for (TriangleVertex& t : v) {
            t = ReadVertexLine(in, in.Require("a triangle (three vertex lines)"), sep, f);
            for (const int32_t b : {t.bone, t.linkBone}) {
                if (b < 0 || b >= BoneCount) {
                    in.Fail("bone index " + std::to_string(b) + " outside the skeleton of " +
                            std::to_string(BoneCount) + " bones");
                }
            }
            t.bone = t.linkBone;
            t.position = glm::vec3(ModelToBone(t.bone) * glm::vec4(t.position, 1.0f));
        }
        // 4-5. Rigid face on the bone's own mesh, or skinned face on the group's mesh.
        const bool rigid = MultiMesh && v[0].bone == v[1].bone && v[1].bone == v[2].bone;
        scene::MeshBuilder* target = group.Mesh.get();
        Welder* welder = &groupWelder;
        if (rigid) {
            const int32_t b = v[0].bone;
            std::shared_ptr<scene::MeshBuilder>& boneMesh = BoneMeshes[size_t(b)];
            if (!boneMesh) {
                boneMesh = scene::MeshBuilder::Create();
                Bones[size_t(b)]->AddVisual(boneMesh);
            }
            target = boneMesh.get();
            auto [it, isNew] = boneWelders.try_emplace(b);
            if (isNew) it->second.Build(*boneMesh);
            welder = &it->second;
        }
        const uint32_t face = target->CreateFace();
        target->SetFaceMaterial(face, material);
        target->SetFaceTexture(face, texture);
        // 6-7. Vertices in the order third, second, first; new vertices join their bone's link.
        for (int corner = 2; corner >= 0; --corner) {
            const TriangleVertex& t = v[corner];
            int32_t index = welder->Find(t.position, t.u, t.v);
            if (index < 0) {
                target->AddVertex(t.position);
                target->AddNormal(t.normal);
                index = int32_t(target->GetVertexCount() - 1);
                target->SetTextureCoordinates(size_t(index), t.u, t.v);
                welder->Add(t.position, t.u, t.v, index);
                if (!rigid) {
                    int32_t& link = linkOfBone[size_t(t.bone)];
                    if (link < 0) {
                        link = int32_t(group.Links.size());
                        group.Links.push_back(BoneLink{Bones[size_t(t.bone)], {}, {}});
                    }
                    group.Links[size_t(link)].VertexIndices.push_back(index);
                    group.Links[size_t(link)].LocalPositions.push_back(t.position);
                }
            }
            target->AddFaceCorner(face, uint32_t(index), uint32_t(index));
        }
        // 8.
        line = in.Require("the triangles section (no \"end\" line)");
    }

    if (group.Links.size() == 1) {
        group.Links[0].Frame->AddVisual(group.Mesh);
    } else {
        group.Mesh->SetFlags(scene::kFlagPickable);
        sol->AddVisual(group.Mesh);
    }
}

// ---------------------------------------------------------------------------------------------
// 4. Hit-box template boxes
// ---------------------------------------------------------------------------------------------

void MDL::dessineboite(const std::shared_ptr<scene::Frame>& boneFrame) {
    if (!Boite) return;
    HitBox* box = nullptr;
    for (HitBox& candidate : HitBoxes) {
        if (candidate.Name == boneFrame->GetName()) {
            box = &candidate;
            break;
        }
    }
    if (!box) return;

    const float x0 = box->MinX, y0 = box->MinY, z0 = box->MinZ;
    const float x1 = box->MaxX, y1 = box->MaxY, z1 = box->MaxZ;
    const glm::vec3 corners[24] = {
        {x1, y1, z1}, {x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, // +x
        {x0, y1, z0}, {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, // -x
        {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, // +y
        {x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}, // -y
        {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}, // -z
        {x0, y1, z1}, {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, // +z
    };
    int32_t faceData[6 * 5 + 1];
    for (int face = 0; face < 6; ++face) {
        faceData[face * 5] = 4;
        for (int k = 0; k < 4; ++k)
            faceData[face * 5 + 1 + k] = face * 4 + k;
    }
    faceData[30] = 0;

    auto mesh = scene::MeshBuilder::Create();
    mesh->AddFaces(corners, {}, faceData);
    auto material = scene::Material::Create(10.0f);
    mesh->SetMaterial(material);
    if (settings.team != 0) {
        mesh->SetColorRGB(1.0f, 0.0f, 0.0f);
    } else {
        mesh->SetColorRGB(0.0f, 0.0f, 1.0f);
    }
    mesh->SetName(boneFrame->GetName());
    mesh->SetFlags(scene::kFlagRendered);
    boneFrame->AddVisual(mesh);
    mesh->SetAppData(boneFrame->GetAppData());
    box->BoxMesh = mesh;
}

} // namespace model
