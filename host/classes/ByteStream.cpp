#include "classes/ByteStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "classes/Charsets.h"
#include "classes/StreamBytes.h"
#include "classes/StreamFiles.h"
#include "core/NamedMembers.h"
#include "core/RuntimeErrors.h"
#include "platform/CodePage.h"

namespace classes {

namespace {

using host::kCall;
using host::kGet;
using host::kPut;
using host::MemberArgs;

constexpr const char* kSource = "ADODB.Stream";

// The data-access errors, raised as 0x800A0000 | number with their texts.
constexpr unsigned kInvalidArgument = 3001, kFileNotOpened = 3002, kFileNotRead = 3003, kFileNotWritten = 3004,
                   kNotInThisContext = 3219, kNotCapable = 3251, kClosed = 3704, kOpen = 3705;

const char* ErrorText(unsigned number) {
    switch (number) {
        case kInvalidArgument:
            return "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
        case kFileNotOpened:
            return "File could not be opened.";
        case kFileNotRead:
            return "File could not be read.";
        case kFileNotWritten:
            return "Write to file failed.";
        case kNotInThisContext:
            return "Operation is not allowed in this context.";
        case kNotCapable:
            return "Object or provider is not capable of performing requested operation.";
        case kClosed:
            return "Operation is not allowed when the object is closed.";
        default:
            return "Operation is not allowed when the object is open.";
    }
}

constexpr LONG kBinary = 1, kText = 2;
constexpr LONG kCrLf = -1, kLf = 10, kCr = 13;
constexpr LONG kReadAll = -1, kReadLine = -2;
constexpr LONG kWriteLine = 1;
constexpr LONG kCreateNotExist = 1, kOverwrite = 2;
constexpr LONG kModeRead = 1;  // read only, of the connection modes

// One Read or ReadText gives at most this many of the stream's bytes: the
// result is copied into the page's values, so a stream of hundreds of MB is
// read in pieces, or saved to a file, rather than made into one value.
constexpr size_t kMaxReadBytes = 128u << 20;
constexpr size_t kChunkBytes = 1u << 20;

bool IsAbsent(const VARIANT* arg) { return !arg || arg->vt == VT_EMPTY; }

// A number argument, `fallback` when left out.
bool NumberArg(const VARIANT* arg, LONG fallback, LONG* value) {
    if (IsAbsent(arg)) {
        *value = fallback;
        return true;
    }
    return arg->vt != VT_NULL && host::ArgLong(arg, value);
}

// A text argument: numbers, booleans and dates as their text; false for
// Null, arrays, and objects without a default value.
bool TextArg(const VARIANT* arg, std::u16string* text) {
    if (!arg || arg->vt == VT_NULL || (arg->vt & VT_ARRAY)) return false;
    platform::Variant converted;
    if (FAILED(VariantChangeType(&converted, arg, 0, VT_BSTR))) return false;
    text->assign(converted.bstrVal ? converted.bstrVal : u"", converted.bstrVal ? SysStringLen(converted.bstrVal) : 0);
    return true;
}

// The bytes of a one-dimensional array of bytes, such as Request.BinaryRead gives.
bool BytesArg(const VARIANT* arg, std::string_view* bytes) {
    if (!arg) return false;
    const VARTYPE type = static_cast<VARTYPE>(arg->vt & ~VT_BYREF);
    if (type != (VT_ARRAY | VT_UI1) && type != (VT_ARRAY | VT_I1)) return false;
    SAFEARRAY* array = (arg->vt & VT_BYREF) ? (arg->pparray ? *arg->pparray : nullptr) : arg->parray;
    if (!array || SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1) return false;
    *bytes = std::string_view(static_cast<const char*>(array->pvData), array->rgsabound[0].cElements);
    return true;
}

class ByteStream final : public host::NamedMembers<ByteStream, IDispatch> {
public:
    const std::vector<host::Member<ByteStream>>& members() const {
        using Self = ByteStream;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Size", 1, kGet, 0, 0, &Self::size},
            {u"EOS", 2, kGet, 0, 0, &Self::eos},
            {u"Position", 3, kGet | kPut, 0, 0, &Self::position},
            {u"Type", 4, kGet | kPut, 0, 0, &Self::type},
            {u"LineSeparator", 5, kGet | kPut, 0, 0, &Self::lineSeparator},
            {u"State", 6, kGet, 0, 0, &Self::state},
            {u"Mode", 7, kGet | kPut, 0, 0, &Self::mode},
            {u"Charset", 8, kGet | kPut, 0, 0, &Self::charset},
            {u"Read", 9, kCall, 0, 1, &Self::read},
            {u"Open", 10, kCall, 0, 5, &Self::open},
            {u"Close", 11, kCall, 0, 0, &Self::close},
            {u"SkipLine", 12, kCall, 0, 0, &Self::skipLine},
            {u"Write", 13, kCall, 1, 1, &Self::write},
            {u"SetEOS", 14, kCall, 0, 0, &Self::setEos},
            {u"CopyTo", 15, kCall, 1, 2, &Self::copyTo},
            {u"Flush", 16, kCall, 0, 0, &Self::flush},
            {u"SaveToFile", 17, kCall, 1, 2, &Self::saveToFile},
            {u"LoadFromFile", 18, kCall, 1, 1, &Self::loadFromFile},
            {u"ReadText", 19, kCall, 0, 1, &Self::readText},
            {u"WriteText", 20, kCall, 1, 2, &Self::writeText},
            {u"Cancel", 21, kCall, 0, 0, &Self::cancel},
        };
        return kMembers;
    }

private:
    // ---- failures and the checks members make first ----
    HRESULT fail(unsigned number) { return Fail(host::RuntimeError(number), ErrorText(number), kSource); }
    HRESULT failStore(int error) {
        if (error == EFBIG)
            return Fail(host::RuntimeError(kInvalidArgument), "A stream holds at most 2,147,483,647 bytes.", kSource);
        if (error == ENOSPC)
            return Fail(static_cast<HRESULT>(0x80070070), "There is not enough space on the disk.", kSource);
        return Fail(E_FAIL, std::string("The stream's bytes could not be kept: ") + std::strerror(error) + ".",
                    kSource);
    }
    HRESULT failTooLong() {
        return Fail(E_OUTOFMEMORY, "A stream gives at most 134,217,728 bytes at a time; read it in pieces.", kSource);
    }
    HRESULT needOpen() { return mOpen ? S_OK : fail(kClosed); }
    HRESULT needType(LONG type) {
        if (!mOpen) return fail(kClosed);
        return mType == type ? S_OK : fail(kNotInThisContext);
    }
    HRESULT needWritable() { return (mMode & 3) == kModeRead ? fail(kNotInThisContext) : S_OK; }
    static HRESULT ReturnLong(VARIANT* result, long long value) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(value);
        return S_OK;
    }

