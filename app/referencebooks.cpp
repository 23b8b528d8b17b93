#include "referencebooks.h"

#include <array>
#include <vector>

#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "commandquery.h"
#include "listquery.h"
#include "messages.h"
#include "ui_Unit1.h"

namespace referencebooks {
namespace {

using MainList = ListQuery* TForm1::*;

struct BookTable {
    MainList list;                // the book's grid on the reference page
    QLineEdit* Ui_TForm1::*edit;  // the new name
    QString keyColumn;            // in the list and in the table
    QString nameColumn;           // the list's alias of the name
    QString emptyAdd;
    QString emptyRename;
    QString emptyBook;
    QStringList insertLines;
    QString insertParameter;
    QString updateLine;
    QString setName;   // the rename's literal follows
    QString whereKey;  // rename and delete
    QString askBefore;
    QString inUseBefore;
    QString inUseAfter;
    QString countLine;
    QString countWhere;
    QString countColumn;
    QString deleteLine;
    std::vector<MainList> renameAlsoReopens;  // lists that show the book's names
    ListQuery* (*dialogList)();               // the book's list in a dialog
};

const BookTable& bookTable(Book book) {
    static const std::array<BookTable, 3> books = {{
        {&TForm1::Query1,
         &Ui_TForm1::Edit1,
         QStringLiteral("Num"),
         QStringLiteral("Категория"),
         QStringLiteral("Введите наименование категории!"),
         QStringLiteral("Введите новое наименование категории!"),
         command::emptyCategories(),
         {QStringLiteral("INSERT INTO 'base\\SprKategoy.db'(Name)"),
          QStringLiteral("Values (:Name)")},
         QStringLiteral("Name"),
         QStringLiteral("update 'base\\SprKategoy.db'"),
         QStringLiteral("SET Name = '"),
         QStringLiteral("Where Num = "),
         QStringLiteral("Вы действительно хотите удалить категорию \""),
         QStringLiteral("Категорию \""),
         QStringLiteral("\" удалять нельзя, т.к. она используется."),
         QStringLiteral("Select COUNT(*) as Kat from \"base\\CDBase.db\""),
         QStringLiteral("Where Kategory = "),
         QStringLiteral("Kat"),
         QStringLiteral("Delete from 'base\\SprKategoy.db'"),
         {&TForm1::Query5, &TForm1::Query6, &TForm1::Query8},
         [] { return Form3 ? Form3->Query1 : nullptr; }},
        {&TForm1::Query2,
         &Ui_TForm1::Edit2,
         QStringLiteral("N"),
         QStringLiteral("Носитель"),
         QStringLiteral("Введите наименование носителя!"),
         QStringLiteral("Введите новое наименование носителя!"),
         command::emptyMediaTypes(),
         {QStringLiteral("INSERT INTO 'base\\SprType.db'(Tip)"), QStringLiteral("Values (:Tip)")},
         QStringLiteral("Tip"),
         QStringLiteral("update 'base\\SprType.db'"),
         QStringLiteral("SET Tip = '"),
         QStringLiteral("Where N = "),
         QStringLiteral("Вы действительно хотите удалить носитель \""),
         QStringLiteral("Носитель \""),
         QStringLiteral("\" удалять нельзя, т.к. он используется."),
         QStringLiteral("Select COUNT(*) as T from \"base\\CDBase.db\""),
         QStringLiteral("Where Tip = "),
         QStringLiteral("T"),
         QStringLiteral("Delete from 'base\\SprType.db'"),
         {&TForm1::Query5, &TForm1::Query6, &TForm1::Query7},
         [] { return Form3 ? Form3->Query2 : nullptr; }},
        {&TForm1::Query3,
         &Ui_TForm1::Edit3,
         QStringLiteral("N"),
         QStringLiteral("Должник"),
         QStringLiteral("Введите должника!"),
         QStringLiteral("Введите должника!"),
         command::emptyDebtors(),
         {QStringLiteral("INSERT INTO 'base\\SprDolgnik.db'(Dolgnik)"),
          QStringLiteral("Values (:Dolgnik)")},
         QStringLiteral("Dolgnik"),
         QStringLiteral("update 'base\\SprDolgnik.db'"),
         QStringLiteral("SET Dolgnik = '"),
         QStringLiteral("Where N = "),
         QStringLiteral("Вы действительно хотите удалить должника \""),
         QStringLiteral("Должника \""),
         QStringLiteral("\" удалять нельзя, т.к. он используется."),
         QStringLiteral("Select COUNT(*) as Dolg from \"base\\Dolg.db\""),
         QStringLiteral("Where Dolgnik = "),
         QStringLiteral("Dolg"),
         QStringLiteral("Delete from 'base\\SprDolgnik.db'"),
         {&TForm1::Query6},
         [] { return Form2 ? Form2->Query1 : nullptr; }},
    }};
    return books[static_cast<size_t>(book)];
}

// The book's list first, then the others that show its names, then the dialog's.
void reopenLists(TForm1& form, const BookTable& book, const std::vector<MainList>& others) {
    (form.*book.list)->reopen();
    for (MainList list : others) (form.*list)->reopen();
    if (ListQuery* dialog = book.dialogList()) dialog->reopen();
}

}  // namespace

void add(TForm1& form, Book which) {
    const BookTable& book = bookTable(which);
    QLineEdit* edit = form.ui.get()->*book.edit;
    const QString name = edit->text();  // blanks count as a name
    if (name.isEmpty()) {
        messages().information(book.emptyAdd);
        return;
    }
    command::execute(form.Query4, book.insertLines, [&](store::Query& q) {
        q.setText(book.insertParameter.toStdString(), name.toStdString());
    });
    edit->clear();
    reopenLists(form, book, {});
}

void rename(TForm1& form, Book which) {
    const BookTable& book = bookTable(which);
    QLineEdit* edit = form.ui.get()->*book.edit;
    const QString name = edit->text();
    if (name.isEmpty()) {
        messages().information(book.emptyRename);
        return;
    }
    const ListQuery& list = *(form.*book.list);
    if (command::refuseEmpty(list, book.emptyBook)) return;
    command::execute(form.Query4, {book.updateLine,
                                   book.setName + command::quotedLiteral(name) + QLatin1Char('\''),
                                   book.whereKey + list.text(book.keyColumn)});
    edit->clear();
    reopenLists(form, book, book.renameAlsoReopens);
}

void remove(TForm1& form, Book which) {
    const BookTable& book = bookTable(which);
    const ListQuery& list = *(form.*book.list);
    if (command::refuseEmpty(list, book.emptyBook)) return;
    const QString name = list.text(book.nameColumn);
    const QString key = list.text(book.keyColumn);
    if (!messages().confirm(book.askBefore + name + QStringLiteral("\"?"))) return;
    const QString uses =
        command::count(form.Query4, {book.countLine, book.countWhere + key}, book.countColumn);
    if (uses != QLatin1String("0")) {
        messages().information(book.inUseBefore + name + book.inUseAfter);
        return;
    }
    command::execute(form.Query4, {book.deleteLine, book.whereKey + key});
    reopenLists(form, book, {});
}

}  // namespace referencebooks
