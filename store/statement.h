#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class Connection;
class Database;
class Error;
class ErrorContext;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const;
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// One prepared statement of SQLite's own SQL: prepared once, bound by index or name,
// stepped, its columns read, reset, finalised when it goes. Every call that can fail
// is checked and throws store::Error with SQLite's message in the catalogue's words.
// Empty text binds as empty text, never as NULL: a NULL is bound by bindNull alone.
class Statement {
public:
    enum class Type { Integer, Float, Text, Blob, Null };

    // Prepares sql on the catalogue's connection (tables named as attached; its errors
    // name tableFiles) or on a plain connection. Exactly one statement: trailing text other
    // than blanks and semicolons is refused, and so is an empty text.
    Statement(const ErrorContext& catalogue, std::string_view sql,
              std::vector<std::string> tableFiles = {});
    Statement(const Connection& connection, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1. parameterIndex throws for a name the statement lacks;
    // the name is given with its prefix (":NomCD", "?1").
    int parameterCount() const;
    std::string_view parameterName(int index) const;  // empty for a nameless "?"
    int parameterIndex(std::string_view name) const;
    void bindNull(int index);
    void bindInt64(int index, int64_t value);
    void bindDouble(int index, double value);
    void bindText(int index, std::string_view value);
    void bindBlob(int index, std::string_view bytes);
    void bindNull(std::string_view name) { bindNull(parameterIndex(name)); }
    void bindInt64(std::string_view name, int64_t value) { bindInt64(parameterIndex(name), value); }
    void bindDouble(std::string_view name, double value) {
        bindDouble(parameterIndex(name), value);
    }
    void bindText(std::string_view name, std::string_view value) {
        bindText(parameterIndex(name), value);
    }

    // step() stands on the next row: false once all are read (the statement then lets
    // go of its read lock). run() steps to the end and returns the rows changed;
    // reset() makes the statement ready to run again with its bindings kept.
    bool step();
    int run();
    void reset();

    // Columns count from 0; a column is read from the row step() stands on.
    int columnCount() const;
    std::string_view columnName(int column) const;
    std::string_view columnDeclaredType(int column) const;  // empty for an expression
    Type columnType(int column) const;
    int64_t columnInt64(int column) const;
    double columnDouble(int column) const;
    std::string_view columnText(int column) const;  // empty for NULL

    // The table files the statement touches, named in its errors.
    const std::vector<std::string>& tableFiles() const { return tableFiles_; }

private:
    friend class Database;
    // shown is the text an error quotes: the program's own statement where it differs
    // from the SQL that SQLite is given.
    Statement(sqlite3* db, const ErrorContext* catalogue, std::string_view sql,
              std::vector<std::string> tableFiles, std::string shown);
    Error errorFor(int code) const;
    void check(int code) const;

    sqlite3* db_ = nullptr;
    const ErrorContext* catalogue_ = nullptr;  // for errors in the catalogue's words
    StatementHandle stmt_;
    std::vector<std::string> tableFiles_;
    std::string shown_;
};

}  // namespace store
