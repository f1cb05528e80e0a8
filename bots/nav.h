// bots/nav.h — the navigation graph computer-controlled players walk by.
//
// Index
//   1. Nodes, edges and paths
//   2. NavGraph: building from a map, queries (nearest node, path, roaming, reachability)
//   3. The map's spawn points
//   4. The cache: one file per map in the player's data folder
//   5. NavRoute: following a path, and another route when the body makes no progress
//
// The graph is built from a loaded map (player::World), built-in or from files, with no
// waypoints made by hand: points are sampled on a grid over the floor meshes and kept where the
// player's floor ray stands a player; an edge joins two points when a player holding the
// forward key walks from one to the other under the player's own rules (the wall probe, the
// ladder probe and the floor ray of player/collisions.cpp, moved as player/controls.cpp moves
// the body). Stairs are walked, ledges are dropped from only where the floor ray lets a player
// fall, and ladders are climbed from in front of them to the floor at their top.
//
// Coordinates are scene coordinates (the scene frame's, which are its root's in a match), in
// scene units; a node's position is where `joueur` stands there: 2.5 above the floor. A graph
// is immutable once built; every query is const and may be called from the user-interface
// thread at any time, but allocates (call it when a bot plans, not every frame).
#pragma once

#include "player/player.h"

#include <glm/vec3.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bots {

// ---------------------------------------------------------------------------------------------
// 1. Nodes, edges and paths
// ---------------------------------------------------------------------------------------------

using NodeId = uint32_t;                       // index in NavGraph::Nodes()
using EdgeId = uint32_t;                       // index in NavGraph::Edges()
inline constexpr NodeId kNoNode = 0xFFFFFFFFu; // no such node (empty graph, no path)

// How a player takes an edge. Every kind is taken the same way: face the edge's end and hold
// the forward key; the kind says what happens on the way.
enum class EdgeKind : uint8_t {
    Walk = 0,   // along the floor, stairs included (height changes by less than a unit a step)
    Drop = 1,   // off a ledge: the body falls on the way, one unit a step
    Ladder = 2, // into a ladder: the body climbs it, then steps onto the floor at its top
};

struct NavNode {
    glm::vec3 position{0.0f}; // where joueur stands: 2.5 above the floor (scene coordinates)
};

struct NavEdge {
    NodeId from = kNoNode;
    NodeId to = kNoNode;
    EdgeKind kind = EdgeKind::Walk;
    // What taking the edge costs, in scene units walked: the horizontal distance, plus the
    // height climbed on a ladder on the way twice over (a climbing body rises half as fast as a
    // walking one advances). Never less than the horizontal distance between the two nodes.
    float cost = 0.0f;
};

// A path through the graph: the nodes in order, the edge taken between each node and the next
// (edges[i] leads from nodes[i] to nodes[i + 1]), and the nodes' positions as the waypoints to
// walk through. The first node is the one nearest the start; a bot already past it goes on to
// the second.
struct NavPath {
    std::vector<NodeId> nodes;
    std::vector<EdgeId> edges;
    std::vector<glm::vec3> waypoints; // positions of `nodes` (scene coordinates)
    float cost = 0.0f;                // sum of the edges' costs
};

// ---------------------------------------------------------------------------------------------
// 2. NavGraph
// ---------------------------------------------------------------------------------------------

class NavGraph {
public:
    // Distance between neighbouring sample points, scene units.
    static constexpr float kSpacing = 2.0f;
    // How near a node a body following a path must come before it turns to the next one,
    // across (scene units). Every edge is checked for bodies up to this far from its line, so a
    // body that keeps within it walks the edge as it was checked. Heights lag behind on stairs
    // and drops (a body falls one unit a frame): compare them loosely.
    static constexpr float kReach = 0.8f;

    NavGraph() = default; // empty: no node, every query finds nothing

    // Builds the graph of the map `world` describes (floorFrame, wallFrame, ladderFrame,
    // sectionFrames, mapScale, modelScale; sceneFrame's coordinates). The map is loaded and
    // no player moves while it runs. The corridor sections are made pickable while the graph
    // is built, so both are covered, and get their own traversal options back before it
    // returns. A world without a floor gives an empty graph. Load time: about a second for a
    // map of a few thousand square units.
    static NavGraph Build(const player::World& world);

