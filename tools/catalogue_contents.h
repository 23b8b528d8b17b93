#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "reports/exporter.h"
#include "store/contentsstore.h"

namespace tools {

// Reads source (a folder, an image, a device) into the contents of disk in dir/base,
// replacing what the disk held only once the read is whole. Throws store::Error or
// store::ReadFailed with a Russian message.
store::StoredVolume scanDisk(const std::filesystem::path& dir, int64_t disk,
                             const std::filesystem::path& source);

// Prints the contents of disk, one line per folder and file (or per track of an audio
// CD), tab-separated; false when the disk has none read.
bool printContents(const std::filesystem::path& dir, int64_t disk, std::ostream& out);

// The contents' export: one row per folder and file (the disk's key and name, the path as
// printContents prints it, the size, the modification time) and per track of an audio CD
// (its number, length in seconds, title and performer).
const reports::ExportTable& contentsExport();

// Writes the contents of every disk read, by key, or of disk alone, as contentsExport's
// rows. Throws store::Error (a disk the catalogue lacks), reports::ExportStopped.
int64_t exportContents(const store::Database& db, std::optional<int64_t> disk,
                       reports::Format format, std::ostream& out,
                       const reports::ExportProgress& progress, const reports::ExportNote& note);

// Prints the folders and files of every disk whose name holds fragment (store::FileSearch),
// one line each, tab-separated: the disk's key, its name, the path as printContents
// prints it and the size (folders: empty). Returns how many.
int64_t printFound(const std::filesystem::path& dir, std::string_view fragment, std::ostream& out);

// A name as a line shows it: a tab, line break and backslash as \t, \n, \\, and bytes
// that are not UTF-8 as \xHH.
std::string escapedName(std::string_view bytes);

}  // namespace tools
