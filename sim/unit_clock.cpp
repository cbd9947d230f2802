#include "sim/unit_clock.h"

#include "link/platform/local_time.h"

#include <cstdio>
#include <ctime>

namespace kt::sim {

namespace {

using Millis = std::chrono::milliseconds;

std::chrono::sys_time<Millis> toTimePoint(const ClockFields& c) {
    using namespace std::chrono;
    const sys_days day = year_month_day(year(c.year), month(static_cast<unsigned>(c.month)),
                                        std::chrono::day(static_cast<unsigned>(c.day)));
    return day + hours(c.hour) + minutes(c.minute) + seconds(c.second) + Millis(c.millisecond);
}

ClockFields fromTimePoint(std::chrono::sys_time<Millis> t) {
    using namespace std::chrono;
    const sys_days day = floor<days>(t);
    const year_month_day ymd(day);
    const hh_mm_ss<Millis> tod(t - day);
    return {.year = int(ymd.year()),
            .month = static_cast<int>(unsigned(ymd.month())),
            .day = static_cast<int>(unsigned(ymd.day())),
            .hour = static_cast<int>(tod.hours().count()),
            .minute = static_cast<int>(tod.minutes().count()),
            .second = static_cast<int>(tod.seconds().count()),
            .millisecond = static_cast<int>(tod.subseconds().count())};
}

} // namespace

UnitClock::UnitClock(Steady::time_point now) : base_(toTimePoint(localClockNow())), since_(now) {}

ClockFields UnitClock::at(Steady::time_point now) const {
    return fromTimePoint(base_ + std::chrono::duration_cast<Millis>(now - since_));
}

void UnitClock::set(const ClockFields& fields, Steady::time_point now) {
    ClockFields start = fields;
    start.millisecond = 0;
    base_ = toTimePoint(start);
    since_ = now;
}

ClockFields localClockNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const std::tm tm = platform::localTime(seconds);
    const auto ms =
        std::chrono::duration_cast<Millis>(now - std::chrono::system_clock::from_time_t(seconds)).count();
    return {.year = tm.tm_year + 1900,
            .month = tm.tm_mon + 1,
            .day = tm.tm_mday,
            .hour = tm.tm_hour,
            .minute = tm.tm_min,
            .second = tm.tm_sec,
            .millisecond = static_cast<int>(ms < 0 ? 0 : ms % 1000)};
}

bool validClock(const ClockFields& c) {
    using namespace std::chrono;
    if (c.year < 1970 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31)
        return false;
    const year_month_day ymd(year(c.year), month(static_cast<unsigned>(c.month)),
                             day(static_cast<unsigned>(c.day)));
    return ymd.ok() && c.hour >= 0 && c.hour < 24 && c.minute >= 0 && c.minute < 60 && c.second >= 0 &&
           c.second < 60;
}

std::optional<ClockFields> clockFromRegisters(const uint16_t (&w)[4]) {
    ClockFields c{.year = w[1],
                  .month = w[0] >> 8,
                  .day = w[0] & 0xFF,
                  .hour = w[3] >> 8,
                  .minute = w[3] & 0xFF,
                  .second = w[2] >> 8,
                  .millisecond = 0};
    if (!validClock(c)) return std::nullopt;
    return c;
}

std::string clockText(const ClockFields& c) {
    char text[48];
    std::snprintf(text, sizeof text, "%d/%d/%d %02d:%02d:%02d", c.day, c.month, c.year, c.hour, c.minute,
                  c.second);
    return text;
}

} // namespace kt::sim
