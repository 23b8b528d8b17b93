#pragma once

#include <QComboBox>
#include <optional>

class ListQuery;
class QueryModel;

// A lookup box over a list query, bound to no data field: it lists one name column,
// identifies an entry by that name, and steers the query's current row.
// - Choosing an entry makes the first row with that name current and emits clicked(),
//   also when the entry was already shown.
// - It always shows the row its query stands on, so what code reads from the query
//   (the first row before any choice) is what the user sees.
// - After the query reopens it returns to the chosen name if a row still has it.
class LookupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit LookupComboBox(QWidget* parent = nullptr);

    void bind(ListQuery* query, const QString& listField);
    ListQuery* query() const { return query_; }
    std::optional<QString> chosenName() const { return chosen_; }

    // Chooses the entry at row as the user would.
    void choose(int row);
    // Makes row current and its name the choice, as code does for the user: no
    // search for the first row of that name, no clicked().
    void standOn(int row);

signals:
    void clicked();

private:
    void showCurrentRow();
    void returnToChosen();

    ListQuery* query_ = nullptr;
    QueryModel* model_ = nullptr;
    QString listField_;
    std::optional<QString> chosen_;
};
