#include "reports/loanmodel.h"

#include <QBrush>

bool LoanModel::isOverdue(int row) const {
    return !fieldText(row, QStringLiteral("Overdue")).isEmpty();
}

QVariant LoanModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::ForegroundRole && index.isValid() && isOverdue(index.row()))
        return QBrush(QColor(0xb0, 0x00, 0x00));
    return QueryModel::data(index, role);
}

bool changesLoanRows(const command::Tables& tables) {
    using store::Table;
    return tables.contains(Table::Loans) || tables.contains(Table::Disks) ||
           tables.contains(Table::Debtors);
}
