// BSTR: a 32-bit byte count, then the UTF-16 characters, then a NUL.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/OleAuto.h"

namespace {

uint32_t* Header(BSTR text) { return reinterpret_cast<uint32_t*>(text) - 1; }

// Allocates a BSTR of byteLength bytes plus a NUL character; copies `bytes`
// when given.
BSTR AllocateBytes(const void* bytes, size_t byteLength) {
    if (byteLength > 0x7FFFFFF0u) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + byteLength + 2 * sizeof(OLECHAR)));
    if (!block) return nullptr;
    *reinterpret_cast<uint32_t*>(block) = static_cast<uint32_t>(byteLength);
    uint8_t* data = block + sizeof(uint32_t);
    if (bytes)
        std::memcpy(data, bytes, byteLength);
    else
        std::memset(data, 0, byteLength);
    // Two NUL characters cover an odd byte count as well.
    std::memset(data + byteLength, 0, 2 * sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(data);
}

size_t Length(const OLECHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return AllocateBytes(text, Length(text) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    return AllocateBytes(text, static_cast<size_t>(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength) { return AllocateBytes(bytes, byteLength); }

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (!target) return FALSE;
    BSTR fresh = SysAllocString(text);
    if (text && !fresh) return FALSE;
    SysFreeString(*target);
    *target = fresh;
    return TRUE;
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
    if (!target) return FALSE;
    const size_t byteLength = static_cast<size_t>(length) * sizeof(OLECHAR);
    if (byteLength > 0x7FFFFFF0u) return FALSE;
    if (*target && (!text || text == *target)) {
        // The block itself is resized: realloc keeps the characters that stay.
        const size_t kept = std::min<size_t>(*Header(*target), byteLength);
        auto* block =
            static_cast<uint8_t*>(std::realloc(Header(*target), sizeof(uint32_t) + byteLength + 2 * sizeof(OLECHAR)));
        if (!block) return FALSE;
        *reinterpret_cast<uint32_t*>(block) = static_cast<uint32_t>(byteLength);
        uint8_t* data = block + sizeof(uint32_t);
        std::memset(data + kept, 0, byteLength - kept + 2 * sizeof(OLECHAR));
        *target = reinterpret_cast<BSTR>(data);
        return TRUE;
    }
    BSTR fresh = AllocateBytes(nullptr, byteLength);
    if (!fresh) return FALSE;
    if (text) std::memcpy(fresh, text, byteLength);
    SysFreeString(*target);
    *target = fresh;
    return TRUE;
}

void SysFreeString(BSTR text) {
    if (text) std::free(Header(text));
}

UINT SysStringLen(BSTR text) { return text ? *Header(text) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR text) { return text ? *Header(text) : 0; }
