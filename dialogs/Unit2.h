#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

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

    // Lends the disk with diskKey, named in the dialog's last line: "Отдать" writes
    // that disk, whatever the main window's list stands on by then. Shown otherwise,
    // the dialog lends the list's current disk.
    void lendDisk(int64_t diskKey, const QString& name);

    void FormCreate();
    void Button1Click();  // "Отдать": marks the disk lent and records the loan
    void Button2Click();  // "Отмена"

    void done(int result) override;

private:
    void writeLoan(int64_t diskKey, int64_t debtor);

    MainWindowQueries mainWindow_;
    std::optional<int64_t> disk_;  // until the dialog closes
};

extern TForm2* Form2;
