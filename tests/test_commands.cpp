// The disk and lending commands of the main window, with the two dialogs they show,
// against a real catalogue.
#include <QSignalSpy>
#include <QTest>

#include "app/Unit1.h"
#include "commands/changes.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "tests/commands_fixture.h"
#include "ui_Unit1.h"
#include "ui_Unit2.h"
#include "ui_Unit3.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"

namespace {

const QString kDisks =
    "select N, Name, Opisan, Kategory, Tip, Dolg from \"base\\CDBase.db\" order by N";
const QString kLoans =
    "select NomCD, Dolgnik, DatN, DatK, Dolg from \"base\\Dolg.db\" order by DatN";

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CommandsFixture> fx;
    TForm1& f() { return fx->form1(); }
    RecordingMessages& boxes() { return fx->boxes; }
    void selectDisk(const QString& name) { QVERIFY(fx->select(*f().Query5, "Name", name)); }

private slots:
    void init() { fx = std::make_unique<CommandsFixture>(); }
    void cleanup() { fx.reset(); }

    void addDiskInsertsTheEditorsChoiceAndReopensTheDiskList();
    void addThenCancelWritesNothing();
    void saveRefusesAnEmptyOrOneBlankName();
    void editShowsTheDiskAndKeepsItsCategoryAndMediaType();
    void deleteAsksThenDeletesKeepingLoans();
    void emptyDiskListIsRefusedBeforeAnyStatement();
    void saveIsRefusedWithoutCategoriesOrMediaTypes();

    void lendIsRefusedForALentDisk();
    void lendWritesFlagAndLoanToTheDebtorTheBoxShows();
    void lendThenCancelOnlyReopensTheLentList();
    void lendIsRefusedWithoutDebtors();
    void takeBackIsRefusedForADiskNotLent();
    void takeBackAsksThenClosesTheLoan();
    void lendAndTakeBackOnOneDayLeaveOneClosedRow();
    void lendIsOneUnit();
    void takeBackIsOneUnit();

    void rowDeletedElsewhereIsReportedAndNothingWritten_data();
    void rowDeletedElsewhereIsReportedAndNothingWritten();
};

void CommandsTest::addDiskInsertsTheEditorsChoiceAndReopensTheDiskList() {
    EditMode = true;
    Form3->ui->LabeledEdit1->setText("осталось от прошлого раза");
    ReopenSpy spy;
    bool shown = false;
    Form3->showModal = [&](TForm3& editor) {
        shown = true;
        QCOMPARE(EditMode, false);
        QCOMPARE(editor.ui->LabeledEdit1->text(), QString());
        QCOMPARE(editor.ui->Memo1->toPlainText(), QString());
        editor.ui->LabeledEdit1->setText("  Новый 'диск' \"с кавычками\" ");
        editor.ui->Memo1->setPlainText("первая строка\nвторая строка");
        editor.ui->DBLookupComboBox1->choose(editor.Query1->findRow("Name", "Ёлка"));
        editor.ui->DBLookupComboBox2->choose(editor.Query2->findRow("Tip", "DVD-R"));
        editor.Button4Click();
    };
    f().Button3Click();
    QVERIFY(shown);
    QCOMPARE(fx->rows(kDisks).last(),
             "9|  Новый 'диск' \"с кавычками\" |первая строка\r\nвторая строка|3|2|False");
    QCOMPARE(CommandsFixture::lines(f().Query4), CommandsFixture::lines(statements::addDisk()));
    QVERIFY(!f().Query4.isOpen());
    QCOMPARE(spy.opened, QStringList({"Query5"}));
    QCOMPARE(f().Query5->currentRow(), 0);
    // Every close clears the name and the description.
    QCOMPARE(Form3->ui->LabeledEdit1->text(), QString());
    QCOMPARE(Form3->ui->Memo1->toPlainText(), QString());
    QVERIFY(boxes().shown.isEmpty());
}

