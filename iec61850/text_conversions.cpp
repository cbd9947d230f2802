#include "iec61850/text_conversions.h"

#include "iec61850/iec61850_errors.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace kt {

std::string IPToText(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (v >> 24) & 0xFFu, (v >> 16) & 0xFFu, (v >> 8) & 0xFFu,
                  v & 0xFFu);
    return buf;
}

uint32_t TextToIP(std::string_view text) {
    auto parts = SplitText(text, '.');
    uint32_t result = 0;
    for (size_t i = 0; i < 4; ++i) {
        // Addresses are taken as typed: an octet above 255 spills into its neighbour.
        uint32_t part = i < parts.size() ? static_cast<uint32_t>(StrToInt64Def(parts[i], 0)) : 0;
        result = (result << 8) | part;
    }
    return result;
}

std::string MACToText(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%.02X-%.02X-%.02X-%.02X-%.02X-%.02X", unsigned((v >> 40) & 0xFF),
                  unsigned((v >> 32) & 0xFF), unsigned((v >> 24) & 0xFF), unsigned((v >> 16) & 0xFF),
                  unsigned((v >> 8) & 0xFF), unsigned(v & 0xFF));
    return buf;
}

uint64_t TextToMAC(std::string_view text) {
    auto parts = SplitText(text, '-');
    uint64_t result = 0;
    for (size_t i = 0; i < 6; ++i) {
        // An octet is eight bits; a longer part must not overwrite its neighbours.
        uint64_t octet = i < parts.size() ? HexToInt(parts[i]) & 0xFF : 0;
        result = (result << 8) | octet;
    }
    return result;
}

std::string ToHex(uint64_t v, int digits) {
    if (digits < 0) digits = 0;
    if (digits > 32) digits = 32;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

uint64_t HexToInt(std::string_view text) {
    uint64_t result = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return 0;
        result = (result << 4) | static_cast<uint64_t>(d); // wraps past 16 digits
    }
    return result;
}

std::optional<int64_t> ParseDecimal(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] >= '0' && text[1] <= '9') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

int64_t StrToInt64(std::string_view text) {
    if (auto v = ParseDecimal(text)) return *v;
    throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
    return ParseDecimal(text).value_or(fallback);
}

std::vector<std::string_view> SplitText(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string Utf8Prefix(std::string_view text, size_t count) {
    size_t i = 0;
    for (size_t n = 0; i < text.size() && n < count; ++n) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return std::string(text.substr(0, i));
}

} // namespace kt
