#include "widgets/windowplace.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

// Room kept for the title bar and borders the window manager adds around the window.
constexpr int kFrameRoom = 40;

}  // namespace

QRect withinScreen(QRect place, const QRect& screen) {
    place.setWidth(std::min(place.width(), screen.width()));
    place.setHeight(std::min(place.height(), screen.height() - kFrameRoom));
    place.moveLeft(std::clamp(place.x(), screen.left(), screen.right() + 1 - place.width()));
    place.moveTop(
        std::clamp(place.y(), screen.top(), screen.bottom() + 1 - kFrameRoom - place.height()));
    return place;
}

void placeWindow(QWidget& window, const std::optional<QRect>& saved) {
    QRect place(QPoint(), window.size());
    QWidget* parent = window.parentWidget();
    if (saved)
        place = *saved;
    else if (parent)
        place.moveCenter(parent->window()->frameGeometry().center());
    const QScreen* screen = QGuiApplication::screenAt(place.center());
    if (!screen) screen = parent ? parent->screen() : window.screen();
    place = withinScreen(place, screen->availableGeometry());
    window.resize(place.size());
    window.move(place.topLeft());
}
