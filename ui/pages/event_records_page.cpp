#include "ui/pages/event_records_page.h"

#include "monitor/event_file.h"
#include "monitor/monitor_thread.h"
#include "ui/connection_controller.h"
#include "ui/ct_voltage.h"
#include "ui/message_box.h"

#include <QDate>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace kt {

namespace {

constexpr int DefaultRowHeight = 20;
constexpr int HeaderHeight = 40;
const QColor ButtonFace(240, 240, 240);

QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A cell as drawn: the line feed that ends every cause is no line of its own.
QString shownText(const std::string& cell) {
    std::string_view t = cell;
    if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
    return qstr(t);
}

// One line centred both ways; several lines from the top.
QVariant alignmentOf(const QString& text) {
    return text.contains('\n') ? QVariant(Qt::AlignHCenter | Qt::AlignTop) : QVariant(Qt::AlignCenter);
}

QVariant cellColour(int role, int column) {
    if (role == Qt::BackgroundRole) return column == 0 ? ButtonFace : QColor(Qt::white);
    if (role == Qt::ForegroundRole) return QColor(Qt::black);
    return {};
}

QString statusPanelText(const PageContext& context, const char* name) {
    if (!context.window) return {};
    auto* panel = context.window->findChild<QLabel*>(name);
    return panel ? panel->text() : QString();
}

EventFileHeader fileHeader(const PageContext& context) {
    EventFileHeader h;
    h.date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
    h.unitText = statusPanelText(context, "unit_P").toStdString();
    h.versionText = statusPanelText(context, "version_P").toStdString();
    return h;
}

// Writes the file and says what became of it: "Cannot Open File" / "File Error 2" when it could
// not be created, the system's words in the page's status line.
void saveTo(QWidget* owner, const QString& path, const std::string& content, QLabel* status) {
    EventFileResult r = saveEventFile(path.toStdString(), content);
    switch (r.status) {
    case EventFileStatus::Saved:
        status->setText(QString("Saved to %1.").arg(path));
        return;
    case EventFileStatus::CannotOpen:
        status->setText(QString("%1 was not saved: %2.").arg(path, qstr(r.reason)));
        showMessage(qstr(EventFileErrorText), qstr(EventFileErrorTitle), MessageOk, owner);
        return;
    case EventFileStatus::WriteFailed:
        status->setText(QString("%1 was not saved: %2.").arg(path, qstr(r.reason)));
        showMessage(qstr(EventFileWriteErrorText), qstr(EventFileErrorTitle), MessageOk, owner);
        return;
    }
}

QPushButton* button(const char* name, const char* caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QLabel* statusLine(const char* name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setAccessibleName("Event records status");
    return l;
}

} // namespace

QString pickEventSaveFile(QWidget* parent) {
    QFileDialog dialog(parent, qstr(EventFileDialogTitle), QString(), "Text files (*.txt *.TXT)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("txt");
    dialog.selectFile(qstr(EventFileDefaultName));
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

// ---- EventGridModel ----

int EventGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(grid_.rows.size());
}

int EventGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : EventGridColumns;
}

QVariant EventGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= grid_.rows.size()) return {};
    const std::string& cell = grid_.rows[size_t(index.row())].cells[size_t(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return shownText(cell);
    case Qt::TextAlignmentRole:
        return alignmentOf(shownText(cell));
    default:
        return cellColour(role, index.column());
    }
}

QVariant EventGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= EventGridColumns) return {};
    if (role == Qt::DisplayRole) return qstr(eventGridHeadings()[size_t(section)]);
    if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignCenter);
    return {};
}

void EventGridModel::applyRecord(const EventRecord& record, int32_t model_type) {
    if (record.number < 0) return;
    const int before = int(grid_.rows.size());
    const int after = record.number + 1;
    if (after < before) {
        beginRemoveRows({}, after, before - 1);
        grid_.rows.resize(size_t(after));
        endRemoveRows();
    } else if (after > before) {
        beginInsertRows({}, before, after - 1);
        grid_.rows.resize(size_t(after));
        endInsertRows();
    }
    grid_.rows[size_t(record.number)] = eventGridRow(record, model_type);
    emit dataChanged(index(record.number, 0), index(record.number, EventGridColumns - 1));
}

