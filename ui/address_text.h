#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kt {

// An IPv4 address as typed into the address field, with the Modbus TCP port.
struct Ipv4Endpoint {
    std::string address; // canonical dotted form: "192.168.1.10" for "192.168.001.010"
    uint16_t port = 502;
};

// Four decimal numbers 0..255 separated by dots, optionally followed by ":PORT" (1..65535);
// blanks around the text are ignored. Leading zeros are read as decimal, as the address field
// of the unit's own display pads them.
std::optional<Ipv4Endpoint> parseIpv4Endpoint(std::string_view text);

// "ADDRESS" or "ADDRESS:PORT" (the port only when it is not 502).
std::string formatIpv4Endpoint(const Ipv4Endpoint& endpoint);

// The message for a text that parseIpv4Endpoint refuses.
std::string notAnIpAddressText(std::string_view text);

} // namespace kt
