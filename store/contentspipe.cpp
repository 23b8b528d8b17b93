#include "store/contentspipe.h"

#include <string>
#include <variant>
#include <vector>

#include "store/contentsstore.h"

namespace store {
namespace {

// Entries a batch holds, and batches the queue holds: a few hundred KB at most.
constexpr size_t kBatchEntries = 2048;
constexpr size_t kQueuedBatches = 4;

struct EntryItem {
    FolderId parent;
    uint32_t nameAt;
    uint32_t nameLength;
    std::optional<int64_t> size;
    std::optional<int64_t> modified;
    unsigned marks;
    bool folder;
};

}  // namespace

struct BackgroundContentsWriter::Batch {
    std::vector<std::variant<EntryItem, Track, VolumeFacts>> items;
    std::string names;  // the entries' names, one after another
    bool full() const { return items.size() >= kBatchEntries; }
};

BackgroundContentsWriter::BackgroundContentsWriter(const Database& db, int64_t disk)
    : db_(db), disk_(disk), filling_(std::make_unique<Batch>()) {
    thread_ = std::thread([this] { write(); });
}

BackgroundContentsWriter::~BackgroundContentsWriter() {
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void BackgroundContentsWriter::volume(const VolumeFacts& facts) {
    filling_->items.emplace_back(facts);
    if (filling_->full()) push();
}

FolderId BackgroundContentsWriter::folder(FolderId parent, std::string_view name,
                                          std::optional<int64_t> modified, unsigned marks) {
    filling_->items.emplace_back(EntryItem{parent, static_cast<uint32_t>(filling_->names.size()),
                                           static_cast<uint32_t>(name.size()), std::nullopt,
                                           modified, marks, true});
    filling_->names.append(name);
    if (filling_->full()) push();
    return ++lastFolder_;
}

void BackgroundContentsWriter::file(FolderId parent, std::string_view name,
                                    std::optional<int64_t> size, std::optional<int64_t> modified,
                                    unsigned marks) {
    filling_->items.emplace_back(EntryItem{parent, static_cast<uint32_t>(filling_->names.size()),
                                           static_cast<uint32_t>(name.size()), size, modified,
                                           marks, false});
    filling_->names.append(name);
    if (filling_->full()) push();
}

void BackgroundContentsWriter::track(const Track& track) {
    filling_->items.emplace_back(track);
    if (filling_->full()) push();
}

bool BackgroundContentsWriter::stopRequested() const {
    const std::lock_guard lock(mutex_);
    return failed_;
}

void BackgroundContentsWriter::push() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < kQueuedBatches || failed_; });
    if (!failed_) queue_.push_back(std::move(filling_));
    lock.unlock();
    changed_.notify_all();
    filling_ = std::make_unique<Batch>();
}

void BackgroundContentsWriter::rethrowFailure() {
    const std::lock_guard lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
}

void BackgroundContentsWriter::commit() {
    if (!filling_->items.empty()) push();
    {
        const std::lock_guard lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
    thread_.join();
    rethrowFailure();
    writer_->commit();
}

// The writing thread: opens the write (which takes out the replaced contents), then writes
// each batch as it comes, mapping the queue's folder ids to the store's.
void BackgroundContentsWriter::write() {
    try {
        writer_ = std::make_unique<ContentsWriter>(db_, disk_);
        std::vector<FolderId> stored{kRootFolder};
        for (;;) {
            std::unique_ptr<Batch> batch;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return abandoned_ || ended_ || !queue_.empty(); });
                if (abandoned_ || queue_.empty()) return;
                batch = std::move(queue_.front());
                queue_.pop_front();
            }
            changed_.notify_all();
            for (const auto& item : batch->items) {
                if (const auto* e = std::get_if<EntryItem>(&item)) {
                    const std::string_view name(batch->names.data() + e->nameAt, e->nameLength);
                    const FolderId parent = stored.at(static_cast<size_t>(e->parent));
                    if (e->folder)
                        stored.push_back(writer_->folder(parent, name, e->modified, e->marks));
                    else
                        writer_->file(parent, name, e->size, e->modified, e->marks);
                } else if (const auto* t = std::get_if<Track>(&item)) {
                    writer_->track(*t);
                } else {
                    writer_->volume(std::get<VolumeFacts>(item));
                }
            }
        }
    } catch (...) {
        {
            const std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            failed_ = true;
            queue_.clear();
        }
        changed_.notify_all();
    }
}

}  // namespace store
