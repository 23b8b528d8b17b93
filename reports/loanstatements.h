#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/value.h"

namespace store {
class Database;
class Query;
}  // namespace store

// The statements of the loan reports: the history of every loan, its summary, and the
// open loans by debtor. They only read. Deleted disks keep their loans' rows (the
// disk's number and "диск удалён" instead of its name); days out count to today while a
// loan is open; an open loan out longer than the overdue limit is marked "просрочен".
namespace loans {

inline constexpr int kDefaultOverdueDays = 30;
// The marker of an open loan whose disk is gone: it can only be closed by hand.
inline constexpr const char* kDiskDeleted = "диск удалён";

// Which loans the history shows; every set condition must hold.
struct Filter {
    std::optional<int64_t> disk;          // this disk only (its key)
    std::optional<int64_t> debtor;        // this debtor only (its key)
    bool openOnly = false;                // loans not yet returned
    std::optional<store::Date> from, to;  // lent on one of these days, ends included
};

// The day that counts as today and the overdue limit in days.
struct Reckoning {
    store::Date today;
    int overdueDays = kDefaultOverdueDays;
};

// Newest first: NomCD, DiskName, Dolgnik, DatN, DatK, Days, Overdue, LoanKey (the row's
// own key, for closing a loan by hand).
std::vector<std::string> historyLines(const Filter& filter);
// One row of sums and counts over the loans whose row keys lie from :FirstLoan to
// :LastLoan: Loans, OpenLoans, Overdue, DaysSummed (the days out summed and the loans with
// days out counted, as "TOTAL COUNT").
// Sums over parts of the table add up to the whole, so the parts may be counted at once.
std::vector<std::string> summaryLines(const Filter& filter);
// The open loans by debtor name, then by the day lent: Dolgnik, NomCD, DiskName, DatN,
// Days, Overdue.
std::vector<std::string> openLoanLines();

// Sets every parameter that the query's text names from the filter and the reckoning.
void bind(store::Query& query, const Filter& filter, const Reckoning& reckoning);

// The summary as the history window's bottom line shows it.
struct Summary {
    int64_t loans = 0;
    int64_t open = 0;
    int64_t overdue = 0;
    std::optional<double> averageDays;
};
std::string describe(const Summary& summary);

// Loans by their row keys, ends included.
struct LoanRange {
    int64_t first = std::numeric_limits<int64_t>::min();
    int64_t last = std::numeric_limits<int64_t>::max();
};
// The loan table cut into up to `parts` ranges of about as many keys each, in order;
// together they cover every key, so a loan written after the cut is counted too.
std::vector<LoanRange> splitLoans(const std::shared_ptr<store::Database>& db, int parts);

// A summary's sums and counts over some ranges of loans (summaryLines).
struct SummaryPart {
    int64_t loans = 0;
    int64_t open = 0;
    int64_t overdue = 0;
    int64_t daysTotal = 0;
    int64_t daysCounted = 0;
    SummaryPart& operator+=(const SummaryPart& other);
};
SummaryPart countSummaryPart(const std::shared_ptr<store::Database>& db, const Filter& filter,
                             const Reckoning& reckoning, const std::vector<LoanRange>& ranges);
// The parts added up: the same summary as one count over their ranges together.
Summary combine(std::span<const SummaryPart> parts);

}  // namespace loans
