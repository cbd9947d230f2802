#include "ui/pages/iec61850_page.h"

#include "iec61850/icd_parser.h"
#include "iec61850/name_plate.h"
#include "iec61850/settings_transfer.h"
#include "link/connection_settings.h"
#include "monitor/monitor_thread.h"
#include "ui/connection_controller.h"
#include "ui/edit_ds_form.h"
#include "ui/ied_selection_form.h"
#include "ui/message_box.h"
#include "ui/pages/iec61850_tabs.h"
#include "ui/progress_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <limits>

namespace kt {

namespace {

constexpr int CommandButtonWidth = 150;
constexpr int CommandButtonHeight = 28;
constexpr uint64_t MaxUnsigned32 = 4294967295u;
constexpr uint64_t MaxAppID = 0x3FFF;

QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

std::string s(const QString& text) {
    return text.toStdString();
}

void errorMessage(const QString& text, QWidget* owner) {
    showMessage(text, "Error", MessageOk, owner);
}

// The button bar lays its buttons out itself whenever its width changes.
class ButtonBar : public QWidget {
public:
    using QWidget::QWidget;
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (onResize) onResize();
    }
};

// A field's text after its rule: `valid` false when the text cannot be read as the number the
// field holds (nothing is stored then).
struct RuledText {
    bool valid = false;
    QString text;
    uint64_t value = 0;
};

std::optional<uint64_t> decimal(const QString& text) {
    if (text.isEmpty()) return std::nullopt;
    std::optional<int64_t> v = ParseDecimal(s(text));
    if (v)
        return *v < 0 ? std::optional<uint64_t>(std::numeric_limits<uint64_t>::max())
                      : std::optional<uint64_t>(static_cast<uint64_t>(*v));
    // Digits only, but too many for 64 bits: as large as any limit.
    for (QChar c : text)
        if (!c.isDigit()) return std::nullopt;
    return std::numeric_limits<uint64_t>::max();
}

// Unsigned 32-bit: 4294967295 or more (or a negative value) becomes 4294967295, every other value
// its plain decimal form.
RuledText unsigned32(const QString& text) {
    RuledText r;
    std::optional<uint64_t> v = decimal(text);
    if (!v) return r;
    r.valid = true;
    r.value = std::min<uint64_t>(*v, MaxUnsigned32);
    r.text = QString::number(r.value);
    return r;
}

// A decimal field with a limit: `max` or more becomes `max`, 0 becomes "0", the empty text "0"
// when `emptyIsZero`; any other text stays as typed.
RuledText clampedDecimal(const QString& text, uint64_t max, bool emptyIsZero) {
    RuledText r;
    if (text.isEmpty() && emptyIsZero) return {true, "0", 0};
    std::optional<uint64_t> v = decimal(text);
    if (!v) return r;
    r.valid = true;
    r.value = std::min(*v, max);
    r.text = *v >= max ? QString::number(max) : *v == 0 ? QString("0") : text;
    return r;
}

// An APPID: HexToInt of the text, 0x3FFF or more becomes "3FFF", 0 becomes "0".
RuledText appID(const QString& text) {
    const uint64_t v = HexToInt(s(text));
    if (v >= MaxAppID) return {true, "3FFF", MaxAppID};
    if (v == 0) return {true, "0", 0};
    return {true, text, v};
}

QString cut(const QString& text, int length) {
    return text.size() > length ? text.left(length) : text;
}

// The time server field holds four three-character fields: "10 .1  .2  .3  ".
QString timeServerFieldText(const QString& dotted) {
    const QStringList parts = dotted.split('.');
    if (parts.size() != 4) return {};
    QStringList fields;
    for (const QString& p : parts) {
        const QString t = p.trimmed();
        if (t.size() > 3 || (!t.isEmpty() && t.toUInt() > 255)) return {};
        fields << t.leftJustified(3, ' ');
    }
    return fields.join('.');
}

const char* niStatusText(int32_t s) {
    static constexpr const char* texts[] = {
        "OK", "Old Data", "No Data", "Bad Type", "Test", "Uncommissioned", "Test/Uncommissioned"};
    return s >= 0 && s < 7 ? texts[s] : nullptr;
}

} // namespace

// Fields filled by the page itself store nothing: their change handlers are for the operator.
class Iec61850Page::Filling {
public:
    explicit Filling(Iec61850Page& page) : page_(page) { ++page_.filling_; }
    ~Filling() { --page_.filling_; }
    Filling(const Filling&) = delete;
    Filling& operator=(const Filling&) = delete;

private:
    Iec61850Page& page_;
};

Iec61850Page::Iec61850Page(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context), prompts_(std::make_unique<GuiOperatorPrompts>(this)) {
    setObjectName("Tab61850");

    auto* bar = new ButtonBar(this);
    bar->setObjectName("ButtonPanel");
    bar->setFixedHeight(CommandButtonHeight + 8);
    bar->onResize = [this] { Pag61850Resize(); };
    ButtonPanel = bar;
    auto command = [bar](const char* name, const char* caption) {
        auto* b = new QPushButton(caption, bar);
        b->setObjectName(name);
        b->resize(CommandButtonWidth, CommandButtonHeight);
        return b;
    };
    cmdLoadUnit = command("cmdLoadUnit", "Load from KT-740");
    cmdLoadFile = command("cmdLoadFile", "Load from CID/ICD File");
    cmdWriteUnit = command("cmdWriteUnit", "Write to KT-740");
    cmdSaveFile = command("cmdSaveFile", "Write to ICD File");

    Pag61850 = new QTabWidget(this);
    Pag61850->setObjectName("Pag61850");
    server = new Iec61850ServerTab;
    rcb = new Iec61850RcbTab;
    dataSets = new Iec61850DataSetsTab;
    goose = new Iec61850GooseTab;
    Pag61850->addTab(server, "Server");
    Pag61850->addTab(rcb, "RCB");
    Pag61850->addTab(dataSets, "Data Sets");
    Pag61850->addTab(goose, "GOOSE");

    NotesLabel = new QLabel(this);
    NotesLabel->setObjectName("NotesLabel");
    NotesList = new QListWidget(this);
    NotesList->setObjectName("NotesList");
    NotesList->setAccessibleName("Left out or not read as written");
    NotesList->setMaximumHeight(110);
    NotesLabel->setBuddy(NotesList);
    NotesLabel->hide();
    NotesList->hide();

    DevTypeComboBox = new QComboBox(this);
    DevTypeComboBox->setObjectName("DevTypeComboBox");
    DevTypeComboBox->setAccessibleName("Device Type");
    DevTypeComboBox->hide();
    VersionEdit = new QLineEdit("204", this);
    VersionEdit->setObjectName("VersionEdit");
    VersionEdit->setAccessibleName("Firmware Version");
    VersionEdit->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ButtonPanel);
    layout->addWidget(Pag61850, 1);
    layout->addWidget(NotesLabel);
    layout->addWidget(NotesList);
    connectHandlers();
    clearNIStatus();
    updateDataSetActions();
}

