#include "reports/reportsmenu.h"

#include <QAction>

#include "reports/historywindow.h"
#include "reports/savefile.h"
#include "reports/whohaswhat.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"

ReportsMenu::ReportsMenu(const ReportsHost& host) : QObject(&host.window), host_(host) {
    setObjectName(QStringLiteral("ReportsMenu"));
    auto wire = [this](QAction* action, void (ReportsMenu::*command)()) {
        connect(action, &QAction::triggered, this,
                [this, command] { guarded([&] { (this->*command)(); }); });
    };
    wire(&host.loanHistory, &ReportsMenu::showHistory);
    wire(&host.whoHasWhat, &ReportsMenu::showWhoHasWhat);
    wire(&host.exportDisks, &ReportsMenu::exportDisks);
    wire(&host.backup, &ReportsMenu::backup);
}

HistoryWindow* ReportsMenu::historyWindow() {
    if (!history_) {
        history_ = new HistoryWindow(host_.disks, &host_.window);
        // The who-has-what list counts overdue loans by the same limit, and lists the
        // loans the history closes.
        const auto refreshWhoHasWhat = [this] {
            if (whoHasWhat_ && whoHasWhat_->isVisible()) guarded([&] { whoHasWhat_->refresh(); });
        };
        connect(history_, &HistoryWindow::overdueDaysChanged, this, refreshWhoHasWhat);
        connect(history_, &HistoryWindow::loanClosed, this, refreshWhoHasWhat);
    }
    return history_;
}

WhoHasWhatWindow* ReportsMenu::whoHasWhatWindow() {
    if (!whoHasWhat_) whoHasWhat_ = new WhoHasWhatWindow(&host_.window);
    return whoHasWhat_;
}

namespace {

void bringUp(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void ReportsMenu::showHistory() {
    bringUp(historyWindow());
}

void ReportsMenu::showWhoHasWhat() {
    bringUp(whoHasWhatWindow());
}

void ReportsMenu::exportDisks() {
    if (!host_.disks.isOpen()) host_.disks.open();
    reports::exportWithDialog(&host_.window, host_.disks.query(), reports::diskExport(),
                              QStringLiteral("Диски"),
                              host_.diskFilterText ? host_.diskFilterText() : QString());
}

void ReportsMenu::backup() {
    reports::backupWithDialog(&host_.window);
}
