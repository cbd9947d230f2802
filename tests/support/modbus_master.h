#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kt::test {

// One operation's result from tests/support/modbus_master.py, an independent Modbus master
// (Debian's pymodbus, run by /usr/bin/python3).
struct MasterReply {
    std::string status; // "ok", "exception", "crc-error", "error"
    double ms = 0;      // how long the operation took
    std::vector<uint16_t> values;
    int exception = 0;
    std::string detail; // the rest of the line as printed

    bool ok() const { return status == "ok"; }
};

// `link` is "tcp:HOST:PORT" or "rtu:DEVICE"; `ops` as the script's usage says (for example
// "read:0:6", "write:150:1,2", "coil:3:on"). Returns one reply per operation; throws
// std::runtime_error with the script's output when it did not print one line per operation.
std::vector<MasterReply> runModbusMaster(const std::string& link, const std::vector<std::string>& ops,
                                         int timeoutSeconds = 1, int unit = 254);

} // namespace kt::test
