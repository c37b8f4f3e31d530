// Any upload bytes either are MacBinary with both forks inside them, or are
// plain data; the extension lookup never fails and stays within 15 characters.
// The bytes are then saved through the form, forks and streams included.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MacBinary.h"
#include "SaveThroughForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> bytes(data, data + size);  // exactly the upload's size
    const MacBinaryReader reader(bytes.data(), static_cast<int32_t>(bytes.size()), true);
    MacForks forks;
    if (reader.IsMacBinary(&forks)) {
        const uint8_t* end = bytes.data() + bytes.size();
        if (forks.dataFork + forks.dataLength > end || forks.resourceFork + forks.resourceLength > end) std::abort();
        if (forks.resourceFork < forks.dataFork + forks.dataLength) std::abort();
        if (ExtensionFor(bytes.data()).size() > 15) std::abort();
        uint8_t record[kAfpInfoSize];
        BuildAfpInfo(bytes.data(), record);
    }
    if (size <= 65536)
        fuzz_save::SaveThroughForm("Notes", std::string(bytes.begin(), bytes.end()), "application/x-macbinary");
    return 0;
}
