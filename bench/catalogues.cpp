#include "bench/catalogues.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "store/database.h"
#include "tools/catalogue_demo.h"

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

fs::path loanCatalogue(int size) {
    const fs::path dir = catalogueRoot() / ("loans-" + std::to_string(size));
    if (fs::exists(dir / kDoneMark)) return dir;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::cerr << "Making a catalogue of " << size << " disks and loans in " << dir << " ..."
              << std::flush;
    tools::DemoOptions options;
    options.disks = size;
    tools::makeDemo(dir, options);
    // Returned loans of a week each, spread over four years, up to `size` loans in all.
    const auto db = store::Database::open(dir / "base");
    db->execRaw(
        "WITH RECURSIVE c(i) AS (SELECT (SELECT count(*) FROM dolg_db.Dolg) UNION ALL "
        "SELECT i + 1 FROM c WHERE i + 1 < " +
        std::to_string(size) +
        ") INSERT INTO dolg_db.Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) "
        "SELECT i % " +
        std::to_string(size) +
        " + 1, i % 10 + 1, "
        "date('2020-01-01', '+' || (i % 1460) || ' days'), "
        "date('2020-01-08', '+' || (i % 1460) || ' days'), 0 FROM c");
    std::ofstream(dir / kDoneMark) << size << "\n";
    std::cerr << " done\n";
    return dir;
}

fs::path filesCatalogue(int64_t files) {
    const fs::path dir = catalogueRoot() / ("demo-files-" + std::to_string(files));
    if (fs::exists(dir / kDoneMark)) return dir;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::cerr << "Making a demo catalogue of " << files << " files in " << dir << " ..."
              << std::flush;
    tools::DemoOptions options;
    options.files = files;  // the demo shares them out among the disks that can hold files
    tools::makeDemo(dir, options);
    std::ofstream(dir / kDoneMark) << files << "\n";
    std::cerr << " done\n";
    return dir;
}

std::vector<int64_t> benchFiles() {
    const char* env = std::getenv("KORVALEN_BENCH_FILES");
    std::vector<int64_t> out;
    std::stringstream in(env && *env ? env : "100000,1000000,10000000");
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) out.push_back(std::stoll(item));
    return out;
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
