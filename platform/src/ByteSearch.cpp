#include "platform/ByteSearch.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform {

namespace {

// Compares the candidates of a block (bit k: the needle may start at
// `block` + k) in full; the first match, or null.
inline const char* FirstMatch(const char* block, unsigned mask, const char* needle, size_t needleSize) {
    while (mask) {
        const char* candidate = block + __builtin_ctz(mask);
        if (std::memcmp(candidate + 1, needle + 1, needleSize - 2) == 0) return candidate;
        mask &= mask - 1;
    }
    return nullptr;
}

#if defined(__x86_64__)
// The same search as below, thirty-two positions at a time, on processors
// that have AVX2: a body of a gigabyte is searched once as it arrives and
// once as it is parsed. Gives the positions searched through `searched`.
__attribute__((target("avx2"))) const char* FindBytesWide(const char* haystack, size_t size, const char* needle,
                                                          size_t needleSize, size_t* searched) {
    const __m256i first = _mm256_set1_epi8(needle[0]);
    const __m256i last = _mm256_set1_epi8(needle[needleSize - 1]);
    size_t i = 0;
    for (; i + needleSize - 1 + 32 <= size; i += 32) {
        const __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(haystack + i));
        const __m256i ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(haystack + i + needleSize - 1));
        const unsigned mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(starts, first), _mm256_cmpeq_epi8(ends, last))));
        if (mask)
            if (const char* found = FirstMatch(haystack + i, mask, needle, needleSize)) return found;
    }
    *searched = i;
    return nullptr;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

// Sixteen positions at a time: a position is a candidate when the needle's
// first and last bytes both sit where they would, and only candidates are
// compared in full. Boundaries end in bytes that are rare in file data, so
// candidates are few; glibc's memmem is several times slower on them.
const char* FindBytes(const char* haystack, size_t size, const char* needle, size_t needleSize) {
    if (needleSize == 0) return haystack;
    if (needleSize > size) return nullptr;
    if (needleSize == 1) return static_cast<const char*>(std::memchr(haystack, needle[0], size));
    size_t i = 0;
#if defined(__x86_64__)
    if (kHasAvx2) {
        if (const char* found = FindBytesWide(haystack, size, needle, needleSize, &i)) return found;
    }
#endif
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i last = _mm_set1_epi8(needle[needleSize - 1]);
    // Blocks whose last bytes' needle end stays inside the haystack.
    for (; i + needleSize - 1 + 16 <= size; i += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i + needleSize - 1));
        const unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
        if (mask)
            if (const char* found = FirstMatch(haystack + i, mask, needle, needleSize)) return found;
    }
#endif
    // The rest, fewer than sixteen positions.
    const void* found = memmem(haystack + i, size - i, needle, needleSize);
    return static_cast<const char*>(found);
}

long long CountByte(const char* data, size_t size, char byte) {
    long long count = 0;
    size_t i = 0;
#if defined(__SSE2__)
    // Each lane counts its matches, at most 255 blocks before the lanes are
    // summed.
    const __m128i wanted = _mm_set1_epi8(byte), zero = _mm_setzero_si128();
    while (i + 16 <= size) {
        __m128i lanes = zero;
        for (size_t blocks = std::min<size_t>((size - i) / 16, 255); blocks > 0; --blocks, i += 16)
            lanes = _mm_sub_epi8(lanes,
                                 _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), wanted));
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
    }
#endif
    return count + std::count(data + i, data + size, byte);
}

}  // namespace platform
