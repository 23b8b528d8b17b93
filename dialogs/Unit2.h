#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class TForm2;
}
class ListQuery;

// The lend dialog: picks the debtor the current disk of the main window goes to.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    std::unique_ptr<Ui::TForm2> ui;
    ListQuery* Query1;  // debtors by name, DBLookupComboBox1

    void FormCreate();
    void Button1Click();  // "Отдать": marks the disk lent and records the loan
    void Button2Click();  // "Отмена"

    // Shows the dialog modally and returns when it is closed. Tests replace how,
    // answering the dialog in place.
    std::function<void(TForm2&)> showModal = [](TForm2& dialog) { dialog.exec(); };
    void ShowModal() { showModal(*this); }

    // Escape does not close the dialog (and no button is the default): only its
    // buttons do.
    void reject() override {}
};

extern TForm2* Form2;
