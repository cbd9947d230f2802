#pragma once

#include "ui/trend_data.h"

#include <QString>
#include <QWidget>

#include <vector>

class QChart;
class QComboBox;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace kt {

class TrendChartView;

// A live trend of the NGR current and voltage: percent of full scale and of the setting, or
// amperes and volts once the CT and the voltage are known. Samples are appended as they come or
// loaded from a data-log file. The wheel zooms the time axis around the mouse, dragging pans it,
// a double click (or Show All) shows everything again; the line under the mouse reads the sample
// nearest to it. While the newest sample is in view the view moves along with new samples.
// Every sample is kept; the plot is given at most two points per pixel column.
// Children: `trend_CV` (the chart), `units_CB`, `showAll_B`, `cursor_L`.
class TrendView : public QWidget {
    Q_OBJECT
public:
    enum class Units { Percent, AmpsVolts };

    explicit TrendView(QWidget* parent = nullptr);
    ~TrendView() override;

    void appendSample(const DatalogSample& sample);
    void setSamples(std::vector<DatalogSample> samples);
    // Shows the file's samples instead of what the view held; the error text (the view keeps
    // what it showed) when the file cannot be read or is not a data log.
    QString loadFile(const QString& path);
    void clear();

    void setUnits(Units units);
    Units units() const { return units_; }

    void showAll();
    void setVisibleRange(int64_t startMs, int64_t endMs);
    int64_t visibleStart() const { return start_; }
    int64_t visibleEnd() const { return end_; }
    // Multiplies the visible time span by `factor` (below 1 zooms in), keeping `centreMs` in place.
    void zoom(double factor, int64_t centreMs);
    void pan(int64_t deltaMs);

    // Puts the cursor on the sample nearest to `timeMs`; the mouse does the same.
    void setCursorTime(int64_t timeMs);
    QString cursorText() const;

    // Draws the pending changes now rather than on the next turn of the event loop.
    void refresh();

    const TrendData& data() const { return data_; }
    QLineSeries* currentSeries() const { return current_; }
    QLineSeries* voltageSeries() const { return voltage_; }

signals:
    void visibleRangeChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class TrendChartView;
    void scheduleRefresh();
    void fullRange(int64_t& start, int64_t& end) const;
    void updateUnitsChoice();
    void placeCursor();
    int plotColumns() const;

    TrendData data_;
    Units units_ = Units::Percent;
    int64_t start_ = 0;
    int64_t end_ = 0;
    bool showingAll_ = true; // the range follows the data
    bool refreshPending_ = false;
    bool hasCursor_ = false;
    int64_t cursorTime_ = 0;
    std::vector<TrendPoint> points_;
    int columns_ = 0; // pixel columns of the last drawing

    QChart* chart_;
    TrendChartView* trend_CV;
    QLineSeries* current_;
    QLineSeries* voltage_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* currentAxis_;
    QValueAxis* voltageAxis_;
    QGraphicsLineItem* cursorLine_;
    QComboBox* units_CB;
    QPushButton* showAll_B;
    QLabel* cursor_L;
};

} // namespace kt
