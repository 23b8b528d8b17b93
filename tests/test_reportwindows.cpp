// The report windows over the commands' catalogue: the loan history follows the main
// window, keeps its overdue limit in a section of its own, and the who-has-what document
// and the windows' saving fail or succeed as a user would expect.
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QProgressDialog>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>
#include <chrono>
#include <thread>

#include "app/Unit1.h"
#include "dialogs/Unit2.h"
#include "reports/exporter.h"
#include "reports/historywindow.h"
#include "reports/loanmodel.h"
#include "reports/reportsmenu.h"
#include "reports/savefile.h"
#include "reports/whohaswhat.h"
#include "settings/settingsfile.h"
#include "store/database.h"
#include "tests/commands_fixture.h"
#include "tests/file_faults.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"

namespace {

const store::Date kToday{2024, 4, 1};

// The history grid's rows as shown, cells joined by "|".
QStringList gridRows(const HistoryWindow& window) {
    QStringList rows;
    const LoanModel& model = *window.findChild<LoanModel*>();
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c) cells << model.index(r, c).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

// A page of a PDF as pdftotext reads it: its height and its words with their boxes, in
// points.
struct PdfPage {
    struct Word {
        QString text;
        double top, height;
    };
    double height = 0;
    QList<Word> words;
};

QList<PdfPage> pdfPages(const QString& pdf) {
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"),
                    {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    pdftotext.waitForFinished();
    QList<PdfPage> pages;
    QXmlStreamReader xml(pdftotext.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto number = [&](const char* name) {
            return xml.attributes().value(QLatin1String(name)).toDouble();
        };
        if (xml.name() == QLatin1String("page")) {
            pages.append(PdfPage{number("height"), {}});
        } else if (xml.name() == QLatin1String("word") && !pages.isEmpty()) {
            const double top = number("yMin"), height = number("yMax") - top;
            pages.last().words.append(PdfPage::Word{xml.readElementText(), top, height});
        }
    }
    return pages;
}

// A control of a report window, by its name in the window's layout.
template <typename Control>
Control* control(const QWidget& window, const char* name) {
    auto* found = window.findChild<Control*>(QLatin1String(name));
    if (!found) qFatal("no control %s", name);
    return found;
}

ReportsMenu& reportsMenu(TForm1& form) {
    return *form.findChild<ReportsMenu*>(QStringLiteral("ReportsMenu"));
}

// The history window opened from the menu, counting from kToday.
// The history's list of loans, whose current row "Закрыть выдачу" closes.
ListQuery& historyLoans(const HistoryWindow& window) {
    return *window.findChild<ListQuery*>(QStringLiteral("Loans"));
}

HistoryWindow& openHistory(TForm1& form) {
    form.ui->ActionLoanHistory->trigger();
    HistoryWindow& window = *reportsMenu(form).historyWindow();
    window.setToday(kToday);
    window.refresh();
    return window;
}

}  // namespace

class ReportWindows : public QObject {
    Q_OBJECT

private slots:
    void init() { setSettingsFilePath(settings_.filePath("Korvalen.ini")); }
    void cleanup() {
        setSettingsFilePath({});
        QFile::remove(settings_.filePath("Korvalen.ini"));
    }
    void historyFollowsTheMainWindow();
    void aLoanOfADeletedDiskIsClosedByHand();
    void windowsServeTheKeyboardAndScreenReaders();
    void settingsHaveASectionOfTheirOwn();
    void whoHasWhatGroupsByDebtorAndSavesPdf();
    void savingSaysSoInFrontOfTheWindow();
    void savingToAReadOnlyFolderLeavesNothing();
    void savingOnAWorkerStopsAtCancel();
    void savingOverTheCatalogueIsRefused_data();
    void savingOverTheCatalogueIsRefused();

private:
    QTemporaryDir settings_;
};

// Loans of the fixture plus one of a deleted disk (9, ёлкина, 01.02.2024, still out).
void ReportWindows::historyFollowsTheMainWindow() {
    CommandsFixture f;
    CommandsFixture::raw("INSERT INTO dolg_db.Dolg VALUES (9, 2, '2024-02-01', NULL, 1)");
    f.form1().show();
    HistoryWindow& history = openHistory(f.form1());
    QVERIFY(history.isVisible());
    QCOMPARE(gridRows(history),
             QStringList({"9|диск удалён|ёлкина мария|01.02.2024||60|диск удалён",
                          "6|Rock'n'Roll|Петров Пётр|05.03.2024||27|",
                          "2|Abbey Road|Егоров Пётр|10.01.2024|01.02.2024|22|",
                          "1|Матрица|Иванов Сергей|01.03.2024||31|просрочен"}));
    const LoanModel& grid = *history.findChild<LoanModel*>();
    QVERIFY(grid.index(0, 3).data(Qt::ForegroundRole).isValid());
    QVERIFY(!grid.index(1, 3).data(Qt::ForegroundRole).isValid());
    QTRY_COMPARE(control<QLabel>(history, "SummaryLabel")->text(),
                 "Выдач: 4, на руках: 3, из них просрочено: 1, в среднем дней на руках: 35,0");

    // A take-back and a lend in the main window show at once: the window hears of the
    // commits themselves, while the main window's lent-disks list stays silent (and its
    // window hidden, whose grid would show the silent list's old rows).
    f.form1().hide();
    {
        const QSignalBlocker lentListSilent(f.form1().Query6);
        QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
        f.form1().Button1Click();
        QTRY_VERIFY(gridRows(history).last().startsWith("1|Матрица|Иванов Сергей|01.03.2024|" +
                                                        CommandsFixture::today() + "|"));
        QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Новогодние ПЕСНИ"));
        Form2->showModal = [](TForm2& dialog) { dialog.Button1Click(); };
        f.form1().Button2Click();
        QTRY_VERIFY(gridRows(history).front().startsWith("3|Новогодние ПЕСНИ|Егоров Пётр|" +
                                                         CommandsFixture::today() + "||"));
    }
    f.form1().Query6->reopen();
    f.form1().show();

    // "Только текущий диск" follows the main window's current disk.
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    control<QCheckBox>(history, "CurrentDiskOnly")->setChecked(true);
    QTRY_COMPARE(gridRows(history).size(), 1);
    QVERIFY(gridRows(history).front().contains("|Матрица|"));
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Abbey Road"));
    QTRY_VERIFY(gridRows(history).front().contains("|Abbey Road|"));
    QCOMPARE(control<QLabel>(history, "CurrentDiskLabel")->text(), "№ 2 «Abbey Road»");
    QCOMPARE(f.boxes.errors(), QStringList());
}

// "Закрыть выдачу": refused for a disk still in the catalogue without a question; the
// open loan of a deleted disk closed today once confirmed, and only then.
void ReportWindows::aLoanOfADeletedDiskIsClosedByHand() {
    CommandsFixture f;
    CommandsFixture::raw("INSERT INTO dolg_db.Dolg VALUES (9, 2, '2024-02-01', NULL, 1)");
    HistoryWindow& history = openHistory(f.form1());
    QVERIFY(historyLoans(history).setCurrentRow(3));  // Матрица, out
    control<QAbstractButton>(history, "CloseLoanButton")->click();
    QCOMPARE(f.boxes.shown, QStringList("information: Диск № 1 есть в каталоге: его выдачу "
                                        "закрывает кнопка «Забрать диск» в главном окне."));
    QVERIFY(historyLoans(history).setCurrentRow(0));  // disk 9, deleted
    f.boxes.answers = {false, true};
    control<QAbstractButton>(history, "CloseLoanButton")->click();
    QCOMPARE(gridRows(history).front(), "9|диск удалён|ёлкина мария|01.02.2024||60|диск удалён");
    QVERIFY(historyLoans(history).setCurrentRow(0));
    control<QAbstractButton>(history, "CloseLoanButton")->click();
    QCOMPARE(f.boxes.shown.filter("confirm: ").size(), 2);
    const QString closed = gridRows(history).front();
    QVERIFY2(closed.startsWith("9|диск удалён|ёлкина мария|01.02.2024|" + CommandsFixture::today() +
                               "|") &&
                 closed.endsWith("|"),
             qPrintable(closed));
    QCOMPARE(CommandsFixture::rows("select Dolg from \"base\\Dolg.db\" where NomCD = 9"),
             QStringList("False"));
    QCOMPARE(f.boxes.errors(), QStringList());
}

// Both windows are windows to AT-SPI, their labels read as they show, each control has
// an Alt letter of its own, and Tab goes round the history window through every control
// and out of the grid, Shift+Tab the same way back.
void ReportWindows::windowsServeTheKeyboardAndScreenReaders() {
    CommandsFixture f;
    f.form1().show();
    HistoryWindow& history = openHistory(f.form1());
    f.form1().ui->ActionWhoHasWhat->trigger();
    WhoHasWhatWindow& who = *reportsMenu(f.form1()).whoHasWhatWindow();
    for (QWidget* window : {static_cast<QWidget*>(&history), static_cast<QWidget*>(&who)}) {
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(window);
        QCOMPARE(accessible->role(), QAccessible::Window);
        QCOMPARE(accessible->text(QAccessible::Name), window->windowTitle());
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            QTRY_VERIFY2(!label->text().isEmpty(), qPrintable(label->objectName()));
            const QString read = QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label))
                                     ->text(QAccessible::Name);
            QCOMPARE(read, QString(label->text()).remove('&'));
        }
        QStringList letters;
        for (const QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->focusPolicy() != Qt::NoFocus)  // not the grid's corner
                letters << QKeySequence::mnemonic(button->text()).toString().toLower();
        for (const QLabel* label : window->findChildren<QLabel*>())
            if (label->buddy())
                letters << QKeySequence::mnemonic(label->text()).toString().toLower();
        QVERIFY2(!letters.contains(QString()), qPrintable(letters.join(' ')));
        QCOMPARE(QSet<QString>(letters.begin(), letters.end()).size(), letters.size());
    }

    history.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&history));
    QWidget* first = control<QWidget>(history, "CurrentDiskOnly");
    first->setFocus();
    const auto goRound = [&](Qt::KeyboardModifiers modifiers) {
        QList<QWidget*> passed{first};
        for (int i = 0; i < 60 && (passed.size() == 1 || passed.last() != first); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            if (QApplication::focusWidget() != passed.last())  // a date's days, months, years
                passed << QApplication::focusWidget();
        }
        return passed;
    };
    const QList<QWidget*> forward = goRound(Qt::NoModifier);
    QCOMPARE(forward.last(), first);
    for (QWidget* control : std::initializer_list<QWidget*>{
             control<QWidget>(history, "DebtorBox"), control<QWidget>(history, "OverdueDays"),
             control<QWidget>(history, "HistoryGrid"), control<QWidget>(history, "ExportButton"),
             control<QWidget>(history, "CloseLoanButton"),
             control<QWidget>(history, "CloseButton")})
        QVERIFY2(forward.contains(control), qPrintable(control->objectName()));
    QList<QWidget*> backward = goRound(Qt::ShiftModifier);
    std::reverse(backward.begin(), backward.end());
    QCOMPARE(backward, forward);
}

