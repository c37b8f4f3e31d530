#include "site/SavedFileDigests.h"

#include <fcntl.h>
#include <unistd.h>

#include "client/Sha256.h"

namespace fs = std::filesystem;

void SavedFileDigests::add(const fs::path& saved) {
    std::lock_guard<std::mutex> lock(mLock);
    mFiles.push_back(saved);
    mResults.emplace_back();
    if (!mHelper.joinable()) mHelper = std::thread([this] { work(); });
    mReady.notify_one();
}

std::vector<SavedFileDigests::Digest> SavedFileDigests::finish() {
    {
        std::lock_guard<std::mutex> lock(mLock);
        mClosed = true;
    }
    mReady.notify_all();
    work();
    if (mHelper.joinable()) mHelper.join();
    return mResults;
}

// Digests come first, while files arrive; a file is synced once no other
// waits for its digest. The disk has been writing each file since its
// digest began, so a sync made later waits for less, and one disk's files
// are written together rather than one flush after another.
void SavedFileDigests::work() {
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mReady.wait(lock, [this] { return mNext < mFiles.size() || mNextSync < mNext || mClosed; });
        const bool digesting = mNext < mFiles.size();
        if (!digesting && mNextSync == mNext) return;
        const size_t number = digesting ? mNext++ : mNextSync++;
        lock.unlock();
        digesting ? digest(number) : sync(number);
        lock.lock();
    }
}

void SavedFileDigests::digest(size_t number) {
    std::unique_lock<std::mutex> lock(mLock);
    const fs::path file = mFiles[number];
    lock.unlock();
    // The disk starts writing the file while its digest is made from the
    // page cache.
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        close(fd);
    }
    Digest value;
    if (!Sha256HexOfFile(file.c_str(), &value.sha256, &value.length)) value = {0, Sha256Hex(nullptr, 0)};
    lock.lock();
    value.sync = mResults[number].sync;
    mResults[number] = std::move(value);
}

void SavedFileDigests::sync(size_t number) {
    std::unique_lock<std::mutex> lock(mLock);
    const fs::path file = mFiles[number];
    lock.unlock();
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    lock.lock();
    mResults[number].sync = synced ? Digest::Sync::OnDisk : Digest::Sync::Failed;
}
