// bots/nav_cache.cpp — the navigation graph kept on disk, one file per map.
//
// A cache file (little-endian):
//   "TNAV"                      magic
//   u32 version                 kNavFormatVersion
//   u64 geometry hash           MapGeometryHash of the map it was built from
//   u16 n, n bytes              the map's name
//   u32 nodes, u32 edges        at most kMaxNavNodes, kMaxNavEdges
//   nodes x (f32 x, f32 y, f32 z)
//   edges x (u32 from, u32 to, u8 kind, f32 cost), in the order of `from`
//   u64 checksum                FNV-1a of every byte before it
// The file is read as untrusted input: every count and index is checked before use, and a
// file that is not exactly a graph of that map, hash and version is refused whole.
#include "bots/nav.h"
#include "bots/nav_local.h"

#include "platform/system/system.h"

#include <glm/mat4x4.hpp>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace bots {

namespace {

constexpr char kMagic[4] = {'T', 'N', 'A', 'V'};
constexpr size_t kMaxNameLength = 255;
constexpr float kMaxCoordinate = 1.0e6f;
constexpr size_t kNodeBytes = 12;
constexpr size_t kEdgeBytes = 13;
constexpr size_t kCacheFileLimit = 64u << 20; // larger than any graph the limits allow
static_assert(size_t(kMaxNavNodes) * 12 + size_t(kMaxNavEdges) * 13 + 4096 < kCacheFileLimit);

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t Fnv(uint64_t hash, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= kFnvPrime;
    }
    return hash;
}

// --- writing ---

void Put(std::string& out, const void* data, size_t size) {
    out.append(static_cast<const char*>(data), size);
}
template <typename T> void PutLe(std::string& out, T value) {
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = uint8_t(uint64_t(value) >> (8 * i));
    Put(out, bytes, sizeof(T));
}
void PutFloat(std::string& out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutLe(out, bits);
}

// --- reading ---

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool Has(size_t n) const { return bytes_.size() - at_ >= n; }
    template <typename T> T Le() {
        uint64_t v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= uint64_t(uint8_t(bytes_[at_ + i])) << (8 * i);
        at_ += sizeof(T);
        return T(v);
    }
    float Float() {
        const uint32_t bits = Le<uint32_t>();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    std::string_view Take(size_t n) {
        const std::string_view s = bytes_.substr(at_, n);
        at_ += n;
        return s;
    }
    size_t Offset() const { return at_; }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

// A map name that can name a file of the cache folder.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameLength &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos &&
           name != "." && name != "..";
}

// Hashes the corners of the pickable triangles under `frame`, in scene coordinates rounded to
// a thousandth of a unit, with the flags that make them count.
uint64_t HashFrame(uint64_t hash, const scene::Frame& frame, const scene::Frame* reference) {
    const uint32_t options = frame.GetTraversalOptions();
    hash = Fnv(hash, &options, sizeof options);
    if ((options & scene::kFlagPickable) == 0) return hash;
    const glm::mat4 toReference = frame.GetTransform(reference);
    const auto corner = [&](const glm::vec3& p) {
        const glm::vec3 q = glm::vec3(toReference * glm::vec4(p, 1.0f));
        for (int k = 0; k < 3; ++k) {
            const int64_t rounded = int64_t(std::llround(double(q[k]) * 1000.0));
            hash = Fnv(hash, &rounded, sizeof rounded);
        }
    };
    std::vector<uint32_t> indices;
    for (const auto& visual : frame.Visuals()) {
        const uint32_t flags = visual->GetFlags();
        hash = Fnv(hash, &flags, sizeof flags);
        if (visual->IsPickable()) ForEachTriangleCorner(*visual, indices, corner);
    }
    const uint64_t children = frame.GetChildCount();
    hash = Fnv(hash, &children, sizeof children);
    for (const auto& child : frame.Children())
        hash = HashFrame(hash, *child, reference);
    return hash;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = "not a regular file";
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > kCacheFileLimit) {
        error = ec ? ec.message() : "larger than any graph";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    bytes.assign(size_t(size), '\0');
    if (!in.read(bytes.data(), std::streamsize(bytes.size()))) {
        error = "cannot be read";
        return false;
    }
    return true;
}

// Replaces `file` by `bytes` atomically (a temporary file of this process, then a rename).
bool WriteFileAtomically(const std::filesystem::path& file, const std::string& bytes,
                         std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const std::filesystem::path temporary =
        file.string() + "." + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out) {
            error = "cannot be written";
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        error = ec.message();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

} // namespace

uint64_t MapGeometryHash(const player::World& world) {
    uint64_t hash = kFnvOffset;
    const double rules[3] = {double(NavGraph::kSpacing), world.mapScale, world.modelScale};
    hash = Fnv(hash, rules, sizeof rules);
    if (!world.sceneFrame) return hash;
    const SectionsPickable sections(world);
    for (const auto& frame : {world.floorFrame, world.wallFrame, world.ladderFrame}) {
        const uint8_t present = frame ? 1 : 0;
        hash = Fnv(hash, &present, 1);
        if (frame) hash = HashFrame(hash, *frame, world.sceneFrame.get());
    }
    return hash;
}

