#include "ui/trend_data.h"

#include <algorithm>
#include <cmath>

namespace kt {

namespace {

bool knowsAmpsVolts(const DatalogSample& s) {
    return !std::isnan(s.amps) || !std::isnan(s.volts);
}

bool earlier(const DatalogSample& a, const DatalogSample& b) {
    return a.timeMs < b.timeMs;
}

} // namespace

float trendValue(const DatalogSample& s, TrendChannel channel) {
    switch (channel) {
    case TrendChannel::CurrentPercent:
        return s.currentPercent;
    case TrendChannel::VoltagePercent:
        return s.voltagePercent;
    case TrendChannel::Amps:
        return s.amps;
    case TrendChannel::Volts:
        return s.volts;
    }
    return NoValue;
}

void TrendData::append(const DatalogSample& sample) {
    if (knowsAmpsVolts(sample)) ++ampsVoltsCount_;
    if (samples_.empty() || samples_.back().timeMs <= sample.timeMs) {
        samples_.push_back(sample);
        return;
    }
    // The PC's clock was set back: keep the order the plot and the search rely on.
    auto at = std::upper_bound(samples_.begin(), samples_.end(), sample, earlier);
    samples_.insert(at, sample);
}

void TrendData::assign(std::vector<DatalogSample> samples) {
    samples_ = std::move(samples);
    if (!std::is_sorted(samples_.begin(), samples_.end(), earlier))
        std::stable_sort(samples_.begin(), samples_.end(), earlier);
    ampsVoltsCount_ = size_t(std::count_if(samples_.begin(), samples_.end(), knowsAmpsVolts));
}

void TrendData::clear() {
    samples_.clear();
    ampsVoltsCount_ = 0;
}

std::pair<size_t, size_t> TrendData::indexRange(int64_t t0, int64_t t1) const {
    auto first = std::lower_bound(samples_.begin(), samples_.end(), t0,
                                  [](const DatalogSample& s, int64_t t) { return s.timeMs < t; });
    auto last = std::upper_bound(first, samples_.end(), t1,
                                 [](int64_t t, const DatalogSample& s) { return t < s.timeMs; });
    return {size_t(first - samples_.begin()), size_t(last - samples_.begin())};
}

void TrendData::decimate(TrendChannel channel, int64_t t0, int64_t t1, int columns,
                         std::vector<TrendPoint>& out) const {
    out.clear();
    if (samples_.empty() || columns <= 0 || t1 < t0) return;
    const auto range = indexRange(t0, t1);
    const size_t first = range.first, last = range.second;

    auto emit = [&](size_t i) {
        float v = trendValue(samples_[i], channel);
        if (!std::isnan(v)) out.push_back({samples_[i].timeMs, v});
    };
    // The nearest known value before the range.
    for (size_t i = first; i > 0; --i)
        if (!std::isnan(trendValue(samples_[i - 1], channel))) {
            emit(i - 1);
            break;
        }

    if (last - first <= size_t(2) * size_t(columns)) {
        for (size_t i = first; i < last; ++i) emit(i);
    } else {
        const int64_t span = t1 - t0 + 1;
        int64_t column = -1;
        size_t lowIndex = 0, highIndex = 0;
        bool any = false;
        // The range's first and last samples are drawn too, so the line reaches both edges.
        emit(first);
        size_t lastEmitted = first;
        auto emitOnce = [&](size_t i) {
            if (i == lastEmitted || i == last - 1) return;
            emit(i);
            lastEmitted = i;
        };
        auto flush = [&] {
            if (!any) return;
            emitOnce(std::min(lowIndex, highIndex));
            emitOnce(std::max(lowIndex, highIndex));
            any = false;
        };
        for (size_t i = first; i < last; ++i) {
            int64_t c = (samples_[i].timeMs - t0) * columns / span;
            if (c != column) {
                flush();
                column = c;
            }
            float v = trendValue(samples_[i], channel);
            if (std::isnan(v)) continue;
            if (!any) {
                lowIndex = highIndex = i;
                any = true;
            } else if (v < trendValue(samples_[lowIndex], channel)) {
                lowIndex = i;
            } else if (v > trendValue(samples_[highIndex], channel)) {
                highIndex = i;
            }
        }
        flush();
        emit(last - 1);
    }

    // The nearest known value after the range.
    for (size_t i = last; i < samples_.size(); ++i)
        if (!std::isnan(trendValue(samples_[i], channel))) {
            emit(i);
            break;
        }
}

const DatalogSample* TrendData::nearest(int64_t t) const {
    if (samples_.empty()) return nullptr;
    auto after = std::lower_bound(samples_.begin(), samples_.end(), t,
                                  [](const DatalogSample& s, int64_t x) { return s.timeMs < x; });
    if (after == samples_.end()) return &samples_.back();
    if (after == samples_.begin()) return &*after;
    auto before = after - 1;
    return (t - before->timeMs) <= (after->timeMs - t) ? &*before : &*after;
}

} // namespace kt
