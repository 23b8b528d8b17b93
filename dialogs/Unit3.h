#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dialogs/dialogwindow.h"
#include "dialogs/mainwindowqueries.h"

namespace Ui {
class TForm3;
}
class ListQuery;

// The disk editor: adds a disk (EditMode false) or edits the current disk of the
// main window's list (EditMode true).
class TForm3 : public ButtonClosedDialog<TForm3> {
    Q_OBJECT
public:
    explicit TForm3(MainWindowQueries mainWindow, QWidget* parent = nullptr);
    ~TForm3() override;

    std::unique_ptr<Ui::TForm3> ui;
    ListQuery* Query1;  // categories by name, DBLookupComboBox1
    ListQuery* Query2;  // media types by name, DBLookupComboBox2

    void FormCreate();
    void Button1Click();  // "Загрузить описание из файла"
    void Button3Click();  // "Отмена"
    void Button4Click();  // "Сохранить"
    void FormCloseQuery(bool& CanClose);

    // Edits the disk with diskKey: a save writes that disk, whatever the main window's
    // list stands on by then; the two boxes stand on its category and media type now,
    // so a save that touches neither box keeps them.
    void startOnDisk(int64_t diskKey);

    // Puts a description (UTF-8, as stored) into Memo1 for editing. One too long to lay
    // out is shown in part, read-only, and "Сохранить" writes it back exactly as given
    // until another is loaded or Memo1 is changed otherwise.
    void setDescription(std::string utf8);

    // The file chosen in the file-open dialog; empty when the user cancels.
    std::function<QString(TForm3&)> OpenDialog1;

    // Every close, whichever way, runs FormCloseQuery.
    void done(int result) override;

private:
    MainWindowQueries mainWindow_;
    std::optional<std::string> keptDescription_;  // shown in part only
    std::optional<int64_t> editedDisk_;           // until the dialog closes
};

extern TForm3* Form3;
// True while the disk editor edits the current disk, false while it adds one.
extern bool EditMode;

// A description file's bytes as the editor takes them: up to the first NUL byte,
// UTF-8 when they are valid UTF-8 and Windows-1251 otherwise, every line end
// (CR LF, lone CR, lone LF) made CR LF.
QString descriptionFromFile(QByteArray bytes);
