#include "store/database.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

#include "store/catalogue.h"
#include "store/dialect.h"
#include "store/nameindex.h"
#include "store/text.h"

namespace store {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<Database>& defaultSlot() {
    static std::shared_ptr<Database> db;
    return db;
}

std::string joinFiles(const std::vector<std::string>& files) {
    std::string out;
    for (const auto& f : files) {
        if (!out.empty()) out += ", ";
        out += f;
    }
    return out.empty() ? std::string("каталога") : out;
}

// Paradox tables start with the record size, the header size (a multiple of
// 2 KB) and the file type; our tables start with SQLite's magic string.
bool looksLikeParadox(const std::array<unsigned char, 16>& h, std::streamsize got) {
    if (got < 6) return false;
    const unsigned headerSize = h[2] | (h[3] << 8);
    return headerSize != 0 && headerSize % 0x800 == 0 && h[4] <= 8 && h[5] >= 1 && h[5] <= 32;
}

void checkIsSqliteFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(Error::Kind::Io, "Не удалось открыть файл таблицы " + file.string() + ".");
    std::array<unsigned char, 16> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    const std::streamsize got = in.gcount();
    if (got == 0) return;  // an empty file reads as an empty database: the field check reports it
    if (got == 16 && std::memcmp(header.data(), "SQLite format 3", 16) == 0) return;
    if (looksLikeParadox(header, got))
        throw Error(
            Error::Kind::NotCatalogue,
            "Файл " + file.string() +
                " — таблица Paradox прежней программы, а не таблица Korvalen. "
                "Перенесите каталог командой: korvalen-base import СТАРАЯ_ПАПКА НОВАЯ_ПАПКА");
    throw Error(Error::Kind::NotCatalogue, notCatalogueFileMessage(file));
}

std::string quoted(std::string_view name) {
    std::string out(1, '"');
    out.append(name).push_back('"');
    return out;
}

// A field as the table file declares it.
struct ColumnInfo {
    std::string name;
    std::string type;
    bool primaryKey;
};

// The key must be SQLite's own row key, and a logical or date field must carry the
// declared type by which the store reads it as "True"/"False" or dd.MM.yyyy; another
// type would read as 1/0 and the lent flag would never read "True".
void checkField(const std::string& file, const FieldDef& f,
                const std::vector<ColumnInfo>& columns) {
    const auto column = std::find_if(columns.begin(), columns.end(), [&](const ColumnInfo& c) {
        return equalsNoCase(c.name, f.name);
    });
    if (column == columns.end())
        throw Error(Error::Kind::NotCatalogue,
                    "В таблице " + file + " нет поля " + std::string(f.name) + ".");
    const bool typeMatters =
        f.kind == FieldKind::Key || f.kind == FieldKind::Logical || f.kind == FieldKind::Date;
    const std::string_view expected =
        f.kind == FieldKind::Key ? std::string_view("INTEGER") : sqlType(f.kind);
    if (typeMatters && (!equalsNoCase(column->type, expected) ||
                        (f.kind == FieldKind::Key && !column->primaryKey)))
        throw Error(Error::Kind::NotCatalogue,
                    "В таблице " + file + " поле " + std::string(f.name) + " объявлено " +
                        (column->type.empty() ? "без типа" : "как " + column->type) +
                        ", а должно быть " + std::string(sqlType(f.kind)) + ".");
}

}  // namespace

std::string notCatalogueFileMessage(const fs::path& file) {
    return "Файл " + file.string() + " не является таблицей каталога Korvalen.";
}

Database::Database(fs::path baseDir) : baseDir_(std::move(baseDir)) {}
Database::~Database() = default;

