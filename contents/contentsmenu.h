#pragma once

#include <QObject>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "contents/contentshost.h"
#include "contents/contentsread.h"

namespace contents {

class ContentsWindow;
class FileSearchWindow;

// The main window's "Содержимое" menu: reading a source into the current disk's contents
// and the modeless window that shows them (made on first use, one).
class ContentsMenu : public QObject {
    Q_OBJECT
public:
    explicit ContentsMenu(const ContentsHost& host);

    ContentsWindow* contentsWindow();
    void showContents();
    // The same, at the entry at path of the current disk.
    void showContentsAt(const std::string& path);
    // "Найти файл...": the modeless search over every disk's contents (made on first use).
    FileSearchWindow* fileSearchWindow();
    void showFileSearch();
    // "Прочитать содержимое диска...": asks for the source, and before replacing what
    // the disk has; says how it went in a box over the main window.
    void readIntoCurrentDisk();

    // Where the source comes from and how it is read: the user's choice and readSource,
    // unless a test hands its own.
    std::function<std::optional<std::filesystem::path>(QWidget* parent)> chooseSource;
    SourceReader reader;

private:
    ContentsHost host_;
    ContentsWindow* window_ = nullptr;
    FileSearchWindow* search_ = nullptr;
};

}  // namespace contents
