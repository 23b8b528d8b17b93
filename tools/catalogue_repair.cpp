#include "tools/catalogue_repair.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "store/catalogue.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/partfile.h"
#include "store/schema.h"
#include "store/statement.h"
#include "store/systemerror.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
using store::Database;
using store::Error;
using store::Statement;
using store::TableDef;

std::string fieldList(const TableDef& t) {
    std::string out;
    for (const auto& f : t.fields) out += (out.empty() ? "" : ", ") + store::quotedName(f.name);
    return out;
}

// Keys are kept as they are, so every one must be a whole number and none repeated.
void refuseKeysThatCannotBeKept(const Database& db, const TableDef& t, const std::string& file) {
    const std::string key = store::quotedName(store::keyField(t)->name);
    const std::string from = store::qualifiedName(t);
    Statement bad(db, "SELECT quote(" + key + ") FROM " + from + " WHERE typeof(" + key +
                          ") <> 'integer' UNION ALL SELECT " + key + " FROM " + from +
                          " WHERE typeof(" + key + ") = 'integer' GROUP BY " + key +
                          " HAVING count(*) > 1 LIMIT 5");
    std::string keys;
    while (bad.step()) keys += (keys.empty() ? "" : ", ") + std::string(bad.columnText(0));
    if (!keys.empty())
        throw Error(Error::Kind::Other,
                    "Таблицу " + file + " нельзя перестроить с прежними номерами: номера " + keys +
                        " — не целые числа или повторяются. Исправьте эти записи (например, в "
                        "sqlite3) и запустите repair снова. Ничего не изменено.");
}

// The highest key that the table or any reference to it has used: new rows go above it.
int64_t keysInUse(const Database& db, const TableDef& t) {
    int64_t top = db.keyMark(t);
    for (const auto& ref : store::catalogueReferences()) {
        if (&ref.to != &t) continue;
        const std::string field = store::quotedName(ref.field);
        Statement max(db, "SELECT ifnull(max(" + field + "), 0) FROM " +
                              store::qualifiedName(ref.from) + " WHERE typeof(" + field +
                              ") = 'integer'");
        if (max.step()) top = std::max(top, max.columnInt64(0));
    }
    return top;
}

fs::path firstCopyName(const fs::path& file) {
    return file.string() + ".before-repair";
}

// A copy of the file beside it, under a name no file has yet: written whole under a
// temporary name first, so a repair killed meanwhile leaves no part of a copy under a
// copy's name.
fs::path backUp(const fs::path& file) {
    fs::path copy = firstCopyName(file);
    for (int n = 2; fs::exists(fs::symlink_status(copy)); ++n)
        copy = file.string() + ".before-repair-" + std::to_string(n);
    const auto failed = [&](const std::string& why) {
        return Error(Error::Kind::Io, "Не удалось сохранить копию " + file.string() + " в " +
                                          copy.string() + ": " + why + ". Ничего не изменено.");
    };
    try {
        store::PartPath part(firstCopyName(file), store::PartPath::Kind::File);
        std::error_code ec;
        fs::copy_file(file, part.path(), fs::copy_options::overwrite_existing, ec);
        if (ec) throw failed(store::systemErrorText(ec));
        part.handOver(copy);
    } catch (const Error& e) {
        if (e.kind() == Error::Kind::Io) throw;
        throw failed(e.what());
    }
    return copy;
}

// The table made anew under our declaration, its rows and keys copied, in its own file.
void rebuild(const Database& db, const TableDef& t, int64_t keyMark) {
    const std::string work = std::string(t.table) + "_korvalen_repair";
    const std::string schema = store::quotedName(t.schema);
    db.execRaw(store::createTableSql(t, t.schema, work));
    db.execRaw("INSERT INTO " + schema + "." + store::quotedName(work) + " (" + fieldList(t) +
               ") SELECT " + fieldList(t) + " FROM " + store::qualifiedName(t));
    db.execRaw("DROP TABLE " + store::qualifiedName(t));
    db.execRaw("ALTER TABLE " + schema + "." + store::quotedName(work) + " RENAME TO " +
               store::quotedName(t.table));
    if (keyMark > 0) db.raiseKeyMark(t, keyMark);
}

