// The disks' contents: a folder read whole with its odd entries marked, a read replacing
// the last one only once whole, a disk's delete taking its contents along, the sixth file
// in backup, check and repair, a catalogue without it, and a read killed part-way.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "contents/readers.h"
#include "statements/commands.h"
#include "store/backup.h"
#include "store/check.h"
#include "store/contentsstore.h"
#include "store/query.h"
#include "tests/fixture.h"
#include "tools/catalogue_contents.h"
#include "tools/catalogue_repair.h"

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& file, size_t bytes) {
    std::ofstream(file, std::ios::binary) << std::string(bytes, 'x');
}

// Runs work on a thread that has lost the power to read past permissions. Capabilities
// belong to a thread, so the rest of the suite keeps them; without root there is nothing
// to lose. False (why says so) when the system refuses.
bool withoutReadOverride(const std::function<void()>& work, QString& why) {
    bool ok = true;
    std::exception_ptr failure;
    std::thread([&] {
        if (geteuid() == 0) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2]{};
            if (syscall(SYS_capget, &header, data) != 0) {
                ok = false;
                return;
            }
            for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
                data[cap / 32].effective &= ~(1u << (cap % 32));
            if (syscall(SYS_capset, &header, data) != 0) {
                ok = false;
                return;
            }
        }
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (!ok) why = QStringLiteral("capset refused: root reads every folder here");
    if (failure) std::rethrow_exception(failure);
    return ok;
}

void readInto(const store::Database& db, int64_t disk, const fs::path& folder) {
    store::ContentsWriter writer(db, disk);
    contents::readFolder(folder, writer);
    writer.commit();
}

std::map<std::string, store::StoredEntry> entries(const store::Database& db, int64_t disk) {
    std::map<std::string, store::StoredEntry> out;
    store::ContentsReader(db).forEachEntry(disk, [&](const std::string& path, const auto& e) {
        out[path + (e.folder ? "/" : "")] = e;
        return true;
    });
    return out;
}

QString names(const std::map<std::string, store::StoredEntry>& found) {
    QStringList out;
    for (const auto& [path, e] : found) out << QString::fromStdString(path);
    return out.join(", ");
}

QString joined(const std::vector<std::string>& lines) {
    QStringList out;
    for (const auto& l : lines) out << QString::fromStdString(l);
    return out.join('\n');
}

// A tree of count files in folders of a hundred, under root.
void makeTree(const fs::path& root, int count) {
    for (int i = 0; i < count; ++i) {
        std::string folderName("f"), fileName("file");  // appended: GCC 12 -O3 -Wrestrict
        folderName += std::to_string(i / 100);
        fileName += std::to_string(i);
        const fs::path folder = root / folderName;
        if (i % 100 == 0) fs::create_directories(folder);
        writeFile(folder / fileName, static_cast<size_t>(i % 7));
    }
}

}  // namespace

class Contents : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void folderEntries_data();
    void folderEntries();
    void escapedNames_data();
    void escapedNames();
    void readReplacesOnlyWhenWhole();
    void catalogueWithoutContentsFile();
    void deleteTakesContentsInSameTransaction();
    void backupCopiesContentsWithTheFive();
    void checkFindsContentsFaults_data();
    void checkFindsContentsFaults();
    void scanVerb_data();
    void scanVerb();
    void killedDuringRead_data();
    void killedDuringRead();

private:
    std::unique_ptr<fixture::FixtureCatalogue> catalogue_;
    std::shared_ptr<store::Database> db_;
    QTemporaryDir tree_;
    std::map<std::string, store::StoredEntry> read_;
};

