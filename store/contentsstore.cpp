#include "store/contentsstore.h"

#include <sqlite3.h>

#include <algorithm>

#include "store/catalogue.h"
#include "store/connection.h"
#include "store/database.h"
#include "store/error.h"
#include "store/errorcontext.h"
#include "store/statement.h"
#include "store/text.h"

namespace store {
namespace {

namespace fs = std::filesystem;

// Entries of every disk share one key sequence, and a read's entries take consecutive
// keys: a disk's whole tree is the key range its read row names, so replacing or deleting
// it is a range delete on the table's own b-tree, and no disk column is repeated per file.
// An entry at the root has the negated read key as its parent. A search index of the names
// can join this file later as a table of its own keyed by the entries' keys.
constexpr std::string_view kTables = R"(
CREATE TABLE IF NOT EXISTS disk_reads (
  id INTEGER PRIMARY KEY,
  disk INTEGER NOT NULL UNIQUE,
  kind INTEGER NOT NULL,
  origin TEXT NOT NULL,
  label TEXT NOT NULL,
  file_system TEXT NOT NULL,
  capacity INTEGER,
  free_space INTEGER,
  read_at TEXT NOT NULL,
  folders INTEGER NOT NULL,
  files INTEGER NOT NULL,
  unreadable INTEGER NOT NULL,
  bytes INTEGER NOT NULL,
  disc_id TEXT NOT NULL,
  mcn TEXT NOT NULL,
  first_entry INTEGER NOT NULL,
  last_entry INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS disk_entries (
  id INTEGER PRIMARY KEY,
  parent INTEGER NOT NULL,
  name NOT NULL,
  size INTEGER,
  modified INTEGER,
  flags INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS disk_entries_parent ON disk_entries (parent);
CREATE TABLE IF NOT EXISTS disk_tracks (
  read INTEGER NOT NULL,
  number INTEGER NOT NULL,
  sectors INTEGER NOT NULL,
  title TEXT NOT NULL,
  performer TEXT NOT NULL,
  PRIMARY KEY (read, number)
) WITHOUT ROWID;
)";

// The file names' index: the names of up to kBlockNames entries with consecutive keys in
// one row under the first one's key, folded as the name filter's `like` folds them and
// joined by kNameSeparator, with a trigram index over the text (our folding, so the
// tokenizer must not fold again). detail=none keeps only which rows hold a trigram: a
// fragment's trigrams narrow, and instr() on the folded text decides. A row of many names
// costs the index far fewer postings than a row a name (the names of a folder share most
// of their trigrams), which is most of what a read spends on it; a block never spans two
// reads, so a read's key range holds its rows.
constexpr std::string_view kNameIndex = R"(
CREATE VIRTUAL TABLE IF NOT EXISTS entry_names USING fts5(
  folded, tokenize = 'trigram case_sensitive 1', detail = none, columnsize = 0);
)";

// A TEMP trigger may act on any attached file; the tables' names are unique among the
// six, so the body names them unqualified as a trigger must.
constexpr std::string_view kFollowDisk = R"(
CREATE TEMP TRIGGER IF NOT EXISTS disk_contents_follow AFTER DELETE ON main."CDBase"
BEGIN
  DELETE FROM disk_entries WHERE id BETWEEN
    (SELECT first_entry FROM disk_reads WHERE disk = old."N") AND
    (SELECT last_entry FROM disk_reads WHERE disk = old."N");
  DELETE FROM entry_names WHERE rowid BETWEEN
    (SELECT first_entry FROM disk_reads WHERE disk = old."N") AND
    (SELECT last_entry FROM disk_reads WHERE disk = old."N");
  DELETE FROM disk_tracks WHERE read = (SELECT id FROM disk_reads WHERE disk = old."N");
  DELETE FROM disk_reads WHERE disk = old."N";
END)";

// Kept in flags beside the reader's marks.
constexpr unsigned kFolderFlag = 1u << 8;

constexpr size_t kBlockNames = 64;
constexpr size_t kBlockBytes = 2048;

// Gathers names of consecutive keys into the index's rows; write(first, text) stores one.
template <typename Write>
class NameBlocks {
public:
    explicit NameBlocks(Write write) : write_(std::move(write)) {}

