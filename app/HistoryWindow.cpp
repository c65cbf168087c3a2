#include "HistoryWindow.h"

#include "CommandSource.h"
#include "Database.h"
#include "Exception.h"
#include "FileDialogs.h"
#include "HistoryModel.h"
#include "ListWindow.h"
#include "NameOrder.h"
#include "UnitDirectory.h"
#include "WindowPlacement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

namespace kavio {
namespace {

// The unit box holds a unit's key as a positive number, a group's as a negative one; 0 is all.
constexpr int AllUnits = 0;

const QList<CommandSource> Sources = {
    CommandSource::Button,    CommandSource::Popup, CommandSource::Poll,
    CommandSource::TimedPoll, CommandSource::Timer, CommandSource::CycleFollowUp,
    CommandSource::Kavioctl,  CommandSource::Http,
};

} // namespace

THistoryFrm::THistoryFrm(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , UnitBox(new QComboBox(this))
    , SourceBox(new QComboBox(this))
    , OutcomeBox(new QComboBox(this))
    , FromCheck(new QCheckBox(tr("From"), this))
    , FromEdit(new QDateTimeEdit(this))
    , ToCheck(new QCheckBox(tr("To"), this))
    , ToEdit(new QDateTimeEdit(this))
    , ExportButton(new QPushButton(tr("Export CSV..."), this))
    , CloseButton(new QPushButton(tr("Close"), this))
    , Table(new QTableView(this))
    , StatusLabel(new QLabel(this))
    , Model(new HistoryModel(this)) {
    setWindowTitle(tr("History"));
    resize(820, 480);
    // However large the fonts or small the screen: the filters take two rows and give way, the
    // table scrolls, and Esc closes the window.
    WindowPlacement::keepOnScreen(this);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::hide);
    for (QComboBox* box : {UnitBox, SourceBox, OutcomeBox}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(8);
    }
    StatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    SourceBox->addItem(tr("All sources"));
    for (CommandSource source : Sources)
        SourceBox->addItem(sourceName(source), sourceName(source));
    OutcomeBox->addItem(tr("All outcomes"));
    for (const QString& outcome : HistoryOutcomes())
        OutcomeBox->addItem(outcome, outcome);
    for (QDateTimeEdit* edit : {FromEdit, ToEdit}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setEnabled(false);
    }
    FromEdit->setDateTime(QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0)));
    ToEdit->setDateTime(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)));

    Table->setModel(Model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setWordWrap(false);
    // The time in full at any font: the widest digits in its layout, with the cell's margins.
    const QFontMetrics metrics = Table->fontMetrics();
    Table->setColumnWidth(HistoryModel::Time,
                          metrics.horizontalAdvance(QStringLiteral("8888-88-88 88:88:88.888")) +
                              2 * metrics.averageCharWidth());

    auto* filters = new QHBoxLayout;
    filters->addWidget(UnitBox, 2);
    filters->addWidget(SourceBox, 1);
    filters->addWidget(OutcomeBox, 1);
    auto* dates = new QHBoxLayout;
    dates->addWidget(FromCheck);
    dates->addWidget(FromEdit);
    dates->addWidget(ToCheck);
    dates->addWidget(ToEdit);
    dates->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(StatusLabel, 1);
    buttons->addWidget(ExportButton);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addLayout(dates);
    layout->addWidget(Table, 1);
    layout->addLayout(buttons);

    const auto changed = [this] {
        if (!filling)
            refresh();
    };
    connect(UnitBox, &QComboBox::currentIndexChanged, this, changed);
    connect(SourceBox, &QComboBox::currentIndexChanged, this, changed);
    connect(OutcomeBox, &QComboBox::currentIndexChanged, this, changed);
    connect(FromCheck, &QCheckBox::toggled, FromEdit, &QWidget::setEnabled);
    connect(ToCheck, &QCheckBox::toggled, ToEdit, &QWidget::setEnabled);
    connect(FromCheck, &QCheckBox::toggled, this, changed);
    connect(ToCheck, &QCheckBox::toggled, this, changed);
    connect(FromEdit, &QDateTimeEdit::dateTimeChanged, this, changed);
    connect(ToEdit, &QDateTimeEdit::dateTimeChanged, this, changed);
    connect(ExportButton, &QPushButton::clicked, this, &THistoryFrm::ExportClick);
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::hide);
    // The count follows the pages as the table reads them.
    connect(Model, &QAbstractItemModel::rowsInserted, this, &THistoryFrm::showCount);
    connect(Model, &QAbstractItemModel::modelReset, this, &THistoryFrm::showCount);
}

