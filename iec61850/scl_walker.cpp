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

// `value` into the code's field `field`; the caller has checked that it fits.
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

std::string MemberRefText(const MemberRef& ref) {
    std::string text = ref.ldInst + "/" + ref.lnRef + "." + ref.doName;
    if (!ref.daName.empty()) text += "." + ref.daName;
    return text + " (" + ref.fc + ")";
}

namespace {

MemberEncoding notInModel(MemberProblem problem, std::string reason) {
    return MemberEncoding{std::nullopt, problem, std::move(reason)};
}

std::string quote(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// "at position 70 of LD0, past the 64 positions a member code holds"
std::string pastField(uint64_t position, std::string_view where, int field) {
    return "at position " + std::to_string(position) + " of " + std::string(where) + ", past the " +
           std::to_string(FieldMask[field] + 1) + " positions a member code holds";
}

} // namespace

MemberEncoding TICDParser::encodeRaw(const MemberRef& ref) const {
    const std::string_view fc = ref.fc;
    if (fc != "MX" && fc != "ST")
        return notInModel(MemberProblem::NotUnitFC,
                          "FC " + quote(fc) + ": the unit's datasets hold MX and ST members only");

    pugi::xml_node ld;
    uint64_t d = 0;
    for (pugi::xml_node n : children(modelServer(), "LDevice")) {
        if (attr(n, "inst") == ref.ldInst) {
            ld = n;
            break;
        }
        ++d;
    }
    if (!ld)
        return notInModel(MemberProblem::NoLogicalDevice, "there is no logical device " + quote(ref.ldInst));
    if (d > FieldMask[0])
        return notInModel(MemberProblem::DoesNotFit,
                          "logical device " + ref.ldInst + " is " + pastField(d, "the server", 0));
    uint32_t code = static_cast<uint32_t>(d);

    pugi::xml_node ln;
    uint64_t position = 0;
    for (pugi::xml_node n : children(ld)) {
        if (!isLogicalNode(n)) continue;
        if (lnMatches(n, ref.lnRef)) {
            ln = n;
            break;
        }
        ++position;
    }
    if (!ln)
        return notInModel(MemberProblem::NoLogicalNode,
                          ref.ldInst + " has no logical node " + quote(ref.lnRef));
    if (position > FieldMask[1])
        return notInModel(MemberProblem::DoesNotFit,
                          "logical node " + ref.lnRef + " is " + pastField(position, ref.ldInst, 1));
    putField(code, 1, position);

    pugi::xml_node lnodeType = FindType(attr(ln, "lnType"), "LNodeType");
    auto f = FCIndex(lnodeType, fc);
    if (!f) return notInModel(MemberProblem::NoDataObject, ref.lnRef + " holds no data of FC " + ref.fc);
    if (*f > FieldMask[2])
        return notInModel(MemberProblem::DoesNotFit, "FC " + ref.fc + " of " + ref.lnRef + " is " +
                                                         pastField(*f, "the node's FC list", 2));
    putField(code, 2, *f);

    // Data objects and sub-objects count only when they hold something of this FC; attributes
    // count when they have this FC, and every BDA counts.
    auto isObject = [&](pugi::xml_node c) {
        std::string_view local = scl::localName(c.name());
        return (local == "DO" || local == "SDO") && HasFC(c, fc);
    };
    auto isAttribute = [&](pugi::xml_node c) {
        return (scl::isElement(c, "DA") && attr(c, "fc") == fc) || scl::isElement(c, "BDA");
    };
    // The child of `type` named `name` among those `counted`, and its position there (from 0).
    auto find = [&](pugi::xml_node type, std::string_view name, auto counted, uint64_t& k) -> pugi::xml_node {
        k = 0;
        for (pugi::xml_node c : children(type)) {
            if (!counted(c)) continue;
            if (attr(c, "name") == name) return c;
            ++k;
        }
        return {};
    };
    auto countOf = [&](pugi::xml_node type, auto counted) {
        uint64_t n = 0;
        for (pugi::xml_node c : children(type))
            if (counted(c)) ++n;
        return n;
    };

    auto doParts = SplitText(ref.doName, '.');
    uint64_t k = 0;
    pugi::xml_node object = find(lnodeType, doParts[0], isObject, k);
    if (!object)
        return notInModel(MemberProblem::NoDataObject,
                          ref.lnRef + " has no data object " + quote(doParts[0]) + " holding FC " + ref.fc);
    if (k > FieldMask[3])
        return notInModel(MemberProblem::DoesNotFit,
                          "data object " + std::string(doParts[0]) + " is " + pastField(k, ref.lnRef, 3));
    putField(code, 3, k);
    pugi::xml_node current = FindType(attr(object, "type"), "DOType");
    std::string path(doParts[0]);

    int element = 0;
    auto tooDeep = [&] {
        return notInModel(MemberProblem::TooDeep,
                          "more than " + std::to_string(ElementFields) +
                              " sub-objects and attributes below the data object; a member code holds four");
    };
    // One element of the code: 1-based position k + 1 in its own field. The unit's decoder
    // counts sub-objects and attributes of a type in one sequence: when the other kind has an
    // entry at the same position, both have this code.
    auto putElement = [&](std::string_view name, uint64_t position, uint64_t othersAtLevel,
                          const char* otherKind) -> std::optional<MemberEncoding> {
        if (element == ElementFields) return tooDeep();
        if (position + 1 > FieldMask[FirstElementField + element])
            return notInModel(MemberProblem::DoesNotFit,
                              std::string(name) + " is element " + std::to_string(position + 1) + " of " +
                                  path + ", past the " + std::to_string(FieldMask[FirstElementField]) +
                                  " a member code holds at one level");
        if (othersAtLevel > position)
            return notInModel(MemberProblem::SharedCode, std::string(name) + " shares its code with the " +
                                                             otherKind + " at the same position in " + path);
        putField(code, FirstElementField + element++, position + 1);
        return std::nullopt;
    };

    for (size_t i = 1; i < doParts.size(); ++i) {
        object = find(current, doParts[i], isObject, k);
        if (!object)
            return notInModel(MemberProblem::NoDataObject,
                              path + " has no sub-object " + quote(doParts[i]) + " holding FC " + ref.fc);
        if (auto failed = putElement(doParts[i], k, countOf(current, isAttribute), "attribute"))
            return *failed;
        path += ".";
        path += doParts[i];
        current = FindType(attr(object, "type"), "DOType");
    }
    if (ref.daName.empty()) return MemberEncoding{code, MemberProblem::None, {}};

    auto daParts = SplitText(ref.daName, '.');
    for (size_t i = 0; i < daParts.size(); ++i) {
        pugi::xml_node attribute = find(current, daParts[i], isAttribute, k);
        if (!attribute)
            return notInModel(MemberProblem::NoAttribute,
                              path + " has no attribute " + quote(daParts[i]) + " of FC " + ref.fc);
        if (auto failed = putElement(daParts[i], k, countOf(current, isObject), "sub-object")) return *failed;
        path += ".";
        path += daParts[i];
        if (i + 1 < daParts.size()) current = FindType(attr(attribute, "type"), "DAType");
    }
    return MemberEncoding{code, MemberProblem::None, {}};
}

MemberEncoding TICDParser::EncodeMemberChecked(const MemberRef& ref) const {
    MemberEncoding e = encodeRaw(ref);
    if (!e.code) return e;
    // The last word: the code must read back as this very reference.
    auto back = decodeRaw(*e.code);
    if (!back || *back != ref)
        return notInModel(MemberProblem::SharedCode, back ? "its code stands for " + MemberRefText(*back)
                                                          : "its code does not read back");
    return e;
}

std::optional<MemberRef> TICDParser::decodeRaw(uint32_t code) const {
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
    // An LN0 is named LLN0 whatever its attributes hold, as the encoder finds it.
    ref.lnRef = scl::isElement(ln, "LN0") ? std::string("LLN0") : nodeName(ln);

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

std::optional<MemberRef> TICDParser::DecodeMember(uint32_t code) const {
    auto ref = decodeRaw(code);
    if (!ref) return std::nullopt;
    // Bits the decoder does not look at, a spilled position, a code two references share: the
    // code is only this reference when the reference encodes to exactly this code.
    MemberEncoding back = encodeRaw(*ref);
    if (!back.code || *back.code != code) return std::nullopt;
    return ref;
}

std::string TICDParser::MemberText(uint32_t code) const {
    auto ref = DecodeMember(code);
    return ref ? MemberRefText(*ref) : std::string();
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
