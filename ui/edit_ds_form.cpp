#include "ui/edit_ds_form.h"

#include "iec61850/icd_parser.h"
#include "ui/dialog_helpers.h"
#include "ui/message_box.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kt {

namespace {

constexpr int NodeRole = Qt::UserRole;
constexpr int KeptCodeRole = Qt::UserRole + 1;

QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

void error(const QString& text, QWidget* owner) {
    showMessage(text, "Error", MessageOk, owner);
}

QIcon kindIcon(AttributeKind kind) {
    QStyle* s = QApplication::style();
    switch (kind) {
    case AttributeKind::Root:
        return s->standardIcon(QStyle::SP_ComputerIcon);
    case AttributeKind::LogicalDevice:
        return s->standardIcon(QStyle::SP_DriveHDIcon);
    case AttributeKind::LogicalNode:
        return s->standardIcon(QStyle::SP_DirIcon);
    case AttributeKind::DataObject:
    case AttributeKind::SubDataObject:
        return s->standardIcon(QStyle::SP_FileDialogContentsView);
    case AttributeKind::DataAttribute:
    case AttributeKind::BasicDataAttribute:
        return s->standardIcon(QStyle::SP_FileIcon);
    }
    return {};
}

} // namespace

TEditDSForm::TEditDSForm(const TICDParser& parser, const std::string& rootCaption, QWidget* owner)
    : QDialog(owner), DataTreeView(new QTreeWidget(this)), LDComboBox(new QComboBox(this)),
      LNComboBox(new QComboBox(this)), DSNameEdit(new QLineEdit(this)), FullDSNameEdit(new QLineEdit(this)),
      ElementsListBox(new QListWidget(this)), AddAction(new QAction("Add", this)),
      DelAction(new QAction("Delete", this)), UpAction(new QAction("Up", this)),
      DownAction(new QAction("Down", this)), OKButton(new QPushButton("OK", this)),
      CancelButton(new QPushButton("Cancel", this)), parser_(parser) {
    setObjectName("TEditDSForm");
    setWindowTitle(q(DataSetPropertiesCaption));
    const std::pair<QWidget*, const char*> named[] = {{DataTreeView, "DataTreeView"},
                                                      {LDComboBox, "LDComboBox"},
                                                      {LNComboBox, "LNComboBox"},
                                                      {DSNameEdit, "DSNameEdit"},
                                                      {FullDSNameEdit, "FullDSNameEdit"},
                                                      {ElementsListBox, "ElementsListBox"},
                                                      {OKButton, "OKButton"},
                                                      {CancelButton, "CancelButton"}};
    for (auto [w, name] : named) w->setObjectName(name);
    AddAction->setObjectName("AddAction");
    DelAction->setObjectName("DelAction");
    UpAction->setObjectName("UpAction");
    DownAction->setObjectName("DownAction");
    AddAction->setToolTip("Add the selected element of the data model to the data set");
    DelAction->setToolTip("Remove the selected member");
    UpAction->setToolTip("Move the selected member up");
    DownAction->setToolTip("Move the selected member down");
    FullDSNameEdit->setReadOnly(true);
    DataTreeView->setHeaderHidden(true);
    DataTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    OKButton->setDefault(true);

    auto labelled = [this](const char* caption, QWidget* field) {
        auto* l = new QLabel(caption, this);
        l->setBuddy(field);
        field->setAccessibleName(caption);
        return l;
    };
    auto tool = [this](QAction* action, const char* name, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        action->setIcon(style()->standardIcon(icon));
        b->setDefaultAction(action);
        return b;
    };

    auto* model = new QVBoxLayout;
    model->addWidget(labelled("Data Model", DataTreeView));
    model->addWidget(DataTreeView, 1);

    auto* middle = new QVBoxLayout;
    middle->addStretch(1);
    middle->addWidget(tool(AddAction, "AddButton", QStyle::SP_ArrowRight));
    middle->addWidget(tool(DelAction, "DelButton", QStyle::SP_ArrowLeft));
    middle->addStretch(1);

    auto* form = new QGridLayout;
    form->addWidget(labelled("Logical Device", LDComboBox), 0, 0);
    form->addWidget(LDComboBox, 0, 1);
    form->addWidget(labelled("Logical Node", LNComboBox), 1, 0);
    form->addWidget(LNComboBox, 1, 1);
    form->addWidget(labelled("Data Set Name", DSNameEdit), 2, 0);
    form->addWidget(DSNameEdit, 2, 1);
    form->addWidget(labelled("Full Data Set Name", FullDSNameEdit), 3, 0);
    form->addWidget(FullDSNameEdit, 3, 1);

    auto* order = new QVBoxLayout;
    order->addStretch(1);
    order->addWidget(tool(UpAction, "UpButton", QStyle::SP_ArrowUp));
    order->addWidget(tool(DownAction, "DownButton", QStyle::SP_ArrowDown));
    order->addStretch(1);
    auto* members = new QHBoxLayout;
    members->addWidget(ElementsListBox, 1);
    members->addLayout(order);

    auto* right = new QVBoxLayout;
    right->addLayout(form);
    right->addWidget(labelled("Data Set Members", ElementsListBox));
    right->addLayout(members, 1);

    auto* body = new QHBoxLayout;
    body->addLayout(model, 1);
    body->addLayout(middle);
    body->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto* column = new QVBoxLayout(this);
    column->addLayout(body, 1);
    column->addLayout(buttons);
    resize(860, 520);

    // The tree of the IED's data model, and the devices with their nodes.
    tree_ = parser_.BuildAttributeTree(rootCaption);
    auto* root = new QTreeWidgetItem(DataTreeView);
    root->setText(0, QString::fromStdString(tree_.root.caption));
    root->setIcon(0, kindIcon(AttributeKind::Root));
    root->setData(0, NodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&tree_.root)));
    addTreeItems(root, tree_.root);
    root->setExpanded(true);
    for (const LogicalDeviceEntry& d : tree_.devices) {
        QStringList nodes;
        for (const std::string& n : d.logicalNodes) nodes << QString::fromStdString(n);
        LDComboBox->addItem(QString::fromStdString(d.caption), nodes);
    }

    connect(AddAction, &QAction::triggered, this, &TEditDSForm::AddActionExecute);
    connect(DelAction, &QAction::triggered, this, &TEditDSForm::DelActionExecute);
    connect(UpAction, &QAction::triggered, this, &TEditDSForm::UpActionExecute);
    connect(DownAction, &QAction::triggered, this, &TEditDSForm::DownActionExecute);
    connect(DataTreeView, &QTreeWidget::currentItemChanged, this, &TEditDSForm::updateActions);
    connect(DataTreeView, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (AddAction->isEnabled()) AddActionExecute();
    });
    connect(ElementsListBox, &QListWidget::currentRowChanged, this, &TEditDSForm::updateActions);
    connect(LDComboBox, &QComboBox::currentIndexChanged, this, &TEditDSForm::LDComboBoxChange);
    connect(LNComboBox, &QComboBox::currentIndexChanged, this, &TEditDSForm::updateFullName);
    connect(DSNameEdit, &QLineEdit::textChanged, this, &TEditDSForm::updateFullName);
    connect(OKButton, &QPushButton::clicked, this, &TEditDSForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    if (LDComboBox->count() > 0) LDComboBox->setCurrentIndex(0);
    LDComboBoxChange();
    updateActions();
    centreOn(this, owner);
}

