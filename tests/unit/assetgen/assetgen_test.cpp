// Reads back the generated content with independent readers (SDL for pictures and sounds, the
// scene's .x loader for the menu previews, small structural parsers for QC/SMD and map files
// written here) and checks what the game and a player rely on.
#include "tests/unit/assetgen/content_support.h"
#include "tools/assetgen/assetgen.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class Content : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new fs::path(MakeTempDir("content"));
        files_ = new std::vector<std::string>();
        std::string error;
        ok_ = assetgen::GenerateAll(*root_, *files_, error);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*root_);
        delete root_;
        delete files_;
    }
    static const fs::path& Root() { return *root_; }
    static std::vector<std::string> FilesWithExtension(const std::string& ext) {
        std::vector<std::string> out;
        for (const std::string& f : *files_) {
            std::string e = fs::path(f).extension().string();
            std::transform(e.begin(), e.end(), e.begin(), ::tolower);
            if (e == ext) out.push_back(f);
        }
        return out;
    }
    static inline fs::path* root_ = nullptr;
    static inline std::vector<std::string>* files_ = nullptr;
    static inline bool ok_ = false;
};

// ---------------------------------------------------------------------------------------------
// SMD reading for the checks (independent of the generator's code).

struct SmdNode {
    std::string name;
    int parent;
};
struct SmdKey {
    glm::vec3 pos, rot;
};
struct SmdVertexRec {
    int bone;
    glm::vec3 p; // as written (x negated)
};
struct Smd {
    std::vector<SmdNode> nodes;
    std::vector<std::vector<SmdKey>> frames; // frames[t][bone]
    std::vector<SmdVertexRec> vertices;      // three per triangle
    std::vector<std::string> textures;       // one per triangle
    bool hasTriangles = false;
};

std::vector<std::string> SplitSingleSpaces(const std::string& line) {
    std::vector<std::string> f;
    size_t at = 0;
    while (true) {
        const size_t sp = line.find(' ', at);
        f.push_back(line.substr(at, sp == std::string::npos ? std::string::npos : sp - at));
        if (sp == std::string::npos) break;
        at = sp + 1;
    }
    return f;
}

Smd ReadSmd(const fs::path& p) {
    Smd smd;
    const std::vector<std::string> lines = ReadLines(p);
    size_t i = 0;
    auto expectFields = [&](const std::vector<std::string>& f, size_t n) {
        EXPECT_EQ(f.size(), n) << p << " line " << i + 1;
        for (const std::string& s : f)
            EXPECT_FALSE(s.empty()) << p << " line " << i + 1;
        return f.size() == n;
    };
    while (i < lines.size()) {
        const std::string& l = lines[i++];
        if (l == "nodes") {
            for (; i < lines.size() && lines[i] != "end"; ++i) {
                const std::string& n = lines[i];
                const size_t q1 = n.find('"'), q2 = n.find('"', q1 + 1);
                EXPECT_NE(q2, std::string::npos);
                smd.nodes.push_back({n.substr(q1 + 1, q2 - q1 - 1), std::stoi(n.substr(q2 + 1))});
            }
            ++i;
        } else if (l.rfind("time ", 0) == 0) {
            const size_t t = size_t(std::stoi(l.substr(5)));
            EXPECT_EQ(t, smd.frames.size()) << p << ": time blocks in order";
            smd.frames.emplace_back(smd.nodes.size());
            for (; i < lines.size() && lines[i].rfind("time", 0) != 0 && lines[i] != "end"; ++i) {
                const auto f = SplitSingleSpaces(lines[i]);
                if (!expectFields(f, 7)) continue;
                const int b = std::stoi(f[0]);
                EXPECT_TRUE(b >= 0 && size_t(b) < smd.nodes.size()) << p;
                if (b < 0 || size_t(b) >= smd.nodes.size()) continue;
                smd.frames.back()[size_t(b)] = {
                    {std::stof(f[1]), std::stof(f[2]), std::stof(f[3])},
                    {std::stof(f[4]), std::stof(f[5]), std::stof(f[6])}};
            }
            if (i < lines.size() && lines[i] == "end") ++i;
        } else if (l == "triangles") {
            smd.hasTriangles = true;
            while (i < lines.size() && lines[i] != "end") {
                smd.textures.push_back(lines[i++]);
                for (int k = 0; k < 3 && i < lines.size(); ++k, ++i) {
                    const auto f = SplitSingleSpaces(lines[i]);
                    if (!expectFields(f, 9)) continue;
                    const int b = std::stoi(f[0]);
                    EXPECT_TRUE(b >= 0 && size_t(b) < smd.nodes.size()) << p << " line " << i + 1;
                    glm::vec3 n(std::stof(f[4]), std::stof(f[5]), std::stof(f[6]));
                    EXPECT_NEAR(glm::length(n), 1.f, 0.01f) << p << " line " << i + 1;
                    smd.vertices.push_back(
                        {b, {std::stof(f[1]), std::stof(f[2]), std::stof(f[3])}});
                }
            }
            ++i;
        }
    }
    return smd;
}

