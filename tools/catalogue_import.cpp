#include "tools/catalogue_import.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <variant>

#include "store/catalogue.h"
#include "store/check.h"
#include "store/database.h"
#include "store/error.h"
#include "store/statement.h"
#include "store/systemerror.h"
#include "store/value.h"
#include "tools/paradox_import.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
namespace px = paradox;
using store::Error;
using store::FieldKind;
using store::TableDef;

using SqlValue = std::variant<std::monostate, int64_t, double, std::string>;
using Row = std::vector<SqlValue>;

constexpr int kDefaultCodePage = 1251;

// Which Paradox field types may hold each kind of field.
bool accepts(FieldKind kind, int type) {
    switch (kind) {
        case FieldKind::Key:
        case FieldKind::Integer:
            return type == px::kAutoInc || type == px::kLong || type == px::kShort ||
                   type == px::kNumber || type == px::kCurrency;
        case FieldKind::Text:
        case FieldKind::Memo:
            return type == px::kAlpha || type == px::kMemo || type == px::kFmtMemo;
        case FieldKind::Logical:
            return type == px::kLogical;
        case FieldKind::Date:
            return type == px::kDate || type == px::kTimestamp;
    }
    return false;
}

std::string kindName(FieldKind kind) {
    switch (kind) {
        case FieldKind::Key:
        case FieldKind::Integer:
            return "целое число";
        case FieldKind::Text:
        case FieldKind::Memo:
            return "текст";
        case FieldKind::Logical:
            return "логическое значение";
        case FieldKind::Date:
            return "дата";
    }
    return "?";
}

// The first column whose field passes test; -1 when none does.
template <class Test>
int firstColumn(const TableDef& def, Test test) {
    const auto found = std::find_if(def.fields.begin(), def.fields.end(), test);
    return found == def.fields.end() ? -1 : static_cast<int>(found - def.fields.begin());
}

int columnOf(const TableDef& def, std::string_view field) {
    return firstColumn(def, [&](const auto& f) { return store::equalsNoCase(f.name, field); });
}

int keyColumn(const TableDef& def) {
    return firstColumn(def, [](const auto& f) { return f.kind == FieldKind::Key; });
}

// The first text column: what a message shows of a row besides its key.
int nameColumn(const TableDef& def) {
    return firstColumn(def, [](const auto& f) { return f.kind == FieldKind::Text; });
}

std::string show(const SqlValue& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (const auto* s = std::get_if<std::string>(&v)) return "«" + *s + "»";
    if (const auto* d = std::get_if<double>(&v)) return std::to_string(*d);
    return "пусто";
}

struct LoadedTable {
    const TableDef* def = nullptr;
    std::string file;
    std::vector<Row> rows;
    int64_t autoIncrement = 0;  // the old table's counter, when its key is an autoincrement field
};

class Loader {
public:
    Loader(const TableDef& def, const ImportOptions& options, ImportReport& report)
        : def_(def), options_(options), report_(report) {}

