#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "store/contents.h"

namespace store {

class ContentsWriter;
class Database;

// A ContentsWriter on a thread of its own, fed through a short queue: the walk of a tree
// and the writing of what it finds (the names' index above all) share the two cores, and
// a re-read's removal of the replaced contents runs while the walk has begun. Folder ids
// handed back are the queue's own; the writing thread maps them to the store's. Memory
// stays bounded: the walk waits when the queue is full.
class BackgroundContentsWriter final : public ContentsSink {
public:
    BackgroundContentsWriter(const Database& db, int64_t disk);
    // Without commit() the disk keeps its previous contents.
    ~BackgroundContentsWriter() override;

    void volume(const VolumeFacts& facts) override;
    FolderId folder(FolderId parent, std::string_view name, std::optional<int64_t> modified,
                    unsigned marks) override;
    void file(FolderId parent, std::string_view name, std::optional<int64_t> size,
              std::optional<int64_t> modified, unsigned marks) override;
    void track(const Track& track) override;
    // True once the writing has failed: the walk need not go on.
    bool stopRequested() const override;

    // Throws what made the writing fail, if anything did.
    void rethrowFailure();
    // Writes what is still queued and commits; throws what made the writing fail.
    void commit();

private:
    struct Batch;
    void push();
    void write();

    const Database& db_;
    const int64_t disk_;
    std::unique_ptr<Batch> filling_;
    FolderId lastFolder_ = kRootFolder;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> queue_;
    bool ended_ = false;      // nothing more comes: write what is queued and stop
    bool abandoned_ = false;  // stop at once, commit nothing
    bool failed_ = false;
    std::exception_ptr failure_;
    std::unique_ptr<ContentsWriter> writer_;
    std::thread thread_;
};

// Runs `read`, which hands its finds on to `writer`; a read the writing's failure stopped
// throws that failure rather than ReadStopped.
template <class Read>
void readThrough(BackgroundContentsWriter& writer, Read&& read) {
    try {
        read();
    } catch (const ReadStopped&) {
        writer.rethrowFailure();
        throw;
    }
}

}  // namespace store
