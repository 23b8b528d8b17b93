#include "statements/commands.h"

#include <array>

namespace statements {
namespace {

struct BookStatements {
    std::string_view table;  // as the statements quote it
    std::string_view nameField;
    std::string_view keyField;
    std::string_view countFrom;
    std::string_view countField;  // the field of the counted table that names the entry
    std::string_view countColumn;
};

const BookStatements& of(Book book) {
    static constexpr std::array<BookStatements, 3> kBooks = {{
        {"'base\\SprKategoy.db'", "Name", "Num", "Select COUNT(*) as Kat from \"base\\CDBase.db\"",
         "Kategory", "Kat"},
        {"'base\\SprType.db'", "Tip", "N", "Select COUNT(*) as T from \"base\\CDBase.db\"", "Tip",
         "T"},
        {"'base\\SprDolgnik.db'", "Dolgnik", "N", "Select COUNT(*) as Dolg from \"base\\Dolg.db\"",
         "Dolgnik", "Dolg"},
    }};
    return kBooks[static_cast<size_t>(book)];
}

std::string join(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (std::string_view piece : pieces) out += piece;
    return out;
}

std::string where(std::string_view field, int64_t key) {
    return join({"Where ", field, " = ", std::to_string(key)});
}

}  // namespace

Lines setLentFlag(int64_t diskKey, bool lent) {
    return {"update 'base\\CDBase.db'", lent ? "SET Dolg = True" : "SET Dolg = False",
            where("N", diskKey)};
}

Lines openLoan() {
    return {"Insert into \"base\\Dolg.db\" (NomCD, Dolgnik, DatN, Dolg)",
            "Values (:NomCD, :Dolgnik, :DatN, True)"};
}

Lines closeOpenLoans() {
    return {"Update \"base\\Dolg.db\"", "Set DatK = :DatK, Dolg = False",
            "Where (NomCD = :NomCD) and (Dolg = True)"};
}

Lines closeLoanOfDeletedDisk(int64_t loanKey, int64_t diskKey) {
    return {"Update \"base\\Dolg.db\"", "Set DatK = :DatK, Dolg = False",
            join({where("rowid", loanKey),
                  " and (Dolg = True) and (NomCD = ", std::to_string(diskKey), ")"}),
            "and NomCD not in (select N from \"base\\CDBase.db\")"};
}

Lines countDisk(int64_t diskKey) {
    return {"Select COUNT(*) as Disks from \"base\\CDBase.db\"", where("N", diskKey)};
}

Lines addDisk() {
    return {"INSERT INTO 'base\\CDBase.db'(Name, Opisan, Kategory, Tip)",
            "Values (:Name, :Opisan, :Kategory, :Tip)"};
}

Lines editDisk(int64_t diskKey) {
    return {"Update \"base\\CDBase.db\"",
            "SET Name = :Name, Opisan = :Opisan, Kategory = :Kategory, Tip = :Tip",
            where("N", diskKey)};
}

Lines deleteDisk(int64_t diskKey) {
    return {"Delete from \"base\\CDBase.db\"", where("N", diskKey)};
}

Lines diskCategoryAndType() {
    return {"select Kategory, Tip from \"base\\CDBase.db\"", "Where N = :N"};
}

std::string_view nameField(Book book) {
    return of(book).nameField;
}

std::string_view keyField(Book book) {
    return of(book).keyField;
}

Lines addEntry(Book book) {
    const BookStatements& b = of(book);
    return {join({"INSERT INTO ", b.table, "(", b.nameField, ")"}),
            join({"Values (:", b.nameField, ")"})};
}

Lines renameEntry(Book book, std::string_view literal, int64_t key) {
    const BookStatements& b = of(book);
    return {join({"update ", b.table}), join({"SET ", b.nameField, " = '", literal, "'"}),
            where(b.keyField, key)};
}

Lines deleteEntry(Book book, int64_t key) {
    const BookStatements& b = of(book);
    return {join({"Delete from ", b.table}), where(b.keyField, key)};
}

Lines countUses(Book book, int64_t key) {
    const BookStatements& b = of(book);
    return {std::string(b.countFrom), where(b.countField, key)};
}

std::string_view countColumn(Book book) {
    return of(book).countColumn;
}

}  // namespace statements
