#include "monitor/register_codec.h"

#include <charconv>
#include <cstdio>

namespace kt {

namespace {

// Registers read per type code; -1: no conversion.
constexpr std::array<int8_t, 20> TypeRegisters = {
    0,  // 0 not polled ("-")
    1,  // 1 unsigned 16
    2,  // 2 signed 32, 9 digits
    2,  // 3 date
    2,  // 4 time
    2,  // 5 signed 32
    1,  // 6 signed 16
    2,  // 7 IPv4
    1,  // 8 hex 16
    3,  // 9 MAC
    32, // 10 text of 64
    16, // 11 text of 32
    -1, // 12 none
    3,  // 13 unsigned 48, 16 digits
    4,  // 14 text of 8
    2,  // 15 thousandths, two decimals
    1,  // 16 UTC offset
    2,  // 17 unsigned 32, 8 digits
    1,  // 18 text of 2
    2,  // 19 hex 32
};

inline unsigned hi(uint16_t w) {
    return w >> 8;
}
inline unsigned lo(uint16_t w) {
    return w & 0xFFu;
}

void appendUnsigned(std::string& out, uint64_t v, int minDigits) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
    (void)ec; // 24 characters hold any 64-bit number
    int n = static_cast<int>(end - digits);
    if (n < minDigits) out.append(static_cast<size_t>(minDigits - n), '0');
    out.append(digits, end);
}

// Decimal picture "000..." with minDigits zeros: leading zeros, "-" before negative numbers.
void appendPicture(std::string& out, int64_t v, int minDigits) {
    if (v < 0) {
        out.push_back('-');
        appendUnsigned(out, static_cast<uint64_t>(-(v + 1)) + 1u, minDigits);
    } else {
        appendUnsigned(out, static_cast<uint64_t>(v), minDigits);
    }
}

void appendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

int32_t signed32(uint16_t low, uint16_t high) {
    return static_cast<int32_t>((static_cast<uint32_t>(high) << 16) | low);
}

// Trims blanks at both ends and reads a decimal number with nothing else around it.
std::optional<long> parseField(std::string_view text, int base) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

} // namespace

int valueTypeRegisterCount(int type) {
    if (type < 0 || type >= static_cast<int>(TypeRegisters.size())) return 0;
    return TypeRegisters[type] < 0 ? 0 : TypeRegisters[type];
}

bool isConvertibleValueType(int type) {
    return valueTypeRegisterCount(type) > 0;
}

