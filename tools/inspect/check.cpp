// tools/inspect/check.cpp — `check FILE.qc | MAPNAME [INSTALLDIR]`: loads a model or a map as
// the game does and lists every problem found in one pass, each as "FILE:LINE: text" (or
// "FILE: text" when no line applies).
//
// Index
//   1. Problems and the text scans that give them their lines
//   2. Models (character and weapon)
//   3. Maps
//   4. The command
#include "core/game.h"
#include "model/mdl.h"
#include "platform/system/system.h"
#include "tools/inspect/dump.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>

namespace inspect {

namespace {

namespace fs = std::filesystem;

// =============================================================================================
// 1. Problems and text scans
// =============================================================================================

class Problems {
public:
    void Add(const std::string& file, int line, const std::string& text) {
        list_.push_back(line > 0 ? file + ":" + std::to_string(line) + ": " + text
                                 : file + ": " + text);
    }
    // A message that already reads "FILE:LINE: reason".
    void AddLocated(const std::string& text) { list_.push_back(text); }
    size_t Count() const { return list_.size(); }
    void Print(std::ostream& out) const {
        for (const std::string& p : list_)
            out << p << "\n";
    }

private:
    std::vector<std::string> list_;
};

// The lines of a text file without their CR LF or LF; nullopt when it cannot be read.
std::optional<std::vector<std::string>> ReadLines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// A bone name as a file writes it ("Bip01 R Hand") from its normalised form.
std::string FileBoneName(std::string name) {
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

// What the QC reader meets, with line numbers (1-based), as Load reads the file.
struct QcScan {
    std::vector<int> hitBoxLines;                     // one per $hbox line, in order
    std::vector<std::pair<std::string, int>> studios; // SMD names of the body group, in order
    std::vector<std::pair<std::string, int>> sequences;
    int bodyGroupLine = 0; // the first $bodygroup line (0: none)
};

QcScan ScanQc(const std::vector<std::string>& lines) {
    QcScan scan;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const int number = int(i) + 1;
        if (Contains(line, "$hbox")) {
            scan.hitBoxLines.push_back(number);
        } else if (Contains(line, "$bodygroup")) {
            if (scan.bodyGroupLine == 0) scan.bodyGroupLine = number;
            size_t k = i + 1;
            while (k < lines.size() && lines[k] != "}") {
                ++k;
                if (k >= lines.size() || !Contains(lines[k], "studio")) continue;
                const size_t space = lines[k].find(' ');
                const std::string after =
                    space == std::string::npos ? lines[k] : lines[k].substr(space + 1);
                scan.studios.push_back({model::ReplaceAll(after, "\"", ""), int(k) + 1});
            }
            i = k;
        } else if (Contains(line, "$sequence")) {
            if (const std::optional<std::string_view> name = model::QuotedName(line))
                scan.sequences.push_back({std::string(*name), number});
        }
    }
    return scan;
}

// The 1-based number of the first line of `lines` equal to `text` after trimming spaces; 0.
int LineOf(const std::vector<std::string>& lines, std::string_view text) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (model::TrimSpaces(lines[i]) == text) return int(i) + 1;
    return 0;
}

// =============================================================================================
// 2. Models
// =============================================================================================

// The leg animations of every player and, per weapon class, the torso animations.
std::vector<std::pair<std::string, std::string>> AnimationsTheGameAsksFor() {
    std::vector<std::pair<std::string, std::string>> wanted = {
        {"idle1", "standing still"},
        {"run", "running"},
        {"crouch_idle1", "crouching still"},
        {"crouch_run", "running crouched"},
        {"death1", "dying"},
    };
    std::vector<std::string_view> classes;
    for (const model::WeaponRow& row : model::kWeaponTable)
        if (std::find(classes.begin(), classes.end(), row.classe) == classes.end())
            classes.push_back(row.classe);
    for (std::string_view classe : classes)
        for (std::string_view act : {"aim", "shoot", "reload"})
            wanted.push_back({"ref_" + std::string(act) + "_" + std::string(classe),
                              "the torso with a " + std::string(classe) + " weapon"});
    return wanted;
}

struct BoneNeed {
    std::string_view name; // normalised
    std::string_view why;
};

constexpr BoneNeed kCharacterBones[] = {
    {"Bip01_Head", "the first-person eye sits on it and its hit box makes head shots"},
    {"Bip01_R_Hand", "the weapon is held in it"},
    {"Bip01_Spine", "the upper body turns and bends with the view through the first three spine "
                    "bones"},
    {"Bip01_Spine1", "the upper body turns and bends with the view through the first three "
                     "spine bones"},
    {"Bip01_Spine2", "the upper body turns and bends with the view through the first three "
                     "spine bones"},
};

constexpr BoneNeed kWeaponBones[] = {
    {"Bip01_R_Hand", "its mesh and children are what the player holds"},
    {"flash", "the muzzle: the fire sound and third-person shots start there"},
};

void CheckBones(const model::MDL& m, bool weapon, const std::string& smdFile,
                const std::vector<std::string>& smdLines, Problems& problems) {
    const int nodesLine = LineOf(smdLines, "nodes");
    if (m.GetBoneCount() == 0) {
        problems.Add(smdFile, nodesLine, "no skeleton: the first mesh file has no bones");
        return;
    }
    for (const BoneNeed& need : weapon ? std::span<const BoneNeed>(kWeaponBones)
                                       : std::span<const BoneNeed>(kCharacterBones)) {
        if (m.ChercheFrames(need.name)) continue;
        problems.Add(smdFile, nodesLine,
                     "no bone \"" + FileBoneName(std::string(need.name)) + "\" (" +
                         std::string(need.why) + ")");
    }
}

void CheckHitBoxes(const model::MDL& m, const std::string& qcFile, const QcScan& scan,
                   Problems& problems) {
    const auto& boxes = m.GetHitBoxes();
    bool head = false;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const int line = i < scan.hitBoxLines.size() ? scan.hitBoxLines[i] : 0;
        const model::HitBox& box = boxes[i];
        head = head || Contains(box.Name, "Head");
        if (!m.ChercheFrames(box.Name)) {
            problems.Add(qcFile, line,
                         "hit box on bone \"" + FileBoneName(box.Name) +
                             "\", which the skeleton does not have: it can never be hit");
        } else if (!box.BoxMesh) {
            problems.Add(qcFile, line,
                         "hit box \"" + FileBoneName(box.Name) +
                             "\" comes after the $bodygroup: the game builds hit boxes only from "
                             "lines above it");
        }
    }
    if (!head)
        problems.Add(qcFile, 0,
                     "no hit box on a bone whose name contains \"Head\": no head shots possible");
}

