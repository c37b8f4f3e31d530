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

void SavedFileDigests::work() {
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mReady.wait(lock, [this] { return mNext < mFiles.size() || mClosed; });
        if (mNext == mFiles.size()) return;
        const size_t number = mNext++;
        const fs::path file = mFiles[number];
        lock.unlock();
        // The disk starts writing the file while its digest is made from the
        // page cache; the sync then waits only for what is left. The folder's
        // keep() syncs it again, which costs nothing once it is written.
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        Digest value;
        if (!Sha256HexOfFile(file.c_str(), &value.sha256, &value.length)) value = {0, Sha256Hex(nullptr, 0)};
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
        lock.lock();
        mResults[number] = std::move(value);
    }
}
