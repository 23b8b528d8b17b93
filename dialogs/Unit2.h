#pragma once

#include <memory>

#include "dialogs/dialogwindow.h"
#include "dialogs/mainwindowqueries.h"

namespace Ui {
class TForm2;
}
class ListQuery;

// The lend dialog: picks the debtor the current disk of the main window goes to.
class TForm2 : public ButtonClosedDialog<TForm2> {
    Q_OBJECT
public:
    explicit TForm2(MainWindowQueries mainWindow, QWidget* parent = nullptr);
    ~TForm2() override;

    std::unique_ptr<Ui::TForm2> ui;
    ListQuery* Query1;  // debtors by name, DBLookupComboBox1

    void FormCreate();
    void Button1Click();  // "Отдать": marks the disk lent and records the loan
    void Button2Click();  // "Отмена"

private:
    MainWindowQueries mainWindow_;
};

extern TForm2* Form2;
