// korvalen_start_windows: the program's start in the working directory's catalogue,
// offscreen: the windows built, the main window shown, one pass over the events (the
// grids lay out and read their first screen), then out. Run under korvalen_peak_rss
// for the program's peak memory before the user scrolls.
#include <QApplication>
#include <QTemporaryDir>

#include "app/Unit1.h"
#include "app/startup.h"
#include "bench/quiet_messages.h"
#include "widgets/querymodel.h"

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
    const bool started = windows->form1->DataSource5->rowCount() > 0 && !messages.anySaid();
    return started ? 0 : 1;
}
