#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

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

// Prints the folders and files of every disk whose name holds fragment (store::FileSearch),
// one line each, tab-separated: the disk's key, its name, the path as printContents
// prints it and the size (folders: empty). Returns how many.
int64_t printFound(const std::filesystem::path& dir, std::string_view fragment, std::ostream& out);

// A name as a line shows it: a tab, line break and backslash as \t, \n, \\, and bytes
// that are not UTF-8 as \xHH.
std::string escapedName(std::string_view bytes);

}  // namespace tools
