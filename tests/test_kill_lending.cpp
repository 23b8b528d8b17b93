// A process that lends and takes back disks, killed at random moments, many
// times over: after every kill the catalogue passes its check (SQLite's
// integrity check included), each disk's lent flag agrees with its loans, and
// the lending history has only grown.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <map>
#include <random>

#include "store/check.h"
#include "store/query.h"
#include "tests/catalogue_writes.h"
#include "tools/catalogue_demo.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 40;

struct ClosedLoan {
    int64_t disk = 0;
    int64_t debtor = 0;
    std::string lent;
    std::string back;
    bool operator==(const ClosedLoan&) const = default;
};

// Closed loans by row number: a closed row keeps its debtor and both dates for good.
std::map<int64_t, ClosedLoan> closedLoans(const fs::path& dir) {
    const auto db = store::Database::open(dir / "base");
    store::Query q({"select rowid as Nr, NomCD, Dolgnik, DatN, DatK from \"base\\Dolg.db\"",
                    "where Dolg = False"},
                   db);
    q.open();
    std::map<int64_t, ClosedLoan> loans;
    for (; !q.eof(); q.next())
        loans[q.field("Nr").asInteger()] = {q.field("NomCD").asInteger(),
                                            q.field("Dolgnik").asInteger(),
                                            q.field("DatN").asString(), q.field("DatK").asString()};
    return loans;
}

bool hotJournalLeft(const fs::path& base) {
    for (const auto& entry : fs::directory_iterator(base))
        if (entry.path().filename().string().find("-journal") != std::string::npos) return true;
    return false;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

}  // namespace

class KillLending : public QObject {
    Q_OBJECT

private slots:
    void killedAtRandomMoments();
};

void KillLending::killedAtRandomMoments() {
    // In memory, where syncing costs nothing, the child gets through many commands
    // between kills, so the kills fall on every stage of them (a kill keeps what was
    // written, synced or not: only the store's journal decides what survives).
    const QTemporaryDir tmp(QDir("/dev/shm").exists() ? "/dev/shm/kill_lending-XXXXXX"
                                                      : QDir::tempPath() + "/kill_lending-XXXXXX");
    QVERIFY(tmp.isValid());
    const fs::path dir = tmp.path().toStdString();
    tools::makeDemo(dir, {.disks = 40});
    auto history = closedLoans(dir);
    const size_t closedAtStart = history.size();
    std::mt19937 rng(20240601);
    int journalsLeft = 0;

    for (int round = 0; round < kRounds; ++round) {
        QProcess child;
        child.start(LEND_LOOP, {QString::fromStdString(dir.string()), QString::number(round)});
        QVERIFY(child.waitForStarted(30000));
        // Most kills fall while it lends and takes back; every fifth, while it opens
        // the catalogue (and perhaps rolls back what the last kill left).
        if (round % 5 != 4) {
            while (!child.readAllStandardOutput().contains("ready"))
                QVERIFY2(child.waitForReadyRead(30000), qPrintable(child.readAllStandardError()));
            QThread::msleep(5 + rng() % 80);
        } else {
            QThread::msleep(rng() % 60);
        }
        QVERIFY2(child.state() == QProcess::Running, qPrintable(child.readAllStandardError()));
        child.kill();
        QVERIFY(child.waitForFinished(30000));

        journalsLeft += hotJournalLeft(dir / "base") ? 1 : 0;
        const auto problems = store::checkCatalogue(dir);
        QVERIFY2(problems.empty(), qPrintable(QString("round %1:\n").arg(round) +
                                              QString::fromStdString(joined(problems))));
        const auto now = closedLoans(dir);
        for (const auto& [row, loan] : history) {
            const auto kept = now.find(row);
            QVERIFY2(kept != now.end() && kept->second == loan,
                     qPrintable(
                         QString("round %1: closed loan %2 lost or changed").arg(round).arg(row)));
        }
        for (const auto& [row, loan] : now)
            QVERIFY2(loan.debtor > 0 && !loan.lent.empty() && !loan.back.empty(),
                     qPrintable(QString("round %1: closed loan %2 lacks its debtor or a date")
                                    .arg(round)
                                    .arg(row)));
        history = now;
    }
    qInfo("%d kills, %d left a hot journal behind; closed loans %zu -> %zu", kRounds, journalsLeft,
          closedAtStart, history.size());
    QVERIFY2(history.size() > closedAtStart, "the child never took a disk back");

    QProcess check;
    check.start(KORVALEN_BASE_EXE, {"check", QString::fromStdString(dir.string())});
    QVERIFY(check.waitForFinished(60000));
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0,
             qPrintable(QString::fromUtf8(check.readAllStandardOutput())));
}

QTEST_GUILESS_MAIN(KillLending)
#include "test_kill_lending.moc"
