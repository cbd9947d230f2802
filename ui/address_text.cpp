#include "ui/address_text.h"

#include <charconv>

namespace kt {

namespace {

std::string_view trimBlanks(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool allDigits(std::string_view t) {
    for (char c : t)
        if (c < '0' || c > '9') return false;
    return !t.empty();
}

// A run of decimal digits no larger than `max`; from_chars alone would take "+1" or " 1" on
// some libraries, so the digits are checked first.
std::optional<unsigned> decimal(std::string_view t, size_t maxDigits, unsigned max) {
    if (!allDigits(t) || t.size() > maxDigits) return std::nullopt;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size() || value > max) return std::nullopt;
    return value;
}

} // namespace

std::optional<Ipv4Endpoint> parseIpv4Endpoint(std::string_view text) {
    text = trimBlanks(text);
    Ipv4Endpoint endpoint;
    if (auto colon = text.find(':'); colon != std::string_view::npos) {
        auto port = decimal(text.substr(colon + 1), 5, 65535);
        if (!port || *port == 0) return std::nullopt;
        endpoint.port = static_cast<uint16_t>(*port);
        text = text.substr(0, colon);
    }
    for (int octet = 0; octet < 4; ++octet) {
        size_t dot = text.find('.');
        bool last = octet == 3;
        if (last != (dot == std::string_view::npos)) return std::nullopt;
        std::string_view part = last ? text : text.substr(0, dot);
        // Three digits at most, so "0001" is refused instead of read as 1.
        auto value = decimal(part, 3, 255);
        if (!value) return std::nullopt;
        if (octet > 0) endpoint.address += '.';
        endpoint.address += std::to_string(*value);
        if (!last) text = text.substr(dot + 1);
    }
    return endpoint;
}

std::string formatIpv4Endpoint(const Ipv4Endpoint& endpoint) {
    if (endpoint.port == 502) return endpoint.address;
    return endpoint.address + ":" + std::to_string(endpoint.port);
}

std::string notAnIpAddressText(std::string_view text) {
    return "\"" + std::string(text) +
           "\" is not an IP address. Enter four numbers 0-255 separated by dots, optionally followed by "
           ":PORT.";
}

} // namespace kt
