// The add, rename and delete commands of the three reference books, against a real
// catalogue.
#include <QTest>

#include "app/Unit1.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "tests/commands_fixture.h"
#include "ui_Unit1.h"
#include "ui_Unit2.h"
#include "ui_Unit3.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"

namespace {

using Handler = void (TForm1::*)();

// What the tests expect of one book.
struct Book {
    const char* tag;
    Handler add, rename, remove;
    QLineEdit* Ui_TForm1::*edit;
    ListQuery* TForm1::*list;
    QString keyColumn, nameColumn;
    QString entries;  // the table's keys and names
    QString usedName, usedKey, freeName;
    QString emptyAdd, emptyRename, emptyBook;
    QString ask, inUse;  // %1: the entry's name
    statements::Book which;
    QStringList addReopens, renameReopens;
};

const Book kBooks[] = {
    {"categories",
     &TForm1::ButtonAddKategoryClick,
     &TForm1::ButtonRenameKategoryClick,
     &TForm1::ButtonDeleteKategoryClick,
     &Ui_TForm1::Edit1,
     &TForm1::Query1,
     "Num",
     "Категория",
     "select Num, Name from \"base\\SprKategoy.db\" order by Num",
     "Фильмы",
     "1",
     "Документы",
     "Введите наименование категории!",
     "Введите новое наименование категории!",
     "Справочник категорий пуст!",
     "Вы действительно хотите удалить категорию \"%1\"?",
     "Категорию \"%1\" удалять нельзя, т.к. она используется.",
     statements::Book::Categories,
     {"Query1", "Form3.Query1"},
     {"Query1", "Query5", "Query6", "Query8", "Form3.Query1"}},
    {"media types",
     &TForm1::ButtonAddTypeClick,
     &TForm1::ButtonRenameTypeClick,
     &TForm1::ButtonDeleteTypeClick,
     &Ui_TForm1::Edit2,
     &TForm1::Query2,
     "N",
     "Носитель",
     "select N, Tip from \"base\\SprType.db\" order by N",
     "DVD-R",
     "2",
     "Blu-ray",
     "Введите наименование носителя!",
     "Введите новое наименование носителя!",
     "Справочник носителей пуст!",
     "Вы действительно хотите удалить носитель \"%1\"?",
     "Носитель \"%1\" удалять нельзя, т.к. он используется.",
     statements::Book::MediaTypes,
     {"Query2", "Form3.Query2"},
     {"Query2", "Query5", "Query6", "Query7", "Form3.Query2"}},
    {"debtors",
     &TForm1::ButtonAddDolgnikClick,
     &TForm1::ButtonRenameDolgnikClick,
     &TForm1::ButtonDeleteDolgnikClick,
     &Ui_TForm1::Edit3,
     &TForm1::Query3,
     "N",
     "Должник",
     "select N, Dolgnik from \"base\\SprDolgnik.db\" order by N",
     "Петров Пётр",
     "1",
     "Сидоров Сидор",
     "Введите должника!",
     "Введите должника!",
     "Справочник должников пуст!",
     "Вы действительно хотите удалить должника \"%1\"?",
     "Должника \"%1\" удалять нельзя, т.к. он используется.",
     statements::Book::Debtors,
     {"Query3", "Form2.Query1"},
     {"Query3", "Query6", "Form2.Query1"}},
};

}  // namespace

class ReferenceBooksTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CommandsFixture> fx;
    TForm1& f() { return fx->form1(); }
    RecordingMessages& boxes() { return fx->boxes; }
    const Book& book() {
        QFETCH(int, index);
        return kBooks[index];
    }
    QLineEdit& edit(const Book& b) { return *(f().ui.get()->*b.edit); }
    ListQuery& list(const Book& b) { return *(f().*b.list); }
    void run(Handler handler) { (f().*handler)(); }

    void eachBook() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kBooks)); ++i) QTest::newRow(kBooks[i].tag) << i;
    }

