#include "ui/pages/configuration_page.h"

#include "components/kt_spin_edit.h"
#include "monitor/device_rules.h"
#include "ui/connection_controller.h"
#include "ui/ct_voltage.h"
#include "ui/message_box.h"
#include "ui/pages/grid_view.h"
#include "ui/selection_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

namespace kt {

namespace {

constexpr int ValueColumn = 2;
constexpr int HelpHeight = 75;

// The editors' input masks: three-digit octets, and six hexadecimal pairs; a blank is a space.
constexpr const char* IpMask = "900.900.900.900; ";
constexpr const char* MacMask = "HH:HH:HH:HH:HH:HH; ";

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool sameRows(const std::vector<GridRow>& a, const std::vector<GridRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].reg != b[i].reg || a[i].parameter != b[i].parameter) return false;
    return true;
}

std::string withoutIndent(std::string_view parameter) {
    while (parameter.starts_with(' ')) parameter.remove_prefix(1);
    return std::string(parameter);
}

// Moves a closed combo box's selection without the `activated` a key would raise: picking an item
// writes it, stepping through the list does not.
void step(QComboBox* combo, int by) {
    const int next = std::clamp(combo->currentIndex() + by, 0, combo->count() - 1);
    if (combo->count() > 0) combo->setCurrentIndex(next);
}

} // namespace

ConfigurationPage::ConfigurationPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context), grid_(std::make_unique<ConfigGridModel>(config_)),
      log_(std::make_unique<SettingWriteLog>()) {
    setObjectName("Config_Sheet");
    Config_Grid = new StatusGridView("Config_Grid", "Configuration", this);
    Config_Grid->setModel(grid_.get());
    Config_Grid->showRegisterColumns();
    Config_Grid->installEventFilter(this);

    Panel3 = new QWidget(this);
    Panel3->setObjectName("Panel3");
    help_E = new QTextEdit(Panel3);
    help_E->setObjectName("help_E");
    help_E->setReadOnly(true);
    help_E->setAccessibleName("Setting Guidance");
    help_E->setFixedHeight(HelpHeight);
    help_E->setAlignment(Qt::AlignHCenter);
    help_E->hide();
    RichEdit1 = new QTextEdit(Panel3);
    RichEdit1->setObjectName("RichEdit1");
    RichEdit1->setReadOnly(true);
    RichEdit1->setAccessibleName("Essential Settings");
    RichEdit1->hide();
    auto* panel = new QVBoxLayout(Panel3);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(help_E);
    panel->addWidget(RichEdit1, 1);
    panel->addStretch(0);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->addWidget(Config_Grid, 3);
    row->addWidget(Panel3, 2);

    // The editors lie over the grid's value cells, hidden until a cell is clicked.
    cmbEdit = new QComboBox(this);
    cmbEdit->setObjectName("cmbEdit");
    utc_CB = new QComboBox(this);
    utc_CB->setObjectName("utc_CB");
    utc_CB->setAccessibleName("UTC Offset");
    txtIPMask = new QLineEdit(this);
    txtIPMask->setObjectName("txtIPMask");
    txtIPMask->setInputMask(IpMask);
    MaskMac = new QLineEdit(this);
    MaskMac->setObjectName("MaskMac");
    MaskMac->setInputMask(MacMask);
    spinEdit = new TKTSpinEdit(this);
    spinEdit->setObjectName("spinEdit");
    spinEdit->SetIncrement(1);
    spinEdit->SetPrecision(0);
    for (QWidget* editor : editors()) editor->hide();
    // Installed after the spin edit's own filter, so this one sees the keys first.
    for (QObject* watched :
         std::initializer_list<QObject*>{cmbEdit, utc_CB, txtIPMask, MaskMac, spinEdit->editField()})
        watched->installEventFilter(this);

    connect(cmbEdit, &QComboBox::activated, this, &ConfigurationPage::cmbEditSelect);
    connect(utc_CB, &QComboBox::activated, this, &ConfigurationPage::utc_CBSelect);
    connect(Config_Grid, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { Config_GridSelectCell(index.column(), index.row()); });
    connect(Config_Grid->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ConfigurationPage::Config_GridTopLeftChanged);
    connect(Config_Grid->horizontalHeader(), &QHeaderView::sectionResized, this, [this] {
        if (openEditor()) placeEditors();
    });

    writeEssentialSettingsNotice();
    updatePanel3();
}

