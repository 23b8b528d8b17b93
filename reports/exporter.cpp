#include "reports/exporter.h"

#include "store/error.h"
#include "store/query.h"
#include "store/rowreader.h"

namespace reports {
namespace {

constexpr int64_t kCheckEvery = 1000;

void checkWritten(const std::ostream& out) {
    if (!out.good())
        throw store::Error(store::Error::Kind::Io,
                           "Не удалось записать данные: нет места на диске или файл недоступен.");
}

std::vector<int> resultColumns(const store::RowReader& rows, const ExportTable& table) {
    std::vector<int> columns;
    for (const auto& c : table.columns) {
        const int at = rows.columnIndex(c.field);
        if (at < 0)
            throw store::Error(store::Error::Kind::Statement,
                               "В выгружаемом списке нет поля " + c.field + ".");
        columns.push_back(at);
    }
    return columns;
}

}  // namespace

const ExportTable& diskExport() {
    static const ExportTable table{"Диски",
                                   {{"N", "Номер", CellKind::Number},
                                    {"Name", "Наименование"},
                                    {"Name_1", "Категория"},
                                    {"Tip", "Носитель"},
                                    {"Dolg", "На руках", CellKind::Text, true},
                                    {"Opisan", "Описание"}},
                                   {}};
    return table;
}

const ExportTable& loanExport() {
    static const ExportTable table{"История выдачи",
                                   {{"NomCD", "Номер диска", CellKind::Number},
                                    {"DiskName", "Наименование диска"},
                                    {"Dolgnik", "Должник"},
                                    {"DatN", "Выдан", CellKind::Date},
                                    {"DatK", "Возвращён", CellKind::Date},
                                    {"Days", "Дней", CellKind::Number},
                                    {"Overdue", "Отметка"}},
                                   "Overdue"};
    return table;
}

int64_t exportRows(store::Query& query, const ExportTable& table, Format format, std::ostream& out,
                   const ExportProgress& progress, const ExportNote& note) {
    const int64_t total = progress ? store::RowReader::countRows(query) : 0;
    if (progress && !progress(0, total)) throw ExportStopped();
    store::RowReader rows(query);
    const std::vector<int> columns = resultColumns(rows, table);
    const int mark = table.markField.empty() ? -1 : rows.columnIndex(table.markField);
    const ExportRowSource next = [&](std::vector<std::string>& cells, bool& marked) {
        if (!rows.next()) return false;
        for (size_t i = 0; i < columns.size(); ++i) {
            cells[i] = rows.text(columns[i]);
            if (table.columns[i].yesNo) cells[i] = cells[i] == "True" ? "да" : "";
        }
        marked = mark >= 0 && !rows.text(mark).empty();
        return true;
    };
    return exportRows(next, total, table, format, out, progress, note);
}

int64_t exportRows(const ExportRowSource& next, int64_t total, const ExportTable& table,
                   Format format, std::ostream& out, const ExportProgress& progress,
                   const ExportNote& note) {
    auto writer =
        makeWriter(format, out,
                   {table.title, store::Date::today().display(), note.filter, note.byteOrderMark});
    std::vector<std::string> titles;
    std::vector<CellKind> kinds;
    for (const auto& c : table.columns) {
        titles.push_back(c.title);
        kinds.push_back(c.kind);
    }
    writer->begin(titles, kinds);
    std::vector<std::string> cells(table.columns.size());
    bool marked = false;
    int64_t written = 0;
    while (next(cells, marked)) {
        writer->row(cells, marked);
        ++written;
        // Asked at every row, before the stream's state: a stop may have put it in error.
        if (progress && !progress(written, std::max(total, written))) throw ExportStopped();
        if (written % kCheckEvery == 0) checkWritten(out);
    }
    writer->end(written);
    if (progress && !progress(written, std::max(total, written))) throw ExportStopped();
    checkWritten(out);
    return written;
}

}  // namespace reports
