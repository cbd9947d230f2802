#pragma once

// The values a fresh unit holds in the registers its register file describes: plausible for each
// register's type and rules (a value of its list, within its limits, well-formed addresses, dates
// and texts), with the settings at their factory defaults.

#include "monitor/register_codec.h"
#include "sim/options.h"
#include "sim/register_profile.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kt::sim {

struct RegisterWords {
    int reg = 0;
    std::vector<uint16_t> words; // from `reg` on
    bool setting = false;        // a setting of the file (ACCESS not 0): command 5 restores it
};

// Every described register in register order, except those the unit keeps itself: the
// identification (0..5) and the event ring (60, 61 and the "Events" registers).
std::vector<RegisterWords> startValues(const RegisterProfile& profile, const Identity& identity,
                                       const ClockFields& clock);

// `value` in the words of a numeric value type (1, 2, 5, 6, 8, 13, 15, 16, 17, 19; type 15 takes
// thousandths). Character types get the decimal text; types without numbers (0, 3, 4, 7, 9, 12,
// above 19) get zeros of their size.
std::vector<uint16_t> encodeNumber(int type, int64_t value);

// A number the register may hold: `wanted` when its rules allow it, otherwise the nearest the
// rules allow (the first entry of its value list, or `wanted` clamped into its limits). Without a
// wish: the first list entry, or the middle of its limits, or 0. `sourceValue` is the value of the
// register its RANGE rule follows.
int64_t allowedNumber(const DescribedRegister& d, std::optional<int64_t> wanted,
                      std::optional<int64_t> sourceValue = std::nullopt);

// The limits a register's rules give it (its own MIN/MAX, its RANGE rule for `sourceValue`, or
// the program's built-in lists of registers 16 and 120). Nothing when it has none.
std::optional<std::pair<int64_t, int64_t>> limitsOf(const DescribedRegister& d,
                                                    std::optional<int64_t> sourceValue);

} // namespace kt::sim