ConfigurationPage::~ConfigurationPage() {
    closing_ = true; // hiding or destroying a focused editor runs no exit
}

// ---- state ----

std::vector<QWidget*> ConfigurationPage::editors() const {
    return {cmbEdit, spinEdit, txtIPMask, MaskMac, utc_CB};
}

QWidget* ConfigurationPage::openEditor() const {
    for (QWidget* e : editors())
        if (!e->isHidden()) return e;
    return nullptr;
}

bool ConfigurationPage::editorOpen() const {
    return openEditor() != nullptr;
}

SettingSource ConfigurationPage::source() const {
    static const RegisterDataset empty;
    return {tables_ ? tables_->dataset : empty, values_};
}

const GridRow* ConfigurationPage::rowOfRegister(int reg) const {
    const int row = config_.rowOf(reg);
    return row < 0 ? nullptr : &config_.rows()[static_cast<size_t>(row)];
}

void ConfigurationPage::setWriteLogFolder(const QString& folder) {
    log_->setFolder(folder.toStdString());
}

// ---- refresh ----

void ConfigurationPage::connected() {
    sessionPending_ = true;
}

void ConfigurationPage::startLogSession(const PassSnapshot& pass, const UnitStatusView& view) {
    SettingLogSession s;
    const int32_t model = context_.selection ? context_.selection->model_type : ModelKt740;
    s.unit = std::string(unitName(model, context_.selection && context_.selection->siblingModel));
    for (const RegisterValue& v : pass.values)
        if (v.label == "DB_SERIAL_NUMBER") s.serial = v.value;
    s.firmware = view.version_P.text;
    if (context_.connection) s.link = linkName(context_.connection->settings());
    s.started = systemLocalClock();
    log_->startSession(std::move(s), model);
    sessionPending_ = false;
}

void ConfigurationPage::passCompleted(const PassSnapshot& pass, const UnitStatusView& view) {
    tables_ = pass.tables;
    RegisterTexts texts;
    passValueTexts(pass, texts);
    values_.assign(texts.begin(), texts.end());
    if (sessionPending_) startLogSession(pass, view);

    // Writes the unit has acknowledged show in this pass: their marks go.
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.answered) {
            grid_->removePending(it->second.reg);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }

    if (!editorOpen()) {
        applyRows(view.configGrid);
        if (view.laidOut) RichEdit1->setVisible(view.richEdit1Visible);
        updatePanel3();
        return;
    }
    // An editor is open: the other rows follow the unit, the edited one keeps what the operator
    // opened, and a new layout waits until the editor closes.
    if (view.laidOut) deferredNotice_ = view.richEdit1Visible;
    if (!sameRows(view.configGrid, config_.rows())) {
        deferredRows_ = view.configGrid;
        return;
    }
    deferredRows_.reset(); // the unit came back to the layout shown
    std::vector<GridRow> rows = view.configGrid;
    if (editRow_ >= 0 && editRow_ < static_cast<int>(rows.size()))
        rows[static_cast<size_t>(editRow_)] = config_.rows()[static_cast<size_t>(editRow_)];
    config_.setRows(rows);
}

void ConfigurationPage::applyRows(const std::vector<GridRow>& rows) {
    config_.setRows(rows);
}

void ConfigurationPage::disconnected() {
    // Writes whose result never came are logged as such: the log keeps every write asked for.
    for (const auto& [key, p] : pending_)
        if (!p.answered) logWrite(p, std::string(SettingLogNoResultText));
    pending_.clear();
    clear();
}

void ConfigurationPage::clear() {
    closeEditors();
    deferredRows_.reset();
    deferredNotice_.reset();
    grid_->clearPending();
    pending_.clear();
    config_.clear();
    tables_.reset();
    values_.clear();
    RichEdit1->hide();
    hideHelp();
    editRow_ = editRegister_ = -1;
}

// ---- the help pane ----

void ConfigurationPage::showHelp(int reg) {
    if (!tables_ || reg < 0 || reg >= RegisterTableSize) return;
    const std::string& warning = tables_->RegisterTable[static_cast<size_t>(reg)].warning;
    if (warning.empty()) return; // help_E keeps what it showed
    help_E->clear();
    QTextCursor c(help_E->document());
    QTextCharFormat heading;
    heading.setForeground(QColor(255, 0, 0));
    heading.setFontWeight(QFont::Bold);
    QTextCharFormat plain;
    plain.setForeground(Qt::black);
    plain.setFontWeight(QFont::Normal);
    c.insertText(qs(GuidanceHeading) + "\n\n", heading);
    const std::vector<std::string> lines = warningLines(warning);
    for (size_t i = 0; i < lines.size(); ++i)
        c.insertText(qs(lines[i]) + (i + 1 < lines.size() ? "\n" : ""), plain);
    help_E->moveCursor(QTextCursor::Start);
    help_E->show();
    updatePanel3();
}

