// The catalogue store against the fixture catalogue (fixture.h names its rows): the
// program's statements as the windows and commands write them, the naming of result
// columns, values, parameters, text comparison, keys, the default database, transactions,
// and every failure with its message and the table files left as they were.
#include <QtTest>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

#include "statements/commands.h"
#include "statements/diskfilter.h"
#include "store/catalogue.h"
#include "store/database.h"
#include "store/dialect.h"
#include "store/query.h"
#include "store/text.h"
#include "tests/catalogue_writes.h"
#include "tests/fixture.h"

using diskfilter::Availability;
using diskfilter::Switches;
using fixture::FixtureCatalogue;
using fixture::FolderSnapshot;
using fixture::layoutLines;
using fixture::queryRows;
using fixture::ScopedWorkingDirectory;
using fixture::sqlRows;
using fixture::TemporaryCatalogue;
using store::Database;
using store::Error;
using store::Query;
using Lines = std::vector<std::string>;
using statements::Book;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(Lines)
Q_DECLARE_METATYPE(Book)

namespace {

std::vector<std::string> toLines(const QStringList& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.toStdString());
    return out;
}

QStringList columnsOf(const Query& q) {
    QStringList names;
    for (int c = 0; c < q.columnCount(); ++c) names << QString::fromStdString(q.columnName(c));
    return names;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

// The error an action raises, if any.
std::optional<Error> failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

// A row as the program reads its fields, joined by "|".
QString queryRowAt(const Query& q, int row) {
    QStringList values;
    for (int c = 0; c < q.columnCount(); ++c) values << QString::fromStdString(q.text(row, c));
    return values.join('|');
}

QString messageOf(const std::optional<Error>& e) {
    return e ? QString::fromUtf8(e->what()) : QStringLiteral("(no error)");
}

// The disk list under the filter's "Все" and the switches, with the keys it compares.
Query filteredDisks(const std::shared_ptr<Database>& db, Availability availability,
                    const Switches& switches, std::string_view fragment = {}) {
    return Query(diskfilter::build(availability, switches, fragment).lines, db);
}

// The reference books in the Russian order of their names, as key|name.
const QStringList kCategoriesByName = {"4|Документы", "3|Ёлка",   "2|музыка",
                                       "6|Сборники",  "1|Фильмы", "5|Games"};
const QStringList kMediaTypesByName = {"3|Blu-ray", "1|CD-R", "2|DVD-R"};
const QStringList kDebtorsByName = {"3|Егоров Пётр", "2|ёлкина мария", "1|Иванов Сергей",
                                    "4|Петров Пётр"};

const QStringList kDiskListColumns = {"Name", "N", "Opisan", "Dolg", "Name_1", "Tip"};

// The fixture's disks as the unfiltered disk list reads them (disk 5 has no category).
const QStringList kDiskListRows = {
    "Матрица|1|Фильм о выборе|True|Фильмы|DVD-R",
    "Abbey Road|2|Лучшие песни\r\nДва диска|False|музыка|CD-R",
    "Новогодние ПЕСНИ|3||False|Ёлка|CD-R",
    "Half-Life 2|4|Игра.|False|Games|DVD-R",
    "Rock'n'Roll|6|Сборник.|True|музыка|CD-R",
    "Abc 100%|7|Учебник.|False|Документы|DVD-R",
    "Road_trip|8|Путевые заметки.|False|Документы|CD-R",
};

// The lent-disks list's rows of the two disks that are out.
const QString kLentMatrix = "1|01.03.2024|Матрица|Иванов Сергей|DVD-R|Фильмы|True";
const QString kLentRockNRoll = "6|05.03.2024|Rock'n'Roll|Петров Пётр|CD-R|музыка|True";

// The lent-disks list of the main window.
Lines lentDisks() {
    return layoutLines("Unit1", "Query6");
}

}  // namespace

class StoreTest : public QObject {
    Q_OBJECT

private:
    // Every row of a list statement run on db.
    static QStringList listRows(const std::shared_ptr<Database>& db, const Lines& lines) {
        Query q(lines, db);
        q.open();
        return queryRows(q);
    }

    // Steps 1 to 3 of the command protocol: close, clear, add the lines.
    static void prepareCommand(Query& q4, const Lines& lines) {
        q4.close();
        q4.clearSql();
        for (const auto& line : lines) q4.addLine(line);
    }

    // One write of the command protocol: the lines, the parameters, execute, close.
    static void runCommand(Query& q4, const Lines& lines,
                           const std::function<void(Query&)>& setParameters = {}) {
        prepareCommand(q4, lines);
        if (setParameters) setParameters(q4);
        q4.execSql();
        q4.close();
    }

    // An in-use count of the reference-book deletes: the one column read as text.
    static QString inUseCount(Query& q4, const Lines& lines, std::string_view alias) {
        prepareCommand(q4, lines);
        q4.open();
        return QString::fromStdString(q4.field(alias).asString());
    }

private slots:
    // --- The list statements of the windows ---------------------------------------------

    void listStatements_data() {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("ordered");

        QTest::newRow("categories grid")
            << layoutLines("Unit1", "Query1") << QStringList{"Num", "Категория"}
            << kCategoriesByName << true;
        QTest::newRow("media types grid")
            << layoutLines("Unit1", "Query2") << QStringList{"N", "Носитель"} << kMediaTypesByName
            << true;
        QTest::newRow("debtors grid") << layoutLines("Unit1", "Query3")
                                      << QStringList{"n", "Должник"} << kDebtorsByName << true;
        QTest::newRow("disk list")
            << layoutLines("Unit1", "Query5") << kDiskListColumns << kDiskListRows << false;
        QTest::newRow("lent disks")
            << lentDisks()
            << QStringList{"NomCD", "DatN", "Name", "Dolgnik", "Tip", "Name_1", "Dolg"}
            << QStringList{kLentMatrix, kLentRockNRoll} << false;
        QTest::newRow("filter media types") << layoutLines("Unit1", "Query7")
                                            << QStringList{"N", "Tip"} << kMediaTypesByName << true;
        QTest::newRow("filter categories")
            << layoutLines("Unit1", "Query8") << QStringList{"Num", "Name"} << kCategoriesByName
            << true;
        QTest::newRow("lend dialog debtors")
            << layoutLines("Unit2", "Query1") << QStringList{"N", "Dolgnik"} << kDebtorsByName
            << true;
        QTest::newRow("editor categories")
            << layoutLines("Unit3", "Query1") << QStringList{"Num", "Name"} << kCategoriesByName
            << true;
        QTest::newRow("editor media types") << layoutLines("Unit3", "Query2")
                                            << QStringList{"N", "Tip"} << kMediaTypesByName << true;
    }

