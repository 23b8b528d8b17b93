#include "reports/loanstatements.h"

#include <charconv>
#include <cstdio>

#include "store/database.h"
#include "store/error.h"
#include "store/query.h"

namespace loans {
namespace {

// Dates the program never writes, as another program could leave them: back before it
// went out, or a day not yet come by the clock (a day's grace for time zones), whatever
// day the days out are reckoned to.
constexpr const char* kDatesWrong =
    "coalesce(Dolg.DatK < Dolg.DatN or Dolg.DatN > date('now', 'localtime', '+1 day') or "
    "Dolg.DatK > date('now', 'localtime', '+1 day'), False)";
// Days out: to the day it came back, or to today while it is out; none where the dates
// are wrong (as kDatesWrong says, by the clock's tomorrow), so they count into no average.
constexpr const char* kDays =
    "korvalen_days(Dolg.DatN, Dolg.DatK, :Today, date('now', 'localtime', '+1 day'))";
// A loan of a deleted disk cannot come back: it is not counted late but marked for
// closing. The disk is looked up only for a loan late by its dates (CASE, since SQLite
// evaluates every operand of "and"), not once for each of a million loans.
const std::string kIsOverdue =
    std::string(
        "CASE WHEN (Dolg.Dolg = True) and (julianday(:Today) - julianday(Dolg.DatN) > :Limit) "
        "and not ") +
    kDatesWrong + " THEN Dolg.NomCD IN (SELECT N FROM \"base\\CDBase.DB\") ELSE False END";
constexpr const char* kDiskName =
    "CASE WHEN Cdbase.N IS NULL THEN 'диск удалён' ELSE Cdbase.Name END as DiskName";
constexpr const char* kLoanFrom = "FROM \"base\\Dolg.DB\" Dolg";
// Left joins: a loan whose disk was deleted keeps its row.
constexpr const char* kJoins[] = {
    "LEFT JOIN \"base\\CDBase.DB\" Cdbase ON (Dolg.NomCD = Cdbase.N)",
    "LEFT JOIN \"base\\SprDolgnik.db\" Sprdolgnik ON (Dolg.Dolgnik = Sprdolgnik.N)",
};

std::string overdueColumn() {
    std::string column("CASE WHEN ");
    column += kDatesWrong;
    column += " THEN 'даты неверны' WHEN (Dolg.Dolg = True) and Cdbase.N IS NULL THEN '";
    column += kDiskDeleted;
    column += "' WHEN ";
    column += kIsOverdue;
    column += " THEN 'просрочен' ELSE '' END as Overdue";
    return column;
}

void addWhere(std::vector<std::string>& lines, const Filter& f,
              std::vector<std::string> conditions = {}) {
    if (f.disk) conditions.emplace_back("(Dolg.NomCD = :Disk)");
    if (f.debtor) conditions.emplace_back("(Dolg.Dolgnik = :Debtor)");
    if (f.openOnly) conditions.emplace_back("(Dolg.Dolg = True)");
    if (f.from) conditions.emplace_back("(Dolg.DatN >= :DateFrom)");
    if (f.to) conditions.emplace_back("(Dolg.DatN <= :DateTo)");
    for (size_t i = 0; i < conditions.size(); ++i)
        lines.push_back((i == 0 ? "Where " : "and ") + conditions[i]);
}

// The overdue loans look their disks up one by one all over the disks' file: mapped, a
// page is read where it lies instead of copied in, the count's greatest cost at a million
// loans, and read ahead in larger runs from a cold disk (1.0 s against 1.8-2.0 s for the
// first count after the files left the page cache). The pages touched are the page
// cache's own, shared, but counted in the process's resident size while mapped (380 MB at
// a million disks and loans over two connections); unmapped after each count.
class MappedWhileCounting {
public:
    explicit MappedWhileCounting(const store::Database& db) : db_(db) {
        db_.execRaw("PRAGMA mmap_size = 2147418112");
    }
    ~MappedWhileCounting() {
        try {
            db_.execRaw("PRAGMA mmap_size = 0");
        } catch (const store::Error&) {
            // The mapping then lasts as long as the connection; the counts stay right.
        }
    }
    MappedWhileCounting(const MappedWhileCounting&) = delete;
    MappedWhileCounting& operator=(const MappedWhileCounting&) = delete;

private:
    const store::Database& db_;
};

bool names(const store::Query& query, std::string_view parameter) {
    for (const auto& p : query.parameterNames())
        if (p == parameter) return true;
    return false;
}

}  // namespace

std::vector<std::string> historyLines(const Filter& filter) {
    std::vector<std::string> lines = {
        std::string("SELECT Dolg.NomCD, ") + kDiskName + ", Sprdolgnik.Dolgnik, Dolg.DatN,",
        std::string("Dolg.DatK, ") + kDays + " as Days, " + overdueColumn() + ",",
        "Dolg.rowid as LoanKey",
        kLoanFrom,
        kJoins[0],
        kJoins[1],
    };
    addWhere(lines, filter);
    // The order of entry, newest first: each loan is written on the day it starts, and
    // reading by row number needs no sort of the whole table before the first screen.
    lines.emplace_back("ORDER BY Dolg.rowid DESC");
    return lines;
}

std::vector<std::string> summaryLines(const Filter& filter) {
    std::vector<std::string> lines = {
        "SELECT count(*) as Loans, total(Dolg.Dolg = True) as OpenLoans,",
        std::string("total(") + kIsOverdue + ") as Overdue,",
        std::string("korvalen_sum_count(") + kDays + ") as DaysSummed",
        kLoanFrom,
    };
    addWhere(lines, filter, {"(Dolg.rowid between :FirstLoan and :LastLoan)"});
    return lines;
}

std::vector<std::string> openLoanLines() {
    return {
        std::string("SELECT Sprdolgnik.Dolgnik, Dolg.Dolgnik as DebtorKey, Dolg.NomCD, ") +
            kDiskName + ",",
        std::string("Dolg.DatN, ") + kDays + " as Days, " + overdueColumn(),
        kLoanFrom,
        kJoins[0],
        kJoins[1],
        "Where Dolg.Dolg = True",
        "ORDER BY Sprdolgnik.Dolgnik, Dolg.Dolgnik, Dolg.DatN, Dolg.rowid",
    };
}

void bind(store::Query& query, const Filter& f, const Reckoning& r) {
    if (names(query, "Today")) query.setDate("Today", r.today);
    if (names(query, "Limit")) query.setFloat("Limit", r.overdueDays);
    if (f.disk) query.setInteger("Disk", *f.disk);
    if (f.debtor) query.setInteger("Debtor", *f.debtor);
    if (f.from) query.setDate("DateFrom", *f.from);
    if (f.to) query.setDate("DateTo", *f.to);
}

std::vector<LoanRange> splitLoans(const std::shared_ptr<store::Database>& db, int parts) {
    // Each in a select of its own: SQLite seeks a lone min or max, but reads every row
    // for the two together.
    std::string lowest("SELECT (SELECT min(Dolg.rowid) ");
    lowest += kLoanFrom;
    lowest += ") as First,";
    std::string highest("(SELECT max(Dolg.rowid) ");
    highest += kLoanFrom;
    highest += ") as Last";
    store::Query keys({lowest, highest}, db);
    keys.open();
    std::vector<LoanRange> ranges(1);
    if (keys.field("First").isNull() || parts < 2) return ranges;
    const int64_t first = keys.field("First").asInteger();
    const int64_t last = keys.field("Last").asInteger();
    // Halves of the span, not of the rows: loans are never deleted, so keys run densely.
    const auto span = static_cast<uint64_t>(last) - static_cast<uint64_t>(first);
    const uint64_t step = span / static_cast<uint64_t>(parts);
    if (step == 0) return ranges;
    ranges.clear();
    int64_t from = LoanRange{}.first;
    for (int i = 1; i < parts; ++i) {
        const auto cut = static_cast<int64_t>(static_cast<uint64_t>(first) + step * i);
        ranges.push_back({from, cut - 1});
        from = cut;
    }
    ranges.push_back({from, LoanRange{}.last});
    return ranges;
}

SummaryPart countSummaryPart(const std::shared_ptr<store::Database>& db, const Filter& filter,
                             const Reckoning& reckoning, const std::vector<LoanRange>& ranges) {
    const MappedWhileCounting mapped(*db);
    store::Query query(summaryLines(filter), db);
    bind(query, filter, reckoning);
    SummaryPart sum;
    for (const LoanRange& range : ranges) {
        query.setInteger("FirstLoan", range.first);
        query.setInteger("LastLoan", range.last);
        query.reopen();
        SummaryPart part{query.field("Loans").asInteger(), query.field("OpenLoans").asInteger(),
                         query.field("Overdue").asInteger()};
        const std::string summed = query.field("DaysSummed").asString();
        const char* end = summed.data() + summed.size();
        const auto total = std::from_chars(summed.data(), end, part.daysTotal);
        if (total.ec != std::errc() || total.ptr == end ||
            std::from_chars(total.ptr + 1, end, part.daysCounted).ec != std::errc())
            throw store::Error(store::Error::Kind::Statement,
                               "Итог дней на руках не прочитан: «" + summed + "».");
        sum += part;
    }
    query.close();
    return sum;
}

SummaryPart& SummaryPart::operator+=(const SummaryPart& p) {
    loans += p.loans;
    open += p.open;
    overdue += p.overdue;
    daysTotal += p.daysTotal;
    daysCounted += p.daysCounted;
    return *this;
}

Summary combine(std::span<const SummaryPart> parts) {
    Summary s;
    SummaryPart all;
    for (const SummaryPart& p : parts) all += p;
    s.loans = all.loans;
    s.open = all.open;
    s.overdue = all.overdue;
    // As SQLite's avg divides its total by its count.
    if (all.daysCounted > 0)
        s.averageDays = static_cast<double>(all.daysTotal) / static_cast<double>(all.daysCounted);
    return s;
}

std::string describe(const Summary& s) {
    std::string text = "Выдач: " + std::to_string(s.loans) +
                       ", на руках: " + std::to_string(s.open) +
                       ", из них просрочено: " + std::to_string(s.overdue);
    if (s.averageDays) {
        char days[32];
        std::snprintf(days, sizeof days, "%.1f", *s.averageDays);
        std::string shown(days);
        for (char& c : shown)
            if (c == '.') c = ',';
        text += ", в среднем дней на руках: " + shown;
    }
    return text;
}

}  // namespace loans
