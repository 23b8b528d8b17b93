#include "store/check.h"

#include <limits>
#include <optional>

#include "store/catalogue.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/statement.h"

namespace store {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> collect(const Database& db, const std::string& sql,
                                 const std::string& prefix) {
    std::vector<std::string> out;
    Statement select(db, sql);
    while (select.step()) out.push_back(prefix + std::string(select.columnText(0)));
    return out;
}

// SQLite's integrity check of one attached file, the file named and the first of its
// lines shown; empty when sound.
std::optional<std::string> integrityProblem(const Database& db, std::string_view schema,
                                            const std::string& file) {
    constexpr size_t kLinesShown = 10;
    std::vector<std::string> lines;
    std::string stopped;  // SQLite may give up on a damaged file after its first lines
    try {
        Statement check(db, "PRAGMA \"" + std::string(schema) + "\".integrity_check",
                        {fs::path(file).filename().string()});
        while (check.step()) lines.emplace_back(check.columnText(0));
    } catch (const Error& e) {
        stopped = e.what();
    }
    if (stopped.empty() && lines.size() == 1 && lines.front() == "ok") return std::nullopt;
    std::string report = "Файл " + file + " повреждён. Проверка целостности SQLite:";
    for (size_t i = 0; i < lines.size() && i < kLinesShown; ++i) report += "\n  " + lines[i];
    if (lines.size() > kLinesShown)
        report += "\n  … и ещё строк: " + std::to_string(lines.size() - kLinesShown);
    if (!stopped.empty()) report += "\n  Проверка прервана: " + stopped;
    return report;
}

std::vector<std::string> integrityProblems(const Database& db) {
    std::vector<std::string> problems;
    for (const auto& t : catalogueTables())
        if (auto p = integrityProblem(db, t.schema, db.tableFile(t).string()))
            problems.push_back(*p);
    return problems;
}

// The sixth file, when the catalogue has one: sound, and holding only disks it has.
std::vector<std::string> contentsFileProblems(const Database& db) {
    const auto file = findFileNoCase(db.baseDir(), kContentsFileName);
    if (!file) return {};
    try {
        db.attachContents();
        if (auto p = integrityProblem(db, kContentsSchema, file->string())) return {*p};
        return contentsProblems(db);
    } catch (const Error& e) {
        return {e.what()};
    }
}

std::string tableName(Table which) {
    return qualifiedName(table(which));
}

// The rows themselves: values the program never writes, and lent flags that disagree
// with the loans.
std::vector<std::string> contentProblems(const Database& db) {
    std::vector<std::string> problems;
    auto add = [&](std::vector<std::string> more) {
        problems.insert(problems.end(), more.begin(), more.end());
    };
    const std::string disk = "N || ' «' || ifnull(Name,'') || '»'";
    const std::string loan = "'№ ' || ifnull(NomCD,'') || ' (запись ' || rowid || ')'";
    // The open loans are gathered once (IN over a list): a subquery per disk would scan
    // the whole loan table for each of a million disks.
    const std::string disks = "SELECT " + disk + " FROM " + tableName(Table::Disks) + " WHERE ";
    const std::string loans = tableName(Table::Loans);
    const std::string openLoans =
        "(SELECT NomCD FROM " + loans + " WHERE Dolg = 1 AND NomCD IS NOT NULL)";
    add(collect(db, disks + "Dolg = 1 AND N NOT IN " + openLoans,
                "Диск отмечен как отданный, но открытой записи о выдаче нет: диск № "));
    add(collect(db, disks + "ifnull(Dolg,0) <> 1 AND N IN " + openLoans,
                "Диск не отмечен как отданный, но есть открытая запись о выдаче: диск № "));
    add(collect(db,
                "SELECT NomCD FROM " + loans + " WHERE Dolg = 1 GROUP BY NomCD HAVING COUNT(*) > 1",
                "У диска больше одной открытой выдачи: диск № "));
    // The program writes a flag as True or False only: another value is lent under
    // neither availability.
    const std::string strangeFlag =
        "Dolg IS NOT NULL AND (typeof(Dolg) <> 'integer' OR Dolg NOT IN (0, 1))";
    add(collect(db,
                "SELECT " + disk + " || ': «' || Dolg || '»' FROM " + tableName(Table::Disks) +
                    " WHERE " + strangeFlag,
                "Отметка о выдаче не True и не False: диск № "));
    add(collect(
        db, "SELECT " + loan + " || ': «' || Dolg || '»' FROM " + loans + " WHERE " + strangeFlag,
        "Отметка «на руках» не True и не False: выдача диска "));
    // A date the program cannot read is shown as stored; SQLite's date(x, '+0 days') gives back
    // exactly a valid yyyy-MM-dd and nothing else.
    for (const auto& [field, what] : {std::pair{"DatN", "Дата выдачи"}, {"DatK", "Дата возврата"}})
        add(collect(db,
                    "SELECT " + loan + " || ': «' || " + field + " || '»' FROM " + loans +
                        " WHERE " + field + " IS NOT NULL AND date(" + field +
                        ", '+0 days') IS NOT " + field,
                    std::string(what) + " — не дата: выдача диска "));
    // Loans the program never dates so: back before it went out, or on a day not yet come
    // (a day's grace for the clocks' time zones), named by disk and debtor.
    const std::string loanOfDebtor =
        "'№ ' || ifnull(l.NomCD,'') || ' (запись ' || l.rowid || '), должнику № ' || "
        "ifnull(l.Dolgnik,'') || ' «' || ifnull((SELECT d.Dolgnik FROM " +
        tableName(Table::Debtors) + " d WHERE d.N = l.Dolgnik),'') || '»: выдан ' || " +
        "ifnull(l.DatN,'') || ', возвращён ' || ifnull(l.DatK,'—')";
    // Dates that are no dates are reported above, not compared.
    const auto dated = [](const std::string& field) {
        return "date(l." + field + ", '+0 days') = l." + field;
    };
    const std::string tomorrow = "date('now', 'localtime', '+1 day')";
    add(collect(db,
                "SELECT " + loanOfDebtor + " FROM " + loans + " l WHERE " + dated("DatN") +
                    " AND " + dated("DatK") + " AND l.DatK < l.DatN",
                "Диск возвращён раньше, чем выдан: выдача диска "));
    add(collect(db,
                "SELECT " + loanOfDebtor + " FROM " + loans + " l WHERE (" + dated("DatN") +
                    " AND l.DatN > " + tomorrow + ") OR (" + dated("DatK") + " AND l.DatK > " +
                    tomorrow + ")",
                "Выдача датирована днём, который ещё не наступил: выдача диска "));
    for (const auto& ref : catalogueReferences()) {
        const std::string field(ref.field);
        add(collect(
            db,
            "SELECT 'запись ' || rowid || ': «' || " + field + " || '»' FROM " +
                qualifiedName(ref.from) + " WHERE " + field + " IS NOT NULL AND typeof(" + field +
                ") <> 'integer'",
            "Поле " + field + " таблицы " + std::string(ref.from.fileName) + " хранит не номер: "));
    }
    for (const auto& t : catalogueTables())
        if (keyField(t) && db.keyMark(t) == std::numeric_limits<int64_t>::max())
            problems.push_back("Нумерация записей таблицы " + std::string(t.fileName) +
                               " исчерпана: наибольший номер уже выдан, новую запись в неё "
                               "добавить нельзя.");
    return problems;
}

}  // namespace

std::vector<std::string> checkCatalogue(const fs::path& dir) {
    std::vector<SchemaProblem> schema;  // filled as far as the files could be opened
    std::shared_ptr<Database> db;
    std::string unusable;
    try {
        db = Database::openForCheck(dir / std::string(kBaseFolder), schema);
    } catch (const Error& e) {
        unusable = e.what();
    }
    std::vector<std::string> problems;
    for (const auto& p : schema) problems.push_back(p.message);
    if (!db) {
        problems.push_back(unusable);
        return problems;
    }
    const auto damaged = integrityProblems(*db);
    problems.insert(problems.end(), damaged.begin(), damaged.end());
    // Rows are read only from tables as the program reads them: a view in a table's place
    // may never end, and a damaged file tells nothing more.
    if (!problems.empty()) return problems;
    try {
        problems = contentProblems(*db);
    } catch (const Error& e) {
        problems = {e.what()};
    }
    const auto contents = contentsFileProblems(*db);
    problems.insert(problems.end(), contents.begin(), contents.end());
    return problems;
}

}  // namespace store
