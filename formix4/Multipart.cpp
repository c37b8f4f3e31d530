// The engine's intake: object context, request body (through a
// delete-on-close cache file, or memory), raw upload files, progress notes.
#include "Multipart.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "ProgressStore.h"
#include "Utilities.h"
#include "platform/CodePage.h"
#include "platform/EventLog.h"
#include "platform/Faults.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace {

constexpr const char* kThisFile = "Multipart";
// Whether the process has tried to make a binary read cache yet: only the
// first attempt's failure is logged.
std::atomic<bool> gCacheAttempted{false};

HRESULT FromWin32(DWORD inError) { return static_cast<HRESULT>(inError | 0x80040000u); }

// A property of the object context as the interface T.
template <class T>
HRESULT ContextObject(IGetContextProperties* inProperties, const char16_t* inName, REFIID inIID, T** outObject) {
    platform::Variant theValue;
    platform::Bstr theName(inName);
    HRESULT hr = inProperties->GetProperty(theName.get(), &theValue);
    if (FAILED(hr)) return hr;
    if (theValue.vt != VT_DISPATCH || !theValue.pdispVal) return E_FAIL;
    hr = theValue.pdispVal->QueryInterface(inIID, reinterpret_cast<void**>(outObject));
    if (SUCCEEDED(hr) && !*outObject) hr = E_UNEXPECTED;
    return hr;
}

}  // namespace

Multipart::Multipart() : mID(ProgressStore::Instance().NewId()), mRecord(ProgressStore::Instance().CreateRecord(mID)) {}

Multipart::~Multipart() { Clear(); }

void Multipart::Note(const char* inNote) { ProgressStore::Instance().SetNote(*mRecord, inNote); }

void Multipart::SetCounts(int32_t inDone, int32_t inTotal) {
    ProgressStore::Instance().Counter(mRecord).Set(inDone, inTotal);
}

void Multipart::SetID(int32_t inID) {
    ProgressStore& theStore = ProgressStore::Instance();
    theStore.RemoveRecord(inID);
    theStore.RemoveRecord(mID);
    mID = inID;
    mRecord = theStore.CreateRecord(mID);
}

void Multipart::Clear() {
    mContext.reset();
    mProperties.reset();
    mRequest.reset();
    mServer.reset();
    mStream.reset();  // a cache file is deleted by the system as it closes
    mParser.reset();
    mArrivals.Clear();
    mGroups.Clear();  // the form's records and URL-encoded copy go back to the system
    mReport.Reset();
    mProcessed = false;
    mTotalLength = 0;
    mData = nullptr;
    mParsedCodePage = 0;
    ProgressStore::Instance().MarkFinished(*mRecord);
}

int Multipart::FindGroup(const char* inName) const { return mGroups.Find(inName); }

int Multipart::FindGroupByText(const std::u16string& inText) const { return mGroups.FindShown(inText); }

// ---- processing ---------------------------------------------------------------------

bool Multipart::Process(const char16_t* inPath, bool inAbsolute) {
    if (mProcessed) return mReport.HasErrors();
    mProcessed = true;
    try {
        if (!inPath || !inAbsolute) GetContext();
        if (!mReport.HasErrors()) {
            if (inPath)
                ReadFile(inPath, inAbsolute);
            else
                ReadRequest();
        }
        if (!mReport.HasErrors()) CheckLength();
        Note("Processing upload...");
        if (!mReport.HasErrors()) GetMultipartItems();
        Note("Finishing...");
        if (mReport.HasErrors()) Note(mReport.ComposeText().c_str());
    } catch (...) {
        mReport.AddMessage("Initialization of Multipart failed because an exception was thrown.");
    }
    return mReport.HasErrors();
}

