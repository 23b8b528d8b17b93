#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace store {

enum class FieldKind { Key, Integer, Text, Memo, Logical, Date };

struct FieldDef {
    std::string_view name;
    FieldKind kind;
};

// One table file of the catalogue: the file in base/, the table it holds, and the
// schema name under which the connection attaches it.
struct TableDef {
    std::string_view fileName;
    std::string_view table;
    std::string_view schema;
    std::span<const FieldDef> fields;
};

inline constexpr std::string_view kBaseFolder = "base";

// The five tables, in the order of catalogueTables().
enum class Table { Disks, Loans, Categories, MediaTypes, Debtors };

const std::array<TableDef, 5>& catalogueTables();
const TableDef& table(Table which);
const TableDef& diskTable();  // CDBase.DB, opened as the main database

// The table whose file name matches, without regard to letter case.
const TableDef* tableForFile(std::string_view fileName);

// The key field of a table; null for the loans, which have none.
const FieldDef* keyField(const TableDef& table);

// A field that holds another table's key, by value; the store does not enforce it.
struct Reference {
    const TableDef& from;
    std::string_view field;
    const TableDef& to;
};
const std::array<Reference, 4>& catalogueReferences();

// A file in dir whose name equals name without regard to letter case. Two such files
// (dolg.db beside DOLG.DB) are refused, both named: taking either would be a guess.
std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& dir,
                                                    std::string_view name);

// The table as create makes it; as named, in the given schema, when they are given.
std::string createTableSql(const TableDef& table, std::string_view schema = {},
                           std::string_view name = {});
std::string_view sqlType(FieldKind kind);
// A name in double quotes, as SQL takes a schema, table or field name.
std::string quotedName(std::string_view name);
// "schema"."table" on the catalogue's connection.
std::string qualifiedName(const TableDef& table);
// An INSERT of one whole row into the attached table: every field in its order, bound
// as ?1, ?2, ...; a NULL key is given the next free one.
std::string insertRowSql(const TableDef& table);

// The longest path of a table file that SQLite opens: its limit of 512 bytes holds the
// path of the file's journal, 8 bytes longer ("-journal").
inline constexpr size_t kLongestTablePath = 504;
// Throws a clear message for a table file whose path SQLite cannot open.
void refuseTooLongPath(const std::filesystem::path& file);

// Where a path that an export or a backup is about to write lies against the catalogue
// in baseDir: on one of its table files, or on its folder base or anything inside it.
// Existing files and folders are compared by device and inode (a link or another
// spelling of the path is the same file), a file not yet there by its folder and its
// name without regard to letter case (dolg.db beside Dolg.DB).
enum class CataloguePart { None, TableFile, Folder };
CataloguePart insideCatalogue(const std::filesystem::path& baseDir,
                              const std::filesystem::path& target);

// Throws a message naming target when an export would write over the catalogue in
// baseDir or over settingsFile (the program's settings, when known).
void refuseExportOver(const std::filesystem::path& baseDir, const std::filesystem::path& target,
                      const std::filesystem::path& settingsFile = {});
// Throws a message naming the folder when a backup's copy destBase would lie inside the
// catalogue in baseDir.
void refuseBackupInto(const std::filesystem::path& baseDir, const std::filesystem::path& destBase);

// Makes dir/base with the five empty tables. Refuses when dir/base already exists.
void createCatalogue(const std::filesystem::path& dir);

// Letters folded to lower case for ASCII only: file and field names are ASCII.
std::string asciiLower(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace store
