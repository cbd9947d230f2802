#include "iec61850/dataset_editor.h"

#include "iec61850/scl_names.h"

#include <algorithm>

namespace kt {

namespace {

bool isUnitFC(std::string_view fc) {
    return fc == "MX" || fc == "ST";
}

bool isObject(const AttributeNode& n) {
    return n.kind == AttributeKind::DataObject || n.kind == AttributeKind::SubDataObject;
}

// A DA caption is "name (FC)".
std::string_view captionName(const AttributeNode& n) {
    std::string_view c = n.caption;
    if (n.kind != AttributeKind::DataAttribute) return c;
    return c.substr(0, c.find(" ("));
}

std::string_view captionFC(const AttributeNode& n) {
    std::string_view c = n.caption;
    size_t open = c.find(" (");
    if (n.kind != AttributeKind::DataAttribute || open == std::string_view::npos) return {};
    return c.substr(open + 2, 2);
}

void collectFCs(const AttributeNode& node, std::vector<std::string>& out) {
    for (const AttributeNode& c : node.children) {
        if (c.kind == AttributeKind::DataAttribute) {
            std::string_view fc = captionFC(c);
            if (isUnitFC(fc) && std::find(out.begin(), out.end(), fc) == out.end()) out.emplace_back(fc);
            return;
        }
        if (c.kind == AttributeKind::BasicDataAttribute) return;
        if (isObject(c)) collectFCs(c, out);
    }
}

bool findPath(const AttributeNode& node, const AttributeNode* target, AttributePath& path) {
    path.push_back(&node);
    if (&node == target) return true;
    for (const AttributeNode& c : node.children)
        if (findPath(c, target, path)) return true;
    path.pop_back();
    return false;
}

const AttributeNode* childNamed(const AttributeNode& parent, std::string_view name) {
    for (const AttributeNode& c : parent.children)
        if (captionName(c) == name) return &c;
    return nullptr;
}

} // namespace

std::string DuplicateMemberText(std::string_view entryText) {
    return "Element " + std::string(entryText) + " is already on the list!";
}

std::string DataSetExistsText(std::string_view fullName) {
    return "Dataset " + std::string(fullName) + " already exists!";
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::vector<std::string> FCCandidates(const AttributeNode& node) {
    std::vector<std::string> out;
    if (isObject(node)) collectFCs(node, out);
    return out;
}

bool CanAddMember(const AttributePath& path) {
    // Root, logical device and logical node are levels 0..2.
    if (path.size() < 4) return false;
    const AttributeNode& n = *path.back();
    switch (n.kind) {
    case AttributeKind::DataAttribute:
        return isUnitFC(captionFC(n));
    case AttributeKind::BasicDataAttribute:
        for (auto it = path.rbegin(); it != path.rend(); ++it)
            if ((*it)->kind == AttributeKind::DataAttribute) return isUnitFC(captionFC(**it));
        return false;
    case AttributeKind::DataObject:
    case AttributeKind::SubDataObject:
        return !FCCandidates(n).empty();
    default:
        return false;
    }
}

std::string MemberEntryText(const AttributePath& path) {
    std::string text;
    std::string fc;
    for (size_t i = 1; i < path.size(); ++i) {
        const AttributeNode& n = *path[i];
        if (i > 1) text += i == 2 ? "/" : ".";
        text += captionName(n);
        if (n.kind == AttributeKind::DataAttribute) fc = captionFC(n);
    }
    if (fc.empty() && !path.empty()) {
        std::vector<std::string> candidates = FCCandidates(*path.back());
        if (candidates.size() == 1) fc = candidates.front();
    }
    if (!fc.empty()) text += " (" + fc + ")";
    return text;
}

MemberRef MemberRefOfEntry(const AttributePath& path, std::string_view entryText) {
    MemberRef ref;
    if (size_t open = entryText.find(" ("); open != std::string_view::npos)
        ref.fc = std::string(entryText.substr(open + 2, 2));
    for (const AttributeNode* n : path) {
        auto append = [](std::string& to, std::string_view part) {
            if (!to.empty()) to += '.';
            to += part;
        };
        switch (n->kind) {
        case AttributeKind::LogicalDevice:
            ref.ldInst = n->caption;
            break;
        case AttributeKind::LogicalNode:
            ref.lnRef = n->caption;
            break;
        case AttributeKind::DataObject:
        case AttributeKind::SubDataObject:
            append(ref.doName, n->caption);
            break;
        case AttributeKind::DataAttribute:
            append(ref.daName, captionName(*n));
            ref.fc = std::string(captionFC(*n));
            break;
        case AttributeKind::BasicDataAttribute:
            append(ref.daName, n->caption);
            break;
        case AttributeKind::Root:
            break;
        }
    }
    return ref;
}

AttributePath FindAttributePath(const AttributeTree& tree, const MemberRef& ref) {
    AttributePath path{&tree.root};
    const AttributeNode* ld = childNamed(tree.root, ref.ldInst);
    if (!ld) return {};
    path.push_back(ld);
    const AttributeNode* at = childNamed(*ld, ref.lnRef);
    if (!at) return path;
    path.push_back(at);
    std::vector<std::string_view> parts = SplitText(ref.doName, '.');
    if (!ref.daName.empty())
        for (std::string_view p : SplitText(ref.daName, '.')) parts.push_back(p);
    for (std::string_view part : parts) {
        at = childNamed(*at, part);
        if (!at) break;
        path.push_back(at);
    }
    return path;
}

AttributePath PathOf(const AttributeTree& tree, const AttributeNode* node) {
    AttributePath path;
    if (node && findPath(tree.root, node, path)) return path;
    return {};
}

std::optional<std::string> CheckDataSetProperties(std::string_view name, std::string_view fullName,
                                                  const std::vector<std::string>& existingFullNames,
                                                  size_t memberCount) {
    if (name.empty()) return std::string(EmptyDataSetNameText);
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return std::string(IllegalDataSetNameText);
    }
    if (!scl::isDataSetName(name)) return std::string(DataSetNameFormText);
    for (const std::string& existing : existingFullNames)
        if (SameTextIgnoringCase(existing, fullName)) return DataSetExistsText(fullName);
    if (memberCount == 0) return std::string(NoMembersText);
    return std::nullopt;
}

std::optional<AddTarget> FindAddTarget(const TICDParser& parser) {
    for (int slot = 0; slot < DataSetSlots; ++slot) {
        if (parser.GetDataSet(slot).Count != 0) continue;
        // Every used slot counts, also one past a gap a unit may have left.
        return AddTarget{slot, OtherFullNames(parser, slot)};
    }
    return std::nullopt;
}

std::vector<std::string> OtherFullNames(const TICDParser& parser, int slot) {
    std::vector<std::string> names;
    for (int i = 0; i < DataSetSlots; ++i)
        if (i != slot && parser.GetDataSet(i).Count > 0) names.push_back(parser.DataSetFullName(i));
    return names;
}

} // namespace kt
