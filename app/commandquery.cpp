#include "commandquery.h"

#include "database.h"
#include "listquery.h"
#include "messages.h"

namespace command {
namespace {

void setLines(store::Query& query, const QStringList& lines) {
    query.close();
    query.clearSql();
    for (const QString& line : lines) query.addLine(line.toStdString());
}

}  // namespace

void execute(store::Query& query, const QStringList& lines, const Parameters& parameters) {
    setLines(query, lines);
    if (parameters) parameters(query);
    query.execSql();
    query.close();
}

QString count(store::Query& query, const QStringList& lines, const QString& column) {
    setLines(query, lines);
    query.open();
    return QString::fromStdString(query.field(column.toStdString()).asString());
}

void asOneUnit(const std::function<void()>& work) {
    const auto database = store::Database::defaultDatabase();
    store::Database::Transaction unit(*database);
    work();
    unit.commit();
}

QString quotedLiteral(const QString& text) {
    QString doubled = text;
    return doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
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

}  // namespace command