// World transforms of one frame: R = Rz * Ry * Rx, children after parents.
std::vector<glm::mat4> Pose(const Smd& smd, size_t frame) {
    std::vector<glm::mat4> w(smd.nodes.size());
    for (size_t b = 0; b < smd.nodes.size(); ++b) {
        const SmdKey& k = smd.frames[frame][b];
        glm::mat4 m = glm::translate(glm::mat4(1), k.pos);
        m = glm::rotate(m, k.rot.z, {0, 0, 1});
        m = glm::rotate(m, k.rot.y, {0, 1, 0});
        m = glm::rotate(m, k.rot.x, {1, 0, 0});
        const int parent = smd.nodes[b].parent;
        w[b] = parent < 0 ? m : w[size_t(parent)] * m;
    }
    return w;
}

// Reference vertices (true x) carried by an animation frame; returns the z range of the
// vertices bound to bones whose name contains `part` (all bones for "").
std::pair<float, float> PosedZRange(const Smd& ref, const Smd& anim, size_t frame,
                                    const std::string& part) {
    const auto rest = Pose(ref, 0);
    const auto now = Pose(anim, frame);
    float lo = 1e9f, hi = -1e9f;
    for (const SmdVertexRec& v : ref.vertices) {
        if (ref.nodes[size_t(v.bone)].name.find(part) == std::string::npos) continue;
        const glm::vec4 trueP(-v.p.x, v.p.y, v.p.z, 1);
        const glm::vec4 q = now[size_t(v.bone)] * glm::inverse(rest[size_t(v.bone)]) * trueP;
        lo = std::min(lo, q.z), hi = std::max(hi, q.z);
    }
    return {lo, hi};
}

struct Qc {
    std::vector<std::string> studios, sequences, hboxBones;
    bool hboxAfterBodygroup = false;
};

