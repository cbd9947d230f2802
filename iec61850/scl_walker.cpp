// The data-type walker: member codes, FC lists, logical-node references and the attribute tree.
#include "iec61850/icd_parser.h"

#include "iec61850/scl_dom.h"
#include "iec61850/type_index.h"

#include <algorithm>

namespace kt {

using scl::attr;
using scl::children;

namespace {

// Field widths of a member code: LD, LN, FC, DO, E1..E4.
constexpr int FieldShift[8] = {0, 3, 9, 14, 20, 23, 26, 29};
constexpr uint32_t FieldMask[8] = {7, 63, 31, 63, 7, 7, 7, 7};
constexpr int FirstElementField = 4;
constexpr int ElementFields = 4;

// FCListOf of a pathological (exponentially branching) type stops growing here.
constexpr size_t MaxFcListLength = size_t(1) << 20;
// The attribute tree of a pathological model stops growing here.
constexpr size_t MaxTreeNodes = 200000;

bool isLogicalNode(pugi::xml_node n) {
    return scl::isElement(n, "LN") || scl::isElement(n, "LN0");
}

std::string nodeName(pugi::xml_node ln) {
    std::string name(attr(ln, "prefix"));
    name += attr(ln, "lnClass");
    name += attr(ln, "inst");
    return name;
}

bool lnMatches(pugi::xml_node ln, std::string_view lnRef) {
    if (scl::isElement(ln, "LN0")) return lnRef == "LLN0";
    std::string_view prefix = attr(ln, "prefix"), lnClass = attr(ln, "lnClass"), inst = attr(ln, "inst");
    return lnRef.size() == prefix.size() + lnClass.size() + inst.size() && lnRef.starts_with(prefix) &&
           lnRef.substr(prefix.size(), lnClass.size()) == lnClass && lnRef.ends_with(inst);
}

// Element `value` into the code's field `field`; no masking, a large value spills over.
void putField(uint32_t& code, int field, uint64_t value) {
    code |= static_cast<uint32_t>(value) << FieldShift[field];
}

uint32_t getField(uint32_t code, int field) {
    return (code >> FieldShift[field]) & FieldMask[field];
}

} // namespace

// ---- types and FCs -----------------------------------------------------------------------------

pugi::xml_node TICDParser::findTypePlain(std::string_view id, std::string_view tag) const {
    for (pugi::xml_node t : children(scl::child(root(), "DataTypeTemplates"), tag))
        if (attr(t, "id") == id) return t;
    return {};
}

pugi::xml_node TICDParser::FindType(std::string_view id, std::string_view tag) const {
    return useIndex_ ? index().find(id, tag) : findTypePlain(id, tag);
}

std::vector<std::string> TICDParser::fcListPlain(pugi::xml_node doType, int depth,
                                                 std::vector<pugi::xml_node>& path) const {
    std::vector<std::string> list;
    if (!doType) return list;
    // A type inside itself, or nested beyond any real model, is not followed.
    if (std::find(path.begin(), path.end(), doType) != path.end() || depth >= MaxTypeDepth) return list;
    path.push_back(doType);
    for (pugi::xml_node c : children(doType)) {
        std::string_view local = scl::localName(c.name());
        if (local == "DO" || local == "SDO") {
            auto below = fcListPlain(FindType(attr(c, "type"), "DOType"), depth + 1, path);
            size_t room = MaxFcListLength - std::min(list.size(), MaxFcListLength);
            list.insert(list.end(), below.begin(), below.begin() + std::min(below.size(), room));
        } else if (local == "DA") {
            std::string_view fc = attr(c, "fc");
            if (!fc.empty() && list.size() < MaxFcListLength) list.emplace_back(fc);
        }
    }
    path.pop_back();
    return list;
}

std::vector<std::string> TICDParser::FCListOf(pugi::xml_node element) const {
    std::vector<pugi::xml_node> path;
    return fcListPlain(FindType(attr(element, "type"), "DOType"), 0, path);
}

bool TICDParser::typeHasFC(pugi::xml_node doType, std::string_view fc) const {
    if (useIndex_) return index().hasFC(doType, fc);
    std::vector<pugi::xml_node> path;
    auto list = fcListPlain(doType, 0, path);
    return std::find(list.begin(), list.end(), fc) != list.end();
}

bool TICDParser::HasFC(pugi::xml_node element, std::string_view fc) const {
    return typeHasFC(FindType(attr(element, "type"), "DOType"), fc);
}

std::vector<std::string> TICDParser::lnodeTypeFCsPlain(pugi::xml_node lnodeType) const {
    std::vector<std::string> list;
    for (pugi::xml_node d : children(lnodeType, "DO")) {
        auto below = FCListOf(d);
        list.insert(list.end(), below.begin(), below.end());
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const std::string& a, const std::string& b) { return FCBefore(a, b); });
    return list;
}

