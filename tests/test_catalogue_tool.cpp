// korvalen-base and the functions behind it: create and demo never overwrite a catalogue,
// check finds lent flags that disagree with the loans, and the exit codes tell it all.
#include <QProcess>
#include <QtTest>
#include <filesystem>

#include "store/catalogue.h"
#include "store/error.h"
#include "tests/fixture.h"
#include "tools/catalogue_tools.h"

using fixture::FixtureCatalogue;
using fixture::FolderSnapshot;
using fixture::sqlRows;
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
    for (const auto& p : tools::checkCatalogue(root)) out << QString::fromStdString(p);
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
                   "Диск отмечен как отданный, но открытой записи о выдаче нет: диск № 2 «Лучшие "
                   "песни 1990»"};
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
