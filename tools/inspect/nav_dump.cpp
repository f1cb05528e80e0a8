// tools/inspect/nav_dump.cpp — `nav NAME [INSTALLDIR] [--png FILE]`: builds a map as a match
// does, builds its navigation graph, and prints what bots get: the graph's size, its parts and
// every spawn point's node and reach. With --png, draws the graph seen from above.
#include "tools/inspect/dump.h"

#include "bots/nav.h"
#include "core/game.h"
#include "platform/render/render.h"
#include "platform/system/system.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <map>
#include <ostream>

namespace inspect {

namespace {

// A top-down picture of the graph: x to the right, z upwards, `pixels` per scene unit.
class Plan {
public:
    Plan(const scene::Box& box, float pixels) : box_(box), pixels_(pixels) {
        image_.width = int(std::ceil((box.max.x - box.min.x) * pixels)) + 1;
        image_.height = int(std::ceil((box.max.z - box.min.z) * pixels)) + 1;
        image_.rgba.assign(size_t(image_.width) * size_t(image_.height) * 4, 0);
        for (size_t i = 3; i < image_.rgba.size(); i += 4)
            image_.rgba[i] = 255;
    }
    void Dot(const glm::vec3& p, const glm::u8vec3& colour, int radius) {
        const int cx = X(p), cy = Y(p);
        for (int y = cy - radius; y <= cy + radius; ++y)
            for (int x = cx - radius; x <= cx + radius; ++x)
                Put(x, y, colour);
    }
    void Line(const glm::vec3& a, const glm::vec3& b, const glm::u8vec3& colour) {
        const int steps = std::max({std::abs(X(b) - X(a)), std::abs(Y(b) - Y(a)), 1});
        for (int k = 0; k <= steps; ++k) {
            const glm::vec3 p = a + (b - a) * (float(k) / float(steps));
            Put(X(p), Y(p), colour);
        }
    }
    const scene::Image& Image() const { return image_; }

private:
    int X(const glm::vec3& p) const { return int(std::lround((p.x - box_.min.x) * pixels_)); }
    int Y(const glm::vec3& p) const { return int(std::lround((box_.max.z - p.z) * pixels_)); }
    void Put(int x, int y, const glm::u8vec3& c) {
        if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
        uint8_t* px = &image_.rgba[(size_t(y) * size_t(image_.width) + size_t(x)) * 4];
        px[0] = c.r, px[1] = c.g, px[2] = c.b;
    }
    scene::Box box_;
    float pixels_;
    scene::Image image_;
};

// Blue on the lowest floor to yellow on the highest.
glm::u8vec3 HeightColour(float y, float low, float high) {
    const float t = high > low ? std::clamp((y - low) / (high - low), 0.0f, 1.0f) : 0.0f;
    return {uint8_t(60 + 195 * t), uint8_t(90 + 150 * t), uint8_t(230 - 200 * t)};
}

// The walls seen from above: every upright triangle of the pickable wall frames, grey.
void DrawWalls(Plan& plan, const scene::Frame& frame, const scene::Frame* reference) {
    if ((frame.GetTraversalOptions() & scene::kFlagPickable) == 0) return;
    const glm::mat4 toReference = frame.GetTransform(reference);
    std::vector<uint32_t> indices;
    for (const auto& visual : frame.Visuals()) {
        if (!visual->IsPickable() || visual->Kind() != scene::VisualKind::MeshBuilder) continue;
        const auto& builder = static_cast<const scene::MeshBuilder&>(*visual);
        builder.Triangulate(indices, nullptr);
        const auto positions = builder.Positions();
        for (size_t t = 0; t + 2 < indices.size(); t += 3) {
            glm::vec3 c[3];
            for (size_t k = 0; k < 3; ++k)
                c[k] = glm::vec3(toReference * glm::vec4(positions[indices[t + k]], 1.0f));
            const glm::vec3 n = glm::cross(c[1] - c[0], c[2] - c[0]);
            if (std::fabs(n.y) > 0.5f * glm::length(n)) continue; // tops of walls
            for (size_t k = 0; k < 3; ++k)
                plan.Line(c[k], c[(k + 1) % 3], {110, 110, 110});
        }
    }
    for (const auto& child : frame.Children())
        DrawWalls(plan, *child, reference);
}

bool WritePlan(const bots::NavGraph& graph, const player::World& world,
               const std::vector<glm::vec3>& spawns, const std::string& path, std::string& error) {
    scene::Box box;
    for (const bots::NavNode& n : graph.Nodes())
        box.Extend(n.position);
    for (const glm::vec3& s : spawns)
        box.Extend(s);
    if (box.IsEmpty()) {
        error = "the graph is empty";
        return false;
    }
    box.min -= glm::vec3(4.0f);
    box.max += glm::vec3(4.0f);
    const float extent = std::max(box.max.x - box.min.x, box.max.z - box.min.z);
    Plan plan(box, std::clamp(1200.0f / extent, 1.0f, 8.0f));
    // The corridor sections are drawn as the graph was built: both solid.
    std::array<uint32_t, 6> saved{};
    for (size_t i = 0; i < 6; ++i)
        if (world.sectionFrames[i]) {
            saved[i] = world.sectionFrames[i]->GetTraversalOptions();
            world.sectionFrames[i]->SetTraversalOptions(saved[i] | scene::kFlagPickable);
        }
    if (world.wallFrame) DrawWalls(plan, *world.wallFrame, world.sceneFrame.get());
    for (size_t i = 0; i < 6; ++i)
        if (world.sectionFrames[i]) world.sectionFrames[i]->SetTraversalOptions(saved[i]);
    const auto nodes = graph.Nodes();
    const float low = box.min.y + 4.0f, high = box.max.y - 4.0f;
    for (const bots::NavEdge& e : graph.Edges())
        if (e.kind == bots::EdgeKind::Walk)
            plan.Line(nodes[e.from].position, nodes[e.to].position,
                      HeightColour(nodes[e.from].position.y, low, high) / uint8_t(2));
    for (const bots::NavNode& n : nodes)
        plan.Dot(n.position, HeightColour(n.position.y, low, high), 0);
    for (const bots::NavEdge& e : graph.Edges())
        if (e.kind == bots::EdgeKind::Drop)
            plan.Line(nodes[e.from].position, nodes[e.to].position, {255, 140, 0});
    for (const bots::NavEdge& e : graph.Edges())
        if (e.kind == bots::EdgeKind::Ladder) {
            plan.Line(nodes[e.from].position, nodes[e.to].position, {255, 40, 40});
            plan.Dot(nodes[e.to].position, {255, 40, 40}, 2);
        }
    for (const glm::vec3& s : spawns)
        plan.Dot(s, {40, 255, 40}, 3);
    return render::WritePng(plan.Image(), path, &error);
}

void PrintPoint(std::ostream& out, const glm::vec3& p) {
    out << p.x << " " << p.y << " " << p.z;
}

} // namespace

int NavCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> positional;
    std::string png;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--png" && i + 1 < args.size())
            png = args[++i];
        else
            positional.push_back(args[i]);
    }
    if (positional.empty() || positional.size() > 2 || (args.back() == "--png")) {
        err << "usage: tarnhold-inspect nav NAME [INSTALLDIR] [--png FILE]\n";
        return 2;
    }
    core::MapName = positional[0];
    core::DataPath = positional.size() > 1 ? positional[1] : core::FindProgramDirectory().string();
    core::DecimalSeparator = sys::LocaleDecimalSeparator();
    core::RootFrame = scene::Frame::Create();
    core::SceneFrame = scene::Frame::Create(core::RootFrame);
    core::CameraFrame = scene::Frame::Create(core::SceneFrame);
    core::CreateMapFrames();
    core::LadderFrame.reset();
    core::SectionFrames = {};
    try {
        core::BuildMap();
    } catch (const core::FatalError& error) {
        err << error.what() << "\n";
        return 1;
    }
    const player::World world = core::MapWorld();
    const bots::NavGraph graph = bots::NavGraph::Build(world);
    const auto nodes = graph.Nodes();

    out << std::setprecision(7);
    out << "map " << core::MapName << "\n";
    std::map<bots::EdgeKind, size_t> kinds;
    for (const bots::NavEdge& e : graph.Edges())
        ++kinds[e.kind];
    out << "nodes " << nodes.size() << "\n";
    out << "edges " << graph.Edges().size() << " (walk " << kinds[bots::EdgeKind::Walk] << ", drop "
        << kinds[bots::EdgeKind::Drop] << ", ladder " << kinds[bots::EdgeKind::Ladder] << ")\n";
    // Parts: nodes that can all reach each other, largest first.
    std::vector<size_t> parts;
    std::vector<bool> counted(nodes.size(), false);
    for (bots::NodeId n = 0; n < nodes.size(); ++n) {
        if (counted[n]) continue;
        size_t size = 0;
        for (bots::NodeId m = n; m < nodes.size(); ++m)
            if (!counted[m] && graph.Connected(n, m)) counted[m] = true, ++size;
        parts.push_back(size);
    }
    std::sort(parts.rbegin(), parts.rend());
    out << "parts " << parts.size() << " (largest " << (parts.empty() ? 0 : parts[0])
        << " nodes)\n";

    const std::vector<glm::vec3> spawns = bots::SpawnPositions(world);
    std::vector<bots::NodeId> at;
    for (const glm::vec3& s : spawns)
        at.push_back(graph.NearestNode(s));
    bool allConnected = !at.empty();
    for (size_t i = 0; i < spawns.size(); ++i) {
        out << "spawn " << i << " ";
        PrintPoint(out, spawns[i]);
        if (at[i] == bots::kNoNode) {
            out << ": no node\n";
            allConnected = false;
            continue;
        }
        out << ": node " << at[i] << " at ";
        PrintPoint(out, nodes[at[i]].position);
        std::vector<size_t> apart;
        for (size_t j = 0; j < spawns.size(); ++j)
            if (at[j] == bots::kNoNode || !graph.Connected(at[i], at[j])) apart.push_back(j);
        if (apart.empty()) {
            out << ", reaches every other spawn point\n";
        } else {
            allConnected = false;
            out << ", cannot reach spawn point";
            for (const size_t j : apart)
                out << " " << j;
            out << "\n";
        }
    }
    out << (allConnected ? "every spawn point reaches every other\n"
                         : "some spawn points cannot reach each other\n");
    int status = 0;
    if (!png.empty()) {
        std::string error;
        if (WritePlan(graph, world, spawns, png, error)) {
            out << "plan written to " << png << "\n";
        } else {
            err << png << ": " << error << "\n";
            status = 1;
        }
    }
    core::DeleteFrameTree(*core::RootFrame);
    return status;
}

} // namespace inspect