private slots:
    void init() { fx = std::make_unique<CommandsFixture>(); }
    void cleanup() { fx.reset(); }

    void addStoresTheNameAsTyped_data() { eachBook(); }
    void addStoresTheNameAsTyped();
    void renameStoresTheNameAsTypedUnderTheSameKey_data() { eachBook(); }
    void renameStoresTheNameAsTypedUnderTheSameKey();
    void deleteAsksCountsAndDeletesOnlyWhatIsUnused_data() { eachBook(); }
    void deleteAsksCountsAndDeletesOnlyWhatIsUnused();
    void emptyBookRefusesRenameAndDelete_data() { eachBook(); }
    void emptyBookRefusesRenameAndDelete();

    void renamedNamesShowInTheDiskAndLentLists();
    void debtorWithOnlyReturnedLoansCannotBeDeleted();
    void deletedLentDiskKeepsItsDebtorInUse();
    void dialogBoxesShowWhatTheyWriteAfterTheirEntryIsRenamed();
    void menuItemsAndButtonsRunTheCommands();
};

void ReferenceBooksTest::addStoresTheNameAsTyped() {
    const Book& b = book();
    const QStringList before = fx->rows(b.entries);
    ReopenSpy spy;
    run(b.add);
    QCOMPARE(boxes().shown, QStringList({"information: " + b.emptyAdd}));
    QCOMPARE(fx->rows(b.entries), before);

    const QString name = "  Д'Артаньян \"Мушкетёр\" ";
    edit(b).setText(name);
    run(b.add);
    QCOMPARE(fx->rows(b.entries),
             before + QStringList({QString::number(before.size() + 1) + "|" + name}));
    QCOMPARE(CommandsFixture::lines(f().Query4),
             CommandsFixture::lines(statements::addEntry(b.which)));
    QVERIFY(!f().Query4.isOpen());
    QCOMPARE(edit(b).text(), QString());
    QCOMPARE(spy.opened, b.addReopens);
    QVERIFY(list(b).findRow(b.nameColumn, name) >= 0);
    QCOMPARE(list(b).currentRow(), 0);

    // Blanks are a name too; a name already in the book is added again.
    edit(b).setText("   ");
    run(b.add);
    edit(b).setText(name);
    run(b.add);
    QCOMPARE(fx->rows(b.entries).size(), before.size() + 3);
    QCOMPARE(boxes().shown.size(), 1);
}

void ReferenceBooksTest::renameStoresTheNameAsTypedUnderTheSameKey() {
    const Book& b = book();
    QVERIFY(fx->select(list(b), b.nameColumn, b.usedName));
    ReopenSpy spy;
    run(b.rename);
    QCOMPARE(boxes().shown, QStringList({"information: " + b.emptyRename}));
    QVERIFY(spy.opened.isEmpty());

    // A quote in the new name is doubled inside the literal, so the name is stored
    // exactly as typed.
    QVERIFY(fx->select(list(b), b.nameColumn, b.usedName));
    edit(b).setText("O'Neil's \"Best\"");
    run(b.rename);
    QVERIFY(fx->rows(b.entries).contains(b.usedKey + "|O'Neil's \"Best\""));
    QCOMPARE(CommandsFixture::lines(f().Query4),
             CommandsFixture::lines(
                 statements::renameEntry(b.which, "O''Neil''s \"Best\"", b.usedKey.toLongLong())));
    QCOMPARE(edit(b).text(), QString());
    QCOMPARE(spy.opened, b.renameReopens);
    QCOMPARE(boxes().shown.size(), 1);
}