    // Builds a graph from its parts (a stored graph). Edges are sorted by their start; false
    // (and `graph` left empty) when an edge names a node out of range.
    static bool FromParts(std::vector<NavNode> nodes, std::vector<NavEdge> edges, NavGraph& graph);

    std::span<const NavNode> Nodes() const { return nodes_; }
    std::span<const NavEdge> Edges() const { return edges_; } // sorted by `from`
    // The edges leaving `node` (empty for kNoNode or out of range).
    std::span<const NavEdge> EdgesFrom(NodeId node) const;
    // Id of an edge of EdgesFrom(node) or Edges().
    EdgeId IdOf(const NavEdge& edge) const { return EdgeId(&edge - edges_.data()); }
    bool Empty() const { return nodes_.empty(); }

    // The node nearest `position`, heights counting three times (a node on the floor above or
    // below is farther than one beside); kNoNode for an empty graph.
    NodeId NearestNode(const glm::vec3& position) const;

    // The cheapest path (A*) from the node nearest `from` to the node nearest `to`, never
    // taking an edge of `avoid` (a bot that made no progress along an edge avoids it and asks
    // again). When the node nearest `from` and the goal's cannot reach each other, a node at
    // most a cell farther from `from` that can is the start. False, with `path` emptied, when
    // no such path exists.
    bool FindPath(const glm::vec3& from, const glm::vec3& to, std::span<const EdgeId> avoid,
                  NavPath& path) const;

    // True when each of the two nodes can be reached from the other.
    bool Connected(NodeId a, NodeId b) const;

    // A node a bot near `from` can walk to and come back from (roaming), drawn from `seed`;
    // the nearest node itself when it is alone; kNoNode for an empty graph.
    NodeId RandomReachableNode(const glm::vec3& from, uint32_t seed) const;

private:
    void Index(); // edge ranges, strongly connected components, spatial cells
    // Distance from node `n` to `position`, heights counting three times.
    float Weighted(NodeId n, const glm::vec3& position) const;
    // The node nearest `position` (Weighted) among those `accept` takes; kNoNode when none.
    NodeId NearestWhere(const glm::vec3& position, const std::function<bool(NodeId)>& accept) const;

    std::vector<NavNode> nodes_;
    std::vector<NavEdge> edges_;
    std::vector<uint32_t> firstEdge_; // edges of node n: [firstEdge_[n], firstEdge_[n + 1])
    std::vector<uint32_t> component_; // strongly connected component of each node
    // Nodes sorted by the grid cell holding them, and the cells' keys in the same order.
    std::vector<NodeId> cellNodes_;
    std::vector<uint64_t> cellKeys_;
};

// ---------------------------------------------------------------------------------------------
// 3. The map's spawn points
// ---------------------------------------------------------------------------------------------

// Every point PlaceJoueur can put a player on in `world`, in scene coordinates: the corridor
// rows of both sections on "couloirs", the warehouse rows on "entrepot", the four points of a
// file map (as written: the floor ray then drops the body onto the floor below).
std::vector<glm::vec3> SpawnPositions(const player::World& world);

// ---------------------------------------------------------------------------------------------
// 4. The cache
// ---------------------------------------------------------------------------------------------
// A built graph is kept in <folder>/<map name>.nav (the game's folder: the player's data folder's
// "nav"), keyed by the map's name, a hash of its geometry and the format version: a map that
// changed (a new download of the same name) or a new version of the builder builds it again.

inline constexpr uint32_t kNavFormatVersion = 1;
// The largest graph a cache file may hold (a file map of about 1400 x 1400 units).
inline constexpr uint32_t kMaxNavNodes = 1u << 19;
inline constexpr uint32_t kMaxNavEdges = 1u << 22;

// A hash of what the graph of `world` is built from: the pickable triangles of the floor, wall
// and ladder frames (the corridor sections included) in scene coordinates, to a thousandth of a
// unit, their pick flags, the map's drop depth and the body's scale.
uint64_t MapGeometryHash(const player::World& world);

// The cache file's bytes for `graph`, built from the map `mapName` whose geometry hashes to
// `geometryHash`.
std::string EncodeNavGraph(const NavGraph& graph, std::string_view mapName, uint64_t geometryHash);

