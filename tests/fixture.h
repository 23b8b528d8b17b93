#pragma once

// The one catalogue every suite runs against, and the helpers every suite shares:
// catalogues with a suite's own rows, the working directory, folder snapshots.
//
// FixtureCatalogue holds these rows (keys as shown); a suite that needs more adds them
// on top, named in the suite.
//
// SprKategoy.db (Num, Name) — mixed letter case, a leading Ё and a Latin name, for the
// Russian order:
//   1 "Фильмы"  2 "музыка"  3 "Ёлка"  4 "Документы"  5 "Games"
//   6 "Сборники"         (no disk refers to it: it may be deleted)
//   Russian order by name: Документы, Ёлка, музыка, Сборники, Фильмы, Games.
//
// SprType.db (N, Tip):
//   1 "CD-R"  2 "DVD-R"
//   3 "Blu-ray"          (no disk refers to it: it may be deleted)
//   Order by name: Blu-ray, CD-R, DVD-R.
//
// SprDolgnik.db (N, Dolgnik) — ё beside е in the Russian order:
//   1 "Иванов Сергей"    (has Матрица)
//   2 "ёлкина мария"     (has never borrowed: may be deleted)
//   3 "Егоров Пётр"      (has only a returned loan: still in use)
//   4 "Петров Пётр"      (has Rock'n'Roll)
//   Russian order by name: Егоров Пётр, ёлкина мария, Иванов Сергей, Петров Пётр.
//
// CDBase.DB: fixture::disks() below. Disk 5's category does not exist, so the lists'
// joins drop it; the names hold a quote, a % and a _ for the name filter.
//
// Dolg.DB (NomCD, Dolgnik, DatN, DatK, Dolg):
//   1  1 Иванов  01.03.2024  (none)      True    Матрица is out
//   2  3 Егоров  10.01.2024  01.02.2024  False   Abbey Road came back
//   6  4 Петров  05.03.2024  (none)      True    Rock'n'Roll is out

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

// A disk of the fixture catalogue.
struct Disk {
    int n;
    QString name;
    QString description;  // as stored: lines end in CR LF
    int category;
    int mediaType;
    bool lent;
};

// The fixture's disks, by key:
//   1 Матрица           Фильмы     DVD-R  lent     "Фильм о выборе"
//   2 Abbey Road        музыка     CD-R            "Лучшие песни" CR LF "Два диска"
//   3 Новогодние ПЕСНИ  Ёлка       CD-R            ""
//   4 Half-Life 2       Games      DVD-R           "Игра."
//   5 Потерянный диск   (99: none) CD-R            "Категории нет."
//   6 Rock'n'Roll       музыка     CD-R   lent     "Сборник."
//   7 Abc 100%          Документы  DVD-R           "Учебник."
//   8 Road_trip         Документы  CD-R            "Путевые заметки."
const std::vector<Disk>& disks();

// Whether a key names a row of the fixture's categories, of its media types.
bool categoryExists(int key);
bool mediaTypeExists(int key);

// A catalogue with the given rows in a fresh temporary folder, removed with the object.
class TemporaryCatalogue {
public:
    explicit TemporaryCatalogue(std::string_view rows);

    QTemporaryDir dir;
    std::filesystem::path root() const;  // the folder that holds base/
    std::filesystem::path base() const;  // root()/base
    std::shared_ptr<store::Database> open() const;
    QString path() const { return dir.path(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }
};

// The catalogue of the header comment in a fresh temporary folder, with a suite's own
// rows (SQLite's SQL, as for makeCatalogue) added on top.
struct FixtureCatalogue : TemporaryCatalogue {
    explicit FixtureCatalogue(std::string_view moreRows = {});
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
