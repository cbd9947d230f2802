#include "ui/trend_view.h"

#include "monitor/monitor_thread.h"

#include <QComboBox>
#include <QDateTime>
#include <QGraphicsLineItem>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace kt {

namespace {

constexpr int64_t Second = 1000;
constexpr int64_t Day = 24 * 3600 * Second;
// The narrowest span the time axis zooms to, and the span shown around a single sample.
constexpr int64_t MinSpan = 10 * Second;
constexpr int64_t SingleSampleSpan = 60 * Second;

QString valueText(float v, int decimals) {
    return std::isnan(v) ? QStringLiteral("--") : QString::number(double(v), 'f', decimals);
}

QString percentText(float v) {
    if (std::isnan(v)) return QStringLiteral("--");
    return QString::number(double(v), 'f', v == std::floor(v) ? 0 : 1);
}

// Puts a value axis around the points, with a little room above and below; percent axes start at 0.
void fitAxis(QValueAxis* axis, const std::vector<QPointF>& points, bool fromZero) {
    double lo = fromZero ? 0.0 : std::numeric_limits<double>::infinity();
    double hi = fromZero ? 1.0 : -std::numeric_limits<double>::infinity();
    for (const QPointF& p : points) {
        lo = std::min(lo, p.y());
        hi = std::max(hi, p.y());
    }
    if (!(lo <= hi)) {
        lo = 0;
        hi = fromZero ? 100 : 1;
    }
    double room = (hi - lo) * 0.05;
    if (room <= 0) room = std::max(1.0, std::abs(hi) * 0.05);
    axis->setRange(fromZero && lo >= 0 ? 0.0 : lo - room, hi + room);
}

} // namespace

// The chart with the mouse and keyboard of the trend: wheel zoom, drag pan, hover cursor.
class TrendChartView : public QChartView {
public:
    TrendChartView(QChart* chart, TrendView* trend) : QChartView(chart, trend), trend_(trend) {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setRenderHint(QPainter::Antialiasing, false);
    }

    int64_t timeAt(const QPointF& viewPos) const {
        QPointF scenePos = mapToScene(viewPos.toPoint());
        QPointF chartPos = chart()->mapFromScene(scenePos);
        return int64_t(std::llround(chart()->mapToValue(chartPos, trend_->current_).x()));
    }

protected:
    void wheelEvent(QWheelEvent* event) override {
        int steps = event->angleDelta().y() / 120;
        if (steps == 0) return;
        trend_->zoom(std::pow(0.8, steps), timeAt(event->position()));
        event->accept();
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return QChartView::mousePressEvent(event);
        dragging_ = true;
        dragX_ = event->position().x();
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (dragging_) {
            double width = chart()->plotArea().width();
            if (width > 0) {
                double dx = event->position().x() - dragX_;
                auto delta = int64_t(std::llround(-dx * double(trend_->end_ - trend_->start_) / width));
                if (delta != 0) {
                    trend_->pan(delta);
                    dragX_ = event->position().x();
                }
            }
        }
        trend_->setCursorTime(timeAt(event->position()));
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) dragging_ = false;
        event->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        trend_->showAll();
        event->accept();
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int64_t span = trend_->end_ - trend_->start_;
        const int64_t centre = trend_->start_ + span / 2;
        switch (event->key()) {
        case Qt::Key_Left:
            trend_->pan(-span / 10);
            break;
        case Qt::Key_Right:
            trend_->pan(span / 10);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            trend_->zoom(0.8, centre);
            break;
        case Qt::Key_Minus:
            trend_->zoom(1.25, centre);
            break;
        case Qt::Key_Home:
            trend_->showAll();
            break;
        default:
            return QChartView::keyPressEvent(event);
        }
        event->accept();
    }
    void resizeEvent(QResizeEvent* event) override {
        QChartView::resizeEvent(event);
        trend_->scheduleRefresh();
    }

private:
    TrendView* trend_;
    bool dragging_ = false;
    double dragX_ = 0;
};