Iec61850Page::~Iec61850Page() {
    // The window is closing: its connection is gone with it, and the transfer's result with it.
    if (transfer_) transferInProgress = false;
}

void Iec61850Page::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        errorMessage(QString::fromUtf8(e.what()), context_.window);
    }
}

QString Iec61850Page::programFolder() const {
    return programFolder_;
}

// ---- device types -----------------------------------------------------------------------------

void Iec61850Page::loadDeviceTypes(const QString& programFolder) {
    programFolder_ = programFolder;
    QDir resources(programFolder + "/resources");
    const QStringList files = resources.entryList({"*.icd"}, QDir::Files, QDir::Name);
    {
        const QSignalBlocker block(DevTypeComboBox);
        DevTypeComboBox->clear();
        for (const QString& file : files)
            DevTypeComboBox->addItem(QFileInfo(file).completeBaseName(), resources.filePath(file));
    }
    if (files.isEmpty()) return;
    {
        const QSignalBlocker block(DevTypeComboBox);
        DevTypeComboBox->setCurrentIndex(0);
    }
    DevTypeComboBoxChange();
}

void Iec61850Page::DevTypeComboBoxChange() {
    const int i = DevTypeComboBox->currentIndex();
    if (i < 0) return;
    const QString path = DevTypeComboBox->itemData(i).toString();
    try {
        // Constructed first: a template that cannot be read leaves the current model as it was.
        auto fresh = std::make_unique<TICDParser>(s(path), -1, prompts_.get());
        parser_ = std::move(fresh);
    } catch (const std::exception& e) {
        errorMessage(
            QString("The device template %1 cannot be read:\n%2").arg(path, QString::fromUtf8(e.what())),
            context_.window);
        return;
    }
    guarded([&] { refreshFromParser(); });
    setNotes(parser_->Warnings(), QFileInfo(path).fileName());
}

// ---- layout -----------------------------------------------------------------------------------

void Iec61850Page::Pag61850Resize() {
    const int quarter = ButtonPanel->width() / 4;
    const int offset = (quarter + CommandButtonWidth) / 2;
    int k = 1;
    for (QPushButton* b : {cmdLoadUnit, cmdLoadFile, cmdWriteUnit, cmdSaveFile})
        b->move(k++ * quarter - offset, (ButtonPanel->height() - CommandButtonHeight) / 2);
}

// ---- handlers ---------------------------------------------------------------------------------

void Iec61850Page::connectHandlers() {
    connect(cmdLoadUnit, &QPushButton::clicked, this, &Iec61850Page::cmdLoadUnitClick);
    connect(cmdWriteUnit, &QPushButton::clicked, this, &Iec61850Page::cmdWriteUnitClick);
    connect(cmdLoadFile, &QPushButton::clicked, this, &Iec61850Page::cmdLoadFileClick);
    connect(cmdSaveFile, &QPushButton::clicked, this, &Iec61850Page::cmdSaveFileClick);
    connect(DevTypeComboBox, &QComboBox::currentIndexChanged, this, &Iec61850Page::DevTypeComboBoxChange);
    connectServerHandlers();
    connectRcbHandlers();
    connectGooseHandlers();

    connect(dataSets->DSListBox, &QListWidget::currentRowChanged, this, [this] {
        if (!filling()) guarded([this] { DSListBoxClick(); });
        updateDataSetActions();
    });
    connect(dataSets->AddDSAction, &QAction::triggered, this,
            [this] { guarded([this] { AddDSActionExecute(); }); });
    connect(dataSets->EditDSAction, &QAction::triggered, this,
            [this] { guarded([this] { EditDSActionExecute(); }); });
    connect(dataSets->DeleteDSAction, &QAction::triggered, this,
            [this] { guarded([this] { DeleteDSActionExecute(); }); });
}

void Iec61850Page::connectServerHandlers() {
    // Rules that change only the field; the values are taken when writing or saving.
    auto cutTo = [this](QLineEdit* edit, int length) {
        connect(edit, &QLineEdit::textChanged, this, [edit, length](const QString& text) {
            if (text.size() > length) edit->setText(text.left(length));
        });
    };
    cutTo(server->IEDNameEdit, 64); // EditChange_64Char
    cutTo(server->APIDEdit, 32);    // EditChange_32Char
    cutTo(server->PSelEdit, 8);     // EditChange_U32hex
    cutTo(server->SSelEdit, 4);     // EditChange_U16
    cutTo(server->TSelEdit, 4);
    auto clamp = [this](QLineEdit* edit, uint64_t max) { // AEQEditChange, KeepAliveEditChange
        connect(edit, &QLineEdit::textChanged, this, [edit, max](const QString& text) {
            RuledText r = clampedDecimal(text, max, false);
            if (r.valid && r.text != text) edit->setText(r.text);
        });
    };
    clamp(server->AEQEdit, 65535);
    clamp(server->KeepAliveEdit, 2147483647);
    connect(server->TwoAPCheckBox, &QCheckBox::clicked, this, [this](bool on) { // TwoAPCheckBoxClick
        if (parser_) parser_->TwoAccessPoints = on;
    });
}

void Iec61850Page::markInvalid(QLineEdit* edit, bool invalid) {
    if (edit->property("invalid").toBool() == invalid) return;
    edit->setProperty("invalid", invalid);
    // The field says that what it shows was not stored; leaving it shows the stored value again.
    edit->setStyleSheet(invalid ? "QLineEdit { background: #ffd0d0; }" : QString());
    edit->setToolTip(invalid ? "Not a number: nothing was stored" : QString());
}

void Iec61850Page::rcbField(QLineEdit* edit, const std::function<void(TRCBConfig&, uint64_t)>& store) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit, store](const QString& text) {
        const int i = rcb->RCBComboBox->currentIndex();
        if (filling() || i < 0 || !parser_) return;
        RuledText r = unsigned32(text);
        markInvalid(edit, !r.valid);
        if (!r.valid) return;
        if (r.text != text) return edit->setText(r.text);
        guarded([&] {
            TRCBConfig b = parser_->GetRCB(i);
            store(b, r.value);
            parser_->SetRCB(i, b);
        });
    });
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
        if (edit->property("invalid").toBool())
            guarded([this] { showRCB(rcb->RCBComboBox->currentIndex()); });
    });
}

