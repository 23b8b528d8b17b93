#include "store/nameindex.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "store/candidates.h"
#include "store/catalogue.h"
#include "store/connection.h"
#include "store/namecopy.h"
#include "store/statement.h"

namespace store {
namespace {

// Above these the copy would cost more memory than its speed is worth: such a
// catalogue is scanned.
constexpr size_t kMaxRows = 20'000'000;
constexpr size_t kMaxNameBytes = size_t(2) << 30;
// Own writes read into the copy one by one; beyond this many it is loaded anew.
constexpr size_t kMaxPending = 1000;
constexpr int kMaxFailedLoads = 3;
// Rows read per read transaction while loading, so that writers wait a moment at most.
constexpr int kLoadChunk = 8192;

std::string diskColumns() {
    std::string columns(diskTable().fields.front().name);
    columns += ", Name";
    for (std::string_view field : kCopyFieldNames) columns += ", " + std::string(field);
    return columns;
}

FieldCode codeOf(sqlite3_stmt* s, int column) {
    switch (sqlite3_column_type(s, column)) {
        case SQLITE_INTEGER:
            return fieldCode(static_cast<int64_t>(sqlite3_column_int64(s, column)));
        case SQLITE_FLOAT:
            return fieldCode(sqlite3_column_double(s, column));
        default:
            return kUnknownCode;
    }
}

// Name and fields from column `first` on.
DiskNameRow rowOf(sqlite3_stmt* s, int64_t key, int first) {
    DiskNameRow row{key, {}, {}};
    if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, first)))
        row.name = {text, static_cast<size_t>(sqlite3_column_bytes(s, first))};
    for (size_t f = 0; f < kCopyFieldCount; ++f)
        row.fields[f] = codeOf(s, first + 1 + static_cast<int>(f));
    return row;
}

struct LoadResult {
    std::shared_ptr<const NameCopy> copy;  // nothing: the load failed or was stopped
    bool tooLarge = false;
};

LoadResult loadCopy(const std::string& file, const std::atomic<bool>& stop) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const ConnectionHandle db(raw);
    if (rc != SQLITE_OK) return {};
    sqlite3_busy_timeout(raw, 5000);
    sqlite3_exec(raw, "PRAGMA cache_size = 64", nullptr, nullptr, nullptr);  // read once, in order
    const std::string key(keyField());
    const StatementHandle read = prepared(
        raw, "SELECT " + diskColumns() + " FROM \"" + std::string(diskTable().table) + "\" WHERE " +
                 key + " >= ?1 ORDER BY " + key + " LIMIT " + std::to_string(kLoadChunk));
    if (!read) return {};
    NameCopy::Builder builder;
    // From the lowest key on, -2^63 included; the chunk after the key 2^63-1 is none.
    int64_t from = std::numeric_limits<int64_t>::min();
    for (;;) {
        sqlite3_bind_int64(read.get(), 1, from);
        int rows = 0, step;
        int64_t last = from;
        while ((step = sqlite3_step(read.get())) == SQLITE_ROW) {
            last = sqlite3_column_int64(read.get(), 0);
            builder.add(rowOf(read.get(), last, 1));
            ++rows;
        }
        sqlite3_reset(read.get());
        if (step != SQLITE_DONE || stop) return {};
        if (builder.rows() > kMaxRows || builder.nameBytes() > kMaxNameBytes)
            return {nullptr, true};
        if (rows < kLoadChunk || last == std::numeric_limits<int64_t>::max()) break;
        from = last + 1;
    }
    return {builder.finish(), false};
}

}  // namespace

struct NameIndexState : CandidateSource {
    sqlite3* db = nullptr;
    bool alive = true;
    bool wanted = false;    // a load was asked for
    bool tooLarge = false;  // the catalogue is scanned for good
    int failedLoads = 0;

    std::shared_ptr<const NameCopy> copy;
    int64_t copyVersion = 0;  // the file's data_version the copy was read at

    bool collecting = false;       // own writes are noted from the first load on
    std::vector<int64_t> pending;  // keys written on this connection, to read again
    bool pendingOverflow = false;

    std::thread loader;
    bool loading = false;
    int64_t loadVersion = 0;
    std::atomic<bool> stopLoad{false};
    std::atomic<bool> loaded{false};
    LoadResult result;  // the loader's, read once it has finished

    StatementHandle dataVersion;
    StatementHandle readRow;

    // The data_version of CDBase.DB on this connection: it changes when another
    // connection commits to the file.
    std::optional<int64_t> fileVersion() {
        if (!dataVersion) dataVersion = prepared(db, "PRAGMA main.data_version");
        if (!dataVersion) return std::nullopt;
        std::optional<int64_t> v;
        if (sqlite3_step(dataVersion.get()) == SQLITE_ROW)
            v = sqlite3_column_int64(dataVersion.get(), 0);
        sqlite3_reset(dataVersion.get());
        return v;
    }

