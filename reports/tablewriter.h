#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Tables written as they are read, row after row, to a stream: CSV (RFC 4180, UTF-8
// after a byte-order mark, a header row, lines ending in CR LF), one self-contained HTML
// page, or one OpenDocument spreadsheet in its flat XML form (.fods) with typed cells.
namespace reports {

enum class Format { Csv, Html, Ods };

// What a column holds: a spreadsheet keeps numbers, days and moments as such, so they sort
// and count. Days come as dd.MM.yyyy, moments as yyyy-MM-dd HH:MM:SS; a cell that does not
// read as its kind is written as text.
enum class CellKind { Text, Number, Date, DateTime };

// What a table says about itself beside its rows (HTML and ODS; CSV has no room): its
// title, the day it was made and the filter that chose its rows.
struct TableHeading {
    std::string title;
    std::string made;           // dd.MM.yyyy
    std::string filter;         // as a person reads it
    bool byteOrderMark = true;  // CSV: the mark spreadsheet programs take for UTF-8
};

class TableWriter {
public:
    virtual ~TableWriter() = default;
    virtual void begin(const std::vector<std::string>& titles,
                       const std::vector<CellKind>& kinds) = 0;
    // A marked row (an overdue loan) is set apart without relying on colour alone.
    virtual void row(const std::vector<std::string>& cells, bool marked) = 0;
    virtual void end(long long rows) = 0;
};

std::unique_ptr<TableWriter> makeWriter(Format format, std::ostream& out, TableHeading heading);

// One CSV field: a text that begins with =, +, -, @, a tab or a carriage return with an
// apostrophe before it, so a spreadsheet takes it for text, not a formula; then quoted,
// with its quotes doubled, when it holds a quote, a comma, a line break or blanks at its
// ends; otherwise as it is.
std::string csvField(std::string_view cell);

// Text with &, <, >, " and ' written as HTML entities.
std::string htmlEscaped(std::string_view text);

}  // namespace reports