void ConfigurationPage::hideHelp() {
    help_E->hide();
    updatePanel3();
}

void ConfigurationPage::updatePanel3() {
    // An empty panel would only narrow the grid.
    Panel3->setVisible(!help_E->isHidden() || !RichEdit1->isHidden());
}

void ConfigurationPage::writeEssentialSettingsNotice() {
    RichEdit1->clear();
    QTextCursor c(RichEdit1->document());
    QTextCharFormat heading;
    heading.setForeground(QColor(255, 0, 0));
    heading.setFontWeight(QFont::Bold);
    QTextCharFormat plain;
    plain.setForeground(Qt::black);
    QTextCharFormat underlined = plain;
    underlined.setFontUnderline(true);
    c.insertText("IMPORTANT\n\n", heading);
    c.insertText("This KT-740 Series product contains firmware that enables new functionality, and more "
                 "information is required about the system configuration for these new functions to "
                 "operate correctly. It is important that each parameter listed on this screen is reviewed "
                 "carefully before proceeding. After verifying these parameters, set the ",
                 plain);
    c.insertText("Essential Settings Verified", underlined);
    c.insertText(" parameter to ", plain);
    c.insertText("Settings Verified.\n\n", underlined);
    c.insertText("This step must be completed before KT-MON740 will display the complete set of parameters "
                 "and status information from the unit.\n\n",
                 plain);
    c.insertText("As a reminder, the KT-740 Series products must be calibrated after installation to ensure "
                 "correct operation.\n\n",
                 plain);
    c.insertText("For questions about calibration or the new functionality, please consult the appropriate "
                 "KT-740 Series Manual or contact Corvane Relays technical support, "
                 "support@corvane-relays.example, +1 555 0100 740.",
                 plain);
    RichEdit1->moveCursor(QTextCursor::Start);
}

// ---- opening an editor ----

void ConfigurationPage::placeEditors() {
    const QModelIndex cell = grid_->index(editRow_, ValueColumn);
    if (!cell.isValid()) return;
    const QRect r = Config_Grid->visualRect(cell);
    const QRect onPage(Config_Grid->viewport()->mapTo(this, r.topLeft()), r.size());
    for (QWidget* e : editors()) {
        e->setGeometry(onPage);
        e->raise();
    }
    // Sizing the spin edit shows its value again: what the operator has typed so far stays.
    if (spinEdit->width() != onPage.width() || spinEdit->height() != onPage.height()) {
        QLineEdit* field = spinEdit->editField();
        const QString typed = field->text();
        const int cursor = field->cursorPosition();
        spinEdit->SetWidth(onPage.width());
        spinEdit->SetHeight(onPage.height());
        if (!spinEdit->isHidden()) {
            field->setText(typed);
            field->setCursorPosition(cursor);
        }
    }
}

void ConfigurationPage::refocus(QWidget* editor) {
    if (editor == spinEdit) {
        spinEdit->editField()->setFocus();
        spinEdit->editField()->selectAll();
    } else {
        editor->setFocus();
    }
}

void ConfigurationPage::closeEditors() {
    const bool wasClosing = closing_;
    closing_ = true;
    QWidget* focused = QApplication::focusWidget();
    QWidget* open = openEditor();
    const bool hadFocus = open && focused && (open == focused || open->isAncestorOf(focused));
    for (QWidget* e : editors()) e->hide();
    if (hadFocus) Config_Grid->setFocus();
    closing_ = wasClosing;
    refused_ = false;
    // What waited for the editor to close.
    if (deferredRows_) {
        applyRows(*deferredRows_);
        deferredRows_.reset();
    }
    if (deferredNotice_) {
        RichEdit1->setVisible(*deferredNotice_);
        deferredNotice_.reset();
        updatePanel3();
    }
}

