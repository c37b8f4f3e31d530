#include "FileUtilities.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/CodePage.h"
#include "Utilities.h"
#include "platform/EventLog.h"
#include "platform/Files.h"
#include "platform/System.h"

// ---- MemorySource -------------------------------------------------------------------

MemorySource::~MemorySource() { std::free(mOwnedBlock); }

const uint8_t* MemorySource::seek(uint32_t inPosition) {
    mCursor = mStart + (inPosition < mSize ? inPosition : mSize);
    return mCursor;
}

void MemorySource::setBlock(const uint8_t* inStart, uint32_t inSize) {
    mStart = mCursor = inStart;
    mSize = inStart ? inSize : 0;
}

uint8_t* MemorySource::allocateBlock(uint32_t inSize) {
    auto* theBlock = static_cast<uint8_t*>(std::malloc(inSize ? inSize : 1));
    if (!theBlock) return nullptr;
    std::free(mOwnedBlock);
    mOwnedBlock = theBlock;
    setBlock(theBlock, inSize);
    return theBlock;
}

// ---- MappedFileSource ----------------------------------------------------------------

MappedFileSource::~MappedFileSource() { close(); }

bool MappedFileSource::fail(const char* inText) {
    if (!mErrorText[0]) std::snprintf(mErrorText, sizeof mErrorText, "%s", inText);
    return true;
}

bool MappedFileSource::open(const char16_t* inPath) {
    close();
    mErrorText[0] = 0;
    HANDLE theFile =
        CreateFileW(inPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (theFile == INVALID_HANDLE_VALUE) return fail("Unable to read file");
    return open(theFile);
}

bool MappedFileSource::open(const char* inPath) {
    return open(platform::codepage::Utf8ToUtf16(inPath ? inPath : "").c_str());
}

bool MappedFileSource::open(HANDLE inFile) {
    close();
    mErrorText[0] = 0;
    mFile = inFile;
    if (!mFile || mFile == INVALID_HANDLE_VALUE) {
        mFile = nullptr;
        return fail("File handle invalid");
    }
    DWORD theHigh = 0;
    const DWORD theSize = GetFileSize(mFile, &theHigh);
    if (theSize == INVALID_FILE_SIZE && GetLastError() != 0)
        fail("Unable to get file size");
    else if (theSize == 0 && theHigh == 0)
        fail("File is empty");
    // The upload's length is a 32-bit signed count: a larger file is refused,
    // never read as the prefix that fits.
    else if (theHigh != 0 || theSize > 0x7FFFFFFFu) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        fail("File is larger than 2147483647 bytes, the largest upload that can be read");
    }
    if (!mErrorText[0]) {
        mMapping = CreateFileMappingA(mFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (!mMapping) fail("Unable to create file mapping");
    }
    if (!mErrorText[0]) {
        mView = MapViewOfFile(mMapping, FILE_MAP_READ, 0, 0, 0);
        if (!mView) fail("Unable to map view of file");
    }
    if (mErrorText[0]) {
        // Keep the failure's error code for the caller through the close.
        const DWORD theError = GetLastError();
        close();
        SetLastError(theError);
        return true;
    }
    setBlock(static_cast<const uint8_t*>(mView), theSize);
    return false;
}

void MappedFileSource::close() {
    if (mView) UnmapViewOfFile(mView);
    if (mMapping) CloseHandle(mMapping);
    if (mFile) CloseHandle(mFile);
    mView = nullptr;
    mMapping = nullptr;
    mFile = nullptr;
    setBlock(nullptr, 0);
}

// ---- whole-buffer write ------------------------------------------------------------------

DWORD WriteWholeBuffer(const char16_t* inPath, const uint8_t* inStart, uint32_t inCount, bool inOverwrite) {
    SetLastError(0);
    if (!inStart) inCount = 0;
    HANDLE theFile = CreateFileW(inPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 inOverwrite ? OPEN_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (theFile == INVALID_HANDLE_VALUE) return GetLastError();
    SetLastError(0);
    SetFilePointer(theFile, 0, nullptr, FILE_BEGIN);
    if (!LockFile(theFile, 0, 0, inCount, 0)) {
        const DWORD theError = GetLastError();
        CloseHandle(theFile);
        return theError;
    }
    DWORD theWritten = 0;
    const bool theResult = WriteFile(theFile, inStart, inCount, &theWritten, nullptr) && theWritten == inCount;
    const DWORD theError = GetLastError();
    SetEndOfFile(theFile);
    UnlockFile(theFile, 0, 0, inCount, 0);
    CloseHandle(theFile);
    return theResult ? 0 : (theError ? theError : ERROR_DISK_FULL);
}

namespace {
// Set until the failed volume query has been logged once.
std::atomic<bool> gReportVolumeFailure{true};
}  // namespace

bool VolumeKeepsStreams(const char16_t* inPath) {
    const std::string thePath = platform::codepage::Utf16ToUtf8(inPath ? inPath : u"");
    const std::string theFolder = thePath.substr(0, thePath.find_last_of('/') + 1);
    const std::string theRoot = platform::files::MountPointOf(theFolder.empty() ? "." : theFolder);
    char theName[260] = {};
    if (GetVolumeInformationA(theRoot.c_str(), nullptr, 0, nullptr, nullptr, nullptr, theName, sizeof theName))
        return std::strcmp(theName, "NTFS") == 0;
    if (gReportVolumeFailure.exchange(false)) {
        char theMessage[128];
        std::snprintf(theMessage, sizeof theMessage,
                      "Unable to determine whether storage supports NTFS streams (0x%08lx)",
                      static_cast<unsigned long>(GetLastError()));
        LogEvent(theMessage, EVENTLOG_ERROR_TYPE);
    }
    return false;
}

bool ReadWholeFile(const char16_t* inPath, std::string* outBytes) {
    HANDLE theFile =
        CreateFileW(inPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (theFile == INVALID_HANDLE_VALUE) return false;
    const DWORD theSize = GetFileSize(theFile, nullptr);
    outBytes->resize(theSize == INVALID_FILE_SIZE ? 0 : theSize);
    DWORD theRead = 0;
    const bool theOk = ReadFile(theFile, outBytes->data(), static_cast<DWORD>(outBytes->size()), &theRead, nullptr) &&
                       theRead == outBytes->size();
    CloseHandle(theFile);
    return theOk;
}
