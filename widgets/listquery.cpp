#include "widgets/listquery.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <vector>

namespace {

// A writer waits 2 s for a lock before it gives up; half a second without a read is
// longer than a pause between two scroll steps and well within that.
constexpr int kIdleReleaseMs = 500;

std::vector<ListQuery*>& allLists() {
    static std::vector<ListQuery*> lists;
    return lists;
}

// Restarted by every read that leaves a statement part way; fires once the program has
// read nothing for kIdleReleaseMs.
void releaseWhenIdle() {
    static QPointer<QTimer> timer;
    if (!timer) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        timer = new QTimer(app);
        timer->setSingleShot(true);
        timer->setInterval(kIdleReleaseMs);
        QObject::connect(timer, &QTimer::timeout, timer, [] { ListQuery::releaseAll(); });
    }
    timer->start();
}

}  // namespace

ListQuery::ListQuery(QObject* parent) : QObject(parent) {
    allLists().push_back(this);
}

ListQuery::~ListQuery() {
    std::erase(allLists(), this);
}

std::vector<ListQuery*> ListQuery::live() {
    return allLists();
}

void ListQuery::releaseAll() {
    for (ListQuery* list : allLists()) list->query_.release();
}

void ListQuery::readDone() {
    if (query_.holdsStatement()) releaseWhenIdle();
}

void ListQuery::setLines(const QStringList& lines) {
    close();
    std::vector<std::string> text;
    text.reserve(lines.size());
    for (const QString& line : lines) text.push_back(line.toStdString());
    query_.setSql(std::move(text));
}

void ListQuery::openQuery() {
    query_.open();
    if (fetchAll_) query_.fetchAll();
    readDone();
}

void ListQuery::open() {
    if (query_.isOpen()) return;
    emit aboutToChange();
    try {
        openQuery();
    } catch (...) {
        emit changed();
        throw;
    }
    emit changed();
    emit opened();
    emit currentRowChanged(query_.currentRow());
}

void ListQuery::close() {
    if (!query_.isOpen()) return;
    emit aboutToChange();
    query_.close();
    emit changed();
    emit closed();
}

void ListQuery::rebuild(const std::function<void(store::Query&)>& change) {
    emit aboutToChange();
    try {
        query_.close();
        if (change) change(query_);
        if (!query_.isOpen()) openQuery();
    } catch (...) {
        query_.close();
        emit changed();
        emit closed();
        throw;
    }
    emit changed();
    emit opened();
    emit currentRowChanged(query_.currentRow());
}

bool ListQuery::setCurrentRow(int row) {
    if (row == query_.currentRow()) return true;
    const int before = query_.fetchedRows();
    const bool moved = query_.moveTo(row);
    readDone();
    if (query_.fetchedRows() != before) emit rowsFetched();
    if (moved) emit currentRowChanged(row);
    return moved;
}

int ListQuery::findRow(const QString& field, const QString& value) {
    if (!query_.isOpen()) return -1;
    const int column = query_.columnIndex(field.toStdString());
    if (column < 0) return -1;
    const std::string wanted = value.toStdString();
    const int before = query_.fetchedRows();
    query_.fetchAll();
    if (query_.fetchedRows() != before) emit rowsFetched();
    for (int row = 0; row < query_.fetchedRows(); ++row)
        if (query_.text(row, column) == wanted) return row;
    return -1;
}

std::optional<int64_t> ListQuery::currentKey() const {
    if (keyField_.isEmpty() || !isOpen() || currentRow() < 0) return std::nullopt;
    const int column = query_.columnIndex(keyField_.toStdString());
    if (column < 0) return std::nullopt;
    return query_.fieldAt(currentRow(), column).asKey();
}

bool ListQuery::standOnKey(int64_t key) {
    const int column = isOpen() ? query_.columnIndex(keyField_.toStdString()) : -1;
    if (column < 0) return false;
    const int before = query_.fetchedRows();
    int found = -1;
    for (int row = 0; found < 0 && (row < query_.fetchedRows() || query_.fetchMore(1) > 0); ++row)
        if (query_.fieldAt(row, column).asKey() == key) found = row;
    readDone();
    if (query_.fetchedRows() != before) emit rowsFetched();
    return found >= 0 && setCurrentRow(found);
}

QString ListQuery::text(const QString& field) const {
    return QString::fromStdString(query_.field(field.toStdString()).asString());
}

int64_t ListQuery::integer(const QString& field) const {
    return query_.field(field.toStdString()).asInteger();
}

int64_t ListQuery::key(const QString& field) const {
    return query_.key(field.toStdString());
}

std::string_view ListQuery::utf8(const QString& field) const {
    const std::string name = field.toStdString();
    const int row = query_.currentRow();
    const int column = query_.columnIndex(name);
    if (column < 0) query_.field(name);  // throws, naming the field
    if (row < 0 || row >= query_.fetchedRows()) return {};
    return query_.storedText(row, column);
}

void ListQuery::fetchMore(int count) {
    const int got = query_.fetchMore(count);
    readDone();
    if (got > 0) emit rowsFetched();
}
