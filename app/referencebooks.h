#pragma once

#include "statements/commands.h"

class TForm1;

// The three reference books of the main window (categories, media types, debtors)
// and their add, rename and delete commands: one implementation over a table of
// the books' texts, statements and lists.
namespace referencebooks {

using Book = statements::Book;

void add(TForm1& form, Book book);
void rename(TForm1& form, Book book);
void remove(TForm1& form, Book book);

}  // namespace referencebooks
