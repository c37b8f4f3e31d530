// Any body given to the parser either parses or fails with the parse's own
// message; items always lie inside the body (or the URL-encoded copy); the
// parse is the same when the body's boundaries were found as it arrived.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Multipart.h"
#include "ReferenceParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    static Multipart* engine = new Multipart;
    // Copy into a block of exactly the body's size, so that reading past
    // its end is caught.
    uint8_t* body = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(body, data, size);
    engine->ParseBlock(body, static_cast<int32_t>(size));
    ErrorReport& report = engine->Report();
    if (report.HasErrors() && report.ComposeText().find("GetMultipartItems raised an exception.") == std::string::npos)
        std::abort();
    for (int g = 0; g < engine->GroupCount(); ++g) {
        const FieldGroup* group = engine->GroupAt(g);
        if (std::strlen(group->name()) > 259) std::abort();
        for (int i = 0; i < group->count(); ++i) {
            const MultipartItem* item = group->itemAt(i);
            if (item->length < 0 || item->rawPath.size() > 259 || item->safeName.size() > 259) std::abort();
            if (engine->IsMultipart() && (item->data < body || item->data + item->length > body + size)) std::abort();
        }
    }
    // The same groups, items, names, file names and offsets as the plain reading.
    const std::string difference = reference::Difference(*engine, body, size);
    if (!difference.empty()) {
        std::fprintf(stderr, "differs from the reference parse: %s\n", difference.c_str());
        std::abort();
    }
    // The same again for the body as it arrives in chunks, its boundaries
    // found chunk by chunk: chunks of 1 to 64 bytes, so that boundaries
    // straddle their edges.
    engine->ParseArrivedBlock(body, static_cast<int32_t>(size), 1 + (size ? data[size / 2] % 64 : 0));
    const std::string arrivedDifference = reference::Difference(*engine, body, size);
    if (!arrivedDifference.empty()) {
        std::fprintf(stderr, "parsed as it arrived, differs from the reference parse: %s\n", arrivedDifference.c_str());
        std::abort();
    }
    engine->Clear();
    std::free(body);
    return 0;
}
