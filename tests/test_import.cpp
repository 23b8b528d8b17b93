// Bringing a collection across: Paradox tables written with pxlib (memo blocks by
// hand) are imported, and every field of every row is compared afterwards.
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <map>
#include <random>
#include <set>

extern "C" {
#include <paradox.h>
}

#include "store/catalogue.h"
#include "store/database.h"
#include "store/error.h"
#include "tests/paradox_fixture.h"
#include "tools/catalogue_import.h"
#include "tools/paradox_import.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using fixture::Day;
using fixture::Raw;
using fixture::TableWriter;
using fixture::Value;
using Rows = std::vector<std::vector<Value>>;

namespace {

constexpr int64_t operator""_i(unsigned long long v) {
    return static_cast<int64_t>(v);
}
const Value kEmpty{};

std::string repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

// Too long for a block of small memos: it gets a block of its own in the .MB file.
const std::string kLongDescription =
    repeat("Фильм на русском языке, субтитры отключаются.\r\n", 80);
// Longer than the record's leader, shorter than 2 KB: shares a block with others.
const std::string kShortDescription = repeat("Игра для Windows 98. ", 12);
const std::string kLongName = repeat("Я", 255);  // a full-length alpha field

// The original program's five tables, row by row; tests change rows before writing.
struct Collection {
    int codePage = 1251;
    int memoType = pxfMemoBLOb;
    Rows categories = {{1_i, "Фильмы"s}, {2_i, "Музыка"s}, {4_i, "Игры"s}};
    int categoryCounter = 5;  // category 5 was added and deleted in the old program
    Rows media = {{1.0, "CD-R"s, "болванка"s}, {2.0, "DVD-R"s, kEmpty}};
    Rows debtors = {{1_i, "Иванов Сергей"s}, {3_i, "Ёлкина Мария"s}};
    Rows disks = {
        {1_i, "Лучшие хиты 1999"s, "Копия"s, 2_i, 1_i, false},
        {2_i, "Старые фильмы"s, kLongDescription, 1_i, 2_i, true},
        {5_i, "Игры (диск 1)"s, kShortDescription, 4_i, 1_i, kEmpty},
        {9_i, kLongName, kEmpty, kEmpty, 2_i, false},
    };
    Rows loans = {
        {2.0, 1_i, Day{2003, 2, 1}, Day{2003, 2, 15}, false},
        {2.0, 3_i, Day{2004, 3, 10}, kEmpty, true},
        {12.0, 1_i, Day{2002, 5, 5}, kEmpty, true},  // disk 12 was deleted while lent
        {5.0, 3_i, Day{1999, 12, 31}, Day{2000, 1, 2}, false},
    };

    void write(const fs::path& base) const {
        fs::create_directories(base);
        auto table = [&](const char* file, std::vector<fixture::ParadoxField> fields,
                         const Rows& rows, bool keyed) {
            TableWriter w(base / file, std::move(fields), codePage, keyed);
            for (const auto& r : rows) w.row(r);
            return w;
        };
        table("SprKategoy.db", {{"Num", pxfAutoInc, 4}, {"Name", pxfAlpha, 40}}, categories, true)
            .autoIncrement(categoryCounter)
            .write();
        table("SprType.db", {{"N", pxfNumber, 8}, {"Tip", pxfAlpha, 20}, {"Comment", pxfAlpha, 20}},
              media, true)
            .write();
        table("SprDolgnik.db", {{"N", pxfLong, 4}, {"Dolgnik", pxfAlpha, 60}}, debtors, true)
            .write();
        table("CDBase.DB",
              {{"N", pxfAutoInc, 4},
               {"Name", pxfAlpha, 255},
               {"Opisan", memoType, 20},
               {"Kategory", pxfShort, 2},
               {"Tip", pxfLong, 4},
               {"Dolg", pxfLogical, 1}},
              disks, true)
            .write();
        table("Dolg.DB",
              {{"NomCD", pxfNumber, 8},
               {"Dolgnik", pxfShort, 2},
               {"DatN", pxfDate, 4},
               {"DatK", pxfDate, 4},
               {"Dolg", pxfLogical, 1}},
              loans, false)
            .write();
    }
};

std::map<std::string, QByteArray> snapshot(const fs::path& dir) {
    std::map<std::string, QByteArray> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        QFile f(QString::fromStdString(e.path().string()));
        f.open(QIODevice::ReadOnly);
        files[e.path().string()] = f.readAll();
    }
    return files;
}

