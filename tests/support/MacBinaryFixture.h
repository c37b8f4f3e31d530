// A MacBinary upload built byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

// A MacBinary upload of type TEXT, creator ttxt: a 300-byte data fork of 'd',
// its pad, and a valid resource fork of `resourceLength` bytes at offset 512.
inline std::string MacBinaryUpload(uint32_t resourceLength) {
    std::string bytes(128, '\0');
    std::memcpy(&bytes[65], "TEXTttxt", 8);
    bytes[73] = static_cast<char>(0xFF);
    auto put = [](std::string& s, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put(bytes, 83, 300);
    put(bytes, 87, resourceLength);
    bytes += std::string(300, 'd') + std::string(84, '\0');
    std::string fork(resourceLength, 'r');
    const uint32_t header[] = {16, 200, 100, resourceLength - 200};
    for (int i = 0; i < 4; ++i) put(fork, static_cast<size_t>(i) * 4, header[i]);
    return bytes + fork;
}