    void listStatements() {
        QFETCH(Lines, lines);
        QFETCH(QStringList, columns);
        QFETCH(QStringList, rows);
        QFETCH(bool, ordered);
        FixtureCatalogue f;
        Query q(lines, f.open());
        q.open();
        // Names are looked up without regard to case, so only the letters must agree.
        const QStringList got = columnsOf(q);
        QCOMPARE(got.size(), columns.size());
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(got[i].compare(columns[i], Qt::CaseInsensitive) == 0,
                     qPrintable(got.join(',')));
        QCOMPARE(q.currentRow(), 0);
        const QStringList result = queryRows(q);
        QCOMPARE(ordered ? result : sorted(result), ordered ? rows : sorted(rows));
    }

    // --- The commands' statements through the command query ----------------------------

    void diskEditorSavesAndDiskDelete() {
        FixtureCatalogue f;
        const auto db = f.open();
        Query q4({}, db);
        const std::string name = "Диск \"Лучшее\" it's";
        const std::string memo = "Первая строка\r\nвторая строка\r\n";
        runCommand(q4, statements::addDisk(), [&](Query& q) {
            q.setText("Name", name);
            q.setMemo("Opisan", memo);
            q.setFloat("Kategory", 3);
            q.setFloat("Tip", 2);
        });
        // A new key, the flag False by default, text and memo stored as given.
        QCOMPARE(sqlRows(f.root(), "SELECT N, Kategory, Tip, Dolg FROM CDBase WHERE N = 9"),
                 QStringList{"9|3|2|0"});
        Query check({"select Name, Opisan, Dolg from 'base\\CDBase.db' where N = 9"}, db);
        check.open();
        QCOMPARE(check.field("Name").asString(), name);
        QCOMPARE(check.field("Opisan").asString(), memo);
        QCOMPARE(check.field("Dolg").asString(), std::string("False"));

        runCommand(q4, statements::editDisk(9), [](Query& q) {
            q.setText("Name", " пробелы ");
            q.setMemo("Opisan", "");
            q.setFloat("Kategory", 1);
            q.setFloat("Tip", 1);
        });
        QCOMPARE(sqlRows(f.root(), "SELECT N, Name, Opisan, Kategory, Tip FROM CDBase WHERE N = 9"),
                 QStringList{"9| пробелы ||1|1"});

        // Deleting a lent disk leaves its loan; the lent-disks list drops it.
        runCommand(q4, statements::deleteDisk(1));
        QCOMPARE(sqlRows(f.root(), "SELECT count(*) FROM CDBase WHERE N = 1"), QStringList{"0"});
        QCOMPARE(sqlRows(f.root(), "SELECT NomCD, Dolg FROM Dolg WHERE NomCD = 1"),
                 QStringList{"1|1"});
        QCOMPARE(listRows(db, lentDisks()), QStringList{kLentRockNRoll});
    }

    void lendAndTakeBack() {
        FixtureCatalogue f;
        const auto db = f.open();
        Query q4({}, db);
        const store::Date day{2024, 12, 31};
        // Lend disk 3 to debtor 2.
        runCommand(q4, statements::setLentFlag(3, true));
        runCommand(q4, statements::openLoan(), [&](Query& q) {
            q.setFloat("NomCD", 3);
            q.setFloat("Dolgnik", 2);
            q.setDate("DatN", day);
        });
        QCOMPARE(
            sorted(listRows(db, lentDisks())),
            (QStringList{kLentMatrix, "3|31.12.2024|Новогодние ПЕСНИ|ёлкина мария|CD-R|Ёлка|True",
                         kLentRockNRoll}));

        // Take it back the same day.
        runCommand(q4, statements::setLentFlag(3, false));
        runCommand(q4, statements::closeOpenLoans(), [&](Query& q) {
            q.setFloat("NomCD", 3);
            q.setDate("DatK", day);
        });
        QCOMPARE(q4.rowsAffected(), 1);
        QCOMPARE(sqlRows(f.root(), "SELECT Dolg FROM CDBase WHERE N = 3"), QStringList{"0"});
        QCOMPARE(sqlRows(f.root(), "SELECT Dolgnik, DatN, DatK, Dolg FROM Dolg WHERE NomCD = 3"),
                 QStringList{"2|2024-12-31|2024-12-31|0"});
        QCOMPARE(sorted(listRows(db, lentDisks())), (QStringList{kLentMatrix, kLentRockNRoll}));
    }

    void referenceBookCommands_data() {
        QTest::addColumn<Book>("book");
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("usedKey");
        QTest::addColumn<QString>("usedCount");
        QTest::addColumn<int>("newKey");

        QTest::newRow("categories") << Book::Categories << "SprKategoy" << 1 << "1" << 7;
        QTest::newRow("media types") << Book::MediaTypes << "SprType" << 1 << "5" << 4;
        QTest::newRow("debtors, returned loan only")
            << Book::Debtors << "SprDolgnik" << 3 << "1" << 5;
    }

