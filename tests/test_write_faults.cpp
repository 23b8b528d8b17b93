// Writes that the catalogue's files refuse: read-only files, a table locked by
// another program, a full disk. Each command gets a plain Russian message, the
// files stay byte for byte as they were, and the program goes on.
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <thread>

#include "store/check.h"
#include "store/query.h"
#include "tests/catalogue_writes.h"
#include "tests/file_faults.h"
#include "tests/fixture.h"
#include "tools/catalogue_demo.h"

namespace fs = std::filesystem;
using faults::LockHolder;
using store::Error;
using writes::DatabasePtr;

namespace {

constexpr int kDisks = 30;

fs::path demoIn(const QTemporaryDir& tmp, const char* sub = nullptr) {
    fs::path dir = tmp.path().toStdString();
    if (sub) dir /= sub;
    fs::create_directories(dir);
    tools::makeDemo(dir, {.disks = kDisks});
    return dir;
}

std::string messageOf(const std::function<void()>& command, Error::Kind expected) {
    try {
        command();
    } catch (const Error& e) {
        if (e.kind() != expected)
            return "wrong kind " + std::string(writes::kindName(e.kind())) + ": " + e.what();
        return e.what();
    }
    return "no error";
}

bool says(const std::string& message, std::string_view words) {
    return message.find(words) != std::string::npos;
}

int64_t firstNotLent(const DatabasePtr& db) {
    return writes::keys(db, {"select N from 'base\\CDBase.db'", "where Dolg = False"}, "N").front();
}

std::string lendingState(const DatabasePtr& db) {
    const auto lent =
        writes::keys(db, {"select N from 'base\\CDBase.db'", "where Dolg = True"}, "N");
    const auto open =
        writes::keys(db, {"select NomCD from \"base\\Dolg.db\"", "where Dolg = True"}, "NomCD");
    return std::to_string(lent.size()) + " lent, " + std::to_string(open.size()) + " open loans";
}

size_t rowsOf(const DatabasePtr& db, std::vector<std::string> lines) {
    store::Query q(std::move(lines), db);
    q.open();
    q.fetchAll();
    return static_cast<size_t>(q.fetchedRows());
}

// ---- read-only files ----------------------------------------------------------------

// How the writer is started so that it cannot write: as an unprivileged user, or in a
// mount namespace of its own where the target is mounted read-only.
QStringList readOnlyLauncher(bool mount, const fs::path& target) {
    if (mount)
        return {"unshare",
                "-m",
                "sh",
                "-c",
                "mount --make-rprivate / && mount --bind \"$1\" \"$1\" && "
                "mount -o remount,bind,ro \"$1\" && shift && exec \"$@\"",
                "sh",
                QString::fromStdString(target.string())};
    return {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runProcess(QStringList command) {
    QProcess p;
    const QString program = command.takeFirst();
    p.start(program, command);
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.err = "did not finish";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Lets the unprivileged user reach the catalogue; with dolgOnly it may also write
// everything but Dolg.DB.
bool shareWithNobody(const fs::path& dir, bool dolgOnly) {
    const passwd* user = getpwnam("nobody");
    const group* grp = getgrnam("nogroup");
    if (!user || !grp) return false;
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    if (!dolgOnly) return true;
    const fs::path base = dir / "base";
    bool ok = chown(base.c_str(), user->pw_uid, grp->gr_gid) == 0;
    for (const auto& entry : fs::directory_iterator(base))
        if (entry.path().filename() != "Dolg.DB")
            ok = ok && chown(entry.path().c_str(), user->pw_uid, grp->gr_gid) == 0;
    return ok;
}

// ---- a table locked by another program ------------------------------------------------

struct LockCase {
    const char* name;
    const char* lockedFile;
    const char* holderBegins;
    std::function<void(const DatabasePtr&)> command;
    std::function<std::string(const DatabasePtr&)> observe;  // what the command changes
};

void lendFirstNotLent(const DatabasePtr& db) {
    writes::lendDisk(db, firstNotLent(db), 1, store::Date::today());
}

const std::vector<LockCase>& lockCases() {
    static const std::vector<LockCase> cases = {
        {"add disk, CDBase.DB locked", "CDBase.DB", "BEGIN EXCLUSIVE",
         [](const DatabasePtr& db) {
             writes::addDisk(db, {"Диск после блокировки", "", 1, 1});
         },
         [](const DatabasePtr& db) { return std::to_string(rowsOf(db, writes::diskListLines())); }},
        {"lend disk, Dolg.DB locked", "Dolg.DB", "BEGIN EXCLUSIVE", lendFirstNotLent, lendingState},
        // Lending gets as far as its commit, which cannot wait out the reader.
        {"lend disk, Dolg.DB being read", "Dolg.DB", "BEGIN; SELECT count(*) FROM Dolg",
         lendFirstNotLent, lendingState},
        {"take back disk, CDBase.DB locked", "CDBase.DB", "BEGIN EXCLUSIVE",
         [](const DatabasePtr& db) {
             const auto lent =
                 writes::keys(db, {"select N from 'base\\CDBase.db'", "where Dolg = True"}, "N");
             writes::returnDisk(db, lent.front(), store::Date::today());
         },
         lendingState},
        {"add debtor, SprDolgnik.db locked", "SprDolgnik.db", "BEGIN EXCLUSIVE",
         [](const DatabasePtr& db) {
             writes::addEntry(db, writes::Book::Debtors, "Новый должник");
         },
         [](const DatabasePtr& db) {
             return std::to_string(rowsOf(db, fixture::layoutLines("Unit1", "Query3")));
         }},
    };
    return cases;
}

// ---- a full disk ----------------------------------------------------------------------

const std::string& megabyteDescription() {
    static const std::string text = [] {
        std::string t;
        while (t.size() < 1024 * 1024) t += "Описание диска, строка за строкой.\r\n";
        return t;
    }();
    return text;
}

const writes::DiskFields& bigDisk() {
    static const writes::DiskFields disk{"Большое описание", megabyteDescription(), 1, 1};
    return disk;
}

// Commands that need more room than is left, and how to see that they took effect.
struct GrowingWrite {
    const char* name;
    std::function<void(const DatabasePtr&)> command;
};

const std::vector<GrowingWrite>& growingWrites() {
    static const std::vector<GrowingWrite> all = {
        {"add disk with a 1 MB description",
         [](const DatabasePtr& db) { writes::addDisk(db, bigDisk()); }},
        {"edit disk to a 1 MB description",
         [](const DatabasePtr& db) { writes::editDisk(db, 2, bigDisk()); }},
    };
    return all;
}

bool listedWithBigDescription(const DatabasePtr& db) {
    store::Query list(writes::diskListLines(), db);
    list.open();
    for (; !list.eof(); list.next())
        if (list.field("Name").asString() == bigDisk().name)
            return list.field("Opisan").asString() == bigDisk().description;
    return false;
}

// Leaves a write unfinished as a process killed in its middle does: a child writes to the
// disks' file and ends without closing it. With WAL, the write is committed into the log
// and the log's index (-shm) is then removed; else a transaction too big for the cache
// leaves a hot journal beside a changed file.
void interruptedWrite(const fs::path& base, bool wal) {
    const fs::path file = base / "CDBase.DB";
    const pid_t child = fork();
    if (child == 0) {
        const store::Connection c(file);
        c.exec(wal ? "PRAGMA journal_mode = WAL; UPDATE CDBase SET Name = Name || '!'"
                   : "PRAGMA cache_size = 1; BEGIN; UPDATE CDBase SET Opisan = randomblob(4000)");
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    if (wal) fs::remove(file.string() + "-shm");
}

}  // namespace

class WriteFaults : public QObject {
    Q_OBJECT

private slots:
    void readOnlyCatalogue_data();
    void readOnlyCatalogue();
    void lockedTable_data();
    void lockedTable();
    void lockReleasedWhileWaiting();
    void readingLockedTable();
    void fullFileSystem_data();
    void fullFileSystem();
    void pageLimit_data();
    void pageLimit();
    void causeNamed_data();
    void causeNamed();
    void unfinishedWriteInReadOnlyFolder_data();
    void unfinishedWriteInReadOnlyFolder();
};

void WriteFaults::readOnlyCatalogue_data() {
    QTest::addColumn<bool>("mount");
    QTest::addColumn<bool>("dolgOnly");
    QTest::newRow("unprivileged user") << false << false;
    QTest::newRow("read-only mount") << true << false;
    QTest::newRow("unprivileged user, Dolg.DB alone read-only") << false << true;
    QTest::newRow("read-only mount of Dolg.DB alone") << true << true;
}

void WriteFaults::readOnlyCatalogue() {
    QFETCH(bool, mount);
    QFETCH(bool, dolgOnly);
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const fs::path base = dir / "base";
    const fs::path target = dolgOnly ? base / "Dolg.DB" : base;
    QStringList launch = readOnlyLauncher(mount, target);
    if (!mount && !shareWithNobody(dir, dolgOnly))
        QSKIP("no user nobody or no right to hand it files on this machine");
    // Without arguments the writer only prints its usage and exits with 2.
    const Run probe = runProcess(launch + QStringList{STORE_WRITER});
    if (probe.exitCode != 2)
        QSKIP(qPrintable("cannot run the writer on a read-only catalogue here: " +
                         probe.err.trimmed()));
    const auto before = writes::folderBytes(base);

    // With Dolg.DB alone read-only, the first statement of each pair succeeds and the
    // second fails: the pair must leave nothing behind.
    QStringList args{QString::fromStdString(dir.string())};
    if (dolgOnly)
        args << "lend disk"
             << "take back disk";
    const Run run = runProcess(launch + QStringList{STORE_WRITER} + args);
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));

    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    const qsizetype commands =
        dolgOnly ? 2 : static_cast<qsizetype>(writes::everyWriteCommand().size());
    QCOMPARE(lines.size(), commands + 1);
    for (qsizetype i = 0; i < commands; ++i) {
        const QStringList f = lines[i].split('\t');
        QVERIFY2(f.size() == 3 && f[1] == "ReadOnly", qPrintable(lines[i]));
        QVERIFY2(f[2].contains("доступна только для чтения: изменение не записано"),
                 qPrintable(lines[i]));
        if (dolgOnly) QVERIFY2(f[2].contains("Dolg.db"), qPrintable(lines[i]));
    }
    QCOMPARE(lines.last(), QString("read disk list\t%1").arg(kDisks));  // and it goes on
    QVERIFY(writes::folderBytes(base) == before);
    QCOMPARE(store::checkCatalogue(dir), std::vector<std::string>{});
}

void WriteFaults::lockedTable_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(lockCases().size()); ++i)
        QTest::newRow(lockCases()[i].name) << i;
}