void ConfigurationPage::Config_GridSelectCell(int column, int row) {
    // A refused entry stays with the operator until it is mended or left with Escape.
    if (refused_ && openEditor()) {
        refocus(openEditor());
        return;
    }
    editRow_ = row;
    const bool valueCell = column == ValueColumn && row >= 0 && row < static_cast<int>(config_.rows().size());
    const GridRow gridRow = valueCell ? config_.rows()[static_cast<size_t>(row)] : GridRow{};
    // Closing applies a layout that waited for the editor: the cell is then found by its register.
    closeEditors();
    if (!valueCell || gridRow.isTitle()) return;
    editRow_ = config_.rowOf(gridRow.reg);
    if (editRow_ < 0) return;
    const int r = gridRow.reg;
    editRegister_ = r;
    showHelp(r);
    placeEditors();
    const SettingSource src = source();

    switch (editorForAccess(gridRow.access)) {
    case SettingEditor::List: {
        list_ = settingList(src, r, gridRow.translationType);
        cmbEdit->clear();
        for (const ListItem& item : list_.items) cmbEdit->addItem(qs(item.text));
        cmbEdit->setCurrentIndex(list_.selected);
        listOpened_ = list_.selected;
        listChosen_ = false;
        cmbEdit->setAccessibleName(qs(withoutIndent(gridRow.parameter)));
        cmbEdit->show();
        cmbEdit->setFocus();
        break;
    }
    case SettingEditor::IpAddress:
        txtIPMask->setText(qs(src.valueText(r)));
        txtIPMask->setCursorPosition(0);
        txtIPMask->setAccessibleName(qs(withoutIndent(gridRow.parameter)));
        ipTyped_ = false;
        txtIPMask->show();
        txtIPMask->setFocus();
        break;
    case SettingEditor::MacAddress:
        // The editor starts empty: a MAC address is typed whole.
        MaskMac->clear();
        MaskMac->setCursorPosition(0);
        MaskMac->setAccessibleName(qs(withoutIndent(gridRow.parameter)));
        MaskMac->show();
        MaskMac->setFocus();
        break;
    case SettingEditor::CtDialog:
        openCtDialog(r);
        break;
    case SettingEditor::Number: {
        if (const std::optional<SettingLimits> limits = numberLimits(src, r)) spinLimits_ = *limits;
        spinEdit->SetMin(static_cast<double>(WidestLimits.min));
        spinEdit->SetMax(static_cast<double>(WidestLimits.max));
        spinEdit->SetMin(static_cast<double>(spinLimits_.min));
        spinEdit->SetMax(static_cast<double>(spinLimits_.max));
        spinEdit->SetValue(static_cast<double>(src.current(r).value_or(0)));
        spinEdit->editField()->setAccessibleName(qs(withoutIndent(gridRow.parameter)));
        spinEdit->show();
        refocus(spinEdit);
        break;
    }
    case SettingEditor::UtcOffset:
        utc_CB->clear();
        for (std::string_view offset : UtcOffsets) utc_CB->addItem(qs(offset));
        utc_CB->setCurrentIndex(utcOffsetSelection(src.valueText(r)));
        utc_CB->show();
        utc_CB->setFocus();
        break;
    case SettingEditor::None:
        break;
    }
}

void ConfigurationPage::Config_GridTopLeftChanged() {
    if (!openEditor()) return;
    placeEditors();
    const int top = Config_Grid->rowAt(0);
    int bottom = Config_Grid->rowAt(Config_Grid->viewport()->height() - 1);
    if (bottom < 0) bottom = config_.rowCount() - 1;
    // Scrolled out of sight: the editor goes without writing.
    if (editRow_ < top || editRow_ > bottom) {
        closeEditors();
        hideHelp();
    }
}

void ConfigurationPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (openEditor()) placeEditors();
}

// ---- leaving an editor ----

void ConfigurationPage::apply(const SettingEntry& entry) {
    switch (entry.outcome) {
    case SettingEntry::Outcome::Unchanged:
        closeEditors();
        break;
    case SettingEntry::Outcome::Write:
        closeEditors();
        submit(entry.write);
        break;
    case SettingEntry::Outcome::Refused: {
        QWidget* editor = openEditor();
        refused_ = true;
        showMessage(qs(entry.text), qs(entry.title),
                    entry.title == OutOfRangeTitle ? MessageOkCancel : MessageOk, context_.window);
        if (editor && !editor->isHidden()) refocus(editor);
        break;
    }
    }
}