void ReferenceBooksTest::deleteAsksCountsAndDeletesOnlyWhatIsUnused() {
    const Book& b = book();
    const QStringList before = fx->rows(b.entries);
    ReopenSpy spy;

    QVERIFY(fx->select(list(b), b.nameColumn, b.freeName));
    boxes().answers = {false};
    run(b.remove);
    QCOMPARE(boxes().shown, QStringList({"confirm: " + b.ask.arg(b.freeName)}));
    QCOMPARE(fx->rows(b.entries), before);

    boxes().shown.clear();
    QVERIFY(fx->select(list(b), b.nameColumn, b.usedName));
    run(b.remove);
    QCOMPARE(boxes().shown, QStringList({"confirm: " + b.ask.arg(b.usedName),
                                         "information: " + b.inUse.arg(b.usedName)}));
    QCOMPARE(fx->rows(b.entries), before);
    QCOMPARE(CommandsFixture::lines(f().Query4),
             CommandsFixture::lines(statements::countUses(b.which, b.usedKey.toLongLong())));
    QVERIFY(f().Query4.isOpen());  // left on the count; the next command closes it
    QVERIFY(spy.opened.isEmpty());

    boxes().shown.clear();
    QVERIFY(fx->select(list(b), b.nameColumn, b.freeName));
    const QString freeKey = list(b).text(b.keyColumn);
    run(b.remove);
    QCOMPARE(boxes().shown, QStringList({"confirm: " + b.ask.arg(b.freeName)}));
    QCOMPARE(fx->rows(b.entries).size(), before.size() - 1);
    QVERIFY(!fx->rows(b.entries).contains(freeKey + "|" + b.freeName));
    QCOMPARE(CommandsFixture::lines(f().Query4),
             CommandsFixture::lines(statements::deleteEntry(b.which, freeKey.toLongLong())));
    QVERIFY(!f().Query4.isOpen());
    QCOMPARE(spy.opened, b.addReopens);
}

void ReferenceBooksTest::emptyBookRefusesRenameAndDelete() {
    const Book& b = book();
    fx->raw("DELETE FROM sprkategoy_db.SprKategoy");
    fx->raw("DELETE FROM sprtype_db.SprType");
    fx->raw("DELETE FROM sprdolgnik_db.SprDolgnik");
    list(b).reopen();
    const QStringList query4 = CommandsFixture::lines(f().Query4);
    edit(b).setText("Новое имя");
    run(b.rename);
    run(b.remove);
    QCOMPARE(boxes().shown, QStringList(2, "information: " + b.emptyBook));
    QCOMPARE(CommandsFixture::lines(f().Query4), query4);
    QCOMPARE(edit(b).text(), QString("Новое имя"));
}

void ReferenceBooksTest::renamedNamesShowInTheDiskAndLentLists() {
    QVERIFY(fx->select(*f().Query1, "Категория", "Фильмы"));
    f().ui->Edit1->setText("Кино");
    f().ButtonRenameKategoryClick();
    QVERIFY(fx->select(*f().Query2, "Носитель", "DVD-R"));
    f().ui->Edit2->setText("DVD-R 4,7 ГБ");
    f().ButtonRenameTypeClick();
    QVERIFY(fx->select(*f().Query3, "Должник", "Петров Пётр"));
    f().ui->Edit3->setText("Петров П.");
    f().ButtonRenameDolgnikClick();

    QVERIFY(fx->select(*f().Query5, "Name", "Матрица"));
    QCOMPARE(f().Query5->text("Name_1"), QString("Кино"));
    QCOMPARE(f().Query5->text("Tip"), QString("DVD-R 4,7 ГБ"));
    QCOMPARE(f().Query6->text("Name_1"), QString("Кино"));
    QCOMPARE(f().Query6->text("Tip"), QString("DVD-R 4,7 ГБ"));
    QCOMPARE(f().Query6->text("Dolgnik"), QString("Петров П."));
    QVERIFY(f().Query8->findRow("Name", "Кино") >= 0);
    QVERIFY(f().Query7->findRow("Tip", "DVD-R 4,7 ГБ") >= 0);
    QVERIFY(Form2->Query1->findRow("Dolgnik", "Петров П.") >= 0);
    QVERIFY(Form3->Query1->findRow("Name", "Кино") >= 0);
    QVERIFY(boxes().shown.isEmpty());
}

