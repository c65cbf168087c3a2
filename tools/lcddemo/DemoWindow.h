#pragma once

#include <QWidget>

namespace kavio::lcd {
class TLCDScreen;
}

// Shows the dot-matrix display as the timer runner uses it (a red clock), with text markup, with
// a scrolling animation script, and with a picture laid over text.
class DemoWindow : public QWidget {
    Q_OBJECT

public:
    explicit DemoWindow(QWidget* parent = nullptr);

    // Advances the scrolling display by some ticks and puts the markup display in the phase
    // that shows its blinking text inverted, so that a still picture shows both animations.
    void prepareStill(int ticks);

private:
    void showTime();

    kavio::lcd::TLCDScreen* m_clock = nullptr;
    kavio::lcd::TLCDScreen* m_markup = nullptr;
    kavio::lcd::TLCDScreen* m_scroller = nullptr;
};
