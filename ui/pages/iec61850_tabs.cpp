#include "ui/pages/iec61850_tabs.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace kt {

namespace {

// Hex keys: digits and A-F in either case, shown in upper case; every other key is dropped.
class HexValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        for (QChar c : input)
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return Invalid;
        return Acceptable;
    }
};

void digitsOnly(QLineEdit* e) {
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
}

void hexKeys(QLineEdit* e) {
    e->setValidator(new HexValidator(e));
}

template <class W> W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

// A field with its label in the next row of `grid`; the label is the field's accessible name.
template <class W> W* field(QWidget* owner, QGridLayout* grid, const char* name, const char* caption) {
    auto* w = named(new W(owner), name);
    auto* label = new QLabel(caption, owner);
    label->setBuddy(w);
    w->setAccessibleName(caption);
    const int row = grid->rowCount();
    grid->addWidget(label, row, 0);
    grid->addWidget(w, row, 1);
    return w;
}

QComboBox* choices(QWidget* owner, QGridLayout* grid, const char* name, const char* caption,
                   const QStringList& items) {
    auto* c = field<QComboBox>(owner, grid, name, caption);
    c->addItems(items);
    return c;
}

QCheckBox* bitBox(QGroupBox* group, QVBoxLayout* column, const char* name, const char* caption, int bit) {
    auto* b = named(new QCheckBox(caption, group), name);
    b->setProperty("tag", bit);
    column->addWidget(b);
    return b;
}

} // namespace

Iec61850ServerTab::Iec61850ServerTab(QWidget* parent) : QWidget(parent) {
    setObjectName("tabServer");
    grpServer = named(new QGroupBox("Main Configuration", this), "grpServer");
    auto* main = new QGridLayout;
    IEDNameEdit = field<QLineEdit>(grpServer, main, "IEDNameEdit", "IED Name");
    IEDNameEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[A-Za-z0-9_]*"), IEDNameEdit));

    auto addresses = [this](const char* group, const char* title, const char* ip, const char* mask,
                            const char* gw, QLineEdit*& ipEdit, QLineEdit*& maskEdit, QLineEdit*& gwEdit) {
        auto* box = named(new QGroupBox(title, grpServer), group);
        auto* g = new QGridLayout(box);
        ipEdit = field<QLineEdit>(box, g, ip, "IP");
        maskEdit = field<QLineEdit>(box, g, mask, "Mask");
        gwEdit = field<QLineEdit>(box, g, gw, "Gateway");
        // Two groups hold the same captions: say which interface in the accessible names.
        for (QLineEdit* e : {ipEdit, maskEdit, gwEdit})
            e->setAccessibleName(QString(title) + " " + e->accessibleName());
        return box;
    };
    GroupBox7 =
        addresses("GroupBox7", "Interface 1", "IPEdit", "MaskEdit", "GWEdit", IPEdit, MaskEdit, GWEdit);
    GroupBox8 =
        addresses("GroupBox8", "Interface 2", "IP2Edit", "Mask2Edit", "GW2Edit", IP2Edit, Mask2Edit, GW2Edit);

    auto* osi = new QGridLayout;
    APIDEdit = field<QLineEdit>(grpServer, osi, "APIDEdit", "AP ID");
    AEQEdit = field<QLineEdit>(grpServer, osi, "AEQEdit", "AE Qualifier");
    digitsOnly(AEQEdit);
    PSelEdit = field<QLineEdit>(grpServer, osi, "PSelEdit", "Presentation Selector (hex)");
    SSelEdit = field<QLineEdit>(grpServer, osi, "SSelEdit", "Session Selector (hex)");
    TSelEdit = field<QLineEdit>(grpServer, osi, "TSelEdit", "Transport Selector (hex)");
    for (QLineEdit* e : {PSelEdit, SSelEdit, TSelEdit}) hexKeys(e);
    MaskEdit1 = field<QLineEdit>(grpServer, osi, "MaskEdit1", "Time server");
    // Four three-character fields; a blank field is no time server.
    MaskEdit1->setInputMask("000.000.000.000; ");
    KeepAliveEdit = field<QLineEdit>(grpServer, osi, "KeepAliveEdit", "Keep Alive");
    KeepAliveEdit->setToolTip("Keep Alive interval for 61850 in seconds");
    digitsOnly(KeepAliveEdit);
    CheckAddrCheckBox = named(new QCheckBox("Check Upper Addresses", grpServer), "CheckAddrCheckBox");
    TwoAPCheckBox = named(new QCheckBox("Two Access Points", grpServer), "TwoAPCheckBox");
    osi->addWidget(CheckAddrCheckBox, osi->rowCount(), 1);
    osi->addWidget(TwoAPCheckBox, osi->rowCount(), 1);

    auto* interfaces = new QHBoxLayout;
    interfaces->addWidget(GroupBox7);
    interfaces->addWidget(GroupBox8);
    auto* left = new QVBoxLayout;
    left->addLayout(main);
    left->addLayout(interfaces);
    left->addStretch(1);
    auto* columns = new QHBoxLayout(grpServer);
    columns->addLayout(left, 3);
    columns->addLayout(osi, 2);
    auto* page = new QVBoxLayout(this);
    page->addWidget(grpServer);
    page->addStretch(1);
}

