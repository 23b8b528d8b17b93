// Reading an ISO image's tree (Rock Ridge and Joliet, Cyrillic names, 50 files a folder)
// against the floor libarchive sets: the same image's headers walked by libarchive alone,
// in the same run. Each line shows the best and the worst of the repetitions; the reader's
// memory, the growth of the resident set over the read, at each size shows whether it
// stays flat in the number of files. Images are made once per size by xorriso.
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
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

long residentKb() {
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Counts what it is handed and samples the resident set now and then.
class CountingSink : public store::ContentsSink {
public:
    long entries = 0;
    long peakKb = 0;

    void volume(const store::VolumeFacts&) override {}
    store::FolderId folder(store::FolderId, std::string_view, std::optional<int64_t>,
                           unsigned) override {
        sample();
        return entries;
    }
    void file(store::FolderId, std::string_view, std::optional<int64_t>, std::optional<int64_t>,
              unsigned) override {
        sample();
    }
    void track(const store::Track&) override {}

private:
    void sample() {
        if (++entries % 1000 == 0) peakKb = std::max(peakKb, residentKb());
    }
};

void readerReads(benchmark::State& state) {
    const fs::path image = imageOf(static_cast<int>(state.range(0)));
    long growth = 0;
    for (auto _ : state) {
        const long before = residentKb();
        CountingSink sink;
        contents::readDiscImage(image, sink);
        growth = std::max(growth, std::max(sink.peakKb, residentKb()) - before);
        benchmark::DoNotOptimize(sink.entries);
    }
    state.counters["rss_growth_kb"] = static_cast<double>(growth);
}

void libarchiveWalks(benchmark::State& state) {
    const fs::path image = imageOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        archive* reader = archive_read_new();
        archive_read_support_format_iso9660(reader);
        archive_read_open_filename(reader, image.c_str(), 64 * 1024);
        archive_entry* entry = nullptr;
        long entries = 0;
        while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) ++entries;
        archive_read_free(reader);
        benchmark::DoNotOptimize(entries);
    }
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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(workFolder(), error);
    return 0;
}
