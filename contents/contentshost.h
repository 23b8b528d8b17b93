#pragma once

#include <functional>

class ListQuery;
class QAction;
class QWidget;

// What the contents' menu and windows use of the main window: the window they stand
// over, its disk list (whose current disk is read into and shown) and the actions of its
// "Содержимое" menu.
struct ContentsHost {
    QWidget& window;
    ListQuery& disks;
    QAction& readContents;
    QAction& showContents;
    QAction& findFile;
    // Takes the disk list's filter off, so that every disk is listed.
    std::function<void()> clearFilter;
};
