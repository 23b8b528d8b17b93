#include "store/text.h"

#include <sqlite3.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace store {
namespace {

// Decodes one code point; an invalid byte comes back as itself, negated, so it
// matches only the same byte.
inline int32_t nextCodePoint(std::string_view s, size_t& i) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    if (p[i] < 0x80) return p[i++];
    int32_t c;
    const int32_t len = static_cast<int32_t>(s.size());
    int32_t pos = static_cast<int32_t>(i);
    U8_NEXT(p, pos, len, c);
    if (c < 0) {
        c = -static_cast<int32_t>(p[i]) - 1;
        pos = static_cast<int32_t>(i) + 1;
    }
    i = static_cast<size_t>(pos);
    return c;
}

inline int32_t fold(int32_t c) {
    if (c < 0) return c;
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    return static_cast<int32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
}

// `like` compares case-folded UTF-8 byte for byte. An invalid input byte is
// written there as the lone surrogate U+DC00 + byte (ED B2|B3 xx), which no
// valid input yields: so every match starts and ends on whole characters, and
// an invalid byte matches only the same invalid byte.
constexpr int32_t kEscapedByte = 0xDC00;

inline bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Bytes of the character that starts with lead in well-formed UTF-8.
inline size_t unitSize(unsigned char lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Writes c (a code point, or an invalid byte negated) at out; returns the bytes written.
inline size_t encode(int32_t c, bool escapeInvalid, char* out) {
    auto* o = reinterpret_cast<unsigned char*>(out);
    if (c < 0) {
        const auto byte = static_cast<unsigned char>(-c - 1);
        if (!escapeInvalid) {
            o[0] = byte;
            return 1;
        }
        c = kEscapedByte + byte;
    }
    const auto u = static_cast<uint32_t>(c);
    if (u < 0x80) {
        o[0] = static_cast<unsigned char>(u);
        return 1;
    }
    if (u < 0x800) {
        o[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        o[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 2;
    }
    if (u < 0x10000) {
        o[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
        o[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 3;
    }
    o[0] = static_cast<unsigned char>(0xF0 | (u >> 18));
    o[1] = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    o[3] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return 4;
}

// The folded UTF-8 of every one- and two-byte character (below U+0800: Latin,
// Greek, Cyrillic, Armenian, Hebrew, Arabic), so that most text is folded
// without a call into ICU per character. An entry holds up to three bytes
// (these characters never fold to a four-byte one) and their count on top.
class SmallFolds {
public:
    SmallFolds() {
        for (int32_t c = 0; c < static_cast<int32_t>(units_.size()); ++c) {
            char bytes[4] = {};
            const size_t size = encode(fold(c), true, bytes);
            std::memcpy(&units_[c], bytes, 3);
            units_[c] |= static_cast<uint32_t>(size) << 24;
        }
    }
    // Writes the folded form of c at out (four bytes are touched); returns its size.
    size_t write(size_t c, char* out) const {
        const uint32_t unit = units_[c];
        std::memcpy(out, &unit, 4);
        return unit >> 24;
    }

private:
    std::array<uint32_t, 0x800> units_;
};

const SmallFolds& smallFolds() {
    static const SmallFolds folds;
    return folds;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x80 * kOnes;

// For eight ASCII bytes: 0x20 in each byte that is an upper-case letter.
inline uint64_t upperToLowerBits(uint64_t word) {
    const uint64_t aboveZ = word + (0x7F - 'Z') * kOnes;  // high bit set above 'Z'
    const uint64_t fromA = word + (0x80 - 'A') * kOnes;   // high bit set from 'A' on
    return ((fromA & ~aboveZ) & kHighBits) >> 2;
}

// Folds utf8 into out, which must hold 3 bytes per input byte (an escaped
// invalid byte takes three) and 4 more; returns the folded size.
size_t foldInto(std::string_view utf8, bool escapeInvalid, char* out) {
    const SmallFolds& small = smallFolds();
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    char* o = out;
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            for (uint64_t word; i + 8 <= n; i += 8, o += 8) {  // eight ASCII bytes at once
                std::memcpy(&word, p + i, 8);
                if (word & kHighBits) break;
                word |= upperToLowerBits(word);
                std::memcpy(o, &word, 8);
            }
            for (; i < n && p[i] < 0x80; ++i)
                *o++ = static_cast<char>(p[i] >= 'A' && p[i] <= 'Z' ? p[i] + 32 : p[i]);
        } else if (b >= 0xC2 && b < 0xE0 && i + 1 < n && isContinuation(p[i + 1])) {
            o += small.write(((b & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu), o);
            i += 2;
        } else {
            o += encode(fold(nextCodePoint(utf8, i)), escapeInvalid, o);
        }
    }
    return static_cast<size_t>(o - out);
}

// A growing buffer for the folded text of one row after another.
class FoldBuffer {
public:
    std::string_view fold(std::string_view utf8) {
        const size_t need = utf8.size() * 3 + 4;  // + 4: SmallFolds copies whole units
        if (need > capacity_) {
            capacity_ = std::max(need, capacity_ * 2);
            data_ = std::make_unique<char[]>(capacity_);
        }
        return {data_.get(), foldInto(utf8, true, data_.get())};
    }

private:
    std::unique_ptr<char[]> data_;
    size_t capacity_ = 0;
};

// A like pattern, folded, cut at its % signs: the text must begin with the
// first segment, end with the last and hold the others in between, in order.
// A segment is literal runs with single-character wildcards (_) before them;
// since it always spans the same number of characters, the first place where
// a middle segment fits is never worse than a later one.
struct Piece {
    int anyBefore = 0;
    std::string literal;  // folded UTF-8, whole characters
};
using Segment = std::vector<Piece>;

struct Pattern {
    std::vector<Segment> segments;
    size_t lastSegmentChars = 0;
    int32_t escape = 0;
    // Every spelling of one ASCII letter or digit that the pattern requires: a
    // text holding none of them cannot match and is not folded at all.
    std::vector<std::string> required;
    FoldBuffer text;
};

// For each ASCII character, the characters beyond ASCII that fold to it
// (the Kelvin sign to k, the long s to s), found once by asking ICU.
const std::array<std::vector<std::string>, 0x80>& nonAsciiFoldingToAscii() {
    static const auto table = [] {
        std::array<std::vector<std::string>, 0x80> t;
        for (int32_t c = 0x80; c <= 0x10FFFF; ++c) {
            if (const int32_t f = fold(c); f < 0x80) {
                char buf[4];
                t[f].emplace_back(buf, encode(c, true, buf));
            }
        }
        return t;
    }();
    return table;
}

std::vector<std::string> spellings(char folded) {
    std::vector<std::string> all{std::string(1, folded)};
    if (folded >= 'a' && folded <= 'z') all.emplace_back(1, static_cast<char>(folded - 32));
    const auto& more = nonAsciiFoldingToAscii()[static_cast<unsigned char>(folded)];
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

bool isAsciiAlnum(int32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string foldedUnit(int32_t foldedChar) {
    char buf[4];
    return std::string(buf, encode(foldedChar, true, buf));
}

size_t charCount(const Segment& segment) {
    size_t n = 0;
    for (const Piece& piece : segment) {
        n += static_cast<size_t>(piece.anyBefore);
        for (const char c : piece.literal)
            n += isContinuation(static_cast<unsigned char>(c)) ? 0 : 1;
    }
    return n;
}

// % and _ are wildcards before anything else; the escape character makes the
// character after it literal (at the very end it stands for itself).
Pattern compile(std::string_view pattern, int32_t escape) {
    Pattern p;
    p.escape = escape;
    p.segments.emplace_back();
    for (size_t i = 0; i < pattern.size();) {
        int32_t c = fold(nextCodePoint(pattern, i));
        Segment& segment = p.segments.back();
        if (c == '%') {
            p.segments.emplace_back();
            continue;
        }
        if (c == '_') {
            if (segment.empty() || !segment.back().literal.empty()) segment.emplace_back();
            ++segment.back().anyBefore;
            continue;
        }
        if (escape != 0 && c == escape && i < pattern.size()) c = fold(nextCodePoint(pattern, i));
        if (segment.empty()) segment.emplace_back();
        segment.back().literal += foldedUnit(c);
        if (p.required.empty() && isAsciiAlnum(c)) p.required = spellings(static_cast<char>(c));
    }
    p.lastSegmentChars = charCount(p.segments.back());
    return p;
}

constexpr size_t kNoMatch = std::string_view::npos;

// Where segment ends when it matches text from at; kNoMatch if it does not.
size_t matchHere(std::string_view text, size_t at, const Segment& segment) {
    for (const Piece& piece : segment) {
        for (int k = 0; k < piece.anyBefore; ++k) {
            if (at >= text.size()) return kNoMatch;
            at = std::min(text.size(), at + unitSize(static_cast<unsigned char>(text[at])));
        }
        if (text.substr(at, piece.literal.size()) != piece.literal) return kNoMatch;
        at += piece.literal.size();
    }
    return at;
}

// Where the first match of segment at or after from ends; kNoMatch if none.
size_t findEnd(std::string_view text, size_t from, const Segment& segment) {
    if (segment.empty()) return from;
    const Piece& head = segment.front();
    if (head.anyBefore == 0) {  // seek the leading literal, then try the rest there
        const std::string& needle = head.literal;
        while (from < text.size()) {
            // memchr on the first byte, then a compare: quickest on short names
            const size_t at = text.find(needle, from);
            if (at == kNoMatch) return kNoMatch;
            if (const size_t end = matchHere(text, at, segment); end != kNoMatch) return end;
            from = at + 1;
        }
        return kNoMatch;
    }
    for (size_t at = from;;
         at = std::min(text.size(), at + unitSize(static_cast<unsigned char>(text[at])))) {
        if (const size_t end = matchHere(text, at, segment); end != kNoMatch) return end;
        if (at >= text.size()) return kNoMatch;
    }
}

// Whether segment, chars characters long, ends the text without starting before from.
bool matchesAtEnd(std::string_view text, size_t from, const Segment& segment, size_t chars) {
    size_t at = text.size();
    for (; chars > 0; --chars) {
        if (at <= from) return false;
        --at;
        while (at > from && isContinuation(static_cast<unsigned char>(text[at]))) --at;
    }
    return matchHere(text, at, segment) == text.size();
}

bool mayMatch(const Pattern& p, std::string_view raw) {
    if (p.required.empty()) return true;
    for (const auto& spelling : p.required)
        if (raw.find(spelling) != std::string_view::npos) return true;
    return false;
}

bool matches(const Pattern& p, std::string_view folded) {
    const auto& segments = p.segments;
    size_t at = matchHere(folded, 0, segments.front());
    if (segments.size() == 1 || at == kNoMatch) return at == folded.size();
    for (size_t k = 1; k + 1 < segments.size() && at != kNoMatch; ++k)
        at = findEnd(folded, at, segments[k]);
    return at != kNoMatch && matchesAtEnd(folded, at, segments.back(), p.lastSegmentChars);
}

bool likeMatches(Pattern& p, std::string_view text) {
    return mayMatch(p, text) && matches(p, p.text.fold(text));
}

void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const auto* pz = sqlite3_value_text(argv[0]);
    const auto* tz = sqlite3_value_text(argv[1]);
    if (!pz || !tz) return;  // NULL
    int32_t escape = 0;
    if (argc == 3) {
        const auto* ez = sqlite3_value_text(argv[2]);
        if (!ez) return;
        std::string_view e(reinterpret_cast<const char*>(ez), sqlite3_value_bytes(argv[2]));
        size_t i = 0;
        if (e.empty() || (nextCodePoint(e, i), i != e.size())) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        i = 0;
        escape = fold(nextCodePoint(e, i));
    }
    std::string_view text(reinterpret_cast<const char*>(tz), sqlite3_value_bytes(argv[1]));
    // The pattern is compiled once per statement when SQLite keeps it for us.
    if (auto* cached = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
        cached && cached->escape == escape) {
        sqlite3_result_int(ctx, likeMatches(*cached, text) ? 1 : 0);
        return;
    }
    std::string_view ps(reinterpret_cast<const char*>(pz), sqlite3_value_bytes(argv[0]));
    auto pattern = std::make_unique<Pattern>(compile(ps, escape));
    sqlite3_result_int(ctx, likeMatches(*pattern, text) ? 1 : 0);
    // SQLite may drop it at once (it then deletes it itself).
    sqlite3_set_auxdata(ctx, 0, pattern.release(),
                        [](void* p) { delete static_cast<Pattern*>(p); });
}

struct CollatorCloser {
    void operator()(UCollator* c) const { ucol_close(c); }
};

int russianCompare(void* arg, int la, const void* a, int lb, const void* b) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r =
        ucol_strcollUTF8(static_cast<UCollator*>(arg), static_cast<const char*>(a), la,
                         static_cast<const char*>(b), lb, &status);
    if (U_FAILURE(status)) return 0;
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace

std::string foldCase(std::string_view utf8) {
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::string out(utf8);  // field and parameter names: short, no allocation
        for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        return out;
    }
    std::string out(utf8.size() * 3 + 4, '\0');
    out.resize(foldInto(utf8, false, out.data()));
    return out;
}

bool likeMatch(std::string_view pattern, std::string_view text, char32_t escape) {
    Pattern p = compile(pattern, fold(static_cast<int32_t>(escape)));
    return likeMatches(p, text);
}

void likeFold(std::string_view utf8, std::string& out) {
    out.resize(utf8.size() * 3 + 4);
    out.resize(foldInto(utf8, true, out.data()));
}

void nameIndexFold(std::string_view name, std::string& out) {
    likeFold(name, out);
    for (size_t at = out.find(kNameSeparator); at != std::string::npos;
         at = out.find(kNameSeparator, at + 3))
        out.replace(at, 1, "\u2215");
}

std::string likeFolded(std::string_view utf8) {
    std::string out;
    likeFold(utf8, out);
    return out;
}

struct CompiledLike {
    Pattern pattern;
};

LikePattern::LikePattern(std::string_view pattern, char32_t escape)
    : p_(std::make_unique<CompiledLike>(
          CompiledLike{compile(pattern, fold(static_cast<int32_t>(escape)))})) {}
LikePattern::~LikePattern() = default;
LikePattern::LikePattern(LikePattern&&) noexcept = default;
LikePattern& LikePattern::operator=(LikePattern&&) noexcept = default;

bool LikePattern::matchesFolded(std::string_view folded) const {
    return matches(p_->pattern, folded);
}

std::vector<LikePattern::Segment> LikePattern::segments() const {
    std::vector<LikePattern::Segment> out;
    for (const auto& segment : p_->pattern.segments) {
        out.emplace_back();
        for (const auto& piece : segment) out.back().push_back({piece.anyBefore, piece.literal});
    }
    return out;
}

bool LikePattern::isContains() const {
    const auto& s = p_->pattern.segments;
    if (s.size() < 2 || !s.front().empty() || !s.back().empty()) return false;
    size_t pieces = 0;
    for (size_t k = 1; k + 1 < s.size(); ++k)
        for (const auto& piece : s[k]) pieces += piece.anyBefore == 0 ? 1 : 2;
    return pieces <= 1;
}

namespace {

// korvalen_fold(x): x's bytes (text or blob) as nameIndexFold writes them; NULL stays NULL.
void foldFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
    const auto* data = static_cast<const char*>(sqlite3_value_blob(argv[0]));
    const auto size = static_cast<size_t>(sqlite3_value_bytes(argv[0]));
    std::string folded;
    nameIndexFold(std::string_view(data ? data : "", size), folded);
    sqlite3_result_text64(ctx, folded.data(), folded.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

}  // namespace

int registerTextFunctions(sqlite3* db) {
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int rc = sqlite3_create_function(db, "like", 2, flags, nullptr, likeFunction, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function(db, "like", 3, flags, nullptr, likeFunction, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function(db, std::string(kFoldFunction).c_str(), 1, flags, nullptr,
                                     foldFunction, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollator, CollatorCloser> collator(ucol_open("ru", &status));
    if (U_FAILURE(status)) return SQLITE_ERROR;
    ucol_setStrength(collator.get(), UCOL_SECONDARY);  // ignore case, keep ё next to е
    // SQLite takes the collator only when the call succeeds; on failure it stays ours.
    rc = sqlite3_create_collation_v2(db, "RUSSIAN", SQLITE_UTF8, collator.get(), russianCompare,
                                     [](void* c) { ucol_close(static_cast<UCollator*>(c)); });
    if (rc == SQLITE_OK) collator.release();
    return rc;
}

}  // namespace store
