#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/filesearch.h"

namespace store {

// What the file search window asks: a fragment of a name, narrowed by the disk's category
// and media type keys and by a least size (a file's bytes; folders are left out then).
struct FileQuery {
    std::string fragment;
    std::optional<int64_t> category;
    std::optional<int64_t> mediaType;
    int64_t minimumSize = 0;

    bool narrowed() const { return category || mediaType || minimumSize > 0; }
};

struct FoundRow : FoundFile {
    bool lent = false;
    std::string lentTo;  // the debtor's name while the disk is out
};

// The matches of a query, narrowed as it asks, each with its disk's loan: what the window
// shows and what its export writes. Stops as FileSearch does.
class FileQuerySearch {
public:
    FileQuerySearch(const Database& db, const FileQuery& query,
                    std::function<bool()> stopRequested = {});
    ~FileQuerySearch();
    FileQuerySearch(const FileQuerySearch&) = delete;
    FileQuerySearch& operator=(const FileQuerySearch&) = delete;

    bool next(FoundRow& row);
    // Counts the matches not yet taken by next(), taking them; without narrowing by the
    // names alone, which is quicker.
    int64_t countRest();

private:
    struct DiskFacts {
        std::optional<int64_t> category, mediaType;
        bool lent = false;
        std::string lentTo;
    };
    const DiskFacts& factsOf(int64_t disk);

    const Database& db_;
    FileQuery query_;
    FileSearch search_;
    std::map<int64_t, DiskFacts> disks_;
};

// Runs file searches on a thread of its own over a read-only connection of its own, so
// the window never waits on one: search() hands the thread a query and returns at once; a
// newer query stops the running search at its next few hundred steps. Results are handed
// to the callbacks on the search's thread, each with its query's number, so the receiver
// drops what an older query found.
class FileSearchRunner {
public:
    // rows: a screen of rows (the first screenRows, then up to shownRows in all); count:
    // all matches, after the rows; failed: a Russian message.
    struct Callbacks {
        std::function<void(uint64_t query, std::vector<FoundRow> rows)> rows;
        std::function<void(uint64_t query, int64_t matches)> count;
        std::function<void(uint64_t query, std::string message)> failed;
    };
    FileSearchRunner(std::filesystem::path baseDir, Callbacks callbacks, int screenRows = 40,
                     int shownRows = 1000);
    ~FileSearchRunner();
    FileSearchRunner(const FileSearchRunner&) = delete;
    FileSearchRunner& operator=(const FileSearchRunner&) = delete;

    // Starts a search superseding any running one; returns its number.
    uint64_t search(FileQuery query);

private:
    void run();
    void runOne(const Database& db, uint64_t number, const FileQuery& query);

    std::filesystem::path baseDir_;
    Callbacks callbacks_;
    int screenRows_, shownRows_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<FileQuery> pending_;
    uint64_t latest_ = 0;  // guarded by mutex_
    std::atomic<uint64_t> newest_{0};
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace store
