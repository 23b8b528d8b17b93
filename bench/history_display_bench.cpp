// The loan history opened at 1,000,000 loans on a real X display (Xvfb will do): how long
// the window's thread is busy at a stretch (the largest gap between the beats of a 5 ms
// timer, from the opening until the summary line is up and a moment after), when the
// grid's first screen is painted, and when the summary line shows. Beside it, a floor
// measured in the same run: a window of the same size with an empty grid, shown and
// painted. Each printed as the best and the worst of the repetitions, against the limits
// the window is held to. Without a display it says so and measures nothing.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "bench/catalogues.h"
#include "bench/display_watch.h"
#include "bench/offscreen_main.h"
#include "bench/quiet_messages.h"
#include "reports/historywindow.h"
#include "reports/loanmodel.h"
#include "store/database.h"

namespace {

constexpr int kLoans = 1'000'000;
constexpr int kGiveUpMs = 20'000;
constexpr int kAfterMs = 200;  // beats watched on once all is shown
const QString kCounting = QStringLiteral("Подсчёт...");

// The limits, in milliseconds.
constexpr double kBusyLimit = 50, kFirstScreenLimit = 150, kSummaryLimit = 1000;

// Waits on the event loop until done says so; false when it never did.
template <class Done>
bool waitFor(const QElapsedTimer& since, Done done) {
    return bench::waitFor(since, kGiveUpMs, done);
}

// Every repetition's figures by measure, for the table at the end.
std::map<std::string, std::vector<double>>& figures() {
    static std::map<std::string, std::vector<double>> all;
    return all;
}

void note(benchmark::State& state, const std::string& name, double ms) {
    state.counters[name] = ms;
    figures()[name].push_back(ms);
}

// What an opened window shows: the grid's viewport, whether the grid holds its first
// rows, and the summary line, where there is one.
struct Opened {
    std::unique_ptr<QWidget> window;
    QWidget* viewport;
    std::function<bool()> rowsIn;
    const QLabel* summary = nullptr;
};

// Opens a window over the main window, each repetition after a moment idle, and notes
// how long the thread was busy at a stretch, when the grid was painted with its rows,
// and when the summary line was up.
void opening(benchmark::State& state, const std::string& side,
             const std::function<Opened(TForm1&)>& open) {
    bench::QuietMessages messages;
    TForm1 form;
    form.show();
    bench::idleFor(300);
    bench::Heartbeat beat;
    for (auto _ : state) {
        bench::idleFor(100);
        beat.restart();
        QElapsedTimer since;
        since.start();
        Opened opened = open(form);
        bench::PaintWatch watch(opened.viewport);
        opened.window->show();
        double firstScreen = 0, summary = 0;
        const bool shown = waitFor(since, [&] {
            const double now = since.nsecsElapsed() / 1e6;
            if (!firstScreen && watch.painted && opened.rowsIn()) firstScreen = now;
            const QString line = opened.summary ? opened.summary->text() : QString();
            if (!summary && !line.isEmpty() && line != kCounting) summary = now;
            return firstScreen && (summary || !opened.summary);
        });
        bench::idleFor(kAfterMs);
        if (!shown || messages.anySaid()) {
            std::cerr << side << ": first screen " << firstScreen << " ms, summary " << summary
                      << " ms, the summary line: "
                      << (opened.summary ? opened.summary->text().toStdString() : "none") << "\n";
            state.SkipWithError("no first screen or summary came, or a message was said");
            break;
        }
        note(state, side + ": busy at a stretch", beat.largestMs());
        note(state, side + ": first screen painted", firstScreen);
        if (opened.summary) note(state, side + ": summary shown", summary);
        state.PauseTiming();
        opened.window.reset();
        state.ResumeTiming();
    }
}

Opened history(TForm1& form) {
    auto window = std::make_unique<HistoryWindow>(*form.Query5, &form);
    const LoanModel* grid = window->findChild<LoanModel*>();
    Opened opened{nullptr,
                  window->findChild<QTableView*>(QStringLiteral("HistoryGrid"))->viewport(),
                  [grid] { return grid->rowCount() > 1; },
                  window->findChild<QLabel*>(QStringLiteral("SummaryLabel"))};
    opened.window = std::move(window);
    return opened;
}

// The floor: a window of the same size with an empty grid and a line of text.
Opened emptyWindow(TForm1& form) {
    auto window = std::make_unique<QWidget>(&form, Qt::Window);
    auto* layout = new QVBoxLayout(window.get());
    auto* grid = new QTableView;
    grid->setModel(new QStandardItemModel(40, 7, window.get()));
    layout->addWidget(grid);
    layout->addWidget(new QLabel(QStringLiteral("Выдач: 0")));
    window->resize(860, 520);
    return {std::move(window), grid->viewport(), [] { return true; }};
}

void printTable() {
    const auto best = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    const auto worst = [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    };
    auto& all = figures();
    std::printf("\nThe loan history at %d loans on an X display, ms (best / worst of %zu):\n\n",
                kLoans, all["history: summary shown"].size());
    std::printf("| measure | history best | history worst | floor best | floor worst | limit |\n");
    std::printf("|---|--:|--:|--:|--:|--:|\n");
    const struct {
        const char* what;
        const char* history;
        const char* floor;
        double limit;
    } rows[] = {
        {"busy at a stretch", "history: busy at a stretch", "floor: busy at a stretch", kBusyLimit},
        {"first screen painted", "history: first screen painted", "floor: first screen painted",
         kFirstScreenLimit},
        {"summary shown", "history: summary shown", nullptr, kSummaryLimit},
    };
    bool within = true;
    for (const auto& r : rows) {
        const auto& h = all[r.history];
        if (h.empty()) continue;
        std::printf("| %s | %.1f | %.1f |", r.what, best(h), worst(h));
        if (r.floor && !all[r.floor].empty())
            std::printf(" %.1f | %.1f |", best(all[r.floor]), worst(all[r.floor]));
        else
            std::printf(" – | – |");
        std::printf(" %.0f |\n", r.limit);
        within = within && worst(h) <= r.limit;
    }
    std::printf("\nWorst %s the limits.\n", within ? "within" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::cout << "No X display (DISPLAY is not set): the history's display benchmark is "
                     "skipped. Run it on Xvfb, e.g. Xvfb :99 & DISPLAY=:99 "
                  << argv[0] << "\n";
        return 0;
    }
    const int rc = bench::runOffscreen(
        argc, argv,
        [] {
            QDir::setCurrent(QString::fromStdString(bench::loanCatalogue(kLoans).string()));
            store::Database::resetDefault();
            for (auto [side, open] : {std::pair{"floor", &emptyWindow}, {"history", &history}})
                benchmark::RegisterBenchmark(
                    bench::benchName(side, "open_on_display", kLoans).c_str(), opening,
                    std::string(side), std::function<Opened(TForm1&)>(open))
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(1)
                    ->Repetitions(5)
                    ->ReportAggregatesOnly(true)
                    ->UseRealTime();
        },
        [] { return std::vector<std::string>{"open_on_display"}; }, "xcb");
    printTable();
    return rc;
}