// Each animation the game asks for, found as the game finds it (the first set whose name occurs
// in the request).
void CheckAnimations(const model::MDL& m, const std::string& qcFile,
                     const std::vector<int>& setLines, Problems& problems) {
    const auto& sets = m.GetAnimSets();
    for (const auto& [request, use] : AnimationsTheGameAsksFor()) {
        int32_t found = -1;
        for (size_t i = 0; i < sets.size(); ++i)
            if (Contains(request, sets[i]->GetName())) {
                found = int32_t(i);
                break;
            }
        if (found < 0) {
            problems.Add(qcFile, 0,
                         "no animation \"" + request + "\" (" + use +
                             "); the game plays the first sequence instead");
            continue;
        }
        const std::string& name = sets[size_t(found)]->GetName();
        if (name == request) continue;
        for (size_t j = size_t(found) + 1; j < sets.size(); ++j) {
            if (sets[j]->GetName() != request) continue;
            problems.Add(qcFile, setLines[size_t(found)],
                         "sequence \"" + name + "\" comes before \"" + request + "\" (line " +
                             std::to_string(setLines[j]) + ") and is played in its place: list \"" +
                             request + "\" first");
            break;
        }
    }
}

int CheckModel(const fs::path& qcPath, Problems& problems, std::ostream& out) {
    const std::string qcFile = qcPath.string();
    const std::optional<std::vector<std::string>> qcLines = ReadLines(qcPath);
    if (!qcLines) {
        problems.Add(qcFile, 0, "cannot be read");
        return 0;
    }
    const std::string name = qcPath.filename().string();
    std::string directory = qcPath.parent_path().string();
    if (directory.empty()) directory = ".";
    const bool weapon = LooksLikeWeapon(name);
    out << "checking " << (weapon ? "weapon" : "character") << " model " << qcFile << "\n";
    const QcScan scan = ScanQc(*qcLines);

    model::MDL m;
    m.MultiMesh = weapon;
    m.Boite = !weapon;
    // As the game loads its models: textures are searched in the installation's media folder
    // (beside the models and weapons folders), then in the model's own folder.
    m.settings.dataPath = (fs::absolute(directory).parent_path() / "media").string();
    m.settings.noteTextureErrors = true;
    bool loaded = true;
    try {
        m.Load(nullptr, name, directory, weapon);
    } catch (const std::exception& e) {
        problems.AddLocated(e.what());
        loaded = false;
    }
    for (const std::string& error : m.TextureErrors())
        problems.AddLocated(error);

    // Sequence files: the game skips a missing one without a word.
    std::vector<int> setLines;
    for (const auto& [sequence, line] : scan.sequences) {
        if (fs::is_regular_file(fs::path(directory) / (sequence + ".smd"))) {
            setLines.push_back(line);
        } else {
            problems.Add(qcFile, line,
                         "$sequence \"" + sequence + "\": " + sequence + ".smd not found");
        }
    }
    for (const std::string& error : m.AnimErrors())
        problems.AddLocated(error);

    if (scan.studios.empty()) {
        problems.Add(qcFile, scan.bodyGroupLine, "no mesh: a $bodygroup with a studio line");
        return 0;
    }
    const fs::path smdPath = fs::path(directory) / (scan.studios[0].first + ".smd");
    const std::vector<std::string> smdLines =
        ReadLines(smdPath).value_or(std::vector<std::string>{});
    CheckBones(m, weapon, smdPath.string(), smdLines, problems);
    if (!loaded) {
        out << "(the model stopped loading at the error above: its animations, hit boxes and "
               "meshes are not checked)\n";
        return 0;
    }
    if (weapon) return 0;
    CheckHitBoxes(m, qcFile, scan, problems);
    CheckAnimations(m, qcFile, setLines, problems);
    if (m.GetSkinGroupCount() < 2)
        problems.Add(qcFile, scan.studios.back().second,
                     "the character has " + std::to_string(m.GetSkinGroupCount()) +
                         " mesh(es); team 0 wears the first studio mesh and team 1 the second");
    return 0;
}

