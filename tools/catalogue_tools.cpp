#include "catalogue_tools.h"

#include <array>
#include <ctime>
#include <limits>
#include <random>

#include "catalogue.h"
#include "database.h"
#include "error.h"
#include "statement.h"
#include "value.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
using store::Database;
using store::Error;
using store::Statement;
using store::Table;

constexpr std::array kCategories = {
    "Фильмы",   "Музыка",      "Игры",       "Программы", "Фотографии",      "Документы",
    "Обучение", "Мультфильмы", "Аудиокниги", "Сериалы",   "Резервные копии", "Drivers",
};
constexpr std::array kMedia = {"CD-R", "CD-RW", "DVD-R", "DVD+R", "DVD-RW", "DVD-9", "Blu-ray"};
constexpr std::array kDebtors = {
    "Иванов Сергей",  "Петрова Анна", "Сидоров Алексей", "Ёлкина Мария",   "Кузнецов Дмитрий",
    "Смирнова Ольга", "Волков Игорь", "Морозова Елена",  "Андрей (сосед)", "O'Brien Patrick",
};
constexpr std::array kFirst = {
    "Лучшие",    "Старые", "Новые",    "Золотые", "Весенние", "Летние",   "Ночные",
    "Избранные", "Редкие", "Домашние", "Best of", "Classic",  "Ultimate", "Greatest",
};
constexpr std::array kSecond = {
    "хиты",   "фильмы", "песни",    "записи", "программы", "игры",  "фотографии",
    "сказки", "лекции", "концерты", "Hits",   "Movies",    "Games", "Collection",
};
constexpr std::array kLines = {
    "Записано с оригинального диска.",
    "Качество хорошее, без царапин.",
    "Обложка в коробке, вкладыш потерян.",
    "Содержит бонусные материалы.",
    "Copy of the original release, region 5.",
    "Нужен ключ активации — записан на вкладыше.",
    "Русская и английская звуковые дорожки.",
    "Формат: MP3, 320 кбит/с.",
    "Резервная копия от весны.",
    "Подарок на день рождения.",
};

