#include "reports/reportsmenu.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <utility>

#include "app/Unit1.h"
#include "reports/historywindow.h"
#include "reports/savefile.h"
#include "reports/whohaswhat.h"
#include "ui_Unit1.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"

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
    if (!whoHasWhat_) whoHasWhat_ = new WhoHasWhatWindow(form_, &form_);
    return whoHasWhat_;
}

namespace {

// The disk list's filter as its controls show it.
QString diskFilterText(const Ui::TForm1& ui) {
    QStringList parts;
    const std::pair<const QRadioButton*, QString> availability[] = {
        {ui.RadioButton1, QStringLiteral("все диски")},
        {ui.RadioButton2, QStringLiteral("в наличии")},
        {ui.RadioButton3, QStringLiteral("на руках")}};
    for (const auto& [button, said] : availability)
        if (button->isChecked()) parts << said;
    const std::pair<const QCheckBox*, QString> switches[] = {
        {ui.CheckBox1, ui.DBLookupComboBox1->currentText()},
        {ui.CheckBox2, ui.DBLookupComboBox2->currentText()},
        {ui.CheckBox4, ui.Edit4->text()}};
    for (const auto& [box, value] : switches)
        if (box->isChecked())
            parts << QStringLiteral("%1 «%2»").arg(box->text().remove(QLatin1Char('&')).toLower(),
                                                   value);
    return parts.join(QStringLiteral("; "));
}

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
                              QStringLiteral("Диски"), diskFilterText(*form_.ui));
}

void ReportsMenu::backup() {
    reports::backupWithDialog(&form_);
}
