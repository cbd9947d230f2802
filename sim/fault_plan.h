#pragma once

#include "sim/options.h"
#include "sim/request.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kt::sim {

inline constexpr uint8_t ExceptionIllegalFunction = 1;
inline constexpr uint8_t ExceptionIllegalDataAddress = 2;
inline constexpr uint8_t ExceptionIllegalDataValue = 3;
inline constexpr uint8_t ExceptionServerDeviceFailure = 4;
inline constexpr uint8_t ExceptionGatewayTargetFailed = 11;

// How the unit treats one request, before it looks at the registers.
struct Verdict {
    bool silent = false;
    uint8_t exception = 0; // 0: answer normally
    std::chrono::milliseconds delay{0};
};

// The faults the tests asked for on the command line. One plan serves every endpoint and
// connection; its counters are shared, so "every K-th request" counts across all of them.
class FaultPlan {
public:
    explicit FaultPlan(const FaultOptions& options) : options_(options) {}

    // Called once for every request received (logged or not answered alike).
    Verdict judge(const Request& request);
    // Called once for every RTU answer frame: true when this one leaves with a spoiled CRC.
    bool spoilAnswer();
    // True when a TCP connection that has taken `served` requests is to be closed now.
    bool dropConnection(uint64_t served) const { return options_.dropAfter && served >= options_.dropAfter; }

    const FaultOptions& options() const { return options_; }

    // A unit that falls silent while it runs (SIGUSR2): requests are still received and logged,
    // none is answered, until it is told to answer again. Returns whether it is silent now.
    // Only the signal loop toggles it; the endpoints read it.
    bool toggleSilence() {
        const bool now = !muted_.load();
        muted_.store(now);
        return now;
    }
    bool silent() const { return options_.silent || muted_; }

private:
    const FaultOptions options_;
    std::atomic<bool> muted_{false};
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> answers_{0};
};

} // namespace kt::sim
