#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace kavio {

// The notice "Could Not Connect to: <name>": a small stay-on-top window without caption or
// title-bar buttons, one per failed connection, released when closed.
class TConFail : public QWidget {
    Q_OBJECT

public:
    explicit TConFail(const QString& unitName);

    QLabel* Label1;
    QPushButton* Button1;

public slots:
    void Button1Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// Opens a new notice for the unit, without blocking. Several may be open at once.
TConFail* ShowConnectFailed(const QString& unitName);

} // namespace kavio