void ReportWindows::settingsHaveASectionOfTheirOwn() {
    CommandsFixture f;
    HistoryWindow& history = openHistory(f.form1());
    QCOMPARE(control<QSpinBox>(history, "OverdueDays")->value(), 30);
    control<QSpinBox>(history, "OverdueDays")->setValue(40);  // the open loan is out 31 days
    QTRY_VERIFY(gridRows(history).last().startsWith("1|Матрица"));
    f.form1().close();
    const QSettings ini(settingsFilePath(), QSettings::IniFormat);
    QCOMPARE(ini.value("reports/overdue_days").toInt(), 40);
    QCOMPARE(ini.value("param/page").toInt(), 1);  // the main window's section as before
    HistoryWindow again(*f.form1().Query5);
    QCOMPARE(control<QSpinBox>(again, "OverdueDays")->value(), 40);

    // The window's place and size come back as left, and within the screen however
    // they were left.
    again.show();
    again.move(30, 40);
    again.resize(700, 400);
    again.close();
    HistoryWindow third(*f.form1().Query5);
    QCOMPARE(QRect(third.pos(), third.size()), QRect(30, 40, 700, 400));
    {
        QSettings place(settingsFilePath(), QSettings::IniFormat);
        place.setValue("reports/history_x", 5000);
        place.setValue("reports/history_height", 5000);
    }
    HistoryWindow fourth(*f.form1().Query5);
    const QRect screen = fourth.screen()->availableGeometry();
    QVERIFY2(screen.contains(QRect(fourth.pos(), fourth.size())),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(fourth.x())
                            .arg(fourth.y())
                            .arg(fourth.width())
                            .arg(fourth.height())));
}

