#include "store/backup.h"

#include <sqlite3.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/check.h"
#include "store/connection.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/partfile.h"
#include "store/readmoment.h"
#include "store/statement.h"
#include "store/systemerror.h"

namespace store {
namespace {

namespace fs = std::filesystem;

struct BackupFinisher {
    void operator()(sqlite3_backup* b) const { sqlite3_backup_finish(b); }
};
using BackupHandle = std::unique_ptr<sqlite3_backup, BackupFinisher>;

// A path removed when the object goes, unless kept.
class Leftover {
public:
    explicit Leftover(fs::path path) : path_(std::move(path)) {}
    ~Leftover() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    Leftover(const Leftover&) = delete;
    Leftover& operator=(const Leftover&) = delete;
    void keep() { path_.clear(); }

private:
    fs::path path_;
};

long long pageCount(const Database& db, std::string_view schema) {
    Statement count(db, "PRAGMA \"" + std::string(schema) + "\".page_count");
    return count.step() ? count.columnInt64(0) : 0;
}

// dest: the copy's connection, whose last system error names the cause (none: unknown).
Error writeError(int code, sqlite3* dest, const fs::path& file, std::string_view why) {
    const std::string where = "Не удалось записать копию " + file.string() + ": ";
    const int systemErrno = dest ? sqlite3_system_errno(dest) : 0;
    switch (code & 0xff) {
        case SQLITE_FULL:
            return Error(Error::Kind::DiskFull, where + "на диске не хватает места.");
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return Error(
                Error::Kind::ReadOnly,
                where + (systemErrno ? systemErrorText(systemErrno) : "нет прав на запись") + ".");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Error(Error::Kind::Locked,
                         where + "каталог занят другой программой. Повторите попытку позже.");
        default:
            return Error(
                Error::Kind::Io,
                where + (systemErrno ? systemErrorText(systemErrno) : std::string(why)) + ".");
    }
}

class Copier {
public:
    Copier(const Database& db, const CopyProgress& progress, long long total)
        : db_(db), progress_(progress), total_(total) {}

    void copy(std::string_view schema, const fs::path& target) {
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(target.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 nullptr);
        ConnectionHandle dest(raw);
        if (rc != SQLITE_OK) throw writeError(rc, raw, target, dest ? sqlite3_errmsg(raw) : "");
        BackupHandle backup(
            sqlite3_backup_init(raw, "main", db_.handle(), std::string(schema).c_str()));
        if (!backup) throw writeError(sqlite3_errcode(raw), raw, target, sqlite3_errmsg(raw));
        const long long before = done_;
        do {
            rc = sqlite3_backup_step(backup.get(), kPagesPerStep);
            done_ = before + (sqlite3_backup_pagecount(backup.get()) -
                              sqlite3_backup_remaining(backup.get()));
            if (progress_ && !progress_(done_, total_))
                throw Error(Error::Kind::Stopped, "Копирование остановлено: копия не записана.");
        } while (rc == SQLITE_OK);
        const int finished = sqlite3_backup_finish(backup.release());
        if (rc != SQLITE_DONE) throw writeError(rc, raw, target, sqlite3_errstr(rc));
        if (finished != SQLITE_OK) throw writeError(finished, raw, target, sqlite3_errmsg(raw));
        if (sqlite3_close(dest.release()) != SQLITE_OK)
            throw writeError(SQLITE_IOERR, nullptr, target, "файл не закрылся");
    }

private:
    static constexpr int kPagesPerStep = 256;
    const Database& db_;
    const CopyProgress& progress_;
    long long total_;
    long long done_ = 0;
};

}  // namespace

void copyCatalogue(const Database& db, const fs::path& destBase, const CopyProgress& progress,
                   const WaitWhileBusy& wait) {
    std::error_code ec;
    if (fs::exists(destBase, ec))
        throw Error(Error::Kind::Other, "Папка " + destBase.string() +
                                            " уже существует: копия не записывается поверх неё.");
    if (!fs::is_directory(destBase.parent_path(), ec))
        throw Error(Error::Kind::Missing,
                    "Не найдена папка " + destBase.parent_path().string() + " для копии каталога.");
    removeKilledParts(destBase);
    PartPath part(destBase, PartPath::Kind::Folder);
    {
        // The disks' contents, when the catalogue has them, are held in the same moment.
        const bool contents = db.attachContents();
        const ReadMoment moment(db, wait);
        long long total = 0;
        for (const TableDef& t : catalogueTables()) total += pageCount(db, t.schema);
        if (contents) total += pageCount(db, kContentsSchema);
        Copier copier(db, progress, total);
        for (const TableDef& t : catalogueTables()) {
            const auto source = findFileNoCase(db.baseDir(), t.fileName);
            const fs::path name = source ? source->filename() : fs::path(std::string(t.fileName));
            copier.copy(t.schema, part.path() / name);
        }
        if (contents)
            copier.copy(kContentsSchema,
                        part.path() / findFileNoCase(db.baseDir(), kContentsFileName)->filename());
    }
    part.handOver();
}

std::vector<std::string> backupCatalogue(const fs::path& dir, const fs::path& dest,
                                         const CopyProgress& progress, const WaitWhileBusy& wait) {
    const auto source = Database::open(dir / std::string(kBaseFolder));
    refuseBackupInto(source->baseDir(), dest / std::string(kBaseFolder));
    std::error_code ec;
    const bool madeDest = !fs::exists(dest, ec);
    if (madeDest && !fs::create_directories(dest, ec))
        throw Error(Error::Kind::ReadOnly,
                    "Не удалось создать папку " + dest.string() + ": " + systemErrorText(ec) + ".");
    Leftover leftover(madeDest ? dest : fs::path());
    copyCatalogue(*source, dest / std::string(kBaseFolder), progress, wait);
    leftover.keep();
    return checkCatalogue(dest);
}

}  // namespace store
