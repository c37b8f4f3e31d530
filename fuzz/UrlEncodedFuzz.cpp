// Bodies without a multipart shape go through the URL-encoded parser: pairs
// are decoded in place in the form's own copy, never outside it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Multipart.h"
#include "ReferenceParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    // No "--": the multipart pass finds nothing and the body is URL-encoded.
    std::string body(reinterpret_cast<const char*>(data), size);
    for (size_t at = body.find("--"); at != std::string::npos; at = body.find("--", at)) body[at] = '+';
    static Multipart* engine = new Multipart;
    engine->ParseBlock(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int32_t>(body.size()));
    if (engine->IsMultipart()) std::abort();
    size_t total = 0;
    for (int g = 0; g < engine->GroupCount(); ++g)
        for (int i = 0; i < engine->GroupAt(g)->count(); ++i) total += engine->GroupAt(g)->itemAt(i)->length;
    if (total > body.size()) std::abort();  // decoding never grows a value
    // The same groups, items, names, file names and offsets as the plain reading.
    const std::string difference =
        reference::Difference(*engine, reinterpret_cast<const uint8_t*>(body.data()), body.size());
    if (!difference.empty()) {
        std::fprintf(stderr, "differs from the reference parse: %s\n", difference.c_str());
        std::abort();
    }
    engine->Clear();
    return 0;
}
