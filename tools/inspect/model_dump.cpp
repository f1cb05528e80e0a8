// tools/inspect/model_dump.cpp — the "model" command: loads a QC model with the game's reader
// (the model directory is the file's folder) and prints its bones, hit boxes, skin groups, rigid
// bone meshes, animation sets, Main and tete.
//
// Weapon mode (rigid bone meshes, weapon statistics) is chosen by --weapon, or when the file's
// name reads CLASS_NAME.EXT with NAME in the weapon table; otherwise the model is read as the
// game reads its character (hit boxes drawn, no rigid meshes).
#include "model/mdl.h"
#include "tools/inspect/dump.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>

namespace inspect {

namespace {

// Fixed four decimals; -0 prints as 0 so the text is stable.
std::string Num(float value) {
    char buffer[64];
    const double v = std::fabs(value) < 0.00005 ? 0.0 : double(value);
    std::snprintf(buffer, sizeof buffer, "%.4f", v);
    return buffer;
}

std::string Vec(const glm::vec3& v) {
    return "(" + Num(v.x) + ", " + Num(v.y) + ", " + Num(v.z) + ")";
}

std::string FrameName(const std::shared_ptr<scene::Frame>& frame) {
    return frame ? "\"" + frame->GetName() + "\"" : "none";
}

void Print(const model::MDL& m, bool weapon, std::ostream& out) {
    out << "model \"" << m.nom << "\"" << (weapon ? " weapon" : " character") << "\n";
    if (weapon) {
        out << "weapon class \"" << m.typ_arme << "\" name \"" << m.lib_arme << "\" magazine "
            << m.NbBastos << " power " << m.PowerBastos << " rank " << m.rang << " scope "
            << (m.snipper ? "yes" : "no") << "\n";
    }

    const auto& bones = m.GetBones();
    out << "bones " << m.GetBoneCount() << "\n";
    for (size_t i = 0; i < bones.size(); ++i) {
        glm::vec3 dir, up;
        bones[i]->GetOrientation(nullptr, dir, up);
        out << "  bone " << i << " \"" << bones[i]->GetName() << "\" parent "
            << m.GetBoneParents()[i] << " position " << Vec(bones[i]->GetPosition(nullptr))
            << " direction " << Vec(dir) << " up " << Vec(up) << "\n";
    }

    out << "hitboxes " << m.GetHitBoxes().size() << "\n";
    for (const model::HitBox& h : m.GetHitBoxes()) {
        out << "  hitbox \"" << h.Name << "\" min " << Vec({h.MinX, h.MinY, h.MinZ}) << " max "
            << Vec({h.MaxX, h.MaxY, h.MaxZ}) << (h.BoxMesh ? " drawn" : "") << "\n";
    }

    out << "skingroups " << m.GetSkinGroupCount() << "\n";
    for (size_t g = 0; g < m.GetSkinGroups().size(); ++g) {
        const model::SkinGroup& group = m.GetSkinGroups()[g];
        out << "  group " << g << " vertices " << group.Mesh->GetVertexCount() << " faces "
            << group.Mesh->GetFaceCount() << " links " << group.Links.size()
            << (group.Links.size() == 1 ? " rigid" : " skinned") << "\n";
        for (const model::BoneLink& link : group.Links) {
            out << "    link \"" << link.Frame->GetName() << "\" vertices "
                << link.VertexIndices.size() << "\n";
        }
    }

    size_t rigidCount = 0;
    for (const auto& mesh : m.GetBoneMeshes())
        rigidCount += mesh ? 1 : 0;
    out << "bonemeshes " << rigidCount << "\n";
    for (size_t b = 0; b < m.GetBoneMeshes().size(); ++b) {
        const auto& mesh = m.GetBoneMeshes()[b];
        if (!mesh) continue;
        out << "  bonemesh " << b << " \"" << bones[b]->GetName() << "\" vertices "
            << mesh->GetVertexCount() << " faces " << mesh->GetFaceCount() << "\n";
    }

    out << "animations " << m.NbAni << "\n";
    for (size_t i = 0; i < m.GetAnimSets().size(); ++i) {
        const auto& set = m.GetAnimSets()[i];
        out << "  animation " << i << " \"" << set->GetName() << "\" last "
            << m.RenvAniMax(int32_t(i)) << " bones " << set->Animations().size() << "\n";
    }
    for (const std::string& error : m.AnimErrors())
        out << "  animation error: " << error << "\n";

    out << "Main " << FrameName(m.Main) << "\n";
    out << "tete " << FrameName(m.tete) << "\n";
}

} // namespace

bool LooksLikeWeapon(const std::string& fileName) {
    const size_t underscore = fileName.find('_');
    if (underscore == std::string::npos || fileName.size() < underscore + 4) return false;
    const std::string name = fileName.substr(underscore + 1, fileName.size() - underscore - 4);
    int32_t magazine = 0, power = 0, rank = 0;
    bool scope = false;
    return model::CaracteristiquesArme(name, magazine, power, rank, scope);
}

int ModelCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string file;
    int weaponChoice = -1; // -1 guess, 0 character, 1 weapon
    for (const std::string& a : args) {
        if (a == "--weapon") {
            weaponChoice = 1;
        } else if (a == "--character") {
            weaponChoice = 0;
        } else if (file.empty() && !a.starts_with("--")) {
            file = a;
        } else {
            err << "usage: tarnhold-inspect model [--weapon|--character] FILE.qc\n";
            return 2;
        }
    }
    if (file.empty()) {
        err << "usage: tarnhold-inspect model [--weapon|--character] FILE.qc\n";
        return 2;
    }
    const std::filesystem::path path(file);
    const std::string name = path.filename().string();
    std::string directory = path.parent_path().string();
    if (directory.empty()) directory = ".";
    const bool weapon = weaponChoice == 1 || (weaponChoice == -1 && LooksLikeWeapon(name));

    model::MDL m;
    m.MultiMesh = weapon;
    m.Boite = !weapon;
    try {
        m.Load(nullptr, name, directory, weapon);
    } catch (const model::ModelError& e) {
        err << "error: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << "error: " << file << ":0: " << e.what() << "\n";
        return 1;
    }
    Print(m, weapon, out);
    return 0;
}

} // namespace inspect
