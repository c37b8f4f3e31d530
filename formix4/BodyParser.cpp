#include "BodyParser.h"

#include <strings.h>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ClientFileNames.h"
#include "Utilities.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace {

constexpr size_t kValueSize = BodyParser::kValueSize;

const uint8_t* Find(const uint8_t* inFrom, const uint8_t* inLimit, const char* inNeedle) {
    return reinterpret_cast<const uint8_t*>(
        BoundedFind(reinterpret_cast<const char*>(inFrom), reinterpret_cast<const char*>(inLimit), inNeedle));
}

// Finds the boundary that ends a part's content as Find does, a window of
// 32 MB at a time, each window given back once passed: a body held in a
// mapped file then never holds more than a window of it in memory while a
// large file's content is searched. The windows after the first have their
// pages mapped in one call before they are searched. Windows overlap by the
// needle's length, so that a boundary across two windows is found; the last
// window ends where the whole search would end.
const uint8_t* FindContentEnd(const uint8_t* inFrom, const uint8_t* inLimit, const char* inNeedle) {
    constexpr size_t kWindow = 32u << 20;
    const size_t theNeedle = std::strlen(inNeedle);
    for (const uint8_t* theFrom = inFrom;; theFrom += kWindow) {
        // The last window is left to faults: mapping a content of a few
        // megabytes whole would hold it resident while the rest of its body
        // is parsed, for every form parsed at once.
        if (inLimit < theFrom || static_cast<size_t>(inLimit - theFrom) <= kWindow + theNeedle)
            return Find(theFrom, inLimit, inNeedle);
        // So is the first: most parts end within it, a few kilobytes on, and
        // mapping 32 MB ahead for each of a thousand small files would map
        // the same pages a thousand times.
        if (theFrom != inFrom) platform::files::PrepareViewPages(theFrom, kWindow + theNeedle);
        if (const uint8_t* theFound = Find(theFrom, theFrom + kWindow + theNeedle - 1, inNeedle)) return theFound;
        platform::files::ReleaseViewPages(theFrom, kWindow);
    }
}

// Repeated searches for one needle from positions that only move forward,
// within one limit: each byte is examined once, whatever the number of
// searches (a part with thousands of header lines stays linear).
class ForwardSearch {
public:
    ForwardSearch(const char* inNeedle, const uint8_t* inLimit) : mNeedle(inNeedle), mLimit(inLimit) {}
    const uint8_t* from(const uint8_t* inPosition) {
        if (mSearched && inPosition >= mFrom && (!mFound || inPosition <= mFound)) return mFound;
        mFound = Find(inPosition, mLimit, mNeedle);
        mFrom = inPosition;
        mSearched = true;
        return mFound;
    }

private:
    const char* mNeedle;
    const uint8_t* mLimit;
    const uint8_t* mFrom = nullptr;
    const uint8_t* mFound = nullptr;
    bool mSearched = false;
};

// Copies at most 259 bytes of a header value starting at inValue; the value
// ends at the first carriage return or double quote, and never runs past
// the body's last byte. A cut does not split a UTF-8 character.
void CopyValue(const uint8_t* inValue, const uint8_t* inLast, uint32_t inCodePage, char* outBuffer) {
    size_t n = 0;
    while (n < kValueSize - 1 && inValue + n <= inLast && inValue[n] != '\r' && inValue[n] != '"') ++n;
    const bool theCut = n == kValueSize - 1 && inValue + n <= inLast && inValue[n] != '\r' && inValue[n] != '"';
    if (theCut && inCodePage == CP_UTF8)
        while (n > 0 && (inValue[n] & 0xC0) == 0x80) --n;
    std::memcpy(outBuffer, inValue, n);
    outBuffer[n] = 0;
}

// The value of a header parameter: the first occurrence of the key from the
// line up to the end of the headers.
void HeaderValue(ForwardSearch& inSearch, const uint8_t* inPosition, const char* inKey, const uint8_t* inLast,
                 uint32_t inCodePage, char* outBuffer) {
    outBuffer[0] = 0;
    const uint8_t* theKey = inSearch.from(inPosition);
    if (!theKey) return;
    const uint8_t* theValue = theKey + std::strlen(inKey);
    if (theValue <= inLast && *theValue == '"') ++theValue;
    if (theValue > inLast) return;
    CopyValue(theValue, inLast, inCodePage, outBuffer);
}

