#include "store/database.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <limits>

#include "store/catalogue.h"
#include "store/contentsstore.h"
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

// SQLite's header: the magic string, and at byte 56 the text encoding (1 is UTF-8).
constexpr size_t kHeaderSize = 100;
constexpr size_t kEncodingAt = 56;

unsigned textEncoding(const std::array<unsigned char, kHeaderSize>& h) {
    return (unsigned{h[kEncodingAt]} << 24) | (unsigned{h[kEncodingAt + 1]} << 16) |
           (unsigned{h[kEncodingAt + 2]} << 8) | h[kEncodingAt + 3];
}

void checkIsSqliteFile(const fs::path& file) {
    refuseTooLongPath(file);
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(Error::Kind::Io, "Не удалось открыть файл таблицы " + file.string() + ".");
    std::array<unsigned char, kHeaderSize> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    const std::streamsize got = in.gcount();
    if (got == 0) return;  // an empty file reads as an empty database: the field check reports it
    if (got >= 16 && std::memcmp(header.data(), "SQLite format 3", 16) == 0) {
        // SQLite attaches no file whose encoding differs from the main file's, and would
        // blame the attached one; our tables are all UTF-8.
        const unsigned encoding = got == kHeaderSize ? textEncoding(header) : 1;
        if (encoding == 2 || encoding == 3)
            throw Error(Error::Kind::NotCatalogue,
                        "Файл " + file.string() +
                            " записан в кодировке UTF-16, а таблицы каталога Korvalen хранят "
                            "текст в UTF-8.");
        return;
    }
    std::array<unsigned char, 16> start{};
    std::copy_n(header.begin(), start.size(), start.begin());
    if (looksLikeParadox(start, got))
        throw Error(
            Error::Kind::NotCatalogue,
            "Файл " + file.string() +
                " — таблица Paradox прежней программы, а не таблица Korvalen. "
                "Перенесите каталог командой: korvalen-base import СТАРАЯ_ПАПКА НОВАЯ_ПАПКА");
    throw Error(Error::Kind::NotCatalogue, notCatalogueFileMessage(file));
}

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

fs::path withSuffix(const fs::path& file, const char* suffix) {
    return fs::path(file.string() + suffix);
}

}  // namespace

Database::Database(fs::path baseDir) : baseDir_(std::move(baseDir)) {}
Database::~Database() = default;

std::shared_ptr<Database> Database::open(const fs::path& baseDir) {
    auto db = openFiles(baseDir, nullptr);
    db->leaveWalMode();
    db->names_ = std::make_unique<NameIndex>(db->handle());
    return db;
}

std::shared_ptr<Database> Database::openForReading(const fs::path& baseDir) {
    return openFiles(baseDir, nullptr, true);
}

void Database::interrupt() const {
    sqlite3_interrupt(db_.get());
}

std::shared_ptr<Database> Database::openForCheck(const fs::path& baseDir,
                                                 std::vector<SchemaProblem>& problems) {
    return openFiles(baseDir, &problems);
}

std::shared_ptr<Database> Database::openFiles(const fs::path& baseDirIn,
                                              std::vector<SchemaProblem>* problems, bool readOnly) {
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
    // Attached files take the main file's flags.
    const int rc = sqlite3_open_v2(
        mainFile->c_str(), &raw, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr);
    db->db_.reset(raw);
    if (rc != SQLITE_OK) throw db->errorFor(rc, {mainFile->filename().string()}, {});
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kLockWaitMs);
    if (registerTextFunctions(raw) != SQLITE_OK)
        throw Error(Error::Kind::Other, "Не удалось подготовить сравнение текста (ICU).");
    // The main file is read before any other is attached: attaching reads its schema,
    // and a fault of the main file must not be blamed on the file being attached.
    db->verifyTable(diskTable(), problems);
    db->attachAll();
    for (const auto& t : catalogueTables())
        if (&t != &diskTable()) db->verifyTable(t, problems);
    if (!problems) {
        // A fault of the sixth file leaves the catalogue working: the contents' own
        // reader and writer report it when asked, and check names it.
        try {
            db->attachContents();
        } catch (const Error&) {
        }
    }
    return db;
}

