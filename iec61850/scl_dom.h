#pragma once

// Small helpers over pugixml for SCL: elements are matched by their local name (a "scl:" or
// other prefix is ignored), attributes by their plain name; absent things read as "".

#include <pugixml.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kt::scl {

inline std::string_view localName(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

inline bool isElement(pugi::xml_node n, std::string_view local) {
    return n.type() == pugi::node_element && localName(n.name()) == local;
}

inline std::string_view attr(pugi::xml_node n, const char* name) {
    return n.attribute(name).value();
}
inline bool attrIsTrue(pugi::xml_node n, const char* name) {
    return attr(n, name) == "true";
}

// Sets an attribute, adding it (at the end) when absent.
inline void setAttr(pugi::xml_node n, const char* name, const char* value) {
    pugi::xml_attribute a = n.attribute(name);
    if (!a) a = n.append_attribute(name);
    a.set_value(value);
}
inline void setAttr(pugi::xml_node n, const char* name, const std::string& value) {
    setAttr(n, name, value.c_str());
}

// The element children of `parent`, optionally only those with one local name.
class Children {
public:
    class iterator {
    public:
        iterator(pugi::xml_node n, std::string_view local) : node_(n), local_(local) { skip(); }
        pugi::xml_node operator*() const { return node_; }
        iterator& operator++() {
            node_ = node_.next_sibling();
            skip();
            return *this;
        }
        bool operator!=(const iterator& o) const { return node_ != o.node_; }
        bool operator==(const iterator& o) const { return node_ == o.node_; }

    private:
        void skip() {
            while (node_ && !(node_.type() == pugi::node_element &&
                              (local_.empty() || localName(node_.name()) == local_)))
                node_ = node_.next_sibling();
        }
        pugi::xml_node node_;
        std::string_view local_;
    };

    Children(pugi::xml_node parent, std::string_view local) : parent_(parent), local_(local) {}
    iterator begin() const { return iterator(parent_.first_child(), local_); }
    iterator end() const { return iterator(pugi::xml_node(), local_); }

private:
    pugi::xml_node parent_;
    std::string_view local_;
};

inline Children children(pugi::xml_node parent, std::string_view local = {}) {
    return Children(parent, local);
}

// The first element child with that local name, or an empty handle.
inline pugi::xml_node child(pugi::xml_node parent, std::string_view local) {
    for (pugi::xml_node n : children(parent, local)) return n;
    return {};
}

// The first element child with that local name whose attribute `name` equals `value`.
inline pugi::xml_node childWhere(pugi::xml_node parent, std::string_view local, const char* name,
                                 std::string_view value) {
    for (pugi::xml_node n : children(parent, local))
        if (attr(n, name) == value) return n;
    return {};
}

// The element name to give a new child of `parent`: its own prefix (if any) + local.
inline std::string qualifiedName(pugi::xml_node parent, std::string_view local) {
    std::string_view name = parent.name();
    size_t colon = name.find(':');
    std::string out =
        colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
    out += local;
    return out;
}

// Deep-copies `element` into the same parent at element position `position` (counting element
// children only; past the end means last) and removes the original. Returns the copy.
pugi::xml_node moveElementTo(pugi::xml_node element, int position);

// The `P` child of `address` with that `type`, or an empty handle.
inline pugi::xml_node pByType(pugi::xml_node address, std::string_view type) {
    return childWhere(address, "P", "type", type);
}

} // namespace kt::scl

namespace kt::scl {

// SCL files larger than this are refused before they are read; a large station file is a few
// tens of megabytes.
inline constexpr uint64_t MaxSclFileBytes = 128u << 20;

// Loads an XML file into `doc` (UTF-8 file names on every platform). Only regular files of at
// most MaxSclFileBytes are read. Throws SclError with the file name, what went wrong and, for a
// parse error, the line and column.
void loadDocument(pugi::xml_document& doc, const std::string& fileName);

// Saves `doc` (tab indentation, UTF-8) through a new temporary file beside `fileName` that is
// then renamed over it, so an existing file is never left half written; the file keeps its
// permissions, and a read-only one is refused. Throws SclError.
void saveDocument(const pugi::xml_document& doc, const std::string& fileName);

} // namespace kt::scl
