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

ExportWriter::ExportWriter(const ExportTable& table, Format format, std::ostream& out,
                           const ExportProgress& progress, const ExportNote& note, int64_t total)
    : out_(out), progress_(progress), total_(total) {
    if (progress_ && !progress_(0, total_)) throw ExportStopped();
    writer_ = makeWriter(format, out_,
                         {table.title, store::Date::today().display(), note.filter,
                          note.byteOrderMark});
    std::vector<std::string> titles;
    std::vector<CellKind> kinds;
    for (const auto& c : table.columns) {
        titles.push_back(c.title);
        kinds.push_back(c.kind);
    }
    writer_->begin(titles, kinds);
}

ExportWriter::~ExportWriter() = default;

void ExportWriter::row(const std::vector<std::string>& cells, bool marked) {
    writer_->row(cells, marked);
    ++written_;
    // Asked at every row, before the stream's state: a stop may have put it in error.
    if (progress_ && !progress_(written_, std::max(total_, written_))) throw ExportStopped();
    if (written_ % kCheckEvery == 0) checkWritten(out_);
}

int64_t ExportWriter::finish() {
    writer_->end(written_);
    if (progress_ && !progress_(written_, std::max(total_, written_))) throw ExportStopped();
    checkWritten(out_);
    return written_;
}

int64_t exportRows(store::Query& query, const ExportTable& table, Format format, std::ostream& out,
                   const ExportProgress& progress, const ExportNote& note) {
    const int64_t total = progress ? store::RowReader::countRows(query) : 0;
    ExportWriter writer(table, format, out, progress, note, total);
    store::RowReader rows(query);
    const std::vector<int> columns = resultColumns(rows, table);
    const int mark = table.markField.empty() ? -1 : rows.columnIndex(table.markField);
    std::vector<std::string> cells(columns.size());
    while (rows.next()) {
        for (size_t i = 0; i < columns.size(); ++i) {
            cells[i] = rows.text(columns[i]);
            if (table.columns[i].yesNo) cells[i] = cells[i] == "True" ? "да" : "";
        }
        writer.row(cells, mark >= 0 && !rows.text(mark).empty());
    }
    return writer.finish();
}

int64_t exportRows(const ExportRowSource& next, int64_t total, const ExportTable& table,
                   Format format, std::ostream& out, const ExportProgress& progress,
                   const ExportNote& note) {
    ExportWriter writer(table, format, out, progress, note, total);
    std::vector<std::string> cells(table.columns.size());
    bool marked = false;
    while (next(cells, marked)) writer.row(cells, marked);
    return writer.finish();
}

}  // namespace reports