TrendView::TrendView(QWidget* parent)
    : QWidget(parent), chart_(new QChart), current_(new QLineSeries), voltage_(new QLineSeries),
      timeAxis_(new QDateTimeAxis), currentAxis_(new QValueAxis), voltageAxis_(new QValueAxis),
      cursorLine_(nullptr), units_CB(new QComboBox(this)), showAll_B(new QPushButton("Show All", this)),
      cursor_L(new QLabel(this)) {
    setObjectName("TrendView");
    trend_CV = new TrendChartView(chart_, this);
    trend_CV->setObjectName("trend_CV");
    units_CB->setObjectName("units_CB");
    showAll_B->setObjectName("showAll_B");
    cursor_L->setObjectName("cursor_L");
    units_CB->setAccessibleName("Units");
    cursor_L->setAccessibleName("Cursor");
    trend_CV->setAccessibleName("NGR current and voltage trend");

    current_->setName("NGR Current");
    voltage_->setName("NGR Voltage");
    chart_->addSeries(current_);
    chart_->addSeries(voltage_);
    timeAxis_->setFormat("HH:mm:ss");
    timeAxis_->setTitleText("Time");
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(currentAxis_, Qt::AlignLeft);
    chart_->addAxis(voltageAxis_, Qt::AlignRight);
    current_->attachAxis(timeAxis_);
    current_->attachAxis(currentAxis_);
    voltage_->attachAxis(timeAxis_);
    voltage_->attachAxis(voltageAxis_);
    currentAxis_->setLinePenColor(current_->color());
    voltageAxis_->setLinePenColor(voltage_->color());
    chart_->legend()->setAlignment(Qt::AlignTop);
    chart_->setMargins(QMargins(4, 4, 4, 4));

    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    cursorLine_->setZValue(20);
    cursorLine_->hide();

    units_CB->addItem("Percent");
    units_CB->addItem("Amperes and Volts");
    connect(units_CB, &QComboBox::currentIndexChanged, this,
            [this](int i) { setUnits(i == 1 ? Units::AmpsVolts : Units::Percent); });
    connect(showAll_B, &QPushButton::clicked, this, &TrendView::showAll);
    // New axis labels can change the plot's width: draw again for the new number of columns.
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& area) {
        if (int(area.width()) != columns_) scheduleRefresh();
    });

    auto* bar = new QHBoxLayout;
    bar->addWidget(units_CB);
    bar->addWidget(showAll_B);
    bar->addWidget(cursor_L, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(trend_CV, 1);
    layout->addLayout(bar);

    updateUnitsChoice();
    setUnits(Units::Percent);
    refresh();
}

TrendView::~TrendView() = default;

void TrendView::appendSample(const DatalogSample& sample) {
    const bool newestInView = !data_.empty() && end_ >= data_.lastTime();
    const int64_t before = data_.lastTime();
    data_.append(sample);
    if (!showingAll_ && newestInView && data_.lastTime() > before) {
        // Keep the newest sample at the same place: the view runs along with the live data.
        int64_t step = data_.lastTime() - before;
        start_ += step;
        end_ += step;
    }
    if (data_.size() == 1 || data_.hasAmpsVolts() != units_CB->isEnabled()) updateUnitsChoice();
    scheduleRefresh();
}

void TrendView::setSamples(std::vector<DatalogSample> samples) {
    data_.assign(std::move(samples));
    hasCursor_ = false;
    updateUnitsChoice();
    showAll();
}

QString TrendView::loadFile(const QString& path) {
    DatalogReadResult r = readDatalogFile(path.toStdString(), systemLocalClock());
    if (!r.ok()) return QString::fromStdString(r.error);
    setSamples(std::move(r.samples));
    return {};
}

void TrendView::clear() {
    setSamples({});
}

void TrendView::setUnits(Units units) {
    units_ = units;
    {
        QSignalBlocker block(units_CB);
        units_CB->setCurrentIndex(units == Units::AmpsVolts ? 1 : 0);
    }
    if (units == Units::AmpsVolts) {
        currentAxis_->setTitleText("NGR Current (A)");
        voltageAxis_->setTitleText("NGR Voltage (V)");
    } else {
        currentAxis_->setTitleText("NGR Current (% FS)");
        voltageAxis_->setTitleText("NGR Voltage (% Setting)");
    }
    scheduleRefresh();
}

void TrendView::updateUnitsChoice() {
    // Amperes and volts can be chosen once some sample has them; a file or a unit without a CT
    // and voltage selection shows percent.
    const bool known = data_.hasAmpsVolts();
    units_CB->setEnabled(known);
    if (!known && units_ == Units::AmpsVolts) setUnits(Units::Percent);
}

void TrendView::fullRange(int64_t& start, int64_t& end) const {
    if (data_.empty()) {
        end = QDateTime::currentMSecsSinceEpoch();
        start = end - SingleSampleSpan;
        return;
    }
    start = data_.firstTime();
    end = data_.lastTime();
    if (end - start < MinSpan) {
        int64_t mid = start + (end - start) / 2;
        start = mid - SingleSampleSpan / 2;
        end = mid + SingleSampleSpan / 2;
    }
}

void TrendView::showAll() {
    showingAll_ = true;
    fullRange(start_, end_);
    scheduleRefresh();
    emit visibleRangeChanged();
}