void EventGridModel::setGrid(EventGrid grid) {
    beginResetModel();
    grid_ = std::move(grid);
    endResetModel();
}

// ---- LegacyEventGridModel ----

LegacyEventGridModel::LegacyEventGridModel(QObject* parent) : QAbstractTableModel(parent) {
    blankLegacyEventGrid(grid_);
}

int LegacyEventGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LegacyEventGridRows - 1;
}

int LegacyEventGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LegacyEventGridColumns;
}

QVariant LegacyEventGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const std::string& cell = grid_.cells[size_t(index.row() + 1)][size_t(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return qstr(cell);
    case Qt::TextAlignmentRole:
        return QVariant(Qt::AlignCenter);
    default:
        return cellColour(role, index.column());
    }
}

QVariant LegacyEventGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= LegacyEventGridColumns) return {};
    if (role == Qt::DisplayRole) return qstr(legacyEventGridHeadings()[size_t(section)]);
    return {};
}

void LegacyEventGridModel::blank() {
    blankLegacyEventGrid(grid_);
    emit dataChanged(index(0, 0), index(rowCount() - 1, LegacyEventGridColumns - 1));
}

bool LegacyEventGridModel::setBlock(std::span<const uint8_t> block) {
    if (!UpdateLegacyEventList(grid_, block)) return false;
    emit dataChanged(index(0, 0), index(rowCount() - 1, LegacyEventGridColumns - 1));
    return true;
}

// ---- TabSheet5 ----

EventRecordsPage::EventRecordsPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context), savePicker_(pickEventSaveFile) {
    setObjectName("TabSheet5");

    auto* countLabel = new QLabel("Records, Newest at the top.", this);
    countLabel->setObjectName("Recordcount_L");
    txtRecordcount = new QLineEdit(this);
    txtRecordcount->setObjectName("txtRecordcount");
    txtRecordcount->setReadOnly(true);
    txtRecordcount->setAccessibleName("Records, Newest at the top.");
    txtRecordcount->setMaximumWidth(80);
    countLabel->setBuddy(txtRecordcount);
    new_events_P = new QLabel("New Events Available.  Press Refresh to View", this);
    new_events_P->setObjectName("new_events_P");
    new_events_P->setStyleSheet("QLabel { background-color: rgb(255, 255, 0); color: black; padding: 2px; }");
    new_events_P->hide();
    Long_Label = new QLabel(this);
    Long_Label->setObjectName("Long_Label");
    QFont measuring("MS Sans Serif");
    measuring.setPixelSize(15);
    Long_Label->setFont(measuring);
    Long_Label->hide();

    events_P = new QWidget(this);
    events_P->setObjectName("events_P");
    StrgdEvents = new QTableView(events_P);
    StrgdEvents->setObjectName("StrgdEvents");
    StrgdEvents->setAccessibleName("Event Records");
    StrgdEvents->setModel(&model_);
    StrgdEvents->verticalHeader()->hide();
    StrgdEvents->verticalHeader()->setMinimumSectionSize(1);
    StrgdEvents->verticalHeader()->setDefaultSectionSize(DefaultRowHeight);
    StrgdEvents->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StrgdEvents->horizontalHeader()->setFixedHeight(HeaderHeight);
    StrgdEvents->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StrgdEvents->horizontalHeader()->setHighlightSections(false);
    StrgdEvents->setColumnHidden(0, true);
    StrgdEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    StrgdEvents->setSelectionMode(QAbstractItemView::SingleSelection);
    StrgdEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StrgdEvents->setTabKeyNavigation(false);
    StrgdEvents->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    cmdRefresh = button("cmdRefresh", "Refresh", events_P);
    cmdClear = button("cmdClear", "Clear Records", events_P);
    cmdSave = button("cmdSave", "Save as Text", events_P);
    cmdCancel = button("cmdCancel", "Cancel", events_P);
    cmdCancel->setToolTip("Stop reading the records");
    cmdCancel->hide();
    eventProgress_PB = new QProgressBar(events_P);
    eventProgress_PB->setObjectName("eventProgress_PB");
    eventProgress_PB->setAccessibleName("Records read");
    eventProgress_PB->setFormat("%v of %m");
    eventProgress_PB->hide();
    eventStatus_L = statusLine("eventStatus_L", events_P);

    auto* top = new QHBoxLayout;
    top->addWidget(countLabel);
    top->addWidget(txtRecordcount);
    top->addWidget(new_events_P);
    top->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdRefresh);
    buttons->addWidget(cmdClear);
    buttons->addWidget(cmdSave);
    buttons->addSpacing(12);
    buttons->addWidget(eventProgress_PB, 1);
    buttons->addWidget(cmdCancel);
    auto* panel = new QVBoxLayout(events_P);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(StrgdEvents, 1);
    panel->addLayout(buttons);
    panel->addWidget(eventStatus_L);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->addLayout(top);
    column->addWidget(events_P, 1);

    connect(cmdRefresh, &QPushButton::clicked, this, &EventRecordsPage::cmdRefreshClick);
    connect(cmdClear, &QPushButton::clicked, this, &EventRecordsPage::cmdClearClick);
    connect(cmdSave, &QPushButton::clicked, this, &EventRecordsPage::Save_BClick);
    connect(cmdCancel, &QPushButton::clicked, this, &EventRecordsPage::cmdCancelClick);
    cmdSave->setEnabled(false);
}

