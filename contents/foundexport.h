#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "reports/exporter.h"
#include "store/filesearchrunner.h"

namespace store {
class Database;
}

// The files "Найти файл" finds, written as the reports write their tables: the window's
// columns, every match (not only those shown), the fragment and narrowing named above
// them in HTML and OpenDocument.
namespace contents {

const reports::ExportTable& foundExport();

// What chose the rows, as a person reads it: the fragment, then the narrowing with the
// category's and media type's names as the reference books hold them.
std::string foundFilter(const store::Database& db, const store::FileQuery& query);

// Writes every match of query on db to out. With progress the matches are counted
// first. Throws store::Error when a statement fails, stopped says stop (asked every few
// hundred steps of SQLite) or out refuses a write; reports::ExportStopped when progress
// said stop.
int64_t exportFound(const store::Database& db, const store::FileQuery& query,
                    reports::Format format, std::ostream& out,
                    const reports::ExportProgress& progress = {},
                    const std::function<bool()>& stopped = {});

}  // namespace contents
