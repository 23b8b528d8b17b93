#pragma once

#include <QString>
#include <functional>

class ListQuery;
class QAction;
class QWidget;

// What the reports use of the main window: the window they stand over, its disk list
// (whose current disk the history follows, and whose rows "Сохранить список дисков"
// writes as the filter shows them, with the filter's words) and the actions of its
// "Отчёты" menu.
struct ReportsHost {
    QWidget& window;
    ListQuery& disks;
    QAction& loanHistory;
    QAction& whoHasWhat;
    QAction& exportDisks;
    QAction& backup;
    // The disk list's filter as its controls show it, said above a saved list.
    std::function<QString()> diskFilterText;
};