void ReportWindows::whoHasWhatGroupsByDebtorAndSavesPdf() {
    CommandsFixture f;
    CommandsFixture::raw(
        "INSERT INTO sprdolgnik_db.SprDolgnik VALUES (5, 'Антонов <Антон>');"
        "INSERT INTO dolg_db.Dolg VALUES (2, 5, '2024-03-30', NULL, 1), (3, 1, '2024-03-31', NULL, "
        "1)");
    f.form1().ui->ActionWhoHasWhat->trigger();
    WhoHasWhatWindow& who = *reportsMenu(f.form1()).whoHasWhatWindow();
    who.setToday(kToday);
    const QString html = who.documentHtml();
    const qsizetype antonov = html.indexOf("<h2>Антонов &lt;Антон&gt;</h2>");
    const qsizetype ivanov = html.indexOf("<h2>Иванов Сергей</h2>");
    const qsizetype petrov = html.indexOf("<h2>Петров Пётр</h2>");
    QVERIFY2(antonov > 0 && ivanov > antonov && petrov > ivanov, qPrintable(html));
    QCOMPARE(html.count("<h2>"), 3);  // Иванов's two disks under one heading
    QCOMPARE(html.count("просрочен</b>"), 1);
    const QTemporaryDir tmp;
    const QString pdf = tmp.filePath("who.pdf");
    QVERIFY(who.saveAsPdf(pdf));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");

    // Sixty loans of eight more debtors, read back from the page: sizes a person reads
    // on paper whatever the screen's font, every name there, every page numbered.
    CommandsFixture::raw(
        "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 59) "
        "INSERT INTO main.CDBase(N, Name, Opisan, Kategory, Tip, Dolg) "
        "SELECT 100 + i, 'Сборник' || (100 + i), '', 1, 1, TRUE FROM k;"
        "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 59) "
        "INSERT INTO sprdolgnik_db.SprDolgnik SELECT 10 + i, 'Должник' || (10 + i) FROM k "
        "WHERE i < 8;"
        "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 59) "
        "INSERT INTO dolg_db.Dolg SELECT 100 + i, 10 + i % 8, '2024-03-01', NULL, 1 FROM k;");
    const QFont testFont = QApplication::font();
    QFont screenFont = testFont;  // the program's, set in pixels
    screenFont.setPixelSize(11);
    QApplication::setFont(screenFont);
    const bool saved = who.saveAsPdf(pdf);
    QApplication::setFont(testFont);
    QVERIFY(saved);
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed to read the PDF back");
    const QList<PdfPage> pages = pdfPages(pdf);
    QVERIFY(pages.size() >= 2);
    QCOMPARE(pages[0].words.value(0).text, "Кто");
    QVERIFY2(pages[0].words[0].height >= 13, qPrintable(QString::number(pages[0].words[0].height)));
    QStringList words;
    for (qsizetype p = 0; p < pages.size(); ++p) {
        bool numbered = false;
        for (const PdfPage::Word& w : pages[p].words) {
            QVERIFY2(w.height >= 9, qPrintable(w.text + " " + QString::number(w.height)));
            numbered |= w.text == QString::number(p + 1) && w.top > pages[p].height * 0.85;
            words << w.text;
        }
        QVERIFY2(numbered, qPrintable(QString::number(p + 1)));
    }
    for (int i = 0; i < 60; ++i) QVERIFY(words.contains(QStringLiteral("Сборник%1").arg(100 + i)));
    for (int i = 0; i < 8; ++i) QVERIFY(words.contains(QStringLiteral("Должник%1").arg(10 + i)));
}

