#include "Utilities.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ByteSearch.h"
#include "platform/CodePage.h"
#include "platform/EventLog.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/RegistryValues.h"
#include "platform/System.h"
#include "resources/Strings.h"

namespace {

constexpr const char* kThisFile = "Utilities";
constexpr size_t kPathSize = 260;

std::atomic<DWORD> gReadChunkSize{2048};

std::string EventSourceKey(const char* inSource) { return std::string(kEventLogApplicationKey) + "\\" + inSource; }

// The SAFEARRAY a VARIANT holds, directly or by reference.
SAFEARRAY** FindArray(VARIANT* inVar) {
    if (!inVar) return nullptr;
    if (inVar->vt == (VT_BYREF | VT_VARIANT)) return inVar->pvarVal ? FindArray(inVar->pvarVal) : nullptr;
    if (!(inVar->vt & VT_ARRAY)) return nullptr;
    return (inVar->vt & VT_BYREF) ? inVar->pparray : &inVar->parray;
}

}  // namespace

// ---- settings -------------------------------------------------------------------

bool ReadSetting(const char* inName, DWORD* inOutValue) {
    HKEY theKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &theKey) != ERROR_SUCCESS) return false;
    DWORD theSize = sizeof(DWORD);
    const LONG theStatus =
        RegQueryValueExA(theKey, inName, nullptr, nullptr, reinterpret_cast<BYTE*>(inOutValue), &theSize);
    RegCloseKey(theKey);
    return theStatus == ERROR_SUCCESS;
}

bool ReadTextSetting(const char* inName, std::string* outValue) {
    return platform::registry::ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, inName, outValue);
}

bool LogErrorsEnabled() {
    DWORD theValue = 0;
    ReadSetting("LogErrors", &theValue);
    return theValue != 0;
}

DWORD AutoRecoverSetting() {
    DWORD theValue = OsGeneration() <= 5 ? 1 : 0;
    ReadSetting("AutoRecover", &theValue);
    return theValue;
}

bool ImpersonationEnabled() {
    DWORD theValue = 0;
    ReadSetting("EnableImpersonation", &theValue);
    return theValue != 0;
}

DWORD ReadChunkSize() {
    DWORD theValue = gReadChunkSize.load(std::memory_order_relaxed);
    if (ReadSetting("ReadChunkSize", &theValue)) gReadChunkSize.store(theValue, std::memory_order_relaxed);
    return theValue;
}

DWORD WriteModulePath() {
    char thePath[kPathSize];
    if (!GetModuleFileNameOfAddress(reinterpret_cast<const void*>(&WriteModulePath), thePath, sizeof thePath))
        return GetLastError();
    HKEY theKey = nullptr;
    LONG theStatus = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                     nullptr, &theKey, nullptr);
    if (theStatus != ERROR_SUCCESS) return static_cast<DWORD>(theStatus);
    theStatus = RegSetValueExA(theKey, "ModulePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(thePath),
                               static_cast<DWORD>(std::strlen(thePath) + 1));
    RegCloseKey(theKey);
    return static_cast<DWORD>(theStatus);
}

DWORD ReadModulePath(const char* inServer, char* outPath) {
    HKEY theMachine = nullptr;
    LONG theStatus = RegConnectRegistryA(inServer, HKEY_LOCAL_MACHINE, &theMachine);
    if (theStatus != ERROR_SUCCESS) return static_cast<DWORD>(theStatus);
    HKEY theKey = nullptr;
    theStatus = RegOpenKeyExA(theMachine, kSettingsKey, 0, KEY_READ, &theKey);
    if (theStatus != ERROR_SUCCESS) return static_cast<DWORD>(theStatus);
    DWORD theSize = kPathSize;
    theStatus = RegQueryValueExA(theKey, "ModulePath", nullptr, nullptr, reinterpret_cast<BYTE*>(outPath), &theSize);
    RegCloseKey(theKey);
    if (theStatus == ERROR_SUCCESS) outPath[theSize < kPathSize ? theSize : kPathSize - 1] = 0;
    return static_cast<DWORD>(theStatus);
}

// ---- event log ------------------------------------------------------------------

