#pragma once

#include <filesystem>
#include <vector>

namespace store {

// A file or folder that a command writes (an export, a copy, a backup), written under a
// temporary name beside its finished one and put in place only once complete and synced,
// so nothing under a finished name is ever half-made. While it is written, its writer
// holds a lock on it: the parts of runs that were killed hold none, and the next run
// removes them (removeKilledParts).
class PartPath {
public:
    enum class Kind { File, Folder };

    // Makes the part (an empty file or folder) beside finished, and locks it. Throws
    // store::Error naming the folder when it cannot be made.
    PartPath(std::filesystem::path finished, Kind kind);
    ~PartPath();  // removes the part unless it was handed over
    PartPath(const PartPath&) = delete;
    PartPath& operator=(const PartPath&) = delete;

    const std::filesystem::path& path() const { return part_; }
    const std::filesystem::path& finished() const { return finished_; }

    // Syncs the part (a folder: every file in it too) and renames it to the finished
    // name, or to as where given: a file replaces one there, a folder never does. Throws
    // store::Error.
    void handOver(const std::filesystem::path& as = {});

private:
    std::filesystem::path finished_;
    std::filesystem::path part_;
    Kind kind_;
    int lock_ = -1;
    bool handedOver_ = false;
};

// The parts that killed runs left beside finished (named as PartPath names them, their
// lock held by nobody), removed; returns what was removed.
std::vector<std::filesystem::path> removeKilledParts(const std::filesystem::path& finished);

// Where a write to path lands: a symbolic link is followed to the file it names (as cp
// writes through a link), so the link stays and its target gets the new contents.
std::filesystem::path throughLinks(const std::filesystem::path& path);

}  // namespace store
