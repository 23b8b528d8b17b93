// korvalen-base and the functions behind it: create and demo never overwrite a catalogue,
// check finds lent flags that disagree with the loans, and the exit codes tell it all.
#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "store/catalogue.h"
#include "store/check.h"
#include "store/connection.h"
#include "store/error.h"
#include "tests/catalogue_writes.h"
#include "tests/fixture.h"

using fixture::FixtureCatalogue;
using fixture::FolderSnapshot;
using fixture::sqlRows;
using writes::Book;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(KORVALEN_BASE_EXE), arguments);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QStringList problemsOf(const fs::path& root) {
    QStringList out;
    for (const auto& p : store::checkCatalogue(root)) out << QString::fromStdString(p);
    return out;
}

QString rootArg(const QTemporaryDir& dir) {
    return dir.path();
}

}  // namespace

class CatalogueToolTest : public QObject {
    Q_OBJECT

private slots:
    void createMakesEmptyTablesAndRefusesToOverwrite() {
        QTemporaryDir dir;
        const ToolRun made = runTool({"create", rootArg(dir)});
        QCOMPARE(made.exitCode, 0);
        QVERIFY(problemsOf(dir.path().toStdString()).isEmpty());
        const fs::path base = fs::path(dir.path().toStdString()) / "base";
        for (const auto& t : store::catalogueTables()) {
            QVERIFY(fs::is_regular_file(base / std::string(t.fileName)));
            QCOMPARE(
                sqlRows(dir.path().toStdString(), "SELECT count(*) FROM " + std::string(t.table)),
                QStringList{"0"});
        }

        sqlRows(dir.path().toStdString(), "INSERT INTO SprType(Tip) VALUES ('CD-R')");
        const FolderSnapshot before(base);
        for (const QStringList& again : {QStringList{"create", rootArg(dir)},
                                         QStringList{"demo", rootArg(dir), "--disks", "5"}}) {
            const ToolRun refused = runTool(again);
            QCOMPARE(refused.exitCode, 1);
            QVERIFY2(refused.err.contains("Каталог уже существует: " + dir.path() + "/base"),
                     qPrintable(refused.err));
            QVERIFY(FolderSnapshot(base) == before);
        }
    }

    void demoPassesCheck() {
        QTemporaryDir dir;
        const ToolRun demo = runTool({"demo", rootArg(dir), "--disks", "400"});
        QCOMPARE(demo.exitCode, 0);
        const fs::path root = dir.path().toStdString();
        QCOMPARE(sqlRows(root, "SELECT count(*) FROM CDBase"), QStringList{"400"});
        // A history to show: dozens of loans, some back, some out for months; each flag
        // agrees with its loans.
        QVERIFY(sqlRows(root, "SELECT count(*) FROM Dolg WHERE NOT Dolg").first().toInt() >= 30);
        QVERIFY(sqlRows(root,
                        "SELECT count(*) FROM Dolg WHERE Dolg AND "
                        "julianday('now') - julianday(DatN) > 60")
                    .first()
                    .toInt() > 0);
        QVERIFY(problemsOf(root).isEmpty());
        // Every disk its own name, and no description says a line twice.
        QCOMPARE(sqlRows(root, "SELECT count(DISTINCT Name) FROM CDBase"), QStringList{"400"});
        for (const QString& description : sqlRows(root, "SELECT Opisan FROM CDBase")) {
            const QStringList lines = description.split("\r\n");
            QCOMPARE(QSet<QString>(lines.begin(), lines.end()).size(), lines.size());
        }
        const ToolRun check = runTool({"check", rootArg(dir)});
        QCOMPARE(check.exitCode, 0);
        QVERIFY2(check.out.contains("в порядке"), qPrintable(check.out));
    }

