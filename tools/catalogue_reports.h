#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "reports/exporter.h"
#include "store/readmoment.h"

namespace tools {

enum class ExportWhat { Disks, Loans, Contents };

// Writes the whole disk list, the whole loan history (overdue counted from today at the
// default limit) or the disks' contents (of disk alone when given) of dir/base to out,
// all as of one moment, which waits for writers as wait allows; CSV begins with the
// byte-order mark unless told not to. Returns the rows written; throws store::Error.
long long exportCatalogue(const std::filesystem::path& dir, ExportWhat what, reports::Format format,
                          std::ostream& out, const reports::ExportProgress& progress = {},
                          const store::WaitWhileBusy& wait = {}, bool byteOrderMark = true,
                          std::optional<int64_t> disk = std::nullopt);

// Writes the export into file through a temporary file beside it, renamed only when
// complete: a failed export leaves no file under that name. A device or pipe is
// written directly. A file of the catalogue, or any file in its folder, is refused.
long long exportCatalogueToFile(const std::filesystem::path& dir, ExportWhat what,
                                reports::Format format, const std::filesystem::path& file,
                                const reports::ExportProgress& progress = {},
                                const store::WaitWhileBusy& wait = {}, bool byteOrderMark = true,
                                std::optional<int64_t> disk = std::nullopt);

}  // namespace tools