// =============================================================================================
// 3. Maps
// =============================================================================================

// The first line of a text .x file holding `"name"`; 0 when none (or a binary file).
int TextureLine(const fs::path& meshFile, const std::string& name) {
    const std::optional<std::vector<std::string>> lines = ReadLines(meshFile);
    if (!lines) return 0;
    const std::string quoted = "\"" + name + "\"";
    for (size_t i = 0; i < lines->size(); ++i)
        if (Contains((*lines)[i], quoted)) return int(i) + 1;
    return 0;
}

// Where a file map's pieces are found, as ReadMapFile finds them: its definition in the first
// map folder that holds it (the player's, then the installation's), its meshes there or else in
// the installation's map folder, its textures in its own content folder or else the
// installation's.
struct MapPlace {
    fs::path mapDir;            // the folder that holds the definition file
    scene::SearchPath meshPath; // mapDir, then the installation's map folder
    model::Class1 own, installed;
    std::string TextureFolders() const {
        const std::string ownFolder = (fs::path(own.programDir) / "map" / "textures").string();
        const std::string installedFolder =
            (fs::path(installed.programDir) / "map" / "textures").string();
        return ownFolder == installedFolder ? ownFolder : ownFolder + " nor " + installedFolder;
    }
};

// Loads one map mesh as ReadMapFile does, noting the textures the callback cannot find.
std::shared_ptr<scene::MeshBuilder> CheckMapMesh(const MapPlace& place, const std::string& file,
                                                 Problems& problems) {
    std::vector<std::string> missing;
    const scene::TextureCallback callback = [&](const std::string& textureName) {
        std::shared_ptr<scene::Texture> t = place.own.LoadTexture(textureName);
        if (!t && place.own.programDir != place.installed.programDir)
            t = place.installed.LoadTexture(textureName);
        if (!t && std::find(missing.begin(), missing.end(), textureName) == missing.end())
            missing.push_back(textureName);
        return t;
    };
    auto builder = scene::MeshBuilder::Create();
    const scene::LoadStatus status =
        scene::LoadXIntoMeshBuilder(*builder, file, &place.meshPath, callback);
    if (!status) {
        problems.AddLocated(status.error.empty() ? file + ": cannot be read" : status.error);
        return nullptr;
    }
    const fs::path meshFile = place.meshPath.Resolve(file);
    for (const std::string& t : missing) {
        problems.Add(meshFile.string(), TextureLine(meshFile, t),
                     "texture \"" + t + "\" not found in " + place.TextureFolders() +
                         " (nor under its other picture extensions)");
    }
    return builder;
}