std::optional<size_t> TICDParser::FCIndex(pugi::xml_node lnodeType, std::string_view fc) const {
    if (useIndex_) {
        uint64_t position = 0;
        for (auto& [name, n] : index().lnodeTypeFCs(lnodeType)) {
            if (name == fc) return static_cast<size_t>(position);
            position = position > UINT64_MAX - n ? UINT64_MAX : position + n;
        }
        return std::nullopt;
    }
    auto list = lnodeTypeFCsPlain(lnodeType);
    auto it = std::find(list.begin(), list.end(), fc);
    if (it == list.end()) return std::nullopt;
    return static_cast<size_t>(it - list.begin());
}

std::optional<std::string> TICDParser::FCByIndex(pugi::xml_node lnodeType, size_t index) const {
    if (useIndex_) {
        uint64_t i = index;
        for (auto& [name, n] : this->index().lnodeTypeFCs(lnodeType)) {
            if (i < n) return name;
            i -= n;
        }
        return std::nullopt;
    }
    auto list = lnodeTypeFCsPlain(lnodeType);
    if (index >= list.size()) return std::nullopt;
    return list[index];
}

// ---- member codes ------------------------------------------------------------------------------

uint32_t TICDParser::EncodeMember(std::string_view ldInst, std::string_view lnRef, std::string_view doName,
                                  std::string_view daName, std::string_view fc) const {
    pugi::xml_node ld;
    uint32_t d = 0;
    for (pugi::xml_node n : children(modelServer(), "LDevice")) {
        if (attr(n, "inst") == ldInst) {
            ld = n;
            break;
        }
        ++d;
    }
    if (!ld) return 0;
    uint32_t code = d;

    pugi::xml_node ln;
    uint64_t position = 0;
    for (pugi::xml_node n : children(ld)) {
        if (!isLogicalNode(n)) continue;
        if (lnMatches(n, lnRef)) {
            ln = n;
            break;
        }
        ++position;
    }
    if (!ln) return 0;
    putField(code, 1, position);

    pugi::xml_node lnodeType = FindType(attr(ln, "lnType"), "LNodeType");
    auto f = FCIndex(lnodeType, fc);
    if (!f) return 0;
    putField(code, 2, *f);

    // Data objects and sub-objects count only when they hold something of this FC.
    auto findObject = [&](pugi::xml_node type, std::string_view name, uint64_t& k) -> pugi::xml_node {
        k = 0;
        for (pugi::xml_node c : children(type)) {
            std::string_view local = scl::localName(c.name());
            if ((local != "DO" && local != "SDO") || !HasFC(c, fc)) continue;
            if (attr(c, "name") == name) return c;
            ++k;
        }
        return {};
    };
    auto doParts = SplitText(doName, '.');
    uint64_t k = 0;
    pugi::xml_node object = findObject(lnodeType, doParts[0], k);
    if (!object) return 0;
    putField(code, 3, k);
    pugi::xml_node current = FindType(attr(object, "type"), "DOType");

    int element = 0;
    for (size_t i = 1; i < doParts.size(); ++i) {
        object = findObject(current, doParts[i], k);
        if (!object || element == ElementFields) return 0; // at most four elements fit
        putField(code, FirstElementField + element++, k + 1);
        current = FindType(attr(object, "type"), "DOType");
    }
    if (daName.empty()) return code;

    auto daParts = SplitText(daName, '.');
    for (size_t i = 0; i < daParts.size(); ++i) {
        pugi::xml_node attribute;
        k = 0;
        for (pugi::xml_node c : children(current)) {
            bool counted = (scl::isElement(c, "DA") && attr(c, "fc") == fc) || scl::isElement(c, "BDA");
            if (!counted) continue;
            if (attr(c, "name") == daParts[i]) {
                attribute = c;
                break;
            }
            ++k;
        }
        if (!attribute || element == ElementFields) return 0;
        putField(code, FirstElementField + element++, k + 1);
        if (i + 1 < daParts.size()) current = FindType(attr(attribute, "type"), "DAType");
    }
    return code;
}

