// Finding a file by a fragment of its name on demo catalogues of 100,000, 1,000,000 and
// 10,000,000 files: the first screen (40 rows, paths and disk names included) through the
// names' trigram index, beside a plain scan of the same entries with the same folding in
// the same order, run in the same process; the index's bytes per file; the peak memory of
// a process that searched each catalogue. Then "Сохранить..." of the window: every match
// written as CSV (counted first, as its progress needs), beside every match only read.
// Times in the process's CPU time (the steadier figure on a shared machine) and by the clock.
//
// KORVALEN_BENCH_FILES="100000,1000000" picks the sizes (default: all three).
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>

#include "bench/catalogues.h"
#include "contents/foundexport.h"
#include "store/database.h"
#include "store/filesearch.h"
#include "store/statement.h"
#include "store/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kScreen = 40;

struct Fragment {
    const char* what;
    const char* text;
};
// Demo disks hold IMG_nnnn.JPG by the thousand, one Описание.txt each, setup.exe on some.
const std::vector<Fragment> kFragments = {
    {"3+ знаков, много совпадений", "img_0"},
    {"3+ знаков, по одному на диск", "описание.TXT"},
    {"3+ знаков, нет нигде", "zqxv"},
    {"2 знака, много совпадений", "s."},
    {"2 знака, нет нигде", "яq"},
    {"1 знак, нет нигде", "ж"},
};

// What a person would save: one per disk, and many.
const std::vector<Fragment> kSaved = {
    {"по одному на диск", "описание.TXT"},
    {"много совпадений", "img_0"},
};

int firstScreen(const store::Database& db, const char* fragment) {
    store::FileSearch search(db, fragment);
    store::FoundFile f;
    int rows = 0;
    while (rows < kScreen && search.next(f)) ++rows;
    return rows;
}

// The floor: every entry read in the same order (disk key, then as read), its name folded
// and searched, until a screen is full; then the same paths and names fetched.
int scanScreen(const store::Database& db, const char* fragment) {
    const std::string needle = store::likeFolded(fragment);
    store::Statement scan(db,
                          "SELECT e.id, e.name FROM cdfiles_db.disk_reads r JOIN "
                          "cdfiles_db.disk_entries e ON e.id BETWEEN r.first_entry AND "
                          "r.last_entry ORDER BY r.disk, e.id");
    std::string folded;
    int rows = 0;
    while (rows < kScreen && scan.step()) {
        store::likeFold(scan.columnText(1), folded);
        if (folded.find(needle) != std::string::npos) ++rows;
    }
    return rows;
}

// Bytes written and let go, as a fast disk would take them.
class Discard final : public std::streambuf {
public:
    Discard() { setp(buffer_, buffer_ + sizeof buffer_); }

protected:
    int overflow(int c) override {
        setp(buffer_, buffer_ + sizeof buffer_);
        return traits_type::not_eof(c);
    }

private:
    char buffer_[1 << 16];
};

int64_t saveAll(const store::Database& db, const char* fragment) {
    Discard discard;
    std::ostream out(&discard);
    return contents::exportFound(db, {fragment, {}, {}, 0}, reports::Format::Csv, out,
                                 [](int64_t, int64_t) { return true; });
}

// The floor of a save: every match read with its path and disk, nothing written.
int64_t readAll(const store::Database& db, const char* fragment) {
    store::FileSearch search(db, fragment);
    store::FoundFile f;
    int64_t rows = 0;
    while (search.next(f)) ++rows;
    return rows;
}

double indexBytesPerFile(const store::Database& db) {
    store::Statement s(db,
                       "SELECT (SELECT sum(pgsize) FROM dbstat('cdfiles_db') WHERE name LIKE "
                       "'entry_names%'), (SELECT count(*) FROM cdfiles_db.disk_entries)");
    s.step();
    return s.columnInt64(1) ? static_cast<double>(s.columnInt64(0)) / static_cast<double>(s.columnInt64(1)) : 0;
}

