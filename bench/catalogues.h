#pragma once

#include <filesystem>
#include <vector>

namespace bench {

// Demo catalogues of the benchmark sizes, made once and kept in a cache folder
// (KORVALEN_BENCH_CATALOGUES, else the build's own folder) for later runs.
std::filesystem::path catalogueRoot();

// The folder holding base/ for a demo catalogue of that many disks, made on first use.
std::filesystem::path demoCatalogue(int disks);

// The folder holding base/ for a demo catalogue of that many disks whose loan table is
// topped up with returned loans to hold that many loans too, made on first use.
std::filesystem::path loanCatalogue(int size);

// The sizes to run: KORVALEN_BENCH_SIZES ("1000,10000"), else 1,000 to 1,000,000.
std::vector<int> benchSizes();

}  // namespace bench
