#pragma once

// Bringing a collection across from the original program: its five Paradox tables
// in OLD/base become a new catalogue in NEW/base, every row and every key kept.

#include <filesystem>
#include <string>
#include <vector>

namespace tools {

struct ImportOptions {
    int codePage = 0;  // 0: as each table's header says, Windows-1251 where it says none
};

struct ImportedTable {
    std::string file;  // as found in OLD/base
    int read = 0;
    int written = 0;
    int codePage = 0;
    std::string codePageSource;  // why this code page: the header, the option, or the default
};

struct ImportReport {
    std::filesystem::path source;  // OLD/base
    std::filesystem::path target;  // NEW/base
    std::vector<ImportedTable> tables;
    std::vector<std::string> unconverted;  // text fields that did not convert whole
    std::vector<std::string> notes;        // keys given anew, fields left behind, bad dates
    std::vector<std::string> problems;     // what the check finds in the new catalogue
};

// Reads OLD/base (never writing to it) and writes NEW/base. Refuses an existing
// NEW/base; a damaged or missing file stops it with store::Error naming the file,
// and nothing of the new catalogue is left behind.
ImportReport importCatalogue(const std::filesystem::path& oldDir,
                             const std::filesystem::path& newDir,
                             const ImportOptions& options = {});

// The report as the user reads it at the end.
std::string describe(const ImportReport& report);

}  // namespace tools
