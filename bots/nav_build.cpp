// bots/nav_build.cpp — building the navigation graph from a map: floor points where the
// player's floor ray stands a body, joined where the walker (bots/nav_walk.cpp) gets from one to
// the other, then indexed for the queries.
//
// Index
//   1. Map geometry (triangles of pickable visuals, ladders)
//   2. Building (floor samples, edges, clean-up)
//   3. Indexing (edge ranges, components, cells)
#include "bots/nav.h"
#include "bots/nav_local.h"

#include <glm/geometric.hpp>
#include <glm/mat4x4.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace bots {

namespace {

// How far from a path's line a body following it may walk (NavGraph::kReach).
constexpr float kTrack = NavGraph::kReach;
// A ladder foot lies this far in front of the ladder: a body walking at it from there comes
// within the ladder probe's reach after a step or two.
constexpr float kLadderFoot = 4.0f;

// =============================================================================================
// 1. Map geometry
// =============================================================================================

// Appends the triangles (three corners each, relative to `reference`) of every pickable mesh
// builder and mesh under `frame`, skipping frames that are not pickable.
void CollectTriangles(const scene::Frame& frame, const scene::Frame* reference,
                      std::vector<glm::vec3>& corners) {
    if ((frame.GetTraversalOptions() & scene::kFlagPickable) == 0) return;
    const glm::mat4 toReference = frame.GetTransform(reference);
    const auto put = [&](const glm::vec3& p) {
        corners.push_back(glm::vec3(toReference * glm::vec4(p, 1.0f)));
    };
    std::vector<uint32_t> indices;
    for (const auto& visual : frame.Visuals())
        if (visual->IsPickable()) ForEachTriangleCorner(*visual, indices, put);
    for (const auto& child : frame.Children())
        CollectTriangles(*child, reference, corners);
}

// The boxes of the separate ladders of the ladder frame: triangles whose boxes touch belong to
// one ladder.
std::vector<scene::Box> LadderBoxes(const player::World& world) {
    std::vector<scene::Box> boxes;
    if (!world.ladderFrame) return boxes;
    std::vector<glm::vec3> corners;
    CollectTriangles(*world.ladderFrame, world.sceneFrame.get(), corners);
    for (size_t t = 0; t + 2 < corners.size(); t += 3) {
        scene::Box box;
        for (size_t c = 0; c < 3; ++c)
            box.Extend(corners[t + c]);
        boxes.push_back(box);
    }
    // Merge touching boxes until none touch (ladders are few and small).
    const auto touch = [](const scene::Box& a, const scene::Box& b) {
        constexpr float kGap = 0.5f;
        return a.min.x <= b.max.x + kGap && b.min.x <= a.max.x + kGap &&
               a.min.y <= b.max.y + kGap && b.min.y <= a.max.y + kGap &&
               a.min.z <= b.max.z + kGap && b.min.z <= a.max.z + kGap;
    };
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < boxes.size() && !merged; ++i)
            for (size_t j = i + 1; j < boxes.size(); ++j)
                if (touch(boxes[i], boxes[j])) {
                    boxes[i].ExtendBox(boxes[j]);
                    boxes.erase(boxes.begin() + std::ptrdiff_t(j));
                    merged = true;
                    break;
                }
    }
    return boxes;
}

// =============================================================================================
// 2. Building
// =============================================================================================

struct FloorSample {
    int32_t i = 0, j = 0; // grid cell; the sample is at its centre
    float y = 0.0f;       // floor height
};

