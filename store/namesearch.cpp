#include "store/namesearch.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KORVALEN_HAVE_AVX2_PATH 1
#endif

namespace store::namesearch {
namespace {

constexpr size_t kNone = std::string_view::npos;

size_t findPlain(std::string_view hay, std::string_view needle, size_t from) {
    const char first = needle.front();
    const size_t last = hay.size() - needle.size();  // hay.size() >= needle.size()
    for (size_t i = from; i <= last;) {
        const void* at = std::memchr(hay.data() + i, first, last - i + 1);
        if (!at) return kNone;
        i = static_cast<size_t>(static_cast<const char*>(at) - hay.data());
        if (std::memcmp(hay.data() + i + 1, needle.data() + 1, needle.size() - 1) == 0) return i;
        ++i;
    }
    return kNone;
}

#ifdef KORVALEN_HAVE_AVX2_PATH
// Compares the needle's first and last byte at 32 places at once and checks the
// rest only where both agree.
__attribute__((target("avx2"))) size_t findAvx2(std::string_view hay, std::string_view needle,
                                                size_t from) {
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
            if (k <= 2 || std::memcmp(h + at + 1, needle.data() + 1, k - 2) == 0) return at;
            mask &= mask - 1;
        }
    }
    return i + k <= hay.size() ? findPlain(hay, needle, i) : kNone;
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

size_t find(Path path, std::string_view hay, std::string_view needle, size_t from) {
    if (needle.empty() || from > hay.size() || hay.size() - from < needle.size()) return kNone;
#ifdef KORVALEN_HAVE_AVX2_PATH
    if (path == Path::Vector && vectorAvailable()) return findAvx2(hay, needle, from);
#else
    (void)path;
#endif
    return findPlain(hay, needle, from);
}

}  // namespace store::namesearch
