// model/qc.cpp — the QC description reader (Load) and the hit-box lines.
#include "model/model_local.h"

namespace model {

namespace {

constexpr double kPi = 3.14159265359; // the game's value, kept for identical turns

// Offsets from the space that ends number k-1 to the start of number k (k = 2..6): three
// numbers separated by single spaces, two spaces, three numbers.
constexpr size_t kHitBoxGaps[5] = {1, 1, 2, 1, 1};

} // namespace

void MDL::Load(const std::shared_ptr<scene::Frame>& parent, std::string_view nomArg,
               std::string_view directory, bool isWeapon) {
    // 1. Frames of the model.
    sol = scene::Frame::Create(parent);
    socle = scene::Frame::Create(sol);
    Mere = scene::Frame::Create(socle);
    nom = std::string(nomArg);
    Mere->SetName(nom);
    const std::string qcPath = JoinPath(directory, nom);

    // 2. Weapon statistics.
    if (isWeapon) {
        const size_t underscore = nom.find('_');
        if (underscore == std::string::npos) {
            throw ModelError(qcPath, 0, "a weapon model name must read CLASS_NAME.EXT");
        }
        typ_arme = nom.substr(0, underscore);
        const std::string rest = nom.substr(underscore + 1);
        if (rest.size() < 3) {
            throw ModelError(qcPath, 0, "a weapon model name must end in a 3-character extension");
        }
        lib_arme = rest.substr(0, rest.size() - 3);
        sol->SetTraversalOptions(scene::kFlagNone);
        CaracteristiquesArme(lib_arme, NbBastos, PowerBastos, rang, snipper);
    }

    // 3. Reset.
    Bones.clear();
    BoneParents.clear();
    BoneByName.clear();
    BoneCount = 0;
    BoneMeshes.clear();
    SkinGroups.clear();
    SkinGroupCount = 0;
    AnimSets.clear();
    NbAni = 0;
    HitBoxes.clear();
    RenderCopies.clear();
    AnimErrorList.clear();
    TextureErrorList.clear();
    TextureCache.clear();

    // 4. Texture search path and model directory.
    TexturePath.SetFromList(settings.dataPath + ";" + std::string(directory));
    ModelDir = JoinPath(directory, "");

    // 5. The description, line by line.
    LineReader in;
    if (!in.Open(qcPath)) throw ModelError(qcPath, 0, "cannot open the model description");
    std::string_view line;
    while (in.Next(line)) {
        if (line.find("$hbox") != std::string_view::npos) {
            ReadQcHitBox(line, in.path, in.LineNo());
        } else if (line.find("$bodygroup") != std::string_view::npos) {
            std::string_view current = in.Require("the $bodygroup block");
            while (current != "}") {
                current = in.Require("the $bodygroup block (no \"}\" line)");
                if (current.find("studio") == std::string_view::npos) continue;
                const size_t space = current.find(' ');
                const std::string_view after =
                    space == std::string_view::npos ? current : current.substr(space + 1);
                const std::string smdName = ReplaceAll(after, "\"", "");
                const int lineNo = in.LineNo();
                try {
                    CreeFrame(smdName);
                } catch (const ModelError&) {
                    throw;
                } catch (const std::exception& e) {
                    throw ModelError(in.path, lineNo, e.what());
                }
            }
        } else if (line.find("$sequence") != std::string_view::npos) {
            const std::optional<std::string_view> name = QuotedName(line);
            if (!name) in.Fail("a $sequence line needs its name in double quotes");
            CreeAnim(*name);
        }
    }

    // 7. Axis correction of the model: the files' axes into the scene's.
    Mere->AddRotation(scene::Combine::After, glm::vec3(1, 0, 0), float(-90.0 * kPi / 180.0));
    Mere->AddRotation(scene::Combine::After, glm::vec3(0, 1, 0), float(90.0 * kPi / 180.0));
}

void MDL::ReadQcHitBox(std::string_view line, const std::string& file, int lineNo) {
    const auto fail = [&](const std::string& reason) { throw ModelError(file, lineNo, reason); };
    const std::optional<std::string_view> name = QuotedName(line);
    if (!name) fail("a $hbox line needs its bone name in double quotes");
    const size_t open = line.find('"');
    const size_t close = line.find('"', open + 1);

    float numbers[6];
    size_t start = close + 2;
    for (int k = 0; k < 6; ++k) {
        std::string_view field;
        if (start > line.size()) {
            field = {};
        } else if (k == 5) {
            field = line.substr(start);
        } else {
            const size_t space = line.find(' ', start);
            if (space == std::string_view::npos) {
                fail("a $hbox line needs six numbers after the bone name");
            }
            field = line.substr(start, space - start);
            // The gap before number 4 is two spaces; a number that follows a single space is
            // read whole rather than without its first character.
            size_t gap = kHitBoxGaps[k];
            if (gap == 2 && space + 1 < line.size() && line[space + 1] != ' ') gap = 1;
            start = space + gap;
        }
        const std::optional<float> value =
            ParseNumberSingle(TrimSpaces(field), settings.decimalSeparator);
        if (!value) {
            fail("$hbox number " + std::to_string(k + 1) + " is not a number: \"" +
                 std::string(TrimSpaces(field).substr(0, 40)) + "\"");
        }
        numbers[k] = *value;
    }

    HitBox box;
    box.Name = NormaliseName(*name);
    // The file's first two axes are exchanged.
    box.MinY = numbers[0];
    box.MinX = numbers[1];
    box.MinZ = numbers[2];
    box.MaxY = numbers[3];
    box.MaxX = numbers[4];
    box.MaxZ = numbers[5];
    HitBoxes.push_back(std::move(box));
}

} // namespace model
