#pragma once

// An index of the DataTypeTemplates for the data-type walker: type lookup by id and the FC
// counts under each type, remembered instead of walked again for every member. Every answer
// equals the plain DOM walk, counting and cut-offs included.

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kt {

// Type nesting deeper than this is not followed (a recursive or absurdly deep type would
// otherwise exhaust the stack); real data models are a handful of levels deep.
inline constexpr int MaxTypeDepth = 24;

// Position of `fc` in the unit's FC order (MX, ST, CO, ...), -1 outside it.
int FCRank(std::string_view fc);
// Order of an LNodeType's FC list: by rank; FCs outside the table first, by their text.
bool FCBefore(std::string_view a, std::string_view b);

// FC texts with how often each occurs.
using FcCounts = std::vector<std::pair<std::string, uint64_t>>;

class TypeIndex {
public:
    explicit TypeIndex(pugi::xml_node documentElement);

    pugi::xml_node find(std::string_view id, std::string_view tag) const;
    // Whether any DA under the DOType (SDOs followed) has that FC.
    bool hasFC(pugi::xml_node doType, std::string_view fc);
    // The LNodeType's FC counts in FC order.
    const FcCounts& lnodeTypeFCs(pugi::xml_node lnodeType);

    // The model's server, remembered for one IED name.
    bool serverKnown(const std::string& iedName) const { return serverValid_ && serverFor_ == iedName; }
    pugi::xml_node server() const { return server_; }
    void rememberServer(const std::string& iedName, pugi::xml_node server) {
        serverFor_ = iedName;
        server_ = server;
        serverValid_ = true;
    }

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    using TypeMap = std::unordered_map<std::string, pugi::xml_node, Hash, std::equal_to<>>;
    struct Memo {
        FcCounts counts;
        int height = 0; // type levels below and including this one
    };

    const FcCounts& doTypeFCs(pugi::xml_node doType);
    FcCounts expand(pugi::xml_node doType, int depth, std::vector<pugi::xml_node>& path, bool& cut,
                    int& height);
    const TypeMap* mapFor(std::string_view tag) const;

    TypeMap lnodeTypes_, doTypes_, daTypes_;
    std::unordered_map<const void*, Memo> doMemo_;
    std::unordered_map<const void*, FcCounts> lnMemo_;
    FcCounts scratch_;

    std::string serverFor_;
    pugi::xml_node server_;
    bool serverValid_ = false;
};

} // namespace kt
