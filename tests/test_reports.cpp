// The loan reports, exports and backups without windows: the history's rows, filters and
// summary, the overdue boundary, CSV and HTML as a reader sees them, a backup taken while
// another process lends, and failures that leave nothing behind.
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "reports/exporter.h"
#include "reports/loanstatements.h"
#include "statements/diskfilter.h"
#include "store/backup.h"
#include "store/catalogue.h"
#include "store/check.h"
#include "store/database.h"
#include "store/query.h"
#include "tests/file_faults.h"
#include "tests/fixture.h"
#include "tools/catalogue_reports.h"
#include "tools/catalogue_demo.h"

namespace fs = std::filesystem;
using store::Date;

Q_DECLARE_METATYPE(loans::Filter)
Q_DECLARE_METATYPE(store::Date)

namespace {

// The fixture's three loans and three more: a disk deleted while out, Abbey Road lent a
// second time, Новогодние ПЕСНИ out; the row's key last. Loans in the order they were entered, days
// on 01.04.2024:
//   1  disk 1  Иванов Сергей  01.03.2024 – (out)        31
//   2  disk 2  Егоров Пётр    10.01.2024 – 01.02.2024   22
//   3  disk 6  Петров Пётр    05.03.2024 – (out)        27
//   4  disk 9  Петров Пётр    05.02.2024 – (out)        56   (disk 9 was deleted)
//   5  disk 2  Иванов Сергей  10.03.2024 – 12.03.2024    2
//   6  disk 3  Петров Пётр    20.03.2024 – (out)        12
constexpr const char* kMoreLoans = R"sql(
INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES
  (9, 4, '2024-02-05', NULL, TRUE),
  (2, 1, '2024-03-10', '2024-03-12', FALSE),
  (3, 4, '2024-03-20', NULL, TRUE);
UPDATE CDBase SET Dolg = TRUE WHERE N = 3;
)sql";

const QString kRow1 = "1|Матрица|Иванов Сергей|01.03.2024||31|просрочен|1";
const QString kRow2 = "2|Abbey Road|Егоров Пётр|10.01.2024|01.02.2024|22||2";
const QString kRow3 = "6|Rock'n'Roll|Петров Пётр|05.03.2024||27||3";
const QString kRow4 = "9|диск удалён|Петров Пётр|05.02.2024||56|диск удалён|4";
const QString kRow5 = "2|Abbey Road|Иванов Сергей|10.03.2024|12.03.2024|2||5";
const QString kRow6 = "3|Новогодние ПЕСНИ|Петров Пётр|20.03.2024||12||6";

const loans::Reckoning kFirstOfApril{{2024, 4, 1}, 30};

QStringList historyRows(const fixture::TemporaryCatalogue& catalogue, const loans::Filter& filter,
                        const loans::Reckoning& reckoning) {
    store::Query query(loans::historyLines(filter), catalogue.open());
    loans::bind(query, filter, reckoning);
    query.open();
    return fixture::queryRows(query);
}

// The summary counted in parts, each over its ranges of loans, and added up.
std::string summaryOf(const std::shared_ptr<store::Database>& db, const loans::Filter& filter,
                      const loans::Reckoning& reckoning,
                      const std::vector<std::vector<loans::LoanRange>>& partsRanges) {
    std::vector<loans::SummaryPart> parts;
    for (const auto& ranges : partsRanges)
        parts.push_back(loans::countSummaryPart(db, filter, reckoning, ranges));
    return loans::describe(loans::combine(parts));
}

std::string summaryOf(const fixture::TemporaryCatalogue& catalogue, const loans::Filter& filter,
                      const loans::Reckoning& reckoning) {
    return summaryOf(catalogue.open(), filter, reckoning, {{loans::LoanRange{}}});
}

