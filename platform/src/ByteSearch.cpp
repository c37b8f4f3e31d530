#include "platform/ByteSearch.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace platform {

// Sixteen positions at a time: a position is a candidate when the needle's
// first and last bytes both sit where they would, and only candidates are
// compared in full. Boundaries end in bytes that are rare in file data, so
// candidates are few; glibc's memmem is several times slower on them.
const char* FindBytes(const char* inHaystack, size_t inSize, const char* inNeedle, size_t inNeedleSize) {
    if (inNeedleSize == 0) return inHaystack;
    if (inNeedleSize > inSize) return nullptr;
    if (inNeedleSize == 1) return static_cast<const char*>(std::memchr(inHaystack, inNeedle[0], inSize));
    size_t i = 0;
#ifdef __SSE2__
    const __m128i theFirst = _mm_set1_epi8(inNeedle[0]);
    const __m128i theLast = _mm_set1_epi8(inNeedle[inNeedleSize - 1]);
    // Blocks whose last bytes' needle end stays inside the haystack.
    for (; i + inNeedleSize - 1 + 16 <= inSize; i += 16) {
        const __m128i theStarts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inHaystack + i));
        const __m128i theEnds = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inHaystack + i + inNeedleSize - 1));
        unsigned theMask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(theStarts, theFirst), _mm_cmpeq_epi8(theEnds, theLast))));
        while (theMask) {
            const size_t theCandidate = i + static_cast<size_t>(__builtin_ctz(theMask));
            if (std::memcmp(inHaystack + theCandidate + 1, inNeedle + 1, inNeedleSize - 2) == 0)
                return inHaystack + theCandidate;
            theMask &= theMask - 1;
        }
    }
#endif
    // The rest, fewer than sixteen positions.
    const void* theFound = memmem(inHaystack + i, inSize - i, inNeedle, inNeedleSize);
    return static_cast<const char*>(theFound);
}

}  // namespace platform
