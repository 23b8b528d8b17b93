#pragma once

#include <QDialog>
#include <QPoint>

// A dialog window as the program lays them out: fixed size at a fixed place on the
// screen, a caption without title-bar buttons.
inline void setFixedDialogWindow(QDialog& dialog, QPoint position) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog.setFixedSize(dialog.size());
    dialog.move(position);
}
