#include "classes/TextReader.h"

#include <unistd.h>

#include <cerrno>

#include "classes/FileSystemErrors.h"
#include "platform/CodePage.h"

namespace classes {

namespace {

constexpr size_t kBlockBytes = 64 * 1024;
// The most characters one read gives a page: a larger text is read in parts.
constexpr size_t kMaxTextChars = size_t{1} << 25;

[[noreturn]] void ThrowTooLong() {
    throw FileSystemError{kOutOfMemory, "Out of memory: a text of more than " + std::to_string(kMaxTextChars) +
                                            " characters is read in parts (Read or ReadLine)"};
}

// How many of `bytes` decode on their own in an ANSI code page: up to the
// last byte below 0x40, which no double-byte code page uses as a second
// byte and UTF-8 never inside a character.
size_t WholeCharacters(std::string_view bytes) {
    for (size_t i = bytes.size(); i > 0; --i)
        if (static_cast<unsigned char>(bytes[i - 1]) < 0x40) return i;
    return bytes.size();
}

}  // namespace

void TextPosition::advance(const char16_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const char16_t c = text[i];
        if (c == u'\n' && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = c == u'\r';
        if (c == u'\r' || c == u'\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
}

TextReader::TextReader(int fd, TextFormat format, UINT codePage) : mFd(fd), mFormat(format), mCodePage(codePage) {}

TextReader::~TextReader() { ::close(mFd); }

bool TextReader::fill() {
    mText.erase(0, mPos);
    mPos = 0;
    const size_t before = mText.size();
    while (!mEof && mText.size() == before) {
        const size_t had = mBytes.size();
        mBytes.resize(had + kBlockBytes);
        const ssize_t got = ::read(mFd, mBytes.data() + had, kBlockBytes);
        const int error = errno;
        mBytes.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got < 0 && error == EINTR) continue;
        if (got < 0) ThrowErrno(error, kFileNotFound);
        mEof = got == 0;
        if (!mStarted && (mBytes.size() >= 2 || mEof)) {
            mStarted = true;
            if (mFormat == TextFormat::kByMark)
                mFormat = mBytes.compare(0, 2, "\xFF\xFE") == 0 ? TextFormat::kUnicode : TextFormat::kAnsi;
        }
        if (mStarted) decode(mBytes);
    }
    return mText.size() > before;
}

void TextReader::decode(std::string_view bytes) {
    size_t whole = mFormat == TextFormat::kUnicode ? bytes.size() & ~size_t{1}
                   : mEof                          ? bytes.size()
                                                   : WholeCharacters(bytes);
    if (mFormat == TextFormat::kUnicode) {
        for (size_t i = 0; i < whole; i += 2)
            mText.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  static_cast<unsigned char>(bytes[i + 1]) << 8));
    } else {
        mText += platform::codepage::ToUtf16(bytes.substr(0, whole), mCodePage);
    }
    if (mEof) whole = bytes.size();  // an odd last byte of a Unicode file is dropped
    mBytes.erase(0, whole);
    // A byte order mark opens a Unicode file (and a UTF-8 one) and is no text.
    if (!mMarkChecked && mPos < mText.size()) {
        mMarkChecked = true;
        if (mText[mPos] == u'\uFEFF') ++mPos;
    }
}

bool TextReader::atEnd() {
    while (mPos == mText.size())
        if (!fill()) return true;
    return false;
}

bool TextReader::atEndOfLine() { return atEnd() || mText[mPos] == u'\r' || mText[mPos] == u'\n'; }

void TextReader::take(size_t count, std::u16string* out) {
    if (out) {
        if (out->size() + count > kMaxTextChars) ThrowTooLong();
        out->append(mText, mPos, count);
    }
    mPosition.advance(mText.data() + mPos, count);
    mPos += count;
}

std::u16string TextReader::read(size_t count) {
    if (atEnd()) Throw(kPastEnd);
    std::u16string text;
    while (count > 0 && !atEnd()) {
        const size_t part = std::min(count, mText.size() - mPos);
        take(part, &text);
        count -= part;
    }
    return text;
}

void TextReader::skip(size_t count) {
    if (atEnd()) Throw(kPastEnd);
    while (count > 0 && !atEnd()) {
        const size_t part = std::min(count, mText.size() - mPos);
        take(part, nullptr);
        count -= part;
    }
}

// Takes the line's text up to its end, then the end itself. A CR at the
// end of what is decoded waits for the next block, which may start with
// its LF.
void TextReader::takeLine(std::u16string* out) {
    if (atEnd()) Throw(kPastEnd);
    for (;;) {
        const size_t end = mText.find_first_of(u"\r\n", mPos);
        const bool crAtEdge = end != std::u16string::npos && mText[end] == u'\r' && end + 1 == mText.size() && !mEof;
        if (end == std::u16string::npos || crAtEdge) {
            take((end == std::u16string::npos ? mText.size() : end) - mPos, out);
            if (!fill() && end == std::u16string::npos) return;  // the file's end ends its last line
            continue;
        }
        take(end - mPos, out);
        const bool crLf = mText[end] == u'\r' && end + 1 < mText.size() && mText[end + 1] == u'\n';
        take(crLf ? 2 : 1, nullptr);
        return;
    }
}

std::u16string TextReader::readLine() {
    std::u16string line;
    takeLine(&line);
    return line;
}

void TextReader::skipLine() { takeLine(nullptr); }

// Reading all of an empty or finished stream is an error, as it always
// was: pages test AtEndOfStream first or catch it.
std::u16string TextReader::readAll() {
    if (atEnd()) Throw(kPastEnd);
    std::u16string text;
    while (!atEnd()) take(mText.size() - mPos, &text);
    return text;
}

}  // namespace classes