    void referenceBookCommands() {
        QFETCH(Book, book);
        QFETCH(QString, table);
        QFETCH(int, usedKey);
        QFETCH(QString, usedCount);
        QFETCH(int, newKey);
        FixtureCatalogue f;
        Query q4({}, f.open());
        const std::string nameField(statements::nameField(book));
        const auto nameOf = [&](int k) {
            return sqlRows(f.root(), "SELECT " + nameField + " FROM " + table.toStdString() +
                                         " WHERE " + std::string(statements::keyField(book)) +
                                         " = " + std::to_string(k));
        };

        // Add: the name travels as a parameter, quotes and all; a second equal name is fine.
        const QString added = "O'Brien \"Пётр\"";
        for (int i = 0; i < 2; ++i)
            runCommand(q4, statements::addEntry(book),
                       [&](Query& q) { q.setText(nameField, added.toStdString()); });
        QCOMPARE(nameOf(newKey), QStringList{added});
        QCOMPARE(nameOf(newKey + 1), QStringList{added});

        // Rename: the new name spliced between single quotes, the key kept.
        runCommand(q4, statements::renameEntry(book, "Новое имя", newKey));
        QCOMPARE(nameOf(newKey), QStringList{"Новое имя"});

        // In use: the count is not "0", and the next command's first step closes it.
        const auto uses = [&](int key) {
            return inUseCount(q4, statements::countUses(book, key), statements::countColumn(book));
        };
        QCOMPARE(uses(usedKey), usedCount);
        QVERIFY(q4.isOpen());
        QCOMPARE(uses(newKey), QString("0"));
        runCommand(q4, statements::deleteEntry(book, newKey));
        QVERIFY(nameOf(newKey).isEmpty());
        QCOMPARE(nameOf(newKey + 1), QStringList{added});
    }

    // --- Table paths and the default database ------------------------------------------

