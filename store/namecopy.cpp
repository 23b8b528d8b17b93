#include "store/namecopy.h"

#include <algorithm>
#include <cmath>

namespace store {

namespace {

// Rows per block: a block is searched whole, so it is what a scan reads ahead of the
// rows asked for.
constexpr size_t kBlockRows = 1024;
constexpr char kSeparator = '\xFF';  // no folded text holds it
constexpr uint64_t kOffsetRange = uint64_t(1) << 32;

// How far key lies above base, for any two keys SQLite can store (-2^63 to 2^63-1): in
// uint64_t, where the difference cannot overflow as it would in int64_t.
uint64_t distance(int64_t base, int64_t key) {
    return static_cast<uint64_t>(key) - static_cast<uint64_t>(base);
}

// Characters of titles besides the Cyrillic letters, folded, that the copy writes as one
// byte each, 0xB0 on: dashes, quotes, the ellipsis, the number sign, common accented
// Latin letters. A name of such characters, Cyrillic and ASCII is matched byte by byte.
constexpr std::string_view kOneByteSigns[] = {"\u2014", "\u2013", "\u00AB", "\u00BB", "\u201C",
                                              "\u201D", "\u201E", "\u2026", "\u2116", "\u00E9",
                                              "\u00E8", "\u00E0", "\u00FC", "\u00F6", "\u00E4"};
constexpr unsigned char kFirstSignCode = 0xB0;
// No character is written as this byte: a name's longer character stands as it.
constexpr char kOtherCharacter = '\xBF';

// The copy writes the folded names with each small Cyrillic letter (а to я, ѐ to џ:
// what every Cyrillic capital folds to) as one byte, 0x80 to 0xAF, and each of the
// signs above as one byte, instead of two or three; all else stays UTF-8. That halves a
// Russian name. A character and a needle are written alike, so a name holds the needle
// whenever its folded text holds the literal; a byte of a longer character may look
// like such a character, which only makes one more candidate for the `like` to turn
// down.
void compact(std::string_view folded, std::string& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(folded.data());
    const size_t n = folded.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (i + 1 < n && b == 0xD0 && p[i + 1] >= 0xB0 && p[i + 1] <= 0xBF) {
            out.push_back(static_cast<char>(0x80 + (p[++i] - 0xB0)));
            continue;
        }
        if (i + 1 < n && b == 0xD1 && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F) {
            out.push_back(static_cast<char>(0x90 + (p[++i] - 0x80)));
            continue;
        }
        bool sign = false;
        if (b == 0xC2 || b == 0xC3 || b == 0xE2) {
            for (size_t k = 0; k < std::size(kOneByteSigns) && !sign; ++k) {
                if (folded.substr(i, kOneByteSigns[k].size()) != kOneByteSigns[k]) continue;
                out.push_back(static_cast<char>(kFirstSignCode + k));
                i += kOneByteSigns[k].size() - 1;
                sign = true;
            }
        }
        if (!sign) out.push_back(static_cast<char>(b));
    }
}

// True when every character of a name as the copy writes it is one byte.
bool oneByteCharacters(std::string_view name) {
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
}

}  // namespace

FieldCode fieldCode(int64_t value) {
    const bool fits = value > kUnknownCode && value <= std::numeric_limits<FieldCode>::max();
    return fits ? static_cast<FieldCode>(value) : kUnknownCode;
}

FieldCode fieldCode(double value) {
    if (!(std::abs(value) < 1e9) || std::trunc(value) != value) return kUnknownCode;
    return fieldCode(static_cast<int64_t>(value));
}

// Up to about kBlockRows rows in rising key order: keys, fields, and the names one
// after another, each followed by the separator.
struct NameBlock {
    int64_t firstKey = 0;
    std::vector<uint32_t> keyOffsets;  // empty while the keys run firstKey, firstKey + 1, ...
    std::array<std::vector<FieldCode>, kCopyFieldCount> fields;
    std::vector<uint32_t> nameEnds;  // where each name ends (its separator)
    std::string names;