int32_t EventRecordsPage::modelType() const {
    return context_.selection ? context_.selection->model_type : ModelKt740;
}

void EventRecordsPage::connected() {
    // The new connection's first read takes every record, whatever the grid holds.
    listComplete_ = false;
    new_events_P->hide();
}

void EventRecordsPage::passCompleted(const PassSnapshot&, const UnitStatusView& view) {
    if (view.newEventsNotice) new_events_P->show();
    if (!view.recordCountText.empty()) txtRecordcount->setText(QString::fromStdString(view.recordCountText));
}

void EventRecordsPage::disconnected() {
    if (!reading_) return;
    // Whatever the reader still sends belongs to a connection that has ended and is dropped; the
    // list shows what came before and says it is not whole.
    listComplete_ = false;
    endRead(recordsExpected_ > 0
                ? QString("Reading was cancelled: the connection ended after %1 of %2 records; the list "
                          "is incomplete.")
                      .arg(recordsArrived_)
                      .arg(recordsExpected_)
                : QString("Reading the event records was cancelled: the connection ended."));
}

void EventRecordsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) pageShown();
}

void EventRecordsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOutColumns();
}

void EventRecordsPage::pageShown() {
    layOutColumns();
    RequestEvents(false);
}

int EventRecordsPage::measure(const QString& text) {
    Long_Label->setText(text);
    Long_Label->adjustSize();
    return Long_Label->width();
}

void EventRecordsPage::layOutColumns() {
    const int client = StrgdEvents->viewport()->width();
    if (client <= 0) return;
    const auto& headings = eventGridHeadings();
    const auto widths = eventGridColumnWidths(client, measure(qstr(headings[1])), measure(qstr(headings[2])));
    for (int c = 1; c < EventGridColumns; ++c)
        StrgdEvents->setColumnWidth(c, std::max(20, widths[size_t(c)]));
}

void EventRecordsPage::setRowHeight(int row) {
    const auto& rows = model_.grid().rows;
    if (row < 0 || size_t(row) >= rows.size()) return;
    StrgdEvents->setRowHeight(row, eventRowHeight(rows[size_t(row)], DefaultRowHeight));
}