void Iec61850Page::connectRcbHandlers() {
    connect(rcb->RCBComboBox, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!filling()) guarded([&] { showRCB(i); });
    });
    connect(rcb->RCBDSComboBox, &QComboBox::activated, this,
            [this] { guarded([this] { RCBDSComboBoxChange(); }); });
    for (QCheckBox* box : rcb->trgOptBoxes())
        connect(box, &QCheckBox::clicked, this,
                [this, box](bool on) { guarded([&] { TrgOptCBClick(box->property("tag").toInt(), on); }); });
    for (QCheckBox* box : rcb->optFieldBoxes())
        connect(box, &QCheckBox::clicked, this,
                [this, box](bool on) { guarded([&] { OptFldsCBClick(box->property("tag").toInt(), on); }); });
    connect(rcb->ReportIDEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { // ReportIDEditChange
                const int i = rcb->RCBComboBox->currentIndex();
                if (filling() || i < 0 || !parser_) return;
                if (text.size() > 64) return rcb->ReportIDEdit->setText(text.left(64));
                guarded([&] {
                    TRCBConfig b = parser_->GetRCB(i);
                    b.RptID = s(text);
                    parser_->SetRCB(i, b);
                });
            });
    rcbField(rcb->RCBConfRevEdit, [](TRCBConfig& b, uint64_t v) { b.ConfRev = static_cast<uint32_t>(v); });
    rcbField(rcb->RCBBufferingTimeEdit,
             [](TRCBConfig& b, uint64_t v) { b.BufTime = static_cast<uint32_t>(v); });
    rcbField(rcb->RCBIntegrityPeriodEdit,
             [](TRCBConfig& b, uint64_t v) { b.IntgPd = static_cast<uint32_t>(v); });
}

void Iec61850Page::RCBDSComboBoxChange() {
    const int i = rcb->RCBComboBox->currentIndex();
    const int item = rcb->RCBDSComboBox->currentIndex();
    if (i < 0 || item < 0 || !parser_) return;
    TRCBConfig b = parser_->GetRCB(i);
    const int slot =
        item < static_cast<int>(rcbDsSlots_.size()) ? rcbDsSlots_[static_cast<size_t>(item)] : -1;
    b.DataSetIndex = static_cast<uint8_t>(slot + 1);
    ++b.ConfRev;
    parser_->SetRCB(i, b);
    showRCB(i);
}

void Iec61850Page::TrgOptCBClick(int bit, bool checked) {
    const int i = rcb->RCBComboBox->currentIndex();
    if (i < 0 || !parser_) return;
    TRCBConfig b = parser_->GetRCB(i);
    b.TrgOps = static_cast<uint16_t>(checked ? b.TrgOps | bit : b.TrgOps & ~bit);
    parser_->SetRCB(i, b);
}

void Iec61850Page::OptFldsCBClick(int bit, bool checked) {
    const int i = rcb->RCBComboBox->currentIndex();
    if (i < 0 || !parser_) return;
    TRCBConfig b = parser_->GetRCB(i);
    b.OptFields = static_cast<uint16_t>(checked ? b.OptFields | bit : b.OptFields & ~bit);
    parser_->SetRCB(i, b);
}

void Iec61850Page::gcbHexField(QLineEdit* edit,
                               const std::function<void(TGCBConfig&, const QString&)>& store) {
    connect(edit, &QLineEdit::textChanged, this, [this, store](const QString& text) {
        const int i = goose->GCBComboBox->currentIndex();
        if (filling() || i < 0 || !parser_) return;
        guarded([&] {
            TGCBConfig b = parser_->GetGCB(i);
            store(b, text);
            parser_->SetGCB(i, b);
        });
    });
}

void Iec61850Page::niField(QLineEdit* edit, const std::function<void(TNIConfig&, uint64_t)>& store,
                           uint64_t max, bool emptyIsZero) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit, store, max, emptyIsZero](const QString& text) {
        const int i = goose->NIComboBox->currentIndex();
        if (filling() || i < 0 || !parser_) return;
        RuledText r = max == MaxUnsigned32 ? unsigned32(text) : clampedDecimal(text, max, emptyIsZero);
        markInvalid(edit, !r.valid);
        if (!r.valid) return;
        if (r.text != text) return edit->setText(r.text);
        guarded([&] {
            TNIConfig n = parser_->GetNI(i);
            store(n, r.value);
            parser_->SetNI(i, n);
        });
    });
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
        if (edit->property("invalid").toBool())
            guarded([this] { showNI(goose->NIComboBox->currentIndex()); });
    });
}

