// Reads the generated file maps back as the game does and walks them with the player's rules:
// the definition file with the game's reading rules (reader written here), the meshes through
// the game's .x loader at the definition's mesh scale, texture names through the map texture rules,
// and the floor, wall and ladder rays of the player code. Distances are scene units.
#include "tests/unit/assetgen/content_support.h"
#include "tests/unit/assetgen/game_content.h"
#include "tools/assetgen/assetgen.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <glm/glm.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <queue>
#include <set>
#include <unordered_map>

namespace {

// ---------------------------------------------------------------------------------------------
// Player rules the maps are built for.

constexpr float kStanding = 2.5f;     // body root above the floor, standing
constexpr float kCrouched = 1.f;      // the same, crouched
constexpr float kProbeRaise = 0.2f;   // the wall probe is raised this much above the root
constexpr float kProbeBehind = 0.4f;  // and sits 5 model units (x 0.08) behind the body
constexpr float kReach = 3.f;         // wall and ladder reach
constexpr float kBodyHeight = 6.f;    // feet to top of the head
constexpr float kFileMapScale = 50.f; // deepest drop the floor ray lets a player fall on a file map

// The sky face names a map mesh uses and the picture suffix each stands for.
const std::map<std::string, std::string> kSkyFaces = {
    {"devant.bmp", "ft.bmp"},   {"droite.bmp", "rt.bmp"}, {"gauche.bmp", "lf.bmp"},
    {"derriere.bmp", "bk.bmp"}, {"bas.bmp", "dn.bmp"},    {"haut.bmp", "up.bmp"}};

// ---------------------------------------------------------------------------------------------
// Triangles bucketed on the xz plane, so the many short rays of a walk stay cheap.

using Tri = std::array<glm::vec3, 3>;

class TriGrid {
public:
    explicit TriGrid(std::vector<Tri> tris) : tris_(std::move(tris)) {
        for (size_t i = 0; i < tris_.size(); ++i) {
            glm::vec3 lo = tris_[i][0], hi = tris_[i][0];
            for (const glm::vec3& p : tris_[i])
                lo = glm::min(lo, p), hi = glm::max(hi, p);
            for (int x = Cell(lo.x); x <= Cell(hi.x); ++x)
                for (int z = Cell(lo.z); z <= Cell(hi.z); ++z)
                    cells_[Key(x, z)].push_back(i);
        }
    }
    bool empty() const { return tris_.empty(); }
    const std::vector<Tri>& tris() const { return tris_; }

    // Distance to the nearest triangle along the ray within maxDist, or -1.
    float Cast(glm::vec3 o, glm::vec3 d, float maxDist) const {
        const glm::vec3 e = o + d * maxDist;
        float best = -1;
        for (int x = Cell(std::min(o.x, e.x)); x <= Cell(std::max(o.x, e.x)); ++x)
            for (int z = Cell(std::min(o.z, e.z)); z <= Cell(std::max(o.z, e.z)); ++z) {
                const auto it = cells_.find(Key(x, z));
                if (it == cells_.end()) continue;
                for (size_t i : it->second) {
                    const float t = Hit(tris_[i], o, d);
                    if (t > 0 && t <= maxDist && (best < 0 || t < best)) best = t;
                }
            }
        return best;
    }

private:
    static int Cell(float v) { return int(std::floor(v / 4.f)); }
    static int64_t Key(int x, int z) { return int64_t(x) * 1000003 + z; }
    static float Hit(const Tri& t, glm::vec3 o, glm::vec3 d) {
        const glm::vec3 e1 = t[1] - t[0], e2 = t[2] - t[0], p = glm::cross(d, e2);
        const float det = glm::dot(e1, p);
        if (std::fabs(det) < 1e-9f) return -1;
        const glm::vec3 s = o - t[0];
        const float u = glm::dot(s, p) / det;
        const glm::vec3 q = glm::cross(s, e1);
        const float v = glm::dot(d, q) / det;
        if (u < 0 || v < 0 || u + v > 1) return -1;
        return glm::dot(e2, q) / det;
    }
    std::vector<Tri> tris_;
    std::unordered_map<int64_t, std::vector<size_t>> cells_;
};

// One file map as the game builds it: meshes scaled by the definition's mesh scale, the ladder
// frame hanging under the wall frame (so wall rays meet ladders too).
struct FileMap {
    std::string name;
    content::MapDefinition def;
    TriGrid floors{{}}, walls{{}}, ceilings{{}}, ladders{{}};
    std::set<std::string> textures; // every texture name the meshes use
};

class FileMaps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new fs::path(MakeTempDir("filemaps"));
        std::vector<std::string> files;
        std::string error;
        ok_ = assetgen::GenerateAll(*root_, files, error);
        maps_ = new std::vector<FileMap>();
        if (!ok_) return;
        std::vector<fs::path> defs;
        for (const auto& e : fs::directory_iterator(*root_ / "map"))
            if (e.path().extension() == ".map") defs.push_back(e.path());
        std::sort(defs.begin(), defs.end());
        for (const fs::path& d : defs) {
            FileMap m;
            m.name = d.stem().string();
            std::string why;
            const auto def = content::ParseDefinition(ReadLines(d), why);
            EXPECT_TRUE(def.has_value()) << d << ": " << why;
            if (!def) continue;
            m.def = *def;
            const float k = float(m.def.meshScale);
            auto mesh = [&](const char* ext) { return *root_ / "map" / (m.name + ext); };
            std::vector<std::string> names;
            m.floors = TriGrid(LoadTriangles(mesh(".sol"), k, &names));
            m.walls = TriGrid(LoadTriangles(mesh(".mur"), k, &names));
            m.ceilings = TriGrid(LoadTriangles(mesh(".pla"), k, &names));
            if (fs::exists(mesh(".lad"))) {
                std::vector<Tri> lad = LoadTriangles(mesh(".lad"), k, &names);
                std::vector<Tri> walls = m.walls.tris();
                walls.insert(walls.end(), lad.begin(), lad.end());
                m.walls = TriGrid(walls);
                m.ladders = TriGrid(lad);
            }
            m.textures.insert(names.begin(), names.end());
            maps_->push_back(std::move(m));
        }
    }
    static void TearDownTestSuite() {
        fs::remove_all(*root_);
        delete root_;
        delete maps_;
    }
    static const fs::path& Root() { return *root_; }
    static const std::vector<FileMap>& Maps() { return *maps_; }
    static inline fs::path* root_ = nullptr;
    static inline std::vector<FileMap>* maps_ = nullptr;
    static inline bool ok_ = false;
};

