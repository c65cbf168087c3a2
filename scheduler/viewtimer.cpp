#include "viewtimer.h"

#include "Exception.h"
#include "GlobalFunctions.h"
#include "Messages.h"
#include "SetTimer.h"
#include "Timer.h"
#include "TimerRecord.h"
#include "UndoStore.h"
#include "WindowPlacement.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kavio {
namespace {

constexpr int KeyRole = Qt::UserRole;
constexpr int RowHeight = 18;

// The three texts of a row. A record that cannot be read shows what it holds, so that it can be
// found and deleted.
QStringList rowTexts(TTable& table) {
    try {
        const TTimerRecord record = ReadTimerRecord(table);
        QString task;
        TaskName(record.task, task);
        return {task, EveryName(record.every),
                QLocale().toString(record.date, QLocale::ShortFormat) + QStringLiteral(" at ") +
                    TwelveHourTime(record.timeOfDay)};
    } catch (const TimerRecordError&) {
        auto raw = [&table](const char* field) {
            return table.fieldByName(QLatin1String(field)).asString();
        };
        bool ok = false;
        const int task = raw("Task").toInt(&ok);
        QString taskName = raw("Task");
        if (ok)
            TaskName(quint8(std::clamp(task, 0, 255)), taskName);
        const QString every = EveryName(raw("Every").toInt(&ok));
        return {taskName, every.isEmpty() ? raw("Every") : every,
                raw("Date") + QStringLiteral(" at ") + raw("TimeOfDay")};
    }
}

} // namespace

TViewTimerFrm::TViewTimerFrm(TSetTimerFRM& timerEditor, TTimerFrm& timerRunner, QWidget* parent)
    : TViewTimerFrm(timerEditor, parent) {
    runner = &timerRunner;
}

TViewTimerFrm::TViewTimerFrm(TSetTimerFRM& timerEditor, QWidget* parent)
    : QDialog(parent)
    , editor(timerEditor) {
    setModal(false);
    WindowPlacement::keepOnScreen(this);
    resize(623, 325);

    theGrid = new QTableWidget(2, 3, this);
    theGrid->setObjectName(QStringLiteral("theGrid"));
    theGrid->setHorizontalHeaderLabels(
        {QStringLiteral("Event"), QStringLiteral("Frequency"), QStringLiteral("Next Event")});
    theGrid->setColumnWidth(0, 146);
    theGrid->setColumnWidth(1, 110);
    theGrid->setColumnWidth(2, 161);
    theGrid->verticalHeader()->hide();
    theGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    theGrid->verticalHeader()->setDefaultSectionSize(RowHeight);
    theGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    theGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    theGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    theGrid->setShowGrid(true);
    theGrid->setWordWrap(false);

    auto button = [this](const char* name, const char* caption) {
        auto* made = new QPushButton(QString::fromLatin1(caption), this);
        made->setObjectName(QLatin1String(name));
        made->setAutoDefault(false);
        return made;
    };
    New = button("New", "New");
    Edit = button("Edit", "Edit");
    Delete = button("Delete", "Delete");
    CloseBtn = button("CloseBtn", "Close");
    connect(New, &QPushButton::clicked, this, &TViewTimerFrm::NewClick);
    connect(Edit, &QPushButton::clicked, this, &TViewTimerFrm::EditClick);
    connect(Delete, &QPushButton::clicked, this, &TViewTimerFrm::DeleteClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TViewTimerFrm::CloseBtnClick);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(New);
    buttons->addWidget(Edit);
    buttons->addWidget(Delete);
    buttons->addStretch();
    buttons->addWidget(CloseBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(theGrid);
    layout->addLayout(buttons);
}

void TViewTimerFrm::ShowUnitTimers(quint16 index) {
    UnitIndex = index;
    OpenByIndex(MasterTable, index);
    const QString name =
        MasterTable.eof() ? QString() : MasterTable.fieldByName(QStringLiteral("Name")).asString();
    CloseFiltered(MasterTable);
    setWindowTitle(name + QStringLiteral(" Timer Properties"));
    FillTimerGrid();
    show();
    raise();
    activateWindow();
}

void TViewTimerFrm::FillTimerGrid() {
    OpenByIndex(TimerTable, UnitIndex);
    const int count = TimerTable.recordCount();
    theGrid->clearContents();
    theGrid->setRowCount(std::max(count, 1));
    for (int row = 0; !TimerTable.eof(); ++row, TimerTable.next()) {
        const QStringList texts = rowTexts(TimerTable);
        for (int column = 0; column < 3; ++column) {
            auto* cell = new QTableWidgetItem(texts.value(column));
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            theGrid->setItem(row, column, cell);
        }
        const qint64 key = TimerTable.fieldByName(QStringLiteral("TimerIndex")).asInteger();
        theGrid->item(row, 0)->setData(KeyRole, quint16(key));
    }
    TimerTable.close();
    // The empty row of a unit without timers is nothing to select.
    theGrid->clearSelection();
    if (count > 0)
        theGrid->selectRow(0);
    else
        theGrid->setCurrentCell(-1, -1);
}

quint16 TViewTimerFrm::timerIndexAt(int row) const {
    const QTableWidgetItem* cell = theGrid->item(row, 0);
    return cell ? quint16(cell->data(KeyRole).toUInt()) : 0;
}

int TViewTimerFrm::selectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = theGrid->selectedRanges();
    int top = ranges.isEmpty() ? theGrid->currentRow() : ranges.first().topRow();
    for (const QTableWidgetSelectionRange& range : ranges)
        top = std::min(top, range.topRow());
    return top;
}