// A child process searches the catalogue as the window would (each fragment's first
// screen and its count): its peak resident memory, in MB.
double peakMemoryMb(const fs::path& dir) {
    const pid_t child = fork();
    if (child == 0) {
        const auto db = store::Database::open(dir / "base");
        for (const auto& f : kFragments) {
            store::FileSearch search(*db, f.text);
            store::FoundFile found;
            for (int i = 0; i < kScreen && search.next(found); ++i) {
            }
            benchmark::DoNotOptimize(search.countRest());
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Milliseconds of each run, by "index|what|files" and "scan|what|files", wall-clock; the
// process's CPU time by the same keys after "cpu:" (steadier on a shared machine).
std::map<std::string, std::vector<double>> timings;

template <typename F>
void timed(benchmark::State& state, const std::string& key, F&& run) {
    for (auto _ : state) {
        const double cpu = processCpuMs();
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(run());
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        timings[key].push_back(took.count());
        timings["cpu:" + key].push_back(processCpuMs() - cpu);
        state.SetIterationTime(took.count() / 1000.0);
    }
}

std::string cell(const std::vector<double>& v) {
    if (v.empty()) return "—";
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    char text[64];
    std::snprintf(text, sizeof text, "%.2f–%.2f", *lo, *hi);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::map<int64_t, std::shared_ptr<store::Database>> dbs;
    std::map<int64_t, std::pair<double, double>> sizeFacts;  // bytes per file, peak MB
    std::map<int64_t, int64_t> entries;
    std::map<std::string, int64_t> matches;  // by "|what|files"
    for (const int64_t files : bench::benchFiles()) {
        const fs::path dir = bench::filesCatalogue(files);
        dbs[files] = store::Database::open(dir / "base");
        sizeFacts[files] = {indexBytesPerFile(*dbs[files]), peakMemoryMb(dir)};
        store::Statement count(*dbs[files], "SELECT count(*) FROM cdfiles_db.disk_entries");
        count.step();
        entries[files] = count.columnInt64(0);
        for (const auto& f : kFragments) {
            const std::string tail = std::string("|") + f.what + "|" + std::to_string(files);
            const auto& db = dbs[files];
            benchmark::RegisterBenchmark(("index/" + std::string(f.text) + "/" + std::to_string(files)).c_str(),
                                         [=](benchmark::State& s) {
                                             timed(s, "index" + tail, [&] { return firstScreen(*db, f.text); });
                                         })
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);
            benchmark::RegisterBenchmark(("scan/" + std::string(f.text) + "/" + std::to_string(files)).c_str(),
                                         [=](benchmark::State& s) {
                                             timed(s, "scan" + tail, [&] { return scanScreen(*db, f.text); });
                                         })
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
        }
        for (const auto& f : kSaved) {
            const std::string tail = std::string("|") + f.what + "|" + std::to_string(files);
            const auto& db = dbs[files];
            benchmark::RegisterBenchmark(("save/" + std::string(f.text) + "/" + std::to_string(files)).c_str(),
                                         [=](benchmark::State& s) {
                                             timed(s, "save" + tail, [&] { return saveAll(*db, f.text); });
                                         })
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
            benchmark::RegisterBenchmark(("read/" + std::string(f.text) + "/" + std::to_string(files)).c_str(),
                                         [=](benchmark::State& s) {
                                             timed(s, "read" + tail, [&] { return readAll(*db, f.text); });
                                         })
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
            matches[tail] = readAll(*db, f.text);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (const std::string clock : {"cpu:", ""}) {
        std::cout << "\n### Найти файл: первый экран (40 строк), мс "
                  << (clock.empty() ? "по часам" : "времени процессора")
                  << ", лучшее–худшее; указатель и простой просмотр\n\n| Образец |";
        for (const auto& [files, db] : dbs) std::cout << " " << files << " файлов: указатель | просмотр |";
        std::cout << "\n|---|";
        for (size_t i = 0; i < dbs.size(); ++i) std::cout << "---|---|";
        std::cout << "\n";
        for (const auto& f : kFragments) {
            std::cout << "| " << f.what << " (`" << f.text << "`) |";
            for (const auto& [files, db] : dbs) {
                const std::string tail = std::string("|") + f.what + "|" + std::to_string(files);
                std::cout << " " << cell(timings[clock + "index" + tail]) << " | "
                          << cell(timings[clock + "scan" + tail]) << " |";
            }
            std::cout << "\n";
        }
    }
    std::cout << "\n### Найти файл: «Сохранить...» всех совпадений в CSV, мс по часам, лучшее–худшее; "
                 "только чтение тех же совпадений\n\n| Образец |";
    for (const auto& [files, db] : dbs) std::cout << " " << files << " файлов: совпадений | сохранение | чтение |";
    std::cout << "\n|---|";
    for (size_t i = 0; i < dbs.size(); ++i) std::cout << "---|---|---|";
    std::cout << "\n";
    for (const auto& f : kSaved) {
        std::cout << "| " << f.what << " (`" << f.text << "`) |";
        for (const auto& [files, db] : dbs) {
            const std::string tail = std::string("|") + f.what + "|" + std::to_string(files);
            std::cout << " " << matches[tail] << " | " << cell(timings["save" + tail]) << " | "
                      << cell(timings["read" + tail]) << " |";
        }
        std::cout << "\n";
    }
    std::cout << "\n| Каталог | Папок и файлов | Указатель, байт на файл | Пик памяти при поиске, МБ |\n|---|---|---|---|\n";
    for (const auto& [files, f] : sizeFacts) {
        char line[160];
        std::snprintf(line, sizeof line, "| %lld | %lld | %.1f | %.1f |\n", static_cast<long long>(files),
                      static_cast<long long>(entries[files]), f.first, f.second);
        std::cout << line;
    }
    return 0;
}