TEditDSForm::~TEditDSForm() = default;

void TEditDSForm::addTreeItems(QTreeWidgetItem* parent, const AttributeNode& node) {
    for (const AttributeNode& c : node.children) {
        auto* item = new QTreeWidgetItem(parent);
        item->setText(0, QString::fromStdString(c.caption));
        item->setIcon(0, kindIcon(c.kind));
        item->setData(0, NodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&c)));
        addTreeItems(item, c);
    }
}

const AttributeNode* TEditDSForm::nodeOf(const QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    return reinterpret_cast<const AttributeNode*>(item->data(0, NodeRole).value<quintptr>());
}

AttributePath TEditDSForm::selectedPath() const {
    AttributePath path;
    for (const QTreeWidgetItem* item = DataTreeView->currentItem(); item; item = item->parent())
        path.insert(path.begin(), nodeOf(item));
    return path;
}

void TEditDSForm::updateActions() {
    const int row = ElementsListBox->currentRow();
    const int count = ElementsListBox->count();
    AddAction->setEnabled(count < MaxEditorMembers && CanAddMember(selectedPath()));
    DelAction->setEnabled(row >= 0);
    UpAction->setEnabled(row > 0);
    DownAction->setEnabled(row >= 0 && row < count - 1);
}

void TEditDSForm::addEntry(const QString& text, const AttributeNode* node, std::optional<uint32_t> keptCode) {
    auto* item = new QListWidgetItem(text, ElementsListBox);
    item->setData(NodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    if (keptCode) item->setData(KeptCodeRole, QVariant::fromValue(*keptCode));
}

MemberEncoding TEditDSForm::entryCode(int row) const {
    const QListWidgetItem* item = ElementsListBox->item(row);
    if (QVariant kept = item->data(KeptCodeRole); kept.isValid()) {
        MemberEncoding e;
        e.code = kept.value<uint32_t>();
        return e;
    }
    const auto* node = reinterpret_cast<const AttributeNode*>(item->data(NodeRole).value<quintptr>());
    AttributePath path = PathOf(tree_, node);
    if (path.empty())
        return MemberEncoding{std::nullopt, MemberProblem::NoAttribute, "it has no place in the tree"};
    const AttributeNode& n = *path.back();
    if ((n.kind == AttributeKind::DataObject || n.kind == AttributeKind::SubDataObject) &&
        FCCandidates(n).size() > 1)
        return MemberEncoding{std::nullopt, MemberProblem::NotUnitFC,
                              "it holds attributes of both MX and ST; choose one of its attributes"};
    return parser_.EncodeMemberChecked(MemberRefOfEntry(path, item->text().toStdString()));
}

void TEditDSForm::AddActionExecute() {
    updateActions();
    if (!AddAction->isEnabled()) return;
    AttributePath path = selectedPath();
    const QString text = QString::fromStdString(MemberEntryText(path));
    for (int i = 0; i < ElementsListBox->count(); ++i) {
        if (ElementsListBox->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) {
            error(QString::fromStdString(DuplicateMemberText(text.toStdString())), this);
            return;
        }
    }
    addEntry(text, path.back());
    // A member goes into the list only when the model has a code that stands for it alone.
    MemberEncoding e = entryCode(ElementsListBox->count() - 1);
    if (!e.code) {
        delete ElementsListBox->takeItem(ElementsListBox->count() - 1);
        error(QString("Element %1 is not in this data model: %2").arg(text, QString::fromStdString(e.reason)),
              this);
        return;
    }
    ElementsListBox->setCurrentRow(ElementsListBox->count() - 1);
    updateActions();
}

void TEditDSForm::DelActionExecute() {
    const int row = ElementsListBox->currentRow();
    if (row < 0) return;
    delete ElementsListBox->takeItem(row);
    updateActions();
}

void TEditDSForm::swapEntries(int a, int b) {
    QListWidgetItem* lower = ElementsListBox->takeItem(std::max(a, b));
    QListWidgetItem* upper = ElementsListBox->takeItem(std::min(a, b));
    ElementsListBox->insertItem(std::min(a, b), lower);
    ElementsListBox->insertItem(std::max(a, b), upper);
    ElementsListBox->setCurrentRow(b);
    updateActions();
}

void TEditDSForm::UpActionExecute() {
    const int row = ElementsListBox->currentRow();
    if (row > 0) swapEntries(row, row - 1);
}

void TEditDSForm::DownActionExecute() {
    const int row = ElementsListBox->currentRow();
    if (row >= 0 && row < ElementsListBox->count() - 1) swapEntries(row, row + 1);
}

void TEditDSForm::LDComboBoxChange() {
    const int i = LDComboBox->currentIndex();
    if (i >= 0) {
        const QStringList nodes = LDComboBox->itemData(i).toStringList();
        const QSignalBlocker block(LNComboBox);
        LNComboBox->clear();
        LNComboBox->addItems(nodes);
        if (!nodes.isEmpty()) LNComboBox->setCurrentIndex(0);
    }
    updateFullName();
}

void TEditDSForm::updateFullName() {
    FullDSNameEdit->setText(LDComboBox->currentText() + "/" + LNComboBox->currentText() + "$" +
                            DSNameEdit->text());
}

void TEditDSForm::showDataSet(const TDatasetConfig& ds) {
    if (ds.LDIndex < LDComboBox->count()) LDComboBox->setCurrentIndex(ds.LDIndex);
    LDComboBoxChange();
    const QString name = QString::fromStdString(ds.Name);
    const int dollar = name.indexOf('$');
    const QString node = dollar < 0 ? QString() : name.left(dollar);
    LNComboBox->setCurrentIndex(LNComboBox->findText(node));
    DSNameEdit->setText(dollar < 0 ? name : name.mid(dollar + 1));
    ElementsListBox->clear();
    for (size_t m = 0; m < ds.Members.size() && m < ds.Count; ++m) {
        const uint32_t code = ds.Members[m];
        if (std::optional<MemberRef> ref = parser_.DecodeMember(code)) {
            AttributePath path = FindAttributePath(tree_, *ref);
            addEntry(QString::fromStdString(MemberRefText(*ref)), path.empty() ? nullptr : path.back(), code);
        } else {
            // Kept as it came (from a unit with another model); shown for what it is.
            addEntry(QString("(not in this data model) code 0x%1").arg(code, 8, 16, QChar('0')).toUpper(),
                     nullptr, code);
        }
    }
    updateFullName();
    updateActions();
}

void TEditDSForm::OKButtonClick() {
    std::optional<std::string> problem =
        CheckDataSetProperties(DSNameEdit->text().toStdString(), FullDSNameEdit->text().toStdString(),
                               existing_, static_cast<size_t>(ElementsListBox->count()));
    if (problem) {
        error(QString::fromStdString(*problem), this);
        return;
    }
    codes_.clear();
    for (int i = 0; i < ElementsListBox->count(); ++i) {
        MemberEncoding e = entryCode(i);
        if (!e.code) {
            error(QString("Element %1 is not in this data model: %2")
                      .arg(ElementsListBox->item(i)->text(), QString::fromStdString(e.reason)),
                  this);
            return;
        }
        codes_.push_back(*e.code);
    }
    accept();
}

TDatasetConfig TEditDSForm::result() const {
    TDatasetConfig ds;
    ds.Fixed = false;
    ds.Name = (LNComboBox->currentText() + "$" + DSNameEdit->text()).toStdString();
    ds.LDIndex = static_cast<uint16_t>(std::max(0, LDComboBox->currentIndex()));
    ds.Members = codes_;
    ds.Count = static_cast<uint16_t>(codes_.size());
    return ds;
}

int AddDataSet(TICDParser& parser, const std::string& rootCaption, QWidget* owner) {
    std::optional<AddTarget> target = FindAddTarget(parser);
    if (!target) {
        error(q(NoFreeDataSetText), owner);
        return -1;
    }
    TEditDSForm form(parser, rootCaption, owner);
    form.setExistingFullNames(std::move(target->existingFullNames));
    if (form.exec() != QDialog::Accepted) return -1;
    parser.SetDataSet(target->slot, form.result());
    return target->slot;
}

int EditDataSet(TICDParser& parser, int slot, const std::string& rootCaption, QWidget* owner) {
    if (slot < 0 || slot >= DataSetSlots) return -1;
    TEditDSForm form(parser, rootCaption, owner);
    form.setExistingFullNames(OtherFullNames(parser, slot));
    form.showDataSet(parser.GetDataSet(slot));
    if (form.exec() != QDialog::Accepted) return -1;
    parser.SetDataSet(slot, form.result());
    return slot;
}

} // namespace kt
