// The form's engine: it obtains the page's Request and Server objects,
// reads the request body (or a raw upload file) into one block, and parses
// it into field groups and items that point into that block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BodyParser.h"
#include "ErrorReport.h"
#include "FieldGroups.h"
#include "FileUtilities.h"
#include "ProgressStore.h"
#include "platform/Asp.h"
#include "platform/ComPtr.h"

class Multipart {
public:
    static constexpr int32_t kDefaultMaxUploadSize = 8388608;

    Multipart();
    ~Multipart();
    Multipart(const Multipart&) = delete;
    Multipart& operator=(const Multipart&) = delete;

    // Reads and parses once: the request body, or with inPath the file at
    // that path. Returns whether the intake's report holds anything.
    bool Process(const char16_t* inPath, bool inAbsolute);
    void Clear();
    void SetID(int32_t inID);
    int32_t GetID() const { return mID; }
    // The group of that name (ignoring letter case), or -1.
    int FindGroup(const char* inName) const;
    // The first group whose name, as the enumeration shows it, is this text
    // (ignoring letter case), or -1: finds names whose bytes are no text in
    // the code page, which the enumeration shows with replacement characters.
    int FindGroupByText(const std::u16string& inText) const;
    // The system ANSI code page the body was parsed in; 0 before a parse.
    // The form's texts are shown in it: read once per form, not per text.
    uint32_t ParsedCodePage() const { return mParsedCodePage; }
    FieldGroup* GroupAt(int inNumber) const { return mGroups.At(inNumber); }
    int GroupCount() const { return mGroups.Count(); }
    ErrorReport& Report() { return mReport; }
    const uint8_t* Data() const { return mData; }
    int32_t TotalLength() const { return mTotalLength; }
    int32_t GetMaxUploadSize() const { return mMaxUploadSize; }
    void SetMaxUploadSize(int32_t inBytes) { mMaxUploadSize = inBytes; }
    int32_t GetCodePage() const { return mCodePage; }
    void SetCodePage(int32_t inCodePage) { mCodePage = inCodePage; }
    // Parsed as multipart: data was held and no URL-encoded copy was made.
    bool IsMultipart() const { return mTotalLength != 0 && !(mParser && mParser->UrlEncodedCopy()); }
    // A virtual path mapped by the page's Server object, at most 259 characters.
    HRESULT MapPath(const char16_t* inVirtual, std::u16string* outPath);

    // The parse of a held block, for callers that hold bytes themselves.
    void ParseBlock(const uint8_t* inData, int32_t inLength);
    // The same for a block that arrived in chunks of `inChunk` bytes, as a
    // request body does: its boundaries are found chunk by chunk.
    void ParseArrivedBlock(const uint8_t* inData, int32_t inLength, uint32_t inChunk);

protected:
    void GetContext();
    void ReadRequest();
    void ReadFile(const char16_t* inPath, bool inAbsolute);
    void CheckLength();
    void GetMultipartItems();
    // The parse itself, under the code page GetMultipartItems fixes for it.
    void ParseItems();

private:
    HRESULT ReadBody(int32_t inLength);
    // Reads the body chunk by chunk, handing each to inTake (bytes, bytes
    // held, count read, bytes wanted, offset of the chunk's end) and counting
    // the progress after each.
    template <class Take>
    HRESULT ReadChunks(int32_t inLength, Take inTake);
    HRESULT ReadBodyToCache(HANDLE inCache, int32_t inLength);
    HRESULT ReadBodyToMemory(int32_t inLength);
    HANDLE CreateBinaryReadCache();
    void Note(const char* inNote);
    void SetCounts(int32_t inDone, int32_t inTotal);
    BodyParser& Parser();
    void ParseHeldBlock(const uint8_t* inData, int32_t inLength);  // after Clear()

    int32_t mID;
    // The progress record this form made for its ID: its counts, notes and
    // end go there even when a page has meanwhile made another under the ID.
    std::shared_ptr<ProgressRecord> mRecord;
    bool mProcessed = false;
    platform::ComPtr<IObjectContext> mContext;
    platform::ComPtr<IGetContextProperties> mProperties;
    platform::ComPtr<IRequest> mRequest;
    platform::ComPtr<IServer> mServer;
    int32_t mTotalLength = 0;
    std::unique_ptr<MemorySource> mStream;
    const uint8_t* mData = nullptr;
    int32_t mMaxUploadSize = kDefaultMaxUploadSize;
    int32_t mCodePage = 0;
    uint32_t mParsedCodePage = 0;
    FieldGroups mGroups;
    std::unique_ptr<BodyParser> mParser;  // of the last parse, which made mGroups
    BoundaryIndex mArrivals;              // of the body in the cache file, as it arrived
    ErrorReport mReport;
};
