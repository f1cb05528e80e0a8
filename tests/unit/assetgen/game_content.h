// tests/unit/assetgen/game_content.h — the generated content put together the way the game
// puts it together: models read by model::MDL with the settings the game core hands down,
// players built by player::Initplayer with the model's instance, the weapon copied into the
// hand frame, and maps loaded by the scene's .x readers into the map frames the core fills.
// Shared by the content read-back tests and the screenshot tests.
#pragma once

#include "model/mdl.h"
#include "platform/scene/scene.h"
#include "player/player.h"

#include <glm/glm.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace content {

namespace fs = std::filesystem;

// Player rules the content is built for, in scene units.
inline constexpr float kStanding = 2.5f;   // body root above the floor, standing
inline constexpr float kBodyHeight = 6.f;  // feet to top of the head
inline constexpr float kReach = 3.f;       // wall and ladder reach of the collision rays
inline constexpr float kProbeRaise = 0.2f; // the wall probe rides this much above the root

// ---------------------------------------------------------------------------------------------
// Models

// The settings the game core gives its models for an installation in `root`.
inline model::ModelSettings SettingsFor(const fs::path& root) {
    model::ModelSettings s;
    s.decimalSeparator = ".";
    s.dataPath = (root / "media").string();
    s.programDir = root.string();
    return s;
}

// The character model as a match loads it (hit boxes drawn on demand, no rigid meshes).
// Throws model::ModelError.
inline std::unique_ptr<model::MDL> LoadCharacter(const fs::path& root) {
    auto m = std::make_unique<model::MDL>();
    m->settings = SettingsFor(root);
    m->MultiMesh = false;
    m->Boite = true;
    m->Load(nullptr, "terror.qc", (root / "models").string() + "/", false);
    return m;
}

// A weapon model as a match loads it. Throws model::ModelError.
inline std::unique_ptr<model::MDL> LoadWeapon(const fs::path& root, const std::string& qcFile) {
    auto m = std::make_unique<model::MDL>();
    m->settings = SettingsFor(root);
    m->MultiMesh = true;
    m->Load(nullptr, qcFile, (root / "weapons").string(), true);
    return m;
}

// A player of the character model, built by the player code with `m`'s instance and standing
// at the origin of `playerRoot` (facing +z). `team` selects the skin group, `skin` the picture.
class Figure {
public:
    Figure(model::MDL& m, const std::shared_ptr<scene::Frame>& sceneRoot, int32_t team,
           const std::string& skin, int32_t indice, const fs::path& root)
        : model_(m) {
        world_.sceneFrame = sceneRoot;
        world_.playerRoot = scene::Frame::Create(sceneRoot);
        world_.wallFrame = scene::Frame::Create(sceneRoot);
        world_.mapName = "test";
        world_.dataPath = root.string();
        world_.characterModels[0] = &m;
        p.indice = indice;
        p.IdModele = team;
        p.texture = skin;
        p.Initplayer(world_);
        p.joueur->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    }
    Figure(const Figure&) = delete;
    Figure& operator=(const Figure&) = delete;
    ~Figure() { p.Destroy(); }

    // Poses the body: legs playing `legs` at `frame` (a negative frame means the held last one),
    // the torso playing `torso` at frame 0 or, when empty, nothing of its own.
    void Pose(const std::string& legs, double frame, const std::string& torso = {}) {
        p.Anipos = model_.RenvAnimations(legs);
        p.fps = frame < 0 ? model_.RenvAniMax(p.Anipos) : frame;
        p.AniBuste = torso.empty() ? -1 : model_.RenvAnimations(torso);
        p.fps2 = 0;
        model_.Anime(p);
        model_.AnimeSkmVertex();
    }

    // Puts `weapon` in the hand as the player code does on a weapon change: the hand frame
    // becomes a deep copy of the weapon's hand bone (its mesh and the `flash` bone below it).
    void Hold(const model::MDL& weapon) {
        if (p.MDroite && weapon.Main) CopyInto(*weapon.Main, p.MDroite);
    }

