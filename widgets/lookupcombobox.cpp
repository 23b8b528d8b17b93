#include "widgets/lookupcombobox.h"

#include <QSignalBlocker>

#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/querymodel.h"

LookupComboBox::LookupComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::activated, this, &LookupComboBox::choose);
}

void LookupComboBox::bind(ListQuery* query, const QString& listField) {
    query_ = query;
    listField_ = listField;
    query_->setFetchAll(true);
    model_ = new QueryModel(query_, {{listField, {}, 0}}, this);
    setModel(model_);
    setModelColumn(0);
    connect(query_, &ListQuery::opened, this, &LookupComboBox::returnToChosen);
    connect(query_, &ListQuery::currentRowChanged, this, &LookupComboBox::showCurrentRow);
    connect(query_, &ListQuery::closed, this, &LookupComboBox::showCurrentRow);
    showCurrentRow();
}

void LookupComboBox::choose(int row) {
    if (!query_ || row < 0 || row >= model_->rowCount()) return;
    const QString name = model_->index(row, 0).data().toString();
    chosen_ = name;
    guarded([&] {
        const int first = query_->findRow(listField_, name);
        query_->setCurrentRow(first >= 0 ? first : row);
        showCurrentRow();
        emit clicked();
    });
}

void LookupComboBox::standOn(int row) {
    if (!query_ || !query_->setCurrentRow(row)) return;
    chosen_ = query_->text(listField_);
    showCurrentRow();
}

void LookupComboBox::showCurrentRow() {
    const QSignalBlocker blocker(this);
    setCurrentIndex(query_ && query_->isOpen() ? query_->currentRow() : -1);
}

void LookupComboBox::returnToChosen() {
    if (!chosen_) return;
    guarded([&] {
        const int row = query_->findRow(listField_, *chosen_);
        if (row >= 0)
            query_->setCurrentRow(row);
        else
            chosen_.reset();  // the entry is gone: the box shows the first row, now current
    });
    showCurrentRow();
}
