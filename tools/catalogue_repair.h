#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tools {

// Rebuilds every table of dir/base whose declaration the program refuses but a rebuild
// mends (a key without AUTOINCREMENT or not SQLite's row key, a field of another declared
// type, an unknown collation, WITHOUT ROWID, a UNIQUE): under our declaration, every row
// and key kept, new keys above every key the table or a reference to it has used; and drops
// what the program never makes (triggers, views, indexes, other tables). All tables
// change in one transaction, each file copied beside itself first (NAME.before-repair).
// Returns what was done, empty when nothing needed it; throws store::Error, with nothing
// changed, for what a rebuild cannot mend or keys that are not distinct whole numbers.
std::vector<std::string> repairCatalogue(const std::filesystem::path& dir);

}  // namespace tools