void ConfigurationPage::cmbEditExit() {
    if (cmbEdit->isHidden()) return;
    const int chosen = cmbEdit->currentIndex();
    hideHelp();
    // The item shown when the list opened is the unit's (or the nearest to it): leaving without
    // choosing writes nothing.
    if (!listChosen_ && chosen == listOpened_) {
        closeEditors();
        return;
    }
    apply(fitToRegister(source(), listEntry(list_, editRegister_, chosen, source().current(editRegister_))));
}

void ConfigurationPage::cmbEditSelect(int) {
    listChosen_ = true;
    cmbEditExit();
}

void ConfigurationPage::spinEditExit() {
    if (spinEdit->isHidden()) return;
    hideHelp();
    const int r = editRegister_;
    const std::optional<int64_t> current = source().current(r);
    SettingEntry entry = fitToRegister(
        source(), numberEntry(spinEdit->editField()->text().toStdString(), r, spinLimits_, current));
    if (entry.outcome == SettingEntry::Outcome::Refused) {
        spinEdit->SetValue(static_cast<double>(entry.clampedTo.value_or(current.value_or(spinLimits_.min))));
    } else if (entry.writes()) {
        spinEdit->SetValue(static_cast<double>(entry.write.value));
        // The CT nominal primary also scales the amperes the views show.
        if (r == CtNominalRegister && context_.selection)
            context_.selection->effectiveCtPrimary = static_cast<int32_t>(entry.write.value);
    }
    apply(entry);
}

void ConfigurationPage::txtIPMaskExit() {
    if (txtIPMask->isHidden()) return;
    hideHelp();
    const SettingEntry entry = ipEntry(txtIPMask->displayText().toStdString(), editRegister_,
                                       source().valueText(editRegister_), ipTyped_);
    ipTyped_ = false;
    apply(entry);
}

void ConfigurationPage::MaskMacExit() {
    if (MaskMac->isHidden()) return;
    hideHelp();
    apply(macEntry(MaskMac->displayText().toStdString(), editRegister_));
}

void ConfigurationPage::utc_CBSelect(int index) {
    if (utc_CB->isHidden()) return;
    hideHelp();
    apply(fitToRegister(source(), utcEntry(utc_CB->itemText(index).toStdString(), editRegister_,
                                           source().valueText(editRegister_))));
}

// ---- keys and focus ----

bool ConfigurationPage::keyPressed(QObject* watched, int key, const QString& text) {
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (watched == Config_Grid) {
        // From the keyboard: Enter or F2 opens the editor of the current row.
        if ((enter || key == Qt::Key_F2) && Config_Grid->currentIndex().isValid()) {
            Config_GridSelectCell(ValueColumn, Config_Grid->currentIndex().row());
            return true;
        }
        return false;
    }
    if (key == Qt::Key_Escape) {
        // Escape leaves the editor without writing.
        closeEditors();
        hideHelp();
        return true;
    }
    if (watched == cmbEdit || watched == utc_CB) {
        auto* combo = static_cast<QComboBox*>(watched);
        if (enter) {
            if (combo == cmbEdit) {
                listChosen_ = true;
                cmbEditExit();
            } else {
                utc_CBSelect(utc_CB->currentIndex());
            }
            return true;
        }
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(combo, key == Qt::Key_Up ? -1 : 1);
            return true;
        }
        return false;
    }
    if (watched == spinEdit->editField()) {
        if (enter) {
            spinEditExit();
            return true;
        }
        return false;
    }
    if (watched == txtIPMask || watched == MaskMac) {
        const bool ip = watched == txtIPMask;
        if (enter) {
            ip ? txtIPMaskExit() : MaskMacExit();
            return true;
        }
        if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
            if (ip) ipTyped_ = true;
            return false;
        }
        if (text.isEmpty() || !text.at(0).isPrint()) return false; // arrows, Home, Tab: moving only
        const char16_t c = text.at(0).unicode();
        const bool accepted =
            ip ? (c >= u'-' && c <= u'9') || c == u' ' : (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
        if (accepted && ip) ipTyped_ = true;
        return !accepted; // every other character is dropped
    }
    return false;
}

void ConfigurationPage::focusLeft(QObject* watched) {
    if (closing_) return;
    if (watched == cmbEdit)
        cmbEditExit();
    else if (watched == spinEdit->editField())
        spinEditExit();
    else if (watched == txtIPMask)
        txtIPMaskExit();
    else if (watched == MaskMac)
        MaskMacExit();
    else if (watched == utc_CB && !utc_CB->isHidden()) {
        // The offset list writes only what is picked.
        closeEditors();
        hideHelp();
    }
}

