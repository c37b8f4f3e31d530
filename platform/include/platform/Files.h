// Files as Windows handles: create/open with dispositions and share modes,
// delete-on-close (the name is unlinked as soon as the file is open, so
// nothing is left behind even after a crash), reads and writes, byte-range
// locks (open-file-description locks), read-only mappings, temporary names.
// Bytes written from a mapped view are copied by the kernel from the mapped
// file (copy_file_range), never faulted in through the view.
// Paths are file system paths; wide paths are converted to UTF-8. A path
// "file:stream" whose file part is an existing regular file names that
// file's stream, kept as a user extended attribute.
#pragma once

#include <cstddef>
#include <string>

#include "platform/WinTypes.h"

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

constexpr DWORD GENERIC_READ = 0x80000000, GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1, FILE_SHARE_WRITE = 0x2, FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1, CREATE_ALWAYS = 2, OPEN_EXISTING = 3, OPEN_ALWAYS = 4, TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80, FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD FILE_BEGIN = 0, FILE_CURRENT = 1, FILE_END = 2;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD FILE_MAP_READ = 0x04;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templateFile);
HANDLE CreateFileW(const WCHAR* path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE file);
BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh);
BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh);
HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD maxHigh, DWORD maxLow, LPCSTR name);
void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
BOOL UnmapViewOfFile(const void* view);
BOOL DeleteFileA(LPCSTR path);
// $TMPDIR (or /tmp) with a trailing slash; the length written, 0 on failure.
DWORD GetTempPathA(DWORD size, LPSTR buffer);
// Creates an empty file <dir><prefix>XXXXXX.tmp with a unique name and
// writes its path (at most 260 characters with the NUL); 0 on failure.
UINT GetTempFileNameA(LPCSTR dir, LPCSTR prefix, UINT unique, LPSTR out);

// The file system of the volume holding `root`: "NTFS" for one that keeps
// user attributes (and so named streams), else its own name ("vfat", "tmpfs"...).
BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize, DWORD* serial, DWORD* maxComponent,
                           DWORD* flags, LPSTR fileSystemName, DWORD fileSystemNameSize);

namespace platform::files {
// The file descriptor behind a file handle, or -1.
int DescriptorOf(HANDLE file);
// The mount point of the volume that holds a path (the root of a POSIX path).
std::string MountPointOf(const std::string& path);
// Gives back the memory of the whole pages of a mapped view within
// [start, start + length): the bytes stay in the file and come back when
// read again. Does nothing for memory that is not a view, so that it is
// safe to call for any bytes.
void ReleaseViewPages(const void* start, size_t length);
// Maps the pages of a view within [start, start + length) in one call, for
// a reader about to read all of them: one trap for the range rather than
// one for every few pages. Does nothing for memory that is not a view.
void PrepareViewPages(const void* start, size_t length);
}  // namespace platform::files