// ---------------------------------------------------------------------------------------------
// Walking with the player's rules, on a lattice of one-unit steps along x and z (a running
// player covers about that much per frame).

struct Place {
    glm::vec3 foot; // point on the floor
};

// The floor ray: from the root (floor + h) straight down. Returns the new floor height, or
// nothing when there is no floor below or it lies deeper than a file map lets a player fall.
std::optional<float> FloorBelow(const FileMap& m, glm::vec3 root, float h) {
    const float down = m.floors.Cast(root, {0, -1, 0}, 1000.f);
    if (down < 0) return std::nullopt;
    const float floorY = root.y - down;
    if (std::nearbyint(root.y - (floorY + h)) > kFileMapScale) return std::nullopt;
    return floorY;
}

// The wall probe: from just behind the body at root height + 0.2 along the motion.
bool WallAhead(const FileMap& m, glm::vec3 foot, glm::vec3 dir, float h) {
    const glm::vec3 probe = foot + glm::vec3(0, h + kProbeRaise, 0) - dir * kProbeBehind;
    return m.walls.Cast(probe, dir, kReach) >= 0;
}

struct Walk {
    std::vector<glm::vec3> feet; // every floor point reached
    bool Reaches(glm::vec3 foot, float within = 1.01f) const {
        return std::any_of(feet.begin(), feet.end(), [&](const glm::vec3& f) {
            return std::fabs(f.x - foot.x) <= within && std::fabs(f.z - foot.z) <= within &&
                   std::fabs(f.y - foot.y) < 0.5f;
        });
    }
};

Walk WalkFrom(const FileMap& m, glm::vec3 foot, float h) {
    Walk w;
    std::set<std::array<int, 3>> seen;
    std::queue<glm::vec3> todo;
    auto key = [&](glm::vec3 f) {
        return std::array<int, 3>{int(std::lround(f.x - foot.x)), int(std::lround(f.z - foot.z)),
                                  int(std::lround(f.y * 10))};
    };
    seen.insert(key(foot));
    todo.push(foot);
    const glm::vec3 dirs[] = {{1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}};
    while (!todo.empty() && w.feet.size() < 400000) {
        const glm::vec3 f = todo.front();
        todo.pop();
        w.feet.push_back(f);
        for (const glm::vec3& d : dirs) {
            if (WallAhead(m, f, d, h)) continue;
            const glm::vec3 root = f + d + glm::vec3(0, h, 0);
            const auto floorY = FloorBelow(m, root, h);
            if (!floorY) continue;
            const glm::vec3 next(root.x, *floorY, root.z);
            if (seen.insert(key(next)).second) todo.push(next);
        }
    }
    return w;
}

