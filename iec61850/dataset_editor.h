#pragma once

// The rules of the dataset editor, apart from its widgets: which nodes of the data model may
// become members, the member text of a node, the reference (and so the member code) a list entry
// stands for, the node a reference names when a dataset is edited, and the checks of OK.

#include "iec61850/attribute_tree.h"
#include "iec61850/icd_parser.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// A node of the attribute tree with every node above it: front() is the root, back() the node.
using AttributePath = std::vector<const AttributeNode*>;

// The editor's messages.
inline constexpr std::string_view NoFreeDataSetText = "It is not possible to create another dataset!";
inline constexpr std::string_view EmptyDataSetNameText = "Dataset name cannot be empty!";
inline constexpr std::string_view IllegalDataSetNameText = "Dataset name contains illegal characters!";
inline constexpr std::string_view NoMembersText = "Dataset cannot be empty!";
// The name is written into files as an SCL dataset name.
inline constexpr std::string_view DataSetNameFormText =
    "Dataset name must start with a letter and hold at most 32 characters!";
inline constexpr std::string_view DataSetPropertiesCaption = "Data Set Properties";

// "Element " + text + " is already on the list!"
std::string DuplicateMemberText(std::string_view entryText);
// "Dataset " + fullName + " already exists!"
std::string DataSetExistsText(std::string_view fullName);

// The FCs (MX and ST only) a DO or SDO node offers: its children in order, a DA or BDA ending the
// visit of that level (a DA adding its FC first), a DO or SDO visited the same way before the
// next sibling. Each FC once.
std::vector<std::string> FCCandidates(const AttributeNode& node);

// Whether the add action takes the node at the end of `path`: a DO or deeper, and a DA of FC MX
// or ST, a BDA below such a DA, or a DO/SDO with at least one candidate FC.
bool CanAddMember(const AttributePath& path);

// The entry text of the node: LD/LN.DO[.SDO...][.DA[.BDA...]] (FC). A DO or SDO gets its FC
// only when it offers exactly one.
std::string MemberEntryText(const AttributePath& path);

// The reference a list entry stands for: the names along its node's path and the FC in the
// entry's text ("" when the text has none).
MemberRef MemberRefOfEntry(const AttributePath& path, std::string_view entryText);

// The node `ref` names in `tree` (editing an existing dataset): the deepest node reached along
// its names (a DA by its name before " ("). Empty when not even its logical device is found.
AttributePath FindAttributePath(const AttributeTree& tree, const MemberRef& ref);

// The path of a node of `tree` from the root (empty when the node is not in the tree).
AttributePath PathOf(const AttributeTree& tree, const AttributeNode* node);

// The checks of OK, in order: the name is not empty, holds only letters, digits and "_", is an
// SCL dataset name, its full name is not among `existingFullNames` (any letter case), and there
// is a member. The message of the first that fails, or nothing.
std::optional<std::string> CheckDataSetProperties(std::string_view name, std::string_view fullName,
                                                  const std::vector<std::string>& existingFullNames,
                                                  size_t memberCount);

// The first free slot (Count 0) and the full names of the used slots; nothing when all 32 are
// used.
struct AddTarget {
    int slot = -1;
    std::vector<std::string> existingFullNames;
};
std::optional<AddTarget> FindAddTarget(const TICDParser& parser);

// The full names of every used slot except `slot`.
std::vector<std::string> OtherFullNames(const TICDParser& parser, int slot);

// Case-insensitive comparison of ASCII texts.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

} // namespace kt
