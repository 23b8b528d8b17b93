#include "store/schema.h"

#include <sqlite3.h>

#include <array>

#include "store/catalogue.h"
#include "store/error.h"
#include "store/errorcontext.h"
#include "store/statement.h"

namespace store {
namespace {

// A field as the table file declares it.
struct Declared {
    bool exists = false;
    std::string type;
    std::string collation;
    bool primaryKey = false;
    bool autoIncrement = false;

    std::string describe() const {
        if (type.empty() && !primaryKey) return "без типа";
        std::string out = "как " + (type.empty() ? std::string("без типа") : type);
        if (primaryKey) out += " PRIMARY KEY";
        if (autoIncrement) out += " AUTOINCREMENT";
        return out;
    }
};

Declared declared(const ErrorContext& db, const TableDef& t, const FieldDef& f) {
    const char* type = nullptr;
    const char* collation = nullptr;
    int notNull = 0, primaryKey = 0, autoIncrement = 0;
    const int rc = sqlite3_table_column_metadata(
        db.handle(), std::string(t.schema).c_str(), std::string(t.table).c_str(),
        std::string(f.name).c_str(), &type, &collation, &notNull, &primaryKey, &autoIncrement);
    if (rc == SQLITE_ERROR) return {};  // no such field
    if (rc != SQLITE_OK) throw db.errorFor(rc, {std::string(t.fileName)}, {});
    return {true, type ? type : "", collation ? collation : "", primaryKey != 0,
            autoIncrement != 0};
}

// The key must be SQLite's own row key with AUTOINCREMENT: only then is it a whole number
// in every row, and a deleted row's key, which old loans still name, never comes back. A
// logical or date field must carry the declared type by which the store reads it as
// "True"/"False" or dd.MM.yyyy, and a text field must not turn "007" into 7.
bool declaredAsExpected(const FieldDef& f, const Declared& d) {
    if (f.kind == FieldKind::Key)
        return equalsNoCase(d.type, "INTEGER") && d.primaryKey && d.autoIncrement;
    return equalsNoCase(d.type, sqlType(f.kind));
}

// Collations a statement over the field can be prepared with: SQLite's own and ours.
bool knownCollation(std::string_view name) {
    constexpr std::array<std::string_view, 4> kKnown = {"BINARY", "NOCASE", "RTRIM", "RUSSIAN"};
    for (std::string_view known : kKnown)
        if (equalsNoCase(name, known)) return true;
    return false;
}

struct TableKind {
    std::string type;  // "table", "view", "virtual", ...; empty when there is no such table
    bool withoutRowid = false;
};

// SQLite's own SQL about the table in file, its errors naming the file.
Statement statementOn(const ErrorContext& db, const std::string& file, const std::string& sql) {
    return Statement(db, sql, {std::filesystem::path(file).filename().string()});
}

TableKind tableKind(const ErrorContext& db, const TableDef& t, const std::string& file) {
    Statement list = statementOn(
        db, file, "SELECT type, wr FROM " + quotedName(t.schema) + ".pragma_table_list(?1)");
    list.bindText(1, t.table);
    if (!list.step()) return {};
    return {std::string(list.columnText(0)), list.columnInt64(1) != 0};
}

// Everything in the file but the table and what SQLite keeps beside it on its own (the
// keys given, sqlite_sequence; statistics, sqlite_stat1). A trigger runs on the program's
// writes and may change or delete any row; a view, an index or another table is nothing
// the program made either. An index SQLite made for a constraint of the table's own
// declaration is mended by a rebuild: one for a PRIMARY KEY comes with a key reported
// above, one for a UNIQUE (which ON CONFLICT REPLACE deletes a row on an edit) is named here.
std::vector<SchemaProblem> extraObjects(const ErrorContext& db, const TableDef& t,
                                        const std::string& file) {
    const std::string schema = quotedName(t.schema);
    Statement list =
        statementOn(db, file,
                    "SELECT s.type, s.name, s.tbl_name, ifnull(i.origin, '') FROM " + schema +
                        ".sqlite_schema AS s LEFT JOIN " + schema +
                        ".pragma_index_list(s.tbl_name) AS i ON i.name = s.name ORDER BY s.rowid");
    std::vector<SchemaProblem> problems;
    while (list.step()) {
        const std::string type(list.columnText(0)), name(list.columnText(1));
        const std::string_view origin = list.columnText(3);
        if (type == "table" && (name == t.table || name.starts_with("sqlite_"))) continue;
        const std::string where = "В файле " + file + " есть лишний объект: ";
        if (type == "index" && origin == "pk") continue;
        if (type == "index" && origin == "u") {
            problems.push_back({where + "ограничение UNIQUE в объявлении таблицы " +
                                    std::string(list.columnText(2)) + " (индекс " + name + ").",
                                true, &t});
            continue;
        }
        const ExtraObject extra{type, name};
        problems.push_back(
            {where + describe(extra) + " (Korvalen таких не создаёт).", true, &t, extra});
    }
    return problems;
}

}  // namespace

std::string notCatalogueFileMessage(const std::filesystem::path& file) {
    return "Файл " + file.string() + " не является таблицей каталога Korvalen.";
}

std::string describe(const ExtraObject& object) {
    const std::string& type = object.type;
    const std::string kind = type == "trigger" ? "триггер"
                             : type == "view"  ? "представление (VIEW)"
                             : type == "index" ? "индекс"
                             : type == "table" ? "таблица"
                                               : "объект типа " + type;
    return kind + " " + object.name;
}

std::string repairAdvice() {
    return " Перестройте таблицу командой: korvalen-base repair ПАПКА (записи и их номера "
           "сохранятся, прежний файл останется рядом как копия).";
}

std::vector<SchemaProblem> tableProblems(const ErrorContext& db, const TableDef& t,
                                         const std::string& file) {
    TableKind kind;
    try {
        kind = tableKind(db, t, file);
    } catch (const Error& e) {
        // SQLite finds a damaged or foreign file only when it first reads the schema.
        if (e.kind() == Error::Kind::NotCatalogue)
            throw Error(Error::Kind::NotCatalogue, notCatalogueFileMessage(file));
        throw;
    }
    const std::string table(t.table);
    if (kind.type.empty())
        return {{"В файле " + file + " нет таблицы " + table + ": " + notCatalogueFileMessage(file),
                 false, &t}};
    // A view is a statement run on every read, which may never end.
    if (kind.type != "table")
        return {{"В файле " + file + " на месте таблицы " + table + " — " +
                     (kind.type == "view" ? std::string("представление (VIEW)")
                                          : "объект типа " + kind.type) +
                     ", а не таблица с записями.",
                 false, &t}};
    std::vector<SchemaProblem> problems;
    if (kind.withoutRowid)
        problems.push_back({"Таблица " + table + " в файле " + file +
                                " объявлена WITHOUT ROWID: у её записей нет номеров SQLite.",
                            true, &t});
    std::vector<SchemaProblem> missing;
    for (const FieldDef& f : t.fields) {
        const Declared d = declared(db, t, f);
        const std::string field(f.name);
        if (!d.exists) {
            missing.push_back({"В таблице " + file + " нет поля " + field + ".", false, &t});
            continue;
        }
        if (!declaredAsExpected(f, d))
            problems.push_back({"В таблице " + file + " поле " + field + " объявлено " +
                                    d.describe() + ", а должно быть " +
                                    std::string(sqlType(f.kind)) + ".",
                                true, &t});
        if (!knownCollation(d.collation))
            problems.push_back({"В таблице " + file + " поле " + field +
                                    " сравнивается по неизвестному правилу COLLATE " + d.collation +
                                    ".",
                                true, &t});
    }
    const auto extra = extraObjects(db, t, file);
    problems.insert(problems.end(), extra.begin(), extra.end());
    // A table that lacks a field cannot be rebuilt: nothing could fill the field.
    for (auto& p : problems) {
        p.repairable = missing.empty();
        if (p.repairable) p.message += repairAdvice();
    }
    problems.insert(problems.begin(), missing.begin(), missing.end());
    return problems;
}

}  // namespace store
