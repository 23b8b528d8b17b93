#pragma once

struct sqlite3;

namespace store {

// korvalen_days(start, end, today, tomorrow): the whole days a loan was out, from start to
// end, or to today while end is NULL; NULL where the dates are wrong (end before start, or
// either after tomorrow). Equal to
//   CASE WHEN coalesce(end < start or start > tomorrow or end > tomorrow, False) THEN NULL
//        ELSE CAST(julianday(coalesce(end, today)) - julianday(start) AS INTEGER) END
// for every value, and computed without SQLite's date parser for the plain YYYY-MM-DD
// dates the program writes: over a million loans the expression's text comparisons and
// date parsing were most of the history summary's time.
//
// korvalen_sum_count(x), an aggregate: the whole numbers x that are not NULL, summed and
// counted, as the text "SUM COUNT". Sums and counts of parts of a table add up to the
// whole's exactly, and x (korvalen_days) is reckoned once a row where total(x) and
// count(x) would reckon it twice.
int registerLoanDays(sqlite3* db);

}  // namespace store
