// Any Range or Host header a client sends: judged without a crash. A range
// is judged against files of several sizes, and none is answerable from an
// empty file; a host judged well formed gives a name.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/HttpText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string header(reinterpret_cast<const char*>(data), size);
    for (const long long fileSize : {0LL, 1LL, 96LL, 1LL << 40}) {
        const bool answerable = RangeSatisfiable(header, fileSize);
        // An empty file has no byte a range of bytes could start at.
        if (answerable && fileSize == 0 && Lower(header).find("bytes=") != std::string::npos &&
            Lower(header).find_first_not_of(" \t") == Lower(header).find("bytes="))
            std::abort();
    }
    if (WellFormedHost(header) && !header.empty() && HostName(header).empty()) std::abort();
    return 0;
}
