#pragma once

#include <QObject>
#include <QString>

#include "query.h"

// A read-only list query that feeds grids, the description pane and lookup boxes:
// a store query that tells its views when it opens, closes or moves.
class ListQuery : public QObject {
    Q_OBJECT
public:
    explicit ListQuery(QObject* parent = nullptr) : QObject(parent) {}

    // Text and parameters; changing the text closes the query.
    store::Query& sql() { return query_; }
    const store::Query& sql() const { return query_; }
    void setLines(const QStringList& lines);

    // Reference lists are small: they read all their rows at once.
    void setFetchAll(bool all) { fetchAll_ = all; }

    void open();  // an open query stays as it is
    void close();
    void reopen();
    bool isOpen() const { return query_.isOpen(); }

    int currentRow() const { return query_.currentRow(); }
    // Makes row current (reading rows as far as needed); false if there is no such row.
    bool setCurrentRow(int row);
    // The first row whose field equals value exactly, or -1.
    int findRow(const QString& field, const QString& value);

    // A field of the current row; an empty list reads as empty text and 0.
    QString text(const QString& field) const;
    int64_t integer(const QString& field) const;
    double number(const QString& field) const;
    // A text field of the current row as stored (UTF-8), not copied: a description may
    // run to hundreds of megabytes. Valid until the list reads further rows or closes.
    std::string_view utf8(const QString& field) const;

    // Reads up to count more rows; views call it as the user scrolls.
    void fetchMore(int count);

signals:
    void closed();
    void opened();
    void rowsFetched();
    void currentRowChanged(int row);

private:
    store::Query query_;
    bool fetchAll_ = false;
};

// A list query of a window, named query and with its statement as laid out; closed.
ListQuery* createLayoutListQuery(const QString& window, const QString& query, QObject* owner);