void EventRecordsPage::RequestEvents(bool requestAll) {
    if (reading_) return; // the running read answers this request too
    Monitor_Thread* target = context_.connection ? context_.connection->requestTarget() : nullptr;
    if (!target) {
        eventStatus_L->setText("The records can be read once a unit is connected over Modbus.");
        return;
    }
    cmdSave->setEnabled(false);
    new_events_P->hide();
    cmdRefresh->setEnabled(false);
    cmdClear->setEnabled(false);
    reading_ = true;
    recordsArrived_ = 0;
    recordsExpected_ = 0;
    eventStatus_L->setText(requestAll || !listComplete_ ? "Reading the event records..."
                                                        : "Reading the number of records...");
    readGeneration_ = context_.connection->generation();
    const uint64_t generation = readGeneration_;
    QPointer<EventRecordsPage> self(this);
    ConnectionController* connection = context_.connection;
    auto current = [self, connection, generation] {
        return self && self->reading_ && self->readGeneration_ == generation &&
               connection->isCurrent(generation);
    };
    // A list that was not read to its end is read again in full.
    readId_ = target->readEventRecords(
        requestAll || !listComplete_,
        [self, current](EventReadResult result) {
            if (current()) self->UpdateEventList(result);
        },
        [self, current](const EventRecord& record, const RequestProgress& progress) {
            if (current()) self->UpdateEventRecord(record, progress);
        });
}

void EventRecordsPage::UpdateEventRecord(const EventRecord& record, const RequestProgress& progress) {
    if (recordsArrived_ == 0) listComplete_ = false; // the old rows start to give way
    model_.applyRecord(record, modelType());
    setRowHeight(record.number);
    recordsArrived_ = progress.done;
    recordsExpected_ = progress.total;
    eventProgress_PB->setMaximum(std::max(1, progress.total));
    eventProgress_PB->setValue(progress.done);
    eventProgress_PB->show();
    cmdCancel->show();
    cmdCancel->setEnabled(true);
    eventStatus_L->setText(QString("Reading record %1 of %2...").arg(progress.done).arg(progress.total));
}

void EventRecordsPage::UpdateEventList(const EventReadResult& result) {
    using Kind = EventReadResult::Kind;
    const bool partial = result.cancelledPartWay || result.gaveUpAfter > 0;
    const auto linkText = [&](int first, int count) {
        const ConnectionSettings& s = context_.connection->settings();
        return qstr(
            describeLinkResult(result.link, s.slaveAddress, linkName(s), {TransferWhat::Read, first, count}));
    };
    QString status;
    switch (result.kind) {
    case Kind::Records: {
        if (result.records.empty() && result.cancelledPartWay) {
            // Stopped before the first record: the rows of the last read are still whole.
            status = "Reading the event records was cancelled.";
            break;
        }
        EventGrid grid;
        kt::UpdateEventList(grid, result, modelType());
        model_.setGrid(std::move(grid));
        for (int r = 0; r < model_.rowCount(); ++r) setRowHeight(r);
        const int read = int(result.records.size());
        if (result.cancelledPartWay) {
            status = QString("Reading was cancelled after %1 of %2 records; the list is incomplete.")
                         .arg(read)
                         .arg(result.count);
        } else if (result.gaveUpAfter > 0) {
            status = QString("Gave up after %1 records in a row could not be read (%2 of %3 tried): %4.")
                         .arg(result.gaveUpAfter)
                         .arg(read)
                         .arg(result.count)
                         .arg(linkText(60, 12));
        } else {
            QStringList unread;
            for (const EventRecord& r : result.records)
                if (!r.read) unread << QString::number(r.number);
            status = unread.isEmpty() ? QString("%1 records read.").arg(read)
                                      : QString("Record%1 %2 could not be read (shown as --).")
                                            .arg(unread.size() == 1 ? "" : "s", unread.join(", "));
        }
        if (result.countLimited)
            status += QString(" The unit claims more records than %1; the newest %1 were read.")
                          .arg(MaxEventRecords);
        listComplete_ = !partial;
        break;
    }
    case Kind::NoRecords:
        model_.setGrid({});
        listComplete_ = true;
        status = "The unit holds no event records.";
        break;
    case Kind::CountOnly:
        status =
            listComplete_ ? QString() : QString("The list is incomplete; press Refresh to read it again.");
        break;
    case Kind::CountUnreadable:
        status = "The number of records could not be read: " + linkText(60, 2) + ".";
        break;
    case Kind::Cancelled:
        status = "Reading the event records was cancelled.";
        break;
    }
    endRead(status);
}