// Grid points over the upward (or downward) facing floor triangles, one per cell and floor.
std::vector<FloorSample> SampleFloors(const std::vector<glm::vec3>& corners) {
    const float s = NavGraph::kSpacing;
    std::vector<FloorSample> samples;
    for (size_t t = 0; t + 2 < corners.size(); t += 3) {
        const glm::vec3 a = corners[t], b = corners[t + 1], c = corners[t + 2];
        const glm::vec3 n = glm::cross(b - a, c - a);
        const float area = glm::length(n);
        if (area < 1e-6f || std::fabs(n.y) < 0.5f * area) continue; // walls, risers, slivers
        const float minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
        const float minZ = std::min({a.z, b.z, c.z}), maxZ = std::max({a.z, b.z, c.z});
        const int32_t i0 = int32_t(std::ceil(minX / s - 0.5f));
        const int32_t i1 = int32_t(std::floor(maxX / s - 0.5f));
        const int32_t j0 = int32_t(std::ceil(minZ / s - 0.5f));
        const int32_t j1 = int32_t(std::floor(maxZ / s - 0.5f));
        // Barycentric coordinates in the xz plane.
        const float det = (b.x - a.x) * (c.z - a.z) - (c.x - a.x) * (b.z - a.z);
        if (std::fabs(det) < 1e-9f) continue;
        for (int32_t i = i0; i <= i1; ++i)
            for (int32_t j = j0; j <= j1; ++j) {
                const float x = (float(i) + 0.5f) * s, z = (float(j) + 0.5f) * s;
                const float u = ((x - a.x) * (c.z - a.z) - (c.x - a.x) * (z - a.z)) / det;
                const float v = ((b.x - a.x) * (z - a.z) - (x - a.x) * (b.z - a.z)) / det;
                constexpr float kEdge = -1e-4f;
                if (u < kEdge || v < kEdge || u + v > 1.0f - kEdge) continue;
                samples.push_back({i, j, a.y + u * (b.y - a.y) + v * (c.y - a.y)});
            }
    }
    std::sort(samples.begin(), samples.end(), [](const FloorSample& l, const FloorSample& r) {
        return std::tie(l.i, l.j, l.y) < std::tie(r.i, r.j, r.y);
    });
    // One sample per floor of a cell: heights closer than a quarter unit are one floor.
    std::vector<FloorSample> unique;
    for (const FloorSample& f : samples) {
        if (!unique.empty() && unique.back().i == f.i && unique.back().j == f.j &&
            f.y - unique.back().y < 0.25f)
            continue;
        unique.push_back(f);
    }
    return unique;
}

// The nodes near `p` in cells sorted as NavGraph keeps them.
template <typename Visit>
void ForNodesAround(std::span<const uint64_t> keys, std::span<const NodeId> nodes,
                    const glm::vec3& p, int32_t radius, Visit&& visit) {
    const int32_t ci = CellOf(p.x), cj = CellOf(p.z);
    for (int32_t i = ci - radius; i <= ci + radius; ++i)
        for (int32_t j = cj - radius; j <= cj + radius; ++j) {
            const uint64_t key = CellKey(i, j);
            auto it = std::lower_bound(keys.begin(), keys.end(), key);
            for (; it != keys.end() && *it == key; ++it)
                visit(nodes[size_t(it - keys.begin())]);
        }
}

// Sorts node ids by cell; `keys` gets each one's cell key in the same order.
void SortByCell(std::span<const NavNode> nodes, std::vector<NodeId>& order,
                std::vector<uint64_t>& keys) {
    order.resize(nodes.size());
    for (NodeId n = 0; n < nodes.size(); ++n)
        order[n] = n;
    std::sort(order.begin(), order.end(), [&](NodeId a, NodeId b) {
        const uint64_t ka = CellKeyOf(nodes[a].position), kb = CellKeyOf(nodes[b].position);
        return ka != kb ? ka < kb : a < b;
    });
    keys.resize(order.size());
    for (size_t k = 0; k < order.size(); ++k)
        keys[k] = CellKeyOf(nodes[order[k]].position);
}

class Builder {
public:
    explicit Builder(const player::World& world)
        : world_(world), ladders_(LadderBoxes(world)), walker_(world, ladders_) {}

