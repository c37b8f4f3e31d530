// The form of the progress IDs that the component and the upload site hand
// out, which a shared progress store holds side by side: a 29-bit number laid
// out around bit 15, which stays clear (bits 0-14 and 16-29), and bit 30,
// which tells whose the ID is: set in the site's hand-outs, clear in the
// component's own. The site includes this header alone, none of the
// component's code.
#pragma once

#include <cstdint>

constexpr uint32_t kProgressIdNumberBits = 29;
constexpr uint32_t kProgressIdNumberMask = (1u << kProgressIdNumberBits) - 1;
constexpr int32_t kSiteProgressIdBit = 0x40000000;

// The ID of a number of kProgressIdNumberBits bits (higher bits are ignored),
// without the site's bit.
constexpr int32_t ProgressIdOfNumber(uint32_t inNumber) {
    inNumber &= kProgressIdNumberMask;
    return static_cast<int32_t>(((inNumber >> 15) << 16) | (inNumber & 0x7FFF));
}