    player::player p;

private:
    void CopyInto(const scene::Frame& source, const std::shared_ptr<scene::Frame>& dest) {
        dest->DeleteAllVisuals();
        while (dest->GetChildCount() > 0)
            dest->DeleteChild(*dest->Children()[0]);
        for (const auto& v : source.Visuals())
            dest->AddVisual(v->CloneVisual());
        for (const auto& c : source.Children()) {
            auto f = scene::Frame::Create(dest);
            f->SetName(c->GetName());
            if (c->GetName() == "flash") p.flash = f;
            f->AddTransform(scene::Combine::Replace, c->GetLocalTransform());
            CopyInto(*c, f);
        }
    }

    model::MDL& model_;
    player::World world_;
};

// ---------------------------------------------------------------------------------------------
// Map definition files: line 1 the sky name taken whole; lines 2 to 6 "x:y:z" (blanks around
// each field removed, the third field running to the end of the line); line 7 optional, a whole
// number, where a missing, empty, non-numeric or zero line gives 24; later lines ignored.

struct MapDefinition {
    std::string sky;
    glm::vec3 light{0};
    std::array<glm::vec3, 4> spawns{};
    int meshScale = 24;
};

inline std::string TrimBlanks(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

inline std::optional<float> ParseFloatField(const std::string& field) {
    const std::string t = TrimBlanks(field);
    float v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return v;
}

inline std::optional<glm::vec3> ParseTriple(const std::string& line) {
    const size_t a = line.find(':');
    const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) return std::nullopt;
    const auto x = ParseFloatField(line.substr(0, a));
    const auto y = ParseFloatField(line.substr(a + 1, b - a - 1));
    const auto z = ParseFloatField(line.substr(b + 1));
    if (!x || !y || !z) return std::nullopt;
    return glm::vec3(*x, *y, *z);
}

inline std::optional<MapDefinition> ParseDefinition(const std::vector<std::string>& lines,
                                                    std::string& why) {
    if (lines.size() < 6) {
        why = "fewer than six lines";
        return std::nullopt;
    }
    MapDefinition d;
    d.sky = lines[0];
    const auto light = ParseTriple(lines[1]);
    if (!light) {
        why = "light line: " + lines[1];
        return std::nullopt;
    }
    d.light = *light;
    for (size_t i = 0; i < 4; ++i) {
        const auto s = ParseTriple(lines[2 + i]);
        if (!s) {
            why = "spawn line: " + lines[2 + i];
            return std::nullopt;
        }
        d.spawns[i] = *s;
    }
    if (lines.size() > 6) {
        const std::string t = TrimBlanks(lines[6]);
        int v = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (!t.empty() && ec == std::errc() && end == t.data() + t.size() && v != 0)
            d.meshScale = v;
    }
    return d;
}

