// The navigation graph of a small world built here: a ground floor split by a wall with no gap
// (the way round it passes its end), a platform 4 high reached by stairs, and a tower 8 high
// reached by a ladder, too deep to jump down from on a map whose deepest drop is 5.
#include "bots/nav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <unistd.h>

namespace {

struct Rect {
    float x0, x1, z0, z1;
};

// Appends one quad (four corners, in order) to `builder`.
void Quad(scene::MeshBuilder& builder, const glm::vec3& a, const glm::vec3& b, const glm::vec3& c,
          const glm::vec3& d) {
    const glm::vec3 corners[4] = {a, b, c, d};
    const int32_t face[] = {4, 0, 1, 2, 3, 0};
    ASSERT_TRUE(builder.AddFaces(corners, {}, face));
}

void Floor(scene::MeshBuilder& b, const Rect& r, float y) {
    Quad(b, {r.x0, y, r.z0}, {r.x0, y, r.z1}, {r.x1, y, r.z1}, {r.x1, y, r.z0});
}

// A vertical quad over the segment (x0, z0)-(x1, z1) between heights y0 and y1.
void Wall(scene::MeshBuilder& b, float x0, float z0, float x1, float z1, float y0, float y1) {
    Quad(b, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z1}, {x1, y0, z1});
}

void Box(scene::MeshBuilder& b, const Rect& r, float y0, float y1) {
    Wall(b, r.x0, r.z0, r.x1, r.z0, y0, y1);
    Wall(b, r.x0, r.z1, r.x1, r.z1, y0, y1);
    Wall(b, r.x0, r.z0, r.x0, r.z1, y0, y1);
    Wall(b, r.x1, r.z0, r.x1, r.z1, y0, y1);
}

// The dividing wall: x = 30 from z = 0 to its end at z = 29.5, 10 high.
constexpr float kWallX = 30.0f, kWallEnd = 29.5f;

struct SmallWorld {
    SmallWorld() {
        world.sceneFrame = scene::Frame::Create();
        world.floorFrame = scene::Frame::Create(world.sceneFrame);
        world.wallFrame = scene::Frame::Create(world.sceneFrame);
        // Ladders hang under the wall frame, as in a match: the wall ray meets them too.
        world.ladderFrame = scene::Frame::Create(world.wallFrame);
        world.mapName = "small";
        world.mapScale = 5.0;
        auto floors = scene::MeshBuilder::Create();
        auto walls = scene::MeshBuilder::Create();
        auto ladder = scene::MeshBuilder::Create();
        // Ground 60 x 40, cut out under the platform (2..12), its stairs (12..22) and the
        // tower (x 44..54, z 10..20).
        for (const Rect& r : {Rect{0, 60, 0, 2}, Rect{0, 2, 2, 10}, Rect{22, 60, 2, 10},
                              Rect{0, 2, 10, 12}, Rect{22, 44, 10, 12}, Rect{54, 60, 10, 12},
                              Rect{0, 44, 12, 20}, Rect{54, 60, 12, 20}, Rect{0, 60, 20, 40}})
            Floor(*floors, r, 0.0f);
        Box(*walls, {0, 60, 0, 40}, 0, 10);
        Wall(*walls, kWallX, 0, kWallX, kWallEnd, 0, 10);
        // The platform, 4 high, and five steps of 0.8 down from it along +x.
        Floor(*floors, {2, 12, 2, 12}, 4.0f);
        Box(*walls, {2, 12, 2, 12}, 0, 4);
        for (int k = 0; k < 5; ++k)
            Floor(*floors, {22.0f - 2.0f * float(k + 1), 22.0f - 2.0f * float(k), 2, 12},
                  0.8f * float(k + 1));
        // The tower, 8 high, and its ladder on the west face, one unit above its top.
        Floor(*floors, {44, 54, 10, 20}, 8.0f);
        Box(*walls, {44, 54, 10, 20}, 0, 8);
        Wall(*ladder, 43.6f, 13.5f, 43.6f, 16.5f, 0, 9);
        world.floorFrame->AddVisual(floors);
        world.wallFrame->AddVisual(walls);
        world.ladderFrame->AddVisual(ladder);
    }
    player::World world;
};

