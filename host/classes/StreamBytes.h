// The bytes a stream object holds. A stream starts in one growable block of
// memory; once it outgrows kMemoryBytes its bytes move to an unnamed
// temporary file (unlinked at once, so nothing is left behind even when
// the server is killed), so that a stream of an upload's hundreds of
// megabytes is never held in memory, let alone twice.
#pragma once

#include <cstddef>
#include <vector>

namespace classes {

class StreamBytes {
public:
    // Past this size the bytes live in the temporary file.
    static constexpr size_t kMemoryBytes = 4u << 20;
    // A stream's Size and Position are 32-bit signed numbers.
    static constexpr size_t kMaxBytes = 0x7FFFFFFF;

    StreamBytes() = default;
    ~StreamBytes();
    StreamBytes(StreamBytes&& other) noexcept;
    StreamBytes& operator=(StreamBytes&& other) noexcept;
    StreamBytes(const StreamBytes&) = delete;
    StreamBytes& operator=(const StreamBytes&) = delete;

    size_t size() const { return mSize; }

    // Each returns 0, or the errno of the failure: EFBIG past kMaxBytes,
    // ENOSPC when the temporary folder is full. A failed write or resize
    // leaves the size as it was.
    //
    // Copies [offset, offset + length), which must lie within the size.
    int read(size_t offset, void* destination, size_t length) const;
    // Writes at `offset`, growing the stream (a gap before `offset` reads as zeros).
    int write(size_t offset, const void* source, size_t length);
    // Cuts the stream or extends it with zeros.
    int resize(size_t size);
    // Empty, in memory again.
    void clear();

private:
    int moveToFile();
    int writeFile(size_t offset, const void* source, size_t length);

    std::vector<unsigned char> mMemory;
    int mFile = -1;
    size_t mSize = 0;
};

}  // namespace classes