void WriteEventSource(const char* inServer, const char* inSource) {
    char thePath[kPathSize];
    if (ReadModulePath(inServer, thePath) != ERROR_SUCCESS) return;
    HKEY theMachine = nullptr;
    if (RegConnectRegistryA(inServer, HKEY_LOCAL_MACHINE, &theMachine) != ERROR_SUCCESS) return;
    HKEY theKey = nullptr;
    if (RegCreateKeyExA(theMachine, EventSourceKey(inSource).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &theKey, nullptr) != ERROR_SUCCESS)
        return;
    const DWORD theCategories = 1, theTypes = 7;
    const DWORD thePathSize = static_cast<DWORD>(std::strlen(thePath) + 1);
    // In this order, stopping at the first failure.
    (void)(RegSetValueExA(theKey, "CategoryCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&theCategories),
                          sizeof theCategories) == ERROR_SUCCESS &&
           RegSetValueExA(theKey, "CategoryMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(thePath),
                          thePathSize) == ERROR_SUCCESS &&
           RegSetValueExA(theKey, "EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(thePath), thePathSize) ==
               ERROR_SUCCESS &&
           RegSetValueExA(theKey, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&theTypes),
                          sizeof theTypes) == ERROR_SUCCESS);
    RegCloseKey(theKey);
}

void EnsureEventSource(const char* inServer, const char* inSource) {
    if (!inSource || std::strlen(inSource) > 64) return;
    HKEY theMachine = nullptr;
    if (RegConnectRegistryA(inServer, HKEY_LOCAL_MACHINE, &theMachine) != ERROR_SUCCESS) return;
    HKEY theKey = nullptr;
    if (RegOpenKeyExA(theMachine, EventSourceKey(inSource).c_str(), 0, KEY_READ, &theKey) == ERROR_SUCCESS) {
        RegCloseKey(theKey);
        return;
    }
    WriteEventSource(inServer, inSource);
}

DWORD LogEvent(const char* inText, WORD inType) {
    std::string theCopy;
    try {
        theCopy = inText ? inText : "";
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    EnsureEventSource("", strings::kEventSource);
    HANDLE theLog = RegisterEventSourceA(nullptr, strings::kEventSource);
    if (!theLog) return GetLastError();
    for (char& c : theCopy)
        if (c == '\r' || c == '\n') c = ' ';
    LPCSTR theStrings[] = {theCopy.c_str()};
    const DWORD theResult = ReportEventA(theLog, inType, strings::kEventCategory, strings::kEventMessage, nullptr, 1, 0,
                                         theStrings, nullptr)
                                ? ERROR_SUCCESS
                                : GetLastError();
    DeregisterEventSource(theLog);
    return theResult;
}

void ReportAssertion(const char* inFile, int inLine, const char* inExpression) {
    char theMessage[256];
    std::snprintf(theMessage, sizeof theMessage, strings::kAssertionFailed, inFile ? inFile : "", inLine,
                  inExpression ? inExpression : "");
    LogEvent(theMessage, EVENTLOG_ERROR_TYPE);
}

HRESULT RecoverFromSystemError(const char* inMessage) {
    LogEvent(inMessage, EVENTLOG_ERROR_TYPE);
    if (AutoRecoverSetting() != 0) return S_OK;
    _exit(1);
}

int OsGeneration() {
    OSVERSIONINFOEXA theExtended{};
    theExtended.dwOSVersionInfoSize = sizeof theExtended;
    OSVERSIONINFOA theBasic{};
    theBasic.dwOSVersionInfoSize = sizeof theBasic;
    DWORD thePlatform, theMajor, theMinor;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&theExtended))) {
        thePlatform = theExtended.dwPlatformId, theMajor = theExtended.dwMajorVersion,
        theMinor = theExtended.dwMinorVersion;
    } else if (GetVersionExA(&theBasic)) {
        thePlatform = theBasic.dwPlatformId, theMajor = theBasic.dwMajorVersion, theMinor = theBasic.dwMinorVersion;
    } else {
        return 0;
    }
    switch (thePlatform) {
        case VER_PLATFORM_WIN32s:
            return 1;
        case VER_PLATFORM_WIN32_WINDOWS:
            return (theMajor == 4 && theMinor == 0) ? 2 : 3;
        case VER_PLATFORM_WIN32_NT:
            if (theMajor == 3) return 4;
            if (theMajor == 4) return 5;
            if (theMajor == 5) return 6;
            return 0;
        default:
            return 0;
    }
}

