#pragma once

// The statements of the program's commands, as lines of its dialect: every write and
// in-use count the windows run, in one place for the handlers, the tools and the tests.
// A key goes into a statement only as the decimal digits of an integer formatted here,
// never as text read from a table: "0 OR 1=1" cannot reach a WHERE clause.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace statements {

using Lines = std::vector<std::string>;

// Lending and taking back: the disk's lent flag, then its loan rows.
Lines setLentFlag(int64_t diskKey, bool lent);
Lines openLoan();        // :NomCD, :Dolgnik, :DatN
Lines closeOpenLoans();  // :DatK, :NomCD
// Closes one open loan by its row's key, :DatK, only while its disk stays deleted.
Lines closeLoanOfDeletedDisk(int64_t loanKey, int64_t diskKey);
// Whether the disk is in the catalogue: column Disks, 0 or 1.
Lines countDisk(int64_t diskKey);

// The disk editor: :Name, :Opisan, :Kategory, :Tip.
Lines addDisk();
Lines editDisk(int64_t diskKey);
Lines deleteDisk(int64_t diskKey);
// The category and media type of one disk, :N.
Lines diskCategoryAndType();

// The three reference books.
enum class Book { Categories, MediaTypes, Debtors };

// The name field (also the insert's parameter) and the key field of a book's table.
std::string_view nameField(Book book);
std::string_view keyField(Book book);

Lines addEntry(Book book);  // :<name field>
// literal goes between the quotes as given: the caller doubles its quotes.
Lines renameEntry(Book book, std::string_view literal, int64_t key);
Lines deleteEntry(Book book, int64_t key);
// How many rows name the entry, in the column countColumn(book).
Lines countUses(Book book, int64_t key);
std::string_view countColumn(Book book);

}  // namespace statements
