#pragma once

#include "CommandResult.h"

#include <QDateTime>
#include <QWidget>
#include <map>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace kavio {

// The notice "Could Not Connect to: <name>": a small stay-on-top window without caption or
// title-bar buttons. There is one of it: every unit that cannot be reached is added to its list,
// newest first with the time, and a unit that fails again moves to the top. However many units
// fail, one window holds them, and its list keeps the newest MaxLines. Close hides it and
// empties it.
class TConFail : public QWidget {
    Q_OBJECT

public:
    static constexpr int MaxLines = 500;
    // The list is redrawn at most this often while failures pour in.
    static constexpr int RedrawDelayMs = 100;

    TConFail();

    // The program's one notice, made the first time it is needed.
    static TConFail& notice();

    // Adds a unit that could not be reached at `when` and shows the notice.
    void AddUnit(quint16 index, const QString& unitName, const QDateTime& when);
    // How many units are listed (at most MaxLines) and how many failed since the last Close.
    int lineCount() const { return int(byTime.size()); }
    int unitCount() const { return failedCount; }
    // The lines as shown, newest first ("22:14:05  Rack 7").
    QStringList lines();

    QLabel* Label1;
    QListWidget* UnitList;
    QPushButton* Button1;

public slots:
    void Button1Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Line {
        quint16 index;
        QString name;
        QDateTime when;
    };
    void redraw();
    void clearUnits();

    std::map<quint64, Line> byTime;      // by arrival, oldest first
    std::vector<quint64> arrivalOfIndex; // by unit key: its line's arrival, or 0
    std::vector<char> failed;            // by unit key: failed since the last Close
    int failedCount = 0;
    quint64 arrivals = 0;
    QTimer* redrawTimer;
};

// Puts a command's failed connection on the notice. Commands that kavioctl handed over raise no
// notice: the script that sent them reads its exit status, and the log has the failure.
void ShowConnectFailed(const TCommandResult& result);

} // namespace kavio
