#pragma once

#include <QIcon>
#include <QStringList>

class ListQuery;
class QObject;
class QWidget;

// The statement lines of a window's list query as laid out beside the window's
// layout (resources/<window>.queries.json), blanks at the line ends included.
QStringList layoutQueryLines(const QString& window, const QString& query);

// A list query of a window, named query, with its statement and key field as laid out
// (the "keys" of the same file); closed.
ListQuery* createLayoutListQuery(const QString& window, const QString& query, QObject* owner);

// Registers the layouts and pictures compiled into the program, and the stand-ins
// for the layouts' fonts.
void initResources();

// Gives every widget under root (root included) that carries the dynamic property
// fontPixelSize its font in that many pixels: layouts are measured in pixels, and a
// .ui font knows only points.
void applyLayoutFonts(QWidget* root);

// The program icon with all its sizes, 16 to 128 pixels.
QIcon programIcon();
