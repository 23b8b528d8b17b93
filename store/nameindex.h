#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace store {

struct NameIndexState;

// The table-valued function that yields, as rowid in rising order, the disks that may
// pass a narrowed disk list statement: its arguments are the `like` pattern on the
// name, then the category key, the media type key and the lent flag ('' where the
// statement requires none); a bound `rowid > x` starts it past x. Without a copy in
// step it yields every disk.
inline constexpr std::string_view kCandidatesFunction = "korvalen_disk_candidates";

// The copy of the disk names that narrows a statement's `like` on them, kept beside
// one catalogue connection. It only narrows: the statement's own conditions still
// decide, so a copy that is not ready or not in step costs time, never rows.
//
// It is loaded on a thread of its own, over a read-only connection of its own, once
// asked to; until it is ready, statements scan as they always did. Writes made on
// this connection are seen through SQLite's update hook and read into the copy
// before its next use; a write by any other connection changes the file's
// data_version, and the copy is then loaded anew while statements scan.
class NameIndex {
public:
    // Registers the candidates function and the update hook on db (the catalogue's
    // connection, used on one thread).
    explicit NameIndex(sqlite3* db);
    ~NameIndex();
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;

    void startLoading();
    // True while the copy is in step with the file: a narrowed statement is then the
    // quicker way to the same rows.
    bool inStep();
    // Waits for a load under way and takes its copy into use; false when there is none
    // to use (never asked for, failed, or the catalogue is too large to pay).
    bool waitUntilReady();
    // The memory the copy in use takes, in bytes (0 without one).
    size_t memoryBytes() const;

private:
    std::shared_ptr<NameIndexState> state_;
};

}  // namespace store
