#pragma once

// The small catalogue that the store tests run against, and the helpers every suite
// shares: catalogues with a suite's own rows, the working directory, folder snapshots.
//
// makeFixtureCatalogue(root) writes root/base with these rows (keys as shown):
//
// SprKategoy.db (Num, Name) — mixed letter case and a leading Ё, for the Russian order:
//   1 "Фильмы"
//   2 "музыка"
//   3 "Ёлка"
//   4 "Документы"        (no disk refers to it: it may be deleted)
//   5 "Games"
//   Russian order by name: Документы, Ёлка, музыка, Фильмы, Games.
//
// SprType.db (N, Tip):
//   1 "CD-R"
//   2 "DVD-R"
//
// SprDolgnik.db (N, Dolgnik) — ё beside е in the Russian order:
//   1 "Иванов Сергей"    (has the open loan)
//   2 "ёлкина мария"     (has never borrowed: may be deleted)
//   3 "Егоров Пётр"      (has only a returned loan: still in use)
//   Russian order by name: Егоров Пётр, ёлкина мария, Иванов Сергей.
//
// CDBase.DB (N, Name, Opisan, Kategory, Tip, Dolg):
//   1 "Матрица"            "Фильм.\r\nДва диска."  1 Фильмы   2 DVD-R  True   lent to Иванов
//   2 "Лучшие песни 1990"  "Сборник хитов."         2 музыка   1 CD-R   False  lent once, returned
//   3 "Новогодние ПЕСНИ"   ""                       3 Ёлка     1 CD-R   False
//   4 "Half-Life 2"        "Игра."                  5 Games    2 DVD-R  False
//   5 "Потерянный диск"    "Категории нет."        99 (none)  1 CD-R   False  dropped by the joins
//
// Dolg.DB (NomCD, Dolgnik, DatN, DatK, Dolg):
//   1  1 Иванов  01.03.2024  (none)      True    the open loan
//   2  3 Егоров  10.01.2024  01.02.2024  False   a returned loan

#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/database.h"
#include "store/query.h"

namespace fixture {

// Writes a catalogue into root/base (which must not exist yet) holding rows: statements
// of SQLite's own SQL, tables named without their file (CDBase, Dolg, SprKategoy,
// SprType, SprDolgnik).
void makeCatalogue(const std::filesystem::path& root, std::string_view rows);

// Writes the catalogue above into root/base; root/base must not exist yet.
void makeFixtureCatalogue(const std::filesystem::path& root);

// A catalogue with the given rows in a fresh temporary folder, removed with the object.
class TemporaryCatalogue {
public:
    explicit TemporaryCatalogue(std::string_view rows);

    QTemporaryDir dir;
    std::filesystem::path root() const;  // the folder that holds base/
    std::filesystem::path base() const;  // root()/base
    std::shared_ptr<store::Database> open() const;
};

// The catalogue of the header comment in a fresh temporary folder.
struct FixtureCatalogue : TemporaryCatalogue {
    FixtureCatalogue();
};

// A table file of the catalogue made anew by another program: the file removed and sql
// (SQLite's own, several statements allowed) run on a fresh file in its place.
void redeclare(const std::filesystem::path& file, const std::string& sql);

// The CREATE TABLE of one of our tables (named by its file without extension) as we
// declare it but for one field, declared as declared; then rows, if any.
std::string tableWith(std::string_view table, std::string_view field, std::string_view declared,
                      std::string_view rows = {});

// Runs one statement of SQLite's own SQL on the catalogue in root/base, tables named
// without their file (CDBase, Dolg, SprKategoy, SprType, SprDolgnik). Each result row
// comes back as its values' text joined by "|", a missing value as "NULL". Throws
// store::Error on failure. It uses a connection of its own, so a write waits for (and
// after a while fails on) a query of another connection that is still part-way through.
QStringList sqlRows(const std::filesystem::path& root, const std::string& sql);

// A list's statement as a window's layout holds it (resources/<window>.queries.json),
// read from the same file the program embeds.
std::vector<std::string> layoutLines(const char* window, const char* query);

// Every row of a query, read the way the program reads fields (logical "True"/"False",
// dates dd.MM.yyyy, no value ""), joined by "|". The query must be open.
QStringList queryRows(store::Query& query);

// Moves the process to another working directory and forgets the default database,
// so the next query opens base/ there; both are undone when the object goes.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::filesystem::path& dir);
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

// The bytes of every file in dir (name → contents), to show that a failure left the
// table files exactly as they were.
struct FolderSnapshot {
    explicit FolderSnapshot(const std::filesystem::path& dir);
    bool operator==(const FolderSnapshot&) const = default;
    QStringList describe() const;  // "name: N bytes", for failure messages
    std::map<std::string, std::string> files;
};

}  // namespace fixture
