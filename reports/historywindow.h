#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "reports/loanstatements.h"

namespace Ui {
class LoanHistory;
}
class ListQuery;
class LoanModel;

// "История выдачи": every loan, open and closed, newest first, under a filter, with a
// summary line. Modeless beside the main window; it follows every committed write of the
// loans, disks and debtors and, with "Только текущий диск", the current disk of the
// main window's disk list. Rows are read from the catalogue only as the
// grid shows them. It only reads.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(ListQuery& disks, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    loans::Filter filter() const;
    loans::Reckoning reckoning() const;
    // Rebuilds the list from the filter now, and the summary line right after the grid's
    // first screen (changes of the filter wait for the event loop, so several at once
    // rebuild once).
    void refresh();
    // The day that counts as today; the computer's date unless set (tests).
    void setToday(std::optional<store::Date> today) { today_ = today; }

signals:
    void overdueDaysChanged(int days);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<Ui::LoanHistory> ui;
    ListQuery* Loans;    // the history, HistoryGrid
    ListQuery* Debtors;  // the debtor lookup, DebtorBox
    LoanModel* LoansSource;

    void wireControls();
    void followMainWindow();
    void scheduleRefresh();
    void showCurrentDisk();
    void showSummary(const loans::Filter& filter, const loans::Reckoning& reckoning, int refresh);
    std::optional<int64_t> currentDisk() const;

    ListQuery& disks_;  // the main window's disk list
    std::optional<store::Date> today_;
    bool refreshPending_ = false;
    int refreshes_ = 0;  // a summary waiting for the catalogue gives up once another began
};
