#pragma once

#include <QTreeView>
#include <QWidget>

class QAction;
class QLineEdit;
class QMenu;

namespace kavio {

class KavioListView;
class ShownLines;

// The Details view of the device list: one line per record in sortable columns (name with its
// box and icon, status as a word, address, port, groups, timers). It shows the same lines, boxes
// and selection as the compact list, and reads each line's status at each paint.
class KavioDetailsView : public QTreeView {
    Q_OBJECT

public:
    explicit KavioDetailsView(KavioListView* list, QWidget* parent = nullptr);

    // Typing a name finds it, whichever column was clicked last.
    void keyboardSearch(const QString& search) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    KavioListView* m_list;
};

// The part of the main window under the tabs: the find field (shown by Ctrl+F) above the list,
// shown either as the compact list or as the Details view. The view chosen is kept in the
// settings file (section "View", key "Details").
class KavioListPanel : public QWidget {
    Q_OBJECT

public:
    // Takes the compact list into the panel.
    explicit KavioListPanel(KavioListView* list, QWidget* parent = nullptr);

    // Adds "&Find" (Ctrl+F) and "&Details" to the window's View menu.
    void fillViewMenu(QMenu* menu);

    // Shows the find field and puts the caret in it.
    void showFind();
    // Empties the find field and hides it: every line of the tab shows again.
    void clearFind();
    void setDetails(bool details);
    bool details() const;

    QLineEdit* FindEdit;
    KavioDetailsView* Details;
    QAction* Find1;
    QAction* Details1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    KavioListView* m_list;
};

} // namespace kavio
