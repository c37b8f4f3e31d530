#include "classes/StreamFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "core/HttpText.h"

namespace classes {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunkBytes = 1u << 20;

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t done = write(fd, data, length);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

bool CopyBytesTo(const StreamBytes& bytes, int fd) {
    std::vector<char> chunk(std::min(kChunkBytes, bytes.size()));
    for (size_t at = 0; at < bytes.size(); at += chunk.size()) {
        const size_t length = std::min(chunk.size(), bytes.size() - at);
        if (bytes.read(at, chunk.data(), length) != 0 || !WriteAll(fd, chunk.data(), length)) return false;
    }
    return true;
}

// Gives the temporary file its final name; without `overwrite`, only when
// the name is free, decided by the file system in the same step.
FileOutcome PutInPlace(const fs::path& temporary, const fs::path& target, bool overwrite) {
    if (overwrite) return rename(temporary.c_str(), target.c_str()) == 0 ? FileOutcome::Done : FileOutcome::WriteFailed;
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return FileOutcome::Done;
    if (errno == EEXIST) return FileOutcome::AlreadyExists;
    if (errno != EINVAL && errno != ENOSYS) return FileOutcome::WriteFailed;
    // A file system that cannot rename without replacing: a link fails as well on an existing name.
    if (link(temporary.c_str(), target.c_str()) != 0)
        return errno == EEXIST ? FileOutcome::AlreadyExists : FileOutcome::WriteFailed;
    unlink(temporary.c_str());
    return FileOutcome::Done;
}

void SyncFolder(const fs::path& folder) {
    Descriptor directory{open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd >= 0) fsync(directory.fd);
}

}  // namespace

FileOutcome LoadFile(const std::string& path, StreamBytes* bytes, int* storeError) {
    // Not blocking: a FIFO is refused below instead of waiting for a writer.
    Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    struct stat status {};
    if (file.fd < 0 || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) return FileOutcome::NotOpened;
    if (static_cast<unsigned long long>(status.st_size) > StreamBytes::kMaxBytes) return FileOutcome::TooLarge;
    StreamBytes loaded;
    std::vector<char> chunk(kChunkBytes);
    for (;;) {
        const ssize_t got = read(file.fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return FileOutcome::ReadFailed;
        if (got == 0) break;
        if (const int failure = loaded.write(loaded.size(), chunk.data(), static_cast<size_t>(got))) {
            *storeError = failure;
            return failure == EFBIG ? FileOutcome::TooLarge : FileOutcome::StoreFailed;
        }
    }
    *bytes = std::move(loaded);
    return FileOutcome::Done;
}

FileOutcome SaveFile(const StreamBytes& bytes, const std::string& path, bool overwrite) {
    const fs::path target(path);
    if (target.filename().empty()) return FileOutcome::WriteFailed;
    std::error_code error;
    if (!overwrite && fs::exists(fs::symlink_status(target, error))) return FileOutcome::AlreadyExists;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    uint64_t random = 0;
    RandomBytes(&random, sizeof random);
    const fs::path temporary = folder / (".stream-" + HexText(&random, sizeof random) + ".tmp");
    FileOutcome outcome = FileOutcome::WriteFailed;
    {
        Descriptor file{open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666)};
        if (file.fd < 0) return FileOutcome::WriteFailed;
        const bool written = CopyBytesTo(bytes, file.fd) && fsync(file.fd) == 0;
        const bool closed = close(std::exchange(file.fd, -1)) == 0;
        if (written && closed) outcome = PutInPlace(temporary, target, overwrite);
    }
    if (outcome != FileOutcome::Done) {
        unlink(temporary.c_str());
        return outcome;
    }
    SyncFolder(folder);
    return FileOutcome::Done;
}

}  // namespace classes