// The disk list saved and the catalogue copied: each says so in a box over the main
// window, the progress dialog gone by then.
void ReportWindows::savingSaysSoInFrontOfTheWindow() {
    CommandsFixture f;
    const QTemporaryDir tmp;
    QVERIFY(reports::exportToPath(&f.form1(), f.form1().Query5->query(), reports::diskExport(),
                                  tmp.filePath("disks.csv")));
    QVERIFY(reports::backupTo(&f.form1(), tmp.path()));
    const QStringList said = f.boxes.informations();
    QCOMPARE(said.size(), 2);
    QVERIFY2(
        said[0].startsWith("Записано строк: ") && said[1].startsWith("Копия каталога записана"),
        qPrintable(said.join('|')));
    QCOMPARE(f.boxes.parents, QList<QWidget*>({&f.form1(), &f.form1()}));
    QCOMPARE(f.boxes.underProgress, 0);
}

// Saving the disk list or a backup into a folder that cannot be written: a clear
// message, and no file or folder left there.
void ReportWindows::savingToAReadOnlyFolderLeavesNothing() {
    CommandsFixture f;
    QTemporaryDir tmp;
    const QString folder = tmp.filePath("target");
    QDir().mkpath(folder);
    faults::ReadOnlyMount mount(folder.toStdString());
    if (!mount.mounted()) QSKIP("this process may not mount a file system of its own here");
    QVERIFY(!reports::exportToPath(&f.form1(), f.form1().Query5->query(), reports::diskExport(),
                                   folder + "/disks.csv"));
    QVERIFY(!reports::backupTo(&f.form1(), folder));
    const QStringList errors = f.boxes.errors();
    QCOMPARE(errors.size(), 2);
    QVERIFY2(errors[0].startsWith("Не удалось записать файл " + folder + "/disks.csv"),
             qPrintable(errors[0]));
    QVERIFY2(errors[1].contains("Копия не записана"), qPrintable(errors[1]));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

// An export written on a worker while the window stays drawn, its catalogue kept busy by
// another program: the progress dialog says so, and its "Отмена" stops the wait; no file
// is left and no box shown.
void ReportWindows::savingOnAWorkerStopsAtCancel() {
    CommandsFixture f;
    const QTemporaryDir tmp;
    QString said;
    QTimer cancel;
    QElapsedTimer waited;
    waited.start();
    connect(&cancel, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QProgressDialog*>(w);
                dialog && dialog->isVisible() &&
                (dialog->labelText().contains("занят") || waited.elapsed() > 10000)) {
                said = dialog->labelText();
                dialog->cancel();
            }
    });
    cancel.start(20);
    const auto busy = [](reports::Format, std::ostream&, const reports::WorkerHooks& hooks) {
        for (double waited = 0; hooks.waitForCatalogue(waited); waited += 0.01)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return int64_t{0};  // would write an empty file, were it not cancelled
    };
    QVERIFY(!reports::exportOnWorker(&f.form1(),
                                     f.form1().Query5->query().databaseForRun()->baseDir(), busy,
                                     tmp.filePath("rows.csv")));
    QCOMPARE(said, "Каталог занят другой программой, ждём…");
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(f.boxes.shown, QStringList());
}

// "Сохранить список дисков..." onto a table of the catalogue, or onto the settings file
// that the window itself writes on closing: refused after the dialog's "Заменить?", the
// file byte for byte as before.
void ReportWindows::savingOverTheCatalogueIsRefused_data() {
    QTest::addColumn<bool>("settings");  // the settings file, else CDBase.DB
    QTest::addColumn<QString>("says");
    QTest::newRow("a table file") << false << "— таблица каталога";
    QTest::newRow("the settings file") << true << "— файл настроек Korvalen";
}

void ReportWindows::savingOverTheCatalogueIsRefused() {
    QFETCH(bool, settings);
    QFETCH(QString, says);
    CommandsFixture f;
    const QString path = settings ? settingsFilePath() : QDir::current().filePath("base/CDBase.DB");
    if (settings) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[param]\npage=2\n") > 0);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    QVERIFY(
        !reports::exportToPath(&f.form1(), f.form1().Query5->query(), reports::diskExport(), path));
    QCOMPARE(f.boxes.errors(), QStringList("Файл " + path + " " + says +
                                           "; сохраните список в другое место.\nФайл не записан."));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

QTEST_MAIN(ReportWindows)
#include "test_reportwindows.moc"
