#include "tools/catalogue_reports.h"

#include <cerrno>
#include <fstream>

#include "reports/loanstatements.h"
#include "statements/diskfilter.h"
#include "store/catalogue.h"
#include "store/database.h"
#include "store/error.h"
#include "store/partfile.h"
#include "store/query.h"
#include "store/readmoment.h"
#include "store/systemerror.h"
#include "tools/catalogue_contents.h"

namespace tools {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> exportLines(ExportWhat what) {
    if (what == ExportWhat::Loans) return loans::historyLines({});
    return diskfilter::build(diskfilter::Availability::All, {}, {}).lines;
}

}  // namespace

long long exportCatalogue(const fs::path& dir, ExportWhat what, reports::Format format,
                          std::ostream& out, const reports::ExportProgress& progress,
                          const store::WaitWhileBusy& wait, bool byteOrderMark,
                          std::optional<int64_t> disk) {
    const auto db = store::Database::open(dir / std::string(store::kBaseFolder));
    if (what == ExportWhat::Contents) {
        const store::ReadMoment moment(*db, wait);
        std::string filter = disk ? "диск № " + std::to_string(*disk) : "все прочитанные диски";
        return exportContents(*db, disk, format, out, progress, {filter, byteOrderMark});
    }
    store::Query query(exportLines(what), db);
    loans::bind(query, {}, {store::Date::today(), loans::kDefaultOverdueDays});
    const auto& table = what == ExportWhat::Loans ? reports::loanExport() : reports::diskExport();
    const store::ReadMoment moment(*db, wait);
    reports::ExportNote note{"все диски", byteOrderMark};
    if (what == ExportWhat::Loans) {
        note.filter = "все выдачи; просрочен — на руках дольше ";
        note.filter += std::to_string(loans::kDefaultOverdueDays);
        note.filter += " дн.";
    }
    return reports::exportRows(query, table, format, out, progress, note);
}

long long exportCatalogueToFile(const fs::path& dir, ExportWhat what, reports::Format format,
                                const fs::path& file, const reports::ExportProgress& progress,
                                const store::WaitWhileBusy& wait, bool byteOrderMark,
                                std::optional<int64_t> disk) {
    store::refuseExportOver(dir / std::string(store::kBaseFolder), file);
    // A link is written through, as cp does: the link stays and names the new file.
    const fs::path target = store::throughLinks(file);
    std::error_code ec;
    // A device or pipe (/dev/null, a fifo) is written as it is: there is no file to
    // leave half-written, and renaming over it would replace it.
    if (fs::exists(target, ec) && !fs::is_regular_file(target, ec)) {
        std::ofstream out(target, std::ios::binary);
        if (!out)
            throw store::Error(store::Error::Kind::ReadOnly,
                               "Не удалось открыть " + file.string() +
                                   " для записи: " + store::systemErrorText(errno) + ".");
        return exportCatalogue(dir, what, format, out, progress, wait, byteOrderMark, disk);
    }
    store::removeKilledParts(target);
    store::PartPath part(target, store::PartPath::Kind::File);
    long long rows = 0;
    {
        std::ofstream out(part.path(), std::ios::binary | std::ios::trunc);
        if (!out)
            throw store::Error(store::Error::Kind::ReadOnly,
                               "Не удалось создать файл " + file.string() + ": " +
                                   store::systemErrorText(errno) + ".");
        rows = exportCatalogue(dir, what, format, out, progress, wait, byteOrderMark, disk);
        errno = 0;
        out.close();
        if (!out)
            throw store::Error(store::Error::Kind::Io,
                               "Не удалось записать файл " + file.string() + ": " +
                                   store::systemErrorText(errno ? errno : ENOSPC) + ".");
    }
    part.handOver();
    return rows;
}

}  // namespace tools
