#include "tests/support/modbus_master.h"

#include "tests/support/process.h"

#include <sstream>
#include <stdexcept>

namespace kt::test {

namespace {

MasterReply parseReply(const std::string& line) {
    MasterReply r;
    std::istringstream in(line);
    std::string ms;
    in >> r.status >> ms;
    if (ms.starts_with("ms=")) r.ms = std::stod(ms.substr(3));
    std::getline(in >> std::ws, r.detail);
    std::istringstream detail(r.detail);
    if (r.status == "ok") {
        for (unsigned long v; detail >> v;) r.values.push_back(static_cast<uint16_t>(v));
    } else if (r.status == "exception") {
        detail >> r.exception;
    }
    return r;
}

} // namespace

std::vector<MasterReply> runModbusMaster(const std::string& link, const std::vector<std::string>& ops,
                                         int timeoutSeconds, int unit) {
    // Debian's interpreter on purpose: it is the one python3-pymodbus is installed for.
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     sourcePath("tests/support/modbus_master.py"),
                                     link,
                                     "--timeout",
                                     std::to_string(timeoutSeconds),
                                     "--unit",
                                     std::to_string(unit)};
    argv.insert(argv.end(), ops.begin(), ops.end());
    CommandResult run = runCommand(argv, 120s);
    std::vector<MasterReply> replies;
    for (const auto& line : splitLines(run.out))
        if (!line.empty()) replies.push_back(parseReply(line));
    if (run.exitCode != 0 || replies.size() != ops.size())
        throw std::runtime_error("modbus_master.py failed (exit " + std::to_string(run.exitCode) +
                                 "): " + run.out + run.err);
    return replies;
}

} // namespace kt::test
