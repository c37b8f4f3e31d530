// The form's engine: it obtains the page's Request and Server objects,
// reads the request body (or a raw upload file) into one block, and parses
// it into field groups and items that point into that block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ErrorReport.h"
#include "FileUtilities.h"
#include "platform/Asp.h"
#include "platform/ComPtr.h"

// One part of a multipart body, or one URL-encoded pair.
struct MultipartItem {
    std::u16string rawPath;
    std::u16string safeName;
    std::u16string urlSafeName;
    std::u16string contentType;
    const uint8_t* data = nullptr;  // inside the raw block or the URL-encoded copy
    int32_t length = 0;
};

// The items of one field name, in body order.
class FieldGroup {
public:
    explicit FieldGroup(const char* inName);
    virtual ~FieldGroup() = default;
    virtual int count() const { return static_cast<int>(mItems.size()); }
    virtual const MultipartItem* itemAt(int inNumber) const;
    const char* name() const { return mName; }
    void append(MultipartItem inItem) { mItems.push_back(std::move(inItem)); }

private:
    char mName[260];
    std::vector<MultipartItem> mItems;
};

// The key under which group names compare: folded Unicode text in the ANSI
// code page, or the raw bytes when they are no text in it.
std::u16string GroupKey(const char* inName);

class Multipart {
public:
    static constexpr int32_t kDefaultMaxUploadSize = 8388608;

    Multipart();
    virtual ~Multipart();
    Multipart(const Multipart&) = delete;
    Multipart& operator=(const Multipart&) = delete;

    // Reads and parses once: the request body, or with inPath the file at
    // that path. Returns whether the intake's report holds anything.
    virtual bool Process(const char16_t* inPath, bool inAbsolute);
    virtual void Clear();
    virtual void SetID(int32_t inID);
    virtual int32_t GetID() const { return mID; }
    // The group of that name (ignoring letter case), or -1.
    virtual int FindGroup(const char* inName) const;
    // The first group whose name, as the enumeration shows it, is this text
    // (ignoring letter case), or -1: finds names whose bytes are no text in
    // the code page, which the enumeration shows with replacement characters.
    int FindGroupByText(const std::u16string& inText) const;
    virtual FieldGroup* GroupAt(int inNumber) const;
    virtual int GroupCount() const { return static_cast<int>(mGroups.size()); }
    virtual ErrorReport& Report() { return mReport; }
    virtual const uint8_t* Data() const { return mData; }
    virtual int32_t TotalLength() const { return mTotalLength; }
    virtual int32_t GetMaxUploadSize() const { return mMaxUploadSize; }
    virtual void SetMaxUploadSize(int32_t inBytes) { mMaxUploadSize = inBytes; }
    virtual int32_t GetCodePage() const { return mCodePage; }
    virtual void SetCodePage(int32_t inCodePage) { mCodePage = inCodePage; }
    virtual int32_t GetDetectCodePage() const { return mDetectCodePage; }
    virtual void SetDetectCodePage(int32_t inFlag) { mDetectCodePage = inFlag; }
    // Parsed as multipart: data was held and no URL-encoded copy was made.
    virtual bool IsMultipart() const { return mTotalLength != 0 && mDataCopy.empty(); }
    // A virtual path mapped by the page's Server object, at most 259 characters.
    virtual HRESULT MapPath(const char16_t* inVirtual, std::u16string* outPath);

    // The parse of a held block, for callers that hold bytes themselves.
    void ParseBlock(const uint8_t* inData, int32_t inLength);

protected:
    virtual void GetContext();
    virtual void ReadRequest();
    virtual void ReadFile(const char16_t* inPath, bool inAbsolute);
    virtual void CheckLength();
    virtual void GetMultipartItems();
    // The parse itself, under the code page GetMultipartItems fixes for it.
    void ParseItems();
    virtual void ParseUrlEncoded();
    virtual void ParseMultipart(const uint8_t* inStart, const uint8_t* inLast);
    virtual const uint8_t* ParsePart(const uint8_t* inPosition, const uint8_t* inLast, const std::string& inBoundary);
    virtual void AddItem(const char* inName, const char* inFileName, const char* inContentType,
                         const uint8_t* inData, int32_t inLength);

private:
    HRESULT ReadBody(int32_t inLength);
    HRESULT ReadBodyToCache(HANDLE inCache, int32_t inLength);
    HRESULT ReadBodyToMemory(int32_t inLength);
    HANDLE CreateBinaryReadCache();
    void Note(const char* inNote);

    int32_t mID;
    bool mProcessed = false;
    platform::ComPtr<IObjectContext> mContext;
    platform::ComPtr<IGetContextProperties> mProperties;
    platform::ComPtr<IRequest> mRequest;
    platform::ComPtr<IServer> mServer;
    int32_t mTotalLength = 0;
    std::unique_ptr<MemorySource> mStream;
    const uint8_t* mData = nullptr;
    std::vector<char> mDataCopy;
    int32_t mMaxUploadSize = kDefaultMaxUploadSize;
    int32_t mDetectCodePage = 0;
    int32_t mCodePage = 0;
    std::vector<std::unique_ptr<FieldGroup>> mGroups;
    std::unordered_map<std::u16string, int> mGroupIndex;  // folded name -> first group
    ErrorReport mReport;
};
