#include "GroupProperties.h"

#include "DialogSupport.h"
#include "GlobalFunctions.h"
#include "NameOrder.h"
#include "UnitRules.h"
#include "UnitWriter.h"
#include "WindowPlacement.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

namespace kavio {

static_assert(TGroupPropFRM::NameLimit == UnitRules::NameLimit);

namespace {

constexpr int DialogWidth = 450;
constexpr int DialogHeight = 420;
constexpr int Margin = 8;
constexpr int Spacing = 6;
// With the margins and spacing above, leaves the name field 373 pixels at the dialog's width.
constexpr int NameLabelWidth = 55;
constexpr int ButtonWidth = 75;

// A unit in one of the lists: its Name as text, its Index as data. The lists sort by text in
// the order the device list shows names (letter case aside, numbers by value).
class UnitEntry : public QListWidgetItem {
public:
    UnitEntry(const QString& name, quint16 index)
        : QListWidgetItem(name, nullptr, QListWidgetItem::UserType) {
        setData(Qt::UserRole, index);
    }

    bool operator<(const QListWidgetItem& other) const override {
        const int order = compareNames(text(), other.text());
        return order != 0 ? order < 0 : text() < other.text();
    }
};

QLabel* makeLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QListWidget* makeList(QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSortingEnabled(true);
    return list;
}

QPushButton* makeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setFixedWidth(ButtonWidth);
    return button;
}

} // namespace

TGroupPropFRM::TGroupPropFRM(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Group Properties"));
    useDialogFont(this);

    Label1 = makeLabel(QStringLiteral("Name:"), this);
    Label1->setFixedWidth(NameLabelWidth);
    GroupName = new QLineEdit(this);
    GroupName->setMaxLength(NameLimit);
    Label2 = makeLabel(QStringLiteral("Kavios"), this);
    SourceList = makeList(this);
    Label3 = makeLabel(QStringLiteral("Group Members"), this);
    GroupList = makeList(this);
    Button1 = makeButton(QStringLiteral("Add ->"), this);
    Button2 = makeButton(QStringLiteral("<- Remove"), this);
    Button3 = makeButton(QStringLiteral("Ok"), this);
    Button4 = makeButton(QStringLiteral("Cancel"), this);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(Label1);
    nameRow->addWidget(GroupName);

    auto* moveButtons = new QVBoxLayout;
    moveButtons->addStretch();
    moveButtons->addWidget(Button1);
    moveButtons->addWidget(Button2);
    moveButtons->addStretch();

    auto* lists = new QGridLayout;
    lists->addWidget(Label2, 0, 0);
    lists->addWidget(Label3, 0, 2);
    lists->addWidget(SourceList, 1, 0);
    lists->addLayout(moveButtons, 1, 1);
    lists->addWidget(GroupList, 1, 2);
    lists->setColumnStretch(0, 1);
    lists->setColumnStretch(2, 1);

    auto* closeButtons = new QHBoxLayout;
    closeButtons->addStretch();
    closeButtons->addWidget(Button3);
    closeButtons->addWidget(Button4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Margin, Margin, Margin, Margin);
    layout->setSpacing(Spacing);
    layout->addLayout(nameRow);
    layout->addLayout(lists, 1);
    layout->addLayout(closeButtons);
    resize(DialogWidth, DialogHeight);

    setTabOrder(GroupName, SourceList);
    setTabOrder(SourceList, GroupList);
    setTabOrder(GroupList, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);

    connect(Button1, &QPushButton::clicked, this, &TGroupPropFRM::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TGroupPropFRM::Button2Click);
    // Enter means OK wherever the focus is (a list passes it on); Escape cancels.
    Button3->setDefault(true);
    connect(Button3, &QPushButton::clicked, this, &TGroupPropFRM::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &QDialog::reject);
}

quint16 TGroupPropFRM::entryIndex(const QListWidget* list, int row) {
    return quint16(list->item(row)->data(Qt::UserRole).toUInt());
}

bool TGroupPropFRM::isMember(quint16 unit) const {
    for (int row = 0; row < GroupList->count(); ++row) {
        if (entryIndex(GroupList, row) == unit)
            return true;
    }
    return false;
}

