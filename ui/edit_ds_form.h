#pragma once

// The dataset editor: one user dataset of the current model, its logical device and node, its
// name and its members picked from the IED's data model.

#include "iec61850/attribute_tree.h"
#include "iec61850/dataset_editor.h"
#include "iec61850/icd_records.h"

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kt {

class TICDParser;

// Caption "Data Set Properties". Children by name: `DataTreeView`, `LDComboBox`, `LNComboBox`,
// `DSNameEdit`, `FullDSNameEdit`, `ElementsListBox`, the actions `AddAction`, `DelAction`,
// `UpAction`, `DownAction` (tool buttons `AddButton`, `DelButton`, `UpButton`, `DownButton`),
// `OKButton`, `CancelButton`.
class TEditDSForm : public QDialog {
    Q_OBJECT
public:
    TEditDSForm(const TICDParser& parser, const std::string& rootCaption, QWidget* owner = nullptr);
    ~TEditDSForm() override;

    // The full names of the other datasets, for the duplicate check.
    void setExistingFullNames(std::vector<std::string> names) { existing_ = std::move(names); }
    // Shows a dataset being edited: its device, node, name and members.
    void showDataSet(const TDatasetConfig& ds);
    // What OK stores: name, device and the member codes in list order.
    TDatasetConfig result() const;

    // Handlers.
    void AddActionExecute();
    void DelActionExecute();
    void UpActionExecute();
    void DownActionExecute();
    void updateActions(); // the four Update handlers
    void LDComboBoxChange();
    void updateFullName(); // LNComboBoxChange, DSNameEditChange
    void OKButtonClick();

    QTreeWidget* DataTreeView;
    QComboBox* LDComboBox;
    QComboBox* LNComboBox;
    QLineEdit* DSNameEdit;
    QLineEdit* FullDSNameEdit;
    QListWidget* ElementsListBox;
    QAction* AddAction;
    QAction* DelAction;
    QAction* UpAction;
    QAction* DownAction;
    QPushButton* OKButton;
    QPushButton* CancelButton;

private:
    const AttributeNode* nodeOf(const QTreeWidgetItem* item) const;
    AttributePath selectedPath() const;
    void addTreeItems(QTreeWidgetItem* parent, const AttributeNode& node);
    void addEntry(const QString& text, const AttributeNode* node, std::optional<uint32_t> keptCode = {});
    void swapEntries(int a, int b);
    // The member code of a list entry, or why it has none.
    MemberEncoding entryCode(int row) const;

    const TICDParser& parser_;
    AttributeTree tree_;
    std::vector<std::string> existing_;
    std::vector<uint32_t> codes_; // filled by OK
};

// The parser operations behind the Data Sets tab. AddDataSet fills the first free slot and
// returns it; EditDataSet changes `slot`; both return -1 on Cancel (nothing changes) and when
// there is nothing to do (no free slot: a message says so; a slot outside 0..31).
int AddDataSet(TICDParser& parser, const std::string& rootCaption, QWidget* owner);
int EditDataSet(TICDParser& parser, int slot, const std::string& rootCaption, QWidget* owner);

} // namespace kt
