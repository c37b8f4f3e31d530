#include "platform/Files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "KernelObject.h"
#include "platform/CodePage.h"
#include "platform/System.h"

namespace {


// "file:stream" names a stream when "file" is an existing regular file; its
// bytes live in the user attribute "user.DosStream.<stream>:$DATA" followed
// by one zero byte (the layout Samba's streams_xattr uses).
bool SplitStreamPath(const std::string& path, std::string* file, std::string* attribute) {
    const size_t slash = path.find_last_of('/');
    const size_t colon = path.find(':', slash == std::string::npos ? 0 : slash + 1);
    if (colon == std::string::npos || colon + 1 >= path.size()) return false;
    struct stat st{};
    if (::stat(path.substr(0, colon).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *file = path.substr(0, colon);
    std::string stream = path.substr(colon + 1);
    if (stream.size() > 6 && stream.compare(stream.size() - 6, 6, ":$DATA") == 0) stream.resize(stream.size() - 6);
    *attribute = "user.DosStream." + stream + ":$DATA";
    return true;
}

// Stores a stream's bytes and its zero byte in one call, so that a stream
// that does not fit leaves nothing half-written (disk full, 112).
bool CommitStream(KernelObject* stream) {
    std::string value = stream->data;
    value.push_back('\0');
    if (::setxattr(stream->file.c_str(), stream->attribute.c_str(), value.data(), value.size(), 0) == 0) {
        stream->stored = true;
        return true;
    }
    stream->failed = true;
    SetLastError(errno == E2BIG || errno == ENOSPC || errno == ERANGE ? ERROR_DISK_FULL : Win32ErrorFromErrno(errno));
    return false;
}

HANDLE OpenStream(const std::string& file, const std::string& attribute, DWORD disposition) {
    auto* stream = new (std::nothrow) KernelObject(KernelObject::Kind::Stream);
    if (!stream) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    stream->file = file;
    stream->attribute = attribute;
    const ssize_t size = ::getxattr(file.c_str(), attribute.c_str(), nullptr, 0);
    const bool exists = size >= 0;
    if (!exists && errno != ENODATA) {
        delete stream;
        SetLastError(errno == ENOTSUP ? ERROR_NOT_SUPPORTED : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if ((disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) && !exists) {
        delete stream;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW && exists) {
        delete stream;
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (exists && disposition != CREATE_ALWAYS && disposition != TRUNCATE_EXISTING) {
        stream->data.resize(static_cast<size_t>(size));
        const ssize_t read = ::getxattr(file.c_str(), attribute.c_str(), stream->data.data(), stream->data.size());
        stream->data.resize(read > 0 ? static_cast<size_t>(read) - 1 : 0);  // without the zero byte
    }
    stream->stored = exists;
    SetLastError(0);
    return stream;
}


bool Fail(int error) {
    SetLastError(Win32ErrorFromErrno(error));
    return false;
}

// The mapped views by their start: their length, and their file (a
// descriptor of its own) and offset in it, for copies from the file.
struct View {
    size_t length;
    int fd;
    uint64_t offset;
};
std::mutex gViewsMutex;
std::map<const void*, View>& Views() {
    static auto* views = new std::map<const void*, View>;
    return *views;
}

// The view that holds [start, start + length), if any: its file and the
// offset of `start` in it (each optional).
bool FindView(const void* start, size_t length, int* fd = nullptr, uint64_t* offset = nullptr) {
    std::lock_guard<std::mutex> guard(gViewsMutex);
    auto it = Views().upper_bound(start);
    if (it == Views().begin()) return false;
    --it;
    const auto* viewStart = static_cast<const char*>(it->first);
    const auto* bytes = static_cast<const char*>(start);
    if (bytes + length > viewStart + it->second.length) return false;
    if (fd) *fd = it->second.fd;
    if (offset) *offset = it->second.offset + static_cast<uint64_t>(bytes - viewStart);
    return true;
}

// The whole pages within [start, start + length) (`outward`: every page the
// range touches), as a start and a length; a length of 0 when there are none
// or the range is no view's. The page arithmetic comes first, so that the
// many small ranges of a form's fields never take the views' lock.
std::pair<void*, size_t> ViewPages(const void* start, size_t length, bool outward) {
    static const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto from = reinterpret_cast<uintptr_t>(start);
    const uintptr_t first = outward ? from & ~(page - 1) : (from + page - 1) & ~(page - 1);
    const uintptr_t end = outward ? from + length : (from + length) & ~(page - 1);
    if (!start || end <= first || !FindView(start, length)) return {nullptr, 0};
    return {reinterpret_cast<void*>(first), end - first};
}

// Copies bytes of a mapped file into `target` at its position, in the
// kernel; the count copied, which is less than asked when the kernel cannot
// copy between these files (then the caller writes the rest), or -1 with
// errno on a failure of the target (a full disk).
ssize_t CopyFromView(int target, const void* buffer, size_t count) {
    int source = -1;
    uint64_t offset = 0;
    if (count < 65536 || !FindView(buffer, count, &source, &offset)) return 0;
    size_t done = 0;
    auto from = static_cast<off64_t>(offset);
    while (done < count) {
        const ssize_t n = ::copy_file_range(source, &from, target, nullptr, count - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO)) return -1;
        break;  // EXDEV, EINVAL, ENOSYS...: written from memory instead
    }
    return static_cast<ssize_t>(done);
}

// An open-file-description lock: held by this handle, not by the process,
// so two handles of one process exclude each other as on Windows.
bool RangeLock(int fd, short type, uint64_t offset, uint64_t length) {
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Share modes as Windows has them, across handles and processes. Every
// handle marks what it does (reads, writes) and what it refuses to others
// (reading, writing) with open-file-description locks: one mark per kind, in
// a range of its own far beyond any real data, each handle on a byte of that
// range that no other handle uses. A new handle is refused while another
// handle refuses what it wants to do, or does what it wants to refuse.
enum ShareMark { kReads, kWrites, kRefusesRead, kRefusesWrite, kShareMarks };
constexpr uint64_t kMarksStart = uint64_t{1} << 61;
constexpr uint64_t kMarkRange = uint64_t{1} << 46;

// A byte of each mark's range that is this handle's alone: the process and
// a counter of its handles.
uint64_t NewShareSlot() {
    static std::atomic<uint64_t> counter{0};
    return ((static_cast<uint64_t>(::getpid()) << 24) | (counter++ & 0xFFFFFF)) % kMarkRange;
}

bool MarkHeldByOthers(int fd, ShareMark mark) {
    struct flock probe{};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = static_cast<off_t>(kMarksStart + mark * kMarkRange);
    probe.l_len = static_cast<off_t>(kMarkRange);
    return fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

// Marks the handle, then looks for a conflict; both of two handles opened
// at the same moment may then be refused, never both admitted.
bool TakeShareLock(int fd, DWORD access, DWORD share) {
    const bool reads = (access & GENERIC_READ) || !(access & GENERIC_WRITE);
    const bool writes = (access & GENERIC_WRITE) != 0;
    const bool held[kShareMarks] = {reads, writes, !(share & FILE_SHARE_READ), !(share & FILE_SHARE_WRITE)};
    // A lock must match the descriptor's access: a read lock where it can
    // read, else a write lock (the byte is this handle's alone either way).
    const short type = reads ? F_RDLCK : F_WRLCK;
    const uint64_t slot = NewShareSlot();
    for (int mark = 0; mark < kShareMarks; ++mark)
        if (held[mark] && !RangeLock(fd, type, kMarksStart + mark * kMarkRange + slot, 1)) return false;
    const ShareMark conflicts[kShareMarks] = {kRefusesRead, kRefusesWrite, kReads, kWrites};
    for (int mark = 0; mark < kShareMarks; ++mark)
        if (held[mark] && MarkHeldByOthers(fd, conflicts[mark])) return false;
    return true;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void*, DWORD disposition, DWORD flags, HANDLE) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string streamFile, attribute;
    if (SplitStreamPath(path, &streamFile, &attribute)) return OpenStream(streamFile, attribute, disposition);
    int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: mode |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: mode |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: mode |= O_CREAT; break;
    case TRUNCATE_EXISTING: mode |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
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
            struct stat st{};
            if (slash != std::string::npos && slash > 0 && ::stat(dir.substr(0, slash).c_str(), &st) != 0)
                error = ERROR_PATH_NOT_FOUND;
        }
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // A folder, FIFO, socket or device is not a file to read or write: it is
    // refused as Windows refuses a folder.
    struct stat st{};
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
        const size_t n = std::min<size_t>(toRead, stream->data.size() - std::min(stream->position, stream->data.size()));
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
    struct stat st{};
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
        const int64_t base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? static_cast<int64_t>(stream->position)
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

namespace {
// Locks or unlocks a byte range of a file handle; an empty range does nothing.
BOOL ChangeRangeLock(HANDLE file, short type, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    if (ObjectOf(file, KernelObject::Kind::Stream)) return TRUE;  // a stream is written in one call
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    const uint64_t length = (static_cast<uint64_t>(lengthHigh) << 32) | lengthLow;
    if (length == 0) return TRUE;
    if (RangeLock(object->fd, type, offset, length)) return TRUE;
    SetLastError(type == F_UNLCK ? Win32ErrorFromErrno(errno) : ERROR_LOCK_VIOLATION);
    return FALSE;
}
}  // namespace

BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    return ChangeRangeLock(file, F_WRLCK, offsetLow, offsetHigh, lengthLow, lengthHigh);
}

BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    return ChangeRangeLock(file, F_UNLCK, offsetLow, offsetHigh, lengthLow, lengthHigh);
}

HANDLE CreateFileMappingA(HANDLE file, void*, DWORD protect, DWORD maxHigh, DWORD maxLow, LPCSTR) {
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object || protect != PAGE_READONLY) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    struct stat st{};
    if (::fstat(object->fd, &st) != 0) {
        Fail(errno);
        return nullptr;
    }
    size_t size = (static_cast<uint64_t>(maxHigh) << 32) | maxLow;
    if (size == 0) size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        SetLastError(1006);  // ERROR_FILE_INVALID: an empty file cannot be mapped
        return nullptr;
    }
    const int fd = ::fcntl(object->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        Fail(errno);
        return nullptr;
    }
    auto* mapping = new (std::nothrow) KernelObject(KernelObject::Kind::Mapping, fd);
    if (!mapping) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    mapping->size = size;
    return mapping;
}

void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes) {
    KernelObject* object = ObjectOf(mapping, KernelObject::Kind::Mapping);
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (!object || access != FILE_MAP_READ || offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0 ||
        offset >= object->size) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const size_t length = bytes ? bytes : object->size - offset;
    const int fd = ::fcntl(object->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        Fail(errno);
        return nullptr;
    }
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, object->fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        const int error = errno;
        ::close(fd);
        Fail(error);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(gViewsMutex);
    Views()[view] = View{length, fd, offset};
    return view;
}

BOOL UnmapViewOfFile(const void* view) {
    size_t length = 0;
    {
        std::lock_guard<std::mutex> guard(gViewsMutex);
        auto it = Views().find(view);
        if (it == Views().end()) {
            SetLastError(487);  // ERROR_INVALID_ADDRESS
            return FALSE;
        }
        length = it->second.length;
        ::close(it->second.fd);
        Views().erase(it);
    }
    return ::munmap(const_cast<void*>(view), length) == 0 ? TRUE : Fail(errno);
}

BOOL DeleteFileA(LPCSTR path) { return path && ::unlink(path) == 0 ? TRUE : Fail(path ? errno : ENOENT); }

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    if (!buffer || size <= path.size()) return static_cast<DWORD>(path.size() + 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameA(LPCSTR dir, LPCSTR prefix, UINT, LPSTR out) {
    if (!dir || !out) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '/') pattern += '/';
    pattern += std::string(prefix ? prefix : "").substr(0, 3) + "XXXXXX.tmp";
    if (pattern.size() >= 260) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const int fd = ::mkstemps(pattern.data(), 4);
    if (fd < 0) {
        Fail(errno);
        return 0;
    }
    ::close(fd);
    std::memcpy(out, pattern.c_str(), pattern.size() + 1);
    return 1;
}

namespace platform::files {
void ReleaseViewPages(const void* start, size_t length) {
    // Shared file pages: dropping them from the view loses nothing.
    const auto [pages, size] = ViewPages(start, length, false);
    if (size) ::madvise(pages, size, MADV_DONTNEED);
}

void PrepareViewPages(const void* start, size_t length) {
#ifdef MADV_POPULATE_READ
    // Kernels before 5.14 refuse the advice: the pages then come by faults.
    const auto [pages, size] = ViewPages(start, length, true);
    if (size) ::madvise(pages, size, MADV_POPULATE_READ);
#endif
}

int DescriptorOf(HANDLE file) {
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    return object ? object->fd : -1;
}
}  // namespace platform::files

BOOL GetVolumeInformationA(LPCSTR root, LPSTR, DWORD, DWORD* serial, DWORD* maxComponent, DWORD* flags,
                           LPSTR fileSystemName, DWORD fileSystemNameSize) {
    struct statfs info{};
    if (!root || ::statfs(root, &info) != 0) return Fail(root ? errno : ENOENT);
    std::string name;
    // A file system that keeps user attributes keeps named streams: it answers as NTFS does.
    const ssize_t probe = ::getxattr(root, "user.DosStream.probe:$DATA", nullptr, 0);
    if (probe >= 0 || errno == ENODATA || errno == ERANGE) {
        name = "NTFS";
    } else {
        switch (static_cast<unsigned long>(info.f_type)) {
        case 0x4d44: name = "vfat"; break;
        case 0x01021994: name = "tmpfs"; break;
        case 0xEF53: name = "ext4"; break;
        case 0x58465342: name = "xfs"; break;
        case 0x9123683E: name = "btrfs"; break;
        case 0x794c7630: name = "overlay"; break;
        case 0x6969: name = "nfs"; break;
        default: name = "unknown"; break;
        }
    }
    if (serial) *serial = static_cast<DWORD>(info.f_fsid.__val[0]);
    if (maxComponent) *maxComponent = static_cast<DWORD>(info.f_namelen);
    if (flags) *flags = 0;
    if (fileSystemName) {
        if (fileSystemNameSize <= name.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(fileSystemName, name.c_str(), name.size() + 1);
    }
    return TRUE;
}

namespace platform::files {
std::string MountPointOf(const std::string& path) {
    // A relative path is relative to the process's current folder; from an
    // absolute path every step up removes one "/" part, so the walk ends.
    std::string current = path;
    if (current.empty() || current[0] != '/') {
        char folder[PATH_MAX];
        current = std::string(::getcwd(folder, sizeof folder) ? folder : "/") + "/" + current;
    }
    struct stat st{};
    // The nearest existing folder, then up while the device stays the same.
    while (!current.empty() && ::stat(current.c_str(), &st) != 0) current = current.substr(0, current.find_last_of('/'));
    if (current.empty()) current = "/";
    const dev_t device = st.st_dev;
    while (current != "/") {
        const size_t slash = current.find_last_of('/');
        const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
        struct stat up{};
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != device) break;
        current = parent;
    }
    return current;
}
}  // namespace platform::files
