#include "store/rowreader.h"

#include "store/catalogue.h"

namespace store {

RowReader::RowReader(Query& query)
    : RowReader(query, query.statement(), query.narrowedStatement()) {}

RowReader::RowReader(Query& query, const std::string& sql, const std::string& narrowed)
    : statement_(query.prepareBound(sql, narrowed)) {
    std::vector<std::string> raw;
    for (int i = 0; i < statement_.columnCount(); ++i) {
        raw.emplace_back(statement_.columnName(i));
        columns_.push_back({{}, kindOfDeclType(statement_.columnDeclaredType(i))});
    }
    auto names = uniqueColumnNames(raw);
    for (size_t i = 0; i < names.size(); ++i) columns_[i].name = std::move(names[i]);
}

int RowReader::columnIndex(std::string_view name) const {
    for (int i = 0; i < columnCount(); ++i)
        if (equalsNoCase(columns_[i].name, name)) return i;
    return -1;
}

std::string RowReader::text(int column) const {
    const ColumnKind kind = columns_[column].kind;
    switch (statement_.columnType(column)) {
        case Statement::Type::Null:
            return {};
        case Statement::Type::Integer:
            return Value(statement_.columnInt64(column)).asString(kind);
        case Statement::Type::Float:
            return Value(statement_.columnDouble(column)).asString(kind);
        default:
            if (kind == ColumnKind::Plain) return std::string(statement_.columnText(column));
            return Value(std::string(statement_.columnText(column))).asString(kind);
    }
}

int64_t RowReader::countRows(Query& query) {
    auto counted = [](const std::string& sql) {
        return sql.empty() ? sql : "SELECT count(*) FROM (\n" + sql + "\n)";
    };
    RowReader count(query, counted(query.statement()), counted(query.narrowedStatement()));
    return count.next() ? count.integer(0) : 0;
}

}  // namespace store
