#pragma once

#include <string>
#include <vector>

namespace store {

class Database;
struct TableDef;

// Something in how a table file declares its table that the program cannot live with.
struct SchemaProblem {
    std::string message;
    // True when rebuilding the table under our declaration, rows and keys kept, mends it
    // (korvalen-base repair); false when the file holds no table the rows could come from.
    bool repairable = false;
    const TableDef* table = nullptr;
};

// What is wrong with one table as db sees it attached: the table must be a real table with
// row keys, every field there with its declared type, the key SQLite's own row key with
// AUTOINCREMENT, and every field's collation one the store knows. file names the file in
// the messages. Opening a catalogue refuses the first problem; check lists them all.
std::vector<SchemaProblem> tableProblems(const Database& db, const TableDef& table,
                                         const std::string& file);

// The message that tells how to mend a repairable problem.
std::string repairAdvice();

}  // namespace store
