// bots/nav.cpp — building the navigation graph from a map, and its queries.
//
// Index
//   1. The player's rules the graph is checked with (constants, the walker)
//   2. Map geometry (triangles of pickable visuals, ladders)
//   3. Building (floor samples, edges, clean-up)
//   4. Indexing (edge ranges, components, cells)
//   5. Queries (nearest node, A*, reachability, roaming)
//   6. Spawn points
#include "bots/nav.h"
#include "bots/nav_local.h"

#include <glm/geometric.hpp>
#include <glm/mat4x4.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <random>
#include <tuple>

namespace bots {

namespace {

// =============================================================================================
// 1. The player's rules
// =============================================================================================
// The values player/collisions.cpp and player/controls.cpp move a body by, in scene units.

constexpr float kReach = 3.0f;     // wall and ladder probes feel this far (x, z; ladder: xz)
constexpr float kProbeRise = 0.2f; // the wall ray runs this far above the probe
constexpr float kStand = 2.5f;     // body origin above the floor, standing
constexpr float kFallStep = 1.0f;  // fall per step
constexpr float kProbeBack = 5.0f; // the probe trails the body by this, in joueur's units
// Ladder probe heights around the probe, in the player's order.
constexpr float kLadderHeights[3] = {0.0f, -5.0f, 5.0f};
// The length of one move while walks are checked: a body at full speed (vitesse 8) moves 8 / 15
// a frame of 20 ms, a little less in faster frames.
constexpr float kPas = 0.5f;
// An axis of the motion whose share is below this may be blocked without stopping the walk
// (the body slides along the other axis, as it does along a wall met at a grazing angle).
constexpr float kMinorAxis = 0.25f;
// How far from a path's line a body following it may walk (NavGraph::kReach).
constexpr float kTrack = NavGraph::kReach;
// A ladder foot lies this far in front of the ladder: a body walking at it from there comes
// within the ladder probe's reach after a step or two.
constexpr float kLadderFoot = 4.0f;

const glm::vec3 kDown(0.0f, -1.0f, 0.0f);

glm::vec3 Flat(const glm::vec3& v) {
    return {v.x, 0.0f, v.z};
}

float HorizontalDistance(const glm::vec3& a, const glm::vec3& b) {
    return std::hypot(a.x - b.x, a.z - b.z);
}

// A body walking under the player's rules: each step is the two moves of player::Walk (along
// the facing with the wall and ladder probes, then the floor ray or the climb, then the slide
// along the axes the walls leave free), with the forward key held at full speed.
class Walker {
public:
    Walker(const player::World& world, std::span<const scene::Box> ladderBoxes)
        : world_(world), ladderBoxes_(ladderBoxes),
          probeBack_(kProbeBack * float(world.modelScale)) {}

    struct Result {
        bool arrived = false; // stands on a floor at or past the target's distance
        bool climbed = false; // a ladder was climbed on the way
        float peak = 0.0f;    // the highest the body was on the way
        glm::vec3 end{0.0f};  // where the body stands at the end
    };

