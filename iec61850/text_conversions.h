#pragma once

// Text forms of the 61850 model's numbers, shared by the SCL code and the editor tabs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// "a.b.c.d" of bits 31..24, 23..16, 15..8, 7..0.
std::string IPToText(uint32_t v);
// Four dot-separated decimal parts, each 0 when empty or not a number; no range check.
uint32_t TextToIP(std::string_view text);
// "01-0C-CD-01-00-02" from the low 48 bits.
std::string MACToText(uint64_t v);
// Six "-"-separated hex octets (HexToInt each), first most significant.
uint64_t TextToMAC(std::string_view text);
// Upper-case hex with at least `digits` digits (printf "%.0<digits>X").
std::string ToHex(uint64_t v, int digits);
// Hex digits 0-9, A-F (any case) from the left; any other character makes the result 0.
uint64_t HexToInt(std::string_view text);

// A whole decimal integer (optional sign, surrounding blanks allowed); nothing when the text
// is not one or does not fit 64 bits.
std::optional<int64_t> ParseDecimal(std::string_view text);
// ParseDecimal or ConversionError("'text' is not a valid integer value").
int64_t StrToInt64(std::string_view text);
// ParseDecimal or `fallback`.
int64_t StrToInt64Def(std::string_view text, int64_t fallback);

// Strict readings of SCL values, for files: nothing when the text is not exactly such a value,
// never a value wrapped into another one.
// A dotted IPv4 address: four decimal parts 0..255 (blanks around the whole allowed).
std::optional<uint32_t> ParseIPv4(std::string_view text);
// A hexadecimal number of at most `maxValue`; blanks between the digits are allowed, so the
// byte pairs "00 00 00 01" read as 1.
std::optional<uint64_t> ParseHexValue(std::string_view text, uint64_t maxValue);
// Six octets of one or two hex digits separated by "-", ":" or blanks, or twelve hex digits.
std::optional<uint64_t> ParseMAC(std::string_view text);
// A whole decimal number within [min, max].
std::optional<int64_t> ParseDecimalIn(std::string_view text, int64_t min, int64_t max);

// The parts of `text` between the separators (an empty text gives one empty part).
std::vector<std::string_view> SplitText(std::string_view text, char separator);
// The first `count` characters (code points) of UTF-8 text.
std::string Utf8Prefix(std::string_view text, size_t count);

} // namespace kt
