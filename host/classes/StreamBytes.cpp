#include "classes/StreamBytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/Files.h"

namespace classes {

namespace {

// An unnamed file in the system's temporary folder; -1 with errno set when
// none can be made. O_TMPFILE never gives the file a name; where the file
// system cannot do that, the name is removed as soon as the file is open.
int OpenScratchFile() {
    char folder[4096];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) {
        errno = ENOENT;
        return -1;
    }
    int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = std::string(folder) + "stmXXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) unlink(pattern.c_str());
    return fd;
}

// Cuts a file back after a failed write; a failure to cut leaves bytes
// past the size, which are never read.
void CutFile(int fd, size_t size) {
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) return;
}

}  // namespace

StreamBytes::~StreamBytes() { clear(); }

StreamBytes::StreamBytes(StreamBytes&& other) noexcept
    : mMemory(std::move(other.mMemory)), mFile(std::exchange(other.mFile, -1)), mSize(std::exchange(other.mSize, 0)) {}

StreamBytes& StreamBytes::operator=(StreamBytes&& other) noexcept {
    if (this != &other) {
        clear();
        mMemory = std::move(other.mMemory);
        mFile = std::exchange(other.mFile, -1);
        mSize = std::exchange(other.mSize, 0);
    }
    return *this;
}

void StreamBytes::clear() {
    if (mFile >= 0) close(mFile);
    mFile = -1;
    std::vector<unsigned char>().swap(mMemory);
    mSize = 0;
}

int StreamBytes::read(size_t offset, void* destination, size_t length) const {
    if (offset > mSize || length > mSize - offset) return EINVAL;
    if (mFile < 0) {
        if (length) std::memcpy(destination, mMemory.data() + offset, length);
        return 0;
    }
    auto* out = static_cast<char*>(destination);
    while (length > 0) {
        const ssize_t got = pread(mFile, out, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? errno : EIO;
        out += got;
        offset += static_cast<size_t>(got);
        length -= static_cast<size_t>(got);
    }
    return 0;
}

int StreamBytes::write(size_t offset, const void* source, size_t length) {
    if (offset > kMaxBytes || length > kMaxBytes - offset) return EFBIG;
    const size_t end = offset + length;
    if (mFile < 0 && end > kMemoryBytes) {
        if (const int failure = moveToFile()) return failure;
    }
    if (mFile >= 0) return writeFile(offset, source, length);
    if (end > mMemory.size()) mMemory.resize(end);  // doubles the capacity as it grows
    if (length) std::memcpy(mMemory.data() + offset, source, length);
    mSize = std::max(mSize, end);
    return 0;
}

int StreamBytes::resize(size_t size) {
    if (size > kMaxBytes) return EFBIG;
    if (mFile < 0 && size > kMemoryBytes) {
        if (const int failure = moveToFile()) return failure;
    }
    if (mFile >= 0) {
        // A file grows without writing its zeros: they take no room until written.
        if (ftruncate(mFile, static_cast<off_t>(size)) != 0) return errno;
    } else {
        mMemory.resize(size);
    }
    mSize = size;
    return 0;
}

// Gives the bytes held in memory to a new scratch file.
int StreamBytes::moveToFile() {
    const int fd = OpenScratchFile();
    if (fd < 0) return errno;
    mFile = fd;
    const int failure = mSize ? writeFile(0, mMemory.data(), mSize) : 0;
    if (failure != 0) {
        close(fd);
        mFile = -1;  // the bytes stay in memory, as they were
        return failure;
    }
    std::vector<unsigned char>().swap(mMemory);
    return 0;
}

int StreamBytes::writeFile(size_t offset, const void* source, size_t length) {
    const auto* in = static_cast<const char*>(source);
    size_t at = offset, left = length;
    while (left > 0) {
        const ssize_t done = pwrite(mFile, in, left, static_cast<off_t>(at));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            const int error = done < 0 ? errno : ENOSPC;
            // What the failed write added past the old end goes again.
            if (at > mSize) CutFile(mFile, mSize);
            return error;
        }
        in += done;
        at += static_cast<size_t>(done);
        left -= static_cast<size_t>(done);
    }
    mSize = std::max(mSize, offset + length);
    return 0;
}

}  // namespace classes
