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

// Where an import builds the new catalogue before it is renamed into place: a hidden
// folder NEW/.korvalen-import-XXXXXX holding a lock file, locked while the import runs.
// A killed import leaves the folder, but its lock goes with its process.
class ImportWorkFolder {
public:
    explicit ImportWorkFolder(const std::filesystem::path& newDir);
    ~ImportWorkFolder();  // removes the folder with what is left in it
    ImportWorkFolder(const ImportWorkFolder&) = delete;
    ImportWorkFolder& operator=(const ImportWorkFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    void release();

    std::filesystem::path path_;
    int lock_ = -1;
};

// Removes the work folders in newDir that killed imports left behind: only folders named
// as ours whose lock file no running import holds. Anything else is left alone.
void removeStaleImportFolders(const std::filesystem::path& newDir);

// The report as the user reads it at the end.
std::string describe(const ImportReport& report);

}  // namespace tools
