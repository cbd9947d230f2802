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

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<uint32_t> ParseIPv4(std::string_view text) {
    auto parts = SplitText(trimmed(text), '.');
    if (parts.size() != 4) return std::nullopt;
    uint32_t result = 0;
    for (std::string_view part : parts) {
        if (part.empty() || part.size() > 3) return std::nullopt;
        unsigned v = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + static_cast<unsigned>(c - '0');
        }
        if (v > 255) return std::nullopt;
        result = (result << 8) | v;
    }
    return result;
}

std::optional<uint64_t> ParseHexValue(std::string_view text, uint64_t maxValue) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (isBlank(c)) continue;
        int d = hexDigit(c);
        if (d < 0 || static_cast<uint64_t>(d) > maxValue || v > (maxValue - static_cast<uint64_t>(d)) / 16)
            return std::nullopt;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    return v;
}

std::optional<uint64_t> ParseMAC(std::string_view text) {
    text = trimmed(text);
    std::vector<std::string_view> octets;
    size_t i = 0;
    bool separated = false;
    while (i < text.size()) {
        size_t start = i;
        while (i < text.size() && hexDigit(text[i]) >= 0) ++i;
        if (i == start) return std::nullopt;
        octets.push_back(text.substr(start, i - start));
        if (i == text.size()) break;
        char sep = text[i];
        if (sep != '-' && sep != ':' && !isBlank(sep)) return std::nullopt;
        separated = true;
        ++i;
        while (i < text.size() && isBlank(text[i]) && isBlank(sep)) ++i;
        if (i == text.size()) return std::nullopt; // a separator at the end
    }
    if (!separated && octets.size() == 1 && octets[0].size() == 12) {
        std::vector<std::string_view> pairs;
        for (size_t k = 0; k < 12; k += 2) pairs.push_back(octets[0].substr(k, 2));
        octets = pairs;
    }
    if (octets.size() != 6) return std::nullopt;
    uint64_t v = 0;
    for (std::string_view o : octets) {
        if (o.size() > 2) return std::nullopt;
        uint64_t octet = 0;
        for (char c : o) octet = (octet << 4) | static_cast<uint64_t>(hexDigit(c));
        v = (v << 8) | octet;
    }
    return v;
}

std::optional<int64_t> ParseDecimalIn(std::string_view text, int64_t min, int64_t max) {
    auto v = ParseDecimal(text);
    if (!v || *v < min || *v > max) return std::nullopt;
    return v;
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
