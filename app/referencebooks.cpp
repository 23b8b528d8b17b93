#include "app/referencebooks.h"

#include <array>
#include <vector>

#include "app/Unit1.h"
#include "commands/commandquery.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"
#include "widgets/messages.h"

namespace referencebooks {
namespace {

using MainList = ListQuery* TForm1::*;

// What the windows know of a book; its statements come from statements::.
struct BookTable {
    statements::Book book;
    MainList list;                // the book's grid on the reference page
    QLineEdit* Ui_TForm1::*edit;  // the new name
    QString nameColumn;           // the list's alias of the name
    QString emptyAdd;
    QString emptyRename;
    QString emptyBook;
    QString askBefore;
    QString inUseBefore;
    QString inUseAfter;
    QString missing;                          // the entry went while the user looked
    std::vector<MainList> renameAlsoReopens;  // lists that show the book's names
    ListQuery* (*dialogList)();               // the book's list in a dialog
};

const BookTable& bookTable(Book book) {
    static const std::array<BookTable, 3> books = {{
        {statements::Book::Categories,
         &TForm1::Query1,
         &Ui_TForm1::Edit1,
         QStringLiteral("Категория"),
         QStringLiteral("Введите наименование категории!"),
         QStringLiteral("Введите новое наименование категории!"),
         command::emptyCategories(),
         QStringLiteral("Вы действительно хотите удалить категорию \""),
         QStringLiteral("Категорию \""),
         QStringLiteral("\" удалять нельзя, т.к. она используется."),
         QStringLiteral("Категория не найдена: её удалили в другой программе или окне. "
                        "Справочник обновлён."),
         {&TForm1::Query5, &TForm1::Query6, &TForm1::Query8},
         [] { return Form3 ? Form3->Query1 : nullptr; }},
        {statements::Book::MediaTypes,
         &TForm1::Query2,
         &Ui_TForm1::Edit2,
         QStringLiteral("Носитель"),
         QStringLiteral("Введите наименование носителя!"),
         QStringLiteral("Введите новое наименование носителя!"),
         command::emptyMediaTypes(),
         QStringLiteral("Вы действительно хотите удалить носитель \""),
         QStringLiteral("Носитель \""),
         QStringLiteral("\" удалять нельзя, т.к. он используется."),
         QStringLiteral("Носитель не найден: его удалили в другой программе или окне. "
                        "Справочник обновлён."),
         {&TForm1::Query5, &TForm1::Query6, &TForm1::Query7},
         [] { return Form3 ? Form3->Query2 : nullptr; }},
        {statements::Book::Debtors,
         &TForm1::Query3,
         &Ui_TForm1::Edit3,
         QStringLiteral("Должник"),
         QStringLiteral("Введите должника!"),
         QStringLiteral("Введите должника!"),
         command::emptyDebtors(),
         QStringLiteral("Вы действительно хотите удалить должника \""),
         QStringLiteral("Должника \""),
         QStringLiteral("\" удалять нельзя, т.к. он используется."),
         QStringLiteral("Должник не найден: его удалили в другой программе или окне. "
                        "Справочник обновлён."),
         {&TForm1::Query6},
         [] { return Form2 ? Form2->Query1 : nullptr; }},
    }};
    return books[static_cast<size_t>(book)];
}

// The key of the book's current entry.
int64_t currentKey(const ListQuery& list, const BookTable& book) {
    return list.key(QString::fromUtf8(statements::keyField(book.book)));
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
    command::execute(form.Query4, statements::addEntry(book.book), [&](store::Query& q) {
        q.setText(statements::nameField(book.book), name.toStdString());
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
    try {
        command::executeByKey(
            form.Query4,
            statements::renameEntry(book.book, command::quotedLiteral(name).toStdString(),
                                    currentKey(list, book)),
            book.missing);
    } catch (const store::Error& e) {
        // The new name was meant for the entry that is gone; left in the box, a second
        // click would give it to whichever entry the grid stands on now.
        if (e.kind() == store::Error::Kind::NotFound) edit->clear();
        throw;
    }
    edit->clear();
    reopenLists(form, book, book.renameAlsoReopens);
}

void remove(TForm1& form, Book which) {
    const BookTable& book = bookTable(which);
    const ListQuery& list = *(form.*book.list);
    if (command::refuseEmpty(list, book.emptyBook)) return;
    const QString name = list.text(book.nameColumn);
    const int64_t key = currentKey(list, book);
    if (!messages().confirm(book.askBefore + name + QStringLiteral("\"?"))) return;
    const QString uses = command::count(form.Query4, statements::countUses(book.book, key),
                                        statements::countColumn(book.book));
    if (uses != QLatin1String("0")) {
        messages().information(book.inUseBefore + name + book.inUseAfter);
        return;
    }
    command::executeByKey(form.Query4, statements::deleteEntry(book.book, key), book.missing);
    reopenLists(form, book, {});
}

}  // namespace referencebooks
