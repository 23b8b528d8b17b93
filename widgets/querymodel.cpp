#include "widgets/querymodel.h"

#include <QAbstractItemView>
#include <QTableView>

#include "widgets/gridlook.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"

namespace {
constexpr int kFetchBatch = 64;
}

QueryModel::QueryModel(ListQuery* query, QVector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent),
      query_(query),
      columns_(std::move(columns)),
      allColumns_(columns_.isEmpty()) {
    connect(query_, &ListQuery::aboutToChange, this, &QueryModel::beginChange);
    connect(query_, &ListQuery::changed, this, &QueryModel::endChange);
    connect(query_, &ListQuery::rowsFetched, this, &QueryModel::syncRows);
    beginChange();
    endChange();
}

void QueryModel::resolveColumns() {
    const store::Query& q = query_->query();
    if (allColumns_) {
        columns_.clear();
        if (q.isOpen())
            for (int i = 0; i < q.columnCount(); ++i)
                columns_.push_back({QString::fromStdString(q.columnName(i)), {}, 0});
    }
    resultColumns_.clear();
    for (const GridColumn& c : columns_)
        resultColumns_.push_back(q.isOpen() ? q.columnIndex(c.field.toStdString()) : -1);
}

// A reset spans the query's change: the grid reads nothing from the query while it is
// closed and reopened.
void QueryModel::beginChange() {
    changing_ = true;
    resetting_ = true;
    beginResetModel();
}

void QueryModel::endChange() {
    resetting_ = false;
    resolveColumns();
    rows_ = query_->isOpen() ? query_->query().fetchedRows() : 0;
    endResetModel();
    finishChange();
}

void QueryModel::finishChange() {
    changing_ = false;
    if (!fetchPending_) return;
    fetchPending_ = false;
    fetchMore({});
}

void QueryModel::syncRows() {
    if (resetting_) return;  // the reset's end counts the rows
    const int fetched = query_->isOpen() ? query_->query().fetchedRows() : 0;
    if (fetched <= rows_) return;
    changing_ = true;
    beginInsertRows({}, rows_, fetched - 1);
    rows_ = fetched;
    endInsertRows();
    finishChange();
}

int QueryModel::resultColumn(int column) const {
    return column >= 0 && column < resultColumns_.size() ? resultColumns_[column] : -1;
}

QString QueryModel::fieldText(int row, const QString& field) const {
    const store::Query& q = query_->query();
    if (!q.isOpen() || row < 0 || row >= rows_) return {};
    const int column = q.columnIndex(field.toStdString());
    return column < 0 ? QString() : QString::fromStdString(q.text(row, column));
}

int QueryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int QueryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant QueryModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_) return {};
    const int column = resultColumn(index.column());
    if (column < 0) return {};
    return QString::fromStdString(query_->query().text(index.row(), column));
}

QVariant QueryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return {};
    if (section < 0 || section >= columns_.size()) return {};
    const GridColumn& c = columns_[section];
    return c.title.isEmpty() ? c.field : c.title;
}

bool QueryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && query_->isOpen() && query_->query().canFetchMore();
}

void QueryModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid()) return;
    if (changing_) {
        fetchPending_ = true;
        return;
    }
    guarded([&] { query_->fetchMore(kFetchBatch); });
}

void QueryModel::bindView(QAbstractItemView* view) {
    view->setModel(this);
    if (auto* table = qobject_cast<QTableView*>(view)) {
        applyGridLook(table);
        for (int i = 0; i < columns_.size(); ++i)
            if (columns_[i].width > 0) table->setColumnWidth(i, columns_[i].width);
    }
    auto followQuery = [this, view](int row) {
        syncRows();
        const QModelIndex current = view->currentIndex();
        if (row < 0 || row >= rows_) return;
        if (current.isValid() && current.row() == row) return;
        view->setCurrentIndex(index(row, current.isValid() ? current.column() : 0));
    };
    connect(query_, &ListQuery::currentRowChanged, view, followQuery);
    connect(this, &QAbstractItemModel::modelReset, view,
            [this, followQuery] { followQuery(query_->currentRow()); });
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && current.row() != query_->currentRow())
                    guarded([&] { query_->setCurrentRow(current.row()); });
            });
    followQuery(query_->currentRow());
}