    void tablePathsIgnoreLetterCase_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("single quotes") << "'base\\CDBase.db'";
        QTest::newRow("double quotes") << "\"base\\CDBase.DB\"";
        QTest::newRow("all lower") << "'base\\cdbase.db'";
        QTest::newRow("all upper") << "\"BASE\\CDBASE.DB\"";
    }

    void tablePathsIgnoreLetterCase() {
        QFETCH(QString, path);
        FixtureCatalogue f;
        // The files on disk in yet another letter case.
        fs::rename(f.base() / "CDBase.DB", f.base() / "cdBASE.db");
        fs::rename(f.base() / "SprType.db", f.base() / "SPRTYPE.DB");
        const auto db = f.open();
        QCOMPARE(listRows(db, toLines({"select count(*) as C from " + path})), QStringList{"8"});
        QCOMPARE(listRows(db, toLines({"SELECT c.Name FROM " + path + " c WHERE c.N = 4"})),
                 QStringList{"Half-Life 2"});
        QCOMPARE(sorted(listRows(db, diskfilter::build(Availability::All, {}, {}).lines)),
                 sorted(kDiskListRows));
    }

    void defaultDatabaseStaysWhereFirstOpened() {
        FixtureCatalogue first;
        QTemporaryDir otherDir;
        const fs::path other = otherDir.path().toStdString();
        store::createCatalogue(other);  // an empty catalogue elsewhere
        const QStringList mediaTypes = {"select * from 'base\\SprType.db'", "order by tip"};

        ScopedWorkingDirectory cwd(first.root());
        Query list(toLines(mediaTypes));
        list.open();
        QCOMPARE(queryRows(list).size(), 3);

        // Moving the working directory later (the editor's file dialog) moves no table.
        fs::current_path(other);
        list.reopen();
        QCOMPARE(queryRows(list).size(), 3);
        Query fresh(toLines(mediaTypes));
        fresh.open();
        QCOMPARE(queryRows(fresh).size(), 3);
        QCOMPARE(Database::defaultDatabase()->baseDir(), first.base());

        // Forgotten, it is found again under the working directory of that moment.
        Database::resetDefault();
        fresh.reopen();
        QCOMPARE(queryRows(fresh).size(), 0);
    }

    void noCatalogueInWorkingDirectory() {
        QTemporaryDir empty;
        ScopedWorkingDirectory cwd(fs::path(empty.path().toStdString()));
        Query q({"select * from 'base\\SprType.db'"});
        const auto e = failureOf([&] { q.open(); });
        QVERIFY(e);
        QCOMPARE(e->kind(), Error::Kind::Missing);
        QVERIFY2(messageOf(e).contains("Не найдена папка каталога " + empty.path() + "/base"),
                 qPrintable(messageOf(e)));
        QVERIFY(!q.isOpen());
        QVERIFY(!fs::exists(fs::path(empty.path().toStdString()) / "base"));  // nothing created
    }

    // The folder the program was started in was removed before the first list opened.
    void workingDirectoryRemoved() {
        auto gone = std::make_unique<QTemporaryDir>();
        ScopedWorkingDirectory cwd(fs::path(gone->path().toStdString()));
        gone.reset();
        Query q({"select * from 'base\\SprType.db'"});
        const auto e = failureOf([&] { q.open(); });
        QVERIFY(e);
        QCOMPARE(e->kind(), Error::Kind::Missing);
        QVERIFY2(messageOf(e).contains("Не найдена папка каталога"), qPrintable(messageOf(e)));
    }

    // --- Result columns ----------------------------------------------------------------

    void uniqueColumnNames_data() {
        QTest::addColumn<QStringList>("raw");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("distinct") << QStringList{"N", "Name", "Kat"}
                                  << QStringList{"N", "Name", "Kat"};
        QTest::newRow("repeat") << QStringList{"Name", "N", "Name"}
                                << QStringList{"Name", "N", "Name_1"};
        QTest::newRow("other case")
            << QStringList{"N", "Name", "n"} << QStringList{"N", "Name", "n_1"};
        QTest::newRow("three times")
            << QStringList{"Name", "Name", "NAME"} << QStringList{"Name", "Name_1", "NAME_2"};
        QTest::newRow("suffix already taken")
            << QStringList{"Name", "Name_1", "Name"} << QStringList{"Name", "Name_1", "Name_2"};
        QTest::newRow("suffix taken later")
            << QStringList{"Name", "name", "Name_1"} << QStringList{"Name", "name_1", "Name_1_1"};
        QTest::newRow("Cyrillic case")
            << QStringList{"Категория", "КАТЕГОРИЯ"} << QStringList{"Категория", "КАТЕГОРИЯ_1"};
    }

    void uniqueColumnNames() {
        QFETCH(QStringList, raw);
        QFETCH(QStringList, named);
        QStringList got;
        for (const auto& n : store::uniqueColumnNames(toLines(raw)))
            got << QString::fromStdString(n);
        QCOMPARE(got, named);
    }

    void columnLookupIgnoresCaseFirstMatchWins() {
        FixtureCatalogue f;
        const auto db = f.open();
        Query disks = filteredDisks(db, Availability::All, {.mediaType = true});
        disks.setFloat("N", 1);
        disks.open();
        QCOMPARE(disks.columnIndex("name"), 0);
        QCOMPARE(disks.columnIndex("NAME_1"), 4);
        QCOMPARE(disks.columnIndex("n"), 1);
        QCOMPARE(disks.columnIndex("n_1"), 6);
        QCOMPARE(disks.columnIndex("Kategory"), -1);
        QVERIFY(failureOf([&] { disks.field("Kategory"); }));

        Query debtors(
            {"Select n, dolgnik as Должник from 'base\\sprdolgnik.db'", "order by Должник"}, db);
        debtors.open();
        QCOMPARE(debtors.field("N").asInteger(), 3);
        QCOMPARE(debtors.field("должник").asString(), std::string("Егоров Пётр"));

        Query count({R"(Select COUNT(*) as Kat from "base\CDBase.db")", "Where Kategory = 2"}, db);
        count.open();
        QCOMPARE(columnsOf(count), QStringList{"Kat"});
        QCOMPARE(count.field("kat").asString(), std::string("2"));
    }

    // --- Values ------------------------------------------------------------------------

    void logicalAndDateText() {
        FixtureCatalogue f;
        sqlRows(f.root(), "UPDATE CDBase SET Dolg = NULL WHERE N = 4");
        const auto db = f.open();
        Query disks({"select N, Dolg from 'base\\CDBase.db'", "order by N"}, db);
        disks.open();
        QCOMPARE(queryRows(disks), (QStringList{"1|True", "2|False", "3|False", "4|", "5|False",
                                                "6|True", "7|False", "8|False"}));
        Query loans({R"(select NomCD, DatN, DatK, Dolg from "base\Dolg.DB")", "order by NomCD"},
                    db);
        loans.open();
        QCOMPARE(queryRows(loans),
                 (QStringList{"1|01.03.2024||True", "2|10.01.2024|01.02.2024|False",
                              "6|05.03.2024||True"}));
        QVERIFY(loans.field("DatK").isNull());
        QCOMPARE(loans.field("NomCD").asFloat(), 1.0);
    }

    // Values that no command writes are shown as stored, never as another value: a flag
    // other than 1 or 0 reads neither "True" nor "False" unless it is that text, a text
    // that is not a calendar day is not shown as some other day, and a text is read whole,
    // line breaks and a NUL inside it included.
    void valuesTheProgramNeverWritesShowAsStored() {
        const TemporaryCatalogue c(
            "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) VALUES "
            "(1, '', '', 1, 1, 2), (2, '', '', 1, 1, -1), (3, '', '', 1, 1, 0.5), "
            "(4, X'610062', 'Первая строка\r\nвторая', 1, 1, 'True'), (5, '', '', 1, 1, 'ложь');"
            "INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES "
            "(1, 1, '2024-1x-05', '2024-02-30', 1), (2, 1, '2024-13-01', '05.01.2024', 0), "
            "(3, 1, 20240105, '2024-02-29', 0), (4, 1, '+202-01-05', '2023-02-29', 0)");
        const auto db = c.open();
        Query disks({"select N, Dolg from 'base\\CDBase.db'", "order by N"}, db);
        disks.open();
        QCOMPARE(queryRows(disks), (QStringList{"1|2", "2|-1", "3|0.5", "4|True", "5|ложь"}));
        Query texts({"select Name, Opisan from 'base\\CDBase.db'", "where N = 4"}, db);
        texts.open();
        QCOMPARE(texts.field("Name").asString(), std::string("a\0b", 3));
        QCOMPARE(texts.field("Opisan").asString(), std::string("Первая строка\r\nвторая"));
        Query loans({R"(select NomCD, DatN, DatK from "base\Dolg.DB")", "order by NomCD"}, db);
        loans.open();
        QCOMPARE(queryRows(loans),
                 (QStringList{"1|2024-1x-05|2024-02-30", "2|2024-13-01|05.01.2024",
                              "3|20240105|29.02.2024", "4|+202-01-05|2023-02-29"}));
    }

    // Keys go from a list's row to a statement and into the store exactly, beyond what a
    // double holds: lending disk 2^53+1 lends that disk and not its neighbour 2^53, and a
    // disk filed under category 2^53+1 is filed under that category.
    void keysTravelExactly() {
        constexpr int64_t big = (int64_t{1} << 53) + 1;
        const std::string k = std::to_string(big);
        const QString key = QString::fromStdString(k);
        const TemporaryCatalogue c("INSERT INTO SprKategoy(Num, Name) VALUES (" + k +
                                   ", 'Категория');"
                                   "INSERT INTO SprType(N, Tip) VALUES (1, 'CD-R');"
                                   "INSERT INTO SprDolgnik(N, Dolgnik) VALUES (" +
                                   k +
                                   ", 'Должник');"
                                   "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip) VALUES (" +
                                   k + " - 1, 'Сосед', '', " + k + ", 1), (" + k +
                                   ", 'Диск', '', " + k + ", 1)");
        const auto db = c.open();
        Query disks({"select N from 'base\\CDBase.db'", "order by N desc"}, db);
        disks.open();
        QCOMPARE(disks.key("N"), big);
        writes::lendDisk(db, disks.key("N"), big, {2024, 5, 1});
        QCOMPARE(sqlRows(c.root(), "SELECT NomCD, Dolgnik FROM Dolg"),
                 QStringList{key + "|" + key});
        QCOMPARE(sqlRows(c.root(), "SELECT N FROM CDBase WHERE Dolg"), QStringList{key});
        writes::addDisk(db, {"Новый", "", big, 1});
        QCOMPARE(sqlRows(c.root(), "SELECT Kategory FROM CDBase WHERE Name = 'Новый'"),
                 QStringList{key});
        writes::deleteDisk(db, big);
        QCOMPARE(sqlRows(c.root(), "SELECT Name FROM CDBase ORDER BY N"),
                 (QStringList{"Сосед", "Новый"}));
        // A whole number given as a floating one is stored as the whole number it is.
        Query whole({"select typeof(:Tip) as t from 'base\\SprType.db'"}, db);
        whole.setFloat("Tip", 4503599627370496.0);
        whole.open();
        QCOMPARE(whole.field("t").asString(), std::string("integer"));
    }

    // A key is read only as the whole number stored: anything else in its place is a
    // clear refusal, never text spliced into a statement or a key rounded to another.
    void keysAreWholeNumbersOnly_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("text") << "'0 OR 1=1'"
                              << "Номер текущей записи (поле N) — «0 OR 1=1», а не целое число";
        QTest::newRow("word") << "'abc'"
                              << "— «abc», а не целое число";
        QTest::newRow("floating") << "1.5"
                                  << "— «1.5», а не целое число";
        QTest::newRow("empty text") << "''"
                                    << "У текущей записи нет номера (поле N пусто)";
        QTest::newRow("no value") << "NULL"
                                  << "У текущей записи нет номера (поле N пусто)";
    }

    void keysAreWholeNumbersOnly() {
        QFETCH(QString, value);
        QFETCH(QString, message);
        FixtureCatalogue f;
        Query q({"select " + value.toStdString() + " as N from 'base\\SprType.db'"}, f.open());
        q.open();
        const auto refused = failureOf([&] { q.key("N"); });
        QVERIFY(refused);
        QVERIFY2(messageOf(refused).contains(message), qPrintable(messageOf(refused)));
    }

    // --- Parameters --------------------------------------------------------------------

    // The store's statement keeps what it is given: a 64-bit key exactly (beyond what a
    // double holds), empty text as text and apart from NULL; a name it lacks and a second
    // statement are refused.
    void statementKeepsValuesExactly() {
        FixtureCatalogue f;
        const auto db = f.open();
        store::Statement s(*db, "SELECT ?1, typeof(?1), typeof(?2), :key, typeof(:text), :text");
        constexpr int64_t beyondDouble = (int64_t{1} << 53) + 1;
        s.bindInt64(1, beyondDouble);
        s.bindNull(2);
        s.bindInt64(":key", std::numeric_limits<int64_t>::min());
        s.bindText(":text", std::string_view());
        QVERIFY(s.step());
        QCOMPARE(s.columnInt64(0), beyondDouble);
        QCOMPARE(s.columnText(1), std::string_view("integer"));
        QCOMPARE(s.columnText(2), std::string_view("null"));
        QCOMPARE(s.columnInt64(3), std::numeric_limits<int64_t>::min());
        QCOMPARE(s.columnText(4), std::string_view("text"));
        QCOMPARE(s.columnType(5), store::Statement::Type::Text);
        QVERIFY(!s.step());
        QVERIFY(failureOf([&] { s.bindText(":nope", "x"); }));
        const auto second = failureOf([&] { store::Statement(*db, "SELECT 1; SELECT 2"); });
        QVERIFY(second);
        QVERIFY2(messageOf(second).startsWith("В запросе больше одного оператора"),
                 qPrintable(messageOf(second)));
    }

    void parameters() {
        FixtureCatalogue f;
        Query q({"INSERT INTO 'base\\CDBase.db' (Name, Opisan, Kategory, Tip)",
                 "Values (:Name, :Opisan, :Kategory, :Tip)"},
                f.open());
        QCOMPARE(q.parameterNames(),
                 (std::vector<std::string>{"Name", "Opisan", "Kategory", "Tip"}));
        QVERIFY(failureOf([&] { q.setText("Nope", "x"); }));

        // Names ignore letter case; empty text stays text, not a missing value.
        q.setText("name", "");
        q.setMemo("OPISAN", std::string(100000, 'x'));
        q.setFloat("Kategory", 2);
        const auto unset = failureOf([&] { q.execSql(); });
        QVERIFY(unset);
        QCOMPARE(unset->kind(), Error::Kind::Statement);
        QVERIFY2(messageOf(unset).contains("Не задано значение параметра :Tip"),
                 qPrintable(messageOf(unset)));
        QCOMPARE(sqlRows(f.root(), "SELECT count(*) FROM CDBase"), QStringList{"8"});

        q.setFloat("Tip", 1);
        q.execSql();
        QCOMPARE(sqlRows(f.root(),
                         "SELECT Name IS NULL, Name = '', length(Opisan), typeof(Kategory) "
                         "FROM CDBase WHERE N = 9"),
                 QStringList{"0|1|100000|integer"});
    }

    // Reopening runs the same text with the same values; new text finds its parameters anew.
    void reopenKeepsParameterValues() {
        FixtureCatalogue f;
        Query q({"select Name from 'base\\SprKategoy.db'", "where Num = :Num"}, f.open());
        q.setFloat("Num", 3);
        q.open();
        QCOMPARE(q.field("Name").asString(), std::string("Ёлка"));
        q.reopen();
        QCOMPARE(q.field("Name").asString(), std::string("Ёлка"));
        q.setSql({"select Name from 'base\\SprKategoy.db'", "where Num = :Key"});
        QVERIFY(failureOf([&] { q.open(); }));
        // A statement built line by line: each line added forgets the values set so far.
        q.setSql({"select Name from 'base\\SprKategoy.db'"});
        q.addLine("where Num = :Num");
        q.setFloat("Num", 3);
        q.addLine("and Name <> ''");
        QVERIFY(failureOf([&] { q.open(); }));
        q.setFloat("num", 3);
        q.open();
        QCOMPARE(q.field("Name").asString(), std::string("Ёлка"));
    }

    // --- Text: like and the Russian order -----------------------------------------------

    void likeIgnoresCase_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escape");
        QTest::addColumn<bool>("matches");
        const QString longName(255, 'a');
        QTest::newRow("Cyrillic lower") << "%песни%"
                                        << "Лучшие ПЕСНИ"
                                        << "" << true;
        QTest::newRow("Cyrillic upper") << "%ПЕСНИ%"
                                        << "лучшие песни"
                                        << "" << true;
        QTest::newRow("Latin") << "%HALF%"
                               << "Half-Life 2"
                               << "" << true;
        QTest::newRow("ё and Ё") << "%ёлк%"
                                 << "ЁЛКА"
                                 << "" << true;
        QTest::newRow("ё is not е") << "%елк%"
                                    << "Ёлка"
                                    << "" << false;
        QTest::newRow("_ takes one letter") << "п_сни"
                                            << "пёсни"
                                            << "" << true;
        QTest::newRow("_ takes exactly one") << "п_сни"
                                             << "пессни"
                                             << "" << false;
        QTest::newRow("_ after %") << "%а_"
                                   << "бабв"
                                   << "" << false;
        QTest::newRow("_ at the end") << "%а_"
                                      << "баб"
                                      << "" << true;
        QTest::newRow("% inside") << "Л%1990"
                                  << "Лучшие песни 1990"
                                  << "" << true;
        QTest::newRow("% must give back") << "%ab%abc"
                                          << "xabyabcabc"
                                          << "" << true;
        QTest::newRow("anchored") << "песни"
                                  << "песни 1990"
                                  << "" << false;
        QTest::newRow("%% and empty") << "%%"
                                      << ""
                                      << "" << true;
        QTest::newRow("text missing") << "%x%"
                                      << ""
                                      << "" << false;
        QTest::newRow("escaped %") << "100\\%"
                                   << "100%"
                                   << "\\" << true;
        QTest::newRow("escaped % is no wildcard") << "100\\%"
                                                  << "1000"
                                                  << "\\" << false;
        QTest::newRow("escaped _") << "a\\_b"
                                   << "a_b"
                                   << "\\" << true;
        QTest::newRow("escaped _ is no wildcard") << "a\\_b"
                                                  << "axb"
                                                  << "\\" << false;
        // A typed fragment full of % against the longest name: answered at once, no hang.
        QTest::newRow("many %, no match") << "%a%a%a%a%a%a%a%a%b%" << longName << "" << false;
        QTest::newRow("many %, match") << "%a%a%a%a%a%a%a%a%" << longName << "" << true;
    }

    void likeIgnoresCase() {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(QString, escape);
        QFETCH(bool, matches);
        const char32_t esc = escape.isEmpty() ? 0 : escape.at(0).unicode();
        QCOMPARE(store::likeMatch(pattern.toStdString(), text.toStdString(), esc), matches);
        // The same through a statement.
        FixtureCatalogue f;
        const auto literal = [](QString s) { return "'" + s.replace('\'', "''") + "'"; };
        QString condition = literal(text) + " like " + literal(pattern);
        if (!escape.isEmpty()) condition += " escape " + literal(escape);
        Query q({"select count(*) as C from 'base\\SprType.db' where " + condition.toStdString()},
                f.open());
        q.open();
        QCOMPARE(q.field("C").asString(), std::string(matches ? "3" : "0"));
    }

    // Reference names sort the Russian way: case ignored, ё beside е, Cyrillic before Latin.
    void russianOrderOfNames() {
        FixtureCatalogue f;
        const auto db = f.open();
        for (const char* name :
             {"ель", "Ёж", "Ежевика", "Яблоко", "apple", "Zebra", "ЖУК", "ёрш"}) {
            Query add({R"(INSERT INTO 'base\SprKategoy.db'(Name))", "Values (:Name)"}, db);
            add.setText("Name", name);
            add.execSql();
        }
        QCOMPARE(listRows(db, {"select Name as Категория from 'base\\SprKategoy.db'",
                               "order by Категория"}),
                 (QStringList{"Документы", "Ёж", "Ежевика", "Ёлка", "ель", "ёрш", "ЖУК", "музыка",
                              "Сборники", "Фильмы", "Яблоко", "apple", "Games", "Zebra"}));
    }

    // --- Keys and defaults -------------------------------------------------------------

    void keysAreNeverGivenAgain() {
        FixtureCatalogue f;
        const auto db = f.open();
        Query q4({}, db);
        runCommand(q4, statements::deleteDisk(8));
        runCommand(q4, statements::deleteEntry(Book::MediaTypes, 3));
        runCommand(q4, statements::addDisk(), [](Query& q) {
            q.setText("Name", "Новый");
            q.setMemo("Opisan", "");
            q.setFloat("Kategory", 1);
            q.setFloat("Tip", 1);
        });
        runCommand(q4, statements::addEntry(Book::MediaTypes),
                   [](Query& q) { q.setText("Tip", "BD-R"); });
        // Disk 8 and media type 3 were the highest keys: neither comes back.
        QCOMPARE(sqlRows(f.root(), "SELECT N, Dolg FROM CDBase WHERE Name = 'Новый'"),
                 QStringList{"9|0"});
        QCOMPARE(sqlRows(f.root(), "SELECT N FROM SprType WHERE Tip = 'BD-R'"), QStringList{"4"});
        // A new disk is available at once.
        Query available = filteredDisks(db, Availability::Available, {});
        available.open();
        QVERIFY(queryRows(available).contains("Новый|9||False|Фильмы|CD-R"));
    }

    // --- Transactions ------------------------------------------------------------------

    void transactionRollsBackAcrossFiles() {
        FixtureCatalogue f;
        const auto db = f.open();
        const FolderSnapshot before(f.base());
        Query q4({}, db);
        const auto lendDisk3 = [&] {
            runCommand(q4, statements::setLentFlag(3, true));
            runCommand(q4, statements::openLoan(), [](Query& q) {
                q.setFloat("NomCD", 3);
                q.setFloat("Dolgnik", 1);
                q.setDate("DatN", {2024, 5, 1});
            });
        };
        {
            Database::Transaction tx(*db);
            lendDisk3();
            // A failing third statement: the unit is abandoned.
            QVERIFY(failureOf([&] {
                runCommand(q4, {"update 'base\\SprType.db'", "SET Nope = 1"});
            }));
        }
        QCOMPARE(sqlRows(f.root(), "SELECT Dolg FROM CDBase WHERE N = 3"), QStringList{"0"});
        QCOMPARE(sqlRows(f.root(), "SELECT count(*) FROM Dolg"), QStringList{"3"});
        QVERIFY2(FolderSnapshot(f.base()) == before,
                 qPrintable(FolderSnapshot(f.base()).describe().join(", ")));

        {
            Database::Transaction tx(*db);
            lendDisk3();
            tx.commit();
        }
        QCOMPARE(sqlRows(f.root(), "SELECT Dolg FROM CDBase WHERE N = 3"), QStringList{"1"});
        QCOMPARE(sqlRows(f.root(), "SELECT count(*) FROM Dolg WHERE NomCD = 3 AND Dolg"),
                 QStringList{"1"});
    }

    // A file that another tool put in WAL mode goes back to the rollback journal on open,
    // without which a unit of work over several files would not be atomic.
    void walFileReturnsToRollbackJournal() {
        FixtureCatalogue f;
        QVERIFY(store::Connection(f.base() / "Dolg.DB").exec("PRAGMA journal_mode = WAL"));
        const auto db = f.open();
        Query mode({}, db);
        mode.setSql({"PRAGMA dolg_db.journal_mode"});
        mode.open();
        QCOMPARE(mode.field("journal_mode").asString(), std::string("delete"));
    }

    // A list read only in part (a long disk list) goes on reading after a unit of work on
    // the same connection was rolled back or committed.
    void partlyReadListSurvivesTransactions() {
        FixtureCatalogue f;
        sqlRows(
            f.root(),
            "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 500) "
            "INSERT INTO CDBase(Name, Opisan, Kategory, Tip) SELECT 'Диск ' || i, '', 1, 1 FROM k");
        const auto db = f.open();
        Query list({"select N, Name from 'base\\CDBase.db'"}, db);
        list.open();
        QVERIFY(list.canFetchMore());
        for (const bool commit : {false, true}) {
            Database::Transaction tx(*db);
            Query q({"update 'base\\SprType.db'", "SET Tip = 'x'", "Where N = 1"}, db);
            q.execSql();
            if (commit) tx.commit();
        }
        list.fetchAll();
        QCOMPARE(list.fetchedRows(), 508);
    }

    // A list that let go of its statement after a pause reads on exactly: whatever another
    // program deleted or added meanwhile, the rows held stay as shown and the rest are the
    // rows a fresh read shows after them (by key where the list comes in key order), none
    // twice and none missing. Counting the held rows and skipping as many lost or
    // repeated rows.
    void readingOnAfterAPauseShowsEachRowOnce_data() {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<Lines>("readOn");  // empty: the list has no key order to read on by
        QTest::addColumn<int>("held");
        QTest::addColumn<QString>("meanwhile");  // another program's write
        // Through the copy of the names, which the own connection's write keeps in step.
        QTest::addColumn<Lines>("narrowed");
        QTest::addColumn<Lines>("narrowedReadOn");
        const auto all = diskfilter::build(Availability::All, {}, {});
        const auto lent = diskfilter::build(Availability::Lent, {}, {});
        const auto named = diskfilter::build(Availability::All, {false, false, true}, "Диск 01");
        QTest::newRow("a disk shown deleted")
            << all.lines << all.readOn << 50 << "DELETE FROM CDBase WHERE N = 20" << Lines{}
            << Lines{};
        QTest::newRow("a disk not yet read deleted")
            << all.lines << all.readOn << 50 << "DELETE FROM CDBase WHERE N = 100" << Lines{}
            << Lines{};
        QTest::newRow("disks added before and after the last held")
            << all.lines << all.readOn << 50
            << "INSERT INTO CDBase(N, Name, Kategory, Tip) VALUES (15, 'Вставлен', 1, 1), "
               "(NULL, 'В конце', 1, 1)"
            << Lines{} << Lines{};
        QTest::newRow("disks out: two more lent, before and after")
            << lent.lines << lent.readOn << 20 << "UPDATE CDBase SET Dolg = 1 WHERE N IN (3, 150)"
            << Lines{} << Lines{};
        QTest::newRow("name filter: a disk not yet read deleted")
            << named.lines << named.readOn << 30 << "DELETE FROM CDBase WHERE N = 170" << Lines{}
            << Lines{};
        QTest::newRow("name filter through the copy: disks added and deleted")
            << named.lines << named.readOn << 30
            << "DELETE FROM CDBase WHERE N IN (20, 170); INSERT INTO CDBase(N, Name, Kategory, "
               "Tip) VALUES (15, 'Диск 0100 вставлен', 1, 1), (NULL, 'диск 01 в конце', 1, 1)"
            << named.narrowed << named.narrowedReadOn;
        QTest::newRow("lent disks: a lent disk deleted")
            << layoutLines("Unit1", "Query6") << Lines{} << 20 << "DELETE FROM CDBase WHERE N = 113"
            << Lines{} << Lines{};
        QTest::newRow("loans newest first: three lent meanwhile")
            << Lines{"select NomCD, DatN, Dolg from \"base\\Dolg.DB\" Dolg",
                     "order by Dolg.rowid desc"}
            << Lines{} << 20
            << "INSERT INTO Dolg(NomCD, Dolgnik, DatN, Dolg) VALUES (3, 1, '2024-06-01', 1), "
               "(4, 1, '2024-06-02', 1), (7, 1, '2024-06-03', 1)"
            << Lines{} << Lines{};
    }
    void readingOnAfterAPauseShowsEachRowOnce() {
        QFETCH(Lines, lines);
        QFETCH(Lines, readOn);
        QFETCH(int, held);
        QFETCH(QString, meanwhile);
        QFETCH(Lines, narrowed);
        QFETCH(Lines, narrowedReadOn);
        // Disks 9 to 208, but 15; every other one lent, each with its open loan.
        FixtureCatalogue f(
            "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 200) "
            "INSERT INTO CDBase(Name, Opisan, Kategory, Tip, Dolg) "
            "SELECT printf('Диск %04d', i), '', 1 + i % 3, 1 + i % 2, i % 2 FROM k;"
            "DELETE FROM CDBase WHERE N = 15;"
            "INSERT INTO Dolg(NomCD, Dolgnik, DatN, Dolg) "
            "SELECT N, 1 + N % 4, '2024-05-01', 1 FROM CDBase WHERE N > 8 AND Dolg = 1;");
        const auto db = f.open();
        if (!narrowed.empty()) {
            db->startNameCopy();
            QVERIFY(db->waitForNameCopy());
        }
        Query list(lines, db);
        if (!readOn.empty()) list.setReadOn(readOn, "N");
        list.setNarrowed(narrowed, narrowedReadOn);
        list.open();
        list.fetchMore(held - 1);
        QCOMPARE(list.fetchedRows(), held);
        const int key = list.columnIndex("N");
        const int64_t lastKey = key < 0 ? 0 : list.fieldAt(held - 1, key).asInteger();
        QStringList shown;
        for (int r = 0; r < held; ++r) shown << queryRowAt(list, r);
        list.release();
        if (narrowed.empty()) {
            sqlRows(f.root(), meanwhile.toStdString());
        } else {
            db->execRaw(meanwhile.toStdString());
            QVERIFY(db->nameCopyInStep());
        }

        QStringList expected = shown;
        Query fresh(lines, db);
        fresh.open();
        fresh.fetchAll();
        QStringList notYetShown = shown;
        for (int r = 0; r < fresh.fetchedRows(); ++r) {
            const QString row = queryRowAt(fresh, r);
            if (notYetShown.removeOne(row)) continue;
            if (readOn.empty() || fresh.fieldAt(r, key).asInteger() > lastKey) expected << row;
        }
        QVERIFY(expected.size() > held);
        list.fetchAll();
        QStringList read;
        for (int r = 0; r < list.fetchedRows(); ++r) read << queryRowAt(list, r);
        QCOMPARE(read, expected);
    }

    // --- Failures: a clear Russian message, the files untouched -------------------------

    void rejectedStatements_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("message");
        QTest::newRow("malformed")
            << QStringList{"select from 'base\\CDBase.db'"}
            << "Ошибка в запросе к таблице CDBase.db: near \"from\": syntax error.\n\n"
               "select from 'base\\CDBase.db'";
        QTest::newRow("unknown field")
            << QStringList{"update 'base\\SprType.db'", "SET Nope = 'x'", "Where N = 1"}
            << "Неизвестное поле Nope в запросе к таблице SprType.db.";
        QTest::newRow("unknown field in an insert")
            << QStringList{"INSERT INTO 'base\\SprType.db'(Nope)", "Values (1)"}
            << "Неизвестное поле Nope в запросе к таблице SprType.db.";
        QTest::newRow("empty key") << QStringList{R"(Delete from "base\CDBase.db")", "Where N = "}
                                   << "Ошибка в запросе к таблице CDBase.db: incomplete input.";
        QTest::newRow("rename with a quote")
            << QStringList{"update 'base\\SprKategoy.db'", "SET Name = 'O'Brien'", "Where Num = 1"}
            << "Ошибка в запросе к таблице SprKategoy.db:";
        QTest::newRow("unknown table") << QStringList{"select * from 'base\\Nope.db'"}
                                       << "Неизвестная таблица 'base\\Nope.db' в запросе:";
        QTest::newRow("two statements")
            << QStringList{R"(Delete from "base\CDBase.db" Where N = 1; Delete from "base\Dolg.db")"}
            << "В запросе больше одного оператора:";
        QTest::newRow("empty") << QStringList{"  "} << "Пустой запрос.";
    }

    void rejectedStatements() {
        QFETCH(QStringList, lines);
        QFETCH(QString, message);
        FixtureCatalogue f;
        const auto db = f.open();
        const FolderSnapshot before(f.base());
        Query q(toLines(lines), db);
        const auto e = failureOf([&] { q.execSql(); });
        QVERIFY(e);
        QCOMPARE(e->kind(), Error::Kind::Statement);
        QVERIFY2(messageOf(e).contains(message), qPrintable(messageOf(e)));
        QVERIFY(!q.isOpen());
        QVERIFY(FolderSnapshot(f.base()) == before);
    }

    // Another program holding the disks file: a write and a read each fail after a short wait.
    void lockedTableFile() {
        FixtureCatalogue f;
        const auto db = f.open();
        const FolderSnapshot before(f.base());
        {
            const store::Connection other(f.base() / "CDBase.DB");
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
            Query write({"update 'base\\CDBase.db'", "SET Dolg = True", "Where N = 3"}, db);
            Query read({"select * from 'base\\CDBase.db'"}, db);
            for (Query* q : {&write, &read}) {
                const auto e = failureOf([&] { q == &write ? q->execSql() : q->open(); });
                QVERIFY(e);
                QCOMPARE(e->kind(), Error::Kind::Locked);
                QVERIFY2(messageOf(e).contains("Таблица CDBase.db занята другой программой"),
                         qPrintable(messageOf(e)));
            }
        }
        QVERIFY(FolderSnapshot(f.base()) == before);
    }

    // A full disk, made small by a page limit on the store's own connection.
    void fullDisk() {
        FixtureCatalogue f;
        const auto db = f.open();
        const FolderSnapshot before(f.base());
        db->execRaw("PRAGMA main.max_page_count = 1");  // never below the current size
        Query q(statements::addDisk(), db);
        q.setText("Name", "Большой");
        q.setMemo("Opisan", std::string(200000, 'x'));
        q.setFloat("Kategory", 1);
        q.setFloat("Tip", 1);
        const auto e = failureOf([&] { q.execSql(); });
        QVERIFY(e);
        QCOMPARE(e->kind(), Error::Kind::DiskFull);
        QVERIFY2(messageOf(e).contains(
                     "Недостаточно места на диске: изменение таблицы CDBase.db не записано."),
                 qPrintable(messageOf(e)));
        QVERIFY(FolderSnapshot(f.base()) == before);
        QCOMPARE(sqlRows(f.root(), "SELECT count(*) FROM CDBase"), QStringList{"8"});
    }
};

QTEST_APPLESS_MAIN(StoreTest)
#include "test_store.moc"
