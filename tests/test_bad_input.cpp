// Awkward text typed by a user travels through the program's own insert and
// update statements as parameters and comes back exactly as typed, in the disk
// list, the lent-disks list and every reference book.
#include <QTemporaryDir>
#include <QTest>

#include "store/catalogue.h"
#include "store/query.h"
#include "store/text.h"
#include "tests/catalogue_writes.h"
#include "tests/fixture.h"

namespace fs = std::filesystem;
using writes::Book;
using writes::DatabasePtr;

namespace {

int64_t lastKey(const DatabasePtr& db, const char* table, const char* key) {
    return writes::keys(
               db,
               {std::string("select ") + key + " from " + table, std::string("order by ") + key},
               key)
        .back();
}

// The current row of an opened list whose column `key` holds `value`, if there is one.
bool moveToKey(store::Query& list, std::string_view column, int64_t value) {
    for (list.first(); !list.eof(); list.next())
        if (list.field(column).asInteger() == value) return true;
    return false;
}

std::string columnOfKey(const DatabasePtr& db, std::vector<std::string> lines,
                        std::string_view keyColumn, int64_t key, std::string_view column) {
    store::Query list(std::move(lines), db);
    list.open();
    if (!moveToKey(list, keyColumn, key)) return "<no such row>";
    return list.field(column).asString();
}

}  // namespace

class BadInput : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void diskNameAndDescription_data();
    void diskNameAndDescription();
    void referenceNames_data();
    void referenceNames();
    void longestNameAndMegabyteDescription();
    void nameFilterWithManyWildcards();

private:
    QTemporaryDir tmp_;
    DatabasePtr db_;
};

void BadInput::initTestCase() {
    const fs::path dir = tmp_.path().toStdString();
    store::createCatalogue(dir);
    db_ = store::Database::open(dir / "base");
    writes::addEntry(db_, Book::Categories, "Музыка");
    writes::addEntry(db_, Book::MediaTypes, "CD-R");
    writes::addEntry(db_, Book::Debtors, "Иванов");
}

void BadInput::diskNameAndDescription_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(writes::awkwardTexts().size()); ++i)
        QTest::newRow(writes::awkwardTexts()[i].name) << i;
}

void BadInput::diskNameAndDescription() {
    QFETCH(int, row);
    const std::string& text = writes::awkwardTexts()[row].text;
    const std::string description = "Описание: " + text + "\r\n" + text;

    writes::addDisk(db_, {text, description, 1, 1});
    const int64_t disk = lastKey(db_, "'base\\CDBase.db'", "N");
    store::Query list(writes::diskListLines(), db_);
    list.open();
    QVERIFY(moveToKey(list, "N", disk));
    QCOMPARE(list.field("Name").asString(), text);
    QCOMPARE(list.field("Opisan").asString(), description);

    writes::editDisk(db_, disk, {"было: " + text, text, 1, 1});
    list.reopen();
    QVERIFY(moveToKey(list, "N", disk));
    QCOMPARE(list.field("Name").asString(), "было: " + text);
    QCOMPARE(list.field("Opisan").asString(), text);
}

void BadInput::referenceNames_data() {
    diskNameAndDescription_data();
}

// A category, a media type and a debtor of the same awkward name, a disk of that
// category and media type lent to that debtor: every list shows the name as typed.
void BadInput::referenceNames() {
    QFETCH(int, row);
    const std::string& text = writes::awkwardTexts()[row].text;
    writes::addEntry(db_, Book::Categories, text);
    writes::addEntry(db_, Book::MediaTypes, text);
    writes::addEntry(db_, Book::Debtors, text);
    const int64_t category = lastKey(db_, "'base\\SprKategoy.db'", "Num");
    const int64_t media = lastKey(db_, "'base\\SprType.db'", "N");
    const int64_t debtor = lastKey(db_, "'base\\SprDolgnik.db'", "N");
    QCOMPARE(
        columnOfKey(db_, fixture::layoutLines("Unit1", "Query1"), "Num", category, "Категория"),
        text);
    QCOMPARE(columnOfKey(db_, fixture::layoutLines("Unit1", "Query2"), "N", media, "Носитель"),
             text);
    QCOMPARE(columnOfKey(db_, fixture::layoutLines("Unit1", "Query3"), "N", debtor, "Должник"),
             text);

    writes::addDisk(db_, {"Диск", "", category, media});
    const int64_t disk = lastKey(db_, "'base\\CDBase.db'", "N");
    writes::lendDisk(db_, disk, debtor, store::Date::today());
    QCOMPARE(columnOfKey(db_, writes::diskListLines(), "N", disk, "Name_1"), text);
    QCOMPARE(columnOfKey(db_, writes::diskListLines(), "N", disk, "Tip"), text);
    QCOMPARE(columnOfKey(db_, fixture::layoutLines("Unit1", "Query6"), "NomCD", disk, "Dolgnik"),
             text);
    QCOMPARE(columnOfKey(db_, fixture::layoutLines("Unit1", "Query6"), "NomCD", disk, "Name_1"),
             text);
    writes::returnDisk(db_, disk, store::Date::today());
}

void BadInput::longestNameAndMegabyteDescription() {
    const std::string name = writes::repeat("Я", 200) + writes::repeat("😀", 54) + "!";
    QCOMPARE(store::foldCase(name).size(), name.size());  // 255 characters of 2, 4 and 1 bytes
    QCOMPARE(name.size(), size_t{200 * 2 + 54 * 4 + 1});
    std::string description;
    while (description.size() < 1024 * 1024)
        description += "Строка описания с 'кавычками' и \"двойными\" — 😀\r\n";

    writes::addDisk(db_, {name, description, 1, 1});
    const int64_t disk = lastKey(db_, "'base\\CDBase.db'", "N");
    store::Query list(writes::diskListLines(), db_);
    list.open();
    QVERIFY(moveToKey(list, "N", disk));
    QCOMPARE(list.field("Name").asString(), name);
    QVERIFY(list.field("Opisan").asString() == description);  // QCOMPARE would print a megabyte
}

// The name filter puts the typed text between % signs: text full of % must not make
// the search try every way of splitting a name (it once took minutes per disk).
void BadInput::nameFilterWithManyWildcards() {
    const std::string longName = writes::repeat("а", 255);
    for (int i = 0; i < 20; ++i) writes::addDisk(db_, {longName, "", 1, 1});
    writes::addDisk(db_,
                    {writes::repeat("а", 100) + "ѣ" + writes::repeat("а", 100) + "ѳ", "", 1, 1});
    auto matches = [&](const std::string& typed) {
        auto lines = writes::diskListLines();
        lines.push_back("Where CDBase.Name like '%" + typed + "%'");
        store::Query list(std::move(lines), db_);
        list.open();
        list.fetchAll();
        return list.fetchedRows();
    };
    QCOMPARE(matches(writes::repeat("а%", 12) + "ѵ"), 0);
    QCOMPARE(matches(writes::repeat("А%", 12) + "Ѣ%а%Ѳ"), 1);
    QCOMPARE(matches(writes::repeat("_%", 12) + "ѣ"), 1);
}

QTEST_GUILESS_MAIN(BadInput)
#include "test_bad_input.moc"
