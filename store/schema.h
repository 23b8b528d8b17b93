#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace store {

class ErrorContext;
struct TableDef;

// A schema object of a table file that the program never makes: a trigger, a view, an
// index, another table. Named as sqlite_schema names it.
struct ExtraObject {
    std::string type;  // "trigger", "view", "index" or "table"
    std::string name;
};

// "триггер t", as the messages name it.
std::string describe(const ExtraObject& object);

// Something in how a table file declares its table that the program cannot live with.
struct SchemaProblem {
    std::string message;
    // True when korvalen-base repair mends it: by dropping the extra object, or else by
    // rebuilding the table under our declaration, rows and keys kept; false when the file
    // holds no table the rows could come from.
    bool repairable = false;
    const TableDef* table = nullptr;
    std::optional<ExtraObject> extra = {};
};

// What is wrong with one table as the catalogue's connection db sees it attached: the table must be
// a real table with row keys, every field there with its declared type, the key SQLite's own row
// key with AUTOINCREMENT, and every field's collation one the store knows. file names the file in
// the messages. The file must hold nothing else the program does not make (SQLite's own
// sqlite_sequence apart): a trigger would run on the program's writes. Opening a catalogue
// refuses the first problem; check lists them all.
std::vector<SchemaProblem> tableProblems(const ErrorContext& db, const TableDef& table,
                                         const std::string& file);

// The message for a file in base/ that is not one of our tables.
std::string notCatalogueFileMessage(const std::filesystem::path& file);

// The message that tells how to mend a repairable problem.
std::string repairAdvice();

}  // namespace store