void WriteFaults::lockedTable() {
    QFETCH(int, row);
    const LockCase& c = lockCases()[row];
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const auto db = store::Database::open(dir / "base");
    const std::string seen = c.observe(db);
    const auto before = writes::folderBytes(dir / "base");
    {
        LockHolder holder(dir / "base" / c.lockedFile, c.holderBegins);
        QVERIFY(holder.held());
        const std::string message = messageOf([&] { c.command(db); }, Error::Kind::Locked);
        QVERIFY2(says(message, "занята другой программой. Повторите попытку"), message.c_str());
    }
    QCOMPARE(c.observe(db), seen);
    QVERIFY(writes::folderBytes(dir / "base") == before);

    c.command(db);  // the lock is gone: the same command works
    QVERIFY(c.observe(db) != seen);
    QCOMPARE(store::checkCatalogue(dir), std::vector<std::string>{});
}

// The store waits for a lock before it gives up: released meanwhile, the command works.
void WriteFaults::lockReleasedWhileWaiting() {
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const auto db = store::Database::open(dir / "base");
    const int64_t disk = firstNotLent(db);
    LockHolder holder(dir / "base" / "Dolg.DB");
    QVERIFY(holder.held());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder.release();
    });
    writes::lendDisk(db, disk, 1, store::Date::today());
    release.join();
    QCOMPARE(writes::lentFlag(db, disk), std::string("True"));
    QCOMPARE(store::checkCatalogue(dir), std::vector<std::string>{});
}

