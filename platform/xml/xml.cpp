// platform/xml/xml.cpp — the DOM wrapper's queries and loading.
#include "platform/xml/xml.h"

#include <pugixml.hpp>

namespace xml {
namespace {

bool IsTextLike(const pugi::xml_node& node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

} // namespace

bool Node::IsElement() const {
    return pugi::xml_node(node_).type() == pugi::node_element;
}

std::string Node::Name() const {
    const pugi::xml_node node(node_);
    switch (node.type()) {
    case pugi::node_element:
        return node.name();
    case pugi::node_pcdata:
        return "#text";
    case pugi::node_cdata:
        return "#cdata-section";
    default:
        return "";
    }
}

std::string Node::Text() const {
    const pugi::xml_node start(node_);
    if (!start) return "";
    if (IsTextLike(start)) return start.value();
    // Depth-first walk without recursion, so deep documents cannot exhaust the stack.
    std::string text;
    pugi::xml_node node = start.first_child();
    while (node) {
        if (IsTextLike(node)) text += node.value();
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != start && !node.next_sibling())
            node = node.parent();
        if (!node || node == start) break;
        node = node.next_sibling();
    }
    return text;
}

std::vector<Node> Node::Children() const {
    std::vector<Node> children;
    for (pugi::xml_node child : pugi::xml_node(node_).children())
        if (child.type() == pugi::node_element || IsTextLike(child))
            children.push_back(Node(child.internal_object()));
    return children;
}

Node Node::FirstChildNamed(std::string_view name) const {
    for (pugi::xml_node child : pugi::xml_node(node_).children())
        if (child.type() == pugi::node_element && name == child.name())
            return Node(child.internal_object());
    return Node();
}

std::string Node::Attribute(std::string_view name) const {
    for (pugi::xml_attribute attribute : pugi::xml_node(node_).attributes())
        if (name == attribute.name()) return attribute.value();
    return "";
}

Document::Document() : document_(std::make_unique<pugi::xml_document>()) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

LoadResult Document::LoadText(std::string_view text) {
    if (!document_) document_ = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result parsed =
        document_->load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    LoadResult result;
    if (!parsed) {
        document_->reset();
        result.error = "offset " + std::to_string(parsed.offset) + ": " + parsed.description();
        return result;
    }
    if (!document_->document_element()) {
        document_->reset();
        result.error = "offset 0: no root element";
        return result;
    }
    result.ok = true;
    return result;
}

LoadResult Document::LoadBytes(std::span<const std::uint8_t> bytes) {
    return LoadText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Node Document::DocumentElement() const {
    if (!document_) return Node();
    return Node(document_->document_element().internal_object());
}

} // namespace xml
