#pragma once

#include "tests/support/link_kind.h"
#include "tests/support/process.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kt::test {

// bin/kt740sim as a child process. The constructor starts it with `args` and waits for its
// "listening" lines (one each for --tcp, --rtu and --legacy); without a --log of its own it logs into a
// temporary folder. Throws std::runtime_error, carrying the simulator's stderr, when it does not
// come up. The destructor stops it: SIGTERM, then SIGKILL after a grace period.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args, std::chrono::milliseconds startTimeout = 20s);
    // The simulator with the Modbus endpoint of `kind` (TCP on a free loopback port, or RTU) and
    // the further options `args`.
    static std::unique_ptr<SimProcess> serving(LinkKind kind, std::vector<std::string> args = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Stops the simulator (SIGSTOP) and waits until the system says it is stopped, so not even an
    // answer under way leaves it afterwards; false when it did not stop within 5 s.
    bool freeze();
    void thaw(); // SIGCONT

    const std::string& tcpEndpoint() const { return tcpEndpoint_; } // HOST:PORT, empty without --tcp
    uint16_t tcpPort() const { return tcpPort_; }
    std::string tcpLink() const { return "tcp://" + tcpEndpoint_; } // the link notation of the tools
    const std::string& rtuDevice() const { return rtuDevice_; }     // empty without --rtu
    std::string serialLink() const { return "serial:" + rtuDevice_; }
    const std::string& legacyDevice() const { return legacyDevice_; } // empty without --legacy
    // tcpLink() or serialLink().
    std::string link(LinkKind kind) const { return kind == LinkKind::Tcp ? tcpLink() : serialLink(); }

    const std::string& logPath() const { return logPath_; }
    std::vector<std::string> logLines() const;
    std::string stdoutText() const;
    std::string stderrText() const;

    int pid() const { return pid_; }
    bool running();
    // SIGTERM, then SIGKILL once `grace` has passed. Returns the exit code (128 + signal number when
    // a signal ended it); later calls return the same.
    int stop(std::chrono::milliseconds grace = 5s);

private:
    TempDir dir_;
    int pid_ = -1;
    std::optional<int> exitCode_;
    std::string logPath_;
    std::string tcpEndpoint_;
    uint16_t tcpPort_ = 0;
    std::string rtuDevice_;
    std::string legacyDevice_;
};

} // namespace kt::test
