#pragma once

// What the SCL code asks the operator. The GUI answers with its dialogs; scripts and tests
// answer directly.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

class OperatorPrompts {
public:
    virtual ~OperatorPrompts() = default;
    // The IED selection dialog: `entries` listed, the first one selected. The chosen entry,
    // or nothing for Cancel.
    virtual std::optional<size_t> chooseEntry(std::string_view caption,
                                              const std::vector<std::string>& entries) = 0;
    // A warning box with Yes and No buttons; true for Yes.
    virtual bool confirm(std::string_view text) = 0;
};

// No operator at hand: choices take the preselected first entry (as OK would), and questions
// that guard a loss of data are answered No.
class NonInteractivePrompts : public OperatorPrompts {
public:
    std::optional<size_t> chooseEntry(std::string_view, const std::vector<std::string>&) override {
        return 0;
    }
    bool confirm(std::string_view) override { return false; }
};

} // namespace kt