void registerTextInto(std::string& out, const RegisterCacheWords& cache, int reg, int type) {
    out.clear();
    const int n = valueTypeRegisterCount(type);
    if (n == 0) {
        out = NoConversionText;
        return;
    }
    if (reg < 0 || reg > RegisterCacheSize - n) {
        out = UnreadableText;
        return;
    }
    const uint16_t* w = cache.data() + reg;
    char buf[48];
    int len = 0;
    switch (type) {
    case ValueType::Unsigned16:
        appendUnsigned(out, w[0], 1);
        break;
    case ValueType::Signed32Padded:
        appendPicture(out, signed32(w[0], w[1]), 9);
        break;
    case ValueType::Date:
        len = std::snprintf(buf, sizeof buf, "%u/%u/%u", lo(w[0]), hi(w[0]), unsigned{w[1]});
        break;
    case ValueType::Time:
        len = std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", hi(w[1]), lo(w[1]), hi(w[0]));
        break;
    case ValueType::Signed32:
        appendPicture(out, signed32(w[0], w[1]), 1);
        break;
    case ValueType::Signed16:
        appendPicture(out, static_cast<int16_t>(w[0]), 1);
        break;
    case ValueType::IpAddress:
        len = std::snprintf(buf, sizeof buf, "%03u.%03u.%03u.%03u", hi(w[1]), lo(w[1]), hi(w[0]), lo(w[0]));
        break;
    case ValueType::Hex16:
        len = std::snprintf(buf, sizeof buf, "0x%04X", unsigned{w[0]});
        break;
    case ValueType::MacAddress:
        len = std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", hi(w[2]), lo(w[2]), hi(w[1]),
                            lo(w[1]), hi(w[0]), lo(w[0]));
        break;
    case ValueType::Text64:
    case ValueType::Text32:
    case ValueType::Text8:
    case ValueType::Text2:
        // High byte first; the text ends at the first zero byte.
        for (int i = 0; i < n; ++i) {
            unsigned char first = static_cast<unsigned char>(hi(w[i]));
            if (first == 0) break;
            appendLatin1(out, first);
            unsigned char second = static_cast<unsigned char>(lo(w[i]));
            if (second == 0) break;
            appendLatin1(out, second);
        }
        break;
    case ValueType::Unsigned48:
        appendUnsigned(out, (uint64_t{w[2]} << 32) | (uint64_t{w[1]} << 16) | w[0], 16);
        break;
    case ValueType::Thousandths: {
        // Two decimals of value/1000, halves away from zero; no "-0.00".
        int64_t v = signed32(w[0], w[1]);
        int64_t hundredths = v / 10;
        int64_t rest = v % 10;
        if (rest >= 5) ++hundredths;
        if (rest <= -5) --hundredths;
        uint64_t mag =
            hundredths < 0 ? static_cast<uint64_t>(-hundredths) : static_cast<uint64_t>(hundredths);
        if (hundredths < 0) out.push_back('-');
        appendUnsigned(out, mag / 100, 1);
        out.push_back('.');
        appendUnsigned(out, mag % 100, 2);
        break;
    }
    case ValueType::UtcOffset: {
        int m = static_cast<int16_t>(w[0]);
        // Whole hours toward zero and the minutes left over. Offsets between -1 h and 0 keep their
        // sign ("-00:30"), which "00" alone would lose.
        int h = m / 60;
        int rest = m < 0 ? 60 * h - m : m - 60 * h;
        out.push_back(m < 0 ? '-' : '+');
        appendUnsigned(out, static_cast<uint64_t>(h < 0 ? -h : h), 2);
        out.push_back(':');
        appendUnsigned(out, static_cast<uint64_t>(rest), 2);
        break;
    }
    case ValueType::Unsigned32Padded:
        appendUnsigned(out, (static_cast<uint32_t>(w[1]) << 16) | w[0], 8);
        break;
    case ValueType::Hex32:
        len = std::snprintf(buf, sizeof buf, "0x%04X%04X", unsigned{w[1]}, unsigned{w[0]});
        break;
    default:
        out = NoConversionText;
        break;
    }
    if (len > 0) out.append(buf, static_cast<size_t>(len));
}

std::string registerText(const RegisterCacheWords& cache, int reg, int type) {
    std::string out;
    registerTextInto(out, cache, reg, type);
    return out;
}

std::array<uint16_t, 2> encode32(int64_t value) {
    auto v = static_cast<uint32_t>(value);
    return {static_cast<uint16_t>(v & 0xFFFFu), static_cast<uint16_t>(v >> 16)};
}

std::optional<std::array<uint8_t, 4>> parseIpOctets(std::string_view text) {
    if (text.size() < 15) return std::nullopt;
    std::array<uint8_t, 4> octets{};
    for (size_t i = 0; i < 4; ++i) {
        auto v = parseField(text.substr(i * 4, 3), 10);
        if (!v || *v < 0 || *v > 255) return std::nullopt;
        octets[i] = static_cast<uint8_t>(*v);
        if (i < 3 && text[i * 4 + 3] != '.') return std::nullopt;
    }
    if (text.size() > 15) return std::nullopt;
    return octets;
}

std::array<uint16_t, 2> encodeIpAddress(const std::array<uint8_t, 4>& o) {
    return {static_cast<uint16_t>(o[2] << 8 | o[3]), static_cast<uint16_t>(o[0] << 8 | o[1])};
}

