// The main window at each catalogue size, offscreen, each measure ending when the disk
// grid has painted its first screen and nothing more is pending: its start (built
// with all its list queries open and shown), and a key release in the name fragment
// for fragments found at once, rarely, never, and a single letter found never, with
// and without the category, media-type and lent conditions, both while the table is
// scanned and with the copy of the names ready; and one page down past the rows
// the disk grid holds, after the window has sat idle, near the top of the list and half
// way down it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <memory>
#include <string>

#include "app/Unit1.h"
#include "bench/catalogues.h"
#include "bench/offscreen_main.h"
#include "bench/quiet_messages.h"
#include "bench/table_reporter.h"
#include "store/database.h"
#include "ui_Unit1.h"
#include "widgets/querymodel.h"

namespace {

// Enough passes for the views to lay out, ask for rows and paint; a grid that has not
// settled after them never will.
constexpr int kMaxEventPasses = 200;

struct Fragment {
    const char* name;  // in the tables
    const char* text;
};

// In the demo catalogue: хит in about one name of thirty, the rare one in one of
// about nine thousand, ёлк and the single letter ъ in none; common letters with _
// in none, and two pieces in one name of about nine thousand.
const Fragment kFragments[] = {{"хит", "хит"}, {"rare", "хоббит, диск 17"}, {"ёлк", "ёлк"},
                               {"ъ", "ъ"},     {"е_и_е", "е_и_е"},          {"pieces", "хоб%к 17"}};
// Longer than a window waits before it lets go of its lists' statements.
constexpr int kIdleMs = 700;

// The catalogue of that size as the working folder, its database opened anew on
// the next ask, as at the program's start.
void enterCatalogue(int disks) {
    QDir::setCurrent(QString::fromStdString(bench::demoCatalogue(disks).string()));
    store::Database::resetDefault();
}

// Notes each paint of a widget.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget) : widget_(widget) { widget->installEventFilter(this); }
    ~PaintWatch() override { widget_->removeEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return false;
    }

private:
    QWidget* widget_;
};

// Processes events until the disk grid has painted and a further pass neither reads
// rows nor paints: the first screen is on the screen. False if it never settles or
// shows no rows.
bool untilPainted(const TForm1& form) {
    const QueryModel& grid = *form.DataSource5;
    PaintWatch watch(form.ui->DBGrid4->viewport());
    bool paintedOnce = false;
    int rows = -1;
    for (int pass = 0; pass < kMaxEventPasses; ++pass) {
        watch.painted = false;
        QCoreApplication::processEvents();
        const bool settled = paintedOnce && !watch.painted && grid.rowCount() == rows;
        if (settled) return true;
        paintedOnce = paintedOnce || watch.painted;
        rows = grid.rowCount();
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

// False, and the benchmark skipped, unless the grid painted and nothing was said.
bool gridShown(benchmark::State& state, const TForm1& form, const bench::QuietMessages& messages) {
    const bool shown = untilPainted(form);
    state.counters["rows"] = form.DataSource5->rowCount();
    if (shown && !messages.anySaid()) return true;
    state.SkipWithError("the disk grid did not settle or a message box came up");
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

struct KeyCase {
    Fragment fragment;
    bool conditions;  // "Категория", "Носитель" and "На руках" too
    bool copy;        // with the copy of the names ready
};

void keyRelease(benchmark::State& state, int disks, KeyCase c) {
    bench::QuietMessages messages;
    enterCatalogue(disks);
    const auto form = shownWindow(state);
    if (!form || !gridShown(state, *form, messages)) return;
    const auto db = store::Database::defaultDatabase();
    if (c.copy) {
        db->startNameCopy();
        if (!db->waitForNameCopy()) {
            state.SkipWithError("the copy of the names did not load");
            return;
        }
        state.counters["copy_MB"] = double(db->nameCopyBytes()) / (1 << 20);
    }
    if (c.conditions) {
        form->ui->RadioButton3->setChecked(true);  // "На руках"
        form->ui->CheckBox1->setChecked(true);     // the first category by name
        form->ui->CheckBox2->setChecked(true);     // the first media type by name
    }
    form->ui->CheckBox4->setChecked(true);  // "Название содержит"
    const QString fragment = QString::fromUtf8(c.fragment.text);
    form->ui->Edit4->setText(fragment);
    const QString last = fragment.right(1);
    if (!gridShown(state, *form, messages)) return;
    for (auto _ : state) {
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, last);
        QCoreApplication::sendEvent(form->ui->Edit4, &release);
        if (!gridShown(state, *form, messages)) break;
    }
    if (c.copy && db->nameCopyBytes() == 0) state.SkipWithError("the copy was dropped");
}

std::string itemName(const KeyCase& c) {
    return std::string(c.fragment.name) + (c.conditions ? " +3" : "");
}

std::vector<std::string> keyItems() {
    std::vector<std::string> items;
    for (const bool conditions : {false, true})
        for (const Fragment& f : kFragments) items.push_back(itemName({f, conditions, false}));
    return items;
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
        for (const bool conditions : {false, true})
            for (const Fragment& f : kFragments)
                for (const bool copy : {false, true}) {
                    const KeyCase c{f, conditions, copy};
                    benchmark::RegisterBenchmark(
                        bench::benchName(copy ? "key_copy" : "key_scan", itemName(c), disks)
                            .c_str(),
                        keyRelease, disks, c)
                        ->Unit(benchmark::kMillisecond)
                        ->MeasureProcessCPUTime();
                }
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
    return bench::runOffscreen(argc, argv, registerAll, [] {
        std::vector<std::string> order = {"start"};
        for (const auto& item : keyItems()) order.push_back(item);
        order.insert(order.end(), {"scroll_top", "scroll_middle"});
        return order;
    });
}
