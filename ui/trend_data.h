#pragma once

// The samples behind the trend view: every sample kept in time order, and the few points a plot
// of a time range needs (the lowest and highest value per pixel column), so a day of one-second
// samples draws as fast as a minute of them.

#include "monitor/datalog_reader.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace kt {

enum class TrendChannel : uint8_t { CurrentPercent, VoltagePercent, Amps, Volts };

float trendValue(const DatalogSample& s, TrendChannel channel);

struct TrendPoint {
    int64_t timeMs = 0;
    float value = 0;
};

class TrendData {
public:
    // A sample older than the newest goes into its place, so the samples stay in time order.
    void append(const DatalogSample& sample);
    // Replaces the samples (a loaded file); sorted by time, samples of one time kept in order.
    void assign(std::vector<DatalogSample> samples);
    void clear();

    std::span<const DatalogSample> samples() const { return samples_; }
    size_t size() const { return samples_.size(); }
    bool empty() const { return samples_.empty(); }
    int64_t firstTime() const { return samples_.empty() ? 0 : samples_.front().timeMs; }
    int64_t lastTime() const { return samples_.empty() ? 0 : samples_.back().timeMs; }
    // Some sample knows the amperes or the volts (a CT or a voltage was selected).
    bool hasAmpsVolts() const { return ampsVoltsCount_ > 0; }

    // Indexes [first, last) of the samples from t0 to t1, both included.
    std::pair<size_t, size_t> indexRange(int64_t t0, int64_t t1) const;

    // The channel's values from t0 to t1 as at most two points (lowest and highest, in time
    // order) per pixel column, with the range's first and last samples and the nearest known
    // value on either side of the range, so the line runs to the edges. Samples without a value are left out.
    // Fewer samples than two per column are given as they are.
    void decimate(TrendChannel channel, int64_t t0, int64_t t1, int columns,
                  std::vector<TrendPoint>& out) const;

    // The sample nearest in time to t; null when there is none.
    const DatalogSample* nearest(int64_t t) const;

private:
    std::vector<DatalogSample> samples_;
    size_t ampsVoltsCount_ = 0;
};

} // namespace kt
