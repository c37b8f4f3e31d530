#include "classes/StagedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "classes/FileSystemErrors.h"
#include "classes/FileSystemPaths.h"

namespace classes {

namespace {

std::string RandomSuffix() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

// The fallback's names start with a dot: hidden from listings of pages
// that skip hidden files, and never matched as the page's own names.
std::string HiddenBeside(const std::string& finalPath) {
    return Join(ParentOf(finalPath), "." + NameOf(finalPath) + "." + RandomSuffix());
}

}  // namespace

StagedFile::StagedFile(std::string finalPath, mode_t mode) : mFinalPath(std::move(finalPath)) {
    mFd = ::open(ParentOf(mFinalPath).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (mFd >= 0) return;
    const int error = errno;
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) ThrowErrno(error, kPathNotFound);
    mFd = openNamed(mode);
    if (mFd < 0) ThrowErrno(errno, kPathNotFound);
}

int StagedFile::openNamed(mode_t mode) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        mNamedPath = HiddenBeside(mFinalPath);
        const int fd = ::open(mNamedPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

StagedFile::~StagedFile() { discard(); }

void StagedFile::discard() {
    if (mFd >= 0) ::close(mFd);
    mFd = -1;
    if (!mNamedPath.empty()) ::unlink(mNamedPath.c_str());
    mNamedPath.clear();
}

void StagedFile::write(const void* bytes, size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = ::write(mFd, next, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) ThrowErrno(errno, kPathNotFound);
        next += written;
        size -= static_cast<size_t>(written);
    }
}

void StagedFile::commit(bool replace) {
    // The name it gets first: the final name itself when nothing may be
    // replaced (a link never replaces), else a hidden one renamed over it.
    std::string linked = mNamedPath;
    if (linked.empty()) {
        linked = replace ? HiddenBeside(mFinalPath) : mFinalPath;
        const std::string self = "/proc/thread-self/fd/" + std::to_string(mFd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, linked.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            const int error = errno;
            discard();
            ThrowErrno(error, kPathNotFound);
        }
        if (!replace) {
            discard();
            return;
        }
    } else if (!replace) {
        const int linkedOk = ::link(linked.c_str(), mFinalPath.c_str());
        const int error = errno;
        discard();
        if (linkedOk != 0) ThrowErrno(error, kPathNotFound);
        return;
    }
    const int renamed = ::rename(linked.c_str(), mFinalPath.c_str());
    const int error = errno;
    if (renamed != 0) ::unlink(linked.c_str());
    if (linked == mNamedPath) mNamedPath.clear();
    discard();
    if (renamed != 0) ThrowErrno(error, kPathNotFound);
}

}  // namespace classes
