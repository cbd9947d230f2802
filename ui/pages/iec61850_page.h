#pragma once

// The IEC 61850 page (Tab61850): the unit's 61850 configuration edited on a device-type template,
// exchanged with SCL files and with the unit, and the live status of its GOOSE network inputs.
// The blocks live in the current parser; the Server tab's fields are taken when the configuration
// is written to the unit or saved. The transfers are requests on the connection's thread: the
// window stays live while they run, with their progress and a Cancel.

#include "iec61850/icd_records.h"
#include "link/link_result.h"
#include "monitor/unit_link.h"
#include "ui/pages/unit_page.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace kt {

class GuiOperatorPrompts;
class Iec61850DataSetsTab;
class Iec61850GooseTab;
class Iec61850RcbTab;
class Iec61850ServerTab;
class TICDParser;
class TProgressF;
struct Read61850Result;
struct ServerFieldTexts;
struct Settings61850Read;
struct Write61850Result;

// The page's own messages.
inline constexpr const char* WriteQuestionText =
    "This will transfer the current data from the 61850 tabs to the KT-740, continue?";
inline constexpr const char* WriteTitle = "Write to KT-740";
inline constexpr const char* ReadFailedTitle = "Couldn't read settings from KT-740";
inline constexpr const char* LoadTitle = "Load from KT-740";

class Iec61850Page : public QWidget, public UnitPage {
    Q_OBJECT
public:
    Iec61850Page(PageContext& context, QWidget* parent = nullptr);
    ~Iec61850Page() override;

    // Lists the device-type templates (resources/*.icd beside the program), loads the first as
    // the model and shows it. A template that cannot be read is reported; the page then has
    // nothing to edit.
    void loadDeviceTypes(const QString& programFolder);

    // ---- UnitPage ----
    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void silent() override { clearNIStatus(); }
    void disconnected() override;

    // The IEC 61850 model: the device template, changed by the tabs, a file import or a unit read.
    TICDParser* currentParser() const { return parser_.get(); }
    // A transfer to or from the unit is running.
    bool transferRunning() const { return transfer_.has_value(); }
    // What the last load (file, template or unit) left out or could not take as it stood.
    QStringList notes() const;

    // ---- filling the tabs ----
    void refreshFromParser();
    void refreshFromSettings(const Struct61850Settings& settings);
    void clearEditorTabs();
    void showRCB(int index);
    void showGCB(int index);
    void showNI(int index);
    // Colours and texts of the sixteen inputs: `flags` bit k-1 for input k, `status` per input.
    void updateNIStatus(int32_t flags, const std::array<int32_t, 16>& status);
    // No status known (offline, or the link went silent).
    void clearNIStatus();

    // ---- commands ----
    void cmdLoadUnitClick();
    void cmdWriteUnitClick();
    void cmdLoadFileClick();
    void cmdSaveFileClick();
    void DevTypeComboBoxChange();
    void Pag61850Resize();

    // ---- Data Sets tab ----
    void DSListBoxClick();
    void updateDataSetActions(); // EditDSActionUpdate, DeleteDSActionUpdate, AddDSActionUpdate
    void AddDSActionExecute();
    void EditDSActionExecute();
    void DeleteDSActionExecute();
    void OnExtRefClick(int index);

    // ---- controls ----
    QWidget* ButtonPanel = nullptr;
    QPushButton* cmdLoadUnit = nullptr;
    QPushButton* cmdLoadFile = nullptr;
    QPushButton* cmdWriteUnit = nullptr;
    QPushButton* cmdSaveFile = nullptr;
    QTabWidget* Pag61850 = nullptr;
    Iec61850ServerTab* server = nullptr;
    Iec61850RcbTab* rcb = nullptr;
    Iec61850DataSetsTab* dataSets = nullptr;
    Iec61850GooseTab* goose = nullptr;
    QComboBox* DevTypeComboBox = nullptr;
    QLineEdit* VersionEdit = nullptr;
    QLabel* NotesLabel = nullptr;
    QListWidget* NotesList = nullptr;

private:
    class Filling;
    struct Transfer {
        uint64_t token = 0;
        uint64_t generation = 0;
        RequestId id = 0;
        QPointer<TProgressF> progress;
    };

    // The Server tab's fields as the write and the save take them.
    ServerFieldTexts serverTexts() const;
    void showServerTexts(const ServerFieldTexts& texts);
    void connectHandlers();
    void connectRcbHandlers();
    void connectGooseHandlers();
    void connectServerHandlers();
    // Runs a handler; an accessor's error is shown as the program's error message.
    void guarded(const std::function<void()>& handler);
    bool filling() const { return filling_ > 0; }

    // Change handlers: one field of the selected block.
    void rcbField(QLineEdit* edit, const std::function<void(TRCBConfig&, uint64_t)>& store);
    void gcbHexField(QLineEdit* edit, const std::function<void(TGCBConfig&, const QString&)>& store);
    void niField(QLineEdit* edit, const std::function<void(TNIConfig&, uint64_t)>& store, uint64_t max,
                 bool emptyIsZero);
    void markInvalid(QLineEdit* edit, bool invalid);
    void RCBDSComboBoxChange();
    void TrgOptCBClick(int bit, bool checked);
    void OptFldsCBClick(int bit, bool checked);

    void setNotes(const std::vector<std::string>& notes, const QString& what);
    void fillDataSetLists(const std::vector<std::pair<int, std::string>>& entries);
    void fillExtRefMenu();
    QString programFolder() const;

    // Transfers.
    void beginTransfer(const QString& caption, int maximum, Transfer& t);
    void endTransfer(uint64_t token);
    void cancelTransfer(uint64_t token);
    void transferProgress(uint64_t token, const RequestProgress& p);
    void readDone(uint64_t token, Settings61850Read r);
    void writeDone(uint64_t token, const Write61850Result& w);
    QString linkText() const;

    PageContext& context_;
    std::unique_ptr<TICDParser> parser_;
    std::unique_ptr<GuiOperatorPrompts> prompts_;
    QString programFolder_;
    int filling_ = 0;
    // Slot of each DSListBox row and of each RCBDSComboBox item (item 0, "None", is -1).
    std::vector<int> dsSlots_;
    std::vector<int> rcbDsSlots_;
    std::optional<Transfer> transfer_;
    uint64_t nextToken_ = 1;
};

} // namespace kt