store::Date daysBefore(const store::Date& base, int days) {
    std::tm t{};
    t.tm_year = base.year - 1900;
    t.tm_mon = base.month - 1;
    t.tm_mday = base.day - days;
    t.tm_hour = 12;
    std::mktime(&t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

// A reference book's names, keys given in order from 1.
template <typename Names>
void insertNames(const Database& db, Table book, const Names& names) {
    Statement insert(db, store::insertRowSql(store::table(book)));
    for (const char* name : names) {
        insert.bindNull(1);
        insert.bindText(2, name);
        insert.run();
    }
}

void fillDemo(const Database& db, const DemoOptions& options) {
    std::mt19937 rng(options.seed);
    auto pick = [&](const auto& list) { return std::string(list[rng() % list.size()]); };

    db.writeWithoutJournal();
    Database::Transaction tx(db);
    insertNames(db, Table::Categories, kCategories);
    insertNames(db, Table::MediaTypes, kMedia);
    insertNames(db, Table::Debtors, kDebtors);
    // Disks: N, Name, Opisan, Kategory, Tip, Dolg. Loans: NomCD, Dolgnik, DatN, DatK, Dolg.
    Statement disk(db, store::insertRowSql(store::table(Table::Disks)));
    Statement loan(db, store::insertRowSql(store::table(Table::Loans)));
    auto startLoan = [&](int64_t diskKey) {
        loan.bindInt64(1, diskKey);
        loan.bindInt64(2, 1 + rng() % kDebtors.size());
    };
    const store::Date today = store::Date::today();
    std::string name, description;
    for (int n = 1; n <= options.disks; ++n) {
        name = pick(kFirst) + " " + pick(kSecond) + " " + std::to_string(1990 + rng() % 36);
        if (rng() % 4 == 0) name += " (диск " + std::to_string(1 + rng() % 3) + ")";
        description = pick(kLines);
        for (unsigned i = rng() % 3; i > 0; --i) description += "\r\n" + pick(kLines);
        const int roll = static_cast<int>(rng() % 100);
        const bool lentNow = roll < 6;
        const bool lentBefore = roll >= 6 && roll < 16;
        disk.bindNull(1);
        disk.bindText(2, name);
        disk.bindText(3, description);
        disk.bindInt64(4, 1 + rng() % kCategories.size());
        disk.bindInt64(5, 1 + rng() % kMedia.size());
        disk.bindInt64(6, lentNow ? 1 : 0);
        disk.run();
        if (lentBefore || (lentNow && rng() % 2 == 0)) {
            const int out = 40 + static_cast<int>(rng() % 400);
            startLoan(n);
            loan.bindText(3, daysBefore(today, out).iso());
            loan.bindText(4, daysBefore(today, out - 1 - static_cast<int>(rng() % 30)).iso());
            loan.bindInt64(5, 0);
            loan.run();
        }
        if (lentNow) {
            startLoan(n);
            loan.bindText(3, daysBefore(today, static_cast<int>(rng() % 35)).iso());
            loan.bindNull(4);
            loan.bindInt64(5, 1);
            loan.run();
        }
    }
    tx.commit();
}

std::vector<std::string> collect(const Database& db, const std::string& sql,
                                 const std::string& prefix) {
    std::vector<std::string> out;
    Statement select(db, sql);
    while (select.step()) out.push_back(prefix + std::string(select.columnText(0)));
    return out;
}

// SQLite's integrity check of each file, the file named and the first of its lines shown.
std::vector<std::string> integrityProblems(const Database& db) {
    constexpr size_t kLinesShown = 10;
    std::vector<std::string> problems;
    for (const auto& t : store::catalogueTables()) {
        const std::string file = db.tableFile(t).string();
        std::vector<std::string> lines;
        try {
            Statement check =
                db.prepareOn(t, "PRAGMA \"" + std::string(t.schema) + "\".integrity_check");
            while (check.step()) lines.emplace_back(check.columnText(0));
        } catch (const Error& e) {
            problems.push_back(e.what());  // names the file
            continue;
        }
        if (lines.size() == 1 && lines.front() == "ok") continue;
        std::string report = "Файл " + file + " повреждён. Проверка целостности SQLite:";
        for (size_t i = 0; i < lines.size() && i < kLinesShown; ++i) report += "\n  " + lines[i];
        if (lines.size() > kLinesShown)
            report += "\n  … и ещё строк: " + std::to_string(lines.size() - kLinesShown);
        problems.push_back(report);
    }
    return problems;
}

std::string tableName(Table which) {
    return store::qualifiedName(store::table(which));
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
    // A date the program cannot read is shown as stored; SQLite's date() gives back
    // exactly a valid yyyy-MM-dd and nothing else.
    for (const auto& [field, what] : {std::pair{"DatN", "Дата выдачи"}, {"DatK", "Дата возврата"}})
        add(collect(db,
                    "SELECT " + loan + " || ': «' || " + field + " || '»' FROM " + loans +
                        " WHERE " + field + " IS NOT NULL AND date(" + field + ") IS NOT " + field,
                    std::string(what) + " — не дата: выдача диска "));
    for (const auto& ref : store::catalogueReferences()) {
        const std::string field(ref.field);
        add(collect(
            db,
            "SELECT 'запись ' || rowid || ': «' || " + field + " || '»' FROM " +
                store::qualifiedName(ref.from) + " WHERE " + field + " IS NOT NULL AND typeof(" +
                field + ") <> 'integer'",
            "Поле " + field + " таблицы " + std::string(ref.from.fileName) + " хранит не номер: "));
    }
    for (const auto& t : store::catalogueTables())
        if (store::keyField(t) && db.keyMark(t) == std::numeric_limits<int64_t>::max())
            problems.push_back("Нумерация записей таблицы " + std::string(t.fileName) +
                               " исчерпана: наибольший номер уже выдан, новую запись в неё "
                               "добавить нельзя.");
    return problems;
}

}  // namespace

void makeDemo(const fs::path& dir, const DemoOptions& options) {
    store::createCatalogue(dir);
    try {
        auto db = Database::open(dir / std::string(store::kBaseFolder));
        fillDemo(*db, options);
    } catch (...) {
        std::error_code ec;
        fs::remove_all(dir / std::string(store::kBaseFolder), ec);  // nothing half-made stays
        throw;
    }
}

std::vector<std::string> checkCatalogue(const fs::path& dir) {
    std::vector<store::SchemaProblem> schema;  // filled as far as the files could be opened
    std::shared_ptr<Database> db;
    std::string unusable;
    try {
        db = Database::openForCheck(dir / std::string(store::kBaseFolder), schema);
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
        return contentProblems(*db);
    } catch (const Error& e) {
        return {e.what()};
    }
}

}  // namespace tools