    void checkFindsLentFlagsThatDisagree_data() {
        QTest::addColumn<QString>("damage");  // SQLite SQL run on the fixture catalogue
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("flag without an open loan")
            << "UPDATE CDBase SET Dolg = TRUE WHERE N = 2"
            << QStringList{
                   "Диск отмечен как отданный, но открытой записи о выдаче нет: диск № 2 "
                   "«Abbey Road»"};
        QTest::newRow("open loan without the flag")
            << "UPDATE CDBase SET Dolg = FALSE WHERE N = 1"
            << QStringList{
                   "Диск не отмечен как отданный, но есть открытая запись о выдаче: диск № 1 "
                   "«Матрица»"};
        QTest::newRow("open loan, empty flag")
            << "UPDATE CDBase SET Dolg = NULL WHERE N = 1"
            << QStringList{
                   "Диск не отмечен как отданный, но есть открытая запись о выдаче: диск № 1 "
                   "«Матрица»"};
        QTest::newRow("two open loans")
            << "INSERT INTO Dolg(NomCD, Dolgnik, DatN, Dolg) VALUES (1, 2, '2024-04-01', TRUE)"
            << QStringList{"У диска больше одной открытой выдачи: диск № 1"};
        // Rows the program reads but never writes so: each reported, the catalogue opens.
        for (const char* flag : {"2", "-1", "0.5", "'True'"})
            QTest::newRow(qPrintable(QString("lent flag %1").arg(flag)))
                << QString("UPDATE CDBase SET Dolg = %1 WHERE N = 3").arg(flag)
                << QStringList{
                       "Отметка о выдаче не True и не False: диск № 3 «Новогодние ПЕСНИ»: «" +
                       QString(flag).remove('\'') + "»"};
        QTest::newRow("loan flag text")
            << "UPDATE Dolg SET Dolg = 'нет' WHERE NomCD = 2"
            << QStringList{
                   "Отметка «на руках» не True и не False: выдача диска № 2 (запись 2): «нет»"};
        QTest::newRow("loan date with a letter")
            << "UPDATE Dolg SET DatN = '2024-1x-05' WHERE NomCD = 2"
            << QStringList{"Дата выдачи — не дата: выдача диска № 2 (запись 2): «2024-1x-05»"};
        QTest::newRow("return date 30 February")
            << "UPDATE Dolg SET DatK = '2024-02-30' WHERE NomCD = 2"
            << QStringList{"Дата возврата — не дата: выдача диска № 2 (запись 2): «2024-02-30»"};
        QTest::newRow("loan back before it went out")
            << "UPDATE Dolg SET DatK = '2023-11-22' WHERE NomCD = 2"
            << QStringList{
                   "Диск возвращён раньше, чем выдан: выдача диска № 2 (запись 2), "
                   "должнику № 3 «Егоров Пётр»: выдан 2024-01-10, возвращён 2023-11-22"};
        QTest::newRow("loan dated 9999-12-31")
            << "UPDATE Dolg SET DatN = '9999-12-31' WHERE NomCD = 6"
            << QStringList{
                   "Выдача датирована днём, который ещё не наступил: выдача диска № 6 "
                   "(запись 3), должнику № 4 «Петров Пётр»: выдан 9999-12-31, "
                   "возвращён —"};
        QTest::newRow("loan names its disk by text")
            << "UPDATE Dolg SET NomCD = 'abc' WHERE NomCD = 2"
            << QStringList{"Поле NomCD таблицы Dolg.DB хранит не номер: запись 2: «abc»"};
        QTest::newRow("media type keys run out")
            << "INSERT INTO SprType(N, Tip) VALUES (9223372036854775807, 'BD-R')"
            << QStringList{
                   "Нумерация записей таблицы SprType.db исчерпана: наибольший номер уже "
                   "выдан, новую запись в неё добавить нельзя."};
    }

