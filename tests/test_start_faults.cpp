// A catalogue that cannot be opened at start: each fault gives a plain Russian
// message naming the file, and opening it writes nothing.
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>

#include "store/catalogue.h"
#include "store/check.h"
#include "store/connection.h"
#include "tests/catalogue_writes.h"
#include "tests/fixture.h"
#include "tools/catalogue_demo.h"

namespace fs = std::filesystem;
using store::Error;

namespace {

void writeBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Paradox tables open with the record size, a header size that is a multiple of 2 KB,
// the file type and the table's size limit.
std::string paradoxHeader() {
    std::string header(2048, '\0');
    header[0] = 0x2a;
    header[3] = 0x08;
    header[5] = 0x02;
    return header;
}

struct StartFault {
    std::string name;
    std::function<void(const fs::path& base)> damage;
    Error::Kind kind;
    std::string fileName;   // what the message must name
    std::string mustSay;    // further words the message must hold
    size_t pathLength = 0;  // the catalogue folder made at least this long
};

// A table file of ours made again by another program: the table declared as sql says.
std::function<void(const fs::path&)> declared(std::string file, std::string sql) {
    return [=](const fs::path& base) { fixture::redeclare(base / file, sql); };
}

// A table file of ours with something added by another program: sql run on it alone.
std::function<void(const fs::path&)> added(std::string file, std::string sql) {
    return [=](const fs::path& base) {
        if (!store::Connection(base / file).exec(sql))
            throw std::runtime_error("could not run " + sql + " on " + file);
    };
}

std::vector<StartFault> startFaults() {
    std::vector<StartFault> faults = {
        {"no base folder", [](const fs::path& base) { fs::remove_all(base); }, Error::Kind::Missing,
         "base", "korvalen-base create"},
        {"a folder in place of Dolg.DB",
         [](const fs::path& base) {
             fs::remove(base / "Dolg.DB");
             fs::create_directory(base / "Dolg.DB");
         },
         Error::Kind::Missing, "Dolg.DB", "Не найден файл таблицы"},
        {"text in place of SprType.db",
         [](const fs::path& base) { writeBytes(base / "SprType.db", "Носители:\nCD-R\nDVD-R\n"); },
         Error::Kind::NotCatalogue, "SprType.db", "не является таблицей каталога"},
        {"empty SprDolgnik.db",
         [](const fs::path& base) { writeBytes(base / "SprDolgnik.db", ""); },
         Error::Kind::NotCatalogue, "SprDolgnik.db", "нет таблицы SprDolgnik"},
        {"Paradox table as CDBase.DB",
         [](const fs::path& base) { writeBytes(base / "CDBase.DB", paradoxHeader()); },
         Error::Kind::NotCatalogue, "CDBase.DB", "korvalen-base import"},
        {"another program's SQLite file as SprKategoy.db",
         [](const fs::path& base) {
             fixture::redeclare(base / "SprKategoy.db",
                                "CREATE TABLE Notes(Id INTEGER, Body TEXT)");
         },
         Error::Kind::NotCatalogue, "SprKategoy.db", "нет таблицы SprKategoy"},
        {"Dolg.DB without the field DatK",
         [](const fs::path& base) {
             fixture::redeclare(base / "Dolg.DB",
                                "CREATE TABLE Dolg(NomCD INTEGER, Dolgnik INTEGER, DatN DATE, "
                                "Dolg LOGICAL)");
         },
         Error::Kind::NotCatalogue, "Dolg.DB", "нет поля DatK"},
    };
    // Hostile catalogues: what no catalogue that korvalen-base makes can contain.
    const std::vector<StartFault> hostile = {
        // A key that is not SQLite's row key may hold text, which spliced into a statement
        // as "Where N = 0 OR 1=1" would delete every disk.
        {"disk key DESC, not the row key, holding text",
         declared("CDBase.DB",
                  fixture::tableWith("CDBase", "N", "INTEGER PRIMARY KEY DESC",
                                     "INSERT INTO CDBase VALUES ('0 OR 1=1', 'x', '', 1, 1, 0)")),
         Error::Kind::NotCatalogue, "CDBase.DB",
         "поле N объявлено как INTEGER PRIMARY KEY, а должно быть INTEGER PRIMARY KEY "
         "AUTOINCREMENT"},
        // Without AUTOINCREMENT a deleted disk's key, and its loans, go to the next disk.
        {"category key without AUTOINCREMENT",
         declared("SprKategoy.db", fixture::tableWith("SprKategoy", "Num", "INTEGER PRIMARY KEY")),
         Error::Kind::NotCatalogue, "SprKategoy.db", "korvalen-base repair"},
        {"key not the row key",
         declared("SprDolgnik.db", fixture::tableWith("SprDolgnik", "N", "INTEGER")),
         Error::Kind::NotCatalogue, "SprDolgnik.db",
         "поле N объявлено как INTEGER, а должно быть INTEGER PRIMARY KEY AUTOINCREMENT."},
        // Stored "007" would come back as 7.
        {"disk name declared INTEGER",
         declared("CDBase.DB", fixture::tableWith("CDBase", "Name", "INTEGER")),
         Error::Kind::NotCatalogue, "CDBase.DB",
         "поле Name объявлено как INTEGER, а должно быть TEXT."},
        {"loan disk number declared TEXT",
         declared("Dolg.DB", fixture::tableWith("Dolg", "NomCD", "TEXT")),
         Error::Kind::NotCatalogue, "Dolg.DB",
         "поле NomCD объявлено как TEXT, а должно быть INTEGER."},
        {"logical of another type",
         declared("Dolg.DB", fixture::tableWith("Dolg", "Dolg", "BOOLEAN")),
         Error::Kind::NotCatalogue, "Dolg.DB",
         "поле Dolg объявлено как BOOLEAN, а должно быть LOGICAL."},
        {"dolg.db beside Dolg.DB",
         [](const fs::path& base) { fs::copy_file(base / "Dolg.DB", base / "dolg.db"); },
         Error::Kind::NotCatalogue, "dolg.db", "Dolg.DB"},
        // Reading a view runs its statement, which need never end.
        {"an endless view in place of Dolg",
         declared("Dolg.DB",
                  "CREATE VIEW Dolg AS WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                  "FROM r) SELECT i AS NomCD, i AS Dolgnik, '' AS DatN, '' AS DatK, 1 AS Dolg "
                  "FROM r"),
         Error::Kind::NotCatalogue, "Dolg.DB", "представление (VIEW)"},
        {"media types WITHOUT ROWID",
         declared("SprType.db",
                  "CREATE TABLE SprType(N INTEGER PRIMARY KEY, Tip TEXT) "
                  "WITHOUT ROWID"),
         Error::Kind::NotCatalogue, "SprType.db", "WITHOUT ROWID"},
        // Made by a program that knew the collation; ours cannot prepare a statement on it.
        {"debtor names in an unknown collation",
         declared("SprDolgnik.db",
                  fixture::tableWith("SprDolgnik", "N", "INTEGER PRIMARY KEY AUTOINCREMENT") +
                      "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
                      "replace(sql, 'Dolgnik TEXT', 'Dolgnik TEXT COLLATE KLINGON') WHERE name = "
                      "'SprDolgnik'"),
         Error::Kind::NotCatalogue, "SprDolgnik.db", "COLLATE KLINGON"},
        {"CDBase.DB in UTF-16",
         declared("CDBase.DB",
                  "PRAGMA encoding = 'UTF-16le';" +
                      fixture::tableWith("CDBase", "N", "INTEGER PRIMARY KEY AUTOINCREMENT")),
         Error::Kind::NotCatalogue, "CDBase.DB", "UTF-16"},
        {"a short file", [](const fs::path& base) { writeBytes(base / "CDBase.DB", "abc"); },
         Error::Kind::NotCatalogue, "CDBase.DB", "не является таблицей каталога"},
        {"a path beyond SQLite's limit", [](const fs::path&) {}, Error::Kind::Io, "CDBase.DB",
         "SQLite открывает файлы по пути не длиннее 504 байт", 495},
    };
    faults.insert(faults.end(), hostile.begin(), hostile.end());
    // A trigger runs on the program's own writes: this one made one lend delete every
    // other disk, and one of its kind in any file can do as much to that file's rows.
    for (const auto& table : store::catalogueTables()) {
        const std::string file(table.fileName), name(table.table);
        faults.push_back(
            {"a trigger in " + file,
             added(file, "CREATE TRIGGER t AFTER UPDATE ON " + name + " BEGIN DELETE FROM " + name +
                             " WHERE rowid <> NEW.rowid; END"),
             Error::Kind::NotCatalogue, file,
             "есть лишний объект: триггер t (Korvalen таких не создаёт). Перестройте "
             "таблицу командой: korvalen-base repair"});
    }
    // A UNIQUE ... ON CONFLICT REPLACE deletes the other row when an edit repeats a name.
    faults.push_back({"disk names UNIQUE, replacing on conflict",
                      declared("CDBase.DB", fixture::tableWith("CDBase", "Name",
                                                               "TEXT UNIQUE ON CONFLICT REPLACE")),
                      Error::Kind::NotCatalogue, "CDBase.DB",
                      "есть лишний объект: ограничение UNIQUE в объявлении таблицы CDBase "
                      "(индекс sqlite_autoindex_CDBase_1)."});
    // A damaged page: the file still starts like SQLite's, its first page is garbage.
    for (const char* file : {"CDBase.DB", "Dolg.DB"}) {
        faults.push_back({std::string("damaged first page of ") + file,
                          [file](const fs::path& base) {
                              std::fstream f(base / file,
                                             std::ios::in | std::ios::out | std::ios::binary);
                              f.seekp(100);
                              const std::string garbage(400, '\xa5');
                              f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
                          },
                          Error::Kind::NotCatalogue, file, "не является таблицей каталога"});
    }
    for (const auto& table : store::catalogueTables()) {
        const std::string file(table.fileName);
        faults.push_back({"no " + file, [file](const fs::path& base) { fs::remove(base / file); },
                          Error::Kind::Missing, file, "Не найден файл таблицы"});
    }
    return faults;
}

}  // namespace

