// SHA-256 of a byte range, as lower-case hexadecimal text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

std::string Sha256Hex(const uint8_t* data, size_t size);
// SHA-256 of a file's whole content, read in blocks; false when it cannot be
// read. Sets the number of bytes read.
bool Sha256HexOfFile(const char* path, std::string* outDigest, uint64_t* outLength);
