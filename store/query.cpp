#include "store/query.h"

#include <cmath>

#include "store/catalogue.h"
#include "store/dialect.h"
#include "store/text.h"

namespace store {

ColumnKind kindOfDeclType(std::string_view decl) {
    if (equalsNoCase(decl, "LOGICAL")) return ColumnKind::Logical;
    if (equalsNoCase(decl, "DATE")) return ColumnKind::Date;
    return ColumnKind::Plain;
}

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return equalsNoCase(a, b) || foldCase(a) == foldCase(b);
}

}  // namespace

std::vector<std::string> uniqueColumnNames(const std::vector<std::string>& raw) {
    std::vector<std::string> names;
    std::vector<std::string> folded;
    names.reserve(raw.size());
    auto taken = [&](const std::string& f) {
        for (const auto& x : folded)
            if (x == f) return true;
        return false;
    };
    for (const auto& r : raw) {
        const std::string base = foldCase(r);  // the suffix is ASCII: folded as it is
        std::string name = r, key = base;
        for (int n = 1; taken(key); ++n) {
            name = r + "_" + std::to_string(n);
            key = base + "_" + std::to_string(n);
        }
        folded.push_back(std::move(key));
        names.push_back(std::move(name));
    }
    return names;
}

Query::Query(std::vector<std::string> lines, std::shared_ptr<Database> db)
    : db_(std::move(db)), ownDb_(db_ != nullptr) {
    setSql(std::move(lines));
}

void Query::clearSql() {
    close();
    lines_.clear();
    textChanged();
}

void Query::addLine(std::string line) {
    close();
    lines_.push_back(std::move(line));
    textChanged();
}

void Query::setSql(std::vector<std::string> lines) {
    close();
    lines_ = std::move(lines);
    textChanged();
}

std::string Query::statement() const {
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i) out += '\n';
        out += lines_[i];
    }
    return out;
}

void Query::textChanged() {
    readOn_.reset();
    narrowed_.clear();
    narrowedReadOn_.clear();
    params_.clear();
    paramsFound_ = false;  // found on first use, not once per added line
}

std::vector<Query::Param>& Query::params() const {
    if (!paramsFound_) {
        for (auto& name : store::parameterNames(statement())) {
            Param p;
            p.name = std::move(name);
            params_.push_back(std::move(p));
        }
        paramsFound_ = true;
    }
    return params_;
}

std::vector<std::string> Query::parameterNames() const {
    std::vector<std::string> names;
    for (const auto& p : params()) names.push_back(p.name);
    return names;
}

Query::Param& Query::param(std::string_view name) {
    for (auto& p : params())
        if (sameName(p.name, name)) return p;
    throw Error(Error::Kind::Statement,
                "В запросе нет параметра :" + std::string(name) + ":\n" + statement());
}

Query::Param& Query::setParam(std::string_view name, ParamKind kind, std::string text,
                              double number) {
    Param& p = param(name);
    p.kind = kind;
    p.set = true;
    p.text = std::move(text);
    p.number = number;
    return p;
}

void Query::setText(std::string_view name, std::string value) {
    setParam(name, ParamKind::Text, std::move(value), 0);
}

void Query::setMemo(std::string_view name, std::string value) {
    setParam(name, ParamKind::Memo, std::move(value), 0);
}

void Query::setFloat(std::string_view name, double value) {
    // Within ±2^63 a whole double converts exactly; it is stored as the integer it is.
    constexpr double kIntegerRange = 9223372036854775808.0;
    if (std::trunc(value) == value && std::fabs(value) < kIntegerRange)
        setInteger(name, static_cast<int64_t>(value));
    else
        setParam(name, ParamKind::Float, {}, value);
}

void Query::setInteger(std::string_view name, int64_t value) {
    setParam(name, ParamKind::Integer, {}, 0).integer = value;
}

void Query::setDate(std::string_view name, const Date& value) {
    setParam(name, ParamKind::Date, value.iso(), 0);
}

std::shared_ptr<Database> Query::databaseForRun() {
    if (!ownDb_) db_ = Database::defaultDatabase();
    return db_;
}

Statement Query::prepareBound() {
    return prepareBound(statement(), narrowed_);
}

namespace {

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string sql;
    for (size_t i = 0; i < lines.size(); ++i) (i ? sql += '\n' : sql) += lines[i];
    return sql;
}

}  // namespace

void Query::setReadOn(std::vector<std::string> lines, std::string keyColumn) {
    readOn_ = ReadOn{joinedLines(lines), std::move(keyColumn)};
    keyColumn_ = open_ ? columnIndex(readOn_->keyColumn) : -1;
}

void Query::setNarrowed(std::vector<std::string> lines, std::vector<std::string> readOnLines) {
    narrowed_ = joinedLines(lines);
    narrowedReadOn_ = joinedLines(readOnLines);
}

