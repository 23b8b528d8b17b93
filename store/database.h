#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/connection.h"
#include "store/error.h"
#include "store/errorcontext.h"
#include "store/schema.h"
#include "store/statement.h"

namespace store {

struct TableDef;
class NameIndex;

// One connection to a catalogue: CDBase.DB is the main database and the other
// four table files are attached, so a statement may join them and a transaction
// over several files stays atomic (rollback journal, never WAL).
class Database : public ErrorContext {
public:
    // Opens base/ as it is: all five files must be there, with their fields.
    static std::shared_ptr<Database> open(const std::filesystem::path& baseDir);
    // Opens base/ for korvalen-base check and repair: every file must be there and readable,
    // but what is wrong with the tables' declarations is handed back in problems, each
    // table's in turn, instead of refusing. Nothing is written (a file in WAL mode stays so).
    static std::shared_ptr<Database> openForCheck(const std::filesystem::path& baseDir,
                                                  std::vector<SchemaProblem>& problems);

    // Opens base/ only to read, on a connection of its own (a count on another thread):
    // it writes nothing, not even to leave WAL mode.
    static std::shared_ptr<Database> openForReading(const std::filesystem::path& baseDir);

    // The process's one default database: base/ under the working directory of
    // the moment it is first asked for, kept for the whole run.
    static std::shared_ptr<Database> defaultDatabase();
    // Forgets the default database (tests, tools); the next ask opens it anew.
    static void resetDefault();

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::filesystem::path& baseDir() const { return baseDir_; }
    // Stops, from any thread, the statement running on the connection: it fails.
    void interrupt() const;
    // The raw connection, for the store's own classes and the benchmarks' floor.
    sqlite3* handle() const override { return db_.get(); }
    // How long a statement waits for a lock another connection holds before it fails.
    static constexpr int kLockWaitMs = 2000;

    // A statement of the program's dialect, translated and prepared; its errors name
    // the table files it touches and quote it as written.
    Statement prepare(std::string_view statement) const;
    // The same for a statement with a form narrowed by the copy of the disk names (the
    // same rows, quicker), prepared instead while the copy is in step.
    Statement prepare(std::string_view statement, std::string_view narrowed) const;
    bool nameCopyInStep() const;

    // SQLite's own SQL about one table, prepared; its errors name the table's file.
    Statement prepareOn(const TableDef& table, std::string_view sql) const;

    // Starts loading, on a thread of its own, the copy of the disk names that narrows
    // a statement's `like` on them; until it is ready, such statements scan the table.
    void startNameCopy() const;
    // Tests and benchmarks: waits for the load and takes the copy into use; false
    // when there is none to use.
    bool waitForNameCopy() const;
    // The memory the copy takes, in bytes (0 before it is ready).
    size_t nameCopyBytes() const;

    // Runs SQLite's own SQL (no dialect), for the store's and the tools' use.
    void execRaw(std::string_view sql) const;

    // For a catalogue being made from nothing, thrown away whole if making it fails:
    // no journal and no waiting for the disk on each commit.
    void writeWithoutJournal() const;

    // True when SQLite holds any of the five files read-only (a file it could not
    // open for writing stays read-only for the connection's life).
    bool anyFileReadOnly() const;
    // The key of the row inserted last on this connection.
    int64_t lastInsertKey() const;
    // Makes the table give new rows keys above top: keys that only references still name
    // never come back.
    void raiseKeyMark(const TableDef& table, int64_t top) const;
    // The highest key the table has given or holds (0 for a table without a key): at
    // INT64_MAX no new row can be added.
    int64_t keyMark(const TableDef& table) const;
    // The file of a table as found in base/ (its own letter case).
    std::filesystem::path tableFile(const TableDef& table) const;

    // The sixth file, the disks' contents (store/contentsstore.h), attached when base/ holds
    // it; a catalogue without it opens and works. Attaches a file made since the catalogue
    // was opened; false while there is none. Throws for a file that is not the contents'.
    bool attachContents() const;

    // A unit of work over several statements: rolled back unless committed.
    class Transaction {
    public:
        explicit Transaction(const Database& db);
        ~Transaction();
        void commit();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;

    private:
        const Database& db_;
        bool done_ = false;
    };

    Error errorFor(int code, const std::vector<std::string>& files,
                   std::string_view statement) const override;

    // A transaction over attached files is atomic only with a rollback journal: a file
    // that another tool switched to WAL is switched back (open does it itself).
    void leaveWalMode() const;

private:
    explicit Database(std::filesystem::path baseDir);
    // problems null: refuse the first problem of a table's declaration.
    static std::shared_ptr<Database> openFiles(const std::filesystem::path& baseDir,
                                               std::vector<SchemaProblem>* problems,
                                               bool readOnly = false);
    void attachAll();
    void verifyTable(const TableDef& table, std::vector<SchemaProblem>* problems) const;
    std::string explainFileFault(int code, const std::vector<std::string>& files) const;

    std::filesystem::path baseDir_;
    ConnectionHandle db_;
    std::unique_ptr<NameIndex> names_;                    // goes before the connection closes
    mutable std::atomic<bool> contentsAttached_ = false;  // a writer's thread may attach
};

// The SQL that Database::prepare hands to SQLite for a statement of ours.
std::string sqliteSql(std::string_view statement);

}  // namespace store
