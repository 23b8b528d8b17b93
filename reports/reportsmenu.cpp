#include "reports/reportsmenu.h"

#include "app/Unit1.h"
#include "reports/historywindow.h"
#include "reports/savefile.h"
#include "reports/whohaswhat.h"
#include "ui_Unit1.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"

ReportsMenu::ReportsMenu(TForm1& form) : QObject(&form), form_(form) {
    setObjectName(QStringLiteral("ReportsMenu"));
    auto wire = [this](QAction* action, void (ReportsMenu::*command)()) {
        connect(action, &QAction::triggered, this,
                [this, command] { guarded([&] { (this->*command)(); }); });
    };
    wire(form.ui->ActionLoanHistory, &ReportsMenu::showHistory);
    wire(form.ui->ActionWhoHasWhat, &ReportsMenu::showWhoHasWhat);
    wire(form.ui->ActionExportDisks, &ReportsMenu::exportDisks);
    wire(form.ui->ActionBackup, &ReportsMenu::backup);
}

HistoryWindow* ReportsMenu::historyWindow() {
    if (!history_) {
        history_ = new HistoryWindow(form_, &form_);
        // The who-has-what list counts overdue loans by the same limit.
        connect(history_, &HistoryWindow::overdueDaysChanged, this, [this] {
            if (whoHasWhat_ && whoHasWhat_->isVisible()) guarded([&] { whoHasWhat_->refresh(); });
        });
    }
    return history_;
}

WhoHasWhatWindow* ReportsMenu::whoHasWhatWindow() {
    if (!whoHasWhat_) whoHasWhat_ = new WhoHasWhatWindow(form_, &form_);
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
    if (!form_.Query5->isOpen()) form_.Query5->open();
    reports::exportWithDialog(&form_, form_.Query5->query(), reports::diskExport(),
                              QStringLiteral("Диски"));
}

void ReportsMenu::backup() {
    reports::backupWithDialog(&form_);
}
