#include "store/catalogue.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "store/connection.h"
#include "store/error.h"
#include "store/systemerror.h"
#include "store/text.h"

namespace store {
namespace {

constexpr FieldDef kDiskFields[] = {
    {"N", FieldKind::Key},       {"Name", FieldKind::Text},
    {"Opisan", FieldKind::Memo}, {"Kategory", FieldKind::Integer},
    {"Tip", FieldKind::Integer}, {"Dolg", FieldKind::Logical},
};
constexpr FieldDef kLoanFields[] = {
    {"NomCD", FieldKind::Integer}, {"Dolgnik", FieldKind::Integer}, {"DatN", FieldKind::Date},
    {"DatK", FieldKind::Date},     {"Dolg", FieldKind::Logical},
};
constexpr FieldDef kCategoryFields[] = {{"Num", FieldKind::Key}, {"Name", FieldKind::Text}};
constexpr FieldDef kMediaFields[] = {{"N", FieldKind::Key}, {"Tip", FieldKind::Text}};
constexpr FieldDef kDebtorFields[] = {{"N", FieldKind::Key}, {"Dolgnik", FieldKind::Text}};

const std::array<TableDef, 5> kTables = {{
    {"CDBase.DB", "CDBase", "main", kDiskFields},
    {"Dolg.DB", "Dolg", "dolg_db", kLoanFields},
    {"SprKategoy.db", "SprKategoy", "sprkategoy_db", kCategoryFields},
    {"SprType.db", "SprType", "sprtype_db", kMediaFields},
    {"SprDolgnik.db", "SprDolgnik", "sprdolgnik_db", kDebtorFields},
}};

}  // namespace

const std::array<TableDef, 5>& catalogueTables() {
    return kTables;
}
const TableDef& table(Table which) {
    return kTables[static_cast<size_t>(which)];
}
const TableDef& diskTable() {
    return table(Table::Disks);
}

namespace {

// Not std::tolower: the locale that Qt sets at start must not change how names compare.
char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

const TableDef* tableForFile(std::string_view fileName) {
    for (const auto& t : kTables)
        if (equalsNoCase(t.fileName, fileName)) return &t;
    return nullptr;
}

const FieldDef* keyField(const TableDef& table) {
    for (const FieldDef& f : table.fields)
        if (f.kind == FieldKind::Key) return &f;
    return nullptr;
}

const std::array<Reference, 4>& catalogueReferences() {
    static const std::array<Reference, 4> kReferences = {{
        {table(Table::Disks), "Kategory", table(Table::Categories)},
        {table(Table::Disks), "Tip", table(Table::MediaTypes)},
        {table(Table::Loans), "NomCD", table(Table::Disks)},
        {table(Table::Loans), "Dolgnik", table(Table::Debtors)},
    }};
    return kReferences;
}

std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& dir,
                                                    std::string_view name) {
    std::error_code ec;
    std::optional<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!equalsNoCase(it->path().filename().string(), name) || !it->is_regular_file(ec))
            continue;
        if (found)
            throw Error(Error::Kind::NotCatalogue,
                        "В папке " + dir.string() + " два файла таблицы " + std::string(name) +
                            ", различающихся только регистром букв: " + found->filename().string() +
                            " и " + it->path().filename().string() + ". Оставьте один из них.");
        found = it->path();
    }
    return found;
}

std::string_view sqlType(FieldKind kind) {
    switch (kind) {
        case FieldKind::Key:
            return "INTEGER PRIMARY KEY AUTOINCREMENT";
        case FieldKind::Integer:
            return "INTEGER";
        case FieldKind::Text:
            return "TEXT";
        case FieldKind::Memo:
            return "TEXT";
        case FieldKind::Logical:
            return "LOGICAL";
        case FieldKind::Date:
            return "DATE";
    }
    return "TEXT";
}

std::string createTableSql(const TableDef& table, std::string_view schema, std::string_view name) {
    std::string sql = "CREATE TABLE ";
    if (!schema.empty()) sql.append("\"").append(schema).append("\".");
    sql.append("\"").append(name.empty() ? table.table : name).append("\" (");
    bool first = true;
    for (const auto& f : table.fields) {
        if (!first) sql += ", ";
        first = false;
        sql.append("\"").append(f.name).append("\" ").append(sqlType(f.kind));
        // Reference names sort the Russian way, whatever the statement's ORDER BY says.
        if (f.kind == FieldKind::Text && &table != &kTables[0]) sql += " COLLATE RUSSIAN";
        // A new disk is available at once.
        if (f.kind == FieldKind::Logical && &table == &kTables[0]) sql += " DEFAULT 0";
    }
    sql += ")";
    return sql;
}

// Appended piece by piece: GCC 12 misreads a chain of + at -O3 (-Wrestrict).
std::string quotedName(std::string_view name) {
    std::string out(1, '"');
    out.append(name).push_back('"');
    return out;
}

std::string qualifiedName(const TableDef& table) {
    std::string name("\"");
    name.append(table.schema).append("\".\"").append(table.table).append("\"");
    return name;
}