bool StartsWithNoCase(const uint8_t* inLine, const uint8_t* inLineEnd, const char* inPrefix) {
    const size_t theLength = std::strlen(inPrefix);
    return static_cast<size_t>(inLineEnd - inLine) >= theLength &&
           strncasecmp(reinterpret_cast<const char*>(inLine), inPrefix, theLength) == 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The URL-encoded copy is followed by this many bytes of padding, so that
// the scan below may read whole 16-byte blocks up to its final NUL.
constexpr size_t kScanPadding = 16;

// Bit i of the result is set when byte i of the 16 from inText is inStop, a
// zero byte, '%' or '+'.
inline uint32_t SpecialMask(const char* inText, char inStop) {
#ifdef __SSE2__
    const __m128i theBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inText));
    const __m128i theHits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(theBytes, _mm_set1_epi8(inStop)), _mm_cmpeq_epi8(theBytes, _mm_setzero_si128())),
        _mm_or_si128(_mm_cmpeq_epi8(theBytes, _mm_set1_epi8('%')), _mm_cmpeq_epi8(theBytes, _mm_set1_epi8('+'))));
    return static_cast<uint32_t>(_mm_movemask_epi8(theHits));
#else
    uint32_t theMask = 0;
    for (int i = 0; i < 16; ++i)
        if (inText[i] == inStop || !inText[i] || inText[i] == '%' || inText[i] == '+') theMask |= 1u << i;
    return theMask;
#endif
}

// Moves 16 bytes down to inTo, which lies before inFrom: every byte it
// overwrites has been read.
inline void Move16(char* inTo, const char* inFrom) {
#ifdef __SSE2__
    _mm_storeu_si128(reinterpret_cast<__m128i*>(inTo), _mm_loadu_si128(reinterpret_cast<const __m128i*>(inFrom)));
#else
    std::memmove(inTo, inFrom, 16);
#endif
}

// URL-decodes in place from inText up to the first inStop or zero byte, in
// the one pass that finds that end: "+" becomes a space, "%" and two hex
// digits that byte; a "%" without a hex digit is dropped, and one with a
// single digit is dropped with it. A stop byte is no hex digit, so an escape
// cut by the end of its text decodes as it would were the text cut first.
// The decoded text is NUL-terminated (which may overwrite the stop byte).
struct Decoded {
    char* inputEnd;    // where the stop or zero byte was
    char* decodedEnd;  // the decoded text's NUL
    bool stopped;      // the stop byte ended the text, not a zero byte
};

Decoded DecodeUntil(char* inText, char inStop) {
    char* in = inText;
    char* out = inText;
    for (;;) {
        // Sixteen bytes at a time while none is special; the text holds a
        // stop or zero byte, and the copy's padding covers the last block.
        const uint32_t theMask = SpecialMask(in, inStop);
        if (!theMask) {
            if (out != in) Move16(out, in);
            in += 16;
            out += 16;
            continue;
        }
        const int theRun = __builtin_ctz(theMask);
        if (out != in)
            for (int i = 0; i < theRun; ++i) out[i] = in[i];
        in += theRun;
        out += theRun;
        if (*in == '+') {
            *out++ = ' ';
            ++in;
        } else if (*in == '%') {
            const int high = HexValue(in[1]);
            const int low = high < 0 ? -1 : HexValue(in[2]);
            if (high < 0)
                ++in;
            else if (low < 0)
                in += 2;
            else {
                *out++ = static_cast<char>(high * 16 + low);
                in += 3;
            }
        } else {
            break;
        }
    }
    const bool theStopped = *in == inStop;
    *out = 0;
    return {in, out, theStopped};
}

}  // namespace

BodyParser::BodyParser(FieldGroups& ioGroups, const ParseSettings& inSettings)
    : mGroups(ioGroups), mSettings(inSettings) {
    mGroups.SetAnsiCodePage(inSettings.ansiCodePage);
}

bool BodyParser::Parse(const uint8_t* inData, int32_t inLength) {
    try {
        if (inLength > 0) ParseMultipart(inData, inData + inLength - 1);
        if (mGroups.Count() == 0) ParseUrlEncoded(inData, inLength);
    } catch (const Fault&) {
        mGroups.Seal();
        return false;
    }
    mGroups.Seal();
    return true;
}

