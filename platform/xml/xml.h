// platform/xml/xml.h — a small read-only XML DOM over pugixml.
//
// A Document owns the parsed tree; Nodes are light handles into it, valid while the Document
// lives and is not reloaded. A null Node (from a missing child or an empty document) answers
// every query with "" or nothing, so chains of look-ups never need checks in between.
// Whitespace-only text between elements is dropped on load; external entities and DTDs are
// never fetched. Documents declared ISO-8859-1 are converted to UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
struct xml_node_struct;
class xml_document;
} // namespace pugi

namespace xml {

class Node {
public:
    Node() = default; // null

    bool IsNull() const { return node_ == nullptr; }
    bool IsElement() const;

    // Element name; "#text" for text and "#cdata-section" for CDATA nodes; "" when null.
    std::string Name() const;

    // The text of the node: its own text for a text node, for an element the concatenation
    // of every text and CDATA node below it in document order, exactly as written (entities
    // decoded, no trimming).
    std::string Text() const;

    // The child elements and text nodes, in document order (comments and processing
    // instructions are left out).
    std::vector<Node> Children() const;

    // The first child element named `name` (case-sensitive), or a null Node.
    Node FirstChildNamed(std::string_view name) const;

    // The value of the attribute `name`, or "" when the node has none.
    std::string Attribute(std::string_view name) const;

    friend bool operator==(const Node&, const Node&) = default;

private:
    friend class Document;
    explicit Node(pugi::xml_node_struct* node) : node_(node) {}
    pugi::xml_node_struct* node_ = nullptr;
};

// The outcome of a load: ok, or an error naming the offset and the reason.
struct LoadResult {
    bool ok = false;
    std::string error;
    explicit operator bool() const { return ok; }
};

class Document {
public:
    Document();
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;

    // Parses `text`, replacing what the document held. On failure the document is empty and
    // the result says why ("offset 12: …"). A text without a root element is a failure.
    LoadResult LoadText(std::string_view text);
    LoadResult LoadBytes(std::span<const std::uint8_t> bytes);

    // The root element, or a null Node when nothing is loaded.
    Node DocumentElement() const;

private:
    std::unique_ptr<pugi::xml_document> document_;
};

} // namespace xml