void Iec61850Page::connectGooseHandlers() {
    Iec61850GooseTab* g = goose;
    connect(g->GCBComboBox, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!filling()) guarded([&] { showGCB(i); });
    });
    connect(g->NIComboBox, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!filling()) guarded([&] { showNI(i); });
    });

    gcbHexField(g->GCBGOOSEIDEdit, [](TGCBConfig& b, const QString& t) { b.GoID = s(t); });
    // A MAC address is stored once all six octets are there: a half-typed one is no address.
    connect(g->GCBMaskEdit, &QLineEdit::textChanged, this, [this, g](const QString& text) {
        const int i = g->GCBComboBox->currentIndex();
        if (filling() || i < 0 || !parser_) return;
        markInvalid(g->GCBMaskEdit, !g->GCBMaskEdit->hasAcceptableInput());
        if (!g->GCBMaskEdit->hasAcceptableInput()) return;
        guarded([&] {
            TGCBConfig b = parser_->GetGCB(i);
            b.DstMAC = TextToMAC(s(text));
            parser_->SetGCB(i, b);
        });
    });
    connect(g->GCBMaskEdit, &QLineEdit::editingFinished, this, [this, g] {
        if (g->GCBMaskEdit->property("invalid").toBool())
            guarded([this, g] { showGCB(g->GCBComboBox->currentIndex()); });
    });
    connect(g->GCBVLANIDEdit, &QLineEdit::textChanged, this, [this, g](const QString& text) {
        if (filling() || g->GCBComboBox->currentIndex() < 0) return;
        if (text.size() > 3) g->GCBVLANIDEdit->setText(text.left(3));
    });
    gcbHexField(g->GCBVLANIDEdit, [](TGCBConfig& b, const QString& t) {
        b.VLANID = static_cast<uint16_t>(HexToInt(s(cut(t, 3))));
    });
    connect(g->GCBVLANPrioEdit, &QLineEdit::textChanged, this, [this, g](const QString& text) {
        if (filling() || g->GCBComboBox->currentIndex() < 0) return;
        RuledText r = clampedDecimal(text, 7, true);
        if (r.valid && r.text != text) g->GCBVLANPrioEdit->setText(r.text);
    });
    gcbHexField(g->GCBVLANPrioEdit, [](TGCBConfig& b, const QString& t) {
        b.VLANPriority = static_cast<uint8_t>(std::min<uint64_t>(HexToInt(s(t)), 7));
    });
    connect(g->GCBAppIDEdit, &QLineEdit::textChanged, this, [this, g](const QString& text) {
        if (filling() || g->GCBComboBox->currentIndex() < 0) return;
        RuledText r = appID(text);
        if (r.text != text) g->GCBAppIDEdit->setText(r.text);
    });
    gcbHexField(g->GCBAppIDEdit,
                [](TGCBConfig& b, const QString& t) { b.AppID = static_cast<uint16_t>(appID(t).value); });
    auto gcbChoice = [this, g](QComboBox* box, const std::function<void(TGCBConfig&, int)>& store) {
        connect(box, &QComboBox::activated, this, [this, g, store](int item) {
            const int i = g->GCBComboBox->currentIndex();
            if (i < 0 || !parser_) return;
            guarded([&] {
                TGCBConfig b = parser_->GetGCB(i);
                store(b, item);
                parser_->SetGCB(i, b);
            });
        });
    };
    gcbChoice(g->GCBTestComboBox, [](TGCBConfig& b, int item) { b.Test = item == 1; });
    gcbChoice(g->GCBEnabledComboBox, [](TGCBConfig& b, int item) { b.Enabled = item == 1; });
    gcbChoice(g->GCBInterfaceComboBox,
              [](TGCBConfig& b, int item) { b.Interface = static_cast<uint8_t>(item + 1); });

    auto niText = [this, g](QLineEdit* edit, const std::function<void(TNIConfig&, const QString&)>& store) {
        connect(edit, &QLineEdit::textChanged, this, [this, g, store](const QString& text) {
            const int i = g->NIComboBox->currentIndex();
            if (filling() || i < 0 || !parser_) return;
            guarded([&] {
                TNIConfig n = parser_->GetNI(i);
                store(n, text);
                parser_->SetNI(i, n);
            });
        });
    };
    niText(g->NIGOOSEIDEdit, [](TNIConfig& n, const QString& t) { n.GoID = s(t); });
    connect(g->NIMaskEdit, &QLineEdit::textChanged, this, [this, g](const QString& text) {
        const int i = g->NIComboBox->currentIndex();
        if (filling() || i < 0 || !parser_) return;
        markInvalid(g->NIMaskEdit, !g->NIMaskEdit->hasAcceptableInput());
        if (!g->NIMaskEdit->hasAcceptableInput()) return;
        guarded([&] {
            TNIConfig n = parser_->GetNI(i);
            n.DstMAC = TextToMAC(s(text));
            parser_->SetNI(i, n);
        });
    });
    connect(g->NIMaskEdit, &QLineEdit::editingFinished, this, [this, g] {
        if (g->NIMaskEdit->property("invalid").toBool())
            guarded([this, g] { showNI(g->NIComboBox->currentIndex()); });
    });
    connect(g->NIAPPIDEdit, &QLineEdit::textChanged, this, [this, g](const QString& text) {
        if (filling() || g->NIComboBox->currentIndex() < 0) return;
        RuledText r = appID(text);
        if (r.text != text) g->NIAPPIDEdit->setText(r.text);
    });
    niText(g->NIAPPIDEdit,
           [](TNIConfig& n, const QString& t) { n.AppID = static_cast<uint16_t>(appID(t).value); });
    niField(
        g->NIConfRevEdit, [](TNIConfig& n, uint64_t v) { n.ConfRev = static_cast<uint32_t>(v); },
        MaxUnsigned32, false);
    // The unit keeps both indexes in one register each.
    niField(
        g->NIDataIndexEdit, [](TNIConfig& n, uint64_t v) { n.DataIndex = static_cast<uint16_t>(v); }, 65535,
        true);
    niField(
        g->NIBitIndexEdit, [](TNIConfig& n, uint64_t v) { n.BitIndex = static_cast<uint16_t>(v); }, 65535,
        true);
    auto niChoice = [this, g](QComboBox* box, const std::function<void(TNIConfig&, int)>& store) {
        connect(box, &QComboBox::activated, this, [this, g, store](int item) {
            const int i = g->NIComboBox->currentIndex();
            if (i < 0 || !parser_) return;
            guarded([&] {
                TNIConfig n = parser_->GetNI(i);
                store(n, item);
                parser_->SetNI(i, n);
            });
        });
    };
    niChoice(g->NIEnaComboBox, [](TNIConfig& n, int item) { n.Enabled = item == 1; });
    niChoice(g->NIInvertedComboBox, [](TNIConfig& n, int item) { n.Inverted = item == 1; });
}

// ---- filling the tabs -------------------------------------------------------------------------

void Iec61850Page::fillDataSetLists(const std::vector<std::pair<int, std::string>>& entries) {
    rcb->RCBDSComboBox->clear();
    rcb->RCBDSComboBox->addItem("None");
    dataSets->DSListBox->clear();
    dsSlots_.clear();
    rcbDsSlots_.assign(1, -1);
    for (const auto& [slot, text] : entries) {
        rcb->RCBDSComboBox->addItem(q(text));
        dataSets->DSListBox->addItem(q(text));
        dsSlots_.push_back(slot);
        rcbDsSlots_.push_back(slot);
    }
}

void Iec61850Page::fillExtRefMenu() {
    QMenu* menu = goose->ExtRefMenu;
    menu->clear();
    for (int k = 0; k < parser_->ExtRefCount(); ++k) {
        const TExtRefDesc d = parser_->GetExtRef(k).Desc;
        std::string caption = d.IEDName + d.LDInst + "/" + d.Prefix + d.LNClass + d.LNInst + "." + d.DOName;
        if (!d.DAName.empty()) caption += "." + d.DAName;
        if (!d.GoCBRef.empty()) caption += " sent by " + d.GoCBRef;
        QAction* a = menu->addAction(q(caption));
        a->setObjectName(QString("ExtRef%1").arg(k));
        connect(a, &QAction::triggered, this, [this, k] { guarded([&] { OnExtRefClick(k); }); });
    }
    goose->ExtRefButton->setEnabled(parser_->ExtRefCount() > 0);
}

