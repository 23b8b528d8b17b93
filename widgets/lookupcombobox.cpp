#include "widgets/lookupcombobox.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QSignalBlocker>

#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/querymodel.h"

namespace {

// Qt's own combo box interface on Linux names a box by its current entry, so a screen
// reader says "Аудиокниги, combo box" and never which box it is. This one names it as
// any other control (its accessible name, or the label whose buddy it is) and otherwise
// does as Qt's: the entry as its value, the list as its child, "Press" opening the list
// and, pressed again, choosing the entry selected in it.
class AccessibleLookupBox final : public QAccessibleWidget {
public:
    explicit AccessibleLookupBox(LookupComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return box()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        LookupComboBox* b = box();
        if (!b->view()->isVisible()) return b->showPopup();
        const QModelIndexList selected = b->view()->selectionModel()->selectedIndexes();
        b->hidePopup();
        if (!selected.isEmpty()) b->choose(selected.first().row());
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
