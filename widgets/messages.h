#pragma once

#include <QString>

class QWidget;

// Every message box of the program goes through here, so tests can answer them. A box
// comes up in front of parent, the window it speaks for; without one, in front of the
// active window.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Plain box: the text, one "OK", no icon, captioned with the program's title.
    virtual void information(const QString& text, QWidget* parent = nullptr) = 0;
    // Question box captioned "Confirm": "&Yes" (default) and "&No"; Escape answers No.
    virtual bool confirm(const QString& text, QWidget* parent = nullptr) = 0;
    // The error box for a failed command or a failure at start.
    virtual void error(const QString& text, QWidget* parent = nullptr) = 0;
};

// The boxes in use; the real ones unless a test installed its own.
MessageBoxes& messages();
// Installs boxes (a test's); nullptr restores the real ones. Not owned.
void setMessages(MessageBoxes* boxes);

// The program's title: the executable's file name without its extension.
QString applicationTitle();
