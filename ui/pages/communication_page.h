#pragma once

// The Communication page: the link type, the serial port or the relay's address, and Enable.

#include "link/connection_settings.h"
#include "ui/pages/unit_page.h"

#include <QWidget>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kt {

class CommunicationPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    CommunicationPage(PageContext& context, QWidget* parent = nullptr);

    // Rebuilds the port list (each port tested); keeps the current choice. False when the system
    // has no port.
    bool refreshPortList();
    void selectPortItem(const QString& port);
    // The port chosen, without its mark.
    QString selectedPortName() const;
    // A serial device that the system does not list is added to the list and chosen.
    void selectSerialPort(const QString& device);
    // Chooses a link without connecting.
    void selectLink(const ConnectionSettings& link);
    // A stored device that exists but is not listed (a pty, a by-id link) stays on offer.
    void keepExtraPort(const QString& device);
    bool tcpChosen() const;
    QString addressText() const;
    void setAddressText(const QString& text);
    void setLinkIndex(int index);

    // Enable/Disable: the controls a connection must not change are locked while it runs.
    void setOnline(bool online);
    void setButtonEnabled(bool on);

    // What the window has to tell without a dialog (preferences repaired at start-up, a stored
    // link that could not be used): a line under the connection controls, until cleared.
    void addNotice(const QString& text);
    void clearNotices();
    QString noticeText() const;

    void connected() override { setOnline(true); }
    void disconnected() override { setOnline(false); }

    // Event handlers.
    void network_CBChange();
    void comport_CBChange();

    std::function<void()> onEnable;                   // Comm_Button
    std::function<void(const QString&)> onPortChosen; // the operator picked a port

    QGroupBox* Communications_GB = nullptr;
    QComboBox* network_CB = nullptr;
    QLabel* com_L = nullptr;
    QComboBox* comport_CB = nullptr;
    QLabel* ip_L = nullptr;
    QLineEdit* ip_E = nullptr;
    QPushButton* Comm_Button = nullptr;
    QLabel* Notice_L = nullptr;

private:
    PageContext& context_;
    // Serial devices chosen by name that the system does not list; kept across refreshes.
    QStringList extraPorts_;
};

} // namespace kt
