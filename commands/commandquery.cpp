#include "commands/commandquery.h"

#include <QPointer>
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/changes.h"
#include "store/catalogue.h"
#include "store/database.h"
#include "widgets/listquery.h"
#include "widgets/messages.h"

namespace command {
namespace {

int unitsRunning = 0;
Tables writtenInUnit;  // announced once the unit commits

struct UnitRunning {
    UnitRunning() { ++unitsRunning; }
    ~UnitRunning() {
        --unitsRunning;
        writtenInUnit.clear();
    }
    UnitRunning(const UnitRunning&) = delete;
    UnitRunning& operator=(const UnitRunning&) = delete;
};

// Every list of the windows closed while work runs, then reopened on the row it stood
// on: by its key where it has one, since rows before it may have gone meanwhile, and a
// command that acts on the current row must not find another row there. A list that
// cannot be reopened is left closed: the failure that brought us here is the one the
// user is told.
void withListsClosed(const std::function<void()>& work) {
    struct Held {
        QPointer<ListQuery> list;
        int row;
        std::optional<int64_t> key;
    };
    std::vector<Held> reading;
    for (ListQuery* list : ListQuery::live()) {
        if (!list->isOpen()) continue;
        reading.push_back({list, list->currentRow(), list->currentKey()});
        list->close();
    }
    work();
    for (Held& held : reading) {
        if (!held.list) continue;
        try {
            held.list->open();
            if (held.key)
                held.list->standOnKey(*held.key);
            else if (held.row > 0)
                held.list->setCurrentRow(held.row);
        } catch (const store::Error&) {
        }
    }
}

// A write that fails for want of room or by an I/O error leaves its half-written file
// for SQLite to put back once the connection reads nothing more, which never comes
// while a list still holds part of its result; meanwhile the error sticks to every
// later statement, a retry with room again included. Closing the lists lets SQLite
// restore the file at once.
void recoverFrom(const store::Error& e) {
    using K = store::Error::Kind;
    if (e.kind() == K::DiskFull || e.kind() == K::Io || e.kind() == K::NotFound)
        withListsClosed([] {});
}

// SQLite opens a table file that it may not write read-only, for good: before a write,
// a connection holding such a file is replaced by a new one, so a catalogue made
// writable meanwhile is written without a restart.
void reopenIfReadOnly() {
    const bool readOnly = store::Database::defaultDatabase()->anyFileReadOnly();
    if (readOnly) withListsClosed([] { store::Database::resetDefault(); });
}

// The table a write of ours names after INSERT INTO, UPDATE or DELETE FROM, as
// 'base\File.db' or "base\File.db"; none for any other statement.
std::optional<store::Table> writtenTable(const statements::Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + ' ';
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '(' || c == '\n') {
            if (!word.empty()) words.push_back(std::exchange(word, {}));
        } else {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    size_t at = 0;
    if (words.size() > 2 && (words[0] == "insert" || words[0] == "delete"))
        at = 2;  // past INTO or FROM
    else if (words.size() > 1 && words[0] == "update")
        at = 1;
    if (at == 0) return std::nullopt;
    std::string file = words[at];
    std::erase_if(file, [](char c) { return c == '\'' || c == '"'; });
    file = file.substr(file.find_last_of("\\/") + 1);
    const store::TableDef* def = store::tableForFile(file);
    if (!def) return std::nullopt;
    const auto& all = store::catalogueTables();
    return static_cast<store::Table>(def - all.data());
}

void announce(const statements::Lines& lines) {
    const auto table = writtenTable(lines);
    if (!table) return;
    if (unitsRunning > 0)
        writtenInUnit.insert(*table);
    else
        emit Changes::instance().written({*table});
}

void setLines(store::Query& query, const statements::Lines& lines) {
    query.close();
    query.clearSql();
    for (const std::string& line : lines) query.addLine(line);
}

}  // namespace

void execute(store::Query& query, const statements::Lines& lines, const Parameters& parameters) {
    if (unitsRunning == 0) reopenIfReadOnly();  // a unit does it before it begins
    setLines(query, lines);
    if (parameters) parameters(query);
    try {
        query.execSql();
    } catch (const store::Error& e) {
        if (unitsRunning == 0) recoverFrom(e);  // a unit does it once rolled back
        throw;
    }
    query.close();
    announce(lines);
}

void executeByKey(store::Query& query, const statements::Lines& lines, const QString& missing,
                  const Parameters& parameters) {
    execute(query, lines, parameters);
    if (query.rowsAffected() > 0) return;
    const store::Error notFound(store::Error::Kind::NotFound, missing.toStdString());
    if (unitsRunning == 0) recoverFrom(notFound);  // a unit does it once rolled back
    throw notFound;
}

QString count(store::Query& query, const statements::Lines& lines, std::string_view column) {
    setLines(query, lines);
    query.open();
    query.release();  // open on its row, without the read lock a live statement keeps
    return QString::fromStdString(query.field(column).asString());
}

void asOneUnit(const std::function<void()>& work) {
    reopenIfReadOnly();
    const auto database = store::Database::defaultDatabase();
    Tables written;
    try {
        const UnitRunning running;
        store::Database::Transaction unit(*database);
        work();
        unit.commit();
        written = std::move(writtenInUnit);
    } catch (const store::Error& e) {
        recoverFrom(e);  // the unit is rolled back by now
        throw;
    }
    if (!written.empty()) emit Changes::instance().written(written);
}

Changes& Changes::instance() {
    static Changes changes;
    return changes;
}

QString quotedLiteral(const QString& text) {
    QString literal = text;
    literal.replace(QLatin1Char('\''), QStringLiteral("''"));
    // SQLite reads a statement's text only up to a NUL: one is spliced as char(0).
    return literal.replace(QChar(u'\0'), QStringLiteral("' || char(0) || '"));
}

bool refuseEmpty(const ListQuery& list, const QString& message) {
    if (list.isOpen() && list.currentRow() >= 0) return false;
    messages().information(message);
    return true;
}

QString emptyDiskList() {
    return QStringLiteral("Список дисков пуст!");
}
QString emptyCategories() {
    return QStringLiteral("Справочник категорий пуст!");
}
QString emptyMediaTypes() {
    return QStringLiteral("Справочник носителей пуст!");
}
QString emptyDebtors() {
    return QStringLiteral("Справочник должников пуст!");
}
QString missingDisk() {
    return QStringLiteral(
        "Диск не найден: его удалили в другой программе или окне. Список дисков обновлён.");
}

}  // namespace command