Statement Query::prepareBound(const std::string& sql, const std::string& narrowed,
                              std::optional<After> after) {
    Statement s = databaseForRun()->prepare(sql, narrowed);
    for (int i = 1, count = s.parameterCount(); i <= count; ++i) {
        const std::string_view name = s.parameterName(i);
        if (name.empty() || name[0] != ':')
            throw Error(Error::Kind::Statement, "Безымянный параметр в запросе:\n" + sql);
        if (after && equalsNoCase(name.substr(1), "After")) {
            s.bindInt64(i, after->key);
            continue;
        }
        const Param& prm = param(name.substr(1));
        if (!prm.set)
            throw Error(Error::Kind::Statement, "Не задано значение параметра " +
                                                    std::string(name) + " в запросе:\n" + sql);
        // Empty text stays empty text: only an unset parameter could mean "no value".
        if (prm.kind == ParamKind::Float)
            s.bindDouble(i, prm.number);
        else if (prm.kind == ParamKind::Integer)
            s.bindInt64(i, prm.integer);
        else
            s.bindText(i, prm.text);
    }
    return s;
}

void Query::open() {
    if (open_) return;
    Statement s = prepareBound();
    if (s.columnCount() == 0)
        throw Error(Error::Kind::Statement, "Запрос не возвращает строк:\n" + statement());
    stmt_.emplace(std::move(s));
    readColumns();
    open_ = true;
    try {
        fetchRow();
    } catch (...) {
        close();
        throw;
    }
    current_ = rowCount_ == 0 ? -1 : 0;
}

void Query::execSql() {
    close();
    rowsAffected_ = prepareBound().run();
}

void Query::close() {
    stmt_.reset();
    released_ = false;
    keyColumn_ = -1;
    keysRising_ = true;
    lastKey_ = 0;
    heldAhead_.clear();
    open_ = false;
    columns_.clear();
    cells_.clear();
    texts_.clear();
    rowCount_ = 0;
    current_ = -1;
}

void Query::release() {
    if (!stmt_) return;
    stmt_.reset();
    released_ = true;
}

// Reading on after a release. Counting the rows held and stepping past as many would
// skip or repeat rows that another program removed or added meanwhile; so where the
// rows come by rising key, the read-on statement starts after the last key held, and
// otherwise the statement runs again and passes over each row held once, by content.
// A failure (a table locked by a writer) leaves the query released, to try again on
// the next read.
bool Query::resume() {
    if (readOn_ && keyColumn_ >= 0 && keysRising_ && rowCount_ > 0) {
        stmt_.emplace(prepareBound(readOn_->sql, narrowedReadOn_, After{lastKey_}));
    } else {
        stmt_.emplace(prepareBound());
        heldAhead_.clear();
        heldAhead_.reserve(static_cast<size_t>(rowCount_));
        for (int row = 0; row < rowCount_; ++row) heldAhead_.emplace(rowHash(row), row);
    }
    released_ = false;
    return true;
}

size_t Query::rowHash(int row) const {
    size_t h = 0;
    for (int c = 0; c < columnCount(); ++c) {
        const Cell& x = cell(row, c);
        size_t v = static_cast<size_t>(x.type);
        if (x.type == Value::Type::Integer) v ^= std::hash<int64_t>{}(x.integer);
        if (x.type == Value::Type::Float) v ^= std::hash<double>{}(x.number);
        if (x.type == Value::Type::Text) v ^= std::hash<std::string_view>{}(storedText(row, c));
        h = h * 1000003u ^ v;
    }
    return h;
}

bool Query::sameRow(int a, int b) const {
    for (int c = 0; c < columnCount(); ++c) {
        const Cell& x = cell(a, c);
        const Cell& y = cell(b, c);
        if (x.type != y.type) return false;
        if (x.type == Value::Type::Integer && x.integer != y.integer) return false;
        if (x.type == Value::Type::Float && !(x.number == y.number)) return false;
        if (x.type == Value::Type::Text && storedText(a, c) != storedText(b, c)) return false;
    }
    return true;
}

// True when the row just appended (not yet counted) is one of the rows held that a run
// again reads once more: it is taken off the rows ahead and must not be shown twice.
bool Query::passOverHeldRow() {
    const auto [from, to] = heldAhead_.equal_range(rowHash(rowCount_));
    for (auto it = from; it != to; ++it)
        if (sameRow(it->second, rowCount_)) {
            heldAhead_.erase(it);
            return true;
        }
    return false;
}

void Query::readColumns() {
    const Statement& s = *stmt_;
    const int n = s.columnCount();
    std::vector<std::string> raw;
    columns_.clear();
    for (int i = 0; i < n; ++i) {
        raw.emplace_back(s.columnName(i));
        columns_.push_back({{}, kindOfDeclType(s.columnDeclaredType(i))});
    }
    auto names = uniqueColumnNames(raw);
    for (int i = 0; i < n; ++i) columns_[i].name = std::move(names[i]);
    keyColumn_ = readOn_ ? columnIndex(readOn_->keyColumn) : -1;
}