void CommandsTest::addThenCancelWritesNothing() {
    const QStringList before = fx->rows(kDisks);
    ReopenSpy spy;
    Form3->showModal = [](TForm3& editor) {
        editor.ui->LabeledEdit1->setText("Не сохранять");
        editor.Button3Click();
    };
    f().Button3Click();
    QCOMPARE(fx->rows(kDisks), before);
    QVERIFY(spy.opened.isEmpty());
    QCOMPARE(Form3->ui->LabeledEdit1->text(), QString());
}

void CommandsTest::saveRefusesAnEmptyOrOneBlankName() {
    const QStringList before = fx->rows(kDisks);
    for (const QString name : {"", " "}) {
        Form3->showModal = [&](TForm3& editor) {
            editor.ui->LabeledEdit1->setText(name);
            editor.ui->Memo1->setPlainText("описание");
            editor.Button4Click();
        };
        f().Button3Click();
        QCOMPARE(fx->rows(kDisks), before);
        QCOMPARE(Form3->ui->Memo1->toPlainText(), QString());
    }
    QCOMPARE(boxes().shown, QStringList({"information: Введите название диска!",
                                         "information: Введите название диска!"}));
    // Two blanks are a name.
    Form3->showModal = [](TForm3& editor) {
        editor.ui->LabeledEdit1->setText("  ");
        editor.Button4Click();
    };
    f().Button3Click();
    QCOMPARE(fx->rows(kDisks).size(), before.size() + 1);
}

void CommandsTest::editShowsTheDiskAndKeepsItsCategoryAndMediaType() {
    // The editor's last choice was Фильмы on DVD-R ...
    Form3->showModal = [](TForm3& editor) {
        editor.ui->LabeledEdit1->setText("Другой диск");
        editor.ui->DBLookupComboBox1->choose(editor.Query1->findRow("Name", "Фильмы"));
        editor.ui->DBLookupComboBox2->choose(editor.Query2->findRow("Tip", "DVD-R"));
        editor.Button4Click();
    };
    f().Button3Click();
    // ... and Abbey Road is музыка on CD-R: saved untouched, it stays so.
    selectDisk("Abbey Road");
    ReopenSpy spy;
    Form3->showModal = [](TForm3& editor) {
        QCOMPARE(EditMode, true);
        QCOMPARE(editor.ui->LabeledEdit1->text(), QString("Abbey Road"));
        QCOMPARE(editor.ui->Memo1->toPlainText(), QString("Лучшие песни\nДва диска"));
        QCOMPARE(editor.ui->DBLookupComboBox1->currentText(), QString("музыка"));
        QCOMPARE(editor.ui->DBLookupComboBox2->currentText(), QString("CD-R"));
        editor.Button4Click();
    };
    f().Button5Click();
    QCOMPARE(fx->rows(kDisks)[1], "2|Abbey Road|Лучшие песни\r\nДва диска|2|1|False");
    QCOMPARE(CommandsFixture::lines(f().Query4), CommandsFixture::lines(statements::editDisk(2)));
    QCOMPARE(spy.opened, QStringList({"Query5"}));

    // A new choice in the editor is saved; the lent-disks list is not reopened.
    selectDisk("Матрица");
    Form3->showModal = [](TForm3& editor) {
        editor.ui->LabeledEdit1->setText("Матрица 2");
        editor.ui->DBLookupComboBox1->choose(editor.Query1->findRow("Name", "Документы"));
        editor.Button4Click();
    };
    f().Button5Click();
    QCOMPARE(fx->rows(kDisks)[0], "1|Матрица 2|Фильм о выборе|4|2|True");
    QCOMPARE(spy.opened, QStringList({"Query5", "Query5"}));

    // Cancel writes nothing and leaves the current disk current.
    selectDisk("Новогодние ПЕСНИ");
    const QStringList before = fx->rows(kDisks);
    Form3->showModal = [](TForm3& editor) {
        editor.ui->LabeledEdit1->setText("не то");
        editor.Button3Click();
    };
    f().Button5Click();
    QCOMPARE(fx->rows(kDisks), before);
    QCOMPARE(f().Query5->text("Name"), QString("Новогодние ПЕСНИ"));
}