const glm::vec3 kStart(5, 2.5f, 30);      // on the ground, west of the wall
const glm::vec3 kPlatform(7, 6.5f, 7);    // on the platform the stairs lead to
const glm::vec3 kTowerTop(49, 10.5f, 15); // on the tower the ladder leads to
const glm::vec3 kWestOfWall(25, 2.5f, 5); // either side of the wall, near its foot
const glm::vec3 kEastOfWall(35, 2.5f, 5);

bool Near(const glm::vec3& a, const glm::vec3& b, float across) {
    return std::hypot(a.x - b.x, a.z - b.z) <= across && std::fabs(a.y - b.y) < 0.1f;
}

// Where segment a-b crosses the plane x = kWallX (its z), or nothing when it does not.
std::optional<float> CrossingOfWallPlane(const glm::vec3& a, const glm::vec3& b) {
    if ((a.x - kWallX) * (b.x - kWallX) >= 0.0f) return std::nullopt;
    const float t = (kWallX - a.x) / (b.x - a.x);
    return a.z + t * (b.z - a.z);
}

TEST(NavGraph, SmallWorldStairsAndLadderAreReachedAndTheWallIsNeverCrossed) {
    SmallWorld small;
    const bots::NavGraph graph = bots::NavGraph::Build(small.world);
    ASSERT_FALSE(graph.Empty());
    const auto nodes = graph.Nodes();

    // The nodes stand where the named places are.
    for (const glm::vec3& place : {kStart, kPlatform, kTowerTop, kWestOfWall, kEastOfWall})
        EXPECT_TRUE(Near(nodes[graph.NearestNode(place)].position, place, 1.5f))
            << place.x << " " << place.y << " " << place.z;

    // Every edge: the wall, the drops and the climbs.
    for (const bots::NavEdge& e : graph.Edges()) {
        const glm::vec3 a = nodes[e.from].position, b = nodes[e.to].position;
        // No edge passes through the wall: one crossing its plane passes beyond its end.
        if (const auto z = CrossingOfWallPlane(a, b)) {
            EXPECT_GT(*z, kWallEnd) << a.x << "," << a.z << " -> " << b.x << "," << b.z;
        }
        // Only ladders go up more than the floor ray climbs; the tower (8) is too deep to drop
        // from on this map, the platform (4) is not.
        if (e.kind != bots::EdgeKind::Ladder) {
            EXPECT_LT(b.y - a.y, 2.5f);
        }
        if (a.y > 10.0f) {
            EXPECT_GT(b.y, 10.0f) << "left the tower top";
        }
    }
    const auto drops = std::count_if(graph.Edges().begin(), graph.Edges().end(), [&](auto& e) {
        return e.kind == bots::EdgeKind::Drop && nodes[e.from].position.y > 6.0f &&
               nodes[e.to].position.y < 3.0f;
    });
    EXPECT_GT(drops, 0) << "the platform edge is dropped from";

    // Round the wall: from one side of its foot to the other, by its end.
    bots::NavPath path;
    ASSERT_TRUE(graph.FindPath(kWestOfWall, kEastOfWall, {}, path));
    EXPECT_TRUE(std::any_of(path.waypoints.begin(), path.waypoints.end(),
                            [](const glm::vec3& w) { return w.z > kWallEnd; }));
    EXPECT_GT(path.cost, 2.0f * (kWallEnd - 5.0f));

    // The stairs: a path of walks that climbs the steps one by one.
    ASSERT_TRUE(graph.FindPath(kStart, kPlatform, {}, path));
    EXPECT_TRUE(Near(path.waypoints.back(), kPlatform, 1.5f));
    for (const bots::EdgeId e : path.edges)
        EXPECT_EQ(graph.Edges()[e].kind, bots::EdgeKind::Walk);
    EXPECT_TRUE(std::any_of(path.waypoints.begin(), path.waypoints.end(), [](const glm::vec3& w) {
        return w.y > 3.0f && w.y < 6.0f && w.x > 12.0f && w.x < 22.0f;
    })) << "the path climbs the stairs";

    // The ladder: the tower top is reached by one ladder edge from the ground in front of it.
    ASSERT_TRUE(graph.FindPath(kStart, kTowerTop, {}, path));
    EXPECT_TRUE(Near(path.waypoints.back(), kTowerTop, 1.5f));
    const auto ladderEdge = std::find_if(path.edges.begin(), path.edges.end(), [&](bots::EdgeId e) {
        return graph.Edges()[e].kind == bots::EdgeKind::Ladder;
    });
    ASSERT_NE(ladderEdge, path.edges.end());
    const bots::NavEdge& climb = graph.Edges()[*ladderEdge];
    EXPECT_NEAR(nodes[climb.from].position.y, 2.5f, 0.01f);
    EXPECT_LT(nodes[climb.from].position.x, 43.6f);
    EXPECT_NEAR(nodes[climb.to].position.y, 10.5f, 0.01f);
    EXPECT_GE(climb.cost, 16.0f) << "climbing 8 counts twice";
}