void BodyParser::ParseMultipart(const uint8_t* inStart, const uint8_t* inLast) {
    mIndexedStart = nullptr;
    if (inStart >= inLast) return;
    const uint8_t* theDashes = Find(inStart, inLast, "--");
    if (!theDashes) return;
    const uint8_t* theLineEnd = Find(theDashes, inLast, "\r\n");
    if (!theLineEnd) return;
    const size_t theLength = static_cast<size_t>(theLineEnd - theDashes);
    if (theLength > kMaxBoundary) return;
    const std::string theBoundary(reinterpret_cast<const char*>(theDashes), theLength);
    const uint64_t theBlockLength = static_cast<uint64_t>(inLast - inStart) + 1;
    mIndexedStart = mArrivals && mArrivals->Added() == theBlockLength &&
                            mArrivals->Knows(theBoundary.c_str(), static_cast<uint64_t>(theDashes - inStart))
                        ? inStart
                        : nullptr;
    // The memory of the parts already parsed goes back every megabyte: a
    // body held in a mapped file is not resident whole while it is parsed,
    // however many forms are parsed at once. Short text fields stay, up to
    // kKeptText bytes of them: a form is read for its texts next, and each
    // page given back would be faulted in again to read them.
    constexpr ptrdiff_t kReleaseStep = 1 << 20;
    constexpr ptrdiff_t kKeptText = 16 << 20;
    ptrdiff_t theKeptText = 0;
    const uint8_t* theReleased = inStart;
    const uint8_t* thePosition = theDashes;
    while (thePosition) {
        const uint8_t* const thePart = thePosition;
        bool theShortText = false;
        thePosition = ParsePart(thePosition, inLast, theBoundary, &theShortText);
        if (theShortText && thePosition && theKeptText < kKeptText) {
            theKeptText += thePosition - thePart;
            // Only whole pages go, so the text's own stay.
            platform::files::ReleaseViewPages(theReleased, static_cast<size_t>(thePart - theReleased));
            theReleased = thePosition;
        } else if (thePosition && thePosition - theReleased >= kReleaseStep) {
            platform::files::ReleaseViewPages(theReleased, static_cast<size_t>(thePosition - theReleased));
            theReleased = thePosition;
        }
    }
}

const uint8_t* BodyParser::ParsePart(const uint8_t* inPosition, const uint8_t* inLast, const std::string& inBoundary,
                                     bool* outShortText) {
    const size_t theBoundaryLength = inBoundary.size();
    // The part must start with the boundary and "\r\n" (the closing "--" ends the loop).
    if (static_cast<size_t>(inLast - inPosition + 1) < theBoundaryLength + 2 ||
        std::memcmp(inPosition, inBoundary.data(), theBoundaryLength) != 0 || inPosition[theBoundaryLength] != '\r' ||
        inPosition[theBoundaryLength + 1] != '\n')
        return nullptr;
    char theName[kValueSize] = {}, theFileName[kValueSize] = {}, theContentType[kValueSize] = {};
    const uint8_t* theHeader = inPosition + theBoundaryLength + 2;
    // The end of the headers is found once per part.
    const uint8_t* theHeadersEnd = Find(theHeader, inLast, "\r\n\r\n");
    ForwardSearch theNames("name=", theHeadersEnd), theFileNames("filename=", theHeadersEnd),
        theTypes(": ", theHeadersEnd);
    ForwardSearch theLineEnds("\r\n", inLast);
    const uint32_t theCodePage = mSettings.ansiCodePage;
    for (;;) {
        const uint8_t* theLineEnd = theLineEnds.from(theHeader);
        if (!theLineEnd) throw Fault();  // a header line that never ends
        if (theHeader == theLineEnd) break;
        const bool theDisposition = StartsWithNoCase(theHeader, theLineEnd, "Content-Disposition:");
        const bool theType = !theDisposition && StartsWithNoCase(theHeader, theLineEnd, "Content-Type:");
        if ((theDisposition || theType) && !theHeadersEnd) {
            // The lookup would search up to a null limit: reported, and it
            // finds nothing. A part that needs no lookup reports nothing.
            Assert(__LINE__, "ptr && str && maxptr");
        } else if (theDisposition) {
            HeaderValue(theNames, theHeader, "name=", inLast, theCodePage, theName);
            HeaderValue(theFileNames, theHeader, "filename=", inLast, theCodePage, theFileName);
        } else if (theType) {
            HeaderValue(theTypes, theHeader, ": ", inLast, theCodePage, theContentType);
        }
        theHeader = theLineEnd + 2;
    }
    const uint8_t* theContent = theHeader + 2;
    const uint8_t* theNext = ContentEnd(theContent, inLast, inBoundary);
    if (!theNext) return nullptr;
    const ptrdiff_t theLength = theNext - theContent - 2;
    *outShortText = !theFileName[0] && theLength < kShortText;
    AddItem(theName, theFileName, theContentType, theContent, theLength > 0 ? static_cast<int32_t>(theLength) : 0);
    return theNext;
}

