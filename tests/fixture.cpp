#include "tests/fixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <stdexcept>

#include "store/catalogue.h"
#include "store/connection.h"
#include "store/statement.h"
#include "tests/catalogue_writes.h"

namespace fixture {
namespace fs = std::filesystem;

namespace {

// The reference books and loans of the header comment, in SQLite's own SQL; the disks
// are added from disks().
constexpr const char* kBookAndLoanRows = R"sql(
INSERT INTO SprKategoy(Num, Name) VALUES
  (1, 'Фильмы'), (2, 'музыка'), (3, 'Ёлка'), (4, 'Документы'), (5, 'Games'), (6, 'Сборники');
INSERT INTO SprType(N, Tip) VALUES
  (1, 'CD-R'), (2, 'DVD-R'), (3, 'Blu-ray');
INSERT INTO SprDolgnik(N, Dolgnik) VALUES
  (1, 'Иванов Сергей'), (2, 'ёлкина мария'), (3, 'Егоров Пётр'), (4, 'Петров Пётр');
INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES
  (1, 1, '2024-03-01', NULL, TRUE),
  (2, 3, '2024-01-10', '2024-02-01', FALSE),
  (6, 4, '2024-03-05', NULL, TRUE);
)sql";

QString sqlText(QString text) {
    return "'" + text.replace('\'', "''").replace("\r\n", "' || char(13, 10) || '") + "'";
}

const std::string& fixtureRows() {
    static const std::string rows = [] {
        QString sql = QString::fromUtf8(kBookAndLoanRows);
        for (const Disk& d : disks())
            sql += QStringLiteral(
                       "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) "
                       "VALUES (%1, %2, %3, %4, %5, %6);\n")
                       .arg(d.n)
                       .arg(sqlText(d.name), sqlText(d.description))
                       .arg(d.category)
                       .arg(d.mediaType)
                       .arg(QLatin1String(d.lent ? "TRUE" : "FALSE"));
        return sql.toStdString();
    }();
    return rows;
}

// Each set of rows is made into a catalogue once per process and copied for each test:
// making five SQLite files waits for the disk several times, a copy does not.
fs::path catalogueTemplate(std::string_view rows) {
    static std::map<std::string, QTemporaryDir, std::less<>> made;
    auto found = made.find(rows);
    if (found == made.end()) {
        found = made.try_emplace(std::string(rows)).first;
        try {
            makeCatalogue(found->second.path().toStdString(), rows);
        } catch (...) {
            made.erase(found);
            throw;
        }
    }
    return found->second.path().toStdString();
}

}  // namespace

void redeclare(const fs::path& file, const std::string& sql) {
    fs::remove(file);
    if (!store::Connection(file, store::Connection::Mode::Create).exec(sql))
        throw std::runtime_error("could not make " + file.string() + " with " + sql);
}

std::string tableWith(std::string_view table, std::string_view field, std::string_view declared,
                      std::string_view rows) {
    const store::TableDef& t = *store::tableForFile(std::string(table) + ".db");
    std::string sql = "CREATE TABLE " + std::string(t.table) + "(";
    for (const auto& f : t.fields) {
        if (&f != &t.fields.front()) sql += ", ";
        sql.append(f.name).append(" ").append(f.name == field ? declared : store::sqlType(f.kind));
    }
    return sql.append(");").append(rows);
}

void makeCatalogue(const fs::path& root, std::string_view rows) {
    store::createCatalogue(root);
    const auto db = store::Database::open(root / std::string(store::kBaseFolder));
    store::Database::Transaction tx(*db);
    db->execRaw(rows);
    tx.commit();
}

const std::vector<Disk>& disks() {
    static const std::vector<Disk> rows = {
        {1, "Матрица", "Фильм о выборе", 1, 2, true},
        {2, "Abbey Road", "Лучшие песни\r\nДва диска", 2, 1, false},
        {3, "Новогодние ПЕСНИ", "", 3, 1, false},
        {4, "Half-Life 2", "Игра.", 5, 2, false},
        {5, "Потерянный диск", "Категории нет.", 99, 1, false},
        {6, "Rock'n'Roll", "Сборник.", 2, 1, true},
        {7, "Abc 100%", "Учебник.", 4, 2, false},
        {8, "Road_trip", "Путевые заметки.", 4, 1, false},
    };
    return rows;
}

bool categoryExists(int key) {
    return key >= 1 && key <= 6;
}

bool mediaTypeExists(int key) {
    return key >= 1 && key <= 3;
}

TemporaryCatalogue::TemporaryCatalogue(std::string_view rows) {
    fs::copy(catalogueTemplate(rows) / std::string(store::kBaseFolder), base(),
             fs::copy_options::recursive);
}

fs::path TemporaryCatalogue::root() const {
    return fs::path(dir.path().toStdString());
}

fs::path TemporaryCatalogue::base() const {
    return root() / std::string(store::kBaseFolder);
}

std::shared_ptr<store::Database> TemporaryCatalogue::open() const {
    return store::Database::open(base());
}

FixtureCatalogue::FixtureCatalogue(std::string_view moreRows)
    : TemporaryCatalogue(fixtureRows() + std::string(moreRows)) {}

QStringList sqlRows(const fs::path& root, const std::string& sql) {
    const auto db = store::Database::open(root / std::string(store::kBaseFolder));
    store::Statement select(*db, sql);
    QStringList rows;
    while (select.step()) {
        QStringList values;
        for (int i = 0; i < select.columnCount(); ++i) {
            const std::string_view text = select.columnText(i);
            values << (select.columnType(i) == store::Statement::Type::Null
                           ? QStringLiteral("NULL")
                           : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        }
        rows << values.join('|');
    }
    return rows;
}

std::vector<std::string> layoutLines(const char* window, const char* query) {
    QFile file(QStringLiteral(KORVALEN_RESOURCES "/%1.queries.json").arg(window));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + file.fileName().toStdString());
    const QJsonArray lines =
        QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String(query)).toArray();
    std::vector<std::string> out;
    for (const auto& line : lines) out.push_back(line.toString().toStdString());
    if (out.empty()) throw std::runtime_error(std::string("no ") + query + " in the layout");
    return out;
}

QStringList queryRows(store::Query& query) {
    query.fetchAll();
    QStringList rows;
    for (int r = 0; r < query.fetchedRows(); ++r) {
        QStringList values;
        for (int c = 0; c < query.columnCount(); ++c)
            values << QString::fromStdString(query.text(r, c));
        rows << values.join('|');
    }
    return rows;
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const fs::path& dir)
    : previous_(fs::current_path()) {
    fs::current_path(dir);
    store::Database::resetDefault();
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    store::Database::resetDefault();
}

FolderSnapshot::FolderSnapshot(const fs::path& dir) : files(writes::folderBytes(dir)) {}

QStringList FolderSnapshot::describe() const {
    QStringList out;
    for (const auto& [name, bytes] : files)
        out << QString::fromStdString(name) + ": " + QString::number(bytes.size()) + " bytes";
    return out;
}

}  // namespace fixture