void Iec61850Page::showServerTexts(const ServerFieldTexts& t) {
    server->IEDNameEdit->setText(q(t.iedName));
    server->KeepAliveEdit->setText(q(t.keepAlive));
    server->IPEdit->setText(q(t.ip[0]));
    server->MaskEdit->setText(q(t.mask[0]));
    server->GWEdit->setText(q(t.gateway[0]));
    server->IP2Edit->setText(q(t.ip[1]));
    server->Mask2Edit->setText(q(t.mask[1]));
    server->GW2Edit->setText(q(t.gateway[1]));
    server->MaskEdit1->setText(timeServerFieldText(q(t.timeServer)));
    server->AEQEdit->setText(q(t.aeQualifier));
    server->APIDEdit->setText(q(t.apTitle));
    server->TSelEdit->setText(q(t.tsel));
    server->SSelEdit->setText(q(t.ssel));
    server->PSelEdit->setText(q(t.psel));
}

void Iec61850Page::refreshFromParser() {
    if (!parser_) return;
    const TICDParser& p = *parser_;
    {
        Filling f(*this);
        showServerTexts(ServerFieldTextsFromParser(p));
        server->TwoAPCheckBox->setChecked(p.TwoAccessPoints);

        std::vector<std::pair<int, std::string>> entries;
        for (int slot = 0; slot < DataSetSlots; ++slot)
            if (p.GetDataSet(slot).Count != 0) entries.emplace_back(slot, p.DataSetFullName(slot));
        fillDataSetLists(entries);

        rcb->RCBComboBox->clear();
        for (int i = 0; i < p.RCBCount(); ++i) rcb->RCBComboBox->addItem(q(p.GetRCB(i).Name));
        goose->GCBComboBox->clear();
        for (int i = 0; i < p.GCBCount(); ++i) goose->GCBComboBox->addItem(q(p.GetGCB(i).Name));
        goose->NIComboBox->clear();
        for (int i = 0; i < p.NICount(); ++i) goose->NIComboBox->addItem(q(p.GetNI(i).Name));
        for (QComboBox* c : {rcb->RCBComboBox, goose->GCBComboBox, goose->NIComboBox})
            c->setCurrentIndex(c->count() > 0 ? 0 : -1);
        fillExtRefMenu();
    }
    showRCB(rcb->RCBComboBox->currentIndex());
    DSListBoxClick();
    showGCB(goose->GCBComboBox->currentIndex());
    showNI(goose->NIComboBox->currentIndex());
    updateDataSetActions();
}

void Iec61850Page::refreshFromSettings(const Struct61850Settings& st) {
    {
        Filling f(*this);
        showServerTexts(ServerFieldTextsFromSettings(st));
        server->CheckAddrCheckBox->setChecked(st.CheckUpperAddresses != 0);

        std::vector<std::pair<int, std::string>> entries;
        for (int slot = 0; slot < DataSetSlots; ++slot)
            if (st.DataSet[static_cast<size_t>(slot)].Count != 0)
                entries.emplace_back(slot, st.DataSet[static_cast<size_t>(slot)].Name);
        fillDataSetLists(entries);

        rcb->RCBComboBox->clear();
        for (int i = 0; i < st.RCBCount && i < UnitRCBs; ++i)
            rcb->RCBComboBox->addItem(q(st.RCB[static_cast<size_t>(i)].Name));
        goose->GCBComboBox->clear();
        for (const TGCBConfig& b : st.GCB) goose->GCBComboBox->addItem(q(b.Name));
        goose->NIComboBox->clear();
        for (const TNIConfig& n : st.NI) goose->NIComboBox->addItem(q(n.Name));
        for (QComboBox* c : {rcb->RCBComboBox, goose->GCBComboBox, goose->NIComboBox})
            c->setCurrentIndex(c->count() > 0 ? 0 : -1);
    }
    showRCB(rcb->RCBComboBox->currentIndex());
    DSListBoxClick();
    showGCB(goose->GCBComboBox->currentIndex());
    showNI(goose->NIComboBox->currentIndex());
    updateDataSetActions();
}

void Iec61850Page::clearEditorTabs() {
    Filling f(*this);
    for (QLineEdit* e : {server->IEDNameEdit, server->APIDEdit, server->AEQEdit, server->PSelEdit,
                         server->SSelEdit, server->TSelEdit, server->KeepAliveEdit})
        e->setText("0");
    rcb->RCBComboBox->clear();
    rcb->RCBDSComboBox->clear();
    dsSlots_.clear();
    rcbDsSlots_.clear();
    for (QLineEdit* e :
         {rcb->ReportIDEdit, rcb->RCBConfRevEdit, rcb->RCBBufferingTimeEdit, rcb->RCBIntegrityPeriodEdit})
        e->setText("");
    for (QCheckBox* b : rcb->trgOptBoxes()) b->setChecked(false);
    for (QCheckBox* b : rcb->optFieldBoxes()) b->setChecked(false);
    dataSets->DSListBox->clear();
    dataSets->ElementsListBox->clear();
    goose->GCBComboBox->clear();
    goose->GCBMaskEdit->setText("  -  -  -  -  -  ");
    for (QLineEdit* e :
         {goose->GCBVLANIDEdit, goose->GCBVLANPrioEdit, goose->GCBAppIDEdit, goose->GCBGOOSEIDEdit})
        e->setText("");
    goose->NIComboBox->clear();
    goose->NIMaskEdit->setText("  -  -  -  -  -  ");
    for (QLineEdit* e : {goose->NIAPPIDEdit, goose->NIConfRevEdit, goose->NIGOOSEIDEdit,
                         goose->NIDataIndexEdit, goose->NIBitIndexEdit})
        e->setText("");
    for (QLineEdit* e : findChildren<QLineEdit*>()) markInvalid(e, false);
    updateDataSetActions();
}

