#pragma once

#include <QDialog>
#include <QPoint>
#include <QPushButton>
#include <functional>

#include "widgets/guarded.h"

// A dialog that only its buttons close (Escape does nothing and no button is the
// default), shown modally through a hook that tests replace to answer it in place.
template <class Dialog>
class ButtonClosedDialog : public QDialog {
public:
    using QDialog::QDialog;

    std::function<void(Dialog&)> showModal = [](Dialog& dialog) { dialog.exec(); };
    // Shows the dialog modally and returns when it is closed.
    void ShowModal() { showModal(static_cast<Dialog&>(*this)); }

    void reject() override {}
};

// Runs a write of the record the dialog was opened for. Once that record is gone
// (deleted in another program or window) no retry can succeed, and a retry must not
// reach another record: the dialog closes, and the failure goes on to be shown.
template <class Dialog, class Write>
void closingIfRecordGone(Dialog& dialog, Write&& write) {
    try {
        write();
    } catch (const store::Error& e) {
        if (e.kind() == store::Error::Kind::NotFound) dialog.done(QDialog::Rejected);
        throw;
    }
}

// A dialog window as the program lays them out: fixed size at a fixed place on the
// screen, a caption without title-bar buttons.
inline void setFixedDialogWindow(QDialog& dialog, QPoint position) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog.setFixedSize(dialog.size());
    dialog.move(position);
}

// Wires a button of the dialog to its click handler.
template <class Dialog>
void onClick(Dialog* dialog, QPushButton* button, void (Dialog::*handler)()) {
    QObject::connect(button, &QPushButton::clicked, dialog,
                     [dialog, handler] { guarded([dialog, handler] { (dialog->*handler)(); }); });
}
