#pragma once

#include <QDialog>

class ListQuery;

// The lend dialog: picks the debtor the current disk goes to.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ListQuery* Query1;  // debtors by name

    void FormCreate();
};

extern TForm2* Form2;
