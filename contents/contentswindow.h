#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/contents.h"

namespace Ui {
class DiskContents;
}
class ListQuery;

namespace contents {

class ContentsModel;

// "Содержимое диска": the tree of folders and files, the volume's facts and an audio
// CD's tracks for the current disk of the main window's disk list. Modeless; it follows
// the current disk and reads anew when a disk's contents or the disks are written. A
// hidden window holds no rows.
class ContentsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ContentsWindow(ListQuery& disks, QWidget* parent = nullptr);
    ~ContentsWindow() override;

    // Shows the current disk now (changes wait for the event loop, so several at once
    // read once).
    void refresh();
    std::optional<int64_t> shownDisk() const { return shown_; }
    // Shows the current disk now with the entry at path (from the disk's root, names'
    // bytes) selected, its folders opened, scrolled to and focused.
    void showEntry(const std::string& path);

signals:
    // "Прочитать содержимое...": the menu's read into the current disk.
    void readRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void settle();
    void savePlace() const;
    void scheduleRefresh();
    void showTracks(const std::vector<store::Track>& tracks);
    void showNothing(const QString& why);
    std::optional<int64_t> currentDisk() const;

    std::unique_ptr<Ui::DiskContents> ui;
    ListQuery& disks_;
    ContentsModel* model_;
    std::optional<int64_t> shown_;
    bool refreshPending_ = false;
    bool settled_ = false;
};

}  // namespace contents
