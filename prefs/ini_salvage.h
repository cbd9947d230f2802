#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// Reads what can still be used from a damaged INI file (the format QSettings writes), line by
// line and within fixed bounds, so neither junk nor a huge file costs more than a few
// kilobytes of memory. Only the keys asked for, in one section, are kept; every line that is
// not valid UTF-8, not a key, too long or not decodable is skipped.
struct IniSalvageLimits {
    size_t maxLineBytes = 16 * 1024;      // a longer line is skipped
    uint64_t maxScanBytes = 256ull << 20; // the rest of a larger file is not read
};

struct IniSalvage {
    bool opened = false;       // false: the file could not be opened at all
    bool sectionFound = false; // the section's header was seen
    std::map<std::string, std::string, std::less<>> values;
    // Keys asked for that were present but could not be used (cut off, undecodable); a later
    // good line for the same key takes it off the list.
    std::set<std::string, std::less<>> unreadable;
    size_t skippedLines = 0; // damaged lines of any kind
    bool truncated = false;  // the file was longer than maxScanBytes
};

IniSalvage salvageIni(const std::filesystem::path& path, std::string_view section,
                      const std::vector<std::string>& keys, const IniSalvageLimits& limits = {});

// The text of one INI value as QSettings writes it: quoted parts, backslash escapes (\n, \t,
// \\, \", \xHH.., octal), "@@" for a leading '@', "@String(...)", a comma-separated list
// (joined with ", "). Nothing for what QSettings would not read as text.
std::optional<std::string> decodeIniValue(std::string_view raw);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view text);

} // namespace kt
