#include "contents/foundexport.h"

#include <ctime>

#include "store/contentsstore.h"
#include "store/database.h"
#include "store/statement.h"

namespace contents {
namespace {

// Bytes that are not UTF-8 as the window shows them, one U+FFFD each: the writers'
// formats hold text only.
std::string shownText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + length <= bytes.size() && store::isUtf8(bytes.substr(i, length))) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string folderOf(const std::string& path) {
    std::string folder = "/";
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) folder += shownText(std::string_view(path).substr(0, slash));
    return folder;
}

std::string nameOf(const store::FoundRow& row) {
    const size_t slash = row.path.rfind('/');
    std::string name =
        shownText(slash == std::string::npos ? row.path : row.path.substr(slash + 1));
    if (row.folder) name += '/';
    return name;
}

std::string localMinute(const std::optional<int64_t>& seconds) {
    if (!seconds) return {};
    const auto t = static_cast<std::time_t>(*seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", &tm);
    return text;
}

std::string nameByKey(const store::Database& db, const std::string& sql, int64_t key) {
    store::Statement s(db, sql);
    s.bindInt64(1, key);
    return s.step() ? std::string(s.columnText(0)) : std::to_string(key);
}

std::string sizeText(int64_t bytes) {
    constexpr int64_t kMegabyte = 1024 * 1024;
    if (bytes % kMegabyte == 0) return std::to_string(bytes / kMegabyte) + " МБ";
    return std::to_string(bytes) + " байт";
}

}  // namespace

const reports::ExportTable& foundExport() {
    using reports::CellKind;
    static const reports::ExportTable table{"Найденные файлы",
                                            {{"", "Имя"},
                                             {"", "Папка"},
                                             {"", "Размер", CellKind::Number},
                                             {"", "Изменён"},
                                             {"", "Диск №", CellKind::Number},
                                             {"", "Диск"},
                                             {"", "На руках"}},
                                            {}};
    return table;
}

std::string foundFilter(const store::Database& db, const store::FileQuery& query) {
    std::string text = "имя содержит «";
    text += shownText(query.fragment);
    text += "»";
    if (query.category) {
        text += "; категория: ";
        text += nameByKey(db, "SELECT Name FROM sprkategoy_db.\"SprKategoy\" WHERE Num = ?1",
                          *query.category);
    }
    if (query.mediaType) {
        text += "; носитель: ";
        text +=
            nameByKey(db, "SELECT Tip FROM sprtype_db.\"SprType\" WHERE N = ?1", *query.mediaType);
    }
    if (query.minimumSize > 0) {
        text += "; размер не меньше ";
        text += sizeText(query.minimumSize);
    }
    return text;
}

int64_t exportFound(const store::Database& db, const store::FileQuery& query,
                    reports::Format format, std::ostream& out,
                    const reports::ExportProgress& progress, const std::function<bool()>& stopped) {
    int64_t total = 0;
    if (progress) {
        total = store::FileQuerySearch(db, query, stopped).countRest();
        if (!progress(0, total)) throw reports::ExportStopped();
    }
    store::FileQuerySearch search(db, query, stopped);
    store::FoundRow row;
    const reports::ExportRowSource next = [&](std::vector<std::string>& cells, bool& marked) {
        if (!search.next(row)) return false;
        cells[0] = nameOf(row);
        cells[1] = folderOf(row.path);
        cells[2] = row.size ? std::to_string(*row.size) : std::string();
        cells[3] = localMinute(row.modified);
        cells[4] = std::to_string(row.disk);
        cells[5] = row.diskName;
        cells[6] = row.lent ? row.lentTo : "нет";
        marked = false;
        return true;
    };
    return reports::exportRows(next, total, foundExport(), format, out, progress,
                               {foundFilter(db, query)});
}

}  // namespace contents