void WriteFaults::readingLockedTable() {
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const auto db = store::Database::open(dir / "base");
    LockHolder holder(dir / "base" / "SprType.db");
    QVERIFY(holder.held());
    const std::string message =
        messageOf([&] { rowsOf(db, writes::diskListLines()); }, Error::Kind::Locked);
    QVERIFY2(says(message, "SprType.db занята другой программой"), message.c_str());
    holder.release();
    QCOMPARE(rowsOf(db, writes::diskListLines()), static_cast<size_t>(kDisks));
}

void WriteFaults::fullFileSystem_data() {
    QTest::addColumn<bool>("everyCommand");
    QTest::addColumn<int>("spareBytes");
    QTest::newRow("no room at all: every write command") << true << 0;
    QTest::newRow("room for the journal only: 1 MB descriptions") << false << 64 * 1024;
}

void WriteFaults::fullFileSystem() {
    QFETCH(bool, everyCommand);
    QFETCH(int, spareBytes);
    if (!faults::ownMountNamespace())
        QSKIP("this process may not mount a file system of its own here");
    QTemporaryDir tmp;
    const fs::path disk = fs::path(tmp.path().toStdString()) / "disk";
    faults::SmallFileSystem small(disk, "2m");
    if (!small.mounted()) QSKIP("cannot mount a small tmpfs here");
    // No disks' contents: their file alone would not fit the 2 MB.
    tools::makeDemo(disk, {.disks = kDisks, .files = 0});
    const fs::path base = disk / "base";
    const auto db = store::Database::open(base);
    QVERIFY(faults::fillUp(disk / "filler", spareBytes));
    const auto before = writes::folderBytes(base);

    std::vector<std::pair<std::string, std::function<void(const DatabasePtr&)>>> commands;
    if (everyCommand)
        for (const auto& w : writes::everyWriteCommand()) commands.emplace_back(w.name, w.run);
    else
        for (const auto& w : growingWrites()) commands.emplace_back(w.name, w.command);
    for (const auto& [name, command] : commands) {
        const std::string message = messageOf([&] { command(db); }, Error::Kind::DiskFull);
        QVERIFY2(says(message, "Недостаточно места на диске: изменение таблицы"),
                 (name + ": " + message).c_str());
        QVERIFY2(writes::folderBytes(base) == before, name.c_str());
    }
    QCOMPARE(store::checkCatalogue(disk), std::vector<std::string>{});

    fs::remove(disk / "filler");  // room again: the same connection writes
    commands.back().second(db);
    QVERIFY(writes::folderBytes(base) != before);
    QCOMPARE(store::checkCatalogue(disk), std::vector<std::string>{});
}

