#pragma once

// The four tabs of the IEC 61850 page (Server, RCB, Data Sets, GOOSE): their controls, named and
// captioned as the operator's manual knows them, laid out. The page gives them their behaviour.

#include <QWidget>

#include <array>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QToolButton;

namespace kt {

class Iec61850ServerTab : public QWidget {
    Q_OBJECT
public:
    explicit Iec61850ServerTab(QWidget* parent = nullptr);

    QGroupBox* grpServer;
    QLineEdit* IEDNameEdit;
    QGroupBox* GroupBox7; // Interface 1
    QLineEdit* IPEdit;
    QLineEdit* MaskEdit;
    QLineEdit* GWEdit;
    QGroupBox* GroupBox8; // Interface 2
    QLineEdit* IP2Edit;
    QLineEdit* Mask2Edit;
    QLineEdit* GW2Edit;
    QLineEdit* APIDEdit;
    QLineEdit* AEQEdit;
    QLineEdit* PSelEdit;
    QLineEdit* SSelEdit;
    QLineEdit* TSelEdit;
    QCheckBox* CheckAddrCheckBox;
    QLineEdit* MaskEdit1; // time server
    QLineEdit* KeepAliveEdit;
    QCheckBox* TwoAPCheckBox;
};

class Iec61850RcbTab : public QWidget {
    Q_OBJECT
public:
    explicit Iec61850RcbTab(QWidget* parent = nullptr);

    QGroupBox* grpRCB;
    QComboBox* RCBComboBox;
    QComboBox* RCBDSComboBox;
    QLineEdit* ReportIDEdit;
    QLineEdit* RCBConfRevEdit;
    QLineEdit* RCBBufferingTimeEdit;
    QLineEdit* RCBIntegrityPeriodEdit;
    QGroupBox* GroupBox4; // trigger options; each box's "tag" property is its bit
    QCheckBox* dchgCB;
    QCheckBox* qchgCB;
    QCheckBox* dupdCB;
    QCheckBox* periodCB;
    QCheckBox* giCB;
    QGroupBox* GroupBox5; // option fields
    QCheckBox* seqNumCB;
    QCheckBox* timeStampCB;
    QCheckBox* reasonCodeCB;
    QCheckBox* dataSetCB;
    QCheckBox* dataRefCB;
    QCheckBox* bufOvflCB;
    QCheckBox* entryIDCB;
    QCheckBox* configRefCB;

    std::vector<QCheckBox*> trgOptBoxes() const { return {dchgCB, qchgCB, dupdCB, periodCB, giCB}; }
    std::vector<QCheckBox*> optFieldBoxes() const {
        return {seqNumCB, timeStampCB, reasonCodeCB, dataSetCB, dataRefCB, bufOvflCB, entryIDCB, configRefCB};
    }
};

class Iec61850DataSetsTab : public QWidget {
    Q_OBJECT
public:
    explicit Iec61850DataSetsTab(QWidget* parent = nullptr);

    QGroupBox* grpDataSets;
    QListWidget* DSListBox;
    QListWidget* ElementsListBox;
    QAction* EditDSAction;
    QAction* DeleteDSAction;
    QAction* AddDSAction;
    QToolButton* SpeedButton1; // edit
    QToolButton* SpeedButton2; // delete
    QToolButton* SpeedButton3; // add
};

class Iec61850GooseTab : public QWidget {
    Q_OBJECT
public:
    explicit Iec61850GooseTab(QWidget* parent = nullptr);

    QGroupBox* GroupBox10;
    QComboBox* GCBComboBox;
    QLineEdit* GCBVLANIDEdit;
    QLineEdit* GCBVLANPrioEdit;
    QLineEdit* GCBAppIDEdit;
    QLineEdit* GCBGOOSEIDEdit;
    QLineEdit* GCBMaskEdit;
    QComboBox* GCBEnabledComboBox;
    QComboBox* GCBInterfaceComboBox;
    QComboBox* GCBTestComboBox;

    QGroupBox* GroupBox11;
    QComboBox* NIComboBox;
    QLineEdit* NIAPPIDEdit;
    QLineEdit* NIConfRevEdit;
    QLineEdit* NIGOOSEIDEdit;
    QLineEdit* NIDataIndexEdit;
    QLineEdit* NIMaskEdit;
    QLineEdit* NIBitIndexEdit;
    QComboBox* NIEnaComboBox;
    QComboBox* NIInvertedComboBox;
    // The subscribable attributes of other IEDs: the button's menu, also the group's context menu.
    QToolButton* ExtRefButton;
    QMenu* ExtRefMenu;

    QGroupBox* grpNIStatus;
    std::array<QLabel*, 16> lblNI{};
    std::array<QLabel*, 16> lblNIStat{};
};

} // namespace kt