    LoadedTable load(const fs::path& oldBase) {
        const auto file = store::findFileNoCase(oldBase, def_.fileName);
        if (!file)
            throw Error(Error::Kind::Missing, "Не найден файл таблицы " +
                                                  std::string(def_.fileName) + " в папке " +
                                                  oldBase.string() + ".");
        px::Table table(*file);
        const auto columns = mapFields(table);
        noteFieldsLeftBehind(table);
        LoadedTable out{&def_, file->filename().string(), {}, 0};
        const int key = keyColumn(def_);
        if (key >= 0 && columns[key]->type == px::kAutoInc)
            out.autoIncrement = table.autoIncrement();

        ImportedTable& counts = report_.tables.emplace_back();
        counts.file = out.file;
        chooseCodePage(table, counts);
        px::TextDecoder decoder(counts.codePage);

        // The key first, so that messages about the other fields can name it.
        std::vector<size_t> order(columns.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        if (key > 0) std::swap(order[0], order[static_cast<size_t>(key)]);

        for (int r = 0; r < table.recordCount(); ++r) {
            table.record(r);
            Row row(columns.size());
            std::string label = out.file + ", запись № " + std::to_string(r + 1);
            for (size_t c : order) {
                row[c] = convert(def_.fields[c], table.cell(*columns[c], r), decoder, label);
                if (static_cast<int>(c) == key)
                    label += " (" + std::string(def_.fields[c].name) + " = " + show(row[c]) + ")";
            }
            out.rows.push_back(std::move(row));
        }
        counts.read = static_cast<int>(out.rows.size());
        return out;
    }

private:
    std::vector<const px::Field*> mapFields(const px::Table& table) const {
        std::vector<const px::Field*> columns;
        const std::string file = table.path().string();
        for (const auto& f : def_.fields) {
            const px::Field* pf = table.field(f.name);
            if (!pf)
                throw Error(Error::Kind::NotCatalogue,
                            "В таблице " + file + " нет поля " + std::string(f.name) + ".");
            if (!accepts(f.kind, pf->type))
                throw Error(Error::Kind::NotCatalogue,
                            "Поле " + std::string(f.name) + " таблицы " + file + " имеет тип " +
                                px::typeName(pf->type) + ", а в нём ожидается " + kindName(f.kind) +
                                ".");
            columns.push_back(pf);
        }
        return columns;
    }

    void noteFieldsLeftBehind(const px::Table& table) {
        std::string extra;
        for (const auto& f : table.fields()) {
            if (columnOf(def_, f.name) >= 0) continue;
            extra += (extra.empty() ? "" : ", ") + f.name;
        }
        if (!extra.empty())
            report_.notes.push_back(
                "В таблице " + table.path().filename().string() +
                " есть поля, которых нет в Korvalen; они не перенесены: " + extra + ".");
    }

    void chooseCodePage(const px::Table& table, ImportedTable& counts) const {
        if (options_.codePage != 0) {
            counts.codePage = options_.codePage;
            counts.codePageSource = "задана ключом --codepage";
        } else if (table.codePage() != 0) {
            counts.codePage = table.codePage();
            counts.codePageSource = "из заголовка таблицы";
        } else {
            counts.codePage = kDefaultCodePage;
            counts.codePageSource = "в заголовке не указана, принята по умолчанию";
        }
    }

    SqlValue convert(const store::FieldDef& field, const px::Cell& cell, px::TextDecoder& decoder,
                     const std::string& label) {
        const std::string where = label + ", поле " + std::string(field.name);
        switch (cell.kind) {
            case px::Cell::Kind::Empty:
            case px::Cell::Kind::Unsupported:
                return {};
            case px::Cell::Kind::Integer:
            case px::Cell::Kind::Logical:
                return cell.integer;
            case px::Cell::Kind::Number: {
                const double rounded = std::round(cell.number);
                if (!std::isfinite(cell.number) || std::fabs(rounded) > 9e15) {
                    report_.notes.push_back(where +
                                            ": число вне допустимых пределов, оставлено пустым.");
                    return {};
                }
                if (rounded != cell.number)
                    report_.notes.push_back(where + ": число " + std::to_string(cell.number) +
                                            " не целое, записано " +
                                            std::to_string(static_cast<int64_t>(rounded)) + ".");
                return static_cast<int64_t>(rounded);
            }
            case px::Cell::Kind::Date: {
                const auto day = px::dayFromNumber(cell.integer);
                if (!day) {
                    report_.notes.push_back(where +
                                            ": дата вне допустимых пределов, оставлена пустой.");
                    return {};
                }
                return store::Date{day->year, day->month, day->day}.iso();
            }
            case px::Cell::Kind::Text: {
                bool clean = true;
                std::string utf8 = decoder.toUtf8(cell.bytes, clean);
                if (!clean) report_.unconverted.push_back(where);
                return utf8;
            }
        }
        return {};
    }

    const TableDef& def_;
    const ImportOptions& options_;
    ImportReport& report_;
};

LoadedTable* tableFor(std::vector<LoadedTable>& tables, std::string_view file) {
    for (auto& t : tables)
        if (store::equalsNoCase(t.def->fileName, file)) return &t;
    return nullptr;
}

int64_t maxInteger(const std::vector<Row>& rows, int column, int64_t floor) {
    for (const auto& row : rows)
        if (const auto* v = std::get_if<int64_t>(&row[static_cast<size_t>(column)]))
            floor = std::max(floor, *v);
    return floor;
}

// Gives a key to rows that have none or repeat an earlier one, above every key that
// the old data used, and returns per table the highest key the new store must not give again.
std::map<const TableDef*, int64_t> settleKeys(std::vector<LoadedTable>& tables,
                                              ImportReport& report) {
    std::map<const TableDef*, int64_t> used;
    for (auto& t : tables) {
        const int key = keyColumn(*t.def);
        if (key < 0) continue;
        int64_t top = maxInteger(t.rows, key, t.autoIncrement);
        // A key that any table names is never given to a new row, so old rows keep
        // pointing where they pointed.
        for (const auto& ref : store::catalogueReferences()) {
            if (&ref.to != t.def) continue;
            const LoadedTable* from = tableFor(tables, ref.from.fileName);
            top = maxInteger(from->rows, columnOf(*from->def, ref.field), top);
        }
        std::set<int64_t> seen;
        const int name = nameColumn(*t.def);
        const std::string keyName(t.def->fields[static_cast<size_t>(key)].name);
        for (size_t r = 0; r < t.rows.size(); ++r) {
            SqlValue& k = t.rows[r][static_cast<size_t>(key)];
            const auto* value = std::get_if<int64_t>(&k);
            if (value && seen.insert(*value).second) continue;
            const std::string row = t.file + ": запись № " + std::to_string(r + 1) + " (" +
                                    show(t.rows[r][static_cast<size_t>(name)]) + ")";
            k = ++top;
            if (value)
                report.notes.push_back(row + " повторяет ключ " + keyName + " = " +
                                       std::to_string(*value) + " и получила новый ключ " +
                                       std::to_string(top) +
                                       "; ссылки на прежний ключ относятся к первой записи с ним.");
            else
                report.notes.push_back(row + " была без ключа и получила ключ " + keyName + " = " +
                                       std::to_string(top) + ".");
        }
        used[t.def] = top;
    }
    return used;
}

void bind(store::Statement& statement, int index, const SqlValue& value) {
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                statement.bindNull(index);
            else if constexpr (std::is_same_v<T, std::string>)
                statement.bindText(index, x);
            else if constexpr (std::is_same_v<T, int64_t>)
                statement.bindInt64(index, x);
            else
                statement.bindDouble(index, x);
        },
        value);
}