// SQLite's own size limit stands for a full disk where no file system can be mounted.
void WriteFaults::pageLimit_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(growingWrites().size()); ++i)
        QTest::newRow(growingWrites()[i].name) << i;
}

void WriteFaults::pageLimit() {
    QFETCH(int, row);
    const GrowingWrite& w = growingWrites()[row];
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const auto db = store::Database::open(dir / "base");
    const auto before = writes::folderBytes(dir / "base");
    db->execRaw("PRAGMA main.max_page_count = 1");  // never below the file's size: no growth
    const std::string message = messageOf([&] { w.command(db); }, Error::Kind::DiskFull);
    QVERIFY2(says(message, "Недостаточно места на диске: изменение таблицы CDBase.db не записано"),
             message.c_str());
    QVERIFY(writes::folderBytes(dir / "base") == before);
    QVERIFY(!listedWithBigDescription(db));

    db->execRaw("PRAGMA main.max_page_count = 1073741823");
    w.command(db);
    QVERIFY(listedWithBigDescription(db));
    QCOMPARE(store::checkCatalogue(dir), std::vector<std::string>{});
}

// Failures whose cause SQLite's own words hide: the message says what happened.
using Cause = std::function<void(const fs::path& dir)>;
using Command = std::function<void(const DatabasePtr&)>;
Q_DECLARE_METATYPE(Cause)
Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(Error::Kind)