std::optional<std::array<uint16_t, 2>> encodeIpAddress(std::string_view text) {
    auto octets = parseIpOctets(text);
    if (!octets) return std::nullopt;
    return encodeIpAddress(*octets);
}

std::optional<std::array<uint8_t, 6>> parseMacAddress(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::array<uint8_t, 6> bytes{};
    for (size_t i = 0; i < 6; ++i) {
        std::string_view pair = text.substr(i * 3, 2);
        if (pair.front() == ' ' || pair.front() == '+' || pair.front() == '-') return std::nullopt;
        auto v = parseField(pair, 16);
        if (!v) return std::nullopt;
        bytes[i] = static_cast<uint8_t>(*v);
        if (i < 5 && text[i * 3 + 2] != ':') return std::nullopt;
    }
    return bytes;
}

std::array<uint16_t, 3> encodeMacAddress(const std::array<uint8_t, 6>& b) {
    return {static_cast<uint16_t>(b[4] << 8 | b[5]), static_cast<uint16_t>(b[2] << 8 | b[3]),
            static_cast<uint16_t>(b[0] << 8 | b[1])};
}

ClockWords encodeClock(const ClockFields& c) {
    auto word = [](int high, int low) { return static_cast<uint16_t>(((high & 0xFF) << 8) | (low & 0xFF)); };
    ClockWords w{};
    w.time = {word(c.second, c.millisecond % 256), word(c.hour, c.minute)};
    w.date = {word(c.month, c.day), static_cast<uint16_t>(c.year)};
    return w;
}

std::optional<int> parseUtcOffset(std::string_view text) {
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return std::nullopt;
    auto h = parseField(text.substr(1, 2), 10);
    auto m = parseField(text.substr(4, 2), 10);
    if (!h || !m || *h < 0 || *m < 0 || *m > 59 || text[1] == ' ' || text[4] == ' ') return std::nullopt;
    int minutes = static_cast<int>(*h * 60 + *m);
    return text[0] == '-' ? -minutes : minutes;
}

std::vector<uint16_t> encodeText(std::string_view utf8, int registers) {
    std::vector<uint8_t> bytes;
    bytes.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes.push_back(c);
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            bytes.push_back(cp <= 0xFF ? static_cast<uint8_t>(cp) : '?');
            i += 2;
        } else {
            // Three- and four-byte sequences are beyond Latin-1.
            size_t len = (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
            bytes.push_back('?');
            i += len;
        }
    }
    std::vector<uint16_t> words(registers > 0 ? static_cast<size_t>(registers) : 0u, 0);
    for (size_t i = 0; i < bytes.size() && i / 2 < words.size(); ++i)
        words[i / 2] |= static_cast<uint16_t>(i % 2 == 0 ? bytes[i] << 8 : bytes[i]);
    return words;
}

std::string toValidUtf8(std::string_view s) {
    // Fast path: most texts are plain ASCII or valid UTF-8.
    auto validAt = [&](size_t i) -> size_t {
        auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80             ? 1
                     : (c & 0xE0) == 0xC0 ? 2
                     : (c & 0xF0) == 0xE0 ? 3
                     : (c & 0xF8) == 0xF0 ? 4
                                          : 0;
        if (len == 0 || i + len > s.size()) return 0;
        if (len == 2 && c < 0xC2) return 0; // overlong
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
        if (len == 3) {
            unsigned cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        }
        if (len == 4) {
            unsigned cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12);
            if (cp < 0x10000 || cp > 0x10FFFF) return 0;
        }
        return len;
    };
    size_t i = 0;
    while (i < s.size()) {
        size_t len = validAt(i);
        if (len == 0) break;
        i += len;
    }
    if (i == s.size()) return std::string(s);
    std::string out(s.substr(0, i));
    while (i < s.size()) {
        size_t len = validAt(i);
        if (len == 0) {
            appendLatin1(out, static_cast<unsigned char>(s[i]));
            ++i;
        } else {
            out.append(s.substr(i, len));
            i += len;
        }
    }
    return out;
}

} // namespace kt
