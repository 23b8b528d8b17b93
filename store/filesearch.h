#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

class Database;
class Statement;

// A folder or file whose name holds the fragment sought.
struct FoundFile {
    int64_t entry = 0;
    int64_t disk = 0;
    std::string diskName;
    std::string path;  // from the disk's root, names' bytes as read, joined by '/'
    bool folder = false;
    std::optional<int64_t> size;
    std::optional<int64_t> modified;  // seconds since 1970 UTC
};

// The entries of every disk whose name holds a fragment, compared as the disk name
// filter's `like` compares (case folded in every alphabet, the same folding), with % and
// _ taken as plain characters. Rows come by disk key, then in the order the disk was read
// (a folder before what is under it). A fragment of three characters or more is narrowed
// by the names' trigram index; a shorter one reads every folded name. Either stops when
// stopRequested (asked every few hundred steps of SQLite) says so, or on
// Database::interrupt: the running next() or countRest() then throws store::Error. The
// question is put to the connection while the search lives: one search at a time on it.
class FileSearch {
public:
    FileSearch(const Database& db, std::string_view fragment,
               std::function<bool()> stopRequested = {});
    ~FileSearch();
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    // The next match; false after the last.
    bool next(FoundFile& found);
    // Counts the matches not yet taken by next(), taking them.
    int64_t countRest();
    // True when the trigram index narrows this fragment.
    bool indexed() const { return indexed_; }

private:
    struct Read {
        int64_t first, last, disk;
        size_t order;  // its place by disk key
    };
    struct Run {
        size_t from, to;  // reads by disk key whose entry ranges rise
    };
    bool nextEntry(int64_t& entry, int64_t& disk);
    void openRun();
    void takeMatches(int64_t first, std::string_view names);
    const std::string& diskName(int64_t disk);
    std::string pathOf(int64_t entry, FoundFile& found);

    const Database& db_;
    std::function<bool()> stopRequested_;
    std::string folded_;
    std::string match_;  // the index's query: the fragment's trigrams
    bool indexed_ = false;
    bool hasIndex_ = false;
    std::vector<Read> byFirst_;
    std::vector<Read> byDisk_;
    std::vector<Run> runs_;
    size_t run_ = 0;
    std::unique_ptr<Statement> rows_;
    std::vector<int64_t> matches_;  // of the row rows_ stands on
    size_t nextMatch_ = 0;
    std::unique_ptr<Statement> entry_;
    std::unique_ptr<Statement> name_;
    int64_t namedDisk_ = -1;
    std::string diskName_;
};

// The fragment as the search compares it: folded, invalid bytes escaped.
std::string foldedFragment(std::string_view fragment);

}  // namespace store
