#pragma once

// The window's two status bars: TopStatus_P (the CT and voltage selection and the packet count,
// shown for legacy units) and Status_P (diagnostics, version, unit, link, trip, connection state
// and the data log). Panels keep their object names; the window and the pages set their texts.

#include "monitor/status_captions.h"
#include "ui/status_panel.h"

#include <QWidget>

namespace kt {

inline constexpr const char* OfflineText = "OFFLINE";
inline constexpr const char* ConnectingText = "Connecting";

QColor qcolour(TextColour colour);

class StatusBars : public QWidget {
    Q_OBJECT
public:
    explicit StatusBars(QWidget* parent = nullptr);

    QWidget* TopStatus_P = nullptr;
    StatusPanel* ct_primary_P = nullptr;
    StatusPanel* ct_secondary_P = nullptr;
    StatusPanel* ef_connection_P = nullptr;
    StatusPanel* zsct_P = nullptr;
    StatusPanel* voltage_P = nullptr;
    StatusPanel* packetcount_P = nullptr;

    QWidget* Status_P = nullptr;
    StatusPanel* diagnostic_P = nullptr;
    StatusPanel* version_P = nullptr;
    StatusPanel* unit_P = nullptr;
    StatusPanel* network_P = nullptr;
    StatusPanel* trip_P = nullptr;
    StatusPanel* netstatus_P = nullptr;
    StatusPanel* datalog_P = nullptr;

    void setPanel(StatusPanel* panel, const PanelText& text);
    void setNetStatus(const QString& text, const QColor& colour);
    // Enables or greys out every panel of both bars.
    void setPanelsEnabled(bool on);
    // The colours of the bars: the selection row white, the lower bar's bright texts on black.
    void applyColours();
};

} // namespace kt