// Dropped before any rebuild, so that no trigger runs on the copied rows and no view
// stands in the way of the renamed table. Dropping a table takes its indexes and
// triggers with it: what comes after it may be gone already.
void drop(const Database& db, const TableDef& t, const store::ExtraObject& object) {
    std::string type = object.type;
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    db.execRaw("DROP " + type + " IF EXISTS " + store::quotedName(t.schema) + "." +
               store::quotedName(object.name));
}

// The contents of disks the catalogue no longer has (deleted by a program that did not
// know the sixth file) are dropped.
void removeOrphanContents(const Database& db, std::vector<std::string>& done) {
    try {
        if (const int64_t disks = store::removeOrphanContents(db); disks > 0)
            done.push_back("Из файла " + std::string(store::kContentsFileName) +
                           " удалено содержимое дисков, которых нет в каталоге: " +
                           std::to_string(disks) + ".");
        if (const auto problem = store::fileNameIndexProblem(db)) {
            store::rebuildFileNameIndex(db);
            done.push_back(*problem + " Указатель построен заново.");
        }
    } catch (const Error& e) {
        done.push_back(std::string("Содержимое дисков не исправлено: ") + e.what());
    }
}

}  // namespace

std::vector<std::string> repairCatalogue(const fs::path& dir) {
    std::vector<store::SchemaProblem> problems;
    const auto db = Database::openForCheck(dir / std::string(store::kBaseFolder), problems);
    std::set<const TableDef*> tables, rebuilt;
    std::map<const TableDef*, std::vector<store::ExtraObject>> extras;
    for (const auto& p : problems) {
        if (!p.repairable)
            throw Error(Error::Kind::NotCatalogue,
                        "Этого repair не исправит, ничего не изменено: " + p.message);
        tables.insert(p.table);
        if (p.extra)
            extras[p.table].push_back(*p.extra);
        else
            rebuilt.insert(p.table);
    }
    std::vector<std::string> done;
    for (const TableDef& t : store::catalogueTables())
        for (const auto& leftover : store::removeKilledParts(firstCopyName(db->tableFile(t))))
            done.push_back("Удалён остаток прерванной перестройки: " + leftover.string() + ".");
    if (tables.empty()) {
        removeOrphanContents(*db, done);
        return done;
    }
    db->leaveWalMode();
    // Writers of any file wait from here to the end, so the copies match what is rebuilt.
    Database::Transaction unit(*db);
    std::map<const TableDef*, int64_t> keyMarks;
    for (const TableDef* t : rebuilt) {
        if (!store::keyField(*t)) continue;
        refuseKeysThatCannotBeKept(*db, *t, db->tableFile(*t).string());
        keyMarks[t] = keysInUse(*db, *t);
    }
    for (const TableDef* t : tables) {
        const fs::path file = db->tableFile(*t);
        const fs::path copy = backUp(file);
        std::string line;
        if (!extras[t].empty()) {
            line = "Из файла " + file.string() + " удалено то, чего Korvalen не создаёт: ";
            for (const auto& object : extras[t]) {
                drop(*db, *t, object);
                line += store::describe(object) + (&object == &extras[t].back() ? "." : ", ");
            }
        }
        if (rebuilt.contains(t)) {
            const int64_t keyMark = keyMarks[t];
            rebuild(*db, *t, keyMark);
            // Appended piece by piece: GCC 12 misreads a chain of + at -O3 (-Wrestrict).
            if (!line.empty()) line += " ";
            line.append("Таблица ").append(file.string());
            line += " перестроена, записи и их номера сохранены";
            // As the rebuilt table will count on: the mark it holds now, not the one asked for.
            const int64_t next = db->keyMark(*t);
            if (next > 0) line += ", новые номера начнутся после " + std::to_string(next);
            line += ".";
        }
        done.push_back(line + " Прежний файл сохранён как " + copy.string() + ".");
    }
    unit.commit();
    removeOrphanContents(*db, done);
    return done;
}

}  // namespace tools
