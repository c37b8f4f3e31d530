// Macintosh uploads: the MacBinary test and its two forks, the file
// extension inferred from type and creator codes, and the Finder record
// that Macintosh file services keep in the "AFP_AfpInfo" stream.
#pragma once

#include <cstdint>
#include <string>

// A four-character code as a 32-bit value, first character most significant.
constexpr uint32_t FourCC(const char (&inCode)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(inCode[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(inCode[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(inCode[2])) << 8) | static_cast<uint8_t>(inCode[3]);
}

struct MacForks {
    const uint8_t* dataFork = nullptr;
    uint32_t dataLength = 0;
    const uint8_t* resourceFork = nullptr;
    uint32_t resourceLength = 0;
};

class MacBinaryBase {
public:
    virtual ~MacBinaryBase() = default;
};

// Reads one upload's bytes for one call.
class MacBinaryReader : public MacBinaryBase {
public:
    static constexpr uint32_t kHeaderSize = 128;

    MacBinaryReader(const uint8_t* inStart, int32_t inCount, bool inTypeAllows)
        : mStart(inStart),
          mCount(inStart && inCount > 0 ? static_cast<uint32_t>(inCount) : 0),
          mTypeAllows(inTypeAllows) {}

    // Whether the upload is MacBinary; if so, where its forks are.
    bool IsMacBinary(MacForks* outForks) const;
    uint32_t DataForkLength() const { return BigEndian(83); }
    uint32_t ResourceForkLength() const { return BigEndian(87); }
    // Where the resource fork starts, or null when it cannot be found.
    const uint8_t* LocateResourceFork() const;

private:
    uint32_t BigEndian(uint32_t inOffset) const;
    bool ValidResourceHeader(uint32_t inOffset, uint32_t inLength) const;

    const uint8_t* mStart;
    uint32_t mCount;
    bool mTypeAllows;
};

// "application/x-macbinary" exactly; an item with no content type at all
// (null) passes too.
bool ContentTypeAllowsMacBinary(const char16_t* inContentType);

// The extension for a header's type and creator (at most 15 characters):
// the Macintosh file services' registry tables, the built-in table, else the
// type code itself.
std::string ExtensionFor(const uint8_t* inHeader);

// The 60-byte Finder record: a new one from a header, or an existing one
// with its type, creator and Finder flags replaced from a header.
inline constexpr size_t kAfpInfoSize = 60;
void BuildAfpInfo(const uint8_t* inHeader, uint8_t* outRecord);
void UpdateAfpInfo(const uint8_t* inHeader, uint8_t* ioRecord);
