#include "store/candidates.h"

#include <sqlite3.h>

#include <array>
#include <new>
#include <optional>

#include "store/catalogue.h"
#include "store/namecopy.h"
#include "store/nameindex.h"

namespace store {

StatementHandle prepared(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
    return StatementHandle(raw);
}

std::string_view keyField() {
    return diskTable().fields.front().name;
}

namespace {

constexpr int kArguments = 1 + int(kCopyFieldCount);

// The table-valued function: its rows are the candidate disks, their rowid the key.

struct CandidatesTable : sqlite3_vtab {
    CandidateSource* source = nullptr;
};

struct CandidatesCursor : sqlite3_vtab_cursor {
    CandidateSource* source = nullptr;
    std::array<sqlite3_value*, kArguments> arguments{};
    std::optional<NameProbe> probe;
    std::optional<CandidateScan> scan;
    StatementHandle everyKey;  // without a copy in step: every disk is a candidate
    int64_t key = 0;
    bool eof = true;

    ~CandidatesCursor() { dropArguments(); }
    void dropArguments() {
        for (auto*& value : arguments) {
            sqlite3_value_free(value);
            value = nullptr;
        }
    }
    int advance() {
        if (scan) {
            try {
                eof = !scan->next(key);
            } catch (const std::bad_alloc&) {
                return SQLITE_NOMEM;
            }
            return SQLITE_OK;
        }
        if (!everyKey) {
            eof = true;
            return SQLITE_OK;
        }
        const int rc = sqlite3_step(everyKey.get());
        eof = rc != SQLITE_ROW;
        if (!eof) key = sqlite3_column_int64(everyKey.get(), 0);
        return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
};

std::optional<FieldCode> probeCode(sqlite3_value* value) {
    if (!value) return std::nullopt;
    switch (sqlite3_value_type(value)) {
        case SQLITE_INTEGER:
            return fieldCode(static_cast<int64_t>(sqlite3_value_int64(value)));
        case SQLITE_FLOAT:
            return fieldCode(sqlite3_value_double(value));
        default:  // text compares by the column's affinity: not narrowed
            return std::nullopt;
    }
}

std::optional<std::string_view> probePattern(sqlite3_value* value) {
    if (!value || sqlite3_value_type(value) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (!text) return std::nullopt;
    return std::string_view(text, static_cast<size_t>(sqlite3_value_bytes(value)));
}

int connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** table, char**) {
    const int rc = sqlite3_declare_vtab(
        db,
        "CREATE TABLE x(probe_pattern HIDDEN, probe_kategory HIDDEN, probe_tip HIDDEN, "
        "probe_dolg HIDDEN)");
    if (rc != SQLITE_OK) return rc;
    auto* t = new CandidatesTable();
    t->source = static_cast<std::shared_ptr<CandidateSource>*>(aux)->get();
    *table = t;
    return SQLITE_OK;
}

int disconnect(sqlite3_vtab* table) {
    delete static_cast<CandidatesTable*>(table);
    return SQLITE_OK;
}

// Every argument is an equality on a hidden column; they come to filter in column
// order, then a lower bound on rowid (which SQLite still checks) where there is one.
constexpr int kAfterBit = 1 << kArguments;

int bestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    std::array<int, kArguments> constraintOf;
    constraintOf.fill(-1);
    int after = -1;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.iColumn == -1 && c.op == SQLITE_INDEX_CONSTRAINT_GT && c.usable) after = i;
        if (c.iColumn < 0 || c.iColumn >= kArguments || c.op != SQLITE_INDEX_CONSTRAINT_EQ)
            continue;
        if (!c.usable) return SQLITE_CONSTRAINT;
        constraintOf[static_cast<size_t>(c.iColumn)] = i;
    }
    int next = 1;
    info->idxNum = 0;
    for (int column = 0; column < kArguments; ++column) {
        const int c = constraintOf[static_cast<size_t>(column)];
        if (c < 0) continue;
        info->aConstraintUsage[c].argvIndex = next++;
        info->aConstraintUsage[c].omit = 1;
        info->idxNum |= 1 << column;
    }
    if (after >= 0) {
        info->aConstraintUsage[after].argvIndex = next++;
        info->idxNum |= kAfterBit;
    }
    info->estimatedCost = 1000;
    info->estimatedRows = 1000;
    return SQLITE_OK;
}

