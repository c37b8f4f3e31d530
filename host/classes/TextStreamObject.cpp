#include "classes/TextStreamObject.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

#include "classes/FileSystemErrors.h"
#include "classes/FileSystemPaths.h"
#include "classes/TextWriter.h"
#include "core/SiteCodePage.h"

namespace classes {

namespace {

constexpr mode_t kNewFileMode = 0666;  // before the umask

class TextStreamObject final : public FileSystemMembers<TextStreamObject> {
public:
    explicit TextStreamObject(std::unique_ptr<TextReader> reader) : mReader(std::move(reader)) {}
    explicit TextStreamObject(std::unique_ptr<TextWriter> writer) : mWriter(std::move(writer)) {}

    const std::vector<host::Member<TextStreamObject>>& members() const {
        using Self = TextStreamObject;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Line", 1, host::kGet, 0, 0, &Self::line},
            {u"Column", 2, host::kGet, 0, 0, &Self::column},
            {u"AtEndOfStream", 3, host::kGet, 0, 0, &Self::atEndOfStream},
            {u"AtEndOfLine", 4, host::kGet, 0, 0, &Self::atEndOfLine},
            {u"Read", 5, host::kCall, 1, 1, &Self::read},
            {u"ReadLine", 6, host::kCall, 0, 0, &Self::readLine},
            {u"ReadAll", 7, host::kCall, 0, 0, &Self::readAll},
            {u"Write", 8, host::kCall, 1, 1, &Self::write},
            {u"WriteLine", 9, host::kCall, 0, 1, &Self::writeLine},
            {u"WriteBlankLines", 10, host::kCall, 1, 1, &Self::writeBlankLines},
            {u"Skip", 11, host::kCall, 1, 1, &Self::skip},
            {u"SkipLine", 12, host::kCall, 0, 0, &Self::skipLine},
            {u"Close", 13, host::kCall, 0, 0, &Self::close},
        };
        return kMembers;
    }

private:
    // The stream's reader; a stream open for writing, or closed, has none.
    TextReader& reader() {
        if (!mReader) Throw(kBadFileMode);
        return *mReader;
    }
    TextWriter& writer() {
        if (!mWriter) Throw(kBadFileMode);
        return *mWriter;
    }
    const TextPosition& position() {
        if (mReader) return mReader->position();
        if (mWriter) return mWriter->position();
        Throw(kBadFileMode);
    }
    // A count of characters or lines: never negative.
    static size_t Count(const VARIANT* arg) {
        const LONG count = NumberArg(arg, 0);
        if (count < 0) Throw(kInvalidCall);
        return static_cast<size_t>(count);
    }

    HRESULT line(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return ReturnLong(result, position().line); });
    }
    HRESULT column(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return ReturnLong(result, position().column); });
    }
    HRESULT atEndOfStream(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return host::ReturnBool(result, reader().atEnd()); });
    }
    HRESULT atEndOfLine(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return host::ReturnBool(result, reader().atEndOfLine()); });
    }
    HRESULT read(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const size_t count = Count(args[0]);
            return host::ReturnText(result, count ? reader().read(count) : std::u16string());
        });
    }
    HRESULT readLine(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return host::ReturnText(result, reader().readLine()); });
    }
    HRESULT readAll(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return host::ReturnText(result, reader().readAll()); });
    }
    HRESULT write(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            writer().write(TextArg(args[0]));
            return S_OK;
        });
    }
    HRESULT writeLine(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            writer().write(TextArg(args[0]) + u"\r\n");
            return S_OK;
        });
    }
    // Written a block of line ends at a time, whatever the count.
    HRESULT writeBlankLines(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            constexpr size_t kLinesPerWrite = 4096;
            size_t left = Count(args[0]);
            TextWriter& out = writer();
            std::u16string block;
            for (size_t i = 0; i < std::min(left, kLinesPerWrite); ++i) block += u"\r\n";
            for (; left > 0; left -= std::min(left, kLinesPerWrite))
                out.write(left >= kLinesPerWrite ? block : block.substr(0, 2 * left));
            return S_OK;
        });
    }
    HRESULT skip(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            const size_t count = Count(args[0]);
            if (count) reader().skip(count);
            return S_OK;
        });
    }
    HRESULT skipLine(WORD, const host::MemberArgs&, VARIANT*) {
        return guarded([&] {
            reader().skipLine();
            return S_OK;
        });
    }
    // Closing twice is harmless; a write that fails at Close (the disk is
    // full) is reported, and the file keeps what it had before.
    HRESULT close(WORD, const host::MemberArgs&, VARIANT*) {
        return guarded([&] {
            mReader.reset();
            std::unique_ptr<TextWriter> writer = std::move(mWriter);
            if (writer) writer->close();
            return S_OK;
        });
    }

    std::unique_ptr<TextReader> mReader;
    std::unique_ptr<TextWriter> mWriter;
};

