#include "bench/table_reporter.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace bench {
namespace {

std::vector<std::string> split(const std::string& name) {
    std::vector<std::string> parts;
    std::stringstream in(name);
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    return parts;
}

template <typename T>
void remember(std::vector<T>& list, const T& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

std::string fixed(double value, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// Three significant figures or more: 0.123, 12.3, 1234.
std::string figure(double value) {
    return fixed(value, value < 1 ? 3 : value < 10 ? 2 : value < 100 ? 1 : 0);
}

}  // namespace

std::string benchName(std::string_view side, std::string_view item, int disks) {
    std::string name(side);
    name.append("/").append(item).append("/").append(std::to_string(disks));
    return name;
}

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
        const auto parts = split(run.run_name.function_name);
        if (parts.size() != 3) continue;
        const Key key{parts[0], parts[1], std::stoi(parts[2])};
        const double perUnit = benchmark::GetTimeUnitMultiplier(run.time_unit);
        times_[key].push_back(run.GetAdjustedCPUTime() / perUnit * 1e6);
        remember(itemOrder_, key.item);
        remember(sizes_, key.disks);
    }
}

double TableReporter::median(const Key& key) const {
    auto it = times_.find(key);
    if (it == times_.end() || it->second.empty()) return 0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void TableReporter::printRatios(std::ostream& out, const std::string& title,
                                const std::string& unit, double scale, const std::string& ours,
                                const std::string& floor,
                                const std::vector<std::string>& headers) const {
    bool any = false;
    std::ostringstream table;
    table << "| " << headers[0] << " | disks | " << headers[1] << ", " << unit << " | "
          << headers[2] << ", " << unit << " | ratio |\n|---|--:|--:|--:|--:|\n";
    std::vector<int> sizes = sizes_;
    std::sort(sizes.begin(), sizes.end());
    for (const auto& item : itemOrder_) {
        for (int disks : sizes) {
            const double a = median({ours, item, disks});
            const double b = median({floor, item, disks});
            if (a == 0 || b == 0) continue;
            any = true;
            table << "| " << item << " | " << disks << " | " << figure(a / scale) << " | "
                  << figure(b / scale) << " | " << fixed(a / b, 2) << " |\n";
        }
    }
    if (any) out << "\n" << title << "\n\n" << table.str();
}

void TableReporter::printScaling(std::ostream& out, const std::string& title,
                                 const std::string& side) const {
    bool any = false;
    std::ostringstream table;
    table << "| measure | disks | time, ms | over the smallest size |\n|---|--:|--:|--:|\n";
    std::vector<int> sizes = sizes_;
    std::sort(sizes.begin(), sizes.end());
    for (const auto& item : itemOrder_) {
        double smallest = 0;
        for (int disks : sizes) {
            const double t = median({side, item, disks});
            if (t == 0) continue;
            if (smallest == 0) smallest = t;
            any = true;
            table << "| " << item << " | " << disks << " | " << figure(t / 1000) << " | "
                  << fixed(t / smallest, 2) << " |\n";
        }
    }
    if (any) out << "\n" << title << "\n\n" << table.str();
}

void TableReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    printRatios(out, "Store over floor (open and read the first 40 rows):", "µs", 1, "store",
                "floor", {"statement", "store", "floor"});
    printRatios(out,
                "The store with the copy of the names over the floor, the scan (open and read "
                "the first 40 rows):",
                "µs", 1, "copy", "floor", {"statement", "copy", "floor"});
    printRatios(out,
                "The export's row count of the filtered list, with the copy of the names ready "
                "over the scan:",
                "ms", 1000, "count_copy", "count_scan", {"statement", "copy", "scan"});
    printRatios(out, "Unicode like over built-in like (count(*) over every disk):", "ms", 1000,
                "like_unicode", "like_builtin", {"pattern", "ours", "built-in"});
    printScaling(out, "The main window, offscreen (CPU time of the process):", "window");
    printRatios(out,
                "A key release in the name fragment, to the painted first screen, with the copy "
                "of the names ready and while the table is scanned (+3: category, media type and "
                "\"На руках\" too):",
                "ms", 1000, "key_copy", "key_scan", {"fragment", "copy", "scan"});
    printScaling(out, "Reports, offscreen (CPU time of the process):", "reports");
    out << std::flush;
}

}  // namespace bench
