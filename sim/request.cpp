#include "sim/request.h"

#include <algorithm>

namespace kt::sim {

namespace {

uint16_t word(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

} // namespace

Request parseRequest(uint8_t unit, std::span<const uint8_t> pdu) {
    Request r;
    r.unit = unit;
    if (pdu.empty()) return r;
    r.function = pdu[0];
    switch (r.function) {
    case FcReadHoldingRegisters:
        if (pdu.size() < 5) break;
        r.start = word(pdu, 1);
        r.count = word(pdu, 3);
        r.wellFormed = true;
        return r;
    case FcWriteSingleCoil:
        if (pdu.size() < 5) break;
        r.start = word(pdu, 1);
        r.value = word(pdu, 3);
        r.wellFormed = true;
        return r;
    case FcWriteMultipleRegisters: {
        if (pdu.size() < 6) break;
        r.start = word(pdu, 1);
        r.count = word(pdu, 3);
        r.byteCount = pdu[5];
        size_t carried = std::min<size_t>(r.byteCount, pdu.size() - 6) / 2;
        for (size_t i = 0; i < carried; ++i) r.values.push_back(word(pdu, 6 + 2 * i));
        r.wellFormed = true;
        return r;
    }
    default:
        break;
    }
    r.data.assign(pdu.begin() + 1, pdu.end());
    return r;
}

std::string logLine(const Request& r) {
    std::string line = "fc=" + std::to_string(r.function);
    if (!r.wellFormed) {
        static constexpr char Hex[] = "0123456789ABCDEF";
        line += " data=";
        for (uint8_t b : r.data) {
            line += Hex[b >> 4];
            line += Hex[b & 15];
        }
        return line;
    }
    if (r.function == FcWriteSingleCoil)
        return line + " coil=" + std::to_string(r.start) + " value=" + std::to_string(r.value);
    line += " start=" + std::to_string(r.start) + " count=" + std::to_string(r.count);
    if (r.function == FcWriteMultipleRegisters) {
        line += " values=";
        for (size_t i = 0; i < r.values.size(); ++i) {
            if (i) line += ',';
            line += std::to_string(r.values[i]);
        }
    }
    return line;
}

} // namespace kt::sim
