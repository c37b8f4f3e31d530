// Any bytes given to the registry file parser either fail with a described
// line or parse into a tree whose text form reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace platform::registry;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto tree = ParseRegFile(text, "HKEY_LOCAL_MACHINE", &error);
    if (!tree) {
        if (error.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    const std::string once = FormatRegFile(*tree, "HKEY_LOCAL_MACHINE");
    auto again = ParseRegFile(once, "HKEY_LOCAL_MACHINE", &error);
    if (!again || FormatRegFile(*again, "HKEY_LOCAL_MACHINE") != once) std::abort();
    return 0;
}