Iec61850RcbTab::Iec61850RcbTab(QWidget* parent) : QWidget(parent) {
    setObjectName("tabRCB");
    grpRCB = named(new QGroupBox("RCB Configuration", this), "grpRCB");
    auto* grid = new QGridLayout;
    RCBComboBox = field<QComboBox>(grpRCB, grid, "RCBComboBox", "RCB");
    RCBDSComboBox = field<QComboBox>(grpRCB, grid, "RCBDSComboBox", "Data Set");
    ReportIDEdit = field<QLineEdit>(grpRCB, grid, "ReportIDEdit", "Report ID");
    RCBConfRevEdit = field<QLineEdit>(grpRCB, grid, "RCBConfRevEdit", "Config Revision");
    RCBBufferingTimeEdit = field<QLineEdit>(grpRCB, grid, "RCBBufferingTimeEdit", "Buffering Time [ms]");
    RCBIntegrityPeriodEdit =
        field<QLineEdit>(grpRCB, grid, "RCBIntegrityPeriodEdit", "Integrity Period [ms]");
    for (QLineEdit* e : {RCBConfRevEdit, RCBBufferingTimeEdit, RCBIntegrityPeriodEdit}) digitsOnly(e);

    GroupBox4 = named(new QGroupBox("Triggering Options", grpRCB), "GroupBox4");
    auto* trg = new QVBoxLayout(GroupBox4);
    dchgCB = bitBox(GroupBox4, trg, "dchgCB", "Data Change", 2);
    qchgCB = bitBox(GroupBox4, trg, "qchgCB", "Quality Change", 4);
    dupdCB = bitBox(GroupBox4, trg, "dupdCB", "Data Update", 8);
    periodCB = bitBox(GroupBox4, trg, "periodCB", "Integrity", 16);
    giCB = bitBox(GroupBox4, trg, "giCB", "General Interrogation", 32);
    trg->addStretch(1);
    GroupBox5 = named(new QGroupBox("Option Fields", grpRCB), "GroupBox5");
    auto* opt = new QVBoxLayout(GroupBox5);
    seqNumCB = bitBox(GroupBox5, opt, "seqNumCB", "Sequence Number", 2);
    timeStampCB = bitBox(GroupBox5, opt, "timeStampCB", "Report Timestamp", 4);
    reasonCodeCB = bitBox(GroupBox5, opt, "reasonCodeCB", "Reason for Inclusion", 8);
    dataSetCB = bitBox(GroupBox5, opt, "dataSetCB", "Data Set Name", 16);
    dataRefCB = bitBox(GroupBox5, opt, "dataRefCB", "Data Reference", 32);
    bufOvflCB = bitBox(GroupBox5, opt, "bufOvflCB", "Buffer Overflow", 64);
    entryIDCB = bitBox(GroupBox5, opt, "entryIDCB", "Entry ID", 128);
    configRefCB = bitBox(GroupBox5, opt, "configRefCB", "Configuration Revision", 256);

    auto* fields = new QVBoxLayout;
    fields->addLayout(grid);
    fields->addStretch(1);
    auto* row = new QHBoxLayout(grpRCB);
    row->addLayout(fields, 2);
    row->addWidget(GroupBox4, 1);
    row->addWidget(GroupBox5, 1);
    auto* page = new QVBoxLayout(this);
    page->addWidget(grpRCB);
    page->addStretch(1);
}

