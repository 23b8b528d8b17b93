// korvalen_two_instances DIR [ROUNDS]: two Korvalen main windows on the catalogue in
// DIR, offscreen, each in a process of its own, save a disk in turn. Each has read its
// disk list in part (the first thousand rows, as after some scrolling) and edits a disk
// among them through the disk editor, while the other sits idle with its own list read
// in part. A second between turns, as between a user's saves in two windows. Prints
// each save's time and any message, then the counts and the median and longest save.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/startup.h"
#include "bench/quiet_messages.h"
#include "dialogs/Unit3.h"
#include "settings/settingsfile.h"
#include "ui_Unit1.h"
#include "ui_Unit3.h"
#include "widgets/listquery.h"
#include "widgets/querymodel.h"

namespace {

constexpr int kRowsRead = 1000;

void readListInPart(TForm1& form) {
    QueryModel& grid = *form.DataSource5;
    while (grid.rowCount() < kRowsRead && grid.canFetchMore({})) grid.fetchMore({});
}

// One instance: saves when told "save ROW" on its input, answers "ok MS" or
// "message MS TEXT", and between saves lets its event loop run idle.
int instance(const QString& dir) {
    bench::QuietMessages messages;
    const QTemporaryDir settings;
    setSettingsFilePath(settings.filePath(QStringLiteral("Korvalen.ini")));
    QDir::setCurrent(dir);
    const auto windows = startProgram();
    if (!windows) return 1;
    TForm1& form = *windows->form1;
    readListInPart(form);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QCoreApplication::quit();
            return;
        }
        const int row = std::stoi(line.substr(line.find(' ') + 1));
        form.Query5->setCurrentRow(row);
        Form3->showModal = [row](TForm3& editor) {
            editor.ui->LabeledEdit1->setText(QStringLiteral("Сохранён в очередь %1").arg(row));
            editor.ui->BitBtn2->click();
        };
        messages.forget();
        QElapsedTimer timer;
        timer.start();
        form.ui->BitBtn4->click();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!messages.anySaid())
            std::printf("ok %.1f\n", ms);
        else
            std::printf("message %.1f %s\n", ms,
                        messages.lastSaid().simplified().toUtf8().constData());
        std::fflush(stdout);
        readListInPart(form);  // the list was reopened: read in part again
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

QString replyOf(QProcess& process) {
    while (!process.canReadLine())
        if (!process.waitForReadyRead(60'000)) return QStringLiteral("no answer");
    return QString::fromUtf8(process.readLine()).trimmed();
}

int driver(const QString& self, const QString& dir, int rounds) {
    QProcess instances[2];
    for (QProcess& p : instances) {
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(self, {QStringLiteral("--instance"), dir});
        if (replyOf(p) != QLatin1String("ready")) {
            std::cerr << "an instance did not start\n";
            return 1;
        }
    }
    std::vector<double> times;
    int busy = 0;
    for (int round = 0; round < rounds; ++round) {
        QThread::sleep(1);
        QProcess& p = instances[round % 2];
        p.write(QStringLiteral("save %1\n").arg(500 + round).toUtf8());
        const QString reply = replyOf(p);
        std::printf("instance %d: %s\n", round % 2 + 1, reply.toUtf8().constData());
        const QStringList parts = reply.split(QLatin1Char(' '));
        if (parts.size() > 1) times.push_back(parts[1].toDouble());
        if (reply.contains(QStringLiteral("занята"))) ++busy;
    }
    for (QProcess& p : instances) {
        p.closeWriteChannel();
        p.waitForFinished(30'000);
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double longest = times.empty() ? 0 : times.back();
    std::printf("saves: %d, \"занята\": %d, median %.1f ms, longest %.1f ms\n", rounds, busy,
                median, longest);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--instance")) return instance(args[2]);
    if (args.size() < 2) {
        std::cerr << "usage: korvalen_two_instances DIR [ROUNDS]\n";
        return 2;
    }
    const int rounds = args.size() > 2 ? args[2].toInt() : 10;
    return driver(QCoreApplication::applicationFilePath(), QDir(args[1]).absolutePath(), rounds);
}
