#include "Unit2.h"

#include "layoutqueries.h"
#include "listquery.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    Form2 = this;
    setWindowTitle(QStringLiteral("Отдать диск"));
    Query1 = new ListQuery(this);
    Query1->setLines(layoutQueryLines(QStringLiteral("Unit2"), QStringLiteral("Query1")));
    Query1->open();
    FormCreate();
}

void TForm2::FormCreate() { Query1->open(); }