void TGroupPropFRM::LoadGroup(quint16 index) {
    groupIndex = index;
    IsNew = false;
    FreeListEntries(GroupList);

    const TableScope master(MasterTable);
    const TableScope groups(GroupTable);
    MasterTable.open();
    const bool found = MasterTable.findKey(index);
    setStoredText(GroupName,
                  found ? MasterTable.fieldByName(QStringLiteral("Name")).asString() : QString(),
                  NameLimit);

    OpenByGroupIndex(GroupTable, index);
    const int rows = GroupTable.recordCount();
    for (int row = 0; row < rows; ++row) {
        const auto unit = quint16(GroupTable.fieldByName(QStringLiteral("Index")).asInteger());
        // A row whose unit is gone adds nothing; a unit listed twice is one member.
        if (MasterTable.findKey(unit) && !isMember(unit))
            GroupList->addItem(
                new UnitEntry(MasterTable.fieldByName(QStringLiteral("Name")).asString(), unit));
        GroupTable.next();
    }
}

void TGroupPropFRM::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
        // Each opening starts at the name, whatever had the focus when the dialog last closed.
        GroupName->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
    // Never outside the screen, however small or scaled it is.
    WindowPlacement::fitToScreen(this);
}

void TGroupPropFRM::FormShow() {
    if (IsNew) {
        setStoredText(GroupName, QString(), NameLimit);
        FreeListEntries(GroupList);
    }
    FillSourceList();
}

// Offers every unit that is not a member. Members are told apart by Index, so a unit that shares
// a member's name is still offered.
void TGroupPropFRM::FillSourceList() {
    FreeListEntries(SourceList);
    const TableScope scope(MasterTable);
    MasterTable.setFilter(QStringLiteral("Group=False"));
    MasterTable.setFiltered(true);
    MasterTable.open();
    const int records = MasterTable.recordCount();
    for (int record = 0; record < records; ++record) {
        const auto unit = quint16(MasterTable.fieldByName(QStringLiteral("Index")).asInteger());
        if (!isMember(unit))
            SourceList->addItem(
                new UnitEntry(MasterTable.fieldByName(QStringLiteral("Name")).asString(), unit));
        MasterTable.next();
    }
}

void TGroupPropFRM::MoveSelected(QListWidget* from, QListWidget* to) {
    for (int row = from->count() - 1; row >= 0; --row) {
        if (from->item(row)->isSelected())
            to->addItem(from->takeItem(row));
    }
}

void TGroupPropFRM::FreeListEntries(QListWidget* list) {
    list->clear();
}

void TGroupPropFRM::Button1Click() {
    MoveSelected(SourceList, GroupList);
}

void TGroupPropFRM::Button2Click() {
    MoveSelected(GroupList, SourceList);
}

bool TGroupPropFRM::checkInput() {
    const UnitRules::Fault fault = UnitRules::checkGroup(
        GroupName->text(), GroupList->count(),
        [this](const QString& name) { return IsNew && NameInUse(MasterTable, name); }, false);
    if (fault) {
        showInputFault(this, fault.message);
        return false;
    }
    return true;
}

// The group's record and all of its membership rows afresh, one per member in name order, in
// one step. Rows already carrying a new group's key (left by a hand edit) are cleared as for an
// edited group, so that they never show up as members.
void TGroupPropFRM::save() {
    QList<quint16> members;
    for (int row = 0; row < GroupList->count(); ++row)
        members << entryIndex(GroupList, row);
    if (IsNew) {
        writer::makeGroup(GroupName->text(), members);
    } else if (!writer::changeGroup(groupIndex, GroupName->text(), members)) {
        showInputFault(this, QStringLiteral("Could Not Locate the Group in the Database"));
        return;
    }
    // Written through to the database file itself before the dialog closes.
    MasterTable.flushBuffers();
    accept();
}

void TGroupPropFRM::Button3Click() {
    if (checkInput())
        save();
}

void TGroupPropFRM::FormClose() {
    FreeListEntries(SourceList);
    FreeListEntries(GroupList);
}

void TGroupPropFRM::done(int result) {
    FormClose();
    QDialog::done(result);
}

} // namespace kavio