bool ConfigurationPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (keyPressed(watched, key->key(), key->text())) return true;
    } else if (event->type() == QEvent::FocusOut && watched != Config_Grid) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // A popup (the list's own), a menu or another window taking the keyboard is no leaving.
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) focusLeft(watched);
    }
    return QWidget::eventFilter(watched, event);
}

// ---- the CT dialog ----

void ConfigurationPage::openCtDialog(int reg) {
    if (!context_.selection) return;
    ObjectNameSelectionPanels panels(context_.window);
    CtDialogContext ct;
    ct.legacyUnit = context_.connection && context_.connection->legacyUnit();
    ct.targetRegister = reg;
    ct.writeValue = [this](int32_t value, int target) { return writeCtPrimary(value, target); };
    ct.panels = &panels;
    ct.windowColour = context_.windowColour;
    const bool accepted = kt::openCtDialog(context_.window, *context_.selection, ct);
    emit ctDialogClosed(accepted);
}

bool ConfigurationPage::writeCtPrimary(int32_t value, int reg) {
    const SettingEntry entry = fitToRegister(source(), ctEntry(value, reg));
    if (!entry.writes()) {
        showMessage(qs(entry.text), qs(entry.title), MessageOk, context_.window);
        return false;
    }
    return submit(entry.write);
}

// ---- writing ----

bool ConfigurationPage::submit(const SettingWrite& write) {
    Pending p;
    p.reg = write.reg;
    p.newText = write.newText;
    p.asked = systemLocalClock();
    if (const GridRow* row = rowOfRegister(write.reg)) {
        p.parameter = withoutIndent(row->parameter);
        p.oldText = row->value;
    } else {
        if (tables_) p.parameter = tables_->RegisterTable[static_cast<size_t>(write.reg)].label;
        p.oldText = std::string(source().valueText(write.reg));
    }
    Monitor_Thread* engine = context_.connection ? context_.connection->requestTarget() : nullptr;
    if (!engine) {
        const std::string why = "no unit is connected over Modbus";
        logWrite(p, "Not sent: " + why);
        showMessage(qs(WriteFailedText) + "\n" + qs(why), qs(WriteFailedText), MessageOk, context_.window);
        return false;
    }
    const uint64_t key = ++nextKey_;
    const uint64_t generation = context_.connection->generation();
    QPointer<ConfigurationPage> self(this);
    pending_[key] = p;
    grid_->addPending(p.reg, qs(p.newText));
    submitSettingWrite(*engine, write, [self, key, generation](SettingWriteOutcome outcome) {
        if (self) self->writeFinished(key, generation, outcome);
    });
    return true;
}

void ConfigurationPage::writeFinished(uint64_t key, uint64_t generation, const SettingWriteOutcome& outcome) {
    // A result of a connection that has ended: disconnected() has logged the write already.
    if (!context_.connection || !context_.connection->isCurrent(generation)) return;
    auto it = pending_.find(key);
    if (it == pending_.end()) return;
    const ConnectionSettings& settings = context_.connection->settings();
    logWrite(it->second, settingLogResult(outcome, settings));
    if (outcome.written) {
        // The mark stays until the next pass shows what the unit now holds.
        it->second.answered = true;
        return;
    }
    grid_->removePending(it->second.reg);
    pending_.erase(it);
    showMessage(qs(WriteFailedText) + "\n" + qs(describeSettingFailure(outcome, settings)),
                qs(WriteFailedText), MessageOk, context_.window);
}

void ConfigurationPage::logWrite(const Pending& p, const std::string& result) {
    SettingLogEntry e;
    e.time = systemLocalClock();
    e.reg = p.reg;
    e.parameter = p.parameter;
    e.oldText = p.oldText;
    e.newText = p.newText;
    e.result = result;
    const SettingLogWriteResult r = log_->append(e);
    if (r.failedNow)
        showMessage("The setting write log cannot be written:\n" + qs(r.reason) +
                        "\nSettings are still written to the unit; the log keeps its lines and writes them "
                        "when the file can be written again.",
                    "Setting Write Log", MessageOk, context_.window);
    else if (r.recoveredNow)
        showMessage("The setting write log can be written again; the lines kept meanwhile are in " +
                        qs(r.path) + ".",
                    "Setting Write Log", MessageOk, context_.window);
}

} // namespace kt
