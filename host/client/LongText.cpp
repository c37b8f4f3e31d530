// The bytes of a long text counted, digested and kept in part as they come.
#include "client/LongText.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/CodePage.h"

// Where the complete characters of some bytes of the system code page end:
// before a UTF-8 sequence that the end cuts; anywhere in other pages.
size_t CompleteEnd(const uint8_t* bytes, size_t length) {
    if (GetACP() != CP_UTF8) return length;
    for (size_t back = 1; back <= std::min<size_t>(4, length); ++back) {
        const uint8_t lead = bytes[length - back];
        if ((lead & 0xC0) == 0x80) continue;
        const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        return need > back ? length - back : length;
    }
    return length;
}

void LongText::add(const uint8_t* bytes, size_t length) {
    mLength += length;
    mDigest.add(bytes, length);
    mHasNul = mHasNul || std::memchr(bytes, 0, length) != nullptr;
    if (mHead.size() < mHeadBytes)
        mHead.append(reinterpret_cast<const char*>(bytes), std::min(length, mHeadBytes - mHead.size()));
    // Counted 256 KB at a time: the decoded text of each stays small.
    for (size_t start = 0; start < length; start += kCountedBytes)
        count(bytes + start, std::min(kCountedBytes, length - start));
}

// Counts a character the last piece left unfinished (bytes that make
// none count as the replacement characters they decode to).
void LongText::finish() {
    mCharacters += Characters(mCarry.data(), mCarry.size());
    mCarry.clear();
}

size_t LongText::Characters(const char* bytes, size_t length) {
    return length ? platform::codepage::ToUtf16(std::string_view(bytes, length)).size() : 0;
}

// A character cut by the end of the last piece is finished with the
// first bytes of this one.
void LongText::count(const uint8_t* bytes, size_t length) {
    while (!mCarry.empty() && length > 0) {
        mCarry += static_cast<char>(*bytes++);
        --length;
        if (mCarry.size() == 4 ||
            CompleteEnd(reinterpret_cast<const uint8_t*>(mCarry.data()), mCarry.size()) == mCarry.size())
            finish();
    }
    const size_t end = CompleteEnd(bytes, length);
    mCharacters += Characters(reinterpret_cast<const char*>(bytes), end);
    mCarry.assign(reinterpret_cast<const char*>(bytes) + end, length - end);
}
