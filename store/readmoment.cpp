#include "store/readmoment.h"

#include <sqlite3.h>

#include <chrono>
#include <random>
#include <thread>

#include "store/catalogue.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/statement.h"

namespace store {
namespace {

using Clock = std::chrono::steady_clock;

// An attempt's own wait for a file: long enough for a writer's commit (milliseconds),
// short enough that a writer waiting for a file this moment holds is not kept long.
constexpr int kAttemptWaitMs = 100;

// The connection's wait for a lock, set for the attempts and put back after.
class AttemptWait {
public:
    explicit AttemptWait(const Database& db) : db_(db) {
        sqlite3_busy_timeout(db_.handle(), kAttemptWaitMs);
    }
    ~AttemptWait() { sqlite3_busy_timeout(db_.handle(), Database::kLockWaitMs); }
    AttemptWait(const AttemptWait&) = delete;
    AttemptWait& operator=(const AttemptWait&) = delete;

private:
    const Database& db_;
};

// A pause between attempts of a few to a few tens of milliseconds, drawn at random so
// two programs that back off do not meet again in step.
void pauseBeforeRetry(int attempt) {
    static thread_local std::minstd_rand random(std::random_device{}());
    const int ceiling = std::min(10 + attempt * 10, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % ceiling));
}

}  // namespace

ReadMoment::ReadMoment(const Database& db, const WaitWhileBusy& wait) : db_(db) {
    if (!wait) {
        holdEveryFile();
        return;
    }
    const AttemptWait attemptWait(db_);
    const auto start = Clock::now();
    for (int attempt = 0;; ++attempt) {
        try {
            holdEveryFile();
            return;
        } catch (const Error& e) {
            if (e.kind() != Error::Kind::Locked) throw;
            const std::chrono::duration<double> waited = Clock::now() - start;
            if (!wait(waited.count())) throw;
        }
        pauseBeforeRetry(attempt);
    }
}

ReadMoment::~ReadMoment() {
    end();
}

// Each file is read once inside one transaction, so each keeps its shared lock; a file
// refused is named by its own statement.
void ReadMoment::holdEveryFile() const {
    // Attached before the transaction, as SQLite asks; a broken sixth file is no reason to
    // refuse a moment of the five.
    bool contents = false;
    try {
        contents = db_.attachContents();
    } catch (const Error&) {
    }
    db_.execRaw("BEGIN");
    try {
        for (const TableDef& t : catalogueTables())
            db_.prepareOn(t, "SELECT 1 FROM " + quotedName(t.schema) + "." + quotedName(t.table) +
                                 " LIMIT 1")
                .step();
        if (contents)
            Statement(db_, "SELECT 1 FROM " + quotedName(kContentsSchema) + ".disk_reads LIMIT 1",
                      {std::string(kContentsFileName)})
                .step();
    } catch (...) {
        end();
        throw;
    }
}

void ReadMoment::end() const {
    sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, nullptr);
}

}  // namespace store