std::optional<MemberRef> TICDParser::DecodeMember(uint32_t code) const {
    MemberRef ref;
    pugi::xml_node ld;
    uint32_t v = getField(code, 0);
    for (pugi::xml_node n : children(modelServer(), "LDevice"))
        if (v-- == 0) {
            ld = n;
            break;
        }
    if (!ld) return std::nullopt;
    ref.ldInst = attr(ld, "inst");

    pugi::xml_node ln;
    v = getField(code, 1);
    for (pugi::xml_node n : children(ld))
        if (isLogicalNode(n) && v-- == 0) {
            ln = n;
            break;
        }
    if (!ln) return std::nullopt;
    ref.lnRef = nodeName(ln);

    pugi::xml_node lnodeType = FindType(attr(ln, "lnType"), "LNodeType");
    auto fc = FCByIndex(lnodeType, getField(code, 2));
    if (!fc || (*fc != "MX" && *fc != "ST")) return std::nullopt;
    ref.fc = *fc;

    pugi::xml_node object;
    v = getField(code, 3);
    for (pugi::xml_node c : children(lnodeType, "DO"))
        if (HasFC(c, ref.fc) && v-- == 0) {
            object = c;
            break;
        }
    if (!object) return std::nullopt;
    ref.doName = attr(object, "name");
    pugi::xml_node current = FindType(attr(object, "type"), "DOType");

    for (int field = FirstElementField; field < FirstElementField + ElementFields; ++field) {
        v = getField(code, field);
        if (v == 0) break;
        pugi::xml_node found;
        for (pugi::xml_node c : children(current)) {
            std::string_view local = scl::localName(c.name());
            bool counted = (local == "SDO" && HasFC(c, ref.fc)) ||
                           (local == "DA" && attr(c, "fc") == ref.fc) || local == "BDA";
            if (counted && --v == 0) {
                found = c;
                break;
            }
        }
        if (!found) return std::nullopt;
        std::string_view local = scl::localName(found.name());
        std::string_view name = attr(found, "name");
        if (local == "SDO") {
            ref.doName += ".";
            ref.doName += name;
            current = FindType(attr(found, "type"), "DOType");
        } else if (local == "DA") {
            ref.daName = name;
            current = FindType(attr(found, "type"), "DAType");
        } else {
            ref.daName += ".";
            ref.daName += name;
            current = FindType(attr(found, "type"), "DAType");
        }
    }
    return ref;
}

std::string TICDParser::MemberText(uint32_t code) const {
    auto ref = DecodeMember(code);
    if (!ref) return {};
    std::string text = ref->ldInst + "/" + ref->lnRef + "." + ref->doName;
    if (!ref->daName.empty()) text += "." + ref->daName;
    return text + " (" + ref->fc + ")";
}