    void Run(std::vector<NavNode>& nodes, std::vector<NavEdge>& edges) {
        PlaceNodes();
        const NodeId gridNodes = NodeId(nodes_.size());
        PlaceLadderFeet();
        SortByCell(nodes_, cellNodes_, cellKeys_);
        for (NodeId n = 0; n < gridNodes; ++n)
            LinkNeighbours(n);
        for (NodeId n = gridNodes; n < nodes_.size(); ++n)
            LinkFoot(n);
        LinkLadders();
        DropLoneNodes();
        nodes = std::move(nodes_);
        edges = std::move(edges_);
    }

private:
    // Floor samples where the floor ray, cast from a standing body, finds that very floor.
    void PlaceNodes() {
        std::vector<glm::vec3> corners;
        CollectTriangles(*world_.floorFrame, world_.sceneFrame.get(), corners);
        const float s = NavGraph::kSpacing;
        for (const FloorSample& f : SampleFloors(corners)) {
            const glm::vec3 body((float(f.i) + 0.5f) * s, f.y + kStand, (float(f.j) + 0.5f) * s);
            float floorY = 0.0f;
            if (!walker_.FloorBelow(body, floorY) || std::fabs(floorY - f.y) > 0.05f) continue;
            nodes_.push_back({{body.x, floorY + kStand, body.z}});
        }
    }

    // A ladder's plane, its horizontal normal and its half width.
    struct LadderPlane {
        glm::vec3 centre, normal;
        float halfWidth;
    };
    static LadderPlane PlaneOf(const scene::Box& ladder) {
        const glm::vec3 e = ladder.Extent();
        const bool facesX = e.x < e.z; // the ladder stands in a plane x = constant
        return {0.5f * (ladder.min + ladder.max), facesX ? glm::vec3(1, 0, 0) : glm::vec3(0, 0, 1),
                0.5f * (facesX ? e.z : e.x)};
    }

    // Ladder feet: on either side of every ladder, a node straight in front of its middle where
    // the floor at its foot stands a body. Grid points seldom lie in front of a ladder's middle,
    // and a body walking at a ladder from off its middle may miss it.
    void PlaceLadderFeet() {
        for (const scene::Box& ladder : ladders_) {
            const LadderPlane plane = PlaneOf(ladder);
            for (const float side : {-1.0f, 1.0f}) {
                glm::vec3 foot = plane.centre + plane.normal * (side * kLadderFoot);
                foot.y = ladder.min.y + kStand + 1.0f;
                float floorY = 0.0f, again = 0.0f;
                if (!walker_.FloorBelow(foot, floorY) || std::fabs(floorY - ladder.min.y) > 3.0f)
                    continue;
                foot.y = floorY + kStand;
                if (!walker_.FloorBelow(foot, again) || std::fabs(again - floorY) > 0.05f) continue;
                nodes_.push_back({foot});
            }
        }
    }

    // Walks between a ladder foot and the grid nodes around it, both ways.
    void LinkFoot(NodeId foot) {
        const glm::vec3 p = nodes_[foot].position;
        const int maxSteps = int(world_.mapScale) + 40;
        std::vector<NodeId> around;
        ForNodesAround(cellKeys_, cellNodes_, p, 2, [&](NodeId n) {
            const glm::vec3 q = nodes_[n].position;
            if (n != foot && HorizontalDistance(p, q) < 1.75f * NavGraph::kSpacing &&
                std::fabs(q.y - p.y) < kStand)
                around.push_back(n);
        });
        for (const NodeId n : around) {
            TryEdge(n, p, maxSteps);
            TryEdge(foot, nodes_[n].position, maxSteps);
        }
    }

    // The node standing nearest `p` on the same floor (within half a unit of height and a
    // cell's half-diagonal across); kNoNode when none.
    NodeId NodeAt(const glm::vec3& p) const {
        NodeId best = kNoNode;
        float bestDistance = 0.75f * NavGraph::kSpacing;
        ForNodesAround(cellKeys_, cellNodes_, p, 1, [&](NodeId n) {
            const glm::vec3& q = nodes_[n].position;
            const float d = HorizontalDistance(p, q);
            if (std::fabs(q.y - p.y) < 0.5f && d < bestDistance) {
                best = n;
                bestDistance = d;
            }
        });
        return best;
    }

