#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "statements/commands.h"
#include "store/query.h"

class ListQuery;

// How the commands drive the command query: every write and in-use count of the
// program runs through these.
namespace command {

using Parameters = std::function<void(store::Query&)>;

// One write: close, clear, add the lines, set the parameters, execute, close.
void execute(store::Query& query, const statements::Lines& lines,
             const Parameters& parameters = {});
// A write of one row by its key. When it changes no row (another program or window
// deleted the row meanwhile) it fails with missing, a store::Error of kind NotFound, and
// the windows' lists are read anew, so the row is gone from them too.
void executeByKey(store::Query& query, const statements::Lines& lines, const QString& missing,
                  const Parameters& parameters = {});

// An in-use count: the lines opened as a result; returns the text of column. The
// query stays open on the count, its statement let go: a statement left part way
// would keep its tables' read lock for as long as the window sits idle.
QString count(store::Query& query, const statements::Lines& lines, std::string_view column);

// Runs work as one unit on the catalogue: if any statement in it fails, none of
// them stays done.
void asOneUnit(const std::function<void()>& work);

// A text to splice between single quotes: every quote in it doubled (and a NUL
// joined on as char(0)), so the literal holds the text exactly as typed.
QString quotedLiteral(const QString& text);

// True, after telling the user message, when list has no row to act on.
bool refuseEmpty(const ListQuery& list, const QString& message);

// Refusals in the program's own words.
QString emptyDiskList();
QString emptyCategories();
QString emptyMediaTypes();
QString emptyDebtors();
QString missingDisk();

}  // namespace command
