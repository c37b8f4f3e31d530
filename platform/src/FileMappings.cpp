// File mappings (CreateFileMapping, MapViewOfFile = mmap) and what the
// platform does with their views: giving pages back, reading them ahead,
// copying from them in the kernel.
#include "FileMappings.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "FileErrors.h"
#include "KernelObject.h"
#include "platform/Files.h"

namespace platform::files {
namespace {

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

}  // namespace

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

}  // namespace platform::files

using namespace platform::files;

HANDLE CreateFileMappingA(HANDLE file, void*, DWORD protect, DWORD maxHigh, DWORD maxLow, LPCSTR) {
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object || protect != PAGE_READONLY) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    struct stat st {};
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
