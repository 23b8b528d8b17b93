#pragma once

#include <QRect>
#include <optional>

class QWidget;

// Puts a window where it was last left (saved), else centred over its parent's window,
// and keeps it whole on the screen it lands on, room left for the frame the window
// manager adds.
void placeWindow(QWidget& window, const std::optional<QRect>& saved);

// The place moved and shrunk as little as needed to lie within the screen.
QRect withinScreen(QRect place, const QRect& screen);