// A read-only file stays as it is.
void Database::leaveWalMode() const {
    for (const auto& t : catalogueTables()) {
        const std::string schema = quotedName(t.schema);
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
        Statement attach(db_.get(), this, "ATTACH DATABASE ?1 AS " + quotedName(t.schema),
                         {file->filename().string()}, {});
        attach.bindText(1, file->string());
        attach.run();
    }
}

bool Database::attachContents() const {
    if (contentsAttached_) return true;
    const auto file = findFileNoCase(baseDir_, kContentsFileName);
    if (!file) return false;
    checkIsSqliteFile(*file);
    const std::string schema = quotedName(kContentsSchema);
    const std::vector<std::string> files{file->filename().string()};
    Statement attach(db_.get(), this, "ATTACH DATABASE ?1 AS " + schema, files, {});
    attach.bindText(1, file->string());
    attach.run();
    try {
        Statement tables(db_.get(), this,
                         "SELECT count(*) FROM " + schema +
                             ".sqlite_master WHERE type = 'table' AND name IN "
                             "('disk_reads', 'disk_entries', 'disk_tracks')",
                         files, {});
        if (!tables.step() || tables.columnInt64(0) != 3)
            throw Error(
                Error::Kind::NotCatalogue,
                "Файл " + file->string() + " не является файлом содержимого дисков Korvalen.");
        const bool readOnly = sqlite3_db_readonly(db_.get(), "main") == 1;
        if (!readOnly) {
            Statement ask(db_.get(), this, "PRAGMA " + schema + ".journal_mode", files, {});
            if (ask.step() && equalsNoCase(ask.columnText(0), "wal")) {
                ask = Statement(db_.get(), this, "PRAGMA " + schema + ".journal_mode = DELETE",
                                files, {});
                ask.step();
            }
            execRaw(contentsFollowDiskSql());
        }
    } catch (...) {
        sqlite3_exec(db_.get(), ("DETACH DATABASE " + schema).c_str(), nullptr, nullptr, nullptr);
        throw;
    }
    contentsAttached_ = true;
    return true;
}

fs::path Database::tableFile(const TableDef& t) const {
    const auto found = findFileNoCase(baseDir_, t.fileName);
    return found ? *found : baseDir_ / std::string(t.fileName);
}

void Database::verifyTable(const TableDef& t, std::vector<SchemaProblem>* problems) const {
    auto found = tableProblems(*this, t, tableFile(t).string());
    if (found.empty()) return;
    if (!problems) throw Error(Error::Kind::NotCatalogue, found.front().message);
    problems->insert(problems->end(), found.begin(), found.end());
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
    return Statement(db_.get(), this, t.sql, std::move(t.tableFiles), std::string(statement));
}

Statement Database::prepare(std::string_view statement, std::string_view narrowed) const {
    if (narrowed.empty() || !nameCopyInStep()) return prepare(statement);
    Translation t = translateForCatalogue(narrowed);
    return Statement(db_.get(), this, t.sql, std::move(t.tableFiles), std::string(statement));
}