int insertRows(const store::Database& db, const LoadedTable& t) {
    store::Statement insert(db, store::insertRowSql(*t.def));
    int written = 0;
    for (const auto& row : t.rows) {
        for (size_t i = 0; i < row.size(); ++i) bind(insert, static_cast<int>(i + 1), row[i]);
        written += insert.run();
    }
    return written;
}

// Flushes a file or folder to the disk, so that what is renamed into place is whole.
bool flush(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    const int err = errno;
    if (fd >= 0) ::close(fd);
    errno = err;
    return ok;
}

void flushOrFail(const fs::path& path) {
    if (!flush(path))
        throw Error(Error::Kind::Io, "Не удалось записать " + path.string() +
                                         " на диск: " + store::systemErrorText(errno) + ".");
}

void writeCatalogue(const fs::path& dir, const std::vector<LoadedTable>& tables,
                    const std::map<const TableDef*, int64_t>& keyMarks, ImportReport& report) {
    store::createCatalogue(dir);
    const fs::path base = dir / std::string(store::kBaseFolder);
    {
        const auto db = store::Database::open(base);
        // The folder is thrown away whole on any failure and renamed into place only
        // when complete, so a journal would guard nothing; the files are flushed below.
        db->writeWithoutJournal();
        store::Database::Transaction tx(*db);
        for (size_t i = 0; i < tables.size(); ++i)
            report.tables[i].written = insertRows(*db, tables[i]);
        for (const auto& [def, top] : keyMarks)
            if (top > 0) db->raiseKeyMark(*def, top);
        tx.commit();
    }
    for (const auto& entry : fs::directory_iterator(base)) flushOrFail(entry.path());
    flushOrFail(base);
}

Error existingCatalogue(const fs::path& target) {
    return Error(Error::Kind::Other, "Каталог " + target.string() +
                                         " уже существует и не будет перезаписан. Укажите другую "
                                         "новую папку.");
}

void moveIntoPlace(const fs::path& from, const fs::path& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {  // a file system without no-replace renames
        std::error_code ec;
        if (fs::exists(to, ec)) throw existingCatalogue(to);
        fs::rename(from, to, ec);
        if (!ec) return;
        err = ec.value();
    }
    if (err == EEXIST || err == ENOTEMPTY) throw existingCatalogue(to);
    throw Error(Error::Kind::Io, "Не удалось поместить новый каталог в " + to.string() + ": " +
                                     store::systemErrorText(err) + ".");
}

