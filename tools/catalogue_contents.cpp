#include "tools/catalogue_contents.h"

#include <cstdio>
#include <algorithm>
#include <ctime>
#include <ostream>

#include "contents/readers.h"
#include "store/catalogue.h"
#include "store/contentspipe.h"
#include "store/database.h"
#include "store/error.h"
#include "store/filesearch.h"
#include "store/statement.h"

namespace tools {
namespace {

namespace fs = std::filesystem;

void refuseMissingDisk(const store::Database& db, int64_t disk) {
    store::Statement find(db, "SELECT 1 FROM main.\"CDBase\" WHERE N = ?1");
    find.bindInt64(1, disk);
    if (!find.step())
        throw store::Error(
            store::Error::Kind::NotFound,
            "В каталоге " + db.baseDir().string() + " нет диска № " + std::to_string(disk) + ".");
}

// The length of the UTF-8 sequence starting at bytes[i]; 0 when none well-formed does.
size_t sequenceAt(std::string_view bytes, size_t i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > bytes.size()) return 0;
    return store::isUtf8(bytes.substr(i, length)) ? length : 0;
}

std::string localTime(std::optional<int64_t> seconds) {
    if (!seconds) return {};
    const std::time_t t = static_cast<std::time_t>(*seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string diskName(const store::Database& db, int64_t disk) {
    store::Statement find(db, "SELECT Name FROM main.\"CDBase\" WHERE N = ?1");
    find.bindInt64(1, disk);
    return find.step() ? std::string(find.columnText(0)) : std::string();
}

std::string trackSeconds(const store::Track& t) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(t.sectors) / 75.0);
    return seconds;
}

}  // namespace

std::string escapedName(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const char c = bytes[i];
        if (c == '\t' || c == '\n' || c == '\\') {
            out += '\\';
            out += c == '\t' ? 't' : c == '\n' ? 'n' : '\\';
            ++i;
        } else if (const size_t length = sequenceAt(bytes, i)) {
            out.append(bytes, i, length);
            i += length;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
            ++i;
        }
    }
    return out;
}

store::StoredVolume scanDisk(const fs::path& dir, int64_t disk, const fs::path& source) {
    const auto db = store::Database::open(dir / std::string(store::kBaseFolder));
    refuseMissingDisk(*db, disk);
    store::BackgroundContentsWriter writer(*db, disk);
    store::readThrough(writer, [&] { contents::readSource(source, writer); });
    writer.commit();
    return *store::ContentsReader(*db).volume(disk);
}

bool printContents(const fs::path& dir, int64_t disk, std::ostream& out) {
    const auto db = store::Database::open(dir / std::string(store::kBaseFolder));
    refuseMissingDisk(*db, disk);
    const store::ContentsReader reader(*db);
    if (!reader.volume(disk)) return false;
    std::string line;
    reader.forEachEntry(disk, [&](const std::string& path, const store::StoredEntry& e) {
        line.clear();
        if (!e.folder && e.size) line += std::to_string(*e.size);
        line += '\t';
        line += localTime(e.modified);
        line += '\t';
        line += escapedName(path);
        if (e.folder) line += '/';
        line += '\n';
        out << line;
        return static_cast<bool>(out);
    });
    for (const store::Track& t : reader.tracks(disk)) {
        line = "track\t";
        line += std::to_string(t.number);
        line += '\t';
        line += trackSeconds(t);
        line += '\t';
        line += escapedName(t.title);
        line += '\t';
        line += escapedName(t.performer);
        line += '\n';
        out << line;
    }
    return true;
}

const reports::ExportTable& contentsExport() {
    using reports::CellKind;
    static const reports::ExportTable table{"Содержимое дисков",
                                            {{"", "Номер диска", CellKind::Number},
                                             {"", "Диск"},
                                             {"", "Путь"},
                                             {"", "Размер", CellKind::Number},
                                             {"", "Изменён", CellKind::DateTime},
                                             {"", "Дорожка", CellKind::Number},
                                             {"", "Длительность, с", CellKind::Number},
                                             {"", "Название"},
                                             {"", "Исполнитель"}},
                                            {}};
    return table;
}

int64_t exportContents(const store::Database& db, std::optional<int64_t> disk,
                       reports::Format format, std::ostream& out,
                       const reports::ExportProgress& progress, const reports::ExportNote& note) {
    if (disk) refuseMissingDisk(db, *disk);
    const store::ContentsReader reader(db);
    std::vector<int64_t> disks = disk ? std::vector<int64_t>{*disk} : reader.disksRead();
    int64_t total = 0;
    if (progress)
        for (int64_t d : disks)
            if (const auto v = reader.volume(d))
                total += v->folders + v->files + static_cast<int64_t>(reader.tracks(d).size());
    reports::ExportWriter writer(contentsExport(), format, out, progress, note, total);
    std::vector<std::string> cells(contentsExport().columns.size());
    for (int64_t d : disks) {
        cells[0] = std::to_string(d);
        cells[1] = diskName(db, d);
        std::fill(cells.begin() + 2, cells.end(), std::string());
        reader.forEachEntry(d, [&](const std::string& path, const store::StoredEntry& e) {
            cells[2] = escapedName(path);
            if (e.folder) cells[2] += '/';
            cells[3] = !e.folder && e.size ? std::to_string(*e.size) : std::string();
            cells[4] = localTime(e.modified);
            writer.row(cells);
            return true;
        });
        std::fill(cells.begin() + 2, cells.end(), std::string());
        for (const store::Track& t : reader.tracks(d)) {
            cells[5] = std::to_string(t.number);
            cells[6] = trackSeconds(t);
            cells[7] = escapedName(t.title);
            cells[8] = escapedName(t.performer);
            writer.row(cells);
        }
    }
    return writer.finish();
}

int64_t printFound(const fs::path& dir, std::string_view fragment, std::ostream& out) {
    const auto db = store::Database::open(dir / std::string(store::kBaseFolder));
    store::FileSearch search(*db, fragment);
    store::FoundFile found;
    std::string line;
    int64_t count = 0;
    while (search.next(found)) {
        line = std::to_string(found.disk);
        line += '\t';
        line += escapedName(found.diskName);
        line += '\t';
        line += escapedName(found.path);
        if (found.folder) line += '/';
        line += '\t';
        if (!found.folder && found.size) line += std::to_string(*found.size);
        line += '\n';
        out << line;
        ++count;
    }
    return count;
}

}  // namespace tools
