// Finding files by a fragment of their name: every answer equals a plain scan of the
// stored names with the name filter's folding, in the same order, whatever the names hold
// and however the contents changed; korvalen-base find prints it.
#include <QDateTime>
#include <QProcess>
#include <QTest>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>

#include "reports/tablewriter.h"
#include "statements/commands.h"
#include "store/check.h"
#include "store/contentsstore.h"
#include "store/filesearch.h"
#include "store/filesearchrunner.h"
#include "store/query.h"
#include "store/statement.h"
#include "store/text.h"
#include "tests/fixture.h"
#include "tools/catalogue_repair.h"

namespace fs = std::filesystem;

namespace {

// Pieces of names: alphabets, letters whose case folds oddly, combining accents, emoji,
// bytes that are not UTF-8, quotes and the name filter's wildcards.
const std::vector<std::string> kPieces = {
    "Привет", "ёлка", "ЁЖИК", "Ежевика", "Ελληνικά", "ΣΟΦΊΑ", "σοφία", "İstanbul", "ısı", "IŞIK",
    "Straße", "STRASSE", "Cafe\xcc\x81", "Café", "😀", "🎵music", "\xff\xfe", "\xc3", "раз\xe9",
    "it's", "\"q\"", "100%", "50%off", "a_b", "axb", "MP3", "mp3", "track", "Track", "VIDEO_TS",
    ".", " ", "x", "Ω", "ω", "ǅ", "ﬁle", "ΐ"};

std::string randomName(std::mt19937& rng) {
    std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
    std::string name;
    for (int n = std::uniform_int_distribution<int>(1, 3)(rng); n > 0; --n) name += kPieces[piece(rng)];
    return name;
}

// Writes a tree of random names into disk: folders three deep, files in each.
void readRandomTree(const store::Database& db, int64_t disk, std::mt19937& rng, int files) {
    store::ContentsWriter writer(db, disk);
    writer.volume({});
    std::vector<store::FolderId> folders{store::kRootFolder};
    for (int i = 0; i < files; ++i) {
        const auto parent = folders[std::uniform_int_distribution<size_t>(0, folders.size() - 1)(rng)];
        if (i % 7 == 0 && folders.size() < 30)
            folders.push_back(writer.folder(parent, randomName(rng), 1700000000, 0));
        else
            writer.file(parent, randomName(rng), i, 1700000000 + i, 0);
    }
    writer.commit();
}

std::string shown(const store::FoundFile& f) {
    return std::to_string(f.disk) + "|" + f.path + (f.folder ? "/" : "") + "|" +
           (f.size ? std::to_string(*f.size) : "");
}

// Every stored entry, by disk key and then as read, with its path: the plain scan.
struct Scanned {
    int64_t disk;
    std::string name, line;
};

std::vector<Scanned> scanAll(const store::Database& db) {
    std::vector<Scanned> out;
    std::map<int64_t, std::pair<int64_t, std::string>> up;  // id → parent, name
    store::Statement rows(db,
                          "SELECT r.disk, e.id, e.parent, e.name, e.size, e.flags FROM "
                          "cdfiles_db.disk_reads r JOIN cdfiles_db.disk_entries e "
                          "ON e.id BETWEEN r.first_entry AND r.last_entry ORDER BY r.disk, e.id");
    while (rows.step()) {
        const int64_t id = rows.columnInt64(1);
        std::string name(rows.columnText(3));
        up[id] = {rows.columnInt64(2), name};
        std::string path = name;
        for (int64_t p = rows.columnInt64(2); p > 0; p = up[p].first) path = up[p].second + "/" + path;
        const bool folder = (rows.columnInt64(5) & 256) != 0;
        store::FoundFile f;
        f.disk = rows.columnInt64(0);
        f.path = path;
        f.folder = folder;
        if (rows.columnType(4) != store::Statement::Type::Null) f.size = rows.columnInt64(4);
        out.push_back({f.disk, name, shown(f)});
    }
    return out;
}

QStringList expected(const std::vector<Scanned>& all, std::string_view fragment) {
    QStringList out;
    const std::string needle = store::likeFolded(fragment);
    if (needle.empty()) return out;
    for (const auto& s : all)
        if (store::likeFolded(s.name).find(needle) != std::string::npos)
            out << QString::fromStdString(s.line);
    return out;
}

QStringList found(const store::Database& db, std::string_view fragment) {
    QStringList out;
    store::FileSearch search(db, fragment);
    store::FoundFile f;
    while (search.next(f)) out << QString::fromStdString(shown(f));
    return out;
}

// A fragment of a stored name (1 to 6 characters, a byte for a byte that is not UTF-8),
// its case sometimes turned; or one of the odd pieces; or something absent.
std::string randomFragment(const std::vector<Scanned>& all, std::mt19937& rng) {
    const int kind = std::uniform_int_distribution<int>(0, 9)(rng);
    if (kind == 0) return kPieces[std::uniform_int_distribution<size_t>(0, kPieces.size() - 1)(rng)];
    if (kind == 1) return "absent" + std::to_string(rng() % 1000);
    const std::string& name = all[std::uniform_int_distribution<size_t>(0, all.size() - 1)(rng)].name;
    std::vector<size_t> starts;
    for (size_t i = 0; i < name.size(); ++i)
        if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80 || !store::isUtf8(name)) starts.push_back(i);
    starts.push_back(name.size());
    const size_t from = std::uniform_int_distribution<size_t>(0, starts.size() - 2)(rng);
    const size_t to = std::min(starts.size() - 1, from + std::uniform_int_distribution<size_t>(1, 6)(rng));
    std::string fragment = name.substr(starts[from], starts[to] - starts[from]);
    if (kind < 5 && store::isUtf8(fragment)) {
        const QString text = QString::fromStdString(fragment);
        fragment = (kind < 3 ? text.toUpper() : text.toLower()).toStdString();
    }
    return fragment;
}

}  // namespace

class FileSearchTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void plainCharactersAndFolding_data();
    void plainCharactersAndFolding();
    void equalsScan_data();
    void equalsScan();
    void stopsWhenAsked();
    void runnerNarrowsAndCounts_data();
    void runnerNarrowsAndCounts();
    void indexCheckedAndRebuilt();
    void findPrintsLines();

private:
    std::unique_ptr<fixture::FixtureCatalogue> catalogue_;
    std::shared_ptr<store::Database> db_;
    std::mt19937 rng_{20261208};
};

void FileSearchTest::initTestCase() {
    catalogue_ = std::make_unique<fixture::FixtureCatalogue>();
    db_ = catalogue_->open();
    for (int64_t disk : {5, 1, 3, 2}) readRandomTree(*db_, disk, rng_, 150);
    store::ContentsWriter writer(*db_, 6);
    // "a/b": the index's separator between names, within a name.
    for (const char* name : {"100%.txt", "100x.txt", "a_b", "axb", "Ёлка.mp3", "ЕЛКА.MP3",
                             "Straße", "STRASSE", "ıI", "\xff.bin", "a/b"})
        writer.file(store::kRootFolder, name, 1, 0, 0);
    writer.commit();
}

void FileSearchTest::plainCharactersAndFolding_data() {
    QTest::addColumn<QByteArray>("fragment");
    QTest::addColumn<QStringList>("paths");
    const auto row = [](const char* tag, const char* fragment, QStringList paths) {
        QTest::newRow(tag) << QByteArray(fragment) << paths;
    };
    row("% is a plain character", "0%", {"100%.txt"});
    row("_ is a plain character", "a_", {"a_b"});
    row("case folded, ё apart from е", "ЁЛКА", {"Ёлка.mp3"});
    row("Latin case", ".Mp3", {"Ёлка.mp3", "ЕЛКА.MP3"});
    row("ß folds to itself alone", "ß", {"Straße"});
    row("an invalid byte matches itself", "\xff", {"\xff.bin"});
    row("two characters", "ıi", {"ıI"});
}