TEST(NavGraph, AnAvoidedEdgeIsRoutedAroundAndRoamingStaysWhereABotCanComeBack) {
    SmallWorld small;
    const bots::NavGraph graph = bots::NavGraph::Build(small.world);
    bots::NavPath direct, detour;
    ASSERT_TRUE(graph.FindPath(kStart, kEastOfWall, {}, direct));
    ASSERT_GE(direct.edges.size(), 3u);
    // A bot stuck on the middle edge of its path asks again without it.
    const bots::EdgeId stuck = direct.edges[direct.edges.size() / 2];
    ASSERT_TRUE(graph.FindPath(kStart, kEastOfWall, std::span(&stuck, 1), detour));
    EXPECT_EQ(std::find(detour.edges.begin(), detour.edges.end(), stuck), detour.edges.end());
    EXPECT_GE(detour.cost, direct.cost);
    EXPECT_EQ(detour.nodes.back(), direct.nodes.back());
    // Consecutive edges join up, and each waypoint is its node's position.
    for (size_t i = 0; i < detour.edges.size(); ++i) {
        EXPECT_EQ(graph.Edges()[detour.edges[i]].from, detour.nodes[i]);
        EXPECT_EQ(graph.Edges()[detour.edges[i]].to, detour.nodes[i + 1]);
        EXPECT_EQ(detour.waypoints[i], graph.Nodes()[detour.nodes[i]].position);
    }

    // The tower top is reached by the ladder but never left: it is no place to roam to from the
    // ground, and from up there nothing else is.
    const bots::NodeId ground = graph.NearestNode(kStart), top = graph.NearestNode(kTowerTop);
    EXPECT_FALSE(graph.Connected(ground, top));
    EXPECT_TRUE(graph.Connected(ground, graph.NearestNode(kPlatform)));
    for (uint32_t seed = 0; seed < 50; ++seed) {
        EXPECT_TRUE(graph.Connected(ground, graph.RandomReachableNode(kStart, seed)));
        EXPECT_TRUE(graph.Connected(top, graph.RandomReachableNode(kTowerTop, seed)));
    }
    bots::NavPath none;
    EXPECT_FALSE(graph.FindPath(kTowerTop, kStart, {}, none));
    EXPECT_TRUE(none.nodes.empty());

    // A world with nothing to stand on has no graph, and its queries find nothing.
    player::World empty;
    const bots::NavGraph nothing = bots::NavGraph::Build(empty);
    EXPECT_TRUE(nothing.Empty());
    EXPECT_EQ(nothing.NearestNode(kStart), bots::kNoNode);
    EXPECT_EQ(nothing.RandomReachableNode(kStart, 1), bots::kNoNode);
    EXPECT_FALSE(nothing.FindPath(kStart, kPlatform, {}, none));
}

// --- the cache ---

class NavCache : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::path(::testing::TempDir()) /
                 ("nav-cache-" + std::to_string(::getpid())) / "nav";
        std::filesystem::remove_all(folder.parent_path());
    }
    void TearDown() override { std::filesystem::remove_all(folder.parent_path()); }
    std::string Read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Write(const std::filesystem::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    }
    static bool Same(const bots::NavGraph& a, const bots::NavGraph& b) {
        if (a.Nodes().size() != b.Nodes().size() || a.Edges().size() != b.Edges().size())
            return false;
        for (size_t i = 0; i < a.Nodes().size(); ++i)
            if (a.Nodes()[i].position != b.Nodes()[i].position) return false;
        for (size_t i = 0; i < a.Edges().size(); ++i) {
            const bots::NavEdge &x = a.Edges()[i], &y = b.Edges()[i];
            if (x.from != y.from || x.to != y.to || x.kind != y.kind || x.cost != y.cost)
                return false;
        }
        return true;
    }
    std::filesystem::path folder;
};

