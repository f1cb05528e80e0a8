// tools/inspect/map_dump.cpp — `map NAME [INSTALLDIR]`: builds a map as a match does, without
// a window, and prints what the game made of it.
#include "tools/inspect/dump.h"

#include "core/game.h"
#include "platform/system/system.h"

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace inspect {

namespace {

void PrintPoint(std::ostream& out, const glm::vec3& p) {
    out << p.x << " " << p.y << " " << p.z;
}

// Every mesh builder under `frame`: name, flags, triangles and its box in scene coordinates.
void PrintMeshes(std::ostream& out, const scene::Frame& frame, const std::string& label) {
    std::vector<uint32_t> indices;
    for (const auto& visual : frame.Visuals()) {
        if (visual->Kind() != scene::VisualKind::MeshBuilder) continue;
        const auto& b = static_cast<const scene::MeshBuilder&>(*visual);
        b.Triangulate(indices, nullptr);
        scene::Box box;
        const glm::mat4 toScene = frame.GetSceneTransform();
        for (const glm::vec3& v : b.Positions())
            box.Extend(glm::vec3(toScene * glm::vec4(v, 1.0f)));
        out << "  " << label << " mesh \"" << b.GetName() << "\" flags " << b.GetFlags()
            << " triangles " << indices.size() / 3 << " box ";
        PrintPoint(out, box.IsEmpty() ? glm::vec3(0.0f) : box.min);
        out << " .. ";
        PrintPoint(out, box.IsEmpty() ? glm::vec3(0.0f) : box.max);
        out << "\n";
    }
    for (const auto& child : frame.Children())
        PrintMeshes(out, *child, label);
}

void CreateFrames() {
    core::RootFrame = scene::Frame::Create();
    core::SceneFrame = scene::Frame::Create(core::RootFrame);
    core::CameraFrame = scene::Frame::Create(core::SceneFrame);
    core::CreateMapFrames();
    core::LadderFrame.reset();
}

} // namespace

int MapCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args.size() > 2) {
        err << "usage: tarnhold-inspect map NAME [INSTALLDIR]\n";
        return 2;
    }
    core::MapName = args[0];
    core::DataPath = args.size() > 1 ? args[1] : core::FindProgramDirectory().string();
    core::DecimalSeparator = sys::LocaleDecimalSeparator();
    CreateFrames();
    const bool builtIn = core::MapName == "couloirs" || core::MapName == "entrepot";
    int32_t meshScale = 0;
    try {
        core::BuildMap();
        if (!builtIn) {
            std::ifstream in(core::FindMapFile(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            meshScale = core::ParseMapDefinition(text.str(), core::MapName).meshScale;
        }
    } catch (const core::FatalError& error) {
        err << error.what() << "\n";
        return 1;
    }

    out << std::setprecision(7);
    out << "map " << core::MapName << (builtIn ? " (built in)" : "") << "\n";
    out << "map scale " << core::MapScale << "\n";
    if (!builtIn) {
        out << "sky " << core::SkyName << "\n";
        out << "light ";
        PrintPoint(out, {core::LightPosition.x, core::LightPosition.y, core::LightPosition.z});
        out << "\n";
        for (size_t i = 0; i < 4; ++i) {
            out << "spawn " << i << " ";
            const core::Point3& s = core::SpawnPoints[i];
            PrintPoint(out, {s.x, s.y, s.z});
            out << "\n";
        }
        out << "mesh scale " << meshScale << "\n";
    }
    const std::pair<const char*, std::shared_ptr<scene::Frame>> frames[] = {
        {"DecorFrameA", core::DecorFrameA},
        {"DecorFrameB", core::DecorFrameB},
        {"FloorFrame", core::FloorFrame},
        {"WallFrame", core::WallFrame},
        {"CeilingFrame", core::CeilingFrame}};
    for (const auto& [name, frame] : frames) {
        out << name << " flags " << frame->GetTraversalOptions() << "\n";
        PrintMeshes(out, *frame, name);
    }
    if (!builtIn) {
        const bool ladder = core::LadderFrame && core::LadderFrame->GetVisualCount() > 0;
        out << "ladder " << (ladder ? "\"echelle\"" : "none") << "\n";
        scene::Box level;
        for (const auto& f : {core::FloorFrame, core::WallFrame, core::CeilingFrame})
            level.ExtendBox(f->GetBox());
        out << "sky box scale " << core::SkyBoxScale(level) << "\n";
    }
    core::DeleteFrameTree(*core::RootFrame);
    return 0;
}

} // namespace inspect