Iec61850DataSetsTab::Iec61850DataSetsTab(QWidget* parent) : QWidget(parent) {
    setObjectName("tabDataSets");
    grpDataSets = named(new QGroupBox("Data Set Configuration", this), "grpDataSets");
    DSListBox = named(new QListWidget(grpDataSets), "DSListBox");
    ElementsListBox = named(new QListWidget(grpDataSets), "ElementsListBox");
    DSListBox->setAccessibleName("Data Sets");
    ElementsListBox->setAccessibleName("Data Set Members");
    EditDSAction = named(new QAction("Edit", this), "EditDSAction");
    DeleteDSAction = named(new QAction("Delete", this), "DeleteDSAction");
    AddDSAction = named(new QAction("Add", this), "AddDSAction");
    EditDSAction->setToolTip("Edit the selected data set");
    DeleteDSAction->setToolTip("Delete the selected data set");
    AddDSAction->setToolTip("Add a data set");
    auto button = [this](QAction* a, const char* name, QStyle::StandardPixmap icon) {
        auto* b = named(new QToolButton(grpDataSets), name);
        a->setIcon(style()->standardIcon(icon));
        b->setDefaultAction(a);
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        return b;
    };
    SpeedButton1 = button(EditDSAction, "SpeedButton1", QStyle::SP_FileDialogDetailedView);
    SpeedButton2 = button(DeleteDSAction, "SpeedButton2", QStyle::SP_TrashIcon);
    SpeedButton3 = button(AddDSAction, "SpeedButton3", QStyle::SP_FileDialogNewFolder);

    auto* left = new QVBoxLayout;
    auto* dsLabel = new QLabel("Data Sets", grpDataSets);
    dsLabel->setBuddy(DSListBox);
    left->addWidget(dsLabel);
    left->addWidget(DSListBox, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton3);
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton2);
    buttons->addStretch(1);
    left->addLayout(buttons);
    auto* right = new QVBoxLayout;
    auto* membersLabel = new QLabel("Data Set Members", grpDataSets);
    membersLabel->setBuddy(ElementsListBox);
    right->addWidget(membersLabel);
    right->addWidget(ElementsListBox, 1);
    auto* row = new QHBoxLayout(grpDataSets);
    row->addLayout(left, 1);
    row->addLayout(right, 2);
    auto* page = new QVBoxLayout(this);
    page->addWidget(grpDataSets);
}

