#pragma once

#include "HistoryQuery.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTableView;

namespace kavio {

class HistoryModel;

// The History window (Tools > History, Ctrl+3): every kept exchange in a table, newest first,
// filtered by unit or group, source, outcome and a date range, and exported as CSV. It reads a
// page at a time, so it opens at once on a million rows, and it never blocks the queue: the
// Export asks for its file without a modal loop of its own.
class THistoryFrm : public QWidget {
    Q_OBJECT

public:
    explicit THistoryFrm(QWidget* parent = nullptr);
    ~THistoryFrm() override;

    // Shows the window filtered on one unit (all sources, outcomes and dates).
    void showUnit(quint16 index);
    // Shows the window, reading the unit and group names and the rows anew.
    void showHistory();

    // The filter the controls describe now.
    HistoryFilter filter() const;
    // Reads the rows for the controls' filter; a failing database is reported, the table empty.
    void refresh();
    // Writes every row of the current filter (not only those read so far) as CSV; false with
    // `error` set when it cannot.
    bool exportCsv(const QString& path, QString* error = nullptr);

    HistoryModel* model() const { return Model; }

    QComboBox* UnitBox;
    QComboBox* SourceBox;
    QComboBox* OutcomeBox;
    QCheckBox* FromCheck;
    QDateTimeEdit* FromEdit;
    QCheckBox* ToCheck;
    QDateTimeEdit* ToEdit;
    QPushButton* ExportButton;
    QPushButton* CloseButton;
    QTableView* Table;
    QLabel* StatusLabel;

public slots:
    void ExportClick();

private:
    void fillUnits();
    // Says how many rows the table holds, and whether more can be read.
    void showCount();

    HistoryModel* Model;
    bool filling = false;
};

// Adds Tools > History and Ctrl+3 to the main window, opening `window`.
class ListWindow;
void AddHistoryEntry(ListWindow& main, THistoryFrm& window);

} // namespace kavio
