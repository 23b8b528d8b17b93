// Reading a folder tree into a disk's contents against `find DIR -printf '%s %T@ %p\n'`
// on the same tree in the same run (the floor: a walk that stats every file and writes
// nothing down), best and worst of the repetitions; the sixth file's bytes per entry,
// index included; korvalen-base scan's peak memory on a tree ten times larger.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "contents/readers.h"
#include "store/contentsstore.h"
#include "store/contentspipe.h"
#include "store/database.h"
#include "tools/catalogue_demo.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path& workDir() {
    static const fs::path dir = KORVALEN_BENCH_TREES;
    return dir;
}

// A tree of files in folders of a hundred, ten folders to a parent, names of a usual
// length; made once per size and kept between runs.
fs::path treeOf(int files) {
    const fs::path root = workDir() / ("tree-" + std::to_string(files));
    const fs::path done = root / ".complete";
    if (fs::exists(done)) return root;
    fs::remove_all(root);
    for (int i = 0; i < files; ++i) {
        const int folder = i / 100;
        const fs::path at =
            root / ("папка " + std::to_string(folder / 10)) / ("Folder_" + std::to_string(folder));
        if (i % 100 == 0) fs::create_directories(at);
        std::ofstream(at / ("document_" + std::to_string(i) + ".txt")) << std::string(i % 13, 'x');
    }
    std::ofstream{done};
    return root;
}

// A fresh catalogue of a few disks without contents.
std::shared_ptr<store::Database> catalogueFor(const std::string& name) {
    const fs::path dir = workDir() / name;
    fs::remove_all(dir);
    tools::makeDemo(dir, {.disks = 3, .files = 0});
    fs::remove(dir / "base" / std::string(store::kContentsFileName));
    return store::Database::open(dir / "base");
}

void readIntoDisk(const store::Database& db, const fs::path& tree) {
    store::BackgroundContentsWriter writer(db, 1);
    store::readThrough(writer, [&] { contents::readFolder(tree, writer); });
    writer.commit();
}

// Runs a program to its end; its peak resident memory in kilobytes.
long runProgram(std::vector<std::string> args, const char* out = "/dev/null") {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

void BM_read(benchmark::State& state) {
    const fs::path tree = treeOf(static_cast<int>(state.range(0)));
    const auto db = catalogueFor("read");
    readIntoDisk(*db, tree);  // warm: every read after it replaces a whole one
    for (auto _ : state) readIntoDisk(*db, tree);
}

// Into a disk of a catalogue that has no contents yet: nothing to take out first.
void BM_firstRead(benchmark::State& state) {
    const fs::path tree = treeOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        const auto db = catalogueFor("first");
        state.ResumeTiming();
        readIntoDisk(*db, tree);
    }
}

void BM_find(benchmark::State& state) {
    const fs::path tree = treeOf(static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (runProgram({"find", tree.string(), "-printf", "%s %T@ %p\\n"}) < 0)
            state.SkipWithError("find failed");
}

constexpr int kFiles = 100000;
BENCHMARK(BM_read)
    ->Arg(kFiles)
    ->Repetitions(7)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_firstRead)
    ->Arg(kFiles)
    ->Repetitions(7)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_find)
    ->Arg(kFiles)
    ->Repetitions(7)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The console's output, and each repetition's time kept for the table.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
    }
    std::map<std::string, std::vector<double>> times;  // milliseconds
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const auto& find = collector.times["BM_find"];
    if (collector.times["BM_read"].empty() || collector.times["BM_firstRead"].empty() ||
        find.empty())
        return 1;
    const auto [findBest, findWorst] = std::minmax_element(find.begin(), find.end());
    std::printf(
        "\n| %d files (+%d folders) | best, ms | worst, ms | best / floor's best | worst / floor's "
        "worst |\n",
        kFiles, kFiles / 100 + kFiles / 1000);
    std::printf("|---|---:|---:|---:|---:|\n");
    double mostTimes = 0;
    for (const auto& [name, what] : {std::pair{"BM_firstRead", "first read into a disk"},
                                     std::pair{"BM_read", "re-read, replacing the whole read"}}) {
        const auto& read = collector.times[name];
        const auto [best, worst] = std::minmax_element(read.begin(), read.end());
        std::printf("| %s | %.0f | %.0f | %.2f | %.2f |\n", what, *best, *worst,
                    *best / *findBest, *worst / *findWorst);
        mostTimes = std::max({mostTimes, *best / *findBest, *worst / *findWorst});
    }
    std::printf("| floor: `find -printf '%%s %%T@ %%p\\n'` | %.0f | %.0f | 1 | 1 |\n", *findBest,
                *findWorst);
    std::printf("\nLimit: a read at most 2 times the floor; at most %.2f here: %s.\n", mostTimes,
                mostTimes <= 2 ? "within" : "OVER");

    // The sixth file after one read into a catalogue that had none.
    const auto db = catalogueFor("size");
    readIntoDisk(*db, treeOf(kFiles));
    const auto volume = store::ContentsReader(*db).volume(1);
    const auto bytes = fs::file_size(db->baseDir() / std::string(store::kContentsFileName));
    const auto entries = volume->files + volume->folders;
    std::printf("\n| sixth file after %lld entries | bytes | bytes per entry |\n|---|---:|---:|\n",
                static_cast<long long>(entries));
    std::printf("| CDFiles.db, index included | %llu | %.0f |\n",
                static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / entries);
    std::printf("\nAim: at most 200 bytes an entry: %s.\n",
                static_cast<double>(bytes) / entries <= 200 ? "within" : "OVER");

    // Peak memory of korvalen-base scan, the whole program, on trees ten times apart.
    std::printf("\n| korvalen-base scan | peak memory, KB |\n|---|---:|\n");
    for (const int files : {10000, kFiles}) {
        const fs::path tree = treeOf(files);
        catalogueFor("memory");
        const long kb = runProgram(
            {KORVALEN_BASE_PROGRAM, "scan", (workDir() / "memory").string(), "1", tree.string()});
        std::printf("| %d files | %ld |\n", files, kb);
    }
    return 0;
}
