// A catalogue that cannot be opened at start: each fault gives a plain Russian
// message naming the file, and opening it writes nothing.
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>

#include "store/catalogue.h"
#include "store/connection.h"
#include "tests/catalogue_writes.h"
#include "tools/catalogue_tools.h"

namespace fs = std::filesystem;
using store::Error;

namespace {

void writeBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A table file written by another program with SQLite: its own table in our file's place.
void replaceWithSqlite(const fs::path& file, const char* createTable) {
    fs::remove(file);
    QVERIFY(store::Connection(file, store::Connection::Mode::Create).exec(createTable));
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
    std::string fileName;  // what the message must name
    std::string mustSay;   // further words the message must hold
};

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
             replaceWithSqlite(base / "SprKategoy.db", "CREATE TABLE Notes(Id INTEGER, Body TEXT)");
         },
         Error::Kind::NotCatalogue, "SprKategoy.db", "нет таблицы SprKategoy"},
        {"Dolg.DB without the field DatK",
         [](const fs::path& base) {
             replaceWithSqlite(base / "Dolg.DB",
                               "CREATE TABLE Dolg(NomCD INTEGER, Dolgnik INTEGER, DatN DATE, "
                               "Dolg LOGICAL)");
         },
         Error::Kind::NotCatalogue, "Dolg.DB", "нет поля DatK"},
    };
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
    const fs::path dir = tmp.path().toStdString();
    const fs::path base = dir / "base";
    store::createCatalogue(dir);
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
    const auto problems = tools::checkCatalogue(dir);
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