    void checkFindsLentFlagsThatDisagree() {
        QFETCH(QString, damage);
        QFETCH(QStringList, problems);
        FixtureCatalogue f;
        QVERIFY(problemsOf(f.root()).isEmpty());
        sqlRows(f.root(), damage.toStdString());
        QCOMPARE(problemsOf(f.root()), problems);
        const ToolRun check = runTool({"check", rootArg(f.dir)});
        QCOMPARE(check.exitCode, 1);
        QVERIFY2(check.out.contains(problems.first()), qPrintable(check.out));
        QVERIFY(check.out.contains("Найдено ошибок: 1"));
        QVERIFY(f.open() != nullptr);
    }

    // A page damaged past the schema: the file is named and SQLite's own lines are listed.
    void checkNamesTheDamagedFileAndItsLines() {
        FixtureCatalogue f;
        {
            std::fstream file(f.base() / "Dolg.DB",
                              std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(4096);  // the loans' first page after the schema
            const std::string garbage(64, '\xa5');
            file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
        }
        const QStringList problems = problemsOf(f.root());
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith(
                     "Файл " + QString::fromStdString((f.base() / "Dolg.DB").string()) +
                     " повреждён. Проверка целостности SQLite:\n  "),
                 qPrintable(problems.first()));
        QVERIFY2(problems.first().contains("Page 2"), qPrintable(problems.first()));
    }

    void checkReportsWhatCannotBeOpened() {
        QTemporaryDir empty;
        const QStringList problems = problemsOf(empty.path().toStdString());
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith("Не найдена папка каталога"),
                 qPrintable(problems.first()));
        QCOMPARE(runTool({"check", rootArg(empty)}).exitCode, 1);

