#pragma once

// What every page of the main window hears about the connected unit. The window computes each
// refresh once (the status view of a pass or of a legacy frame) and hands it to every page; a page
// copies what it shows into its widgets and keeps nothing of the link.

#include "monitor/legacy_frame.h"
#include "monitor/pass_snapshot.h"
#include "monitor/status_captions.h"
#include "monitor/status_decoding.h"

#include <QColor>

class QWidget;

namespace kt {

class ConnectionController;
struct CtVoltageSelection;
struct ProgramPreferences;

// What the window shares with its pages.
struct PageContext {
    QWidget* window = nullptr;                  // owner of dialogs and messages
    ConnectionController* connection = nullptr; // requests to the connected unit
    CtVoltageSelection* selection = nullptr;    // the CT and voltage selection
    ProgramPreferences* preferences = nullptr;  // the working preferences
    QColor windowColour{192, 192, 192};
};

class UnitPage {
public:
    virtual ~UnitPage() = default;
    // A connection was made (Enable); the kind of unit is not known yet.
    virtual void connected() {}
    // A pass of a register-file unit, with the status view the window computed from it.
    virtual void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) {
        (void)pass;
        (void)view;
    }
    // A frame of a legacy unit, with its status view.
    virtual void legacyFrame(const LegacyFrame& frame, const LegacyStatusView& view) {
        (void)frame;
        (void)view;
    }
    // The link went silent for a tick of the status timer: values are blanked.
    virtual void silent() {}
    // The connection ended (Disable, silence, a failure, closing).
    virtual void disconnected() {}
    // Everything the page shows of a unit, back to its empty state.
    virtual void clear() {}
    // An editor of the page is open (a cell being edited, a dialog opened from the page): the
    // window lays the pages out again only once it has closed.
    virtual bool editorOpen() const { return false; }
};

} // namespace kt
