#include "tests/catalogue_writes.h"

#include <fstream>
#include <sstream>

#include "statements/commands.h"
#include "statements/diskfilter.h"
#include "store/query.h"

namespace writes {
namespace {

using store::Query;

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
    q.setInteger("Kategory", disk.category);
    q.setInteger("Tip", disk.mediaType);
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
    execute(db, statements::setLentFlag(disk, true));
    execute(db, statements::openLoan(), [&](Query& q) {
        q.setInteger("NomCD", disk);
        q.setInteger("Dolgnik", debtor);
        q.setDate("DatN", day);
    });
    unit.commit();
}

void returnDisk(const DatabasePtr& db, int64_t disk, const store::Date& day) {
    store::Database::Transaction unit(*db);
    execute(db, statements::setLentFlag(disk, false));
    execute(db, statements::closeOpenLoans(), [&](Query& q) {
        q.setInteger("NomCD", disk);
        q.setDate("DatK", day);
    });
    unit.commit();
}

void addDisk(const DatabasePtr& db, const DiskFields& disk) {
    execute(db, statements::addDisk(), [&](Query& q) { setDiskParameters(q, disk); });
}

void editDisk(const DatabasePtr& db, int64_t key, const DiskFields& disk) {
    execute(db, statements::editDisk(key), [&](Query& q) { setDiskParameters(q, disk); });
}

void deleteDisk(const DatabasePtr& db, int64_t key) {
    execute(db, statements::deleteDisk(key));
}

void addEntry(const DatabasePtr& db, Book book, const std::string& name) {
    execute(db, statements::addEntry(book),
            [&](Query& q) { q.setText(statements::nameField(book), name); });
}

void renameEntry(const DatabasePtr& db, Book book, int64_t key, const std::string& name) {
    execute(db, statements::renameEntry(book, name, key));
}

void deleteEntry(const DatabasePtr& db, Book book, int64_t key) {
    execute(db, statements::deleteEntry(book, key));
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
    return diskfilter::build(diskfilter::Availability::All, {}, {}).lines;
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
    const std::pair<Book, const char*> books[] = {{Book::Categories, "category"},
                                                  {Book::MediaTypes, "media type"},
                                                  {Book::Debtors, "debtor"}};
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
        case K::KeysExhausted:
            return "KeysExhausted";
        case K::NotFound:
            return "NotFound";
        case K::Io:
            return "Io";
        case K::Stopped:
            return "Stopped";
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