// The boundary is searched for as a C string, up to its first zero byte, as
// it always was: a body whose boundary line holds one parses as it did.
const uint8_t* BodyParser::ContentEnd(const uint8_t* inContent, const uint8_t* inLast,
                                      const std::string& inBoundary) const {
    if (!mIndexedStart || inContent > inLast) return FindContentEnd(inContent, inLast, inBoundary.c_str());
    const uint64_t thePlace = mArrivals->Next(static_cast<uint64_t>(inContent - mIndexedStart),
                                              static_cast<uint64_t>(inLast - mIndexedStart));
    return thePlace == BoundaryIndex::kNone ? nullptr : mIndexedStart + thePlace;
}

void BodyParser::ParseUrlEncoded(const uint8_t* inData, int32_t inLength) {
    // The body is held once more, in the groups' arena (so that it goes with
    // the form), followed by "&", a NUL and the scan's padding.
    const size_t theLength = inLength > 0 ? static_cast<size_t>(inLength) : 0;
    char* theCopy = mGroups.Arena().allocateArray<char>(theLength + 2 + kScanPadding);
    if (theLength) std::memcpy(theCopy, inData, theLength);
    theCopy[theLength] = '&';
    std::memset(theCopy + theLength + 1, 0, 1 + kScanPadding);
    mCopy = theCopy;
    char* theStart = theCopy;
    char* const theEnd = theCopy + theLength + 1;  // the NUL
    while (theStart < theEnd) {
        // The name runs to the next "=", the value from there to the next
        // "&": a pair without "=" joins the next pair's name, and a zero byte
        // ends either search.
        const Decoded theName = DecodeUntil(theStart, '=');
        if (!theName.stopped) break;
        char* const theValue = theName.inputEnd + 1;
        const Decoded theDecoded = DecodeUntil(theValue, '&');
        if (!theDecoded.stopped) {
            // A zero byte inside a value: the pair has no end.
            Assert(__LINE__, "theAmpersand");
            throw Fault();
        }
        // The value's length stops at its first zero byte, as a C string's would.
        const void* theZero = std::memchr(theValue, 0, static_cast<size_t>(theDecoded.decodedEnd - theValue));
        const char* theValueStop = theZero ? static_cast<const char*>(theZero) : theDecoded.decodedEnd;
        AddItem(theStart, "", "", reinterpret_cast<const uint8_t*>(theValue),
                static_cast<int32_t>(theValueStop - theValue));
        theStart = theDecoded.inputEnd + 1;
    }
}

void BodyParser::AddItem(const char* inName, const char* inFileName, const char* inContentType, const uint8_t* inData,
                         int32_t inLength) {
    MultipartItem theItem;
    FormArena& theArena = mGroups.Arena();
    // Empty file names and types are empty texts: nothing to decode (a text
    // field of a form has neither).
    if (inFileName && *inFileName) {
        const int32_t theCodePage =
            mSettings.codePage ? mSettings.codePage : static_cast<int32_t>(mSettings.ansiCodePage);
        const ClientFileNames theNames = BuildClientFileNames(inFileName, mSettings.detectCodePage, theCodePage);
        // The three names are often one text ("photo.jpg"): kept once.
        theItem.rawPath = FormText::Make(theArena, theNames.rawPath);
        theItem.safeName =
            theNames.safeName == theNames.rawPath ? theItem.rawPath : FormText::Make(theArena, theNames.safeName);
        theItem.urlSafeName = theNames.urlSafeName == theNames.safeName
                                  ? theItem.safeName
                                  : FormText::Make(theArena, theNames.urlSafeName);
    }
    if (inContentType && *inContentType) {
        // The files of a form mostly share their type: kept once per run of it.
        if (mLastContentType != inContentType) {
            mLastContentType = inContentType;
            mLastContentTypeText =
                FormText::Make(theArena, platform::codepage::ToUtf16(inContentType, mSettings.ansiCodePage));
        }
        theItem.contentType = mLastContentTypeText;
    }
    theItem.data = inData;
    theItem.length = inLength;
    mGroups.Append(inName, theItem);
}
