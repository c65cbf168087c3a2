#include "ListPanel.h"

#include "KavioList.h"
#include "SettingsFile.h"
#include "ShownLines.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>

namespace kavio {
namespace {

const QString DetailsKey = QStringLiteral("View/Details");

} // namespace

// ---- KavioDetailsView ---------------------------------------------------------------------------

KavioDetailsView::KavioDetailsView(KavioListView* list, QWidget* parent)
    : QTreeView(parent)
    , m_list(list) {
    setModel(list->shown());
    setSelectionModel(list->selectionModel());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setContextMenuPolicy(Qt::NoContextMenu);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(true);
    header()->setSortIndicator(ShownLines::NameColumn, Qt::AscendingOrder);
    header()->setStretchLastSection(true);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    // Column widths from the font: room for the widest value each column can hold.
    const QFontMetrics metrics(font());
    const int pad = metrics.horizontalAdvance(QLatin1Char('M')) * 2;
    const auto fit = [&](int column, const QString& widest) {
        setColumnWidth(column, metrics.horizontalAdvance(widest) + pad);
    };
    // The name: its box and icon, and about twenty characters of a typical name.
    setColumnWidth(ShownLines::NameColumn, metrics.averageCharWidth() * 20 + 2 * 20 + pad);
    fit(ShownLines::StatusColumn, QStringLiteral("unreachable"));
    fit(ShownLines::AddressColumn, QStringLiteral("255.255.255.255"));
    fit(ShownLines::PortColumn, QStringLiteral("65535"));
    fit(ShownLines::GroupsColumn, QStringLiteral("Group name, Group"));
    fit(ShownLines::TimersColumn, QStringLiteral("Timers"));
    fit(ShownLines::LastAnswerColumn, QStringLiteral("2026-12-07 12:03:07"));
}

void KavioDetailsView::keyboardSearch(const QString& search) {
    // The view searches the column of the current cell: the name's, then.
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.column() != ShownLines::NameColumn)
        selectionModel()->setCurrentIndex(current.siblingAtColumn(ShownLines::NameColumn),
                                          QItemSelectionModel::NoUpdate);
    QTreeView::keyboardSearch(search);
}

void KavioDetailsView::paintEvent(QPaintEvent* event) {
    m_list->lines()->beginPaint();
    QTreeView::paintEvent(event);
    m_list->lines()->endPaint();
}

void KavioDetailsView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit m_list->rightPressed(event->button(), event->modifiers(), event->position().toPoint());
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void KavioDetailsView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    const QModelIndex under = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !under.isValid())
        return;
    const TKavio& line = m_list->lines()->entry(m_list->shown()->lineOf(under.row()));
    if (!line.Group)
        emit m_list->unitDoubleClicked(line.Index);
}

// ---- KavioListPanel -----------------------------------------------------------------------------

KavioListPanel::KavioListPanel(KavioListView* list, QWidget* parent)
    : QWidget(parent)
    , m_list(list) {
    FindEdit = new QLineEdit(this);
    FindEdit->setPlaceholderText(QStringLiteral("Find a name, an address or a group"));
    FindEdit->setClearButtonEnabled(true);
    FindEdit->hide();
    FindEdit->installEventFilter(this);
    connect(FindEdit, &QLineEdit::textChanged, list->shown(), &ShownLines::setFilterText);

    Details = new KavioDetailsView(list, this);
    Details->hide();
    list->installEventFilter(this);
    Details->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FindEdit);
    layout->addWidget(list, 1);
    layout->addWidget(Details, 1);

    Find1 = new QAction(QStringLiteral("&Find"), this);
    Find1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(Find1, &QAction::triggered, this, &KavioListPanel::showFind);
    Details1 = new QAction(QStringLiteral("&Details"), this);
    Details1->setCheckable(true);
    connect(Details1, &QAction::triggered, this, [this](bool on) {
        setDetails(on);
        settingsFile().setValue(DetailsKey, on);
    });
    setDetails(settingsFile().value(DetailsKey, false).toBool());
}

void KavioListPanel::fillViewMenu(QMenu* menu) {
    menu->addAction(Find1);
    menu->addSeparator();
    menu->addAction(Details1);
}

void KavioListPanel::showFind() {
    m_list->shown()->setFindOpen(true);
    FindEdit->show();
    FindEdit->setFocus(Qt::ShortcutFocusReason);
    FindEdit->selectAll();
}

void KavioListPanel::clearFind() {
    const bool hadFocus = FindEdit->hasFocus();
    FindEdit->clear();
    FindEdit->hide();
    m_list->shown()->setFindOpen(false);
    if (hadFocus)
        m_list->shownView()->setFocus(Qt::OtherFocusReason);
}

bool KavioListPanel::details() const {
    return m_list->shownView() == Details;
}

void KavioListPanel::setDetails(bool details) {
    Details1->setChecked(details);
    const bool hadFocus = m_list->shownView()->hasFocus();
    ShownLines* shown = m_list->shown();
    if (details) {
        shown->sort(Details->header()->sortIndicatorSection(),
                    Details->header()->sortIndicatorOrder());
    } else {
        // The compact list shows the lines in their own order.
        shown->sort(ShownLines::NameColumn, Qt::AscendingOrder);
    }
    m_list->setDetailsView(Details, details);
    m_list->setVisible(!details);
    Details->setVisible(details);
    if (hadFocus)
        m_list->shownView()->setFocus(Qt::OtherFocusReason);
    const QModelIndex current = m_list->currentIndex();
    if (current.isValid())
        m_list->shownView()->scrollTo(current);
}

// Escape in the find field, or in the list while the field is shown, clears the find text.
bool KavioListPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && FindEdit->isVisibleTo(this)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            clearFind();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kavio
