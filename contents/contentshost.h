#pragma once

class ListQuery;
class QAction;
class QWidget;

// What the contents' menu and window use of the main window: the window they stand
// over, its disk list (whose current disk is read into and shown) and the actions of its
// "Содержимое" menu.
struct ContentsHost {
    QWidget& window;
    ListQuery& disks;
    QAction& readContents;
    QAction& showContents;
};