Qc ReadQc(const fs::path& p) {
    Qc qc;
    bool inGroup = false, seenGroup = false;
    for (const std::string& l : ReadLines(p)) {
        auto quoted = [&l] {
            const size_t a = l.find('"'), b = l.find('"', a + 1);
            return l.substr(a + 1, b - a - 1);
        };
        if (l.find("$hbox") != std::string::npos) {
            if (seenGroup) qc.hboxAfterBodygroup = true;
            qc.hboxBones.push_back(quoted());
            // closing quote, one space, three numbers, two spaces, three numbers
            const std::string nums = l.substr(l.find('"', l.find('"') + 1) + 2);
            const size_t two = nums.find("  ");
            EXPECT_NE(two, std::string::npos) << l;
            EXPECT_EQ(SplitSingleSpaces(nums.substr(0, two)).size(), 3u) << l;
            EXPECT_EQ(SplitSingleSpaces(nums.substr(two + 2)).size(), 3u) << l;
        } else if (l.find("$bodygroup") != std::string::npos) {
            inGroup = seenGroup = true;
        } else if (inGroup && l == "}") {
            inGroup = false;
        } else if (inGroup && l.find("studio") != std::string::npos) {
            std::string name = l.substr(l.find(' ') + 1);
            name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
            qc.studios.push_back(name);
        } else if (l.find("$sequence") != std::string::npos) {
            qc.sequences.push_back(quoted());
        }
    }
    EXPECT_FALSE(inGroup) << p << ": body group without its closing line";
    return qc;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TEST_F(Content, GeneratorIsDeterministic) {
    ASSERT_TRUE(ok_);
    const fs::path other = MakeTempDir("again");
    std::vector<std::string> files;
    std::string error;
    ASSERT_TRUE(assetgen::GenerateAll(other, files, error)) << error;
    ASSERT_EQ(files, *files_);
    ASSERT_GT(files.size(), 50u);
    for (const std::string& f : files)
        EXPECT_TRUE(ReadFile(Root() / f) == ReadFile(other / f)) << f << " differs between runs";
    fs::remove_all(other);
}

TEST_F(Content, EveryPictureLoadsWithSdlAndIsNotBlank) {
    ASSERT_TRUE(ok_);
    const auto bmps = FilesWithExtension(".bmp");
    ASSERT_FALSE(bmps.empty());
    for (const std::string& f : bmps) {
        SDL_Surface* s = SDL_LoadBMP((Root() / f).string().c_str());
        ASSERT_NE(s, nullptr) << f << ": " << SDL_GetError();
        EXPECT_GE(s->w, 8) << f;
        EXPECT_GE(s->h, 8) << f;
        SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
        ASSERT_NE(rgb, nullptr);
        std::set<uint32_t> colours;
        for (int y = 0; y < rgb->h && colours.size() < 3; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(rgb->pixels) + y * rgb->pitch;
            for (int x = 0; x < rgb->w; ++x)
                colours.insert(uint32_t(row[3 * x]) << 16 | uint32_t(row[3 * x + 1]) << 8 |
                               row[3 * x + 2]);
        }
        EXPECT_GE(colours.size(), 3u) << f << " is blank";
        SDL_FreeSurface(rgb);
        SDL_FreeSurface(s);
    }
}

TEST_F(Content, CharacterFilesHoldTheSkeletonBoxesAndOneSkinGroupPerTeam) {
    ASSERT_TRUE(ok_);
    const fs::path dir = Root() / "models";
    const Qc qc = ReadQc(dir / "terror.qc");
    EXPECT_FALSE(qc.hboxAfterBodygroup) << "boxes are attached only when listed before the body";
    ASSERT_EQ(qc.studios.size(), 2u) << "one skin group per team";

    // Skeleton: names and order the model code relies on.
    const Smd ref = ReadSmd(dir / (qc.studios[0] + ".smd"));
    ASSERT_GE(ref.nodes.size(), 8u);
    EXPECT_EQ(ref.nodes[0].name, "Bip01");
    EXPECT_EQ(ref.nodes[1].name, "Bip01 Pelvis");
    std::vector<std::string> pelvisChildren;
    std::set<std::string> names;
    for (const SmdNode& n : ref.nodes) {
        names.insert(n.name);
        if (n.parent == 1) pelvisChildren.push_back(n.name);
    }
    ASSERT_EQ(pelvisChildren.size(), 3u);
    EXPECT_EQ(pelvisChildren[0], "Bip01 Spine");
    for (const char* bone : {"Bip01 Spine1", "Bip01 Spine2", "Bip01 Spine3", "Bip01 Neck",
                             "Bip01 Head", "Bip01 R Hand", "Bip01 L Hand"})
        EXPECT_TRUE(names.count(bone)) << bone;
    EXPECT_NE(std::find(qc.hboxBones.begin(), qc.hboxBones.end(), "Bip01 Head"),
              qc.hboxBones.end());
    EXPECT_GE(qc.hboxBones.size(), 9u) << "head, torso, pelvis, arms and legs";
    for (const std::string& b : qc.hboxBones)
        EXPECT_TRUE(names.count(b)) << b;

    // Both skin groups: same skeleton, triangles on several bones, the team textures exist.
    for (const std::string& studio : qc.studios) {
        const Smd s = ReadSmd(dir / (studio + ".smd"));
        EXPECT_TRUE(s.hasTriangles) << studio;
        EXPECT_GT(s.vertices.size(), 300u) << studio;
        ASSERT_EQ(s.frames.size(), 1u) << studio << ": reference pose only";
        for (const std::string& t : s.textures)
            EXPECT_TRUE(fs::exists(dir / t)) << t;
        const auto z = PosedZRange(s, s, 0, "");
        EXPECT_NEAR(z.second - z.first, 72.f, 4.f) << studio << ": about 72 units tall";
    }
    for (const std::string& seq : qc.sequences)
        EXPECT_TRUE(fs::exists(dir / (seq + ".smd"))) << seq;
}

TEST_F(Content, EveryWeaponCarriesItsMeshOnTheRightHandWithAFlashAtTheMuzzle) {
    ASSERT_TRUE(ok_);
    const Smd body = ReadSmd(Root() / "models" / "terror.smd");
    const auto bodyRest = Pose(body, 0);
    const std::vector<std::string> qcs = {
        "onehanded_mac10.QC", "carbine_ump45.QC", "carbine_aug.QC", "carbine_p90.QC",
        "mp5_mp5.QC",         "mp5_ak47.QC",      "rifle_m4a1.QC",  "rifle_sg550.QC",
        "rifle_sg552.QC",     "m249_m249.QC",     "shotgun_m3.QC",  "rifle_awp.QC"};
    for (const std::string& name : qcs) {
        SCOPED_TRACE(name);
        const fs::path dir = Root() / "weapons";
        ASSERT_TRUE(fs::exists(dir / name));
        const Qc qc = ReadQc(dir / name);
        ASSERT_EQ(qc.studios.size(), 1u);
        const Smd w = ReadSmd(dir / (qc.studios[0] + ".smd"));
        int hand = -1, flash = -1;
        for (size_t i = 0; i < w.nodes.size(); ++i) {
            if (w.nodes[i].name == "Bip01 R Hand") hand = int(i);
            if (w.nodes[i].name == "flash") flash = int(i);
        }
        ASSERT_GE(hand, 0);
        ASSERT_GE(flash, 0);
        EXPECT_EQ(w.nodes[size_t(flash)].parent, hand);
        ASSERT_GT(w.vertices.size(), 60u);
        for (const SmdVertexRec& v : w.vertices)
            EXPECT_EQ(v.bone, hand);
        for (const std::string& t : w.textures)
            EXPECT_TRUE(fs::exists(dir / t)) << t;
        // The weapon's skeleton stands in the character's reference pose.
        const auto rest = Pose(w, 0);
        for (size_t b = 0; b < body.nodes.size(); ++b) {
            EXPECT_EQ(w.nodes[b].name, body.nodes[b].name);
            EXPECT_LT(glm::length(glm::vec3(rest[b][3] - bodyRest[b][3])), 1e-3f);
        }
        // In the right hand (character's right is -x), in front of the body, and the flash's
        // +y axis points out of the muzzle: no part of the weapon lies beyond it.
        const glm::vec3 handPos(rest[size_t(hand)][3]);
        const glm::vec3 muzzle(rest[size_t(flash)][3]);
        const glm::vec3 out = glm::normalize(glm::vec3(rest[size_t(flash)][1]));
        EXPECT_LT(handPos.x, 0.f);
        EXPECT_LT(out.y, -0.9f) << "the barrel points the way the character faces (-y)";
        float beyond = -1e9f, nearestToHand = 1e9f;
        for (const SmdVertexRec& v : w.vertices) {
            const glm::vec3 p(-v.p.x, v.p.y, v.p.z);
            beyond = std::max(beyond, glm::dot(p - muzzle, out));
            nearestToHand = std::min(nearestToHand, glm::length(p - handPos));
        }
        EXPECT_LT(beyond, 0.05f);
        EXPECT_LT(nearestToHand, 3.f) << "the grip is in the hand";
        EXPECT_TRUE(fs::exists(
            dir /
            ("640_" + name.substr(name.find('_') + 1, name.size() - name.find('_') - 4) + ".bmp")));
    }
}

TEST_F(Content, CharacterPreviewsLoadWithTheGamesLoader) {
    ASSERT_TRUE(ok_);
    for (const char* f : {"models/terror.x", "models/gign.x"}) {
        auto b = scene::MeshBuilder::Create();
        std::vector<std::string> textures;
        const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(
            *b, (Root() / f).string(), nullptr, [&](const std::string& name) {
                textures.push_back(name);
                return scene::LoadTexture((Root() / "models" / name).string());
            });
        ASSERT_TRUE(status.ok) << f << ": " << status.error;
        EXPECT_GT(b->GetFaceCount(), 100u) << f;
        const scene::Box box = b->GetBox();
        EXPECT_NEAR(box.Extent().y, 72.f, 5.f) << f << ": stands upright, y up";
        EXPECT_LT(box.Extent().x, box.Extent().y);
        ASSERT_FALSE(textures.empty()) << f;
        for (const scene::Face& face : b->Faces())
            EXPECT_NE(face.texture, nullptr) << f << ": a face without its picture";
    }
}

TEST_F(Content, EverySoundLoadsWithSdlAsShortMonoPcm) {
    ASSERT_TRUE(ok_);
    const auto wavs = FilesWithExtension(".wav");
    std::set<std::string> names;
    for (const std::string& f : wavs)
        names.insert(fs::path(f).filename().string());
    for (const char* need : {"enter.wav", "chat.wav", "pas.wav", "coeur.wav", "touche.wav",
                             "mort.wav", "reload.wav", "awp-1.wav", "mac10-1.wav", "m3-1.wav"})
        EXPECT_TRUE(names.count(need)) << need;
    std::set<std::string> fireSounds;
    for (const std::string& f : wavs) {
        SDL_AudioSpec spec;
        Uint8* buf = nullptr;
        Uint32 len = 0;
        ASSERT_NE(SDL_LoadWAV((Root() / f).string().c_str(), &spec, &buf, &len), nullptr)
            << f << ": " << SDL_GetError();
        EXPECT_EQ(spec.format, AUDIO_S16LSB) << f;
        EXPECT_EQ(spec.channels, 1) << f;
        EXPECT_TRUE(spec.freq == 22050 || spec.freq == 44100) << f;
        const double seconds = double(len) / 2.0 / spec.freq;
        EXPECT_GT(seconds, 0.1) << f;
        EXPECT_LT(seconds, 3.0) << f;
        int peak = 0;
        for (Uint32 i = 0; i + 1 < len; i += 2)
            peak = std::max(peak, std::abs(int(int16_t(buf[i] | buf[i + 1] << 8))));
        EXPECT_GT(peak, 8000) << f << " is (nearly) silent";
        if (f.find("-1.wav") != std::string::npos)
            fireSounds.insert(std::string(reinterpret_cast<char*>(buf), len));
        SDL_FreeWAV(buf);
    }
    EXPECT_EQ(fireSounds.size(), 12u) << "every weapon sounds different";
}