TEST_F(NavCache, AGraphIsKeptPerMapAndReadBackWhileItsMapIsUnchanged) {
    SmallWorld small;
    const bots::NavGraph built = bots::NavGraph::Build(small.world);
    const bots::NavGraph first = bots::LoadOrBuildNavGraph(small.world, folder);
    EXPECT_TRUE(Same(first, built));
    const std::filesystem::path file = folder / "small.nav";
    ASSERT_EQ(bots::NavCacheFile(folder, "small"), file);
    ASSERT_TRUE(std::filesystem::is_regular_file(file));

    // The file is read, not built again: a graph stored there for this map is the one given.
    const uint64_t hash = bots::MapGeometryHash(small.world);
    bots::NavGraph one;
    ASSERT_TRUE(bots::NavGraph::FromParts({{kStart}, {kPlatform}},
                                          {{0, 1, bots::EdgeKind::Walk, 40.0f}}, one));
    Write(file, bots::EncodeNavGraph(one, "small", hash));
    EXPECT_TRUE(Same(bots::LoadOrBuildNavGraph(small.world, folder), one));

    // A map changed under the same name (a platform moved) hashes differently: built again.
    Write(file, bots::EncodeNavGraph(built, "small", hash));
    small.world.floorFrame->AddTranslation(scene::Combine::After, 0.0f, 0.5f, 0.0f);
    EXPECT_NE(bots::MapGeometryHash(small.world), hash);
    const bots::NavGraph moved = bots::LoadOrBuildNavGraph(small.world, folder);
    EXPECT_FALSE(Same(moved, built));
    bots::NavGraph reread;
    std::string error;
    EXPECT_TRUE(bots::DecodeNavGraph(Read(file), "small", bots::MapGeometryHash(small.world),
                                     reread, error))
        << error;
    EXPECT_TRUE(Same(reread, moved));

    // A name that cannot name a file of the folder is built and kept nowhere.
    small.world.mapName = "../small";
    EXPECT_TRUE(bots::NavCacheFile(folder, small.world.mapName).empty());
    EXPECT_FALSE(bots::LoadOrBuildNavGraph(small.world, folder).Empty());
    EXPECT_FALSE(std::filesystem::exists(folder.parent_path() / "small.nav"));
}

