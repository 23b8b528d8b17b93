#include "rowreader.h"

#include "catalogue.h"

namespace store {

RowReader::RowReader(Query& query) : RowReader(query, query.text()) {}

RowReader::RowReader(Query& query, const std::string& sql)
    : db_(query.databaseForRun()), prepared_(query.prepareBound(sql)), sql_(sql) {
    sqlite3_stmt* s = prepared_.stmt.get();
    std::vector<std::string> raw;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
        const char* name = sqlite3_column_name(s, i);
        raw.emplace_back(name ? name : "");
        columns_.push_back({{}, kindOfDeclType(sqlite3_column_decltype(s, i))});
    }
    auto names = uniqueColumnNames(raw);
    for (size_t i = 0; i < names.size(); ++i) columns_[i].name = std::move(names[i]);
}

bool RowReader::next() {
    if (!prepared_.stmt) return false;
    const int rc = sqlite3_step(prepared_.stmt.get());
    if (rc == SQLITE_ROW) return true;
    prepared_.stmt.reset();  // done or failed: the read lock goes with the statement
    if (rc != SQLITE_DONE) throw db_->errorFor(rc, prepared_.tableFiles, sql_);
    return false;
}

int RowReader::columnIndex(std::string_view name) const {
    for (int i = 0; i < columnCount(); ++i)
        if (equalsNoCase(columns_[i].name, name)) return i;
    return -1;
}

std::string RowReader::text(int column) const {
    sqlite3_stmt* s = prepared_.stmt.get();
    switch (sqlite3_column_type(s, column)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return Value(static_cast<int64_t>(sqlite3_column_int64(s, column)))
                .asString(columns_[column].kind);
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(s, column)).asString(columns_[column].kind);
        default: {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
            std::string value(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(s, column)));
            if (columns_[column].kind == ColumnKind::Plain) return value;
            return Value(std::move(value)).asString(columns_[column].kind);
        }
    }
}

int64_t RowReader::integer(int column) const {
    return sqlite3_column_int64(prepared_.stmt.get(), column);
}

int64_t RowReader::countRows(Query& query) {
    RowReader count(query, "SELECT count(*) FROM (\n" + query.text() + "\n)");
    return count.next() ? count.integer(0) : 0;
}

}  // namespace store
