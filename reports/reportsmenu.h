#pragma once

#include <QObject>

#include "reports/reportshost.h"

class HistoryWindow;
class WhoHasWhatWindow;

// The main window's "Отчёты" menu: the loan history and who-has-what windows (made on
// first use, modeless, one each), saving the disk list as the filter shows it, and the
// catalogue's backup copy. Nothing here writes to the catalogue.
class ReportsMenu : public QObject {
    Q_OBJECT
public:
    explicit ReportsMenu(const ReportsHost& host);

    HistoryWindow* historyWindow();
    WhoHasWhatWindow* whoHasWhatWindow();

    void showHistory();
    void showWhoHasWhat();
    void exportDisks();
    void backup();

private:
    ReportsHost host_;
    HistoryWindow* history_ = nullptr;
    WhoHasWhatWindow* whoHasWhat_ = nullptr;
};
