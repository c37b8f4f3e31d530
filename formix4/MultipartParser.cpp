// The body parser: multipart/form-data with the boundary taken from the body
// itself, else URL-encoded pairs. Items point into the held block; nothing
// of the field data is copied.
#include <strings.h>

#include <cstring>

#include "ClientFileNames.h"
#include "Multipart.h"
#include "Utilities.h"
#include "platform/CodePage.h"
#include "platform/EventLog.h"
#include "platform/Faults.h"

namespace {

constexpr const char* kThisFile = "Multipart";
constexpr size_t kValueSize = 260;
constexpr size_t kMaxBoundary = 255;

// A malformed body that makes the parse read where no data is (a header
// line without an end, a value without an end): the parse's fault path.
struct ParseFault {};

const uint8_t* Find(const uint8_t* inFrom, const uint8_t* inLimit, const char* inNeedle) {
    return reinterpret_cast<const uint8_t*>(BoundedFind(reinterpret_cast<const char*>(inFrom),
                                                        reinterpret_cast<const char*>(inLimit), inNeedle));
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
void CopyValue(const uint8_t* inValue, const uint8_t* inLast, char* outBuffer) {
    size_t n = 0;
    while (n < kValueSize - 1 && inValue + n <= inLast && inValue[n] != '\r' && inValue[n] != '"') ++n;
    const bool theCut = n == kValueSize - 1 && inValue + n <= inLast && inValue[n] != '\r' && inValue[n] != '"';
    if (theCut && GetACP() == CP_UTF8)
        while (n > 0 && (inValue[n] & 0xC0) == 0x80) --n;
    std::memcpy(outBuffer, inValue, n);
    outBuffer[n] = 0;
}

// The value of a header parameter: the first occurrence of the key from the
// line up to the end of the headers.
void HeaderValue(ForwardSearch& inSearch, const uint8_t* inPosition, const char* inKey, const uint8_t* inLast,
                 char* outBuffer) {
    outBuffer[0] = 0;
    const uint8_t* theKey = inSearch.from(inPosition);
    if (!theKey) return;
    const uint8_t* theValue = theKey + std::strlen(inKey);
    if (theValue <= inLast && *theValue == '"') ++theValue;
    if (theValue > inLast) return;
    CopyValue(theValue, inLast, outBuffer);
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

// URL-decodes a NUL-terminated text in place.
void UrlDecode(char* ioText) {
    char* out = ioText;
    for (const char* in = ioText; *in;) {
        if (*in == '+') {
            *out++ = ' ';
            ++in;
        } else if (*in == '%') {
            const int high = HexValue(in[1]);
            if (high < 0) {
                ++in;  // a '%' without a hex digit is dropped
            } else {
                const int low = HexValue(in[2]);
                if (low < 0) in += 2;  // dropped with its one digit
                else {
                    *out++ = static_cast<char>(high * 16 + low);
                    in += 3;
                }
            }
        } else {
            *out++ = *in++;
        }
    }
    *out = 0;
}

}  // namespace

void Multipart::ParseBlock(const uint8_t* inData, int32_t inLength) {
    Clear();
    auto theSource = std::make_unique<MemorySource>();
    theSource->setBlock(inData, static_cast<uint32_t>(inLength));
    mStream = std::move(theSource);
    mTotalLength = inLength;
    GetMultipartItems();
}

void Multipart::GetMultipartItems() {
    // The code page as it stands when the body is parsed, read once for the
    // whole parse, not for every text of every field.
    platform::codepage::PinnedAcp theCodePage;
    ParseItems();
}

void Multipart::ParseItems() {
    if (!mStream) return;
    mData = mStream->start();
    if (mStream->size() != static_cast<uint32_t>(mTotalLength)) {
        mReport.AddMessage("The upload was incomplete");
        return;
    }
    bool theFault = false;
    {
        platform::FaultFrame theFaults;
        if (PLATFORM_FAULT_CATCH(theFaults)) {
            theFault = true;
        } else {
            try {
                if (mTotalLength > 0) ParseMultipart(mData, mData + mTotalLength - 1);
                if (mGroups.empty()) ParseUrlEncoded();
            } catch (const ParseFault&) {
                theFault = true;
            }
        }
    }
    if (theFault) {
        mReport.AddMessage("GetMultipartItems raised an exception.");
        LogEvent(mReport.ComposeText().c_str(), EVENTLOG_ERROR_TYPE);
        mReport.SetResultCode(E_FAIL);
    }
}

void Multipart::ParseMultipart(const uint8_t* inStart, const uint8_t* inLast) {
    if (inStart >= inLast) return;
    const uint8_t* theDashes = Find(inStart, inLast, "--");
    if (!theDashes) return;
    const uint8_t* theLineEnd = Find(theDashes, inLast, "\r\n");
    if (!theLineEnd) return;
    const size_t theLength = static_cast<size_t>(theLineEnd - theDashes);
    if (theLength > kMaxBoundary) return;
    const std::string theBoundary(reinterpret_cast<const char*>(theDashes), theLength);
    const uint8_t* thePosition = theDashes;
    while (thePosition) thePosition = ParsePart(thePosition, inLast, theBoundary);
}

const uint8_t* Multipart::ParsePart(const uint8_t* inPosition, const uint8_t* inLast, const std::string& inBoundary) {
    const size_t theBoundaryLength = inBoundary.size();
    // The part must start with the boundary and "\r\n" (the closing "--" ends the loop).
    if (static_cast<size_t>(inLast - inPosition + 1) < theBoundaryLength + 2 ||
        std::memcmp(inPosition, inBoundary.data(), theBoundaryLength) != 0 ||
        inPosition[theBoundaryLength] != '\r' || inPosition[theBoundaryLength + 1] != '\n')
        return nullptr;
    char theName[kValueSize] = {}, theFileName[kValueSize] = {}, theContentType[kValueSize] = {};
    const uint8_t* theHeader = inPosition + theBoundaryLength + 2;
    // The end of the headers is found once per part.
    const uint8_t* theHeadersEnd = Find(theHeader, inLast, "\r\n\r\n");
    ForwardSearch theNames("name=", theHeadersEnd), theFileNames("filename=", theHeadersEnd),
        theTypes(": ", theHeadersEnd);
    ForwardSearch theLineEnds("\r\n", inLast);
    for (;;) {
        const uint8_t* theLineEnd = theLineEnds.from(theHeader);
        if (!theLineEnd) throw ParseFault();  // a header line that never ends
        if (theHeader == theLineEnd) break;
        const bool theDisposition = StartsWithNoCase(theHeader, theLineEnd, "Content-Disposition:");
        const bool theType = !theDisposition && StartsWithNoCase(theHeader, theLineEnd, "Content-Type:");
        if ((theDisposition || theType) && !theHeadersEnd) {
            // The lookup would search up to a null limit: reported, and it
            // finds nothing. A part that needs no lookup reports nothing.
            ReportAssertion(kThisFile, __LINE__, "ptr && str && maxptr");
        } else if (theDisposition) {
            HeaderValue(theNames, theHeader, "name=", inLast, theName);
            HeaderValue(theFileNames, theHeader, "filename=", inLast, theFileName);
        } else if (theType) {
            HeaderValue(theTypes, theHeader, ": ", inLast, theContentType);
        }
        theHeader = theLineEnd + 2;
    }
    const uint8_t* theContent = theHeader + 2;
    const uint8_t* theNext = Find(theContent, inLast, inBoundary.c_str());
    if (!theNext) return nullptr;
    const ptrdiff_t theLength = theNext - theContent - 2;
    AddItem(theName, theFileName, theContentType, theContent, theLength > 0 ? static_cast<int32_t>(theLength) : 0);
    return theNext;
}

void Multipart::ParseUrlEncoded() {
    // The body is held once more, and only once: room for the '&' and the
    // NUL is made before the copy, so the copy never grows into a second one.
    mDataCopy.reserve(static_cast<size_t>(mTotalLength) + 2);
    mDataCopy.assign(mData, mData + mTotalLength);
    mDataCopy.push_back('&');
    mDataCopy.push_back(0);
    char* theStart = mDataCopy.data();
    char* const theEnd = mDataCopy.data() + mDataCopy.size() - 1;  // the NUL
    while (theStart < theEnd) {
        char* theEquals = std::strchr(theStart, '=');
        if (!theEquals) break;
        *theEquals = 0;
        char* theValue = theEquals + 1;
        char* theAmpersand = std::strchr(theValue, '&');
        if (!theAmpersand) {
            // A zero byte inside a value: the pair has no end.
            ReportAssertion(kThisFile, __LINE__, "theAmpersand");
            throw ParseFault();
        }
        *theAmpersand = 0;
        UrlDecode(theStart);
        UrlDecode(theValue);
        AddItem(theStart, "", "", reinterpret_cast<const uint8_t*>(theValue), static_cast<int32_t>(std::strlen(theValue)));
        theStart = theAmpersand + 1;
    }
}

void Multipart::AddItem(const char* inName, const char* inFileName, const char* inContentType, const uint8_t* inData,
                        int32_t inLength) {
    // Names are cut at 259 bytes, as the group keeps them.
    char theName[kValueSize];
    const size_t theNameLength = strnlen(inName, kValueSize - 1);
    std::memcpy(theName, inName, theNameLength);
    theName[theNameLength] = 0;
    std::u16string theKey = GroupKey(theName);
    auto it = mGroupIndex.find(theKey);
    FieldGroup* theGroup;
    if (it == mGroupIndex.end()) {
        mGroups.push_back(std::make_unique<FieldGroup>(theName));
        mGroupIndex.emplace(std::move(theKey), static_cast<int>(mGroups.size() - 1));
        theGroup = mGroups.back().get();
    } else {
        theGroup = mGroups[static_cast<size_t>(it->second)].get();
    }
    MultipartItem theItem;
    // Empty file names and types are empty texts: nothing to decode (a text
    // field of a form has neither).
    if (inFileName && *inFileName) {
        ClientFileNames theNames = BuildClientFileNames(inFileName, mDetectCodePage, mCodePage);
        theItem.rawPath = std::move(theNames.rawPath);
        theItem.safeName = std::move(theNames.safeName);
        theItem.urlSafeName = std::move(theNames.urlSafeName);
    }
    if (inContentType && *inContentType) theItem.contentType = platform::codepage::ToUtf16(inContentType);
    theItem.data = inData;
    theItem.length = inLength;
    theGroup->append(std::move(theItem));
}
