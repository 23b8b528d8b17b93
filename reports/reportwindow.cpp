#include "reports/reportwindow.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHideEvent>
#include <QScreen>
#include <QTableView>
#include <algorithm>

#include "reports/reportsettings.h"

namespace {

// A plain QWidget is a "filler" to AT-SPI, which screen readers do not announce as a
// window; a report window is one.
QAccessibleInterface* accessibleReportWindow(const QString& className, QObject* object) {
    if (className == QLatin1String(ReportWindow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

// Room kept for the title bar and borders the window manager adds around the window.
constexpr int kFrameRoom = 40;

QRect withinScreen(QRect place, const QRect& screen) {
    place.setWidth(std::min(place.width(), screen.width()));
    place.setHeight(std::min(place.height(), screen.height() - kFrameRoom));
    place.moveLeft(std::clamp(place.x(), screen.left(), screen.right() + 1 - place.width()));
    place.moveTop(
        std::clamp(place.y(), screen.top(), screen.bottom() + 1 - kFrameRoom - place.height()));
    return place;
}

}  // namespace

ReportWindow::ReportWindow(QString name, QWidget* parent)
    : QWidget(parent, Qt::Window), name_(std::move(name)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleReportWindow);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // Quitting with the window open destroys it without hiding it first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible()) savePlace();
    });
}

void ReportWindow::savePlace() const {
    if (settled_) reports::saveWindowPlace(name_, {pos(), size()});
}

void ReportWindow::settle() {
    for (auto* view : findChildren<QAbstractItemView*>()) view->setTabKeyNavigation(false);
    for (auto* grid : findChildren<QTableView*>())
        grid->horizontalHeader()->setStretchLastSection(true);
    QRect place(QPoint(), size());
    if (const auto saved = reports::windowPlace(name_)) {
        place = *saved;
    } else if (parentWidget()) {
        place.moveCenter(parentWidget()->window()->frameGeometry().center());
    }
    const QScreen* screen = QGuiApplication::screenAt(place.center());
    if (!screen) screen = parentWidget() ? parentWidget()->screen() : this->screen();
    place = withinScreen(place, screen->availableGeometry());
    resize(place.size());
    move(place.topLeft());
    settled_ = true;
}

void ReportWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) savePlace();
    QWidget::hideEvent(event);
}