    void add(int64_t id, std::string_view name) {
        if (count_ != 0 && (id != first_ + static_cast<int64_t>(count_) || count_ == kBlockNames ||
                            text_.size() >= kBlockBytes))
            flush();
        if (count_ == 0)
            first_ = id;
        else
            text_ += kNameSeparator;
        nameIndexFold(name, folded_);
        text_ += folded_;
        ++count_;
    }

    void flush() {
        if (count_ == 0) return;
        write_(first_, std::string_view(text_));
        text_.clear();
        count_ = 0;
    }

private:
    Write write_;
    int64_t first_ = 0;
    size_t count_ = 0;
    std::string text_, folded_;
};

Error fileError(sqlite3* db, const fs::path& file, std::string_view doing) {
    std::string message = "Не удалось ";
    message += doing;
    message += " файл содержимого дисков ";
    message += file.string();
    message += ": ";
    message += db ? sqlite3_errmsg(db) : "нет памяти";
    message += '.';
    const int code = db ? sqlite3_errcode(db) & 0xff : SQLITE_NOMEM;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        return Error(Error::Kind::Locked, message + " Файл занят другой записью содержимого.");
    if (code == SQLITE_FULL) return Error(Error::Kind::DiskFull, message);
    if (code == SQLITE_READONLY || code == SQLITE_CANTOPEN || code == SQLITE_PERM)
        return Error(Error::Kind::ReadOnly, message);
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
        return Error(Error::Kind::NotCatalogue, message);
    return Error(Error::Kind::Io, message);
}

ConnectionHandle openFile(const fs::path& file, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    ConnectionHandle db(raw);
    if (rc != SQLITE_OK) throw fileError(raw, file, "открыть");
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, Database::kLockWaitMs);
    return db;
}

