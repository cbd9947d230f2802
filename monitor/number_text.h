#pragma once

// Numbers as the status views write them, independent of the system locale (the point is always
// the decimal separator, as in the register files and the unit's own texts).

#include <optional>
#include <string>
#include <string_view>

namespace kt {

// Fixed decimals ("0.00" for 2); -0.00 is written 0.00.
std::string formatFixed(double value, int decimals);
// The shortest text of up to 15 significant digits, without trailing zeros or exponent for the
// values a relay reports: 0.75, 4.5, 35, 0.125.
std::string formatGeneral(double value);

// A whole number as the views read one: blanks around it allowed, nothing else. Nothing for any
// other text ("--", "", "1.5").
std::optional<int64_t> textToInt(std::string_view text);
// A decimal number ("0.5", "20", "-3"); nothing for any other text.
std::optional<double> textToDouble(std::string_view text);

} // namespace kt
