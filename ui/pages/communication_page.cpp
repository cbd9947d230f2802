#include "ui/pages/communication_page.h"

#include "ui/address_text.h"
#include "ui/connection_controller.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kt {

namespace {

// The port list asks the drop-down to refresh itself just before it opens.
class PortComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }
};

} // namespace

CommunicationPage::CommunicationPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName("TabCommunication");
    Communications_GB = new QGroupBox("Communications", this);
    Communications_GB->setObjectName("Communications_GB");
    auto* grid = new QGridLayout(Communications_GB);
    network_CB = new QComboBox(Communications_GB);
    network_CB->setObjectName("network_CB");
    network_CB->addItems({"Serial/USB", "Modbus TCP"});
    auto* linkLabel = new QLabel("Link", Communications_GB);
    linkLabel->setObjectName("network_L");
    linkLabel->setBuddy(network_CB);
    network_CB->setAccessibleName("Link");
    com_L = new QLabel("Comport", Communications_GB);
    com_L->setObjectName("com_L");
    auto* ports = new PortComboBox(Communications_GB);
    ports->beforePopup = [this] { refreshPortList(); };
    comport_CB = ports;
    comport_CB->setObjectName("comport_CB");
    comport_CB->setMinimumWidth(220);
    comport_CB->setAccessibleName("Comport");
    com_L->setBuddy(comport_CB);
    ip_L = new QLabel("IP Address", Communications_GB);
    ip_L->setObjectName("ip_L");
    ip_E = new QLineEdit(Communications_GB);
    ip_E->setObjectName("ip_E");
    ip_E->setPlaceholderText("192.168.0.100 or 192.168.0.100:502");
    ip_E->setMaxLength(21); // "255.255.255.255:65535"
    ip_E->setAccessibleName("IP Address");
    ip_L->setBuddy(ip_E);
    Comm_Button = new QPushButton("Enable", Communications_GB);
    Comm_Button->setObjectName("Comm_Button");
    Comm_Button->setDefault(true);
    grid->addWidget(linkLabel, 0, 0);
    grid->addWidget(network_CB, 0, 1);
    grid->addWidget(com_L, 1, 0);
    grid->addWidget(comport_CB, 1, 1);
    grid->addWidget(ip_L, 2, 0);
    grid->addWidget(ip_E, 2, 1);
    grid->addWidget(Comm_Button, 3, 1, Qt::AlignLeft);
    ip_L->hide();
    ip_E->hide();
    connect(network_CB, &QComboBox::currentIndexChanged, this, &CommunicationPage::network_CBChange);
    // Only the operator's choice counts as a port change, not the list being rebuilt.
    connect(comport_CB, &QComboBox::activated, this, &CommunicationPage::comport_CBChange);
    connect(Comm_Button, &QPushButton::clicked, this, [this] {
        if (onEnable) onEnable();
    });
    // Enter in the address field connects, as the button would.
    connect(ip_E, &QLineEdit::returnPressed, this, [this] {
        if (onEnable && Comm_Button->isEnabled()) onEnable();
    });
    // The keyboard goes through the controls in the order they are read.
    setTabOrder(network_CB, comport_CB);
    setTabOrder(comport_CB, ip_E);
    setTabOrder(ip_E, Comm_Button);

    Notice_L = new QLabel(this);
    Notice_L->setObjectName("Notice_L");
    Notice_L->setWordWrap(true);
    Notice_L->setTextFormat(Qt::PlainText);
    Notice_L->setAccessibleName("Notice");
    // Read by keyboard and screen reader like the values: it can be reached with Tab and copied.
    Notice_L->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Notice_L->setFocusPolicy(Qt::StrongFocus);
    Notice_L->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Notice_L->setMargin(6);
    // Wide enough for a sentence per line: a wrapped label left to itself shrinks to a word.
    Notice_L->setFixedWidth(520);
    Notice_L->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Communications_GB, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(Notice_L, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addStretch(1);
}

void CommunicationPage::addNotice(const QString& text) {
    if (text.isEmpty()) return;
    const QString shown = Notice_L->text();
    Notice_L->setText(shown.isEmpty() ? text : shown + "\n" + text);
    // An aligned item gets its size hint, which is one line: make room for all wrapped lines.
    Notice_L->setMinimumHeight(Notice_L->heightForWidth(Notice_L->width()));
    Notice_L->show();
}

void CommunicationPage::clearNotices() {
    Notice_L->clear();
    Notice_L->hide();
}

QString CommunicationPage::noticeText() const {
    return Notice_L->text();
}

bool CommunicationPage::refreshPortList() {
    const QString keep = selectedPortName();
    comport_CB->clear();
    for (const ConnectionController::PortItem& item : context_.connection->probePorts(extraPorts_))
        comport_CB->addItem(item.name + item.mark);
    if (comport_CB->count() > 0) selectPortItem(keep);
    Communications_GB->show();
    return comport_CB->count() > 0;
}

void CommunicationPage::selectPortItem(const QString& port) {
    for (int i = 0; i < comport_CB->count(); ++i) {
        if (portNameOfItem(comport_CB->itemText(i)) == port) {
            comport_CB->setCurrentIndex(i);
            return;
        }
    }
    if (comport_CB->count() > 0) comport_CB->setCurrentIndex(0);
}

QString CommunicationPage::selectedPortName() const {
    return portNameOfItem(comport_CB->currentText());
}

void CommunicationPage::keepExtraPort(const QString& device) {
    if (!extraPorts_.contains(device)) extraPorts_ << device;
}

void CommunicationPage::selectSerialPort(const QString& device) {
    if (!extraPorts_.contains(device)) {
        bool listed = false;
        for (int i = 0; i < comport_CB->count(); ++i)
            listed = listed || portNameOfItem(comport_CB->itemText(i)) == device;
        if (!listed) {
            extraPorts_ << device;
            comport_CB->addItem(device);
        }
    }
    network_CB->setCurrentIndex(0);
    selectPortItem(device);
}

void CommunicationPage::selectLink(const ConnectionSettings& link) {
    if (link.linkType == LinkModbusTcp) {
        network_CB->setCurrentIndex(1);
        ip_E->setText(QString::fromStdString(formatIpv4Endpoint({link.ipAddress, link.tcpPort})));
    } else {
        selectSerialPort(QString::fromStdString(link.portName));
    }
}

bool CommunicationPage::tcpChosen() const {
    return network_CB->currentIndex() != 0;
}

QString CommunicationPage::addressText() const {
    return ip_E->text();
}

void CommunicationPage::setAddressText(const QString& text) {
    ip_E->setText(text);
}

void CommunicationPage::setLinkIndex(int index) {
    network_CB->setCurrentIndex(index);
    network_CBChange();
}

void CommunicationPage::network_CBChange() {
    const bool serial = network_CB->currentIndex() == 0;
    com_L->setVisible(serial);
    comport_CB->setVisible(serial);
    ip_L->setVisible(!serial);
    ip_E->setVisible(!serial);
}

void CommunicationPage::comport_CBChange() {
    if (onPortChosen) onPortChosen(selectedPortName());
}

void CommunicationPage::setOnline(bool online) {
    Comm_Button->setText(online ? "Disable" : "Enable");
    comport_CB->setEnabled(!online);
    network_CB->setEnabled(!online);
    ip_E->setEnabled(!online);
}

void CommunicationPage::setButtonEnabled(bool on) {
    Comm_Button->setEnabled(on);
}

} // namespace kt
