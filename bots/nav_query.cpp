// bots/nav_query.cpp — the navigation graph's queries: the nearest node, the cheapest path (A*),
// reachability and roaming; and the map's spawn points.
//
// Index
//   1. Queries (nearest node, A*, reachability, roaming)
//   2. Spawn points
#include "bots/nav.h"
#include "bots/nav_local.h"

#include <glm/mat4x4.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <random>

namespace bots {

// =============================================================================================
// 1. Queries
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
// 2. Spawn points
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
