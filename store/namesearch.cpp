#include "store/namesearch.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KORVALEN_HAVE_AVX2_PATH 1
#endif

namespace store::namesearch {
namespace {

constexpr size_t kNone = std::string_view::npos;

// Whether the needle's bytes between its first and last agree with the text at at.
bool middleAgrees(const char* at, std::string_view needle, std::string_view holes) {
    if (needle.size() <= 2) return true;
    if (holes.empty()) return std::memcmp(at + 1, needle.data() + 1, needle.size() - 2) == 0;
    for (size_t i = 1; i + 1 < needle.size(); ++i)
        if (holes[i] == 0 && at[i] != needle[i]) return false;
    return true;
}

bool isWide(unsigned char b) {
    return b >= 0xC0 && b != 0xFF;
}

size_t findPlain(std::string_view hay, std::string_view needle, size_t from,
                 std::string_view holes) {
    const char first = needle.front();
    const size_t last = hay.size() - needle.size();  // hay.size() >= needle.size()
    for (size_t i = from; i <= last;) {
        const void* at = std::memchr(hay.data() + i, first, last - i + 1);
        if (!at) return kNone;
        i = static_cast<size_t>(static_cast<const char*>(at) - hay.data());
        if (hay[i + needle.size() - 1] == needle.back() &&
            middleAgrees(hay.data() + i, needle, holes))
            return i;
        ++i;
    }
    return kNone;
}

#ifdef KORVALEN_HAVE_AVX2_PATH
// Compares the needle's first and last byte at 32 places at once and checks the
// rest only where both agree.
__attribute__((target("avx2"))) size_t findAvx2(std::string_view hay, std::string_view needle,
                                                size_t from, std::string_view holes) {
    const size_t k = needle.size();
    const __m256i first = _mm256_set1_epi8(needle.front());
    const __m256i last = _mm256_set1_epi8(needle.back());
    const char* h = hay.data();
    size_t i = from;
    for (; i + k - 1 + 32 <= hay.size(); i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + k - 1));
        auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
        while (mask != 0) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            if (middleAgrees(h + at, needle, holes)) return at;
            mask &= mask - 1;
        }
    }
    return i + k <= hay.size() ? findPlain(hay, needle, i, holes) : kNone;
}

// Thirty-two bytes at a time: b >= 0xC0 unsigned, and not the separator 0xFF.
__attribute__((target("avx2"))) size_t findWideAvx2(std::string_view hay, size_t from) {
    const __m256i low = _mm256_set1_epi8(static_cast<char>(0xC0));
    const __m256i separator = _mm256_set1_epi8(static_cast<char>(0xFF));
    const char* h = hay.data();
    size_t i = from;
    for (; i + 32 <= hay.size(); i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
        const __m256i atLeast = _mm256_cmpeq_epi8(_mm256_max_epu8(v, low), v);
        const auto mask = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_andnot_si256(_mm256_cmpeq_epi8(v, separator), atLeast)));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    for (; i < hay.size(); ++i)
        if (isWide(static_cast<unsigned char>(h[i]))) return i;
    return kNone;
}
#endif

}  // namespace

bool vectorAvailable() {
#ifdef KORVALEN_HAVE_AVX2_PATH
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

Path fastest() {
    return vectorAvailable() ? Path::Vector : Path::Plain;
}

size_t find(Path path, std::string_view hay, std::string_view needle, size_t from,
            std::string_view holes) {
    if (needle.empty() || from > hay.size() || hay.size() - from < needle.size()) return kNone;
#ifdef KORVALEN_HAVE_AVX2_PATH
    if (path == Path::Vector && vectorAvailable()) return findAvx2(hay, needle, from, holes);
#else
    (void)path;
#endif
    return findPlain(hay, needle, from, holes);
}

size_t findWide(Path path, std::string_view hay, size_t from) {
#ifdef KORVALEN_HAVE_AVX2_PATH
    if (path == Path::Vector && vectorAvailable()) return findWideAvx2(hay, from);
#else
    (void)path;
#endif
    for (size_t i = from; i < hay.size(); ++i)
        if (isWide(static_cast<unsigned char>(hay[i]))) return i;
    return kNone;
}

}  // namespace store::namesearch