std::shared_ptr<Database> Database::open(const fs::path& baseDirIn) {
    std::error_code ec;
    fs::path baseDir = fs::absolute(baseDirIn, ec);
    if (ec) baseDir = baseDirIn;
    if (!fs::is_directory(baseDir, ec))
        throw Error(Error::Kind::Missing,
                    "Не найдена папка каталога " + baseDir.string() +
                        ". Создайте каталог командой: korvalen-base create ПАПКА");
    std::shared_ptr<Database> db(new Database(baseDir));
    const auto mainFile = findFileNoCase(baseDir, diskTable().fileName);
    if (!mainFile)
        throw Error(Error::Kind::Missing, "Не найден файл таблицы " +
                                              std::string(diskTable().fileName) + " в папке " +
                                              baseDir.string() + ".");
    checkIsSqliteFile(*mainFile);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(mainFile->c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db->db_.reset(raw);
    if (rc != SQLITE_OK) throw db->errorFor(rc, {mainFile->filename().string()}, {});
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, 2000);
    if (registerTextFunctions(raw) != SQLITE_OK)
        throw Error(Error::Kind::Other, "Не удалось подготовить сравнение текста (ICU).");
    // The main file is read before any other is attached: attaching reads its schema,
    // and a fault of the main file must not be blamed on the file being attached.
    db->verifyTable(diskTable());
    db->attachAll();
    for (const auto& t : catalogueTables())
        if (&t != &diskTable()) db->verifyTable(t);
    db->leaveWalMode();
    db->names_ = std::make_unique<NameIndex>(raw);
    return db;
}

// A transaction over attached files is atomic only with a rollback journal; a file that
// another tool switched to WAL is switched back (a read-only file stays as it is).
void Database::leaveWalMode() const {
    for (const auto& t : catalogueTables()) {
        const std::string schema = quoted(t.schema);
        bool wal = false;
        try {
            Statement ask(*this, "PRAGMA " + schema + ".journal_mode");
            wal = ask.step() && equalsNoCase(ask.columnText(0), "wal");
        } catch (const Error&) {
            continue;  // the file is read as it is; a write reports what is wrong
        }
        if (!wal) continue;
        const std::string set = "PRAGMA " + schema + ".journal_mode = DELETE";
        sqlite3_exec(db_.get(), set.c_str(), nullptr, nullptr, nullptr);
    }
}

void Database::attachAll() {
    for (const auto& t : catalogueTables()) {
        if (t.schema == "main") continue;
        const auto file = findFileNoCase(baseDir_, t.fileName);
        if (!file)
            throw Error(Error::Kind::Missing, "Не найден файл таблицы " + std::string(t.fileName) +
                                                  " в папке " + baseDir_.string() + ".");
        checkIsSqliteFile(*file);
        Statement attach(db_.get(), this, "ATTACH DATABASE ?1 AS " + quoted(t.schema),
                         {file->filename().string()}, {});
        attach.bindText(1, file->string());
        attach.run();
    }
}

void Database::verifyTable(const TableDef& t) const {
    const std::string sql = "SELECT name, type, pk FROM " + quoted(t.schema) +
                            ".pragma_table_info('" + std::string(t.table) + "')";
    const auto found = findFileNoCase(baseDir_, t.fileName);
    const std::string file = (found ? *found : baseDir_ / std::string(t.fileName)).string();
    std::vector<ColumnInfo> columns;
    try {
        Statement info(db_.get(), this, sql, {std::string(t.fileName)}, {});
        while (info.step())
            columns.push_back({std::string(info.columnText(0)), std::string(info.columnText(1)),
                               info.columnInt64(2) != 0});
    } catch (const Error& e) {
        // SQLite finds a damaged or foreign file only when it first reads the schema.
        if (e.kind() == Error::Kind::NotCatalogue)
            throw Error(Error::Kind::NotCatalogue, notCatalogueFileMessage(file));
        throw;
    }
    if (columns.empty())
        throw Error(Error::Kind::NotCatalogue, "В файле " + file + " нет таблицы " +
                                                   std::string(t.table) + ": " +
                                                   notCatalogueFileMessage(file));
    for (const auto& f : t.fields) checkField(file, f, columns);
}

std::shared_ptr<Database> Database::defaultDatabase() {
    auto& slot = defaultSlot();
    if (slot) return slot;
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);  // fails once the folder has been removed
    if (ec)
        throw Error(Error::Kind::Missing, "Не найдена папка каталога " + std::string(kBaseFolder) +
                                              ": рабочая папка программы удалена или недоступна.");
    slot = open(cwd / std::string(kBaseFolder));
    return slot;
}

void Database::resetDefault() {
    defaultSlot().reset();
}

namespace {

// Table paths become the attached schema's table.
Translation translateForCatalogue(std::string_view statement) {
    static const auto sqlNames = [] {  // "schema"."table", in the order of the tables
        std::vector<std::string> names;
        for (const TableDef& t : catalogueTables()) names.push_back(qualifiedName(t));
        return names;
    }();
    return translate(statement, [](std::string_view file) -> std::optional<std::string> {
        const TableDef* def = tableForFile(file);
        if (!def) return std::nullopt;
        return sqlNames[static_cast<size_t>(def - catalogueTables().data())];
    });
}

}  // namespace