// Every cell with its SQLite type, so that 1 and "1" and NULL and "" differ.
std::vector<std::string> select(const fs::path& base, const std::string& sql) {
    const auto db = store::Database::open(base);
    store::Statement select(*db, sql);
    std::vector<std::string> rows;
    while (select.step()) {
        std::string row;
        for (int c = 0; c < select.columnCount(); ++c) {
            const std::string text(select.columnText(c));
            switch (select.columnType(c)) {
                case store::Statement::Type::Null:
                    row += "null";
                    break;
                case store::Statement::Type::Integer:
                    row += text;
                    break;
                case store::Statement::Type::Text:
                    row += "'" + text + "'";
                    break;
                default:
                    row += "?" + text;
                    break;
            }
            row += c + 1 < select.columnCount() ? "|" : "";
        }
        rows.push_back(row);
    }
    return rows;
}

int64_t insertAndGetKey(const fs::path& base, const std::string& sql) {
    const auto db = store::Database::open(base);
    db->execRaw(sql);
    return db->lastInsertKey();
}

QString messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const store::Error& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

// Every field of every record, text converted, as the import reads them.
void readWhole(const fs::path& file) {
    tools::paradox::Table table(file);
    tools::paradox::TextDecoder decoder(table.codePage() ? table.codePage() : 1251);
    for (int r = 0; r < table.recordCount(); ++r) {
        table.record(r);
        for (const auto& f : table.fields()) {
            bool clean = true;
            decoder.toUtf8(table.cell(f, r).bytes, clean);
        }
    }
}

void writeBytes(const fs::path& file, size_t at, std::initializer_list<unsigned char> bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    for (unsigned char b : bytes) f.put(static_cast<char>(b));
}

}  // namespace

class ImportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;
    int case_ = 0;

    // A fresh pair of folders OLD and NEW for one case.
    std::pair<fs::path, fs::path> folders() {
        const fs::path root = fs::path(tmp_.path().toStdString()) / std::to_string(++case_);
        return {root / "old", root / "new"};
    }

