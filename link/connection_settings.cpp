#include "link/connection_settings.h"

#include <charconv>

namespace kt {

std::string linkName(const ConnectionSettings& settings) {
    if (settings.linkType == LinkModbusTcp)
        return settings.ipAddress + ":" + std::to_string(settings.tcpPort);
    return settings.portName;
}

std::optional<std::pair<std::string, uint16_t>> splitHostPort(std::string_view text) {
    uint16_t port = DefaultTcpPort;
    std::string_view host = text;
    if (auto colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view digits = text.substr(colon + 1);
        unsigned value = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value == 0 ||
            value > 65535)
            return std::nullopt;
        port = static_cast<uint16_t>(value);
        host = text.substr(0, colon);
    }
    return std::pair{std::string(host), port};
}

std::optional<ConnectionSettings> parseLink(std::string_view text, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<ConnectionSettings> {
        if (error) *error = why;
        return std::nullopt;
    };
    ConnectionSettings s;
    constexpr std::string_view tcpScheme = "tcp://";
    constexpr std::string_view serialScheme = "serial:";
    if (text.starts_with(tcpScheme)) {
        auto hp = splitHostPort(text.substr(tcpScheme.size()));
        if (!hp) return fail("bad TCP port in link (expected tcp://HOST[:PORT])");
        if (hp->first.empty()) return fail("missing host in link (expected tcp://HOST[:PORT])");
        s.linkType = LinkModbusTcp;
        s.ipAddress = hp->first;
        s.tcpPort = hp->second;
        return s;
    }
    if (text.starts_with(serialScheme)) {
        std::string_view device = text.substr(serialScheme.size());
        if (device.empty()) return fail("missing device in link (expected serial:DEVICE)");
        s.linkType = LinkSerialRtu;
        s.portName = std::string(device);
        return s;
    }
    return fail("unknown link (expected tcp://HOST[:PORT] or serial:DEVICE)");
}

} // namespace kt
