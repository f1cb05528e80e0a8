// Any bytes as a web reply: loading never crashes, and every node of a loaded tree answers
// its queries.
#include "platform/xml/xml.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Visits the tree breadth-first with an explicit queue (no recursion on hostile depth).
void Visit(const xml::Node& root) {
    std::vector<xml::Node> pending{root};
    std::size_t textBytes = 0;
    while (!pending.empty()) {
        const xml::Node node = pending.back();
        pending.pop_back();
        if (node.IsNull()) std::abort();
        textBytes += node.Name().size() + node.Attribute("a").size();
        if (!node.IsElement() && node.Text().empty() && node.Name() == "#text") std::abort();
        for (const xml::Node& child : node.Children())
            pending.push_back(child);
        (void)node.FirstChildNamed("x");
    }
    if (root.Text().size() > 1u << 30) std::abort();
    (void)textBytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    xml::Document document;
    if (document.LoadBytes(std::span(data, size)))
        Visit(document.DocumentElement());
    else if (!document.DocumentElement().IsNull())
        std::abort();
    return 0;
}
