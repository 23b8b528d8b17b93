#pragma once

#include <QStringList>

// The statement lines of a window's list query as laid out beside the window's
// layout (resources/<window>.queries.json), blanks at the line ends included.
QStringList layoutQueryLines(const QString& window, const QString& query);

// Registers the layouts and pictures compiled into the program.
void initResources();
