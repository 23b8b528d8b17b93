#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "reports/loanstatements.h"
#include "reports/reportwindow.h"

namespace Ui {
class WhoHasWhat;
}
class ListQuery;
class LoanModel;
class QPagedPaintDevice;
class SummaryCount;

// "Кто что взял": the open loans grouped by debtor with the days out, overdue ones
// marked; printed, previewed or saved as PDF as one document. Modeless; follows every
// committed write of the loans, disks and debtors. It only reads.
class WhoHasWhatWindow : public ReportWindow {
    Q_OBJECT
public:
    explicit WhoHasWhatWindow(QWidget* parent = nullptr);
    ~WhoHasWhatWindow() override;

    void refresh();
    // The printable document: a heading per debtor and a table of their disks.
    QString documentHtml();
    // Prints the document on a printer or PDF writer.
    void printOn(QPagedPaintDevice& device);
    // Writes the document as PDF to path through a temporary file. False, after telling
    // the user, on failure.
    bool saveAsPdf(const QString& path);
    void setToday(std::optional<store::Date> today) { today_ = today; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<Ui::WhoHasWhat> ui;
    ListQuery* OpenLoans;
    LoanModel* OpenLoansSource;

    loans::Reckoning reckoning() const;
    void preview();
    void print();
    void askPdf();

    std::optional<store::Date> today_;
    SummaryCount* summary_;
};