// Reads a cache file's bytes (untrusted: any bytes are safe). True and the graph when they hold
// a graph of this format version for `mapName` and `geometryHash`, intact; otherwise false,
// `graph` empty and `error` saying why.
bool DecodeNavGraph(std::string_view bytes, std::string_view mapName, uint64_t geometryHash,
                    NavGraph& graph, std::string& error);

// The cache file of map `mapName` in `folder`; empty when the name cannot name a file there
// (empty, with a folder separator or a NUL, ".", "..", longer than 255 bytes).
std::filesystem::path NavCacheFile(const std::filesystem::path& folder, std::string_view mapName);

// The graph of the map `world` describes, read from its cache file in `folder` when that holds
// the graph of this very map, else built and written there (the folder is created; the file is
// replaced atomically). A cache file that cannot be used is built again; one that cannot be
// written leaves the graph unsaved. Says which in the log. Load time: call it when the match's
// map is loaded.
NavGraph LoadOrBuildNavGraph(const player::World& world, const std::filesystem::path& folder);

// ---------------------------------------------------------------------------------------------
// 5. NavRoute
// ---------------------------------------------------------------------------------------------

// One body's way to a goal: the waypoint to walk at now, when it is reached, and another route
// when the body makes no progress. The caller turns the body toward Waypoint() and holds the
// forward key while Update says Walking. The graph must outlive the route. Update allocates
// nothing except when it plans again.
class NavRoute {
public:
    // A body whose distance to its waypoint has not shrunk by kProgress for kStuckSeconds
    // gives up the edge it is on, and every edge passing within kBlockRadius of the spot where
    // it stopped (kBlockAhead in front of it: a body stops about that far from a wall), and
    // plans again from where it stands; after kMaxDetours detours it is lost.
    static constexpr double kStuckSeconds = 2.0;
    static constexpr float kProgress = 0.5f;
    static constexpr float kBlockAhead = 2.5f;
    static constexpr float kBlockRadius = 1.5f;
    static constexpr int32_t kMaxDetours = 16;

    enum class State : uint8_t {
        Walking, // walk at Waypoint()
        Arrived, // stands on the path's last node
        Lost,    // no path (none at all, or none left without the edges it gave up)
    };

    // A new route from `from` to `to` at game time `now` (seconds), forgetting the edges given
    // up on the last one. Lost when the graph has no path.
    State Plan(const NavGraph& graph, const glm::vec3& from, const glm::vec3& to, double now);

    // One step with the body at `at` at game time `now`: passes the waypoints it has reached
    // (within NavGraph::kReach across, or beyond it along its edge, on its floor), and when it
    // is stuck gives up the edge it is on and plans again from where it stands.
    State Update(const glm::vec3& at, double now);

    State Current() const { return state_; }
    // Where to walk now (scene coordinates); the goal's node once arrived.
    glm::vec3 Waypoint() const;
    // The kind of the edge being walked (Walk before the first step and after the last).
    EdgeKind Kind() const;
    const NavPath& Path() const { return path_; }
    size_t Next() const { return next_; } // index in Path().waypoints of Waypoint()
    int32_t Detours() const { return detours_; }
    // The edges the route no longer takes, sorted.
    std::span<const EdgeId> GivenUp() const { return avoid_; }

private:
    State Replan(const glm::vec3& from, double now);
    void GiveUp(EdgeId edge);
    // The edge passes within kBlockRadius of `spot` across, on its floor.
    bool Passes(const NavEdge& edge, const glm::vec3& spot) const;
    bool Reached(const glm::vec3& at, size_t i) const;

    const NavGraph* graph_ = nullptr;
    glm::vec3 goal_{0.0f};
    NavPath path_;
    size_t next_ = 0;
    std::vector<EdgeId> avoid_;
    std::vector<glm::vec3> blocked_; // where bodies stopped, kBlockAhead in front of them
    State state_ = State::Lost;
    float best_ = 0.0f;       // nearest the body came to the waypoint since it became current
    double progressAt_ = 0.0; // game time of the last progress
    int32_t detours_ = 0;
};

} // namespace bots
