#pragma once

#include "widgets/querymodel.h"

// A grid model over a loan statement (loans::historyLines, loans::openLoanLines): an
// overdue loan's row is drawn in dark red, beside its "просрочен" marker column.
class LoanModel : public QueryModel {
    Q_OBJECT
public:
    using QueryModel::QueryModel;
    bool isOverdue(int row) const;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};