    void start() {
        const auto version = fileVersion();
        const char* file = sqlite3_db_filename(db, "main");
        if (!version || !file || !*file) {
            ++failedLoads;
            return;
        }
        loadVersion = *version;
        collecting = true;
        loading = true;
        stopLoad = false;
        loaded = false;
        try {
            loader = std::thread([this, path = std::string(file)] {
                result = loadCopy(path, stopLoad);
                loaded.store(true, std::memory_order_release);
            });
        } catch (const std::system_error&) {  // no thread to be had: the table is scanned
            loading = false;
            ++failedLoads;
        }
    }

    void stop() {
        stopLoad = true;
        if (loader.joinable()) loader.join();
        loading = false;
    }

    // Takes a finished load into use (waiting for it if asked to).
    void collect(bool wait) {
        if (!loading || (!wait && !loaded.load(std::memory_order_acquire))) return;
        loader.join();
        loading = false;
        LoadResult r = std::move(result);
        result = {};
        if (r.tooLarge) {
            tooLarge = true;
            collecting = false;
            pending.clear();
            return;
        }
        if (!r.copy) {
            ++failedLoads;
            return;
        }
        const auto version = fileVersion();
        if (!version || *version != loadVersion || pendingOverflow) {
            forget();  // written meanwhile: loaded anew on next use
            return;
        }
        copy = std::move(r.copy);
        copyVersion = loadVersion;
    }

    void forget() {
        copy.reset();
        if (pendingOverflow) pending.clear();
        pendingOverflow = false;
    }

    void applyPending() {
        if (!readRow)
            readRow =
                prepared(db, "SELECT " + diskColumns() + " FROM " + qualifiedName(diskTable()) +
                                 " WHERE " + std::string(keyField()) + " = ?1");
        if (!readRow) {
            forget();
            return;
        }
        std::sort(pending.begin(), pending.end());
        pending.erase(std::unique(pending.begin(), pending.end()), pending.end());
        for (const int64_t key : pending) {
            sqlite3_bind_int64(readRow.get(), 1, key);
            const int rc = sqlite3_step(readRow.get());
            if (rc == SQLITE_ROW)
                copy = copy->with(rowOf(readRow.get(), key, 1));
            else if (rc == SQLITE_DONE)
                copy = copy->without(key);
            sqlite3_reset(readRow.get());
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
                copy.reset();  // could not be read: not in step any more
                break;
            }
        }
        pending.clear();
    }

    std::shared_ptr<const NameCopy> currentCopy() override { return current(); }
    sqlite3* connection() const override { return db; }

    // The copy when it is in step with the file, else nothing (and a load begins
    // where one is due).
    std::shared_ptr<const NameCopy> current() {
        if (!alive) return nullptr;
        collect(false);
        const bool outsideTransaction = sqlite3_get_autocommit(db) != 0;
        if (copy) {
            const auto version = fileVersion();
            if (!version || *version != copyVersion || pendingOverflow) forget();
        }
        if (!copy) {
            if (wanted && !loading && !tooLarge && failedLoads < kMaxFailedLoads &&
                outsideTransaction)
                start();
            return nullptr;
        }
        if (!pending.empty()) {
            if (!outsideTransaction) return nullptr;  // not committed yet
            applyPending();
        }
        return copy;
    }
};

namespace {

void noteWrite(void* state, int, const char* schema, const char* table, sqlite3_int64 key) {
    auto* s = static_cast<NameIndexState*>(state);
    if (!s->collecting || std::strcmp(schema, "main") != 0 ||
        !equalsNoCase(table, diskTable().table))
        return;
    if (s->pending.size() >= kMaxPending)
        s->pendingOverflow = true;
    else
        s->pending.push_back(key);
}

}  // namespace

NameIndex::NameIndex(sqlite3* db) : state_(std::make_shared<NameIndexState>()) {
    state_->db = db;
    registerCandidates(db, state_);
    sqlite3_update_hook(db, noteWrite, state_.get());
}

NameIndex::~NameIndex() {
    state_->stop();
    state_->alive = false;
    state_->copy.reset();
    state_->dataVersion.reset();
    state_->readRow.reset();
    sqlite3_update_hook(state_->db, nullptr, nullptr);
}

void NameIndex::startLoading() {
    state_->wanted = true;
    state_->current();
}

bool NameIndex::inStep() {
    return state_->wanted && state_->current();
}

bool NameIndex::waitUntilReady() {
    for (int tries = 0; tries < 3; ++tries) {
        state_->collect(true);
        if (state_->current()) return true;
        if (!state_->loading) return false;
    }
    return false;
}

size_t NameIndex::memoryBytes() const {
    return state_->copy ? state_->copy->memoryBytes() : 0;
}

}  // namespace store
