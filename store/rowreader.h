#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/query.h"
#include "store/statement.h"

namespace store {

// Reads the rows of a query's statement one after another and keeps none of them, so
// a pass over a million rows (an export) costs the memory of one row. The query only
// lends its text and parameter values; it stays as it is.
class RowReader {
public:
    explicit RowReader(Query& query);

    // Steps to the next row; false past the last one (the statement then lets go of
    // its read lock).
    bool next() { return statement_.step(); }

    int columnCount() const { return static_cast<int>(columns_.size()); }
    const std::string& columnName(int column) const { return columns_[column].name; }
    int columnIndex(std::string_view name) const;  // letter case ignored; -1 if none

    // A field of the current row as the program shows it (dates dd.MM.yyyy).
    std::string text(int column) const;
    int64_t integer(int column) const { return statement_.columnInt64(column); }

    // The number of rows the query's statement yields, counted by SQLite.
    static int64_t countRows(Query& query);

private:
    RowReader(Query& query, const std::string& sql, const std::string& narrowed);
    struct Column {
        std::string name;
        ColumnKind kind;
    };
    Statement statement_;
    std::vector<Column> columns_;
};

}  // namespace store
