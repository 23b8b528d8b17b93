#pragma once

#include <QStringList>

class ListQuery;
class QObject;

// The statement lines of a window's list query as laid out beside the window's
// layout (resources/<window>.queries.json), blanks at the line ends included.
QStringList layoutQueryLines(const QString& window, const QString& query);

// A list query of a window, named query and with its statement as laid out; closed.
ListQuery* createLayoutListQuery(const QString& window, const QString& query, QObject* owner);

// Registers the layouts and pictures compiled into the program.
void initResources();
