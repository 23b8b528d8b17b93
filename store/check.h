#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace store {

// What is wrong with the catalogue in dir/base, in plain Russian; empty when all is well.
// Checks the five files and their fields, SQLite's integrity check, and that each
// disk's lent flag is True exactly while it has an open loan.
std::vector<std::string> checkCatalogue(const std::filesystem::path& dir);

}  // namespace store
