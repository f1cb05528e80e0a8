// core/map.cpp — map definition files and the world builders.
//
// Index
//   1. Definition file reader (ParseMapDefinition), sky box scale, map-name rules
//   2. File maps (ReadMapFile)
//   3. The corridor map (BuildCorridorMap, ExportLogos)
//   4. The warehouse map (BuildWarehouseMap, DressWarehouse)
#include "core/game.h"

#include "model/mdl.h"
#include "platform/registry/registry.h"
#include "platform/system/system.h"
#include "platform/window/window.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace core {

// =============================================================================================
// 1. Definition file reader
// =============================================================================================

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void Malformed(std::string_view file, int line, const std::string& reason) {
    throw FatalError(std::string(file) + ":" + std::to_string(line) + ": " + reason);
}

float ReadField(std::string_view field, std::string_view file, int line) {
    const std::string_view trimmed = TrimBlanks(field);
    const std::optional<float> value = model::ParseNumberSingle(trimmed, DecimalSeparator);
    if (!value) Malformed(file, line, "'" + std::string(trimmed) + "' is not a number");
    return *value;
}

// "x:y:z": the text between the separators; the third field runs to the end of the line.
Point3 ReadTriple(std::string_view text, std::string_view file, int line) {
    const size_t first = text.find(':');
    if (first == std::string_view::npos) Malformed(file, line, "expected x:y:z, no ':' found");
    const size_t second = text.find(':', first + 1);
    if (second == std::string_view::npos) Malformed(file, line, "expected x:y:z, one ':' found");
    Point3 p;
    p.x = ReadField(text.substr(0, first), file, line);
    p.y = ReadField(text.substr(first + 1, second - first - 1), file, line);
    p.z = ReadField(text.substr(second + 1), file, line);
    return p;
}

} // namespace

MapDefinition ParseMapDefinition(std::string_view text, std::string_view fileName) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size() && lines.size() < 7) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    static const char* const kLineNames[6] = {"the sky name",  "the light position",
                                              "spawn point 0", "spawn point 1",
                                              "spawn point 2", "spawn point 3"};
    for (size_t i = lines.size(); i < 6; ++i)
        Malformed(fileName, int(i) + 1,
                  std::string("end of file where ") + kLineNames[i] + " was expected");

    MapDefinition def;
    def.skyName = std::string(lines[0]);
    def.light = ReadTriple(lines[1], fileName, 2);
    for (size_t i = 0; i < 4; ++i)
        def.spawns[i] = ReadTriple(lines[2 + i], fileName, int(3 + i));
    if (lines.size() > 6) {
        const int32_t scale = ToLong(TrimBlanks(lines[6]));
        // A negative scale would turn the level inside out: it counts as no scale.
        def.meshScale = scale > 0 ? scale : 24;
    }
    return def;
}

double SkyBoxScale(const scene::Box& box) {
    const glm::vec3 extent = box.Extent();
    float e = extent.x;
    if (extent.y > e) e = extent.y;
    if (extent.z > e) e = extent.z;
    return std::nearbyint(double(e)) / 2.0; // default rounding mode: halves to even
}

bool IsVillageMap(std::string_view mapName) {
    constexpr std::string_view kVillage = "VILLAGE";
    if (mapName.size() != kVillage.size()) return false;
    for (size_t i = 0; i < mapName.size(); ++i) {
        char c = mapName[i];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c != kVillage[i]) return false;
    }
    return true;
}

// =============================================================================================
// 2. File maps
// =============================================================================================

namespace {

// A map name is a plain file name: a name with a folder part or ".." (from the network or
// the lobby) names no map.
bool IsPlainMapName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos &&
           name.find('\\') == std::string_view::npos && name != "." && name != ".." &&
           name.find('\0') == std::string_view::npos;
}

// The unpack instructions name the player's own map folder, the first one looked in and the
// one the player can always write to.
std::string MissingMapMessage() {
    const std::string folder = MapFolders(DataPath).front().string();
    return "dezipper le fichier " + folder + "/" + MapName + ".zip\n dans le repertoire " + folder +
           "\n et relancer le jeu !!";
}