void TrendView::setVisibleRange(int64_t startMs, int64_t endMs) {
    if (endMs < startMs) std::swap(startMs, endMs);
    if (endMs - startMs < MinSpan) {
        int64_t mid = startMs + (endMs - startMs) / 2;
        startMs = mid - MinSpan / 2;
        endMs = startMs + MinSpan;
    }
    start_ = startMs;
    end_ = endMs;
    showingAll_ = false;
    scheduleRefresh();
    emit visibleRangeChanged();
}

void TrendView::zoom(double factor, int64_t centreMs) {
    if (!(factor > 0)) return;
    int64_t all0 = 0, all1 = 0;
    fullRange(all0, all1);
    // Zooming out never goes beyond a day more than the data covers.
    const double maxSpan = double(all1 - all0) + double(Day);
    double span = std::clamp(double(end_ - start_) * factor, double(MinSpan), maxSpan);
    centreMs = std::clamp(centreMs, start_, end_);
    double left = double(centreMs - start_) / double(std::max<int64_t>(1, end_ - start_));
    auto newStart = int64_t(std::llround(double(centreMs) - left * span));
    setVisibleRange(newStart, newStart + int64_t(std::llround(span)));
}

void TrendView::pan(int64_t deltaMs) {
    setVisibleRange(start_ + deltaMs, end_ + deltaMs);
}

void TrendView::setCursorTime(int64_t timeMs) {
    hasCursor_ = !data_.empty();
    cursorTime_ = timeMs;
    placeCursor();
}

QString TrendView::cursorText() const {
    return cursor_L->text();
}

void TrendView::placeCursor() {
    const DatalogSample* s = hasCursor_ ? data_.nearest(cursorTime_) : nullptr;
    if (!s) {
        cursor_L->clear();
        cursorLine_->hide();
        return;
    }
    QString time = QDateTime::fromMSecsSinceEpoch(s->timeMs).toString("yyyy-MM-dd HH:mm:ss");
    cursor_L->setText(QString("%1   NGR Current %2 % FS, %3 A   NGR Voltage %4 % Setting, %5 V")
                          .arg(time, percentText(s->currentPercent), valueText(s->amps, 2),
                               percentText(s->voltagePercent), valueText(s->volts, 2)));
    const QRectF plot = chart_->plotArea();
    const double x = chart_->mapToPosition(QPointF(double(s->timeMs), 0), current_).x();
    if (s->timeMs < start_ || s->timeMs > end_ || plot.width() <= 0) {
        cursorLine_->hide();
        return;
    }
    cursorLine_->setLine(x, plot.top(), x, plot.bottom());
    cursorLine_->show();
}

void TrendView::scheduleRefresh() {
    if (refreshPending_) return;
    refreshPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (!refreshPending_) return;
        // A hidden view (the live trend until it is asked for) draws when it is shown: the
        // chart's relayout would otherwise be paid on every pass for nothing.
        if (!isVisible()) return;
        refresh();
    });
}

void TrendView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (refreshPending_) refresh();
}

int TrendView::plotColumns() const {
    int w = int(chart_->plotArea().width());
    if (w <= 0) w = std::max(trend_CV->width(), 200);
    return w;
}

void TrendView::refresh() {
    refreshPending_ = false;
    if (showingAll_) fullRange(start_, end_);

    const bool amps = units_ == Units::AmpsVolts;
    const int columns = plotColumns();
    columns_ = columns;
    std::vector<QPointF> currentPoints, voltagePoints;
    auto fill = [&](TrendChannel channel, std::vector<QPointF>& out) {
        data_.decimate(channel, start_, end_, columns, points_);
        out.reserve(points_.size());
        for (const TrendPoint& p : points_) out.emplace_back(double(p.timeMs), double(p.value));
    };
    fill(amps ? TrendChannel::Amps : TrendChannel::CurrentPercent, currentPoints);
    fill(amps ? TrendChannel::Volts : TrendChannel::VoltagePercent, voltagePoints);

    // Axes before the points: the series then draws once, at the new scale.
    timeAxis_->setFormat(end_ - start_ > Day ? "dd/MM HH:mm" : "HH:mm:ss");
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(start_), QDateTime::fromMSecsSinceEpoch(end_));
    std::vector<QPointF> inView;
    auto visible = [&](const std::vector<QPointF>& points) {
        inView.clear();
        for (const QPointF& p : points)
            if (p.x() >= double(start_) && p.x() <= double(end_)) inView.push_back(p);
        return inView;
    };
    fitAxis(currentAxis_, visible(currentPoints), true);
    fitAxis(voltageAxis_, visible(voltagePoints), true);
    current_->replace(QList<QPointF>(currentPoints.begin(), currentPoints.end()));
    voltage_->replace(QList<QPointF>(voltagePoints.begin(), voltagePoints.end()));
    placeCursor();
}

} // namespace kt
