// tests/unit/bots/installed_maps.h — the maps of the installation loaded by the game core as a
// match loads them (the core's map builders into fresh map frames), and the player::World a
// match gives its players on them. Shared by the navigation tests and benchmarks.
#pragma once

#include "core/game.h"
#include "player/player.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace navtest {

// The map `name` of the installation in `installDir`, built into fresh frames; the world a
// match on it gives its players. Throws core::FatalError as a match start does.
inline player::World LoadMap(const std::string& name, const std::string& installDir) {
    core::DataPath = installDir;
    core::MapName = name;
    core::DecimalSeparator = ".";
    core::RootFrame = scene::Frame::Create();
    core::SceneFrame = scene::Frame::Create(core::RootFrame);
    core::CameraFrame = scene::Frame::Create(core::SceneFrame);
    core::CreateMapFrames();
    core::LadderFrame.reset();
    core::SectionFrames = {};
    core::BuildMap();
    return core::MapWorld();
}

// Releases the frames of the last LoadMap.
inline void UnloadMap() {
    if (core::RootFrame) core::DeleteFrameTree(*core::RootFrame);
    core::RootFrame.reset();
}

// The two built-in maps and every file map of the installation's map folder.
inline std::vector<std::string> InstalledMaps(const std::string& installDir) {
    std::set<std::string> names = {"couloirs", "entrepot"};
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(installDir) / "map", ec))
        if (entry.path().extension() == ".map") names.insert(entry.path().stem().string());
    return {names.begin(), names.end()};
}

} // namespace navtest
