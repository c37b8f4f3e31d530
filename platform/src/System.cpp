// Last error, system message texts, tick count, OS version, modules.
#include "platform/System.h"
#include "platform/MessageText.h"

#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
thread_local DWORD tLastError = 0;
thread_local uint64_t tDiskFullErrors = 0;

struct MessageText {
    uint32_t code;
    const char* text;
};

// The standard English texts of the Windows codes this system meets.
constexpr MessageText kWin32Texts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {12, "The access code is invalid."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {16, "The directory cannot be removed."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {110, "The system cannot open the device or file specified."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {232, "The pipe is being closed."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1307, "This security ID may not be assigned as the owner of this object."},
    {1314, "A required privilege is not held by the client."},
    {1326, "The user name or password is incorrect."},
    {1327, "Account restrictions are preventing this user from signing in."},
    {1330, "The password for this account has expired."},
    {1331, "This user can't sign in because this account is currently disabled."},
    {1332, "No mapping between account names and security IDs was done."},
    {1355, "The specified domain either does not exist or could not be contacted."},
    {1385, "Logon failure: the user has not been granted the requested logon type at this computer."},
    {1909, "The referenced account is currently locked out and may not be logged on to."},
};

// Texts of HRESULTs that are not Win32 codes.
constexpr MessageText kHresultTexts[] = {
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004004, "Operation aborted"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80020003, "Member not found."},
    {0x80020004, "Parameter not found."},
    {0x80020005, "Type mismatch."},
    {0x80020006, "Unknown name."},
    {0x80020007, "No named arguments."},
    {0x80020008, "Bad variable type."},
    {0x80020009, "Exception occurred."},
    {0x8002000A, "Out of present range."},
    {0x8002000B, "Invalid index."},
    {0x8002000D, "Memory is locked."},
    {0x8002000E, "Invalid number of parameters."},
    {0x8002000F, "Parameter not optional."},
    {0x8002801D, "Library not registered."},
    {0x8002802B, "Element not found."},
    {0x80029C4A, "Error loading type library/DLL."},
    {0x80040110, "Class does not support aggregation (or class object is remote)"},
    {0x80040111, "ClassFactory cannot supply requested class"},
    {0x80040154, "Class not registered"},
    {0x800401F3, "Invalid class string"},
    {0x800401F8, "DLL for class not found"},
    {0x800401F9, "Error in the DLL"},
    {0x8004E004, "There is no MTS object context"},
};

const char* Lookup(const MessageText* table, size_t count, uint32_t code) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].code == code) return table[i].text;
    return nullptr;
}

const char* SystemText(uint32_t id) {
    if (const char* text = Lookup(kHresultTexts, std::size(kHresultTexts), id)) return text;
    // HRESULTs of the Win32 facility carry a Win32 code.
    if ((id & 0xFFFF0000u) == 0x80070000u) id &= 0xFFFF;
    return Lookup(kWin32Texts, std::size(kWin32Texts), id);
}

}  // namespace

DWORD GetLastError() { return tLastError; }

void SetLastError(DWORD code) {
    tLastError = code;
    if (code == ERROR_DISK_FULL) ++tDiskFullErrors;
}

uint64_t platform::DiskFullErrorsOnThisThread() { return tDiskFullErrors; }

DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
        case ETXTBSY:
            return 32;  // sharing violation
        case EAGAIN:
            return 33;  // lock violation
        case ENOTEMPTY:
            return 145;
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case ENOTSUP:
            return ERROR_NOT_SUPPORTED;
        case EIO:
            return 23;
        default:
            return ERROR_INVALID_FUNCTION;
    }
}

DWORD FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD, LPSTR buffer, DWORD size, void*) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = SystemText(messageId);
    if (!text) {
        SetLastError(317);
        return 0;
    }
    const size_t length = std::strlen(text) + 2;
    if (size <= length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text, length - 2);
    std::memcpy(buffer + length - 2, "\r\n", 3);
    return static_cast<DWORD>(length);
}

namespace platform {
std::string SystemMessageText(HRESULT code) {
    const char* text = SystemText(static_cast<DWORD>(code));
    return text ? text : "";
}
}  // namespace platform

DWORD GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                  info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
    utsname name{};
    uname(&name);
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = build;
    info->dwPlatformId = VER_PLATFORM_POSIX;
    std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%.60s %.60s", name.sysname, name.release);
    return TRUE;
}

DWORD GetModuleFileNameOfAddress(const void* address, LPSTR buffer, DWORD size) {
    Dl_info info{};
    if (!buffer || size == 0 || !dladdr(address, &info) || !info.dli_fname) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char resolved[PATH_MAX];
    const char* path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const size_t length = std::strlen(path);
    const size_t copied = length < size ? length : size - 1;
    std::memcpy(buffer, path, copied);
    buffer[copied] = 0;
    if (copied < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return static_cast<DWORD>(copied);
}

void* GetModuleBaseOfAddress(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) ? info.dli_fbase : nullptr;
}

std::string LocalMachineName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}
