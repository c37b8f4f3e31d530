#include "classes/TextWriter.h"

#include <unistd.h>

#include <cerrno>

#include "classes/FileSystemErrors.h"
#include "platform/CodePage.h"

namespace classes {

namespace {

constexpr size_t kBlockBytes = 64 * 1024;
constexpr char kUnicodeMark[] = "\xFF\xFE";

}  // namespace

TextWriter::TextWriter(std::unique_ptr<StagedFile> staged, bool unicode, UINT codePage)
    : mStaged(std::move(staged)), mUnicode(unicode), mCodePage(codePage) {
    if (mUnicode) mBytes = kUnicodeMark;
}

TextWriter::TextWriter(int fd, bool empty, bool unicode, UINT codePage)
    : mFd(fd), mUnicode(unicode), mCodePage(codePage) {
    if (mUnicode && empty) mBytes = kUnicodeMark;
}

TextWriter::~TextWriter() {
    try {
        close();
    } catch (const FileSystemError&) {
        // The page let the stream go without closing it: nobody is left to
        // tell. A staged file that could not be put in place is removed.
    }
}

// A character the ANSI code page cannot hold is refused rather than written
// as "?", as these streams always did: the page learns that it needs a
// Unicode file before the text is lost.
void TextWriter::encode(const std::u16string& text) {
    if (mUnicode) {
        for (char16_t c : text) {
            mBytes.push_back(static_cast<char>(c & 0xFF));
            mBytes.push_back(static_cast<char>(c >> 8));
        }
        return;
    }
    if (text.empty()) return;
    const INT length = static_cast<INT>(text.size());
    BOOL lossy = FALSE;
    BOOL* lossyOut = mCodePage == CP_UTF8 ? nullptr : &lossy;
    const INT size = WideCharToMultiByte(mCodePage, 0, text.data(), length, nullptr, 0, nullptr, lossyOut);
    if (size <= 0 || lossy) Throw(kInvalidCall);
    const size_t at = mBytes.size();
    mBytes.resize(at + static_cast<size_t>(size));
    WideCharToMultiByte(mCodePage, 0, text.data(), length, mBytes.data() + at, size, nullptr, nullptr);
}

void TextWriter::write(const std::u16string& text) {
    if (!mStaged && mFd < 0) Throw(kBadFileMode);
    encode(text);
    mPosition.advance(text.data(), text.size());
    if (mBytes.size() >= kBlockBytes) flush();
}

void TextWriter::flush() {
    if (mStaged) {
        mStaged->write(mBytes.data(), mBytes.size());
        mBytes.clear();
        return;
    }
    // One write per block: with O_APPEND each lands whole after the others'.
    size_t done = 0;
    while (done < mBytes.size()) {
        const ssize_t written = ::write(mFd, mBytes.data() + done, mBytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) {
            mBytes.erase(0, done);
            ThrowErrno(errno, kFileNotFound);
        }
        done += static_cast<size_t>(written);
    }
    mBytes.clear();
}

void TextWriter::close() {
    if (!mStaged && mFd < 0) return;
    struct Closer {
        TextWriter& writer;
        ~Closer() {
            if (writer.mFd >= 0) ::close(writer.mFd);
            writer.mFd = -1;
            writer.mStaged.reset();
        }
    } closer{*this};
    flush();
    if (mStaged) mStaged->commit(true);
}

}  // namespace classes
