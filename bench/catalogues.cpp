#include "bench/catalogues.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/catalogue_tools.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

// Written last: a folder without it was left half-made and is made again.
constexpr const char* kDoneMark = "complete";

}  // namespace

fs::path catalogueRoot() {
    if (const char* env = std::getenv("KORVALEN_BENCH_CATALOGUES"); env && *env) return env;
    return KORVALEN_BENCH_CATALOGUES;
}

fs::path demoCatalogue(int disks) {
    const fs::path dir = catalogueRoot() / std::to_string(disks);
    if (fs::exists(dir / kDoneMark)) return dir;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::cerr << "Making a demo catalogue of " << disks << " disks in " << dir << " ..."
              << std::flush;
    const auto start = std::chrono::steady_clock::now();
    tools::DemoOptions options;
    options.disks = disks;
    tools::makeDemo(dir, options);
    std::ofstream(dir / kDoneMark) << disks << "\n";
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cerr << " " << took.count() << " s\n";
    return dir;
}

std::vector<int> benchSizes() {
    const char* env = std::getenv("KORVALEN_BENCH_SIZES");
    if (!env || !*env) return {1000, 10000, 100000, 1000000};
    std::vector<int> sizes;
    std::stringstream in(env);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) sizes.push_back(std::stoi(item));
    return sizes;
}

}  // namespace bench