// ---- checked utilities ----------------------------------------------------------------

size_t BoundedCopy(char* outDest, const char* inSource, size_t inArraySize) {
    if (!outDest || inArraySize == 0) return 0;
    const size_t len = inSource ? std::strlen(inSource) : 0;
    size_t theCount = len;
    if (!FMX_ASSERT(len < inArraySize, kThisFile)) theCount = inArraySize - 1;
    if (theCount) std::memcpy(outDest, inSource, theCount);
    outDest[theCount] = 0;
    return theCount;
}

size_t BoundedCopy(char16_t* outDest, const char16_t* inSource, size_t inArraySize, CopyMode inMode) {
    if (!outDest || inArraySize == 0) return 0;
    size_t len1 = 0;
    if (inMode == CopyMode::Append)
        while (len1 < inArraySize && outDest[len1]) ++len1;
    size_t len2 = 0;
    while (inSource && inSource[len2]) ++len2;
    size_t theCount = len2;
    if (inMode == CopyMode::Replace) {
        const size_t len = len2;
        if (!FMX_ASSERT(len < inArraySize, kThisFile)) theCount = inArraySize - 1;
    } else if (!FMX_ASSERT(len1 + len2 < inArraySize, kThisFile)) {
        theCount = len1 + 1 < inArraySize ? inArraySize - len1 - 1 : 0;
    }
    if (len1 >= inArraySize) return 0;
    std::memcpy(outDest + len1, inSource, theCount * sizeof(char16_t));
    outDest[len1 + theCount] = 0;
    return theCount;
}

namespace {

// A two-byte needle ("--", "\r\n") in [inFrom, inFrom + inRange): its first
// byte by memchr, which outruns memmem on needles this short.
const char* FindPair(const char* inFrom, size_t inRange, char inFirst, char inSecond) {
    const char* const theLimit = inFrom + inRange;
    while (theLimit - inFrom >= 2) {
        const auto* theFirst =
            static_cast<const char*>(std::memchr(inFrom, inFirst, static_cast<size_t>(theLimit - inFrom - 1)));
        if (!theFirst) return nullptr;
        if (theFirst[1] == inSecond) return theFirst;
        inFrom = theFirst + 1;
    }
    return nullptr;
}

}  // namespace

const char* BoundedFind(const char* inStart, const char* inLimit, const char* inNeedle) {
    const char *ptr = inStart, *maxptr = inLimit, *str = inNeedle;
    if (!FMX_ASSERT(ptr && str && maxptr, kThisFile)) return nullptr;
    if (!FMX_ASSERT(maxptr >= ptr, kThisFile)) return nullptr;
    const size_t theNeedle = std::strlen(str);
    if (theNeedle == 0) return ptr;
    const size_t theRange = static_cast<size_t>(maxptr - ptr);
    if (theNeedle > theRange) return nullptr;
    if (theNeedle == 2) return FindPair(ptr, theRange, str[0], str[1]);
    return platform::FindBytes(ptr, theRange, str, theNeedle);
}

