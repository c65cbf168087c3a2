#include "KavioList.h"

#include "Codes.h"
#include "ControlCharacters.h"
#include "Icons.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace kavio {

// ---- KavioListModel -----------------------------------------------------------------------------

KavioListModel::KavioListModel(QObject* parent)
    : QAbstractListModel(parent)
    , m_rowOfIndex(size_t(MaxUnitIndex) + 1, -1) {}

KavioListModel::~KavioListModel() = default;

int KavioListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant KavioListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return entry(index.row()).Name;
    case Qt::CheckStateRole:
        return box(index.row()) ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool KavioListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid())
        return false;
    setBox(index.row(), value.toInt() == Qt::Checked);
    emit boxToggled(index.row());
    return true;
}

Qt::ItemFlags KavioListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void KavioListModel::setBox(int row, bool on) {
    if (box(row) == on)
        return;
    m_boxes[size_t(row)] = on;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
}

void KavioListModel::setAllBoxes(bool on) {
    if (m_lines.empty())
        return;
    std::fill(m_boxes.begin(), m_boxes.end(), char(on));
    emit dataChanged(index(0), index(count() - 1), {Qt::CheckStateRole});
}

int KavioListModel::rowOf(quint16 index) const {
    return m_rowOfIndex[index];
}

void KavioListModel::clear() {
    if (m_lines.empty())
        return;
    beginResetModel();
    std::fill(m_rowOfIndex.begin(), m_rowOfIndex.end(), -1);
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_boxes.clear();
    m_boxes.shrink_to_fit();
    m_complete.clear();
    m_complete.shrink_to_fit();
    endResetModel();
}

void KavioListModel::append(std::vector<TKavio> lines) {
    if (lines.empty())
        return;
    const int first = count();
    beginInsertRows({}, first, first + int(lines.size()) - 1);
    m_lines.reserve(m_lines.size() + lines.size());
    for (TKavio& line : lines) {
        if (m_rowOfIndex[line.Index] < 0)
            m_rowOfIndex[line.Index] = int(m_lines.size());
        m_boxes.push_back(line.Checked);
        m_complete.push_back(0);
        m_lines.push_back(std::move(line));
    }
    endInsertRows();
}

TKavio& KavioListModel::record(int row) {
    TKavio& line = m_lines[size_t(row)];
    if (m_complete[size_t(row)])
        return line;
    if (const std::optional<lines::LineRecord> stored = lines::readLineRecord(line.Index)) {
        if (!line.Group) {
            line.IPAddress = stored->address;
            line.Port = stored->port;
            line.Status = stored->status;
        }
        line.Timer = stored->timer;
    }
    m_complete[size_t(row)] = 1;
    return line;
}

LiveFields KavioListModel::read(lines::LineStateReader& reader, int row) const {
    const TKavio& line = entry(row);
    const std::optional<lines::LineState> state = reader.read(line.Index);
    if (!state)
        return {line.Group, line.Status, line.Timer};
    return {state->group, state->status, state->timer};
}

LiveFields KavioListModel::live(int row) const {
    if (m_paintReader)
        return read(*m_paintReader, row);
    if (auto reader = lines::LineStateReader::open())
        return read(*reader, row);
    const TKavio& line = entry(row);
    return {line.Group, line.Status, line.Timer};
}

void KavioListModel::beginPaint() {
    m_paintReader = lines::LineStateReader::open();
}

void KavioListModel::endPaint() {
    m_paintReader.reset();
}

// ---- KavioListDelegate --------------------------------------------------------------------------

QRect KavioListDelegate::checkRect(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    if (!style)
        return QRect(option.rect.left() + 2, option.rect.top() + 2, 13, 13);
    return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
}

QRect KavioListDelegate::area(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QRect line = option.rect;
    line.setLeft(checkRect(option, index).right() + 3);
    return line;
}

void KavioListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const auto* shown = static_cast<const ShownLines*>(index.model());
    const KavioListModel* model = shown->lines();
    const int row = shown->lineOf(index.row());
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const LiveFields fields = model->live(row);

    QStyleOptionViewItem check = option;
    initStyleOption(&check, index);
    check.rect = checkRect(option, index);
    check.state = (check.state & ~(QStyle::State_On | QStyle::State_Off)) |
                  (model->box(row) ? QStyle::State_On : QStyle::State_Off);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    if (style)
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, widget);

    const QRect rect = area(option, index);
    const bool selected = option.state & QStyle::State_Selected;
    painter->fillRect(rect, selected ? option.palette.highlight() : option.palette.base());

    const int right = rect.left() + rect.width(); // just past the line's last pixel
    painter->drawPixmap(rect.left() + 1, rect.top() + 1,
                        fields.Group ? Icons::group(ratio)
                                     : Icons::forStatus(fields.Status, ratio));
    int textRight = right;
    if (fields.Timer) {
        textRight = right - 18;
        painter->drawPixmap(textRight, rect.top() + 1, Icons::timer(ratio));
    }

    const QRect textRect(rect.left() + 20, rect.top() + 2,
                         std::max(0, textRight - 2 - (rect.left() + 20)), rect.height() - 2);
    const QString text = option.fontMetrics.elidedText(
        blankControlCharacters(model->entry(row).Name), Qt::ElideRight, textRect.width());
    painter->setFont(option.font);
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Text));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

// Lines are as wide as the list (never wider, whatever the name) and all of one height: the
// usual one, or what the font and the style's check box need when they are larger.
QSize KavioListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int box = style->pixelMetric(QStyle::PM_IndicatorHeight, &option, widget);
    return QSize(option.rect.width(),
                 std::max({LineHeight, option.fontMetrics.height() + 4, box + 4}));
}

// ---- KavioListView ------------------------------------------------------------------------------

KavioListView::KavioListView(QWidget* parent)
    : QListView(parent)
    , m_model(new KavioListModel(this))
    , m_shown(new ShownLines(m_model, this))
    , m_delegate(new KavioListDelegate(this)) {
    setModel(m_shown);
    setItemDelegate(m_delegate);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::NoContextMenu);
    QFont lineFont = font();
    lineFont.setPixelSize(12);
    setFont(lineFont);
}

QAbstractItemView* KavioListView::shownView() const {
    if (m_details && m_detailsShown)
        return m_details;
    return const_cast<KavioListView*>(this);
}

void KavioListView::setDetailsView(QAbstractItemView* details, bool shownInstead) {
    m_details = details;
    m_detailsShown = details && shownInstead;
}

int KavioListView::currentLine() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty() || selected.first().row() >= m_shown->rowCount())
        return -1;
    return m_shown->lineOf(selected.first().row());
}

void KavioListView::refreshLines() {
    shownView()->viewport()->update();
}

void KavioListView::paintEvent(QPaintEvent* event) {
    ++m_paints;
    m_model->beginPaint();
    QListView::paintEvent(event);
    m_model->endPaint();
}

void KavioListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit rightPressed(event->button(), event->modifiers(), event->position().toPoint());
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}

} // namespace kavio