bool Query::fetchRow() {
    for (;;) {
        if (!stmt_ && !(released_ && resume())) return false;
        bool row = false;
        try {
            row = stmt_->step();
        } catch (const Error&) {
            stmt_.reset();
            throw;
        }
        if (!row) {
            stmt_.reset();  // all read: let go of the statement and its read lock
            heldAhead_.clear();
            return false;
        }
        appendRow(*stmt_);
        if (!heldAhead_.empty() && passOverHeldRow()) {
            dropLastRow();
            continue;
        }
        noteKeyOrder();
        ++rowCount_;
        return true;
    }
}

// The row the statement stands on, after the rows counted; not counted yet.
void Query::appendRow(const Statement& s) {
    for (int i = 0; i < static_cast<int>(columns_.size()); ++i) {
        Cell& c = cells_.emplace_back();
        switch (s.columnType(i)) {
            case Statement::Type::Integer:
                c.type = Value::Type::Integer;
                c.integer = s.columnInt64(i);
                break;
            case Statement::Type::Float:
                c.type = Value::Type::Float;
                c.number = s.columnDouble(i);
                break;
            case Statement::Type::Null:
                break;
            case Statement::Type::Text:
            case Statement::Type::Blob: {
                const std::string_view t = s.columnText(i);
                c.type = Value::Type::Text;
                c.integer = static_cast<int64_t>(texts_.size());
                c.textSize = static_cast<uint32_t>(t.size());
                texts_.append(t);
            }
        }
    }
}

void Query::dropLastRow() {
    const size_t first = static_cast<size_t>(rowCount_) * columns_.size();
    for (size_t i = first; i < cells_.size(); ++i)
        if (cells_[i].type == Value::Type::Text) {
            texts_.resize(static_cast<size_t>(cells_[i].integer));
            break;
        }
    cells_.resize(first);
}

void Query::noteKeyOrder() {
    if (keyColumn_ < 0 || !keysRising_) return;
    const Cell& c = cell(rowCount_, keyColumn_);
    if (c.type != Value::Type::Integer || (rowCount_ > 0 && c.integer <= lastKey_))
        keysRising_ = false;
    else
        lastKey_ = c.integer;
}

int Query::fetchMore(int count) {
    int got = 0;
    while (got < count && fetchRow()) ++got;
    return got;
}

void Query::fetchAll() {
    while (fetchRow()) {
    }
}

void Query::first() {
    current_ = rowCount_ == 0 ? -1 : 0;
}

void Query::next() {
    if (current_ < 0) return;
    if (current_ + 1 < fetchedRows() || fetchRow())
        ++current_;
    else
        current_ = fetchedRows();  // past the end
}

bool Query::eof() const {
    return current_ < 0 || current_ >= fetchedRows();
}

bool Query::isEmpty() {
    return rowCount_ == 0;
}

bool Query::moveTo(int row) {
    if (row < 0) return false;
    while (row >= fetchedRows())
        if (!fetchRow()) return false;
    current_ = row;
    return true;
}

int Query::columnIndex(std::string_view name) const {
    for (int i = 0; i < columnCount(); ++i)
        if (sameName(columns_[i].name, name)) return i;
    return -1;
}

Field Query::field(std::string_view name) const {
    const int col = columnIndex(name);
    if (col < 0)
        throw Error(
            Error::Kind::Statement,
            "Поле " + std::string(name) + " не найдено в результате запроса:\n" + statement());
    if (current_ < 0 || current_ >= fetchedRows()) return Field({}, columns_[col].kind);
    return fieldAt(current_, col);
}

int64_t Query::key(std::string_view name) const {
    const Field f = field(name);
    if (const auto key = f.asKey()) return *key;
    const std::string what = "поле " + std::string(name);
    if (f.isNull() || f.asString().empty())
        throw Error(Error::Kind::Statement,
                    "У текущей записи нет номера (" + what + " пусто): команда не выполнена.");
    throw Error(Error::Kind::Statement, "Номер текущей записи (" + what + ") — «" + f.asString() +
                                            "», а не целое число: команда не выполнена.");
}

const Query::Cell& Query::cell(int row, int column) const {
    return cells_[static_cast<size_t>(row) * columns_.size() + static_cast<size_t>(column)];
}

Value Query::valueAt(int row, int column) const {
    const Cell& c = cell(row, column);
    switch (c.type) {
        case Value::Type::Integer:
            return Value(c.integer);
        case Value::Type::Float:
            return Value(c.number);
        case Value::Type::Text:
            return Value(texts_.substr(static_cast<size_t>(c.integer), c.textSize));
        case Value::Type::Null:
            break;
    }
    return Value();
}

Field Query::fieldAt(int row, int column) const {
    return Field(valueAt(row, column), columns_[column].kind);
}

std::string Query::text(int row, int column) const {
    const Cell& c = cell(row, column);
    if (c.type == Value::Type::Text && columns_[column].kind == ColumnKind::Plain)
        return texts_.substr(static_cast<size_t>(c.integer), c.textSize);
    return valueAt(row, column).asString(columns_[column].kind);
}

std::string_view Query::storedText(int row, int column) const {
    const Cell& c = cell(row, column);
    if (c.type != Value::Type::Text) return {};
    return std::string_view(texts_).substr(static_cast<size_t>(c.integer), c.textSize);
}

}  // namespace store