void EventRecordsPage::endRead(const QString& status) {
    reading_ = false;
    readId_ = 0;
    eventProgress_PB->hide();
    cmdCancel->hide();
    cmdRefresh->setEnabled(true);
    cmdClear->setEnabled(true);
    // Only a list read to its end is offered for saving: a cut-off list would pass for a whole one.
    cmdSave->setEnabled(listComplete_);
    eventStatus_L->setText(status);
    events_P->setVisible(true);
}

void EventRecordsPage::cmdCancelClick() {
    if (!reading_) return;
    Monitor_Thread* target = context_.connection->requestTarget();
    if (target && context_.connection->isCurrent(readGeneration_)) target->cancel(readId_);
    cmdCancel->setEnabled(false);
    eventStatus_L->setText("Cancelling...");
}

void EventRecordsPage::cmdClearClick() {
    Monitor_Thread* target = context_.connection ? context_.connection->requestTarget() : nullptr;
    if (!target || reading_) return;
    const uint64_t generation = context_.connection->generation();
    QPointer<EventRecordsPage> self(this);
    ConnectionController* connection = context_.connection;
    target->clearEvents([self, connection, generation](UnitCommandResult r) {
        if (!self || !connection->isCurrent(generation) || r.acknowledged) return;
        const ConnectionSettings& s = connection->settings();
        showMessage("Clear Records failed:\n" +
                        qstr(describeLinkResult(r.link, s.slaveAddress, linkName(s),
                                                {TransferWhat::Command, r.command, 1})),
                    "Command Failed", MessageOk, self);
    });
    // Queued behind the clear: the list read afterwards shows what the unit kept.
    RequestEvents(true);
}

void EventRecordsPage::Save_BClick() {
    const QString path = savePicker_(this);
    if (path.isEmpty()) return;
    cmdSave->setEnabled(false);
    saveTo(this, path, eventFileText(fileHeader(context_), model_.grid()), eventStatus_L);
    cmdSave->setEnabled(listComplete_ && !reading_);
}

// ---- TabSheet3 ----

namespace {

// The measuring texts of the legacy grid's columns.
constexpr const char* LegacyMeasures[LegacyEventGridColumns] = {
    " Record # ", " Calibration Error ", " NGR Current (% FS) ", " NGR Voltage (% Setting) ",
    " NGR Change (ohms) "};

} // namespace

LegacyEventsPage::LegacyEventsPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context), savePicker_(pickEventSaveFile) {
    setObjectName("TabSheet3");
    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    event_order_L = new QLabel(qstr(LegacyEventOrderText), Panel1);
    event_order_L->setObjectName("event_order_L");
    event_order_L->setAlignment(Qt::AlignCenter);
    events_Old740_G = new QTableView(Panel1);
    events_Old740_G->setObjectName("events_Old740_G");
    events_Old740_G->setAccessibleName("Event Records");
    events_Old740_G->setModel(&model_);
    events_Old740_G->verticalHeader()->hide();
    events_Old740_G->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    events_Old740_G->horizontalHeader()->setHighlightSections(false);
    events_Old740_G->setEditTriggers(QAbstractItemView::NoEditTriggers);
    events_Old740_G->setSelectionMode(QAbstractItemView::SingleSelection);
    events_Old740_G->setTabKeyNavigation(false);
    events_Old740_G->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    events_Old740_G->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Refresh_B = button("Refresh_B", "Refresh", Panel1);
    clear_B = button("clear_B", "Clear Records", Panel1);
    Save_B = button("Save_B", "Save as Text", Panel1);
    legacyStatus_L = statusLine("legacyStatus_L", this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Refresh_B);
    buttons->addStretch(1);
    buttons->addWidget(clear_B);
    buttons->addStretch(1);
    buttons->addWidget(Save_B);
    auto* panel = new QVBoxLayout(Panel1);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(event_order_L);
    panel->addWidget(events_Old740_G);
    panel->addLayout(buttons);
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addWidget(Panel1);
    centred->addStretch(1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(centred);
    column->addWidget(legacyStatus_L);
    column->addStretch(1);

    connect(Refresh_B, &QPushButton::clicked, this, &LegacyEventsPage::Refresh_BClick);
    connect(clear_B, &QPushButton::clicked, this, &LegacyEventsPage::clear_BClick);
    connect(Save_B, &QPushButton::clicked, this, &LegacyEventsPage::Save_BClick);
    layOutGrid();
}

void LegacyEventsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) pageShown();
}