void Multipart::GetContext() {
    HRESULT theResult = S_OK;
    if (!mContext) {
        theResult = GetObjectContext(mContext.put());
        if (SUCCEEDED(theResult) && !mContext) theResult = E_UNEXPECTED;
        if (FAILED(theResult)) {
            mContext.reset();
            mReport.AddMessage("Unable to get Object Context");
            mReport.SetResultCode(theResult);
            return;
        }
    }
    if (!mProperties) {
        theResult = mContext->QueryInterface(IID_IGetContextProperties, mProperties.putVoid());
        if (FAILED(theResult)) {
            mReport.AddMessage("Unable to get Context Properties");
            mReport.SetResultCode(theResult);
            return;
        }
    }
    bool theRequestFailed = false;
    if (!mRequest) {
        theResult = ContextObject(mProperties.get(), u"Request", IID_IRequest, mRequest.put());
        if (FAILED(theResult)) {
            mRequest.reset();
            mReport.AddMessage("Unable to get Request Object");
            theRequestFailed = true;
        }
    }
    if (!mServer) {
        if (theRequestFailed) {
            mReport.AddMessage("Unable to get Server Object");
        } else {
            const HRESULT theServerResult = ContextObject(mProperties.get(), u"Server", IID_IServer, mServer.put());
            if (FAILED(theServerResult)) {
                mServer.reset();
                mReport.AddMessage("Unable to get Server Object");
                theResult = theServerResult;
            }
        }
    }
    if (FAILED(theResult)) mReport.SetResultCode(theResult);
}

void Multipart::ReadRequest() {
    Note("Getting upload size...");
    LONG theTotal = 0;
    mRequest->get_TotalBytes(&theTotal);
    mTotalLength = theTotal;
    SetCounts(0, mTotalLength);
    Note("Transferring data...");
    if (mTotalLength > mMaxUploadSize) {
        mReport.AddMessage("Upload size is greater than the maximum allowed");
    } else if (mTotalLength > 0 && FAILED(ReadBody(mTotalLength))) {
        mReport.AddMessage("Upload stopped unexpectedly");
        // The in-memory holder keeps what was read; it is not parsed.
        FMX_ASSERT(!mStream, kThisFile);
    }
    Note("Data transferred...");
}

