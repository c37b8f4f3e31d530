// The body parser: multipart/form-data with the boundary taken from the body
// itself, else URL-encoded pairs. Bytes and code pages in, field groups and
// items out: it reads no setting, no object context and no progress store.
// Items point into the parsed block (or the URL-encoded copy, which lives in
// the groups' arena); nothing of the field data is copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BoundaryIndex.h"
#include "FieldGroups.h"

struct ParseSettings {
    uint32_t ansiCodePage = 65001;  // the system ANSI code page at the parse
    int32_t codePage = 0;           // the form's CodePage for file names; 0: the ANSI one
    int32_t detectCodePage = 0;
};

// A failed internal check met during the parse, for the caller to report.
struct ParseAssertion {
    int line;
    const char* text;
};

class BodyParser {
public:
    static constexpr size_t kValueSize = 260;
    static constexpr size_t kMaxBoundary = 255;

    BodyParser(FieldGroups& ioGroups, const ParseSettings& inSettings);

    // Multipart over the whole block, then URL-encoded when that gave no
    // group. Returns false when the parse ended in its fault path (a header
    // line without an end, a zero byte inside a URL-encoded value); the
    // groups made before the fault stay.
    bool Parse(const uint8_t* inData, int32_t inLength);

    // The steps of Parse, for callers that run them one by one. These throw
    // BodyParser::Fault on the fault path.
    struct Fault {};
    void ParseMultipart(const uint8_t* inStart, const uint8_t* inLast);
    // Parses the part at `inPosition`; `outShortText` tells whether it was a
    // text field shorter than kShortText bytes.
    const uint8_t* ParsePart(const uint8_t* inPosition, const uint8_t* inLast, const std::string& inBoundary,
                             bool* outShortText);
    static constexpr ptrdiff_t kShortText = 64 * 1024;
    void ParseUrlEncoded(const uint8_t* inData, int32_t inLength);
    void AddItem(const char* inName, const char* inFileName, const char* inContentType, const uint8_t* inData,
                 int32_t inLength);

    // The places of the boundary found as the body arrived (the block parsed
    // from its first byte), used where they are the body's own boundary.
    void UseArrivalIndex(const BoundaryIndex* inIndex) { mArrivals = inIndex; }

    // The URL-encoded working copy, when one was made.
    const char* UrlEncodedCopy() const { return mCopy; }
    const std::vector<ParseAssertion>& Assertions() const { return mAssertions; }

private:
    void Assert(int inLine, const char* inText) { mAssertions.push_back({inLine, inText}); }
    // Where the content at inContent ends: the next boundary before inLast.
    const uint8_t* ContentEnd(const uint8_t* inContent, const uint8_t* inLast, const std::string& inBoundary) const;

    FieldGroups& mGroups;
    ParseSettings mSettings;
    const char* mCopy = nullptr;
    const BoundaryIndex* mArrivals = nullptr;
    const uint8_t* mIndexedStart = nullptr;  // the block the index describes, while it is parsed
    std::string mLastContentType;            // raw bytes of the last item's type, and its text
    FormText mLastContentTypeText;
    std::vector<ParseAssertion> mAssertions;
};