void TViewTimerFrm::NewClick() {
    try {
        editor.PrepareNewTimer();
        if (editor.ShowModalFor(UnitIndex) != TSetTimerFRM::mrOk)
            return;
    } catch (const std::exception& error) {
        reportException(error);
    }
    refreshAndFill();
}

void TViewTimerFrm::EditClick() {
    const quint16 timer = timerIndexAt(selectedRow());
    if (timer == 0)
        return;
    try {
        editor.LoadTimer(timer);
        if (editor.ShowModalFor(UnitIndex) != TSetTimerFRM::mrOk)
            return;
    } catch (const std::exception& error) {
        reportException(error);
    }
    refreshAndFill();
}

void TViewTimerFrm::DeleteClick() {
    const quint16 timer = timerIndexAt(selectedRow());
    if (timer == 0)
        return;
    // One key must not lose a timer unasked: the question names it, and No is the default.
    QStringList texts;
    for (int column = 0; column < theGrid->columnCount(); ++column) {
        if (const QTableWidgetItem* cell = theGrid->item(selectedRow(), column))
            texts << cell->text();
    }
    const auto answer = Messages::show(
        MessageKind::Confirmation, QCoreApplication::applicationName(),
        QStringLiteral("Delete the timer \"%1\"?").arg(texts.join(QStringLiteral(", "))),
        QMessageBox::Yes | QMessageBox::No, this, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    bool lastOne = false;
    try {
        RemovedRows removed = UndoStore::timerRows(timer);
        removed.description =
            QStringLiteral("the timer \"%1\"").arg(texts.join(QStringLiteral(", ")));
        OpenByTimerIndex(TimerTable, timer);
        if (!TimerTable.eof())
            TimerTable.deleteRecord();
        FilterByIndex(TimerTable, UnitIndex);
        lastOne = TimerTable.recordCount() == 0;
        CloseFiltered(TimerTable);
        if (lastOne) {
            OpenByIndex(MasterTable, UnitIndex);
            if (!MasterTable.eof()) {
                MasterTable.edit();
                MasterTable.fieldByName(QStringLiteral("Timer")).setBoolean(false);
                MasterTable.post();
            }
            CloseFiltered(MasterTable);
        }
        if (undoStore)
            undoStore->push(std::move(removed));
    } catch (const std::exception& error) {
        TimerTable.close();
        MasterTable.close();
        reportException(error);
    }
    if (lastOne)
        emit deviceListChanged();
    refreshAndFill();
}

void TViewTimerFrm::CloseBtnClick() {
    close();
}

// The runner recomputes the next event dates first, so that the rows show them as they now are.
void TViewTimerFrm::refreshAndFill() {
    emit timersChanged();
    if (runner)
        runner->RefreshTimers();
    try {
        FillTimerGrid();
    } catch (const std::exception& error) {
        TimerTable.close();
        reportException(error);
    }
}

} // namespace kavio
