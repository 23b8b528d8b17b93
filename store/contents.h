#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// What is on a disk: the facts of its volume, its tree of folders and files and, for an
// audio CD, its tracks. A reader of a source (a folder, an image, a drive) hands them to
// a ContentsSink as it finds them; the store's writer is one such sink.
namespace store {

// The sixth file beside the five, owned by the disks' contents; a catalogue without it
// opens and works, its disks simply have no contents yet.
inline constexpr std::string_view kContentsFileName = "CDFiles.db";

enum class SourceKind { Folder, Mount, Image, Drive };

struct VolumeFacts {
    SourceKind kind = SourceKind::Folder;
    std::string origin;      // the folder, image or device read, as the user named it
    std::string label;       // the volume label, UTF-8; empty when it has none
    std::string fileSystem;  // "iso9660", "udf", "ext4", "cdda", ...
    std::optional<int64_t> capacity;   // bytes
    std::optional<int64_t> freeSpace;  // bytes
    std::string discId;            // audio CD: the MusicBrainz disc id
    std::string catalogueNumber;   // audio CD: the media catalogue number (MCN)
};

// Marks on an entry that a reader could not take as an ordinary folder or file; the
// entry is kept all the same.
enum EntryMark : unsigned {
    kUnreadable = 1u << 0,   // its contents or facts could not be read
    kLink = 1u << 1,         // a symbolic link, not followed
    kLinkLoop = 1u << 2,     // a link back into its own tree
    kNotUtf8 = 1u << 3,      // the name's bytes are not UTF-8; kept exactly
    kSpecial = 1u << 4,      // a device, pipe or socket
};

// A folder as the sink numbered it; kRootFolder is the disk's root.
using FolderId = int64_t;
inline constexpr FolderId kRootFolder = 0;

struct Track {
    int number = 0;
    int64_t sectors = 0;  // 75 to a second
    std::string title;      // CD-TEXT, UTF-8; empty when the disc has none
    std::string performer;  // CD-TEXT, UTF-8
};

// A reader's destination. Names are handed as the bytes the disk holds (UTF-8 where
// the format says so, already decoded from UCS-2 for Joliet); a name that is not UTF-8
// is kept as it is and marked kNotUtf8.
class ContentsSink {
public:
    virtual ~ContentsSink() = default;
    virtual void volume(const VolumeFacts& facts) = 0;
    // modified: seconds since 1970 UTC, when the source says.
    virtual FolderId folder(FolderId parent, std::string_view name,
                            std::optional<int64_t> modified, unsigned marks) = 0;
    virtual void file(FolderId parent, std::string_view name, std::optional<int64_t> size,
                      std::optional<int64_t> modified, unsigned marks) = 0;
    virtual void track(const Track& track) = 0;
    // Asked between entries: true stops the read, which then throws ReadStopped.
    virtual bool stopRequested() const { return false; }
};

// A source that cannot be read at all (missing, not an image, no disc in the drive):
// the message is Russian and names the source.
class ReadFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class ReadStopped : public std::runtime_error {
public:
    ReadStopped() : std::runtime_error("Чтение остановлено") {}
};

}  // namespace store
