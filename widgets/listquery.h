#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "store/query.h"

// A read-only list query that feeds grids, the description pane and lookup boxes:
// a store query that tells its views when it opens, closes or moves.
class ListQuery : public QObject {
    Q_OBJECT
public:
    explicit ListQuery(QObject* parent = nullptr);
    ~ListQuery() override;

    // Every list of the process lets go of its statement, and with it of SQLite's read
    // lock on the catalogue, keeping its rows and current row; each reads on when asked
    // for more. Lists do it by themselves once the program has read nothing for a
    // moment, so a window that sits idle blocks no writer, in this process or another.
    static void releaseAll();
    // Every list alive in the process, in the order they were made: the lists a write
    // must close and reopen are found here, wherever their window is.
    static std::vector<ListQuery*> live();

    // Text and parameters; changing the text closes the query.
    store::Query& query() { return query_; }
    const store::Query& query() const { return query_; }
    void setLines(const QStringList& lines);

    // The field that names a row for good (its key), where the list has one: a list read
    // anew after a command stands on the row it stood on by this key, not by position.
    void setKeyField(QString field) { keyField_ = std::move(field); }
    const QString& keyField() const { return keyField_; }
    // The current row's key; none without a key field or a current row.
    std::optional<int64_t> currentKey() const;
    // Makes the first row holding key current, reading on as far as needed; false if
    // there is none.
    bool standOnKey(int64_t key);

    // Reference lists are small: they read all their rows at once.
    void setFetchAll(bool all) { fetchAll_ = all; }

    void open();  // an open query stays as it is
    void close();
    // Closes the query, lets change alter its text or parameters, and opens it again:
    // one change for the models (one reset of a grid, as in Qt's fetch-more example),
    // not a close and then an open. A failure to open leaves the query closed.
    void rebuild(const std::function<void(store::Query&)>& change);
    void reopen() { rebuild({}); }
    bool isOpen() const { return query_.isOpen(); }

    int currentRow() const { return query_.currentRow(); }
    // Makes row current (reading rows as far as needed); false if there is no such row.
    bool setCurrentRow(int row);
    // The first row whose field equals value exactly, or -1.
    int findRow(const QString& field, const QString& value);

    // A field of the current row; an empty list reads as empty text and 0.
    QString text(const QString& field) const;
    int64_t integer(const QString& field) const;
    // The key in field, exactly; throws store::Error with a clear message when the field
    // holds no whole number.
    int64_t key(const QString& field) const;
    // A text field of the current row as stored (UTF-8), not copied: a description may
    // run to hundreds of megabytes. Valid until the list reads further rows or closes.
    std::string_view utf8(const QString& field) const;

    // Reads up to count more rows; views call it as the user scrolls.
    void fetchMore(int count);

signals:
    // Every open, close and rebuild, bracketed for models; the rows and columns are
    // read again at changed(), which comes before opened() or closed().
    void aboutToChange();
    void changed();
    void closed();
    void opened();
    void rowsFetched();
    void currentRowChanged(int row);

private:
    void openQuery();
    void readDone();

    store::Query query_;
    QString keyField_;
    bool fetchAll_ = false;
};
