#pragma once

#include <QString>

#include "reports/exporter.h"

class QWidget;

namespace store {
class Query;
}

// Exports and copies from the windows: a file or folder the user picks, a progress
// dialog that can be cancelled, and nothing half-written left under the chosen name.
namespace reports {

// Asks for a CSV, HTML or OpenDocument (.fods) file and writes the rows of source's
// statement there (source itself stays as it is): the list as filtered, which filter
// describes.
void exportWithDialog(QWidget* parent, store::Query& source, const ExportTable& table,
                      const QString& suggestedName, const QString& filter);

// Writes the export to path, the format by its ending (.html or .htm: HTML, .fods:
// OpenDocument, else CSV). False, after telling the user, when it failed or was
// cancelled.
bool exportToPath(QWidget* parent, store::Query& source, const ExportTable& table,
                  const QString& path, const QString& filter = {});

// Asks for a folder and copies the catalogue in use into folder/base, then checks it.
void backupWithDialog(QWidget* parent);
// The same into a given folder. False, after telling the user, when it failed.
bool backupTo(QWidget* parent, const QString& folder);

}  // namespace reports
