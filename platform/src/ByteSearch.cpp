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
inline const char* FirstMatch(const char* inBlock, unsigned inMask, const char* inNeedle, size_t inNeedleSize) {
    while (inMask) {
        const char* theCandidate = inBlock + __builtin_ctz(inMask);
        if (std::memcmp(theCandidate + 1, inNeedle + 1, inNeedleSize - 2) == 0) return theCandidate;
        inMask &= inMask - 1;
    }
    return nullptr;
}

#if defined(__x86_64__)
// The same search as below, thirty-two positions at a time, on processors
// that have AVX2: a body of a gigabyte is searched once as it arrives and
// once as it is parsed. Gives the positions searched through `outSearched`.
__attribute__((target("avx2"))) const char* FindBytesWide(const char* inHaystack, size_t inSize, const char* inNeedle,
                                                           size_t inNeedleSize, size_t* outSearched) {
    const __m256i theFirst = _mm256_set1_epi8(inNeedle[0]);
    const __m256i theLast = _mm256_set1_epi8(inNeedle[inNeedleSize - 1]);
    size_t i = 0;
    for (; i + inNeedleSize - 1 + 32 <= inSize; i += 32) {
        const __m256i theStarts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inHaystack + i));
        const __m256i theEnds = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inHaystack + i + inNeedleSize - 1));
        const unsigned theMask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(theStarts, theFirst), _mm256_cmpeq_epi8(theEnds, theLast))));
        if (theMask)
            if (const char* theFound = FirstMatch(inHaystack + i, theMask, inNeedle, inNeedleSize)) return theFound;
    }
    *outSearched = i;
    return nullptr;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

// Sixteen positions at a time: a position is a candidate when the needle's
// first and last bytes both sit where they would, and only candidates are
// compared in full. Boundaries end in bytes that are rare in file data, so
// candidates are few; glibc's memmem is several times slower on them.
const char* FindBytes(const char* inHaystack, size_t inSize, const char* inNeedle, size_t inNeedleSize) {
    if (inNeedleSize == 0) return inHaystack;
    if (inNeedleSize > inSize) return nullptr;
    if (inNeedleSize == 1) return static_cast<const char*>(std::memchr(inHaystack, inNeedle[0], inSize));
    size_t i = 0;
#if defined(__x86_64__)
    if (kHasAvx2) {
        if (const char* theFound = FindBytesWide(inHaystack, inSize, inNeedle, inNeedleSize, &i)) return theFound;
    }
#endif
#ifdef __SSE2__
    const __m128i theFirst = _mm_set1_epi8(inNeedle[0]);
    const __m128i theLast = _mm_set1_epi8(inNeedle[inNeedleSize - 1]);
    // Blocks whose last bytes' needle end stays inside the haystack.
    for (; i + inNeedleSize - 1 + 16 <= inSize; i += 16) {
        const __m128i theStarts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inHaystack + i));
        const __m128i theEnds = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inHaystack + i + inNeedleSize - 1));
        const unsigned theMask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(theStarts, theFirst), _mm_cmpeq_epi8(theEnds, theLast))));
        if (theMask)
            if (const char* theFound = FirstMatch(inHaystack + i, theMask, inNeedle, inNeedleSize)) return theFound;
    }
#endif
    // The rest, fewer than sixteen positions.
    const void* theFound = memmem(inHaystack + i, inSize - i, inNeedle, inNeedleSize);
    return static_cast<const char*>(theFound);
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
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), wanted));
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
    }
#endif
    return count + std::count(data + i, data + size, byte);
}

}  // namespace platform