TEST_F(NavCache, ABadCacheFileIsRefusedAndBuiltAgain) {
    SmallWorld small;
    const bots::NavGraph built = bots::LoadOrBuildNavGraph(small.world, folder);
    const std::filesystem::path file = folder / "small.nav";
    const std::string good = Read(file);
    const uint64_t hash = bots::MapGeometryHash(small.world);
    ASSERT_GT(good.size(), 100u);

    // The checksum: patches an encoded file and seals it again as a writer would.
    const auto seal = [](std::string bytes) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (size_t i = 0; i + 8 < bytes.size(); ++i)
            h = (h ^ uint8_t(bytes[i])) * 0x100000001b3ull;
        for (size_t i = 0; i < 8; ++i)
            bytes[bytes.size() - 8 + i] = char(uint8_t(h >> (8 * i)));
        return bytes;
    };
    const size_t header = 4 + 4 + 8 + 2 + 5 + 8;
    const size_t edges = header + built.Nodes().size() * 12;
    std::string flipped = good, truncated = good.substr(0, good.size() - 3);
    flipped[good.size() / 2] ^= 0x40;
    std::string farNode = good, unknownKind = good, nanCost = good, version = good;
    for (size_t i = 0; i < 4; ++i) // the first edge's end: a node far past the last
        farNode[edges + 4 + i] = char(0xff);
    unknownKind[edges + 8] = 7;
    for (size_t i = 0; i < 4; ++i)
        nanCost[edges + 9 + i] = char(0xff);
    version[4] = 2;
    const std::pair<std::string, std::string> bad[] = {
        {"", "not a navigation graph"},
        {"TNAV", "not a navigation graph"},
        {flipped, "checksum"},
        {truncated, "truncated"},
        {good + "x", "bytes after its end"},
        {seal(farNode), "names a node"},
        {seal(unknownKind), "unknown kind"},
        {seal(nanCost), "cost"},
        {seal(version), "format version 2"},
    };
    for (const auto& [bytes, why] : bad) {
        bots::NavGraph graph;
        std::string error;
        EXPECT_FALSE(bots::DecodeNavGraph(bytes, "small", hash, graph, error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_TRUE(graph.Empty());
        // The game builds the graph again and replaces the file.
        Write(file, bytes);
        EXPECT_TRUE(Same(bots::LoadOrBuildNavGraph(small.world, folder), built)) << why;
        EXPECT_EQ(Read(file), good) << why;
    }
    bots::NavGraph graph;
    std::string error;
    EXPECT_FALSE(bots::DecodeNavGraph(good, "other", hash, graph, error));
    EXPECT_FALSE(bots::DecodeNavGraph(good, "small", hash + 1, graph, error));
    EXPECT_TRUE(bots::DecodeNavGraph(good, "small", hash, graph, error)) << error;
    EXPECT_TRUE(Same(graph, built));

    // A folder in the way of the file: the graph is still given, and nothing else breaks.
    std::filesystem::remove(file);
    std::filesystem::create_directories(file);
    EXPECT_TRUE(Same(bots::LoadOrBuildNavGraph(small.world, folder), built));
}

// --- following a route ---

TEST(NavRoute, ABodyWalkedAlongArrivesAndOneThatMakesNoProgressFor2SecondsGoesAnotherWay) {
    SmallWorld small;
    const bots::NavGraph graph = bots::NavGraph::Build(small.world);
    bots::NavRoute route;
    using State = bots::NavRoute::State;

    // A body put on each waypoint in turn, a frame of 20 ms apart, arrives.
    ASSERT_EQ(route.Plan(graph, kWestOfWall, kEastOfWall, 0.0), State::Walking);
    double now = 0.0;
    for (int frame = 0; frame < 500 && route.Current() == State::Walking; ++frame) {
        now += 0.02;
        route.Update(route.Waypoint(), now);
    }
    EXPECT_EQ(route.Current(), State::Arrived);
    EXPECT_EQ(route.Detours(), 0);
    EXPECT_TRUE(
        Near(route.Waypoint(), graph.Nodes()[graph.NearestNode(kEastOfWall)].position, 0.1f));

    // A body that stays where it is keeps its edge for 2 s, then gives it up for another way.
    ASSERT_EQ(route.Plan(graph, kStart, kEastOfWall, 10.0), State::Walking);
    const bots::EdgeId first = route.Path().edges[route.Next() - 1];
    const float cost = route.Path().cost;
    for (now = 10.0; now < 11.98; now += 0.02)
        ASSERT_EQ(route.Update(kStart, now), State::Walking);
    EXPECT_EQ(route.Detours(), 0);
    route.Update(kStart, 12.01);
    EXPECT_EQ(route.Detours(), 1);
    // The edge it was on and those through the spot in front of it are given up.
    EXPECT_TRUE(std::binary_search(route.GivenUp().begin(), route.GivenUp().end(), first));
    EXPECT_GT(route.GivenUp().size(), 1u);
    for (const bots::EdgeId e : route.GivenUp())
        EXPECT_LT(std::hypot(graph.Nodes()[graph.Edges()[e].from].position.x - kStart.x,
                             graph.Nodes()[graph.Edges()[e].from].position.z - kStart.z),
                  2.5f + 1.5f + 2.0f * bots::NavGraph::kSpacing);
    EXPECT_EQ(std::count(route.Path().edges.begin(), route.Path().edges.end(), first), 0);
    EXPECT_GE(route.Path().cost, cost);
    EXPECT_EQ(route.Current(), State::Walking);
    // Creeping a fortieth of a unit a second is no progress either.
    glm::vec3 at = kStart;
    for (now = 12.01; now < 14.2; now += 0.02) {
        at += 0.0005f * glm::normalize(route.Waypoint() - at);
        route.Update(at, now);
    }
    EXPECT_EQ(route.Detours(), 2);

    // Nowhere to go: lost at once; a body that never moves is lost once every way is given up.
    EXPECT_EQ(route.Plan(graph, kTowerTop, kStart, 20.0), State::Lost);
    ASSERT_EQ(route.Plan(graph, kPlatform, kStart, 30.0), State::Walking);
    for (now = 30.0; now < 200.0 && route.Current() == State::Walking; now += 0.02)
        route.Update(kPlatform, now);
    EXPECT_EQ(route.Current(), State::Lost);
    EXPECT_GT(route.Detours(), 0);
}

} // namespace