    // A body following a path is not exactly on it: it leaves a node when it comes within
    // kTrack of it. The walk from `start` to `end` must also end on `end`'s floor when made on
    // either side of the line, kTrack away from it.
    bool WalkedBeside(const glm::vec3& start, const glm::vec3& end, int maxSteps) {
        const glm::vec3 along = glm::normalize(Flat(end - start));
        const glm::vec3 side(-along.z, 0.0f, along.x);
        for (const float o : {kTrack, -kTrack}) {
            const Walker::Result walk = walker_.Walk(start + side * o, end + side * o, maxSteps);
            if (!walk.arrived || HorizontalDistance(walk.end, end + side * o) > 1.0f ||
                std::fabs(walk.end.y - end.y) > 0.5f)
                return false;
        }
        return true;
    }

    // Walks from node `from` toward `target`; adds the edge to the node the body ends on. A
    // body that falls or climbs on the way ends on another node than the target's: the walk is
    // then made again straight at that node, which must end on it too.
    void TryEdge(NodeId from, const glm::vec3& target, int maxSteps) {
        const glm::vec3 start = nodes_[from].position;
        Walker::Result walk = walker_.Walk(start, target, maxSteps);
        if (!walk.arrived) return;
        const NodeId to = NodeAt(walk.end);
        if (to == kNoNode || to == from) return;
        const glm::vec3 end = nodes_[to].position;
        const bool dropped = end.y < start.y - kFallStep;
        if (walk.climbed || dropped) {
            walk = walker_.Walk(start, end, maxSteps);
            if (!walk.arrived || NodeAt(walk.end) != to) return;
        }
        if (!WalkedBeside(start, end, maxSteps)) return;
        NavEdge edge;
        edge.from = from;
        edge.to = to;
        edge.kind = dropped ? EdgeKind::Drop : walk.climbed ? EdgeKind::Ladder : EdgeKind::Walk;
        const float across = HorizontalDistance(start, end);
        edge.cost = across + (walk.climbed ? 2.0f * (walk.peak - start.y) : 0.0f);
        edges_.push_back(edge);
    }

    // The eight neighbouring cells: walks, stairs, drops and the ladders right ahead.
    void LinkNeighbours(NodeId n) {
        const glm::vec3 p = nodes_[n].position;
        const float s = NavGraph::kSpacing;
        // A fall as deep as the map allows, one unit a step, plus the walk itself.
        const int maxSteps = int(world_.mapScale) + 40;
        for (int di = -1; di <= 1; ++di)
            for (int dj = -1; dj <= 1; ++dj)
                if (di != 0 || dj != 0)
                    TryEdge(n, p + glm::vec3(float(di) * s, 0.0f, float(dj) * s), maxSteps);
    }

    // Ladder edges from the floor in front of each ladder, on either side of it: walking at
    // the ladder climbs it, and the body steps off at its top onto the floor beyond.
    void LinkLadders() {
        for (const scene::Box& ladder : ladders_) {
            const auto [centre, normal, halfWidth] = PlaneOf(ladder);
            const int maxSteps =
                int((ladder.Extent().y + 10.0f) / kPas) + int(world_.mapScale) + 40;
            for (NodeId n = 0; n < nodes_.size(); ++n) {
                const glm::vec3 p = nodes_[n].position;
                const float floorY = p.y - kStand;
                if (floorY < ladder.min.y - 1.5f || floorY > ladder.min.y + 3.0f) continue;
                const glm::vec3 off = Flat(p - centre);
                const float ahead = glm::dot(off, normal);
                const float along = std::fabs(glm::dot(off, glm::vec3(normal.z, 0, normal.x)));
                if (along > halfWidth || std::fabs(ahead) < 0.3f || std::fabs(ahead) > 6.5f)
                    continue;
                const float side = ahead > 0 ? 1.0f : -1.0f;
                TryEdge(n, p - normal * side * (std::fabs(ahead) + kProbeReach), maxSteps);
            }
        }
    }