IDispatch* Made(TextStreamObject* stream) {
    if (!stream) throw std::bad_alloc();
    return stream;
}

// Makes the name appear, empty, when nothing is there yet; with `exclusive`
// an existing name is kFileExists.
void Reserve(const std::string& path, bool exclusive) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC | (exclusive ? O_EXCL : 0), kNewFileMode);
    if (fd < 0) ThrowErrno(errno, kPathNotFound);
    ::close(fd);
}

IDispatch* OpenForWriting(const std::string& path, bool mustBeNew, bool unicode) {
    struct stat existing {};
    const EntryKind kind = KindOf(path, &existing);
    if (kind == EntryKind::kFolder) Throw(kPermissionDenied);
    if (kind == EntryKind::kFile && mustBeNew) Throw(kFileExists);
    // A replaced file keeps its permissions.
    auto staged =
        std::make_unique<StagedFile>(path, kind == EntryKind::kFile ? existing.st_mode & 07777 : kNewFileMode);
    if (kind == EntryKind::kFile) {
        if (::access(path.c_str(), W_OK) != 0) ThrowErrno(errno, kFileNotFound);
    } else {
        Reserve(path, mustBeNew);
    }
    return Made(new (std::nothrow)
                    TextStreamObject(std::make_unique<TextWriter>(std::move(staged), unicode, SiteCodePage())));
}

IDispatch* OpenForAppending(const std::string& path, bool create, bool unicode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), kNewFileMode);
    if (fd < 0) ThrowErrno(errno, create ? kPathNotFound : kFileNotFound);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        Throw(kPermissionDenied);
    }
    return Made(new (std::nothrow)
                    TextStreamObject(std::make_unique<TextWriter>(fd, info.st_size == 0, unicode, SiteCodePage())));
}

IDispatch* OpenForReading(const std::string& path, bool create, int format) {
    if (create && KindOf(path) == EntryKind::kNone) Reserve(path, false);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(errno, kFileNotFound);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        Throw(kPermissionDenied);
    }
    const TextFormat textFormat = format == kTristateTrue    ? TextFormat::kUnicode
                                  : format == kTristateFalse ? TextFormat::kAnsi
                                                             : TextFormat::kByMark;
    return Made(new (std::nothrow) TextStreamObject(std::make_unique<TextReader>(fd, textFormat, SiteCodePage())));
}

}  // namespace

IDispatch* OpenTextStream(const std::string& path, int ioMode, bool create, int format) {
    if (format != kTristateFalse && format != kTristateTrue && format != kTristateUseDefault) Throw(kInvalidCall);
    const bool unicode = format == kTristateTrue;
    switch (ioMode) {
        case kForReading:
            return OpenForReading(path, create, format);
        case kForWriting:
            if (!create && KindOf(path) == EntryKind::kNone) Throw(kFileNotFound);
            return OpenForWriting(path, false, unicode);
        case kForAppending:
            return OpenForAppending(path, create, unicode);
        default:
            Throw(kInvalidCall);
    }
}

IDispatch* CreateTextStream(const std::string& path, bool overwrite, bool unicode) {
    return OpenForWriting(path, !overwrite, unicode);
}

}  // namespace classes
