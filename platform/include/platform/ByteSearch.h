// Searching bytes for a needle, for the multipart boundary scans of the body
// parser and of the server's field counter: both run over every byte of an
// upload, so the search must keep up with memory.
#pragma once

#include <cstddef>

namespace platform {

// The first occurrence of the needle in the haystack, or null. An empty
// needle is found at the start.
const char* FindBytes(const char* haystack, size_t size, const char* needle, size_t needleSize);

// How many of `size` bytes are `byte`; sixteen at a time, since a body of a
// gigabyte may be counted whole as it arrives.
long long CountByte(const char* data, size_t size, char byte);

}  // namespace platform
