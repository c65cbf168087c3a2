#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kavio {

// The About box: the program's picture, its name and its version on a raised panel, and OK.
// Created once at start-up and shown without blocking (Ctrl+A in the main window).
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace kavio