// Texture loading of a file map: the pictures of the content folder `root` that holds the map
// (its map/textures and map/env), else those of the installation, so a downloaded map may use
// the installed textures and sky boxes.
class MapTextures {
public:
    MapTextures(const fs::path& root, const std::string& skyName) {
        own_.programDir = root.string();
        own_.skyName = skyName;
        installed_.programDir = DataPath;
        installed_.skyName = skyName;
    }
    // The callback refers to this object, which must outlive the loads.
    scene::TextureCallback AsCallback() const {
        return [this](const std::string& name) {
            std::shared_ptr<scene::Texture> texture = own_.LoadTexture(name);
            if (!texture && own_.programDir != installed_.programDir)
                texture = installed_.LoadTexture(name);
            return texture;
        };
    }

private:
    model::Class1 own_, installed_;
};

void AppendDot() {
    if (MatchWindow* w = GetMatchWindow()) w->AppendLog(".");
}

// Loads `name` into a new mesh builder with the map texture callback; throws FatalError.
std::shared_ptr<scene::MeshBuilder> LoadMapMesh(const std::string& name,
                                                const scene::SearchPath& path,
                                                const scene::TextureCallback& callback) {
    auto builder = scene::MeshBuilder::Create();
    const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(*builder, name, &path, callback);
    if (!status) throw FatalError(status.error.empty() ? name + ": cannot be read" : status.error);
    return builder;
}

void PlaceMapMesh(const std::shared_ptr<scene::MeshBuilder>& builder, uint32_t meshFlags,
                  float scale, const std::shared_ptr<scene::Frame>& frame, uint32_t frameFlags) {
    builder->SetFlags(meshFlags);
    builder->ScaleMesh(scale, scale, scale);
    frame->AddVisual(builder);
    frame->SetTraversalOptions(frameFlags);
}

} // namespace

fs::path FindMapFile() {
    if (!IsPlainMapName(MapName)) return {};
    std::error_code ec;
    for (const fs::path& folder : MapFolders(DataPath)) {
        fs::path file = folder / (MapName + ".map");
        if (fs::is_regular_file(file, ec)) return file;
    }
    return {};
}