// RFC 4180 read back: fields separated by commas, records by CR LF, a quoted field may
// hold commas, line breaks and doubled quotes.
QList<QStringList> parseCsv(const QString& text) {
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record << field;
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record << field;
            records << record;
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

QStringList entries(const fs::path& dir) {
    return QDir(QString::fromStdString(dir.string()))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

class Reports : public QObject {
    Q_OBJECT

private slots:
    void historyRowsAndFilters_data();
    void historyRowsAndFilters();
    void overdueFromTheDayAfterTheLimit_data();
    void overdueFromTheDayAfterTheLimit();
    void wrongDatesAreMarkedAndCountedNowhere();
    void daysOutAgreeWithTheDateParser();
    void csvReadsBackAsWritten();
    void spreadsheetMakesNoFormula();
    void spreadsheetHasTheRowsAndTheirTypes();
    void htmlEscapesText();
    void backupIsOneMomentWhileAnotherProcessLends();
    void failedOrStoppedCopiesLeaveNothing_data();
    void failedOrStoppedCopiesLeaveNothing();
    void killedCopiesLeaveNothingUnderAFinishedName_data();
    void killedCopiesLeaveNothingUnderAFinishedName();
    void stopIsHeardAtEveryRow();
    void exportThroughALinkWritesItsTarget();
    void neverWritesOverTheCatalogue_data();
    void neverWritesOverTheCatalogue();
};

void Reports::historyRowsAndFilters_data() {
    QTest::addColumn<loans::Filter>("filter");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("summary");
    auto filter = [](auto set) {
        loans::Filter f;
        set(f);
        return f;
    };
    QTest::newRow("every loan, newest first")
        << loans::Filter{} << QStringList{kRow6, kRow5, kRow4, kRow3, kRow2, kRow1}
        << "Выдач: 6, на руках: 4, из них просрочено: 1, в среднем дней на руках: 25,0";
    QTest::newRow("one disk") << filter([](auto& f) { f.disk = 2; }) << QStringList{kRow5, kRow2}
                              << "Выдач: 2, на руках: 0, из них просрочено: 0, в среднем дней на "
                                 "руках: 12,0";
    QTest::newRow("a deleted disk keeps its loans")
        << filter([](auto& f) { f.disk = 9; }) << QStringList{kRow4}
        << "Выдач: 1, на руках: 1, из них просрочено: 0, в среднем дней на руках: 56,0";
    QTest::newRow("one debtor") << filter([](auto& f) { f.debtor = 4; })
                                << QStringList{kRow6, kRow4, kRow3}
                                << "Выдач: 3, на руках: 3, из них просрочено: 0, в среднем дней "
                                   "на руках: 31,7";
    QTest::newRow("open only") << filter([](auto& f) { f.openOnly = true; })
                               << QStringList{kRow6, kRow4, kRow3, kRow1}
                               << "Выдач: 4, на руках: 4, из них просрочено: 1, в среднем дней "
                                  "на руках: 31,5";
    QTest::newRow("period, both ends included")
        << filter([](auto& f) {
               f.from = Date{2024, 2, 5};
               f.to = Date{2024, 3, 10};
           })
        << QStringList{kRow5, kRow4, kRow3, kRow1}
        << "Выдач: 4, на руках: 3, из них просрочено: 1, в среднем дней на руках: 29,0";
    QTest::newRow("debtor and open together")
        << filter([](auto& f) {
               f.debtor = 1;
               f.openOnly = true;
           })
        << QStringList{kRow1}
        << "Выдач: 1, на руках: 1, из них просрочено: 1, в среднем дней на руках: 31,0";
    QTest::newRow("no such disk") << filter([](auto& f) { f.disk = -1; }) << QStringList{}
                                  << "Выдач: 0, на руках: 0, из них просрочено: 0";
}

void Reports::historyRowsAndFilters() {
    QFETCH(loans::Filter, filter);
    QFETCH(QStringList, rows);
    QFETCH(QString, summary);
    const fixture::FixtureCatalogue catalogue(kMoreLoans);
    QCOMPARE(historyRows(catalogue, filter, kFirstOfApril), rows);
    const auto db = catalogue.open();
    // Cut in four and dealt in turn to two parts, as the window counts it.
    const auto quarters = loans::splitLoans(db, 4);
    QCOMPARE(quarters.size(), size_t(4));
    QCOMPARE(QString::fromStdString(summaryOf(db, filter, kFirstOfApril,
                                              {{quarters[0], quarters[2]},
                                               {quarters[1], quarters[3]}})),
             summary);
    // Cut before each loan in turn, and after the last: the parts add up the same.
    for (int64_t cut = 1; cut <= 7; ++cut)
        QCOMPARE(QString::fromStdString(summaryOf(db, filter, kFirstOfApril,
                                                  {{{INT64_MIN, cut - 1}}, {{cut, INT64_MAX}}})),
                 summary);
}

void Reports::overdueFromTheDayAfterTheLimit_data() {
    QTest::addColumn<Date>("today");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("marker");  // of the loan of disk 1, out since 01.03.2024
    QTest::newRow("the limit's last day") << Date{2024, 3, 31} << 30 << "";
    QTest::newRow("the day after") << Date{2024, 4, 1} << 30 << "просрочен";
    QTest::newRow("limit 0, lent today") << Date{2024, 3, 1} << 0 << "";
}

// The history and the who-has-what list mark the same loans.
void Reports::overdueFromTheDayAfterTheLimit() {
    QFETCH(Date, today);
    QFETCH(int, limit);
    QFETCH(QString, marker);
    const fixture::FixtureCatalogue catalogue(kMoreLoans);
    loans::Filter disk1;
    disk1.disk = 1;
    const QStringList rows = historyRows(catalogue, disk1, {today, limit});
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.front().section('|', 6, 6), marker);
    const std::string summary = summaryOf(catalogue, disk1, {today, limit});
    QVERIFY2(
        summary.find(marker.isEmpty() ? "просрочено: 0" : "просрочено: 1") != std::string::npos,
        summary.c_str());
    store::Query open(loans::openLoanLines(), catalogue.open());
    loans::bind(open, {}, {today, limit});
    open.open();
    for (const QString& row : fixture::queryRows(open))
        if (row.section('|', 2, 2) == "1") QCOMPARE(row.section('|', 6), marker);
}

// A loan back before it went out and one dated a day not yet come (as another program
// could leave them) show their dates as stored, marked, without days out; the summary
// leaves them out of the average and the overdue count. They showed -70 and -2,912,102
// days and pulled the average with them.
void Reports::wrongDatesAreMarkedAndCountedNowhere() {
    const fixture::FixtureCatalogue catalogue(
        "UPDATE Dolg SET DatK = '2023-11-22' WHERE NomCD = 2;"
        "INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES (3, 4, '9999-12-31', NULL, "
        "TRUE);");
    QCOMPARE(
        historyRows(catalogue, {}, kFirstOfApril),
        QStringList({"3|Новогодние ПЕСНИ|Петров Пётр|31.12.9999|||даты неверны|4", kRow3,
                     "2|Abbey Road|Егоров Пётр|10.01.2024|22.11.2023||даты неверны|2", kRow1}));
    QCOMPARE(QString::fromStdString(summaryOf(catalogue, {}, kFirstOfApril)),
             "Выдач: 4, на руках: 3, из них просрочено: 1, в среднем дней на руках: 29,0");
}

// The days' quick path gives what SQLite's own date parsing gives, for the plain dates the
// program writes and for whatever another program could leave: every start, end, today
// and tomorrow drawn from the odd values below.
void Reports::daysOutAgreeWithTheDateParser() {
    const fixture::TemporaryCatalogue catalogue("");
    const auto db = store::Database::open(catalogue.base());
    auto differing = db->prepareOn(store::diskTable(), R"sql(
        WITH v(x) AS (VALUES ('2024-01-10'), ('2024-01-09'), ('2024-01-11'), ('2024-02-30'),
            ('2024-1-5'), ('2024-01-10 23:59'), ('2024-13-01'), ('0000-01-01'), ('9999-12-31'),
            (2460000.5), (20240110), ('garbage'), (NULL))
        SELECT total(korvalen_days(a.x, b.x, t.x, m.x) IS NOT (
                   CASE WHEN coalesce(b.x < a.x or a.x > m.x or b.x > m.x, 0) THEN NULL
                   ELSE CAST(julianday(coalesce(b.x, t.x)) - julianday(a.x) AS INTEGER) END)),
               total(korvalen_days(a.x, b.x, t.x, m.x) IS NOT NULL)
        FROM v a, v b, v t, v m)sql");
    QVERIFY(differing.step());
    QCOMPARE(differing.columnInt64(0), 0);
    QVERIFY(differing.columnInt64(1) > 1000);
}

namespace {

// Names a CSV reader trips on, and names a spreadsheet would take for a formula.
const QStringList kCsvNames = {"Say \"hi\"",
                               "a,b",
                               "две\r\nстроки",
                               "Ёлка — ёж",
                               " blanks ",
                               "",
                               "end\"",
                               "\"quoted\", twice\n",
                               "=1+1",
                               "+1",
                               "-1",
                               "@A1",
                               "\tтаб",
                               "\rCR",
                               "=HYPERLINK(\"http://x?\"&A1;\"y\")"};

// The disk list of a catalogue whose disks bear kCsvNames, as CSV.
std::string csvOfAwkwardNames() {
    std::string rows =
        "INSERT INTO SprKategoy(Num, Name) VALUES (1, 'Фильмы, \"лучшие\"');\n"
        "INSERT INTO SprType(N, Tip) VALUES (1, 'DVD');\n";
    for (int i = 0; i < kCsvNames.size(); ++i) {
        QString sql = kCsvNames[i];
        sql.replace('\'', "''");
        rows += QString(
                    "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) VALUES (%1, "
                    "'%2', 'Описание: %2', 1, 1, %3);\n")
                    .arg(i + 1)
                    .arg(sql)
                    .arg(i % 2)
                    .toStdString();
    }
    const fixture::TemporaryCatalogue catalogue(rows);
    std::ostringstream out;
    tools::exportCatalogue(catalogue.root(), tools::ExportWhat::Disks, reports::Format::Csv, out);
    return out.str();
}

}  // namespace

// Every cell reads back as written, after the byte-order mark that tells a spreadsheet
// the text is UTF-8; one a spreadsheet would take for a formula reads back with an
// apostrophe before it, as text.
void Reports::csvReadsBackAsWritten() {
    const std::string csv = csvOfAwkwardNames();
    QVERIFY(csv.rfind("\xEF\xBB\xBFНомер,", 0) == 0);
    const QList<QStringList> records = parseCsv(QString::fromStdString(csv.substr(3)));
    QCOMPARE(records.size(), kCsvNames.size() + 1);
    QCOMPARE(records.front(), QStringList({"Номер", "Наименование", "Категория", "Носитель",
                                           "На руках", "Описание"}));
    for (int i = 0; i < kCsvNames.size(); ++i) {
        const QString& name = kCsvNames[i];
        const bool formulaLike = !name.isEmpty() && QString("=+-@\t\r").contains(name[0]);
        QCOMPARE(records[i + 1], QStringList({QString::number(i + 1),
                                              formulaLike ? "'" + name : name, "Фильмы, \"лучшие\"",
                                              "DVD", i % 2 ? "да" : "", "Описание: " + name}));
    }
}

namespace {

// LibreOffice's conversion of file into format, written into tmp/to; empty when it wrote
// nothing.
QByteArray convertedByLibreOffice(const QTemporaryDir& tmp, const QString& file,
                                  const QString& format) {
    const QString out = tmp.filePath("to");
    QProcess office;
    office.start(QStandardPaths::findExecutable("soffice"),
                 {"-env:UserInstallation=file://" + tmp.filePath("profile"), "--headless",
                  "--convert-to", format, "--outdir", out, file});
    if (!office.waitForFinished(180000)) return {};
    QFile converted(out + "/" + QFileInfo(file).completeBaseName() + "." +
                    format.section(':', 0, 0));
    if (!converted.open(QIODevice::ReadOnly)) qWarning() << office.readAll();
    return converted.readAll();
}

}  // namespace

// LibreOffice, opening that CSV as a user would, makes no formula of any cell.
void Reports::spreadsheetMakesNoFormula() {
    if (QStandardPaths::findExecutable("soffice").isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    const QTemporaryDir tmp;
    QFile csv(tmp.filePath("disks.csv"));
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write(QByteArray::fromStdString(csvOfAwkwardNames()));
    csv.close();
    const QByteArray xml = convertedByLibreOffice(tmp, csv.fileName(), "fods");
    QVERIFY(xml.contains("HYPERLINK"));
    QVERIFY2(!xml.contains("table:formula"), xml.constData());
}

// The loan history as an OpenDocument spreadsheet, opened by LibreOffice: under its title
// and the line saying when and how it was made, the same rows as the CSV, Cyrillic
// intact, with days as dates and numbers as numbers.
void Reports::spreadsheetHasTheRowsAndTheirTypes() {
    if (QStandardPaths::findExecutable("soffice").isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    const fixture::FixtureCatalogue catalogue(kMoreLoans);
    std::ostringstream csv, ods;
    tools::exportCatalogue(catalogue.root(), tools::ExportWhat::Loans, reports::Format::Csv, csv,
                           {}, {}, false);
    tools::exportCatalogue(catalogue.root(), tools::ExportWhat::Loans, reports::Format::Ods, ods);
    const QTemporaryDir tmp;
    QFile sheet(tmp.filePath("loans.fods"));
    QVERIFY(sheet.open(QIODevice::WriteOnly));
    sheet.write(QByteArray::fromStdString(ods.str()));
    sheet.close();
    const QStringList rows =
        QString::fromUtf8(convertedByLibreOffice(tmp, sheet.fileName(),
                                                 "csv:Text - txt - csv (StarCalc):44,34,76"))
            .split('\n', Qt::SkipEmptyParts);
    const QStringList expected =
        QString::fromStdString(csv.str()).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(expected.size(), 7);
    QCOMPARE(rows.mid(0, 2),
             QStringList({"История выдачи,,,,,,",
                          "Составлено " + QString::fromStdString(Date::today().display()) +
                              ". Отбор: все выдачи; просрочен — на руках дольше 30 дн.,,,,,,"}));
    QCOMPARE(rows.mid(3), expected);
    const QByteArray reopened = convertedByLibreOffice(tmp, sheet.fileName(), "fods");
    QVERIFY(reopened.contains(
        R"(office:value-type="date" office:date-value="2024-03-01" calcext:value-type="date")"));
    QVERIFY(reopened.contains(
        R"(office:value-type="float" office:value="22" calcext:value-type="float")"));
}

void Reports::htmlEscapesText() {
    const fixture::TemporaryCatalogue catalogue(
        "INSERT INTO SprKategoy(Num, Name) VALUES (1, 'A & B');\n"
        "INSERT INTO SprType(N, Tip) VALUES (1, 'DVD');\n"
        "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) VALUES "
        "(1, '<script>alert(''x'')</script> \"q\"', '', 1, 1, FALSE);\n");
    std::ostringstream out;
    tools::exportCatalogue(catalogue.root(), tools::ExportWhat::Disks, reports::Format::Html, out);
    const std::string page = out.str();
    QVERIFY(page.find("<td>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &quot;q&quot;</td>") !=
            std::string::npos);
    QVERIFY(page.find("<td>A &amp; B</td>") != std::string::npos);
    QVERIFY(page.find("<script>") == std::string::npos);
    QVERIFY(page.rfind("<!DOCTYPE html>", 0) == 0 &&
            page.find("charset=\"utf-8\"") != std::string::npos);
}

// Copies and exports taken while another process lends and takes back as fast as it can:
// each waits its turn and gets in (none gives up because the catalogue is busy), and each
// copy passes the catalogue's check (a loan copied without its disk's flag, or the other
// way round, would not). They go through korvalen-base, as a user would make them.
void Reports::backupIsOneMomentWhileAnotherProcessLends() {
    const QTemporaryDir tmp(QDir("/dev/shm").exists() ? "/dev/shm/backup-XXXXXX"
                                                      : QDir::tempPath() + "/backup-XXXXXX");
    QVERIFY(tmp.isValid());
    const fs::path dir = fs::path(tmp.path().toStdString()) / "catalogue";
    tools::makeDemo(dir, {.disks = 2000});  // big enough that the files take a while to copy
    QProcess lender;
    lender.start(LEND_LOOP, {QString::fromStdString(dir.string()), "7"});
    while (!lender.readAllStandardOutput().contains("ready"))
        QVERIFY2(lender.waitForReadyRead(30000), qPrintable(lender.readAllStandardError()));
    const auto loansNow = [&] {
        return fixture::sqlRows(dir, "SELECT count(*) FROM Dolg").front();
    };
    const QString loansBefore = loansNow();
    const QString catalogue = QString::fromStdString(dir.string());
    for (int copy = 0; copy < 20; ++copy) {
        const QString dest = tmp.filePath(QString("copy%1").arg(copy));
        for (const QStringList& arguments : {QStringList{"backup", catalogue, dest},
                                             QStringList{"export", catalogue, "--what", "loans",
                                                         "--format", "csv", dest + ".csv"}}) {
            QProcess tool;
            tool.start(KORVALEN_BASE_EXE, arguments);
            QVERIFY(tool.waitForFinished(90000));
            QVERIFY2(tool.exitCode() == 0,
                     qPrintable(tool.readAllStandardOutput() + tool.readAllStandardError()));
        }
    }
    QVERIFY2(lender.state() == QProcess::Running, qPrintable(lender.readAllStandardError()));
    lender.kill();
    lender.waitForFinished();
    QVERIFY2(loansNow() != loansBefore, "the lender never got a word in");
}

void Reports::failedOrStoppedCopiesLeaveNothing_data() {
    // "read-only", "full", "stopped", "locked" (another program holds the loan table),
    // "no folder" (the output folder is missing) or "a file for a folder"
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("backup");  // a backup, else an export to a file
    for (const char* where : {"read-only", "full", "stopped", "locked", "a file for a folder"}) {
        QTest::addRow("export, %s", where) << where << false;
        QTest::addRow("backup, %s", where) << where << true;
    }
    QTest::addRow("export, no folder") << "no folder" << false;  // a backup makes its folder
}

void Reports::failedOrStoppedCopiesLeaveNothing() {
    QFETCH(QString, destination);
    QFETCH(bool, backup);
    QTemporaryDir tmp;
    const fs::path source = fs::path(tmp.path().toStdString()) / "catalogue";
    tools::makeDemo(source, {.disks = 3000});
    const fs::path target = fs::path(tmp.path().toStdString()) / "target";
    fs::create_directory(target);
    std::optional<faults::ReadOnlyMount> readOnly;
    std::optional<faults::SmallFileSystem> small;
    if (destination == "read-only" && !readOnly.emplace(target).mounted())
        QSKIP("this process may not mount a file system of its own here");
    if (destination == "full" && !small.emplace(target, "160k").mounted())
        QSKIP("this process may not mount a file system of its own here");
    const bool stop = destination == "stopped";
    fs::path into = target;
    if (destination == "no folder") into = target / "unmounted";
    if (destination == "a file for a folder") {
        std::ofstream(target / "notes.txt") << "a file";
        into = target / "notes.txt";
    }
    const fixture::FolderSnapshot before(source / "base");
    std::optional<faults::LockHolder> lock;
    if (destination == "locked") QVERIFY(lock.emplace(source / "base" / "Dolg.DB").held());
    try {
        if (backup)
            store::backupCatalogue(source, into / "copy",
                                   [&](long long done, long long) { return !stop || done == 0; });
        else
            tools::exportCatalogueToFile(source, tools::ExportWhat::Disks, reports::Format::Html,
                                         into / "disks.html",
                                         [&](int64_t done, int64_t) { return !stop || done == 0; });
        QFAIL("the copy did not fail");
    } catch (const reports::ExportStopped&) {
        QVERIFY(stop);
    } catch (const store::Error& e) {
        QVERIFY2(!stop || e.kind() == store::Error::Kind::Stopped, e.what());
        // The true cause, in Russian: the system's English words never come through.
        const char* expected = stop                      ? "остановлено"
                               : destination == "locked" ? "занята другой программой"
                               : destination == "read-only" ? "только для чтения"
                               : destination == "full"      ? "мест"
                               : destination == "no folder" ? "Не найдена папка"
                               : destination == "a file for a folder" ? "это не папка"
                                                                      : "Не удалось";
        const QString said = QString::fromUtf8(e.what());
        QVERIFY2(said.contains(expected), e.what());
        for (const char* english : {"exists", "denied", "directory", "No space", "Read-only"})
            QVERIFY2(!said.contains(english), e.what());
    }
    QCOMPARE(entries(target),
             destination == "a file for a folder" ? QStringList{"notes.txt"} : QStringList());
    QVERIFY(fixture::FolderSnapshot(source / "base") == before);
}

// korvalen-base killed at a random moment while it exports, backs up or repairs: nothing
// under a finished name is ever incomplete (an export is the whole list, a copy passes the
// check, repair's copy is the file as it was), and the next run removes what the killed
// one left, naming it. A killed repair used to leave 12 MB of 173 under the finished name,
// a killed export OUT.part-PID, a killed backup a hidden folder for good.
void Reports::killedCopiesLeaveNothingUnderAFinishedName_data() {
    QTest::addColumn<QString>("verb");
    for (const char* verb : {"export", "backup", "repair"}) QTest::newRow(verb) << verb;
}

void Reports::killedCopiesLeaveNothingUnderAFinishedName() {
    QFETCH(QString, verb);
    const QTemporaryDir tmp;
    const QString root = tmp.path();
    const fs::path dir = fs::path(root.toStdString()) / "catalogue";
    tools::makeDemo(dir, {.disks = 20000});
    std::ostringstream whole;
    tools::exportCatalogue(dir, tools::ExportWhat::Disks, reports::Format::Csv, whole);
    // Something for repair to do: a trigger it copies the file for, then drops.
    if (verb == "repair")
        fixture::sqlRows(dir, "CREATE TRIGGER keep AFTER UPDATE ON CDBase BEGIN SELECT 1; END");
    const QByteArray disksFile =
        QByteArray::fromStdString(fixture::FolderSnapshot(dir / "base").files["CDBase.DB"]);
    const QString out = root + "/out/disks.csv";
    QDir().mkpath(root + "/out");
    const QString catalogue = QString::fromStdString(dir.string());
    const auto arguments = [&](int round) {
        if (verb == "export")
            return QStringList{"export", catalogue, "--what", "disks", "--format", "csv", out};
        if (verb == "backup")
            return QStringList{"backup", catalogue, root + QString("/copy%1").arg(round)};
        return QStringList{"repair", catalogue};
    };
    // How long a whole run takes: the kills fall anywhere within it.
    QElapsedTimer clock;
    clock.start();
    QProcess timing;
    timing.start(KORVALEN_BASE_EXE, arguments(100));
    QVERIFY(timing.waitForFinished(60000));
    const int runMs = std::max<int>(static_cast<int>(clock.elapsed()), 20);
    QFile::remove(out);
    std::mt19937 random(7);
    for (int round = 0; round < 10; ++round) {
        QProcess killed;
        killed.start(KORVALEN_BASE_EXE, arguments(round));
        QVERIFY(killed.waitForStarted());
        QThread::msleep(random() % runMs);
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        killed.waitForFinished();
        const QStringList left = QDir(verb == "repair"   ? catalogue + "/base"
                                      : verb == "export" ? root + "/out"
                                                         : root)
                                     .entryList({".*.part-*"}, QDir::AllEntries | QDir::Hidden);
        // Under a finished name: the whole thing, or nothing.
        if (verb == "export" && QFileInfo::exists(out)) {
            QFile file(out);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll().toStdString(), whole.str());
        }
        const fs::path copy =
            fs::path(root.toStdString()) / QString("copy%1").arg(round).toStdString();
        if (verb == "backup" && fs::exists(copy / "base"))
            QCOMPARE(store::checkCatalogue(copy), std::vector<std::string>{});
        for (const QString& name : QDir(catalogue + "/base").entryList({"*.before-repair*"})) {
            QFile file(catalogue + "/base/" + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll() == disksFile, qPrintable(name));
        }
        QProcess next;
        next.setProcessChannelMode(QProcess::MergedChannels);
        next.start(KORVALEN_BASE_EXE, arguments(round + 20));
        QVERIFY(next.waitForFinished(60000));
        const QString said = QString::fromUtf8(next.readAll());
        for (const QString& part : left) QVERIFY2(said.contains(part), qPrintable(said));
        QCOMPARE(QDir(root).entryList({".*.part-*"}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
        QCOMPARE(QDir(root + "/out").entryList({".*.part-*"}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
        QCOMPARE(
            QDir(catalogue + "/base").entryList({".*.part-*"}, QDir::AllEntries | QDir::Hidden),
            QStringList());
    }
}

// Отмена is heard at the row it is pressed at, the last one included: a short list used to
// be asked only every 1,000 rows, and its last answer was not heeded.
void Reports::stopIsHeardAtEveryRow() {
    const fixture::FixtureCatalogue catalogue;
    for (const int stopAt : {1, 3, 7}) {  // the first, one between, the last
        store::Query disks(diskfilter::build(diskfilter::Availability::All, {}, {}).lines,
                           catalogue.open());
        std::ostringstream out;
        int asked = 0;
        int64_t told = 0;
        try {
            reports::exportRows(disks, reports::diskExport(), reports::Format::Csv, out,
                                [&](int64_t done, int64_t total) {
                                    told = total;
                                    if (done > 0) ++asked;
                                    return done < stopAt;
                                });
            QFAIL("the export did not stop");
        } catch (const reports::ExportStopped&) {
        }
        QCOMPARE(told, int64_t{7});
        QCOMPARE(asked, stopAt);
    }
}

// An export to a symbolic link writes the file it names, as cp does: the link stays.
void Reports::exportThroughALinkWritesItsTarget() {
    const fixture::FixtureCatalogue catalogue;
    const QTemporaryDir tmp;
    const fs::path target = fs::path(tmp.path().toStdString()) / "списки" / "диски.csv";
    fs::create_directories(target.parent_path());
    std::ofstream(target) << "old";
    const fs::path link = fs::path(tmp.path().toStdString()) / "link.csv";
    fs::create_symlink("списки/диски.csv", link);
    tools::exportCatalogueToFile(catalogue.root(), tools::ExportWhat::Disks, reports::Format::Csv,
                                 link);
    QVERIFY(fs::is_symlink(link));
    std::ostringstream whole;
    tools::exportCatalogue(catalogue.root(), tools::ExportWhat::Disks, reports::Format::Csv, whole);
    std::ifstream written(target);
    QCOMPARE(std::string(std::istreambuf_iterator<char>(written), {}), whole.str());
}

// korvalen-base asked to export onto the catalogue or to back it up into itself: it used
// to write the CSV over CDBase.DB and exit 0. Refused with the target named, every file
// of base/ byte for byte as before and nothing added there.
void Reports::neverWritesOverTheCatalogue_data() {
    QTest::addColumn<QString>("command");  // export or backup
    QTest::addColumn<QString>("target");   // the file or folder given, under the catalogue's root
    QTest::addColumn<QString>("named");    // what the message names, under the root
    QTest::addColumn<QString>("says");
    const QString table = "— таблица каталога; сохраните список в другое место.";
    QTest::newRow("export over CDBase.DB") << "export"
                                           << "base/CDBase.DB"
                                           << "base/CDBase.DB" << table;
    QTest::newRow("export over Dolg.DB spelt in other letters") << "export"
                                                                << "base/DOLG.db"
                                                                << "base/DOLG.db" << table;
    QTest::newRow("export through a link to SprType.db") << "export"
                                                         << "types.csv"
                                                         << "types.csv" << table;
    QTest::newRow("export to a new file in base") << "export"
                                                  << "base/disks.csv"
                                                  << "base/disks.csv"
                                                  << "лежит в папке каталога";
    QTest::newRow("backup into base") << "backup"
                                      << "base"
                                      << "base/base"
                                      << "внутри папки самого каталога";
    QTest::newRow("backup into a new folder in base") << "backup"
                                                      << "base/copies"
                                                      << "base/copies/base"
                                                      << "внутри папки самого каталога";
}

void Reports::neverWritesOverTheCatalogue() {
    QFETCH(QString, command);
    QFETCH(QString, target);
    QFETCH(QString, named);
    QFETCH(QString, says);
    const fixture::FixtureCatalogue catalogue;
    fs::create_symlink(catalogue.base() / "SprType.db", catalogue.root() / "types.csv");
    const fixture::FolderSnapshot before(catalogue.base());
    const QStringList entriesBefore = entries(catalogue.base());
    QStringList arguments = {command, catalogue.path(), catalogue.filePath(target)};
    if (command == "export")
        arguments << "--what"
                  << "disks"
                  << "--format"
                  << "csv";
    QProcess tool;
    tool.start(KORVALEN_BASE_EXE, arguments);
    QVERIFY(tool.waitForFinished(60000));
    const QString error = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY2(error.contains(catalogue.filePath(named)) && error.contains(says), qPrintable(error));
    QVERIFY(fixture::FolderSnapshot(catalogue.base()) == before);
    QCOMPARE(entries(catalogue.base()), entriesBefore);
}

QTEST_GUILESS_MAIN(Reports)
#include "test_reports.moc"