// The tree of the folder test, read once into disk 1.
void Contents::initTestCase() {
    catalogue_ = std::make_unique<fixture::FixtureCatalogue>();
    store::createContentsFile(catalogue_->base());
    db_ = catalogue_->open();
    const fs::path root = tree_.path().toStdString();
    fs::create_directories(root / "docs/deep");
    writeFile(root / "docs/a.txt", 5);
    writeFile(root / "docs/deep/b.bin", 7);
    fs::create_directory_symlink("..", root / "docs/deep/up");
    fs::create_symlink("missing", root / "nowhere");
    QCOMPARE(mkfifo((root / "pipe").c_str(), 0600), 0);
    writeFile(root / "bad\xff", 1);
    writeFile(root / "Фото.jpg", 3);
    fs::create_directory(root / "locked");
    writeFile(root / "locked/secret", 9);
    fs::permissions(root / "locked", fs::perms::none);
    QString why;
    const bool dropped = withoutReadOverride([&] { readInto(*db_, 1, root); }, why);
    fs::permissions(root / "locked", fs::perms::owner_all);
    fs::remove(root / "bad\xff");  // QTemporaryDir cannot name it to remove it
    if (!dropped) QSKIP(qPrintable(why));
    read_ = entries(*db_, 1);
    const auto volume = store::ContentsReader(*db_).volume(1);
    QVERIFY(volume);
    QCOMPARE(volume->facts.origin, root.string());
    QVERIFY(!volume->facts.fileSystem.empty());
    QVERIFY(volume->facts.capacity > 0);
    QCOMPARE(volume->folders, int64_t{3});  // docs, docs/deep, locked
    QCOMPARE(volume->files, int64_t{7});
    QCOMPARE(volume->unreadable, int64_t{1});
    QCOMPARE(volume->bytes, int64_t{5 + 7 + 2 + 7 + 0 + 1 + 3});  // a link: its own length
}

void Contents::folderEntries_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<qint64>("size");  // -1: none
    QTest::addColumn<uint>("marks");
    QTest::newRow("a file") << QByteArray("docs/a.txt") << qint64(5) << 0u;
    QTest::newRow("a folder: what is under it") << QByteArray("docs/") << qint64(12 + 2) << 0u;
    QTest::newRow("a Cyrillic name") << QByteArray("Фото.jpg") << qint64(3) << 0u;
    QTest::newRow("an unreadable folder")
        << QByteArray("locked/") << qint64(0) << uint(store::kUnreadable);
    QTest::newRow("a link back up its tree")
        << QByteArray("docs/deep/up") << qint64(2) << uint(store::kLink | store::kLinkLoop);
    QTest::newRow("a dangling link") << QByteArray("nowhere") << qint64(7) << uint(store::kLink);
    QTest::newRow("a pipe") << QByteArray("pipe") << qint64(0) << uint(store::kSpecial);
    QTest::newRow("a name not UTF-8")
        << QByteArray("bad\xff") << qint64(1) << uint(store::kNotUtf8);
}

void Contents::folderEntries() {
    QFETCH(QByteArray, path);
    QFETCH(qint64, size);
    QFETCH(uint, marks);
    const auto found = read_.find(path.toStdString());
    QVERIFY2(found != read_.end(), qPrintable(names(read_)));
    QCOMPARE(found->second.size.value_or(-1), size);
    QCOMPARE(found->second.marks, marks);
    QVERIFY(found->second.modified);
    QVERIFY2(!read_.contains("locked/secret"), "an unreadable folder was listed");
}

void Contents::escapedNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("a\\tb");
    QTest::newRow("line break") << QByteArray("a\nb") << QByteArray("a\\nb");
    QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a\\\\b");
    QTest::newRow("Cyrillic kept") << QByteArray("Ёлка") << QByteArray("Ёлка");
    QTest::newRow("a byte not UTF-8") << QByteArray("a\xff") << QByteArray("a\\xFF");
    QTest::newRow("a cut sequence") << QByteArray("\xd0") << QByteArray("\\xD0");
    QTest::newRow("an overlong slash") << QByteArray("\xc0\xaf") << QByteArray("\\xC0\\xAF");
}

void Contents::escapedNames() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, shown);
    QCOMPARE(QByteArray::fromStdString(tools::escapedName(name.toStdString())), shown);
}

void Contents::readReplacesOnlyWhenWhole() {
    const QTemporaryDir first, second;
    writeFile(fs::path(first.path().toStdString()) / "old.txt", 1);
    writeFile(fs::path(second.path().toStdString()) / "new.txt", 2);
    readInto(*db_, 2, first.path().toStdString());
    readInto(*db_, 2, second.path().toStdString());
    QCOMPARE(names(entries(*db_, 2)), QStringLiteral("new.txt"));
    {
        store::ContentsWriter abandoned(*db_, 2);
        contents::readFolder(first.path().toStdString(), abandoned);
    }
    QCOMPARE(names(entries(*db_, 2)), QStringLiteral("new.txt"));
    QCOMPARE(names(entries(*db_, 1)), names(read_));  // another disk untouched
    std::ostringstream printed;
    QVERIFY(tools::printContents(catalogue_->root(), 2, printed));
    const QStringList line = QString::fromStdString(printed.str()).trimmed().split('\t');
    QCOMPARE(line.size(), 3);
    QCOMPARE(line[0], QStringLiteral("2"));
    QVERIFY2(QDateTime::fromString(line[1], "yyyy-MM-dd HH:mm:ss").isValid(), qPrintable(line[1]));
    QCOMPARE(line[2], QStringLiteral("new.txt"));
}

