#pragma once

#include "monitor/register_codec.h"

#include <chrono>
#include <optional>
#include <string>

namespace kt::sim {

// The unit's real-time clock: it starts at the PC's local time and runs on the steady clock, so
// that a clock set by the program (command 3) keeps running from there, whatever the PC's clock
// does meanwhile.
class UnitClock {
public:
    using Steady = std::chrono::steady_clock;

    explicit UnitClock(Steady::time_point now);

    ClockFields at(Steady::time_point now) const;
    // `fields` must be valid (validClock); milliseconds start at 0.
    void set(const ClockFields& fields, Steady::time_point now);

private:
    std::chrono::sys_time<std::chrono::milliseconds> base_; // civil time as if it were UTC
    Steady::time_point since_;
};

// The PC's local date and time.
ClockFields localClockNow();

// A real calendar date and a time of day (year 1970..9999).
bool validClock(const ClockFields& clock);

// The clock the program sets through registers 150..153 (date 150..151, time 152..153; the low
// byte of 152 is milliseconds mod 256 and is not used). Nothing when it is no valid date and time.
std::optional<ClockFields> clockFromRegisters(const uint16_t (&words)[4]);

// "d/m/yyyy hh:mm:ss", as the program shows the unit's date and time.
std::string clockText(const ClockFields& clock);

} // namespace kt::sim
