#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/filesearchrunner.h"

class ListQuery;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace contents {

// "Найти файл": a fragment of a folder's or file's name sought on every disk as the user
// types, on a thread of its own (a key supersedes the running search), narrowed by the
// disk's category, media type and a least size. Enter or a double click makes the found
// file's disk current in the main window and opens its contents at that file; "Сохранить..."
// writes every match to a file. Modeless; its place is kept.
class FileSearchWindow : public QWidget {
public:
    // clearFilter: takes the main window's filter off, so that every disk is listed;
    // showContents: opens the current disk's contents at a path from its root.
    FileSearchWindow(ListQuery& disks, std::function<void()> clearFilter,
                     std::function<void(const std::string& path)> showContents,
                     QWidget* parent = nullptr);
    ~FileSearchWindow() override;

    // Makes the disk of the row current in the main window and opens its contents there.
    void openRow(int row);
    // Writes every match of the fragment and narrowing shown to path (the format by its
    // ending, as the reports' exports), on a thread of its own; false when it did not.
    bool saveFound(const QString& path);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void search();
    store::FileQuery query() const;
    void savePlace() const;
    void fillNarrowing();
    void showRows(uint64_t query, const std::vector<store::FoundRow>& rows);
    void showCount(uint64_t query, int64_t matches);

    ListQuery& disks_;
    std::function<void()> clearFilter_;
    std::function<void(const std::string& path)> showContents_;
    QLineEdit* fragment_;
    QComboBox* category_;
    QComboBox* mediaType_;
    QSpinBox* minimumSize_;
    QTableWidget* table_;
    QLabel* count_;
    QPushButton* save_;
    std::vector<store::FoundRow> rows_;
    uint64_t query_ = 0;
    std::unique_ptr<store::FileSearchRunner> runner_;
};

}  // namespace contents
