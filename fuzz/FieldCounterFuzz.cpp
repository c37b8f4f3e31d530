// Any body, read in pieces of any sizes: the server's field count is never
// below the number of fields the form's parser finds in it, so that no form
// passes the field cap by what its headers claim or by how it is sent.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Multipart.h"
#include "core/FieldCounter.h"

namespace {

long long ParsedFields(const uint8_t* body, size_t size) {
    static Multipart* engine = new Multipart;
    engine->ParseBlock(body, static_cast<int32_t>(size));
    long long fields = 0;
    for (int g = 0; g < engine->GroupCount(); ++g) fields += engine->GroupAt(g)->count();
    engine->Clear();
    return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 24)) return 0;
    // The first byte chooses the sizes of the pieces: 1 to 256 bytes,
    // growing, so that needles fall across pieces at every offset.
    const size_t firstPiece = static_cast<size_t>(data[0]) + 1;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    if (length) std::memcpy(copy, body, length);
    FieldCounter counter;
    for (size_t at = 0, piece = firstPiece; at < length; at += piece, piece = piece * 3 / 2 + 1) {
        const size_t n = length - at < piece ? length - at : piece;
        counter.add(reinterpret_cast<const char*>(copy + at), n);
    }
    counter.finish();
    const long long parsed = ParsedFields(copy, length);
    std::free(copy);
    if (counter.fields() < parsed) {
        std::fprintf(stderr, "counted %lld fields, the parser found %lld\n", counter.fields(), parsed);
        std::abort();
    }
    return 0;
}
