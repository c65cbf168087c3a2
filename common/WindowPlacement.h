#pragma once

#include <QString>

class QWidget;

namespace kavio::WindowPlacement {

// Where the windows that remember their place keep it: the settings file "KavioCC", section
// "Geometry", one key per window.

// Puts a window back where it was last closed (its size too when `withSize`), or else leaves its
// first-start size and centres it; either way the whole window, frame included, lies inside the
// available area of its screen (shrunk to fit when the screen is smaller). Call before the
// window is first shown.
void restore(QWidget* window, const QString& key, bool withSize);

// Remembers the window's place (and size) for the next start.
void save(const QWidget* window, const QString& key);

// Moves (and if need be shrinks) a window so that it lies wholly inside its screen's available
// area.
void fitToScreen(QWidget* window);

// Fits the window to its screen (fitToScreen) each time it is shown, by show(), open() or
// exec(), and once more when the window system has added its frame: a window of any first-start
// size, font or scale then opens inside the screen. Call once, when the window is made.
void keepOnScreen(QWidget* window);

} // namespace kavio::WindowPlacement
