#include "iec61850/type_index.h"

#include "iec61850/scl_dom.h"

#include <algorithm>
#include <array>

namespace kt {

namespace {

constexpr std::array<std::string_view, 18> FcOrder = {"MX", "ST", "CO", "CF", "DC", "SP", "SG", "RP", "LG",
                                                      "BR", "GO", "GS", "SV", "SE", "MS", "SC", "US", "EX"};

void addCount(FcCounts& counts, std::string_view fc, uint64_t n) {
    for (auto& [name, count] : counts) {
        if (name == fc) {
            count = count > UINT64_MAX - n ? UINT64_MAX : count + n; // a pathological DAG saturates
            return;
        }
    }
    counts.emplace_back(std::string(fc), n);
}

} // namespace

int FCRank(std::string_view fc) {
    for (size_t i = 0; i < FcOrder.size(); ++i)
        if (FcOrder[i] == fc) return static_cast<int>(i);
    return -1;
}

bool FCBefore(std::string_view a, std::string_view b) {
    int ra = FCRank(a), rb = FCRank(b);
    if (ra != rb) return ra < rb;
    return ra < 0 && a < b;
}

TypeIndex::TypeIndex(pugi::xml_node documentElement) {
    pugi::xml_node templates = scl::child(documentElement, "DataTypeTemplates");
    for (pugi::xml_node t : scl::children(templates)) {
        std::string_view local = scl::localName(t.name());
        TypeMap* map = local == "LNodeType" ? &lnodeTypes_
                       : local == "DOType"  ? &doTypes_
                       : local == "DAType"  ? &daTypes_
                                            : nullptr;
        if (map) map->emplace(std::string(scl::attr(t, "id")), t); // keeps the first of an id
    }
}

const TypeIndex::TypeMap* TypeIndex::mapFor(std::string_view tag) const {
    if (tag == "LNodeType") return &lnodeTypes_;
    if (tag == "DOType") return &doTypes_;
    if (tag == "DAType") return &daTypes_;
    return nullptr;
}

pugi::xml_node TypeIndex::find(std::string_view id, std::string_view tag) const {
    const TypeMap* map = mapFor(tag);
    if (!map) return {};
    auto it = map->find(id);
    return it == map->end() ? pugi::xml_node() : it->second;
}

FcCounts TypeIndex::expand(pugi::xml_node doType, int depth, std::vector<pugi::xml_node>& path, bool& cut,
                           int& height) {
    height = 0;
    if (!doType) return {};
    if (std::find(path.begin(), path.end(), doType) != path.end() || depth >= MaxTypeDepth) {
        cut = true;
        return {};
    }
    const void* key = doType.internal_object();
    if (auto it = doMemo_.find(key); it != doMemo_.end() && depth + it->second.height - 1 < MaxTypeDepth) {
        height = it->second.height;
        return it->second.counts;
    }
    path.push_back(doType);
    bool localCut = false;
    FcCounts counts;
    int h = 1;
    for (pugi::xml_node c : scl::children(doType)) {
        std::string_view local = scl::localName(c.name());
        if (local == "DO" || local == "SDO") {
            int sub = 0;
            FcCounts below = expand(find(scl::attr(c, "type"), "DOType"), depth + 1, path, localCut, sub);
            for (auto& [fc, n] : below) addCount(counts, fc, n);
            h = std::max(h, sub + 1);
        } else if (local == "DA") {
            std::string_view fc = scl::attr(c, "fc");
            if (!fc.empty()) addCount(counts, fc, 1);
        }
    }
    path.pop_back();
    // A result cut short by a cycle or the depth limit depends on how the type was reached;
    // only whole results are remembered.
    if (!localCut) doMemo_[key] = Memo{counts, h};
    cut = cut || localCut;
    height = h;
    return counts;
}

const FcCounts& TypeIndex::doTypeFCs(pugi::xml_node doType) {
    std::vector<pugi::xml_node> path;
    bool cut = false;
    int height = 0;
    scratch_ = expand(doType, 0, path, cut, height);
    return scratch_;
}

bool TypeIndex::hasFC(pugi::xml_node doType, std::string_view fc) {
    auto it = doMemo_.find(doType.internal_object());
    bool remembered = it != doMemo_.end() && it->second.height - 1 < MaxTypeDepth;
    for (auto& [name, n] : remembered ? it->second.counts : doTypeFCs(doType))
        if (name == fc && n > 0) return true;
    return false;
}

const FcCounts& TypeIndex::lnodeTypeFCs(pugi::xml_node lnodeType) {
    const void* key = lnodeType.internal_object();
    if (auto it = lnMemo_.find(key); it != lnMemo_.end()) return it->second;
    FcCounts counts;
    for (pugi::xml_node d : scl::children(lnodeType, "DO")) {
        std::vector<pugi::xml_node> path;
        bool cut = false;
        int height = 0;
        for (auto& [fc, n] : expand(find(scl::attr(d, "type"), "DOType"), 0, path, cut, height))
            addCount(counts, fc, n);
    }
    std::stable_sort(counts.begin(), counts.end(),
                     [](auto& a, auto& b) { return FCBefore(a.first, b.first); });
    return lnMemo_.emplace(key, std::move(counts)).first->second;
}

} // namespace kt
