#include "catalogue_tools.h"

#include <array>
#include <ctime>
#include <random>

#include "catalogue.h"
#include "database.h"
#include "error.h"
#include "value.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
using store::Database;
using store::Error;

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

class Inserter {
public:
    Inserter(const Database& db, const char* sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db.handle(), sql, -1, &raw, nullptr) != SQLITE_OK)
            throw db.errorFor(sqlite3_errcode(db.handle()), {}, sql);
        stmt_.reset(raw);
        db_ = &db;
    }
    Inserter& text(int i, const std::string& v) {
        sqlite3_bind_text(stmt_.get(), i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Inserter& integer(int i, int64_t v) {
        sqlite3_bind_int64(stmt_.get(), i, v);
        return *this;
    }
    Inserter& null(int i) {
        sqlite3_bind_null(stmt_.get(), i);
        return *this;
    }
    void run() {
        const int rc = sqlite3_step(stmt_.get());
        sqlite3_reset(stmt_.get());
        if (rc != SQLITE_DONE) throw db_->errorFor(rc, {}, sqlite3_sql(stmt_.get()));
    }

private:
    store::StatementHandle stmt_;
    const Database* db_ = nullptr;
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

void fillDemo(const Database& db, const DemoOptions& options) {
    std::mt19937 rng(options.seed);
    auto pick = [&](const auto& list) { return std::string(list[rng() % list.size()]); };

    for (const char* schema : {"main", "dolg_db", "sprkategoy_db", "sprtype_db", "sprdolgnik_db"}) {
        db.execRaw(std::string("PRAGMA \"") + schema + "\".journal_mode = OFF");
        db.execRaw(std::string("PRAGMA \"") + schema + "\".synchronous = OFF");
    }
    Database::Transaction tx(db);
    {
        Inserter cat(db, "INSERT INTO sprkategoy_db.SprKategoy(Name) VALUES (?1)");
        for (const char* c : kCategories) cat.text(1, c).run();
        Inserter media(db, "INSERT INTO sprtype_db.SprType(Tip) VALUES (?1)");
        for (const char* m : kMedia) media.text(1, m).run();
        Inserter debtor(db, "INSERT INTO sprdolgnik_db.SprDolgnik(Dolgnik) VALUES (?1)");
        for (const char* d : kDebtors) debtor.text(1, d).run();
    }
    Inserter disk(
        db, "INSERT INTO main.CDBase(Name, Opisan, Kategory, Tip, Dolg) VALUES (?1,?2,?3,?4,?5)");
    Inserter loan(
        db, "INSERT INTO dolg_db.Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES (?1,?2,?3,?4,?5)");
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
        disk.text(1, name).text(2, description);
        disk.integer(3, 1 + rng() % kCategories.size()).integer(4, 1 + rng() % kMedia.size());
        disk.integer(5, lentNow ? 1 : 0).run();
        if (lentBefore || (lentNow && rng() % 2 == 0)) {
            const int out = 40 + static_cast<int>(rng() % 400);
            loan.integer(1, n).integer(2, 1 + rng() % kDebtors.size());
            loan.text(3, daysBefore(today, out).iso())
                .text(4, daysBefore(today, out - 1 - static_cast<int>(rng() % 30)).iso());
            loan.integer(5, 0).run();
        }
        if (lentNow) {
            loan.integer(1, n).integer(2, 1 + rng() % kDebtors.size());
            loan.text(3, daysBefore(today, static_cast<int>(rng() % 35)).iso())
                .null(4)
                .integer(5, 1)
                .run();
        }
    }
    tx.commit();
}

std::vector<std::string> collect(const Database& db, const std::string& sql,
                                 const std::string& prefix) {
    std::vector<std::string> out;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw db.errorFor(sqlite3_errcode(db.handle()), {}, sql);
    store::StatementHandle stmt(raw);
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
        out.push_back(prefix + (t ? t : ""));
    }
    if (rc != SQLITE_DONE) throw db.errorFor(rc, {}, sql);
    return out;
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
    std::vector<std::string> problems;
    std::shared_ptr<Database> db;
    try {
        db = Database::open(dir / std::string(store::kBaseFolder));
    } catch (const Error& e) {
        return {e.what()};
    }
    for (const auto& t : store::catalogueTables()) {
        const std::string sql = "PRAGMA \"" + std::string(t.schema) + "\".integrity_check";
        for (auto& line : collect(*db, sql, ""))
            if (line != "ok")
                problems.push_back("Файл " + std::string(t.fileName) + " повреждён: " + line);
    }
    auto add = [&](std::vector<std::string> more) {
        problems.insert(problems.end(), more.begin(), more.end());
    };
    // The open loans are gathered once (IN over a list): a subquery per disk would scan
    // the whole loan table for each of a million disks.
    const std::string disks = "SELECT N || ' «' || ifnull(Name,'') || '»' FROM main.CDBase WHERE ";
    const std::string openLoans =
        "(SELECT NomCD FROM dolg_db.Dolg WHERE Dolg = 1 AND NomCD IS NOT NULL)";
    add(collect(*db, disks + "Dolg = 1 AND N NOT IN " + openLoans,
                "Диск отмечен как отданный, но открытой записи о выдаче нет: диск № "));
    add(collect(*db, disks + "ifnull(Dolg,0) <> 1 AND N IN " + openLoans,
                "Диск не отмечен как отданный, но есть открытая запись о выдаче: диск № "));
    add(collect(*db,
                "SELECT NomCD FROM dolg_db.Dolg WHERE Dolg = 1 GROUP BY NomCD HAVING COUNT(*) > 1",
                "У диска больше одной открытой выдачи: диск № "));
    return problems;
}

}  // namespace tools