Iec61850GooseTab::Iec61850GooseTab(QWidget* parent) : QWidget(parent) {
    setObjectName("tabGoose");
    const QStringList noYes{"No", "Yes"};
    const char* macMask = ">HH-HH-HH-HH-HH-HH; ";

    GroupBox10 = named(new QGroupBox("GCB Configuration", this), "GroupBox10");
    auto* gcb = new QGridLayout(GroupBox10);
    GCBComboBox = field<QComboBox>(GroupBox10, gcb, "GCBComboBox", "GCB");
    GCBVLANIDEdit = field<QLineEdit>(GroupBox10, gcb, "GCBVLANIDEdit", "VLAN ID (hex)");
    GCBVLANIDEdit->setToolTip("Value in Hex");
    hexKeys(GCBVLANIDEdit);
    GCBVLANPrioEdit = field<QLineEdit>(GroupBox10, gcb, "GCBVLANPrioEdit", "VLAN Priority (hex)");
    GCBVLANPrioEdit->setToolTip("Max value 7");
    digitsOnly(GCBVLANPrioEdit);
    GCBAppIDEdit = field<QLineEdit>(GroupBox10, gcb, "GCBAppIDEdit", "Application ID (hex)");
    hexKeys(GCBAppIDEdit);
    GCBGOOSEIDEdit = field<QLineEdit>(GroupBox10, gcb, "GCBGOOSEIDEdit", "GOOSE ID");
    GCBMaskEdit = field<QLineEdit>(GroupBox10, gcb, "GCBMaskEdit", "Destination MAC");
    GCBMaskEdit->setInputMask(macMask);
    GCBEnabledComboBox = choices(GroupBox10, gcb, "GCBEnabledComboBox", "Enabled", noYes);
    GCBInterfaceComboBox =
        choices(GroupBox10, gcb, "GCBInterfaceComboBox", "Interface", {"1", "2", "1 and 2"});
    GCBTestComboBox = choices(GroupBox10, gcb, "GCBTestComboBox", "Test", noYes);
    gcb->setRowStretch(gcb->rowCount(), 1);

    GroupBox11 = named(new QGroupBox("Network Input Configuration", this), "GroupBox11");
    auto* ni = new QGridLayout(GroupBox11);
    NIComboBox = field<QComboBox>(GroupBox11, ni, "NIComboBox", "NI");
    NIAPPIDEdit = field<QLineEdit>(GroupBox11, ni, "NIAPPIDEdit", "Application ID (hex)");
    hexKeys(NIAPPIDEdit);
    NIConfRevEdit = field<QLineEdit>(GroupBox11, ni, "NIConfRevEdit", "Config Revision");
    NIGOOSEIDEdit = field<QLineEdit>(GroupBox11, ni, "NIGOOSEIDEdit", "GOOSE ID");
    NIDataIndexEdit = field<QLineEdit>(GroupBox11, ni, "NIDataIndexEdit", "Data Index");
    NIMaskEdit = field<QLineEdit>(GroupBox11, ni, "NIMaskEdit", "Destination MAC");
    NIMaskEdit->setInputMask(macMask);
    NIBitIndexEdit = field<QLineEdit>(GroupBox11, ni, "NIBitIndexEdit", "Bit Index");
    for (QLineEdit* e : {NIConfRevEdit, NIDataIndexEdit, NIBitIndexEdit}) digitsOnly(e);
    NIEnaComboBox = choices(GroupBox11, ni, "NIEnaComboBox", "Enabled", noYes);
    NIInvertedComboBox = choices(GroupBox11, ni, "NIInvertedComboBox", "Inverted", noYes);
    ExtRefMenu = named(new QMenu(GroupBox11), "ExtRefMenu");
    ExtRefButton = named(new QToolButton(GroupBox11), "ExtRefButton");
    ExtRefButton->setText("Source from another IED");
    ExtRefButton->setToolTip("Subscribe the selected network input to an attribute another IED publishes");
    ExtRefButton->setMenu(ExtRefMenu);
    ExtRefButton->setPopupMode(QToolButton::InstantPopup);
    ni->addWidget(ExtRefButton, ni->rowCount(), 1);
    ni->setRowStretch(ni->rowCount(), 1);
    GroupBox11->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(GroupBox11, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ExtRefMenu->popup(GroupBox11->mapToGlobal(at)); });

    grpNIStatus = named(new QGroupBox("Network Input Status", this), "grpNIStatus");
    auto* status = new QGridLayout(grpNIStatus);
    for (int k = 1; k <= 16; ++k) {
        QString caption = k < 10 ? QString("NI%1 ").arg(k) : QString("NI%1").arg(k);
        auto* name = new QLabel(caption, grpNIStatus);
        name->setObjectName(QString("lblNI%1").arg(k));
        name->setAutoFillBackground(true);
        name->setAlignment(Qt::AlignCenter);
        name->setMinimumWidth(40);
        auto* stat = new QLabel(grpNIStatus);
        stat->setObjectName(QString("lblNIStat%1").arg(k));
        stat->setAccessibleName(caption.trimmed() + " status");
        lblNI[static_cast<size_t>(k - 1)] = name;
        lblNIStat[static_cast<size_t>(k - 1)] = stat;
        const int row = (k - 1) % 8, column = (k - 1) / 8 * 2;
        status->addWidget(name, row, column);
        status->addWidget(stat, row, column + 1);
    }
    status->setColumnStretch(1, 1);
    status->setColumnStretch(3, 1);

    auto* blocks = new QHBoxLayout;
    blocks->addWidget(GroupBox10, 1);
    blocks->addWidget(GroupBox11, 1);
    auto* page = new QVBoxLayout(this);
    page->addLayout(blocks, 1);
    page->addWidget(grpNIStatus);
}

} // namespace kt