    size_t size() const { return nameEnds.size(); }
    int64_t key(size_t i) const {
        const uint64_t offset = keyOffsets.empty() ? i : keyOffsets[i];
        return static_cast<int64_t>(static_cast<uint64_t>(firstKey) + offset);
    }
    size_t nameStart(size_t i) const { return i == 0 ? 0 : nameEnds[i - 1] + 1; }
    std::string_view name(size_t i) const {
        return std::string_view(names).substr(nameStart(i), nameEnds[i] - nameStart(i));
    }
    // The first row whose key is key or above.
    size_t lowerBound(int64_t k) const {
        size_t lo = 0, hi = size();
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (key(mid) < k)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    bool fits(int64_t k) const {
        const int64_t low = std::min(k, size() ? firstKey : k);
        const int64_t high = std::max(k, size() ? key(size() - 1) : k);
        return distance(low, high) < kOffsetRange;
    }
    void spellOutKeys() {
        if (!keyOffsets.empty() || size() == 0) return;
        keyOffsets.resize(size());
        for (size_t i = 0; i < size(); ++i) keyOffsets[i] = static_cast<uint32_t>(i);
    }
    // Inserts at row i (keys stay in order); the key must fit the block.
    void insert(size_t i, int64_t k, std::string_view name, const FieldCodes& codes) {
        if (size() == 0) firstKey = k;
        const bool dense = keyOffsets.empty() && i == size() && distance(firstKey, k) == size();
        if (!dense) {
            spellOutKeys();
            if (k < firstKey) {
                for (uint32_t& offset : keyOffsets)
                    offset += static_cast<uint32_t>(distance(k, firstKey));
                firstKey = k;
            }
            keyOffsets.insert(keyOffsets.begin() + i, static_cast<uint32_t>(distance(firstKey, k)));
        }
        for (size_t f = 0; f < kCopyFieldCount; ++f)
            fields[f].insert(fields[f].begin() + i, codes[f]);
        const size_t start = nameStart(i);
        std::string entry(name);
        entry.push_back(kSeparator);
        names.insert(start, entry);
        nameEnds.insert(nameEnds.begin() + i, static_cast<uint32_t>(start + name.size()));
        for (size_t j = i + 1; j < size(); ++j) nameEnds[j] += static_cast<uint32_t>(entry.size());
    }
    void replace(size_t i, std::string_view name, const FieldCodes& codes) {
        for (size_t f = 0; f < kCopyFieldCount; ++f) fields[f][i] = codes[f];
        const size_t start = nameStart(i);
        const size_t oldSize = nameEnds[i] - start;
        names.replace(start, oldSize, name);
        const auto shift = static_cast<uint32_t>(name.size() - oldSize);  // wraps as it should
        for (size_t j = i; j < size(); ++j) nameEnds[j] += shift;
    }
    void erase(size_t i) {
        spellOutKeys();
        const size_t start = nameStart(i);
        const size_t removed = nameEnds[i] - start + 1;
        names.erase(start, removed);
        for (size_t j = i + 1; j < size(); ++j) nameEnds[j] -= static_cast<uint32_t>(removed);
        nameEnds.erase(nameEnds.begin() + i);
        keyOffsets.erase(keyOffsets.begin() + i);
        for (auto& f : fields) f.erase(f.begin() + i);
    }
    void shrink() {
        keyOffsets.shrink_to_fit();
        for (auto& f : fields) f.shrink_to_fit();
        nameEnds.shrink_to_fit();
        names.shrink_to_fit();
    }
    size_t memoryBytes() const {
        size_t bytes = sizeof(NameBlock) + 16 + keyOffsets.capacity() * sizeof(uint32_t) +
                       nameEnds.capacity() * sizeof(uint32_t) + names.capacity();
        for (const auto& f : fields) bytes += f.capacity() * sizeof(FieldCode);
        return bytes;
    }
};

NameCopy::Builder::Builder() = default;
NameCopy::Builder::~Builder() = default;

void NameCopy::Builder::seal() {
    if (!open_) return;
    open_->shrink();
    blocks_.push_back(std::move(open_));
    open_.reset();
}

void NameCopy::Builder::add(const DiskNameRow& row) {
    if (open_ && (open_->size() >= kBlockRows || !open_->fits(row.key))) seal();
    if (!open_) {
        open_ = std::make_shared<NameBlock>();
        open_->nameEnds.reserve(kBlockRows);
        for (auto& f : open_->fields) f.reserve(kBlockRows);
    }
    std::string compacted;
    likeFold(row.name, folded_);
    compact(folded_, compacted);
    open_->insert(open_->size(), row.key, compacted, row.fields);
    ++rows_;
    nameBytes_ += compacted.size() + 1;
}

std::shared_ptr<const NameCopy> NameCopy::Builder::finish() {
    seal();
    auto copy = std::make_shared<NameCopy>();
    copy->blocks_ = std::move(blocks_);
    copy->blocks_.shrink_to_fit();
    return copy;
}

NameCopy::NameCopy() = default;
NameCopy::~NameCopy() = default;

size_t NameCopy::blockFor(int64_t key) const {
    const auto after =
        std::upper_bound(blocks_.begin(), blocks_.end(), key,
                         [](int64_t k, const auto& block) { return k < block->firstKey; });
    return after == blocks_.begin() ? 0 : static_cast<size_t>(after - blocks_.begin()) - 1;
}

std::shared_ptr<const NameCopy> NameCopy::with(const DiskNameRow& row) const {
    std::string folded, compacted;
    likeFold(row.name, folded);
    compact(folded, compacted);
    auto copy = std::make_shared<NameCopy>(*this);
    auto& blocks = copy->blocks_;
    if (blocks.empty()) blocks.push_back(std::make_shared<NameBlock>());
    const size_t b = blockFor(row.key);
    auto block = std::make_shared<NameBlock>(*blocks[b]);
    const size_t i = block->lowerBound(row.key);
    if (i < block->size() && block->key(i) == row.key) {
        block->replace(i, compacted, row.fields);
    } else if (block->fits(row.key)) {
        block->insert(i, row.key, compacted, row.fields);
    } else {  // too far from the block's keys: a block of its own
        auto single = std::make_shared<NameBlock>();
        single->insert(0, row.key, compacted, row.fields);
        const bool before = row.key < block->firstKey;
        blocks.insert(blocks.begin() + static_cast<ptrdiff_t>(before ? b : b + 1),
                      std::move(single));
        return copy;
    }
    if (block->size() >= 2 * kBlockRows) {  // split, so that an update copies little
        auto upper = std::make_shared<NameBlock>();
        const size_t half = block->size() / 2;
        for (size_t j = half; j < block->size(); ++j) {
            FieldCodes codes;
            for (size_t f = 0; f < kCopyFieldCount; ++f) codes[f] = block->fields[f][j];
            upper->insert(upper->size(), block->key(j), block->name(j), codes);
        }
        while (block->size() > half) block->erase(block->size() - 1);
        blocks.insert(blocks.begin() + static_cast<ptrdiff_t>(b + 1), std::move(upper));
    }
    blocks[b] = std::move(block);
    return copy;
}

std::shared_ptr<const NameCopy> NameCopy::without(int64_t key) const {
    auto copy = std::make_shared<NameCopy>(*this);
    if (blocks_.empty()) return copy;
    const size_t b = blockFor(key);
    const size_t i = blocks_[b]->lowerBound(key);
    if (i >= blocks_[b]->size() || blocks_[b]->key(i) != key) return copy;
    auto block = std::make_shared<NameBlock>(*blocks_[b]);
    block->erase(i);
    if (block->size() == 0)
        copy->blocks_.erase(copy->blocks_.begin() + static_cast<ptrdiff_t>(b));
    else
        copy->blocks_[b] = std::move(block);
    return copy;
}

size_t NameCopy::rows() const {
    size_t n = 0;
    for (const auto& block : blocks_) n += block->size();
    return n;
}

size_t NameCopy::memoryBytes() const {
    size_t bytes = sizeof(NameCopy) + blocks_.capacity() * sizeof(blocks_[0]);
    for (const auto& block : blocks_) bytes += block->memoryBytes();
    return bytes;
}

NameProbe::NameProbe(std::optional<std::string_view> pattern,
                     std::array<std::optional<FieldCode>, kCopyFieldCount> fields)
    : fields_(fields) {
    if (!pattern) return;
    pattern_.emplace(*pattern);
    segments_ = pattern_->segments();
    std::string compacted;
    size_t anchorFixed = 0;
    for (LikePattern::Segment& segment : segments_) {
        std::string bytes, holes;
        size_t fixed = 0;
        for (LikePattern::Piece& piece : segment) {
            compact(piece.literal, compacted);
            piece.literal = compacted;
            if (compacted.size() > needle_.size()) needle_ = compacted;
            if (!bytes.empty() || piece.literal.empty()) {
                bytes.append(static_cast<size_t>(piece.anyBefore), '\0');
                holes.append(static_cast<size_t>(piece.anyBefore), '\1');
            }
            bytes += piece.literal;
            holes.append(piece.literal.size(), '\0');
            fixed += piece.literal.size();
        }
        while (!holes.empty() && holes.back()) {  // the anchor ends on a fixed byte
            holes.pop_back();
            bytes.pop_back();
        }
        if (fixed > anchorFixed) {
            anchorFixed = fixed;
            anchor_ = std::move(bytes);
            anchorHoles_ = std::move(holes);
        }
    }
    wholeMatch_ = !pattern_->isContains();
    literalsOfOneByte_ = std::all_of(segments_.begin(), segments_.end(), [](const auto& segment) {
        return std::all_of(segment.begin(), segment.end(),
                           [](const auto& piece) { return oneByteCharacters(piece.literal); });
    });
}

CandidateScan::CandidateScan(std::shared_ptr<const NameCopy> copy, const NameProbe& probe,
                             namesearch::Path path, std::optional<int64_t> after)
    : copy_(std::move(copy)), probe_(probe), path_(path), after_(after) {
    for (const auto& f : probe_.fields_) anyField_ = anyField_ || f.has_value();
    if (after_ && !copy_->blocks_.empty()) block_ = copy_->blockFor(*after_);
}

CandidateScan::~CandidateScan() = default;

bool CandidateScan::fieldsPass(const NameBlock& block, size_t row) const {
    for (size_t f = 0; f < kCopyFieldCount; ++f) {
        if (!probe_.fields_[f]) continue;
        const FieldCode code = block.fields[f][row];
        if (code != kUnknownCode && code != *probe_.fields_[f]) return false;
    }
    return true;
}

namespace {

constexpr size_t kNoMatch = std::string_view::npos;

// The catalogue's `like` matching on a name as the copy writes it: each character it
// wrote as one byte is one character, as is every byte of a name without a lead byte
// (0xC0 up: OneByte, where the literal may be sought anywhere); in any other name a
// character runs as long as its lead byte says (ByLead). The copy's names come from
// folded text, which is well-formed UTF-8, so the characters are those the `like` sees.
struct OneByte {
    static constexpr bool kEveryByteStarts = true;
    static size_t unit(std::string_view, size_t) { return 1; }
};
struct ByLead {
    static constexpr bool kEveryByteStarts = false;
    static size_t unit(std::string_view name, size_t at) {
        const auto b = static_cast<unsigned char>(name[at]);
        return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    }
};

// Where segment, matched from at, ends.
template <class Units>
size_t segmentEnd(std::string_view name, size_t at, const LikePattern::Segment& segment) {
    for (const LikePattern::Piece& piece : segment) {
        for (int k = 0; k < piece.anyBefore; ++k) {
            if (at >= name.size()) return kNoMatch;
            at = std::min(name.size(), at + Units::unit(name, at));
        }
        if (name.substr(at, piece.literal.size()) != piece.literal) return kNoMatch;
        at += piece.literal.size();
    }
    return at;
}

// Where the first place segment fits at or after from ends (the first is never worse
// than a later one: a segment spans a fixed number of characters).
template <class Units>
size_t firstFitEnd(std::string_view name, size_t from, const LikePattern::Segment& segment) {
    if (segment.empty()) return from;
    const bool seek = Units::kEveryByteStarts && segment.front().anyBefore == 0;
    for (size_t at = from;;) {
        if (seek && (at = name.find(segment.front().literal, at)) == kNoMatch) return kNoMatch;
        if (const size_t end = segmentEnd<Units>(name, at, segment); end != kNoMatch) return end;
        if (at >= name.size()) return kNoMatch;
        at = std::min(name.size(), at + Units::unit(name, at));
    }
}

// Where the last segment must start to end the name, starting at or after from.
template <class Units>
size_t lastSegmentStart(std::string_view name, size_t from, const LikePattern::Segment& segment) {
    size_t chars = 0;
    for (const LikePattern::Piece& piece : segment) {
        chars += static_cast<size_t>(piece.anyBefore);
        for (size_t i = 0; i < piece.literal.size(); i += Units::unit(piece.literal, i)) ++chars;
    }
    if (Units::kEveryByteStarts)
        return name.size() - from >= chars ? name.size() - chars : kNoMatch;
    size_t count = 0;
    for (size_t at = from; at < name.size(); at += Units::unit(name, at)) ++count;
    if (chars > count) return kNoMatch;
    size_t at = from;
    for (size_t skip = count - chars; skip > 0; --skip) at += Units::unit(name, at);
    return at;
}

template <class Units>
bool matches(std::string_view name, const std::vector<LikePattern::Segment>& segments) {
    size_t at = segmentEnd<Units>(name, 0, segments.front());
    if (segments.size() == 1 || at == kNoMatch) return at == name.size();
    for (size_t k = 1; k + 1 < segments.size() && at != kNoMatch; ++k)
        at = firstFitEnd<Units>(name, at, segments[k]);
    if (at == kNoMatch) return false;
    const size_t start = lastSegmentStart<Units>(name, at, segments.back());
    return start != kNoMatch && segmentEnd<Units>(name, start, segments.back()) == name.size();
}

// The name with each character of several bytes written as kOtherCharacter, which no
// literal of one-byte characters holds: to such a pattern it matches as it was.
void collapse(std::string_view name, std::string& out) {
    out.clear();
    for (size_t at = 0; at < name.size();) {
        const size_t size = ByLead::unit(name, at);
        out.push_back(size == 1 ? name[at] : kOtherCharacter);
        at += size;
    }
}

}  // namespace

bool CandidateScan::nameMatches(const NameBlock& block, size_t row) {
    if (!probe_.wholeMatch_) return true;
    const std::string_view name = block.name(row);
    if (oneByteCharacters(name)) return matches<OneByte>(name, probe_.segments_);
    if (!probe_.literalsOfOneByte_) return matches<ByLead>(name, probe_.segments_);
    collapse(name, collapsed_);
    return matches<OneByte>(collapsed_, probe_.segments_);
}

// A pattern with _ or several pieces: its anchor sought through the block's names
// (every match holds it, but where a _ may stand for a longer character: then each
// name with such characters is matched on its own too).
void CandidateScan::scanBlockWhole(const NameBlock& block) {
    rows_.clear();
    auto consider = [&](size_t row) {
        if (fieldsPass(block, row) && nameMatches(block, row))
            rows_.push_back(static_cast<uint32_t>(row));
    };
    const std::string_view names = block.names;
    const std::string_view anchor = probe_.anchor_;
    if (anchor.empty()) {
        for (size_t row = 0; row < block.size(); ++row) consider(row);
        return;
    }
    size_t row = 0;
    for (size_t at = 0; row < block.size() &&
                        (at = namesearch::find(path_, names, anchor, at, probe_.anchorHoles_)) !=
                            std::string_view::npos;) {
        while (block.nameEnds[row] <= at) ++row;
        consider(row);
        at = block.nameEnds[row] + 1;
        ++row;
    }
    if (probe_.anchorHoles_.find('\1') == std::string::npos) return;
    const size_t found = rows_.size();
    row = 0;
    for (size_t at = 0; row < block.size() &&
                        (at = namesearch::findWide(path_, names, at)) != std::string_view::npos;) {
        while (block.nameEnds[row] <= at) ++row;
        if (!std::binary_search(rows_.begin(), rows_.begin() + static_cast<ptrdiff_t>(found),
                                static_cast<uint32_t>(row)))
            consider(row);
        at = block.nameEnds[row] + 1;
        ++row;
    }
    std::inplace_merge(rows_.begin(), rows_.begin() + static_cast<ptrdiff_t>(found), rows_.end());
}

void CandidateScan::scanBlock(const NameBlock& block) {
    rows_.clear();
    const std::string_view needle = probe_.needle_;

    auto consider = [&](size_t row) {
        if (fieldsPass(block, row) && nameMatches(block, row))
            rows_.push_back(static_cast<uint32_t>(row));
    };
    if (needle.empty()) {
        for (size_t row = 0; row < block.size(); ++row) consider(row);
        return;
    }
    if (anyField_) {  // few rows with those fields: look at their names alone
        passing_.clear();
        for (size_t row = 0; row < block.size(); ++row)
            if (fieldsPass(block, row)) passing_.push_back(static_cast<uint32_t>(row));
        if (passing_.size() * 8 < block.size()) {
            for (const uint32_t row : passing_)
                if (namesearch::find(path_, block.name(row), needle, 0) != std::string_view::npos &&
                    nameMatches(block, row))
                    rows_.push_back(row);
            return;
        }
    }
    if (probe_.wholeMatch_) {
        scanBlockWhole(block);
        return;
    }
    const std::string_view names = block.names;
    size_t row = 0;
    for (size_t at = 0;
         (at = namesearch::find(path_, names, needle, at)) != std::string_view::npos;) {
        while (block.nameEnds[row] <= at) ++row;  // a match never spans a separator
        consider(row);
        at = block.nameEnds[row] + 1;
        ++row;
        if (row >= block.size()) break;
    }
}

bool CandidateScan::next(int64_t& key) {
    const auto& blocks = copy_->blocks_;
    do {
        while (at_ >= rows_.size()) {
            if (block_ >= blocks.size()) return false;
            scanBlock(*blocks[block_++]);
            at_ = 0;
        }
        key = blocks[block_ - 1]->key(rows_[at_++]);
    } while (after_ && key <= *after_);
    return true;
}

}  // namespace store
