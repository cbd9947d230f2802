#pragma once

// The IED's data model as a plain tree, the source the dataset editor picks members from.

#include <pugixml.hpp>

#include <string>
#include <vector>

namespace kt {

// The values are the editor's image indexes.
enum class AttributeKind : int {
    Root = 0,
    LogicalDevice = 1,
    LogicalNode = 2,
    DataObject = 3,
    SubDataObject = 4,
    DataAttribute = 5,
    BasicDataAttribute = 6,
};

struct AttributeNode {
    AttributeKind kind = AttributeKind::Root;
    std::string caption;
    pugi::xml_node element; // the element shown; valid while the parser's document lives
    std::vector<AttributeNode> children;
};

struct LogicalDeviceEntry {
    std::string caption; // the LDevice inst
    std::vector<std::string> logicalNodes;
};

struct AttributeTree {
    AttributeNode root;
    std::vector<LogicalDeviceEntry> devices; // the logical-device list with its node lists
    bool truncated = false;                  // the model was too large (or too deep) to show whole
};

} // namespace kt