    // Walks from `start` (a standing body) facing `target` (horizontally) until the body has
    // come the target's horizontal distance and stands on a floor, walking on while it falls
    // or climbs. Fails when an axis that carries the motion is blocked off a ladder (a wall, no
    // floor, too deep a drop), when the body drifts off the line or stops, or after `maxSteps`.
    Result Walk(const glm::vec3& start, const glm::vec3& target, int maxSteps) {
        Result result;
        glm::vec3 d = Flat(target - start);
        const float length = glm::length(d);
        if (length < 1e-3f) return result;
        d /= length;
        glm::vec3 r = start;
        bool echelle = false;
        int still = 0;
        result.peak = start.y;
        for (int step = 0; step < maxSteps; ++step) {
            const float progress = glm::dot(Flat(r - start), d);
            const float remaining = length - progress;
            if (remaining <= 0.02f && !echelle) {
                float floorY = 0.0f;
                if (!FloorBelow(r, floorY)) return result;
                if (std::nearbyint(double(r.y) - double(floorY + kStand)) <= 0) {
                    result.arrived = true;
                    result.end = {r.x, floorY + kStand, r.z};
                    return result;
                }
            }
            // The last steps are shortened so that a body on the floor stops on the target.
            const float pas = remaining > 0.02f ? std::min(kPas, remaining / 2.0f) : kPas;
            const glm::vec3 before = r;
            bool xx = false, zz = false;
            if (!Step(r, d, pas, echelle, xx, zz)) return result;
            result.climbed = result.climbed || echelle;
            result.peak = std::max(result.peak, r.y);
            if (!echelle &&
                ((xx && std::fabs(d.x) > kMinorAxis) || (zz && std::fabs(d.z) > kMinorAxis)))
                return result;
            const glm::vec3 across = Flat(r - start) - d * glm::dot(Flat(r - start), d);
            if (glm::length(across) > 1.0f) return result;
            still = glm::length(r - before) < 1e-4f ? still + 1 : 0;
            if (still >= 3) return result;
        }
        return result;
    }

    // The floor the player's floor ray finds below `p`: its height in `y`. False without one.
    bool FloorBelow(const glm::vec3& p, float& y) {
        if (!world_.floorFrame || scene::Pick(*world_.floorFrame, p, kDown, hits_) == 0)
            return false;
        y = hits_[0].point.y;
        return true;
    }

private:
    // One step of player::Walk moving forward by `pas` along `d` from `r` (updated). Sets the
    // wall contacts and the ladder flag as the probes do. False when the body cannot move at
    // all (both axes blocked and no ladder: it stays where it was).
    bool Step(glm::vec3& r, const glm::vec3& d, float pas, bool& echelle, bool& xx, bool& zz) {
        const glm::vec3 depart = r;
        glm::vec3 moved = r + d * pas;
        // ProbeWallsAhead: the probe trails the body, facing the motion.
        const glm::vec3 probe = moved - d * probeBack_;
        echelle = LadderAhead(probe, d);
        glm::vec3 wall;
        if (WallAhead(probe + glm::vec3(0.0f, kProbeRise, 0.0f), d, wall)) {
            xx = std::fabs(probe.x - wall.x) < kReach;
            zz = std::fabs(probe.z - wall.z) < kReach;
        }
        if (xx) moved.x = depart.x;
        if (zz) moved.z = depart.z;
        // StandOnFloorOrClimb.
        if (echelle) {
            moved = depart + glm::vec3(0.0f, pas, 0.0f);
        } else {
            float floorY = 0.0f;
            const bool found = FloorBelow(moved, floorY);
            const double sol = double(floorY) + kStand;
            const double drop = found ? std::nearbyint(double(moved.y) - sol) : 0.0;
            if (!found || drop > world_.mapScale) {
                xx = zz = true;
                moved = depart;
            } else if (drop <= 0) {
                moved.y = float(sol);
            } else {
                moved.y -= kFallStep;
            }
        }
        // SlideAlongWalls.
        glm::vec3 glisse = d;
        if (xx) glisse.x = 0.0f;
        if (zz) glisse.z = 0.0f;
        r = moved + glisse * pas;
        return echelle || !(xx && zz);
    }

    bool WallAhead(const glm::vec3& p, const glm::vec3& d, glm::vec3& hit) {
        if (!world_.wallFrame || scene::Pick(*world_.wallFrame, p, d, hits_) == 0) return false;
        hit = hits_[0].point;
        return true;
    }

