#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tools {

struct DemoOptions {
    int disks = 300;
    unsigned seed = 1;
};

// Makes dir/base with a realistic Russian demo catalogue. Refuses an existing one.
void makeDemo(const std::filesystem::path& dir, const DemoOptions& options = {});

// What is wrong with the catalogue in dir/base, in plain Russian; empty when all is well.
// Checks the five files and their fields, SQLite's integrity check, and that each
// disk's lent flag is True exactly while it has an open loan.
std::vector<std::string> checkCatalogue(const std::filesystem::path& dir);

}  // namespace tools
