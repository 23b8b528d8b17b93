#pragma once

#include <QDialog>

class ListQuery;

// The disk editor: adds a disk or edits the current one.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ListQuery* Query1;  // categories by name
    ListQuery* Query2;  // media types by name

    void FormCreate();
};

extern TForm3* Form3;
