#pragma once

#include <filesystem>

#include "store/contents.h"

// The readers of a disk's contents: each walks its source and hands what it finds to the
// sink, throwing store::ReadFailed (a Russian message naming the source) when the source
// cannot be read at all and store::ReadStopped when the sink asked to stop. Entries that
// cannot be read are handed marked, never dropped, and never stop the read.
namespace contents {

// Whatever source names: a folder or mount point, an ISO 9660 or UDF image, a CUE sheet
// (an audio CD's image), or a device (an optical drive).
void readSource(const std::filesystem::path& source, store::ContentsSink& sink);

// A folder or a mounted disc: the tree under it, links not followed; the volume's facts
// from the mount that holds it.
void readFolder(const std::filesystem::path& folder, store::ContentsSink& sink);

// An ISO 9660 image (Joliet and Rock Ridge names), or a data disc in a drive read as one;
// a UDF image where the libraries can.
void readDiscImage(const std::filesystem::path& image, store::ContentsSink& sink,
                   store::SourceKind kind = store::SourceKind::Image);

// An audio CD in a drive, or its image as a CUE sheet with its BIN: tracks, lengths,
// CD-TEXT, the disc id and the media catalogue number.
void readAudioDisc(const std::filesystem::path& cueOrDevice, store::ContentsSink& sink,
                   store::SourceKind kind = store::SourceKind::Image);

}  // namespace contents