THistoryFrm::~THistoryFrm() = default;

// Units first, then groups, each in the list's order of names; the choice made before stays
// when it still exists.
void THistoryFrm::fillUnits() {
    const QVariant chosen = UnitBox->currentData();
    filling = true;
    UnitBox->clear();
    UnitBox->addItem(tr("All units"), AllUnits);
    if (Database::isOpen()) {
        struct Entry {
            int key;
            QString name;
        };
        std::vector<Entry> units;
        std::vector<Entry> groups;
        try {
            for (const StoredRecord& record : directory::recordsByKey()) {
                Entry entry{record.index, PlainText(record.name)};
                (record.group ? groups : units).push_back(std::move(entry));
            }
        } catch (const Exception&) {
            // A table that cannot be read now offers only "All units".
        }
        const auto nameOf = [](const Entry& entry) { return entry.name; };
        sortByName(units, nameOf);
        sortByName(groups, nameOf);
        for (const Entry& unit : units)
            UnitBox->addItem(unit.name, unit.key);
        for (const Entry& group : groups)
            UnitBox->addItem(tr("Group: %1").arg(group.name), -group.key);
    }
    const int found = UnitBox->findData(chosen);
    UnitBox->setCurrentIndex(found < 0 ? 0 : found);
    filling = false;
}

HistoryFilter THistoryFrm::filter() const {
    HistoryFilter f;
    const int unit = UnitBox->currentData().toInt();
    if (unit > 0)
        f.Unit = quint16(unit);
    else if (unit < 0)
        f.Group = quint16(-unit);
    if (SourceBox->currentIndex() > 0)
        f.Sources << SourceBox->currentData().toString();
    if (OutcomeBox->currentIndex() > 0)
        f.Outcomes << OutcomeBox->currentData().toString();
    if (FromCheck->isChecked())
        f.SinceMs = FromEdit->dateTime().toMSecsSinceEpoch();
    if (ToCheck->isChecked())
        f.UntilMs = ToEdit->dateTime().toMSecsSinceEpoch();
    return f;
}

void THistoryFrm::refresh() {
    try {
        Model->setFilter(filter());
    } catch (const Exception& error) {
        Model->clear();
        StatusLabel->setText(error.message());
        StatusLabel->setToolTip(error.message());
    }
}

void THistoryFrm::showCount() {
    const QString text = Model->canFetchMore({})
                             ? tr("Newest %1 rows; scroll for more").arg(Model->rowCount())
                             : tr("%1 rows").arg(Model->rowCount());
    StatusLabel->setText(text);
    StatusLabel->setToolTip(text);
}

void THistoryFrm::showHistory() {
    fillUnits();
    refresh();
    show();
    raise();
    activateWindow();
}

void THistoryFrm::showUnit(quint16 index) {
    fillUnits();
    filling = true;
    const int found = UnitBox->findData(int(index));
    UnitBox->setCurrentIndex(found < 0 ? 0 : found);
    SourceBox->setCurrentIndex(0);
    OutcomeBox->setCurrentIndex(0);
    FromCheck->setChecked(false);
    ToCheck->setChecked(false);
    filling = false;
    refresh();
    show();
    raise();
    activateWindow();
}

bool THistoryFrm::exportCsv(const QString& path, QString* error) {
    QString problem;
    try {
        const QByteArray csv = HistoryCsv(ReadHistory(filter(), 0).Rows);
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.commit())
            return true;
        problem = file.errorString();
    } catch (const Exception& failure) {
        problem = failure.message();
    }
    if (error)
        *error = tr("The history cannot be exported to %1: %2").arg(path, problem);
    return false;
}

void THistoryFrm::ExportClick() {
    auto* dialog =
        SafeFileDialog::forSaving(this, tr("Export the history"),
                                  tr("CSV files (*.csv);;All files (*)"), QStringLiteral("csv"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString error;
        if (!exportCsv(path, &error))
            reportException(Exception(error));
    });
    dialog->open();
}

void AddHistoryEntry(ListWindow& main, THistoryFrm& window) {
    QAction* entry = main.toolsMenu()->addAction(QObject::tr("History"));
    entry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_3));
    entry->setShortcutContext(Qt::WidgetShortcut); // the main window's own key handling runs it
    QObject::connect(entry, &QAction::triggered, &window, &THistoryFrm::showHistory);
    main.setCtrlKey(Qt::Key_3, [&window] { window.showHistory(); });
}

} // namespace kavio
