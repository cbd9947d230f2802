// The trend widget under Qt's offscreen platform: a data-log file loaded into it, live samples,
// zoom, pan and the cursor, found by object name.
#include "tests/support/process.h"
#include "ui/trend_view.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kt::DatalogSample;
using kt::TrendView;

constexpr int64_t T0 = 1'773'300'000'000;

DatalogSample sample(int64_t second, float current, float amps = kt::NoValue) {
    DatalogSample s;
    s.timeMs = T0 + second * 1000;
    s.currentPercent = current;
    s.voltagePercent = current / 2;
    s.amps = amps;
    s.volts = std::isnan(amps) ? kt::NoValue : amps * 10;
    return s;
}

struct Trend {
    TrendView view;
    QChartView* chart = nullptr;
    QComboBox* units = nullptr;
    QLabel* cursor = nullptr;
    Trend() {
        view.resize(900, 450);
        view.show();
        chart = view.findChild<QChartView*>("trend_CV");
        units = view.findChild<QComboBox*>("units_CB");
        cursor = view.findChild<QLabel*>("cursor_L");
        EXPECT_TRUE(chart && units && cursor && view.findChild<QPushButton*>("showAll_B"));
        QApplication::processEvents();
    }
    int plotWidth() const { return int(chart->chart()->plotArea().width()); }
};

TEST(TrendView, LoadsADataLogFile) {
    kt::test::TempDir dir;
    std::string path =
        dir.write("KT-740_12345_0312.txt",
                  kt::test::readFile(kt::test::sourcePath("tests/monitor/fixtures/datalog_two_blocks.txt")));
    Trend t;
    EXPECT_EQ(t.view.loadFile(QString::fromStdString(path)), "");
    t.view.refresh();
    EXPECT_EQ(t.view.data().size(), 4u);
    EXPECT_EQ(t.view.currentSeries()->count(), 4);
    EXPECT_EQ(t.view.voltageSeries()->count(), 4);
    EXPECT_EQ(t.view.visibleStart(), t.view.data().firstTime());
    EXPECT_EQ(t.view.visibleEnd(), t.view.data().lastTime());
    EXPECT_EQ(t.view.currentSeries()->at(3).y(), 52.0);

    // The log has amperes for every line and volts for the second block only.
    ASSERT_TRUE(t.units->isEnabled());
    t.units->setCurrentIndex(1);
    EXPECT_EQ(t.view.units(), TrendView::Units::AmpsVolts);
    t.view.refresh();
    EXPECT_EQ(t.view.currentSeries()->count(), 4);
    EXPECT_EQ(t.view.voltageSeries()->count(), 2);
    EXPECT_EQ(t.view.currentSeries()->at(2).y(), 2.5);

    // A file that is not a data log is refused with the reason; the view keeps its samples.
    std::string other = dir.write("notes_0312.txt", "Shopping list\r\n");
    QString error = t.view.loadFile(QString::fromStdString(other));
    EXPECT_TRUE(error.contains("not a KT-MON740 data log")) << error.toStdString();
    EXPECT_EQ(t.view.data().size(), 4u);

    // A log without amperes and volts: the choice is percent only.
    std::string legacy =
        dir.write("KT-740_0312.txt",
                  kt::test::readFile(kt::test::sourcePath("tests/monitor/fixtures/datalog_legacy.txt")));
    EXPECT_EQ(t.view.loadFile(QString::fromStdString(legacy)), "");
    EXPECT_FALSE(t.units->isEnabled());
    EXPECT_EQ(t.view.units(), TrendView::Units::Percent);
}