void CommandsTest::deleteAsksThenDeletesKeepingLoans() {
    const QStringList disks = fx->rows(kDisks);
    const QStringList loans = fx->rows(kLoans);
    selectDisk("Матрица");
    ReopenSpy spy;
    boxes().answers = {false};
    f().Button4Click();
    QCOMPARE(boxes().shown,
             QStringList({"confirm: Вы действительно хотите удалить диск \"Матрица\""}));
    QCOMPARE(fx->rows(kDisks), disks);
    QVERIFY(spy.opened.isEmpty());

    // A lent disk goes; its open loan row stays and keeps being listed until the
    // lent-disks list is next reopened.
    f().Button4Click();
    QCOMPARE(fx->rows(kDisks), disks.mid(1));
    QCOMPARE(fx->rows(kLoans), loans);
    QCOMPARE(CommandsFixture::lines(f().Query4), CommandsFixture::lines(statements::deleteDisk(1)));
    QCOMPARE(spy.opened, QStringList({"Query5"}));
    QCOMPARE(f().Query5->currentRow(), 0);
    QCOMPARE(f().Query6->text("Name"), QString("Матрица"));
}

void CommandsTest::emptyDiskListIsRefusedBeforeAnyStatement() {
    fx->raw("DELETE FROM main.CDBase");
    f().Query5->reopen();
    const QStringList loans = fx->rows(kLoans);
    ReopenSpy spy;
    bool dialogShown = false;
    Form2->showModal = [&](TForm2&) { dialogShown = true; };
    Form3->showModal = [&](TForm3&) { dialogShown = true; };
    f().Button1Click();
    f().Button2Click();
    f().Button4Click();
    f().Button5Click();
    Form2->Button1Click();
    EditMode = true;
    Form3->ui->LabeledEdit1->setText("Диск");
    Form3->Button4Click();
    QVERIFY(!dialogShown);
    // Taking back asks only whether the current disk is lent: with no disk, it is not.
    QCOMPARE(boxes().shown, QStringList{"information: Этот диск вы не отдавали!"} +
                                QStringList(5, "information: Список дисков пуст!"));
    QCOMPARE(fx->rows(kLoans), loans);
    QVERIFY(fx->rows(kDisks).isEmpty());
    QVERIFY(spy.opened.isEmpty());
}

void CommandsTest::saveIsRefusedWithoutCategoriesOrMediaTypes() {
    const QStringList disks = fx->rows(kDisks);
    struct Case {
        const char* clear;
        ListQuery* list;
        QString message;
    };
    for (const Case& c : {Case{"DELETE FROM sprtype_db.SprType", Form3->Query2,
                               "information: Справочник носителей пуст!"},
                          Case{"DELETE FROM sprkategoy_db.SprKategoy", Form3->Query1,
                               "information: Справочник категорий пуст!"}}) {
        fx->raw(c.clear);
        c.list->reopen();
        boxes().shown.clear();
        EditMode = false;
        Form3->ui->LabeledEdit1->setText("Диск без категории");
        Form3->Button4Click();
        QCOMPARE(boxes().shown, QStringList({c.message}));
        QCOMPARE(fx->rows(kDisks), disks);
        // The editor stays open with what the user typed.
        QCOMPARE(Form3->ui->LabeledEdit1->text(), QString("Диск без категории"));
    }
}

void CommandsTest::lendIsRefusedForALentDisk() {
    selectDisk("Матрица");
    ReopenSpy spy;
    Form2->showModal = [](TForm2&) { QFAIL("the lend dialog opened"); };
    f().Button2Click();
    QCOMPARE(boxes().shown, QStringList({"information: Этот диск вы уже отдали!"}));
    QVERIFY(spy.opened.isEmpty());
}