LNRefParts TICDParser::SplitLNRef(std::string_view lnRef) {
    if (lnRef == "LLN0") return {"", "LLN0", ""};
    size_t i = lnRef.size(); // i = count of characters up to the last non-digit
    while (i > 0 && lnRef[i - 1] >= '0' && lnRef[i - 1] <= '9') --i;
    LNRefParts parts;
    parts.lnInst = lnRef.substr(i);
    // A class is four characters; a shorter non-digit part is all class and no prefix.
    size_t classStart = i >= 4 ? i - 4 : 0;
    parts.lnClass = lnRef.substr(classStart, i - classStart);
    parts.prefix = lnRef.substr(0, classStart);
    return parts;
}

// ---- attribute tree ----------------------------------------------------------------------------

namespace {

struct TreeBuilder {
    const TICDParser& parser;
    size_t nodes = 0;
    bool truncated = false;
    std::vector<pugi::xml_node> path;

    AttributeNode* add(AttributeNode& parent, AttributeKind kind, std::string caption,
                       pugi::xml_node element) {
        if (nodes >= MaxTreeNodes) {
            truncated = true;
            return nullptr;
        }
        ++nodes;
        parent.children.push_back(AttributeNode{kind, std::move(caption), element, {}});
        return &parent.children.back();
    }

    void addTypeChildren(AttributeNode& node, pugi::xml_node type) {
        if (!type) return;
        if (std::find(path.begin(), path.end(), type) != path.end() ||
            path.size() >= static_cast<size_t>(MaxTypeDepth)) {
            truncated = true;
            return;
        }
        path.push_back(type);
        for (pugi::xml_node c : children(type)) {
            std::string_view local = scl::localName(c.name());
            std::string name(attr(c, "name"));
            AttributeNode* added = nullptr;
            if (local == "DO") {
                if ((added = add(node, AttributeKind::DataObject, name, c)))
                    addTypeChildren(*added, parser.FindType(attr(c, "type"), "DOType"));
            } else if (local == "SDO") {
                if ((added = add(node, AttributeKind::SubDataObject, name, c)))
                    addTypeChildren(*added, parser.FindType(attr(c, "type"), "DOType"));
            } else if (local == "DA") {
                if ((added = add(node, AttributeKind::DataAttribute,
                                 name + " (" + std::string(attr(c, "fc")) + ")", c)))
                    addTypeChildren(*added, parser.FindType(attr(c, "type"), "DAType"));
            } else if (local == "BDA") {
                if ((added = add(node, AttributeKind::BasicDataAttribute, name, c)))
                    addTypeChildren(*added, parser.FindType(attr(c, "type"), "DAType"));
            }
        }
        path.pop_back();
    }
};

} // namespace

AttributeTree TICDParser::BuildAttributeTree(const std::string& rootCaption) const {
    AttributeTree tree;
    tree.root.kind = AttributeKind::Root;
    tree.root.caption = rootCaption;
    TreeBuilder builder{*this, 0, false, {}};
    for (pugi::xml_node ld : children(modelServer(), "LDevice")) {
        std::string inst(attr(ld, "inst"));
        AttributeNode* ldNode = builder.add(tree.root, AttributeKind::LogicalDevice, inst, ld);
        if (!ldNode) break;
        tree.devices.push_back(LogicalDeviceEntry{inst, {}});
        for (pugi::xml_node ln : children(ld)) {
            if (!isLogicalNode(ln)) continue;
            std::string name = nodeName(ln);
            AttributeNode* lnNode = builder.add(*ldNode, AttributeKind::LogicalNode, name, ln);
            if (!lnNode) break;
            tree.devices.back().logicalNodes.push_back(name);
            builder.addTypeChildren(*lnNode, FindType(attr(ln, "lnType"), "LNodeType"));
        }
    }
    tree.truncated = builder.truncated;
    return tree;
}

} // namespace kt
