#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/startup.h"
#include "bench/table_reporter.h"
#include "settings/settingsfile.h"
#include "store/database.h"

namespace bench {

// The main of a benchmark of the program's windows: offscreen, the program's own
// set-up, default settings with none written; registerAll adds the measures, whose
// table rows come in the given order. The working folder is put back at the end,
// since the measures move into each catalogue they open. platform: another Qt platform
// ("xcb": a real display).
inline int runOffscreen(int argc, char** argv, const std::function<void()>& registerAll,
                        const std::function<std::vector<std::string>()>& order,
                        const char* platform = "offscreen") {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qputenv("QT_QPA_PLATFORM", platform);
    QApplication app(argc, argv);
    setUpApplication();
    const QTemporaryDir settings;
    setSettingsFilePath(settings.filePath(QStringLiteral("Korvalen.ini")));
    const QString home = QDir::currentPath();
    try {
        registerAll();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    TableReporter reporter(order());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    store::Database::resetDefault();
    QDir::setCurrent(home);
    return 0;
}

}  // namespace bench