void exec(sqlite3* db, std::string_view sql, const fs::path& file, std::string_view doing) {
    if (sqlite3_exec(db, std::string(sql).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw fileError(db, file, doing);
}

StoredEntry entryAt(const Statement& row) {
    StoredEntry e;
    e.id = row.columnInt64(0);
    e.parent = std::max<int64_t>(row.columnInt64(1), kRootFolder);
    e.name = std::string(row.columnText(2));
    const auto flags = static_cast<unsigned>(row.columnInt64(5));
    e.folder = (flags & kFolderFlag) != 0;
    e.marks = flags & ~kFolderFlag;
    if (row.columnType(3) != Statement::Type::Null) e.size = row.columnInt64(3);
    if (row.columnType(4) != Statement::Type::Null) e.modified = row.columnInt64(4);
    return e;
}

// The first keys of the reads: a block of names ends before each.
std::vector<int64_t> readStarts(const ErrorContext& on, const std::string& schema,
                                const std::vector<std::string>& files) {
    std::vector<int64_t> starts;
    Statement reads(on, "SELECT first_entry FROM " + schema + "disk_reads ORDER BY first_entry",
                    files);
    while (reads.step()) starts.push_back(reads.columnInt64(0));
    return starts;
}

// Fills the empty names' index from the entries; schema: "" or a quoted schema and a dot.
void fillNameIndex(const ErrorContext& on, const std::string& schema,
                   const std::vector<std::string>& files) {
    const std::vector<int64_t> starts = readStarts(on, schema, files);
    Statement insert(on, "INSERT INTO " + schema + "entry_names (rowid, folded) VALUES (?1, ?2)",
                     files);
    NameBlocks blocks([&](int64_t first, std::string_view text) {
        insert.bindInt64(1, first);
        insert.bindText(2, text);
        insert.run();
        insert.reset();
    });
    Statement entries(on, "SELECT id, name FROM " + schema + "disk_entries ORDER BY id", files);
    while (entries.step()) {
        const int64_t id = entries.columnInt64(0);
        if (std::binary_search(starts.begin(), starts.end(), id)) blocks.flush();
        blocks.add(id, entries.columnText(1));
    }
    blocks.flush();
}

}  // namespace

std::string_view contentsTablesSql() {
    return kTables;
}

std::string_view contentsFollowDiskSql() {
    return kFollowDisk;
}

std::string_view fileNameIndexSql() {
    return kNameIndex;
}

bool isUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len = 0;
        unsigned lo = 0x80, hi = 0xBF;  // the second byte's range, narrowed against overlongs
        if (c >= 0xC2 && c <= 0xDF)
            len = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else
            return false;
        if (i + len > n || s[i + 1] < lo || s[i + 1] > hi) return false;
        for (size_t k = 2; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

void createContentsFile(const fs::path& baseDir) {
    if (findFileNoCase(baseDir, kContentsFileName)) return;
    const fs::path file = baseDir / std::string(kContentsFileName);
    refuseTooLongPath(file);
    auto db = openFile(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // IF NOT EXISTS: two programs making it at once both succeed.
    exec(db.get(), "BEGIN IMMEDIATE", file, "создать");
    exec(db.get(), kTables, file, "создать");
    exec(db.get(), kNameIndex, file, "создать");
    exec(db.get(), "COMMIT", file, "создать");
}

// ---- reading -------------------------------------------------------------------------

ContentsReader::ContentsReader(const Database& db) : db_(db) {}

std::vector<int64_t> ContentsReader::disksRead() const {
    std::vector<int64_t> disks;
    if (!db_.attachContents()) return disks;
    Statement select(db_, "SELECT disk FROM " + contentsTable("disk_reads") + " ORDER BY disk",
                     contentsFiles());
    while (select.step()) disks.push_back(select.columnInt64(0));
    return disks;
}

std::optional<StoredVolume> ContentsReader::volume(int64_t disk) const {
    if (!db_.attachContents()) return std::nullopt;
    Statement select(db_,
                     "SELECT kind, origin, label, file_system, capacity, free_space, read_at, "
                     "folders, files, unreadable, bytes, disc_id, mcn FROM " +
                         contentsTable("disk_reads") + " WHERE disk = ?1",
                     contentsFiles());
    select.bindInt64(1, disk);
    if (!select.step()) return std::nullopt;
    StoredVolume v;
    v.facts.kind = static_cast<SourceKind>(select.columnInt64(0));
    v.facts.origin = select.columnText(1);
    v.facts.label = select.columnText(2);
    v.facts.fileSystem = select.columnText(3);
    if (select.columnType(4) != Statement::Type::Null) v.facts.capacity = select.columnInt64(4);
    if (select.columnType(5) != Statement::Type::Null) v.facts.freeSpace = select.columnInt64(5);
    v.readAt = select.columnText(6);
    v.folders = select.columnInt64(7);
    v.files = select.columnInt64(8);
    v.unreadable = select.columnInt64(9);
    v.bytes = select.columnInt64(10);
    v.facts.discId = select.columnText(11);
    v.facts.catalogueNumber = select.columnText(12);
    return v;
}

std::vector<StoredEntry> ContentsReader::children(int64_t disk, FolderId folder) const {
    std::vector<StoredEntry> out;
    if (!db_.attachContents()) return out;
    // The range keeps a folder key of another disk from listing that disk's entries.
    Statement select(db_,
                     "SELECT e.id, e.parent, e.name, e.size, e.modified, e.flags FROM " +
                         contentsTable("disk_reads") + " r JOIN " + contentsTable("disk_entries") +
                         " e ON e.parent = CASE WHEN ?2 = 0 THEN -r.id ELSE ?2 END "
                         "AND e.id BETWEEN r.first_entry AND r.last_entry WHERE r.disk = ?1 "
                         "ORDER BY (e.flags & 256) = 0, e.name COLLATE RUSSIAN, e.name",
                     contentsFiles());
    select.bindInt64(1, disk);
    select.bindInt64(2, folder);
    while (select.step()) out.push_back(entryAt(select));
    return out;
}

std::vector<Track> ContentsReader::tracks(int64_t disk) const {
    std::vector<Track> out;
    if (!db_.attachContents()) return out;
    Statement select(db_,
                     "SELECT t.number, t.sectors, t.title, t.performer FROM " +
                         contentsTable("disk_reads") + " r JOIN " + contentsTable("disk_tracks") +
                         " t ON t.read = r.id WHERE r.disk = ?1 ORDER BY t.number",
                     contentsFiles());
    select.bindInt64(1, disk);
    while (select.step())
        out.push_back({static_cast<int>(select.columnInt64(0)), select.columnInt64(1),
                       std::string(select.columnText(2)), std::string(select.columnText(3))});
    return out;
}

namespace {

// Depth first, a folder's entries read whole before going down: the statement is done
// (its read lock let go) before the next one runs.
bool walk(const ContentsReader& reader, int64_t disk, FolderId folder, std::string& path,
          const std::function<bool(const std::string&, const StoredEntry&)>& each) {
    const size_t base = path.size();
    for (const StoredEntry& e : reader.children(disk, folder)) {
        path.resize(base);
        if (base) path += '/';
        path += e.name;
        if (!each(path, e)) return false;
        if (e.folder && !walk(reader, disk, e.id, path, each)) return false;
    }
    path.resize(base);
    return true;
}

}  // namespace

void ContentsReader::forEachEntry(
    int64_t disk, const std::function<bool(const std::string&, const StoredEntry&)>& each) const {
    std::string path;
    walk(*this, disk, kRootFolder, path, each);
}

// ---- writing -------------------------------------------------------------------------

// The writer works on a connection of its own to the sixth file alone, in one transaction
// from its first entry to commit(): a read of a DVD takes minutes, and on the catalogue's
// connection that transaction would hold the user's lending and editing meanwhile (their
// writes would join it and be lost with a cancelled read). The five files stay free; on
// the sixth SQLite lets readers in until the writer's cache spills, and a disk's delete
// waits for the read's end. A kill leaves a hot journal that the next opener rolls back:
// the previous contents whole.
struct ContentsWriter::State final : ErrorContext {
    struct FolderSum {
        FolderId id;
        int64_t parentIndex;  // -1: the root
        int64_t size;         // the files directly in it; commit() adds the subfolders'
    };

    const Database& catalogue;
    fs::path file;
    ConnectionHandle db;
    int64_t disk = 0;
    int64_t readId = 0;
    int64_t firstId = 0;
    int64_t nextId = 0;
    VolumeFacts facts;
    int64_t folders = 0, files = 0, unreadable = 0, bytes = 0;
    std::vector<FolderSum> sums;  // by id, as ids are given in order
    size_t lastFolder = 0;
    std::vector<Track> tracks;
    StatementHandle insert;
    StatementHandle insertName;
    struct WriteNames {
        State* s;
        void operator()(int64_t first, std::string_view text) const { s->addNames(first, text); }
    };
    NameBlocks<WriteNames> names{WriteNames{this}};
    bool open = false;

    State(const Database& c, int64_t d) : catalogue(c), disk(d) {}
    ~State() {
        if (open) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }

    sqlite3* handle() const override { return db.get(); }
    Error errorFor(int code, const std::vector<std::string>&, std::string_view) const override {
        (void)code;
        return fileError(db.get(), file, "записать");
    }

    int64_t scalar(const std::string& sql) const {
        Statement s(*this, sql);
        return s.step() ? s.columnInt64(0) : 0;
    }

    void begin(bool unsynced) {
        createContentsFile(catalogue.baseDir());
        file = *findFileNoCase(catalogue.baseDir(), kContentsFileName);
        db = openFile(file, SQLITE_OPEN_READWRITE);
        // Only a rollback journal keeps a transaction over attached files atomic.
        exec(db.get(), "PRAGMA journal_mode = DELETE", file, "открыть");
        if (unsynced) exec(db.get(), "PRAGMA synchronous = OFF", file, "открыть");
        if (registerTextFunctions(db.get()) != SQLITE_OK) throw fileError(db.get(), file, "открыть");
        exec(db.get(), "BEGIN IMMEDIATE", file, "начать запись в");
        open = true;
        addNameIndexIfMissing();
        Statement old(*this, "SELECT id, first_entry, last_entry FROM disk_reads WHERE disk = ?1");
        old.bindInt64(1, disk);
        if (old.step()) {
            Statement drop(*this, "DELETE FROM disk_entries WHERE id BETWEEN ?1 AND ?2");
            drop.bindInt64(1, old.columnInt64(1));
            drop.bindInt64(2, old.columnInt64(2));
            drop.run();
            Statement dropNames(*this, "DELETE FROM entry_names WHERE rowid BETWEEN ?1 AND ?2");
            dropNames.bindInt64(1, old.columnInt64(1));
            dropNames.bindInt64(2, old.columnInt64(2));
            dropNames.run();
            Statement dropTracks(*this, "DELETE FROM disk_tracks WHERE read = ?1");
            dropTracks.bindInt64(1, old.columnInt64(0));
            dropTracks.run();
            Statement dropRead(*this, "DELETE FROM disk_reads WHERE id = ?1");
            dropRead.bindInt64(1, old.columnInt64(0));
            dropRead.run();
        }
        readId = scalar("SELECT ifnull(max(id), 0) + 1 FROM disk_reads");
        firstId = nextId = scalar("SELECT ifnull(max(id), 0) + 1 FROM disk_entries");
        sqlite3_stmt* raw = nullptr;
        const char* sql =
            "INSERT INTO disk_entries (id, parent, name, size, modified, flags) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6)";
        if (sqlite3_prepare_v3(db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) !=
            SQLITE_OK)
            throw fileError(db.get(), file, "записать");
        insert.reset(raw);
        insertName = prepare("INSERT INTO entry_names (rowid, folded) VALUES (?1, ?2)");
    }

    StatementHandle prepare(const char* sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) !=
            SQLITE_OK)
            throw fileError(db.get(), file, "записать");
        return StatementHandle(raw);
    }

    // A file made before the names' index gets it, filled, in the read's transaction.
    void addNameIndexIfMissing() {
        if (scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'entry_names'") != 0) return;
        exec(db.get(), kNameIndex, file, "записать");
        fillNameIndex(*this, "", {});
    }

    void addNames(int64_t first, std::string_view text) {
        sqlite3_stmt* s = insertName.get();
        sqlite3_bind_int64(s, 1, first);
        sqlite3_bind_text64(s, 2, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) throw fileError(db.get(), file, "записать");
    }

    // The index in sums of a folder this writer gave; -1 for the root.
    int64_t folderIndex(FolderId id) {
        if (id == kRootFolder) return -1;
        if (lastFolder < sums.size() && sums[lastFolder].id == id)
            return static_cast<int64_t>(lastFolder);
        const auto at = std::lower_bound(sums.begin(), sums.end(), id,
                                         [](const FolderSum& f, FolderId v) { return f.id < v; });
        if (at == sums.end() || at->id != id)
            throw Error(Error::Kind::Other,
                        "Внутренняя ошибка чтения: папка " + std::to_string(id) + " не найдена.");
        lastFolder = static_cast<size_t>(at - sums.begin());
        return static_cast<int64_t>(lastFolder);
    }

    int64_t add(FolderId parent, std::string_view name, std::optional<int64_t> size,
                std::optional<int64_t> modified, unsigned flags) {
        sqlite3_stmt* s = insert.get();
        const int64_t id = nextId++;
        sqlite3_bind_int64(s, 1, id);
        sqlite3_bind_int64(s, 2, parent == kRootFolder ? -readId : parent);
        const char* data = name.data() ? name.data() : "";
        // The statement runs before the name's bytes go: no copy needed.
        if (isUtf8(name))
            sqlite3_bind_text64(s, 3, data, name.size(), SQLITE_STATIC, SQLITE_UTF8);
        else
            sqlite3_bind_blob64(s, 3, data, name.size(), SQLITE_STATIC);
        if (size)
            sqlite3_bind_int64(s, 4, *size);
        else
            sqlite3_bind_null(s, 4);
        if (modified)
            sqlite3_bind_int64(s, 5, *modified);
        else
            sqlite3_bind_null(s, 5);
        sqlite3_bind_int64(s, 6, flags);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) throw fileError(db.get(), file, "записать");
        names.add(id, name);
        if (flags & kUnreadable) ++unreadable;
        return id;
    }

    void finish() {
        names.flush();
        // Subfolders come after their folder: summed from the last, each total is whole
        // before it is added to its parent's.
        for (size_t i = sums.size(); i-- > 0;)
            if (sums[i].parentIndex >= 0)
                sums[static_cast<size_t>(sums[i].parentIndex)].size += sums[i].size;
        Statement setSize(*this, "UPDATE disk_entries SET size = ?2 WHERE id = ?1");
        for (const FolderSum& f : sums) {
            setSize.bindInt64(1, f.id);
            setSize.bindInt64(2, f.size);
            setSize.run();
            setSize.reset();
        }
        Statement read(*this,
                       "INSERT INTO disk_reads (id, disk, kind, origin, label, file_system, "
                       "capacity, free_space, read_at, folders, files, unreadable, bytes, disc_id, "
                       "mcn, first_entry, last_entry) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
                       "strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), ?9, ?10, ?11, ?12, "
                       "?13, ?14, ?15, ?16)");
        read.bindInt64(1, readId);
        read.bindInt64(2, disk);
        read.bindInt64(3, static_cast<int64_t>(facts.kind));
        read.bindText(4, facts.origin);
        read.bindText(5, facts.label);
        read.bindText(6, facts.fileSystem);
        if (facts.capacity)
            read.bindInt64(7, *facts.capacity);
        else
            read.bindNull(7);
        if (facts.freeSpace)
            read.bindInt64(8, *facts.freeSpace);
        else
            read.bindNull(8);
        read.bindInt64(9, folders);
        read.bindInt64(10, files);
        read.bindInt64(11, unreadable);
        read.bindInt64(12, bytes);
        read.bindText(13, facts.discId);
        read.bindText(14, facts.catalogueNumber);
        read.bindInt64(15, firstId);
        read.bindInt64(16, nextId - 1);
        read.run();
        Statement track(*this,
                        "INSERT OR REPLACE INTO disk_tracks (read, number, sectors, title, "
                        "performer) VALUES (?1, ?2, ?3, ?4, ?5)");
        for (const Track& t : tracks) {
            track.bindInt64(1, readId);
            track.bindInt64(2, t.number);
            track.bindInt64(3, t.sectors);
            track.bindText(4, t.title);
            track.bindText(5, t.performer);
            track.run();
            track.reset();
        }
        insert.reset();
        insertName.reset();
        exec(db.get(), "COMMIT", file, "записать");
        open = false;
    }
};

ContentsWriter::ContentsWriter(const Database& db, int64_t disk, Sync sync)
    : state_(std::make_unique<State>(db, disk)) {
    state_->begin(sync == Sync::Off);
}

ContentsWriter::~ContentsWriter() = default;

void ContentsWriter::volume(const VolumeFacts& facts) {
    state_->facts = facts;
}

FolderId ContentsWriter::folder(FolderId parent, std::string_view name,
                                std::optional<int64_t> modified, unsigned marks) {
    State& s = *state_;
    const int64_t parentIndex = s.folderIndex(parent);
    const FolderId id = s.add(parent, name, std::nullopt, modified, marks | kFolderFlag);
    s.sums.push_back({id, parentIndex, 0});
    ++s.folders;
    return id;
}

void ContentsWriter::file(FolderId parent, std::string_view name, std::optional<int64_t> size,
                          std::optional<int64_t> modified, unsigned marks) {
    State& s = *state_;
    const int64_t parentIndex = s.folderIndex(parent);
    s.add(parent, name, size, modified, marks & ~kFolderFlag);
    ++s.files;
    if (size) {
        s.bytes += *size;
        if (parentIndex >= 0) s.sums[static_cast<size_t>(parentIndex)].size += *size;
    }
}

void ContentsWriter::track(const Track& track) {
    state_->tracks.push_back(track);
}

void ContentsWriter::commit() {
    state_->finish();
    // The catalogue's connection takes up a sixth file this writer has just made, so that
    // a disk's delete takes its contents along from now on. Not a failure of the read when
    // it cannot (a transaction open there): its next reader of the contents attaches it.
    try {
        state_->catalogue.attachContents();
    } catch (const Error&) {
    }
}

int64_t ContentsWriter::folders() const {
    return state_->folders;
}

int64_t ContentsWriter::files() const {
    return state_->files;
}

// ---- check and repair ----------------------------------------------------------------

std::vector<std::string> contentsProblems(const Database& db) {
    std::vector<std::string> problems;
    if (!db.attachContents()) return problems;
    Statement orphans(db,
                      "SELECT disk FROM " + contentsTable("disk_reads") +
                          " WHERE disk NOT IN (SELECT N FROM main.\"CDBase\")",
                      contentsFiles());
    while (orphans.step())
        problems.push_back("В файле " + std::string(kContentsFileName) +
                           " записано содержимое диска № " +
                           std::to_string(orphans.columnInt64(0)) + ", которого нет в каталоге.");
    Statement stray(db,
                    "SELECT (SELECT count(*) FROM " + contentsTable("disk_entries") +
                        ") - ifnull((SELECT sum((SELECT count(*) FROM " + contentsTable("disk_entries") +
                        " e WHERE e.id BETWEEN r.first_entry AND r.last_entry)) FROM " +
                        contentsTable("disk_reads") + " r), 0)",
                    contentsFiles());
    if (stray.step() && stray.columnInt64(0) != 0)
        problems.push_back("В файле " + std::string(kContentsFileName) + " есть записи о файлах (" +
                           std::to_string(stray.columnInt64(0)) +
                           "), не принадлежащие ни одному диску.");
    if (const auto p = fileNameIndexProblem(db)) problems.push_back(*p);
    return problems;
}

bool hasFileNameIndex(const Database& db) {
    if (!db.attachContents()) return false;
    Statement find(db, "SELECT 1 FROM " + contentsTable("sqlite_schema") + " WHERE name = 'entry_names'",
                   contentsFiles());
    return find.step();
}

namespace {

// The index's names in key order, a block's names under its first key and on from there.
class IndexedNames {
public:
    explicit IndexedNames(const Database& db)
        : rows_(db, "SELECT id, c0 FROM " + contentsTable("entry_names_content") + " ORDER BY id",
                contentsFiles()) {
        next();
    }
    bool valid() const { return valid_; }
    int64_t id() const { return first_ + static_cast<int64_t>(k_); }
    int64_t first() const { return first_; }
    size_t count() const { return pieces_.size(); }
    std::string_view name() const { return pieces_[k_]; }

    void next() {
        if (valid_ && ++k_ < pieces_.size()) return;
        valid_ = rows_.step();
        if (!valid_) return;
        first_ = rows_.columnInt64(0);
        text_ = rows_.columnText(1);
        pieces_.clear();
        k_ = 0;
        for (size_t from = 0;;) {
            const size_t to = text_.find(kNameSeparator, from);
            pieces_.push_back(std::string_view(text_).substr(from, to - from));
            if (to == std::string::npos) break;
            from = to + 1;
        }
    }

private:
    Statement rows_;
    bool valid_ = false;
    int64_t first_ = 0;
    size_t k_ = 0;
    std::string text_;
    std::vector<std::string_view> pieces_;
};

// How many entries the index misses or names wrongly, and index names of no entry.
int64_t nameIndexDifferences(const Database& db) {
    const std::vector<int64_t> starts = readStarts(db, contentsTable(""), contentsFiles());
    IndexedNames indexed(db);
    Statement entries(db, "SELECT id, name FROM " + contentsTable("disk_entries") + " ORDER BY id",
                      contentsFiles());
    bool entry = entries.step();
    int64_t differences = 0, blockChecked = 0;
    std::string folded;
    while (indexed.valid() || entry) {
        if (indexed.valid() && indexed.first() != blockChecked) {
            // A block that runs over into the next read would go with the first one.
            blockChecked = indexed.first();
            const auto after = std::upper_bound(starts.begin(), starts.end(), indexed.first());
            if (after != starts.end() &&
                *after < indexed.first() + static_cast<int64_t>(indexed.count()))
                ++differences;
        }
        const int64_t entryId = entry ? entries.columnInt64(0) : 0;
        if (indexed.valid() && (!entry || indexed.id() < entryId)) {
            ++differences;
            indexed.next();
        } else if (entry && (!indexed.valid() || entryId < indexed.id())) {
            ++differences;
            entry = entries.step();
        } else {
            nameIndexFold(entries.columnText(1), folded);
            differences += folded != indexed.name();
            indexed.next();
            entry = entries.step();
        }
    }
    return differences;
}

}  // namespace

std::optional<std::string> fileNameIndexProblem(const Database& db) {
    const std::string start = "В файле " + std::string(kContentsFileName);
    if (!hasFileNameIndex(db)) return start + " нет указателя имён файлов для поиска.";
    if (const int64_t differences = nameIndexDifferences(db); differences != 0)
        return start + " указатель имён файлов для поиска расходится с записями о файлах (" +
               std::to_string(differences) + ").";
    return std::nullopt;
}

void rebuildFileNameIndex(const Database& db) {
    if (!db.attachContents()) return;
    Database::Transaction t(db);
    const std::string schema = std::string(quotedName(kContentsSchema)) + ".";
    if (hasFileNameIndex(db))
        Statement(db, "DROP TABLE " + contentsTable("entry_names"), contentsFiles()).run();
    std::string create(kNameIndex);
    create.replace(create.find("entry_names"), 11, schema + "entry_names");
    Statement(db, create, contentsFiles()).run();
    fillNameIndex(db, schema, contentsFiles());
    t.commit();
}

int64_t removeOrphanContents(const Database& db) {
    if (!db.attachContents()) return 0;
    Database::Transaction t(db);
    const std::string missing = " WHERE disk NOT IN (SELECT N FROM main.\"CDBase\")";
    Statement(db,
              "DELETE FROM " + contentsTable("disk_tracks") + " WHERE read IN (SELECT id FROM " +
                  contentsTable("disk_reads") + missing + ")",
              contentsFiles())
        .run();
    const int removed =
        Statement(db, "DELETE FROM " + contentsTable("disk_reads") + missing, contentsFiles()).run();
    Statement(db,
              "DELETE FROM " + contentsTable("disk_entries") + " WHERE NOT EXISTS (SELECT 1 FROM " +
                  contentsTable("disk_reads") +
                  " r WHERE disk_entries.id BETWEEN r.first_entry AND "
                  "r.last_entry)",
              contentsFiles())
        .run();
    if (hasFileNameIndex(db))
        Statement(db,
                  "DELETE FROM " + contentsTable("entry_names") + " WHERE NOT EXISTS (SELECT 1 FROM " +
                      contentsTable("disk_entries") + " e WHERE e.id = entry_names.rowid)",
                  contentsFiles())
            .run();
    t.commit();
    return removed;
}

std::string contentsTable(std::string_view name) {
    std::string out(quotedName(kContentsSchema));
    out += '.';
    out += name;
    return out;
}

const std::vector<std::string>& contentsFiles() {
    static const std::vector<std::string> files{std::string(kContentsFileName)};
    return files;
}

}  // namespace store
