// The reports at each catalogue size, offscreen: the loan history window from its
// opening to the grid's first screen, and on to its summary line (every loan; and a
// period that holds none, so that both the list and the summary scan the whole loan
// table), and the streaming export of the loan history and the disk list.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <memory>
#include <ostream>
#include <streambuf>

#include "app/Unit1.h"
#include "bench/catalogues.h"
#include "bench/offscreen_main.h"
#include "bench/quiet_messages.h"
#include "bench/table_reporter.h"
#include "reports/exporter.h"
#include "reports/historywindow.h"
#include "reports/loanmodel.h"
#include "reports/loanstatements.h"
#include "statements/diskfilter.h"
#include "store/database.h"
#include "store/query.h"

namespace {

// How long the window is given: the summary is counted on a thread of its own, so events
// are taken as they come, not a fixed number of passes.
constexpr int kWaitMs = 60000;

// Written bytes go nowhere: the export's own cost, not the disk's.
class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void enterCatalogue(int size) {
    QDir::setCurrent(QString::fromStdString(bench::loanCatalogue(size).string()));
    store::Database::resetDefault();
}

enum class Until { FirstScreen, Summary };

// Processes events until the grid holds its first screen (more than the one row the
// query stands on after opening, or all there is) or until the summary line is written.
bool untilShown(const HistoryWindow& window, Until until) {
    const QString counting = QStringLiteral("Подсчёт...");
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kWaitMs) {
        QCoreApplication::processEvents();
        const QString summary = window.findChild<QLabel*>(QStringLiteral("SummaryLabel"))->text();
        if (until == Until::Summary && (summary.isEmpty() || summary == counting))
            QThread::msleep(1);  // the count is on its own thread: leave it the core
        if (summary.isEmpty()) continue;  // not refreshed yet
        const LoanModel& grid = *window.findChild<LoanModel*>();
        if (until == Until::FirstScreen && (grid.rowCount() > 1 || !grid.canFetchMore({})))
            return true;
        if (until == Until::Summary && summary != counting) return true;
    }
    return false;
}

void historyWindow(benchmark::State& state, int size, bool noMatch, Until until) {
    bench::QuietMessages messages;
    enterCatalogue(size);
    TForm1 form;
    form.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        auto window = std::make_unique<HistoryWindow>(*form.Query5, &form);
        if (noMatch) {
            window->findChild<QDateEdit*>(QStringLiteral("DateFrom"))->setDate(QDate(1990, 1, 1));
            window->findChild<QDateEdit*>(QStringLiteral("DateTo"))->setDate(QDate(1990, 12, 31));
            window->findChild<QCheckBox*>(QStringLiteral("PeriodOnly"))->setChecked(true);
        }
        window->show();
        if (!untilShown(*window, until) || messages.anySaid()) {
            state.SkipWithError("the history window showed no summary or a message came up");
            break;
        }
        state.counters["rows"] = window->findChild<LoanModel*>()->rowCount();
        state.PauseTiming();  // closing is no part of opening
        window.reset();
        state.ResumeTiming();
    }
}

void exportTable(benchmark::State& state, int size, bool loansTable, reports::Format format) {
    enterCatalogue(size);
    NullBuffer nowhere;
    std::ostream out(&nowhere);
    int64_t rows = 0;
    for (auto _ : state) {
        store::Query query(loansTable
                               ? loans::historyLines({})
                               : diskfilter::build(diskfilter::Availability::All, {}, {}).lines);
        loans::bind(query, {}, {store::Date::today(), loans::kDefaultOverdueDays});
        rows = reports::exportRows(
            query, loansTable ? reports::loanExport() : reports::diskExport(), format, out);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
}

void registerAll() {
    using reports::Format;
    for (int size : bench::benchSizes()) {
        bench::loanCatalogue(size);  // made before anything is timed
        auto add = [&](const char* item, auto&&... args) {
            benchmark::RegisterBenchmark(bench::benchName("reports", item, size).c_str(), args...)
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime();
        };
        add("history_first_screen", historyWindow, size, false, Until::FirstScreen);
        add("history_summary", historyWindow, size, false, Until::Summary);
        add("history_no_match", historyWindow, size, true, Until::Summary);
        add("export_loans_csv", exportTable, size, true, Format::Csv);
        add("export_loans_html", exportTable, size, true, Format::Html);
        add("export_disks_csv", exportTable, size, false, Format::Csv);
    }
}

}  // namespace

int main(int argc, char** argv) {
    return bench::runOffscreen(argc, argv, registerAll, [] {
        return std::vector<std::string>{"history_first_screen", "history_summary",
                                        "history_no_match",     "export_loans_csv",
                                        "export_loans_html",    "export_disks_csv"};
    });
}