int openCursor(sqlite3_vtab* table, sqlite3_vtab_cursor** cursor) {
    auto* c = new CandidatesCursor();
    c->source = static_cast<CandidatesTable*>(table)->source;
    *cursor = c;
    return SQLITE_OK;
}

int closeCursor(sqlite3_vtab_cursor* cursor) {
    delete static_cast<CandidatesCursor*>(cursor);
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* cursor, int idxNum, const char*, int argc, sqlite3_value** argv) {
    auto* c = static_cast<CandidatesCursor*>(cursor);
    c->scan.reset();
    c->probe.reset();
    c->everyKey.reset();
    c->dropArguments();
    int k = 0;
    for (int column = 0; column < kArguments && k < argc; ++column)
        if (idxNum & (1 << column))
            c->arguments[static_cast<size_t>(column)] = sqlite3_value_dup(argv[k++]);
    std::optional<int64_t> after;
    if ((idxNum & kAfterBit) && k < argc && sqlite3_value_type(argv[k]) == SQLITE_INTEGER)
        after = sqlite3_value_int64(argv[k]);
    std::shared_ptr<const NameCopy> copy;
    try {
        copy = c->source->currentCopy();
        if (copy) {
            std::array<std::optional<FieldCode>, kCopyFieldCount> fields;
            for (size_t f = 0; f < kCopyFieldCount; ++f) fields[f] = probeCode(c->arguments[1 + f]);
            c->probe.emplace(probePattern(c->arguments[0]), fields);
            c->scan.emplace(std::move(copy), *c->probe, namesearch::fastest(), after);
        }
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    }
    if (!c->scan) {
        c->everyKey = prepared(c->source->connection(), "SELECT " + std::string(keyField()) +
                                                            " FROM " + qualifiedName(diskTable()) +
                                                            " ORDER BY " + std::string(keyField()));
        if (!c->everyKey) return SQLITE_ERROR;
    }
    return c->advance();
}

int next(sqlite3_vtab_cursor* cursor) {
    return static_cast<CandidatesCursor*>(cursor)->advance();
}

int eof(sqlite3_vtab_cursor* cursor) {
    return static_cast<CandidatesCursor*>(cursor)->eof ? 1 : 0;
}

int column(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int i) {
    auto* c = static_cast<CandidatesCursor*>(cursor);
    if (i >= 0 && i < kArguments && c->arguments[static_cast<size_t>(i)])
        sqlite3_result_value(context, c->arguments[static_cast<size_t>(i)]);
    else
        sqlite3_result_null(context);
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* key) {
    *key = static_cast<CandidatesCursor*>(cursor)->key;
    return SQLITE_OK;
}

const sqlite3_module kCandidatesModule = {
    0,       nullptr, connect, bestIndex, disconnect, disconnect, openCursor, closeCursor,
    filter,  next,    eof,     column,    rowid,      nullptr,    nullptr,    nullptr,
    nullptr, nullptr, nullptr, nullptr,   nullptr,    nullptr,    nullptr,    nullptr,
};

}  // namespace

int registerCandidates(sqlite3* db, std::shared_ptr<CandidateSource> source) {
    auto* aux = new std::shared_ptr<CandidateSource>(std::move(source));
    return sqlite3_create_module_v2(
        db, std::string(kCandidatesFunction).c_str(), &kCandidatesModule, aux,
        [](void* p) { delete static_cast<std::shared_ptr<CandidateSource>*>(p); });
}

}  // namespace store
