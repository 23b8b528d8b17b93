#include "Unit3.h"

#include "layoutqueries.h"
#include "listquery.h"

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    Form3 = this;
    setWindowTitle(QStringLiteral("Добавление/редактирование диска"));
    Query1 = new ListQuery(this);
    Query1->setLines(layoutQueryLines(QStringLiteral("Unit3"), QStringLiteral("Query1")));
    Query2 = new ListQuery(this);
    Query2->setLines(layoutQueryLines(QStringLiteral("Unit3"), QStringLiteral("Query2")));
    Query1->open();
    Query2->open();
    FormCreate();
}

void TForm3::FormCreate() {
    Query1->open();
    Query2->open();
}