void CommandsTest::lendWritesFlagAndLoanToTheDebtorTheBoxShows() {
    selectDisk("Новогодние ПЕСНИ");
    ReopenSpy spy;
    QSignalSpy announced(&command::Changes::instance(), &command::Changes::written);
    Form2->showModal = [](TForm2& dialog) {
        // Nothing chosen yet: the box shows the first debtor by name, the one lent to.
        QCOMPARE(dialog.ui->DBLookupComboBox1->currentText(), QString("Егоров Пётр"));
        dialog.Button1Click();
    };
    f().Button2Click();
    QCOMPARE(fx->rows(kDisks)[2], "3|Новогодние ПЕСНИ||3|1|True");
    QCOMPARE(fx->rows(kLoans).last(), "3|3|" + fx->today() + "||True");
    QCOMPARE(CommandsFixture::lines(f().Query4), CommandsFixture::lines(statements::openLoan()));
    QCOMPARE(spy.opened, QStringList({"Query5", "Query6"}));
    // One announcement once committed, of both tables the unit wrote.
    QCOMPARE(announced.count(), 1);
    QCOMPARE(announced[0][0].value<command::Tables>(),
             (command::Tables{store::Table::Disks, store::Table::Loans}));
    QCOMPARE(f().Query5->currentRow(), 0);
    QVERIFY(f().Query6->findRow("Name", "Новогодние ПЕСНИ") >= 0);

    // A chosen debtor is the one lent to.
    selectDisk("Abbey Road");
    Form2->showModal = [](TForm2& dialog) {
        dialog.ui->DBLookupComboBox1->choose(dialog.Query1->findRow("Dolgnik", "ёлкина мария"));
        dialog.Button1Click();
    };
    f().Button2Click();
    QCOMPARE(fx->rows(kLoans).last(), "2|2|" + fx->today() + "||True");
    QVERIFY(boxes().shown.isEmpty());
}

void CommandsTest::lendThenCancelOnlyReopensTheLentList() {
    selectDisk("Новогодние ПЕСНИ");
    const QStringList disks = fx->rows(kDisks);
    const QStringList loans = fx->rows(kLoans);
    ReopenSpy spy;
    Form2->showModal = [](TForm2& dialog) { dialog.Button2Click(); };
    f().Button2Click();
    QCOMPARE(fx->rows(kDisks), disks);
    QCOMPARE(fx->rows(kLoans), loans);
    QCOMPARE(spy.opened, QStringList({"Query6"}));
}

void CommandsTest::lendIsRefusedWithoutDebtors() {
    fx->raw("DELETE FROM sprdolgnik_db.SprDolgnik");
    Form2->Query1->reopen();
    selectDisk("Новогодние ПЕСНИ");
    const QStringList disks = fx->rows(kDisks);
    const QStringList loans = fx->rows(kLoans);
    Form2->showModal = [](TForm2&) { QFAIL("the lend dialog opened"); };
    f().Button2Click();
    Form2->Button1Click();
    QCOMPARE(boxes().shown, QStringList(2, "information: Справочник должников пуст!"));
    QCOMPARE(fx->rows(kDisks), disks);
    QCOMPARE(fx->rows(kLoans), loans);
}

void CommandsTest::takeBackIsRefusedForADiskNotLent() {
    selectDisk("Abbey Road");
    ReopenSpy spy;
    f().Button1Click();
    QCOMPARE(boxes().shown, QStringList({"information: Этот диск вы не отдавали!"}));
    QVERIFY(spy.opened.isEmpty());
    // A disk whose flag has no value is not lent either.
    fx->raw("UPDATE main.CDBase SET Dolg = NULL WHERE N = 3");
    f().Query5->reopen();
    selectDisk("Новогодние ПЕСНИ");
    f().Button1Click();
    QCOMPARE(boxes().shown.last(), "information: Этот диск вы не отдавали!");
}

void CommandsTest::takeBackAsksThenClosesTheLoan() {
    selectDisk("Матрица");
    const QStringList disks = fx->rows(kDisks);
    const QStringList loans = fx->rows(kLoans);
    ReopenSpy spy;
    boxes().answers = {false};
    f().Button1Click();
    QCOMPARE(boxes().shown, QStringList({"confirm: Подтвердите, что забираете диск \"Матрица\""}));
    QCOMPARE(fx->rows(kDisks), disks);
    QCOMPARE(fx->rows(kLoans), loans);
    QVERIFY(spy.opened.isEmpty());

    f().Button1Click();
    QCOMPARE(fx->rows(kDisks)[0], "1|Матрица|Фильм о выборе|1|2|False");
    QCOMPARE(fx->rows(kLoans),
             QStringList({"2|3|10.01.2024|01.02.2024|False",
                          "1|1|01.03.2024|" + fx->today() + "|False", "6|4|05.03.2024||True"}));
    QCOMPARE(CommandsFixture::lines(f().Query4),
             CommandsFixture::lines(statements::closeOpenLoans()));
    QCOMPARE(spy.opened, QStringList({"Query5", "Query6"}));
    // Only Rock'n'Roll is out now.
    QCOMPARE(f().Query6->findRow("Name", "Матрица"), -1);
    QCOMPARE(f().Query6->text("Name"), QString("Rock'n'Roll"));
}

