#pragma once

// The value codec: register words to display text by value type, and the inverse encodings the
// writers use. Pure functions over a cache of words; nothing here touches the link.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

inline constexpr int RegisterCacheSize = 1000;
using RegisterCacheWords = std::array<uint16_t, RegisterCacheSize>;

// Value type codes of the TYPE column.
namespace ValueType {
inline constexpr int NotPolled = 0;
inline constexpr int Unsigned16 = 1;
inline constexpr int Signed32Padded = 2; // "000000000"
inline constexpr int Date = 3;
inline constexpr int Time = 4;
inline constexpr int Signed32 = 5;
inline constexpr int Signed16 = 6;
inline constexpr int IpAddress = 7;
inline constexpr int Hex16 = 8;
inline constexpr int MacAddress = 9;
inline constexpr int Text64 = 10;
inline constexpr int Text32 = 11;
inline constexpr int Unsigned48 = 13;
inline constexpr int Text8 = 14;
inline constexpr int Thousandths = 15;
inline constexpr int UtcOffset = 16;
inline constexpr int Unsigned32Padded = 17;
inline constexpr int Text2 = 18;
inline constexpr int Hex32 = 19;
} // namespace ValueType

// What registerText gives for a value that cannot be read (the conversion would run past the
// cache) and for a type without a conversion (0, 12, above 19).
inline constexpr std::string_view UnreadableText = "--";
inline constexpr std::string_view NoConversionText = "-";

// Number of registers a conversion reads; 0 for types without a conversion.
int valueTypeRegisterCount(int type);
// True for the codes that have a text form (1..11, 13..19).
bool isConvertibleValueType(int type);

// Text of `reg` (and the registers after it) as value type `type`. Never reads outside the
// cache: a conversion that would needs gives "--". Types without a conversion give "-" (not the
// text of some other register).
std::string registerText(const RegisterCacheWords& cache, int reg, int type);
// The same into `out`, reusing its storage (the poll pass converts every register each pass).
void registerTextInto(std::string& out, const RegisterCacheWords& cache, int reg, int type);

// ---- Inverse encodings (register order: element 0 goes to the lowest register) ----

// A 32-bit number as two registers, low word first (inverse of types 2, 5, 17).
std::array<uint16_t, 2> encode32(int64_t value);

// "nnn.nnn.nnn.nnn": the characters at 1-3, 5-7, 9-11, 13-15 (from 1), blanks trimmed, each a
// number 0..255. Nothing when the text is not such an address.
std::optional<std::array<uint8_t, 4>> parseIpOctets(std::string_view text);
// Inverse of type 7: first register o3*256+o4, second o1*256+o2.
std::array<uint16_t, 2> encodeIpAddress(const std::array<uint8_t, 4>& octets);
std::optional<std::array<uint16_t, 2>> encodeIpAddress(std::string_view text);

// "HH:HH:HH:HH:HH:HH": the pairs at 1-2, 4-5, ..., 16-17, trailing blanks trimmed, each hex.
std::optional<std::array<uint8_t, 6>> parseMacAddress(std::string_view text);
// Inverse of type 9: first register b5*256+b6, second b3*256+b4, third b1*256+b2.
std::array<uint16_t, 3> encodeMacAddress(const std::array<uint8_t, 6>& bytes);

struct ClockFields {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
struct ClockWords {
    std::array<uint16_t, 2> time; // registers 152..153: second*256 + ms mod 256, hour*256 + minute
    std::array<uint16_t, 2> date; // registers 150..151: month*256 + day, year
};
// Inverse of types 4 and 3 (the unit's clock registers).
ClockWords encodeClock(const ClockFields& clock);

// "+05:45" / "-03:30" to minutes (inverse of type 16). Nothing for any other text.
std::optional<int> parseUtcOffset(std::string_view text);

// A character text in `registers` registers, two characters per register, the first in the high
// byte, zero-filled; a text that fills them has no terminating zero. Characters beyond U+00FF
// become '?' (the unit's texts are single-byte).
std::vector<uint16_t> encodeText(std::string_view utf8, int registers);

// Register files and relay texts may hold bytes that are not UTF-8 (texts typed on a Windows
// code page): such bytes are taken as Latin-1, so every text the program keeps is valid UTF-8.
std::string toValidUtf8(std::string_view bytes);

} // namespace kt