bool Database::nameCopyInStep() const {
    return names_ && names_->inStep();
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

Statement Database::prepareOn(const TableDef& t, std::string_view sql) const {
    return Statement(db_.get(), this, sql, {tableFile(t).filename().string()}, std::string(sql));
}

void Database::writeWithoutJournal() const {
    for (const TableDef& t : catalogueTables()) {
        execRaw("PRAGMA " + quotedName(t.schema) + ".journal_mode = OFF");
        execRaw("PRAGMA " + quotedName(t.schema) + ".synchronous = OFF");
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
    if (std::string why = explainFileFault(code, files); !why.empty()) {
        const bool full = (code & 0xff) == SQLITE_FULL;
        return Error(full                               ? Error::Kind::KeysExhausted
                     : (code & 0xff) == SQLITE_READONLY ? Error::Kind::ReadOnly
                                                        : Error::Kind::Io,
                     why);
    }
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

// What SQLite's short message hides: a folder that went away while the program ran, an
// interrupted write or a WAL file that a read-only folder keeps SQLite from settling, and a
// table whose keys have run out (SQLite says "disk full"). Empty when none of these.
std::string Database::explainFileFault(int code, const std::vector<std::string>& files) const {
    const int primary = code & 0xff;
    std::error_code ec;
    if (code == SQLITE_READONLY_DBMOVED ||
        ((primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR) &&
         !fs::is_directory(baseDir_, ec)))
        return "Папка каталога " + baseDir_.string() +
               " пропала: её переименовали, перенесли или удалили, пока программа работала. "
               "Изменение не записано. Верните папку на место и запустите программу снова.";
    if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN) {
        for (const TableDef& t : catalogueTables()) {
            fs::path file;
            try {
                file = tableFile(t);
            } catch (const Error&) {
                continue;
            }
            const std::string name = file.filename().string();
            if (code == SQLITE_READONLY_ROLLBACK && present(withSuffix(file, "-journal")))
                return "Запись в таблицу " + name + " была прервана (рядом остался файл " + name +
                       "-journal). Её нужно откатить, а для этого папка каталога " +
                       baseDir_.string() +
                       " и файл таблицы должны быть доступны для записи. Разрешите запись и "
                       "запустите программу снова: таблица вернётся к последнему сохранённому "
                       "состоянию.";
            if (present(withSuffix(file, "-wal")) && !present(withSuffix(file, "-shm")))
                return "Таблица " + name + " ведёт журнал WAL (рядом лежит " + name + "-wal без " +
                       name + "-shm), а папка каталога " + baseDir_.string() +
                       " недоступна для записи, и SQLite не может прочитать такую таблицу. "
                       "Разрешите запись в папку и запустите программу снова: журнал будет "
                       "сведён в файл таблицы.";
        }
    }
    if (primary == SQLITE_FULL)
        for (const std::string& f : files) {
            const TableDef* t = tableForFile(f);
            if (t && keyField(*t) && keyMark(*t) == std::numeric_limits<int64_t>::max())
                return "Нумерация записей таблицы " + f +
                       " исчерпана: наибольший возможный "
                       "номер " +
                       std::to_string(std::numeric_limits<int64_t>::max()) +
                       " уже выдан, и новой записи номер дать нельзя. Изменение не записано.";
        }
    return {};
}

int64_t Database::keyMark(const TableDef& t) const {
    const FieldDef* key = keyField(t);
    if (!key) return 0;
    // Raw calls: this runs while an error is being put into words and must not throw.
    const std::string sql =
        "SELECT max(ifnull((SELECT seq FROM " + quotedName(t.schema) +
        ".sqlite_sequence WHERE name = ?1 COLLATE NOCASE), 0), ifnull((SELECT max(" +
        quotedName(key->name) + ") FROM " + qualifiedName(t) + "), 0))";
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
    const StatementHandle stmt(raw);
    if (!stmt) return 0;
    sqlite3_bind_text(raw, 1, t.table.data(), static_cast<int>(t.table.size()), SQLITE_STATIC);
    return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
}

void Database::raiseKeyMark(const TableDef& t, int64_t top) const {
    const std::string seq = quotedName(t.schema) + ".sqlite_sequence";
    Statement update(*this, "UPDATE " + seq + " SET seq = max(seq, ?2) WHERE name = ?1");
    update.bindText(1, t.table);
    update.bindInt64(2, top);
    if (update.run() > 0) return;
    Statement insert(*this, "INSERT INTO " + seq + " (name, seq) VALUES (?1, ?2)");
    insert.bindText(1, t.table);
    insert.bindInt64(2, top);
    insert.run();
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