        FixtureCatalogue f;
        fs::remove(f.base() / "SprType.db");
        const ToolRun check = runTool({"check", rootArg(f.dir)});
        QCOMPARE(check.exitCode, 1);
        QVERIFY2(check.out.contains("Не найден файл таблицы SprType.db"), qPrintable(check.out));
    }

    // repair rebuilds a table that open refuses but a rebuild mends: every row and key kept,
    // the next key above every key the table or any reference to it has used, the old
    // file kept beside the new one, and check passes afterwards.
    void repairRebuildsTheTable_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("declared");  // the table as another program made it
        QTest::addColumn<QString>("rows");      // what it holds after the repair
        QTest::addColumn<int>("book");          // the entry added next: -1 a disk, else a Book
        QTest::addColumn<QString>("nextKey");
        // The loans name disks 1, 2 and 6: disks 2 and 6, the highest, were deleted, and
        // without AUTOINCREMENT the next disk would take 2 and its loan.
        QTest::newRow("disk key without AUTOINCREMENT, highest disk deleted")
            << "CDBase.DB"
            << QString::fromStdString(
                   fixture::tableWith("CDBase", "N", "INTEGER PRIMARY KEY",
                                      "INSERT INTO CDBase VALUES (1, 'Матрица', '', 1, 2, 1)"))
            << "1|Матрица|1" << -1 << "7";
        QTest::newRow("disk key DESC, not the row key")
            << "CDBase.DB"
            << QString::fromStdString(fixture::tableWith(
                   "CDBase", "N", "INTEGER PRIMARY KEY DESC",
                   "INSERT INTO CDBase VALUES (1, 'Матрица', '', 1, 2, 1), (7, 'Новый', '', 1, "
                   "1, 0)"))
            << "1|Матрица|1,7|Новый|0" << -1 << "8";
        QTest::newRow("disk names UNIQUE, replacing on conflict")
            << "CDBase.DB"
            << QString::fromStdString(
                   fixture::tableWith("CDBase", "Name", "TEXT UNIQUE ON CONFLICT REPLACE",
                                      "INSERT INTO CDBase VALUES (1, 'Матрица', '', 1, 2, 1)"))
            << "1|Матрица|1" << -1 << "7";
        // Disk 5 names category 99, which no longer exists: 99 is not given again.
        QTest::newRow("category names declared INTEGER")
            << "SprKategoy.db"
            << QString::fromStdString(fixture::tableWith(
                   "SprKategoy", "Name", "INTEGER",
                   "INSERT INTO SprKategoy VALUES (1, 'Фильмы'), (2, '007'), (3, 'Ёлка'), (5, "
                   "'Games')"))
            << "1|Фильмы,2|7,3|Ёлка,5|Games" << int(Book::Categories) << "100";
        QTest::newRow("debtors WITHOUT ROWID")
            << "SprDolgnik.db"
            << "CREATE TABLE SprDolgnik(N INTEGER PRIMARY KEY, Dolgnik TEXT) WITHOUT ROWID;"
               "INSERT INTO SprDolgnik VALUES (1, 'Иванов Сергей'), (3, 'Егоров Пётр'), "
               "(4, 'Петров Пётр')"
            << "1|Иванов Сергей,3|Егоров Пётр,4|Петров Пётр" << int(Book::Debtors) << "5";
    }

    void repairRebuildsTheTable() {
        QFETCH(QString, file);
        QFETCH(QString, declared);
        QFETCH(QString, rows);
        QFETCH(int, book);
        QFETCH(QString, nextKey);
        FixtureCatalogue f;
        const fs::path target = f.base() / file.toStdString();
        fixture::redeclare(target, declared.toStdString());
        const std::string before = FolderSnapshot(f.base()).files.at(file.toStdString());
        QVERIFY(!problemsOf(f.root()).isEmpty());

        const ToolRun repair = runTool({"repair", rootArg(f.dir)});
        QCOMPARE(repair.exitCode, 0);
        QVERIFY2(repair.out.contains("в порядке"), qPrintable(repair.out + repair.err));
        QCOMPARE(FolderSnapshot(f.base()).files.at(file.toStdString() + ".before-repair"), before);
        const store::TableDef& t = *store::tableForFile(file.toStdString());
        const std::string fields = t.fields.size() > 2 ? "N, Name, Dolg" : "*";
        QCOMPARE(sqlRows(f.root(), "SELECT " + fields + " FROM " + std::string(t.table)),
                 rows.split(','));
        const auto db = f.open();
        if (book < 0)
            writes::addDisk(db, {"Ещё один", "", 1, 1});
        else
            writes::addEntry(db, Book(book), "Ещё один");
        QCOMPARE(QString::number(db->lastInsertKey()), nextKey);
    }

    // What the program never makes in a table file: check names every object, repair drops
    // them all (the file copied first), and the program's write that a trigger turned
    // against the table keeps every row.
    void repairRemovesWhatTheProgramNeverMakes_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("objects");    // SQLite's SQL run on that file alone
        QTest::addColumn<QStringList>("named");  // as check and repair name them, in order
        QTest::addColumn<int>("book");           // the write after repair: -1 a lend, else a Book
        QTest::addColumn<QString>("rows");       // how many rows the file's table holds then
        const auto trigger = [](const char* table, const char* event) {
            return QString(
                       "CREATE TRIGGER t AFTER %2 ON %1 BEGIN DELETE FROM %1 WHERE rowid <> "
                       "NEW.rowid; END;")
                .arg(table, event);
        };
        // One lend used to delete every other disk.
        QTest::newRow("trigger in CDBase.DB, a lend")
            << "CDBase.DB"
            << "CREATE TRIGGER t AFTER UPDATE OF Dolg ON CDBase BEGIN DELETE FROM CDBase WHERE "
               "N <> NEW.N; END"
            << QStringList{"триггер t"} << -1 << "8";
        QTest::newRow("trigger in Dolg.DB, a lend")
            << "Dolg.DB" << trigger("Dolg", "INSERT") << QStringList{"триггер t"} << -1 << "4";
        QTest::newRow("trigger in SprKategoy.db")
            << "SprKategoy.db" << trigger("SprKategoy", "INSERT") << QStringList{"триггер t"}
            << int(Book::Categories) << "7";
        QTest::newRow("trigger in SprType.db")
            << "SprType.db" << trigger("SprType", "INSERT") << QStringList{"триггер t"}
            << int(Book::MediaTypes) << "4";
        QTest::newRow("trigger, view, index and table in SprDolgnik.db")
            << "SprDolgnik.db"
            << trigger("SprDolgnik", "INSERT") +
                   "CREATE VIEW v AS SELECT Dolgnik FROM SprDolgnik; CREATE INDEX i ON "
                   "SprDolgnik(N); CREATE TABLE notes(x)"
            << QStringList{"триггер t", "представление (VIEW) v", "индекс i", "таблица notes"}
            << int(Book::Debtors) << "5";
    }

    void repairRemovesWhatTheProgramNeverMakes() {
        QFETCH(QString, file);
        QFETCH(QString, objects);
        QFETCH(QStringList, named);
        QFETCH(int, book);
        QFETCH(QString, rows);
        FixtureCatalogue f;
        QVERIFY(store::Connection(f.base() / file.toStdString()).exec(objects.toStdString()));
        const std::string before = FolderSnapshot(f.base()).files.at(file.toStdString());
        const QStringList problems = problemsOf(f.root());
        QCOMPARE(problems.size(), named.size());
        for (int i = 0; i < named.size(); ++i)
            QVERIFY2(problems[i].contains("есть лишний объект: " + named[i]),
                     qPrintable(problems[i]));

        const ToolRun repair = runTool({"repair", rootArg(f.dir)});
        QCOMPARE(repair.exitCode, 0);
        QVERIFY2(repair.out.contains("удалено то, чего Korvalen не создаёт: " + named.join(", ") +
                                     ".") &&
                     repair.out.contains("в порядке"),
                 qPrintable(repair.out + repair.err));
        QCOMPARE(FolderSnapshot(f.base()).files.at(file.toStdString() + ".before-repair"), before);
        const auto db = f.open();
        if (book < 0)
            writes::lendDisk(db, 2, 1, store::Date::today());
        else
            writes::addEntry(db, Book(book), "Ещё один");
        const std::string table(store::tableForFile(file.toStdString())->table);
        QCOMPARE(sqlRows(f.root(), "SELECT count(*) FROM " + table), QStringList{rows});
    }

    // What a rebuild cannot mend is refused, with nothing changed.
    void repairRefuses_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("declared");
        QTest::addColumn<QString>("message");
        QTest::newRow("text key")
            << "CDBase.DB"
            << QString::fromStdString(
                   fixture::tableWith("CDBase", "N", "INTEGER PRIMARY KEY DESC",
                                      "INSERT INTO CDBase VALUES ('0 OR 1=1', 'x', '', 1, 1, 0)"))
            << "нельзя перестроить с прежними номерами: номера '0 OR 1=1'";
        QTest::newRow("repeated key")
            << "SprType.db"
            << "CREATE TABLE SprType(N INTEGER, Tip TEXT); INSERT INTO SprType VALUES (1, 'CD-R'), "
               "(1, 'DVD-R')"
            << "номера 1 — не целые числа или повторяются";
        QTest::newRow("a view") << "Dolg.DB"
                                << "CREATE VIEW Dolg AS SELECT 1 AS NomCD"
                                << "Этого repair не исправит, ничего не изменено: В файле";
    }

    void repairRefuses() {
        QFETCH(QString, file);
        QFETCH(QString, declared);
        QFETCH(QString, message);
        FixtureCatalogue f;
        fixture::redeclare(f.base() / file.toStdString(), declared.toStdString());
        const FolderSnapshot before(f.base());
        const ToolRun repair = runTool({"repair", rootArg(f.dir)});
        QCOMPARE(repair.exitCode, 1);
        QVERIFY2(repair.err.contains(message), qPrintable(repair.err));
        QVERIFY(FolderSnapshot(f.base()) == before);
    }

    void helpAndVersion_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("--help: every verb")
            << "--help"
            << QStringList{"korvalen-base create", "korvalen-base demo",   "korvalen-base check",
                           "korvalen-base repair", "korvalen-base import", "korvalen-base export",
                           "korvalen-base backup"};
        QTest::newRow("--version: the release's")
            << "--version" << QStringList{QStringLiteral("korvalen-base " KORVALEN_VERSION "\n")};
    }

    // Asked for, they go to standard output and end in success (`korvalen-base --help | less`).
    void helpAndVersion() {
        QFETCH(QString, option);
        QFETCH(QStringList, said);
        const ToolRun run = runTool({option});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        for (const QString& text : said) QVERIFY2(run.out.contains(text), qPrintable(text));
    }

    // A disk read by scan and exported by export: its folders and files under their
    // Cyrillic names, each with its size, nothing of another disk.
    void exportedContentsHoldTheDisksFiles() {
        const FixtureCatalogue catalogue;
        const QTemporaryDir source, out;
        const fs::path tree = source.path().toStdString();
        fs::create_directories(tree / "Фильмы" / "Старые");
        const std::vector<std::pair<std::string, int>> files = {
            {"Фильмы/Старые/Белое солнце пустыни.avi", 4096},
            {"Фильмы/Ёжик в тумане.mkv", 1},
            {"Список дисков.txt", 0}};
        for (const auto& [path, size] : files)
            std::ofstream(tree / path, std::ios::binary) << std::string(size, 'x');
        QCOMPARE(runTool({"scan", catalogue.path(), "5", source.path()}).exitCode, 0);
        QCOMPARE(runTool({"scan", catalogue.path(), "1", source.path() + "/Фильмы"}).exitCode, 0);
        const QString csv = out.filePath("содержимое.csv");
        const ToolRun run = runTool({"export", catalogue.path(), "--what", "contents", "--disk",
                                     "5", "--format", "csv", "--no-bom", csv});
        QCOMPARE(run.exitCode, 0);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList rows = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(rows.takeFirst(), "Номер диска,Диск,Путь,Размер,Изменён,Дорожка,"
                                   "\"Длительность, с\",Название,Исполнитель");
        QStringList found;
        for (const QString& row : rows) found << row.section(',', 0, 3);
        QCOMPARE(found, QStringList({"5,Потерянный диск,Фильмы/,",
                                     "5,Потерянный диск,Фильмы/Старые/,",
                                     "5,Потерянный диск,Фильмы/Старые/Белое солнце пустыни.avi,4096",
                                     "5,Потерянный диск,Фильмы/Ёжик в тумане.mkv,1",
                                     "5,Потерянный диск,Список дисков.txt,0"}));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("no folder") << QStringList{"check"};
        QTest::newRow("unknown command") << QStringList{"drop", "x"};
        QTest::newRow("create with extra") << QStringList{"create", "x", "y"};
        QTest::newRow("disks not a number") << QStringList{"demo", "x", "--disks", "many"};
        QTest::newRow("disks negative") << QStringList{"demo", "x", "--disks", "-1"};
        QTest::newRow("disks missing") << QStringList{"demo", "x", "--disks"};
        QTest::newRow("unknown option") << QStringList{"demo", "x", "--fast"};
        QTest::newRow("find in an unknown format") << QStringList{"find", "x", "y", "--format", "pdf"};
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        const fixture::ScopedWorkingDirectory cwd(dir.path().toStdString());  // "x" would land here
        const ToolRun run = runTool(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("Использование:"), qPrintable(run.err));
        QVERIFY(!fs::exists(fs::path(dir.path().toStdString()) / "x"));
    }
};

QTEST_APPLESS_MAIN(CatalogueToolTest)
#include "test_catalogue_tool.moc"
