#pragma once

#include <QString>
#include <filesystem>
#include <functional>
#include <ostream>

#include "reports/exporter.h"
#include "store/readmoment.h"

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

// What an export on a thread of its own is handed beside its format and stream, each
// saying false once the user has cancelled.
struct WorkerHooks {
    ExportProgress progress;                // after every row
    std::function<bool()> stopped;          // now and then, between rows too
    store::WaitWhileBusy waitForCatalogue;  // while another program keeps the catalogue busy
};

// Writes one export on a thread of its own, over a connection of its own that it opens.
using ExportWork =
    std::function<int64_t(Format format, std::ostream& out, const WorkerHooks& hooks)>;

// Asks for the file as exportWithDialog does and writes work's export there as
// exportToPath does (progress, cancel, nothing half-written, the result box over parent);
// the window stays drawn while the work runs. baseDir: the catalogue, not to be written
// over.
void exportOnWorkerWithDialog(QWidget* parent, const std::filesystem::path& baseDir,
                              const ExportWork& work, const QString& title,
                              const QString& suggestedName);
bool exportOnWorker(QWidget* parent, const std::filesystem::path& baseDir, const ExportWork& work,
                    const QString& path);

// Asks for a folder and copies the catalogue in use into folder/base, then checks it.
void backupWithDialog(QWidget* parent);
// The same into a given folder. False, after telling the user, when it failed.
bool backupTo(QWidget* parent, const QString& folder);

}  // namespace reports