glm::vec3 SpawnFoot(const FileMap& m, glm::vec3 spawn) {
    const float down = m.floors.Cast(spawn, {0, -1, 0}, 1000.f);
    return {spawn.x, spawn.y - std::max(down, 0.f), spawn.z};
}

// ---------------------------------------------------------------------------------------------
// Pictures

struct Picture {
    int w = 0, h = 0;
    std::vector<glm::ivec3> px;
    glm::ivec3 At(int x, int y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
};

std::optional<Picture> LoadPicture(const fs::path& p) {
    SDL_Surface* s = SDL_LoadBMP(p.string().c_str());
    if (!s) return std::nullopt;
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(s);
    if (!rgb) return std::nullopt;
    Picture pic;
    pic.w = rgb->w, pic.h = rgb->h;
    for (int y = 0; y < rgb->h; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(rgb->pixels) + y * rgb->pitch;
        for (int x = 0; x < rgb->w; ++x)
            pic.px.push_back({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
    }
    SDL_FreeSurface(rgb);
    return pic;
}

// The texture file a map mesh's texture name resolves to, by the map texture rules.
fs::path ResolveTexture(const fs::path& root, const std::string& sky, const std::string& name) {
    const auto face = kSkyFaces.find(name);
    if (face != kSkyFaces.end()) return root / "map" / "env" / (sky + face->second);
    return root / "map" / "textures" / name;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TEST_F(FileMaps, DefinitionsReadWithTheGameRulesAndNameMeshesThatLoad) {
    ASSERT_TRUE(ok_);
    ASSERT_GE(Maps().size(), 2u);
    int withLadder = 0;
    for (const FileMap& m : Maps()) {
        SCOPED_TRACE(m.name);
        // The lobby lists a map by its file name up to the first '.', and plays it lower-case.
        std::string lower = m.name;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        EXPECT_EQ(m.name, lower);
        EXPECT_EQ(m.name.find('.'), std::string::npos);
        // Names the game builds in or treats specially never reach the definition file.
        for (const char* special : {"couloirs", "entrepot", "village"})
            EXPECT_NE(m.name, special);
        EXPECT_FALSE(m.def.sky.empty());
        EXPECT_FALSE(m.floors.empty());
        EXPECT_FALSE(m.walls.empty());
        EXPECT_FALSE(m.ceilings.empty());
        withLadder += m.ladders.empty() ? 0 : 1;
        // Every texture resolves to a picture SDL reads, sky faces to this map's own sky.
        EXPECT_FALSE(m.textures.empty());
        for (const std::string& t : m.textures) {
            const fs::path p = ResolveTexture(Root(), m.def.sky, t);
            EXPECT_TRUE(LoadPicture(p).has_value()) << t << " -> " << p;
        }
        for (const auto& [face, suffix] : kSkyFaces)
            EXPECT_TRUE(LoadPicture(ResolveTexture(Root(), m.def.sky, face)).has_value())
                << m.def.sky << suffix;
        // The light hangs inside the map, above its floors.
        const float lightDown = m.floors.Cast(m.def.light, {0, -1, 0}, 1000.f);
        EXPECT_GT(lightDown, kBodyHeight) << "the light is above head height";
    }
    EXPECT_GE(withLadder, 1) << "at least one map has a ladder";
}

TEST_F(FileMaps, EverySpawnPointCanBeReachedOnFootStandingOrCrouched) {
    ASSERT_TRUE(ok_);
    for (const FileMap& m : Maps()) {
        const glm::vec3 start = SpawnFoot(m, m.def.spawns[0]);
        for (float h : {kStanding, kCrouched}) {
            SCOPED_TRACE(m.name + (h == kStanding ? " standing" : " crouched"));
            const Walk w = WalkFrom(m, start, h);
            // The walk stays inside the map and covers a good part of it.
            EXPECT_GT(w.feet.size(), 2000u);
            float lowest = 1e9f, highest = -1e9f;
            for (const glm::vec3& f : w.feet)
                lowest = std::min(lowest, f.y), highest = std::max(highest, f.y);
            EXPECT_GT(highest - lowest, 5.f) << "stairs lead to an upper level";
            for (size_t i = 1; i < 4; ++i)
                EXPECT_TRUE(w.Reaches(SpawnFoot(m, m.def.spawns[i])))
                    << "spawn " << i << " cannot be reached from spawn 0";
        }
    }
}

TEST_F(FileMaps, LaddersAreClimbedFromAWalkableFloorOntoALanding) {
    ASSERT_TRUE(ok_);
    int climbed = 0;
    for (const FileMap& m : Maps()) {
        if (m.ladders.empty()) continue;
        SCOPED_TRACE(m.name);
        glm::vec3 lo(1e9f), hi(-1e9f);
        for (const Tri& t : m.ladders.tris())
            for (const glm::vec3& p : t)
                lo = glm::min(lo, p), hi = glm::max(hi, p);
        // The ladder stands in a vertical plane: thin across, climbed along its thin axis.
        const bool thinX = hi.x - lo.x < hi.z - lo.z;
        const glm::vec3 axis = thinX ? glm::vec3(1, 0, 0) : glm::vec3(0, 0, 1);
        const glm::vec3 centre((lo.x + hi.x) / 2, lo.y, (lo.z + hi.z) / 2);
        EXPECT_LT(thinX ? hi.x - lo.x : hi.z - lo.z, 1.f);
        EXPECT_GT(hi.y - lo.y, kBodyHeight) << "a ladder leads somewhere higher";
        const Walk walk = WalkFrom(m, SpawnFoot(m, m.def.spawns[0]), kStanding);
        bool found = false;
        for (float side : {-1.f, 1.f}) {
            // The climber stands on the floor just within reach, facing the ladder.
            const glm::vec3 stand = centre + axis * (side * (kReach - kProbeBehind - 0.2f));
            const float down = m.floors.Cast(stand + glm::vec3(0, 1, 0), {0, -1, 0}, 5.f);
            if (down < 0) continue;
            const glm::vec3 foot = stand + glm::vec3(0, 1 - down, 0);
            const glm::vec3 toward = -axis * side;
            const glm::vec3 landing = centre + toward * 2.f + glm::vec3(0, hi.y + 5.f, 0);
            const auto landingFloor = FloorBelow(m, landing, kStanding);
            if (!landingFloor || *landingFloor < lo.y + kBodyHeight) continue;
            found = true;
            EXPECT_TRUE(walk.Reaches(foot, 1.5f)) << "the foot of the ladder is walkable";
            EXPECT_GT(*landingFloor, hi.y - kStanding - 1.f) << "the landing is at the top";
            // Every height of the climb feels the ladder with one of the three probe rays
            // (at the root, 5 below, 5 above), so the climb never stalls.
            const glm::vec3 probe = foot - toward * kProbeBehind;
            for (float y = kStanding; foot.y + y < hi.y + 5.f; y += 0.5f) {
                bool felt = false;
                for (float dy : {0.f, -5.f, 5.f}) {
                    const glm::vec3 o = probe + glm::vec3(0, y + dy, 0);
                    const float t = m.ladders.Cast(o, toward, 50.f);
                    felt = felt || (t >= 0 && t < kReach);
                }
                EXPECT_TRUE(felt) << "the ladder is lost at height " << foot.y + y;
                if (!felt) break;
            }
            // Past the top, nothing blocks the step onto the landing.
            const glm::vec3 top = probe + glm::vec3(0, hi.y + 5.f - foot.y + kProbeRaise, 0);
            EXPECT_LT(m.walls.Cast(top, toward, 2 * kReach), 0.f) << "blocked at the top";
        }
        EXPECT_TRUE(found) << "no side of the ladder has a floor at its foot and a landing";
        climbed += found ? 1 : 0;
    }
    EXPECT_GE(climbed, 1);
}

TEST_F(FileMaps, SkyBoxNamesTheSixFacesFacesInwardAndEnclosesEveryMap) {
    ASSERT_TRUE(ok_);
    // Read by the game's loader; each face's texture stands for the name its material gives.
    auto box = scene::MeshBuilder::Create();
    const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(
        *box, (Root() / "map" / "boite.x").string(), nullptr, [](const std::string& name) {
            scene::Image one;
            one.width = one.height = 1;
            one.rgba = {0, 0, 0, 255};
            return scene::Texture::CreateFromImage(one, name);
        });
    ASSERT_TRUE(status.ok) << status.error;
    struct Sample {
        std::string face;
        glm::vec3 p;
        glm::vec2 uv;
    };
    std::set<std::string> names;
    std::vector<Sample> border;
    glm::vec3 lo(1e9f), hi(-1e9f);
    std::vector<uint32_t> indices, faceOf;
    box->Triangulate(indices, &faceOf);
    ASSERT_FALSE(indices.empty());
    for (size_t t = 0; t < faceOf.size(); ++t) {
        const auto& texture = box->GetFace(faceOf[t]).texture;
        ASSERT_NE(texture, nullptr);
        const std::string tex = texture->GetName();
        names.insert(tex);
        glm::vec3 p[3];
        glm::vec2 uv[3];
        for (size_t k = 0; k < 3; ++k) {
            p[k] = box->GetVertex(indices[3 * t + k]);
            uv[k] = box->GetTextureCoordinates(indices[3 * t + k]);
            lo = glm::min(lo, p[k]), hi = glm::max(hi, p[k]);
        }
        // Drawn from inside: clockwise seen from the centre (front faces of the renderer).
        const glm::vec3 n = glm::cross(p[1] - p[0], p[2] - p[0]);
        EXPECT_LT(glm::dot(n, (p[0] + p[1] + p[2]) / 3.f), 0.f) << tex;
        for (size_t k = 0; k < 3; ++k)
            for (float f : {0.21f, 0.43f, 0.57f, 0.79f}) // symmetric, never between texels
                border.push_back(
                    {tex, glm::mix(p[k], p[(k + 1) % 3], f), glm::mix(uv[k], uv[(k + 1) % 3], f)});
    }
    std::set<std::string> expected;
    for (const auto& [face, suffix] : kSkyFaces)
        expected.insert(face);
    EXPECT_EQ(names, expected);

    // Scaled as the game scales it, the box encloses every map with room to spare.
    for (const FileMap& m : Maps()) {
        glm::vec3 mlo(1e9f), mhi(-1e9f);
        for (const TriGrid* g : {&m.floors, &m.walls, &m.ceilings})
            for (const Tri& t : g->tris())
                for (const glm::vec3& p : t)
                    mlo = glm::min(mlo, p), mhi = glm::max(mhi, p);
        const glm::vec3 ext = mhi - mlo;
        float e = ext.x;
        if (ext.y > e) e = ext.y;
        if (ext.z > e) e = ext.z;
        const float k = std::nearbyint(e) / 2.f;
        for (int a = 0; a < 3; ++a) {
            EXPECT_LT(lo[a] * k, mlo[a] - 0.1f * e) << m.name << " axis " << a;
            EXPECT_GT(hi[a] * k, mhi[a] + 0.1f * e) << m.name << " axis " << a;
        }
    }

    // Each sky is seamless: where two faces meet, both pictures show the same colour.
    std::set<std::string> skies;
    for (const FileMap& m : Maps())
        skies.insert(m.def.sky);
    for (const std::string& sky : skies) {
        std::map<std::string, Picture> pics;
        for (const auto& [face, suffix] : kSkyFaces) {
            const auto pic = LoadPicture(ResolveTexture(Root(), sky, face));
            ASSERT_TRUE(pic.has_value()) << sky << suffix;
            pics[face] = *pic;
        }
        auto sample = [&](const Sample& b) {
            const Picture& pic = pics[b.face];
            const int x = std::clamp(int(std::lround(b.uv.x * float(pic.w) - 0.5f)), 0, pic.w - 1);
            const int y = std::clamp(int(std::lround(b.uv.y * float(pic.h) - 0.5f)), 0, pic.h - 1);
            return pic.At(x, y);
        };
        int seams = 0;
        for (size_t i = 0; i < border.size(); ++i)
            for (size_t j = i + 1; j < border.size(); ++j) {
                if (border[i].face == border[j].face ||
                    glm::length(border[i].p - border[j].p) > 1e-4f)
                    continue;
                ++seams;
                const glm::ivec3 d = glm::abs(sample(border[i]) - sample(border[j]));
                EXPECT_LE(std::max({d.x, d.y, d.z}), 2)
                    << sky << ": " << border[i].face << " / " << border[j].face;
            }
        EXPECT_GE(seams, 12 * 4) << "all twelve edges of the box compared";
    }
}

TEST_F(FileMaps, BraceTexturesKeyOutPureBlueAndKeepTheRestVisible) {
    ASSERT_TRUE(ok_);
    int braced = 0;
    for (const auto& e : fs::directory_iterator(Root() / "map" / "textures")) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name[0] != '{') continue;
        ++braced;
        const auto pic = LoadPicture(e.path());
        ASSERT_TRUE(pic.has_value()) << name;
        size_t blue = 0;
        for (const glm::ivec3& c : pic->px)
            blue += c == glm::ivec3(0, 0, 255) ? 1 : 0;
        EXPECT_GT(blue, pic->px.size() / 10) << name << ": holes show through";
        EXPECT_LT(blue, pic->px.size() * 9 / 10) << name << ": something is left to see";
    }
    EXPECT_GE(braced, 1);
    // The maps use them on surfaces a player walks on or collides with.
    int used = 0;
    for (const FileMap& m : Maps())
        for (const std::string& t : m.textures)
            used += !t.empty() && t[0] == '{' ? 1 : 0;
    EXPECT_GE(used, 1);
}