std::string sqliteSql(std::string_view statement) {
    return translateForCatalogue(statement).sql;
}

Statement Database::prepare(std::string_view statement) const {
    Translation t = translateForCatalogue(statement);
    // The copy of the names only narrows; where the narrowed statement cannot be
    // prepared, the statement as written runs and reports its own errors.
    if (const auto narrowed = names_ ? names_->narrow(t.sql) : std::nullopt) {
        try {
            return Statement(db_.get(), this, *narrowed, t.tableFiles, std::string(statement));
        } catch (const Error&) {
        }
    }
    return Statement(db_.get(), this, t.sql, std::move(t.tableFiles), std::string(statement));
}

void Database::startNameCopy() const {
    if (names_) names_->startLoading();
}

bool Database::waitForNameCopy() const {
    return names_ && names_->waitUntilReady();
}

size_t Database::nameCopyBytes() const {
    return names_ ? names_->memoryBytes() : 0;
}

void Database::writeWithoutJournal() const {
    for (const TableDef& t : catalogueTables()) {
        execRaw("PRAGMA " + quoted(t.schema) + ".journal_mode = OFF");
        execRaw("PRAGMA " + quoted(t.schema) + ".synchronous = OFF");
    }
}

bool Database::anyFileReadOnly() const {
    for (const TableDef& t : catalogueTables())
        if (sqlite3_db_readonly(db_.get(), std::string(t.schema).c_str()) == 1) return true;
    return false;
}

int64_t Database::lastInsertKey() const {
    return sqlite3_last_insert_rowid(db_.get());
}

void Database::execRaw(std::string_view sql) const {
    char* msg = nullptr;
    const int rc = sqlite3_exec(db_.get(), std::string(sql).c_str(), nullptr, nullptr, &msg);
    sqlite3_free(msg);
    if (rc != SQLITE_OK) throw errorFor(rc, {}, sql);
}

Error Database::errorFor(int code, const std::vector<std::string>& files,
                         std::string_view statement) const {
    const std::string where = joinFiles(files);
    const std::string engine = db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(code);
    const std::string text = statement.empty() ? std::string() : "\n\n" + std::string(statement);
    switch (code & 0xff) {
        case SQLITE_READONLY:
            return Error(
                Error::Kind::ReadOnly,
                "Таблица " + where + " доступна только для чтения: изменение не записано.");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Error(Error::Kind::Locked, "Таблица " + where +
                                                  " занята другой программой. Повторите попытку, "
                                                  "когда она освободит каталог.");
        case SQLITE_FULL:
            return Error(Error::Kind::DiskFull, "Недостаточно места на диске: изменение таблицы " +
                                                    where + " не записано.");
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return Error(Error::Kind::NotCatalogue,
                         "Файл таблицы " + where +
                             " повреждён или не является таблицей каталога (" + engine + ").");
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_PERM:
            return Error(Error::Kind::Io,
                         "Ошибка чтения или записи таблицы " + where + ": " + engine + ".");
        default:
            break;
    }
    // SELECT, UPDATE and DELETE say "no such column: F", INSERT "table T has no column named F".
    constexpr std::string_view kNoColumn = "no such column: ";
    constexpr std::string_view kNoColumnNamed = " has no column named ";
    std::string unknownField;
    if (engine.rfind(kNoColumn, 0) == 0)
        unknownField = engine.substr(kNoColumn.size());
    else if (const auto at = engine.find(kNoColumnNamed); at != std::string::npos)
        unknownField = engine.substr(at + kNoColumnNamed.size());
    if (!unknownField.empty())
        return Error(Error::Kind::Statement, "Неизвестное поле " + unknownField +
                                                 " в запросе к таблице " + where + "." + text);
    return Error(Error::Kind::Statement,
                 "Ошибка в запросе к таблице " + where + ": " + engine + "." + text);
}

Database::Transaction::Transaction(const Database& db) : db_(db) {
    db_.execRaw("BEGIN IMMEDIATE");
}

Database::Transaction::~Transaction() {
    if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Database::Transaction::commit() {
    db_.execRaw("COMMIT");
    done_ = true;
}

}  // namespace store