    // CollisionsEchelles: a ladder within reach ahead of the probe, at its height, 5 below or 5
    // above. Probes far from every ladder's box cannot feel one and cast no ray.
    bool LadderAhead(const glm::vec3& probe, const glm::vec3& d) {
        if (!world_.ladderFrame) return false;
        const bool near =
            std::any_of(ladderBoxes_.begin(), ladderBoxes_.end(), [&](const scene::Box& b) {
                return probe.x >= b.min.x - kReach && probe.x <= b.max.x + kReach &&
                       probe.z >= b.min.z - kReach && probe.z <= b.max.z + kReach &&
                       probe.y >= b.min.y - 5.0f - kReach && probe.y <= b.max.y + 5.0f + kReach;
            });
        if (!near) return false;
        for (const float dy : kLadderHeights) {
            const glm::vec3 origin = probe + glm::vec3(0.0f, dy, 0.0f);
            if (scene::Pick(*world_.ladderFrame, origin, d, hits_) == 0) continue;
            if (HorizontalDistance(origin, hits_[0].point) < kReach) return true;
        }
        return false;
    }

    const player::World& world_;
    std::span<const scene::Box> ladderBoxes_;
    float probeBack_;
    scene::PickResults hits_;
};

// =============================================================================================
// 2. Map geometry
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
// 3. Building
// =============================================================================================

int32_t CellOf(float v) {
    return int32_t(std::floor(v / NavGraph::kSpacing));
}

uint64_t CellKey(int32_t i, int32_t j) {
    return (uint64_t(uint32_t(i)) << 32) | uint64_t(uint32_t(j));
}

uint64_t CellKeyOf(const glm::vec3& p) {
    return CellKey(CellOf(p.x), CellOf(p.z));
}

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
                TryEdge(n, p - normal * side * (std::fabs(ahead) + kReach), maxSteps);
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
// 4. Indexing
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

// =============================================================================================
// 5. Queries
// =============================================================================================

std::span<const NavEdge> NavGraph::EdgesFrom(NodeId node) const {
    if (node >= nodes_.size()) return {};
    return std::span<const NavEdge>(edges_).subspan(firstEdge_[node],
                                                    firstEdge_[node + 1] - firstEdge_[node]);
}

float NavGraph::Weighted(NodeId n, const glm::vec3& position) const {
    const glm::vec3 d = nodes_[n].position - position;
    return std::sqrt(d.x * d.x + d.z * d.z + 9.0f * d.y * d.y);
}

NodeId NavGraph::NearestWhere(const glm::vec3& position,
                              const std::function<bool(NodeId)>& accept) const {
    NodeId best = kNoNode;
    float bestDistance = std::numeric_limits<float>::infinity();
    const auto consider = [&](NodeId n) {
        if (!accept(n)) return;
        const float d = Weighted(n, position);
        if (d < bestDistance) best = n, bestDistance = d;
    };
    // Rings of cells around the position; a node in ring r + 1 lies at least r cells away.
    constexpr int32_t kMaxRing = 16;
    const int32_t ci = CellOf(position.x), cj = CellOf(position.z);
    for (int32_t r = 0; r <= kMaxRing; ++r) {
        if (bestDistance <= float(r - 1) * kSpacing) return best;
        for (int32_t i = ci - r; i <= ci + r; ++i)
            for (int32_t j = cj - r; j <= cj + r; ++j) {
                if (std::max(std::abs(i - ci), std::abs(j - cj)) != r) continue;
                const uint64_t key = CellKey(i, j);
                auto it = std::lower_bound(cellKeys_.begin(), cellKeys_.end(), key);
                for (; it != cellKeys_.end() && *it == key; ++it)
                    consider(cellNodes_[size_t(it - cellKeys_.begin())]);
            }
    }
    if (bestDistance <= float(kMaxRing) * kSpacing) return best;
    for (NodeId n = 0; n < nodes_.size(); ++n)
        consider(n);
    return best;
}

NodeId NavGraph::NearestNode(const glm::vec3& position) const {
    return NearestWhere(position, [](NodeId) { return true; });
}

bool NavGraph::FindPath(const glm::vec3& from, const glm::vec3& to, std::span<const EdgeId> avoid,
                        NavPath& path) const {
    path = NavPath();
    const NodeId goal = NearestNode(to);
    NodeId start = NearestNode(from);
    if (start == kNoNode || goal == kNoNode) return false;
    // A body beside a wall may be nearest a point beyond it (inside a block, say) that leads
    // nowhere: a point a cell farther that can reach the goal and be reached from it is taken.
    if (component_[start] != component_[goal]) {
        const NodeId other =
            NearestWhere(from, [&](NodeId n) { return component_[n] == component_[goal]; });
        if (other != kNoNode && Weighted(other, from) <= Weighted(start, from) + kSpacing)
            start = other;
    }
    std::vector<EdgeId> avoided(avoid.begin(), avoid.end());
    std::sort(avoided.begin(), avoided.end());
    const glm::vec3 goalPosition = nodes_[goal].position;
    const auto heuristic = [&](NodeId n) {
        return HorizontalDistance(nodes_[n].position, goalPosition);
    };

    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> cost(nodes_.size(), inf);
    std::vector<EdgeId> via(nodes_.size(), kNoNode);
    using Entry = std::pair<float, NodeId>; // estimated total, node
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> open;
    cost[start] = 0.0f;
    open.push({heuristic(start), start});
    while (!open.empty()) {
        const auto [estimate, n] = open.top();
        open.pop();
        if (n == goal) break;
        if (estimate - heuristic(n) > cost[n] + 1e-3f) continue; // a stale entry
        for (EdgeId e = firstEdge_[n]; e < firstEdge_[n + 1]; ++e) {
            if (std::binary_search(avoided.begin(), avoided.end(), e)) continue;
            const NavEdge& edge = edges_[e];
            const float c = cost[n] + edge.cost;
            if (c >= cost[edge.to]) continue;
            cost[edge.to] = c;
            via[edge.to] = e;
            open.push({c + heuristic(edge.to), edge.to});
        }
    }
    if (cost[goal] == inf) return false;
    for (NodeId n = goal; n != start; n = edges_[via[n]].from) {
        path.nodes.push_back(n);
        path.edges.push_back(via[n]);
    }
    path.nodes.push_back(start);
    std::reverse(path.nodes.begin(), path.nodes.end());
    std::reverse(path.edges.begin(), path.edges.end());
    for (const NodeId n : path.nodes)
        path.waypoints.push_back(nodes_[n].position);
    path.cost = cost[goal];
    return true;
}

bool NavGraph::Connected(NodeId a, NodeId b) const {
    return a < nodes_.size() && b < nodes_.size() && component_[a] == component_[b];
}

NodeId NavGraph::RandomReachableNode(const glm::vec3& from, uint32_t seed) const {
    const NodeId start = NearestNode(from);
    if (start == kNoNode) return kNoNode;
    std::vector<NodeId> choices;
    for (NodeId n = 0; n < nodes_.size(); ++n)
        if (component_[n] == component_[start]) choices.push_back(n);
    std::mt19937 random(seed);
    return choices[std::uniform_int_distribution<size_t>(0, choices.size() - 1)(random)];
}

// =============================================================================================
// 6. Spawn points
// =============================================================================================

std::vector<glm::vec3> SpawnPositions(const player::World& world) {
    std::vector<glm::vec3> points;
    const scene::Frame* sceneFrame = world.sceneFrame.get();
    const auto add = [&](const std::shared_ptr<scene::Frame>& frame, const glm::vec3& p) {
        if (frame)
            points.push_back(glm::vec3(frame->GetTransform(sceneFrame) * glm::vec4(p, 1.0f)));
    };
    if (world.mapName == "couloirs") {
        for (const auto& section : {world.decorFrameA, world.decorFrameB})
            for (const glm::vec3& p : player::kCorridorSpawns)
                add(section, p);
    } else if (world.mapName == "entrepot") {
        for (const glm::vec3& p : player::kWarehouseSpawns)
            add(world.wallFrame, p);
    } else {
        for (const glm::vec3& p : world.spawnPoints)
            add(world.wallFrame, p);
    }
    return points;
}

} // namespace bots
