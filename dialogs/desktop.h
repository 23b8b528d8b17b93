#pragma once

#include <QUrl>

// Hands addresses to the desktop, which opens them with their default program
// (a mail client for "mailto:", the browser for a web address).
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual bool open(const QUrl& address) = 0;
};

// The desktop in use; the real one unless a test installed its own.
Desktop& desktop();
// Installs a desktop (a test's); nullptr restores the real one. Not owned.
void setDesktop(Desktop* replacement);