std::string EncodeNavGraph(const NavGraph& graph, std::string_view mapName, uint64_t geometryHash) {
    std::string out;
    Put(out, kMagic, sizeof kMagic);
    PutLe<uint32_t>(out, kNavFormatVersion);
    PutLe<uint64_t>(out, geometryHash);
    const std::string_view name = mapName.substr(0, kMaxNameLength);
    PutLe<uint16_t>(out, uint16_t(name.size()));
    Put(out, name.data(), name.size());
    PutLe<uint32_t>(out, uint32_t(graph.Nodes().size()));
    PutLe<uint32_t>(out, uint32_t(graph.Edges().size()));
    for (const NavNode& n : graph.Nodes())
        for (int k = 0; k < 3; ++k)
            PutFloat(out, n.position[k]);
    for (const NavEdge& e : graph.Edges()) {
        PutLe<uint32_t>(out, e.from);
        PutLe<uint32_t>(out, e.to);
        PutLe<uint8_t>(out, uint8_t(e.kind));
        PutFloat(out, e.cost);
    }
    PutLe<uint64_t>(out, Fnv(kFnvOffset, out.data(), out.size()));
    return out;
}

bool DecodeNavGraph(std::string_view bytes, std::string_view mapName, uint64_t geometryHash,
                    NavGraph& graph, std::string& error) {
    graph = NavGraph();
    Reader in(bytes);
    const auto refuse = [&](std::string why) {
        error = std::move(why);
        return false;
    };
    if (!in.Has(4 + 4 + 8 + 2) || in.Take(4) != std::string_view(kMagic, 4))
        return refuse("not a navigation graph");
    if (const uint32_t version = in.Le<uint32_t>(); version != kNavFormatVersion)
        return refuse("format version " + std::to_string(version) + ", not " +
                      std::to_string(kNavFormatVersion));
    if (in.Le<uint64_t>() != geometryHash) return refuse("built from other map geometry");
    const uint16_t nameLength = in.Le<uint16_t>();
    if (!in.Has(nameLength) || in.Take(nameLength) != mapName)
        return refuse("built for another map");
    if (!in.Has(8)) return refuse("truncated");
    const uint32_t nodeCount = in.Le<uint32_t>(), edgeCount = in.Le<uint32_t>();
    if (nodeCount > kMaxNavNodes || edgeCount > kMaxNavEdges)
        return refuse("more nodes or edges than a graph may have");
    const size_t expected = in.Offset() + size_t(nodeCount) * kNodeBytes +
                            size_t(edgeCount) * kEdgeBytes + sizeof(uint64_t);
    if (bytes.size() != expected) return refuse("truncated or with bytes after its end");
    const size_t body = expected - sizeof(uint64_t);
    Reader tail(bytes.substr(body));
    if (tail.Le<uint64_t>() != Fnv(kFnvOffset, bytes.data(), body))
        return refuse("checksum does not match");

    std::vector<NavNode> nodes(nodeCount);
    for (NavNode& n : nodes) {
        for (int k = 0; k < 3; ++k)
            n.position[k] = in.Float();
        for (int k = 0; k < 3; ++k)
            if (!std::isfinite(n.position[k]) || std::fabs(n.position[k]) > kMaxCoordinate)
                return refuse("a node lies outside any map");
    }
    std::vector<NavEdge> edges(edgeCount);
    NodeId previous = 0;
    for (NavEdge& e : edges) {
        e.from = in.Le<uint32_t>();
        e.to = in.Le<uint32_t>();
        const uint8_t kind = in.Le<uint8_t>();
        e.cost = in.Float();
        if (e.from >= nodeCount || e.to >= nodeCount || e.from == e.to)
            return refuse("an edge names a node that does not exist");
        if (e.from < previous) return refuse("edges out of order");
        previous = e.from;
        if (kind > uint8_t(EdgeKind::Ladder)) return refuse("an edge of unknown kind");
        e.kind = EdgeKind(kind);
        const glm::vec3 a = nodes[e.from].position, b = nodes[e.to].position;
        // The cost is never below the distance across: A* relies on it.
        if (!std::isfinite(e.cost) || e.cost < std::hypot(a.x - b.x, a.z - b.z) * 0.999f ||
            e.cost > 4.0f * kMaxCoordinate)
            return refuse("an edge's cost is not one of its length");
    }
    if (!NavGraph::FromParts(std::move(nodes), std::move(edges), graph))
        return refuse("an edge names a node that does not exist");
    return true;
}

std::filesystem::path NavCacheFile(const std::filesystem::path& folder, std::string_view mapName) {
    if (folder.empty() || !IsPlainName(mapName)) return {};
    return folder / (std::string(mapName) + ".nav");
}

NavGraph LoadOrBuildNavGraph(const player::World& world, const std::filesystem::path& folder) {
    const uint64_t hash = MapGeometryHash(world);
    const std::filesystem::path file = NavCacheFile(folder, world.mapName);
    const std::string label = "navigation graph of " + world.mapName;
    NavGraph graph;
    std::error_code ec;
    if (!file.empty() && std::filesystem::exists(file, ec)) {
        std::string bytes, error;
        if (ReadWholeFile(file, bytes, error) &&
            DecodeNavGraph(bytes, world.mapName, hash, graph, error)) {
            sys::Log(label + ": read from " + file.string());
            return graph;
        }
        sys::Log(label + ": " + file.string() + " not used (" + error + "), built again");
    }
    const auto begin = std::chrono::steady_clock::now();
    graph = NavGraph::Build(world);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - begin)
                        .count();
    std::ostringstream line;
    line << label << ": built in " << ms << " ms, " << graph.Nodes().size() << " nodes, "
         << graph.Edges().size() << " edges";
    std::string error;
    if (file.empty())
        line << ", not kept (no cache file for this map name)";
    else if (graph.Nodes().size() > kMaxNavNodes || graph.Edges().size() > kMaxNavEdges)
        line << ", not kept (larger than a cache file may hold)";
    else if (!WriteFileAtomically(file, EncodeNavGraph(graph, world.mapName, hash), error))
        line << ", not kept: " << file.string() << " " << error;
    else
        line << ", kept in " << file.string();
    sys::Log(line.str());
    return graph;
}

} // namespace bots
