// Byte sources (raw data in memory or as a read-only mapped file) and the
// whole-buffer file write.
#pragma once

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual const uint8_t* seek(uint32_t inPosition) = 0;
    virtual uint32_t tell() const = 0;
    virtual int read() = 0;  // the next byte, or -1 at the end
    virtual uint32_t size() const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource() = default;
    MemorySource(const MemorySource&) = delete;
    MemorySource& operator=(const MemorySource&) = delete;
    ~MemorySource() override;

    const uint8_t* seek(uint32_t inPosition) override;
    uint32_t tell() const override { return static_cast<uint32_t>(mCursor - mStart); }
    int read() override { return mCursor < mStart + mSize ? *mCursor++ : -1; }
    uint32_t size() const override { return mSize; }
    // The block stays the caller's.
    void setBlock(const uint8_t* inStart, uint32_t inSize);
    // A block of the source's own; null when it cannot be had.
    uint8_t* allocateBlock(uint32_t inSize);
    const uint8_t* start() const { return mStart; }

protected:
    const uint8_t* mStart = nullptr;
    const uint8_t* mCursor = nullptr;
    uint32_t mSize = 0;
    uint8_t* mOwnedBlock = nullptr;
};

class MappedFileSource final : public MemorySource {
public:
    MappedFileSource() = default;
    ~MappedFileSource() override;

    // Each returns true when an error text was set.
    bool open(const char16_t* inPath);
    bool open(const char* inPath);
    // Takes ownership of the handle, also when it fails.
    bool open(HANDLE inFile);
    void close();
    // The first failure's message, or null while all is well.
    const char* errorText() const { return mErrorText[0] ? mErrorText : nullptr; }

private:
    bool fail(const char* inText);

    char mErrorText[256] = {};
    HANDLE mFile = nullptr;
    HANDLE mMapping = nullptr;
    const void* mView = nullptr;
};

// Writes inCount bytes as the whole content of the file at inPath. Without
// inOverwrite an existing file is an error (80). Returns the Windows error,
// 0 on success; the thread's last error is left as the file calls left it.
DWORD WriteWholeBuffer(const char16_t* inPath, const uint8_t* inStart, uint32_t inCount, bool inOverwrite);

// Whether the volume holding a physical path keeps named streams (answers
// "NTFS"). A failed query is logged once per process and answers false.
bool VolumeKeepsStreams(const char16_t* inPath);
// The whole content of a file or stream, or false when it cannot be read.
bool ReadWholeFile(const char16_t* inPath, std::string* outBytes);
