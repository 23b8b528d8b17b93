#include "store/filesearchrunner.h"

#include "store/database.h"
#include "store/error.h"
#include "store/statement.h"

namespace store {
FileQuerySearch::FileQuerySearch(const Database& db, const FileQuery& query,
                                 std::function<bool()> stopRequested)
    : db_(db), query_(query), search_(db, query.fragment, std::move(stopRequested)) {}

FileQuerySearch::~FileQuerySearch() = default;

const FileQuerySearch::DiskFacts& FileQuerySearch::factsOf(int64_t disk) {
    auto at = disks_.find(disk);
    if (at != disks_.end()) return at->second;
    DiskFacts& f = disks_[disk];
    Statement s(db_,
                "SELECT c.Kategory, c.Tip, (SELECT d.Dolgnik FROM dolg_db.\"Dolg\" l JOIN "
                "sprdolgnik_db.\"SprDolgnik\" d ON d.N = l.Dolgnik WHERE l.NomCD = c.N AND "
                "l.Dolg = TRUE ORDER BY l.DatN DESC LIMIT 1), c.Dolg = TRUE "
                "FROM main.\"CDBase\" c WHERE c.N = ?1");
    s.bindInt64(1, disk);
    if (!s.step()) return f;
    if (s.columnType(0) == Statement::Type::Integer) f.category = s.columnInt64(0);
    if (s.columnType(1) == Statement::Type::Integer) f.mediaType = s.columnInt64(1);
    f.lentTo = std::string(s.columnText(2));
    f.lent = s.columnInt64(3) != 0;
    return f;
}

bool FileQuerySearch::next(FoundRow& row) {
    while (search_.next(row)) {
        const DiskFacts& d = factsOf(row.disk);
        if ((query_.category && d.category != query_.category) ||
            (query_.mediaType && d.mediaType != query_.mediaType) ||
            (query_.minimumSize > 0 && (row.folder || row.size.value_or(0) < query_.minimumSize)))
            continue;
        row.lent = d.lent;
        row.lentTo = d.lentTo;
        return true;
    }
    return false;
}

int64_t FileQuerySearch::countRest() {
    if (!query_.narrowed()) return search_.countRest();
    int64_t count = 0;
    FoundRow row;
    while (next(row)) ++count;
    return count;
}

FileSearchRunner::FileSearchRunner(std::filesystem::path baseDir, Callbacks callbacks,
                                   int screenRows, int shownRows)
    : baseDir_(std::move(baseDir)),
      callbacks_(std::move(callbacks)),
      screenRows_(screenRows),
      shownRows_(shownRows),
      thread_([this] { run(); }) {}

FileSearchRunner::~FileSearchRunner() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        ++latest_;
        newest_ = latest_;
    }
    wake_.notify_one();
    thread_.join();
}

uint64_t FileSearchRunner::search(FileQuery query) {
    uint64_t number;
    {
        std::lock_guard lock(mutex_);
        number = ++latest_;
        newest_ = number;
        pending_ = std::move(query);
    }
    wake_.notify_one();
    return number;
}

void FileSearchRunner::run() {
    std::shared_ptr<Database> db;
    for (;;) {
        FileQuery query;
        uint64_t number;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || pending_; });
            if (quit_) return;
            query = std::move(*pending_);
            pending_.reset();
            number = latest_;
        }
        try {
            if (!db) db = Database::openForReading(baseDir_);
            runOne(*db, number, query);
        } catch (const Error& e) {
            // A search stopped by a newer one is no failure.
            if (newest_ == number && callbacks_.failed) callbacks_.failed(number, e.what());
        }
    }
}

void FileSearchRunner::runOne(const Database& db, uint64_t number, const FileQuery& query) {
    const auto superseded = [&] { return newest_.load() != number; };
    FileQuerySearch search(db, query, superseded);
    std::vector<FoundRow> rows;
    int64_t matches = 0;
    FoundRow row;
    auto hand = [&] {
        if (!superseded() && callbacks_.rows) callbacks_.rows(number, std::move(rows));
        rows.clear();
    };
    while (matches < shownRows_ && search.next(row)) {
        rows.push_back(row);
        if (++matches == screenRows_ || matches == shownRows_) hand();
        if (superseded()) return;
    }
    if (!rows.empty()) hand();
    if (matches >= shownRows_) matches += search.countRest();
    if (!superseded() && callbacks_.count) callbacks_.count(number, matches);
}

}  // namespace store
