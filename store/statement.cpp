#include "store/statement.h"

#include <sqlite3.h>

#include "store/connection.h"
#include "store/error.h"
#include "store/errorcontext.h"

namespace store {
namespace {

bool onlyBlanksAndSemicolons(const char* from, const char* end) {
    for (const char* c = from; c && c < end; ++c)
        if (*c != ' ' && *c != '\n' && *c != '\r' && *c != '\t' && *c != ';') return false;
    return true;
}

}  // namespace

void StatementFinalizer::operator()(sqlite3_stmt* stmt) const {
    sqlite3_finalize(stmt);
}

Statement::Statement(const ErrorContext& catalogue, std::string_view sql,
                     std::vector<std::string> tableFiles)
    : Statement(catalogue.handle(), &catalogue, sql, std::move(tableFiles), std::string(sql)) {}

Statement::Statement(const Connection& connection, std::string_view sql)
    : Statement(connection.handle(), nullptr, sql, {}, std::string(sql)) {}

Statement::Statement(sqlite3* db, const ErrorContext* catalogue, std::string_view sql,
                     std::vector<std::string> tableFiles, std::string shown)
    : db_(db), catalogue_(catalogue), tableFiles_(std::move(tableFiles)), shown_(std::move(shown)) {
    if (!db_) throw Error(Error::Kind::Io, "Нет соединения с файлом таблицы.");
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc =
        sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), 0, &raw, &tail);
    stmt_.reset(raw);
    check(rc);
    if (!raw) throw Error(Error::Kind::Statement, "Пустой запрос.");
    if (!onlyBlanksAndSemicolons(tail, sql.data() + sql.size()))
        throw Error(Error::Kind::Statement, "В запросе больше одного оператора:\n" + shown_);
}

Statement::~Statement() = default;
Statement::Statement(Statement&& other) noexcept = default;
Statement& Statement::operator=(Statement&& other) noexcept = default;

Error Statement::errorFor(int code) const {
    if (catalogue_) return catalogue_->errorFor(code, tableFiles_, shown_);
    return Error(Error::Kind::Statement,
                 "Ошибка SQLite: " + std::string(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code)) +
                     "\n\n" + shown_);
}

void Statement::check(int code) const {
    if (code != SQLITE_OK) throw errorFor(code);
}

int Statement::parameterCount() const {
    return sqlite3_bind_parameter_count(stmt_.get());
}

std::string_view Statement::parameterName(int index) const {
    const char* name = sqlite3_bind_parameter_name(stmt_.get(), index);
    return name ? std::string_view(name) : std::string_view();
}

int Statement::parameterIndex(std::string_view name) const {
    const int index = sqlite3_bind_parameter_index(stmt_.get(), std::string(name).c_str());
    if (index == 0)
        throw Error(Error::Kind::Statement,
                    "В запросе нет параметра " + std::string(name) + ":\n" + shown_);
    return index;
}

void Statement::bindNull(int index) {
    check(sqlite3_bind_null(stmt_.get(), index));
}

void Statement::bindInt64(int index, int64_t value) {
    check(sqlite3_bind_int64(stmt_.get(), index, value));
}

void Statement::bindDouble(int index, double value) {
    check(sqlite3_bind_double(stmt_.get(), index, value));
}

void Statement::bindText(int index, std::string_view value) {
    // A zero-length text from an empty view is still text: SQLite binds NULL only
    // for a null pointer, so an empty view gets one that is not.
    const char* data = value.data() ? value.data() : "";
    check(
        sqlite3_bind_text64(stmt_.get(), index, data, value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

void Statement::bindBlob(int index, std::string_view bytes) {
    const char* data = bytes.data() ? bytes.data() : "";
    check(sqlite3_bind_blob64(stmt_.get(), index, data, bytes.size(), SQLITE_TRANSIENT));
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) {
        sqlite3_reset(stmt_.get());
        return false;
    }
    const Error error = errorFor(rc);  // SQLite's message before the reset
    sqlite3_reset(stmt_.get());
    throw error;
}

int Statement::run() {
    while (step()) {
    }
    return sqlite3_changes(db_);
}

void Statement::reset() {
    sqlite3_reset(stmt_.get());
}

int Statement::columnCount() const {
    return sqlite3_column_count(stmt_.get());
}

std::string_view Statement::columnName(int column) const {
    const char* name = sqlite3_column_name(stmt_.get(), column);
    return name ? std::string_view(name) : std::string_view();
}

std::string_view Statement::columnDeclaredType(int column) const {
    const char* type = sqlite3_column_decltype(stmt_.get(), column);
    return type ? std::string_view(type) : std::string_view();
}

Statement::Type Statement::columnType(int column) const {
    switch (sqlite3_column_type(stmt_.get(), column)) {
        case SQLITE_INTEGER:
            return Type::Integer;
        case SQLITE_FLOAT:
            return Type::Float;
        case SQLITE_TEXT:
            return Type::Text;
        case SQLITE_BLOB:
            return Type::Blob;
        default:
            return Type::Null;
    }
}

int64_t Statement::columnInt64(int column) const {
    return sqlite3_column_int64(stmt_.get(), column);
}

double Statement::columnDouble(int column) const {
    return sqlite3_column_double(stmt_.get(), column);
}

std::string_view Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_.get(), column));
    if (!text) return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_.get(), column))};
}

}  // namespace store