void Iec61850Page::showRCB(int i) {
    // A model without report control blocks has nothing to show.
    if (!parser_ || i < 0 || i >= parser_->RCBCount()) return;
    const TRCBConfig b = parser_->GetRCB(i);
    Filling f(*this);
    rcb->ReportIDEdit->setText(q(b.RptID));
    int item = 0;
    for (size_t k = 1; k < rcbDsSlots_.size(); ++k)
        if (rcbDsSlots_[k] + 1 == b.DataSetIndex) item = static_cast<int>(k);
    rcb->RCBDSComboBox->setCurrentIndex(item < rcb->RCBDSComboBox->count() ? item : 0);
    rcb->RCBConfRevEdit->setText(QString::number(b.ConfRev));
    rcb->RCBBufferingTimeEdit->setText(QString::number(b.BufTime));
    rcb->RCBIntegrityPeriodEdit->setText(QString::number(b.IntgPd));
    for (QCheckBox* box : rcb->trgOptBoxes()) box->setChecked(b.TrgOps & box->property("tag").toInt());
    for (QCheckBox* box : rcb->optFieldBoxes()) box->setChecked(b.OptFields & box->property("tag").toInt());
    // Only a buffered block has a buffer to overflow and entries to number.
    for (QCheckBox* box : {rcb->bufOvflCB, rcb->entryIDCB}) {
        box->setEnabled(b.Buffered);
        if (!b.Buffered) box->setChecked(false);
    }
    rcb->RCBBufferingTimeEdit->setEnabled(b.Buffered);
    for (QLineEdit* e : {rcb->RCBConfRevEdit, rcb->RCBBufferingTimeEdit, rcb->RCBIntegrityPeriodEdit})
        markInvalid(e, false);
}

void Iec61850Page::showGCB(int i) {
    if (!parser_ || i < 0 || i >= parser_->GCBCount()) return;
    const TGCBConfig b = parser_->GetGCB(i);
    Filling f(*this);
    goose->GCBGOOSEIDEdit->setText(q(b.GoID));
    goose->GCBAppIDEdit->setText(q(ToHex(b.AppID, 4)));
    goose->GCBVLANIDEdit->setText(q(ToHex(b.VLANID, 3)));
    goose->GCBVLANPrioEdit->setText(q(ToHex(b.VLANPriority, 1)));
    goose->GCBMaskEdit->setText(q(MACToText(b.DstMAC)));
    goose->GCBTestComboBox->setCurrentIndex(b.Test ? 1 : 0);
    goose->GCBEnabledComboBox->setCurrentIndex(b.Enabled ? 1 : 0);
    goose->GCBInterfaceComboBox->setCurrentIndex(b.Interface >= 1 && b.Interface <= 3 ? b.Interface - 1 : -1);
    markInvalid(goose->GCBMaskEdit, false);
}

void Iec61850Page::showNI(int i) {
    if (!parser_ || i < 0 || i >= parser_->NICount()) return;
    const TNIConfig n = parser_->GetNI(i);
    Filling f(*this);
    goose->NIGOOSEIDEdit->setText(q(n.GoID));
    goose->NIAPPIDEdit->setText(q(ToHex(n.AppID, 4)));
    goose->NIConfRevEdit->setText(QString::number(n.ConfRev));
    goose->NIDataIndexEdit->setText(QString::number(n.DataIndex));
    goose->NIBitIndexEdit->setText(QString::number(n.BitIndex));
    goose->NIMaskEdit->setText(q(MACToText(n.DstMAC)));
    goose->NIEnaComboBox->setCurrentIndex(n.Enabled ? 1 : 0);
    goose->NIInvertedComboBox->setCurrentIndex(n.Inverted ? 1 : 0);
    for (QLineEdit* e :
         {goose->NIConfRevEdit, goose->NIDataIndexEdit, goose->NIBitIndexEdit, goose->NIMaskEdit})
        markInvalid(e, false);
}

// ---- network input status ---------------------------------------------------------------------

void Iec61850Page::updateNIStatus(int32_t flags, const std::array<int32_t, 16>& status) {
    for (int k = 0; k < 16; ++k) {
        const int32_t st = status[static_cast<size_t>(k)];
        const bool set = (flags >> k) & 1;
        QLabel* name = goose->lblNI[static_cast<size_t>(k)];
        QPalette p = name->palette();
        p.setColor(QPalette::Window, st != 0 ? QColor(Qt::yellow)
                                     : set   ? QColor(Qt::red)
                                             : QColor(Qt::green));
        name->setPalette(p);
        const char* text = niStatusText(st);
        goose->lblNIStat[static_cast<size_t>(k)]->setText(text ? QString(text)
                                                               : QString("Unknown %1").arg(st));
    }
}

void Iec61850Page::clearNIStatus() {
    for (int k = 0; k < 16; ++k) {
        QLabel* name = goose->lblNI[static_cast<size_t>(k)];
        name->setPalette(QPalette());
        goose->lblNIStat[static_cast<size_t>(k)]->setText("");
    }
}

void Iec61850Page::passCompleted(const PassSnapshot& pass, const UnitStatusView&) {
    if (pass.networkInputs) {
        std::array<int32_t, 16> status{};
        std::copy(pass.networkInputs->status.begin(), pass.networkInputs->status.end(), status.begin());
        updateNIStatus(pass.networkInputs->flags, status);
    }
    if (pass.pass == 1 || VersionEdit->text().isEmpty()) {
        NamePlateTexts plate = NamePlateFromPass(pass);
        if (!plate.swRev.empty()) VersionEdit->setText(q(plate.swRev));
    }
}

void Iec61850Page::disconnected() {
    clearEditorTabs();
    clearNIStatus();
}

// ---- datasets ---------------------------------------------------------------------------------

void Iec61850Page::DSListBoxClick() {
    QListWidget* members = dataSets->ElementsListBox;
    members->clear();
    const int row = dataSets->DSListBox->currentRow();
    if (!parser_ || row < 0 || row >= static_cast<int>(dsSlots_.size())) return;
    const TDatasetConfig ds = parser_->GetDataSet(dsSlots_[static_cast<size_t>(row)]);
    for (size_t m = 0; m < ds.Members.size() && m < ds.Count; ++m) {
        const std::string text = parser_->MemberText(ds.Members[m]);
        // A code this model cannot name is shown as such, never as another object.
        members->addItem(text.empty()
                             ? QString("(not in this data model) code 0x%1").arg(q(ToHex(ds.Members[m], 8)))
                             : q(text));
    }
}

void Iec61850Page::updateDataSetActions() {
    const int row = dataSets->DSListBox->currentRow();
    bool editable = false;
    if (parser_ && row >= 0 && row < static_cast<int>(dsSlots_.size()) && row < DataSetSlots)
        editable = !parser_->GetDataSet(dsSlots_[static_cast<size_t>(row)]).Fixed;
    dataSets->EditDSAction->setEnabled(editable);
    dataSets->DeleteDSAction->setEnabled(editable);
    dataSets->AddDSAction->setEnabled(parser_ && row < DataSetSlots);
}