HRESULT BytesToVariant(VARIANT* inVar, const void* inPtr, size_t inLen) {
    if (!FMX_ASSERT(inVar, kThisFile)) return E_POINTER;
    // NULL, not nullptr: the logged assertion names this expression's text.
    if (!FMX_ASSERT((inPtr != NULL) || (inLen == 0), kThisFile)) return E_POINTER;  // NOLINT(modernize-use-nullptr)
    if (inLen > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    SAFEARRAY* theArray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(inLen));
    if (!theArray) return E_OUTOFMEMORY;
    if (inLen > 0) {
        void* theData = nullptr;
        const HRESULT hr = SafeArrayAccessData(theArray, &theData);
        if (FAILED(hr)) {
            SafeArrayDestroy(theArray);
            return hr;
        }
        if (!theData) {
            LogEvent(strings::kArrayLockPtrToVariant, EVENTLOG_WARNING_TYPE);
            SafeArrayUnaccessData(theArray);
            SafeArrayDestroy(theArray);
            return E_POINTER;
        }
        // A window at a time, each window's pages of a mapped body given
        // back once copied: the copy and the body are not both resident.
        constexpr size_t kWindow = 32u << 20;
        for (size_t theDone = 0; theDone < inLen; theDone += kWindow) {
            const size_t theCount = std::min(kWindow, inLen - theDone);
            std::memcpy(static_cast<char*>(theData) + theDone, static_cast<const char*>(inPtr) + theDone, theCount);
            platform::files::ReleaseViewPages(static_cast<const char*>(inPtr) + theDone, theCount);
        }
        SafeArrayUnaccessData(theArray);
    }
    VariantInit(inVar);
    inVar->vt = VT_ARRAY | VT_UI1;
    inVar->parray = theArray;
    return S_OK;
}

HRESULT AccessVariantBytes(VARIANT* inVar, const BYTE** outPtr, LONG* outLenPtr) {
    SAFEARRAY** theArrayH = FindArray(inVar);
    if (!FMX_ASSERT((theArrayH) && (*theArrayH), kThisFile)) return E_INVALIDARG;
    if (!outPtr || !outLenPtr) return E_POINTER;
    SAFEARRAY* theArray = *theArrayH;
    if (SafeArrayGetDim(theArray) != 1) return E_INVALIDARG;
    LONG theLower = 0, theUpper = 0;
    HRESULT hr = SafeArrayGetLBound(theArray, 1, &theLower);
    if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(theArray, 1, &theUpper);
    if (FAILED(hr)) return hr;
    const int64_t outLen = static_cast<int64_t>(theUpper) - theLower + 1;
    if (!FMX_ASSERT(outLen >= 0, kThisFile)) return E_INVALIDARG;
    void* theData = nullptr;
    hr = SafeArrayAccessData(theArray, &theData);
    if (FAILED(hr)) return hr;
    if (!theData) {
        LogEvent(strings::kArrayLockAccessVariant, EVENTLOG_WARNING_TYPE);
        SafeArrayUnaccessData(theArray);
        return E_POINTER;
    }
    *outPtr = static_cast<const BYTE*>(theData);
    *outLenPtr = static_cast<LONG>(outLen);
    return S_OK;
}

void ReleaseVariantBytes(VARIANT* inVar) {
    SAFEARRAY** theArrayH = FindArray(inVar);
    if (!FMX_ASSERT((theArrayH) && (*theArrayH), kThisFile)) return;
    SafeArrayUnaccessData(*theArrayH);
}

BSTR AnsiToBstr(const char* inBytes, int inLength) {
    if (!inBytes || inLength <= 0) return SysAllocString(u"");
    // Decoded once, straight into a string with room for a character per
    // byte (no more in UTF-8 or a single-byte page), which then shrinks to
    // what the text made: asking for the length first would decode every
    // text twice, and a buffer of its own would copy it once more.
    BSTR theResult = SysAllocStringLen(nullptr, static_cast<UINT>(inLength));
    if (!theResult) return SysAllocString(u"");
    const int theCount = MultiByteToWideChar(CP_ACP, 0, inBytes, inLength, theResult, inLength);
    if (theCount == inLength) return theResult;
    if (theCount > 0 && SysReAllocStringLen(&theResult, theResult, static_cast<UINT>(theCount))) return theResult;
    SysFreeString(theResult);
    // A code page that makes more characters than bytes.
    const std::u16string theText =
        platform::codepage::ToUtf16(std::string_view(inBytes, static_cast<size_t>(inLength)));
    theResult = SysAllocStringLen(theText.data(), static_cast<UINT>(theText.size()));
    return theResult ? theResult : SysAllocString(u"");
}

std::string BstrToAnsi(BSTR inText) {
    return platform::codepage::FromUtf16(std::u16string(inText ? inText : u"", SysStringLen(inText)));
}