void ReadMapFile() {
    // 1. The definition file: downloaded when missing, else the instructions to unpack the map.
    if (!IsPlainMapName(MapName)) throw FatalError(MissingMapMessage());
    fs::path file = FindMapFile();
    if (file.empty()) {
        const std::vector<fs::path> folders = MapFolders(DataPath);
        sys::Log("map " + MapName + ": " + MapName + ".map is missing from " + folders[0].string() +
                 " and " + folders[1].string());
        if (MatchWeb* web = GetMatchWeb()) web->FetchMap(MapName);
        file = FindMapFile();
        if (file.empty()) throw FatalError(MissingMapMessage());
    }
    const fs::path mapDir = file.parent_path();
    std::error_code ec;

    // 2. The seven lines.
    MapScale = 50.0;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) throw FatalError(file.string() + ": cannot be read");
    const MapDefinition def = ParseMapDefinition(text.str(), file.string());
    SkyName = def.skyName;
    LightPosition = def.light;
    for (size_t i = 0; i < 4; ++i)
        SpawnPoints[i] = def.spawns[i];
    const float meshScale = float(def.meshScale);

    // 3. The light, carried by the camera frame.
    auto lightFrame = scene::Frame::Create(CameraFrame);
    lightFrame->AddLight(scene::Light::Create(scene::LightType::Point, {0.8f, 0.8f, 0.7f}));
    lightFrame->SetPosition(WallFrame.get(), {LightPosition.x, LightPosition.y, LightPosition.z});

    // 4-5. Search path and texture callback: the map's own folder, then the installation's
    // (the sky box mesh and shared pieces).
    scene::SearchPath path;
    path.AddFolder(mapDir.string());
    const fs::path installedMaps = fs::path(DataPath) / "map";
    if (mapDir != installedMaps) path.AddFolder(installedMaps.string());
    const MapTextures textures(mapDir.parent_path(), SkyName);
    const scene::TextureCallback callback = textures.AsCallback();

    // 6. Floors.
    PlaceMapMesh(LoadMapMesh(MapName + ".sol", path, callback), scene::kFlagRenderedAndPickable,
                 meshScale, FloorFrame, scene::kFlagRenderedAndPickable);
    // 7. Walls; the village loses two faces.
    auto walls = LoadMapMesh(MapName + ".mur", path, callback);
    if (IsVillageMap(MapName)) {
        walls->DeleteFace(4795);
        walls->DeleteFace(4788);
    }
    PlaceMapMesh(walls, scene::kFlagRenderedAndPickable, meshScale, WallFrame,
                 scene::kFlagRenderedAndPickable);
    // 8. Ladders, when the map has them.
    if (fs::is_regular_file(mapDir / (MapName + ".lad"), ec)) {
        auto ladders = LoadMapMesh(MapName + ".lad", path, callback);
        PlaceMapMesh(ladders, scene::kFlagRenderedAndPickable, meshScale, LadderFrame,
                     scene::kFlagRenderedAndPickable);
        ladders->SetName("echelle");
    }
    // 9. Ceilings: drawn, never hit.
    PlaceMapMesh(LoadMapMesh(MapName + ".pla", path, callback), scene::kFlagRendered, meshScale,
                 CeilingFrame, scene::kFlagRendered);
    // 10. The sky box around the whole level, drawn with its pictures' own colours.
    const double skyScale = SkyBoxScale(SceneFrame->GetBox());
    auto sky = LoadMapMesh("boite.x", path, callback);
    sky->ScaleMesh(float(skyScale), float(skyScale), float(skyScale));
    sky->SetQuality(scene::RenderQuality::UnlitFlat);
    DecorFrameA->AddVisual(sky);
    DecorFrameA->SetTraversalOptions(scene::kFlagRendered);
    sys::Log("map " + MapName + ": built from " + file.string());
}

// =============================================================================================
// 3. The corridor map
// =============================================================================================