void Iec61850Page::AddDSActionExecute() {
    if (!parser_) return;
    const int slot = AddDataSet(*parser_, s(server->IEDNameEdit->text()), context_.window);
    if (slot < 0) return;
    const QString name = q(parser_->GetDataSet(slot).Name);
    dataSets->DSListBox->addItem(name);
    dsSlots_.push_back(slot);
    rcb->RCBDSComboBox->addItem(name);
    rcbDsSlots_.push_back(slot);
    dataSets->DSListBox->setCurrentRow(dataSets->DSListBox->count() - 1);
    DSListBoxClick();
    updateDataSetActions();
}

void Iec61850Page::EditDSActionExecute() {
    const int row = dataSets->DSListBox->currentRow();
    if (!parser_ || row < 0 || row >= static_cast<int>(dsSlots_.size())) return;
    const int slot = dsSlots_[static_cast<size_t>(row)];
    if (EditDataSet(*parser_, slot, s(server->IEDNameEdit->text()), context_.window) < 0) return;
    dataSets->DSListBox->item(row)->setText(q(parser_->GetDataSet(slot).Name));
    DSListBoxClick();
}

void Iec61850Page::DeleteDSActionExecute() {
    const int row = dataSets->DSListBox->currentRow();
    if (!parser_ || row < 0 || row >= static_cast<int>(dsSlots_.size())) return;
    const int slot = dsSlots_[static_cast<size_t>(row)];
    if (!parser_->DeleteDataSet(slot, prompts_.get())) return;
    // The slots after the deleted one moved down by one.
    auto shift = [slot](std::vector<int>& rows) {
        for (int& k : rows)
            if (k > slot) --k;
    };
    {
        Filling f(*this);
        delete dataSets->DSListBox->takeItem(row);
        dsSlots_.erase(dsSlots_.begin() + row);
        rcb->RCBDSComboBox->removeItem(row + 1);
        rcbDsSlots_.erase(rcbDsSlots_.begin() + row + 1);
        shift(dsSlots_);
        shift(rcbDsSlots_);
        const int count = dataSets->DSListBox->count();
        dataSets->DSListBox->setCurrentRow(row < count ? row : count - 1);
    }
    DSListBoxClick();
    showRCB(rcb->RCBComboBox->currentIndex());
    updateDataSetActions();
}

void Iec61850Page::OnExtRefClick(int k) {
    const int n = goose->NIComboBox->currentIndex();
    if (!parser_ || n < 0) return;
    const TExtRefConfig e = parser_->GetExtRef(k);
    TNIConfig b = parser_->GetNI(n);
    b.DstMAC = e.Addr.DstMAC;
    b.ConfRev = e.Addr.ConfRev;
    b.AppID = e.Addr.AppID;
    b.GoID = e.Addr.GoID;
    b.DataIndex = e.Addr.DataIndex;
    b.BitIndex = 0;
    b.Source = e.Desc;
    parser_->SetNI(n, b);
    showNI(n);
}

// ---- notes ------------------------------------------------------------------------------------

void Iec61850Page::setNotes(const std::vector<std::string>& notes, const QString& what) {
    NotesList->clear();
    for (const std::string& n : notes) NotesList->addItem(q(n));
    const bool any = !notes.empty();
    NotesLabel->setText(any ? QString("%1: left out or not read as written (%2)").arg(what).arg(notes.size())
                            : QString());
    NotesLabel->setVisible(any);
    NotesList->setVisible(any);
}

QStringList Iec61850Page::notes() const {
    QStringList out;
    for (int i = 0; i < NotesList->count(); ++i) out << NotesList->item(i)->text();
    return out;
}

// ---- files ------------------------------------------------------------------------------------

