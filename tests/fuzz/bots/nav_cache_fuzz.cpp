// Any bytes as a navigation cache file ("nav/<map>.nav"): the reader either refuses them with a
// reason and an empty graph, or gives a graph whose every edge joins two of its nodes, that
// writes back to the very same bytes, and whose queries answer.
//
// Input: one byte of options (bit 0: seal the rest with its checksum, as the writer does, so
// that the fuzzer reaches the checks behind it), then the file.
#include "bots/nav.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kMap = "fuzz";
constexpr uint64_t kHash = 0x0123456789abcdefull;

std::string Sealed(std::string bytes) {
    if (bytes.size() < 8) return bytes;
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i + 8 < bytes.size(); ++i)
        h = (h ^ uint8_t(bytes[i])) * 0x100000001b3ull;
    for (size_t i = 0; i < 8; ++i)
        bytes[bytes.size() - 8 + i] = char(uint8_t(h >> (8 * i)));
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) bytes = Sealed(std::move(bytes));
    bots::NavGraph graph;
    std::string error;
    if (!bots::DecodeNavGraph(bytes, kMap, kHash, graph, error)) {
        if (error.empty() || !graph.Empty()) std::abort();
        return 0;
    }
    if (bots::EncodeNavGraph(graph, kMap, kHash) != bytes) std::abort();
    const auto nodes = graph.Nodes();
    for (const bots::NavEdge& e : graph.Edges())
        if (e.from >= nodes.size() || e.to >= nodes.size()) std::abort();
    if (nodes.empty()) return 0;
    const glm::vec3 first = nodes.front().position, last = nodes.back().position;
    if (graph.NearestNode(first) >= nodes.size()) std::abort();
    bots::NavPath path;
    if (graph.FindPath(first, last, {}, path) &&
        (path.nodes.size() != path.edges.size() + 1 || path.waypoints.size() != path.nodes.size()))
        std::abort();
    if (graph.RandomReachableNode(last, 1) >= nodes.size()) std::abort();
    return 0;
}
