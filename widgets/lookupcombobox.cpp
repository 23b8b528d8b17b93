#include "widgets/lookupcombobox.h"

#include <QAccessibleWidget>
#include <QSignalBlocker>

#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/querymodel.h"

namespace {

// Qt's own combo box interface on Linux names a box by its current entry, so a screen
// reader says "Аудиокниги, combo box" and never which box it is. This one names it as
// any other control (its accessible name, or the label whose buddy it is) and gives the
// entry as its value.
class AccessibleLookupBox final : public QAccessibleWidget {
public:
    explicit AccessibleLookupBox(LookupComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return box()->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction())
            box()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    LookupComboBox* box() const { return static_cast<LookupComboBox*>(widget()); }
};

QAccessibleInterface* accessibleLookupBox(const QString& className, QObject* object) {
    if (className == QLatin1String(LookupComboBox::staticMetaObject.className()))
        return new AccessibleLookupBox(static_cast<LookupComboBox*>(object));
    return nullptr;
}

}  // namespace

LookupComboBox::LookupComboBox(QWidget* parent) : QComboBox(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleLookupBox);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
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
