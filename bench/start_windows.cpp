// korvalen_start_windows: the program's start in the working directory's catalogue,
// offscreen: the windows built, the main window shown, one pass over the events (the
// grids lay out and read their first screen), then out. Run under korvalen_peak_rss
// for the program's peak memory before the user scrolls. With --name-copy it also
// waits until the copy of the disk names that the program loads after the start is
// ready, and prints its size in bytes.
#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "Unit1.h"
#include "database.h"
#include "querymodel.h"
#include "quiet_messages.h"
#include "startup.h"

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
    return started ? 0 : 1;
}