void Contents::catalogueWithoutContentsFile() {
    const fixture::FixtureCatalogue older;
    const fixture::FolderSnapshot before(older.base());
    const auto db = older.open();
    QVERIFY(!store::ContentsReader(*db).volume(3));
    QVERIFY(store::ContentsReader(*db).children(3, store::kRootFolder).empty());
    QVERIFY(fixture::FolderSnapshot(older.base()) == before);
    store::Query(statements::deleteDisk(4), db).execSql();
    QVERIFY(store::checkCatalogue(older.root()).empty());
    const QTemporaryDir folder;
    writeFile(fs::path(folder.path().toStdString()) / "x", 1);
    readInto(*db, 3, folder.path().toStdString());  // makes the sixth file
    QCOMPARE(names(entries(*db, 3)), QStringLiteral("x"));
    QVERIFY(fs::exists(older.base() / "CDFiles.db"));
}

void Contents::deleteTakesContentsInSameTransaction() {
    const QTemporaryDir folder;
    makeTree(folder.path().toStdString(), 3);
    readInto(*db_, 7, folder.path().toStdString());
    const auto before = entries(*db_, 7);
    QCOMPARE(before.size(), size_t(4));
    {
        store::Database::Transaction unit(*db_);
        store::Query(statements::deleteDisk(7), db_).execSql();
        QVERIFY(!store::ContentsReader(*db_).volume(7));
        QVERIFY(entries(*db_, 7).empty());
    }  // rolled back: the disk and its contents come back together
    QCOMPARE(names(entries(*db_, 7)), names(before));
    store::Query(statements::deleteDisk(7), db_).execSql();
    QVERIFY(!store::ContentsReader(*db_).volume(7));
    QCOMPARE(fixture::sqlRows(catalogue_->root(), "SELECT count(*) FROM CDBase WHERE N = 7"),
             QStringList{"0"});
    const auto problems = store::checkCatalogue(catalogue_->root());
    QVERIFY2(problems.empty(), qPrintable(joined(problems)));
}

void Contents::backupCopiesContentsWithTheFive() {
    const QTemporaryDir dest;
    const auto problems = store::backupCatalogue(catalogue_->root(), dest.path().toStdString());
    QVERIFY2(problems.empty(), qPrintable(joined(problems)));
    const auto copy = store::Database::open(fs::path(dest.path().toStdString()) / "base");
    QCOMPARE(names(entries(*copy, 1)), names(read_));
    QCOMPARE(store::ContentsReader(*copy).volume(1)->files, int64_t{7});
}

void Contents::checkFindsContentsFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reported");
    QTest::addColumn<bool>("repaired");
    QTest::newRow("not a database") << "garbage"
                                    << "CDFiles.db" << false;
    QTest::newRow("contents of a disk the catalogue lacks") << "orphan"
                                                            << "содержимое диска № 99" << true;
}

void Contents::checkFindsContentsFaults() {
    QFETCH(QString, fault);
    QFETCH(QString, reported);
    QFETCH(bool, repaired);
    const fixture::FixtureCatalogue c;
    if (fault == "garbage") {
        std::ofstream(c.base() / "CDFiles.db", std::ios::binary) << std::string(5000, '\x5a');
    } else {
        const QTemporaryDir folder;
        writeFile(fs::path(folder.path().toStdString()) / "x", 1);
        readInto(*c.open(), 99, folder.path().toStdString());
    }
    const auto problems = store::checkCatalogue(c.root());
    QVERIFY2(problems.size() == 1, qPrintable(joined(problems)));
    QVERIFY2(joined(problems).contains(reported), qPrintable(joined(problems)));
    QVERIFY(c.open());  // the five still open and work
    tools::repairCatalogue(c.root());
    QCOMPARE(store::checkCatalogue(c.root()).empty(), repaired);
}