    // ---- properties ----
    HRESULT size(WORD, const MemberArgs&, VARIANT* result) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        return ReturnLong(result, static_cast<long long>(mBytes.size()));
    }
    HRESULT eos(WORD, const MemberArgs&, VARIANT* result) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        return host::ReturnBool(result, mPosition >= mBytes.size());
    }
    // A position past the end makes the stream longer, with zeros.
    HRESULT position(WORD use, const MemberArgs& args, VARIANT* result) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        if (use != kPut) return ReturnLong(result, static_cast<long long>(mPosition));
        LONG wanted = 0;
        if (!NumberArg(args.back(), 0, &wanted) || wanted < 0) return fail(kInvalidArgument);
        const auto at = static_cast<size_t>(wanted);
        if (at > mBytes.size()) {
            if (HRESULT hr = needWritable(); FAILED(hr)) return hr;
            if (const int error = mBytes.resize(at)) return failStore(error);
        }
        mPosition = at;
        return S_OK;
    }
    // Type and Charset change only at the start: the bytes stay as they
    // are and are read the new way from there.
    HRESULT type(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnLong(result, mType);
        LONG wanted = 0;
        if (!NumberArg(args.back(), 0, &wanted) || (wanted != kBinary && wanted != kText) || mPosition != 0)
            return fail(kInvalidArgument);
        mType = wanted;
        return S_OK;
    }
    HRESULT charset(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return host::ReturnText(result, mCharsetName);
        std::u16string name;
        UINT codePage = 0;
        if (!TextArg(args.back(), &name) || !FindCharset(name, &codePage) || mPosition != 0)
            return fail(kInvalidArgument);
        mCharsetName = name;
        mCodePage = codePage;
        return S_OK;
    }
    HRESULT lineSeparator(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnLong(result, mSeparator);
        LONG wanted = 0;
        if (!NumberArg(args.back(), 0, &wanted) || (wanted != kCrLf && wanted != kLf && wanted != kCr))
            return fail(kInvalidArgument);
        mSeparator = wanted;
        return S_OK;
    }
    HRESULT state(WORD, const MemberArgs&, VARIANT* result) { return ReturnLong(result, mOpen ? 1 : 0); }
    HRESULT mode(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnLong(result, mMode);
        if (mOpen) return fail(kOpen);
        LONG wanted = 0;
        if (!NumberArg(args.back(), 0, &wanted) || wanted < 0) return fail(kInvalidArgument);
        mMode = wanted;
        return S_OK;
    }

    // ---- opening and closing ----
    // Open([source, mode, options, user, password]): a stream of its own;
    // a source to open (an address, a record) is not offered.
    HRESULT open(WORD, const MemberArgs& args, VARIANT*) {
        if (mOpen) return fail(kOpen);
        const VARIANT* source = args[0];
        if (!IsAbsent(source) && source->vt != VT_NULL &&
            !(source->vt == VT_BSTR && SysStringLen(source->bstrVal) == 0))
            return fail(kNotCapable);
        LONG mode = mMode;
        if (!NumberArg(args[1], mMode, &mode) || mode < 0) return fail(kInvalidArgument);
        mMode = mode;
        mBytes.clear();
        mPosition = 0;
        mOpen = true;
        return S_OK;
    }
    HRESULT close(WORD, const MemberArgs&, VARIANT*) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        mBytes.clear();
        mPosition = 0;
        mOpen = false;
        return S_OK;
    }
    HRESULT flush(WORD, const MemberArgs&, VARIANT*) { return needOpen(); }
    HRESULT cancel(WORD, const MemberArgs&, VARIANT*) { return S_OK; }  // nothing runs in the background

    // ---- bytes ----
    HRESULT read(WORD, const MemberArgs& args, VARIANT* result) {
        if (HRESULT hr = needType(kBinary); FAILED(hr)) return hr;
        LONG wanted = 0;
        if (!NumberArg(args[0], kReadAll, &wanted) || wanted < kReadAll) return fail(kInvalidArgument);
        const size_t left = mBytes.size() - std::min(mPosition, mBytes.size());
        const size_t count = wanted == kReadAll ? left : std::min(left, static_cast<size_t>(wanted));
        if (count == 0) {
            result->vt = VT_NULL;  // nothing left to read
            return S_OK;
        }
        if (count > kMaxReadBytes) return failTooLong();
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
        if (!array) return E_OUTOFMEMORY;
        if (const int error = mBytes.read(mPosition, array->pvData, count)) {
            SafeArrayDestroy(array);
            return failStore(error);
        }
        mPosition += count;
        result->vt = VT_ARRAY | VT_UI1;
        result->parray = array;
        return S_OK;
    }
    HRESULT write(WORD, const MemberArgs& args, VARIANT*) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        std::string_view bytes;
        if (!BytesArg(args[0], &bytes)) return fail(kInvalidArgument);
        if (HRESULT hr = takeBytes(); FAILED(hr)) return hr;
        return writeAt(bytes);
    }
    // Whether bytes may be written: a text stream takes them only while it
    // is empty, and becomes a binary one.
    HRESULT takeBytes() {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        if (HRESULT hr = needWritable(); FAILED(hr)) return hr;
        if (mType == kText && mBytes.size() > 0) return fail(kNotInThisContext);
        mType = kBinary;
        return S_OK;
    }
    HRESULT writeAt(std::string_view bytes) {
        if (const int error = mBytes.write(mPosition, bytes.data(), bytes.size())) return failStore(error);
        mPosition += bytes.size();
        return S_OK;
    }
    HRESULT setEos(WORD, const MemberArgs&, VARIANT*) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        if (HRESULT hr = needWritable(); FAILED(hr)) return hr;
        const int error = mBytes.resize(mPosition);
        return error ? failStore(error) : S_OK;
    }
    // The bytes [from, from + length), which the caller keeps within the size.
    bool bytesAt(size_t from, size_t length, std::string* bytes) const {
        bytes->resize(length);
        return mBytes.read(from, bytes->data(), length) == 0;
    }

    // ---- text ----
    std::u16string separatorText() const { return mSeparator == kLf ? u"\n" : mSeparator == kCr ? u"\r" : u"\r\n"; }
    // At the start of a text stream the byte order mark of its character set is not text.
    void skipByteOrderMark() {
        const std::string_view mark = ByteOrderMark(mCodePage);
        std::string head;
        if (mPosition == 0 && !mark.empty() && mBytes.size() >= mark.size() && bytesAt(0, mark.size(), &head) &&
            head == mark)
            mPosition = mark.size();
    }
    // The bytes of the next `units` UTF-16 code units from the position,
    // never splitting a character; at most kMaxReadBytes of them.
    HRESULT bytesOfUnits(size_t units, std::string* bytes) {
        const size_t left = mBytes.size() - std::min(mPosition, mBytes.size());
        size_t window = std::min({left, units * 4 + 16, kMaxReadBytes + 16});
        for (;;) {
            if (!bytesAt(mPosition, window, bytes)) return failStore(EIO);
            const size_t taken = BytesOfUnits(mCodePage, *bytes, units);
            if (taken < window || window == left || window > kMaxReadBytes) {
                if (taken > kMaxReadBytes) return failTooLong();
                bytes->resize(taken);
                return S_OK;
            }
            window = std::min({left, window * 2, kMaxReadBytes + 16});
        }
    }
    // Where the line at the position ends: its text's end and the next line's start.
    struct LineEnd {
        size_t text;
        size_t next;
    };
    LineEnd lineEnd() const {
        const std::string separator = EncodeText(mCodePage, separatorText());
        const size_t unit = UnitBytes(mCodePage);
        std::string window;
        // Windows overlap by the separator's length, so that none is split between two.
        for (size_t from = mPosition; from < mBytes.size(); from += kChunkBytes) {
            const size_t length = std::min(kChunkBytes + separator.size(), mBytes.size() - from);
            if (!bytesAt(from, length, &window)) break;
            for (size_t at = window.find(separator); at != std::string::npos; at = window.find(separator, at + 1))
                if ((from + at - mPosition) % unit == 0) return {from + at, from + at + separator.size()};
            if (from + length == mBytes.size()) break;
        }
        return {mBytes.size(), mBytes.size()};
    }
    HRESULT readText(WORD, const MemberArgs& args, VARIANT* result) {
        if (HRESULT hr = needType(kText); FAILED(hr)) return hr;
        LONG wanted = 0;
        if (!NumberArg(args[0], kReadAll, &wanted) || wanted < kReadLine) return fail(kInvalidArgument);
        skipByteOrderMark();
        const size_t start = std::min(mPosition, mBytes.size());
        std::string bytes;
        size_t next = start;
        if (wanted == kReadLine) {
            const LineEnd end = lineEnd();
            if (end.text - start > kMaxReadBytes) return failTooLong();
            if (!bytesAt(start, end.text - start, &bytes)) return failStore(EIO);
            next = end.next;
        } else if (wanted == kReadAll) {
            if (mBytes.size() - start > kMaxReadBytes) return failTooLong();
            if (!bytesAt(start, mBytes.size() - start, &bytes)) return failStore(EIO);
            next = mBytes.size();
        } else {
            if (HRESULT hr = bytesOfUnits(static_cast<size_t>(wanted), &bytes); FAILED(hr)) return hr;
            next = start + bytes.size();
        }
        mPosition = next;
        return host::ReturnText(result, DecodeText(mCodePage, bytes));
    }
    HRESULT skipLine(WORD, const MemberArgs&, VARIANT*) {
        if (HRESULT hr = needType(kText); FAILED(hr)) return hr;
        skipByteOrderMark();
        mPosition = lineEnd().next;
        return S_OK;
    }
    // Text written at the start of the stream comes after the byte order
    // mark of the character set ("Unicode" and "utf-8" have one), as pages
    // expect; pages that want the bare bytes switch to binary and skip it.
    HRESULT writeText(WORD, const MemberArgs& args, VARIANT*) {
        if (HRESULT hr = needType(kText); FAILED(hr)) return hr;
        if (HRESULT hr = needWritable(); FAILED(hr)) return hr;
        std::u16string text;
        LONG option = 0;
        if (!TextArg(args[0], &text) || !NumberArg(args[1], 0, &option) || (option != 0 && option != kWriteLine))
            return fail(kInvalidArgument);
        if (option == kWriteLine) text += separatorText();
        return writeEncoded(text);
    }
    HRESULT writeEncoded(std::u16string_view text) {
        std::string bytes = mPosition == 0 ? std::string(ByteOrderMark(mCodePage)) : std::string();
        bytes += EncodeText(mCodePage, text);
        return writeAt(bytes);
    }

    // ---- files ----
    // A read-only stream is filled this way too.
    HRESULT loadFromFile(WORD, const MemberArgs& args, VARIANT*) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        std::u16string path;
        if (!TextArg(args[0], &path)) return fail(kInvalidArgument);
        int storeError = 0;
        switch (LoadFile(platform::codepage::Utf16ToUtf8(path), &mBytes, &storeError)) {
            case FileOutcome::Done:
                break;
            case FileOutcome::NotOpened:
                return fail(kFileNotOpened);
            case FileOutcome::TooLarge:
                return failStore(EFBIG);
            case FileOutcome::StoreFailed:
                return failStore(storeError);
            default:
                return fail(kFileNotRead);
        }
        mPosition = 0;
        return S_OK;
    }
    // SaveToFile(path[, option]): 1 creates the file and fails when it
    // exists, 2 replaces it; the whole stream is saved.
    HRESULT saveToFile(WORD, const MemberArgs& args, VARIANT*) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        std::u16string path;
        LONG option = 0;
        if (!TextArg(args[0], &path) || !NumberArg(args[1], kCreateNotExist, &option) ||
            (option != kCreateNotExist && option != kOverwrite))
            return fail(kInvalidArgument);
        if (SaveFile(mBytes, platform::codepage::Utf16ToUtf8(path), option == kOverwrite) != FileOutcome::Done)
            return fail(kFileNotWritten);
        mPosition = 0;
        return S_OK;
    }

    // ---- copies ----
    // CopyTo(stream[, count]): count characters of a text stream, or bytes
    // of a binary one, from the position to the other stream's position;
    // text goes from one character set to the other.
    HRESULT copyTo(WORD, const MemberArgs& args, VARIANT*) {
        if (HRESULT hr = needOpen(); FAILED(hr)) return hr;
        const VARIANT* target = args[0];
        auto* other = target && target->vt == VT_DISPATCH ? dynamic_cast<ByteStream*>(target->pdispVal) : nullptr;
        LONG wanted = 0;
        if (!other || other == this || !NumberArg(args[1], kReadAll, &wanted) || wanted < kReadAll)
            return fail(kInvalidArgument);
        if (!other->mOpen) return fail(kClosed);
        if (other->needWritable() != S_OK) return fail(kNotInThisContext);
        if (mType == kBinary) {
            if (other->takeBytes() != S_OK) return fail(kNotInThisContext);
            const size_t left = mBytes.size() - std::min(mPosition, mBytes.size());
            return copyBytes(*other, wanted == kReadAll ? left : std::min(left, static_cast<size_t>(wanted)));
        }
        skipByteOrderMark();
        const bool convert = other->mType == kText && other->mCodePage != mCodePage;
        if (wanted == kReadAll && !convert)
            return copyBytes(*other, mBytes.size() - std::min(mPosition, mBytes.size()));
        return copyUnits(*other, wanted == kReadAll ? StreamBytes::kMaxBytes : static_cast<size_t>(wanted), convert);
    }
    HRESULT copyBytes(ByteStream& other, size_t count) {
        std::string chunk;
        for (size_t done = 0; done < count;) {
            const size_t length = std::min(kChunkBytes, count - done);
            if (!bytesAt(mPosition, length, &chunk)) return failStore(EIO);
            if (HRESULT hr = other.writeAt(chunk); FAILED(hr)) return hr;  // the other stream gave the text
            mPosition += length;
            done += length;
        }
        return S_OK;
    }
    // Text a chunk at a time, each cut at a character's end.
    HRESULT copyUnits(ByteStream& other, size_t units, bool convert) {
        while (units > 0 && mPosition < mBytes.size()) {
            std::string bytes;
            if (HRESULT hr = bytesOfUnits(std::min(units, kChunkBytes), &bytes); FAILED(hr)) return hr;
            if (bytes.empty()) break;
            const std::u16string text = DecodeText(mCodePage, bytes);
            const HRESULT hr = convert ? other.writeEncoded(text) : other.writeAt(bytes);
            if (FAILED(hr)) return hr;
            mPosition += bytes.size();
            units -= std::min(units, text.size());
        }
        return S_OK;
    }

    bool mOpen = false;
    LONG mType = kText;
    std::u16string mCharsetName = u"Unicode";
    UINT mCodePage = kUtf16Little;
    LONG mSeparator = kCrLf;
    LONG mMode = 0;
    size_t mPosition = 0;
    StreamBytes mBytes;
};

}  // namespace

IDispatch* CreateByteStream() { return new (std::nothrow) ByteStream(); }

}  // namespace classes
