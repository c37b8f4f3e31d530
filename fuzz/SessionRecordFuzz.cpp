// Any bytes kept under a session's key in Redis (written by another server,
// another version, or anyone who can reach Redis) are read back or refused:
// never a crash. A record read back is written out again the same way each
// time.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/SharedSessions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    script::SessionStore::Session session;
    if (!script::SharedSessions::Decode(bytes, &session)) return 0;
    const std::string encoded = script::SharedSessions::Encode(session);
    script::SessionStore::Session again;
    if (!script::SharedSessions::Decode(encoded, &again) || script::SharedSessions::Encode(again) != encoded ||
        again.id != session.id || again.timeout != session.timeout)
        std::abort();
    return 0;
}