void CommandsTest::lendAndTakeBackOnOneDayLeaveOneClosedRow() {
    selectDisk("Новогодние ПЕСНИ");
    Form2->showModal = [](TForm2& dialog) { dialog.Button1Click(); };
    f().Button2Click();
    selectDisk("Новогодние ПЕСНИ");
    f().Button1Click();
    const QString day = fx->today();
    QCOMPARE(
        fx->rows("select NomCD, Dolgnik, DatN, DatK, Dolg from \"base\\Dolg.db\" Where NomCD = 3"),
        QStringList({"3|3|" + day + "|" + day + "|False"}));
    QCOMPARE(fx->rows(kLoans).size(), 4);  // no loan row is ever deleted
}

void CommandsTest::lendIsOneUnit() {
    fx->raw(
        "CREATE TRIGGER dolg_db.refuse BEFORE INSERT ON Dolg BEGIN SELECT RAISE(ABORT, 'нет "
        "места'); END");
    selectDisk("Новогодние ПЕСНИ");
    const QStringList disks = fx->rows(kDisks);
    const QStringList loans = fx->rows(kLoans);
    const QSignalSpy announced(&command::Changes::instance(), &command::Changes::written);
    guarded([] { Form2->Button1Click(); });
    QCOMPARE(boxes().shown.size(), 1);
    QVERIFY(boxes().shown[0].startsWith("error: "));
    // The flag set by the first statement is undone with the failed insert, and a unit
    // rolled back is announced to no window.
    QCOMPARE(fx->rows(kDisks), disks);
    QCOMPARE(fx->rows(kLoans), loans);
    QCOMPARE(announced.count(), 0);
}

void CommandsTest::takeBackIsOneUnit() {
    fx->raw(
        "CREATE TRIGGER dolg_db.refuse BEFORE UPDATE ON Dolg BEGIN SELECT RAISE(ABORT, 'нет "
        "места'); END");
    selectDisk("Матрица");
    const QStringList disks = fx->rows(kDisks);
    const QStringList loans = fx->rows(kLoans);
    ReopenSpy spy;
    guarded([this] { f().Button1Click(); });
    QCOMPARE(boxes().shown.size(), 2);
    QVERIFY(boxes().shown[1].startsWith("error: "));
    QCOMPARE(fx->rows(kDisks), disks);
    QCOMPARE(fx->rows(kLoans), loans);
    QVERIFY(spy.opened.isEmpty());
    // The command query is usable again at once.
    fx->raw("DROP TRIGGER dolg_db.refuse");
    f().Button1Click();
    QCOMPARE(fx->rows(kDisks)[0], "1|Матрица|Фильм о выборе|1|2|False");
}

// Another program (or a second window) deletes the row a command stands on: the write
// by its key changes nothing, the user is told so, the lists are read anew without the
// row, and a two-statement command writes neither statement. A dialog then closes: the
// list it was opened over stands on another row by now, and a second click must not
// write that row.
using Command = std::function<void()>;
Q_DECLARE_METATYPE(Command)

namespace {

// Clicks a dialog's button as a user would retry: again while the dialog stays open.
template <class Dialog>
void clickUntilClosed(Dialog& dialog, void (Dialog::*button)()) {
    bool closed = false;
    const auto connection = QObject::connect(&dialog, &QDialog::finished, [&] { closed = true; });
    for (int click = 0; click < 2 && !closed; ++click) guarded([&] { (dialog.*button)(); });
    QObject::disconnect(connection);
}

QStringList everyRow() {
    QStringList rows = CommandsFixture::rows(kDisks) + CommandsFixture::rows(kLoans);
    for (const char* book : {"SprKategoy.db", "SprType.db", "SprDolgnik.db"})
        rows += CommandsFixture::rows(QString("select * from 'base\\%1' order by 1").arg(book));
    return rows;
}

}  // namespace

