#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/database.h"
#include "store/value.h"

namespace store {

// A field of a result row, read as the program reads it.
class Field {
public:
    Field() = default;
    Field(Value value, ColumnKind kind) : value_(std::move(value)), kind_(kind) {}
    bool isNull() const { return value_.isNull(); }
    std::string asString() const { return value_.asString(kind_); }
    int64_t asInteger() const { return value_.asInteger(); }
    double asFloat() const { return value_.asFloat(); }
    std::optional<int64_t> asKey() const { return value_.asKey(); }

private:
    Value value_;
    ColumnKind kind_ = ColumnKind::Plain;
};

// The statement object of the program: statement lines, named parameters, and,
// once opened, a read-only result that stands on a current row. Rows are read
// from SQLite only as far as someone asks for them.
class Query {
public:
    enum class ParamKind { Text, Memo, Float, Integer, Date };

    // Without a database the query runs on the process's default database.
    Query() = default;
    explicit Query(std::vector<std::string> lines, std::shared_ptr<Database> db = {});
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Statement text. Changing it closes the query and finds its parameters anew.
    void clearSql();
    void addLine(std::string line);
    void setSql(std::vector<std::string> lines);
    const std::vector<std::string>& lines() const { return lines_; }
    std::string statement() const;  // the lines joined by line breaks

    // Parameters by name, letter case ignored. Throws for a name the text lacks.
    std::vector<std::string> parameterNames() const;
    void setText(std::string_view name, std::string value);
    void setMemo(std::string_view name, std::string value);
    // A whole floating number goes to the store as the whole number it is; keys go in
    // exactly as integers, beyond what a double holds.
    void setFloat(std::string_view name, double value);
    void setInteger(std::string_view name, int64_t value);
    void setDate(std::string_view name, const Date& value);

    // open() runs a SELECT and stands on its first row; an open query stays as it
    // is. execSql() runs an INSERT, UPDATE or DELETE. Both throw store::Error, and
    // so does running with a parameter left unset.
    void open();
    void execSql();
    void close();
    // Lets go of the statement, and with it of SQLite's read lock on the tables, keeping
    // the rows read, the columns and the current row: a statement stepped only part way
    // blocks every writer of those files, in any process. Reading on shows exactly the
    // rows a fresh run would show beyond those held, whatever was written meanwhile: by
    // the read-on statement below where there is one, otherwise by running the statement
    // again and passing over the rows held, each once.
    void release();
    // A statement of the same rows in the same rising order of keyColumn, limited to keys
    // above the parameter :After: reading on after a release then starts past the last
    // key held at once. Used only while the rows read do come in rising key order.
    // Changing the statement text drops it.
    void setReadOn(std::vector<std::string> lines, std::string keyColumn);
    // The same rows through the copy of the disk names (and their read-on statement,
    // empty where there is none): run instead while the database's copy is in step.
    // Changing the statement text drops them.
    void setNarrowed(std::vector<std::string> lines, std::vector<std::string> readOnLines);
    // The statement as written and its narrowed form (empty: none), for a reader that
    // wraps them (a row count).
    const std::string& narrowedStatement() const { return narrowed_; }
    bool holdsStatement() const { return stmt_.has_value(); }
    void reopen() {
        close();
        open();
    }
    bool isOpen() const { return open_; }
    int rowsAffected() const { return rowsAffected_; }
    std::shared_ptr<Database> database() const { return db_; }
    // The database the next run uses: the query's own, else the process's default.
    std::shared_ptr<Database> databaseForRun();

    // Moving through rows. eof() is true past the last row and for an empty result.
    void first();
    void next();
    bool eof() const;
    bool isEmpty();
    int currentRow() const { return current_; }  // -1 with no rows
    bool moveTo(int row);                        // false when there is no such row

    // Rows read so far; more are read on demand.
    int fetchedRows() const { return rowCount_; }
    bool canFetchMore() const { return stmt_.has_value() || released_; }
    int fetchMore(int count);
    void fetchAll();

    // Result columns, named by the catalogue's rules (Name, Name_1, ...).
    int columnCount() const { return static_cast<int>(columns_.size()); }
    const std::string& columnName(int column) const { return columns_[column].name; }
    int columnIndex(std::string_view name) const;  // letter case ignored, first match; -1 if none

    // A field of the current row (no row: an empty field). Throws for an unknown name.
    Field field(std::string_view name) const;
    // The key in a field of the current row, exactly; throws a clear message for a field
    // that holds no whole number (empty, text, a floating number).
    int64_t key(std::string_view name) const;
    Field fieldAt(int row, int column) const;
    std::string text(int row, int column) const;
    // A text field as stored, not copied (a description may run to hundreds of
    // megabytes); valid until the query reads further rows or closes. Empty for a field
    // that holds no text.
    std::string_view storedText(int row, int column) const;

private:
    struct Column {
        std::string name;
        ColumnKind kind;
    };
    // A field of a fetched row; text lies in texts_, so a row costs no allocation.
    struct Cell {
        Value::Type type = Value::Type::Null;
        uint32_t textSize = 0;
        int64_t integer = 0;  // a whole number, or where the text starts in texts_
        double number = 0;
    };
    struct Param {
        std::string name;
        ParamKind kind = ParamKind::Text;
        bool set = false;
        std::string text;
        double number = 0;
        int64_t integer = 0;
    };

    void textChanged();
    std::vector<Param>& params() const;
    Param& param(std::string_view name);
    Param& setParam(std::string_view name, ParamKind kind, std::string text, double number);
    struct ReadOn {
        std::string sql;
        std::string keyColumn;
    };
    // The last key held, bound as :After of the read-on statement.
    struct After {
        int64_t key;
    };

    Statement prepareBound();
    // sql (and narrowed, its form through the copy of the names, if not empty) names the
    // same parameters, and :After where after is given.
    Statement prepareBound(const std::string& sql, const std::string& narrowed,
                           std::optional<After> after = {});
    friend class RowReader;
    void readColumns();
    bool fetchRow();
    void appendRow(const Statement& s);
    void dropLastRow();
    void noteKeyOrder();
    bool resume();
    size_t rowHash(int row) const;
    bool sameRow(int a, int b) const;
    bool passOverHeldRow();
    const Cell& cell(int row, int column) const;
    Value valueAt(int row, int column) const;

    std::vector<std::string> lines_;
    mutable std::vector<Param> params_;
    mutable bool paramsFound_ = true;
    std::shared_ptr<Database> db_;
    bool ownDb_ = false;

    bool open_ = false;
    std::optional<Statement> stmt_;  // until every row is read or it is released
    bool released_ = false;          // rows are left to read once it runs again
    std::optional<ReadOn> readOn_;
    std::string narrowed_;
    std::string narrowedReadOn_;
    int keyColumn_ = -1;      // of readOn_ in the result
    bool keysRising_ = true;  // every row read so far came after the one before
    int64_t lastKey_ = 0;
    // Rows held that a run again has yet to pass over, by their hash.
    std::unordered_multimap<size_t, int> heldAhead_;
    std::vector<Column> columns_;
    std::vector<Cell> cells_;  // row after row
    std::string texts_;
    int rowCount_ = 0;
    int current_ = -1;
    int rowsAffected_ = 0;
};

// Result column names by the catalogue's rules: a name already used (letter case
// ignored) gets "_1", "_2", ... until it is free.
std::vector<std::string> uniqueColumnNames(const std::vector<std::string>& raw);

// How a column's values read, by the type the table declares for it.
ColumnKind kindOfDeclType(std::string_view declType);

}  // namespace store
