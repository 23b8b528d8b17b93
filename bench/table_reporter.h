#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bench {

// The name the reporter reads a benchmark by: "side/item/disks".
std::string benchName(std::string_view side, std::string_view item, int disks);

// Google Benchmark's console output, then the figures as Markdown tables: the
// store against the raw SQLite floor for each statement and size, our Unicode
// `like` against SQLite's built-in one, and the window's measures at each size
// against the smallest. Each figure is the median of the repetitions. Benchmark
// names are "side/case/disks"; a table whose benchmarks did not run is left out.
class TableReporter : public benchmark::ConsoleReporter {
public:
    // Rows of the tables in this order (else in the order first reported).
    explicit TableReporter(std::vector<std::string> itemOrder = {})
        : itemOrder_(std::move(itemOrder)) {}
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    struct Key {
        std::string side, item;
        int disks;
        auto operator<=>(const Key&) const = default;
    };
    double median(const Key& key) const;
    void printRatios(std::ostream& out, const std::string& title, const std::string& unit,
                     double scale, const std::string& ours, const std::string& floor,
                     const std::vector<std::string>& headers) const;
    void printScaling(std::ostream& out, const std::string& title, const std::string& side) const;

    std::map<Key, std::vector<double>> times_;  // microseconds per iteration
    std::vector<std::string> itemOrder_;
    std::vector<int> sizes_;
};

}  // namespace bench