void FileSearchTest::plainCharactersAndFolding() {
    QFETCH(QByteArray, fragment);
    QFETCH(QStringList, paths);
    QStringList got;
    store::FileSearch search(*db_, fragment.toStdString());
    store::FoundFile f;
    while (search.next(f))
        if (f.disk == 6) got << QString::fromStdString(f.path);
    QCOMPARE(got, paths);
}

void FileSearchTest::equalsScan_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("fragments");
    QTest::newRow("as read") << "" << 500;
    QTest::newRow("a disk read again") << "reread" << 100;
    QTest::newRow("a disk deleted") << "delete" << 100;
    QTest::newRow("a disk read by another connection") << "other read" << 100;
    QTest::newRow("a disk deleted by another connection") << "other delete" << 100;
}

// The changes accumulate from row to row: the later rows search what the earlier left.
void FileSearchTest::equalsScan() {
    QFETCH(QString, change);
    QFETCH(int, fragments);
    const auto other = catalogue_->open();
    if (change == "reread") readRandomTree(*db_, 3, rng_, 120);
    if (change == "delete") store::Query(statements::deleteDisk(1), db_).execSql();
    if (change == "other read") readRandomTree(*other, 4, rng_, 130);
    if (change == "other delete") store::Query(statements::deleteDisk(5), other).execSql();
    const auto all = scanAll(*db_);
    QVERIFY(all.size() > 400);
    int indexed = 0, nonEmpty = 0;
    for (int i = 0; i < fragments; ++i) {
        const std::string fragment = randomFragment(all, rng_);
        const QStringList want = expected(all, fragment);
        QCOMPARE(found(*db_, fragment), want);
        indexed += store::FileSearch(*db_, fragment).indexed();
        nonEmpty += !want.isEmpty();
    }
    // Both paths and both outcomes were tried.
    QVERIFY(indexed > fragments / 4 && indexed < fragments);
    QVERIFY(nonEmpty > fragments / 2 && nonEmpty < fragments);
}

// A search a new key supersedes stops, even a short fragment's scan of every name, and the
// connection serves the next search.
void FileSearchTest::stopsWhenAsked() {
    int asked = 0;
    {
        store::FileSearch stopped(*db_, "щ", [&] { return ++asked > 0; });
        store::FoundFile f;
        QVERIFY_THROWS_EXCEPTION(store::Error, stopped.next(f));
    }
    QVERIFY(asked > 0);
    QCOMPARE(found(*db_, "0%.t"), QStringList{"6|100%.txt|1"});
}

void FileSearchTest::runnerNarrowsAndCounts_data() {
    QTest::addColumn<QString>("narrowing");
    QTest::addColumn<QString>("expected");  // the first rows' "disk|path|lent to", then the count
    QTest::newRow("a screen of two, the rest counted") << "" << "6|100%.txt|Петров Пётр;6|100x.txt|Петров Пётр;2";
    QTest::newRow("least size leaves the smaller out") << "size" << "count 0";
    QTest::newRow("another category leaves the disk out") << "category" << "count 0";
}

// The window's searches on their own thread: rows a screen at a time with the disk's loan,
// narrowed as asked, then the count; a newer search supersedes the running one.
void FileSearchTest::runnerNarrowsAndCounts() {
    QFETCH(QString, narrowing);
    QFETCH(QString, expected);
    std::mutex m;
    std::condition_variable done;
    std::map<uint64_t, QStringList> got;  // by query
    std::optional<uint64_t> counted;
    store::FileSearchRunner runner(
        catalogue_->base(),
        {[&](uint64_t query, std::vector<store::FoundRow> rows) {
             std::lock_guard lock(m);
             for (const auto& r : rows)
                 got[query] << QString::fromStdString(std::to_string(r.disk) + "|" + r.path + "|" +
                                                      (r.lent ? r.lentTo : "-"));
         },
         [&](uint64_t query, int64_t matches) {
             std::lock_guard lock(m);
             got[query] << (got[query].isEmpty() ? "count " : "") + QString::number(matches);
             counted = query;
             done.notify_one();
         },
         [&](uint64_t query, std::string message) {
             std::lock_guard lock(m);
             got[query] << QString::fromStdString(message);
         }},
        2, 2);
    store::FileQuery query{".TXT", {}, {}, 0};
    if (narrowing == "size") query.minimumSize = 2;
    if (narrowing == "category") query.category = 1;  // disk 6 is in another
    runner.search({"щ", {}, {}, 0});  // superseded at once, or done before the next
    const uint64_t last = runner.search(query);
    std::unique_lock lock(m);
    QVERIFY(done.wait_for(lock, std::chrono::seconds(60), [&] { return counted == last; }));
    QCOMPARE(got[last].join(';'), expected);
}

