// File handles: opening (files and named streams), reading, writing,
// sizes, positions, closing and deleting.
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "FileErrors.h"
#include "FileLocks.h"
#include "FileMappings.h"
#include "KernelObject.h"
#include "NamedStreams.h"
#include "platform/CodePage.h"
#include "platform/System.h"

using namespace platform::files;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void*, DWORD disposition, DWORD flags, HANDLE) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string streamFile, attribute;
    if (SplitStreamPath(path, &streamFile, &attribute)) return OpenStream(streamFile, attribute, disposition);
    int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW:
            mode |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            mode |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            mode |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            mode |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    // Opened without waiting: a FIFO would otherwise block until a writer
    // came. Only regular files are opened (below).
    const int fd = ::open(path, mode | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        // Windows tells a missing folder from a missing file.
        DWORD error = Win32ErrorFromErrno(errno);
        if (errno == ENOENT) {
            std::string dir = path;
            const size_t slash = dir.find_last_of('/');
            struct stat st {};
            if (slash != std::string::npos && slash > 0 && ::stat(dir.substr(0, slash).c_str(), &st) != 0)
                error = ERROR_PATH_NOT_FOUND;
        }
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // A folder, FIFO, socket or device is not a file to read or write: it is
    // refused as Windows refuses a folder.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!TakeShareLock(fd, access, share)) {
        ::close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (flags & FILE_FLAG_DELETE_ON_CLOSE) ::unlink(path);
    auto* object = new (std::nothrow) KernelObject(KernelObject::Kind::File, fd);
    if (!object) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(0);
    return object;
}

HANDLE CreateFileW(const WCHAR* path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templateFile) {
    if (!path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string narrow = platform::codepage::Utf16ToUtf8(path);
    return CreateFileA(narrow.c_str(), access, share, security, disposition, flags, templateFile);
}

BOOL CloseHandle(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* object = static_cast<KernelObject*>(handle);
    if (object->fd >= 0) ::close(object->fd);
    delete object;
    return TRUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void*) {
    if (read) *read = 0;
    if (KernelObject* stream = ObjectOf(file, KernelObject::Kind::Stream)) {
        const size_t n =
            std::min<size_t>(toRead, stream->data.size() - std::min(stream->position, stream->data.size()));
        std::memcpy(buffer, stream->data.data() + stream->position, n);
        stream->position += n;
        if (read) *read = static_cast<DWORD>(n);
        return TRUE;
    }
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t n;
    do n = ::read(object->fd, buffer, toRead);
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(errno);
    if (read) *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void*) {
    if (written) *written = 0;
    if (KernelObject* stream = ObjectOf(file, KernelObject::Kind::Stream)) {
        const std::string before = stream->data;
        if (stream->data.size() < stream->position + toWrite) stream->data.resize(stream->position + toWrite);
        std::memcpy(stream->data.data() + stream->position, buffer, toWrite);
        if (!CommitStream(stream)) {
            stream->data = before;
            return FALSE;
        }
        stream->position += toWrite;
        if (written) *written = toWrite;
        return TRUE;
    }
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const ssize_t copied = CopyFromView(object->fd, buffer, toWrite);
    if (copied < 0) return Fail(errno);
    DWORD done = static_cast<DWORD>(copied);
    while (done < toWrite) {
        const ssize_t n = ::write(object->fd, static_cast<const char*>(buffer) + done, toWrite - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (written) *written = done;
            return Fail(errno);
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    if (KernelObject* stream = ObjectOf(file, KernelObject::Kind::Stream)) {
        if (high) *high = 0;
        SetLastError(0);
        return static_cast<DWORD>(stream->data.size());
    }
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    struct stat st {};
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (::fstat(object->fd, &st) != 0) {
        Fail(errno);
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (high) *high = static_cast<DWORD>(size >> 32);
    SetLastError(0);
    return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    if (KernelObject* stream = ObjectOf(file, KernelObject::Kind::Stream)) {
        const int64_t base = method == FILE_BEGIN     ? 0
                             : method == FILE_CURRENT ? static_cast<int64_t>(stream->position)
                                                      : static_cast<int64_t>(stream->data.size());
        const int64_t target = base + distance;
        if (target < 0) {
            SetLastError(131);  // ERROR_NEGATIVE_SEEK
            return INVALID_SET_FILE_POINTER;
        }
        stream->position = static_cast<size_t>(target);
        if (distanceHigh) *distanceHigh = 0;
        return static_cast<DWORD>(target);
    }
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    int64_t offset = distance;
    if (distanceHigh) offset = (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance);
    const off_t result = ::lseek(object->fd, offset, whence);
    if (result < 0) {
        Fail(errno);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(result) >> 32);
    return static_cast<DWORD>(result);
}

BOOL SetEndOfFile(HANDLE file) {
    if (KernelObject* stream = ObjectOf(file, KernelObject::Kind::Stream)) {
        // Nothing to store when the length stays and the stream is already
        // there, or when a write failed: no partial stream is left.
        const bool changes = stream->position != stream->data.size() || (!stream->stored && !stream->failed);
        stream->data.resize(stream->position);
        return !changes || CommitStream(stream) ? TRUE : FALSE;
    }
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const off_t position = ::lseek(object->fd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(object->fd, position) != 0) return Fail(errno);
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path) { return path && ::unlink(path) == 0 ? TRUE : Fail(path ? errno : ENOENT); }

namespace platform::files {
int DescriptorOf(HANDLE file) {
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    return object ? object->fd : -1;
}
}  // namespace platform::files
