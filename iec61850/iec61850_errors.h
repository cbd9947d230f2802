#pragma once

#include <stdexcept>
#include <string>

namespace kt {

// A model accessor refused its arguments; what() is the exact text the operator sees
// ("RCB index out of range", "Invalid character in IED name").
struct ModelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An SCL file could not be read or written (not found, not well-formed, not SCL, a value
// that has no valid SCL form).
struct SclError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Text that should hold a decimal number does not.
struct ConversionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace kt