    // Keeps one edge per pair of nodes (the cheapest) and drops nodes no edge touches.
    void DropLoneNodes() {
        std::sort(edges_.begin(), edges_.end(), [](const NavEdge& a, const NavEdge& b) {
            return std::tie(a.from, a.to, a.cost) < std::tie(b.from, b.to, b.cost);
        });
        edges_.erase(std::unique(edges_.begin(), edges_.end(),
                                 [](const NavEdge& a, const NavEdge& b) {
                                     return a.from == b.from && a.to == b.to;
                                 }),
                     edges_.end());
        std::vector<NodeId> renumber(nodes_.size(), kNoNode);
        for (const NavEdge& e : edges_)
            renumber[e.from] = renumber[e.to] = 0;
        std::vector<NavNode> kept;
        for (NodeId n = 0; n < nodes_.size(); ++n) {
            if (renumber[n] == kNoNode) continue;
            renumber[n] = NodeId(kept.size());
            kept.push_back(nodes_[n]);
        }
        for (NavEdge& e : edges_) {
            e.from = renumber[e.from];
            e.to = renumber[e.to];
        }
        nodes_ = std::move(kept);
    }

    const player::World& world_;
    std::vector<scene::Box> ladders_;
    Walker walker_;
    std::vector<NavNode> nodes_;
    std::vector<NavEdge> edges_;
    std::vector<NodeId> cellNodes_;
    std::vector<uint64_t> cellKeys_;
};

} // namespace

NavGraph NavGraph::Build(const player::World& world) {
    NavGraph graph;
    if (!world.floorFrame || !world.sceneFrame) return graph;
    const SectionsPickable sections(world);
    Builder(world).Run(graph.nodes_, graph.edges_);
    graph.Index();
    return graph;
}

bool NavGraph::FromParts(std::vector<NavNode> nodes, std::vector<NavEdge> edges, NavGraph& graph) {
    graph = NavGraph();
    for (const NavEdge& e : edges)
        if (e.from >= nodes.size() || e.to >= nodes.size()) return false;
    graph.nodes_ = std::move(nodes);
    graph.edges_ = std::move(edges);
    graph.Index();
    return true;
}

// =============================================================================================
// 3. Indexing
// =============================================================================================

void NavGraph::Index() {
    std::stable_sort(edges_.begin(), edges_.end(),
                     [](const NavEdge& a, const NavEdge& b) { return a.from < b.from; });
    firstEdge_.assign(nodes_.size() + 1, 0);
    for (const NavEdge& e : edges_)
        ++firstEdge_[e.from + 1];
    for (size_t n = 0; n < nodes_.size(); ++n)
        firstEdge_[n + 1] += firstEdge_[n];

    // Strongly connected components (Tarjan's algorithm, with an explicit stack).
    const uint32_t none = 0xFFFFFFFFu;
    component_.assign(nodes_.size(), none);
    std::vector<uint32_t> order(nodes_.size(), none), low(nodes_.size(), 0);
    std::vector<NodeId> stack;
    std::vector<bool> onStack(nodes_.size(), false);
    std::vector<std::pair<NodeId, uint32_t>> calls; // node, next edge to look at
    uint32_t counter = 0, components = 0;
    for (NodeId root = 0; root < nodes_.size(); ++root) {
        if (order[root] != none) continue;
        calls.push_back({root, firstEdge_[root]});
        order[root] = low[root] = counter++;
        stack.push_back(root);
        onStack[root] = true;
        while (!calls.empty()) {
            auto& [v, next] = calls.back();
            if (next < firstEdge_[v + 1]) {
                const NodeId w = edges_[next++].to;
                if (order[w] == none) {
                    order[w] = low[w] = counter++;
                    stack.push_back(w);
                    onStack[w] = true;
                    calls.push_back({w, firstEdge_[w]});
                } else if (onStack[w]) {
                    low[v] = std::min(low[v], order[w]);
                }
                continue;
            }
            const NodeId done = v;
            calls.pop_back();
            if (!calls.empty())
                low[calls.back().first] = std::min(low[calls.back().first], low[done]);
            if (low[done] != order[done]) continue;
            NodeId w;
            do {
                w = stack.back();
                stack.pop_back();
                onStack[w] = false;
                component_[w] = components;
            } while (w != done);
            ++components;
        }
    }
    SortByCell(nodes_, cellNodes_, cellKeys_);
}

} // namespace bots
