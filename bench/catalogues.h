#pragma once

#include <cstdint>
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

// The folder holding base/ for a demo catalogue of the default disks whose contents hold
// about that many folders and files (none: disks without contents), made on first use.
std::filesystem::path filesCatalogue(int64_t files);

// The file counts to run: KORVALEN_BENCH_FILES ("100000,1000000"), else 100,000 to
// 10,000,000.
std::vector<int64_t> benchFiles();

// The sizes to run: KORVALEN_BENCH_SIZES ("1000,10000"), else 1,000 to 1,000,000.
std::vector<int> benchSizes();

}  // namespace bench