// Pads to a width in characters, not bytes: the captions are Russian.
std::string padded(const std::string& s, size_t width, bool right = false) {
    size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    const std::string fill(chars < width ? width - chars : 0, ' ');
    return right ? fill + s : s + fill;
}

void appendList(std::ostringstream& out, const std::string& title,
                const std::vector<std::string>& items) {
    if (items.empty()) return;
    out << "\n" << title << "\n";
    for (const auto& item : items) out << "  - " << item << "\n";
}

}  // namespace

namespace {

constexpr std::string_view kWorkPrefix = ".korvalen-import-";
constexpr const char* kLockFile = ".lock";

}  // namespace

ImportWorkFolder::ImportWorkFolder(const fs::path& newDir) {
    std::string pattern = (newDir / (std::string(kWorkPrefix) + "XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw Error(Error::Kind::Io, "Не удалось создать временную папку в " + newDir.string() +
                                         ": " + store::systemErrorText(errno) + ".");
    path_ = pattern;
    lock_ = ::open((path_ / kLockFile).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        release();
        throw Error(Error::Kind::Io, "Не удалось создать временную папку в " + newDir.string() +
                                         ": " + store::systemErrorText(err) + ".");
    }
}

ImportWorkFolder::~ImportWorkFolder() {
    release();
}

void ImportWorkFolder::release() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (lock_ >= 0) ::close(lock_);
    lock_ = -1;
}

void removeStaleImportFolders(const fs::path& newDir) {
    std::error_code ec;
    for (fs::directory_iterator it(newDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kWorkPrefix, 0) != 0 || !it->is_directory(ec) || it->is_symlink(ec))
            continue;
        const int fd = ::open((it->path() / kLockFile).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;  // not one of ours, or not ours to tell
        const bool stale = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale) fs::remove_all(it->path(), ec);
        ::close(fd);
        ec.clear();
    }
}

ImportReport importCatalogue(const fs::path& oldDir, const fs::path& newDir,
                             const ImportOptions& options) {
    ImportReport report;
    report.source = oldDir / std::string(store::kBaseFolder);
    report.target = newDir / std::string(store::kBaseFolder);
    std::error_code ec;
    if (!fs::is_directory(report.source, ec))
        throw Error(Error::Kind::Missing, "Не найдена папка " + report.source.string() +
                                              " с таблицами прежней программы.");
    if (fs::exists(fs::symlink_status(report.target, ec))) throw existingCatalogue(report.target);

    std::vector<LoadedTable> tables;
    for (const auto& def : store::catalogueTables())
        tables.push_back(Loader(def, options, report).load(report.source));
    const auto keyMarks = settleKeys(tables, report);

    const bool newDirMade = !fs::exists(newDir, ec);
    fs::create_directories(newDir, ec);
    if (ec)
        throw Error(Error::Kind::Io, "Не удалось создать папку " + newDir.string() + ": " +
                                         store::systemErrorText(ec) + ".");
    try {
        removeStaleImportFolders(newDir);
        const ImportWorkFolder work(newDir);
        writeCatalogue(work.path(), tables, keyMarks, report);
        report.problems = store::checkCatalogue(work.path());
        moveIntoPlace(work.path() / std::string(store::kBaseFolder), report.target);
    } catch (...) {
        if (newDirMade) fs::remove(newDir, ec);
        throw;
    }
    flush(newDir);  // the rename itself; the catalogue is in place whether or not this succeeds
    return report;
}

std::string describe(const ImportReport& report) {
    std::ostringstream out;
    out << "Каталог перенесён из " << report.source.string() << " в " << report.target.string()
        << ".\n\n";
    out << padded("Таблица", 16) << padded("прочитано", 12, true) << padded("записано", 12, true)
        << "  кодовая страница\n";
    for (const auto& t : report.tables)
        out << padded(t.file, 16) << padded(std::to_string(t.read), 12, true)
            << padded(std::to_string(t.written), 12, true) << "  " << t.codePage << " ("
            << t.codePageSource << ")\n";
    appendList(out,
               "Текст, переведённый не целиком (непереводимые знаки заменены на «\xEF\xBF\xBD»):",
               report.unconverted);
    appendList(out, "Замечания:", report.notes);
    if (report.problems.empty())
        out << "\nПроверка нового каталога: ошибок не найдено.\n";
    else
        appendList(
            out,
            "Проверка нового каталога нашла (данные перенесены как были, исправьте их в Korvalen):",
            report.problems);
    return out.str();
}

}  // namespace tools
