// Process and thread services: last error, system message texts, tick count,
// OS version, module file names, the local machine's name.
#pragma once

#include <string>

#include "platform/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD code);
namespace platform {
// How many times this thread's last error has been set to ERROR_DISK_FULL:
// a caller compares it before and after work whose own errors say less (a
// failed read of an upload's body is only "stopped unexpectedly").
uint64_t DiskFullErrorsOnThisThread();
}  // namespace platform
// The Windows error code for an errno value.
DWORD Win32ErrorFromErrno(int error);

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100, FORMAT_MESSAGE_IGNORE_INSERTS = 0x200,
                FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD LANG_USER_DEFAULT_ID = 0x0400;

// FORMAT_MESSAGE_FROM_SYSTEM only: the standard English text of a Windows
// error code or HRESULT, ending in CR LF. Returns the length written, 0 when
// the code has no text (last error 317) or the buffer is too small (122).
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     void* arguments);

DWORD GetTickCount();

constexpr DWORD VER_PLATFORM_WIN32s = 0, VER_PLATFORM_WIN32_WINDOWS = 1, VER_PLATFORM_WIN32_NT = 2;
// The platform id reported here: outside every Windows family.
constexpr DWORD VER_PLATFORM_POSIX = 0x100;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
struct OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
// Accepts either structure, told apart by dwOSVersionInfoSize.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// The full path of the module that holds `address` (a function or variable
// of it), at most size-1 characters. Returns the length, 0 on failure.
DWORD GetModuleFileNameOfAddress(const void* address, LPSTR buffer, DWORD size);
// The load address of the module that holds `address`, or nullptr.
void* GetModuleBaseOfAddress(const void* address);

// The machine's host name (not upper-cased).
std::string LocalMachineName();
