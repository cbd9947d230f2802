#pragma once

// The Configuration page (Config_Sheet): the settings of the connected unit (Config_Grid), edited
// in place, and, while the unit's essential settings are not yet verified, the notice that says
// so (RichEdit1) beside the essential rows, which are edited the same way.
//
// A click on a value cell lays the editor the row's ACCESS code asks for over the cell (cmbEdit,
// txtIPMask, MaskMac, spinEdit, utc_CB) or opens the CT dialog; help_E shows the setting's
// guidance. What the operator enters is checked by the setting rules of the core and written as a
// request to the connection's thread: the editor closes at once, the row carries a pending mark
// until the unit has answered, and the value shown is always the unit's, from the next pass. Every
// write goes into the setting write log.

#include "monitor/setting_rules.h"
#include "monitor/setting_write.h"
#include "ui/grid_models.h"
#include "ui/pages/config_editors.h"
#include "ui/pages/unit_page.h"

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QTextEdit;

namespace kt {

class StatusGridView;
class TKTSpinEdit;

class ConfigurationPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    ConfigurationPage(PageContext& context, QWidget* parent = nullptr);
    ~ConfigurationPage() override;

    void connected() override;
    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void disconnected() override;
    void clear() override;

    // The essential-settings notice.
    void writeEssentialSettingsNotice();

    GridRowsModel& configModel() { return config_; }
    ConfigGridModel& gridModel() { return *grid_; }

    // An editor lies over a value cell: a refresh must not rebuild the grid under it (the page
    // itself then updates only the other rows and applies a new layout once the editor closes).
    bool editorOpen() const override;

    // Writes `value` into `reg` as the CT dialog does (the System menu's "Earth-Fault CT" and the
    // grid's CT rating row): false when nothing could be asked of the unit.
    bool writeCtPrimary(int32_t value, int reg);
    // Opens the CT dialog for the grid row of `reg`.
    void openCtDialog(int reg);

    // Where the setting write log goes (the data log's folder).
    void setWriteLogFolder(const QString& folder);
    const SettingWriteLog& writeLog() const { return *log_; }

    // ---- the editing state ----
    int editRow() const { return editRow_; }
    int editRegister() const { return editRegister_; }
    bool ipTyped() const { return ipTyped_; }
    // Writes asked for and not yet shown by a pass.
    int pendingWrites() const { return static_cast<int>(pending_.size()); }
    bool writePending(int reg) const { return grid_->pending(reg); }

    // ---- event handlers ----
    // A click (or Enter/F2 from the keyboard) on a cell: opens the row's editor over the value.
    void Config_GridSelectCell(int column, int row);
    // The grid scrolled: the editor follows its cell and closes when the cell leaves the view.
    void Config_GridTopLeftChanged();
    void cmbEditExit();
    void cmbEditSelect(int index);
    void spinEditExit();
    void txtIPMaskExit();
    void MaskMacExit();
    void utc_CBSelect(int index);

    StatusGridView* Config_Grid = nullptr;
    QWidget* Panel3 = nullptr;
    QTextEdit* help_E = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QComboBox* cmbEdit = nullptr;
    QLineEdit* txtIPMask = nullptr;
    QLineEdit* MaskMac = nullptr;
    TKTSpinEdit* spinEdit = nullptr;
    QComboBox* utc_CB = nullptr;

signals:
    // The CT dialog opened from the grid was closed (accepted: OK). The window marks its settings
    // as changed and stores the preferences.
    void ctDialogClosed(bool accepted);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Pending {
        int reg = 0;
        std::string parameter;
        std::string oldText;
        std::string newText;
        ClockFields asked;
        bool answered = false; // the unit acknowledged; the mark goes with the next pass
    };

    std::vector<QWidget*> editors() const;
    QWidget* openEditor() const;
    void placeEditors();
    // Hides every editor without running its exit handling, and applies a layout that waited.
    void closeEditors();
    void refocus(QWidget* editor);
    void showHelp(int reg);
    void hideHelp();
    void updatePanel3();
    bool keyPressed(QObject* watched, int key, const QString& text);
    void focusLeft(QObject* watched);
    void applyRows(const std::vector<GridRow>& rows);

    SettingSource source() const;
    const GridRow* rowOfRegister(int reg) const;
    // Asks the unit for the entry's write (or tells why it cannot be written).
    void apply(const SettingEntry& entry);
    bool submit(const SettingWrite& write);
    void writeFinished(uint64_t key, uint64_t generation, const SettingWriteOutcome& outcome);
    void logWrite(const Pending& p, const std::string& result);
    void startLogSession(const PassSnapshot& pass, const UnitStatusView& view);

    PageContext& context_;
    GridRowsModel config_;
    std::unique_ptr<ConfigGridModel> grid_;

    // What the last pass gave: the register file and the value texts as the codec made them.
    std::shared_ptr<const RegisterTables> tables_;
    std::vector<std::string> values_;

    int editRow_ = -1;
    int editRegister_ = -1;
    bool ipTyped_ = false;
    SettingList list_;
    int listOpened_ = -1;     // cmbEdit's item when it opened
    bool listChosen_ = false; // the operator picked an item (even the one shown)
    SettingLimits spinLimits_ = WidestLimits;
    // An entry was refused and its editor stays open until the operator mends or leaves it.
    bool refused_ = false;
    // Set while editors are hidden by the page: their focus leaving is no exit.
    bool closing_ = false;
    // Rows of a pass that changed the grid's layout while an editor was open.
    std::optional<std::vector<GridRow>> deferredRows_;
    std::optional<bool> deferredNotice_;

    std::unique_ptr<SettingWriteLog> log_;
    bool sessionPending_ = false;
    uint64_t nextKey_ = 0;
    std::map<uint64_t, Pending> pending_;
};

} // namespace kt