void Iec61850Page::cmdLoadFileClick() {
    if (!parser_) return;
    QFileDialog dialog(
        context_.window, "Open ICD/CID File", programFolder() + "/resources",
        "Configured Description File (*.cid *.CID);;Capability Description File (*.icd *.ICD)");
    dialog.setObjectName("OpenICDDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString file = dialog.selectedFiles().first();
    try {
        parser_->ImportFile(s(file), prompts_.get());
    } catch (const std::exception& e) {
        errorMessage(QString("%1 could not be loaded:\n%2").arg(file, QString::fromUtf8(e.what())),
                     context_.window);
        return;
    }
    guarded([this] { refreshFromParser(); });
    const std::vector<std::string> warnings = parser_->Warnings();
    setNotes(warnings, QFileInfo(file).fileName());
    if (!warnings.empty())
        showMessage(QString("%1 was loaded. %2 of its parts were left out or could not be read as written; "
                            "they are listed under the tabs.")
                        .arg(QFileInfo(file).fileName())
                        .arg(warnings.size()),
                    "Load from CID/ICD File", MessageOk, context_.window);
}

void Iec61850Page::cmdSaveFileClick() {
    QFileDialog dialog(context_.window, "Save ICD File", programFolder(), "ICD File (*.icd *.ICD)");
    dialog.setObjectName("SaveICDDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("icd");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !parser_) return;
    const QString file = dialog.selectedFiles().first();
    try {
        TakeServerFieldsForSave(*parser_, serverTexts());
        // The name plate: the connected unit's serial number and model by their register labels,
        // the firmware version the page shows.
        Monitor_Thread* engine = context_.connection ? context_.connection->monitor() : nullptr;
        PassSnapshotPtr pass = engine ? engine->lastPass() : nullptr;
        SetNamePlate(*parser_, pass.get(), s(VersionEdit->text()));
        parser_->SaveICD(s(file));
    } catch (const std::exception& e) {
        errorMessage(QString("%1 was not saved:\n%2").arg(file, QString::fromUtf8(e.what())),
                     context_.window);
    }
}

ServerFieldTexts Iec61850Page::serverTexts() const {
    ServerFieldTexts t;
    t.timeServer = s(server->MaskEdit1->text());
    t.iedName = s(server->IEDNameEdit->text());
    t.keepAlive = s(server->KeepAliveEdit->text());
    t.apTitle = s(server->APIDEdit->text());
    t.aeQualifier = s(server->AEQEdit->text());
    t.psel = s(server->PSelEdit->text());
    t.ssel = s(server->SSelEdit->text());
    t.tsel = s(server->TSelEdit->text());
    t.checkUpperAddresses = server->CheckAddrCheckBox->isChecked();
    t.ip = {s(server->IPEdit->text()), s(server->IP2Edit->text())};
    t.mask = {s(server->MaskEdit->text()), s(server->Mask2Edit->text())};
    t.gateway = {s(server->GWEdit->text()), s(server->GW2Edit->text())};
    return t;
}

// ---- transfers --------------------------------------------------------------------------------

QString Iec61850Page::linkText() const {
    return context_.connection ? q(linkName(context_.connection->settings())) : QString();
}

void Iec61850Page::beginTransfer(const QString& caption, int maximum, Transfer& t) {
    t.token = nextToken_++;
    t.generation = context_.connection->generation();
    transferInProgress = true;
    auto* progress = new TProgressF(context_.window, caption, maximum);
    const uint64_t token = t.token;
    progress->setCancellable([this, token] { cancelTransfer(token); });
    t.progress = progress;
    for (QWidget* w : {static_cast<QWidget*>(ButtonPanel), static_cast<QWidget*>(Pag61850)})
        w->setEnabled(false);
    progress->show();
}

void Iec61850Page::endTransfer(uint64_t token) {
    if (!transfer_ || transfer_->token != token) return;
    // Hidden, not closed: closing a dialog rejects it, and its reject is the Cancel.
    if (transfer_->progress) {
        transfer_->progress->hide();
        transfer_->progress->deleteLater();
    }
    transfer_.reset();
    transferInProgress = false;
    for (QWidget* w : {static_cast<QWidget*>(ButtonPanel), static_cast<QWidget*>(Pag61850)})
        w->setEnabled(true);
}

void Iec61850Page::cancelTransfer(uint64_t token) {
    if (!transfer_ || transfer_->token != token) return;
    // An ended connection stops its requests itself.
    if (!context_.connection->isCurrent(transfer_->generation)) return;
    if (Monitor_Thread* engine = context_.connection->monitor()) engine->cancel(transfer_->id);
}

void Iec61850Page::transferProgress(uint64_t token, const RequestProgress& p) {
    if (!transfer_ || transfer_->token != token || !transfer_->progress) return;
    if (!p.text.empty()) transfer_->progress->setWindowTitle(q(p.text));
    if (p.total > 0) transfer_->progress->setMaximum(p.total);
    transfer_->progress->setPosition(p.done);
}

void Iec61850Page::cmdLoadUnitClick() {
    if (transfer_) return;
    Monitor_Thread* engine = context_.connection ? context_.connection->requestTarget() : nullptr;
    if (!engine) {
        showMessage("Load from KT-740 needs a unit connected over Modbus. Connect the unit and try again.",
                    LoadTitle, MessageOk, context_.window);
        return;
    }
    if (!parser_) return;
    Transfer t;
    beginTransfer(ReadProgressCaption, ReadProgressSteps, t);
    const uint64_t token = t.token;
    QPointer<Iec61850Page> self(this);
    transfer_ = t;
    transfer_->id = submitRead61850(
        *engine,
        [self, token](Settings61850Read r) {
            if (self) self->readDone(token, std::move(r));
        },
        [self, token](const RequestProgress& p) {
            if (self) self->transferProgress(token, p);
        });
}

void Iec61850Page::readDone(uint64_t token, Settings61850Read r) {
    const uint64_t generation = transfer_ && transfer_->token == token ? transfer_->generation : 0;
    endTransfer(token);
    if (!r.ok()) {
        // Nothing read reaches the model or the tabs.
        const bool cancelled = r.read.cancelled && r.read.failure.link.status != LinkStatus::Aborted;
        showMessage(q(describe(r.read, s(linkText()))), cancelled ? LoadTitle : ReadFailedTitle, MessageOk,
                    context_.window);
        return;
    }
    // A read of a connection that has ended meanwhile is no longer what the window shows.
    if (!context_.connection->isCurrent(generation) || !parser_) return;
    std::vector<std::string> notes;
    try {
        notes = ApplyReadSettings(*parser_, r.settings);
    } catch (const std::exception& e) {
        errorMessage(QString::fromUtf8(e.what()), context_.window);
        return;
    }
    guarded([&] { refreshFromSettings(r.settings); });
    setNotes(notes, "KT-740");
    if (!notes.empty())
        showMessage(
            QString("%1 data set member%2 of KT-740 %3 not in this data model; they are listed under the "
                    "tabs.")
                .arg(notes.size())
                .arg(notes.size() == 1 ? "" : "s")
                .arg(notes.size() == 1 ? "is" : "are"),
            LoadTitle, MessageOk, context_.window);
}

void Iec61850Page::cmdWriteUnitClick() {
    if (transfer_) return;
    if (!context_.connection || !context_.connection->requestTarget()) {
        showMessage("Write to KT-740 needs a unit connected over Modbus. Connect the unit and try again.",
                    WriteTitle, MessageOk, context_.window);
        return;
    }
    if (!parser_) return;
    if (showMessage(WriteQuestionText, WriteTitle, MessageYesNo, context_.window) != MessageResult::Yes)
        return;

    const ServerFieldTexts texts = serverTexts();
    Struct61850Settings settings;
    try {
        // Refused fields (a time-server octet above 255, a keep-alive that is no number...) stop
        // the command here, before anything is sent.
        settings = BuildWriteSettings(texts, *parser_);
    } catch (const std::exception& e) {
        showMessage(QString("Nothing was written to KT-740:\n%1").arg(QString::fromUtf8(e.what())),
                    WriteTitle, MessageOk, context_.window);
        return;
    }
    // The question ran the event loop: the connection may have ended meanwhile.
    Monitor_Thread* engine = context_.connection->requestTarget();
    if (!engine) {
        showMessage("The unit was disconnected; nothing was written to KT-740.", WriteTitle, MessageOk,
                    context_.window);
        return;
    }
    Transfer t;
    beginTransfer(WriteProgressCaption, WriteProgressSteps, t);
    const uint64_t token = t.token;
    QPointer<Iec61850Page> self(this);
    transfer_ = t;
    transfer_->id = submitWrite61850(
        *engine, std::move(settings),
        [self, token](Write61850Result w) {
            if (self) self->writeDone(token, w);
        },
        [self, token](const RequestProgress& p) {
            if (self) self->transferProgress(token, p);
        });
}

void Iec61850Page::writeDone(uint64_t token, const Write61850Result& w) {
    endTransfer(token);
    // What went through and what did not, also when the connection ended meanwhile.
    showMessage(q(describe(w, s(linkText()))), WriteTitle, MessageOk, context_.window);
}

} // namespace kt
