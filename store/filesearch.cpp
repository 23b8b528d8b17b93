#include "store/filesearch.h"

#include <sqlite3.h>

#include <algorithm>

#include "store/catalogue.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/statement.h"
#include "store/text.h"

namespace store {
namespace {

// Kept in an entry's flags beside the reader's marks (as the contents' writer keeps it).
constexpr int64_t kFolderFlag = 1 << 8;

// The folded text's characters: well-formed UTF-8 (likeFold escapes invalid bytes).
std::vector<std::string_view> characters(std::string_view folded) {
    std::vector<std::string_view> out;
    for (size_t i = 0; i < folded.size();) {
        const auto lead = static_cast<unsigned char>(folded[i]);
        const size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        out.push_back(folded.substr(i, std::min(n, folded.size() - i)));
        i += n;
    }
    return out;
}

// Trigrams that cover the fragment (every third, and the last): a row holding the
// fragment holds them all; instr() then throws out the rest.
std::string trigramQuery(std::string_view folded) {
    const auto chars = characters(folded);
    if (chars.size() < 3) return {};
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= chars.size(); i += 3) starts.push_back(i);
    if (starts.back() != chars.size() - 3) starts.push_back(chars.size() - 3);
    std::string query;
    for (const size_t at : starts) {
        if (!query.empty()) query += " AND ";
        query += '"';
        for (size_t k = at; k < at + 3; ++k)
            for (const char c : chars[k]) {
                if (c == '"') query += '"';
                query += c;
            }
        query += '"';
    }
    return query;
}

}  // namespace

std::string foldedFragment(std::string_view fragment) {
    std::string folded;
    nameIndexFold(fragment, folded);
    return folded;
}

FileSearch::FileSearch(const Database& db, std::string_view fragment,
                       std::function<bool()> stopRequested)
    : db_(db), stopRequested_(std::move(stopRequested)), folded_(foldedFragment(fragment)) {
    if (folded_.empty() || !db.attachContents()) return;

    hasIndex_ = hasFileNameIndex(db);
    match_ = trigramQuery(folded_);
    indexed_ = hasIndex_ && !match_.empty();
    Statement reads(db, "SELECT first_entry, last_entry, disk FROM " + contentsTable("disk_reads") +
                            " WHERE last_entry >= first_entry ORDER BY disk",
                    contentsFiles());
    while (reads.step())
        byDisk_.push_back({reads.columnInt64(0), reads.columnInt64(1), reads.columnInt64(2),
                           byDisk_.size()});
    // Reads taken by disk key in runs whose entry ranges rise: each run is one walk of
    // the index in key order.
    for (size_t i = 0; i < byDisk_.size(); ++i) {
        if (runs_.empty() || byDisk_[i].first < byDisk_[runs_.back().to].last)
            runs_.push_back({i, i});
        else
            runs_.back().to = i;
    }
    byFirst_ = byDisk_;
    std::sort(byFirst_.begin(), byFirst_.end(),
              [](const Read& a, const Read& b) { return a.first < b.first; });
    if (stopRequested_)
        sqlite3_progress_handler(
            db.handle(), 256,
            [](void* self) { return static_cast<FileSearch*>(self)->stopRequested_() ? 1 : 0; },
            this);
}

FileSearch::~FileSearch() {
    rows_.reset();
    if (stopRequested_) sqlite3_progress_handler(db_.handle(), 0, nullptr, nullptr);
}

void FileSearch::openRun() {
    std::string sql;
    if (indexed_)
        sql = "SELECT rowid, folded FROM " + contentsTable("entry_names") +
              " WHERE entry_names MATCH ?1 AND rowid BETWEEN ?2 AND ?3 AND instr(folded, ?4) > 0 "
              "ORDER BY rowid";
    else if (hasIndex_)
        // The index's own copy of the folded names (FTS5 keeps column i as c<i> of its
        // _content table): a plain b-tree walk, quicker than the virtual table's scan.
        sql = "SELECT id, c0 FROM " + contentsTable("entry_names_content") +
              " WHERE id BETWEEN ?2 AND ?3 AND instr(c0, ?4) > 0 ORDER BY id";
    else
        sql = "SELECT id, " + std::string(kFoldFunction) + "(name) AS folded FROM " +
              contentsTable("disk_entries") +
              " WHERE id BETWEEN ?2 AND ?3 AND instr(folded, ?4) > 0 ORDER BY id";
    rows_ = std::make_unique<Statement>(db_, sql, contentsFiles());
    if (indexed_) rows_->bindText(1, match_);
    rows_->bindInt64(2, byDisk_[runs_[run_].from].first);
    rows_->bindInt64(3, byDisk_[runs_[run_].to].last);
    rows_->bindText(4, folded_);
}