void ReferenceBooksTest::debtorWithOnlyReturnedLoansCannotBeDeleted() {
    QVERIFY(fx->select(*f().Query3, "Должник", "Иванов Иван"));
    f().ButtonDeleteDolgnikClick();
    QCOMPARE(boxes().shown.last(),
             "information: Должника \"Иванов Иван\" удалять нельзя, т.к. он используется.");
    QCOMPARE(f().Query4.field("Dolg").asString(), std::string("1"));
}

void ReferenceBooksTest::deletedLentDiskKeepsItsDebtorInUse() {
    QVERIFY(fx->select(*f().Query5, "Name", "Матрица"));
    f().Button4Click();
    QVERIFY(fx->select(*f().Query3, "Должник", "Петров Пётр"));
    f().ButtonDeleteDolgnikClick();
    QCOMPARE(boxes().shown.last(),
             "information: Должника \"Петров Пётр\" удалять нельзя, т.к. он используется.");
    QVERIFY(fx->rows("select N from \"base\\SprDolgnik.db\" Where N = 1").size() == 1);
}

void ReferenceBooksTest::dialogBoxesShowWhatTheyWriteAfterTheirEntryIsRenamed() {
    LookupComboBox& debtorBox = *Form2->ui->DBLookupComboBox1;
    debtorBox.choose(Form2->Query1->findRow("Dolgnik", "Сидоров Сидор"));
    LookupComboBox& categoryBox = *Form3->ui->DBLookupComboBox1;
    categoryBox.choose(Form3->Query1->findRow("Name", "Музыка"));

    // A rename of another entry: the boxes keep their choice.
    QVERIFY(fx->select(*f().Query3, "Должник", "Иванов Иван"));
    f().ui->Edit3->setText("Иванов И.");
    f().ButtonRenameDolgnikClick();
    QCOMPARE(debtorBox.currentText(), QString("Сидоров Сидор"));
    QCOMPARE(Form2->Query1->text("N"), QString("3"));

    // A rename of the chosen entry: the box shows the first row, which is what a
    // save or a lend now writes.
    QVERIFY(fx->select(*f().Query3, "Должник", "Сидоров Сидор"));
    f().ui->Edit3->setText("Сидоров С.");
    f().ButtonRenameDolgnikClick();
    QCOMPARE(debtorBox.currentText(), Form2->Query1->text("Dolgnik"));
    QCOMPARE(debtorBox.currentText(), QString("Иванов И."));

    QVERIFY(fx->select(*f().Query1, "Категория", "Музыка"));
    f().ui->Edit1->setText("Песни");
    f().ButtonRenameKategoryClick();
    QCOMPARE(categoryBox.currentText(), Form3->Query1->text("Name"));
    QCOMPARE(categoryBox.currentText(), QString("Документы"));
}

void ReferenceBooksTest::menuItemsAndButtonsRunTheCommands() {
    const QString entries = "select Name from \"base\\SprKategoy.db\" order by Num";
    f().ui->Edit1->setText("Из меню");
    f().ui->N9->trigger();
    f().ui->Edit1->setText("С кнопки");
    f().ui->ButtonAddKategory->click();
    QCOMPARE(fx->rows(entries).mid(4), QStringList({"Из меню", "С кнопки"}));
    QVERIFY(fx->select(*f().Query2, "Носитель", "Blu-ray"));
    f().ui->N15->trigger();
    QCOMPARE(boxes().shown,
             QStringList({"confirm: Вы действительно хотите удалить носитель \"Blu-ray\"?"}));
    QCOMPARE(fx->rows("select N from \"base\\SprType.db\"").size(), 2);
}

QTEST_MAIN(ReferenceBooksTest)
#include "test_referencebooks.moc"
