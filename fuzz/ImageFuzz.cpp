// Any bytes examined as an image give a known type, and a JPEG walk stops
// inside the bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ImageInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    ImageInfo info;
    ExamineImage(bytes.data(), static_cast<uint32_t>(bytes.size()), &info);
    if (!info.computed || info.type < fmxUnknown || info.type > fmxBMP) std::abort();
    return 0;
}
