#include "ui/status_bars.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kt {

namespace {

const QColor White(255, 255, 255);
const QColor PanelBlack(0, 0, 0);
const QColor PanelGrey(192, 192, 192);

} // namespace

QColor qcolour(TextColour colour) {
    const Rgb c = rgb(colour);
    return QColor(c.r, c.g, c.b);
}

StatusBars::StatusBars(QWidget* parent) : QWidget(parent) {
    setObjectName("StatusBars");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto bar = [this, column](QWidget*& member, const char* name) {
        member = new QWidget(this);
        member->setObjectName(name);
        auto* row = new QHBoxLayout(member);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(2);
        column->addWidget(member);
        return row;
    };
    auto panel = [](QHBoxLayout* row, QWidget* parent, const char* name, const char* text, int stretch) {
        auto* p = new StatusPanel(name, text, parent);
        row->addWidget(p, stretch);
        return p;
    };

    QHBoxLayout* top = bar(TopStatus_P, "TopStatus_P");
    ct_primary_P = panel(top, TopStatus_P, "ct_primary_P", "", 2);
    ct_secondary_P = panel(top, TopStatus_P, "ct_secondary_P", "", 2);
    ef_connection_P = panel(top, TopStatus_P, "ef_connection_P", "Select CT", 3);
    zsct_P = panel(top, TopStatus_P, "zsct_P", "", 2);
    voltage_P = panel(top, TopStatus_P, "voltage_P", "Select Voltage", 3);
    packetcount_P = panel(top, TopStatus_P, "packetcount_P", "Packets: 0000000", 2);
    TopStatus_P->hide();

    QHBoxLayout* bottom = bar(Status_P, "Status_P");
    diagnostic_P = panel(bottom, Status_P, "diagnostic_P", "", 3);
    version_P = panel(bottom, Status_P, "version_P", "", 3);
    unit_P = panel(bottom, Status_P, "unit_P", "", 2);
    network_P = panel(bottom, Status_P, "network_P", "", 3);
    trip_P = panel(bottom, Status_P, "trip_P", "", 2);
    netstatus_P = panel(bottom, Status_P, "netstatus_P", OfflineText, 2);
    datalog_P = panel(bottom, Status_P, "datalog_P", "", 3);

    // Panels that act on a click say so to the keyboard and the screen reader too.
    for (StatusPanel* p :
         {netstatus_P, ct_primary_P, ct_secondary_P, ef_connection_P, zsct_P, voltage_P, datalog_P})
        p->setCursor(Qt::PointingHandCursor);
    netstatus_P->setAccessibleName("Connection");
    version_P->setAccessibleName("Firmware Version");
    unit_P->setAccessibleName("Unit");
    network_P->setAccessibleName("Link");
    trip_P->setAccessibleName("Trip");
    diagnostic_P->setAccessibleName("Diagnostics");
    datalog_P->setAccessibleName("Data Log");
    packetcount_P->setAccessibleName("Packets");
}

void StatusBars::setPanel(StatusPanel* panel, const PanelText& text) {
    panel->setText(QString::fromStdString(text.text));
    panel->setTextColour(text.colour == TextColour::Default ? PanelGrey : qcolour(text.colour));
}

void StatusBars::setNetStatus(const QString& text, const QColor& colour) {
    netstatus_P->setText(text);
    netstatus_P->setTextColour(colour);
}

void StatusBars::setPanelsEnabled(bool on) {
    for (QWidget* bar : {Status_P, TopStatus_P})
        for (StatusPanel* p : bar->findChildren<StatusPanel*>()) p->setEnabled(on);
}

void StatusBars::applyColours() {
    for (StatusPanel* panel :
         {voltage_P, zsct_P, ef_connection_P, ct_primary_P, ct_secondary_P, packetcount_P}) {
        panel->setBackground(White);
        panel->setTextColour(Qt::black);
    }
    for (StatusPanel* panel : {diagnostic_P, version_P, unit_P, network_P, trip_P, netstatus_P, datalog_P}) {
        panel->setBackground(PanelBlack);
        panel->setTextColour(PanelGrey);
    }
}

} // namespace kt