HANDLE Multipart::CreateBinaryReadCache() {
    const bool theFirstAttempt = !gCacheAttempted.exchange(true);
    char theDir[261] = {};
    char theName[261] = {};
    HANDLE theCache = INVALID_HANDLE_VALUE;
    const DWORD theDirLength = GetTempPathA(sizeof theDir, theDir);
    if (theDirLength > 0 && theDirLength < sizeof theDir && GetTempFileNameA(theDir, "fmx", 0, theName)) {
        theCache = CreateFileA(theName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        // The name made for the cache must not outlive a failed attempt.
        if (theCache == INVALID_HANDLE_VALUE) {
            const DWORD theError = GetLastError();
            DeleteFileA(theName);
            SetLastError(theError);
        }
    }
    if (theCache == INVALID_HANDLE_VALUE && theFirstAttempt) {
        char theMessage[512];
        std::snprintf(theMessage, sizeof theMessage, "Unable to create Binary Read Cache %s (0x%08lx)", theName,
                      static_cast<unsigned long>(static_cast<uint32_t>(FromWin32(GetLastError()))));
        LogEvent(theMessage, EVENTLOG_ERROR_TYPE);
    }
    return theCache;
}

HRESULT Multipart::ReadBody(int32_t inLength) {
    HANDLE theCache = CreateBinaryReadCache();
    if (theCache != INVALID_HANDLE_VALUE) return ReadBodyToCache(theCache, inLength);
    return ReadBodyToMemory(inLength);
}

namespace {

// The chunk size in force; a setting of 0 would make no progress, so it
// reads as the default.
uint32_t ChunkSize() {
    const DWORD theSize = ReadChunkSize();
    return theSize ? theSize : 2048;
}

// One BinaryRead of up to inWanted bytes; the bytes stay accessible until
// the caller releases `outArray`.
HRESULT ReadChunk(IRequest* inRequest, uint32_t inWanted, VARIANT* outArray, const BYTE** outBytes, LONG* outLength,
                  LONG* outCount) {
    VARIANT theCount;
    VariantInit(&theCount);
    theCount.vt = VT_I4;
    theCount.lVal = static_cast<LONG>(inWanted);
    HRESULT hr = inRequest->BinaryRead(&theCount, outArray);
    if (FAILED(hr)) return hr;
    *outCount = theCount.vt == VT_I4 ? theCount.lVal : static_cast<LONG>(inWanted);
    return AccessVariantBytes(outArray, outBytes, outLength);
}

}  // namespace

template <class Take>
HRESULT Multipart::ReadChunks(int32_t inLength, Take inTake) {
    // The record is found once; each chunk then counts without a lock.
    const ProgressCounter theProgress = ProgressStore::Instance().Counter(mRecord);
    const uint32_t theChunk = ChunkSize();
    theProgress.Set(0, inLength);
    uint32_t theRemaining = static_cast<uint32_t>(inLength);
    while (theRemaining > 0) {
        const uint32_t theWanted = theRemaining < theChunk ? theRemaining : theChunk;
        platform::Variant theArray;
        const BYTE* theBytes = nullptr;
        LONG theLength = 0, theCount = 0;
        HRESULT hr = ReadChunk(mRequest.get(), theWanted, &theArray, &theBytes, &theLength, &theCount);
        if (FAILED(hr)) return hr;
        const uint32_t theEnd = static_cast<uint32_t>(inLength) - (theRemaining - theWanted);
        hr = inTake(theBytes, theLength, theCount, theWanted, theEnd);
        ReleaseVariantBytes(&theArray);
        if (FAILED(hr)) return hr;
        theRemaining -= theWanted;
        theProgress.Set(inLength - static_cast<int32_t>(theRemaining), inLength);
    }
    return S_OK;
}

HRESULT Multipart::ReadBodyToCache(HANDLE inCache, int32_t inLength) {
    // Every byte a chunk holds goes to the cache; the cache's size is then
    // checked against the length as the parse starts.
    HRESULT hr = ReadChunks(inLength, [&](const BYTE* inBytes, LONG inHeld, LONG, uint32_t, uint32_t) -> HRESULT {
        DWORD theWritten = 0;
        if (!WriteFile(inCache, inBytes, static_cast<DWORD>(inHeld), &theWritten, nullptr))
            return FromWin32(GetLastError());
        mArrivals.Add(inBytes, static_cast<size_t>(inHeld));
        return S_OK;
    });
    if (SUCCEEDED(hr) && GetFileSize(inCache, nullptr) == INVALID_FILE_SIZE && GetLastError() != 0)
        hr = FromWin32(GetLastError());
    if (FAILED(hr)) {
        CloseHandle(inCache);
        return hr;
    }
    auto theSource = std::make_unique<MappedFileSource>();
    if (theSource->open(inCache)) return FromWin32(GetLastError());  // the source closed the handle
    mStream = std::move(theSource);
    return S_OK;
}

HRESULT Multipart::ReadBodyToMemory(int32_t inLength) {
    auto theSource = std::make_unique<MemorySource>();
    uint8_t* theBlock = theSource->allocateBlock(static_cast<uint32_t>(inLength));
    if (!theBlock) return FromWin32(ERROR_NOT_ENOUGH_MEMORY);
    mStream = std::move(theSource);
    return ReadChunks(
        inLength, [&](const BYTE* inBytes, LONG inHeld, LONG inCount, uint32_t inWanted, uint32_t inEnd) -> HRESULT {
            uint32_t theGot = static_cast<uint32_t>(inCount < inHeld ? inCount : inHeld);
            if (theGot > inWanted) theGot = inWanted;
            std::memcpy(theBlock + inEnd - theGot, inBytes, theGot);
            // A short chunk would leave a hole in the block: the upload is incomplete.
            return theGot < inWanted ? E_FAIL : S_OK;
        });
}

void Multipart::ReadFile(const char16_t* inPath, bool inAbsolute) {
    std::u16string thePath(inPath);
    // A path that does not fit is refused, never cut: a cut name is another file.
    if (!FMX_ASSERT(thePath.size() <= 259, kThisFile)) {
        mReport.SetResultCode(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
        SetCounts(0, 0);
        return;
    }
    if (!inAbsolute) {
        std::u16string theMapped;
        const HRESULT hr = MapPath(thePath.c_str(), &theMapped);
        if (FAILED(hr)) {
            mReport.AddMessage("Unable to resolve URL");
            mReport.SetResultCode(hr);
        }
        thePath = theMapped;
    }
    if (!mReport.HasErrors()) {
        auto theSource = std::make_unique<MappedFileSource>();
        theSource->open(thePath.c_str());
        if (const char* theError = theSource->errorText()) {
            mReport.AddMessage(theError);
            mReport.SetResultCode(static_cast<HRESULT>(GetLastError()));
        } else {
            mTotalLength = static_cast<int32_t>(theSource->size());
            mStream = std::move(theSource);
        }
    }
    SetCounts(mTotalLength, mTotalLength);
}

void Multipart::CheckLength() {
    if (mStream && mStream->size() != static_cast<uint32_t>(mTotalLength)) {
        mReport.AddMessage("Reported data length different from length read.");
        mTotalLength = 0;
    }
}

HRESULT Multipart::MapPath(const char16_t* inVirtual, std::u16string* outPath) {
    if (!mServer) return CONTEXT_E_NOCONTEXT;
    platform::Bstr theVirtual(inVirtual ? inVirtual : u"");
    platform::Bstr thePhysical;
    const HRESULT hr = mServer->MapPath(theVirtual.get(), thePhysical.put());
    if (FAILED(hr)) return hr;
    if (!thePhysical.get() || SysStringLen(thePhysical.get()) == 0) return E_FAIL;
    // A mapped path that does not fit is refused, never cut: a cut name is
    // another file.
    if (!FMX_ASSERT(SysStringLen(thePhysical.get()) <= 259, kThisFile))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    *outPath = thePhysical.str();
    return S_OK;
}

// ---- parsing --------------------------------------------------------------------------

void Multipart::ParseBlock(const uint8_t* inData, int32_t inLength) {
    Clear();
    ParseHeldBlock(inData, inLength);
}

void Multipart::ParseArrivedBlock(const uint8_t* inData, int32_t inLength, uint32_t inChunk) {
    Clear();
    const size_t theLength = inLength > 0 ? static_cast<size_t>(inLength) : 0;
    for (size_t theDone = 0; inChunk && theDone < theLength; theDone += inChunk)
        mArrivals.Add(inData + theDone, std::min<size_t>(inChunk, theLength - theDone));
    ParseHeldBlock(inData, inLength);
}

void Multipart::ParseHeldBlock(const uint8_t* inData, int32_t inLength) {
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
    mParsedCodePage = GetACP();
    ParseItems();
}

BodyParser& Multipart::Parser() {
    if (!mParser) {
        ParseSettings theSettings;
        theSettings.ansiCodePage = GetACP();
        theSettings.codePage = mCodePage;
        mParser = std::make_unique<BodyParser>(mGroups, theSettings);
        mParser->UseArrivalIndex(&mArrivals);
    }
    return *mParser;
}

void Multipart::ParseItems() {
    if (!mStream) return;
    mData = mStream->start();
    if (mStream->size() != static_cast<uint32_t>(mTotalLength)) {
        mReport.AddMessage("The upload was incomplete");
        return;
    }
    BodyParser& theParser = Parser();
    bool theFault = false;
    {
        platform::FaultFrame theFaults;
        if (PLATFORM_FAULT_CATCH(theFaults))
            theFault = true;
        else
            theFault = !theParser.Parse(mData, mTotalLength);
    }
    mGroups.Seal();
    for (const ParseAssertion& theAssertion : theParser.Assertions())
        ReportAssertion(kThisFile, theAssertion.line, theAssertion.text);
    if (theFault) {
        mReport.AddMessage("GetMultipartItems raised an exception.");
        LogEvent(mReport.ComposeText().c_str(), EVENTLOG_ERROR_TYPE);
        mReport.SetResultCode(E_FAIL);
    }
}
