// player/player.h — one participant of a match, local or remote, and the weapon table.
//
// Index
//   1. Weapon table        (CaracteristiquesArme, FichierArme)
//   2. The player record   (the fields the character model reads and writes)
//
// A record is created by the game core when a match starts or by the network layer when a
// player joins; it owns its frames until Destroy. This header holds the fields that the
// skeletal model (model/mdl.h: RenvMesh, Anime) reads and writes; the behaviour of the record
// (construction, controls, collisions, shooting) belongs with it too.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace scene {
class Frame;
}

namespace player {

// ---------------------------------------------------------------------------------------------
// 1. Weapon table
// ---------------------------------------------------------------------------------------------

// One row of the weapon table. The weapon models are loaded in this order and `IdArme` indexes
// it. The QC file is the class, "_" and the name, with the extension ".QC".
struct WeaponRow {
    std::string_view name;   // weapon name, lower case ("ak47")
    std::string_view qcFile; // QC file in the weapons directory ("mp5_ak47.QC")
    std::string_view classe; // weapon class: torso animations and placement ("mp5")
    int32_t magazine;        // bullets per magazine
    int32_t power;           // damage per hit
    int32_t rank;            // weapon class 1..4: the rank needed to carry it
    bool scope;              // has a telescopic sight
};

inline constexpr int32_t kWeaponCount = 12;
extern const std::array<WeaponRow, kWeaponCount> kWeaponTable;

// Statistics of the weapon `name`, matched without regard to ASCII case. For a known name the
// four outputs are written and true is returned; for an unknown name `scope` becomes false, the
// other three keep the caller's values, and false is returned.
bool CaracteristiquesArme(std::string_view name, int32_t& magazine, int32_t& power, int32_t& rank,
                          bool& scope);

// QC file name of weapon `index` (0..11); empty for any other index.
std::string FichierArme(int32_t index);

// ---------------------------------------------------------------------------------------------
// 2. The player record
// ---------------------------------------------------------------------------------------------

// The participant record. Every field starts at 0, false, empty text or no frame. The frames are
// owned by the record until Destroy; the character model creates `MDroite` and `tete` and hangs
// the hit-box frames under `base` and the skinned mesh under `Peau`.
class player {
public:
    // --- identity ---
    int32_t indice = 0;   // slot in Players, 0..4; stored on the hit-box copies so a pick names
                          // the player hit
    int32_t IdModele = 0; // team (0 "TERRORIST", else "GIGN"); also the character model's skin
                          // group used for this player
    int32_t IdSkm = 0;    // this player's render copy in the character model (set by RenvMesh)
    std::string texture;  // skin picture in the models directory: "TS"/"GS" + skin + ".bmp"

    // --- frames ---
    std::shared_ptr<scene::Frame> base;    // under joueur at (0, 12, 0); holds the hit-box frames
    std::shared_ptr<scene::Frame> Peau;    // under joueur at (0, 12, 0); carries the skinned mesh
    std::shared_ptr<scene::Frame> MDroite; // the weapon frame on the hand bone (under Peau)
    std::shared_ptr<scene::Frame> tete;    // the head frame (on the head bone)

    // --- animation state ---
    int32_t Anipos = 0;   // full-body (leg) animation: index in the character model's sets
    int32_t AniBuste = 0; // upper-body animation index; -1 leaves the torso to Anipos
    double fps = 0;       // current frame number of the full-body animation
    double fps2 = 0;      // current frame number of the upper-body animation
    int32_t colonne = 0;  // spine twist in whole degrees, -30..30 in steps of 15
    double pivot = 0;     // head pitch accumulator, radians, spread over three spine bones
};

} // namespace player
