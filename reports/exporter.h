#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "reports/tablewriter.h"

namespace store {
class Query;
}

namespace reports {

// A result column as an export shows it.
struct ExportColumn {
    std::string field;
    std::string title;
    CellKind kind = CellKind::Text;
    bool yesNo = false;  // a logical field, written "да" or left empty
};

// What one export writes: its title and columns; a row whose markField is not empty is
// marked (an overdue loan).
struct ExportTable {
    std::string title;
    std::vector<ExportColumn> columns;
    std::string markField;
};

// The disk list's columns, from the list's own statement under any filter.
const ExportTable& diskExport();
// The loan history's columns (loans::historyLines).
const ExportTable& loanExport();

// Told how many rows of how many are written, after every row; false stops the export.
using ExportProgress = std::function<bool(int64_t done, int64_t total)>;

// Thrown when progress said stop.
struct ExportStopped : std::runtime_error {
    ExportStopped() : std::runtime_error("Выгрузка остановлена: файл не записан.") {}
};

// How an export describes itself: the filter that chose its rows, as a person reads it
// (HTML and ODS show it under the title, with today's date), and whether CSV begins
// with the byte-order mark.
struct ExportNote {
    std::string filter;
    bool byteOrderMark = true;
};

// Writes an export's rows as a caller hands them, one by one, so memory does not grow with
// the catalogue; told progress after every row (total: 0 when not known beforehand).
// Throws store::Error when out refuses a write, ExportStopped when progress said stop.
class ExportWriter {
public:
    ExportWriter(const ExportTable& table, Format format, std::ostream& out,
                 const ExportProgress& progress, const ExportNote& note, int64_t total);
    ~ExportWriter();
    ExportWriter(const ExportWriter&) = delete;
    ExportWriter& operator=(const ExportWriter&) = delete;
    void row(const std::vector<std::string>& cells, bool marked = false);
    // Ends the table; returns the rows written.
    int64_t finish();

private:
    std::ostream& out_;
    ExportProgress progress_;
    int64_t total_;
    int64_t written_ = 0;
    std::unique_ptr<TableWriter> writer_;
};

// Runs the query's statement (the query itself stays as it is) and writes its rows to
// out as they are read, so memory does not grow with the catalogue. With progress the
// rows are counted first. Returns the rows written. Throws store::Error when the
// statement fails or out refuses a write, ExportStopped when progress said stop.
int64_t exportRows(store::Query& query, const ExportTable& table, Format format, std::ostream& out,
                   const ExportProgress& progress = {}, const ExportNote& note = {});

// Fills one row's cells in the table's column order and says whether it is marked; false
// after the last row.
using ExportRowSource = std::function<bool(std::vector<std::string>& cells, bool& marked)>;

// The same for rows from elsewhere: total is how many are expected (progress is told the
// larger of it and those written).
int64_t exportRows(const ExportRowSource& next, int64_t total, const ExportTable& table,
                   Format format, std::ostream& out, const ExportProgress& progress = {},
                   const ExportNote& note = {});

}  // namespace reports
