#pragma once

#include "sim/fd.h"
#include "sim/legacy_unit.h"
#include "sim/options.h"
#include "sim/request_log.h"
#include "sim/stop_fd.h"

#include <cstdint>
#include <span>
#include <string>
#include <thread>

namespace kt::sim {

// A legacy unit's serial line on a pseudo-terminal: frames pushed every frameMs at the wire speed of
// 38400 baud, "d" answered with the event block and "c" clearing the records; every other byte (a
// Modbus master's request, say) is ignored, as such a unit ignores it. The fault options spoil
// frames: a noise byte before one, one cut short, silence after some. Each frame and request goes
// to the request log: "legacy frame=N", "legacy frame=N noise", "legacy frame=N partial=12",
// "legacy request=d", "legacy request=c", "legacy ignored=K" (K other bytes).
class LegacyEndpoint {
public:
    static constexpr uint8_t NoiseByte = 0xA5;
    static constexpr size_t PartialBytes = 12;

    LegacyEndpoint(LegacyUnit& unit, const LegacyOptions& options, bool silent, RequestLog* log);
    ~LegacyEndpoint();

    bool open(std::string* error);
    void start();
    void stop();

    const std::string& device() const { return device_; }

private:
    void run(std::stop_token token);
    void answer(const StopFd& stop, std::span<const uint8_t> bytes);
    void sendFrame(const StopFd& stop);
    bool sendPaced(const StopFd& stop, std::span<const uint8_t> bytes);
    void log(const std::string& line);

    LegacyUnit& unit_;
    const LegacyOptions options_;
    const bool silent_;
    RequestLog* log_;
    UniqueFd master_;
    UniqueFd hold_;
    std::string device_;
    uint64_t frames_ = 0; // thread only
    std::chrono::steady_clock::time_point nextFrame_;
    std::jthread thread_;
};

} // namespace kt::sim