// Lines of a text file without their CR LF (or LF) ends.
inline std::vector<std::string> TextLines(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(l);
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Maps

// One map as a match builds it. Every collision frame (floor, wall with its ladders, and both
// corridor sections) is left pickable, so the player's rays can be cast at any spawn point.
struct MapWorld {
    std::shared_ptr<scene::Frame> scene = scene::Frame::Create();
    std::shared_ptr<scene::Frame> decorA = scene::Frame::Create(scene);
    std::shared_ptr<scene::Frame> decorB = scene::Frame::Create(scene);
    std::shared_ptr<scene::Frame> floor = scene::Frame::Create(scene);
    std::shared_ptr<scene::Frame> wall = scene::Frame::Create(scene);
    std::shared_ptr<scene::Frame> ceiling = scene::Frame::Create(scene);
    std::shared_ptr<scene::Frame> ladder;  // file maps only, under wall
    std::vector<glm::vec3> spawns;         // body roots, scene coordinates
    std::vector<std::string> textureNames; // every name the loads asked the callback for
    std::vector<std::string> missingTextures;
    glm::vec3 light{0}; // point light, scene coordinates
    float skyScale = 0; // file maps: the sky box scale
    std::string error;  // empty when every required file loaded
};

namespace detail {

// Wraps a texture callback so that every name asked for, and every one not found, is noted.
inline scene::TextureCallback Noting(MapWorld& w, scene::TextureCallback inner) {
    return [&w, inner](const std::string& name) {
        w.textureNames.push_back(name);
        auto t = inner(name);
        if (!t) w.missingTextures.push_back(name);
        return t;
    };
}

inline std::shared_ptr<scene::MeshBuilder> LoadInto(MapWorld& w, const fs::path& dir,
                                                    const std::string& file,
                                                    const scene::TextureCallback& callback) {
    scene::SearchPath path;
    path.AddFolder(dir.string());
    auto b = scene::MeshBuilder::Create();
    const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(*b, file, &path, callback);
    if (!status) {
        w.error += file + ": " + status.error + "; ";
        return nullptr;
    }
    return b;
}

inline scene::TextureCallback MediaTextures(const fs::path& media) {
    return [media](const std::string& name) {
        scene::SearchPath path;
        path.AddFolder(media.string());
        return scene::LoadTexture(name, &path);
    };
}

} // namespace detail

// Builds map `name` of the installation in `root`: "couloirs", "entrepot" or a file map.
inline void BuildMap(MapWorld& w, const fs::path& root, const std::string& name) {
    using scene::kFlagRenderedAndPickable;
    const fs::path media = root / "media";
    if (name == "couloirs") {
        w.scene->AddLight(scene::Light::Create(scene::LightType::Ambient, {0.8f, 0.8f, 0.8f}));
        std::shared_ptr<scene::Frame> sections[6] = {
            scene::Frame::Create(w.floor),   scene::Frame::Create(w.wall),
            scene::Frame::Create(w.ceiling), scene::Frame::Create(w.floor),
            scene::Frame::Create(w.wall),    scene::Frame::Create(w.ceiling)};
        const auto textures = detail::Noting(w, detail::MediaTextures(media));
        for (const auto& decor : {w.decorA, w.decorB})
            for (const char* file : {"couloir1.x", "stair.x"})
                if (auto b = detail::LoadInto(w, media, file, textures)) decor->AddVisual(b);
        for (const auto& f : {w.decorB, sections[3], sections[4], sections[5]}) {
            f->AddRotation(scene::Combine::Before, {0, 1, 0}, 3.14159265f);
            f->SetPosition(w.decorA.get(), {69.9762f, 0.0f, -399.9594f});
        }
        w.decorA->SetTraversalOptions(scene::kFlagRendered);
        w.decorB->SetTraversalOptions(scene::kFlagRendered);
        const char* files[3] = {"sol.x", "mur.x", "plafond.x"};
        for (size_t i = 0; i < 6; ++i) {
            if (auto b = detail::LoadInto(w, media, files[i % 3], textures))
                sections[i]->AddVisual(b);
            // Collision meshes are never drawn; the player switches them to pickable.
            sections[i]->SetTraversalOptions(scene::kFlagPickable);
        }
        for (const auto& f : {w.floor, w.wall, w.ceiling})
            f->SetTraversalOptions(kFlagRenderedAndPickable);
        // Team 0 spawns in the first section, the others in the second.
        for (const auto& decor : {w.decorA, w.decorB})
            for (const glm::vec3& s : player::kCorridorSpawns)
                w.spawns.push_back(decor->TransformPoint(s));
        return;
    }
    w.scene->AddLight(scene::Light::Create(scene::LightType::Ambient, {0.4f, 0.4f, 0.4f}));
    model::Class1 mapTextures;
    mapTextures.programDir = root.string();
    if (name == "entrepot") {
        const auto textures = detail::Noting(w, mapTextures.AsCallback());
        scene::SearchPath path;
        path.AddFolder(media.string());
        const std::pair<const char*, std::shared_ptr<scene::Frame>> parts[3] = {
            {"lessols.x", w.floor}, {"lesmurs.x", w.wall}, {"inutile.x", w.ceiling}};
        for (const auto& [file, frame] : parts) {
            std::shared_ptr<scene::Frame> loaded;
            const auto status = scene::LoadXAsFrames(*frame, file, &path, textures, &loaded);
            if (!status || !loaded) {
                w.error += std::string(file) + ": " + status.error + "; ";
                continue;
            }
            loaded->AddScale(scene::Combine::Before, 0.1f, 0.1f, 0.1f);
        }
        for (const auto& f : {w.floor, w.wall})
            f->SetTraversalOptions(kFlagRenderedAndPickable);
        w.ceiling->SetTraversalOptions(scene::kFlagRendered);
        auto light = scene::Frame::Create(w.wall);
        light->AddLight(scene::Light::Create(scene::LightType::Point, {0.8f, 0.8f, 0.7f}));
        light->SetPosition(w.wall.get(), {-56.72978f, 15.63949f, -0.2641987f});
        w.light = light->GetPosition(w.scene.get());
        for (const glm::vec3& s : player::kWarehouseSpawns)
            w.spawns.push_back(w.wall->TransformPoint(s));
        return;
    }
    // A file map.
    const fs::path dir = root / "map";
    std::string why;
    const auto def = ParseDefinition(TextLines(dir / (name + ".map")), why);
    if (!def) {
        w.error += name + ".map: " + why;
        return;
    }
    mapTextures.skyName = def->sky;
    const auto textures = detail::Noting(w, mapTextures.AsCallback());
    const float k = float(def->meshScale);
    auto place = [&](const std::string& file, const std::shared_ptr<scene::Frame>& frame,
                     uint32_t flags) {
        auto b = detail::LoadInto(w, dir, file, textures);
        if (!b) return std::shared_ptr<scene::MeshBuilder>();
        b->SetFlags(flags);
        b->ScaleMesh(k, k, k);
        frame->AddVisual(b);
        frame->SetTraversalOptions(flags);
        return b;
    };
    place(name + ".sol", w.floor, kFlagRenderedAndPickable);
    place(name + ".mur", w.wall, kFlagRenderedAndPickable);
    w.ladder = scene::Frame::Create(w.wall);
    if (fs::exists(dir / (name + ".lad")))
        if (auto b = place(name + ".lad", w.ladder, kFlagRenderedAndPickable))
            b->SetName("echelle");
    place(name + ".pla", w.ceiling, scene::kFlagRendered);
    const glm::vec3 extent = w.scene->GetBox().Extent();
    float e = extent.x;
    if (extent.y > e) e = extent.y;
    if (extent.z > e) e = extent.z;
    w.skyScale = std::nearbyint(e) / 2.f;
    if (auto sky = detail::LoadInto(w, dir, "boite.x", textures)) {
        sky->ScaleMesh(w.skyScale, w.skyScale, w.skyScale);
        sky->SetQuality(scene::RenderQuality::UnlitFlat);
        w.decorA->AddVisual(sky);
    }
    w.decorA->SetTraversalOptions(scene::kFlagRendered);
    w.light = w.wall->TransformPoint(def->light);
    for (const glm::vec3& s : def->spawns)
        w.spawns.push_back(w.wall->TransformPoint(s));
}

// The file maps of an installation: the names of map/*.map, sorted.
inline std::vector<std::string> FileMapNames(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root / "map"))
        if (e.path().extension() == ".map") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Distance along a ray to the nearest pickable geometry under `top`, or -1.
inline float RayDistance(const scene::Frame& top, const glm::vec3& origin, const glm::vec3& dir) {
    scene::PickResults hits;
    return scene::Pick(top, origin, dir, hits) > 0 ? hits[0].distance : -1.f;
}

} // namespace content