// The keys of a row's names that hold the fragment: the fragment holds no separator, so
// each place it is found lies within one name.
void FileSearch::takeMatches(int64_t first, std::string_view names) {
    matches_.clear();
    nextMatch_ = 0;
    int64_t k = 0;
    size_t nameStart = 0;
    for (size_t at = names.find(folded_); at != std::string_view::npos;
         at = names.find(folded_, nameStart)) {
        for (size_t sep; (sep = names.find(kNameSeparator, nameStart)) < at; nameStart = sep + 1) ++k;
        matches_.push_back(first + k);
        const size_t end = names.find(kNameSeparator, at);
        if (end == std::string_view::npos) break;
        nameStart = end + 1;
        ++k;
    }
}

bool FileSearch::nextEntry(int64_t& entry, int64_t& disk) {
    while (run_ < runs_.size()) {
        if (!rows_) openRun();
        if (nextMatch_ == matches_.size()) {
            // Rows of many names are few: a small catalogue's scan may end before SQLite
            // asks, so the search asks too.
            if (stopRequested_ && stopRequested_())
                throw Error(Error::Kind::Stopped, "Поиск остановлен.");
            if (!rows_->step()) {
                rows_.reset();
                matches_.clear();
                nextMatch_ = 0;
                ++run_;
                continue;
            }
            takeMatches(rows_->columnInt64(0), rows_->columnText(1));
            if (matches_.empty()) continue;
        }
        entry = matches_[nextMatch_++];
        // Between a run's reads lie the entries of disks outside it: they come in their own.
        auto at = std::upper_bound(byFirst_.begin(), byFirst_.end(), entry,
                                   [](int64_t id, const Read& r) { return id < r.first; });
        if (at == byFirst_.begin()) continue;
        --at;
        if (entry > at->last || at->order < runs_[run_].from || at->order > runs_[run_].to)
            continue;
        disk = at->disk;
        return true;
    }
    return false;
}

const std::string& FileSearch::diskName(int64_t disk) {
    if (disk == namedDisk_) return diskName_;
    if (!name_) name_ = std::make_unique<Statement>(db_, "SELECT Name FROM main.\"CDBase\" WHERE N = ?1");
    name_->reset();
    name_->bindInt64(1, disk);
    diskName_ = name_->step() ? std::string(name_->columnText(0)) : std::string();
    namedDisk_ = disk;
    return diskName_;
}

// Fills the entry's own facts and returns its path, walking up its folders.
std::string FileSearch::pathOf(int64_t entry, FoundFile& found) {
    if (!entry_)
        entry_ = std::make_unique<Statement>(
            db_, "SELECT parent, name, size, modified, flags FROM " + contentsTable("disk_entries") +
                     " WHERE id = ?1",
            contentsFiles());
    std::vector<std::string> names;
    for (int64_t id = entry; id > 0;) {
        entry_->reset();
        entry_->bindInt64(1, id);
        if (!entry_->step()) break;
        if (id == entry) {
            found.folder = (entry_->columnInt64(4) & kFolderFlag) != 0;
            found.size.reset();
            found.modified.reset();
            if (entry_->columnType(2) != Statement::Type::Null) found.size = entry_->columnInt64(2);
            if (entry_->columnType(3) != Statement::Type::Null)
                found.modified = entry_->columnInt64(3);
        }
        names.emplace_back(entry_->columnText(1));
        id = entry_->columnInt64(0);  // the root's entries name the read, negated
    }
    entry_->reset();
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty()) path += '/';
        path += *it;
    }
    return path;
}

bool FileSearch::next(FoundFile& found) {
    int64_t entry = 0, disk = 0;
    if (!nextEntry(entry, disk)) return false;
    found.entry = entry;
    found.disk = disk;
    found.diskName = diskName(disk);
    found.path = pathOf(entry, found);
    return true;
}

int64_t FileSearch::countRest() {
    int64_t count = 0, entry = 0, disk = 0;
    while (nextEntry(entry, disk)) ++count;
    return count;
}

}  // namespace store
