// model/weapons.cpp — the weapon table and its two lookups.
#include "model/mdl.h"

#include <algorithm>

namespace model {

const std::array<WeaponRow, kWeaponCount> kWeaponTable = {{
    {"mac10", "onehanded_mac10.QC", "onehanded", 20, 10, 1, false},
    {"ump45", "carbine_ump45.QC", "carbine", 20, 10, 1, false},
    {"aug", "carbine_aug.QC", "carbine", 20, 10, 1, true},
    {"p90", "carbine_p90.QC", "carbine", 20, 10, 1, false},
    {"mp5", "mp5_mp5.QC", "mp5", 30, 10, 2, false},
    {"ak47", "mp5_ak47.QC", "mp5", 30, 10, 2, false},
    {"m4a1", "rifle_m4a1.QC", "rifle", 30, 20, 3, true},
    {"sg550", "rifle_sg550.QC", "rifle", 30, 20, 3, true},
    {"sg552", "rifle_sg552.QC", "rifle", 30, 20, 3, true},
    {"m249", "m249_m249.QC", "m249", 50, 20, 4, false},
    {"m3", "shotgun_m3.QC", "shotgun", 5, 50, 4, false},
    {"awp", "rifle_awp.QC", "rifle", 1, 100, 4, true},
}};

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

bool CaracteristiquesArme(std::string_view name, int32_t& magazine, int32_t& power, int32_t& rank,
                          bool& scope) {
    for (const WeaponRow& row : kWeaponTable) {
        if (EqualsIgnoringCase(row.name, name)) {
            magazine = row.magazine;
            power = row.power;
            rank = row.rank;
            scope = row.scope;
            return true;
        }
    }
    scope = false;
    return false;
}

std::string FichierArme(int32_t index) {
    if (index < 0 || index >= kWeaponCount) return {};
    return std::string(kWeaponTable[size_t(index)].qcFile);
}

} // namespace model
