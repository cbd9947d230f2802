#pragma once
// The two Modbus links, for tests that run the same checks over both (TEST_P over LinkKind).

#include <ostream>
#include <string>

namespace kt::test {

enum class LinkKind { Rtu, Tcp };

inline const char* linkKindName(LinkKind kind) {
    return kind == LinkKind::Rtu ? "Rtu" : "Tcp";
}

inline void PrintTo(LinkKind kind, std::ostream* out) {
    *out << linkKindName(kind);
}

// Names the instances: INSTANTIATE_TEST_SUITE_P(Both, Suite, ::testing::Values(LinkKind::Rtu,
// LinkKind::Tcp), LinkKindName()).
struct LinkKindName {
    template <class ParamInfo> std::string operator()(const ParamInfo& info) const {
        return linkKindName(info.param);
    }
};

} // namespace kt::test
