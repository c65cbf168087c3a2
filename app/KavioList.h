#pragma once

#include "Kavio.h"
#include "ListLines.h"
#include "ShownLines.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <memory>
#include <vector>

namespace kavio {

// What a line shows that may change between two rebuilds: read from the store at each paint.
struct LiveFields {
    bool Group = false;
    quint8 Status = 3;
    bool Timer = false;
};

// The lines of the device list: one TKavio per line, in list order, with the line's check box.
// The box starts as the record's stored Checked; ticking by hand changes the box, and the window
// writes it through to the store (boxToggled).
class KavioListModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit KavioListModel(QObject* parent = nullptr);
    ~KavioListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int count() const { return int(m_lines.size()); }
    // A line's record as read when the list was built: Index, Name, Group and Checked.
    const TKavio& entry(int row) const { return m_lines[size_t(row)]; }
    // A line's whole record: the rest of its fields (IPAddress, Port, Timer, Status) are read
    // from the store the first time they are asked for, so that a rebuild reads only what the
    // list shows.
    TKavio& record(int row);
    bool box(int row) const { return m_boxes[size_t(row)] != 0; }
    // Sets a line's box without writing the store.
    void setBox(int row, bool on);
    // Sets every line's box.
    void setAllBoxes(bool on);
    // The line holding the record with this key, or -1.
    int rowOf(quint16 index) const;

    void clear();
    // Appends lines in the given order; each box starts as the record's Checked.
    void append(std::vector<TKavio> lines);

    // Group, Status and Timer of a line as the store holds them now; the snapshot when the record
    // cannot be read (deleted meanwhile, or the store busy).
    LiveFields live(int row) const;
    // Between these two calls every live() reuses one prepared statement (a paint pass).
    void beginPaint();
    void endPaint();

signals:
    // The operator toggled a line's box (click or space bar).
    void boxToggled(int row);

private:
    LiveFields read(lines::LineStateReader& reader, int row) const;

    std::vector<TKavio> m_lines;
    std::vector<char> m_boxes;
    std::vector<char> m_complete;  // the record's remaining fields have been read
    std::vector<int> m_rowOfIndex; // by key: the line, or -1
    std::unique_ptr<lines::LineStateReader> m_paintReader;
};

// Draws one line of the compact list: the check box at the left, then on the line's fill the
// icon of the record's status (or the group mark), its name as plain text elided to the space
// left, and the clock mark 18 pixels left of the right edge when timers exist. Its model is the
// ShownLines over the list's lines.
class KavioListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // The height of every line at the usual font; a larger font or check box makes all lines
    // taller alike.
    static constexpr int LineHeight = 18;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The part of a line right of its check box.
    QRect area(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    QRect checkRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

// The list control: lines of equal height, single selection; a right-click is handed to the
// window (rightPressed) instead of the toolkit's own handling.
class KavioListView : public QListView {
    Q_OBJECT

public:
    explicit KavioListView(QWidget* parent = nullptr);
    // Every line of the tab, in list order.
    KavioListModel* lines() const { return m_model; }
    // The lines the views show: narrowed by the find text, sorted in the Details view. The
    // selection model is this one's, shared with the Details view.
    ShownLines* shown() const { return m_shown; }
    KavioListDelegate* delegate() const { return m_delegate; }
    // The view the operator sees: this list or the Details view.
    QAbstractItemView* shownView() const;
    void setDetailsView(QAbstractItemView* details, bool shownInstead);
    // The line (of lines()) that is selected, or -1.
    int currentLine() const;
    // Repaints the lines in whichever view shows them (a status changed, the window resized).
    void refreshLines();
    // How many paint passes have run (each reads the visible lines from the store).
    int paintCount() const { return m_paints; }

signals:
    // A right-click, at a position in the shown view's viewport.
    void rightPressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    // A unit's line was double-clicked in the Details view.
    void unitDoubleClicked(quint16 index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    KavioListModel* m_model;
    ShownLines* m_shown;
    KavioListDelegate* m_delegate;
    QAbstractItemView* m_details = nullptr;
    bool m_detailsShown = false;
    int m_paints = 0;
};

} // namespace kavio