void WriteFaults::causeNamed_data() {
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<Command>("command");
    QTest::addColumn<Error::Kind>("kind");
    QTest::addColumn<QString>("message");
    const auto addDisk = [](const DatabasePtr& db) { writes::addDisk(db, {"Новый", "", 1, 1}); };
    // SQLite says "database or disk is full" when no key is left to give.
    QTest::newRow("disk keys run out") << Cause([](const fs::path& dir) {
        fixture::sqlRows(dir,
                         "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip) VALUES "
                         "(9223372036854775807, 'Последний', '', 1, 1)");
    }) << Command(addDisk) << Error::Kind::KeysExhausted
                                       << "Нумерация записей таблицы CDBase.db исчерпана";
    // SQLite says the file is read-only.
    QTest::newRow("catalogue folder renamed while open")
        << Cause([](const fs::path& dir) { fs::rename(dir / "base", dir / "base-moved"); })
        << Command(addDisk) << Error::Kind::ReadOnly
        << "пропала: её переименовали, перенесли или удалили, пока программа работала";
}

void WriteFaults::causeNamed() {
    QFETCH(Cause, cause);
    QFETCH(Command, command);
    QFETCH(Error::Kind, kind);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const auto db = store::Database::open(dir / "base");
    cause(dir);
    const std::string said = messageOf([&] { command(db); }, kind);
    QVERIFY2(says(said, message.toStdString()), said.c_str());
}

// A write left unfinished in a folder that is now read-only: SQLite cannot settle it
// and says only "read-only" or "unable to open database file"; the message says why.
void WriteFaults::unfinishedWriteInReadOnlyFolder_data() {
    QTest::addColumn<bool>("wal");
    QTest::addColumn<QString>("message");
    QTest::newRow("a hot journal") << false << "Запись в таблицу CDBase.DB была прервана";
    QTest::newRow("a WAL file without its -shm")
        << true << "Таблица CDBase.DB ведёт журнал WAL (рядом лежит CDBase.DB-wal без";
}

void WriteFaults::unfinishedWriteInReadOnlyFolder() {
    QFETCH(bool, wal);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    const fs::path dir = demoIn(tmp);
    const fs::path base = dir / "base";
    const QStringList launch = readOnlyLauncher(true, base);
    const Run probe = runProcess(launch + QStringList{STORE_WRITER});
    if (probe.exitCode != 2) QSKIP(qPrintable("cannot mount read-only here: " + probe.err));
    interruptedWrite(base, wal);
    const auto before = writes::folderBytes(base);
    const Run run = runProcess(launch + QStringList{STORE_WRITER, QString::fromStdString(dir)});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.startsWith("open\t") && run.out.contains(message), qPrintable(run.out));
    QVERIFY2(run.out.contains("доступн"), qPrintable(run.out));  // and what to do
    QVERIFY(writes::folderBytes(base) == before);
}

QTEST_GUILESS_MAIN(WriteFaults)
#include "test_write_faults.moc"
