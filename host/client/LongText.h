// The bytes of a text longer than a report shows, gathered as they come in
// pieces. Internal to the form report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "client/Sha256.h"

// Where the complete characters of some bytes of the system code page end:
// before a UTF-8 sequence that the end cuts; anywhere in other pages.
size_t CompleteEnd(const uint8_t* bytes, size_t length);

// What the report needs of the bytes of a text longer than it shows,
// gathered as they come in pieces: their length and digest, the characters
// they make in the system code page, whether a NUL is among them, and the
// first bytes, which are shown.
class LongText {
public:
    explicit LongText(size_t headBytes) : mHeadBytes(headBytes) {}

    void add(const uint8_t* bytes, size_t length);
    // Counts a character the last piece left unfinished (bytes that make
    // none count as the replacement characters they decode to).
    void finish();

    uint64_t length() const { return mLength; }
    std::string digest() { return mDigest.hex(); }
    size_t characters() const { return mCharacters; }
    bool hasNul() const { return mHasNul; }
    const std::string& head() const { return mHead; }

private:
    static constexpr size_t kCountedBytes = 256 * 1024;

    static size_t Characters(const char* bytes, size_t length);
    // A character cut by the end of the last piece is finished with the
    // first bytes of this one.
    void count(const uint8_t* bytes, size_t length);

    const size_t mHeadBytes;
    uint64_t mLength = 0;
    Sha256 mDigest;
    size_t mCharacters = 0;
    bool mHasNul = false;
    std::string mHead;
    std::string mCarry;
};
