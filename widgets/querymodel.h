#pragma once

#include <QAbstractTableModel>
#include <QVector>

class ListQuery;
class QAbstractItemView;

// A grid column: the result field it shows, its title and width in pixels.
struct GridColumn {
    QString field;
    QString title;  // empty: the field name
    int width = 0;  // 0: the view's default
};

// A read-only table model over a list query. Rows are read from the query only as
// the view scrolls to them, so a list of a million disks opens at once.
class QueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Without columns the model shows every result column under its own name.
    QueryModel(ListQuery* query, QVector<GridColumn> columns, QObject* parent = nullptr);

    ListQuery* query() const { return query_; }
    const QVector<GridColumn>& columns() const { return columns_; }
    // The result column behind a model column (-1: the query lacks the field).
    int resultColumn(int column) const;
    // The display text of any result field of a row, e.g. the lent flag of the row
    // being painted.
    QString fieldText(int row, const QString& field) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // Applies the columns' widths to a view showing this model and keeps the view's
    // current row and the query's current row in step, both ways.
    void bindView(QAbstractItemView* view);

private:
    void beginChange();
    void endChange();
    void syncRows();
    void finishChange();
    void resolveColumns();

    ListQuery* query_;
    QVector<GridColumn> columns_;
    QVector<int> resultColumns_;
    int rows_ = 0;
    // While a reset or new rows are announced, a listener that asks for more rows (a
    // view filling its viewport) gets them once every listener has heard the news,
    // never in the middle of it.
    bool changing_ = false;
    bool fetchPending_ = false;
    bool resetting_ = false;  // between the query's aboutToChange and changed
    bool allColumns_;
};
