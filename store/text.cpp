#include "text.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/utf8.h>

#include <climits>
#include <memory>
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

// The folded pattern, decoded once per statement: code points, with the two wildcards
// as marks of their own (an escaped % or _ is a plain character).
constexpr int32_t kAnyRun = INT32_MIN;      // %
constexpr int32_t kAnyOne = INT32_MIN + 1;  // _

struct Pattern {
    std::vector<int32_t> items;
    int32_t escape = 0;
};

Pattern compile(std::string_view pattern, int32_t escape) {
    Pattern p;
    p.escape = escape;
    p.items.reserve(pattern.size());
    for (size_t i = 0; i < pattern.size();) {
        const int32_t c = fold(nextCodePoint(pattern, i));
        if (escape != 0 && c == escape && i < pattern.size())
            p.items.push_back(fold(nextCodePoint(pattern, i)));
        else
            p.items.push_back(c == '%' ? kAnyRun : (c == '_' ? kAnyOne : c));
    }
    return p;
}

// Backtracks only to the last %, so the time stays at most text length times pattern
// length: trying every split for every % (recursion) took seconds per name for a typed
// fragment such as "a%a%a%b", and the disk list hung.
bool matches(const std::vector<int32_t>& pat, std::string_view text) {
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t pi = 0, ti = 0;
    size_t resumePi = kNone, resumeTi = 0;
    while (ti < text.size()) {
        if (pi < pat.size() && pat[pi] == kAnyRun) {
            resumePi = ++pi;
            resumeTi = ti;
            continue;
        }
        if (pi < pat.size()) {
            size_t next = ti;
            const int32_t tc = fold(nextCodePoint(text, next));
            if (pat[pi] == kAnyOne || pat[pi] == tc) {
                ++pi;
                ti = next;
                continue;
            }
        }
        if (resumePi == kNone) return false;
        nextCodePoint(text, resumeTi);  // the last % takes one more character
        pi = resumePi;
        ti = resumeTi;
    }
    while (pi < pat.size() && pat[pi] == kAnyRun) ++pi;
    return pi == pat.size();
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
    auto* pattern = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
    if (!pattern || pattern->escape != escape) {
        std::string_view ps(reinterpret_cast<const char*>(pz), sqlite3_value_bytes(argv[0]));
        pattern = new Pattern(compile(ps, escape));
        sqlite3_set_auxdata(ctx, 0, pattern, [](void* p) { delete static_cast<Pattern*>(p); });
        pattern = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
        if (!pattern) {
            sqlite3_result_error_nomem(ctx);
            return;
        }
    }
    std::string_view ts(reinterpret_cast<const char*>(tz), sqlite3_value_bytes(argv[1]));
    sqlite3_result_int(ctx, matches(pattern->items, ts) ? 1 : 0);
}

struct CollatorCloser {
    void operator()(UCollator* c) const { ucol_close(c); }
};

int russianCompare(void* arg, int la, const void* a, int lb, const void* b) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(static_cast<UCollator*>(arg),
                                                static_cast<const char*>(a), la,
                                                static_cast<const char*>(b), lb, &status);
    if (U_FAILURE(status)) return 0;
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace

std::string foldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        const int32_t c = fold(nextCodePoint(utf8, i));
        if (c < 0) {
            out.append(utf8.substr(start, i - start));
            continue;
        }
        char buf[4];
        int32_t len = 0;
        UBool err = false;
        U8_APPEND(reinterpret_cast<uint8_t*>(buf), len, 4, c, err);
        (void)err;  // four bytes always hold one code point
        out.append(buf, static_cast<size_t>(len));
    }
    return out;
}

bool likeMatch(std::string_view pattern, std::string_view text, char32_t escape) {
    return matches(compile(pattern, fold(static_cast<int32_t>(escape))).items, text);
}

int registerTextFunctions(sqlite3* db) {
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int rc = sqlite3_create_function(db, "like", 2, flags, nullptr, likeFunction, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function(db, "like", 3, flags, nullptr, likeFunction, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollator, CollatorCloser> collator(ucol_open("ru", &status));
    if (U_FAILURE(status)) return SQLITE_ERROR;
    ucol_setStrength(collator.get(), UCOL_SECONDARY);  // ignore case, keep ё next to е
    UCollator* raw = collator.release();
    return sqlite3_create_collation_v2(db, "RUSSIAN", SQLITE_UTF8, raw, russianCompare,
                                       [](void* c) { ucol_close(static_cast<UCollator*>(c)); });
}

}  // namespace store
