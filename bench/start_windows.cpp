// korvalen_start_windows: the program's start in the working directory's catalogue,
// offscreen: the windows built, the main window shown, one pass over the events (the
// grids lay out and read their first screen), then out. Run under korvalen_peak_rss
// for the program's peak memory before the user scrolls. With --name-copy it then
// waits until the copy of the disk names that the program loads after the start is
// ready, and prints its size in bytes; with --history it opens the loan history window
// from the menu and waits for its first screen and summary.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstring>

#include "app/Unit1.h"
#include "app/startup.h"
#include "bench/display_watch.h"
#include "bench/quiet_messages.h"
#include "contents/filesearchwindow.h"
#include "reports/historywindow.h"
#include "reports/reportsmenu.h"
#include "settings/settingsfile.h"
#include "store/database.h"
#include "ui_Unit1.h"
#include "widgets/querymodel.h"

namespace {

// Types the word into the file search window as a user would; true once its count is up.
bool findFile(TForm1& form, const QString& word) {
    form.ui->ActionFindFile->trigger();
    auto* window = form.findChild<contents::FileSearchWindow*>(QStringLiteral("FileSearchWindow"));
    auto* edit = window->findChild<QLineEdit*>(QStringLiteral("FragmentEdit"));
    const auto* count = window->findChild<QLabel*>(QStringLiteral("CountLabel"));
    for (const QChar c : word) {
        bench::postKey(edit, c);
        bench::idleFor(120);
    }
    QElapsedTimer since;
    since.start();
    return bench::waitFor(since, 120'000, [&] {
        return edit->text() == word && count->text().startsWith(QStringLiteral("Найдено"));
    });
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::QuietMessages messages;
    // Default settings, whatever lies beside this executable.
    const QTemporaryDir settings;
    setSettingsFilePath(settings.filePath(QStringLiteral("Korvalen.ini")));

    const auto windows = startProgram();
    if (!windows) return 1;
    QCoreApplication::processEvents();
    if (argc == 2 && std::strcmp(argv[1], "--name-copy") == 0) {
        const auto db = store::Database::defaultDatabase();
        if (!db->waitForNameCopy()) return 1;
        std::fprintf(stderr, "copy of the names: %zu bytes\n", db->nameCopyBytes());
        QCoreApplication::processEvents();
    }
    const bool started = windows->form1->DataSource5->rowCount() > 0 && !messages.anySaid();
    if (!started) return 1;
    if (argc == 3 && std::strcmp(argv[1], "--find-file") == 0)
        return findFile(*windows->form1, QString::fromUtf8(argv[2])) && !messages.anySaid() ? 0 : 1;
    if (argc < 2 || std::strcmp(argv[1], "--history") != 0) return 0;
    windows->form1->ui->ActionLoanHistory->trigger();
    const HistoryWindow& history =
        *windows->form1->findChild<ReportsMenu*>(QStringLiteral("ReportsMenu"))->historyWindow();
    // The summary is counted on threads of its own: passes over the events, a few
    // milliseconds apart, for up to 20 s.
    for (int pass = 0; pass < 4000; ++pass) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
        const QString summary = history.findChild<QLabel*>(QStringLiteral("SummaryLabel"))->text();
        if (!summary.isEmpty() && summary != QStringLiteral("Подсчёт..."))
            return messages.anySaid() ? 1 : 0;
    }
    return 1;
}
