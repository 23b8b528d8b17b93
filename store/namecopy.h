#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/namesearch.h"
#include "store/text.h"

namespace store {

// A field of a disk held beside its name: a small whole number (-127 to 127: the
// keys of a catalogue's categories and media types, the lent flag) kept exactly, or
// Unknown for anything else (text, a fraction, a larger number, no value), which
// passes every test, so the copy never turns away a row that could match; a larger
// key only narrows less. One byte a field keeps a million disks' fields in 3 MB.
using FieldCode = int8_t;
inline constexpr FieldCode kUnknownCode = std::numeric_limits<FieldCode>::min();
FieldCode fieldCode(int64_t value);
FieldCode fieldCode(double value);

// The disk fields held beside the name: category, media type, lent flag.
enum class CopyField { Category, MediaType, Lent };
inline constexpr size_t kCopyFieldCount = 3;
// Their fields in the disk table, in that order.
inline constexpr std::array<std::string_view, kCopyFieldCount> kCopyFieldNames = {"Kategory", "Tip",
                                                                                  "Dolg"};
using FieldCodes = std::array<FieldCode, kCopyFieldCount>;

struct DiskNameRow {
    int64_t key;
    std::string_view name;  // as stored; folded when it enters the copy
    FieldCodes fields;
};

struct NameBlock;

// A copy of every disk's name, folded as the catalogue's `like` folds it, with the
// category, media type and lent flag beside it, in key order. A copy never changes:
// an update makes a new copy that shares the blocks it does not touch, so a scan
// that is still reading an older copy reads it to its end unchanged.
class NameCopy {
public:
    // Rows must come in rising key order.
    class Builder {
    public:
        Builder();
        ~Builder();
        void add(const DiskNameRow& row);
        size_t rows() const { return rows_; }
        size_t nameBytes() const { return nameBytes_; }
        std::shared_ptr<const NameCopy> finish();

    private:
        void seal();
        std::vector<std::shared_ptr<const NameBlock>> blocks_;
        std::shared_ptr<NameBlock> open_;
        std::string folded_;
        size_t rows_ = 0;
        size_t nameBytes_ = 0;
    };

    NameCopy();
    ~NameCopy();

    // The row added or replaced; the key removed.
    std::shared_ptr<const NameCopy> with(const DiskNameRow& row) const;
    std::shared_ptr<const NameCopy> without(int64_t key) const;

    size_t rows() const;
    size_t memoryBytes() const;

private:
    friend class CandidateScan;
    size_t blockFor(int64_t key) const;
    std::vector<std::shared_ptr<const NameBlock>> blocks_;
};

// What a statement asks of the disks: a `like` pattern on the name and whole
// numbers for the fields, any of them absent.
class NameProbe {
public:
    NameProbe(std::optional<std::string_view> pattern,
              std::array<std::optional<FieldCode>, kCopyFieldCount> fields);

private:
    friend class CandidateScan;
    std::optional<LikePattern> pattern_;
    std::string needle_;       // the pattern's longest literal, as the copy writes names
    bool wholeMatch_ = false;  // each candidate's name is matched against the whole pattern
    // For that match: the pattern's segments as the copy writes names, and the segment
    // with the most fixed bytes as the bytes to seek, a hole for each _ (in a name of
    // one-byte characters only, each _ is one byte).
    std::vector<LikePattern::Segment> segments_;
    std::string anchor_;
    std::string anchorHoles_;
    bool literalsOfOneByte_ = false;  // no literal holds a character of several bytes
    std::array<std::optional<FieldCode>, kCopyFieldCount> fields_;
};

// The keys of the rows in a copy that may satisfy a probe, in rising order, found a
// block at a time as they are asked for. Every row that satisfies it is among them.
class CandidateScan {
public:
    // after: only keys above it.
    CandidateScan(std::shared_ptr<const NameCopy> copy, const NameProbe& probe,
                  namesearch::Path path = namesearch::fastest(),
                  std::optional<int64_t> after = std::nullopt);
    ~CandidateScan();
    // The next key; false after the last.
    bool next(int64_t& key);

private:
    bool fieldsPass(const NameBlock& block, size_t row) const;
    bool nameMatches(const NameBlock& block, size_t row);
    void scanBlock(const NameBlock& block);
    void scanBlockWhole(const NameBlock& block);

    std::shared_ptr<const NameCopy> copy_;
    const NameProbe& probe_;
    namesearch::Path path_;
    bool anyField_ = false;
    size_t block_ = 0;
    std::vector<uint32_t> rows_;  // candidates of the block before block_
    size_t at_ = 0;
    std::optional<int64_t> after_;
    std::vector<uint32_t> passing_;
    std::string collapsed_;
};

}  // namespace store