std::string insertRowSql(const TableDef& table) {
    std::string fields, parameters;
    for (size_t i = 0; i < table.fields.size(); ++i) {
        fields.append(i ? ", \"" : "\"").append(table.fields[i].name).append("\"");
        parameters += (i ? ", ?" : "?") + std::to_string(i + 1);
    }
    return "INSERT INTO " + qualifiedName(table) + " (" + fields + ") VALUES (" + parameters + ")";
}

void refuseTooLongPath(const std::filesystem::path& file) {
    const size_t length = file.string().size();
    if (length > kLongestTablePath)
        throw Error(Error::Kind::Io,
                    "Путь к файлу таблицы слишком длинный: " + std::to_string(length) +
                        " байт, а SQLite открывает файлы по пути не длиннее " +
                        std::to_string(kLongestTablePath) +
                        " байт (512 с «-journal»). Перенесите каталог в папку с "
                        "путём покороче: " +
                        file.string());
}

namespace {

// An exclusive lock on a folder for as long as the object lives (none where the folder
// cannot be opened: making the catalogue then fails with its own message).
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& dir)
        : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

// Absolute, . and .. resolved, and the links along the part that exists followed.
std::filesystem::path resolved(const std::filesystem::path& p) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(p, ec);
    auto out = std::filesystem::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : out;
}

bool sameExisting(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// The table's file as found in base/; its own name when none or two are there.
std::filesystem::path tableFileIn(const std::filesystem::path& baseDir, const TableDef& t) {
    try {
        if (auto found = findFileNoCase(baseDir, t.fileName)) return *found;
    } catch (const Error&) {
    }
    return baseDir / std::string(t.fileName);
}

// Whether a and b are one file: by device and inode when both are there, else by folder
// and name without regard to letter case.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    const auto ra = resolved(a), rb = resolved(b);
    if (std::filesystem::exists(ra, ec) && std::filesystem::exists(rb, ec))
        return sameExisting(ra, rb);
    // A file not yet there would become a second spelling of the same name.
    const bool sameFolder =
        sameExisting(ra.parent_path(), rb.parent_path()) || ra.parent_path() == rb.parent_path();
    return sameFolder && equalsNoCase(ra.filename().string(), rb.filename().string());
}

}  // namespace

CataloguePart insideCatalogue(const std::filesystem::path& baseDir,
                              const std::filesystem::path& target) {
    for (const auto& t : kTables)
        if (sameFile(target, tableFileIn(baseDir, t))) return CataloguePart::TableFile;
    // Anything whose path passes through the folder, by whatever name or mount it is reached.
    for (auto at = resolved(target);; at = at.parent_path()) {
        if (sameExisting(at, baseDir)) return CataloguePart::Folder;
        if (at == at.parent_path()) return CataloguePart::None;
    }
}

void refuseExportOver(const std::filesystem::path& baseDir, const std::filesystem::path& target,
                      const std::filesystem::path& settingsFile) {
    const std::string elsewhere = "; сохраните список в другое место.";
    switch (insideCatalogue(baseDir, target)) {
        case CataloguePart::TableFile:
            throw Error(Error::Kind::Other,
                        "Файл " + target.string() + " — таблица каталога" + elsewhere);
        case CataloguePart::Folder:
            throw Error(Error::Kind::Other, "Файл " + target.string() + " лежит в папке каталога " +
                                                baseDir.string() + elsewhere);
        case CataloguePart::None:
            break;
    }
    if (!settingsFile.empty() && sameFile(target, settingsFile))
        throw Error(Error::Kind::Other,
                    "Файл " + target.string() + " — файл настроек Korvalen" + elsewhere);
}

void refuseBackupInto(const std::filesystem::path& baseDir, const std::filesystem::path& destBase) {
    if (insideCatalogue(baseDir, destBase) != CataloguePart::None)
        throw Error(Error::Kind::Other, "Копию каталога нельзя записать в " + destBase.string() +
                                            ": это внутри папки самого каталога " +
                                            baseDir.string() +
                                            ". Выберите для копии другую папку.");
}

void createCatalogue(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    const fs::path base = dir / std::string(kBaseFolder);
    std::error_code ec;
    fs::create_directories(dir, ec);
    // One maker at a time in a folder: a second, started meanwhile, finds the first one's
    // catalogue made and refuses, instead of both writing the same files and both failing.
    const FolderLock lock(dir);
    if (fs::exists(base, ec))
        throw Error(Error::Kind::Other, "Каталог уже существует: " + base.string() +
                                            ". Существующий каталог не перезаписывается.");
    for (const auto& t : kTables)
        refuseTooLongPath(fs::absolute(base, ec) / std::string(t.fileName));
    fs::create_directories(base, ec);
    if (ec)
        throw Error(Error::Kind::Io,
                    "Не удалось создать папку " + base.string() + ": " + systemErrorText(ec));
    for (const auto& t : kTables) {
        const fs::path file = base / std::string(t.fileName);
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 nullptr);
        ConnectionHandle db(raw);
        if (rc == SQLITE_OK) rc = registerTextFunctions(db.get());
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db.get(), createTableSql(t).c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const std::string why = db ? sqlite3_errmsg(db.get()) : "нет памяти";
            db.reset();
            fs::remove_all(base, ec);  // nothing half-made stays
            throw Error(Error::Kind::Io,
                        "Не удалось создать таблицу " + file.string() + ": " + why);
        }
    }
}

}  // namespace store
