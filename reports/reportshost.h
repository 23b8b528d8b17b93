#pragma once

class ListQuery;
class QAction;
class QWidget;

// What the reports use of the main window: the window they stand over, its disk list
// (whose current disk the history follows, and whose rows "Сохранить список дисков"
// writes as the filter shows them) and the actions of its "Отчёты" menu.
struct ReportsHost {
    QWidget& window;
    ListQuery& disks;
    QAction& loanHistory;
    QAction& whoHasWhat;
    QAction& exportDisks;
    QAction& backup;
};