void LegacyEventsPage::pageShown() {
    layOutGrid();
    RequestLegacyEvents();
}

void LegacyEventsPage::layOutGrid() {
    const QFontMetrics metrics(events_Old740_G->font());
    int total = 0;
    for (int c = 0; c < LegacyEventGridColumns; ++c) {
        const int w = metrics.horizontalAdvance(LegacyMeasures[c]) + 8;
        events_Old740_G->setColumnWidth(c, w);
        total += w;
    }
    const int rowHeight = events_Old740_G->verticalHeader()->defaultSectionSize();
    const int frame = 2 * events_Old740_G->frameWidth();
    events_Old740_G->setFixedSize(total + 5 + frame, events_Old740_G->horizontalHeader()->height() +
                                                         (rowHeight + 1) * model_.rowCount() + 5 + frame);
}

void LegacyEventsPage::setButtonsEnabled(bool on) {
    for (QPushButton* b : {Refresh_B, clear_B, Save_B}) b->setEnabled(on);
}

void LegacyEventsPage::RequestLegacyEvents() {
    model_.blank();
    if (!context_.connection || !context_.connection->requestLegacyEvents()) {
        waiting_ = false;
        setButtonsEnabled(true);
        legacyStatus_L->setText("The records can be read once an older unit is connected.");
        return;
    }
    // The listener asks on every cycle until a good block arrives.
    waiting_ = true;
    setButtonsEnabled(false);
    legacyStatus_L->setText("Reading the event records...");
}

void LegacyEventsPage::UpdateLegacyEventList(std::span<const uint8_t> block) {
    if (!model_.setBlock(block)) return; // not a block: the grid keeps waiting
    waiting_ = false;
    setButtonsEnabled(true);
    legacyStatus_L->clear();
}

void LegacyEventsPage::clear_BClick() {
    setButtonsEnabled(false);
    if (!context_.connection || !context_.connection->requestLegacyClear()) {
        setButtonsEnabled(true);
        legacyStatus_L->setText("The records can be cleared once an older unit is connected.");
        return;
    }
    legacyStatus_L->setText("Clearing the event records...");
}

void LegacyEventsPage::legacyClearDone(bool sent) {
    if (sent) {
        RequestLegacyEvents(); // what the unit holds now
        return;
    }
    setButtonsEnabled(true);
    legacyStatus_L->setText("The clear command could not be sent to the unit.");
    showMessage("The Clear Records command could not be sent to the unit.", "Command Failed", MessageOk,
                this);
}

void LegacyEventsPage::disconnected() {
    waiting_ = false;
    setButtonsEnabled(true);
    legacyStatus_L->clear();
}

void LegacyEventsPage::Save_BClick() {
    const QString path = savePicker_(this);
    if (path.isEmpty()) return;
    if (onSaved) onSaved();
    saveTo(this, path, legacyEventFileText(fileHeader(context_), model_.grid()), legacyStatus_L);
}

} // namespace kt
