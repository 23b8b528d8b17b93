// Reading an ISO image's tree (Rock Ridge and Joliet, Cyrillic names, 50 files a folder)
// against the floor libarchive sets: the same image's headers walked by libarchive alone,
// in the same run. Each line shows the best and the worst of the repetitions; the peak
// resident memory of a fresh process that reads the image once, at each size, shows
// whether it stays flat in the number of files. Images are made once per size by xorriso.
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "contents/readers.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFilesPerFolder = 50;

const fs::path& workFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "korvalen-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return fs::path(pattern);
    }();
    return folder;
}

fs::path imageOf(int files) {
    static std::map<int, fs::path> made;
    if (const auto it = made.find(files); it != made.end()) return it->second;
    const fs::path tree = workFolder() / ("tree" + std::to_string(files));
    for (int n = 0; n < files; ++n) {
        const fs::path folder = tree / ("Папка " + std::to_string(n / kFilesPerFolder / 20)) /
                                ("Подпапка " + std::to_string(n / kFilesPerFolder % 20));
        if (n % kFilesPerFolder == 0) fs::create_directories(folder);
        std::ofstream(folder / ("файл " + std::to_string(n) + ".txt")) << n;
    }
    const fs::path image = workFolder() / ("image" + std::to_string(files) + ".iso");
    const std::string command = "LC_ALL=C.UTF-8 xorriso -as mkisofs -J -R -V Замер -o '" +
                                image.string() + "' '" + tree.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) std::abort();
    fs::remove_all(tree);
    return made[files] = image;
}

class CountingSink : public store::ContentsSink {
public:
    long entries = 0;

    void volume(const store::VolumeFacts&) override {}
    store::FolderId folder(store::FolderId, std::string_view, std::optional<int64_t>,
                           unsigned) override {
        return ++entries;
    }
    void file(store::FolderId, std::string_view, std::optional<int64_t>, std::optional<int64_t>,
              unsigned) override {
        ++entries;
    }
    void track(const store::Track&) override {}
};

long readOnce(const fs::path& image) {
    CountingSink sink;
    contents::readDiscImage(image, sink);
    return sink.entries;
}

// This program run again to read (or walk) the image once: its peak resident memory in kilobytes.
double peakKbOfOneRead(const fs::path& image, const std::string& how = "--read-once") {
    std::string command = "/proc/" + std::to_string(getpid()) + "/exe ";
    command += how;
    command += " '";
    command += image.string();
    command += "'";
    FILE* child = popen(command.c_str(), "r");
    if (!child) return -1;
    double kb = -1;
    if (std::fscanf(child, "%lf", &kb) != 1) kb = -1;
    pclose(child);
    return kb;
}

void readerReads(benchmark::State& state) {
    const fs::path image = imageOf(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(readOnce(image));
    state.counters["peak_rss_kb"] = peakKbOfOneRead(image);
}

long walkOnce(const fs::path& image) {
    archive* reader = archive_read_new();
    archive_read_support_format_iso9660(reader);
    archive_read_open_filename(reader, image.c_str(), 64 * 1024);
    archive_entry* entry = nullptr;
    long entries = 0;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) ++entries;
    archive_read_free(reader);
    return entries;
}

void libarchiveWalks(benchmark::State& state) {
    const fs::path image = imageOf(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(walkOnce(image));
    state.counters["peak_rss_kb"] = peakKbOfOneRead(image, "--walk-once");
}

void configure(benchmark::internal::Benchmark* b) {
    b->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
    b->Repetitions(5)->ReportAggregatesOnly(true);
    b->ComputeStatistics("best", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });
    b->ComputeStatistics("worst", [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    });
}

BENCHMARK(libarchiveWalks)->Apply(configure);
BENCHMARK(readerReads)->Apply(configure);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && (std::string(argv[1]) == "--read-once" ||
                      std::string(argv[1]) == "--walk-once")) {
        benchmark::DoNotOptimize(std::string(argv[1]) == "--read-once" ? readOnce(argv[2])
                                                                        : walkOnce(argv[2]));
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%ld\n", usage.ru_maxrss);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(workFolder(), error);
    return 0;
}