void Contents::scanVerb_data() {
    QTest::addColumn<QString>("disk");
    QTest::addColumn<QString>("source");  // in the test's folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::newRow("a folder") << "5"
                              << "tree" << 0 << "папок 1, файлов 2";
    QTest::newRow("no such disk") << "99"
                                  << "tree" << 1 << "нет диска № 99";
    QTest::newRow("no such source") << "5"
                                    << "missing" << 1 << "Не найден источник";
    QTest::newRow("not an image") << "5"
                                  << "tree/text.txt" << 1 << "не образ диска";
    QTest::newRow("a disk not a number") << "пять"
                                         << "tree" << 2 << "Использование";
}

// What korvalen-base scan says and leaves: a failure keeps the disk's last read.
void Contents::scanVerb() {
    QFETCH(QString, disk);
    QFETCH(QString, source);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const fixture::FixtureCatalogue c;
    const QTemporaryDir folder, before;
    fs::create_directories(folder.filePath("tree/sub").toStdString());
    writeFile(folder.filePath("tree/text.txt").toStdString(), 10);
    writeFile(folder.filePath("tree/sub/x").toStdString(), 1);
    writeFile(fs::path(before.path().toStdString()) / "kept", 1);
    readInto(*c.open(), 5, before.path().toStdString());
    QProcess scan;
    scan.start(KORVALEN_BASE_EXE, {"scan", c.path(), disk, folder.filePath(source)});
    QVERIFY(scan.waitForFinished(60000));
    const QString output =
        QString::fromUtf8(scan.readAllStandardOutput() + scan.readAllStandardError());
    QVERIFY2(output.contains(said), qPrintable(output));
    QCOMPARE(scan.exitCode(), exitCode);
    QCOMPARE(names(entries(*c.open(), 5)),
             exitCode == 0 ? QStringLiteral("sub/, sub/x, text.txt") : QStringLiteral("kept"));
}

void Contents::killedDuringRead_data() {
    QTest::addColumn<bool>("readBefore");
    QTest::newRow("first read") << false;
    QTest::newRow("re-read") << true;
}

// korvalen-base scan killed at random moments: the catalogue stays sound and the disk
// shows what it had or the whole new read, never a part of it.
void Contents::killedDuringRead() {
    QFETCH(bool, readBefore);
    constexpr int kFiles = 10000;
    const fixture::FixtureCatalogue c;
    store::createContentsFile(c.base());
    const QTemporaryDir small;
    writeFile(fs::path(small.path().toStdString()) / "old.txt", 1);
    static const QTemporaryDir big;  // made once for both rows
    if (!fs::exists(fs::path(big.path().toStdString()) / "f0"))
        makeTree(big.path().toStdString(), kFiles);
    const auto scan = [&](int disk) {
        auto child = std::make_unique<QProcess>();
        child->start(KORVALEN_BASE_EXE, {"scan", c.path(), QString::number(disk), big.path()});
        return child;
    };
    // Kills spread over a whole read's time, as measured here and now (under load too).
    QElapsedTimer timer;
    timer.start();
    QVERIFY(scan(8)->waitForFinished(60000));
    const auto readMs = static_cast<unsigned>(timer.elapsed());
    std::mt19937 rng(21);
    int whole = 0;
    for (int disk = 1; disk <= 7; ++disk) {  // each round on a disk of its own
        if (readBefore) readInto(*c.open(), disk, small.path().toStdString());
        const auto child = scan(disk);
        QVERIFY(child->waitForStarted(30000));
        QThread::msleep(rng() % (readMs + readMs / 4 + 1));
        child->kill();
        QVERIFY(child->waitForFinished(30000));
        QProcess check;
        check.start(KORVALEN_BASE_EXE, {"check", c.path()});
        QVERIFY(check.waitForFinished(60000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput().constData());
        const auto db = c.open();
        const auto volume = store::ContentsReader(*db).volume(disk);
        const auto now = entries(*db, disk);
        if (volume && volume->files == kFiles) {
            QCOMPARE(now.size(), size_t(kFiles + kFiles / 100));
            ++whole;
        } else if (readBefore) {
            QCOMPARE(names(now), QStringLiteral("old.txt"));
        } else {
            QVERIFY2(!volume && now.empty(), qPrintable(names(now).left(200)));
        }
    }
    qInfo("a read took %u ms; %d of 7 ended before the kill", readMs, whole);
}

QTEST_GUILESS_MAIN(Contents)
#include "test_contents.moc"