void FileSearchTest::indexCheckedAndRebuilt() {
    const fixture::FixtureCatalogue c;
    std::mt19937 rng(7);
    readRandomTree(*c.open(), 2, rng, 50);
    readRandomTree(*c.open(), 3, rng, 50);
    QVERIFY(store::checkCatalogue(c.root()).empty());
    const QStringList sql = {
        "DELETE FROM entry_names WHERE rowid IN (SELECT rowid FROM entry_names LIMIT 3)",
        "DROP TABLE entry_names"};
    for (const QString& fault : sql) {
        QProcess sqlite;
        sqlite.start("sqlite3", {QString::fromStdString((c.base() / "CDFiles.db").string()), fault});
        QVERIFY(sqlite.waitForFinished() && sqlite.exitCode() == 0);
        const auto problems = store::checkCatalogue(c.root());
        QVERIFY(problems.size() == 1 && problems[0].find("указател") != std::string::npos);
        tools::repairCatalogue(c.root());
        QVERIFY(store::checkCatalogue(c.root()).empty());
        const auto db = c.open();
        QCOMPARE(found(*db, "a"), expected(scanAll(*db), "a"));
    }
    // The rebuilt rows keep to their reads: a disk's delete leaves the other's whole.
    store::Query(statements::deleteDisk(2), c.open()).execSql();
    QVERIFY(store::checkCatalogue(c.root()).empty());
}

void FileSearchTest::findPrintsLines() {
    QProcess tool;
    tool.start(KORVALEN_BASE_EXE, {"find", catalogue_->path(), "0%.T"});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    const QString disk6 = fixture::sqlRows(catalogue_->root(), "SELECT Name FROM CDBase WHERE N = 6").value(0);
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()), "6\t" + disk6 + "\t100%.txt\t1\n");
    tool.start(KORVALEN_BASE_EXE, {"find", catalogue_->path(), ".bin"});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(QString::fromUtf8(tool.readAllStandardOutput()).contains("\t\\xFF.bin\t1\n"));
    // As a table: the window's columns, the loan, the fragment named above an HTML page.
    tool.start(KORVALEN_BASE_EXE, {"find", catalogue_->path(), "0%.T", "--format", "csv"});
    QVERIFY(tool.waitForFinished(60000));
    const QString epoch = QDateTime::fromSecsSinceEpoch(0).toString("dd.MM.yyyy hh:mm");
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()),
             "\uFEFFИмя,Папка,Размер,Изменён,Диск №,Диск,На руках\r\n100%.txt,/,1," + epoch +
                 ",6," + QString::fromStdString(reports::csvField(disk6.toStdString())) +
                 ",Петров Пётр\r\n");
    tool.start(KORVALEN_BASE_EXE, {"find", catalogue_->path(), ".bin", "--format", "html"});
    QVERIFY(tool.waitForFinished(60000));
    const QString page = QString::fromUtf8(tool.readAllStandardOutput());
    QVERIFY2(page.contains("Отбор: имя содержит «.bin»") && page.contains(">\uFFFD.bin<"),
             qPrintable(page));
    tool.start(KORVALEN_BASE_EXE, {"find", catalogue_->path(), "nothing-like-it"});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(FileSearchTest)
#include "test_filesearch.moc"
