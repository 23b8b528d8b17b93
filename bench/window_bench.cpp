// The main window at each catalogue size, offscreen: its start (built with all its
// list queries open, shown, the grids' first screen read), one key release in the
// name fragment until the disk grid holds its first rows again, and one page down
// past the rows the disk grid holds, after the window has sat idle, near the top of
// the list and half way down it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <iostream>
#include <memory>
#include <string>

#include "app/Unit1.h"
#include "app/startup.h"
#include "bench/catalogues.h"
#include "bench/quiet_messages.h"
#include "bench/table_reporter.h"
#include "store/database.h"
#include "ui_Unit1.h"
#include "widgets/querymodel.h"

namespace {

// Enough passes for the views to lay out and ask for rows; a grid that still holds
// none after them never will.
constexpr int kMaxEventPasses = 100;
// Longer than a window waits before it lets go of its lists' statements.
constexpr int kIdleMs = 700;

// The catalogue of that size as the working folder, its database opened anew on
// the next ask, as at the program's start.
void enterCatalogue(int disks) {
    QDir::setCurrent(QString::fromStdString(bench::demoCatalogue(disks).string()));
    store::Database::resetDefault();
}

// Processes events until the disk grid holds more than the one row its query stands
// on after opening (the view has read its first screen), or all there is.
bool untilGridFilled(const TForm1& form) {
    const QueryModel& grid = *form.DataSource5;
    for (int pass = 0; pass < kMaxEventPasses; ++pass) {
        QCoreApplication::processEvents();
        if (grid.rowCount() > 1 || !grid.canFetchMore({})) return grid.rowCount() > 0;
    }
    return false;
}

// The main window as the program builds and shows it; nothing when a table could
// not be opened (the benchmark is then skipped with the store's message).
std::unique_ptr<TForm1> shownWindow(benchmark::State& state) {
    try {
        auto form = std::make_unique<TForm1>();
        form->show();
        return form;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// False, and the benchmark skipped, unless the grid holds rows and nothing was said.
bool gridShown(benchmark::State& state, const TForm1& form, const bench::QuietMessages& messages) {
    const bool filled = untilGridFilled(form);
    state.counters["rows"] = form.DataSource5->rowCount();
    if (filled && !messages.anySaid()) return true;
    state.SkipWithError("the disk grid stayed empty or a message box came up");
    return false;
}

void windowStart(benchmark::State& state, int disks) {
    bench::QuietMessages messages;
    enterCatalogue(disks);
    for (auto _ : state) {
        store::Database::resetDefault();
        auto form = shownWindow(state);
        if (!form || !gridShown(state, *form, messages)) break;
        state.PauseTiming();  // closing is no part of the start
        form.reset();
        state.ResumeTiming();
    }
}

void keyRelease(benchmark::State& state, int disks, const QString& fragment) {
    bench::QuietMessages messages;
    enterCatalogue(disks);
    const auto form = shownWindow(state);
    if (!form || !gridShown(state, *form, messages)) return;
    form->ui->CheckBox4->setChecked(true);  // "Название содержит"
    form->ui->Edit4->setText(fragment);
    const QString last = fragment.right(1);
    for (auto _ : state) {
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, last);
        QCoreApplication::sendEvent(form->ui->Edit4, &release);
        if (!gridShown(state, *form, messages)) break;
    }
}

// Events processed for this long, as while the user reads what the window shows.
void sitIdle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The grid scrolled to its last row: the view asks for the next rows, which are read
// and laid out.
void scrollOn(benchmark::State& state, int disks, int depth) {
    bench::QuietMessages messages;
    enterCatalogue(disks);
    const auto form = shownWindow(state);
    if (!form || !gridShown(state, *form, messages)) return;
    QueryModel& grid = *form->DataSource5;
    while (grid.rowCount() < depth && grid.canFetchMore({})) grid.fetchMore({});
    QScrollBar& bar = *form->ui->DBGrid4->verticalScrollBar();
    for (auto _ : state) {
        state.PauseTiming();
        sitIdle(kIdleMs);
        const int held = grid.rowCount();
        state.ResumeTiming();
        bar.setValue(bar.maximum());
        QCoreApplication::processEvents();
        if (grid.rowCount() <= held || messages.anySaid()) {
            state.SkipWithError("the grid read no further rows or a message box came up");
            break;
        }
    }
    state.counters["rows"] = grid.rowCount();
}

void registerAll() {
    for (int disks : bench::benchSizes()) {
        bench::demoCatalogue(disks);  // made before anything is timed
        benchmark::RegisterBenchmark(bench::benchName("window", "start", disks).c_str(),
                                     windowStart, disks)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(bench::benchName("window", "key_release_хит", disks).c_str(),
                                     keyRelease, disks, QStringLiteral("хит"))
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
        for (const auto& [name, depth] : {std::pair{"scroll_top", 0}, {"scroll_middle", disks / 2}})
            benchmark::RegisterBenchmark(bench::benchName("window", name, disks).c_str(), scrollOn,
                                         disks, depth)
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime()
                ->Iterations(4);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setUpApplication();
    // Default settings, and none written.
    const QTemporaryDir settings;
    setSettingsFilePath(settings.filePath(QStringLiteral("Korvalen.ini")));
    const QString home = QDir::currentPath();
    try {
        registerAll();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    bench::TableReporter reporter({"start", "key_release_хит", "scroll_top", "scroll_middle"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    store::Database::resetDefault();
    QDir::setCurrent(home);
    return 0;
}