int CheckMap(const std::string& mapName, const fs::path& installDir, Problems& problems,
             std::ostream& out) {
    out << "checking map " << mapName << " in " << installDir.string() << "\n";
    if (mapName == "couloirs" || mapName == "entrepot") {
        out << "(a built-in map: nothing to check)\n";
        return 0;
    }
    const std::vector<fs::path> folders = core::MapFolders(installDir);
    MapPlace place;
    place.mapDir = folders.back();
    for (const fs::path& folder : folders) {
        if (fs::is_regular_file(folder / (mapName + ".map"))) {
            place.mapDir = folder;
            break;
        }
    }
    const fs::path definition = place.mapDir / (mapName + ".map");
    out << "map folder " << place.mapDir.string() << "\n";
    place.meshPath.AddFolder(place.mapDir.string());
    if (place.mapDir != installDir / "map") place.meshPath.AddFolder((installDir / "map").string());
    place.own.programDir = place.mapDir.parent_path().string();
    place.installed.programDir = installDir.string();

    std::optional<core::MapDefinition> def;
    if (!fs::is_regular_file(definition)) {
        std::string where;
        for (const fs::path& folder : folders)
            where += (where.empty() ? "" : " nor in ") + folder.string();
        problems.Add(mapName + ".map", 0,
                     "missing: the map definition file (sky, light, four spawn points, scale) is "
                     "neither in " +
                         where);
    } else {
        std::ifstream in(definition, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        core::DecimalSeparator = sys::LocaleDecimalSeparator();
        try {
            def = core::ParseMapDefinition(text.str(), definition.string());
        } catch (const core::FatalError& e) {
            problems.AddLocated(e.what());
        }
    }
    place.own.skyName = place.installed.skyName = def ? def->skyName : std::string();

    const float meshScale = def ? float(def->meshScale) : 24.0f;
    std::shared_ptr<scene::MeshBuilder> floor;
    for (const char* suffix : {".sol", ".mur", ".lad", ".pla"}) {
        const std::string file = mapName + suffix;
        const bool ladder = std::string_view(suffix) == ".lad";
        // Ladders come only from the map's own folder; the other pieces from the search path.
        if (ladder ? !fs::is_regular_file(place.mapDir / file)
                   : place.meshPath.Resolve(file).empty()) {
            if (!ladder)
                problems.Add((place.mapDir / file).string(), 0,
                             std::string("missing: the map's ") +
                                 (suffix == std::string_view(".sol")   ? "floors"
                                  : suffix == std::string_view(".mur") ? "walls"
                                                                       : "ceilings"));
            continue;
        }
        auto mesh = CheckMapMesh(place, file, problems);
        if (mesh && std::string_view(suffix) == ".sol") floor = mesh;
    }
    if (place.meshPath.Resolve("boite.x").empty()) {
        problems.Add((installDir / "map" / "boite.x").string(), 0,
                     "missing: the sky box mesh of every map");
    } else {
        CheckMapMesh(place, "boite.x", problems);
    }

    // Spawn points: the floor ray of a player placed there must find the floor below, within the
    // map scale once the player stands (2.5 above it); otherwise every move of that player is
    // refused and it hangs where it was placed.
    if (def && floor) {
        floor->ScaleMesh(meshScale, meshScale, meshScale);
        auto floorFrame = scene::Frame::Create();
        floorFrame->AddVisual(floor);
        floor->SetFlags(scene::kFlagRenderedAndPickable);
        floorFrame->SetTraversalOptions(scene::kFlagRenderedAndPickable);
        constexpr double kStand = 2.5, kMapScale = 50.0;
        scene::PickResults hits;
        for (size_t i = 0; i < 4; ++i) {
            const core::Point3& s = def->spawns[i];
            std::ostringstream where;
            where << s.x << ":" << s.y << ":" << s.z;
            const std::string spawn = "spawn point " + std::to_string(i) + " (" + where.str() + ")";
            if (scene::Pick(*floorFrame, {s.x, s.y, s.z}, {0.0f, -1.0f, 0.0f}, hits) == 0) {
                problems.Add(definition.string(), int(3 + i),
                             spawn + " has no floor below it: a player placed there cannot move");
                continue;
            }
            const double drop = std::nearbyint(double(s.y) - (double(hits[0].point.y) + kStand));
            if (drop > kMapScale) {
                std::ostringstream height;
                height << double(s.y) - double(hits[0].point.y);
                problems.Add(definition.string(), int(3 + i),
                             spawn + " is " + height.str() +
                                 " above the floor, more than 52.5: a player placed there cannot "
                                 "move");
            }
        }
    }
    return 0;
}

} // namespace

// =============================================================================================
// 4. The command
// =============================================================================================

int CheckCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args.size() > 2 || args[0].empty()) {
        err << "usage: tarnhold-inspect check FILE.qc | MAPNAME [INSTALLDIR]\n";
        return 2;
    }
    const std::string& target = args[0];
    std::string lower = target;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    Problems problems;
    if (lower.size() > 3 && lower.ends_with(".qc")) {
        if (args.size() > 1) {
            err << "usage: tarnhold-inspect check FILE.qc | MAPNAME [INSTALLDIR]\n";
            return 2;
        }
        CheckModel(target, problems, out);
    } else {
        const fs::path installDir =
            args.size() > 1 ? fs::path(args[1]) : core::FindProgramDirectory();
        CheckMap(target, installDir, problems, out);
    }
    if (problems.Count() == 0) {
        out << "no problems found\n";
        return 0;
    }
    problems.Print(out);
    out << problems.Count() << (problems.Count() == 1 ? " problem\n" : " problems\n");
    return 1;
}

} // namespace inspect
