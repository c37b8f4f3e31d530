// SHA-256 of bytes, of bytes given in pieces and of a file, as lower-case
// hexadecimal text; and a file's content read in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct evp_md_ctx_st;

std::string Sha256Hex(const uint8_t* data, size_t size);
// SHA-256 of a file's whole content, read in blocks; false when it cannot be
// read. Sets the number of bytes read.
bool Sha256HexOfFile(const char* path, std::string* hexDigest, uint64_t* bytesRead);

// SHA-256 of bytes given in pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const uint8_t* data, size_t size);
    // The digest of everything added.
    std::string hex();

private:
    evp_md_ctx_st* mContext;
};

// Hands a file's whole content to `piece` in blocks of 256 KB, in order;
// false when it cannot be read.
bool ReadFileInPieces(const char* path, const std::function<void(const uint8_t*, size_t)>& piece);