void CommandsTest::rowDeletedElsewhereIsReportedAndNothingWritten_data() {
    QTest::addColumn<QString>("list");   // the list the command acts on
    QTest::addColumn<QString>("field");  // and the row it stands on, by this field
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("deleted");  // SQLite's own SQL, run behind the window's back
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("stays");  // a disk the disk list stands on throughout
    const QString disk = "Диск не найден: его удалили в другой программе или окне.";
    const QString deleteNewYear = "DELETE FROM main.CDBase WHERE N = 3";
    QTest::newRow("edit disk") << "Query5"
                               << "Name"
                               << "Новогодние ПЕСНИ" << deleteNewYear << Command([] {
                                      Form3->showModal = [](TForm3& e) {
                                          clickUntilClosed(e, &TForm3::Button4Click);
                                      };
                                      Form1->Button5Click();
                                  })
                               << disk << "";
    QTest::newRow("delete disk") << "Query5"
                                 << "Name"
                                 << "Новогодние ПЕСНИ" << deleteNewYear
                                 << Command([] { Form1->Button4Click(); }) << disk << "";
    QTest::newRow("lend disk") << "Query5"
                               << "Name"
                               << "Новогодние ПЕСНИ" << deleteNewYear << Command([] {
                                      Form2->showModal = [](TForm2& d) {
                                          QCOMPARE(d.ui->LabelDisk->toolTip(),
                                                   "Диск № 3: Новогодние ПЕСНИ");
                                          clickUntilClosed(d, &TForm2::Button1Click);
                                      };
                                      Form1->Button2Click();
                                  })
                               << disk << "";
    QTest::newRow("take back disk") << "Query5"
                                    << "Name"
                                    << "Матрица"
                                    << "DELETE FROM main.CDBase WHERE N = 1"
                                    << Command([] { Form1->Button1Click(); }) << disk << "";
    QTest::newRow("rename category")
        << "Query1"
        << "Категория"
        << "Документы"
        << "DELETE FROM SprKategoy WHERE Num = 4; DELETE FROM main.CDBase WHERE N = 2"
        << Command([] {
               Form1->ui->Edit1->setText("Книги");
               Form1->ButtonRenameKategoryClick();
               Form1->ButtonRenameKategoryClick();  // the name went with the entry
           })
        << "Категория не найдена: её удалили в другой программе или окне."
        << "Rock'n'Roll";
    QTest::newRow("delete debtor") << "Query3"
                                   << "Должник"
                                   << "ёлкина мария"
                                   << "DELETE FROM SprDolgnik WHERE N = 2"
                                   << Command([] { Form1->ButtonDeleteDolgnikClick(); })
                                   << "Должник не найден: его удалили в другой программе или окне."
                                   << "Half-Life 2";
}

void CommandsTest::rowDeletedElsewhereIsReportedAndNothingWritten() {
    QFETCH(QString, list);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, deleted);
    QFETCH(Command, command);
    QFETCH(QString, message);
    QFETCH(QString, stays);
    if (!stays.isEmpty()) selectDisk(stays);
    ListQuery& rows = *f().findChild<ListQuery*>(list);
    QVERIFY(fx->select(rows, field, value));
    fx->raw(deleted.toUtf8().constData());
    const QStringList before = everyRow();
    guarded(command);
    QCOMPARE(boxes().errors().size(), 1);
    QVERIFY2(boxes().errors().first().startsWith(message), qPrintable(boxes().errors().first()));
    QCOMPARE(everyRow(), before);
    QCOMPARE(rows.findRow(field, value), -1);
    if (!stays.isEmpty()) QCOMPARE(f().Query5->text("Name"), stays);
}

QTEST_MAIN(CommandsTest)
#include "test_commands.moc"
