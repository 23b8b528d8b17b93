#include "catalogue_writes.h"

#include <fstream>
#include <sstream>

#include "query.h"

namespace writes {
namespace {

using store::Query;

struct BookStatements {
    const char* table;      // as the statements quote it
    const char* nameField;  // also the parameter's name
    const char* keyField;
    const char* gridSelect;
    const char* gridOrder;
};

const BookStatements& statementsOf(Book book) {
    static const BookStatements kBooks[] = {
        {"'base\\SprKategoy.db'", "Name", "Num",
         "select Num, Name as Категория from 'base\\SprKategoy.db'", "order by Категория"},
        {"'base\\SprType.db'", "Tip", "N", "select N, Tip as Носитель from 'base\\SprType.db'",
         "order by Носитель"},
        {"'base\\SprDolgnik.db'", "Dolgnik", "N",
         "Select n, dolgnik as Должник from 'base\\sprdolgnik.db'", "order by Должник"},
    };
    return kBooks[static_cast<int>(book)];
}

// One write by the command query's protocol: a fresh text, every parameter set, executed.
void execute(const DatabasePtr& db, std::vector<std::string> lines,
             const std::function<void(Query&)>& setParameters = {}) {
    Query query(std::move(lines), db);
    if (setParameters) setParameters(query);
    query.execSql();
}

void setDiskParameters(Query& q, const DiskFields& disk) {
    q.setText("Name", disk.name);
    q.setMemo("Opisan", disk.description);
    q.setFloat("Kategory", static_cast<double>(disk.category));
    q.setFloat("Tip", static_cast<double>(disk.mediaType));
}

int64_t firstDisk(const DatabasePtr& db, bool lent) {
    const auto found = keys(
        db, {"select N from 'base\\CDBase.db'", lent ? "where Dolg = True" : "where Dolg = False"},
        "N");
    return found.empty() ? 0 : found.front();
}

}  // namespace

void lendDisk(const DatabasePtr& db, int64_t disk, int64_t debtor, const store::Date& day) {
    store::Database::Transaction unit(*db);
    execute(db,
            {"update 'base\\CDBase.db'", "SET Dolg = True", "Where N = " + std::to_string(disk)});
    execute(db,
            {"Insert into \"base\\Dolg.db\" (NomCD, Dolgnik, DatN, Dolg)",
             "Values (:NomCD, :Dolgnik, :DatN, True)"},
            [&](Query& q) {
                q.setFloat("NomCD", static_cast<double>(disk));
                q.setFloat("Dolgnik", static_cast<double>(debtor));
                q.setDate("DatN", day);
            });
    unit.commit();
}

void returnDisk(const DatabasePtr& db, int64_t disk, const store::Date& day) {
    store::Database::Transaction unit(*db);
    execute(db,
            {"update 'base\\CDBase.db'", "SET Dolg = False", "Where N = " + std::to_string(disk)});
    execute(db,
            {"Update \"base\\Dolg.db\"", "Set DatK = :DatK, Dolg = False",
             "Where (NomCD = :NomCD) and (Dolg = True)"},
            [&](Query& q) {
                q.setFloat("NomCD", static_cast<double>(disk));
                q.setDate("DatK", day);
            });
    unit.commit();
}

void addDisk(const DatabasePtr& db, const DiskFields& disk) {
    execute(db,
            {"INSERT INTO 'base\\CDBase.db'(Name, Opisan, Kategory, Tip)",
             "Values (:Name, :Opisan, :Kategory, :Tip)"},
            [&](Query& q) { setDiskParameters(q, disk); });
}

void editDisk(const DatabasePtr& db, int64_t key, const DiskFields& disk) {
    execute(db,
            {"Update \"base\\CDBase.db\"",
             "SET Name = :Name, Opisan = :Opisan, Kategory = :Kategory, Tip = :Tip",
             "Where N = " + std::to_string(key)},
            [&](Query& q) { setDiskParameters(q, disk); });
}

void deleteDisk(const DatabasePtr& db, int64_t key) {
    execute(db, {"Delete from \"base\\CDBase.db\"", "Where N = " + std::to_string(key)});
}

void addEntry(const DatabasePtr& db, Book book, const std::string& name) {
    const auto& s = statementsOf(book);
    execute(db,
            {"INSERT INTO " + std::string(s.table) + "(" + s.nameField + ")",
             "Values (:" + std::string(s.nameField) + ")"},
            [&](Query& q) { q.setText(s.nameField, name); });
}

void renameEntry(const DatabasePtr& db, Book book, int64_t key, const std::string& name) {
    const auto& s = statementsOf(book);
    execute(db, {"update " + std::string(s.table),
                 "SET " + std::string(s.nameField) + " = '" + name + "'",
                 "Where " + std::string(s.keyField) + " = " + std::to_string(key)});
}

void deleteEntry(const DatabasePtr& db, Book book, int64_t key) {
    const auto& s = statementsOf(book);
    execute(db, {"Delete from " + std::string(s.table),
                 "Where " + std::string(s.keyField) + " = " + std::to_string(key)});
}

std::string lentFlag(const DatabasePtr& db, int64_t disk) {
    Query q({"select Dolg from 'base\\CDBase.db'", "Where N = " + std::to_string(disk)}, db);
    q.open();
    return q.field("Dolg").asString();
}

std::vector<int64_t> keys(const DatabasePtr& db, std::vector<std::string> lines,
                          std::string_view column) {
    Query q(std::move(lines), db);
    q.open();
    std::vector<int64_t> out;
    for (; !q.eof(); q.next()) out.push_back(q.field(column).asInteger());
    return out;
}

std::vector<std::string> diskListLines() {
    return {
        "SELECT Cdbase.Name, Cdbase.N, Cdbase.Opisan, Cdbase.Dolg, Sprkategoy.Name, Sprtype.Tip",
        "FROM \"base\\CDBase.DB\" Cdbase",
        "   INNER JOIN \"base\\SprKategoy.db\" Sprkategoy",
        "   ON  (Cdbase.Kategory = Sprkategoy.Num)  ",
        "   INNER JOIN \"base\\SprType.db\" Sprtype",
        "   ON  (Cdbase.Tip = Sprtype.N)  "};
}

std::vector<std::string> lentListLines() {
    return {
        "SELECT Dolg.NomCD, Dolg.DatN, Cdbase.Name, Sprdolgnik.Dolgnik, Sprtype.Tip, "
        "Sprkategoy.Name, Dolg.Dolg",
        "FROM \"base\\Dolg.DB\" Dolg",
        "   INNER JOIN \"base\\CDBase.DB\" Cdbase",
        "   ON  (Dolg.NomCD = Cdbase.N)  ",
        "   INNER JOIN \"base\\SprDolgnik.db\" Sprdolgnik",
        "   ON  (Dolg.Dolgnik = Sprdolgnik.N)  ",
        "   INNER JOIN \"base\\SprKategoy.db\" Sprkategoy",
        "   ON  (Cdbase.Kategory = Sprkategoy.Num)  ",
        "   INNER JOIN \"base\\SprType.db\" Sprtype",
        "   ON  (Cdbase.Tip = Sprtype.N)  ",
        "Where Dolg.Dolg = True"};
}

std::vector<std::string> bookListLines(Book book) {
    const auto& s = statementsOf(book);
    return {s.gridSelect, s.gridOrder};
}

std::vector<NamedWrite> everyWriteCommand() {
    const DiskFields disk{"Новый диск", "Описание\r\nв две строки", 1, 1};
    const store::Date today = store::Date::today();
    std::vector<NamedWrite> all = {
        {"add disk", [=](const DatabasePtr& db) { addDisk(db, disk); }},
        {"edit disk", [=](const DatabasePtr& db) { editDisk(db, 1, disk); }},
        {"lend disk", [=](const DatabasePtr& db) { lendDisk(db, firstDisk(db, false), 1, today); }},
        {"take back disk",
         [=](const DatabasePtr& db) { returnDisk(db, firstDisk(db, true), today); }},
        {"delete disk", [](const DatabasePtr& db) { deleteDisk(db, 1); }},
    };
    const std::pair<Book, const char*> books[] = {
        {Book::Category, "category"}, {Book::MediaType, "media type"}, {Book::Debtor, "debtor"}};
    for (const auto& [book, what] : books) {
        all.push_back({std::string("add ") + what,
                       [book](const DatabasePtr& db) { addEntry(db, book, "Новая запись"); }});
        all.push_back({std::string("rename ") + what,
                       [book](const DatabasePtr& db) { renameEntry(db, book, 1, "Другое имя"); }});
        all.push_back({std::string("delete ") + what,
                       [book](const DatabasePtr& db) { deleteEntry(db, book, 1); }});
    }
    return all;
}

std::string_view kindName(store::Error::Kind kind) {
    using K = store::Error::Kind;
    switch (kind) {
        case K::Missing:
            return "Missing";
        case K::NotCatalogue:
            return "NotCatalogue";
        case K::Statement:
            return "Statement";
        case K::ReadOnly:
            return "ReadOnly";
        case K::Locked:
            return "Locked";
        case K::DiskFull:
            return "DiskFull";
        case K::Io:
            return "Io";
        case K::Other:
            return "Other";
    }
    return "Unknown";
}

std::string repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

const std::vector<AwkwardText>& awkwardTexts() {
    using namespace std::string_literals;
    static const std::vector<AwkwardText> texts = {
        {"single quotes", "O'Brien's 'Best of'"},
        {"double quotes", "Диск \"Лучшее\" и \"\"двойные\"\""},
        {"percent and underscore", "100% хиты_2024 %_% __"},
        {"backslashes", "C:\\Музыка\\ \\\\ \\' \\\""},
        {"a quoted table path", "'base\\CDBase.db' \"base\\Dolg.DB\""},
        {"a statement inside", "x'); Delete from \"base\\CDBase.db\" Where N = 1; --"},
        {"parameter marks", ":Name :Opisan :NomCD ?1 @x $y"},
        {"Cyrillic", "Ёжик в тумане — Юрий Норштейн, «Союзмультфильм», №1"},
        {"emoji", "🎵 Музыка 🎬 👨‍👩‍👧‍👦 🇷🇺"},
        {"blanks around", "  два пробела  "},
        {"line breaks", "строка 1\r\nстрока 2\nстрока 3\r"},
        {"tab and NUL", "таб\tи\0ноль"s},
        {"255 characters", repeat("Ё", 100) + repeat("🎵", 100) + repeat("x", 55)},
        {"empty", ""},
    };
    return texts;
}

std::map<std::string, std::string> folderBytes(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        files[entry.path().filename().string()] = bytes.str();
    }
    return files;
}

}  // namespace writes