namespace {

// Texture loading of the built-in meshes: the search path, one picture per name per load.
scene::TextureCallback SearchPathTextures(const scene::SearchPath& path) {
    auto cache = std::make_shared<std::map<std::string, std::shared_ptr<scene::Texture>>>();
    return [cache, path](const std::string& name) -> std::shared_ptr<scene::Texture> {
        const auto found = cache->find(name);
        if (found != cache->end()) return found->second;
        std::shared_ptr<scene::Texture> t = scene::LoadTexture(name, &path);
        (*cache)[name] = t;
        return t;
    };
}

scene::SearchPath MediaPath() {
    scene::SearchPath path;
    path.AddFolder((fs::path(DataPath) / "media").string());
    return path;
}

// The corridor's textures: the exported logos first, then the media folder.
scene::SearchPath CorridorPath() {
    scene::SearchPath path;
    path.AddFolder(LogoDirectory().string());
    path.AddFolder((fs::path(DataPath) / "media").string());
    return path;
}

// Loads `file` from the media folder into a new builder added to `frame`, its textures found
// on the corridor's path; throws FatalError.
void LoadCorridorPiece(const std::string& file, const std::shared_ptr<scene::Frame>& frame) {
    const scene::SearchPath path = CorridorPath();
    auto builder = scene::MeshBuilder::Create();
    const scene::LoadStatus status =
        scene::LoadXIntoMeshBuilder(*builder, file, &path, SearchPathTextures(path));
    if (!status) throw FatalError(status.error.empty() ? file + ": cannot be read" : status.error);
    frame->AddVisual(builder);
}

// Atomically replaces `target` by `bytes`. False when that fails. The temporary file is the
// process's own, so two programs sharing the folder never write into each other's.
bool CopyPicture(const std::string& bytes, const fs::path& target) {
    const fs::path temporary = target.string() + "." + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

// The render window's logo pictures: logo.bmp, logo2.bmp, logo3.bmp as the installation has
// them when first asked, then the two variants of the fourth.
struct LogoPictures {
    bool loaded = false;
    std::string logo, logo2, logo3, fourth[2];
};

LogoPictures& Logos() {
    static LogoPictures logos;
    if (!logos.loaded) {
        const fs::path media = fs::path(DataPath) / "media";
        logos.logo = ReadBytes(media / "logo.bmp");
        logos.logo2 = ReadBytes(media / "logo2.bmp");
        logos.logo3 = ReadBytes(media / "logo3.bmp");
        logos.fourth[0] = ReadBytes(media / "logo4_0.bmp");
        logos.fourth[1] = ReadBytes(media / "logo4_1.bmp");
        logos.loaded = true;
    }
    return logos;
}

} // namespace

fs::path LogoDirectory() {
    return registry::DataDirectory() / "media";
}

void ExportLogos(int variant) {
    const LogoPictures& logos = Logos();
    const fs::path media = LogoDirectory();
    std::error_code ec;
    fs::create_directories(media, ec);
    const std::pair<const std::string*, const char*> files[4] = {
        {&logos.logo2, "logo2.bmp"},
        {&logos.logo3, "logo3.bmp"},
        {&logos.logo, "logo.bmp"},
        {&logos.fourth[variant == 0 ? 0 : 1], "logo4.bmp"}};
    for (const auto& [bytes, name] : files) {
        // A picture that could not be read leaves the file as it is.
        if (bytes->empty() || !CopyPicture(*bytes, media / name))
            sys::Log(std::string("logo not written: ") + name);
    }
}

void BuildCorridorMap() {
    const scene::SearchPath media = CorridorPath();
    // 1. Scale and light.
    MapScale = 5.0;
    SceneFrame->AddLight(scene::Light::Create(scene::LightType::Ambient, {0.8f, 0.8f, 0.8f}));
    // 2. The six section frames.
    SectionFrames = {scene::Frame::Create(FloorFrame),   scene::Frame::Create(WallFrame),
                     scene::Frame::Create(CeilingFrame), scene::Frame::Create(FloorFrame),
                     scene::Frame::Create(WallFrame),    scene::Frame::Create(CeilingFrame)};
    // 3-4. The two visible sections, each with its own fourth logo.
    ExportLogos(0);
    AppendDot();
    LoadCorridorPiece("couloir1.x", DecorFrameA);
    AppendDot();
    LoadCorridorPiece("stair.x", DecorFrameA);
    AppendDot();
    ExportLogos(1);
    AppendDot();
    LoadCorridorPiece("couloir1.x", DecorFrameB);
    AppendDot();
    LoadCorridorPiece("stair.x", DecorFrameB);
    AppendDot();
    // 5. The second section turned by 180 degrees and moved to the junction.
    const glm::vec3 junction(69.9762f, 0.0f, -399.9594f);
    for (const auto& frame : {DecorFrameB, SectionFrames[3], SectionFrames[4], SectionFrames[5]}) {
        frame->AddRotation(scene::Combine::Before, {0.0f, 1.0f, 0.0f}, float(M_PI));
        frame->SetPosition(DecorFrameA.get(), junction);
    }
    // 6. The visible corridor is drawn, never hit.
    DecorFrameB->SetTraversalOptions(scene::kFlagRendered);
    DecorFrameA->SetTraversalOptions(scene::kFlagRendered);
    // 7. The named collision meshes. From here on a failing step is skipped.
    static const char* const kNames[6] = {"sol", "mur", " plafond", "sol2", "mur2", " plafond2"};
    std::array<std::shared_ptr<scene::MeshBuilder>, 6> sections;
    for (size_t i = 0; i < 6; ++i) {
        sections[i] = scene::MeshBuilder::Create();
        sections[i]->SetName(kNames[i]);
        SectionFrames[i]->AddVisual(sections[i]);
    }
    // 8. Their geometry.
    AppendDot();
    static const char* const kFiles[3] = {"sol.x", "mur.x", "plafond.x"};
    for (size_t i = 0; i < 6; ++i) {
        const scene::LoadStatus status = scene::LoadXIntoMeshBuilder(
            *sections[i], kFiles[i % 3], &media, SearchPathTextures(media));
        if (!status) sys::Log("corridor section not loaded: " + status.error);
    }
    // 9. Solid map frames; the sections start neither drawn nor hit.
    FloorFrame->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    WallFrame->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    CeilingFrame->SetTraversalOptions(scene::kFlagRenderedAndPickable);
    for (const auto& frame : SectionFrames)
        frame->SetTraversalOptions(scene::kFlagNone);
}

// =============================================================================================
// 4. The warehouse map
// =============================================================================================

void BuildWarehouseMap() {
    MapScale = 5.0;
    SceneFrame->AddLight(scene::Light::Create(scene::LightType::Ambient, {0.4f, 0.4f, 0.4f}));
    const scene::SearchPath media = MediaPath();
    model::Class1 textures;
    textures.programDir = DataPath;
    const scene::TextureCallback callback = textures.AsCallback();
    const std::pair<const char*, std::shared_ptr<scene::Frame>> parts[3] = {
        {"lessols.x", FloorFrame}, {"lesmurs.x", WallFrame}, {"inutile.x", CeilingFrame}};
    for (const auto& [file, frame] : parts) {
        AppendDot();
        std::shared_ptr<scene::Frame> loaded;
        const scene::LoadStatus status =
            scene::LoadXAsFrames(*frame, file, &media, callback, &loaded);
        if (!status || !loaded)
            throw FatalError(status.error.empty() ? std::string(file) + ": cannot be read"
                                                  : status.error);
        loaded->AddScale(scene::Combine::Before, 0.1f, 0.1f, 0.1f);
    }
    auto lightFrame = scene::Frame::Create(WallFrame);
    lightFrame->AddLight(scene::Light::Create(scene::LightType::Point, {0.8f, 0.8f, 0.7f}));
    lightFrame->SetPosition(WallFrame.get(), {-56.72978f, 15.63949f, -0.2641987f});
    DressWarehouse();
}

namespace {
void DressSubtree(scene::Frame& frame, const std::shared_ptr<scene::Material>& material) {
    for (const auto& visual : frame.Visuals()) {
        if (visual->Kind() != scene::VisualKind::MeshBuilder) continue;
        auto& builder = static_cast<scene::MeshBuilder&>(*visual);
        builder.SetMaterial(material);
        builder.SetColor({1.0f, 1.0f, 1.0f, 1.0f});
    }
    for (const auto& child : frame.Children())
        DressSubtree(*child, material);
}
} // namespace

void DressWarehouse() {
    auto material = scene::Material::Create(10.0f);
    material->specular = glm::vec3(0.2f);
    material->emissive = glm::vec3(0.0f);
    material->ambient = glm::vec3(0.3f);
    for (const auto& frame : {FloorFrame, WallFrame, CeilingFrame}) {
        if (!frame || frame->GetChildCount() == 0) continue;
        // The hierarchy loaded into the frame; its meshes may hang on sub-frames.
        DressSubtree(*frame->Children()[0], material);
    }
}

void BuildMap() {
    if (MapName == "couloirs") {
        BuildCorridorMap();
    } else if (MapName == "entrepot") {
        BuildWarehouseMap();
    } else {
        SceneFrame->AddLight(scene::Light::Create(scene::LightType::Ambient, {0.4f, 0.4f, 0.4f}));
        LadderFrame = scene::Frame::Create(WallFrame);
        ReadMapFile();
    }
}

player::World MapWorld() {
    player::World world;
    world.sceneFrame = SceneFrame;
    world.playerRoot = PlayerRootFrame;
    world.wallFrame = WallFrame;
    world.decorFrameA = DecorFrameA;
    world.decorFrameB = DecorFrameB;
    world.mapName = MapName;
    for (size_t i = 0; i < 4; ++i)
        world.spawnPoints[i] = {SpawnPoints[i].x, SpawnPoints[i].y, SpawnPoints[i].z};
    world.floorFrame = FloorFrame;
    world.ladderFrame = LadderFrame;
    world.sectionFrames = SectionFrames;
    world.mapScale = MapScale;
    return world;
}

} // namespace core
