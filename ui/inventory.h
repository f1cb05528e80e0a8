// ui/inventory.h — the weapon inventory: the twelve weapons, their figures and which of them
// the player's rank allows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// One panel of the inventory, in weapon-table order.
struct WeaponPanel {
    std::string shortName; // from the weapon's model file name ("m4a1")
    int32_t magazine = 0;  // shown as AMMO
    int32_t power = 0;
    int32_t rank = 0;              // the weapon power needed to carry it
    bool scope = false;            // shown as SNIPPER
    bool enabled = false;          // rank not above the player's weapon power
    std::filesystem::path picture; // weapons/640_<short name>.bmp
};

// The short name in a weapon's model file name: the text after the first "_" without the last
// three characters ("rifle_m4a1.QC" gives "m4a1"); "" when nothing is left.
std::string WeaponShortName(std::string_view qcFile);

// The twelve panels for a player of weapon power `weaponPower` (1..4).
std::vector<WeaponPanel> WeaponPanels(int32_t weaponPower, const std::filesystem::path& installDir);

// The window title: "WEAPON INVENTORY Your rank = " and the weapon power.
std::string InventoryTitle(int32_t weaponPower);

// Shows the inventory (screen "inventory") for core::WeaponPower, modally, until its CLOSE
// button. Opens at the next pass of the event pump, so a screen may call it from its Draw().
void OpenWeaponInventory();

} // namespace ui
