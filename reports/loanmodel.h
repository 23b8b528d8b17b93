#pragma once

#include "commands/changes.h"
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

// Whether a committed write of tables changes what a loan report shows: the loans
// themselves, or the disks' and debtors' names beside them.
bool changesLoanRows(const command::Tables& tables);