class StartFaults : public QObject {
    Q_OBJECT

private slots:
    void refusedWithTheFileNamed_data();
    void refusedWithTheFileNamed();
    void lockedByAnotherProgram();
};

void StartFaults::refusedWithTheFileNamed_data() {
    QTest::addColumn<int>("row");
    const auto faults = startFaults();
    for (int i = 0; i < static_cast<int>(faults.size()); ++i)
        QTest::newRow(faults[i].name.c_str()) << i;
}

void StartFaults::refusedWithTheFileNamed() {
    QFETCH(int, row);
    const StartFault fault = startFaults()[row];
    QTemporaryDir tmp;
    fs::path dir = tmp.path().toStdString();
    store::createCatalogue(dir);
    if (fault.pathLength > 0) {  // made where SQLite can, then moved deep down
        fs::path deep = dir;
        while (deep.string().size() < fault.pathLength) deep /= std::string(100, 'd');
        fs::create_directories(deep);
        fs::rename(dir / "base", deep / "base");
        dir = deep;
    }
    const fs::path base = dir / "base";
    fault.damage(base);
    const auto before =
        fs::exists(base) ? writes::folderBytes(base) : decltype(writes::folderBytes(base)){};

    std::string message;
    try {
        store::Database::open(base);
        QFAIL("a damaged catalogue was opened");
    } catch (const Error& e) {
        message = e.what();
        QCOMPARE(writes::kindName(e.kind()), writes::kindName(fault.kind));
    }
    QVERIFY2(message.find(fault.fileName) != std::string::npos, message.c_str());
    QVERIFY2(message.find(fault.mustSay) != std::string::npos, message.c_str());
    if (fs::exists(base)) QVERIFY(writes::folderBytes(base) == before);

    // korvalen-base check reports the same first.
    const auto problems = store::checkCatalogue(dir);
    QVERIFY(!problems.empty());
    QCOMPARE(problems.front(), message);
}

void StartFaults::lockedByAnotherProgram() {
    QTemporaryDir tmp;
    const fs::path dir = tmp.path().toStdString();
    tools::makeDemo(dir, {.disks = 5});
    const store::Connection holder(dir / "base" / "CDBase.DB");
    QVERIFY(holder.exec("BEGIN EXCLUSIVE"));
    try {
        store::Database::open(dir / "base");
        QFAIL("a catalogue locked by another program was opened");
    } catch (const Error& e) {
        QCOMPARE(writes::kindName(e.kind()), writes::kindName(Error::Kind::Locked));
        const std::string message = e.what();
        QVERIFY2(message.find("CDBase.DB занята другой программой") != std::string::npos,
                 message.c_str());
    }
    QVERIFY(holder.exec("ROLLBACK"));
    QVERIFY(store::Database::open(dir / "base") != nullptr);
}

QTEST_GUILESS_MAIN(StartFaults)
#include "test_start_faults.moc"
