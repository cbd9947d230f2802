#pragma once

// The Event Records pages: TabSheet5 for register-file units (the unit's event records, read
// newest first by the connection's event reader and shown as they arrive) and TabSheet3 for
// legacy units (the ten records of the legacy event block). Both save their grid as text.

#include "monitor/event_records.h"
#include "monitor/event_texts.h"
#include "monitor/unit_link.h"
#include "ui/pages/unit_page.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace kt {

// Asks where to save the records ("Save Event Records"); empty when the operator cancels.
using EventSavePicker = std::function<QString(QWidget* parent)>;
QString pickEventSaveFile(QWidget* parent);

// The rows of `StrgdEvents`: the eight headings as the header, the records below.
class EventGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EventGridModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // One streamed record: its row, and the grid ends there.
    void applyRecord(const EventRecord& record, int32_t model_type);
    // The whole grid at once (the final answer of a read).
    void setGrid(EventGrid grid);
    const EventGrid& grid() const { return grid_; }

private:
    EventGrid grid_;
};

// The ten records of `events_Old740_G`, the headings as its header.
class LegacyEventGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LegacyEventGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void blank();
    bool setBlock(std::span<const uint8_t> block);
    const LegacyEventGrid& grid() const { return grid_; }

private:
    LegacyEventGrid grid_;
};

// TabSheet5. The read of many records streams them into the grid one by one with a progress bar
// and a Cancel button; the rest of the window stays usable meanwhile. Save as Text is offered
// only for a list that was read to its end. Children: `events_P` (`StrgdEvents`, `cmdRefresh`,
// `cmdClear`, `cmdSave`, `cmdCancel`, `eventProgress_PB`, `eventStatus_L`), `txtRecordcount`,
// `new_events_P`, `Long_Label` (hidden; measures the headings).
class EventRecordsPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    EventRecordsPage(PageContext& context, QWidget* parent = nullptr);

    void connected() override;
    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void disconnected() override;

    // What showing the page does: lay the columns out and read the records (all of them on the
    // first visit of a connection, else the count).
    void pageShown();
    void RequestEvents(bool requestAll);
    // The reader's answers: each record as it is read, then the final result.
    void UpdateEventRecord(const EventRecord& record, const RequestProgress& progress);
    void UpdateEventList(const EventReadResult& result);

    void cmdRefreshClick() { RequestEvents(true); }
    void cmdClearClick();
    void cmdCancelClick();
    void Save_BClick();

    bool reading() const { return reading_; }
    // The grid holds every record of the last read.
    bool listComplete() const { return listComplete_; }
    EventGridModel& model() { return model_; }
    void setSavePicker(EventSavePicker picker) { savePicker_ = std::move(picker); }

    QWidget* events_P = nullptr;
    QTableView* StrgdEvents = nullptr;
    QPushButton* cmdRefresh = nullptr;
    QPushButton* cmdClear = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLineEdit* txtRecordcount = nullptr;
    QLabel* new_events_P = nullptr;
    QLabel* Long_Label = nullptr;
    QProgressBar* eventProgress_PB = nullptr;
    QLabel* eventStatus_L = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOutColumns();
    int measure(const QString& text);
    void setRowHeight(int row);
    void endRead(const QString& status);
    int32_t modelType() const;

    PageContext& context_;
    EventGridModel model_;
    EventSavePicker savePicker_;
    bool reading_ = false;
    bool listComplete_ = false;
    RequestId readId_ = 0;
    uint64_t readGeneration_ = 0;
    int recordsArrived_ = 0;
    int recordsExpected_ = 0;
};

// TabSheet3. Children: `Panel1` (`event_order_L`, `events_Old740_G`, `Refresh_B`, `clear_B`,
// `Save_B`), `legacyStatus_L`.
class LegacyEventsPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    LegacyEventsPage(PageContext& context, QWidget* parent = nullptr);

    void disconnected() override;

    void pageShown();
    // Blanks the grid and asks the legacy unit for its block ("d").
    void RequestLegacyEvents();
    // The block the listener fetched.
    void UpdateLegacyEventList(std::span<const uint8_t> block);
    // "c" went out, or could not.
    void legacyClearDone(bool sent);

    void Refresh_BClick() { RequestLegacyEvents(); }
    void clear_BClick();
    void Save_BClick();

    bool waiting() const { return waiting_; }
    LegacyEventGridModel& model() { return model_; }
    void setSavePicker(EventSavePicker picker) { savePicker_ = std::move(picker); }
    // Saving the records asks the data log for a header block before its next line.
    std::function<void()> onSaved;

    QWidget* Panel1 = nullptr;
    QLabel* event_order_L = nullptr;
    QTableView* events_Old740_G = nullptr;
    QPushButton* Refresh_B = nullptr;
    QPushButton* clear_B = nullptr;
    QPushButton* Save_B = nullptr;
    QLabel* legacyStatus_L = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void layOutGrid();
    void setButtonsEnabled(bool on);

    PageContext& context_;
    LegacyEventGridModel model_;
    EventSavePicker savePicker_;
    bool waiting_ = false;
};

} // namespace kt
