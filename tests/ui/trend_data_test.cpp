// The trend's samples and the points the plot gets from them.
#include "ui/trend_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using kt::DatalogSample;
using kt::TrendChannel;
using kt::TrendData;
using kt::TrendPoint;

constexpr int64_t T0 = 1'773'300'000'000; // some day in 2026, in milliseconds

DatalogSample sample(int64_t second, float current, float voltage = 10, float amps = kt::NoValue) {
    DatalogSample s;
    s.timeMs = T0 + second * 1000;
    s.currentPercent = current;
    s.voltagePercent = voltage;
    s.amps = amps;
    return s;
}

bool hasPoint(const std::vector<TrendPoint>& points, int64_t timeMs, float value) {
    return std::any_of(points.begin(), points.end(),
                       [&](const TrendPoint& p) { return p.timeMs == timeMs && p.value == value; });
}

TEST(TrendData, ADayDrawsWithFewPointsAndKeepsEveryPeak) {
    std::vector<DatalogSample> day;
    for (int64_t i = 0; i < 86'400; ++i)
        day.push_back(sample(i, float(20 + 10 * std::sin(double(i) / 500.0))));
    day[40'000].currentPercent = 900; // a one-second spike
    day[60'000].currentPercent = -50; // and a dip
    day[70'000].currentPercent = kt::NoValue;
    TrendData data;
    data.assign(day);

    std::vector<TrendPoint> out;
    const int columns = 800;
    data.decimate(TrendChannel::CurrentPercent, data.firstTime(), data.lastTime(), columns, out);
    EXPECT_LE(out.size(), size_t(2 * columns + 4));
    EXPECT_GE(out.size(), size_t(columns));
    EXPECT_TRUE(hasPoint(out, T0 + 40'000'000, 900));
    EXPECT_TRUE(hasPoint(out, T0 + 60'000'000, -50));
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end(),
                               [](const TrendPoint& a, const TrendPoint& b) { return a.timeMs < b.timeMs; }));
    EXPECT_EQ(out.front().timeMs, T0);
    EXPECT_EQ(out.back().timeMs, T0 + 86'399'000);
    EXPECT_TRUE(
        std::none_of(out.begin(), out.end(), [](const TrendPoint& p) { return std::isnan(p.value); }));
    // Decimation is for display only: the data keeps every sample.
    EXPECT_EQ(data.size(), 86'400u);

    // Zoomed in to 101 seconds: every sample, and the neighbours that carry the line to the edges.
    data.decimate(TrendChannel::CurrentPercent, T0 + 100'000, T0 + 200'000, columns, out);
    ASSERT_EQ(out.size(), 103u);
    EXPECT_EQ(out.front().timeMs, T0 + 99'000);
    EXPECT_EQ(out.back().timeMs, T0 + 201'000);
}

TEST(TrendData, UnknownValuesAreLeftOut) {
    TrendData data;
    for (int i = 0; i < 10; ++i) data.append(sample(i, float(i)));
    EXPECT_FALSE(data.hasAmpsVolts());
    std::vector<TrendPoint> out;
    data.decimate(TrendChannel::Amps, data.firstTime(), data.lastTime(), 100, out);
    EXPECT_TRUE(out.empty());

    data.append(sample(10, 10, 10, 2.5f));
    EXPECT_TRUE(data.hasAmpsVolts());
    data.decimate(TrendChannel::Amps, data.firstTime(), data.lastTime(), 100, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].value, 2.5f);
}

TEST(TrendData, OrderAndNearestSample) {
    TrendData data;
    data.append(sample(0, 1));
    data.append(sample(10, 2));
    data.append(sample(5, 3)); // the PC's clock was set back
    auto s = data.samples();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[1].currentPercent, 3);

    EXPECT_EQ(data.nearest(T0 - 5000)->currentPercent, 1);
    EXPECT_EQ(data.nearest(T0 + 2000)->currentPercent, 1);
    EXPECT_EQ(data.nearest(T0 + 4000)->currentPercent, 3);
    EXPECT_EQ(data.nearest(T0 + 8000)->currentPercent, 2);
    EXPECT_EQ(data.nearest(T0 + 99'000)->currentPercent, 2);

    auto [first, last] = data.indexRange(T0 + 1000, T0 + 10'000);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(last, 3u);

    data.clear();
    EXPECT_EQ(data.nearest(T0), nullptr);
}

} // namespace