TEST(TrendView, LiveSamplesZoomPanAndFollow) {
    Trend t;
    for (int i = 0; i < 600; ++i) t.view.appendSample(sample(i, float(i % 100)));
    QApplication::processEvents();
    EXPECT_EQ(t.view.visibleStart(), T0);
    EXPECT_EQ(t.view.visibleEnd(), T0 + 599'000);
    EXPECT_FALSE(t.units->isEnabled());

    // The wheel zooms around the mouse.
    QWidget* viewport = t.chart->viewport();
    QPointF centre =
        t.chart->mapFromScene(t.chart->chart()->mapToScene(t.chart->chart()->plotArea().center()));
    QWheelEvent wheel(centre, t.chart->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    const int64_t span = t.view.visibleEnd() - t.view.visibleStart();
    EXPECT_NEAR(double(span), 599'000 * 0.8, 2000);
    EXPECT_GT(t.view.visibleStart(), T0);
    EXPECT_LT(t.view.visibleEnd(), T0 + 599'000);

    // Dragging to the right shows earlier samples.
    const int64_t before = t.view.visibleStart();
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    QTest::mouseMove(viewport, centre.toPoint() + QPoint(100, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, centre.toPoint() + QPoint(100, 0));
    EXPECT_LT(t.view.visibleStart(), before);
    EXPECT_EQ(t.view.visibleEnd() - t.view.visibleStart(), span);

    // Not showing the newest sample: new samples do not move the view.
    const int64_t start = t.view.visibleStart();
    t.view.appendSample(sample(600, 1));
    EXPECT_EQ(t.view.visibleStart(), start);

    // Showing the newest sample: the view runs along.
    t.view.setVisibleRange(T0 + 540'000, T0 + 600'000);
    t.view.appendSample(sample(601, 1));
    EXPECT_EQ(t.view.visibleStart(), T0 + 541'000);
    EXPECT_EQ(t.view.visibleEnd(), T0 + 601'000);

    // Show All, then everything again follows the data.
    t.view.findChild<QPushButton*>("showAll_B")->click();
    t.view.appendSample(sample(602, 1, 0.5f));
    QApplication::processEvents();
    EXPECT_EQ(t.view.visibleStart(), T0);
    EXPECT_EQ(t.view.visibleEnd(), T0 + 602'000);
    EXPECT_TRUE(t.units->isEnabled());
}

TEST(TrendView, CursorReadsTheNearestSample) {
    Trend t;
    for (int i = 0; i < 60; ++i)
        t.view.appendSample(sample(i, float(i), i >= 30 ? float(i) / 20 : kt::NoValue));
    t.view.refresh();
    t.view.setCursorTime(T0 + 30'400);
    const QString expected = QDateTime::fromMSecsSinceEpoch(T0 + 30'000).toString("yyyy-MM-dd HH:mm:ss");
    EXPECT_EQ(t.view.cursorText(),
              expected + "   NGR Current 30 % FS, 1.50 A   NGR Voltage 15 % Setting, 15.00 V");
    t.view.setCursorTime(T0 + 2'000);
    EXPECT_TRUE(t.view.cursorText().endsWith("NGR Current 2 % FS, -- A   NGR Voltage 1 % Setting, -- V"))
        << t.view.cursorText().toStdString();

    // The mouse over the plot does the same.
    QWidget* viewport = t.chart->viewport();
    QPointF left =
        t.chart->mapFromScene(t.chart->chart()->mapToScene(t.chart->chart()->plotArea().topLeft()));
    QTest::mouseMove(viewport, left.toPoint() + QPoint(1, 20));
    QApplication::processEvents();
    EXPECT_TRUE(t.view.cursorText().contains("NGR Current 0 % FS")) << t.view.cursorText().toStdString();
}

TEST(TrendView, ADayOfSamplesIsDrawnDecimated) {
    Trend t;
    std::vector<DatalogSample> day;
    for (int i = 0; i < 86'400; ++i) day.push_back(sample(i, float(i % 97), float(i % 13)));
    day[43'210].currentPercent = 500;
    t.view.setSamples(std::move(day));
    t.view.refresh();
    QApplication::processEvents();
    ASSERT_GT(t.plotWidth(), 100);
    EXPECT_LE(t.view.currentSeries()->count(), 2 * t.plotWidth() + 4);
    EXPECT_GE(t.view.currentSeries()->count(), t.plotWidth());
    bool peak = false;
    for (const QPointF& p : t.view.currentSeries()->points()) peak = peak || p.y() == 500.0;
    EXPECT_TRUE(peak);
    EXPECT_EQ(t.view.data().size(), 86'400u);
}

} // namespace