private slots:
    void decodesFieldsAsPxlibWritesThem_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("length");
        QTest::addColumn<double>("value");  // NaN: leave the field empty
        QTest::addColumn<int>("kind");
        const double empty = std::nan("");
        const auto k = [](tools::paradox::Cell::Kind kind) { return static_cast<int>(kind); };
        using K = tools::paradox::Cell::Kind;
        QTest::newRow("short") << pxfShort << 2 << 1234.0 << k(K::Integer);
        QTest::newRow("negative short") << pxfShort << 2 << -7.0 << k(K::Integer);
        QTest::newRow("empty short") << pxfShort << 2 << empty << k(K::Empty);
        QTest::newRow("long") << pxfLong << 4 << 70000.0 << k(K::Integer);
        QTest::newRow("negative long") << pxfLong << 4 << -70000.0 << k(K::Integer);
        QTest::newRow("empty long") << pxfLong << 4 << empty << k(K::Empty);
        QTest::newRow("autoincrement") << pxfAutoInc << 4 << 12.0 << k(K::Integer);
        QTest::newRow("number") << pxfNumber << 8 << 2.5 << k(K::Number);
        QTest::newRow("negative number") << pxfNumber << 8 << -1e6 << k(K::Number);
        QTest::newRow("empty number") << pxfNumber << 8 << empty << k(K::Empty);
        QTest::newRow("date") << pxfDate << 4 << 728783.0 << k(K::Date);  // 4 May 1996
        QTest::newRow("empty date") << pxfDate << 4 << empty << k(K::Empty);
        QTest::newRow("true") << pxfLogical << 1 << 1.0 << k(K::Logical);
        QTest::newRow("false") << pxfLogical << 1 << 0.0 << k(K::Logical);
        QTest::newRow("empty logical") << pxfLogical << 1 << empty << k(K::Empty);
    }

    void decodesFieldsAsPxlibWritesThem() {
        QFETCH(int, type);
        QFETCH(int, length);
        QFETCH(double, value);
        QFETCH(int, kind);
        std::vector<char> raw(static_cast<size_t>(length), 0);
        pxdoc_t* doc = PX_new();
        if (!std::isnan(value)) {
            if (type == pxfShort)
                PX_put_data_short(doc, raw.data(), 2, static_cast<short>(value));
            else if (type == pxfNumber)
                PX_put_data_double(doc, raw.data(), 8, value);
            else if (type == pxfLogical)
                PX_put_data_byte(doc, raw.data(), 1, static_cast<char>(value));
            else
                PX_put_data_long(doc, raw.data(), 4, static_cast<int>(value));
        }
        PX_delete(doc);
        const auto cell = tools::paradox::decodePlainField(
            type, {reinterpret_cast<const unsigned char*>(raw.data()), raw.size()});
        QCOMPARE(static_cast<int>(cell.kind), kind);
        if (cell.kind == tools::paradox::Cell::Kind::Number)
            QCOMPARE(cell.number, value);
        else if (cell.kind != tools::paradox::Cell::Kind::Empty)
            QCOMPARE(cell.integer, static_cast<int64_t>(value));
    }

    void countsDaysFromTheFirstOfJanuaryOfYearOne() {
        using tools::paradox::dayFromNumber;
        QCOMPARE(dayFromNumber(1)->year, 1);
        const auto may = dayFromNumber(728783);
        QVERIFY(may && may->year == 1996 && may->month == 5 && may->day == 4);
        const auto leap = dayFromNumber(PX_GregorianToSdn(2000, 2, 29) - 1721425);
        QVERIFY(leap && leap->year == 2000 && leap->month == 2 && leap->day == 29);
        // A timestamp counts milliseconds from the same day zero; its day is what is kept.
        char stamp[8] = {};
        pxdoc_t* doc = PX_new();
        PX_put_data_double(doc, stamp, 8, 728783 * 86400000.0 + 3600000.0);
        PX_delete(doc);
        const auto cell = tools::paradox::decodePlainField(
            pxfTimestamp, {reinterpret_cast<const unsigned char*>(stamp), sizeof stamp});
        QVERIFY(cell.kind == tools::paradox::Cell::Kind::Date && cell.integer == 728783);
        QVERIFY(!dayFromNumber(0));
        QVERIFY(!dayFromNumber(-5));
        QVERIFY(!dayFromNumber(4000000));
    }

    void importsEveryRowAndFieldWithKeysIntact() {
        const auto [oldDir, newDir] = folders();
        Collection().write(oldDir / "base");
        const auto before = snapshot(oldDir);

        const auto report = tools::importCatalogue(oldDir, newDir);

        QVERIFY(snapshot(oldDir) == before);  // the old files are untouched, and no file was added
        const fs::path base = newDir / "base";
        QCOMPARE(select(base, "SELECT Num, Name FROM sprkategoy_db.SprKategoy ORDER BY Num"),
                 (std::vector<std::string>{"1|'Фильмы'", "2|'Музыка'", "4|'Игры'"}));
        QCOMPARE(select(base, "SELECT N, Tip FROM sprtype_db.SprType ORDER BY N"),
                 (std::vector<std::string>{"1|'CD-R'", "2|'DVD-R'"}));
        QCOMPARE(select(base, "SELECT N, Dolgnik FROM sprdolgnik_db.SprDolgnik ORDER BY N"),
                 (std::vector<std::string>{"1|'Иванов Сергей'", "3|'Ёлкина Мария'"}));
        QCOMPARE(
            select(base, "SELECT N, Name, Opisan, Kategory, Tip, Dolg FROM main.CDBase ORDER BY N"),
            (std::vector<std::string>{
                "1|'Лучшие хиты 1999'|'Копия'|2|1|0",
                "2|'Старые фильмы'|'" + kLongDescription + "'|1|2|1",
                "5|'Игры (диск 1)'|'" + kShortDescription + "'|4|1|null",
                "9|'" + kLongName + "'|null|null|2|0",
            }));
        QCOMPARE(select(base,
                        "SELECT NomCD, Dolgnik, DatN, DatK, Dolg FROM dolg_db.Dolg ORDER BY rowid"),
                 (std::vector<std::string>{
                     "2|1|'2003-02-01'|'2003-02-15'|0",
                     "2|3|'2004-03-10'|null|1",
                     "12|1|'2002-05-05'|null|1",
                     "5|3|'1999-12-31'|'2000-01-02'|0",
                 }));

        QCOMPARE(report.tables.size(), size_t{5});
        for (const auto& t : report.tables) {
            QCOMPARE(t.written, t.read);
            QCOMPARE(t.codePage, 1251);
        }
        QCOMPARE(report.tables[0].read, 4);
        QCOMPARE(report.tables[1].read, 4);
        QVERIFY(report.unconverted.empty());
        QVERIFY2(report.problems.empty(), tools::describe(report).c_str());
        QVERIFY(QString::fromStdString(tools::describe(report))
                    .contains("Comment"));  // a field left behind

        // No key that the old data used comes back: not the deleted disk 12 that a loan
        // still names, nor category 5 that the old program had already given.
        QCOMPARE(insertAndGetKey(base, "INSERT INTO main.CDBase(Name) VALUES ('Новый')"), 13);
        QCOMPARE(
            insertAndGetKey(base, "INSERT INTO sprkategoy_db.SprKategoy(Name) VALUES ('Новая')"),
            6);
        QCOMPARE(insertAndGetKey(base, "INSERT INTO sprtype_db.SprType(Tip) VALUES ('BD-R')"), 3);
        QCOMPARE(insertAndGetKey(base,
                                 "INSERT INTO sprdolgnik_db.SprDolgnik(Dolgnik) VALUES ('Петров')"),
                 4);
    }

    void readsDos866TablesAndFormattedMemos() {
        const auto [oldDir, newDir] = folders();
        Collection c;
        c.codePage = 866;
        c.memoType = pxfFmtMemoBLOb;
        c.write(oldDir / "base");
        const auto report = tools::importCatalogue(oldDir, newDir);
        QCOMPARE(report.tables[0].codePage, 866);
        QVERIFY(report.unconverted.empty());
        QCOMPARE(select(newDir / "base", "SELECT Name, Opisan FROM main.CDBase WHERE N = 2"),
                 (std::vector<std::string>{"'Старые фильмы'|'" + kLongDescription + "'"}));
    }

    void codePageOptionOverridesTheHeader() {
        const auto [oldDir, newDir] = folders();
        Collection c;  // the header says 1251, but the text was written in DOS 866
        c.disks[0][1] = Raw{fixture::encode("Сборник", 866)};
        c.write(oldDir / "base");
        tools::ImportOptions options;
        options.codePage = 866;
        const auto report = tools::importCatalogue(oldDir, newDir, options);
        QCOMPARE(report.tables[0].codePage, 866);
        QCOMPARE(select(newDir / "base", "SELECT Name FROM main.CDBase WHERE N = 1"),
                 (std::vector<std::string>{"'Сборник'"}));
    }

    void importsEmptyTables() {
        const auto [oldDir, newDir] = folders();
        Collection c;  // nobody ever borrowed a disk
        c.loans.clear();
        c.debtors.clear();
        c.write(oldDir / "base");
        const auto report = tools::importCatalogue(oldDir, newDir);
        QCOMPARE(report.tables[1].read, 0);
        QCOMPARE(report.tables[4].written, 0);
        QVERIFY(select(newDir / "base", "SELECT * FROM dolg_db.Dolg").empty());
        QCOMPARE(insertAndGetKey(newDir / "base", "INSERT INTO main.CDBase(Name) VALUES ('x')"),
                 10);
    }

    void reportsTextThatDoesNotConvert() {
        const auto [oldDir, newDir] = folders();
        Collection c;
        c.disks[2][1] = Raw{"Disk \x98 one"};  // 0x98 is no character of Windows-1251
        c.write(oldDir / "base");
        const auto report = tools::importCatalogue(oldDir, newDir);
        QCOMPARE(report.unconverted.size(), size_t{1});
        QCOMPARE(QString::fromStdString(report.unconverted[0]),
                 QString("CDBase.DB, запись № 3 (N = 5), поле Name"));
        QCOMPARE(select(newDir / "base", "SELECT Name FROM main.CDBase WHERE N = 5"),
                 (std::vector<std::string>{"'Disk \xEF\xBF\xBD one'"}));
        QVERIFY(QString::fromStdString(tools::describe(report)).contains("поле Name"));
    }

    void givesNewKeysToRowsWithoutOrWithRepeatedKeys() {
        const auto [oldDir, newDir] = folders();
        Collection c;
        c.debtors.push_back({3_i, "Двойник"s});  // an unkeyed table may repeat a key
        c.debtors.push_back({kEmpty, "Безымянный"s});
        c.write(oldDir / "base");
        const auto report = tools::importCatalogue(oldDir, newDir);
        QCOMPARE(
            select(newDir / "base", "SELECT N, Dolgnik FROM sprdolgnik_db.SprDolgnik ORDER BY N"),
            (std::vector<std::string>{"1|'Иванов Сергей'", "3|'Ёлкина Мария'", "4|'Двойник'",
                                      "5|'Безымянный'"}));
        QCOMPARE(report.notes.size(), size_t{3});  // the two keys, and the field left behind
        QCOMPARE(insertAndGetKey(newDir / "base",
                                 "INSERT INTO sprdolgnik_db.SprDolgnik(Dolgnik) VALUES ('x')"),
                 6);
    }

    void reportsLentFlagsThatDisagreeWithLoans() {
        const auto [oldDir, newDir] = folders();
        Collection c;
        c.disks[0][5] = true;  // disk 1 marked lent, but no open loan names it
        c.loans.push_back({5.0, 1_i, Day{2005, 6, 1}, kEmpty, true});  // disk 5 out, flag empty
        c.write(oldDir / "base");
        const auto report = tools::importCatalogue(oldDir, newDir);
        QCOMPARE(report.problems.size(), size_t{2});
        QVERIFY(QString::fromStdString(report.problems[0]).contains("диск № 1 "));
        QVERIFY(QString::fromStdString(report.problems[1]).contains("диск № 5 "));
        // Reported, not changed.
        QCOMPARE(
            select(newDir / "base", "SELECT N, Dolg FROM main.CDBase WHERE N IN (1, 5) ORDER BY N"),
            (std::vector<std::string>{"1|1", "5|null"}));
    }

    void refusesAnExistingCatalogue() {
        const auto [oldDir, newDir] = folders();
        Collection().write(oldDir / "base");
        store::createCatalogue(newDir);
        const auto before = snapshot(newDir);
        const QString message = messageOf([&] { tools::importCatalogue(oldDir, newDir); });
        QVERIFY(message.contains("уже существует"));
        QVERIFY(snapshot(newDir) == before);
        // The old folder itself is never a target.
        QVERIFY(
            messageOf([&] { tools::importCatalogue(oldDir, oldDir); }).contains("уже существует"));
    }

    // An import killed in its write phase (kill -9) leaves its hidden work folder; the
    // next import removes such folders, and only them: not a running import's, not a
    // folder or file that merely looks like one.
    void removesOnlyWhatKilledImportsLeft() {
        const auto [oldDir, newDir] = folders();
        Collection().write(oldDir / "base");
        fs::create_directories(newDir);
        const pid_t killed = fork();
        if (killed == 0) {  // ends with its folder made and locked, as a killed process does
            const tools::ImportWorkFolder work(newDir);
            fs::create_directories(work.path() / "base");
            _exit(0);
        }
        QCOMPARE(waitpid(killed, nullptr, 0), killed);
        const tools::ImportWorkFolder running(newDir);
        fs::create_directories(newDir / ".korvalen-import-handmade" / "base");
        std::ofstream(newDir / ".korvalen-import-file") << "not a folder";
        QCOMPARE(static_cast<int>(std::distance(fs::directory_iterator(newDir), {})), 4);

        tools::importCatalogue(oldDir, newDir);
        std::set<std::string> left;
        for (const auto& entry : fs::directory_iterator(newDir))
            left.insert(entry.path().filename().string());
        QCOMPARE(left,
                 (std::set<std::string>{"base", running.path().filename().string(),
                                        ".korvalen-import-handmade", ".korvalen-import-file"}));
    }

    void stopsOnAMissingOrDamagedFile_data() {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("named");
        QTest::newRow("missing table") << 0 << "SprType.db";
        QTest::newRow("missing memo file") << 1 << "CDBase.MB";
        QTest::newRow("truncated table") << 2 << "CDBase.DB";
        QTest::newRow("truncated memo file") << 3 << "CDBase.MB";
        QTest::newRow("block chain in a ring") << 4 << "Dolg.DB";
        QTest::newRow("record count in header") << 5 << "Dolg.DB";
        QTest::newRow("not a Paradox file") << 6 << "SprDolgnik.db";
        QTest::newRow("field missing") << 7 << "Tip";
        QTest::newRow("field of a wrong type") << 8 << "Name";
        QTest::newRow("memo pointer to a free block") << 9 << "CDBase.MB";
        QTest::newRow("password") << 10 << "SprKategoy.db";
    }

    void stopsOnAMissingOrDamagedFile() {
        QFETCH(int, damage);
        QFETCH(QString, named);
        const auto [oldDir, newDir] = folders();
        const fs::path base = oldDir / "base";
        Collection().write(base);
        switch (damage) {
            case 0:
                fs::remove(base / "SprType.db");
                break;
            case 1:
                fs::remove(base / "CDBase.MB");
                break;
            case 2:
                fs::resize_file(base / "CDBase.DB", 0x800 + 100);
                break;
            case 3:
                fs::resize_file(base / "CDBase.MB", 4096 + 100);
                break;
            case 4:
                writeBytes(base / "Dolg.DB", 0x800, {1, 0});
                break;  // block 1 follows itself
            case 5:
                writeBytes(base / "Dolg.DB", 6, {9});
                break;
            case 6:
                std::ofstream(base / "SprDolgnik.db") << "N;Dolgnik\n1;Иванов\n";
                break;
            case 7:
                TableWriter(base / "SprType.db", {{"N", pxfLong, 4}, {"Name", pxfAlpha, 20}})
                    .write();
                break;
            case 8:
                TableWriter(base / "SprKategoy.db", {{"Num", pxfLong, 4}, {"Name", pxfLogical, 1}})
                    .write();
                break;
            case 9:
                writeBytes(base / "CDBase.MB", 4096, {4});
                break;  // the long memo's block freed
            case 10:
                writeBytes(base / "SprKategoy.db", 0x5C, {1, 2, 3, 4});
                break;
        }
        const auto before = snapshot(oldDir);
        const QString message = messageOf([&] { tools::importCatalogue(oldDir, newDir); });
        QVERIFY2(message.contains(named), qPrintable(message));
        QVERIFY(!fs::exists(newDir));  // nothing half-made, not even the folder it made
        QVERIFY(snapshot(oldDir) == before);
    }

    // Damaged bytes anywhere stop the reading with a message or pass as data: never a
    // crash (the sanitizers watch every read). One collection in 25 goes through the
    // whole import, which must then leave nothing behind.
    void damagedBytesNeverCrash() {
        const auto [oldDir, newDir] = folders();
        const fs::path pristine = oldDir.parent_path() / "pristine";
        Collection().write(pristine);
        const auto files = snapshot(pristine);
        std::mt19937 rng(7);
        int stopped = 0, passed = 0;
        for (int round = 0; round < 400; ++round) {
            fs::remove_all(oldDir);
            fs::create_directories(oldDir);
            fs::copy(pristine, oldDir / "base");
            const char* victims[] = {"CDBase.DB", "CDBase.MB", "Dolg.DB", "SprKategoy.db"};
            const char* victim = victims[rng() % 4];
            std::string bytes = files.at((pristine / victim).string()).toStdString();
            if (round % 5 == 0) {
                bytes.resize(rng() % bytes.size());
            } else {
                // Mostly the header and the first block, where the pointers are.
                const size_t span =
                    std::min<size_t>(bytes.size(), round % 2 ? 0x900 : bytes.size());
                for (int i = 1 + static_cast<int>(rng() % 6); i > 0; --i)
                    bytes[rng() % span] = static_cast<char>(rng());
            }
            std::ofstream(oldDir / "base" / victim, std::ios::binary | std::ios::trunc) << bytes;
            try {
                if (round % 25 == 0) {
                    tools::importCatalogue(oldDir, newDir);
                    fs::remove_all(newDir);
                } else {
                    readWhole(oldDir / "base" /
                              (std::string(victim).starts_with("CDBase") ? "CDBase.DB" : victim));
                }
                ++passed;
            } catch (const store::Error&) {
                ++stopped;
                QVERIFY(!fs::exists(newDir));
            }
        }
        QVERIFY(stopped > 0);
        qInfo("%d damaged collections stopped, %d read as data", stopped, passed);
    }

    void storeNamesTheImportCommandForParadoxTables() {
        const auto [oldDir, newDir] = folders();
        Collection().write(oldDir / "base");
        const QString main = messageOf([&] { store::Database::open(oldDir / "base"); });
        QVERIFY2(main.contains("CDBase.DB") && main.contains("korvalen-base import"),
                 qPrintable(main));

        // One Paradox file among our own tables is named too.
        store::createCatalogue(newDir);
        fs::copy_file(oldDir / "base" / "Dolg.DB", newDir / "base" / "Dolg.DB",
                      fs::copy_options::overwrite_existing);
        const QString attached = messageOf([&] { store::Database::open(newDir / "base"); });
        QVERIFY2(attached.contains("Dolg.DB") && attached.contains("korvalen-base import"),
                 qPrintable(attached));
    }

    void commandLinePrintsTheReport() {
        const auto [oldDir, newDir] = folders();
        Collection().write(oldDir / "base");
        const QStringList args = {"import", QString::fromStdString(oldDir.string()),
                                  QString::fromStdString(newDir.string())};
        QProcess run;
        run.start(KORVALEN_BASE_EXE, args);
        QVERIFY(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput());
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(out.contains("CDBase.DB") && out.contains("прочитано") &&
                     out.contains("ошибок не найдено"),
                 qPrintable(out));

        run.start(KORVALEN_BASE_EXE, args);  // a second time: the catalogue is there now
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY(QString::fromUtf8(run.readAllStandardError()).contains("уже существует"));
    }
};

QTEST_GUILESS_MAIN(ImportTest)
#include "test_import.moc"
