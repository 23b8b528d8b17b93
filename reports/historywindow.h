#pragma once

#include <memory>
#include <optional>

#include "reports/loanstatements.h"
#include "reports/reportwindow.h"
#include "store/query.h"

namespace Ui {
class LoanHistory;
}
class ListQuery;
class LoanModel;
class SummaryCount;

// "История выдачи": every loan, open and closed, newest first, under a filter, with a
// summary line. Modeless beside the main window; it follows every committed write of the
// loans, disks and debtors and, with "Только текущий диск", the current disk of the
// main window's disk list. Rows are read from the catalogue only as the grid shows them.
// Its one write closes by hand the open loan of a deleted disk.
class HistoryWindow : public ReportWindow {
    Q_OBJECT
public:
    explicit HistoryWindow(ListQuery& disks, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    loans::Filter filter() const;
    loans::Reckoning reckoning() const;
    // The filter as a person reads it, for the saved list.
    QString filterText() const;
    // Rebuilds the list from the filter now, and the summary line on another thread,
    // shown when ready (changes of the filter wait for the event loop, so several at
    // once rebuild once).
    void refresh();
    // The day that counts as today; the computer's date unless set (tests).
    void setToday(std::optional<store::Date> today) { today_ = today; }

    // "Закрыть выдачу": the current row's loan, once confirmed.
    void closeLoan();

signals:
    void overdueDaysChanged(int days);
    void loanClosed();

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
    void showDebtorWhenTicked();
    std::optional<int64_t> currentDisk() const;

    ListQuery& disks_;      // the main window's disk list
    store::Query command_;  // the loan's closing
    std::optional<store::Date> today_;
    bool refreshPending_ = false;
    SummaryCount* summary_;
};
