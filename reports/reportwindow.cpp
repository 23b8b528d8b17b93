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
#include "widgets/windowplace.h"

namespace {

// A plain QWidget is a "filler" to AT-SPI, which screen readers do not announce as a
// window; a report window is one.
QAccessibleInterface* accessibleReportWindow(const QString& className, QObject* object) {
    if (className == QLatin1String(ReportWindow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
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
    placeWindow(*this, reports::windowPlace(name_));
    settled_ = true;
}

void ReportWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) savePlace();
    QWidget::hideEvent(event);
}
