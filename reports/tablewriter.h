#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Tables written as they are read, row after row, to a stream: CSV (RFC 4180, UTF-8,
// a header row, lines ending in CR LF) or one self-contained HTML page.
namespace reports {

enum class Format { Csv, Html };

class TableWriter {
public:
    virtual ~TableWriter() = default;
    virtual void begin(const std::vector<std::string>& titles) = 0;
    // A marked row (an overdue loan) is set apart without relying on colour alone.
    virtual void row(const std::vector<std::string>& cells, bool marked) = 0;
    virtual void end(long long rows) = 0;
};

// title heads the HTML page; CSV has no room for it.
std::unique_ptr<TableWriter> makeWriter(Format format, std::ostream& out, std::string title);

// One CSV field: a text that begins with =, +, -, @, a tab or a carriage return with an
// apostrophe before it, so a spreadsheet takes it for text, not a formula; then quoted,
// with its quotes doubled, when it holds a quote, a comma, a line break or blanks at its
// ends; otherwise as it is.
std::string csvField(std::string_view cell);

// Text with &, <, >, " and ' written as HTML entities.
std::string htmlEscaped(std::string_view text);

}  // namespace reports
