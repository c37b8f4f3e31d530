// Any text given as the ProgressStore setting is parsed or refused with a
// reason; an accepted address has a host and a valid port, and written out
// again it parses to the same address.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/RedisLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    platform::RedisAddress address;
    std::string error;
    if (!platform::RedisAddress::Parse(text, &address, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (address.host.empty() || address.port < 1 || address.port > 65535 || address.database < 0) std::abort();
    const std::string again = "redis://" + (address.password.empty() ? "" : ":" + address.password + "@") +
                              address.HostAndPort() + "/" + std::to_string(address.database);
    platform::RedisAddress reparsed;
    if (!platform::RedisAddress::Parse(again, &reparsed, &error) || reparsed.host != address.host ||
        reparsed.port != address.port || reparsed.database != address.database || reparsed.password != address.password)
        std::abort();
    return 0;
}
