#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/contents.h"

namespace store {

class Database;

// The schema under which the catalogue's connection attaches the sixth file.
inline constexpr std::string_view kContentsSchema = "cdfiles_db";
// A table of the sixth file as named on the catalogue's connection.
std::string contentsTable(std::string_view name);
// The sixth file's name, as errors of statements over it name their files.
const std::vector<std::string>& contentsFiles();

// Makes base/CDFiles.db with its empty tables unless it is there already.
void createContentsFile(const std::filesystem::path& baseDir);
// The statements that make the sixth file's tables (on a connection where it is main).
std::string_view contentsTablesSql();
// A TEMP trigger on the catalogue's connection: a disk's delete takes its contents with it
// in the same transaction (the program's delete statement stays as it is).
std::string_view contentsFollowDiskSql();
// What is wrong with the sixth file's rows (attached on db); empty when all is well.
std::vector<std::string> contentsProblems(const Database& db);
// Removes the contents of disks the catalogue no longer has; returns how many disks.
int64_t removeOrphanContents(const Database& db);

// The file names' index (store/filesearch.h): the statement that makes it, whether the
// attached sixth file has it, what is wrong with it, and its rebuild from the entries.
std::string_view fileNameIndexSql();
bool hasFileNameIndex(const Database& db);
std::optional<std::string> fileNameIndexProblem(const Database& db);
void rebuildFileNameIndex(const Database& db);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool isUtf8(std::string_view bytes);

// A disk's volume as its last read left it.
struct StoredVolume {
    VolumeFacts facts;
    std::string readAt;  // "YYYY-MM-DD HH:MM:SS", local time of the read
    int64_t folders = 0;
    int64_t files = 0;
    int64_t unreadable = 0;  // entries marked kUnreadable
    int64_t bytes = 0;       // the files' sizes summed
};

struct StoredEntry {
    int64_t id = 0;
    FolderId parent = kRootFolder;
    std::string name;  // the bytes as read
    bool folder = false;
    std::optional<int64_t> size;  // a folder's: what is under it, summed
    std::optional<int64_t> modified;
    unsigned marks = 0;
};

// Reads the disks' contents from the sixth file; a catalogue without it has none.
class ContentsReader {
public:
    explicit ContentsReader(const Database& db);
    // The disks whose contents were read, by key.
    std::vector<int64_t> disksRead() const;
    std::optional<StoredVolume> volume(int64_t disk) const;
    // A folder's entries: folders first, then files, each by name.
    std::vector<StoredEntry> children(int64_t disk, FolderId folder) const;
    std::vector<Track> tracks(int64_t disk) const;
    // Every entry of the disk, a folder before what is under it, with its path from the
    // root ("a/b/c", names' bytes as read); the callback returns false to stop.
    void forEachEntry(
        int64_t disk,
        const std::function<bool(const std::string& path, const StoredEntry&)>& each) const;

private:
    const Database& db_;
};

// Replaces a disk's contents with what a reader hands it, in one transaction: until
// commit() nothing of the new read is seen and the previous contents stay whole; a writer
// destroyed without commit() (a stop, a failure, a crash) leaves them as they were. Makes
// the sixth file first when the catalogue has none. It writes on a connection of its own
// and may live on a thread of its own; the catalogue is only asked for its folder, and
// after commit() to attach a sixth file it has just made.
class ContentsWriter : public ContentsSink {
public:
    // Off: the commit does not wait for the disk (a demo made from nothing).
    enum class Sync { Full, Off };
    ContentsWriter(const Database& db, int64_t disk, Sync sync = Sync::Full);
    ~ContentsWriter() override;
    void volume(const VolumeFacts& facts) override;
    FolderId folder(FolderId parent, std::string_view name, std::optional<int64_t> modified,
                    unsigned marks) override;
    void file(FolderId parent, std::string_view name, std::optional<int64_t> size,
              std::optional<int64_t> modified, unsigned marks) override;
    void track(const Track& track) override;
    void commit();

    int64_t folders() const;
    int64_t files() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace store
